// The interpreter loop: hand-built code for the opcodes' stack effects, the
// bound routines and statements without a source line; compiled statements
// for printing, the loops and their counters, IF and WHILE, variable values,
// RUN and DUMP.

#include <gtest/gtest.h>

#include <cfenv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

int32_t Id(const TAtom* a) { return static_cast<int32_t>(AtomId(a)); }

// A source window holding a text, for RUN of an open file.
class FakeSource : public SourceView {
public:
  FakeSource(std::u16string title, std::u16string text, std::u16string folder)
      : title_(std::move(title)), text_(std::move(text)), folder_(std::move(folder)) {}
  void bringToFront() override {}
  void showDebugLine(int32_t, const std::u16string&) override {}
  void hideDebugLine() override {}
  void showErrorRange(int32_t, int32_t, const std::u16string&) override {}
  void clearErrorRange() override {}
  void showPausedStatement(int32_t, int32_t, const std::u16string&) override {}
  void endPausedStatement() override {}
  int32_t firstVisibleLine() override { return 0; }
  void setStateIcon(int) override {}
  std::u16string title() override { return title_; }
  std::u16string text() override { return text_; }
  std::u16string fileFolder() override { return folder_; }

private:
  std::u16string title_, text_, folder_;
};

class InterpretTest : public ::testing::Test {
protected:
  InterpretTest() {
    auto& texts = S.Language.Texts;
    texts[u"BADARG"] = u"Input %d of %s is not valid";
    texts[u"UNKNOWNVAR"] = u"I don't know %s";
    texts[u"ARGCOUNT"] = u"Wrong number of inputs for %s";
    texts[u"SYSTEMERROR"] = u"System error";
  }

