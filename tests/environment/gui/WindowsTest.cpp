// The output and command windows, the tool-window base, the main window's
// Pause key and close, and the environment host, over a real interpreter.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <map>

#include "core/Host.h"
#include "environment/CommandWin.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/ZAVForm.h"
#include "tests/environment/gui/GuiFixture.h"

namespace {

class WindowsTest : public ::testing::Test, public GuiFixture {
protected:
  void SetUp() override {
    // Dialogs answer OK at once and are recorded.
    SetMessageDialogRunner([this](TMsg& dialog) {
      DialogTexts.push_back(dialog.MessageText());
      DialogButtons.push_back(dialog.ButtonCount());
      return static_cast<int>(mrOk);
    });
  }
  void TearDown() override { SetMessageDialogRunner({}); }

  TOutput& Output() { return *main->openOutput(); }
  QString Line(int index) { return Output().editor()->document()->findBlockByNumber(index).text(); }

  std::vector<QString> DialogTexts;
  std::vector<int> DialogButtons;
};

const QString kClef = QString::fromUtf16(u"\U0001D11E");

// A source window as the editors will make them: Run acts on it.
class FakeSourceWindow : public TZavtaForm, public RunSource {
public:
  FakeSourceWindow(TMainForm& main, const QString& name) : TZavtaForm(main, name, ToolKind::Source) {
    setWidget(new QPlainTextEdit);
  }
  RunSource* runSource() override { return this; }
  std::u16string title() override { return settingsName().toStdU16String(); }
  std::u16string text() override { return u""; }
  std::u16string fileFolder() override { return u""; }
  int32_t caretLine() override { return 1; }
};

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
  void Watch(QWidget* widget) {
    widget->installEventFilter(this);
    Counts[widget] = 0;
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && Counts.count(watched) > 0) ++Counts[watched];
    return false;
  }
  std::map<QObject*, int> Counts;
};

}  // namespace

// --- the output window ------------------------------------------------------------------

TEST_F(WindowsTest, TheOutputDrops300LinesOnceItHoldsMoreThan500) {
  TOutput& output = Output();
  EXPECT_EQ(output.LineCount(), 0);
  for (int i = 1; i <= 500; ++i) output.PrintLine(u"line " + QString::number(i).toStdU16String(), 0, false);
  EXPECT_EQ(output.LineCount(), 500);
  output.PrintLine(u"501", 0, false);
  EXPECT_EQ(output.LineCount(), 501);
  output.PrintLine(u"502", 0, false);
  EXPECT_EQ(output.LineCount(), 202);
  EXPECT_EQ(Line(0), QStringLiteral("line 301"));
  EXPECT_EQ(Line(201), QStringLiteral("502"));
}

TEST_F(WindowsTest, TheOutputCutsAtMaxPrintAndBreaksAtEveryLineEnd) {
  env.MaxPrint = 4;
  Output().PrintLine((QStringLiteral("abc") + kClef + QStringLiteral("def")).toStdU16String(), 0, false);
  EXPECT_EQ(Line(0), QStringLiteral("abc") + kClef + QStringLiteral("..."));
  env.MaxPrint = 0;
  Output().PrintLine(u"a\r\nb\rc\nd", 0, false);
  EXPECT_EQ(Output().LineCount(), 5);
  EXPECT_EQ(Line(4), QStringLiteral("d"));
}

TEST_F(WindowsTest, ColourStaysAndBoldGoesWhenTheSettingsApplyAgain) {
  Output().PrintLine(u"red", 0x0000FF, true);
  QTextCursor cursor(Output().editor()->document()->findBlockByNumber(0));
  cursor.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
  Output().applySettings();
  cursor = QTextCursor(Output().editor()->document()->findBlockByNumber(0));
  cursor.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(255, 0, 0));
  EXPECT_NE(cursor.charFormat().fontWeight(), QFont::Bold);
  EXPECT_EQ(Output().title(), QStringLiteral("Output"));
}

