#include "environment/SrcWin.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QDragMoveEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <filesystem>

#include "core/Text.h"
#include "core/Trans.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/MsgWin.h"
#include "environment/Prompts.h"
#include "environment/SourceFile.h"
#include "environment/SrcWinHighlighter.h"
#include "environment/SrcWinSyntax.h"

namespace {

constexpr int kMarkerWidth = 9;
constexpr int kMarkerHeight = 13;
constexpr int kMarkerLeft = 2;
constexpr double kTabStopPoints = 14.0;

// The margin left of the editor's viewport; the editor paints it.
class MarginArea : public QWidget {
public:
  explicit MarginArea(SourceEditor& editor) : QWidget(&editor), editor_(editor) {
    setObjectName(QStringLiteral("DebugPanel"));
  }
  QSize sizeHint() const override { return {SourceEditor::kMarginWidth, 0}; }

protected:
  void paintEvent(QPaintEvent* event) override { editor_.paintMargin(event); }

private:
  SourceEditor& editor_;
};

QString Text(const EnvState& env, const char16_t* key) {
  return QString::fromStdU16String(env.LanguageTexts.GetValueOrKey(key));
}

QString Format(const EnvState& env, const char16_t* key, std::initializer_list<QString> args) {
  std::vector<std::u16string> texts;
  for (const QString& arg : args) texts.push_back(arg.toStdU16String());
  const std::u16string format = env.LanguageTexts.GetValueOrKey(key);
  switch (texts.size()) {
    case 0:
      return QString::fromStdU16String(format);
    case 1:
      return QString::fromStdU16String(FormatMessage(format, {texts[0]}));
    default:
      return QString::fromStdU16String(FormatMessage(format, {texts[0], texts[1]}));
  }
}

}  // namespace

// --- the editor --------------------------------------------------------------------------

SourceEditor::SourceEditor(TSource& owner) : owner_(owner), margin_(new MarginArea(*this)) {
  setObjectName(QStringLiteral("RichEdit"));
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setTabChangesFocus(false);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
  setTabStopDistance(kTabStopPoints * logicalDpiX() / 72.0);
  // The selection stays visible when the editor loses the focus.
  QPalette colours = palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight, colours.color(QPalette::Active, QPalette::Highlight));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(colours);
  connect(this, &QPlainTextEdit::updateRequest, this, &SourceEditor::UpdateMargin);
  margin_->hide();
}

void SourceEditor::setMarginVisible(bool visible) {
  marginVisible_ = visible;
  setViewportMargins(visible ? kMarginWidth : 0, 0, 0, 0);
  margin_->setVisible(visible);
  const QRect area = contentsRect();
  margin_->setGeometry(area.left(), area.top(), kMarginWidth, area.height());
}

void SourceEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect area = contentsRect();
  margin_->setGeometry(area.left(), area.top(), kMarginWidth, area.height());
}

void SourceEditor::UpdateMargin(const QRect& rect, int dy) {
  if (dy != 0)
    margin_->scroll(0, dy);
  else
    margin_->update(0, rect.y(), margin_->width(), rect.height());
}

void SourceEditor::showMarker(Marker marker, int position) {
  markerAt_[marker] = QTextCursor(document());
  markerAt_[marker].setPosition(std::clamp(position, 0, document()->characterCount() - 1));
  margin_->update();
}

void SourceEditor::hideMarker(Marker marker) {
  markerAt_[marker] = QTextCursor();
  margin_->update();
}

void SourceEditor::paintMargin(QPaintEvent* event) {
  QPainter painter(margin_);
  painter.fillRect(event->rect(), Qt::white);
  for (int marker = mkError; marker <= mkDebug; ++marker) {
    if (markerAt_[marker].isNull()) continue;
    // The marker sits on its block, wherever edits have moved it.
    const QTextBlock block = markerAt_[marker].block();
    const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
    const int top = static_cast<int>(box.top() + (box.height() - kMarkerHeight) / 2);
    const QRect shape(kMarkerLeft, top, kMarkerWidth, kMarkerHeight);
    painter.setRenderHint(QPainter::Antialiasing);
    if (marker == mkError) {
      painter.setBrush(QColor(220, 0, 0));
      painter.setPen(QColor(120, 0, 0));
      painter.drawEllipse(shape.adjusted(0, 2, 0, -2));
    } else {
      painter.setBrush(QColor(250, 200, 0));
      painter.setPen(QColor(120, 90, 0));
      const QPoint arrow[] = {shape.topLeft(), QPoint(shape.right(), shape.center().y()), shape.bottomLeft()};
      painter.drawPolygon(arrow, 3);
    }
  }
}

