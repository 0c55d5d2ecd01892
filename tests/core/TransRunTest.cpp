// Run entries, the statement runner, pumping, stepping and pausing, the
// interpreter reset and the stack guard.

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Host.h"
#include "core/Lexem.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

// A source window that records what the pause loop and the run entries ask
// of it.
class RecordingView : public SourceView {
public:
  explicit RecordingView(TInterpreter& in) : in_(in) {}
  void bringToFront() override { Calls.push_back("front"); }
  void showDebugLine(int32_t startPos, const std::u16string&) override {
    Calls.push_back("debug " + std::to_string(startPos));
  }
  void hideDebugLine() override { Calls.push_back("hide"); }
  void showErrorRange(int32_t, int32_t, const std::u16string&) override { Calls.push_back("error"); }
  void clearErrorRange() override { Calls.push_back("clear error"); }
  void showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string&) override {
    Calls.push_back("paused " + std::to_string(startPos) + "-" + std::to_string(endPos));
    HighlightingSeen = in_.HighlightingStatement;
  }
  void endPausedStatement() override { Calls.push_back("end paused"); }
  int32_t firstVisibleLine() override { return FirstVisible; }
  void setStateIcon(int icon) override { Icons.push_back(icon); }
  std::u16string title() override { return u"prog.zav"; }
  std::u16string text() override { return {}; }
  std::u16string fileFolder() override { return {}; }

  int Count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : Calls) n += c == call ? 1 : 0;
    return n;
  }

  std::vector<std::string> Calls;
  std::vector<int> Icons;
  int32_t FirstVisible = 0;
  bool HighlightingSeen = false;

private:
  TInterpreter& in_;
};

// n lines of the statement, then the tail lines.
std::u16string Lines(int n, const std::u16string& statement, const std::u16string& tail = u"") {
  std::u16string text;
  for (int i = 0; i < n; ++i) {
    text += statement;
    text += u"\n";
  }
  text += tail;
  return text;
}

class RunTest : public ::testing::Test {
protected:
  RunTest() : in(*ts.S), view(in) {
    ts.Host.OnFindSource = [this](const std::u16string& name) -> SourceView* {
      return name == u"prog.zav" && windowOpen ? &view : nullptr;
    };
  }

  TAtom* Global(const std::u16string& name) {
    return IsAtom(ts.S->Root) ? TAtom::FindChildByName(*ts.S, *ts.S->Root, name) : nullptr;
  }

  TestState ts;
  TInterpreter in;
  RecordingView view;
  bool windowOpen = true;
};

}  // namespace

// --- RunText's results ------------------------------------------------------------

TEST_F(RunTest, EmptyTextRunsNothingAndSucceeds) {
  EXPECT_EQ(RunText(in, u"", u"cmd"), rrOk);
  EXPECT_TRUE(ts.Host.Lines.empty());
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  EXPECT_EQ(in.RunNesting, 0);
}

TEST_F(RunTest, AParseErrorGivesOneSilentlyAndLeavesTheTraceAsItWas) {
  TPosition older;
  older.SourceName = SharedText(u"older.zav");
  older.Line = 3;
  ts.S->AddTrace(older);
  EXPECT_EQ(RunText(in, u"print [1 2", u"cmd"), rrParseError);
  EXPECT_TRUE(ts.Host.Lines.empty());
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  ASSERT_EQ(ts.S->ErrorTrace.size(), 1u);
  EXPECT_EQ(U8(ts.S->ErrorTrace[0].SourceName), "older.zav");
}

TEST_F(RunTest, ARunErrorIsReportedAfterTheEarlierStatementsRan) {
  EXPECT_EQ(RunText(in, u"print 1, print :nosuch", u"cmd"), rrRunError);
  ASSERT_EQ(ts.Host.Lines.size(), 2u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "1");
  ASSERT_EQ(ts.Host.Dialogs.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[1].Text), U8(ts.Host.Dialogs[0].Message) + " (cmd:1)");
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
  EXPECT_EQ(in.RunState, rsEnded);
}

