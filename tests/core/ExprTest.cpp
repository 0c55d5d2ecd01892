// The expression compiler through golden code listings: token classes,
// priorities and associativity, the special forms, procedure calls with
// their parameter pairs, accessors, external-call tokens, parenthesised
// expressions, and what a failed compile leaves behind.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/core/support/CodeListing.h"
#include "tests/support/TestState.h"

namespace {

class ExprFixture : public ::testing::Test {
protected:
  TAtom* Parse(std::u16string_view text) {
    const TParseResult r = ParseText(I.Scanner(), text, u"test");
    EXPECT_TRUE(r.Ok) << U8(std::u16string(text));
    return r.List;
  }

  // Compiles the statement at cell; the code pointer ends on the next one.
  void CompileAt(TAtom* cell) {
    I.CodePointer = cell;
    EXPECT_EQ(CompileCurrentRun(I), CompileResult::Compiled);
  }

  // The listing of the first statement of text, span lines left out.
  std::string Ops(std::u16string_view text) {
    TAtom* list = Parse(text);
    CompileAt(list);
    return WithoutSpans(CodeListing(S, list));
  }

  static std::string WithoutSpans(const std::string& listing) {
    std::string out;
    size_t at = 0;
    while (at <= listing.size()) {
      size_t end = listing.find('\n', at);
      if (end == std::string::npos) end = listing.size();
      const std::string line = listing.substr(at, end - at);
      if (line.rfind("span ", 0) != 0) out += (out.empty() ? "" : "\n") + line;
      at = end + 1;
    }
    return out;
  }

  // The error key of compiling the first statement of text ("" when it
  // compiles); the statement's code list must be empty afterwards.
  std::string ErrorOf(std::u16string_view text) { return ErrorAt(Parse(text)); }

  std::string ErrorAt(TAtom* list) {
    I.CodePointer = list;
    try {
      CompileCurrentRun(I);
    } catch (const LanguageError&) {
      EXPECT_EQ(TAtom::CodeCount(*list), 0);
      EXPECT_EQ(I.CodePointer, list);
      return U8(S.CurrentPosition.Topic);
    }
    return "";
  }

