#pragma once
// The menus whose items come from the environment's models: File's Reopen
// list, Options' Libraries (each a checkable library) and Language (one
// exclusive item per language file). Items that reset the interpreter or
// swap the keywords act only while no run is on the stack: they are
// disabled while one is, and a trigger that still arrives does nothing.

#include <QObject>
#include <QString>

class QMenu;
class TMainForm;

class MainMenu : public QObject {
  Q_OBJECT
public:
  // Adds File > Reopen and the Options menu to the main window's bar.
  explicit MainMenu(TMainForm& main);

  QMenu* reopenMenu() const { return reopen_; }
  QMenu* librariesMenu() const { return libraries_; }
  QMenu* languageMenu() const { return language_; }

  // Toggles the library item at index (menu order), rebuilds the load
  // commands from the checked items and resets once.
  void toggleLibrary(int index);
  // Switches to the language file name (without ".txt"): texts, keywords and
  // the load commands' "run", then the window's captions and fonts.
  void languageClick(const QString& name);
  // Opens the reopen entry at index (newest first).
  void reopenClick(int index);

  void rebuildLibraries();
  void rebuildReopen();
  void rebuildLanguages();

private:
  bool runActive() const;
  void refreshEnabled();
  void rebuildLoadCommands();

  TMainForm& main_;
  QMenu* reopen_ = nullptr;
  QMenu* options_ = nullptr;
  QMenu* libraries_ = nullptr;
  QMenu* language_ = nullptr;
};