  // A statement cell carrying the given code words.
  TAtom* Statement(std::vector<int32_t> code) {
    TAtom* cell = NewListCell(S, NewWord(S, u"statement"), nullptr);
    cell->Extend().Code = std::make_unique<std::vector<int32_t>>(std::move(code));
    return cell;
  }
  // The statements of a text, parsed but not compiled.
  TAtom* Parse(std::u16string_view text) {
    const TParseResult parsed = ParseText(I.Scanner(), text, u"test");
    EXPECT_TRUE(parsed.Ok);
    return parsed.List;
  }
  std::vector<TAtom*> StackValues() const {
    std::vector<TAtom*> values;
    for (const TStackEntry& e : S.Frame()->Stack.Items) values.push_back(e.Value);
    return values;
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  // The printed lines; the report line of an error is among them.
  std::string Out() const { return Host.Output(); }
  // The help topic of the last error reported.
  std::string Topic() const { return Host.Dialogs.empty() ? "" : U8(Host.Dialogs.back().Topic); }
  TAtom* Global(std::u16string_view name, TAtom* value) { return S.CreateVariable(S.Root, name, false, value); }

  TestState ts;
  TStructure& S = *ts.S;
  HeadlessHost& Host = ts.Host;
  TInterpreter I{S};
};

// --- hand-built code ---------------------------------------------------------------------

TEST_F(InterpretTest, UnassignedOpcodesAreSkippedWithoutOperands) {
  TAtom* word = NewWord(S, u"kept");
  TAtom* next = NewListCell(S, nullptr, nullptr);
  TAtom* statement =
      Statement({0, 1, 6, 7, 8, 25, 27, 28, 29, 34, 99, 1 << 20, -3, ocPush, Id(word), 0, ocEnd, Id(next)});
  EXPECT_EQ(Interpret(I, statement, false), next);
  EXPECT_EQ(StackValues(), std::vector<TAtom*>{word});
  EXPECT_EQ(I.InterpretDepth, 0);
  // Nothing runs after ocEnd; code without it ends with no next statement.
  EXPECT_EQ(Interpret(I, Statement({ocEnd, 0, ocPush, Id(word)}), false), nullptr);
  EXPECT_EQ(Interpret(I, Statement({ocPush, Id(word)}), false), nullptr);
  EXPECT_EQ(StackValues(), (std::vector<TAtom*>{word, word}));
}

TEST_F(InterpretTest, OutputAndStopEndTheStatementAndSetTheResult) {
  TAtom* value = NewWord(S, u"result");
  TAtom* later = NewWord(S, u"later");
  TAtom* next = NewListCell(S, nullptr, nullptr);
  EXPECT_EQ(Interpret(I, Statement({ocPush, Id(value), ocOutput, ocPush, Id(later), ocEnd, Id(next)}), false), nullptr);
  EXPECT_EQ(I.ResultAtom, value);
  EXPECT_TRUE(I.StopFlag);
  EXPECT_TRUE(StackValues().empty());

  I.ResultAtom = SystemValue;
  I.StopFlag = false;
  EXPECT_EQ(Interpret(I, Statement({ocStop, ocPush, Id(later), ocEnd, Id(next)}), false), nullptr);
  EXPECT_EQ(I.ResultAtom, SystemValue);
  EXPECT_TRUE(I.StopFlag);
  EXPECT_TRUE(StackValues().empty());
}

TEST_F(InterpretTest, StopRequestsEndTheStatementBeforeTheNextOpcode) {
  TAtom* word = NewWord(S, u"x");
  TAtom* next = NewListCell(S, nullptr, nullptr);
  const std::vector<int32_t> code{ocPush, Id(word), ocEnd, Id(next)};
  S.HaltRequested = true;
  EXPECT_EQ(Interpret(I, Statement(code), false), nullptr);
  S.HaltRequested = false;
  I.RunState = rsStop;
  EXPECT_EQ(Interpret(I, Statement(code), false), nullptr);
  I.RunState = rsRunning;
  EXPECT_TRUE(StackValues().empty());
  EXPECT_EQ(Interpret(I, Statement(code), false), next);
}

TEST_F(InterpretTest, PopTakesTheEntryRangeAndQuoteRetagsIt) {
  TAtom* word = NewWord(S, u"w");
  Interpret(I, Statement({ocSpan, 5, 9, ocPush, Id(word), ocSpan, 20, 30, ocQuote}), false);
  ASSERT_EQ(S.Frame()->Stack.Items.size(), 1u);
  EXPECT_EQ(S.Frame()->Stack.Items[0].StartPos, 20);
  EXPECT_EQ(S.Frame()->Stack.Items[0].EndPos, 30);

  Interpret(I, Statement({ocSpan, 40, 41, ocPop}), false);
  EXPECT_EQ(S.CurrentPosition.StartPos, 20);
  EXPECT_EQ(S.CurrentPosition.EndPos, 30);
  EXPECT_EQ(I.LastValue, word);
}

TEST_F(InterpretTest, PeriodJoinsNamesDroppingOneTrailingPeriod) {
  TAtom* left = NewWord(S, u"obj.");
  TAtom* right = NewNumber(S, 2);
  Interpret(I, Statement({ocPush, Id(right), ocPush, Id(left), ocPeriod}), false);
  const std::vector<TAtom*> values = StackValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(U8(values[0]->Text), "obj.2");
}

TEST_F(InterpretTest, BoundRoutinesRunInTheDefaultFloatingPointState) {
  TAtom* result = NewWord(S, u"from routine");
  int rounding = -1;
  int calls = 0;
  I.Routines.push_back([&](TInterpreter& in) -> TAtom* {
    EXPECT_EQ(&in, &I);
    ++calls;
    rounding = std::fegetround();
    std::fesetround(FE_UPWARD);  // left behind for the next routine
    return result;
  });
  I.Routines.push_back([&](TInterpreter&) -> TAtom* {
    ++calls;
    rounding = std::fegetround();
    return nullptr;  // no result: the empty list
  });
  std::fesetround(FE_DOWNWARD);
  Interpret(I, Statement({ocPrimitive, 0}), false);
  EXPECT_EQ(rounding, FE_TONEAREST);
  rounding = -1;
  Interpret(I, Statement({ocNative, 1}), false);
  EXPECT_EQ(rounding, FE_TONEAREST);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(StackValues(), (std::vector<TAtom*>{result, nullptr}));

  // An unmasked exception is masked again for every routine; an outside
  // routine also finds the sticky flags cleared.
  int unmasked = -1;
  int flagged = -1;
  I.Routines.push_back([&](TInterpreter&) -> TAtom* {
    unmasked = fegetexcept();
    flagged = std::fetestexcept(FE_ALL_EXCEPT);
    return nullptr;
  });
  feenableexcept(FE_DIVBYZERO);
  Interpret(I, Statement({ocPrimitive, 2}), false);
  EXPECT_EQ(unmasked, 0);
  static_cast<void>(std::feraiseexcept(FE_INEXACT));
  Interpret(I, Statement({ocNative, 2}), false);
  EXPECT_EQ(flagged, 0);
}

TEST_F(InterpretTest, RoutineFailuresBecomeLanguageErrors) {
  I.Routines.push_back([](TInterpreter&) -> TAtom* { throw std::runtime_error("disk on fire"); });
  I.Routines.push_back([](TInterpreter& in) -> TAtom* {
    in.S.RaiseError(u"own message", u"own-topic");
    return nullptr;
  });

  try {
    Interpret(I, Statement({ocPrimitive, 0}), false);
    FAIL() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(U8(e.Message()), "System error disk on fire");
    EXPECT_EQ(U8(S.CurrentPosition.Topic), "internal-error");
  }
  // A language error raised by the routine passes unchanged.
  try {
    Interpret(I, Statement({ocNative, 1}), false);
    FAIL() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(U8(e.Message()), "own message");
  }
  // An index past the table is the interpreter's own fault.
  try {
    Interpret(I, Statement({ocPrimitive, 7}), false);
    FAIL() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(U8(e.Message()), "System error TRANS:ROUTINE");
  }
  EXPECT_EQ(I.InterpretDepth, 0);
  EXPECT_TRUE(StackValues().empty());
}

// Statements without a source line raise nothing: each failing opcode drops
// the inputs it has not taken and yields SystemValue, so the stack holds
// exactly one value per instruction.
TEST_F(InterpretTest, SuppressedErrorsLeaveOneSystemValue) {
  I.Routines.push_back([](TInterpreter&) -> TAtom* { throw std::logic_error("broken"); });
  TAtom* list = Parse(u"a b");
  TAtom* word = NewWord(S, u"maybe");
  TAtom* nothere = NewWord(S, u"nothere");
  TAtom* two = NewNumber(S, 2);
  const std::vector<std::pair<const char*, std::vector<int32_t>>> cases = {
      {"if condition", {ocPush, Id(list), ocPush, Id(list), ocPush, Id(word), ocIfElse}},
      {"if-then list", {ocPush, Id(word), ocPush, Id(S.Language.TrueAtom), ocIf}},
      {"if-else list", {ocPush, Id(word), ocPush, Id(list), ocPush, Id(S.Language.FalseAtom), ocIfElse}},
      {"while condition", {ocPush, Id(list), ocPush, Id(word), ocWhile, 0}},
      {"while body", {ocPush, Id(word), ocPush, Id(S.Language.TrueAtom), ocWhile, 0}},
      {"repeat count", {ocPush, Id(list), ocPush, Id(word), ocRepeat}},
      {"repeat list", {ocPush, Id(word), ocPush, Id(two), ocRepeat}},
      {"value of a list", {ocPush, Id(list), ocValueOf}},
      {"unknown variable", {ocPush, Id(nothere), ocValueOf}},
      {"period left", {ocPush, Id(word), ocPush, Id(list), ocPeriod}},
      {"period right", {ocPush, Id(list), ocPush, Id(word), ocPeriod}},
      {"local name", {ocPush, Id(list), ocLocal, MakeArity(0, 1)}},
      {"local as value", {ocPush, Id(word), ocPush, Id(word), ocLocal, MakeArity(0, 2)}},
      {"routine", {ocPrimitive, 0}},
      {"routine index", {ocNative, 3}},
  };
  ts.ArmErrors(false);
  for (const auto& [name, code] : cases) {
    S.InWhile = false;
    S.WhileCounter = 0;
    EXPECT_NO_THROW(Interpret(I, Statement(code), false)) << name;
    EXPECT_EQ(StackValues(), std::vector<TAtom*>{SystemValue}) << name;
    EXPECT_FALSE(S.InWhile) << name;
    S.Frame()->Stack.UnpinAll();
  }
  EXPECT_TRUE(S.ErrorTrace.empty());
}

TEST_F(InterpretTest, ValueOfAnObjectIsADetachedCopyLinkedUnderTheRoot) {
  TAtom* a = Global(u"a", NewNumber(S, 1));
  Global(u"a.b", NewNumber(S, 2));
  Global(u"a.b.c", NewNumber(S, 3));
  Global(u"z", NewWord(S, u"plain"));

  Interpret(I, Statement({ocPush, Id(NewWord(S, u"z")), ocValueOf}), false);
  EXPECT_EQ(U8(StackValues().back()->Text), "plain");

  Interpret(I, Statement({ocPush, Id(NewWord(S, u"a")), ocValueOf}), false);
  TAtom* copy = StackValues().back();
  ASSERT_TRUE(TAtom::IsVariable(copy));
  EXPECT_NE(copy, a);
  EXPECT_EQ(U8(copy->Text), "[~]");
  EXPECT_EQ(copy->Parent, S.Root);
  EXPECT_EQ(copy->Left, a->Left);
  TAtom* b = S.FindPath(copy, u"b.c");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Left->Number, 3);
  EXPECT_NE(b, S.FindPath(a, u"b.c"));

