#pragma once
// The main window: a QMainWindow on an MDI area holding the tool windows,
// with the named menu actions, the run controls (RunControl behind the
// RunUi it implements), the state icons, the Pause key, the window
// references and the prompts.

#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "environment/EnvServices.h"
#include "environment/Prompts.h"
#include "environment/RunControl.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class MainMenu;
class TCommandWindow;
class TInterpreter;
class TOutput;
class TSource;
class TDebugVars;
class TPlane;
class TZavtaForm;
struct EnvState;

class TMainForm : public QMainWindow, public RunUi {
  Q_OBJECT
public:
  TMainForm(TInterpreter& in, EnvState& env, Prompts& prompts);
  ~TMainForm() override;

  TInterpreter& interpreter() const { return in_; }
  EnvState& env() const { return env_; }
  Prompts& prompts() const { return prompts_; }
  SaveDialog& saveDialog() { return saveDialog_; }
  RunControl& runControl() { return *runControl_; }
  QMdiArea* mdiArea() const { return mdi_; }

  // The action of a menu item by its name ("MenuStop"); null when unknown.
  QAction* action(const QString& name) const;
  // The menu bar's handlers; null in run-time mode (no menu).
  MainMenu* mainMenu() const { return menu_; }
  // The plane, help and prompt services; none until set.
  EnvServices& services() const { return *services_; }
  void setServices(EnvServices& services);
  // The language and font applied to the main window and every open tool
  // window: font, caption, each window's settings, the menu captions and,
  // outside run-time mode, the layout. reload: after a switch of either.
  void applyLanguage(bool reload = false);
  QFont envFont() const { return envFont_; }
  void setEnvFont(const QFont& font);
  void setStateIcons(const QIcon& defaultIcon, const QIcon& runIcon, const QIcon& pauseIcon);

  // --- tool windows ----------------------------------------------------------------
  TOutput* output() const;
  TCommandWindow* commandWindow() const;
  TZavtaForm* activeToolWindow() const;
  // The source window Run acts on (never the command window); null when none.
  TZavtaForm* activeSourceWindow() const;
  // Source windows in the order they were opened, the command window among them.
  const QList<QPointer<TZavtaForm>>& sourceWindows() const { return sourceWindows_; }
  TOutput* openOutput();
  // The memory window (refreshed when it opens); null while closed.
  TDebugVars* memoryWindow() const;
  TDebugVars* openMemoryWindow();
  TCommandWindow* openCommandWindow();
  // Shows a source window and registers it (the editors open theirs here).
  void addSourceWindow(TZavtaForm* window);
  // A new source window ("SOURCE") holding a new file, or the file loaded.
  TSource* newSourceWindow();
  TSource* openSourceWindow(const QString& file, const QString& settingsName = QStringLiteral("SOURCE"));
  // The source window holding exactly this file; null when none does.
  TSource* FindSourceFile(const QString& file) const;
  // Brings the window of the file to front, or loads it into a new one.
  TSource* OpenSourceFile(const QString& file);
  // As OpenSourceFile (a file not open is located first), then the caret at
  // the editor position with the debug marker shown for a while.
  TSource* OpenSourceAt(const QString& file, int position);
  // The first source window whose full file name is name (exactly), else
  // the first whose title is name (letter case ignored); null for "".
  TSource* FindSource(const QString& name) const;
  // The plane (the graphics' PlaneLink while it exists), shown and ready.
  TPlane* plane() const;
  // Null where the platform makes no OpenGL contexts.
  TPlane* openPlane();
  // A tool window's close: references, check marks, the active source.
  void toolWindowClosing(TZavtaForm& window);
  // Repaints after a tool window opened.
  void refreshLayout() { update(); }
  // The application was activated or deactivated: every tool window
  // repaints its title.
  void appActivate();

  // --- keys, dialogs, help ------------------------------------------------------------
  // Key releases anywhere in the main window (an application-wide filter
  // previews them): the Pause key stops.
  void formKeyUp(const QKeyEvent& key);
  int showMessage(const QString& message, const QString& extra, int flags);
  // Opens help at the topic (the help window joins later).
  std::function<void(const QString& topic)> HelpOpener;

  // The outermost run has returned.
  void runsEnded();

  // --- RunUi ----------------------------------------------------------------------------
  RunSource* activeSource() override;
  void setActionEnabled(std::u16string_view action, bool enabled) override;
  void setStateIcon(StateIcon icon) override;
  void hideDebugMarkers() override;
  bool abandonPendingCommand() override;
  void repaintMainWindow() override { update(); }
  void saveAllSources() override;
  void postClose() override;

Q_SIGNALS:
  // After every outermost run (the smoke hook waits for the last one).
  void runsFinished();

public Q_SLOTS:
  void openHelp(const QString& topic);
  void run();
  void runTo();
  void runCommand();
  void runStep();
  void stop();
  void reset();
  void exitProgram();

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
  void takePostedClose();
  void subWindowActivated(QMdiSubWindow* window);
  void activateFirstSource();

private:
  QAction* AddAction(const QString& name, const QString& caption, const QKeySequence& shortcut = {});
  void CreateActions();
  void Guarded(const std::function<void()>& call);
  void AddToolWindow(TZavtaForm* window);

  TInterpreter& in_;
  EnvState& env_;
  Prompts& prompts_;
  SaveDialog saveDialog_;
  std::unique_ptr<RunControl> runControl_;
  QMdiArea* mdi_;
  QHash<QString, QAction*> actions_;
  EnvServices ownServices_;
  EnvServices* services_ = &ownServices_;
  MainMenu* menu_ = nullptr;
  QFont envFont_;
  QIcon icons_[3];
  QPointer<TOutput> output_;
  QPointer<TCommandWindow> command_;
  QPointer<TDebugVars> memory_;
  QPointer<TPlane> plane_;
  QPointer<TZavtaForm> activeTool_;
  QPointer<TZavtaForm> activeSource_;
  QList<QPointer<TZavtaForm>> sourceWindows_;
  bool closePosted_ = false;
};
