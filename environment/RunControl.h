#pragma once
// The main window's run control, Qt-free: Run, Run To, Run Command, Run
// Step, Stop, Reset and Exit, the run state's display and the enabling of
// the run commands. The main window implements RunUi; tests fake it.
//
// A command may arrive from inside a run: the message pumps of a running
// program handle clicks and keys. Runs entered in the idle or ended state
// (typed commands, control, plane and help events) cannot be stepped or
// rerun from under themselves, so while one is on the stack the run
// commands do nothing, and Stop, Reset and Exit ask it to stop and defer
// the reset (and the close) to the moment the outermost run returns
// (RunsEnded). Once asked to stop it stays such a run, so a later Run
// cannot take the stop back.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TInterpreter;
struct EnvState;

// The source window Run acts on.
class RunSource {
public:
  virtual ~RunSource() = default;
  virtual std::u16string title() = 0;
  virtual std::u16string text() = 0;
  // The folder of the window's file; "" when it has none.
  virtual std::u16string fileFolder() = 0;
  // The caret's line, 1-based.
  virtual int32_t caretLine() = 0;
};

enum class StateIcon { Default, Run, Pause };

// What run control asks of the main window. Action names are the menu
// items': ButRun, MenuRun, MenuTo, MenuCmd, MenuStep, ButStop, MenuStop.
class RunUi {
public:
  virtual ~RunUi() = default;
  // The active source window (never the command window); null when none.
  // Re-read after every call that may pump.
  virtual RunSource* activeSource() = 0;
  virtual void setActionEnabled(std::u16string_view action, bool enabled) = 0;
  virtual void setStateIcon(StateIcon icon) = 0;
  virtual void hideDebugMarkers() = 0;
  // Drops a command the command window is still collecting; false when
  // there was none.
  virtual bool abandonPendingCommand() = 0;
  virtual void repaintMainWindow() = 0;
  virtual void saveAllSources() = 0;
  // Posts the main window's close; it is taken with no run on the stack.
  virtual void postClose() = 0;
};

class RunControl {
public:
  RunControl(TInterpreter& in, EnvState& env, RunUi& ui) : in_(in), env_(env), ui_(ui) {}

  // The seven commands.
  void Run();
  void RunTo() { StepRun(kRunTo); }
  void RunCommand() { StepRun(kRunCommand); }
  void RunStep() { StepRun(kRunStep); }
  void Stop();
  void Reset();
  void Exit();

  // Writes the run state through the interpreter (which tells the host,
  // whose ShowRunState follows).
  void SetRunState(uint8_t state);
  // The display of a state the interpreter has written: markers, icon,
  // the posted close on ExitPending, and the run commands when it changed
  // from the state last shown.
  void ShowRunState(uint8_t state);
  void EnableRunCommands(bool enabled);
  // The outermost run has returned (after its deferred reset).
  void RunsEnded();

  bool ExitPending = false;    // close the main window once the run has ended
  bool ResetAfterRun = false;  // Reset chosen while a stop request was pending
  bool StepGuard = false;      // a Run Step is being started

private:
  static constexpr uint8_t kRunCommand = 2;
  static constexpr uint8_t kRunStep = 3;
  static constexpr uint8_t kRunTo = 4;

  void StepRun(uint8_t mode);
  // A run started in the idle or ended state is on the stack.
  bool IdleRunOnStack() const;
  // Stop, Reset and Exit under such a run: it is asked to stop, the reset
  // waits for its end.
  void StopIdleRun();
  void ConsumeResetAfterRun();
  void ChangeToSourceFolder(RunSource& source);
  void DisableStop();

  TInterpreter& in_;
  EnvState& env_;
  RunUi& ui_;
  uint8_t shownState_ = 0;       // the state last shown
  bool idleRunStopped_ = false;  // RunsEnded finishes what StopIdleRun began
};

// Runs a slot's call into the core: an escaping exception prints
// SYSTEMERROR + " " + what() and, with no run on the stack, sets state 5.
void GuardCoreEntry(TInterpreter& in, const std::function<void()>& call);