  // The root's own copy holds everything once and does not contain itself.
  Interpret(I, Statement({ocPush, Id(NewWord(S, u"[Root]")), ocValueOf}), false);
  TAtom* rootCopy = StackValues().back();
  ASSERT_TRUE(TAtom::IsVariable(rootCopy));
  EXPECT_EQ(rootCopy->Parent, S.Root);
  int copies = 0;
  for (TAtom* c = rootCopy->FirstChild; c != nullptr; c = c->NextSibling) {
    EXPECT_NE(c, rootCopy);
    if (c->Text == u"[~]") ++copies;
  }
  EXPECT_EQ(copies, 1);  // the earlier copy of a, not this one
  ASSERT_NE(S.FindPath(rootCopy, u"a.b.c"), nullptr);
}

// --- compiled statements -------------------------------------------------------------------

TEST_F(InterpretTest, PrintWritesOnlyStatements) {
  EXPECT_EQ(Run(u"print 1 2 3"), rrOk);
  EXPECT_EQ(Run(u"print [a b] [c [d e]]"), rrOk);
  EXPECT_EQ(Run(u"print print \"inner"), rrOk);
  EXPECT_EQ(Out(), "1 2 3\na b c [d e]\ninner");
  EXPECT_TRUE(S.Frame()->Stack.Items.empty());
}