int SourceEditor::CharAtPoint(const QPoint& point) const {
  QTextBlock block = firstVisibleBlock();
  const QPointF offset = contentOffset();
  for (; block.isValid(); block = block.next()) {
    const QRectF box = blockBoundingGeometry(block).translated(offset);
    if (point.y() < box.top()) return -1;
    if (point.y() >= box.bottom()) continue;
    const QTextLayout* layout = block.layout();
    const QPointF inside = QPointF(point) - box.topLeft() - layout->position();
    for (int i = 0; i < layout->lineCount(); ++i) {
      const QTextLine line = layout->lineAt(i);
      if (inside.y() < line.y() || inside.y() >= line.y() + line.height()) continue;
      if (inside.x() < 0 || inside.x() >= line.naturalTextWidth()) return -1;
      const int at = line.xToCursor(inside.x(), QTextLine::CursorOnCharacter);
      if (at >= line.textStart() + line.textLength()) return -1;
      return block.position() + at;
    }
    return -1;
  }
  return -1;
}

void SourceEditor::keyPressEvent(QKeyEvent* event) {
  if (owner_.HandleKey(*event)) {
    owner_.UpdateEditCommands();
    return;
  }
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && event->modifiers().testFlag(Qt::ShiftModifier)) {
    // Shift+Enter breaks the line as Enter does (no line separator).
    textCursor().insertBlock();
    ensureCursorVisible();
  } else {
    QPlainTextEdit::keyPressEvent(event);
  }
  owner_.UpdateEditCommands();
}

void SourceEditor::mouseMoveEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseMoveEvent(event);
  owner_.HoverAt(event->position().toPoint(), event->globalPosition().toPoint());
}

void SourceEditor::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QString::fromLatin1(kListBoxItemMime))) {
    event->acceptProposedAction();
    return;
  }
  QPlainTextEdit::dragEnterEvent(event);
}

void SourceEditor::dragMoveEvent(QDragMoveEvent* event) {
  if (!event->mimeData()->hasFormat(QString::fromLatin1(kListBoxItemMime))) {
    QPlainTextEdit::dragMoveEvent(event);
    return;
  }
  event->acceptProposedAction();
  const int at = CharAtPoint(event->position().toPoint());
  if (at < 0) return;
  const QTextBlock block = document()->findBlock(at);
  const std::optional<TextRange> placeholder = FindPlaceholder(block.text().toStdU16String(), at - block.position(),
                                                               owner_.mainForm().interpreter().S.Language.CodePage);
  QTextCursor cursor = textCursor();
  if (placeholder) {
    const int start = block.position() + placeholder->Start;
    if (cursor.selectionStart() == start && cursor.selectionEnd() == start + placeholder->Length) return;
    cursor.setPosition(start);
    cursor.setPosition(start + placeholder->Length, QTextCursor::KeepAnchor);
  } else {
    if (cursor.selectionStart() == at && cursor.selectionEnd() == at + 1) return;
    cursor.setPosition(at);
  }
  setTextCursor(cursor);
}

void SourceEditor::dropEvent(QDropEvent* event) {
  if (event->mimeData()->hasFormat(QString::fromLatin1(kListBoxItemMime))) {
    event->ignore();
    return;
  }
  QPlainTextEdit::dropEvent(event);
}

// --- the window ----------------------------------------------------------------------------

// The collector's view of a source window (SrcWinCommand.cpp).
std::shared_ptr<CommandLineUi> MakeCommandUi(TSource& window);

