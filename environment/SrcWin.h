#pragma once
// Source windows: the editor of one program file (open, edit, find,
// replace, save, print), coloured by the language's tokens with hover
// hints, with the error and debug markers in a margin. The same class with
// the command flag is the command window. A source window is what the core
// finds by name (SourceView) and what Run acts on (RunSource).

#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTimer>
#include <memory>

#include "core/Host.h"
#include "environment/CommandLine.h"
#include "environment/RunControl.h"
#include "environment/ZAVForm.h"

class QPrinter;
class SyntaxHighlighter;
class TSource;

// The MIME type of a dragged list-box item: over an editor it selects
// placeholders; its drop is ignored.
inline constexpr char kListBoxItemMime[] = "application/x-zavta-listbox-item";

class SourceEditor : public QPlainTextEdit {
  Q_OBJECT
public:
  static constexpr int kMarginWidth = 15;
  enum Marker { mkError = 0, mkDebug = 1 };

  explicit SourceEditor(TSource& owner);

  void setMarginVisible(bool visible);
  bool marginVisible() const { return marginVisible_; }
  // Shows a marker on the block of the editor position, or hides it.
  void showMarker(Marker marker, int position);
  void hideMarker(Marker marker);
  // The block a marker stands on; -1 while hidden.
  int markerBlock(Marker marker) const { return markerAt_[marker].isNull() ? -1 : markerAt_[marker].blockNumber(); }
  // The character under a viewport point; -1 past its line's end or below
  // the last line.
  int CharAtPoint(const QPoint& point) const;
  int firstVisibleBlockNumber() const { return firstVisibleBlock().blockNumber(); }
  void paintMargin(QPaintEvent* event);

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void UpdateMargin(const QRect& rect, int dy);

  TSource& owner_;
  QWidget* margin_;
  bool marginVisible_ = false;
  QTextCursor markerAt_[2];  // tracked, so a marker follows its line
  friend class TSource;
};

// What the core and Run see of a source window.
class TSourceBridge : public SourceView, public RunSource {
public:
  explicit TSourceBridge(TSource& source) : source_(source) {}
  void bringToFront() override;
  void showDebugLine(int32_t startPos, const std::u16string& sourceText) override;
  void hideDebugLine() override;
  void showErrorRange(int32_t startPos, int32_t endPos, const std::u16string& sourceText) override;
  void clearErrorRange() override;
  void showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string& sourceText) override;
  void endPausedStatement() override;
  int32_t firstVisibleLine() override;
  void setStateIcon(int icon) override;
  std::u16string title() override;
  std::u16string text() override;
  std::u16string fileFolder() override;
  int32_t caretLine() override;

private:
  TSource& source_;
};

class TSource : public TZavtaForm {
  Q_OBJECT
public:
  // settingsName: "USER" + n, "COMMAND" or "SOURCE".
  TSource(TMainForm& main, const QString& settingsName, bool isCommand);
  ~TSource() override;

  bool isCommandWindow() const override { return isCommand_; }
  QString findText() const override { return FindText; }
  RunSource* runSource() override { return isCommand_ ? nullptr : &bridge_; }
  SourceView& view() { return bridge_; }
  // Font, margin and title, with a recolouring.
  void applySettings() override;
  SourceEditor* editor() const { return edit_; }
  SyntaxHighlighter& highlighter() const { return *highlighter_; }

  // --- files -------------------------------------------------------------------------
  void NewFile();
  // Loads the located file; a missing one leaves the text as it was.
  void LoadFile(const QString& name);
  // The editor's text with CR LF line breaks, every character kept.
  std::u16string GetText() const;
  // False when nothing was written (an error was shown).
  bool Save();
  bool SaveAs();
  void RefreshView(bool recolour);
  QString FileName;  // full path; empty until a file is loaded or named

  // --- marks ---------------------------------------------------------------------------
  // Editor positions; start >= end moves the caret and shows the marker only.
  void ShowError(int start, int end);
  void ClearError();
  void ShowDebugMarker(int position);
  void ShowDebugLine(int line1Based);
  void HideDebugMarker();
  // Restarts the timer that hides both markers after a second.
  void RestartMarkerTimer();

  // --- edit commands ---------------------------------------------------------------------
  void Find();
  void FindNext();
  void Replace();
  void SourcePrint();
  // Prints the text with its colours; false when the printer is not valid.
  bool PrintDocument(QPrinter& printer);
  // The document with the colours as its own formats (what is printed).
  std::unique_ptr<QTextDocument> PrintableCopy() const;
  void UpdateEditCommands();
  int CaretLine = 1;
  QString FindText, ReplaceText;
  bool FindOnly = true;

  // --- hover hints and words -------------------------------------------------------------
  QString WordAt(int position) const;
  QString HintWord;
  void HoverAt(const QPoint& viewportPoint, const QPoint& globalPoint);

  // --- commands ----------------------------------------------------------------------------
  CommandLine& collector() { return *collector_; }
  // Drops a waiting command; false when none waited.
  bool AbandonPendingCommand();
  // The editor's key steps: Enter (or Ctrl+Enter) runs the caret line.
  bool HandleKey(QKeyEvent& key);

  // --- what the core asks (scanner offsets into the run's CR LF text) --------------------
  void bringToFront();
  void showDebugLine(int32_t startPos, const std::u16string& sourceText);
  void showErrorRange(int32_t startPos, int32_t endPos, const std::u16string& sourceText);
  void showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string& sourceText);
  void endPausedStatement();
  int32_t firstVisibleLine();
  void setStateIcon(int icon);
  // The folder of the file, ending in "/"; "" without a file.
  std::u16string fileFolder() const;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  // True when the window may close (asks about unsaved changes).
  bool CloseQuery();
  void ApplyMargin();
  void SetNameAndTitle(const QString& path);
  int SearchFrom(const QString& text, int from) const;
  void ShowNotFound();
  // Selects the find text's match that starts at the offset.
  void SelectMatch(int at);
  void ReplaceAllFrom(int start);
  void ShowSystemError(const QString& message);
  void RunCaretLine();
  void MoveToNextLine();
  int Ask(const QString& message, int flags);

  bool isCommand_;
  TSourceBridge bridge_{*this};
  SourceEditor* edit_;
  SyntaxHighlighter* highlighter_;
  QTimer markerTimer_;  // hides both markers after an error position was shown
  TZavtaHint* hints_;
  int lastHoverChar_ = -2;
  QString lastHint_;
  // Shared so that a run during which the window closes keeps them alive.
  std::shared_ptr<CommandLineUi> ui_;
  std::shared_ptr<CommandLine> collector_;
};
