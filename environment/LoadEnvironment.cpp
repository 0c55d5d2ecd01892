#include "environment/LoadEnvironment.h"

#include <QApplication>
#include <QFileInfo>
#include <QMdiArea>
#include <QScreen>
#include <QTimer>
#include <exception>
#include <filesystem>
#include <system_error>

#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/CommandWin.h"
#include "environment/EnvHost.h"
#include "environment/EnvServices.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/Main.h"
#include "environment/MainInit.h"
#include "environment/MainMenu.h"
#include "environment/OutputText.h"
#include "environment/Settings.h"
#include "environment/Shutdown.h"
#include "environment/SmokeHook.h"
#include "environment/SrcWin.h"
#include "environment/StartupRules.h"
#include "environment/VarWin.h"
#include "environment/ZAVForm.h"
#include "graphics/Graphics.h"

namespace {

Graphics* GraphicsOf(TMainForm& main) {
  TInterpreter& in = main.interpreter();
  return in.OwnGraphics != nullptr ? &Graphics::Of(in) : nullptr;
}

void Log(TMainForm& main, std::u16string_view text) { DebugLog(main.env(), text); }

// The environment font from FONT.NAME, FONT.SIZE, FONT.ITALIC and FONT.BOLD;
// a missing name keeps the desktop's family.
QFont FontFromSettings(EnvState& env) {
  QFont font = QApplication::font();
  const std::u16string name = env.Settings.RawValue(u"FONT.NAME");
  if (!name.empty()) font.setFamily(QString::fromStdU16String(name));
  const int size = GetIntValue(env, env.Settings, u"FONT.SIZE", SettingsDefaults::kFontSize);
  font.setPointSize(size > 0 ? size : SettingsDefaults::kFontSize);
  font.setItalic(IsYesSwitchOn(env.Settings, u"FONT.ITALIC"));
  font.setBold(IsYesSwitchOn(env.Settings, u"FONT.BOLD"));
  return font;
}

void LoadLanguageMenu(TMainForm& main) {
  Log(main, u"  Scanning for languages");
  for (const std::u16string& name : FindLanguages(main.env().LanguagesFolder)) Log(main, u"     - " + name);
  if (MainMenu* menu = main.mainMenu()) menu->rebuildLanguages();
}

void LoadGuiMode(TMainForm& main) {
  EnvState& env = main.env();
  env.AdvancedGui = IsYesSwitchOn(env.Settings, u"ADVANCEDGUI");
  if (MainMenu* menu = main.mainMenu()) menu->applyGuiMode(env.AdvancedGui);
  Log(main, env.AdvancedGui ? u"  Zavta is in Advanced mode" : u"  Zavta is in non-Advanced mode");
}

void LoadFont(TMainForm& main) {
  EnvState& env = main.env();
  Log(main, u"  Loading font parameters");
  env.Charset = GetIntValue(env, env.Settings, u"FONT.CHARSET", SettingsDefaults::kFontCharset);
  if (!env.Settings.RawValue(u"FONT.CODEPAGE").empty())
    env.S.Language.CodePage = GetIntValue(env, env.Settings, u"FONT.CODEPAGE", env.S.Language.CodePage);
  main.setEnvFont(FontFromSettings(env));
}

void LoadCaseRule(TMainForm& main) {
  EnvState& env = main.env();
  env.S.CaseSensitive = IsNoSwitchOn(env.Settings, u"CASESENSITIVE");
  Log(main, env.S.CaseSensitive ? u"  Zavta is in Case-Sensitive mode" : u"  Zavta is in non-Case-Sensitive mode");
  // The keywords were read under the earlier rule: a start under
  // CASESENSITIVE=No gives what a later language switch would.
  RebuildKeywordTable(env);
}

void LoadReopenList(TMainForm& main) {
  EnvState& env = main.env();
  Log(main, u"  Loading list of most recently opened files");
  env.Reopen.LoadFromSettings(env);
  env.AddToReopenList = [&env](const std::u16string& file) { env.Reopen.Add(env, file); };
  if (MainMenu* menu = main.mainMenu()) menu->rebuildReopen();
}

void LoadLibraries(TMainForm& main, const StartupInput& input) {
  EnvState& env = main.env();
  TInterpreter& in = main.interpreter();
  in.LibraryLoadCommands.clear();
  ResetInterpreter(in);
  std::vector<LibraryEntry> firstLoad;
  env.Libraries = BuildLibraryList(env, input, &firstLoad);
  // The first load follows the list's order; later changes the menu's.
  in.LibraryLoadCommands = LoadCommands(firstLoad, in.S.Keyword(kwRun));
  if (MainMenu* menu = main.mainMenu()) menu->rebuildLibraries();
}

void LoadColours(TMainForm& main) {
  EnvState& env = main.env();
  Log(main, u"  Read syntaxhighlight colors");
  if (env.RuntimeMode) return;
  static constexpr const char16_t* kKeys[kSyntaxColourCount] = {
      u"SYNTAXCOLOR.PRIMITIVE", u"SYNTAXCOLOR.TEXT",    u"SYNTAXCOLOR.NUMBER",  u"SYNTAXCOLOR.VARIABLE",
      u"SYNTAXCOLOR.WORD",      u"SYNTAXCOLOR.COMMENT", u"SYNTAXCOLOR.LIBRARY",
  };
  for (int i = 0; i < kSyntaxColourCount; ++i)
    env.SyntaxColors[static_cast<size_t>(i)] = GetColorValue(env.Settings, kKeys[i]);
}

// The ".zav" parameter, opened in a window of its own; the number of user
// windows to open (none after a forced file).
int LoadCommandLine(TMainForm& main, const StartupInput& input, int users) {
  EnvState& env = main.env();
  if (env.ResetRequested) return users;
  Log(main, u"  Processing command-line parameters");
  env.ForcedSourceFile = ForcedSourceFile(env, input);
  if (env.ForcedSourceFile.empty() || env.RuntimeMode) return users;
  Log(main, u"  Loading forced source file " + env.ForcedSourceFile);
  TSource* source = main.openSourceWindow(QString::fromStdU16String(env.ForcedSourceFile));
  source->setWindowState(Qt::WindowNoState);
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::path(Utf16ToUtf8(env.ForcedSourceFile)).parent_path(), ignored);
  return 0;
}

