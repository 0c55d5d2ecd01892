// The command window's line collector over a real interpreter: echo, the
// run of a line, collecting an incomplete command, Stop abandoning it, and
// where a typed command runs when a program is on the stack.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/CommandLine.h"
#include "environment/EnvState.h"
#include "tests/support/TestState.h"

namespace {

class FakeCommandUi : public CommandLineUi {
public:
  void setTitle(const std::u16string& title) override { Titles.push_back(U8(title)); }
  void repaint() override { ++Repaints; }
  void applyFont() override { ++FontApplied; }
  void enableStop() override { ++StopEnabled; }
  void showStop() override { ++StopShown; }

  std::vector<std::string> Titles;
  int Repaints = 0;
  int FontApplied = 0;
  int StopEnabled = 0;
  int StopShown = 0;
};

class CommandLineTest : public ::testing::Test {
protected:
  CommandLineTest() : env(*ts.S), in(*ts.S) {
    env.LanguageTexts.SetText(u"CAPTION.COMMAND=Command\nCAPTION.COMMAND.INCOMPLETE=Command (incomplete: %s)");
  }
  // A collector whose runs are recorded before RunText runs them.
  CommandLine Collector(bool commandWindow = true) {
    return CommandLine(in, env, ui, commandWindow, [this](const std::u16string& text, int32_t start, int32_t line) {
      Runs.push_back(U8(text));
      Starts.push_back({start, line});
      return RunText(in, text, u"", start, line);
    });
  }
  TAtom* Global(const std::u16string& name) { return TAtom::FindChildByName(*ts.S, *ts.S->Root, name); }

  TestState ts;
  EnvState env;
  TInterpreter in;
  FakeCommandUi ui;
  std::vector<std::string> Runs;
  std::vector<std::pair<int32_t, int32_t>> Starts;
};

}  // namespace

TEST_F(CommandLineTest, ALineIsEchoedInBoldBlackThenRun) {
  CommandLine line = Collector();
  line.RunLine(u"print \"three", 11, 2);
  ASSERT_EQ(ts.Host.Lines.size(), 2u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "print \"three");
  EXPECT_TRUE(ts.Host.Lines[0].Bold);
  EXPECT_EQ(ts.Host.Lines[0].Colour, 0u);
  EXPECT_EQ(U8(ts.Host.Lines[1].Text), "three");
  EXPECT_FALSE(ts.Host.Lines[1].Bold);
  EXPECT_EQ(Starts, (std::vector<std::pair<int32_t, int32_t>>{{11, 2}}));
  EXPECT_EQ(ts.Host.Graphics.Calls.back(), "paintResume");
  EXPECT_EQ(ui.Titles, std::vector<std::string>{"Command"});
  EXPECT_TRUE(line.Complete());
  EXPECT_EQ(ui.StopShown, 1);
  EXPECT_EQ(ui.StopEnabled, 0);  // only an incomplete command enables Stop
}

TEST_F(CommandLineTest, AnOpenListWaitsForItsClosingLineThenRunsOnce) {
  CommandLine line = Collector();
  line.RunLine(u"make \"x [a b", 1, 1);
  EXPECT_FALSE(line.Complete());
  ASSERT_EQ(ui.Titles.size(), 2u);
  EXPECT_EQ(ui.Titles[1].rfind("Command (incomplete: ", 0), 0u) << ui.Titles[1];
  EXPECT_EQ(ui.StopEnabled, 1);
  EXPECT_EQ(ui.FontApplied, 1);
  EXPECT_EQ(Global(u"x"), nullptr);

  line.RunLine(u"c]", 15, 2);
  EXPECT_TRUE(line.Complete());
  EXPECT_EQ(Runs, (std::vector<std::string>{"make \"x [a b", "make \"x [a b \r\n c]"}));
  EXPECT_EQ(Starts.back(), (std::pair<int32_t, int32_t>{15, 2}));
  ASSERT_NE(Global(u"x"), nullptr);
  // The line break inside the list is a statement separator there.
  EXPECT_EQ(U8(TAtom::ToText(*ts.S, Global(u"x")->Left)), "[a b , c]");
  EXPECT_EQ(ui.Titles.back(), "Command");
}

TEST_F(CommandLineTest, StopAbandonsTheWaitingCommand) {
  CommandLine line = Collector();
  EXPECT_FALSE(line.Abandon());
  line.RunLine(u"make \"x [a", 1, 1);
  EXPECT_TRUE(line.Abandon());
  EXPECT_TRUE(line.Complete());
  EXPECT_TRUE(line.PendingText().empty());
  EXPECT_EQ(ui.Titles.back(), "Command");
  line.RunLine(u"make \"y 1", 1, 2);
  EXPECT_EQ(Runs.back(), "make \"y 1");
}

TEST_F(CommandLineTest, ARunErrorInACollectedCommandEmptiesTheCollector) {
  CommandLine line = Collector();
  line.RunLine(u"print [a", 1, 1);
  line.RunLine(u"] + :nosuch", 10, 2);
  EXPECT_TRUE(line.Complete());
  EXPECT_EQ(ts.Host.Dialogs.size(), 1u);
  line.RunLine(u"make \"z 1", 1, 3);
  EXPECT_EQ(Runs.back(), "make \"z 1");
}

TEST_F(CommandLineTest, APlainSourceWindowKeepsItsTitle) {
  CommandLine line = Collector(false);
  line.RunLine(u"make \"x [a", 1, 1);
  line.RunLine(u"]", 1, 2);
  EXPECT_TRUE(ui.Titles.empty());
  EXPECT_NE(Global(u"x"), nullptr);
}

TEST_F(CommandLineTest, WithNoRunOnTheStackACommandLeavesLeftoverFrames) {
  ts.S->EnterFrame(NewVariable(*ts.S, u"leftover", nullptr));
  CommandLine line = Collector();
  line.RunLine(u"make \"top 1", 1, 1);
  EXPECT_EQ(ts.S->Frame()->Owner, ts.S->Root);
  EXPECT_NE(Global(u"top"), nullptr);
}

TEST_F(CommandLineTest, InsideARunningProgramACommandRunsInItsCurrentFrame) {
  ASSERT_EQ(RunText(in, u"to work :n\r\n repeat 300 [make \"n :n]\r\n make \"after :n\r\nend", u""), rrOk);
  CommandLine line = Collector();
  TContext* frameInPump = nullptr;
  ts.Host.OnPump = [&] {
    if (frameInPump != nullptr) return;
    frameInPump = ts.S->Frame();
    line.RunLine(u"make \"seen :n", 1, 1);
    EXPECT_EQ(ts.S->Frame(), frameInPump);
  };
  ASSERT_EQ(RunText(in, u"work 42", u""), rrOk);
  ASSERT_NE(frameInPump, nullptr);
  ASSERT_NE(Global(u"seen"), nullptr);
  EXPECT_EQ(TAtom::ToText(*ts.S, Global(u"seen")->Left), u"42");
  EXPECT_NE(Global(u"after"), nullptr);
}
