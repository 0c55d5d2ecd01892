// Run control over a fake main window and a real interpreter: the seven
// commands from every run state, the display of the state, the enabling of
// the run commands, and commands clicked from the pumps of a running
// program.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/RunControl.h"
#include "tests/support/HeadlessHost.h"
#include "tests/support/TestState.h"

namespace {

class FakeSource : public RunSource {
public:
  std::u16string title() override { return Title; }
  std::u16string text() override { return Text; }
  std::u16string fileFolder() override { return {}; }
  int32_t caretLine() override { return CaretLine; }

  std::u16string Title = u"prog.zav";
  std::u16string Text = u"make \"ran 1";
  int32_t CaretLine = 3;
};

class FakeRunUi : public RunUi {
public:
  RunSource* activeSource() override { return HasSource ? &Source : nullptr; }
  void setActionEnabled(std::u16string_view action, bool enabled) override {
    Enabled[std::u16string(action)] = enabled;
  }
  void setStateIcon(StateIcon icon) override { Icons.push_back(icon); }
  void hideDebugMarkers() override { ++MarkerHides; }
  bool abandonPendingCommand() override {
    if (!PendingCommand) return false;
    PendingCommand = false;
    return true;
  }
  void repaintMainWindow() override { ++Repaints; }
  void saveAllSources() override { ++Saves; }
  void postClose() override { ++Closes; }

  bool On(const char16_t* action) const {
    const auto found = Enabled.find(action);
    return found != Enabled.end() && found->second;
  }

  FakeSource Source;
  bool HasSource = true;
  bool PendingCommand = false;
  std::map<std::u16string, bool> Enabled;
  std::vector<StateIcon> Icons;
  int MarkerHides = 0;
  int Repaints = 0;
  int Saves = 0;
  int Closes = 0;
};

// The host tells run control what the interpreter wrote, as the main
// window's host does.
class RunHost : public HeadlessHost {
public:
  void setRunState(uint8_t state) override {
    HeadlessHost::setRunState(state);
    if (Control != nullptr) Control->ShowRunState(state);
  }
  void runsEnded() override {
    HeadlessHost::runsEnded();
    if (Control != nullptr) Control->RunsEnded();
  }
  RunControl* Control = nullptr;
};

class RunControlTest : public ::testing::Test {
protected:
  RunControlTest() : s(std::make_unique<TStructure>(host)), env(*s) {
    UseEnglishKeywords(*s);
    s->EnterFrame(NewVariable(*s, u"[Root]", nullptr));
    in = std::make_unique<TInterpreter>(*s);
    in->LibraryLoadCommands = u"make \"lib 1";
    ResetInterpreter(*in);
    control = std::make_unique<RunControl>(*in, env, ui);
    host.Control = control.get();
    host.RunStates.clear();
    host.RunsEnded = 0;
  }
  ~RunControlTest() override { host.Control = nullptr; }

  TAtom* Global(const std::u16string& name) {
    return IsAtom(s->Root) ? TAtom::FindChildByName(*s, *s->Root, name) : nullptr;
  }
  // Puts the interpreter in a state as the core would, shown at once.
  void Enter(uint8_t state) { SetRunState(*in, state); }
  // A marker variable that only a reset takes away.
  void Mark() { ASSERT_EQ(RunText(*in, u"make \"mark 1", u""), rrOk); }
  bool WasReset() { return Global(u"mark") == nullptr && Global(u"lib") != nullptr; }

  RunHost host;
  std::unique_ptr<TStructure> s;
  EnvState env;
  std::unique_ptr<TInterpreter> in;
  FakeRunUi ui;
  std::unique_ptr<RunControl> control;
};

// n statements, to reach the periodic pump.
std::u16string Statements(int n, const std::u16string& statement) {
  std::u16string text;
  for (int i = 0; i < n; ++i) text += statement + u"\n";
  return text;
}

}  // namespace

// --- the display of the state and the run commands ----------------------------------

