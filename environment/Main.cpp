#include "environment/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QOpenGLContext>
#include <QTimer>

#include "core/Host.h"
#include "core/Trans.h"
#include "environment/CommandWin.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/MainMenu.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/Settings.h"
#include "environment/Shutdown.h"
#include "environment/SrcWin.h"
#include "environment/VarWin.h"
#include "environment/ZAVForm.h"
#include "graphics/Graphics.h"
#include "graphics/plane/PlnWin.h"

namespace {

struct ActionSpec {
  const char* Name;
  const char* Caption;
  QKeyCombination Shortcut;
};

// The menu items that are plain commands, with their first captions and
// shortcuts; the language texts re-caption them.
const ActionSpec kActions[] = {
    {"MenuNew", "New", Qt::CTRL | Qt::Key_N},
    {"MenuOpen", "Open", Qt::CTRL | Qt::Key_O},
    {"MenuSave", "Save", Qt::CTRL | Qt::Key_S},
    {"MenuSaveAs", "Save As", {}},
    {"MenuPrint", "Print", Qt::CTRL | Qt::Key_P},
    {"MenuExit", "Exit", Qt::ALT | Qt::Key_F4},
    {"MenuCut", "Cut", Qt::CTRL | Qt::Key_X},
    {"MenuCopy", "Copy", Qt::CTRL | Qt::Key_C},
    {"MenuPaste", "Paste", Qt::CTRL | Qt::Key_V},
    {"MenuDelete", "Delete", {}},
    {"MenuFind", "Find", Qt::CTRL | Qt::Key_F},
    {"MenuFindNext", "Find next", QKeyCombination(Qt::Key_F3)},
    {"MenuReplace", "Replace", Qt::CTRL | Qt::Key_R},
    {"MenuOutput", "Output", {}},
    {"MenuPlane", "Plane", {}},
    {"MenuCommand", "Command", {}},
    {"MenuMemory", "Variables", {}},
    {"MenuRun", "Run", QKeyCombination(Qt::Key_F9)},
    {"MenuStop", "Stop", {}},
    {"MenuReset", "Reset", {}},
    {"MenuStep", "Run Step", QKeyCombination(Qt::Key_F7)},
    {"MenuCmd", "Run Command", QKeyCombination(Qt::Key_F8)},
    {"MenuTo", "Run To", QKeyCombination(Qt::Key_F4)},
    {"MenuLibrariesLoad", "Use another library", {}},
    {"MenuFont", "Font", {}},
    {"MenuHardware", "Hardware", {}},
    {"MenuSoftware", "Software (emulated)", {}},
    {"MenuInfo", "Help", QKeyCombination(Qt::Key_F1)},
    {"MenuSearch", "Search", {}},
    {"MenuHome", "Zavta Home", {}},
    {"N2", "|", {}},
    {"ButRun", "", {}},
    {"ButStop", "", {}},
    {"MenuTimeSpent", "Welcome", {}},
    {"PopupHelp", "Help", {}},
};

}  // namespace

TMainForm::TMainForm(TInterpreter& in, EnvState& env, Prompts& prompts)
    : in_(in),
      env_(env),
      prompts_(prompts),
      saveDialog_(prompts),
      runControl_(std::make_unique<RunControl>(in, env, *this)),
      mdi_(new QMdiArea) {
  setObjectName(QStringLiteral("MainForm"));
  resize(GetIntValue(env, env.Settings, u"MAIN.WIDTH", 631), GetIntValue(env, env.Settings, u"MAIN.HEIGHT", 404));
  env.RuntimeMode = IsYesSwitchOn(env.Settings, u"RUNTIME");
  setCentralWidget(mdi_);
  mdi_->setBackground(QColor(0x80, 0x80, 0x80));
  connect(mdi_, &QMdiArea::subWindowActivated, this, &TMainForm::subWindowActivated);
  CreateActions();
  if (!env.RuntimeMode) menu_ = new MainMenu(*this);
  applyLanguage();
  qApp->installEventFilter(this);
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  // The tool windows go while this window is whole: the area's activation
  // signals and the windows' own teardown reach its slots and actions.
  disconnect(mdi_, nullptr, this, nullptr);
  qDeleteAll(mdi_->subWindowList());
}