void OpenSystemWindows(TMainForm& main, EnvServices& services) {
  EnvState& env = main.env();
  Log(main, u"  Creating and showing system windows");
  if (IsYesSwitchOn(env.Settings, u"COMMAND")) main.openCommandWindow();
  if (IsYesSwitchOn(env.Settings, u"MEMORY") && env.AdvancedGui) main.openMemoryWindow();
  if (IsYesSwitchOn(env.Settings, u"OUTPUT")) main.openOutput();
  if (IsYesSwitchOn(env.Settings, u"WEB")) {
    if (services.Help != nullptr)
      services.Help->showWindow();
    else
      Log(main, u"  No help window here: WEB is not opened");
  }
}

// USER1..USERn at the geometry each stored. An entry without a file name
// would only give a window named after its key and is passed over.
void OpenUserSourceWindows(TMainForm& main, int users) {
  EnvState& env = main.env();
  Log(main, u"  Creating and showing user source windows");
  for (int i = 1; i <= users; ++i) {
    const QString name = QStringLiteral("USER%1").arg(i);
    const std::u16string file = env.Settings.RawValue(name.toStdU16String() + u".FILENAME");
    if (file.empty()) continue;
    main.openSourceWindow(QFileInfo(QString::fromStdU16String(file)).absoluteFilePath(), name);
  }
}

