// The program's entry point: the application object, the C number locale,
// the keys held at start, the main module's start-up and the language.

#include <QApplication>
#include <QGuiApplication>
#include <QStringList>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/StartupHost.h"
#include "core/Text.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/MainInit.h"

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

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Qt sets the process locale from the environment; the system's own
  // numbers are always written and read with ".".
  std::setlocale(LC_NUMERIC, "C");
  const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();

  StartupInput input;
  input.ProgramFolder = ExecutableFolder();
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) input.Arguments.push_back(arguments[i].toStdU16String());
  input.ShiftHeld = held.testFlag(Qt::ShiftModifier);
  input.CtrlHeld = held.testFlag(Qt::ControlModifier);
  input.XdgDataHome = Environment("XDG_DATA_HOME");
  input.Home = Environment("HOME");

  StartupHost host;
  TStructure structure(host);
  EnvState env(structure);
  MainUnitInit(env, input);
  LoadStartLanguage(env);
  // The main window and its message loop join here once they exist.
  return 0;
}