QAction* TMainForm::AddAction(const QString& name, const QString& caption, const QKeySequence& shortcut) {
  auto* item = new QAction(caption, this);
  item->setObjectName(name);
  if (!shortcut.isEmpty()) item->setShortcut(shortcut);
  actions_.insert(name, item);
  return item;
}

void TMainForm::CreateActions() {
  for (const ActionSpec& spec : kActions) {
    const QKeySequence shortcut = spec.Shortcut.toCombined() != 0 ? QKeySequence(spec.Shortcut) : QKeySequence();
    AddAction(QString::fromLatin1(spec.Name), QString::fromUtf8(spec.Caption), shortcut);
  }
  const auto on = [this](const char* name, void (TMainForm::*slot)()) {
    connect(action(QString::fromLatin1(name)), &QAction::triggered, this, slot);
  };
  on("MenuExit", &TMainForm::exitProgram);
  on("MenuRun", &TMainForm::run);
  on("ButRun", &TMainForm::run);
  on("MenuStop", &TMainForm::stop);
  on("ButStop", &TMainForm::stop);
  on("MenuReset", &TMainForm::reset);
  on("MenuStep", &TMainForm::runStep);
  on("MenuCmd", &TMainForm::runCommand);
  on("MenuTo", &TMainForm::runTo);
  action(QStringLiteral("MenuTimeSpent"))->setEnabled(false);
  action(QStringLiteral("N2"))->setEnabled(false);
  for (const char* name : {"MenuOutput", "MenuMemory", "MenuCommand", "MenuPlane"})
    action(QString::fromLatin1(name))->setCheckable(true);
  action(QStringLiteral("ButRun"))->setIcon(QIcon(QStringLiteral(":/icons/butrun.png")));
  action(QStringLiteral("ButStop"))->setIcon(QIcon(QStringLiteral(":/icons/butstop.png")));
  action(QStringLiteral("ButRun"))->setToolTip(tr("Run"));
  action(QStringLiteral("ButStop"))->setToolTip(tr("Stop"));
  // Stop and the commands that need a source start disabled.
  for (const char* name : {"MenuStop", "ButStop", "MenuRun", "ButRun", "MenuStep", "MenuCmd", "MenuTo"})
    action(QString::fromLatin1(name))->setEnabled(false);
  // The shortcuts work whether or not a menu shows the items.
  for (QAction* item : std::as_const(actions_)) addAction(item);
}

QAction* TMainForm::action(const QString& name) const { return actions_.value(name, nullptr); }

void TMainForm::setServices(EnvServices& services) {
  services_ = &services;
  if (menu_ != nullptr) menu_->enableHelpItems();
}

void TMainForm::applyLanguage(bool reload) {
  setFont(envFont_);
  setWindowTitle(QString::fromStdU16String(MainCaption(env_, env_.VersionText)));
  // A switch re-captions and re-fonts every open tool window; the message
  // dialog takes both each time it opens.
  if (reload)
    for (QMdiSubWindow* window : mdi_->subWindowList())
      if (auto* tool = qobject_cast<TZavtaForm*>(window)) tool->applySettings();
  for (const MenuCaptionKey& entry : kMenuCaptionKeys) {
    const QString name = QString::fromUtf16(entry.Item);
    const QString caption = QString::fromStdU16String(env_.LanguageTexts.GetValueOrKey(entry.Key));
    if (QMenu* menu = findChild<QMenu*>(name)) {
      menu->setTitle(caption);
    } else if (QAction* item = action(name)) {
      item->setText(caption);
    }
  }
  if (!env_.RuntimeMode) refreshLayout();
}

void TMainForm::setEnvFont(const QFont& font) {
  envFont_ = font;
  for (QMdiSubWindow* window : mdi_->subWindowList())
    if (auto* tool = qobject_cast<TZavtaForm*>(window)) tool->applySettings();
}

