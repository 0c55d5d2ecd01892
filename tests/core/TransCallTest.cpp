// Procedure calls: binding, results and objects, lambda, afPassResult, the
// procedure log, onerror, and what failed calls leave behind. A bound test
// routine "dll.zavta.probe" records the interpreter's state from inside a
// running program; "dll.zavta.blame" raises an error blaming input 2.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Trans.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

struct Snapshot {
  const TContext* Frame;
  size_t StackItems, TraceLength;
  int32_t CallDepth, InterpretDepth;
  int64_t WhileCounter;
  bool InWhile;
  bool operator==(const Snapshot&) const = default;
};

class CallTest : public ::testing::Test {
protected:
  CallTest() {
    S.Language.Texts[u"UNKNOWNVAR"] = u"I don't know %s";
    S.Language.Texts[u"BADNAME"] = u"Not a name: %s";
    I.ExternalBinder = [](TInterpreter&, TAtom& token) {
      return TBoundRoutine{ocPrimitive, token.Text.ends_with(u"probe") ? 0 : 1};
    };
    I.Routines.push_back([this](TInterpreter&) -> TAtom* {
      Probes.push_back({S.Frame(), S.Frame()->Stack.Items.size(), S.ErrorTrace.size(), I.CallDepth, I.InterpretDepth,
                        S.WhileCounter, S.InWhile});
      ProbeActive.push_back(TAtom::HasFlag(Var(u"lam.lambda"), afActive));
      return nullptr;
    });
    I.Routines.push_back([this](TInterpreter&) -> TAtom* {
      S.RaiseError(u"blamed", u"blame-topic", -2);
      return nullptr;
    });
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  // Runs without a run entry, so the error trace stays for inspection.
  std::u16string RunRaw(std::u16string_view text) {
    I.CodePointer = ParseText(I.Scanner(), text, u"test").List;
    S.CurrentPosition.StartPos = S.CurrentPosition.EndPos = S.CurrentPosition.Line = -1;
    try {
      RunCode(I);
    } catch (const LanguageError& e) {
      return e.Message();
    }
    return {};
  }
  std::string Out() const { return T.Host.Output(); }
  std::string Topic() const { return T.Host.Dialogs.empty() ? "" : U8(T.Host.Dialogs.back().Topic); }
  TAtom* Var(std::u16string_view name) { return S.FindName(name); }
  // A procedure that is idle: no frame child, no afActive.
  bool Idle(std::u16string_view name) {
    TAtom* p = Var(name);
    return !TAtom::HasFlag(p, afActive) && TAtom::FindChildByName(S, *p, u"[~]") == nullptr;
  }
  std::string Names(const TAtom* v) {  // children, oldest first
    std::string names;
    for (const TAtom* c = v->FirstChild; c != nullptr; c = c->NextSibling) names = U8(c->Text) + " " + names;
    return names;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
  std::vector<Snapshot> Probes;
  std::vector<bool> ProbeActive;
};

TEST_F(CallTest, InputsBindInWrittenOrderAndAFrameWithoutOutputIsTheResult) {
  ASSERT_EQ(Run(u"to h :a :b\nlocal \"c\nmake \"c 3\nend\n"
                u"make \"o h 1 2\n"
                u"make \"h.onmaxrightinputs 4\n"
                u"make \"e (h 1 2 3 4)\n"
                u"to pick \"target output :target end\n"
                u"make \"alpha.beta 1\n"
                u"to outer\nlocal \"z\noutput pick \"z\nend\n"
                u"print :o.a :o.b :o.c :e.#2 pick \"alpha.beta outer"),
            0);
  EXPECT_EQ(Out(), "1 2 3 4 alpha.beta outer.[~].z");
  EXPECT_EQ(Names(Var(u"o")), "a b c ");
  EXPECT_EQ(Names(Var(u"e")), "a b #1 #2 c ");
  EXPECT_FALSE(TAtom::HasFlag(Var(u"o"), afFrame));
  EXPECT_TRUE(Idle(u"h"));
  EXPECT_EQ(I.CallDepth, 0);
}

TEST_F(CallTest, VariablesOfTheTreeAreCopiedAndAnonymousOnesAdopted) {
  ASSERT_EQ(Run(u"to f :v end\nto mk :a end\nto keep :o end\n"
                u"make \"r f (make \"x 5)\n"
                u"make \"r2 keep mk 7\n"
                u"make \"pt.x 1\nmake \"q pt\nmake \"q.x 9\nmake \"c x\n"
                u"print :r.v :r2.o.a :pt.x :q.x :c x"),
            0);
  EXPECT_EQ(Out(), "5 7 1 9 5 5");
  EXPECT_EQ(Var(u"x")->Parent, S.Root);
  EXPECT_NE(Var(u"r.v"), Var(u"x"));
  EXPECT_NE(Var(u"c"), Var(u"x"));
  EXPECT_EQ(TAtom::FindChildByName(S, *S.Root, u"[~]"), nullptr);
}

TEST_F(CallTest, ALambdaChildRunsAndPassResultEndsTheCallerToo) {
  ASSERT_EQ(Run(u"make \"lam 0\n"
                u"make \"lam.lambda [[: q] dll.zavta.probe output :q]\n"
                u"to g output 5 end\n"
                u"to f\ng\nprint \"after\noutput 7\nend\n"
                u"print lam 6 f"),
            0);
  ASSERT_EQ(ProbeActive, std::vector<bool>{true});
  Var(u"g")->Flags |= afPassResult;
  ASSERT_EQ(Run(u"print f"), 0);
  EXPECT_EQ(Out(), "after\n6 7\n5");
  EXPECT_TRUE(Idle(u"lam.lambda"));
  EXPECT_EQ(I.ResultAtom, SystemValue);
}

TEST_F(CallTest, TheLogShowsEntryAndExitWithDepthInputsAndResult) {
  TempFolder folder;
  ASSERT_EQ(Run(u"to p :x output :x end\nto q :y output p :y end\nto n \"v output 1 end"), 0);
  auto logOf = [&](uint32_t mask) {
    EXPECT_TRUE(S.Log.Open(folder.Name("log.txt"), mask));
    EXPECT_EQ(Run(u"make \"r q 5\nmake \"r2 n \"r"), 0);
    S.Log.Close();
    std::ifstream in(folder.Path / "log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  EXPECT_EQ(logOf(lcProcedure),
            "Enter (0) q :y=5\nEnter (1) p :x=5\nExit  (1) p with result=5\nExit  (0) q with result=5\n"
            "Enter (0) n \"v=r\nExit  (0) n with result=1\n");
  EXPECT_EQ(logOf(lcOutput), "");
}

TEST_F(CallTest, BadInputsByNameAreReportedAndLeaveNoFrame) {
  TempFolder help;
  S.HelpFolder = help.Folder();
  ASSERT_EQ(Run(u"to pick \"target output :target end\nmake \"alpha.beta 1"), 0);
  const std::pair<std::u16string, std::string> cases[] = {
      {u"[1 2]", "bad-name-input"}, {u"\"gone", "unknown-var-input"}, {u"\"alpha.gone", "unknown-var-input-partial"}};
  for (const auto& [input, key] : cases) {
    EXPECT_EQ(Run(u"print pick " + input), 2);
    EXPECT_EQ(Topic(), key);
    EXPECT_EQ(ReadTextFile(S, help.Name("$$$error-08$$$.txt")), u"pick");
    EXPECT_TRUE(Idle(u"pick"));
  }
  EXPECT_EQ(ReadTextFile(S, help.Name("$$$error-05$$$.txt")), u"alpha");
  EXPECT_EQ(ReadTextFile(S, help.Name("$$$error-06$$$.txt")), u"gone");
  EXPECT_EQ(Out(), "Not a name: [1 2] (test:1)\nI don't know gone (test:1)\nI don't know alpha.gone (test:1)");
}

TEST_F(CallTest, AMissingProcedureIsReportedOrYieldsOneValueWithoutALine) {
  S.CreateVariable(S.Root, u"alpha", true, nullptr);
  for (const char16_t* name : {u"gone", u"alpha.gone", u"nope.gone"}) {
    const std::vector<int32_t> code = {int32_t(AtomId(NewWord(S, name))), MakeArity(1, 1), 0, 0, 1, 0};
    TCodeCursor cursor{&code, 0};
    EXPECT_THROW(CallUserProcedure(I, cursor), LanguageError);
    EXPECT_EQ(cursor.Index, code.size());
  }
  const std::u16string topics[] = {u"unknown-var-active-proc", u"unknown-var-active-proc-partial",
                                   u"unknown-var-active-proc-all"};
  ASSERT_EQ(S.ErrorTrace.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(S.ErrorTrace[i].Topic, topics[i]);

  // Without a line: both inputs are taken, one value is left.
  T.ArmErrors(false);
  S.Frame()->Stack.UnpinAll();
  S.Frame()->Stack.Push(NewWord(S, u"second"), 5, 6);
  S.Frame()->Stack.Push(NewWord(S, u"first"), 3, 4);
  const std::vector<int32_t> code = {int32_t(AtomId(NewWord(S, u"gone"))), MakeArity(1, 1), 0, 0, 1, 0};
  TCodeCursor cursor{&code, 0};
  CallUserProcedure(I, cursor);
  ASSERT_EQ(S.Frame()->Stack.Items.size(), 1u);
  EXPECT_EQ(S.Frame()->Stack.Items[0].Value, SystemValue);
}

TEST_F(CallTest, AFailedBodyLeavesTheProcedureIdleAndRedefinable) {
  ASSERT_EQ(Run(u"to f output :nothere end"), 0);
  EXPECT_EQ(Run(u"print f"), 2);
  EXPECT_TRUE(Idle(u"f"));
  EXPECT_EQ(I.CallDepth, 0);
  EXPECT_EQ(Run(u"to f output 1 end\nprint f"), 0);
  EXPECT_EQ(Out(), "I don't know nothere (test:1)\n1");
}

TEST_F(CallTest, OnErrorAbsorbsAnErrorFromDeeperCallsAndRestoresEverything) {
  ASSERT_EQ(Run(u"to h output :nothere end\nto g output h end\nto f output g end\n"
                u"make \"f.onerror [output \"caught]"),
            0);
  TPosition earlier;  // left by an earlier report: it must stay alone
  earlier.Topic = u"earlier";
  S.AddTrace(earlier);
  ASSERT_EQ(Run(u"dll.zavta.probe\nprint f\ndll.zavta.probe"), 0);
  EXPECT_EQ(Out(), "caught");
  ASSERT_EQ(Probes.size(), 2u);
  EXPECT_EQ(Probes[1], Probes[0]);
  for (const char16_t* name : {u"f", u"g", u"h"}) EXPECT_TRUE(Idle(name)) << U8(name);
  ASSERT_EQ(S.ErrorTrace.size(), 1u);
  EXPECT_EQ(S.ErrorTrace[0].Topic, u"earlier");
}

TEST_F(CallTest, AFailingHandlerTranslatesTheErrorAndCanBlameAnInput) {
  ASSERT_EQ(RunRaw(u"to h output :nothere end\nto f :a :b output h end\nmake \"f.onerror [dll.zavta.blame]"), u"");
  EXPECT_EQ(RunRaw(u"print f 11 22"), u"blamed");
  ASSERT_FALSE(S.ErrorTrace.empty());
  // The handler's entries are gone; the range is that of "22".
  for (const TPosition& entry : S.ErrorTrace) EXPECT_GE(entry.Line, 0);
  EXPECT_EQ(S.ErrorTrace.back().Topic, u"blame-topic");
  EXPECT_EQ(S.ErrorTrace.back().StartPos, 12);
  EXPECT_EQ(S.ErrorTrace.back().EndPos, 14);
  EXPECT_TRUE(Idle(u"f"));
}

// The blamed input's range where the ranges are kept: a call in a frame a
// finished call left, and one of more inputs than a kept frame has cells.
TEST_F(CallTest, AHandlerBlamesTheInputOfAKeptFrameAndOfManyInputs) {
  struct Case {
    const char16_t* Definition;
    const char16_t* Call;
    int32_t Start, End;
  };
  const Case cases[] = {
      {u"to f :a :b\nrun :a\noutput 0\nend", u"print f [] 5\nprint f [h] 22", 27, 29},
      {u"to f :p1 :p2 :p3 :p4 :p5 :p6 :p7 :p8 :p9 :p10\noutput h\nend", u"print f 1 22 3 4 5 6 7 8 9 10", 11, 13},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RunRaw(u"to h output :nothere end"), u"");
    ASSERT_EQ(RunRaw(c.Definition), u"");
    ASSERT_EQ(RunRaw(u"make \"f.onerror [dll.zavta.blame]"), u"");
    EXPECT_EQ(RunRaw(c.Call), u"blamed") << U8(c.Call);
    ASSERT_FALSE(S.ErrorTrace.empty());
    EXPECT_EQ(S.ErrorTrace.back().StartPos, c.Start) << U8(c.Call);
    EXPECT_EQ(S.ErrorTrace.back().EndPos, c.End) << U8(c.Call);
    S.ClearErrorTrace();
  }
}

}  // namespace
