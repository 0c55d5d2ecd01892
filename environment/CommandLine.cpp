#include "environment/CommandLine.h"

#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"

namespace {

// Black: the colour of the echo.
constexpr uint32_t kEchoColour = 0;
// What joins the lines of a collected command.
constexpr char16_t kLineJoin[] = u" \r\n ";

}  // namespace

CommandLine::CommandLine(TInterpreter& in, EnvState& env, CommandLineUi& ui, bool isCommandWindow, CommandRunner run)
    : in_(in), env_(env), ui_(ui), isCommandWindow_(isCommandWindow), run_(std::move(run)) {
  if (!run_) {
    run_ = [this](const std::u16string& text, int32_t startPos, int32_t startLine) {
      return RunText(in_, text, u"", startPos, startLine);
    };
  }
}

std::u16string CommandLine::CommandTitle() const { return env_.LanguageTexts.GetValueOrKey(u"CAPTION.COMMAND"); }

void CommandLine::SetTitle(const std::u16string& title) {
  if (isCommandWindow_) ui_.setTitle(title);
}

void CommandLine::ShowIncomplete() {
  SetTitle(FormatMessage(env_.LanguageTexts.GetValueOrKey(u"CAPTION.COMMAND.INCOMPLETE"), {in_.S.LastError}));
  ui_.repaint();
  ui_.enableStop();
  ui_.applyFont();
}

void CommandLine::LeaveFramesToRoot() {
  // Inside a running program the command runs nested in its current frame;
  // leaving frames there would free the program's frames under it.
  if (in_.RunNesting > 0) return;
  TStructure& s = in_.S;
  while (s.Frame() != nullptr && s.Frame()->Parent != nullptr) s.LeaveFrame();
}

void CommandLine::RunLine(const std::u16string& line, int32_t startPos, int32_t lineNumber) {
  Host& host = in_.host();
  ui_.showStop();
  if (in_.S.Log.LogFileOpen) WriteLog(in_.S, lcCommand, line);
  host.printLine(line, kEchoColour, true);
  if (complete_)
    RunFresh(line, startPos, lineNumber);
  else
    RunContinued(line, startPos, lineNumber);
}

void CommandLine::RunFresh(const std::u16string& line, int32_t startPos, int32_t lineNumber) {
  LeaveFramesToRoot();
  SetTitle(CommandTitle());
  const int result = run_(line, startPos, lineNumber);
  Host& host = in_.host();
  switch (result) {
    case rrOk:
      host.graphics().paintResume();
      ui_.repaint();
      host.refreshMemory();
      break;
    case rrParseError:
      pending_ = line;
      complete_ = false;
      host.graphics().paintResume();
      ShowIncomplete();
      break;
    default:
      ui_.repaint();
      host.refreshMemory();
      break;
  }
}

void CommandLine::RunContinued(const std::u16string& line, int32_t startPos, int32_t lineNumber) {
  ClearErrorHistory(in_);
  pending_ += kLineJoin;
  pending_ += line;
  SetTitle(CommandTitle());
  const int result = run_(pending_, startPos, lineNumber);
  if (result == rrParseError) {
    ShowIncomplete();
    return;
  }
  pending_.clear();
  complete_ = true;
  SetTitle(CommandTitle());
  ui_.repaint();
  in_.host().refreshMemory();
}

bool CommandLine::Abandon() {
  if (complete_) return false;
  pending_.clear();
  complete_ = true;
  SetTitle(CommandTitle());
  ui_.repaint();
  return true;
}