TEST_F(RunControlTest, RunCommandsFollowTheStateAndTheActiveSource) {
  struct Case {
    uint8_t State;
    bool Source;
    bool RunOn, StepsOn, StopOn;
  };
  const Case cases[] = {
      {rsIdle, true, true, true, false},       {rsStop, true, true, true, true},
      {rsRunCommand, true, true, true, true},  {rsRunStep, true, true, true, true},
      {rsRunTo, true, true, true, true},       {rsEnded, true, true, true, true},
      {rsFinalRedraw, true, true, true, true}, {rsRunning, true, false, false, true},
      {rsPaused, true, true, true, true},      {rsIdle, false, false, false, false},
      {rsRunning, false, false, false, true},  {rsEnded, false, false, false, true},
  };
  for (const Case& c : cases) {
    ui.Enabled.clear();
    ui.HasSource = c.Source;
    Enter(c.State == rsIdle ? rsEnded : rsIdle);
    ui.Enabled.clear();
    Enter(c.State);
    const std::string where = "state " + std::to_string(c.State) + (c.Source ? " with source" : " without");
    EXPECT_EQ(ui.On(u"ButRun"), c.RunOn) << where;
    EXPECT_EQ(ui.On(u"MenuRun"), c.RunOn) << where;
    for (const char16_t* step : {u"MenuTo", u"MenuCmd", u"MenuStep"}) EXPECT_EQ(ui.On(step), c.StepsOn) << where;
    // Enabling never disables Stop.
    EXPECT_EQ(ui.On(u"ButStop"), c.StopOn) << where;
    EXPECT_EQ(ui.Enabled.count(u"ButStop") > 0, c.State != rsIdle) << where;
  }
}

TEST_F(RunControlTest, TheIconAndTheCommandsChangeOnlyWhenTheShownStateChanges) {
  Enter(rsRunning);
  Enter(rsRunning);
  Enter(rsPaused);
  Enter(rsEnded);
  Enter(rsIdle);
  EXPECT_EQ(ui.Icons, (std::vector<StateIcon>{StateIcon::Run, StateIcon::Pause, StateIcon::Pause, StateIcon::Default}));
  // The core writes the state first: the display compares with what it showed.
  in->RunState = rsRunning;
  ui.Enabled.clear();
  control->ShowRunState(rsRunning);
  EXPECT_FALSE(ui.On(u"ButRun"));
  EXPECT_EQ(ui.Icons.back(), StateIcon::Run);
  // Paused keeps the markers; every other state hides them.
  const int hides = ui.MarkerHides;
  Enter(rsPaused);
  EXPECT_EQ(ui.MarkerHides, hides);
}

// --- Run ------------------------------------------------------------------------------

TEST_F(RunControlTest, RunResetsRunsTheSourceAndEndsWithTheFinalRedraw) {
  Mark();
  host.Graphics.Calls.clear();
  control->Run();
  EXPECT_EQ(host.RunStates, (std::vector<uint8_t>{rsRunning, rsRunning, rsFinalRedraw, rsEnded}));
  EXPECT_NE(Global(u"ran"), nullptr);
  EXPECT_EQ(Global(u"mark"), nullptr);
  EXPECT_EQ(in->StepDepth, -1);
  const std::vector<std::string>& calls = host.Graphics.Calls;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"resumePainting", "paintResume", "redrawScene"}));
  EXPECT_EQ(ui.Saves, 0);

  env.Settings.SetText(u"AUTOSAVEBEFORERUN=Yes");
  control->Run();
  EXPECT_EQ(ui.Saves, 1);
}

TEST_F(RunControlTest, RunWhileARunIsActiveOnlyLetsItRunFreely) {
  for (uint8_t state : {rsStop, rsRunCommand, rsRunStep, rsRunTo, rsRunning, rsPaused, rsFinalRedraw}) {
    Mark();
    Enter(state);
    host.RunStates.clear();
    control->Run();
    EXPECT_EQ(host.RunStates, std::vector<uint8_t>{rsRunning}) << int(state);
    EXPECT_NE(Global(u"mark"), nullptr) << int(state);
    EXPECT_EQ(Global(u"ran"), nullptr) << int(state);
  }
}

TEST_F(RunControlTest, WithoutASourceTheRunCommandsDoNothing) {
  ui.HasSource = false;
  Mark();
  for (uint8_t state : {rsIdle, rsEnded, rsPaused}) {
    Enter(state);
    host.RunStates.clear();
    control->RunTo();
    control->RunCommand();
    control->RunStep();
    EXPECT_TRUE(host.RunStates.empty()) << int(state);
  }
  Enter(rsEnded);
  host.RunStates.clear();
  control->Run();
  EXPECT_TRUE(host.RunStates.empty());
  EXPECT_NE(Global(u"mark"), nullptr);
}

