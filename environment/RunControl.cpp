#include "environment/RunControl.h"

#include <climits>
#include <exception>
#include <filesystem>
#include <system_error>

#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Settings.h"

namespace {

bool IdleOrEnded(uint8_t state) { return state == rsIdle || state == rsEnded; }

}  // namespace

bool RunControl::IdleRunOnStack() const {
  // Once asked to stop, such a run stays one until it returns, although its
  // state is then 1.
  return in_.RunNesting > 0 && (idleRunStopped_ || IdleOrEnded(in_.RunState));
}

void RunControl::SetRunState(uint8_t state) { ::SetRunState(in_, state); }

void RunControl::ShowRunState(uint8_t state) {
  const bool changed = state != shownState_;
  shownState_ = state;
  switch (state) {
    case rsIdle:
      ui_.hideDebugMarkers();
      if (changed) ui_.setStateIcon(StateIcon::Default);
      if (ExitPending) ui_.postClose();
      break;
    case rsEnded:
    case rsFinalRedraw:
      ui_.hideDebugMarkers();
      if (changed) ui_.setStateIcon(StateIcon::Pause);
      if (ExitPending) ui_.postClose();
      break;
    case rsPaused:
      if (changed) ui_.setStateIcon(StateIcon::Pause);
      break;
    default:
      ui_.hideDebugMarkers();
      if (changed) ui_.setStateIcon(StateIcon::Run);
      break;
  }
  if (!changed) return;
  EnableRunCommands(ui_.activeSource() != nullptr && state != rsRunning);
}

void RunControl::EnableRunCommands(bool enabled) {
  const bool run = enabled && in_.RunState != rsRunning;
  ui_.setActionEnabled(u"ButRun", run);
  ui_.setActionEnabled(u"MenuRun", run);
  ui_.setActionEnabled(u"MenuTo", enabled);
  ui_.setActionEnabled(u"MenuCmd", enabled);
  ui_.setActionEnabled(u"MenuStep", enabled);
  if (in_.RunState != rsIdle) {
    ui_.setActionEnabled(u"ButStop", true);
    ui_.setActionEnabled(u"MenuStop", true);
  }
}

void RunControl::DisableStop() {
  ui_.setActionEnabled(u"ButStop", false);
  ui_.setActionEnabled(u"MenuStop", false);
}

void RunControl::ChangeToSourceFolder(RunSource& source) {
  const std::u16string folder = source.fileFolder();
  if (folder.empty()) return;
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::path(Utf16ToUtf8(folder)), ignored);
}

void RunControl::ConsumeResetAfterRun() {
  if (!ResetAfterRun) return;
  ResetInterpreter(in_);
  SetRunState(rsIdle);
  ResetAfterRun = false;
  DisableStop();
}

void RunControl::Run() {
  in_.StepDepth = -1;
  if (IdleRunOnStack()) return;
  if (!IdleOrEnded(in_.RunState)) {
    // A paused or stepping run goes on running freely.
    SetRunState(rsRunning);
    return;
  }
  if (in_.RunNesting > 0 || ui_.activeSource() == nullptr) return;

  SetRunState(rsRunning);
  if (!ResetInterpreter(in_)) {
    in_.host().refreshMemory();
    SetRunState(rsRunning);
    if (IsYesSwitchOn(env_.Settings, u"AUTOSAVEBEFORERUN")) ui_.saveAllSources();
    // The reset and the save pump: the window may have closed meanwhile.
    if (RunSource* source = ui_.activeSource()) {
      ChangeToSourceFolder(*source);
      RunProgramText(in_, source->text(), source->title());
      if (!in_.host().graphics().doubleBuffered()) RedrawScene(in_);
    }
  }

  SetRunState(rsFinalRedraw);
  GraphicsHooks& graphics = in_.host().graphics();
  graphics.resumePainting();
  try {
    graphics.paintResume();
    RedrawScene(in_);
  } catch (const std::exception&) {
    // The final redraw's failure does not keep the run from ending.
  }
  SetRunState(rsEnded);
  ConsumeResetAfterRun();
}

void RunControl::StepRun(uint8_t mode) {
  RunSource* source = ui_.activeSource();
  if (source == nullptr) return;
  if (mode == kRunTo) {
    TPosition target;
    target.SourceName = SharedText(source->title());
    target.Line = source->caretLine();
    target.StartPos = 0;
    target.EndPos = INT32_MAX;
    in_.RunToPosition = target;
  }
  if (IdleRunOnStack()) return;
  if (!IdleOrEnded(in_.RunState)) {
    SetRunState(mode);
    return;
  }
  if (mode == kRunStep) {
    if (StepGuard) return;
    StepGuard = true;
  }

  if (!ResetInterpreter(in_)) {
    in_.host().refreshMemory();
    SetRunState(mode);
    in_.StepDepth = mode == kRunTo ? 0 : -1;
    if (mode == kRunStep) StepGuard = false;
    if (RunSource* current = ui_.activeSource()) {
      ChangeToSourceFolder(*current);
      RunProgramText(in_, current->text(), current->title());
    }
  }
  if (mode == kRunStep) StepGuard = false;
  SetRunState(rsEnded);
  RedrawScene(in_);
  ConsumeResetAfterRun();
}

void RunControl::StopIdleRun() {
  SetRunState(rsStop);
  ResetInterpreter(in_);
  idleRunStopped_ = true;
}

void RunControl::Stop() {
  if (ui_.abandonPendingCommand()) return;
  if (IdleRunOnStack()) {
    StopIdleRun();
    return;
  }
  switch (in_.RunState) {
    case rsFinalRedraw:
      return;
    case rsIdle:
    case rsEnded:
      ResetInterpreter(in_);
      SetRunState(rsIdle);
      in_.host().graphics().resumePainting();
      ui_.repaintMainWindow();
      DisableStop();
      return;
    default:
      SetRunState(rsStop);
      return;
  }
}

void RunControl::Reset() {
  if (IdleRunOnStack()) {
    StopIdleRun();
    return;
  }
  if (in_.RunState != rsIdle) Stop();
  if (in_.RunState == rsStop) {
    SetRunState(rsStop);
    ResetAfterRun = true;
  } else {
    ResetInterpreter(in_);
  }
}

void RunControl::Exit() {
  if (in_.RunNesting == 0) {
    ui_.postClose();
    return;
  }
  ExitPending = true;
  if (IdleRunOnStack())
    StopIdleRun();
  else
    Stop();
}

void RunControl::RunsEnded() {
  if (idleRunStopped_) {
    idleRunStopped_ = false;
    SetRunState(rsIdle);
    in_.host().graphics().resumePainting();
    DisableStop();
  }
  if (ExitPending) ui_.postClose();
}

void GuardCoreEntry(TInterpreter& in, const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    try {
      PrintToOutput(in.S, in.S.Language.Text(u"SYSTEMERROR") + u" " + Utf8ToUtf16(error.what()));
      if (in.RunNesting == 0) SetRunState(in, rsEnded);
    } catch (const std::exception&) {
      // Nothing more can be reported.
    }
  }
}