TEST_F(RunTest, TheCodePointerComesBackToWhereTheEntryFoundIt) {
  TAtom* cell = NewListCell(*ts.S, NewWord(*ts.S, u"x"), nullptr);
  in.CodePointer = cell;
  EXPECT_EQ(RunText(in, u"make \"a 1", u"cmd"), rrOk);
  EXPECT_EQ(in.CodePointer, cell);
  EXPECT_EQ(RunText(in, u"print :nosuch", u"cmd"), rrRunError);
  EXPECT_EQ(in.CodePointer, cell);
  EXPECT_EQ(RunText(in, u"print [", u"cmd"), rrParseError);
  EXPECT_EQ(in.CodePointer, cell);
  EXPECT_EQ(cell->RefCount, 0);
}

TEST_F(RunTest, AnErrorThreeCallsDeepReportsTheInnermostLine) {
  const std::u16string program = u"to h\nprint :nosuch\nend\nto g\nh\nend\nto f\ng\nend\nf";
  EXPECT_EQ(RunText(in, program, u"deep.zav"), rrRunError);
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), U8(ts.Host.Dialogs.at(0).Message) + " (deep.zav:2)");
}

TEST_F(RunTest, TheUnwindingRunnersBuildTheTraceWithTheFrameOwnerOnTheNewestEntry) {
  const TParseResult parsed =
      ParseText(in.Scanner(), u"to h\nprint :nosuch\nend\nto g\nh\nend\nto f\ng\nend\nf", u"deep.zav");
  ASSERT_TRUE(parsed.Ok);
  in.CodePointer = parsed.List;
  ts.ArmErrors(false);
  EXPECT_THROW(RunCode(in), LanguageError);
  const std::vector<TPosition>& trace = ts.S->ErrorTrace;
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace.front().Line, 2);
  EXPECT_EQ(trace.back().Line, 10);
  EXPECT_EQ(trace.back().FrameOwner, ts.S->Root);
  for (const TPosition& entry : trace) EXPECT_NE(entry.Statement, nullptr);
  ClearErrorHistory(in);
}

// --- RunProgramText ------------------------------------------------------------

TEST_F(RunTest, ProgramRunsReportParseErrorsToo) {
  EXPECT_EQ(RunProgramText(in, u"print [1 2", u"prog.zav"), rrParseError);
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), U8(ts.Host.Dialogs.at(0).Message) + " (prog.zav:1)");
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

TEST_F(RunTest, ProgramRunsShowTheElapsedTimeAndEndWithoutACodePointer) {
  in.CallDepth = 3;
  in.InterpretDepth = 2;
  in.TopRedrawPending = true;
  in.SceneDirty = true;
  EXPECT_EQ(RunProgramText(in, u"make \"a 1", u"prog.zav"), rrOk);
  ASSERT_EQ(ts.Host.ElapsedTimes.size(), 1u);
  EXPECT_TRUE(std::regex_match(U8(ts.Host.ElapsedTimes[0]), std::regex(R"([0-9]+\.[0-9]{3} s)")))
      << U8(ts.Host.ElapsedTimes[0]);
  EXPECT_EQ(in.CodePointer, nullptr);
  EXPECT_EQ(in.CallDepth, 0);
  EXPECT_EQ(in.InterpretDepth, 0);
  EXPECT_FALSE(in.SceneDirty);
  EXPECT_GE(ts.Host.MemoryRefreshes, 1);
  EXPECT_EQ(ts.Host.Graphics.Calls.back(), "resumePainting");
  // The debug marker of the run's source window goes.
  EXPECT_EQ(view.Count("hide"), 1);
  EXPECT_NE(Global(u"a"), nullptr);
}

TEST_F(RunTest, ProgramRunErrorsGiveTwo) {
  EXPECT_EQ(RunProgramText(in, u"make \"a 1\nprint :nosuch", u"other.zav"), rrRunError);
  EXPECT_EQ(U8(ts.Host.Lines.at(0).Text), U8(ts.Host.Dialogs.at(0).Message) + " (other.zav:2)");
  EXPECT_EQ(ts.Host.ElapsedTimes.size(), 1u);
}

