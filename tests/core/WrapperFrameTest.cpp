// Calls of direct wrappers ("output dll.zavta.NAME" around a routine that
// keeps no argument cell) reuse the frame of the wrapper's previous call:
// the answers stay those of fresh frames, in every case where the frame
// could still be seen the call makes a new one, and a reset lets go of what
// was kept.

#include <gtest/gtest.h>

#include <string>

#include "core/Exports.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

class WrapperFrames : public ::testing::Test {
protected:
  WrapperFrames() {
    Run(u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\n"
        u"to firstof :thing\noutput dll.zavta.LOGOFIRST\nend");
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  std::string LastLine() const { return T.Host.Lines.empty() ? "" : U8(T.Host.Lines.back().Text); }
  // New atoms made by running text.
  int64_t AtomsMadeBy(std::u16string_view text) {
    const int64_t before = S.CreatedCount() - S.FreeCount;
    EXPECT_EQ(Run(text), 0) << U8(std::u16string(text));
    return S.CreatedCount() - S.FreeCount - before;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(WrapperFrames, RepeatedCallsMakeOnlyTheirResults) {
  ASSERT_EQ(Run(u"make \"x add 1 2"), 0);  // compiles the wrapper, keeps its frame
  // A hundred calls: a hundred results, the counter's numbers and the parsed
  // text; new frames would add three atoms a call.
  const int64_t made = AtomsMadeBy(u"repeat 100 [make \"x add :x repeat]");
  EXPECT_LE(made, 250);
  ASSERT_EQ(Run(u"print :x"), 0);
  EXPECT_EQ(LastLine(), "5053");  // 3 + 1 + 2 + ... + 100
}

TEST_F(WrapperFrames, CallsThatCouldStillSeeTheirFrameGetNewOnes) {
  ASSERT_EQ(Run(u"print add 1 2"), 0);
  // An object input binds as a variable: a fresh frame, the right answer.
  ASSERT_EQ(Run(u"to maxof :object\noutput dll.zavta.LOGOSETMAX\nend\nprint maxof 1"), 0);
  ASSERT_EQ(Run(u"make \"'obj.#2' 5\nprint maxof :obj"), 0);
  EXPECT_EQ(LastLine(), "2");
  ASSERT_EQ(Run(u"make \"'obj.#7' 5\nprint maxof :obj"), 0);
  EXPECT_EQ(LastLine(), "7");
  ASSERT_EQ(Run(u"print firstof [p q]"), 0);
  EXPECT_EQ(LastLine(), "p");
  // An error inside the wrapper leaves its frame to the error report.
  EXPECT_EQ(Run(u"print firstof []"), 2);
  ASSERT_EQ(Run(u"print firstof [r s]"), 0);
  EXPECT_EQ(LastLine(), "r");
  // A redefined wrapper runs its new body.
  ASSERT_EQ(Run(u"to add :a :b\noutput dll.zavta.LOGOMUL\nend\nprint add 3 4"), 0);
  EXPECT_EQ(LastLine(), "12");
  ASSERT_EQ(Run(u"print add 5 6"), 0);
  EXPECT_EQ(LastLine(), "30");
}

TEST_F(WrapperFrames, OnlyBodiesOfOneRoutineThatKeepsNoCellsQualify) {
  // A routine registered without the promise keeps every call's frame new.
  I.Exports.Register(exLOGONOT, I.Exports.Routine(exLOGONOT), false);
  ASSERT_EQ(Run(u"to flip :x\noutput dll.zavta.LOGONOT\nend\nprint flip \"true"), 0);
  EXPECT_GE(AtomsMadeBy(u"repeat 10 [make \"y flip \"true]"), 30);
  // Neither does a body that does more than output the routine's answer.
  ASSERT_EQ(Run(u"to add2 :a :b\nmake \"seen :a\noutput dll.zavta.LOGOSUM\nend\nprint add2 1 1"), 0);
  EXPECT_GE(AtomsMadeBy(u"repeat 10 [make \"y add2 1 1]"), 30);
  EXPECT_TRUE(I.SpareCallFrames.count(S.FindName(u"add2")) == 0);
}

TEST_F(WrapperFrames, AResetLetsGoOfTheKeptFrames) {
  ASSERT_EQ(Run(u"print add 1 2"), 0);
  ASSERT_EQ(I.SpareCallFrames.size(), 1u);
  TAtom* kept = I.SpareCallFrames.begin()->second.Frame;
  EXPECT_EQ(kept->RefCount, 1);
  EXPECT_EQ(kept->Parent, nullptr);  // out of the tree between calls
  ResetInterpreter(I);
  EXPECT_TRUE(I.SpareCallFrames.empty());
  EXPECT_EQ(kept->RefCount, 0);
}

}  // namespace
