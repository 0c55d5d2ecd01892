// The short ways of a call. A finished call whose frame nothing can still
// see leaves it (with its input cells) to a later call of the same
// procedure: the answers stay those of fresh frames, in every case where the
// frame could still be seen the call makes a new one, and a reset lets go of
// what was kept. A wrapper's body runs without the statement loop, and
// fails exactly as it would have in it.

#include <gtest/gtest.h>

#include <cfenv>
#include <string>
#include <tuple>
#include <vector>

#include "core/Exports.h"
#include "core/Lexem.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

class CallFastPaths : public ::testing::Test {
protected:
  CallFastPaths() {
    Run(u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\n"
        u"to firstof :thing\noutput dll.zavta.LOGOFIRST\nend\n"
        u"to same :n\noutput :n\nend\n"
        u"to sub :a :b\noutput dll.zavta.LOGOSUB\nend\n"
        u"to less :a :b\noutput dll.zavta.LOGOLESSP\nend");
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  std::string LastLine() const { return T.Host.Lines.empty() ? "" : U8(T.Host.Lines.back().Text); }
  // The last line printed by running text that must succeed.
  std::string Printed(std::u16string_view text) {
    EXPECT_EQ(Run(text), 0) << U8(std::u16string(text));
    return LastLine();
  }
  // New atoms made by running text.
  int64_t AtomsMadeBy(std::u16string_view text) {
    const int64_t before = S.CreatedCount() - S.FreeCount;
    EXPECT_EQ(Run(text), 0) << U8(std::u16string(text));
    return S.CreatedCount() - S.FreeCount - before;
  }
  size_t KeptFramesOf(std::u16string_view name) {
    const auto kept = I.SpareCallFrames.find(S.FindName(name));
    return kept == I.SpareCallFrames.end() ? 0 : kept->second.Frames.size();
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(CallFastPaths, RepeatedCallsMakeOnlyTheirResults) {
  ASSERT_EQ(Run(u"make \"x add 1 2\nmake \"y same 1"), 0);  // compiles the bodies, keeps their frames
  // A hundred calls of each: a hundred results, the counter's numbers and
  // the parsed text; new frames would add three atoms a call.
  EXPECT_LE(AtomsMadeBy(u"repeat 100 [make \"x add :x repeat]"), 250);
  EXPECT_LE(AtomsMadeBy(u"repeat 100 [make \"y same repeat]"), 150);
  ASSERT_EQ(Run(u"print :x :y"), 0);
  EXPECT_EQ(LastLine(), "5053 100");  // 3 + 1 + 2 + ... + 100
}

TEST_F(CallFastPaths, RecursionKeepsAFrameALevel) {
  EXPECT_EQ(Printed(u"to fib :n\nif less :n 2 [output :n]\noutput add fib sub :n 1 fib sub :n 2\nend\nprint fib 10"),
            "55");
  EXPECT_GE(KeptFramesOf(u"fib"), 1u);
  EXPECT_LE(KeptFramesOf(u"fib"), 11u);
  // 177 calls of fib and 441 of the wrappers, each answering a new atom:
  // new frames would add more than 1,500 atoms.
  EXPECT_LE(AtomsMadeBy(u"make \"r fib 10"), 550);
  EXPECT_EQ(Printed(u"print :r"), "55");
}

TEST_F(CallFastPaths, CallsThatCouldStillSeeTheirFrameGetNewOnes) {
  ASSERT_EQ(Run(u"print add 1 2"), 0);
  // An object input binds as a variable: a fresh frame, the right answer.
  ASSERT_EQ(Run(u"to maxof :object\noutput dll.zavta.LOGOSETMAX\nend\nprint maxof 1"), 0);
  EXPECT_EQ(Printed(u"make \"'obj.#2' 5\nprint maxof :obj"), "2");
  EXPECT_EQ(Printed(u"make \"'obj.#7' 5\nprint maxof :obj"), "7");
  EXPECT_EQ(Printed(u"print firstof [p q]"), "p");
  // An error inside the call leaves its frame to the error report.
  EXPECT_EQ(Run(u"print firstof []"), 2);
  EXPECT_EQ(Printed(u"print firstof [r s]"), "r");
  // A redefined procedure runs its new body.
  EXPECT_EQ(Printed(u"to add :a :b\noutput dll.zavta.LOGOMUL\nend\nprint add 3 4"), "12");
  EXPECT_EQ(Printed(u"print add 5 6"), "30");
}

TEST_F(CallFastPaths, FramesHandedOnStayTheirCallers) {
  // A procedure without OUTPUT yields its frame: each call's object is its own.
  EXPECT_EQ(Printed(u"to point :px\nend\nmake \"p1 point 1\nmake \"p2 point 2\nprint :p1.px :p2.px"), "1 2");
  EXPECT_EQ(KeptFramesOf(u"point"), 0u);
  // A cell handed on by an assignment, or a local made, keeps the frame new.
  EXPECT_EQ(Printed(u"to bump :n\nmake \"n add :n 1\noutput :n\nend\nprint bump 1"), "2");
  EXPECT_EQ(KeptFramesOf(u"bump"), 0u);
  ASSERT_EQ(Run(u"to withlocal :n\nlocal \"t\noutput :n\nend\nprint withlocal 4"), 0);
  EXPECT_EQ(KeptFramesOf(u"withlocal"), 0u);
  // Storing an input's value elsewhere shares the value, not the cell.
  EXPECT_EQ(Printed(u"to keep :n\nmake \"seen :n\noutput :n\nend\nprint keep 5\nprint keep 6\nprint :seen"), "6");
  EXPECT_EQ(KeptFramesOf(u"keep"), 1u);
}

TEST_F(CallFastPaths, RoutinesWithoutThePromiseKeepFramesNew) {
  // A routine registered without the promise to keep no argument cell
  // makes every enclosing call's frame new.
  I.Exports.Register(exLOGONOT, I.Exports.Routine(exLOGONOT), false);
  ASSERT_EQ(Run(u"to flip :x\noutput dll.zavta.LOGONOT\nend\nto outer :v\noutput flip :v\nend\nprint outer \"true"), 0);
  EXPECT_EQ(LastLine(), "false");
  EXPECT_GE(AtomsMadeBy(u"repeat 10 [make \"y outer \"true]"), 40);
  EXPECT_EQ(KeptFramesOf(u"flip"), 0u);
  EXPECT_EQ(KeptFramesOf(u"outer"), 0u);
}

TEST_F(CallFastPaths, WrapperBodiesFailAsTheStatementLoopWouldHave) {
  ASSERT_EQ(Run(u"to outer :l\nmake \"r firstof :l\nend\nouter [a]"), 0);  // compiles both bodies
  const size_t routine = static_cast<size_t>(I.ExportRoutineIndex[exLOGOFIRST] - 1);
  ASSERT_LT(routine, I.RoutineKeepsNoCells.size());
  ASSERT_TRUE(I.RoutineKeepsNoCells[routine]);
  // Runs "outer []" without a run entry, so the trace stays to be read.
  TAtom* const program = ParseText(I.Scanner(), u"outer []", u"test").List;
  const PinnedAtom pinProgram(program);
  auto failure = [&](bool shortWay) {
    I.RoutineKeepsNoCells[routine] = shortWay;
    ClearErrorHistory(I);
    I.CodePointer = program;
    S.CurrentPosition = TPosition{};
    std::u16string message;
    try {
      RunCode(I);
    } catch (const LanguageError& e) {
      message = e.Message();
    }
    EXPECT_FALSE(message.empty());
    return std::make_pair(message, S.ErrorTrace);
  };
  const auto [shortMessage, shortTrace] = failure(true);
  const int32_t depthAfterShort = I.InterpretDepth;
  const auto [loopMessage, loopTrace] = failure(false);
  EXPECT_EQ(I.InterpretDepth, depthAfterShort);
  EXPECT_EQ(shortMessage, loopMessage);
  ASSERT_EQ(shortTrace.size(), loopTrace.size());
  ASSERT_GE(shortTrace.size(), 2u);
  for (size_t i = 0; i < shortTrace.size(); ++i) {
    const TPosition& a = shortTrace[i];
    const TPosition& b = loopTrace[i];
    EXPECT_EQ(a.StartPos, b.StartPos) << i;
    EXPECT_EQ(a.EndPos, b.EndPos) << i;
    EXPECT_EQ(a.Line, b.Line) << i;
    EXPECT_EQ(a.Depth, b.Depth) << i;
    EXPECT_EQ(a.Topic, b.Topic) << i;
    EXPECT_EQ(a.Procedure, b.Procedure) << i;
    EXPECT_EQ(a.Statement, b.Statement) << i;
    EXPECT_EQ(a.SourceName.str(), b.SourceName.str()) << i;
    // Each failed call had a frame of its own.
    EXPECT_EQ(a.FrameOwner == nullptr, b.FrameOwner == nullptr) << i;
  }
  ClearErrorHistory(I);
}

TEST_F(CallFastPaths, KeptFramesLetGoInsideRunningCallsAreNotKeptAgain) {
  // A routine (promising to keep no cell) that lets every kept frame go
  // while two calls around it run.
  I.Exports.Register(
      exLOGONOT,
      [](TInterpreter& in) -> TAtom* {
        ReleaseSpareCallFrames(in);
        return in.S.Language.TrueAtom;
      },
      true);
  ASSERT_EQ(Run(u"to letgo :x\noutput dll.zavta.LOGONOT\nend\nto outer :v\noutput letgo :v\nend"), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Printed(u"print outer 1"), "TRUE");
  EXPECT_EQ(KeptFramesOf(u"outer"), 0u);
  EXPECT_EQ(KeptFramesOf(u"letgo"), 0u);
}

TEST_F(CallFastPaths, AFrameIsKeptOnlyWhenNoRunEntryStartedDuringItsCall) {
  // Routines promising to keep no cell: one starts a run entry (as a
  // message pump's handler would), whose code may see the running frames.
  static bool nestedRun = false;
  I.Exports.Register(
      exLOGONOT,
      [](TInterpreter& in) -> TAtom* {
        if (nestedRun) static_cast<void>(RunText(in, u"make \"seen 1", u""));
        return in.S.Language.TrueAtom;
      },
      true);
  ASSERT_EQ(Run(u"to probe :x\noutput dll.zavta.LOGONOT\nend\nto caller :v\noutput probe :v\nend"), 0);
  for (const bool nested : {false, true}) {
    nestedRun = nested;
    ReleaseSpareCallFrames(I);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Printed(u"print caller 1"), "TRUE");
    EXPECT_EQ(KeptFramesOf(u"caller") > 0, !nested) << nested;
  }
}

TEST_F(CallFastPaths, AFrameIsKeptAcrossPumpsOnlyWhereNoWindowShowsVariables) {
  // Every call's body runs more statements than lie between two pumps.
  ASSERT_EQ(Run(u"to long :n\nrepeat 200 [make \"t :n]\noutput :n\nend"), 0);
  for (const bool shows : {true, false}) {
    T.Host.ShowsVariables = shows;
    ReleaseSpareCallFrames(I);
    const int pumpsBefore = T.Host.Pumps;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Printed(u"print long 7"), "7");
    EXPECT_GE(T.Host.Pumps - pumpsBefore, 3);
    EXPECT_EQ(KeptFramesOf(u"long") > 0, !shows) << shows;
  }
}

// A frameless routine trusts the modes found the default before only while
// nothing that could change them ran: a pump (the host) did, so the next
// routine finds them the default again. The square root of 2 rounds up
// differently from the nearest value.
TEST_F(CallFastPaths, FramelessRoutinesRunInTheDefaultModesAfterThePump) {
  ASSERT_EQ(Run(u"to root :x\noutput dll.zavta.LOGOSQRT\nend\nmake \"a root 2"), 0);
  T.Host.OnPump = [] { std::fesetround(FE_UPWARD); };
  for (const bool fast : {true, false}) {
    S.FastPaths = fast;
    const int pumpsBefore = T.Host.Pumps;
    EXPECT_EQ(Printed(u"make \"drift 0\nrepeat 400 [make \"drift add :drift sub root 2 :a]\nprint :drift"),
              "0")
        << fast;
    EXPECT_GE(T.Host.Pumps - pumpsBefore, 2);
  }
  T.Host.OnPump = nullptr;
  std::fesetround(FE_TONEAREST);
}

TEST_F(CallFastPaths, TruthAnswersShareOneWordEachUnlessTheSwitchIsOff) {
  ASSERT_EQ(Run(u"make \"a less 1 2\nmake \"b less 2 1\nmake \"c less 1 2"), 0);
  // A hundred comparisons (a frameless wrapper) make no word of their own.
  EXPECT_LE(AtomsMadeBy(u"repeat 100 [make \"c less 3 2]"), 20);
  EXPECT_EQ(Printed(u"print :a :b :c"), "true false false");
  S.FastPaths = false;
  EXPECT_GE(AtomsMadeBy(u"repeat 100 [make \"c less 3 2]"), 100);
  EXPECT_EQ(Printed(u"print :a :b :c less 1 2"), "true false false true");
}

TEST_F(CallFastPaths, TheSwitchTurnsEveryShortWayOff) {
  S.FastPaths = false;
  EXPECT_EQ(Printed(u"make \"x add 1 2\nrepeat 10 [make \"x add :x repeat]\nprint :x"), "58");
  EXPECT_EQ(KeptFramesOf(u"add"), 0u);
  // Each call makes its frame and its two input cells anew.
  EXPECT_GE(AtomsMadeBy(u"repeat 10 [make \"x add :x 1]"), 40);
  S.FastPaths = true;
  EXPECT_EQ(Printed(u"print add :x 1"), "69");
}

TEST_F(CallFastPaths, DirectWrappersRunWithoutFrames) {
  ASSERT_EQ(Run(u"make \"x add 1 2"), 0);  // compiles the body
  // A hundred calls: a hundred results and the counter's numbers, no
  // frame, no cell, nothing kept.
  EXPECT_LE(AtomsMadeBy(u"repeat 100 [make \"x add :x repeat]"), 230);
  EXPECT_EQ(KeptFramesOf(u"add"), 0u);
  EXPECT_EQ(Printed(u"print :x (sub 10 3) (less 1 2) firstof [q r]"), "5053 7 true q");
}

// Calls that could differ from the full way take it: a frame is made (and
// kept for the next call, nothing having seen it).
TEST_F(CallFastPaths, CallsThatCouldDifferTakeTheFullWay) {
  ASSERT_EQ(Run(u"print add 1 2\nmake \"'obj.#2' 5"), 0);
  struct Case {
    const char16_t* Setup;
    const char16_t* Call;
    const char* Printed;
    size_t Kept;  // frames kept after the call
  };
  const Case cases[] = {
      // A body built at run time has no line to raise errors at.
      {u"to mk :a :b :c\noutput dll.zavta.LOGOLIST\nend\nto joined :a :b\noutput dll.zavta.LOGOWORD\nend\n"
       u"make \"built mk [: a : b] joined \"out \"put \"dll.zavta.LOGOSUM",
       u"print built 2 3", "5", 1},
      // An object input binds as a variable (which the frame then shows).
      {u"to maxof :object\noutput dll.zavta.LOGOSETMAX\nend\nprint maxof 1", u"print maxof :obj", "2", 0},
      // A procedure that passes its result on: its OUTPUT ends the printing
      // statement as well, so the last line stays the setup's.
      {u"to passing :a :b\noutput dll.zavta.LOGOMUL\nend\nprint passing 1 1", u"print passing 2 3", "1", 1},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(c.Setup), 0) << U8(c.Setup);
    if (TAtom* passing = S.FindName(u"passing")) passing->Flags |= afPassResult;
    const std::u16string call(c.Call);
    const std::u16string name = call.substr(6, call.find(u' ', 6) - 6);
    ReleaseSpareCallFrames(I);
    EXPECT_EQ(Printed(c.Call), c.Printed) << U8(c.Call);
    EXPECT_EQ(KeptFramesOf(name), c.Kept) << U8(c.Call);
  }
  // Stepping states and pending history handlers are due around statements.
  for (const uint8_t state : {uint8_t{rsRunStep}, uint8_t{rsRunTo}}) {
    ReleaseSpareCallFrames(I);
    I.RunState = state;
    EXPECT_EQ(Printed(u"print add 3 4"), "7");
    I.RunState = rsIdle;
    EXPECT_EQ(KeptFramesOf(u"add"), 1u) << int{state};
  }
}