TEST_F(WindowsTest, KeysTypedInTheOutputReachTheBufferAndTheEditor) {
  QTest::keyClicks(Output().editor(), QStringLiteral("hi"));
  EXPECT_EQ(Output().Text(), QStringLiteral("hi"));
  EXPECT_EQ(std::u16string(s->KeyBuffer.begin(), s->KeyBuffer.end()), u"hi");
}

TEST_F(WindowsTest, SavingTheOutputRoundTripsAndFallsBackToUtf16) {
  QTemporaryDir folder;
  const QString plain = folder.filePath(QStringLiteral("plain.txt"));
  Output().PrintLine(u"one", 0, false);
  Output().PrintLine(u"two", 0, false);
  prompts.SaveAnswer = plain;
  Output().SaveToFile();
  EXPECT_EQ(prompts.FilterAsked, sfText);
  EXPECT_EQ(main->saveDialog().FilterEntry(), sfZavta);
  QFile file(plain);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("one\r\ntwo"));
  EXPECT_EQ(QString::fromStdU16String(ReadTextFile(*s, plain.toStdU16String())), QStringLiteral("one\r\ntwo"));

  const QString wide = folder.filePath(QStringLiteral("wide.txt"));
  Output().PrintLine(u"\u0416", 0, false);  // not in the Windows-1252 page
  prompts.SaveAnswer = wide;
  Output().SaveToFile();
  QFile wideFile(wide);
  ASSERT_TRUE(wideFile.open(QIODevice::ReadOnly));
  EXPECT_TRUE(wideFile.readAll().startsWith("\xFF\xFE"));
  EXPECT_EQ(QString::fromStdU16String(ReadTextFile(*s, wide.toStdU16String())),
            QStringLiteral("one\r\ntwo\r\n") + QChar(0x416));
  EXPECT_TRUE(DialogTexts.empty());
}

TEST_F(WindowsTest, ACancelledOrFailedSaveChangesNothingButReportsAFailure) {
  Output().PrintLine(u"one", 0, false);
  prompts.SaveAnswer.reset();
  Output().SaveToFile();
  EXPECT_TRUE(DialogTexts.empty());
  EXPECT_EQ(main->saveDialog().FilterEntry(), sfZavta);
  prompts.SaveAnswer = QStringLiteral("/nonexistent-folder/out.txt");
  Output().SaveToFile();
  ASSERT_EQ(DialogTexts.size(), 1u);
  EXPECT_EQ(DialogButtons[0], 1);
  EXPECT_EQ(main->saveDialog().FilterEntry(), sfZavta);
  EXPECT_EQ(Output().Text(), QStringLiteral("one"));
}

TEST_F(WindowsTest, TheOutputPrintsToPdfThroughThePrompt) {
  QTemporaryDir folder;
  Output().PrintLine(u"printed", 0, false);
  prompts.PdfPath = folder.filePath(QStringLiteral("out.pdf"));
  Output().PrintOutput();
  QFile pdf(prompts.PdfPath);
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5).startsWith("%PDF"));
}

// --- the command window ---------------------------------------------------------------------