TEST_F(RunTest, AProgramRunFromThePumpGivesTheInterruptedRunItsStatementBack) {
  bool ran = false;
  ts.Host.OnPump = [&] {
    if (ran) return;
    ran = true;
    EXPECT_EQ(RunProgramText(in, u"make \"inner 1", u"inner.zav"), rrOk);
  };
  EXPECT_EQ(RunText(in, Lines(170, u"make \"a 1", u"print :nosuch"), u"outer.zav"), rrRunError);
  EXPECT_TRUE(ran);
  EXPECT_NE(Global(u"inner"), nullptr);
  EXPECT_EQ(U8(ts.Host.Lines.at(0).Text), U8(ts.Host.Dialogs.at(0).Message) + " (outer.zav:171)");
}

// --- scene redraw requests ---------------------------------------------------------

TEST_F(RunTest, ADirtySceneIsRedrawnWhenARunStartsAndATopLevelChangeAfterTheStatement) {
  in.SceneDirty = true;
  EXPECT_EQ(RunText(in, u"make \"a 1", u"cmd"), rrOk);
  EXPECT_EQ(ts.Host.Graphics.Calls, std::vector<std::string>{"redrawScene"});
  EXPECT_FALSE(in.SceneDirty);

  ts.Host.Graphics.Calls.clear();
  EXPECT_EQ(RunText(in, u"make \"a 1", u"cmd"), rrOk);
  EXPECT_TRUE(ts.Host.Graphics.Calls.empty());

  in.TopRedrawPending = true;
  EXPECT_EQ(RunText(in, u"make \"a 1\nmake \"b 2", u"cmd"), rrOk);
  EXPECT_EQ(ts.Host.Graphics.Calls, std::vector<std::string>{"redrawScene"});
  EXPECT_FALSE(in.TopRedrawPending);
}

TEST_F(RunTest, ATopLevelRedrawWaitsForTheReturnFromProcedures) {
  int pumps = 0;
  size_t redrawsInside = 99;
  ts.Host.OnPump = [&] {
    if (++pumps == 1)
      in.TopRedrawPending = true;
    else
      redrawsInside = ts.Host.Graphics.Calls.size();
  };
  // Both pumps (statements 160 and 320) come inside f's body.
  EXPECT_EQ(RunText(in, Lines(150, u"make \"a 1", u"to f\n" + Lines(200, u"make \"b 1") + u"end\nf"), u"cmd"), rrOk);
  EXPECT_EQ(pumps, 2);
  EXPECT_EQ(redrawsInside, 0u);
  EXPECT_EQ(ts.Host.Graphics.Calls, std::vector<std::string>{"redrawScene"});
}

// --- pumping -----------------------------------------------------------------------

TEST_F(RunTest, MessagesArePumpedBeforeEvery160thStatementOutsidePlaneEvents) {
  for (int i = 0; i < 159; ++i) PumpMessagesPeriodically(in);
  EXPECT_EQ(ts.Host.Pumps, 0);
  PumpMessagesPeriodically(in);
  EXPECT_EQ(ts.Host.Pumps, 1);
  in.InPlaneEvent = true;
  for (int i = 0; i < 160; ++i) PumpMessagesPeriodically(in);
  EXPECT_EQ(ts.Host.Pumps, 1);
  EXPECT_EQ(in.StatementCounter, 320u);
}

TEST_F(RunTest, AFinalisersPumpRequestIsServedAfterTheStatement) {
  ts.S->PumpPending = true;
  EXPECT_EQ(RunText(in, u"make \"a 1", u"cmd"), rrOk);
  EXPECT_FALSE(ts.S->PumpPending);
  EXPECT_EQ(ts.Host.Pumps, 1);
}

TEST_F(RunTest, StopFromThePumpEndsStraightCodeAtThatStatement) {
  ts.Host.OnPump = [this] { in.RunState = rsStop; };
  EXPECT_EQ(RunText(in, Lines(400, u"make \"a 1"), u"cmd"), rrOk);
  EXPECT_EQ(in.StatementCounter, 160u);
}

// --- runs nested in a pump ------------------------------------------------------------

