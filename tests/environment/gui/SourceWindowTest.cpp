// Source windows on the offscreen platform: colours per block, overlays
// that leave the document alone, files and the close prompt, find and
// replace, the caret line runs, and the marks of a real run.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMdiArea>
#include <QMimeData>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/Text.h"
#include "environment/CommandWin.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/SourceFile.h"
#include "environment/SrcWin.h"
#include "environment/SrcWinHighlighter.h"
#include "environment/SrcWinSyntax.h"
#include "tests/environment/gui/GuiFixture.h"

namespace {

const QColor kKeywordRed(200, 0, 0);

class SourceWindowTest : public ::testing::Test, public GuiFixture {
protected:
  SourceWindowTest() {
    env.SyntaxColors[scPrimitive] = MakeRgb(200, 0, 0);
    env.SyntaxColors[scComment] = MakeRgb(0, 0, 255);
    env.LanguageTexts.SetText(
        u"CAPTION.COMMAND=Command\nCAPTION.COMMAND.INCOMPLETE=Command (incomplete: %s)\n"
        u"SYSTEMERROR=System error\nDIALOG.SAVESOURCE=Save %s?\n"
        u"DIALOG.FIND.NOMORE=No more %s\nDIALOG.FIND.FINDTHIS=Find\n"
        u"DIALOG.FIND.REPLACE=Replace with\nDIALOG.FIND.REPLACETHIS=Replace %s by %s?");
  }
  ~SourceWindowTest() override { SetMessageDialogRunner({}); }

  TSource* NewSource(const QString& text) {
    TSource* source = main->newSourceWindow();
    source->editor()->setPlainText(text);
    source->editor()->document()->setModified(false);
    main->mdiArea()->setActiveSubWindow(source);
    return source;
  }
  // The dialog answers in turn; the messages it was shown are kept.
  void Answer(std::vector<int> answers, QString input = {}) {
    answers_ = std::move(answers);
    SetMessageDialogRunner([this, input](TMsg& dialog) {
      Messages.push_back(dialog.MessageText());
      if (!input.isNull() && !dialog.EditBox()->isHidden()) dialog.EditBox()->setText(input);
      const int answer = answers_.empty() ? drOk : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      static const int kModal[] = {mrOk, mrNo, mrCancel, mrOk, mrOk, mrHelp, mrReplaceAll};
      return kModal[answer];
    });
  }
  // The colour the highlighter gave the character at column of a block.
  static QTextCharFormat FormatAt(TSource& source, int block, int column) {
    const QTextBlock b = source.editor()->document()->findBlockByNumber(block);
    for (const QTextLayout::FormatRange& range : b.layout()->formats())
      if (range.start <= column && column < range.start + range.length) return range.format;
    return {};
  }

  std::vector<QString> Messages;
  std::vector<int> answers_;
  QTemporaryDir scratch;
};

std::string Bytes(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Whether a content stream of the PDF sets a fill colour whose red part
// starts with red and whose green and blue are 0 (streams that are not
// compressed content are passed over).
bool PdfFillsWith(const QString& path, const QString& red) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray pdf = file.readAll();
  const QRegularExpression fill(QRegularExpression::escape(red) + QStringLiteral("\\d* 0 0 scn"));
  for (qsizetype at = pdf.indexOf("stream"); at >= 0; at = pdf.indexOf("stream", at + 1)) {
    if (at >= 3 && pdf.mid(at - 3, 3) == "end") continue;
    const qsizetype object = pdf.lastIndexOf(" obj", at);
    if (object < 0 || !pdf.mid(object, at - object).contains("/FlateDecode")) continue;
    qsizetype start = at + 6;
    while (start < pdf.size() && (pdf[start] == '\r' || pdf[start] == '\n')) ++start;
    const qsizetype end = pdf.indexOf("endstream", start);
    if (end < 0) break;
    // qUncompress wants the size first; it grows a short guess itself.
    QByteArray packed(4, '\0');
    const quint32 guess = static_cast<quint32>((end - start) * 8 + 64);
    for (int i = 0; i < 4; ++i) packed[i] = static_cast<char>(guess >> (24 - 8 * i));
    packed += pdf.mid(start, end - start);
    const QByteArray content = qUncompress(packed);
    if (fill.match(QString::fromLatin1(content)).hasMatch()) return true;
    at = end;
  }
  return false;
}

}  // namespace

