#include "app/StartSequence.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QMdiArea>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/CommandWin.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/Main.h"
#include "environment/MainMenu.h"
#include "environment/MainInit.h"
#include "environment/OutWin.h"
#include "environment/Settings.h"
#include "environment/StartupRules.h"
#include "environment/VarWin.h"
#include "environment/ZAVForm.h"
#include "graphics/Graphics.h"
#include "graphics/plane/PixelFormats.h"

namespace {

constexpr int kSettleMs = 500;

QFont FontFromSettings(EnvState& env) {
  QFont font(QString::fromStdU16String(env.Settings.GetValueOrKey(u"FONT.NAME")));
  font.setPointSize(GetIntValue(env, env.Settings, u"FONT.SIZE", SettingsDefaults::kFontSize));
  font.setItalic(IsYesSwitchOn(env.Settings, u"FONT.ITALIC"));
  font.setBold(IsYesSwitchOn(env.Settings, u"FONT.BOLD"));
  return font;
}

// The forced file's run, as the library autoload runs it.
void RunForcedFile(TInterpreter& in, const std::u16string& file) {
  SetRunState(in, rsRunning);
  RunText(in, ForcedFileCommand(in.S.Keyword(kwRun), file), u"");
  SetRunState(in, rsEnded);
}

// The source windows listed as USER1..USERn; an entry without a file name
// would only give a window named after its key and is passed over.
void OpenUserSourceWindows(TMainForm& main, EnvState& env) {
  const int users = GetIntValue(env, env.Settings, u"USERS", SettingsDefaults::kUsers);
  for (int i = 1; i <= users; ++i) {
    const std::u16string file = env.Settings.RawValue(u"USER" + Utf8ToUtf16(std::to_string(i)) + u".FILENAME");
    if (!file.empty()) main.openSourceWindow(QString::fromStdU16String(file));
  }
}

}  // namespace

void ReadEditorSwitches(EnvState& env) {
  env.AdvancedGui = IsYesSwitchOn(env.Settings, u"ADVANCEDGUI");
  // The memory options are on unless set to "No".
  const auto onUnlessNo = [&env](std::u16string_view key) { return env.Settings.RawValue(key) != u"No"; };
  env.MemoryExpandCallStack = onUnlessNo(u"MEMORY.EXPANDCALLSTACK");
  env.MemoryExpandRoot = onUnlessNo(u"MEMORY.EXPANDROOT");
  env.MemorySort = onUnlessNo(u"MEMORY.SORT");
}

void runStartSequence(TMainForm& main, EnvState& env, TInterpreter& in, const StartupInput& input) {
  main.setWindowTitle(QString::fromStdU16String(MainCaption(env, env.VersionText)));
  main.applyLanguage();
  main.setStateIcons(QIcon(QStringLiteral(":/icons/default.png")), QIcon(QStringLiteral(":/icons/run.png")),
                     QIcon(QStringLiteral(":/icons/pause.png")));
  main.setEnvFont(FontFromSettings(env));
  auto* hints = new TZavtaHint(qApp);
  hints->SetHidePause(GetIntValue(env, env.Settings, u"HINTDELAYMS", TZavtaHint::kDefaultHidePauseMs));
  qApp->installEventFilter(hints);

  ReadEditorSwitches(env);
  if (IsYesSwitchOn(env.Settings, u"COMMAND")) main.openCommandWindow();
  if (IsYesSwitchOn(env.Settings, u"OUTPUT")) main.openOutput();
  if (IsYesSwitchOn(env.Settings, u"MEMORY") && env.AdvancedGui) main.openMemoryWindow();
  Graphics::Of(in).PixelFormatIndex = TrustedPixelFormat(env, GetMachineId());
  BuildPixelFormatMenu(main, Graphics::Of(in), {});
  if (IsYesSwitchOn(env.Settings, u"PLANE")) main.openPlane();

  DebugLog(env, u"  Loading list of most recently opened files");
  env.Reopen.LoadFromSettings(env);
  env.AddToReopenList = [&env](const std::u16string& file) { env.Reopen.Add(env, file); };
  std::vector<LibraryEntry> firstLoad;
  env.Libraries = BuildLibraryList(env, input, &firstLoad);
  in.LibraryLoadCommands = LoadCommands(firstLoad, in.S.Keyword(kwRun));
  if (!env.RuntimeMode) new MainMenu(main);
  const std::u16string forced = ForcedSourceFile(env, input);
  // A forced file takes the place of the source windows open at the last exit.
  if (forced.empty() && !env.RuntimeMode) OpenUserSourceWindows(main, env);
  env.EnvironmentReady = true;
  ResetInterpreter(in);
  SetRunState(in, rsIdle);
  // Without a window manager a maximised window keeps its size: it takes the
  // screen's free area itself first.
  if (const QScreen* screen = main.screen()) main.setGeometry(screen->availableGeometry());
  main.showMaximized();
  if (TCommandWindow* command = main.commandWindow()) {
    main.mdiArea()->setActiveSubWindow(command);
    command->editor()->setFocus();
  }

  QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &main, &TMainForm::appActivate);
  Graphics::Of(in).PlaneRedrawEnabled = true;

  if (!forced.empty()) {
    QTimer::singleShot(0, &main, [&in, forced] { GuardCoreEntry(in, [&] { RunForcedFile(in, forced); }); });
  }
}

// --- the test hook ---------------------------------------------------------------------

SmokeHook::SmokeHook(TMainForm& main, QString typed, QString screenshot)
    : main_(main), typed_(std::move(typed)), screenshot_(std::move(screenshot)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &SmokeHook::Capture);
  connect(&main_, &TMainForm::runsFinished, this, [this] {
    if (!started_) {
      QTimer::singleShot(0, this, &SmokeHook::Begin);
      return;
    }
    if (!screenshot_.isEmpty()) settle_.start();
  });
}

void SmokeHook::Start() { QTimer::singleShot(0, this, &SmokeHook::Begin); }

void SmokeHook::Begin() {
  // A run on the stack (the forced file) comes first: its end begins again.
  if (started_ || main_.interpreter().RunNesting > 0) return;
  started_ = true;
  if (!typed_.isEmpty()) TypeIntoCommandWindow();
  if (!screenshot_.isEmpty()) settle_.start();
}

void SmokeHook::TypeIntoCommandWindow() {
  TCommandWindow* command = main_.commandWindow();
  if (command == nullptr) return;
  QWidget* editor = command->editor();
  const auto post = [editor](int key, const QString& text) {
    QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
  };
  for (const QChar ch : typed_) post(ch.isLetterOrNumber() ? int{ch.toUpper().unicode()} : int{Qt::Key_unknown}, ch);
  post(Qt::Key_Return, QStringLiteral("\r"));
}

void SmokeHook::Capture() {
  // A modal dialog (an error report, say) waits for a user the hook does not
  // have: it is answered OK and the pause begins again, so that the run it
  // held can end.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
    dialog->done(QDialog::Accepted);
    settle_.start();
    return;
  }
  // The pause counts from the last run's end; a run's end restarts it.
  if (main_.interpreter().RunNesting > 0) return;
  bool written = main_.grab().save(screenshot_, "PNG");
  QFile text(screenshot_ + QStringLiteral(".txt"));
  QString output;
  if (TOutput* window = main_.output()) output = window->Text() + u'\n';
  written = text.open(QIODevice::WriteOnly | QIODevice::Truncate) && text.write(output.toUtf8()) >= 0 && text.flush() &&
            written;
  ExitCode = written ? 0 : 1;
  main_.close();
}