TSource::TSource(TMainForm& main, const QString& settingsName, bool isCommand)
    : TZavtaForm(main, settingsName, ToolKind::Source),
      isCommand_(isCommand),
      edit_(new SourceEditor(*this)),
      highlighter_(new SyntaxHighlighter(edit_->document(), main.env())),
      hints_(new TZavtaHint(this)) {
  setWidget(edit_);
  markerTimer_.setInterval(1000);
  markerTimer_.setSingleShot(true);
  connect(&markerTimer_, &QTimer::timeout, this, [this] {
    edit_->hideMarker(SourceEditor::mkDebug);
    edit_->hideMarker(SourceEditor::mkError);
  });
  connect(edit_, &QPlainTextEdit::cursorPositionChanged, this, &TSource::UpdateEditCommands);
  ui_ = MakeCommandUi(*this);
  // Every window starts with no command waiting.
  collector_ = std::make_shared<CommandLine>(main.interpreter(), main.env(), *ui_, isCommand);
  RefreshView(false);
  highlighter_->rehighlight();
}

void TSource::ApplyMargin() { edit_->setMarginVisible(mainForm().env().AdvancedGui); }

TSource::~TSource() = default;

void TSource::applySettings() { RefreshView(true); }

void TSource::RefreshView(bool recolour) {
  applyFont();
  const QFont font = mainForm().envFont();
  edit_->setFont(font);
  edit_->setTabStopDistance(kTabStopPoints * edit_->logicalDpiX() / 72.0);
  ApplyMargin();
  highlighter_->setFontBold(font.bold());
  if (recolour) {
    // Colouring lives in the layout: the modified flag and undo stay.
    const bool modified = edit_->document()->isModified();
    highlighter_->rehighlight();
    edit_->document()->setModified(modified);
  }
  if (isCommand_ && collector_->Complete()) setTitle(Text(mainForm().env(), u"CAPTION.COMMAND"));
}

void TSource::SetNameAndTitle(const QString& path) {
  FileName = path;
  setTitle(QFileInfo(path).fileName());
  setToolTip(QString());
}

void TSource::NewFile() {
  TMainForm& main = mainForm();
  std::error_code ignored;
  std::u16string folder = Utf8ToUtf16(std::filesystem::current_path(ignored).string());
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  int number = 0;
  const std::u16string path = NewSourceFileName(
      folder,
      [&main](const std::u16string& name) { return main.FindSource(QString::fromStdU16String(name)) != nullptr; },
      number);
  FileName = QString::fromStdU16String(path);
  setTitle(QStringLiteral("New File %1").arg(number));
  highlighter_->rehighlight();
  edit_->document()->setModified(false);
}

void TSource::LoadFile(const QString& name) {
  EnvState& env = mainForm().env();
  if (env.AddToReopenList) env.AddToReopenList(name.toStdU16String());
  const std::u16string located = LocateFile(env.S, name.toStdU16String());
  FileName = QString::fromStdU16String(located);
  if (FileExists(located)) {
    edit_->setPlainText(QString::fromStdU16String(LoadSourceText(env.S, located)));
    edit_->moveCursor(QTextCursor::Start);
  }
  edit_->document()->setModified(false);
  setTitle(QFileInfo(FileName).fileName());
  UpdateEditCommands();
}

std::u16string TSource::GetText() const {
  std::u16string text;
  for (QTextBlock block = edit_->document()->begin(); block.isValid(); block = block.next()) {
    if (block != edit_->document()->begin()) text += u"\r\n";
    text += block.text().toStdU16String();
  }
  return text;
}

void TSource::ShowSystemError(const QString& message) {
  mainForm().showMessage(Text(mainForm().env(), u"SYSTEMERROR") + u' ' + message, QString(), dfOk);
}

int TSource::Ask(const QString& message, int flags) { return mainForm().showMessage(message, QString(), flags); }

bool TSource::Save() {
  if (FileName.isEmpty()) return SaveAs();
  if (const std::optional<std::string> error = SaveSourceText(FileName.toStdU16String(), GetText())) {
    ShowSystemError(QString::fromStdString(*error));
    return false;
  }
  edit_->document()->setModified(false);
  EnvState& env = mainForm().env();
  if (env.AddToReopenList) env.AddToReopenList(FileName.toStdU16String());
  UpdateEditCommands();
  return true;
}

bool TSource::SaveAs() {
  const std::optional<QString> chosen = mainForm().saveDialog().Execute(this, sfZavta);
  if (!chosen || chosen->isEmpty()) return false;
  SetNameAndTitle(QFileInfo(*chosen).absoluteFilePath());
  const bool written = Save();
  mainForm().refreshLayout();
  return written;
}