TEST_F(RunControlTest, TheStepCommandsRunInTheirModeOrSwitchAnActiveRun) {
  struct Case {
    void (RunControl::*Command)();
    uint8_t Mode;
  };
  const Case cases[] = {
      {&RunControl::RunTo, rsRunTo}, {&RunControl::RunCommand, rsRunCommand}, {&RunControl::RunStep, rsRunStep}};
  for (const Case& c : cases) {
    Enter(rsEnded);
    host.RunStates.clear();
    Mark();
    (control.get()->*c.Command)();
    EXPECT_EQ(host.RunStates, (std::vector<uint8_t>{c.Mode, rsEnded}));
    EXPECT_NE(Global(u"ran"), nullptr);
    EXPECT_EQ(Global(u"mark"), nullptr);

    Enter(rsPaused);
    host.RunStates.clear();
    (control.get()->*c.Command)();
    EXPECT_EQ(host.RunStates, std::vector<uint8_t>{c.Mode});
  }
  ui.Source.CaretLine = 7;
  Enter(rsRunning);
  control->RunTo();
  EXPECT_EQ(U8(in->RunToPosition.SourceName.str()), "prog.zav");
  EXPECT_EQ(in->RunToPosition.Line, 7);
  EXPECT_EQ(in->RunToPosition.StartPos, 0);
  EXPECT_EQ(in->RunToPosition.EndPos, INT32_MAX);
}

TEST_F(RunControlTest, RunStepClickedAgainWhileItStartsDoesNothing) {
  in->LibraryLoadCommands = Statements(170, u"make \"lib 1");
  int nestedStates = -1;
  host.OnPump = [&] {
    if (nestedStates >= 0) return;
    const size_t before = host.RunStates.size();
    EXPECT_TRUE(control->StepGuard);
    control->RunStep();
    nestedStates = static_cast<int>(host.RunStates.size() - before);
  };
  Enter(rsEnded);
  control->RunStep();
  EXPECT_EQ(nestedStates, 0);
  EXPECT_FALSE(control->StepGuard);
}

// --- Stop, Reset, Exit ----------------------------------------------------------------

TEST_F(RunControlTest, StopFromEachStateWithNoRunOnTheStack) {
  for (uint8_t state : {rsStop, rsRunCommand, rsRunStep, rsRunTo, rsRunning, rsPaused}) {
    Mark();
    Enter(state);
    control->Stop();
    EXPECT_EQ(in->RunState, rsStop) << int(state);
    EXPECT_NE(Global(u"mark"), nullptr) << int(state);
  }
  Mark();
  Enter(rsFinalRedraw);
  host.RunStates.clear();
  control->Stop();
  EXPECT_TRUE(host.RunStates.empty());
  EXPECT_NE(Global(u"mark"), nullptr);

  for (uint8_t state : {rsIdle, rsEnded}) {
    Mark();
    Enter(state);
    ui.Enabled[u"ButStop"] = true;
    host.Graphics.Calls.clear();
    control->Stop();
    EXPECT_TRUE(WasReset()) << int(state);
    EXPECT_EQ(in->RunState, rsIdle);
    EXPECT_FALSE(ui.On(u"ButStop"));
    EXPECT_FALSE(ui.On(u"MenuStop"));
    EXPECT_EQ(host.Graphics.Calls.back(), "resumePainting");
  }
}

TEST_F(RunControlTest, StopWithAPendingCommandOnlyAbandonsIt) {
  Mark();
  Enter(rsEnded);
  ui.PendingCommand = true;
  control->Stop();
  EXPECT_FALSE(ui.PendingCommand);
  EXPECT_NE(Global(u"mark"), nullptr);
  EXPECT_EQ(in->RunState, rsEnded);
}

TEST_F(RunControlTest, ResetDuringARunStopsItAndResetsAfterTheFinalRedraw) {
  ui.Source.Text = Statements(170, u"make \"a 1") + u"make \"after 1";
  bool clicked = false;
  host.OnPump = [&] {
    if (clicked) return;
    clicked = true;
    control->Reset();
    EXPECT_TRUE(control->ResetAfterRun);
  };
  control->Run();
  EXPECT_TRUE(clicked);
  EXPECT_FALSE(control->ResetAfterRun);
  EXPECT_EQ(Global(u"after"), nullptr);
  EXPECT_EQ(Global(u"a"), nullptr);  // the reset came after the run
  EXPECT_NE(Global(u"lib"), nullptr);
  EXPECT_EQ(in->RunState, rsIdle);
  EXPECT_FALSE(ui.On(u"ButStop"));
}

TEST_F(RunControlTest, ResetDuringAStepRunIsConsumedByItsOwnEnd) {
  ui.Source.Text = Statements(170, u"make \"a 1");
  bool clicked = false;
  host.OnPump = [&] {
    if (clicked) return;
    clicked = true;
    control->Reset();
  };
  control->RunCommand();
  EXPECT_TRUE(clicked);
  EXPECT_FALSE(control->ResetAfterRun);
  EXPECT_EQ(in->RunState, rsIdle);
  EXPECT_EQ(Global(u"a"), nullptr);
}