void OpenPlaneWindow(TMainForm& main, EnvServices& services) {
  EnvState& env = main.env();
  if (!IsYesSwitchOn(env.Settings, u"PLANE") && !env.RuntimeMode) return;
  Log(main, u"  Readjust the Plane iwndow");
  if (Graphics* g = GraphicsOf(main)) g->PaintSuspended = false;
  if (services.Plane != nullptr)
    services.Plane->openPlane(main);
  else
    main.openPlane();
}

}  // namespace

void ReadWindowOptions(EnvState& env) {
  const auto onUnlessNo = [&env](std::u16string_view key) { return env.Settings.RawValue(key) != u"No"; };
  env.MemoryExpandRoot = onUnlessNo(u"MEMORY.EXPANDROOT");
  env.MemoryExpandCallStack = onUnlessNo(u"MEMORY.EXPANDCALLSTACK");
  env.MemorySort = onUnlessNo(u"MEMORY.SORT");
  env.MaxPrint = GetIntValue(env, env.Settings, u"MAXPRINT", kDefaultMaxPrint);
}

void LoadEnvironment(TMainForm& main, const StartupInput& input, EnvServices& services) {
  EnvState& env = main.env();
  Log(main, u"");
  Log(main, u"Entering LOAD FROM REGISTRY procedure");
  const std::u16string machineId = services.MachineId ? services.MachineId() : GetMachineId();
  const int format = TrustedPixelFormat(env, machineId);
  if (Graphics* g = GraphicsOf(main)) g->PixelFormatIndex = format;

  LoadStartLanguage(env);
  Log(main, env.Settings.RawValue(u"PROJECT").empty() ? u"  Zavta is in non-Project mode"
                                                      : u"  Zavta is in Project mode");
  auto* hints = new TZavtaHint(&main);
  hints->SetHidePause(GetIntValue(env, env.Settings, u"HINTDELAYMS", TZavtaHint::kDefaultHidePauseMs));
  qApp->installEventFilter(hints);
  env.S.Language.DualLanguageSupport = IsYesSwitchOn(env.Settings, u"DUALLANGUAGESUPPORT");

  LoadLanguageMenu(main);
  LoadGuiMode(main);
  LoadFont(main);
  Log(main, u"  Retranslating");
  main.applyLanguage();
  LoadCaseRule(main);
  Log(main, u"  Loading Memory/Output windows options");
  ReadWindowOptions(env);
  LoadReopenList(main);
  LoadLibraries(main, input);

  Log(main, u"  Loading icons");
  main.setStateIcons(QIcon(QStringLiteral(":/icons/default.png")), QIcon(QStringLiteral(":/icons/run.png")),
                     QIcon(QStringLiteral(":/icons/pause.png")));
  LoadColours(main);
  Log(main, u"  Selecting optimal OpenGL pixel format");
  if (MainMenu* menu = main.mainMenu())
    menu->buildPixelFormats();
  else if (services.Plane != nullptr)
    services.Plane->buildPixelFormatMenu(main, {});
  Log(main, u"  Reindexing help files");
  if (services.Help != nullptr)
    services.Help->loadHelpIndex();
  else
    Log(main, u"  No help window here: no help index");

  if (!env.RuntimeMode) main.setWindowState(Qt::WindowMaximized);
  int users = GetIntValue(env, env.Settings, u"USERS", SettingsDefaults::kUsers);
  users = LoadCommandLine(main, input, users);
  if (!env.RuntimeMode) {
    OpenSystemWindows(main, services);
    OpenUserSourceWindows(main, users);
  }
  OpenPlaneWindow(main, services);
  if (MainMenu* menu = main.mainMenu()) menu->syncViewChecks();

  if (Graphics* g = GraphicsOf(main)) g->PlaneRedrawEnabled = true;
  if (env.RuntimeMode) main.show();
  main.refreshLayout();
}