void TMainForm::setStateIcons(const QIcon& defaultIcon, const QIcon& runIcon, const QIcon& pauseIcon) {
  icons_[0] = defaultIcon;
  icons_[1] = runIcon;
  icons_[2] = pauseIcon;
  setStateIcon(StateIcon::Default);
}

// --- tool windows ---------------------------------------------------------------------

void TMainForm::AddToolWindow(TZavtaForm* window) {
  const Qt::WindowStates state = window->windowState();
  const QRect bounds = window->geometry();
  mdi_->addSubWindow(window);
  window->show();
  if (state == Qt::WindowNoState) window->setGeometry(bounds);
  refreshLayout();
}

TOutput* TMainForm::output() const { return output_; }
TCommandWindow* TMainForm::commandWindow() const { return command_; }
TZavtaForm* TMainForm::activeToolWindow() const { return activeTool_; }
TZavtaForm* TMainForm::activeSourceWindow() const { return activeSource_; }

RunSource* TMainForm::activeSource() { return activeSource_ ? activeSource_->runSource() : nullptr; }

TOutput* TMainForm::openOutput() {
  if (!output_) {
    output_ = new TOutput(*this);
    AddToolWindow(output_);
    action(QStringLiteral("MenuOutput"))->setChecked(true);
  }
  return output_;
}

TDebugVars* TMainForm::memoryWindow() const { return memory_; }

TDebugVars* TMainForm::openMemoryWindow() {
  if (!memory_) {
    memory_ = new TDebugVars(*this);
    AddToolWindow(memory_);
    action(QStringLiteral("MenuMemory"))->setChecked(true);
  }
  memory_->RefreshVariables();
  return memory_;
}

TCommandWindow* TMainForm::openCommandWindow() {
  if (!command_) {
    command_ = new TCommandWindow(*this);
    sourceWindows_.append(command_.data());
    if (menu_ != nullptr) menu_->attachPopup(*command_);
    AddToolWindow(command_);
    action(QStringLiteral("MenuCommand"))->setChecked(true);
  }
  return command_;
}

void TMainForm::addSourceWindow(TZavtaForm* window) {
  sourceWindows_.append(window);
  if (auto* source = qobject_cast<TSource*>(window); source != nullptr && menu_ != nullptr) menu_->attachPopup(*source);
  AddToolWindow(window);
}

TPlane* TMainForm::plane() const { return plane_; }

namespace {

// Qt cannot show an OpenGL widget where no OpenGL context can be made (the
// offscreen platform): the window would crash at its first flush.
bool PlatformMakesGLContexts() {
  QOpenGLContext probe;
  return probe.create();
}

}  // namespace

TPlane* TMainForm::openPlane() {
  // Without OpenGL the plane stays closed and drawing goes to the null table.
  if (!plane_ && !PlatformMakesGLContexts()) return nullptr;
  if (!plane_) {
    plane_ = new TPlane(*this, Graphics::Of(in_));
    AddToolWindow(plane_);
    // A program run as an application has its plane in the middle.
    if (env_.RuntimeMode)
      plane_->move((mdi_->width() - plane_->width()) / 2, (mdi_->height() - plane_->height()) / 2);
    plane_->Ready = true;
    action(QStringLiteral("MenuPlane"))->setChecked(true);
  }
  return plane_;
}

void TMainForm::toolWindowClosing(TZavtaForm& window) {
  // Every reference to the window goes before the window itself does.
  if (activeSource_ == &window) {
    activeSource_ = nullptr;
    runControl_->EnableRunCommands(false);
  }
  if (output_ == &window) {
    output_ = nullptr;
    action(QStringLiteral("MenuOutput"))->setChecked(false);
  }
  if (command_ == &window) {
    command_ = nullptr;
    action(QStringLiteral("MenuCommand"))->setChecked(false);
  }
  if (memory_ == &window) {
    memory_ = nullptr;
    action(QStringLiteral("MenuMemory"))->setChecked(false);
  }
  sourceWindows_.removeIf([&window](const QPointer<TZavtaForm>& source) { return source == &window || !source; });
  if (plane_ == &window) {
    plane_ = nullptr;
    action(QStringLiteral("MenuPlane"))->setChecked(false);
  }
  if (activeTool_ == &window) activeTool_ = nullptr;
  // The MDI area activates a neighbour after the close; the first source
  // window takes the activation once that is done.
  QMetaObject::invokeMethod(this, &TMainForm::activateFirstSource, Qt::QueuedConnection);
  if (env_.RuntimeMode) postClose();
}