TEST_F(InterpretTest, QuietSuppressesStatementPrinting) {
  TAtom* list = Parse(u"print \"hidden");
  I.CodePointer = list;
  ASSERT_EQ(CompileCurrentRun(I), CompileResult::Compiled);
  Interpret(I, list, true);
  EXPECT_EQ(Out(), "");
  ASSERT_TRUE(TAtom::IsWord(I.LastValue));
  EXPECT_EQ(U8(I.LastValue->Text), "hidden");
}

TEST_F(InterpretTest, PrintingACopyUnlinksItAndTheRootCopyEnds) {
  Global(u"a", NewNumber(S, 5));
  Global(u"a.b", NewNumber(S, 6));
  EXPECT_EQ(Run(u"print :a"), rrOk);
  EXPECT_EQ(Run(u"print :'[Root]'"), rrOk);
  EXPECT_EQ(Out(), "5\n");
  EXPECT_EQ(S.FindPath(S.Root, u"[~]"), nullptr);
}

TEST_F(InterpretTest, RepeatRunsTheRoundedUpCount) {
  EXPECT_EQ(Run(u"repeat 2.5 [print repeat]"), rrOk);
  EXPECT_EQ(Out(), "1\n2\n3");
  Host.Lines.clear();
  // No rounds: the value is the list, the last input taken.
  EXPECT_EQ(Run(u"print repeat 0 [a b]"), rrOk);
  EXPECT_EQ(Run(u"print repeat -1 [c d]"), rrOk);
  EXPECT_EQ(Out(), "a b\nc d");
}

