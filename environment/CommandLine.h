#pragma once
// The line collector of the command window (and, later, of every source
// window): Enter hands it the caret line; a line that does not parse is
// kept and the following lines are added to it until the whole text runs.
// Qt-free: the run goes through an injected function, the window through
// CommandLineUi.

#include <cstdint>
#include <functional>
#include <string>

class TInterpreter;
struct EnvState;

class CommandLineUi {
public:
  virtual ~CommandLineUi() = default;
  virtual void setTitle(const std::u16string& title) = 0;
  virtual void repaint() = 0;
  virtual void applyFont() = 0;
  // Enables ButStop and MenuStop, so that Stop can abandon the command.
  virtual void enableStop() = 0;
  // Makes ButStop visible (each typed line does).
  virtual void showStop() = 0;
};

// Runs a text with an empty source name; RunText's 0, 1 or 2.
using CommandRunner = std::function<int(const std::u16string& text, int32_t startPos, int32_t startLine)>;

class CommandLine {
public:
  // isCommandWindow: the title follows the collector's state (a plain
  // source window keeps its own).
  CommandLine(TInterpreter& in, EnvState& env, CommandLineUi& ui, bool isCommandWindow, CommandRunner run = {});

  // Runs one typed line: startPos is the 1-based position of its first
  // character in the window, line its 1-based line.
  void RunLine(const std::u16string& line, int32_t startPos, int32_t lineNumber);
  // Stop's share: drops a waiting command; false when none was waiting.
  bool Abandon();

  bool Complete() const { return complete_; }
  const std::u16string& PendingText() const { return pending_; }

private:
  void RunFresh(const std::u16string& line, int32_t startPos, int32_t lineNumber);
  void RunContinued(const std::u16string& line, int32_t startPos, int32_t lineNumber);
  void ShowIncomplete();
  void SetTitle(const std::u16string& title);
  std::u16string CommandTitle() const;
  void LeaveFramesToRoot();

  TInterpreter& in_;
  EnvState& env_;
  CommandLineUi& ui_;
  bool isCommandWindow_;
  CommandRunner run_;
  bool complete_ = true;  // no incomplete command is waiting
  std::u16string pending_;
};