TEST_F(WindowsTest, EnterRunsTheCaretLineWithItsBoldEcho) {
  Output();
  TCommandWindow* command = main->openCommandWindow();
  main->action(QStringLiteral("ButStop"))->setVisible(false);
  QTest::keyClicks(command->editor(), QStringLiteral("print \"hello"));
  QTest::keyClick(command->editor(), Qt::Key_Return);
  EXPECT_EQ(Output().Text(), QStringLiteral("print \"hello\nhello"));
  EXPECT_TRUE(main->action(QStringLiteral("ButStop"))->isVisible());
  QTextCursor echo(Output().editor()->document()->findBlockByNumber(0));
  echo.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(echo.charFormat().fontWeight(), QFont::Bold);
  EXPECT_EQ(command->editor()->toPlainText(), QStringLiteral("print \"hello\n"));
  EXPECT_EQ(command->editor()->textCursor().blockNumber(), 1);
  // Ctrl+Enter only breaks the line.
  QTest::keyClicks(command->editor(), QStringLiteral("print 1"));
  QTest::keyClick(command->editor(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(Output().LineCount(), 2);
  // Enter on an earlier line runs it again and only moves the caret.
  QTextCursor first(command->editor()->document()->findBlockByNumber(0));
  command->editor()->setTextCursor(first);
  QTest::keyClick(command->editor(), Qt::Key_Return);
  EXPECT_EQ(Output().LineCount(), 4);
  EXPECT_EQ(command->editor()->document()->blockCount(), 3);
}

TEST_F(WindowsTest, StopAbandonsACommandBeingCollected) {
  TCommandWindow* command = main->openCommandWindow();
  QTest::keyClicks(command->editor(), QStringLiteral("make \"x [a"));
  QTest::keyClick(command->editor(), Qt::Key_Return);
  EXPECT_TRUE(command->title().startsWith(QStringLiteral("Command (incomplete")));
  EXPECT_TRUE(main->action(QStringLiteral("ButStop"))->isEnabled());
  main->stop();
  EXPECT_EQ(command->title(), QStringLiteral("Command"));
  EXPECT_FALSE(main->action(QStringLiteral("ButStop"))->isEnabled());
  EXPECT_TRUE(command->collector().Complete());
}

// --- the tool-window base -------------------------------------------------------------------

TEST_F(WindowsTest, ToolWindowsKeepTheirGeometryUnderTheirSettingsNames) {
  env.Settings.SetText(u"OUTPUT.LEFT=10\nOUTPUT.TOP=20\nOUTPUT.WIDTH=300\nOUTPUT.HEIGHT=150");
  main->resize(800, 600);
  TOutput& output = Output();
  EXPECT_EQ(output.geometry(), QRect(10, 20, 300, 150));
  output.setGeometry(30, 40, 250, 120);
  output.close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(env.Settings.RawValue(u"OUTPUT.LEFT"), u"30");
  EXPECT_EQ(env.Settings.RawValue(u"OUTPUT.TOP"), u"40");
  EXPECT_EQ(env.Settings.RawValue(u"OUTPUT.WIDTH"), u"250");
  EXPECT_EQ(env.Settings.RawValue(u"OUTPUT.HEIGHT"), u"120");

  env.Settings.SetText(u"");
  TCommandWindow* command = main->openCommandWindow();
  EXPECT_EQ(command->geometry(), QRect(0, 0, 400, 300));
}

TEST_F(WindowsTest, AClosedWindowLeavesNoReferenceOrCheckMark) {
  Output();
  main->openCommandWindow();
  EXPECT_TRUE(main->action(QStringLiteral("MenuOutput"))->isChecked());
  main->commandWindow()->close();
  Output().close();
  EXPECT_EQ(main->output(), nullptr);
  EXPECT_EQ(main->commandWindow(), nullptr);
  EXPECT_FALSE(main->action(QStringLiteral("MenuOutput"))->isChecked());
  EXPECT_FALSE(main->action(QStringLiteral("MenuCommand"))->isChecked());
  // Printing with the output closed does nothing.
  host.printLine(u"lost", 0, false);
}

TEST_F(WindowsTest, ActivationSetsTheActiveSourceAndTheActiveToolWindow) {
  main->show();
  TCommandWindow* command = main->openCommandWindow();
  EXPECT_FALSE(main->action(QStringLiteral("ButRun"))->isEnabled());
  auto* source = new FakeSourceWindow(*main, QStringLiteral("USER1"));
  main->addSourceWindow(source);
  main->mdiArea()->setActiveSubWindow(command);
  main->mdiArea()->setActiveSubWindow(source);
  EXPECT_EQ(main->activeSourceWindow(), source);
  EXPECT_EQ(main->activeSource(), source);
  EXPECT_EQ(main->activeToolWindow(), source);
  EXPECT_TRUE(main->action(QStringLiteral("ButRun"))->isEnabled());
  EXPECT_TRUE(main->action(QStringLiteral("MenuSave"))->isEnabled());
  // Other windows become the File and Edit target; the source stays Run's.
  for (TZavtaForm* other : {static_cast<TZavtaForm*>(command), static_cast<TZavtaForm*>(&Output())}) {
    main->mdiArea()->setActiveSubWindow(other);
    EXPECT_EQ(main->activeToolWindow(), other);
    EXPECT_EQ(main->activeSourceWindow(), source);
    EXPECT_FALSE(main->action(QStringLiteral("MenuSave"))->isEnabled());
  }
}

TEST_F(WindowsTest, AClosedSourceHandsRunToTheFirstSourceLeftOnceTheAreaHasActivatedItsNeighbour) {
  main->show();
  main->openCommandWindow();
  FakeSourceWindow* sources[3];
  for (int i = 0; i < 3; ++i) {
    sources[i] = new FakeSourceWindow(*main, QStringLiteral("USER%1").arg(i + 1));
    main->addSourceWindow(sources[i]);
  }
  main->mdiArea()->setActiveSubWindow(sources[2]);
  sources[2]->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(main->sourceWindows().size(), 3);  // the command window and two sources
  EXPECT_EQ(main->mdiArea()->activeSubWindow(), sources[0]);
  EXPECT_EQ(main->activeSourceWindow(), sources[0]);
  EXPECT_TRUE(main->action(QStringLiteral("ButRun"))->isEnabled());

  sources[0]->close();
  sources[1]->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(main->activeSourceWindow(), nullptr);
  EXPECT_EQ(main->activeSource(), nullptr);
  EXPECT_FALSE(main->action(QStringLiteral("ButRun"))->isEnabled());
  EXPECT_FALSE(main->action(QStringLiteral("MenuTo"))->isEnabled());
  // The command window never becomes the active source.
  EXPECT_NE(main->mdiArea()->activeSubWindow(), nullptr);
}

TEST_F(WindowsTest, AppActivationRepaintsEveryToolWindowAndAnOpenedWindowTheMainWindow) {
  env.Settings.SetText(u"OUTPUT.LEFT=420");  // side by side: neither hides the other
  main->resize(900, 400);
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  TCommandWindow* command = main->openCommandWindow();
  QTest::qWait(20);
  PaintCounter counter;
  counter.Watch(command);
  counter.Watch(&Output());
  counter.Watch(main.get());
  QTest::qWait(20);
  for (auto& [widget, count] : counter.Counts) count = 0;
  main->appActivate();
  QTest::qWait(20);
  EXPECT_GT(counter.Counts[command], 0);
  EXPECT_GT(counter.Counts[&Output()], 0);

  counter.Counts[main.get()] = 0;
  main->addSourceWindow(new FakeSourceWindow(*main, QStringLiteral("USER1")));
  QTest::qWait(20);
  EXPECT_GT(counter.Counts[main.get()], 0);
}

TEST(ToolWindowEditCommands, FollowTheWindowKind) {
  struct Case {
    ToolKind Kind;
    bool Command, FindEmpty;
    EditCommands Expected;
  };
  const Case cases[] = {
      {ToolKind::Source, false, false, {true, true, true, true, true, true, true}},
      {ToolKind::Source, true, true, {false, true, true, true, true, true, false}},
      {ToolKind::Output, false, true, {false, true, true, true, true, false, false}},
      {ToolKind::Memory, false, true, {false, false, false, true, false, false, false}},
      {ToolKind::Plane, false, true, {false, true, false, true, true, false, false}},
      {ToolKind::Web, false, true, {false, false, false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    const EditCommands got = EditCommandsFor(c.Kind, c.Command, c.FindEmpty);
    const int kind = static_cast<int>(c.Kind);
    EXPECT_EQ(got.Save, c.Expected.Save) << kind;
    EXPECT_EQ(got.SaveAs, c.Expected.SaveAs) << kind;
    EXPECT_EQ(got.Cut, c.Expected.Cut) << kind;
    EXPECT_EQ(got.Copy, c.Expected.Copy) << kind;
    EXPECT_EQ(got.Print, c.Expected.Print) << kind;
    EXPECT_EQ(got.Find, c.Expected.Find) << kind;
    EXPECT_EQ(got.FindNext, c.Expected.FindNext) << kind;
  }
}

TEST(Hints, AreEscapedWithBoldRunsAndLineBreaks) {
  const auto body = [](const QString& hint) {
    QString html = HintTextToHtml(hint);
    const qsizetype start = html.indexOf(u'>', html.indexOf(QStringLiteral("<body"))) + 1;
    return html.mid(start, html.indexOf(QStringLiteral("</body>")) - start);
  };
  EXPECT_EQ(body(QStringLiteral("\x02name\x02 rest")), QStringLiteral("<b>name</b>&nbsp;rest"));
  EXPECT_EQ(body(QStringLiteral("a<b>&")), QStringLiteral("a&lt;b&gt;&amp;"));
  EXPECT_EQ(body(QStringLiteral("\x02open\rnext")), QStringLiteral("<b>open</b><br>next"));
}

TEST(Hints, TheToolTipFilterAndShowHintShowAtOnceForTheHidePause) {
  QWidget widget;
  widget.setToolTip(QStringLiteral("\x02name\x02 rest"));
  widget.resize(100, 100);
  widget.show();
  // The window's own activation would hide a tip shown before it.
  widget.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
  TZavtaHint hints;
  EXPECT_EQ(hints.HidePause(), 3500);
  widget.installEventFilter(&hints);
  const QPoint at = widget.mapToGlobal(QPoint(5, 5));
  QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), at);
  QApplication::sendEvent(&widget, &help);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), HintTextToHtml(widget.toolTip()));
  QTest::qWait(500);
  EXPECT_TRUE(QToolTip::isVisible());  // the default pause is 3.5 s
  QToolTip::hideText();

  hints.SetHidePause(100);
  hints.ShowHint(at, QStringLiteral("hover"), &widget);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), HintTextToHtml(QStringLiteral("hover")));
  QElapsedTimer clock;
  clock.start();
  while (QToolTip::isVisible() && clock.elapsed() < 2000) QTest::qWait(20);
  EXPECT_FALSE(QToolTip::isVisible());
  EXPECT_LT(clock.elapsed(), 1500);
}