TEST_F(RunTest, ARunFromThePumpLeavesTheInterruptedRunsStateIntact) {
  TAtom* result = NewWord(*ts.S, u"r");
  TAtom* last = NewWord(*ts.S, u"l");
  bool ran = false;
  ts.Host.OnPump = [&] {
    if (ran) return;
    ran = true;
    // Distinctive values that the nested run would change.
    TStructure& s = *ts.S;
    TAtom* const savedResult = in.ResultAtom;
    TAtom* const savedLast = in.LastValue;
    const bool savedInWhile = s.InWhile;
    const int64_t savedWhile = s.WhileCounter;
    const int64_t savedRepeat = s.RepeatCounter;
    in.ResultAtom = result;
    in.LastValue = last;
    in.StopFlag = true;
    s.InWhile = true;
    s.WhileCounter = 41;
    s.RepeatCounter = 42;

    const TPosition position = s.CurrentPosition;
    const TPosition parse = s.ParsePosition;
    TAtom* const codePointer = in.CodePointer;
    const int32_t interpretDepth = in.InterpretDepth;
    const int32_t callDepth = in.CallDepth;

    EXPECT_EQ(RunText(in, u"make \"inner 1\nprint :nosuch", u"inner.zav"), rrRunError);

    EXPECT_EQ(in.CodePointer, codePointer);
    EXPECT_EQ(s.CurrentPosition.Line, position.Line);
    EXPECT_EQ(s.CurrentPosition.StartPos, position.StartPos);
    EXPECT_EQ(s.CurrentPosition.EndPos, position.EndPos);
    EXPECT_EQ(s.CurrentPosition.Statement, position.Statement);
    EXPECT_EQ(s.CurrentPosition.Depth, position.Depth);
    EXPECT_EQ(U8(s.CurrentPosition.SourceName), U8(position.SourceName));
    EXPECT_EQ(U8(s.ParsePosition.SourceName), U8(parse.SourceName));
    EXPECT_EQ(s.ParsePosition.StartPos, parse.StartPos);
    EXPECT_EQ(s.ParsePosition.Line, parse.Line);
    EXPECT_EQ(in.ResultAtom, result);
    EXPECT_EQ(in.LastValue, last);
    EXPECT_TRUE(in.StopFlag);
    EXPECT_TRUE(s.InWhile);
    EXPECT_EQ(s.WhileCounter, 41);
    EXPECT_EQ(s.RepeatCounter, 42);
    EXPECT_EQ(in.InterpretDepth, interpretDepth);
    EXPECT_EQ(in.CallDepth, callDepth);
    EXPECT_EQ(result->RefCount, 0);
    EXPECT_EQ(in.RunNesting, 1);

    in.ResultAtom = savedResult;
    in.LastValue = savedLast;
    in.StopFlag = false;
    s.InWhile = savedInWhile;
    s.WhileCounter = savedWhile;
    s.RepeatCounter = savedRepeat;
  };
  EXPECT_EQ(RunText(in, Lines(170, u"make \"a 1", u"make \"done 1"), u"outer.zav"), rrOk);
  EXPECT_TRUE(ran);
  EXPECT_NE(Global(u"done"), nullptr);
  EXPECT_NE(Global(u"inner"), nullptr);
}

TEST_F(RunTest, TheStatementInterruptedByARunFromThePumpStillReportsItsError) {
  ts.Host.OnPump = [this] { RunText(in, u"make \"b 2", u"handler"); };
  EXPECT_EQ(RunText(in, Lines(159, u"make \"a 1", u"print :nosuch"), u"outer.zav"), rrRunError);
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), U8(ts.Host.Dialogs.at(0).Message) + " (outer.zav:160)");
}

TEST_F(RunTest, AReportFromANestedRunLeavesTheOuterRunRunning) {
  in.RunState = rsRunning;
  int nested = -1;
  ts.Host.OnPump = [&] { nested = RunText(in, u"print :nosuch", u"handler"); };
  EXPECT_EQ(RunText(in, Lines(170, u"make \"a 1", u"make \"done 1"), u"outer.zav"), rrOk);
  EXPECT_EQ(nested, rrRunError);
  EXPECT_EQ(in.RunState, rsRunning);
  EXPECT_NE(Global(u"done"), nullptr);
}

