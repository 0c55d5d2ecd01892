#pragma once
// The host of the windowed program: the core's door (core/Host.h) onto the
// main window, its output window and message dialog, the event loop and
// the plane's graphics hooks.

#include <QPointer>

#include "core/Host.h"

class TMainForm;
class TInterpreter;

class EnvironmentHost : public Host {
public:
  void attach(TMainForm* main) { main_ = main; }
  // The plane's hooks (the plane installs Graphics); null: none.
  void setGraphics(GraphicsHooks* graphics) { graphics_ = graphics; }

  void processMessages() override;
  void waitAndProcessMessages(int ms) override;
  void printLine(const std::u16string& text, uint32_t colour, bool bold) override;
  int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                        int flags) override;
  void setRunState(uint8_t state) override;
  SourceView* findSource(const std::u16string& name) override;
  GraphicsHooks& graphics() override { return graphics_ != nullptr ? *graphics_ : noPlane_; }
  void showHelp(const std::u16string& topic) override;
  void refreshMemory() override;
  void setElapsedTime(const std::u16string& text) override;
  bool startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                     const std::u16string& folder) override;
  void runsEnded() override;

private:
  QPointer<TMainForm> main_;
  GraphicsHooks* graphics_ = nullptr;
  NoPlaneGraphics noPlane_;
};