TEST_F(RunControlTest, ResetWhileIdleResetsAtOnce) {
  Mark();
  Enter(rsIdle);
  control->Reset();
  EXPECT_TRUE(WasReset());
  EXPECT_FALSE(control->ResetAfterRun);
}

TEST_F(RunControlTest, ExitWithNoRunOnTheStackClosesAtOnce) {
  for (uint8_t state : {rsIdle, rsEnded, rsPaused}) {
    Enter(state);
    ui.Closes = 0;
    control->Exit();
    EXPECT_EQ(ui.Closes, 1) << int(state);
    EXPECT_FALSE(control->ExitPending);
  }
}

TEST_F(RunControlTest, ExitDuringARunClosesOnlyOnceTheRunHasEnded) {
  ui.Source.Text = Statements(170, u"make \"a 1") + u"make \"after 1";
  int closesInRun = -1;
  host.OnPump = [&] {
    if (closesInRun >= 0) return;
    control->Exit();
    closesInRun = ui.Closes;
  };
  control->Run();
  EXPECT_EQ(closesInRun, 0);
  EXPECT_TRUE(control->ExitPending);
  EXPECT_EQ(Global(u"after"), nullptr);  // stopped
  EXPECT_GE(ui.Closes, 1);
}

// --- commands under a run entered while idle -------------------------------------------

TEST_F(RunControlTest, ClicksDuringATypedCommandKeepItsFramesUntilItEnds) {
  // The typed command calls a procedure whose pumps take the clicks.
  ASSERT_EQ(RunText(*in, u"to work\r\n repeat 2000 [make \"x 1]\r\n make \"done 1\r\nend", u""), rrOk);
  Mark();
  Enter(rsIdle);
  TContext* frameInPump = nullptr;
  int pumps = 0;
  int endsBeforeReturn = -1;
  host.OnPump = [&] {
    ++pumps;
    if (pumps > 1) return;
    frameInPump = s->Frame();
    control->Run();
    control->RunTo();
    control->RunStep();
    control->Stop();
    EXPECT_EQ(in->RunState, rsStop);
    control->Reset();
    control->Exit();
    EXPECT_TRUE(control->ExitPending);
    // Run after the stop does not take it back.
    control->Run();
    EXPECT_EQ(in->RunState, rsStop);
    EXPECT_FALSE(control->ResetAfterRun);
    // Nothing under the running command went away.
    EXPECT_EQ(s->Frame(), frameInPump);
    EXPECT_NE(Global(u"mark"), nullptr);
    EXPECT_EQ(ui.Closes, 0);
    endsBeforeReturn = host.RunsEnded;
  };
  host.RunsEnded = 0;
  EXPECT_EQ(RunText(*in, u"work", u""), rrOk);
  EXPECT_EQ(endsBeforeReturn, 0);
  EXPECT_EQ(host.RunsEnded, 1);
  EXPECT_EQ(Global(u"done"), nullptr);  // the stop ended it
  EXPECT_TRUE(WasReset());
  ASSERT_NE(s->Frame(), nullptr);
  EXPECT_EQ(s->Frame()->Owner, s->Root);
  EXPECT_EQ(in->RunState, rsIdle);
  EXPECT_FALSE(ui.On(u"ButStop"));
  EXPECT_GE(ui.Closes, 1);
  EXPECT_EQ(host.Graphics.Calls.back(), "resumePainting");
}

TEST_F(RunControlTest, StopFromAPumpEndsALongRepeat) {
  for (uint8_t state : {rsIdle, rsRunning}) {
    Enter(state);
    int pumps = 0;
    host.OnPump = [&] {
      if (++pumps == 2) control->Stop();
    };
    EXPECT_EQ(RunText(*in, u"repeat 1000000 [make \"x 1]", u""), rrOk);
    EXPECT_EQ(pumps, 2) << int(state);
    host.OnPump = nullptr;
  }
}

TEST_F(RunControlTest, AnEscapingExceptionIsPrintedAndEndsTheRunState) {
  s->Language.SetTexts({{u"SYSTEMERROR", u"System error"}});
  Enter(rsRunning);
  GuardCoreEntry(*in, [] { throw std::runtime_error("broken"); });
  ASSERT_FALSE(host.Lines.empty());
  EXPECT_EQ(U8(host.Lines.back().Text), "System error broken");
  EXPECT_EQ(in->RunState, rsEnded);
}