TEST_F(RunTest, AResetAskedForFromThePumpWaitsForTheOutermostRun) {
  in.LibraryLoadCommands = u"make \"lib 1";
  TAtom* const oldRoot = ts.S->Root;
  bool asked = false;
  ts.Host.OnPump = [&] {
    if (asked) return;
    asked = true;
    EXPECT_FALSE(ResetInterpreter(in));
    EXPECT_TRUE(in.ResetPending);
    EXPECT_EQ(ts.S->Root, oldRoot);
    EXPECT_TRUE(ts.Host.Graphics.Calls.empty());
  };
  EXPECT_EQ(RunText(in, Lines(170, u"make \"a 1", u"print \"done"), u"outer.zav"), rrOk);
  EXPECT_TRUE(asked);
  EXPECT_EQ(ts.Host.Output(), "done");
  EXPECT_FALSE(in.ResetPending);
  EXPECT_NE(ts.S->Root, oldRoot);
  EXPECT_NE(Global(u"lib"), nullptr);
  EXPECT_EQ(Global(u"a"), nullptr);
}

TEST_F(RunTest, RunsEndedFiresOncePerOutermostReturnAfterTheDeferredReset) {
  in.LibraryLoadCommands = u"make \"lib 1";
  int nestedRuns = 0;
  ts.Host.OnPump = [&] {
    if (nestedRuns++ > 0) return;
    EXPECT_EQ(RunText(in, u"make \"inner 1", u"handler"), rrOk);
    EXPECT_EQ(ts.Host.RunsEnded, 0);  // a nested return is not the end
    ResetInterpreter(in);
  };
  bool resetDoneFirst = false;
  ts.Host.OnRunsEnded = [&] { resetDoneFirst = !in.ResetPending && Global(u"lib") != nullptr; };
  EXPECT_EQ(RunText(in, Lines(170, u"make \"a 1"), u"outer.zav"), rrOk);
  // The deferred reset's own library run does not count as another end.
  EXPECT_EQ(ts.Host.RunsEnded, 1);
  EXPECT_TRUE(resetDoneFirst);
  EXPECT_EQ(RunProgramText(in, u"make \"b 1", u"prog.zav"), rrOk);
  EXPECT_EQ(ts.Host.RunsEnded, 2);
}

TEST_F(RunTest, ADeferredResetAfterAStopRequestStillLoadsTheLibraries) {
  in.LibraryLoadCommands = u"make \"lib 1, make \"lib2 2";
  bool asked = false;
  ts.Host.OnPump = [&] {
    if (asked) return;
    asked = true;
    SetRunState(in, rsStop);
    ResetInterpreter(in);
  };
  RunText(in, Lines(170, u"make \"a 1"), u"outer.zav");
  EXPECT_TRUE(asked);
  EXPECT_NE(Global(u"lib2"), nullptr);
  EXPECT_EQ(in.RunState, rsStop);  // the request stays for whoever asked
}

TEST_F(RunTest, NothingTheHostThrowsAtTheEndOfARunEscapes) {
  ts.Host.OnRunsEnded = [] { throw std::runtime_error("host failure"); };
  EXPECT_EQ(RunText(in, u"make \"a 1", u"cmd"), rrOk);
  EXPECT_EQ(in.RunNesting, 0);
  EXPECT_FALSE(in.EndingRuns);
}

// --- the reset --------------------------------------------------------------------------

TEST_F(RunTest, AResetMakesAFreshRootAndRunsTheLibraryCommands) {
  ASSERT_EQ(RunText(in, u"make \"old 1", u"cmd"), rrOk);
  TAtom* const oldRoot = ts.S->Root;
  in.LibraryLoadCommands = u"make \"lib 1";
  in.CallDepth = 4;
  in.TopRedrawPending = true;
  ts.S->AddTrace(ts.S->CurrentPosition);
  ts.S->CurrentPosition.SourceName = SharedText(u"x.zav");
  ts.S->CurrentPosition.Line = 5;

  EXPECT_FALSE(ResetInterpreter(in));
  EXPECT_NE(ts.S->Root, oldRoot);
  EXPECT_EQ(U8(ts.S->Root->Text), "[Root]");
  ASSERT_NE(ts.S->Frame(), nullptr);
  EXPECT_EQ(ts.S->Frame()->Owner, ts.S->Root);
  EXPECT_EQ(ts.S->Frame()->Parent, nullptr);
  EXPECT_NE(Global(u"lib"), nullptr);
  EXPECT_EQ(Global(u"old"), nullptr);
  EXPECT_EQ(in.CallDepth, 0);
  EXPECT_FALSE(in.TopRedrawPending);
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
  EXPECT_EQ(ts.S->CurrentPosition.Line, -1);
  EXPECT_TRUE(ts.S->CurrentPosition.SourceName.empty());
  EXPECT_EQ(ts.Host.ElapsedTimes, std::vector<std::u16string>{u""});
  EXPECT_EQ(ts.Host.Graphics.Calls, (std::vector<std::string>{"resetPlane", "redrawScene"}));
}