TEST_F(InterpretTest, RepeatCountersNestAndComeBack) {
  S.RepeatCounter = 42;
  EXPECT_EQ(Run(u"repeat 2 [repeat 2 [print repeat] print repeat] print repeat"), rrOk);
  EXPECT_EQ(Out(), "1\n2\n1\n1\n2\n2\n42");
  EXPECT_EQ(S.RepeatCounter, 42);
  EXPECT_TRUE(S.Frame()->Stack.Items.empty());
}

TEST_F(InterpretTest, RepeatCounterComesBackAfterAnError) {
  S.RepeatCounter = 5;
  EXPECT_EQ(Run(u"repeat 3 [if \"maybe [print 1]]"), rrRunError);
  EXPECT_EQ(S.RepeatCounter, 5);
}

TEST_F(InterpretTest, RepeatHoldsItsListAcrossThePump) {
  TAtom* body = Parse(u"print repeat");
  int pinsSeen = -1;
  Host.OnPump = [&] { pinsSeen = body->RefCount; };
  const int32_t pinsBefore = body->RefCount;
  Interpret(I, Statement({ocPush, Id(body), ocPush, Id(NewNumber(S, 128)), ocRepeat}), true);
  EXPECT_EQ(Host.Pumps, 1);
  EXPECT_EQ(pinsSeen, pinsBefore + 1);
  EXPECT_EQ(body->RefCount, pinsBefore);
}

TEST_F(InterpretTest, HaltOrStopFromThePumpEndsARepeat) {
  Host.OnPump = [&] { S.HaltRequested = true; };
  EXPECT_EQ(Run(u"repeat 100000 [print repeat]"), rrOk);
  EXPECT_EQ(Host.Pumps, 1);
  EXPECT_EQ(Host.Lines.size(), 128u);
  EXPECT_EQ(S.RepeatCounter, 0);
  S.HaltRequested = false;

  Host.Lines.clear();
  Host.OnPump = [&] { I.RunState = rsStop; };
  I.RunState = rsRunning;
  I.StatementCounter = 0;  // the REPEAT's pump comes before the statements' one
  EXPECT_EQ(Run(u"repeat 100000 [print repeat]"), rrOk);
  EXPECT_EQ(Host.Pumps, 2);
  EXPECT_EQ(Host.Lines.size(), 128u);
}

TEST_F(InterpretTest, PumpsEvery128RoundsButNotInPlaneEvents) {
  EXPECT_EQ(Run(u"repeat 256 []"), rrOk);
  EXPECT_EQ(Host.Pumps, 2);
  I.InPlaneEvent = true;
  EXPECT_EQ(Run(u"repeat 256 []"), rrOk);
  EXPECT_EQ(Host.Pumps, 2);
}

TEST_F(InterpretTest, WhileYieldsTheConditionThatEndedIt) {
  EXPECT_EQ(Run(u"make \"go \"true print (while :go [make \"go \"false]) \"x"), rrOk);
  EXPECT_EQ(Out(), "false x");
  EXPECT_TRUE(S.Frame()->Stack.Items.empty());
  EXPECT_FALSE(S.InWhile);
}

TEST_F(InterpretTest, WhileCountsRoundsAndPutsTheCounterBack) {
  S.WhileCounter = 11;
  EXPECT_EQ(
      Run(u"make \"n \"false make \"go \"true while :go [if :n [make \"go \"false] [make \"n \"true], print while]"),
      rrOk);
  EXPECT_EQ(Out(), "1\n2");
  EXPECT_EQ(S.WhileCounter, 11);
  EXPECT_FALSE(S.InWhile);
  EXPECT_TRUE(S.Frame()->Stack.Items.empty());
}

TEST_F(InterpretTest, WhileLeftByAnErrorClearsItsState) {
  S.WhileCounter = 3;
  EXPECT_EQ(Run(u"make \"go \"true while :go [if \"maybe []]"), rrRunError);
  EXPECT_EQ(Topic(), "bad-arg-if-boolean");
  EXPECT_FALSE(S.InWhile);
  EXPECT_EQ(S.WhileCounter, 3);
}

struct ErrorCase {
  const char* Text;
  const char* Topic;
  const char* Message;
};