// --- the main window ---------------------------------------------------------------------

TEST_F(WindowsTest, PauseStopsARunFromAnyWindowWithAnyModifier) {
  TCommandWindow* command = main->openCommandWindow();
  main->show();
  for (Qt::KeyboardModifiers modifiers :
       {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
    SetRunState(*in, rsRunning);
    QTest::keyRelease(command->editor(), Qt::Key_Pause, modifiers);
    EXPECT_EQ(in->RunState, rsStop);
  }
  // One release is one Stop: with a command being collected it only drops it.
  SetRunState(*in, rsEnded);
  ASSERT_EQ(RunText(*in, u"make \"mark 1", u""), rrOk);
  QTest::keyClicks(command->editor(), QStringLiteral("make \"x [a"));
  QTest::keyClick(command->editor(), Qt::Key_Return);
  ASSERT_FALSE(command->collector().Complete());
  QTest::keyRelease(command->editor(), Qt::Key_Pause);
  EXPECT_TRUE(command->collector().Complete());
  EXPECT_NE(TAtom::FindChildByName(*s, *s->Root, u"mark"), nullptr);
  EXPECT_EQ(in->RunState, rsEnded);
}

TEST_F(WindowsTest, ClosingTheMainWindowDuringARunActsAsExit) {
  int pumps = 0;
  bool visibleInRun = false;
  main->show();
  TOutput& output = Output();
  static_cast<void>(output);
  // A program whose pumps take a close posted just before it starts.
  QTimer::singleShot(0, main.get(), [&] {
    ++pumps;
    QTimer::singleShot(0, main.get(), [this] { main->close(); });
    RunText(*in, u"repeat 100000 [make \"x 1]", u"");
    visibleInRun = main->isVisible();
  });
  QElapsedTimer clock;
  clock.start();
  while (main->isVisible() && clock.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(pumps, 1);
  EXPECT_TRUE(visibleInRun);
  EXPECT_TRUE(main->runControl().ExitPending);
  EXPECT_FALSE(main->isVisible());
}

// --- the environment host ------------------------------------------------------------------

TEST_F(WindowsTest, ThePumpsRunPostedEvents) {
  int ran = 0;
  QTimer::singleShot(0, main.get(), [&] { ++ran; });
  host.processMessages();
  EXPECT_EQ(ran, 1);
  QTimer::singleShot(20, main.get(), [&] { ++ran; });
  host.waitAndProcessMessages(100);
  EXPECT_EQ(ran, 2);
}

TEST_F(WindowsTest, StartDetachedStartsAProgram) {
  QTemporaryDir folder;
  ASSERT_TRUE(host.startDetached(QStringLiteral(ZAVTA_SHELL_HELPER).toStdU16String(), {u"one", u"two"},
                                 folder.path().toStdU16String()));
  QElapsedTimer clock;
  clock.start();
  bool written = false;
  while (!written && clock.elapsed() < 5000) {
    written = QFile::exists(folder.filePath(QStringLiteral("shellhelper.txt")));
    QTest::qWait(20);
  }
  EXPECT_TRUE(written);
  EXPECT_FALSE(host.startDetached(u"/nonexistent/program", {}, u""));
}

TEST_F(WindowsTest, AFailingProgramPrintsItsLineAndShowsTheHelpDialog) {
  Output();
  EXPECT_EQ(RunText(*in, u"make \"a 1\r\nprint :nosuch", u"prog.zav"), rrRunError);
  ASSERT_GE(Output().LineCount(), 1);
  EXPECT_TRUE(Line(Output().LineCount() - 1).endsWith(QStringLiteral("(prog.zav:2)")))
      << Line(Output().LineCount() - 1).toStdString();
  ASSERT_EQ(DialogButtons.size(), 1u);
  EXPECT_EQ(DialogButtons[0], 2);  // OK and Help: flags 33
}

TEST_F(WindowsTest, HelpOnARunErrorGivesFiveAndOpensTheHelpOnce) {
  QTemporaryDir folder;
  s->HelpFolder = folder.path().toStdU16String() + u"/";
  SetMessageDialogRunner([](TMsg& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::mouseClick(dialog.Button(3), Qt::LeftButton); });
    QTimer::singleShot(3000, &dialog, [&dialog] { dialog.done(0); });  // a hanging dialog fails
    return dialog.exec();
  });
  std::vector<QString> topics;
  main->HelpOpener = [&](const QString& topic) { topics.push_back(topic); };
  Output();
  EXPECT_EQ(RunText(*in, u"make \"a 1\r\nprint :nosuch", u"prog.zav"), rrRunError);
  EXPECT_EQ(host.Answers, std::vector<int>{drHelp});
  ASSERT_EQ(topics.size(), 1u);
  EXPECT_FALSE(topics[0].isEmpty());
}

TEST_F(WindowsTest, TheTimeItemSaysWelcomeUntilTheFirstResetEmptiesIt) {
  QAction* time = main->action(QStringLiteral("MenuTimeSpent"));
  EXPECT_EQ(time->text(), QStringLiteral("Welcome"));
  EXPECT_FALSE(time->isEnabled());
  ResetInterpreter(*in);
  EXPECT_EQ(time->text(), QString());
  EXPECT_EQ(RunText(*in, u"make \"a 1", u""), rrOk);  // a typed command shows no time
  EXPECT_EQ(time->text(), QString());
  RunProgramText(*in, u"make \"a 1", u"prog.zav");
  EXPECT_TRUE(time->text().endsWith(QStringLiteral(" s"))) << time->text().toStdString();
}

TEST_F(WindowsTest, ASlotsExceptionPrintsASystemErrorLine) {
  Output();
  GuardCoreEntry(*in, [] { throw std::runtime_error("broken"); });
  EXPECT_EQ(Line(0), QString::fromStdU16String(s->Language.Text(u"SYSTEMERROR")) + QStringLiteral(" broken"));
  EXPECT_EQ(in->RunState, rsEnded);
}
