// A typed command started from a posted event, with the run commands and
// the Pause key taken from its own message pumps: nothing under it goes
// away until it returns; then the reset it was asked for, state 0 and the
// close follow, once.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <functional>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/OutWin.h"
#include "tests/environment/gui/GuiFixture.h"

namespace {

class PostedRunTest : public ::testing::Test, public GuiFixture {
protected:
  void SetUp() override {
    in->LibraryLoadCommands = u"make \"lib 1";
    ResetInterpreter(*in);
    ASSERT_EQ(RunText(*in, u"to work\r\n repeat 3000 [make \"x 1]\r\n make \"done 1\r\nend", u""), rrOk);
    ASSERT_EQ(RunText(*in, u"make \"mark 1", u""), rrOk);
    main->show();
    QObject::connect(main.get(), &TMainForm::runsFinished, main.get(), [this] {
      ++RunsFinished;
      ResetBeforeEnd = WasReset();
      StateAtEnd = in->RunState;
    });
  }

  TAtom* Global(const std::u16string& name) {
    return IsAtom(s->Root) ? TAtom::FindChildByName(*s, *s->Root, name) : nullptr;
  }
  bool WasReset() { return Global(u"mark") == nullptr && Global(u"lib") != nullptr; }

  // Posts the typed command's run; inPump runs from its first message pump.
  void PostRun(const std::u16string& text, std::function<void()> inPump) {
    QTimer::singleShot(0, main.get(), [this, text, inPump] {
      QTimer::singleShot(0, main.get(), inPump);
      GuardCoreEntry(*in, [&] { Result = RunText(*in, text, u""); });
      Returned = true;
    });
  }
  void WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents();
  }

  int Result = -1;
  bool Returned = false;
  int RunsFinished = 0;
  bool ResetBeforeEnd = false;
  uint8_t StateAtEnd = 255;
};

}  // namespace

TEST_F(PostedRunTest, ClicksFromItsPumpsKeepItsFramesUntilItEnds) {
  bool clicked = false;
  PostRun(u"work", [&] {
    clicked = true;
    TContext* frame = s->Frame();
    main->stop();
    main->reset();
    main->exitProgram();
    main->run();
    main->runStep();
    EXPECT_EQ(in->RunState, rsStop);
    EXPECT_EQ(s->Frame(), frame);
    EXPECT_NE(Global(u"mark"), nullptr);
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(RunsFinished, 0);
  });
  WaitFor([&] { return Returned && !main->isVisible(); });
  EXPECT_TRUE(clicked);
  EXPECT_EQ(Result, rrOk);
  EXPECT_EQ(Global(u"done"), nullptr);  // stopped inside the procedure
  EXPECT_EQ(RunsFinished, 1);
  EXPECT_TRUE(ResetBeforeEnd);
  EXPECT_EQ(StateAtEnd, rsIdle);
  ASSERT_NE(s->Frame(), nullptr);
  EXPECT_EQ(s->Frame()->Owner, s->Root);
  EXPECT_FALSE(main->action(QStringLiteral("ButStop"))->isEnabled());
  EXPECT_FALSE(main->isVisible());  // the Exit took effect after the run
}

TEST_F(PostedRunTest, ShiftPauseFromAPumpEndsALongRepeat) {
  PostRun(u"repeat 1000000 [make \"x 1]", [&] {
    QCoreApplication::postEvent(main.get(), new QKeyEvent(QEvent::KeyRelease, Qt::Key_Pause, Qt::ShiftModifier));
  });
  WaitFor([&] { return Returned; });
  EXPECT_TRUE(Returned);
  EXPECT_EQ(Result, rrOk);
  EXPECT_EQ(RunsFinished, 1);
  EXPECT_TRUE(ResetBeforeEnd);
  EXPECT_EQ(in->RunState, rsIdle);
  EXPECT_TRUE(main->isVisible());
}

TEST_F(PostedRunTest, InRunTimeModeAToolWindowClosedDuringARunQuitsAfterTheRun) {
  env.RuntimeMode = true;
  main->openOutput();
  bool visibleAfterClose = false;
  PostRun(u"repeat 3000 [make \"x 1]\r\nmake \"after 1", [&] {
    main->output()->close();
    QCoreApplication::processEvents();
    visibleAfterClose = main->isVisible();
  });
  WaitFor([&] { return Returned && !main->isVisible(); });
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_EQ(main->output(), nullptr);
  EXPECT_NE(Global(u"after"), nullptr);  // the run went on to its end
  EXPECT_FALSE(main->isVisible());
}
