// The program's entry point: the default GL surface format, the application
// object, the C number locale, what the start-up needs from the process
// (StartupInput) and from the rest of the program (EnvServices); the
// environment orders everything else.

#include <QApplication>
#include <QGuiApplication>
#include <QStringList>
#include <QSurfaceFormat>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvServices.h"
#include "environment/LoadEnvironment.h"
#include "environment/MainInit.h"
#include "environment/Prompts.h"
#include "graphics/Graphics.h"
#include "graphics/plane/PlaneService.h"

namespace {

std::u16string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return u"./";
  std::u16string folder = Utf8ToUtf16(exe.parent_path().string());
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  return folder;
}

std::optional<std::u16string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return Utf8ToUtf16(value);
}

// The plane's context: OpenGL 2.1 compatibility with depth, stencil and
// alpha; it must be the default before the application object exists.
void SetDefaultSurfaceFormat() {
  QSurfaceFormat format;
  format.setVersion(2, 1);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setDepthBufferSize(24);
  format.setStencilBufferSize(8);
  format.setAlphaBufferSize(8);
  QSurfaceFormat::setDefaultFormat(format);
}

StartupInput InputOfProcess() {
  const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
  StartupInput input;
  input.ProgramFolder = ExecutableFolder();
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) input.Arguments.push_back(arguments[i].toStdU16String());
  input.ShiftHeld = held.testFlag(Qt::ShiftModifier);
  input.CtrlHeld = held.testFlag(Qt::ControlModifier);
  input.XdgDataHome = Environment("XDG_DATA_HOME");
  input.Home = Environment("HOME");
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  SetDefaultSurfaceFormat();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  // Qt sets the process locale from the environment; the system's own
  // numbers are always written and read with ".".
  std::setlocale(LC_NUMERIC, "C");

  TPlaneServices plane;
  DialogPrompts prompts;
  EnvServices services;
  services.Plane = &plane;
  services.Dialogs = &prompts;
  // What stays open at the end: the recording, then the program log (files
  // and the port library close with the interpreter).
  services.ShutdownList.push_back([](TInterpreter& in) {
    if (in.OwnGraphics != nullptr) Graphics::Of(in).StopGLRecording();
  });
  services.ShutdownList.push_back([](TInterpreter& in) { in.S.Log.Close(); });
  return StartEnvironment(InputOfProcess(), services);
}
