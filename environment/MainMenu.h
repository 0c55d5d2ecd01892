#pragma once
// The main window's menu bar and the editors' context menu. The named
// actions are the main window's; this builds the tree around them (each
// QMenu and QAction named after its item) and carries the handlers: the
// File and Edit commands routed by the active tool window's kind, the View
// toggles, the reopen list, the libraries, the languages, the font, the
// graphics modes and the help items.
//
// Items that reset the interpreter, swap the keywords or remake the plane's
// context (Libraries, Font, Language, Graphics) act only while no run is on
// the stack: they are disabled while one is, and a trigger that still
// arrives does nothing.

#include <QObject>
#include <QPoint>
#include <QString>

class QAction;
class QMenu;
class TMainForm;
class TSource;
class TZavtaForm;

class MainMenu : public QObject {
  Q_OBJECT
public:
  // Builds the bar of the main window from its named actions.
  explicit MainMenu(TMainForm& main);

  QMenu* reopenMenu() const { return reopen_; }
  QMenu* librariesMenu() const { return libraries_; }
  QMenu* languageMenu() const { return language_; }
  QMenu* advancedModeMenu() const { return advancedMode_; }
  QMenu* popupMenu() const { return popup_; }
  const QString& pendingHelpWord() const { return pendingHelpWord_; }

  // ADVANCEDGUI: Run Step, Run Command, Run To, Options, View > Variables
  // and two of the Run menu's separators show only in advanced mode.
  void applyGuiMode(bool advanced);
  // The pixel formats from the plane's services into Graphics.
  void buildPixelFormats();
  // The help items: enabled only with a help window.
  void enableHelpItems();
  // The View items' check marks: whether each window is open.
  void syncViewChecks();

  // --- models --------------------------------------------------------------------
  // Toggles the library item at index (menu order), rebuilds the load
  // commands from the checked items and resets once.
  void toggleLibrary(int index);
  // Asks for library files in the program folder and checks or adds each.
  void useAnotherLibrary();
  // Switches to the language file name (without ".txt").
  void languageClick(const QString& name);
  // Opens the reopen entry at index (newest first).
  void reopenClick(int index);
  // A graphics item (Hardware, Software or a pixel format): a new format
  // remakes the open plane's context once; the one in use changes nothing.
  void graphicsClick(QAction* item);
  void fontClick();
  void rebuildLibraries();
  void rebuildReopen();
  void rebuildLanguages();

  // --- File, Edit, View, Help -------------------------------------------------------
  void newClick();
  void openClick();
  void saveClick();
  void saveAsClick();
  void printClick();
  void cutClick();
  void copyClick();
  void pasteClick();
  void findClick();
  void findNextClick();
  void replaceClick();
  void toggleOutput();
  void togglePlane();
  void toggleCommand();
  void toggleMemory();
  void helpClick();
  void searchClick();
  void homeClick();

  // The context menu of a source window's editor.
  void attachPopup(TSource& source);
  // What opening the context menu at the editor's viewport point does: the
  // word there becomes the pending help word, the help item's caption.
  void preparePopup(TSource& source, const QPoint& viewportPoint);

private:
  bool runActive() const;
  void refreshEnabled();
  void rebuildLoadCommands();
  int pixelFormatInUse() const;
  void checkGraphicsItems(int tag);
  QMenu* AddMenu(QMenu* parent, const char* name);
  void AddItems(QMenu* menu, std::initializer_list<const char*> names);
  void Connect(const char* name, void (MainMenu::*handler)());
  TZavtaForm* activeTool() const;

  TMainForm& main_;
  QMenu* file_ = nullptr;
  QMenu* reopen_ = nullptr;
  QMenu* options_ = nullptr;
  QMenu* libraries_ = nullptr;
  QMenu* language_ = nullptr;
  QMenu* graphics_ = nullptr;
  QMenu* advancedMode_ = nullptr;
  QMenu* popup_ = nullptr;
  QString pendingHelpWord_;
};