TEST_F(RunTest, AResetWhoseLibraryCommandsFailReportsFailureButLeavesAFreshRoot) {
  in.LibraryLoadCommands = u"print :nosuch";
  EXPECT_TRUE(ResetInterpreter(in));
  EXPECT_EQ(ts.Host.Dialogs.size(), 1u);
  ASSERT_NE(ts.S->Root, nullptr);
  EXPECT_EQ(ts.S->Root->FirstChild, nullptr);
  EXPECT_EQ(in.RunNesting, 0);

  in.LibraryLoadCommands = u"print [";
  EXPECT_TRUE(ResetInterpreter(in));
  in.LibraryLoadCommands.clear();
  EXPECT_FALSE(ResetInterpreter(in));
}

// --- stepping: the statement hook's rules --------------------------------------------

class StepTest : public RunTest {
protected:
  StepTest() {
    // Each wait answers like a click on the step button that started it.
    ts.Host.OnWait = [this](int) {
      ++waits;
      in.RunState = resume;
    };
  }

  void At(const std::u16string& source, int32_t line, int32_t depth) {
    ts.S->CurrentPosition.SourceName = SharedText(source);
    ts.S->CurrentPosition.Line = line;
    ts.S->CurrentPosition.StartPos = line * 10;
    ts.S->CurrentPosition.EndPos = line * 10 + 5;
    in.InterpretDepth = depth;
  }

  int Pauses() const { return view.Count("end paused"); }

  int waits = 0;
  uint8_t resume = rsRunStep;
};

TEST_F(StepTest, StepIntoPausesAtEveryStatement) {
  in.RunState = rsRunStep;
  At(u"prog.zav", 1, 1);
  StatementHook(in);
  At(u"prog.zav", 7, 3);
  StatementHook(in);
  EXPECT_EQ(Pauses(), 2);
  EXPECT_EQ(in.PausePosition.Line, 7);
  EXPECT_EQ(in.StepDepth, 3);
}

TEST_F(StepTest, StepOverPausesAtTopLevelAndNoDeeperThanTheLastPauseOnAnotherLine) {
  in.RunState = rsRunCommand;
  resume = rsRunCommand;
  in.StepDepth = -1;
  At(u"prog.zav", 1, 1);
  StatementHook(in);
  EXPECT_EQ(Pauses(), 1);
  EXPECT_EQ(in.StepDepth, 1);
  EXPECT_EQ(in.StepLine, 1);

  At(u"prog.zav", 2, 2);  // inside a called procedure
  StatementHook(in);
  EXPECT_EQ(Pauses(), 1);

  in.StepDepth = 2;
  in.StepLine = 2;
  At(u"prog.zav", 2, 2);  // same depth, same line
  StatementHook(in);
  EXPECT_EQ(Pauses(), 1);
  At(u"prog.zav", 3, 2);  // same depth, next line
  StatementHook(in);
  EXPECT_EQ(Pauses(), 2);
  EXPECT_EQ(in.StepLine, 3);
  At(u"prog.zav", 4, 3);  // deeper
  StatementHook(in);
  EXPECT_EQ(Pauses(), 2);
}

TEST_F(StepTest, RunToPausesOnlyAtTheTargetLineOfTheTargetSource) {
  in.RunState = rsRunTo;
  resume = rsRunTo;
  in.RunToPosition.SourceName = SharedText(u"prog.zav");
  in.RunToPosition.Line = 5;
  At(u"prog.zav", 4, 1);
  StatementHook(in);
  At(u"other.zav", 5, 1);
  StatementHook(in);
  EXPECT_EQ(Pauses(), 0);
  At(u"prog.zav", 5, 2);
  StatementHook(in);
  EXPECT_EQ(Pauses(), 1);
}

