#pragma once
// What the environment's start, menus and end take from outside: the
// drawing plane's services, the help window (none yet), the prompts, the
// step before the main window, the machine id and the work done after the
// message loop. app/main.cpp fills it; tests give fakes.

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "graphics/plane/PixelFormats.h"

class TInterpreter;
class TMainForm;
class TPlane;
class Prompts;

// The drawing plane as the environment drives it.
class PlaneServices {
public:
  virtual ~PlaneServices() = default;
  // Chooses the pixel format (the graphics' PixelFormatIndex), fills the
  // targets and writes opengl.log.
  virtual void buildPixelFormatMenu(TMainForm& main, const PixelFormatMenuTargets& targets) = 0;
  // Opens the plane: shown, its background the clear colour, painted, its
  // settings applied, then the scene regenerated and redrawn. False when no
  // plane can exist here.
  virtual bool openPlane(TMainForm& main) = 0;
  virtual void closePlane(TMainForm& main) = 0;
  virtual bool isOpen(TMainForm& main) = 0;
  // The open plane's rendering context made again for the pixel format.
  virtual void recreateContext(TMainForm& main, int pixelFormatIndex) = 0;
  // Paints the open plane.
  virtual void paint(TMainForm& main) = 0;
};

// The help window's services (the help window joins later).
class HelpProvider {
public:
  virtual ~HelpProvider() = default;
  // Opens the help window ("WEB") when it is closed.
  virtual void showWindow() = 0;
  virtual void showStartPage() = 0;
  virtual void showSearchPage() = 0;
  virtual void showHomePage() = 0;
  // Types the text into the address box and presses Enter.
  virtual void enterAddress(const QString& text) = 0;
  virtual bool isHelpTopic(const QString& word) = 0;
  virtual void loadHelpIndex() = 0;
};

struct EnvServices {
  PlaneServices* Plane = nullptr;  // null: the main window's own plane, nothing more
  HelpProvider* Help = nullptr;    // null: the help items are disabled
  Prompts* Dialogs = nullptr;      // the file, print and font prompts
  // Runs before the main window is made (the control bridge's set-up).
  std::function<void()> InitControlBridge;
  // The id a stored pixel format is tied to; empty function: /etc/machine-id.
  std::function<std::u16string()> MachineId;
  // Run in order after the message loop, before the interpreter goes: the
  // recording, the files, the port library, the program log.
  std::vector<std::function<void(TInterpreter&)>> ShutdownList;
};