TEST_F(CallFastPaths, ARaisingRoutineFailsAsTheFullWayDoes) {
  ASSERT_EQ(Run(u"to outer :l\nmake \"r firstof :l\nend\nouter [a]"), 0);  // compiles both bodies
  TAtom* const program = ParseText(I.Scanner(), u"outer []", u"test").List;
  const PinnedAtom pinProgram(program);
  auto failure = [&](bool fast) {
    S.FastPaths = fast;
    ClearErrorHistory(I);
    I.CodePointer = program;
    S.CurrentPosition = TPosition{};
    std::u16string message;
    try {
      RunCode(I);
    } catch (const LanguageError& e) {
      message = e.Message();
    }
    EXPECT_FALSE(message.empty());
    return std::make_tuple(message, S.ErrorTrace, I.StatementCounter);
  };
  const uint32_t before = I.StatementCounter;
  const auto [fastMessage, fastTrace, afterFast] = failure(true);
  const auto [fullMessage, fullTrace, afterFull] = failure(false);
  EXPECT_EQ(fastMessage, fullMessage);
  EXPECT_EQ(afterFast - before, afterFull - afterFast);  // the same statements counted
  ASSERT_EQ(fastTrace.size(), fullTrace.size());
  for (size_t i = 0; i < fastTrace.size(); ++i) {
    EXPECT_EQ(fastTrace[i].StartPos, fullTrace[i].StartPos) << i;
    EXPECT_EQ(fastTrace[i].EndPos, fullTrace[i].EndPos) << i;
    EXPECT_EQ(fastTrace[i].Line, fullTrace[i].Line) << i;
    EXPECT_EQ(fastTrace[i].Topic, fullTrace[i].Topic) << i;
    EXPECT_EQ(fastTrace[i].Statement, fullTrace[i].Statement) << i;
    EXPECT_EQ(fastTrace[i].SourceName.str(), fullTrace[i].SourceName.str()) << i;
  }
  S.FastPaths = true;
  ClearErrorHistory(I);
}