TEST_F(StepTest, OtherStatesNeverPause) {
  for (uint8_t state : {rsIdle, rsStop, rsEnded, rsFinalRedraw, rsRunning}) {
    in.RunState = state;
    At(u"prog.zav", 1, 1);
    StatementHook(in);
  }
  EXPECT_EQ(Pauses(), 0);
  EXPECT_TRUE(ts.Host.RunStates.empty());
}

TEST_F(StepTest, AStatementOfASourceThatIsNotOpenNeverPauses) {
  windowOpen = false;
  in.RunState = rsRunStep;
  At(u"prog.zav", 1, 1);
  StatementHook(in);
  in.RunState = rsRunTo;
  in.RunToPosition.SourceName = SharedText(u"prog.zav");
  in.RunToPosition.Line = 1;
  StatementHook(in);
  EXPECT_EQ(waits, 0);
  EXPECT_TRUE(view.Calls.empty());
  EXPECT_TRUE(ts.Host.RunStates.empty());
}

// --- the pause loop -----------------------------------------------------------------------

TEST_F(StepTest, APauseShowsTheStatementWaitsWhilePausedAndEndsTheDisplay) {
  int polls = 0;
  ts.Host.OnWait = [&](int) {
    EXPECT_EQ(in.RunState, rsPaused);
    if (++polls == 12) in.RunState = rsRunStep;
  };
  in.RunState = rsRunStep;
  At(u"prog.zav", 2, 1);
  StatementHook(in);
  EXPECT_EQ(polls, 12);
  EXPECT_EQ(ts.Host.WaitedMs, 1200);
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"front", "debug 20", "paused 20-25", "end paused"}));
  EXPECT_TRUE(view.HighlightingSeen);
  EXPECT_FALSE(in.HighlightingStatement);
  // The icon blinks on polls 4 and 10 and is cleared at the end.
  EXPECT_EQ(view.Icons, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(ts.Host.RunStates, std::vector<uint8_t>{rsPaused});
  EXPECT_GE(ts.Host.MemoryRefreshes, 1);
  EXPECT_EQ(ts.Host.Graphics.Calls, std::vector<std::string>{"redrawScene"});
}

TEST_F(StepTest, TheDebugMarkerFollowsTheEditorsScrolling) {
  int polls = 0;
  ts.Host.OnWait = [&](int) {
    ++polls;
    if (polls == 2) view.FirstVisible = 30;
    if (polls == 4) in.RunState = rsRunStep;
  };
  in.RunState = rsRunStep;
  At(u"prog.zav", 2, 1);
  StatementHook(in);
  EXPECT_EQ(view.Count("debug 20"), 2);
}

TEST_F(StepTest, ClosingTheWindowWhilePausedGoesOnRunning) {
  ts.Host.OnWait = [this](int) { windowOpen = false; };
  in.RunState = rsRunStep;
  At(u"prog.zav", 2, 1);
  StatementHook(in);
  EXPECT_EQ(in.RunState, rsRunning);
  EXPECT_EQ(ts.Host.RunStates, (std::vector<uint8_t>{rsPaused, rsRunning}));
  EXPECT_EQ(view.Count("end paused"), 0);
}

TEST_F(StepTest, StepIntoThroughARunPausesAtEachStatementWithItsLine) {
  std::vector<int32_t> lines;
  ts.Host.OnWait = [&](int) {
    lines.push_back(ts.S->CurrentPosition.Line);
    in.RunState = rsRunStep;
  };
  in.RunState = rsRunStep;
  EXPECT_EQ(RunText(in, u"make \"a 1\nmake \"b 2\nmake \"c 3", u"prog.zav"), rrOk);
  EXPECT_EQ(lines, (std::vector<int32_t>{1, 2, 3}));
}

