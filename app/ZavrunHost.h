#pragma once
// The host of the headless runner: output-window lines go to stdout (UTF-8,
// one line each), what the message dialog would show goes to stderr. There
// are no source windows and no plane (the graphics state draws on the null
// table); the pump only looks for an interrupt.

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/Host.h"
#include "core/Shell.h"
#include "environment/OutputText.h"

class TInterpreter;
class TStructure;

class ZavrunHost : public Host {
public:
  // The interpreter whose run the pump stops on an interrupt; the structure
  // whose log takes the output lines. Either may be null.
  void Attach(TStructure* structure, TInterpreter* interpreter) {
    structure_ = structure;
    interpreter_ = interpreter;
  }

  void processMessages() override;
  void waitAndProcessMessages(int ms) override;
  // No window shows a variable.
  bool pumpShowsVariables() const override { return false; }
  void printLine(const std::u16string& text, uint32_t colour, bool bold) override;
  int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                        int flags) override;
  // The interpreter keeps the state itself; there are no icons to change.
  void setRunState(uint8_t) override {}
  SourceView* findSource(const std::u16string&) override { return nullptr; }
  // The interpreter's graphics (without a plane) while one is set.
  GraphicsHooks& graphics() override { return graphics_ != nullptr ? *graphics_ : plane_; }
  void SetGraphics(GraphicsHooks* graphics) { graphics_ = graphics; }
  void showHelp(const std::u16string&) override {}
  void refreshMemory() override {}
  void setElapsedTime(const std::u16string&) override {}
  bool startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                     const std::u16string& folder) override {
    return SpawnDetached(program, arguments, folder);
  }

  // The scratch folder of the help parameter files, made when first asked.
  std::u16string makeHelpFolder() override { return HelpFolderMaker ? HelpFolderMaker() : std::u16string(); }
  std::function<std::u16string()> HelpFolderMaker;
  // Longest line shown whole, as the output window's MAXPRINT; 0 or less:
  // no cut.
  int MaxPrint = 4000;

  // Set by the SIGINT/SIGTERM handler; the next pump asks the run to stop
  // as the Stop button would.
  static volatile std::sig_atomic_t InterruptSignal;

private:
  TStructure* structure_ = nullptr;
  TInterpreter* interpreter_ = nullptr;
  NoPlaneGraphics plane_;
  GraphicsHooks* graphics_ = nullptr;
};

// The output lines of one printed text: the text cut after maxPrint
// characters with "..." appended (maxPrint > 0), then split at every line
// break (CR LF, LF or a lone CR), each line UTF-8 with a final "\n".
std::string OutputLines(const std::u16string& text, int maxPrint);