bool TSource::CloseQuery() {
  if (isCommand_ || mainForm().env().Quitting || !edit_->document()->isModified()) return true;
  switch (Ask(Format(mainForm().env(), u"DIALOG.SAVESOURCE", {title()}), dfOk | dfNo | dfCancel)) {
    case drOk:
      if (!(title().isEmpty() ? SaveAs() : Save())) return false;
      edit_->document()->setModified(false);
      return true;
    case drNo:
      edit_->document()->setModified(false);
      return true;
    default:
      return false;
  }
}

void TSource::closeEvent(QCloseEvent* event) {
  if (!CloseQuery()) {
    event->ignore();
    return;
  }
  TZavtaForm::closeEvent(event);
}

// --- marks -----------------------------------------------------------------------------------

void TSource::bringToFront() {
  if (QMdiArea* area = mdiArea()) area->setActiveSubWindow(this);
  raise();
}

void TSource::ShowError(int start, int end) {
  if (isCommand_ || start < 0) return;
  bringToFront();
  if (start < end) highlighter_->setErrorRange(start, end);
  QTextCursor cursor = edit_->textCursor();
  cursor.setPosition(std::clamp(start, 0, edit_->document()->characterCount() - 1));
  edit_->setTextCursor(cursor);
  edit_->showMarker(SourceEditor::mkError, start);
  UpdateEditCommands();
}

void TSource::ClearError() {
  if (isCommand_) return;
  highlighter_->setErrorRange(0, 0);
  edit_->hideMarker(SourceEditor::mkError);
}

void TSource::ShowDebugMarker(int position) {
  bringToFront();
  edit_->showMarker(SourceEditor::mkDebug, position);
}

void TSource::ShowDebugLine(int line1Based) {
  const QTextBlock block = edit_->document()->findBlockByNumber(std::max(line1Based - 1, 0));
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  edit_->setTextCursor(cursor);
  ShowDebugMarker(block.position());
}

void TSource::HideDebugMarker() { edit_->hideMarker(SourceEditor::mkDebug); }

void TSource::RestartMarkerTimer() {
  markerTimer_.stop();
  markerTimer_.start();
}

void TSource::showDebugLine(int32_t startPos, const std::u16string& sourceText) {
  const int at = EditorPosition(sourceText.empty() ? GetText() : sourceText, startPos);
  // The pause loop asks again after scrolling: the marker follows its block
  // by itself, and the caret stays where the user scrolled to.
  if (!edit_->markerAt_[SourceEditor::mkDebug].isNull() && edit_->markerAt_[SourceEditor::mkDebug].position() == at)
    return;
  QTextCursor cursor = edit_->textCursor();
  cursor.setPosition(std::clamp(at, 0, edit_->document()->characterCount() - 1));
  edit_->setTextCursor(cursor);
  ShowDebugMarker(at);
  UpdateEditCommands();
}

void TSource::showErrorRange(int32_t startPos, int32_t endPos, const std::u16string& sourceText) {
  const std::u16string& text = sourceText.empty() ? GetText() : sourceText;
  ShowError(EditorPosition(text, startPos), EditorPosition(text, endPos));
}

void TSource::showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string& sourceText) {
  const std::u16string& text = sourceText.empty() ? GetText() : sourceText;
  highlighter_->setPausedRange(EditorPosition(text, startPos), EditorPosition(text, endPos));
}

void TSource::endPausedStatement() { highlighter_->setPausedRange(0, 0); }

int32_t TSource::firstVisibleLine() { return edit_->firstVisibleBlockNumber(); }

void TSource::setStateIcon(int icon) {
  static const char* const kIcons[] = {nullptr, ":/icons/run.png", ":/icons/pause.png"};
  setWindowIcon(icon > 0 && icon < 3 ? QIcon(QString::fromLatin1(kIcons[icon])) : QIcon());
}

std::u16string TSource::fileFolder() const {
  if (FileName.isEmpty()) return {};
  QString folder = QFileInfo(FileName).absolutePath();
  if (!folder.endsWith(u'/')) folder += u'/';
  return folder.toStdU16String();
}