namespace {

// Stepping that starts in the middle of a loop whose rounds run their
// statements the short way: each statement pauses, with its own line and
// the values the statements before it left, as with the short ways off.
std::vector<std::string> PausesOfALoopSteppedFromThePump(bool fastPaths) {
  TestState t;
  t.S->FastPaths = fastPaths;
  TInterpreter in{*t.S};
  RecordingView view(in);
  t.Host.OnFindSource = [&](const std::u16string& name) -> SourceView* {
    return name == u"prog.zav" ? &view : nullptr;
  };
  EXPECT_EQ(RunText(in, u"to add :a :b\noutput dll.zavta.LOGOSUM\nend", u"library"), rrOk);
  t.Host.OnPump = [&] {
    if (t.Host.Pumps == 1) in.RunState = rsRunStep;
  };
  std::vector<std::string> pauses;
  t.Host.OnWait = [&](int) {
    const TAtom* x = t.S->FindName(u"x", nullptr);
    pauses.push_back(std::to_string(t.S->CurrentPosition.Line) + " " + U8(TAtom::ToText(*t.S, x->Left)));
    in.RunState = pauses.size() < 5 ? rsRunStep : rsRunning;
  };
  EXPECT_EQ(RunText(in, u"make \"x 0\nrepeat 200 [make \"x add :x 1\nmake \"y :x]\nprint :x :y", u"prog.zav"), rrOk);
  EXPECT_EQ(t.Host.Lines.size(), 1u);
  return pauses;
}

}  // namespace

TEST(LoopStepTest, SteppingThatStartsInsideALoopPausesAtEachStatementOfItsRounds) {
  const std::vector<std::string> fast = PausesOfALoopSteppedFromThePump(true);
  EXPECT_EQ(fast, PausesOfALoopSteppedFromThePump(false));
  EXPECT_EQ(fast.size(), 5u);
}

TEST_F(StepTest, StopWhilePausedEndsTheRun) {
  ts.Host.OnWait = [this](int) { in.RunState = rsStop; };
  in.RunState = rsRunStep;
  EXPECT_EQ(RunText(in, u"make \"a 1\nmake \"b 2", u"prog.zav"), rrOk);
  EXPECT_EQ(Pauses(), 1);
  EXPECT_EQ(Global(u"a"), nullptr);
  EXPECT_EQ(Global(u"b"), nullptr);
}

// --- the stack guard ----------------------------------------------------------------------

TEST_F(RunTest, TheStackGuardRaisesPastItsBudgetEvenWithoutALine) {
  ts.ArmErrors(false);
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  in.SetRunStack(here + 64 * 1024, 1024);
  try {
    CheckStack(in);
    FAIL() << "no error raised";
  } catch (const LanguageError& error) {
    EXPECT_EQ(U8(error.Message()), "STACKOVERFLOW");
  }
  ASSERT_FALSE(ts.S->ErrorTrace.empty());
  EXPECT_EQ(U8(ts.S->ErrorTrace.back().Topic), "stack-overflow");
  ClearErrorHistory(in);

  in.SetRunStack(here + 64 * 1024, 1024 * 1024);
  EXPECT_NO_THROW(CheckStack(in));
  in.SetRunStack(0, 0);
  EXPECT_NO_THROW(CheckStack(in));
}

// The run stack moves the limit while a run is on it: the check follows.
TEST_F(RunTest, TheStackGuardFollowsAMovedStackLimit) {
  ts.ArmErrors(false);
  const uintptr_t threadLimit = ts.S->StackLimit();
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  ts.S->SetStackLimit(here - 1024);  // the reserve reaches past this frame
  EXPECT_THROW(CheckStack(in), LanguageError);
  ClearErrorHistory(in);
  ts.S->SetStackLimit(threadLimit);
  EXPECT_NO_THROW(CheckStack(in));
}

TEST_F(RunTest, InfiniteRecursionIsALanguageErrorReportedOnce) {
  EXPECT_EQ(RunText(in, u"to f\nf\nend\nf", u"rec.zav"), rrRunError);
  ASSERT_EQ(ts.Host.Dialogs.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Message), "STACKOVERFLOW");
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Topic), "stack-overflow");
  EXPECT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(in.RunNesting, 0);
  EXPECT_EQ(in.StackBase, 0u);
  ASSERT_NE(ts.S->Frame(), nullptr);
  EXPECT_EQ(ts.S->Frame()->Owner, ts.S->Root);
  EXPECT_EQ(in.CallDepth, 0);
  EXPECT_EQ(in.InterpretDepth, 0);
}