  // A root procedure (or any variable) whose value is the parsed text.
  TAtom* Define(std::u16string_view path, std::u16string_view valueText) {
    return S.CreateVariable(S.Root, path, false, valueText.empty() ? nullptr : Parse(valueText));
  }
  TAtom* DefineValue(std::u16string_view path, TAtom* value) { return S.CreateVariable(S.Root, path, false, value); }
  void Child(TAtom* procedure, int keyword, TAtom* value) {
    S.CreateVariable(procedure, S.Keyword(keyword), true, value);
  }
  TAtom* Number(long double x) { return NewNumber(S, x); }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

// --- the statement shape --------------------------------------------------------

class CompileStatements : public ExprFixture {};

TEST_F(CompileStatements, MakeExampleWordForWord) {
  TAtom* list = Parse(u"make \"x 5");
  CompileAt(list);
  TAtom* quote = list->Right;
  TAtom* x = quote->Right;
  TAtom* five = x->Right;
  const auto id = [](const TAtom* a) { return static_cast<int32_t>(AtomId(a)); };
  const std::vector<int32_t> expected = {ocSpan,   1,        5,  ocStatement,  // hook for the root "make"
                                         ocSpan,   9,        10, ocPush,      id(five->Left),  // 5
                                         ocSpan,   7,        8,  ocPush,      id(x->Left),     // x
                                         ocSpan,   6,        8,  ocQuote,                      // "x
                                         ocSpan,   1,        10, ocMake,      MakeArity(0, 2),
                                         id(list), id(five), 0,  // make
                                         ocPop,    ocEnd,    0};
  ASSERT_TRUE(list->Code());
  EXPECT_EQ(*list->Code(), expected);
  EXPECT_EQ(I.CodePointer, nullptr);
  EXPECT_EQ(CodeListing(S, list),
            "span 1 5\nstatement\nspan 9 10\npush 5\nspan 7 8\npush x\nspan 6 8\nquote\nspan 1 10\n"
            "make 0/2 @make @5 0\npop\nend @nil");
}

TEST_F(CompileStatements, TwoNumbersAreTwoStatements) {
  TAtom* list = Parse(u"1 2");
  CompileAt(list);
  EXPECT_EQ(CodeListing(S, list),
            "span 1 2\nstatement\nspan 1 2\npush 1\npop\nspan 3 4\nstatement\nspan 3 4\npush 2\npop\nend @nil");
}

TEST_F(CompileStatements, EndOperandSkipsEveryComma) {
  TAtom* list = Parse(u"print 1 , , , print 2");
  CompileAt(list);
  TAtom* second = list;
  while (!(TAtom::IsWord(second->Left) && second->Left->Text == u"print" && second != list)) second = second->Right;
  EXPECT_EQ(I.CodePointer, second);
  EXPECT_EQ(WithoutSpans(CodeListing(S, list)), "statement\npush 1\nprint 0/1\npop\nend @print");
  EXPECT_EQ(list->Code()->back(), static_cast<int32_t>(AtomId(second)));
  CompileAt(second);
  EXPECT_EQ(I.CodePointer, nullptr);
  EXPECT_EQ(WithoutSpans(CodeListing(S, second)), "statement\npush 2\nprint 0/1\npop\nend @nil");
}

TEST_F(CompileStatements, EmptyRunCompilesToItsEnd) {
  TAtom* list = Parse(u", print 1");
  CompileAt(list);
  EXPECT_EQ(CodeListing(S, list), "end @print");
}

TEST_F(CompileStatements, DataAfterQuoteOrColon) {
  Define(u"proc", u"[] output 1");
  const struct {
    const char16_t* Text;
    const char* Listing;
  } cases[] = {
      {u"print \"print", "statement\npush print\nquote\nprint 0/1\npop\nend @nil"},
      {u"print :make", "statement\npush make\nvalueof\nprint 0/1\npop\nend @nil"},
      {u"print \"proc", "statement\npush proc\nquote\nprint 0/1\npop\nend @nil"},
      {u"print :dump", "statement\npush dump\nvalueof\nprint 0/1\npop\nend @nil"},
      // Only the next word: the one after it is a call again.
      {u"print \"x proc", "statement\ncall proc 0/0\npush x\nquote\nprint 0/2\npop\nend @nil"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    EXPECT_EQ(Ops(c.Text), c.Listing);
  }
}

TEST_F(CompileStatements, RunTimeValuesInListsArePushed) {
  TAtom* variable = NewVariable(S, u"v", Number(1));
  TAtom* block = NewMemoryBlock(S, 4, TAtom::FreeMemoryBlock);
  TAtom* list = NewListCell(S, variable, NewListCell(S, SystemValue, NewListCell(S, block, nullptr)));
  CompileAt(list);
  const std::string listing = WithoutSpans(CodeListing(S, list));
  EXPECT_EQ(listing.rfind("statement\npush ", 0), 0u) << listing;
  EXPECT_NE(listing.find("push system value\npop"), std::string::npos) << listing;
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 9) << listing;
  // Without positions every span is -1.
  EXPECT_EQ(CodeListing(S, list).rfind("span -1 -1\n", 0), 0u);
}

TEST_F(CompileStatements, CompiledOnceAndRecompiledFresh) {
  TAtom* list = Parse(u"print 1");
  CompileAt(list);
  const std::vector<int32_t> first = *list->Code();
  // Compiling the same cell again replaces the code rather than adding to it.
  CompileAt(list);
  EXPECT_EQ(*list->Code(), first);
}

// --- priorities and associativity ------------------------------------------------

class CompilePriorities : public ExprFixture {
protected:
  // An infix procedure with one left and one right input.
  TAtom* Infix(std::u16string_view name) { return Define(name, u"[: x] [: y] output 1"); }
};

TEST_F(CompilePriorities, ChainedInfixOperators) {
  const std::string leftGrouped =
      "statement\npush 3\npush 2\npush 1\ncall minus 1/1 0:x 0:y\ncall minus 1/1 0:x 0:y\npop\nend @nil";
  const std::string rightGrouped =
      "statement\npush 3\npush 2\ncall minus 1/1 0:x 0:y\npush 1\ncall minus 1/1 0:x 0:y\npop\nend @nil";
  const struct {
    const char* Name;
    bool Priority;
    int Association;  // -1 no child, 0 false, 1 true
    const std::string& Listing;
  } cases[] = {
      {"onpriority: left-associative", true, -1, leftGrouped},
      {"no onpriority: right-associative", false, -1, rightGrouped},
      {"onleftassociation true", false, 1, leftGrouped},
      {"onpriority with onleftassociation false", true, 0, rightGrouped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TestState fresh;
    TStructure& s = *fresh.S;
    TInterpreter interp(s);
    TAtom* minus =
        s.CreateVariable(s.Root, u"minus", false, ParseText(interp.Scanner(), u"[: x] [: y] output 1", u"t").List);
    if (c.Priority) s.CreateVariable(minus, s.Keyword(kwOnpriority), true, NewNumber(s, 10));
    if (c.Association >= 0)
      s.CreateVariable(minus, s.Keyword(kwOnleftassociation), true, NewWord(s, c.Association ? u"true" : u"false"));
    TAtom* list = ParseText(interp.Scanner(), u"1 minus 2 minus 3", u"t").List;
    interp.CodePointer = list;
    ASSERT_EQ(CompileCurrentRun(interp), CompileResult::Compiled);
    EXPECT_EQ(WithoutSpans(CodeListing(s, list)), c.Listing);
  }
}

TEST_F(CompilePriorities, ExtremeAndNonNumericPriorities) {
  // "1 minus 2 times 3" with minus at priority 10: times binds tighter when
  // its priority is higher, looser when lower.
  const std::string timesInside =
      "statement\npush 3\npush 2\ncall times 1/1 0:x 0:y\npush 1\ncall minus 1/1 0:x 0:y\npop\nend @nil";
  const std::string timesOutside =
      "statement\npush 3\npush 2\npush 1\ncall minus 1/1 0:x 0:y\ncall times 1/1 0:x 0:y\npop\nend @nil";
  const long double inf = std::numeric_limits<long double>::infinity();
  const struct {
    const char* Name;
    long double Priority;
    const std::string& Listing;
  } cases[] = {
      {"1e7", 1e7L, timesInside},
      {"3e9 (past 32 bits)", 3e9L, timesInside},
      {"inf", inf, timesInside},
      {"-1e7", -1e7L, timesOutside},
      {"-inf", -inf, timesOutside},
      {"11.4 rounds to 11", 11.4L, timesInside},
      {"9.6 rounds to 10, left-associative: the earlier minus wins", 9.6L, timesOutside},
      {"NaN is not numeric: 20, right-associative", std::nanl(""), timesInside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TestState fresh;
    TStructure& s = *fresh.S;
    TInterpreter interp(s);
    auto define = [&](std::u16string_view name, long double priority) {
      TAtom* p = s.CreateVariable(s.Root, name, false, ParseText(interp.Scanner(), u"[: x] [: y] 1", u"t").List);
      s.CreateVariable(p, s.Keyword(kwOnpriority), true, NewNumber(s, priority));
    };
    define(u"minus", 10);
    define(u"times", c.Priority);
    TAtom* list = ParseText(interp.Scanner(), u"1 minus 2 times 3", u"t").List;
    interp.CodePointer = list;
    ASSERT_EQ(CompileCurrentRun(interp), CompileResult::Compiled);
    EXPECT_EQ(WithoutSpans(CodeListing(s, list)), c.Listing);
  }
}

TEST_F(CompilePriorities, TokenIndexNeverCrossesIntoTheNextPriority) {
  // Far into a long statement the token index exceeds the gap between two
  // priorities; a right-associative priority 10 must still bind looser than
  // a left-associative 11.
  TAtom* minus = Infix(u"minus");
  Child(minus, kwOnpriority, Number(10));
  Child(minus, kwOnleftassociation, NewWord(S, u"false"));
  Child(Infix(u"times"), kwOnpriority, Number(11));
  std::u16string text;
  for (int i = 0; i < 1500; ++i) text += u"0 ";
  text += u"1 minus 2 times 3";
  TAtom* list = Parse(text);
  CompileAt(list);
  const std::string listing = WithoutSpans(CodeListing(S, list));
  const std::string tail =
      "statement\npush 3\npush 2\ncall times 1/1 0:x 0:y\npush 1\ncall minus 1/1 0:x 0:y\npop\nend @nil";
  ASSERT_GE(listing.size(), tail.size());
  EXPECT_EQ(listing.substr(listing.size() - tail.size()), tail);
}

TEST_F(CompilePriorities, ChainOfPrefixCallsTooDeep) {
  Define(u"neg", u"[: x] output 1");
  // 999 calls and the number: 1,000 levels compile.
  std::u16string text;
  for (int i = 0; i < 999; ++i) text += u"neg ";
  TAtom* list = Parse(text + u"1");
  CompileAt(list);
  EXPECT_EQ(DecodeCode(S, *list->Code()).Lines.size(), 2u * 1000 + 4);
  // 5,000 levels: the error at the deepest token, without exhausting the stack.
  text.clear();
  for (int i = 0; i < 5000; ++i) text += u"neg ";
  text += u"1";
  EXPECT_EQ(ErrorOf(text), "too-deep");
  EXPECT_EQ(S.CurrentPosition.StartPos, 5000 * 4 + 1);
}

TEST_F(CompilePriorities, NestedParenthesesCountTowardsTheDepth) {
  // Built by hand: the parser stops at its own nesting limit first.
  auto nest = [&](int levels) {
    TAtom* inner = NewListCell(S, Number(1), nullptr);
    TAtom* element = Number(1);
    for (int i = 0; i < levels; ++i) {
      element = NewExpressionCell(S, element, nullptr);
      inner = element;
    }
    (void)inner;
    return NewListCell(S, element, nullptr);
  };
  TAtom* fine = nest(900);
  CompileAt(fine);
  EXPECT_EQ(DecodeCode(S, *fine->Code()).Lines.back(), "end @nil");
  EXPECT_EQ(ErrorAt(nest(1200)), "too-deep");
}

// --- the special forms ------------------------------------------------------------

class CompileForms : public ExprFixture {};

TEST_F(CompileForms, MakeAndObHandlerLists) {
  const struct {
    const char16_t* Text;
    const char* Listing;
  } cases[] = {
      {u"make \"x 5", "push 5\npush x\nquote\nmake 0/2 @make @5 0"},
      {u"make [b] \"x 5", "push 5\npush x\nquote\npush [b]\nmake 0/3 @make @5 1"},
      {u"make \"x 5 [a]", "push [a]\npush 5\npush x\nquote\nmake 0/3 @make @[a] 0"},
      {u"make [b] \"x 5 [a]", "push [a]\npush 5\npush x\nquote\npush [b]\nmake 0/4 @make @[a] 1"},
      {u"ob [b] \"o [] [a]", "push [a]\npush []\npush o\nquote\npush [b]\nob 0/4 @ob @[a] 1"},
      {u"ob \"o 1", "push 1\npush o\nquote\nob 0/2 @ob @1 0"},
      // Only one list after the value is a handler list; the next is a statement.
      {u"make \"x 5 [a] [c]", "push [a]\npush 5\npush x\nquote\nmake 0/3 @make @[a] 0\npop\nstatement\npush [c]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    std::string listing = Ops(c.Text);
    listing = listing.substr(std::string("statement\n").size());
    EXPECT_EQ(listing.substr(0, std::string(c.Listing).size()), c.Listing);
  }
}

TEST_F(CompileForms, LoopsAndBareForms) {
  const struct {
    const char16_t* Text;
    const char* Listing;
  } cases[] = {
      {u"while", "statement\nwhilecounter\npop\nend @nil"},
      {u"repeat", "statement\nrepeatcounter\npop\nend @nil"},
      {u"output", "statement\nstop\npop\nend @nil"},
      {u"output 1", "statement\npush 1\noutput\npop\nend @nil"},
      {u"repeat 3 [a]", "statement\npush [a]\npush 3\nrepeat\npop\nend @nil"},
      {u"if \"true [a]", "statement\npush [a]\npush true\nquote\nif\npop\nend @nil"},
      {u"if \"true [a] [b]", "statement\npush [b]\npush [a]\npush true\nquote\nifelse\npop\nend @nil"},
      {u"print if \"true [a] [b]", "statement\npush [b]\npush [a]\npush true\nquote\nifelse\nprint 0/1\npop\nend @nil"},
      {u"run [a]", "statement\npush [a]\nrun\npop\nend @nil"},
      {u"dump", "statement\ndump 0/0\npop\nend @nil"},
      {u"print 1 2 3", "statement\npush 3\npush 2\npush 1\nprint 0/3\npop\nend @nil"},
      {u"local \"a \"b 1", "statement\npush 1\npush b\nquote\npush a\nquote\nlocal 0/3\npop\nend @nil"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    EXPECT_EQ(Ops(c.Text), c.Listing);
  }
}

TEST_F(CompileForms, WhileJumpsToItsFirstInputWord) {
  TAtom* list = Parse(u"while [c] [b]");
  CompileAt(list);
  EXPECT_EQ(CodeListing(S, list, true),
            "0: span 1 6\n3: statement\n4: span 11 14\n7: push [b]\n9: span 7 10\n12: push [c]\n"
            "14: span 1 14\n17: while 4\n19: pop\n20: end @nil");
}

TEST_F(CompileForms, ValueModeAbsorbsIntoSpecialForms) {
  EXPECT_EQ(Ops(u"(dump 1 2)"), "statement\npush 2\npush 1\ndump 0/2\npop\nend @nil");
  EXPECT_EQ(Ops(u"(print 1 2)"), "statement\npush 2\npush 1\nprint 0/2\npop\nend @nil");
  // An IF alone in parentheses at statement level is still a statement IF.
  EXPECT_EQ(Ops(u"(if \"true [a])"), "statement\npush [a]\npush true\nquote\nif\npop\nend @nil");
}

TEST_F(CompileForms, TranslatedKeywords) {
  const struct {
    const char16_t* Key;
    const char16_t* Word;
  } translated[] = {{u"PRINT", u"drucke"},  {u"MAKE", u"mache"},        {u"OB", u"objekt"},
                    {u"RUN", u"lauf"},      {u"OUTPUT", u"gib"},        {u"IF", u"wenn"},
                    {u"WHILE", u"solange"}, {u"REPEAT", u"wiederhole"}, {u"LOCAL", u"lokal"}};
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  for (const auto& t : translated) pairs.emplace_back(t.Key, t.Word);
  for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
  S.Language.SetTexts(pairs);
  S.LoadKeywords();

  EXPECT_EQ(Ops(u"drucke 1"), "statement\npush 1\nprint 0/1\npop\nend @nil");
  EXPECT_EQ(Ops(u"solange"), "statement\nwhilecounter\npop\nend @nil");
  EXPECT_EQ(Ops(u"mache \"x 1"), "statement\npush 1\npush x\nquote\nmake 0/2 @mache @1 0\npop\nend @nil");
  EXPECT_EQ(Ops(u"dump"), "statement\ndump 0/0\npop\nend @nil");
  // English words are procedure names unless both languages are on.
  EXPECT_EQ(ErrorOf(u"print 1"), "unknown-var-proc");
  S.Language.DualLanguageSupport = true;
  EXPECT_EQ(Ops(u"print 1"), "statement\npush 1\nprint 0/1\npop\nend @nil");
  EXPECT_EQ(Ops(u"drucke 1"), "statement\npush 1\nprint 0/1\npop\nend @nil");
  // The error names the keyword of the active language.
  S.Language.SetTexts({{u"ARGCOUNT", u"args %s"}});
  pairs.emplace_back(u"ARGCOUNT", u"args %s");
  S.Language.SetTexts(pairs);
  S.LoadKeywords();
  TAtom* list = Parse(u"lauf");
  I.CodePointer = list;
  try {
    CompileCurrentRun(I);
    ADD_FAILURE() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(e.Message(), u"args lauf");
  }
}

// --- procedure calls --------------------------------------------------------------

class CompileCalls : public ExprFixture {};

TEST_F(CompileCalls, ParameterPairsAndExtraInputs) {
  TAtom* pair = Define(u"pair", u"[: a] [\" b] output 1");
  Child(pair, kwOnmaxrightinputs, Number(3));
  Child(pair, kwOnmaxleftinputs, Number(2));
  EXPECT_EQ(Ops(u"1 pair 2"), "statement\npush 2\npush 1\ncall pair 1/1 0:a 1:b\npop\nend @nil");
  EXPECT_EQ(Ops(u"(1 pair 2 3 4)"),
            "statement\npush 4\npush 3\npush 2\npush 1\ncall pair 1/3 0:a 1:b 0:#1 0:#2\npop\nend @nil");
  EXPECT_EQ(Ops(u"(0 1 pair 2)"), "statement\npush 2\npush 1\npush 0\ncall pair 2/1 0:a 0:#-1 1:b\npop\nend @nil");
}

TEST_F(CompileCalls, RightInputsOnlyAndNoInputs) {
  Define(u"two", u"[: a : b] output 1");
  Define(u"none", u"[] output 1");
  EXPECT_EQ(Ops(u"two none 5"), "statement\npush 5\ncall none 0/0\ncall two 0/2 0:a 0:b\npop\nend @nil");
}

TEST_F(CompileCalls, PlainVariableAndLambda) {
  DefineValue(u"v", Number(5));
  EXPECT_EQ(Ops(u"print v"), "statement\ncall v 0/0\nprint 0/1\npop\nend @nil");
  // A plain variable takes nothing, even the number beside it.
  EXPECT_EQ(Ops(u"v 1"), "statement\ncall v 0/0\npop\nstatement\npush 1\npop\nend @nil");
  TAtom* lam = DefineValue(u"lam", Number(0));
  S.CreateVariable(lam, S.Keyword(kwLambda), true, Parse(u"[: q] output 1"));
  EXPECT_EQ(Ops(u"lam 1"), "statement\npush 1\ncall lam 0/1 0:q\npop\nend @nil");
}

TEST_F(CompileCalls, SetterGetterAndGenericAccessor) {
  Define(u"obj", u"");
  Define(u"obj.put_size", u"[: v] 1");
  Define(u"obj.get_size", u"[] 1");
  EXPECT_EQ(Ops(u"obj.size 5"), "statement\npush 5\ncall obj.put_size 0/1 0:v\npop\nend @nil");
  EXPECT_EQ(Ops(u"print obj.size"), "statement\ncall obj.get_size 0/0\nprint 0/1\npop\nend @nil");

  Define(u"box", u"");
  DefineValue(u"box.handle", Number(7));
  Define(u"box.put_", u"[: p : v] 1");
  Define(u"box.get_", u"[: p] 1");
  TAtom* list = Parse(u"box.size 5");
  const std::u16string before = TAtom::ToText(S, list);
  CompileAt(list);
  EXPECT_EQ(WithoutSpans(CodeListing(S, list)),
            "statement\npush 5\npush size\nquote\ncall box.put_ 0/2 0:p 0:v\npop\nend @nil");
  EXPECT_EQ(TAtom::ToText(S, list), before);
  EXPECT_EQ(TAtom::Length(list), 2);
  // The inserted cells carry the accessor's range.
  EXPECT_EQ(CodeListing(S, list).find("span -1"), std::string::npos);
  EXPECT_EQ(Ops(u"print box.size"), "statement\npush size\nquote\ncall box.get_ 0/1 0:p\nprint 0/1\npop\nend @nil");
}

TEST_F(CompileCalls, ExternalTokens) {
  std::vector<std::u16string> bound;
  I.ExternalBinder = [&](TInterpreter&, TAtom& token) {
    bound.push_back(token.Text);
    return TBoundRoutine{token.Text == u"dll.zavta.LOGOSUM" ? ocPrimitive : ocNative, 7};
  };
  EXPECT_EQ(Ops(u"print dll.zavta.LOGOSUM"), "statement\nprimitive 7\nprint 0/1\npop\nend @nil");
  EXPECT_EQ(Ops(u"DLL.lib.fn"), "statement\nnative 7\npop\nend @nil");
  // An external token takes no inputs of its own.
  EXPECT_EQ(Ops(u"dll.lib.fn 1"), "statement\nnative 7\npop\nstatement\npush 1\npop\nend @nil");
  EXPECT_EQ(bound.size(), 3u);

  // A binder that returns no routine fails the compile.
  I.ExternalBinder = [](TInterpreter&, TAtom&) { return TBoundRoutine{0, 0}; };
  EXPECT_EQ(ErrorOf(u"dll.lib.fn"), "internal-error");
  // Without a binder: the internal error, and no code.
  I.ExternalBinder = nullptr;
  EXPECT_EQ(ErrorOf(u"print dll.lib.fn"), "internal-error");
  EXPECT_NE(S.LastError.find(u"EXPR:BIND"), std::u16string::npos);
}

TEST_F(CompileCalls, ExternalTokenRecognition) {
  const struct {
    const char16_t* Text;
    bool External;
  } cases[] = {{u"dll.x", true},   {u"DLL.zavta.F", true}, {u"Dll.", true},   {u"dll", false},
               {u"dllx.y", false}, {u"dl.x", false},       {u"xdll.y", false}};
  for (const auto& c : cases) EXPECT_EQ(IsExternalToken(S, NewWord(S, c.Text)), c.External) << U8(c.Text);
  EXPECT_FALSE(IsExternalToken(S, Number(1)));
  EXPECT_FALSE(IsExternalToken(S, SystemValue));
}

TEST_F(CompileCalls, ValueModeAbsorptionAgainstBounds) {
  TAtom* f = Define(u"f", u"[: a] 1");
  Child(f, kwOnmaxrightinputs, Number(2));
  TAtom* g = Define(u"g", u"[: a] [] 1");
  EXPECT_EQ(Ops(u"(f 1 2)"), "statement\npush 2\npush 1\ncall f 0/2 0:a 0:#1\npop\nend @nil");
  EXPECT_EQ(ErrorOf(u"(f 1 2 3)"), "does-not-match-par-exprs-par");
  EXPECT_EQ(ErrorOf(u"(1 2 g)"), "does-not-match-par-exprs-par");
  Child(g, kwOnmaxleftinputs, Number(-1));  // unbounded
  EXPECT_EQ(Ops(u"(1 2 g)"), "statement\npush 2\npush 1\ncall g 2/0 0:a 0:#-1\npop\nend @nil");
  // MAKE with a root before it, and data as the main root, absorb nothing.
  EXPECT_EQ(ErrorOf(u"(1 make \"x 2)"), "does-not-match-par-exprs-par");
  EXPECT_EQ(ErrorOf(u"(1 2)"), "does-not-match-par-exprs-par");
  EXPECT_EQ(ErrorOf(u"(run [a] [b])"), "does-not-match-par-exprs-par");
}

TEST_F(CompileCalls, NestedExpressionsShareTheCodeList) {
  TAtom* plus = Define(u"plus", u"[: x] [: y] 1");
  Child(plus, kwOnpriority, Number(10));
  TAtom* list = Parse(u"print (1 plus (2 plus 3))");
  CompileAt(list);
  // The span of a parenthesised node comes before the code compiled from
  // inside it, which follows in the same list.
  EXPECT_EQ(CodeListing(S, list),
            "span 1 6\nstatement\n"
            "span 7 26\n"                                                                  // (1 plus (2 plus 3))
            "span 15 25\n"                                                                 // (2 plus 3)
            "span 23 24\npush 3\nspan 16 17\npush 2\nspan 16 24\ncall plus 1/1 0:x 0:y\n"  // 2 plus 3
            "span 8 9\npush 1\nspan 8 25\ncall plus 1/1 0:x 0:y\n"                         // 1 plus ...
            "span 1 26\nprint 0/1\npop\nend @nil");
}

// --- failed compiles ----------------------------------------------------------------

class CompileFailures : public ExprFixture {};

TEST_F(CompileFailures, RaisedErrorLeavesNoCodeAndRestoresThePointer) {
  TAtom* list = Parse(u"print 1 , print zork , print 2");
  EXPECT_EQ(ErrorAt(list->Right->Right->Right), "unknown-var-proc");
  EXPECT_EQ(S.CurrentPosition.StartPos, 17);
  EXPECT_EQ(S.CurrentPosition.EndPos, 21);
}

TEST_F(CompileFailures, SuppressedErrorSkipsToTheNextStatement) {
  TAtom* list = Parse(u"print 1 zork , , print 2");
  T.ArmErrors(false);
  const TPosition before = S.CurrentPosition;
  const size_t temps = I.Compiler().TempAtoms.size();
  for (int attempt = 0; attempt < 2; ++attempt) {
    I.CodePointer = list;
    EXPECT_EQ(CompileCurrentRun(I), CompileResult::NotCompiled);
    EXPECT_EQ(TAtom::CodeCount(*list), 0);
    ASSERT_NE(I.CodePointer, nullptr);
    EXPECT_EQ(TAtom::ToText(S, I.CodePointer), u"[print 2]");
    EXPECT_EQ(S.CurrentPosition.StartPos, before.StartPos);
    EXPECT_EQ(I.Compiler().TempAtoms.size(), temps);
  }
  T.ArmErrors(true);
  EXPECT_EQ(ErrorAt(list), "unknown-var-proc");
}

TEST_F(CompileFailures, FailedCompileUnpinsWhatItPinned) {
  TAtom* pair = Define(u"pair", u"[: a] [: b] 1");
  Child(pair, kwOnmaxrightinputs, Number(3));
  TAtom* name = pair->Left->Left->Right->Left;  // the word "a"
  ASSERT_EQ(name->Text, u"a");
  const int32_t pins = name->RefCount;
  // The call is compiled (pinning its names) before the IF fails.
  EXPECT_EQ(ErrorOf(u"print if (1 pair 2 3) [x]"), "arg-count-if-else");
  EXPECT_EQ(name->RefCount, pins);
  EXPECT_TRUE(I.Compiler().TempAtoms.empty());
}

TEST_F(CompileFailures, TempAtomsStayPinnedUntilReleased) {
  Define(u"obj", u"");
  Define(u"obj.get_size", u"[] 1");
  TAtom* list = Parse(u"print obj.size");
  CompileAt(list);
  ASSERT_EQ(I.Compiler().TempAtoms.size(), 1u);
  TAtom* rewritten = I.Compiler().TempAtoms.front();
  EXPECT_EQ(rewritten->Text, u"obj.get_size");
  EXPECT_EQ(rewritten->RefCount, 1);
  ReleaseTempAtoms(I);
  EXPECT_EQ(rewritten->RefCount, 0);
  EXPECT_TRUE(I.Compiler().TempAtoms.empty());
  // Pinning is per atom: a second compile of the same names pins them once.
  Define(u"pair", u"[: a] [: b] 1");
  CompileAt(Parse(u"1 pair 2"));
  CompileAt(Parse(u"3 pair 4"));
  EXPECT_EQ(I.Compiler().TempAtoms.size(), 2u);
  ReleaseTempAtoms(I);
}

TEST_F(CompileFailures, CommaInsideParentheses) {
  EXPECT_EQ(ErrorOf(u"print (1 , 2)"), "does-not-match-par-exprs-par");
  // An expression cell whose first element is the comma.
  TAtom* expression = NewExpressionCell(S, NewWord(S, u","), NewExpressionCell(S, Number(2), nullptr));
  EXPECT_EQ(ErrorAt(NewListCell(S, NewWord(S, u"print"), NewListCell(S, expression, nullptr))),
            "does-not-match-par-exprs-par");
}

// --- the steps shared with the structure dump ----------------------------------------

class CompileSeams : public ExprFixture {};

TEST_F(CompileSeams, DumpModeLinksWithoutResolvingOrEmitting) {
  TAtom* list = Parse(u"print zork 1 , print 2");
  I.CurrentCodeAtom = list;
  I.CodePointer = list;
  TExpr expr(I, true);
  expr.DumpMode = true;
  expr.Prepare();
  EXPECT_TRUE(expr.EndedAtComma());
  ASSERT_EQ(expr.Nodes.size(), 3u);
  EXPECT_TRUE(expr.Nodes[1].IsProcedure);
  EXPECT_EQ(expr.Nodes[1].Procedure, nullptr);
  EXPECT_EQ(expr.Roots(), std::vector<int32_t>{0});
  EXPECT_EQ(expr.Nodes[0].RightInputs, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(TAtom::CodeCount(*list), 0);
}

TEST_F(CompileSeams, AnAncestorIsNeverTakenAsInput) {
  // Node 1 is the right input of node 0 and wants a left input; node 0 is
  // stronger and lies to its left, but taking it would close a cycle.
  TAtom* list = Parse(u"a b");
  I.CodePointer = list;
  TExpr expr(I, true);
  expr.Nodes.resize(2);
  expr.Nodes[0].Priority = 100;
  expr.Nodes[0].RightCount = 1;
  expr.Nodes[0].RightInputs = {1};
  expr.Nodes[1].Priority = 10;
  expr.Nodes[1].LeftCount = 1;
  expr.Nodes[1].Parent = 0;
  EXPECT_EQ(expr.FindArgument(1, -1, TExpr::FindMode::Normal), -1);
  EXPECT_EQ(expr.FindArgument(1, -1, TExpr::FindMode::AnyRoot), -1);
  expr.Nodes[1].Parent = -1;
  expr.Nodes[0].RightInputs.clear();
  EXPECT_EQ(expr.FindArgument(1, -1, TExpr::FindMode::Normal), 0);
}

}  // namespace