TEST_F(SourceWindowTest, KeywordsAreColouredAndBoldAndBracesRecolourLaterLines) {
  TSource* source = NewSource(QStringLiteral("print 1\nrepeat 2 [x]\n-5"));
  EXPECT_EQ(FormatAt(*source, 0, 1).foreground().color(), kKeywordRed);
  EXPECT_EQ(FormatAt(*source, 0, 1).fontWeight(), QFont::Bold);
  EXPECT_EQ(FormatAt(*source, 2, 1).foreground().color(), QColor(0, 0, 0));  // "-5" is one number

  QTextCursor cursor(source->editor()->document()->findBlockByNumber(0));
  cursor.insertText(QStringLiteral("{"));
  EXPECT_EQ(FormatAt(*source, 1, 1).foreground().color(), QColor(0, 0, 255));
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QStringLiteral("}"));
  cursor.movePosition(QTextCursor::Start);
  cursor.deleteChar();
  EXPECT_EQ(FormatAt(*source, 1, 1).foreground().color(), kKeywordRed);
}

TEST_F(SourceWindowTest, OverlaysFollowTypingAndNeverTouchTheDocument) {
  TSource* source = NewSource(QStringLiteral("print 1\nprint 2"));
  QTextDocument* document = source->editor()->document();
  source->ShowError(8, 13);
  source->showPausedStatement(1, 8, u"print 1\r\nprint 2");
  EXPECT_FALSE(document->isModified());
  EXPECT_FALSE(document->isUndoAvailable());
  EXPECT_TRUE(FormatAt(*source, 1, 0).fontItalic());
  EXPECT_TRUE(FormatAt(*source, 0, 0).fontUnderline());
  EXPECT_EQ(source->editor()->markerBlock(SourceEditor::mkError), 1);

  QTextCursor cursor(document);
  cursor.insertText(QStringLiteral("; x\n"));  // the marked lines move down
  EXPECT_TRUE(FormatAt(*source, 2, 2).fontItalic());
  EXPECT_EQ(source->editor()->markerBlock(SourceEditor::mkError), 2);
  source->ClearError();
  source->endPausedStatement();
  EXPECT_FALSE(FormatAt(*source, 2, 2).fontItalic());
  EXPECT_FALSE(FormatAt(*source, 1, 0).fontUnderline());
  EXPECT_EQ(source->editor()->markerBlock(SourceEditor::mkError), -1);
}

TEST_F(SourceWindowTest, FilesRoundTripInUtf16WithCrLf) {
  for (const char* name : {"Latin1252.zav", "Utf16Lambda.zav"}) {
    TSource* source = main->openSourceWindow(QStringLiteral(ZAVTA_SOURCE_DIR "/tests/environment/data/") + name);
    EXPECT_EQ(source->title(), QString::fromLatin1(name));
    EXPECT_FALSE(source->editor()->document()->isModified());
    const std::u16string text = source->GetText();
    source->FileName = scratch.filePath(QString::fromLatin1(name));
    source->editor()->insertPlainText(QStringLiteral(" "));
    ASSERT_TRUE(source->Save());
    EXPECT_FALSE(source->editor()->document()->isModified());
    const std::string bytes = Bytes(source->FileName);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
    EXPECT_EQ(source->GetText(), u" " + text);
  }
  EXPECT_NE(main->FindSource(QStringLiteral("utf16lambda.zav")), nullptr);                    // titles ignore case
  EXPECT_EQ(main->FindSource(scratch.filePath(QStringLiteral("UTF16LAMBDA.zav"))), nullptr);  // names do not
  EXPECT_EQ(main->FindSource(QString()), nullptr);
}