void TSourceBridge::bringToFront() { source_.bringToFront(); }
void TSourceBridge::showDebugLine(int32_t startPos, const std::u16string& sourceText) {
  source_.showDebugLine(startPos, sourceText);
}
void TSourceBridge::hideDebugLine() { source_.HideDebugMarker(); }
void TSourceBridge::showErrorRange(int32_t startPos, int32_t endPos, const std::u16string& sourceText) {
  source_.showErrorRange(startPos, endPos, sourceText);
}
void TSourceBridge::clearErrorRange() { source_.ClearError(); }
void TSourceBridge::showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string& sourceText) {
  source_.showPausedStatement(startPos, endPos, sourceText);
}
void TSourceBridge::endPausedStatement() { source_.endPausedStatement(); }
int32_t TSourceBridge::firstVisibleLine() { return source_.firstVisibleLine(); }
void TSourceBridge::setStateIcon(int icon) { source_.setStateIcon(icon); }
std::u16string TSourceBridge::title() { return source_.title().toStdU16String(); }
std::u16string TSourceBridge::text() { return source_.GetText(); }
std::u16string TSourceBridge::fileFolder() { return source_.fileFolder(); }
int32_t TSourceBridge::caretLine() { return source_.CaretLine; }

// --- find, replace, print ----------------------------------------------------------------------

int TSource::SearchFrom(const QString& text, int from) const {
  if (text.isEmpty()) return -1;
  const QTextCursor found = edit_->document()->find(text, std::max(from, 0));
  return found.isNull() ? -1 : found.selectionStart();
}

void TSource::ShowNotFound() { Ask(Format(mainForm().env(), u"DIALOG.FIND.NOMORE", {FindText}), dfOk); }

void TSource::Find() {
  const QTextCursor selection = edit_->textCursor();
  LastDialogInput() = selection.hasSelection() ? selection.selectedText() : FindText;
  if (Ask(Text(mainForm().env(), u"DIALOG.FIND.FINDTHIS"), dfEdit | dfCancel) == drOk) {
    FindOnly = true;
    FindText = LastDialogInput();
    if (!FindText.isEmpty()) {
      const int at = SearchFrom(FindText, selection.selectionStart() + 1);
      if (at >= 0) {
        QTextCursor cursor = edit_->textCursor();
        cursor.setPosition(at);
        edit_->setTextCursor(cursor);
      } else {
        ShowNotFound();
      }
    }
  }
  if (QAction* next = mainForm().action(QStringLiteral("MenuFindNext"))) next->setEnabled(!FindText.isEmpty());
}

void TSource::SelectMatch(int at) {
  QTextCursor cursor = edit_->textCursor();
  cursor.setPosition(at);
  cursor.setPosition(at + static_cast<int>(FindText.size()), QTextCursor::KeepAnchor);
  edit_->setTextCursor(cursor);
}

void TSource::FindNext() {
  if (FindText.isEmpty()) return;
  const int at = SearchFrom(FindText, edit_->textCursor().selectionStart() + 1);
  if (at < 0) {
    ShowNotFound();
    return;
  }
  SelectMatch(at);
  if (FindOnly) return;
  const int answer =
      Ask(Format(mainForm().env(), u"DIALOG.FIND.REPLACETHIS", {FindText, ReplaceText}), dfNo | dfReplaceAll);
  if (answer == drOk)
    edit_->textCursor().insertText(ReplaceText);
  else if (answer == drReplaceAll)
    ReplaceAllFrom(at);
}

void TSource::Replace() {
  const QTextCursor selection = edit_->textCursor();
  LastDialogInput() = selection.hasSelection() ? selection.selectedText() : FindText;
  if (Ask(Text(mainForm().env(), u"DIALOG.FIND.FINDTHIS"), dfEdit | dfCancel) != drOk) return;
  FindText = LastDialogInput();
  LastDialogInput() = ReplaceText;
  const int answer = Ask(Text(mainForm().env(), u"DIALOG.FIND.REPLACE"), dfEdit | dfCancel | dfReplaceAll);
  if (answer != drOk && answer != drReplaceAll) return;
  FindOnly = false;
  ReplaceText = LastDialogInput();
  if (FindText.isEmpty()) return;
  if (answer == drReplaceAll) {
    ReplaceAllFrom(selection.selectionStart());
    return;
  }
  const int at = SearchFrom(FindText, selection.selectionStart() + 1);
  if (at < 0) {
    ShowNotFound();
    return;
  }
  SelectMatch(at);
  if (Ask(Format(mainForm().env(), u"DIALOG.FIND.REPLACETHIS", {FindText, ReplaceText}), dfNo) == drOk)
    edit_->textCursor().insertText(ReplaceText);
}