void TMainForm::activateFirstSource() {
  for (const QPointer<TZavtaForm>& source : sourceWindows_) {
    if (!source || source->isCommandWindow() || source->runSource() == nullptr) continue;
    mdi_->setActiveSubWindow(source);
    source->raise();
    if (QWidget* editor = source->widget()) editor->setFocus();
    activeSource_ = source;
    runControl_->EnableRunCommands(true);
    return;
  }
}

void TMainForm::subWindowActivated(QMdiSubWindow* window) {
  auto* tool = qobject_cast<TZavtaForm*>(window);
  if (tool == nullptr) return;
  if (tool->kind() == ToolKind::Source && !tool->isCommandWindow() && tool->runSource() != nullptr) {
    activeSource_ = tool;
    runControl_->EnableRunCommands(true);
  }
  activeTool_ = tool;
  const EditCommands commands = EditCommandsFor(tool->kind(), tool->isCommandWindow(), tool->findText().isEmpty());
  const auto enable = [this](const char* name, bool on) { action(QString::fromLatin1(name))->setEnabled(on); };
  enable("MenuSave", commands.Save);
  enable("MenuSaveAs", commands.SaveAs);
  enable("MenuCut", commands.Cut);
  enable("MenuDelete", commands.Cut);
  enable("MenuPaste", commands.Cut);
  enable("MenuCopy", commands.Copy);
  enable("MenuPrint", commands.Print);
  enable("MenuFind", commands.Find);
  enable("MenuReplace", commands.Find);
  enable("MenuFindNext", commands.FindNext);
}

void TMainForm::appActivate() {
  for (QMdiSubWindow* window : mdi_->subWindowList()) window->update();
}

// --- keys, dialogs, help ---------------------------------------------------------------

void TMainForm::formKeyUp(const QKeyEvent& key) {
  if (key.key() == Qt::Key_Pause && !key.isAutoRepeat()) stop();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (widget != nullptr && widget->window() == this && key->key() == Qt::Key_Pause) {
      // Taken here at its first delivery, so that its travel up the parents
      // cannot stop twice.
      formKeyUp(*key);
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

int TMainForm::showMessage(const QString& message, const QString& extra, int flags) {
  MessageDialogSite site;
  site.Texts = &env_.LanguageTexts;
  site.Font = envFont_;
  site.Parent = this;
  site.RepaintMain = [this] { repaint(); };
  return ShowMessageDialog(site, message, extra, flags);
}

void TMainForm::openHelp(const QString& topic) {
  if (HelpOpener) HelpOpener(topic);
}

// --- run control -----------------------------------------------------------------------

void TMainForm::Guarded(const std::function<void()>& call) { GuardCoreEntry(in_, call); }

void TMainForm::run() {
  Guarded([this] { runControl_->Run(); });
}
void TMainForm::runTo() {
  Guarded([this] { runControl_->RunTo(); });
}
void TMainForm::runCommand() {
  Guarded([this] { runControl_->RunCommand(); });
}
void TMainForm::runStep() {
  Guarded([this] { runControl_->RunStep(); });
}
void TMainForm::stop() {
  Guarded([this] { runControl_->Stop(); });
}
void TMainForm::reset() {
  Guarded([this] { runControl_->Reset(); });
}
void TMainForm::exitProgram() {
  Guarded([this] { runControl_->Exit(); });
}

void TMainForm::runsEnded() {
  runControl_->RunsEnded();
  Q_EMIT runsFinished();
}

void TMainForm::setActionEnabled(std::u16string_view name, bool enabled) {
  if (QAction* item = action(QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()))))
    item->setEnabled(enabled);
}