TEST_F(SourceWindowTest, AFailedSaveShowsTheErrorAndKeepsTheWindowModified) {
  TSource* source = NewSource(QStringLiteral("print 1"));
  QFile blocker(scratch.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  source->FileName = scratch.filePath(QStringLiteral("file/under.zav"));
  source->editor()->insertPlainText(QStringLiteral("x"));
  Answer({drOk, drOk});
  const QPointer<TSource> window(source);
  source->close();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_TRUE(Messages[1].startsWith(QStringLiteral("System error "))) << Messages[1].toStdString();
  ASSERT_TRUE(window);
  EXPECT_TRUE(source->editor()->document()->isModified());
}

TEST_F(SourceWindowTest, TheClosePromptSavesDropsOrKeeps) {
  struct Case {
    int Answer;
    bool Closes;
    bool Written;
  } cases[] = {{drOk, true, true}, {drNo, true, false}, {drCancel, false, false}};
  int n = 0;
  for (const Case& c : cases) {
    TSource* source = NewSource(QStringLiteral("print 1"));
    const QString path = scratch.filePath(QStringLiteral("close%1.zav").arg(n++));
    source->FileName = path;
    source->editor()->insertPlainText(QStringLiteral("x"));
    Answer({c.Answer});
    const QPointer<TSource> window(source);
    source->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(!window, c.Closes) << c.Answer;
    EXPECT_EQ(QFile::exists(path), c.Written) << c.Answer;
    if (window) {
      EXPECT_TRUE(source->editor()->document()->isModified());
    }
  }
}

TEST_F(SourceWindowTest, WhileQuittingAWindowClosesWithoutAsking) {
  TSource* source = NewSource(QStringLiteral("print 1"));
  source->editor()->insertPlainText(QStringLiteral("x"));
  env.Quitting = true;
  Answer({drCancel});
  const QPointer<TSource> window(source);
  source->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(Messages.empty());
  EXPECT_FALSE(window);
}

TEST_F(SourceWindowTest, NewFilesGetAnUnusedAbsoluteName) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path().toStdString());
  QFile existing(scratch.filePath(QStringLiteral("New File 0.zav")));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  TSource* first = main->newSourceWindow();
  TSource* second = main->newSourceWindow();
  std::filesystem::current_path(before);
  EXPECT_EQ(first->title(), QStringLiteral("New File 1"));
  EXPECT_EQ(first->FileName, scratch.filePath(QStringLiteral("New File 1.zav")));
  EXPECT_EQ(second->title(), QStringLiteral("New File 2"));
}

TEST_F(SourceWindowTest, FindAndReplaceFollowTheDialogs) {
  TSource* source = NewSource(QStringLiteral("a xa a"));
  // Find leaves the caret at the match; Find next selects the next one.
  Answer({drOk}, QStringLiteral("A"));
  source->Find();
  EXPECT_EQ(source->editor()->textCursor().position(), 3);
  EXPECT_FALSE(source->editor()->textCursor().hasSelection());
  source->FindNext();
  EXPECT_EQ(source->editor()->textCursor().selectedText(), QStringLiteral("a"));
  EXPECT_EQ(source->editor()->textCursor().selectionStart(), 5);
  // Replace all from the caret, one undo step; the loop ends on "a" -> "aa".
  QTextCursor start(source->editor()->document());
  source->editor()->setTextCursor(start);
  Answer({drOk, drReplaceAll}, QStringLiteral("aa"));
  LastDialogInput() = QStringLiteral("a");
  SetMessageDialogRunner([&](TMsg& dialog) {
    Messages.push_back(dialog.MessageText());
    dialog.EditBox()->setText(Messages.size() == 1 ? QStringLiteral("a") : QStringLiteral("aa"));
    return Messages.size() == 1 ? int{mrOk} : int{mrReplaceAll};
  });
  Messages.clear();
  source->Replace();
  EXPECT_EQ(source->editor()->toPlainText(), QStringLiteral("aa xaa aa"));
  source->editor()->undo();
  EXPECT_EQ(source->editor()->toPlainText(), QStringLiteral("a xa a"));
  // No match: the message names the text.
  Answer({drOk, drOk}, QStringLiteral("zzz"));
  Messages.clear();
  source->Find();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[1], QStringLiteral("No more zzz"));
}