TEST_F(CallFastPaths, AResetLetsGoOfTheKeptFrames) {
  ASSERT_EQ(Run(u"print add 1 2"), 0);
  ASSERT_EQ(KeptFramesOf(u"add"), 1u);
  TAtom* kept = I.SpareCallFrames.at(S.FindName(u"add")).Frames.back();
  EXPECT_EQ(kept->RefCount, 1);
  EXPECT_EQ(kept->Parent, nullptr);  // out of the tree between calls
  ResetInterpreter(I);
  EXPECT_TRUE(I.SpareCallFrames.empty());
  EXPECT_EQ(kept->RefCount, 0);
}

}  // namespace

namespace {

// Names whose answer changes after calls remembered it: each program prints
// the same lines with the short ways on and off, and the lines given.
TEST(CallLookUps, AnswersFollowTheSearchOrderAfterCachesWereFilled) {
  constexpr std::u16string_view kWrappers =
      u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\nto mul :a :b\noutput dll.zavta.LOGOMUL\nend\n"
      u"to equal :a :b\noutput dll.zavta.LOGOEQUALP\nend\n";
  struct Case {
    const char16_t* Program;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      // A caller's local is found through the calling frames until a global
      // of that name exists, which comes first.
      {u"to reader\noutput :w\nend\nto outer\nlocal \"w\nmake \"w 1\noutput reader\nend\n"
       u"print outer\nprint outer\nmake \"w 2\nprint outer\nprint reader",
       {"1", "1", "2", "2"}},
      // A local made in the frame after the global was found there shadows it.
      {u"make \"g 5\nto shadow :k\nif equal :k 1 [local \"g\nmake \"g 9]\noutput :g\nend\n"
       u"print shadow 0\nprint shadow 1\nprint shadow 0",
       {"5", "9", "5"}},
      // A lambda child given to a procedure after its calls, then replaced.
      {u"to lam :x\noutput :x\nend\nprint lam 3\nmake \"lam.lambda [[:x] output mul :x 2]\nprint lam 3\n"
       u"make \"lam.lambda [[:x] output mul :x 3]\nprint lam 3",
       {"3", "6", "9"}},
      // One call site, its callee's body replaced between its calls: by
      // another wrapper, then by a procedure of the program's own.
      {u"to op :a :b\noutput dll.zavta.LOGOSUM\nend\nto site\noutput op 5 3\nend\n"
       u"print op 1 1\nmake \"k 0\nrepeat 4 [make \"k add :k 1, print site, if equal :k 2 [make \"op [[:a :b] output dll.zavta.LOGOMUL]]]\n"
       u"make \"op [[:a :b] output mul :a add :b 1]\nprint site",
       {"2", "8", "8", "15", "15", "20"}},
      // A local procedure made in the caller's frame comes before the
      // wrapper the same call site found at the root.
      {u"to op :a :b\noutput dll.zavta.LOGOSUM\nend\n"
       u"to use :k\nif equal :k 1 [local \"op\nmake \"op [[:a :b] output mul :a :b]]\noutput op 5 3\nend\n"
       u"print use 0\nprint use 1\nprint use 0",
       {"8", "15", "8"}},
      // Deep recursion reads its input and a global at every level.
      {u"make \"step 1\nto down :n\nif equal :n 0 [output 0]\noutput add :step down add :n -1\nend\nprint down 400",
       {"400"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> printed[2];
    for (const bool fast : {true, false}) {
      TestState t;
      TInterpreter in{*t.S};
      in.S.FastPaths = fast;
      const std::u16string program = std::u16string(kWrappers) + c.Program;
      EXPECT_EQ(RunText(in, program, u"test"), 0) << U8(program);
      for (const auto& line : t.Host.Lines) printed[fast ? 0 : 1].push_back(U8(line.Text));
    }
    EXPECT_EQ(printed[0], c.Lines) << U8(std::u16string(c.Program));
    EXPECT_EQ(printed[0], printed[1]) << U8(std::u16string(c.Program));
  }
}

}  // namespace

namespace {

// The letter-case rule decides whether a child written "LAMBDA" is the
// procedure's lambda child: a call site that ran under one rule follows the
// other at its next call, as the full way does.
TEST(CallLookUps, ACallSiteFollowsTheLetterCaseRule) {
  std::vector<std::string> printed[2];
  for (const bool fast : {true, false}) {
    TestState t;
    TInterpreter in{*t.S};
    in.S.FastPaths = fast;
    ASSERT_EQ(RunText(in,
                      u"to mul :a :b\noutput dll.zavta.LOGOMUL\nend\nto lam :x\noutput :x\nend\n"
                      u"make \"lam.LAMBDA [[:x] output mul :x 2]\nto site :v\noutput lam :v\nend\nprint site 3",
                      u"test"),
              0);
    for (const bool caseSensitive : {false, true}) {
      in.S.CaseSensitive = caseSensitive;
      EXPECT_EQ(RunText(in, u"print site 3", u"test"), 0);
    }
    for (const auto& line : t.Host.Lines) printed[fast ? 0 : 1].push_back(U8(line.Text));
  }
  EXPECT_EQ(printed[0], (std::vector<std::string>{"3", "6", "3"}));
  EXPECT_EQ(printed[0], printed[1]);
}

}  // namespace

// A call site remembers what its wrapper computes: each redefinition of the
// wrapper, to another two-number routine or to one it cannot compute
// itself, gives the new routine's answers from the next call on.
TEST_F(CallFastPaths, ACallSiteFollowsItsWrapperAcrossRedefinitions) {
  ASSERT_EQ(Run(u"to op :a :b\noutput dll.zavta.LOGOSUM\nend\nto via :a :b\noutput op :a :b\nend"), 0);
  const std::pair<const char16_t*, const char*> definitions[] = {
      {u"LOGOSUM", "5"}, {u"LOGOSUB", "-1"}, {u"LOGOWORD", "23"}, {u"LOGOLESSP", "true"}, {u"LOGOMUL", "6"}};
  for (const auto& [routine, answer] : definitions) {
    ASSERT_EQ(Run(u"to op :a :b\noutput dll.zavta." + std::u16string(routine) + u"\nend"), 0) << U8(routine);
    for (int call = 0; call < 3; ++call) EXPECT_EQ(Printed(u"print via 2 3"), answer) << U8(routine);
  }
}

// Two values and the two-input call that takes them run as one step where
// the call is a routine's; every line, error and status is the one the ops
// give one by one, also while the callee turns into program code and back
// (a call of program code is passed over for a while, then tried again).
TEST(PairCalls, GiveWhatTheirOpsGiveOneByOne) {
  const char16_t* const program =
      u"to op :a :b\noutput dll.zavta.LOGOSUM\nend\n"
      u"to via :a :b\noutput op :a 1\nend\n"
      u"to flip :a :b\noutput op 10 :b\nend\n"
      u"to sub :a :b\noutput dll.zavta.LOGOSUB\nend\n"
      u"print via 2 3\nprint flip 2 3\nprint sub via 2 3 flip 4 5\n"
      u"to op :a :b\nmake \"t :a\noutput sub :t :b\nend\n"
      u"make \"r 0\nrepeat 70 [make \"r via :r 0]\nprint :r\n"
      u"to op :a :b\noutput dll.zavta.LOGOSUB\nend\n"
      u"repeat 71 [make \"r flip 0 :r]\nprint :r\n"
      u"make \"obj 5\nmake \"obj.x 1\nprint via :obj 3\n"
      u"print via \"x 3\n";
  auto runWith = [program](bool fastPaths) {
    TestState t;
    t.S->FastPaths = fastPaths;
    TInterpreter in{*t.S};
    const int status = RunText(in, program, u"test");
    std::string lines;
    for (const PrintedLine& line : t.Host.Lines) lines += U8(line.Text) + "\n";
    return std::make_pair(status, lines);
  };
  const auto fast = runWith(true);
  EXPECT_EQ(fast, runWith(false));
  EXPECT_NE(fast.second.find("3\n13\n-12\n-70\n80\n"), std::string::npos) << fast.second;
}

// The pump's statement counts, told without a division, at the edges of
// the interval and of the counter's range.
TEST(PumpCounts, AreTheMultiplesOfTheInterval) {
  for (const uint32_t count : {0u, 1u, 159u, 160u, 161u, 319u, 320u, 4294967200u, 4294967199u, 4294967295u})
    EXPECT_EQ(IsPumpCount(count), count % kPumpInterval == 0) << count;
}