class InterpretErrorTest : public InterpretTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(InterpretErrorTest, ReportsTheKeyAndMessage) {
  Global(u"alpha", NewNumber(S, 1));
  const ErrorCase& c = GetParam();
  EXPECT_EQ(Run(Utf8ToUtf16(c.Text)), rrRunError);
  EXPECT_EQ(Topic(), c.Topic);
  ASSERT_FALSE(Host.Dialogs.empty());
  EXPECT_EQ(U8(Host.Dialogs.back().Message), c.Message);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, InterpretErrorTest,
    ::testing::Values(ErrorCase{"if \"maybe [print 1]", "bad-arg-if-boolean", "Input 1 of if is not valid"},
                      ErrorCase{"if [a] [print 1]", "bad-arg-if-list", "Input 1 of if is not valid"},
                      ErrorCase{"if \"true \"x", "bad-arg-if-then-list", "Input 2 of if is not valid"},
                      ErrorCase{"if \"false [print 1] \"x", "bad-arg-if-else-list", "Input 3 of if is not valid"},
                      ErrorCase{"while \"maybe [print 1]", "bad-arg-while-boolean", "Input 1 of while is not valid"},
                      ErrorCase{"while \"true \"x", "bad-arg-while-list", "Input 2 of while is not valid"},
                      ErrorCase{"repeat \"x [print 1]", "bad-arg-repeat-number", "Input 1 of repeat is not valid"},
                      ErrorCase{"repeat 2 \"x", "bad-arg-repeat-list", "Input 2 of repeat is not valid"},
                      ErrorCase{"print :nothere", "unknown-var-eval", "I don't know nothere"},
                      ErrorCase{"print :alpha.beta", "unknown-var-eval-partial", "I don't know alpha.beta"},
                      ErrorCase{"print :nothere.sub", "unknown-var-eval-all", "I don't know nothere.sub"},
                      ErrorCase{"print (local \"a \"b)", "arg-count-local-function",
                                "Wrong number of inputs for local"}));

TEST_F(InterpretTest, UnknownDottedNamesDescribeTheirParts) {
  TempFolder help;
  S.HelpFolder = help.Folder();
  auto file = [&](const char* leaf) {
    std::ifstream in(help.Path / leaf, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return U8(text);
  };
  Global(u"alpha", NewNumber(S, 1));
  EXPECT_EQ(Run(u"print :alpha.beta.gamma"), rrRunError);
  EXPECT_EQ(file("$$$error-04$$$.txt"), "alpha.beta.gamma");
  EXPECT_EQ(file("$$$error-05$$$.txt"), "alpha.beta");
  EXPECT_EQ(file("$$$error-06$$$.txt"), "beta.gamma");
  EXPECT_EQ(Run(u"print :nothere.sub.more"), rrRunError);
  EXPECT_EQ(file("$$$error-05$$$.txt"), "nothere");
  EXPECT_EQ(file("$$$error-06$$$.txt"), "sub.more");
  // An input error describes the offending value.
  EXPECT_EQ(Run(u"if [a b] []"), rrRunError);
  EXPECT_EQ(file("$$$error-04$$$.txt"), "[a b]");
  EXPECT_EQ(file("$$$error-05$$$.txt"), "a list");
  EXPECT_EQ(file("$$$error-06$$$.txt"), "the list");
}

TEST_F(InterpretTest, ErrorRangeIsTheOffendingInput) {
  I.CodePointer = Parse(u"if \"true [print 1] [print 2] if \"maybe [print 3]");
  EXPECT_THROW(RunCode(I), LanguageError);
  EXPECT_EQ(Out(), "1");
  ASSERT_FALSE(S.ErrorTrace.empty());
  const TPosition& raised = S.ErrorTrace.front();
  EXPECT_EQ(U8(raised.Topic), "bad-arg-if-boolean");
  ASSERT_GE(raised.StartPos, 1);
  ASSERT_GE(raised.EndPos, raised.StartPos);
  const std::u16string& source = raised.SourceText.str();
  EXPECT_EQ(
      U8(source.substr(static_cast<size_t>(raised.StartPos - 1), static_cast<size_t>(raised.EndPos - raised.StartPos))),
      "\"maybe");
}

TEST_F(InterpretTest, IfYieldsTheValueOfItsBranch) {
  EXPECT_EQ(Run(u"print if \"false [\"a] [\"b]"), rrOk);
  EXPECT_EQ(Run(u"print if \"true [\"c \"d] [\"e]"), rrOk);
  EXPECT_EQ(Out(), "b\nd");
}

TEST_F(InterpretTest, LocalCreatesOnlyMissingVariables) {
  TAtom* existing = Global(u"kept", NewNumber(S, 7));
  EXPECT_EQ(Run(u"local \"fresh"), rrOk);
  EXPECT_EQ(Run(u"local \"kept"), rrOk);
  TAtom* fresh = S.FindPath(S.Root, u"fresh");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Left, nullptr);
  EXPECT_EQ(S.FindPath(S.Root, u"kept"), existing);
  EXPECT_EQ(existing->Left->Number, 7);
  EXPECT_EQ(Run(u"local [a]"), rrRunError);
  EXPECT_EQ(Topic(), "bad-arg-local-atom");
}