TEST_F(SourceWindowTest, CtrlEnterRunsAPlainWindowsLineOnlyWithTheCommandWindowOpen) {
  TSource* source = NewSource(QStringLiteral("make \"fromsource 1\nnext"));
  QTest::keyClick(source->editor(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(TAtom::FindChildByName(*s, *s->Root, u"fromsource"), nullptr);
  main->openCommandWindow();
  QTextCursor first(source->editor()->document());
  source->editor()->setTextCursor(first);
  QTest::keyClick(source->editor(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_NE(TAtom::FindChildByName(*s, *s->Root, u"fromsource"), nullptr);
  EXPECT_EQ(source->editor()->textCursor().blockNumber(), 1);  // moved on, nothing typed
  EXPECT_EQ(source->editor()->document()->blockCount(), 2);
  // Enter breaks the line in a plain window; Shift+Enter too, with no separator.
  QTest::keyClick(source->editor(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(source->editor()->document()->blockCount(), 3);
  EXPECT_FALSE(source->editor()->toPlainText().contains(QChar(0x2028)));

  // An unfinished line waits in the plain window too, until Stop drops it.
  source->editor()->setPlainText(QStringLiteral("make \"open [a"));
  QTest::keyClick(source->editor(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_FALSE(source->collector().Complete());
  main->stop();
  EXPECT_TRUE(source->collector().Complete());
}

TEST_F(SourceWindowTest, ARealRunMarksItsErrorInTheWindow) {
  TSource* source = NewSource(QStringLiteral("print 1\nprint :nosuch"));
  main->openOutput();
  bool marked = false;
  SetMessageDialogRunner([&](TMsg&) {
    // While the dialog shows, the failing statement is marked.
    marked = FormatAt(*source, 1, 7).fontItalic() && source->editor()->markerBlock(SourceEditor::mkError) == 1;
    return int{mrOk};
  });
  main->mdiArea()->setActiveSubWindow(source);
  ASSERT_NE(main->activeSource(), nullptr);
  main->run();
  EXPECT_TRUE(marked);
  EXPECT_FALSE(FormatAt(*source, 1, 7).fontItalic());  // cleared after the dialog
}

TEST_F(SourceWindowTest, ThePrintedCopyKeepsTheColours) {
  TSource* source = NewSource(QStringLiteral("print 1"));
  std::unique_ptr<QTextDocument> copy = source->PrintableCopy();
  QTextCursor at(copy.get());
  at.setPosition(2);
  EXPECT_EQ(at.charFormat().foreground().color(), kKeywordRed);
  prompts.PdfPath = scratch.filePath(QStringLiteral("print.pdf"));
  source->SourcePrint();
  EXPECT_TRUE(PdfFillsWith(prompts.PdfPath, QStringLiteral("0.78")));  // 200/255: the keyword's red
  env.SyntaxColors[scPrimitive] = MakeRgb(0, 0, 0);
  source->applySettings();
  source->SourcePrint();
  EXPECT_FALSE(PdfFillsWith(prompts.PdfPath, QStringLiteral("0.78")));
}

TEST_F(SourceWindowTest, TheWindowPaintsTheColoursAndTheMargin) {
  env.AdvancedGui = true;
  TSource* source = NewSource(QStringLiteral(
      "; squares of the first numbers\nto square :n\n  output :n * :n\nend\n{ a comment\n  over two lines }\n"
      "repeat 5 [print square repcount]\nmake \"name 'a quoted text'\nprint -5 + :name"));
  source->applySettings();
  main->resize(760, 420);
  main->show();
  source->setGeometry(0, 0, 640, 330);
  source->ShowError(source->editor()->document()->findBlockByNumber(8).position() + 11,
                    source->editor()->document()->findBlockByNumber(8).position() + 16);
  source->ShowDebugLine(7);
  QCoreApplication::processEvents();
  const QImage image = main->grab().toImage();
  if (const QByteArray shot = qgetenv("ZAVTA_EDITOR_SHOT"); !shot.isEmpty()) image.save(QString::fromLocal8Bit(shot));
  int keywordPixels = 0, commentPixels = 0, markerPixels = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      keywordPixels += c.red() > 150 && c.green() < 60 && c.blue() < 60;
      commentPixels += c.blue() > 200 && c.red() < 60 && c.green() < 60;
      markerPixels += c.red() > 200 && c.green() > 150 && c.blue() < 60;  // the debug marker
    }
  EXPECT_GT(keywordPixels, 50);
  EXPECT_GT(commentPixels, 50);
  EXPECT_GT(markerPixels, 10);
}

TEST_F(SourceWindowTest, TheCharacterUnderTheMouseAndItsHint) {
  ASSERT_EQ(RunText(*in, u"make \"box 3\r\nmake \"box.onabout \"Boxes", u""), rrOk);
  TSource* source = NewSource(QStringLiteral("print :box\n\nx"));
  main->resize(600, 400);
  main->show();
  source->setGeometry(0, 0, 500, 300);
  QCoreApplication::processEvents();
  SourceEditor* editor = source->editor();
  const QRect box = editor->cursorRect(QTextCursor(editor->document()->findBlockByNumber(0)));
  const int y = box.center().y();
  const int charWidth = editor->fontMetrics().horizontalAdvance(QLatin1Char('p'));
  const int left = box.left();
  EXPECT_EQ(editor->CharAtPoint(QPoint(left + charWidth / 2, y)), 0);
  const int pastEnd = left + editor->fontMetrics().horizontalAdvance(QStringLiteral("print :box")) + 5;
  EXPECT_EQ(editor->CharAtPoint(QPoint(pastEnd, y)), -1);
  EXPECT_EQ(editor->CharAtPoint(QPoint(left + 2, box.height() * 10)), -1);  // below the last line

  // Hovering over "box" finds its word and documentation.
  const int onBox = left + editor->fontMetrics().horizontalAdvance(QStringLiteral("print :b"));
  source->HoverAt(QPoint(onBox, y), editor->viewport()->mapToGlobal(QPoint(onBox, y)));
  EXPECT_EQ(source->HintWord, QStringLiteral("box"));
  EXPECT_EQ(editor->toolTip(), QStringLiteral("Boxes\r\x02"
                                              "box\x02=3"));
  source->HoverAt(QPoint(pastEnd, y), QPoint());
  EXPECT_TRUE(editor->toolTip().isEmpty());
  EXPECT_EQ(source->WordAt(7), QStringLiteral("box"));
}

TEST_F(SourceWindowTest, ADraggedListBoxItemSelectsPlaceholders) {
  TSource* source = NewSource(QStringLiteral("repeat \u2039count\u203A [x]"));
  main->resize(600, 400);
  main->show();
  source->setGeometry(0, 0, 500, 300);
  QCoreApplication::processEvents();
  SourceEditor* editor = source->editor();
  const QRect box = editor->cursorRect(QTextCursor(editor->document()->findBlockByNumber(0)));
  const QPoint onCount(box.left() + editor->fontMetrics().horizontalAdvance(QStringLiteral("repeat \u2039co")),
                       box.center().y());
  QMimeData item;
  item.setData(QString::fromLatin1(kListBoxItemMime), QByteArray("count"));
  QDragEnterEvent enter(onCount, Qt::CopyAction, &item, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(editor->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(onCount, Qt::CopyAction, &item, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(editor->viewport(), &move);
  EXPECT_EQ(editor->textCursor().selectedText(), QStringLiteral("\u2039count\u203A"));
  QDropEvent drop(onCount, Qt::CopyAction, &item, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(editor->viewport(), &drop);
  EXPECT_EQ(editor->toPlainText(), QStringLiteral("repeat \u2039count\u203A [x]"));  // the drop does nothing
}

TEST_F(SourceWindowTest, ACommandTypedDuringAPauseSeesTheLocalsAndTheRunEnds) {
  main->openOutput();
  TCommandWindow* command = main->openCommandWindow();
  TSource* source = NewSource(QStringLiteral("to work :n\n make \"a :n\n make \"b 2\nend\nwork 42\nmake \"after 1"));
  QTextCursor caret(source->editor()->document()->findBlockByNumber(2));
  source->editor()->setTextCursor(caret);
  main->mdiArea()->setActiveSubWindow(source);
  bool typed = false;
  bool marked = false;
  HoverHint hint;
  size_t linesBefore = 0;
  QTimer::singleShot(50, main.get(), [&] {
    typed = in->RunState == rsPaused;
    marked = source->editor()->markerBlock(SourceEditor::mkDebug) == 2 && FormatAt(*source, 2, 2).fontUnderline();
    // Hovering while paused reads the procedure's locals and changes nothing.
    linesBefore = main->output()->editor()->document()->blockCount();
    hint = BuildHoverHint(*s, u"make \"a :n", 9);
    EXPECT_TRUE(s->ErrorTrace.empty());
    EXPECT_EQ(main->output()->editor()->document()->blockCount(), static_cast<int>(linesBefore));
    QTextCursor end(command->editor()->document());
    end.movePosition(QTextCursor::End);
    command->editor()->setTextCursor(end);
    QTest::keyClicks(command->editor(), QStringLiteral("make \"seen :n"));
    QTest::keyClick(command->editor(), Qt::Key_Return);
    main->run();  // runs the paused program on to its end
  });
  main->runTo();
  EXPECT_TRUE(typed);
  EXPECT_TRUE(marked);
  EXPECT_EQ(U8(hint.Hint), "\x02n\x02=42");
  TAtom* seen = TAtom::FindChildByName(*s, *s->Root, u"seen");
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(TAtom::ToText(*s, seen->Left), u"42");
  EXPECT_NE(TAtom::FindChildByName(*s, *s->Root, u"after"), nullptr);
  EXPECT_EQ(s->Frame()->Owner, s->Root);
}
