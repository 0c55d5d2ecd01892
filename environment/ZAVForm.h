#pragma once
// The base of every tool window: a subwindow of the main window's MDI area
// around the window's widget, with the geometry stored under its settings
// name, its title, and the activation and close handling that keeps the
// main window's references, menus and active-window pointers in step.
// TZavtaHint: the hints, drawn with bold runs.

#include <QMdiSubWindow>
#include <QObject>
#include <QPointer>
#include <QString>

class RunSource;
class TMainForm;
class QWidget;

enum class ToolKind { Source, Output, Memory, Plane, Web };

// Which File and Edit items a tool window enables when it is activated.
struct EditCommands {
  bool Save = false;
  bool SaveAs = false;
  bool Cut = false;  // Cut, Delete and Paste
  bool Copy = false;
  bool Print = false;
  bool Find = false;  // Find and Replace
  bool FindNext = false;
};
EditCommands EditCommandsFor(ToolKind kind, bool isCommandWindow, bool findTextEmpty);

class TZavtaForm : public QMdiSubWindow {
  Q_OBJECT
public:
  // Reads the bounds and the state from the settings keys of name.
  TZavtaForm(TMainForm& main, const QString& settingsName, ToolKind kind);

  const QString& settingsName() const { return settingsName_; }
  ToolKind kind() const { return kind_; }
  virtual bool isCommandWindow() const { return false; }
  // The find text of a source window; empty for the others.
  virtual QString findText() const { return {}; }
  // What Run acts on when this window is the active source: a source
  // window other than the command window gives itself; the others none.
  virtual RunSource* runSource() { return nullptr; }
  // Font and title from the environment; later classes add their own.
  virtual void applySettings();

  void setTitle(const QString& title);
  QString title() const { return title_; }
  void applyFont();
  TMainForm& mainForm() const { return main_; }

protected:
  void closeEvent(QCloseEvent* event) override;
  // The settings key of this window with the suffix (".LEFT", ...).
  std::u16string Key(const char16_t* suffix) const;

private:
  void ApplyStoredBounds();

  TMainForm& main_;
  QString settingsName_;
  ToolKind kind_;
  QString title_;
};

// --- hints --------------------------------------------------------------------------

// A hint text as HTML: escaped, each #2 toggles bold (lines start normal),
// CR breaks lines, blanks stay.
QString HintTextToHtml(const QString& hint);

// Shows tool tips as HintTextToHtml of the widget's tool tip, and keeps
// them for the hide pause.
class TZavtaHint : public QObject {
  Q_OBJECT
public:
  static constexpr int kDefaultHidePauseMs = 3500;
  explicit TZavtaHint(QObject* parent = nullptr) : QObject(parent) {}
  // Shows the hint at once at the global position (the editors' hover).
  void ShowHint(const QPoint& globalPos, const QString& hint, QWidget* widget);
  void SetHidePause(int ms) { hidePauseMs_ = ms; }
  int HidePause() const { return hidePauseMs_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  int hidePauseMs_ = kDefaultHidePauseMs;
};