TEST_F(InterpretTest, RunRunsListsAndProcedureBodies) {
  EXPECT_EQ(Run(u"run [print 1] run [[a] [b] print 2] run [[a] print 3] print run [\"value]"), rrOk);
  EXPECT_EQ(Out(), "1\n2\n3\nvalue");
}

TEST_F(InterpretTest, RunReadsFilesAndKeepsTheFolder) {
  TempFolder tmp;
  fs::create_directories(tmp.Path / "sub");
  std::ofstream(tmp.Path / "sub" / "prog.zav") << "print \"fromfile\n";
  std::ofstream(tmp.Path / "sub" / "data.txt") << "print \"datafile\n";
  std::ofstream(tmp.Path / "sub" / "broken.zav") << "print [unclosed\n";
  // Found through the settings folder; RUN moves into the file's folder
  // while it runs and back afterwards.
  S.SettingsFolder = Utf8ToUtf16((tmp.Path / "sub").string()) + u"/";
  Global(u"data", NewWord(S, u"data.txt"));
  const fs::path before = fs::current_path();

  // The extension is added only when missing; a missing file runs nothing.
  EXPECT_EQ(Run(u"run \"prog run :data run \"missing"), rrOk);
  EXPECT_EQ(Out(), "fromfile\ndatafile");
  EXPECT_EQ(fs::current_path(), before);

  // A file that does not parse runs nothing and leaves no trace: the next
  // error reports its own topic.
  EXPECT_EQ(Run(u"run \"broken if \"maybe []"), rrRunError);
  EXPECT_EQ(Topic(), "bad-arg-if-boolean");
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_TRUE(S.ErrorTrace.empty());
}

TEST_F(InterpretTest, RunPrefersAnOpenSourceWindow) {
  TempFolder tmp;
  FakeSource window(u"win.zav", u"print \"fromwindow\r\nprint \"second", tmp.Folder());
  std::u16string asked;
  Host.OnFindSource = [&](const std::u16string& name) -> SourceView* {
    asked = name;
    return name == u"win.zav" ? &window : nullptr;
  };
  const fs::path before = fs::current_path();
  EXPECT_EQ(Run(u"run \"win"), rrOk);
  EXPECT_EQ(U8(asked), "win.zav");
  EXPECT_EQ(Out(), "fromwindow\nsecond");
  EXPECT_EQ(fs::current_path(), before);

  // An error in the window's text is reported against the window.
  FakeSource broken(u"bad.zav", u"print [open", tmp.Folder());
  Host.OnFindSource = [&](const std::u16string&) -> SourceView* { return &broken; };
  EXPECT_EQ(Run(u"run \"bad"), rrRunError);
  ASSERT_FALSE(Host.Dialogs.empty());
  EXPECT_EQ(U8(Host.Dialogs.back().Extra), "bad.zav");
  EXPECT_EQ(fs::current_path(), before);
}

TEST_F(InterpretTest, DumpPrintsTheTreeNewestFirst) {
  Global(u"a", NewNumber(S, 5));
  Global(u"a.c", NewWord(S, u"word"));
  Global(u"b", Parse(u"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26"));
  EXPECT_EQ(Run(u"dump"), rrOk);
  EXPECT_EQ(Out(),
            "--DUMP--\n"
            "[Root] = []\n"
            "   b = [1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 2\n"
            "   a = 5\n"
            "      c = word\n"
            "--------");
}

}  // namespace
