#include "environment/OutWin.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QPrinter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <exception>

#include "core/LogoLibText.h"
#include "core/Host.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/MsgWin.h"
#include "environment/OutputText.h"
#include "environment/Prompts.h"

QColor ColourFromRgb(uint32_t rgb) { return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF); }

TOutput::TOutput(TMainForm& main) : TZavtaForm(main, u"OUTPUT"_qs, ToolKind::Output), edit_(new QPlainTextEdit) {
  edit_->setObjectName(u"RichEdit"_qs);
  edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit_->setTabChangesFocus(false);
  QPalette palette = edit_->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  edit_->setPalette(palette);
  edit_->installEventFilter(this);
  setWidget(edit_);
  connect(edit_, &QPlainTextEdit::selectionChanged, this, &TOutput::UpdateEditCommands);
  applySettings();
}

int TOutput::LineCount() const {
  const QTextDocument* document = edit_->document();
  if (document->isEmpty()) return 0;
  return document->blockCount();
}

void TOutput::DropOldestLines(int count) {
  QTextCursor cursor(edit_->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
  cursor.removeSelectedText();
}

void TOutput::KeepEndInView() {
  QScrollBar* bar = edit_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TOutput::PrintLine(const std::u16string& text, uint32_t colour, bool bold) {
  if (LineCount() > kMaxLines) DropOldestLines(kDroppedLines);
  EnvState& env = mainForm().env();
  const std::u16string shown = CutLine(text, env.MaxPrint);
  try {
    QTextCharFormat format;
    format.setFont(mainForm().envFont());
    format.setForeground(ColourFromRgb(colour));
    if (bold) format.setFontWeight(QFont::Bold);
    QTextCursor cursor(edit_->document());
    cursor.movePosition(QTextCursor::End);
    if (!edit_->document()->isEmpty()) cursor.insertBlock();
    cursor.insertText(QString::fromStdU16String(LfLineBreaks(shown)), format);
    TStructure& s = env.S;
    if (s.Log.LogFileOpen) WriteLog(s, lcOutput, shown);
  } catch (const std::exception&) {
    // A line that cannot be shown is dropped; the window keeps what it had.
  }
  KeepEndInView();
}

void TOutput::applySettings() {
  applyFont();
  setTitle(QString::fromStdU16String(mainForm().env().LanguageTexts.GetValueOrKey(u"CAPTION.OUTPUT")));
  const QFont font = mainForm().envFont();
  edit_->setFont(font);
  // Colours stay; earlier bold marks give way to the font's own style.
  QTextCharFormat format;
  format.setFontFamilies({font.family()});
  format.setFontPointSize(font.pointSizeF());
  format.setFontWeight(font.weight());
  format.setFontItalic(font.italic());
  QTextCursor cursor(edit_->document());
  cursor.select(QTextCursor::Document);
  cursor.mergeCharFormat(format);
}

void TOutput::SaveToFile() {
  setFocus();
  const std::optional<QString> name = mainForm().saveDialog().Execute(this, sfText);
  if (!name) return;
  QString text = Text();
  text.replace(u'\n', u"\r\n"_qs);
  const std::string bytes = FileBytes(mainForm().env().S, text.toStdU16String());
  QFile file(*name);
  const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                           static_cast<qint64>(bytes.size()) &&
                       file.flush();
  if (!written) mainForm().showMessage(file.errorString() + u": "_qs + *name, QString(), dfOk);
}

void TOutput::PrintOutput() {
  setFocus();
  QPrinter printer;
  if (!mainForm().prompts().setUpPrinter(this, printer)) return;
  printer.setDocName(windowTitle());
  edit_->print(&printer);
}

void TOutput::UpdateEditCommands() {
  const bool selected = edit_->textCursor().hasSelection();
  for (const QString& name : {u"MenuCopy"_qs, u"MenuCut"_qs, u"MenuDelete"_qs})
    if (QAction* item = mainForm().action(name)) item->setEnabled(selected);
  if (QAction* paste = mainForm().action(u"MenuPaste"_qs))
    paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
}

bool TOutput::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    // Programs read the keys typed here; the editor still gets them.
    const QString typed = static_cast<QKeyEvent*>(event)->text();
    for (const QChar ch : typed) AppendKeyToBuffer(mainForm().env().S, ch.unicode());
    UpdateEditCommands();
  }
  return TZavtaForm::eventFilter(watched, event);
}
