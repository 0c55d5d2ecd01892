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

// The items whose state the run control and the tool windows set; the bar
// shows only some of them, the rest wait for their menus.
const char* const kHiddenItems[] = {"MenuSave",   "MenuSaveAs", "MenuCut",     "MenuDelete",  "MenuPaste",
                                    "MenuCopy",   "MenuPrint",  "MenuFind",    "MenuReplace", "MenuFindNext",
                                    "MenuOutput", "MenuMemory", "MenuCommand", "MenuPlane"};

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
  if (!env.RuntimeMode) CreateMenus();
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
  connect(AddAction(QStringLiteral("MenuExit"), tr("Exit"), QKeySequence(Qt::ALT | Qt::Key_F4)), &QAction::triggered,
          this, &TMainForm::exitProgram);
  connect(AddAction(QStringLiteral("MenuRun"), tr("Run"), Qt::Key_F9), &QAction::triggered, this, &TMainForm::run);
  connect(AddAction(QStringLiteral("MenuStop"), tr("Stop")), &QAction::triggered, this, &TMainForm::stop);
  connect(AddAction(QStringLiteral("MenuReset"), tr("Reset")), &QAction::triggered, this, &TMainForm::reset);
  connect(AddAction(QStringLiteral("MenuStep"), tr("Run Step"), Qt::Key_F7), &QAction::triggered, this,
          &TMainForm::runStep);
  connect(AddAction(QStringLiteral("MenuCmd"), tr("Run Command"), Qt::Key_F8), &QAction::triggered, this,
          &TMainForm::runCommand);
  connect(AddAction(QStringLiteral("MenuTo"), tr("Run To"), Qt::Key_F4), &QAction::triggered, this, &TMainForm::runTo);
  connect(AddAction(QStringLiteral("ButRun"), QString()), &QAction::triggered, this, &TMainForm::run);
  connect(AddAction(QStringLiteral("ButStop"), QString()), &QAction::triggered, this, &TMainForm::stop);
  AddAction(QStringLiteral("MenuTimeSpent"), tr("Welcome"))->setEnabled(false);
  for (const char* name : kHiddenItems) AddAction(QString::fromLatin1(name), QString());
  for (const char* name : {"MenuOutput", "MenuMemory", "MenuCommand", "MenuPlane"})
    action(QString::fromLatin1(name))->setCheckable(true);
  action(QStringLiteral("ButRun"))->setIcon(QIcon(QStringLiteral(":/icons/butrun.png")));
  action(QStringLiteral("ButStop"))->setIcon(QIcon(QStringLiteral(":/icons/butstop.png")));
  action(QStringLiteral("ButRun"))->setToolTip(tr("Run"));
  action(QStringLiteral("ButStop"))->setToolTip(tr("Stop"));
  // Stop and the commands that need a source start disabled.
  for (const char* name : {"MenuStop", "ButStop", "MenuRun", "ButRun", "MenuStep", "MenuCmd", "MenuTo"})
    action(QString::fromLatin1(name))->setEnabled(false);
}

void TMainForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(tr("File"));
  file->setObjectName(QStringLiteral("MenuFile"));
  file->addAction(action(QStringLiteral("MenuExit")));
  QMenu* runMenu = bar->addMenu(tr("Run"));
  runMenu->setObjectName(QStringLiteral("MenuRunM"));
  runMenu->addAction(action(QStringLiteral("MenuRun")));
  runMenu->addAction(action(QStringLiteral("MenuStop")));
  runMenu->addSeparator();
  runMenu->addAction(action(QStringLiteral("MenuReset")));
  runMenu->addSeparator();
  runMenu->addAction(action(QStringLiteral("MenuStep")));
  runMenu->addAction(action(QStringLiteral("MenuCmd")));
  runMenu->addAction(action(QStringLiteral("MenuTo")));
  bar->addAction(action(QStringLiteral("ButRun")));
  bar->addAction(action(QStringLiteral("ButStop")));
  bar->addAction(action(QStringLiteral("MenuTimeSpent")));
}

QAction* TMainForm::action(const QString& name) const { return actions_.value(name, nullptr); }

void TMainForm::applyLanguage() {
  for (const MenuCaptionKey& entry : kMenuCaptionKeys) {
    const QString name = QString::fromUtf16(entry.Item);
    const QString caption = QString::fromStdU16String(env_.LanguageTexts.GetValueOrKey(entry.Key));
    if (QAction* item = action(name)) {
      item->setText(caption);
    } else if (QMenu* menu = findChild<QMenu*>(name)) {
      menu->setTitle(caption);
    }
  }
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
    AddToolWindow(command_);
    action(QStringLiteral("MenuCommand"))->setChecked(true);
  }
  return command_;
}

void TMainForm::addSourceWindow(TZavtaForm* window) {
  sourceWindows_.append(window);
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

TSource* TMainForm::openSourceWindow(const QString& file) {
  auto* source = new TSource(*this, QStringLiteral("SOURCE"), false);
  source->LoadFile(file);
  addSourceWindow(source);
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
