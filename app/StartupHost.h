#pragma once
// The host the interpreter state talks to while the program starts, before
// any window exists: it keeps the event loop turning and writes output lines
// to the terminal. No source windows, no plane.

#include "core/Host.h"
#include "core/Shell.h"

class StartupHost : public Host {
public:
  void processMessages() override;
  void waitAndProcessMessages(int ms) override;
  void printLine(const std::u16string& text, uint32_t colour, bool bold) override;
  int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                        int flags) override;
  void setRunState(uint8_t) override {}
  SourceView* findSource(const std::u16string&) override { return nullptr; }
  GraphicsHooks& graphics() override { return plane_; }
  void showHelp(const std::u16string&) override {}
  void refreshMemory() override {}
  void setElapsedTime(const std::u16string&) override {}
  bool startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                     const std::u16string& folder) override {
    return SpawnDetached(program, arguments, folder);
  }

private:
  NoPlaneGraphics plane_;
};