void ShowMainWindow(TMainForm& main) {
  if (!main.env().RuntimeMode) {
    // Without a window manager a maximised window keeps its size: it takes
    // the screen's free area itself first.
    if (const QScreen* screen = main.screen()) main.setGeometry(screen->availableGeometry());
    main.showMaximized();
  }
  if (TCommandWindow* command = main.commandWindow()) {
    main.mdiArea()->setActiveSubWindow(command);
    command->editor()->setFocus();
  }
}

void AutoloadLibraries(TMainForm& main) {
  EnvState& env = main.env();
  TInterpreter& in = main.interpreter();
  if (env.EnvironmentReady) return;
  Log(main, u"  Loading libraries");
  env.EnvironmentReady = true;
  if (!env.Quitting) {
    ResetInterpreter(in);
    SetRunState(in, rsIdle);
    if (!env.ForcedSourceFile.empty()) {
      const std::u16string command = ForcedFileCommand(in.S.Keyword(kwRun), env.ForcedSourceFile);
      SetRunState(in, rsRunning);
      RunText(in, command, u"");
      Log(main, u"  Executing commands [" + command + u"]");
      // The file's objects are drawn as after Run: lists rebuilt, scene
      // redrawn; without this the plane keeps the pictures drawn while the
      // file was still building them.
      SetRunState(in, rsFinalRedraw);
      GraphicsHooks& graphics = in.host().graphics();
      graphics.resumePainting();
      try {
        graphics.paintResume();
        RedrawScene(in);
      } catch (const std::exception&) {
        // The redraw's failure does not keep the start from ending.
      }
      SetRunState(in, rsEnded);
    }
    if (TDebugVars* memory = main.memoryWindow()) memory->RefreshVariables();
  }
  Log(main, u"  Loading libraries done");
}

void FinishLoadEnvironment(TMainForm& main, EnvServices& services) {
  GuardCoreEntry(main.interpreter(), [&main] { AutoloadLibraries(main); });
  if (services.Plane != nullptr && services.Plane->isOpen(main)) services.Plane->paint(main);
  QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &main, &TMainForm::appActivate,
                   Qt::UniqueConnection);
  Log(main, u"Exiting LOAD FROM REGISTRY procedure");
}

int StartEnvironment(const StartupInput& input, EnvServices& services) {
  EnvironmentHost host;
  TStructure structure(host);
  EnvState env(structure);
  MainUnitInit(env, input);
  if (services.InitControlBridge) services.InitControlBridge();

  TInterpreter interpreter(structure);
  Graphics graphics(interpreter);
  DialogPrompts desktopPrompts;
  Prompts& prompts = services.Dialogs != nullptr ? *services.Dialogs : desktopPrompts;
  int status = 0;
  {
    TMainForm mainForm(interpreter, env, prompts);
    mainForm.setServices(services);
    host.attach(&mainForm);
    host.setGraphics(&graphics);
    SmokeHook smoke(mainForm, qEnvironmentVariable("ZAVTA_TYPE"), qEnvironmentVariable("ZAVTA_SCREENSHOT"));
    // A close that was not accepted through the main window (a program's
    // halt, a run-time close) still writes the settings, once.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &mainForm, [&mainForm] { SaveConfigurationOnce(mainForm); });

    LoadEnvironment(mainForm, input, services);
    ShowMainWindow(mainForm);
    // The autoload runs in a visible, responsive window; the hook types and
    // grabs after it.
    QTimer::singleShot(0, &mainForm, [&mainForm, &services, &smoke] {
      FinishLoadEnvironment(mainForm, services);
      smoke.Start();
    });
    status = QApplication::exec();
    if (status == 0) status = smoke.ExitCode;
    host.setGraphics(nullptr);
    host.attach(nullptr);
  }
  for (const auto& step : services.ShutdownList) {
    try {
      step(interpreter);
    } catch (const std::exception&) {
      // One failing step does not keep the others from running.
    }
  }
  return status;
}
