// The line runner of every source window: in the command window Enter runs
// the caret line and Ctrl+Enter breaks it; in a plain source window
// Ctrl+Enter runs it (while the command window is open) and Enter breaks.

#include <QAction>
#include <QKeyEvent>
#include <QPointer>
#include <QTextBlock>

#include "core/Trans.h"
#include "environment/CommandWin.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/RunControl.h"
#include "environment/SrcWin.h"

namespace {

// The collector's view of the window; the window may close during a run.
class SourceCommandUi : public CommandLineUi {
public:
  explicit SourceCommandUi(TSource& window) : window_(&window) {}
  void setTitle(const std::u16string& title) override {
    if (window_) window_->setTitle(QString::fromStdU16String(title));
  }
  void repaint() override {
    if (window_) window_->update();
  }
  void applyFont() override {
    if (window_) window_->applyFont();
  }
  void enableStop() override {
    if (!window_) return;
    for (const QString& name : {QStringLiteral("ButStop"), QStringLiteral("MenuStop")})
      if (QAction* item = window_->mainForm().action(name)) item->setEnabled(true);
  }
  void showStop() override {
    if (!window_) return;
    if (QAction* item = window_->mainForm().action(QStringLiteral("ButStop"))) item->setVisible(true);
  }

private:
  QPointer<TSource> window_;
};

bool IsEnterKey(const QKeyEvent& key) { return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter; }

}  // namespace

std::shared_ptr<CommandLineUi> MakeCommandUi(TSource& window) { return std::make_shared<SourceCommandUi>(window); }

TCommandWindow::TCommandWindow(TMainForm& main) : TSource(main, QStringLiteral("COMMAND"), true) {}

bool TSource::AbandonPendingCommand() { return collector_->Abandon(); }

bool TSource::HandleKey(QKeyEvent& key) {
  if (!IsEnterKey(key)) return false;
  const bool control = key.modifiers().testFlag(Qt::ControlModifier);
  if (control == isCommand_) {
    // The breaking key: the command window's Ctrl+Enter types the break
    // itself; a plain window's Enter is the editor's.
    if (!isCommand_) return false;
    edit_->textCursor().insertBlock();
    edit_->ensureCursorVisible();
    return true;
  }
  RunCaretLine();
  return true;
}

void TSource::RunCaretLine() {
  const QTextBlock block = edit_->textCursor().block();
  const QString line = block.text();
  // The scanner counts a line break as two characters (CR LF).
  const int32_t startPos = block.position() + block.blockNumber() + 1;
  const int32_t lineNumber = block.blockNumber() + 1;
  const QPointer<TSource> self(this);
  TMainForm& main = mainForm();
  if (!line.isEmpty() && main.commandWindow() != nullptr) {
    std::shared_ptr<CommandLine> collector = collector_;
    std::shared_ptr<CommandLineUi> keepUi = ui_;
    GuardCoreEntry(main.interpreter(), [&] { collector->RunLine(line.toStdU16String(), startPos, lineNumber); });
  }
  if (self) MoveToNextLine();
}

void TSource::MoveToNextLine() {
  QTextCursor cursor = edit_->textCursor();
  cursor.clearSelection();
  if (!cursor.block().next().isValid()) {
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
  } else {
    cursor.movePosition(QTextCursor::NextBlock);
  }
  edit_->setTextCursor(cursor);
  edit_->ensureCursorVisible();
}