void TSource::ReplaceAllFrom(int start) {
  QTextCursor edit(edit_->document());
  edit.beginEditBlock();  // one undo step
  ReplaceAllMatches(
      start, static_cast<size_t>(FindText.size()), static_cast<size_t>(ReplaceText.size()),
      [this](int32_t from) { return SearchFrom(FindText, from); },
      [&](int32_t at) {
        edit.setPosition(at);
        edit.setPosition(at + static_cast<int>(FindText.size()), QTextCursor::KeepAnchor);
        edit.insertText(ReplaceText);
      });
  edit.endEditBlock();
  edit_->setTextCursor(edit);
}

std::unique_ptr<QTextDocument> TSource::PrintableCopy() const {
  // print() drops the highlighter's formats: a clone carries them as text formats.
  std::unique_ptr<QTextDocument> copy(edit_->document()->clone());
  copy->setDefaultFont(edit_->font());
  QTextBlock from = edit_->document()->begin();
  for (QTextBlock to = copy->begin(); from.isValid() && to.isValid(); from = from.next(), to = to.next()) {
    for (const QTextLayout::FormatRange& range : from.layout()->formats()) {
      QTextCursor cursor(copy.get());
      cursor.setPosition(to.position() + range.start);
      cursor.setPosition(to.position() + range.start + range.length, QTextCursor::KeepAnchor);
      cursor.mergeCharFormat(range.format);
    }
  }
  return copy;
}

bool TSource::PrintDocument(QPrinter& printer) {
  std::unique_ptr<QTextDocument> copy = PrintableCopy();
  printer.setDocName(QString());
  copy->print(&printer);
  return printer.printerState() != QPrinter::Error;
}

void TSource::SourcePrint() {
  edit_->setFocus();
  QPrinter printer;
  if (mainForm().prompts().setUpPrinter(this, printer)) PrintDocument(printer);
  edit_->setFocus();
}

void TSource::UpdateEditCommands() {
  const QTextCursor cursor = edit_->textCursor();
  CaretLine = edit_->document()->findBlock(cursor.selectionStart()).blockNumber() + 1;
  TMainForm& main = mainForm();
  if (main.activeToolWindow() != this) return;
  for (const char* name : {"MenuCopy", "MenuCut", "MenuDelete"})
    if (QAction* item = main.action(QString::fromLatin1(name))) item->setEnabled(cursor.hasSelection());
  if (QAction* paste = main.action(QStringLiteral("MenuPaste")))
    paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
}

// --- hover hints --------------------------------------------------------------------------------

QString TSource::WordAt(int position) const {
  const QTextBlock block = edit_->document()->findBlock(position);
  if (!block.isValid()) return {};
  try {
    return QString::fromStdU16String(
        BuildHoverHint(mainForm().interpreter().S, block.text().toStdU16String(), position - block.position())
            .HintWord);
  } catch (const std::exception&) {
    return {};
  }
}

void TSource::HoverAt(const QPoint& viewportPoint, const QPoint& globalPoint) {
  const int at = edit_->CharAtPoint(viewportPoint);
  if (at == lastHoverChar_) return;
  lastHoverChar_ = at;
  if (at < 0) {
    edit_->setToolTip(QString());
    lastHint_.clear();
    return;
  }
  const QTextBlock block = edit_->document()->findBlock(at);
  HoverHint hint;
  try {
    hint = BuildHoverHint(mainForm().interpreter().S, block.text().toStdU16String(), at - block.position());
  } catch (const std::exception&) {
    return;  // no new hint for this point
  }
  HintWord = QString::fromStdU16String(hint.HintWord);
  const QString text = QString::fromStdU16String(hint.Hint);
  edit_->setToolTip(text);
  if (!text.isEmpty() && text != lastHint_) {
    hints_->ShowHint(globalPoint, text, edit_->viewport());
    lastHint_ = text;
  }
}
