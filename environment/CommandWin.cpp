#include "environment/CommandWin.h"

#include <QKeyEvent>
#include <QPointer>
#include <QTextBlock>

#include "core/Trans.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/RunControl.h"

namespace {

// The collector's view of the window; the window may close during a run.
class CommandWindowUi : public CommandLineUi {
public:
  explicit CommandWindowUi(TCommandWindow& window) : window_(&window) {}
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
  QPointer<TCommandWindow> window_;
};

bool IsEnterKey(const QKeyEvent& key) { return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter; }

}  // namespace

TCommandWindow::TCommandWindow(TMainForm& main)
    : TZavtaForm(main, QStringLiteral("COMMAND"), ToolKind::Source), edit_(new QPlainTextEdit) {
  edit_->setObjectName(QStringLiteral("RichEdit"));
  edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit_->installEventFilter(this);
  setWidget(edit_);
  ui_ = std::make_shared<CommandWindowUi>(*this);
  collector_ = std::make_shared<CommandLine>(main.interpreter(), main.env(), *ui_, true);
  applySettings();
}

void TCommandWindow::applySettings() {
  applyFont();
  edit_->setFont(mainForm().envFont());
  if (collector_->Complete())
    setTitle(QString::fromStdU16String(mainForm().env().LanguageTexts.GetValueOrKey(u"CAPTION.COMMAND")));
}

bool TCommandWindow::AbandonPendingCommand() {
  if (!collector_->Abandon()) return false;
  if (QAction* stop = mainForm().action(QStringLiteral("ButStop"))) stop->setEnabled(false);
  return true;
}

bool TCommandWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress) return TZavtaForm::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (!IsEnterKey(*key)) return TZavtaForm::eventFilter(watched, event);
  // Enter and Ctrl+Enter change places here: Enter runs, Ctrl+Enter breaks.
  if (key->modifiers().testFlag(Qt::ControlModifier)) {
    edit_->textCursor().insertBlock();
    return true;
  }
  RunCaretLine();
  return true;
}

void TCommandWindow::RunCaretLine() {
  const QTextBlock block = edit_->textCursor().block();
  const QString line = block.text();
  // The scanner counts a line break as two characters (CR LF).
  const int32_t startPos = block.position() + block.blockNumber() + 1;
  const int32_t lineNumber = block.blockNumber() + 1;
  const QPointer<TCommandWindow> self(this);
  if (!line.isEmpty()) {
    std::shared_ptr<CommandLine> collector = collector_;
    std::shared_ptr<CommandLineUi> keepUi = ui_;
    TMainForm& main = mainForm();
    GuardCoreEntry(main.interpreter(), [&] { collector->RunLine(line.toStdU16String(), startPos, lineNumber); });
  }
  if (self) MoveToNextLine();
}

void TCommandWindow::MoveToNextLine() {
  QTextCursor cursor = edit_->textCursor();
  cursor.clearSelection();
  if (!cursor.block().next().isValid()) {
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
  } else {
    cursor.movePosition(QTextCursor::NextBlock);
  }
  edit_->setTextCursor(cursor);
}