void TMainForm::setStateIcon(StateIcon icon) {
  const QIcon& shown = icons_[static_cast<int>(icon)];
  setWindowIcon(shown);
  QApplication::setWindowIcon(shown);
}

bool TMainForm::abandonPendingCommand() {
  // Every window's waiting command goes (a plain window's too, or one
  // syntax error would block its Ctrl+Enter until it closes).
  bool any = false;
  for (const QPointer<TZavtaForm>& window : sourceWindows_)
    if (auto* source = qobject_cast<TSource*>(window.data())) any = source->AbandonPendingCommand() || any;
  if (any)
    if (QAction* stop = action(QStringLiteral("ButStop"))) stop->setEnabled(false);
  return any;
}

void TMainForm::hideDebugMarkers() {
  for (const QPointer<TZavtaForm>& window : sourceWindows_)
    if (auto* source = qobject_cast<TSource*>(window.data())) source->HideDebugMarker();
}

void TMainForm::saveAllSources() {
  const QList<QPointer<TZavtaForm>> windows = sourceWindows_;
  for (const QPointer<TZavtaForm>& window : windows) {
    auto* source = qobject_cast<TSource*>(window.data());
    if (source != nullptr && !source->isCommandWindow() && source->editor()->document()->isModified()) source->Save();
  }
}

TSource* TMainForm::newSourceWindow() {
  auto* source = new TSource(*this, QStringLiteral("SOURCE"), false);
  source->NewFile();
  addSourceWindow(source);
  return source;
}

TSource* TMainForm::openSourceWindow(const QString& file, const QString& settingsName) {
  auto* source = new TSource(*this, settingsName, false);
  source->LoadFile(file);
  addSourceWindow(source);
  return source;
}

TSource* TMainForm::FindSourceFile(const QString& file) const {
  if (file.isEmpty()) return nullptr;
  for (const QPointer<TZavtaForm>& window : sourceWindows_)
    if (auto* source = qobject_cast<TSource*>(window.data()); source != nullptr && source->FileName == file)
      return source;
  return nullptr;
}

TSource* TMainForm::OpenSourceFile(const QString& file) {
  // Only the same file counts: one of the same name from another folder
  // opens a window of its own.
  if (TSource* open = FindSourceFile(file)) {
    mdi_->setActiveSubWindow(open);
    open->raise();
    return open;
  }
  return openSourceWindow(file);
}

TSource* TMainForm::OpenSourceAt(const QString& file, int position) {
  TSource* source = FindSourceFile(file);
  if (source == nullptr) {
    const std::u16string located = LocateFile(env_.S, file.toStdU16String());
    if (!FileExists(located)) return nullptr;
    source = FindSourceFile(QString::fromStdU16String(located));
  }
  if (source == nullptr) source = openSourceWindow(file);
  mdi_->setActiveSubWindow(source);
  source->raise();
  source->ShowDebugMarker(position);
  source->RestartMarkerTimer();
  return source;
}

TSource* TMainForm::FindSource(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  for (const QPointer<TZavtaForm>& window : sourceWindows_)
    if (auto* source = qobject_cast<TSource*>(window.data()); source != nullptr && source->FileName == name)
      return source;
  for (const QPointer<TZavtaForm>& window : sourceWindows_)
    if (auto* source = qobject_cast<TSource*>(window.data());
        source != nullptr && source->title().compare(name, Qt::CaseInsensitive) == 0)
      return source;
  return nullptr;
}

void TMainForm::postClose() {
  if (closePosted_) return;
  closePosted_ = true;
  QMetaObject::invokeMethod(this, &TMainForm::takePostedClose, Qt::QueuedConnection);
}

void TMainForm::takePostedClose() {
  closePosted_ = false;
  // Taken inside a run's pump, the close waits: runsEnded posts it again.
  if (in_.RunNesting > 0) {
    runControl_->ExitPending = true;
    return;
  }
  close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (in_.RunNesting > 0) {
    // Closing under a running program acts as Exit.
    event->ignore();
    exitProgram();
    return;
  }
  if (!CloseRequested(*this)) {
    event->ignore();
    return;
  }
  event->accept();
}
