// The code-list disassembler used by the compiler's and the interpreter's
// tests: operand counts per opcode and the detection of malformed lists.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Expr.h"
#include "tests/core/support/CodeListing.h"
#include "tests/support/TestState.h"

namespace {

class CodeListingTest : public ::testing::Test {
protected:
  int32_t Id(TAtom* atom) { return static_cast<int32_t>(AtomId(atom)); }

  TestState T;
  TStructure& S = *T.S;
};

TEST_F(CodeListingTest, DecodesEveryOpcodeWithItsOperands) {
  TAtom* word = NewWord(S, u"w");
  TAtom* name = NewWord(S, u"a");
  TAtom* second = NewListCell(S, NewNumber(S, 5), nullptr);
  TAtom* first = NewListCell(S, NewWord(S, u"make"), second);
  const std::vector<int32_t> code = {ocSpan,
                                     1,
                                     9,
                                     ocStatement,
                                     ocPush,
                                     Id(word),
                                     ocPush,
                                     0,
                                     ocCall,
                                     Id(word),
                                     MakeArity(1, 1),
                                     0,
                                     Id(name),
                                     1,
                                     Id(name),
                                     ocQuote,
                                     ocValueOf,
                                     ocPeriod,
                                     ocPrint,
                                     MakeArity(0, 3),
                                     ocMake,
                                     MakeArity(0, 2),
                                     Id(first),
                                     Id(second),
                                     1,
                                     ocOb,
                                     MakeArity(0, 4),
                                     Id(first),
                                     0,
                                     0,
                                     ocRun,
                                     ocOutput,
                                     ocIfElse,
                                     ocWhile,
                                     12,
                                     ocRepeat,
                                     ocLocal,
                                     MakeArity(0, 1),
                                     ocNative,
                                     3,
                                     ocWhileCounter,
                                     ocRepeatCounter,
                                     ocStop,
                                     ocIf,
                                     ocDump,
                                     0,
                                     ocPrimitive,
                                     7,
                                     25,
                                     ocPop,
                                     ocEnd,
                                     Id(second)};
  const TCodeListing listing = DecodeCode(S, code);
  EXPECT_FALSE(listing.Malformed);
  EXPECT_TRUE(listing.EndsWithEnd);
  EXPECT_EQ(listing.Text(),
            "span 1 9\nstatement\npush w\npush []\ncall w 1/1 0:a 1:a\nquote\nvalueof\nperiod\nprint 0/3\n"
            "make 0/2 @make @5 1\nob 0/4 @make @nil 0\nrun\noutput\nifelse\nwhile 12\nrepeat\nlocal 0/1\n"
            "native 3\nwhilecounter\nrepeatcounter\nstop\nif\ndump 0/0\nprimitive 7\nnop 25\npop\nend @5");
}

TEST_F(CodeListingTest, PrefixesIndicesOnRequest) {
  const std::vector<int32_t> code = {ocSpan, -1, -1, ocPush, 0, ocPop, ocEnd, 0};
  EXPECT_EQ(DecodeCode(S, code, true).Text(), "0: span -1 -1\n3: push []\n5: pop\n6: end @nil");
}

TEST_F(CodeListingTest, ReportsMalformedLists) {
  TAtom* word = NewWord(S, u"w");
  struct Case {
    const char* Name;
    std::vector<int32_t> Code;
    const char* Last;
  };
  const std::vector<Case> cases = {
      {"push without its atom", {ocPush}, "malformed: cut short at 1"},
      {"span with one offset", {ocSpan, 1}, "malformed: cut short at 2"},
      {"call short of its pairs", {ocCall, Id(word), MakeArity(0, 2), 0, Id(word)}, "malformed: cut short at 5"},
      {"make without its flag", {ocMake, 0, 0, 0}, "malformed: cut short at 4"},
      {"words after end", {ocEnd, 0, ocPop}, "malformed: words past end at 2"},
      {"opcode out of range", {ocPop, 99}, "malformed: bad opcode 99 at 1"},
      {"negative opcode", {-3}, "malformed: bad opcode -3 at 0"},
      {"identity of no atom", {ocPush, 999999}, "malformed: no atom 999999 at 1"},
      {"cell operand that is no cell", {ocEnd, Id(word)}, "malformed: no cell"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const TCodeListing listing = DecodeCode(S, c.Code);
    EXPECT_TRUE(listing.Malformed);
    EXPECT_FALSE(listing.EndsWithEnd);
    ASSERT_FALSE(listing.Lines.empty());
    EXPECT_EQ(listing.Lines.back().rfind(c.Last, 0), 0u) << listing.Lines.back();
  }
}

TEST_F(CodeListingTest, ListWithoutEndIsWellFormedButOpen) {
  const TCodeListing listing = DecodeCode(S, {ocPush, 0, ocPop});
  EXPECT_FALSE(listing.Malformed);
  EXPECT_FALSE(listing.EndsWithEnd);
  EXPECT_EQ(CodeListing(S, NewWord(S, u"x")), "");
}

}  // namespace
