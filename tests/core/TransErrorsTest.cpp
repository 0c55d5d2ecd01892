// The error report at the edge of a run and the error trace's pins.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Host.h"
#include "core/Trans.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

// A source window that records the error-range calls; it can be told to
// fail while marking, as a broken window would.
class MarkingView : public SourceView {
public:
  void bringToFront() override {}
  void showDebugLine(int32_t, const std::u16string&) override {}
  void hideDebugLine() override {}
  void showErrorRange(int32_t startPos, int32_t endPos, const std::u16string&) override {
    if (FailToMark) throw std::runtime_error("window gone");
    Marked.emplace_back(startPos, endPos);
  }
  void clearErrorRange() override { ++Cleared; }
  void showPausedStatement(int32_t, int32_t, const std::u16string&) override {}
  void endPausedStatement() override {}
  int32_t firstVisibleLine() override { return 0; }
  void setStateIcon(int) override {}
  std::u16string title() override { return u"open.zav"; }
  std::u16string text() override { return {}; }
  std::u16string fileFolder() override { return {}; }

  bool FailToMark = false;
  std::vector<std::pair<int32_t, int32_t>> Marked;
  int Cleared = 0;
};

TPosition Entry(const std::u16string& source, int32_t line, int32_t start, int32_t end, const std::u16string& topic) {
  TPosition p;
  p.SourceName = SharedText(source);
  p.Line = line;
  p.StartPos = start;
  p.EndPos = end;
  p.Topic = topic;
  return p;
}

class ShowRunErrorTest : public ::testing::Test {
protected:
  ShowRunErrorTest() : in(*ts.S) {
    ts.Host.OnFindSource = [this](const std::u16string& name) -> SourceView* {
      return name == u"open.zav" ? &view : nullptr;
    };
  }

  TestState ts;
  TInterpreter in;
  MarkingView view;
};

}  // namespace

// --- which entry the report shows ----------------------------------------------

TEST_F(ShowRunErrorTest, PrintsTheMessageWithTheFileAndLineOfTheMostInformativeEntry) {
  ts.S->AddTrace(Entry(u"a.zav", 3, -1, -1, u""));
  ts.S->AddTrace(Entry(u"b.zav", 7, 5, 9, u"unknown-var"));
  ts.S->AddTrace(Entry(u"c.zav", 9, 1, 4, u""));
  ShowRunError(in, u"I don't know x");

  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "I don't know x (b.zav:7)");
  EXPECT_EQ(ts.Host.Lines[0].Colour, 0u);
  EXPECT_FALSE(ts.Host.Lines[0].Bold);
  ASSERT_EQ(ts.Host.Dialogs.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Message), "I don't know x");
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Extra), "b.zav");
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Topic), "unknown-var");
  EXPECT_EQ(ts.Host.Dialogs[0].Flags, dfOk | dfHelp);
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

TEST_F(ShowRunErrorTest, OnATieTheFirstEntryWins) {
  ts.S->AddTrace(Entry(u"first.zav", 1, 2, 3, u""));
  ts.S->AddTrace(Entry(u"second.zav", 2, 2, 4, u""));
  ShowRunError(in, u"m");
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "m (first.zav:1)");
}

TEST_F(ShowRunErrorTest, AnOpenSourceWindowCountsAndGetsTheRangeMarkedUntilTheDialogCloses) {
  ts.S->AddTrace(Entry(u"closed.zav", 4, 2, 3, u""));
  ts.S->AddTrace(Entry(u"open.zav", 6, 10, 15, u""));
  ShowRunError(in, u"m");
  EXPECT_EQ(U8(ts.Host.Lines.at(0).Text), "m (open.zav:6)");
  ASSERT_EQ(view.Marked.size(), 1u);
  EXPECT_EQ(view.Marked[0], std::make_pair(10, 15));
  EXPECT_EQ(view.Cleared, 1);
}

TEST_F(ShowRunErrorTest, AnEmptyTraceIsReportedAtTheCurrentPosition) {
  ts.S->CurrentPosition = Entry(u"cur.zav", 4, 7, 8, u"");
  ShowRunError(in, u"lost");
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "lost (cur.zav:4)");
  ASSERT_EQ(ts.Host.Dialogs.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Extra), "cur.zav");
  // Without a topic the dialog offers the error history.
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Topic), "error-history");
}

TEST_F(ShowRunErrorTest, AnEmptyMessageShowsNothingButDropsTheTrace) {
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  ShowRunError(in, u"");
  EXPECT_TRUE(ts.Host.Lines.empty());
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  EXPECT_TRUE(ts.Host.RunStates.empty());
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

// --- reports during reports and nested runs -------------------------------------

TEST_F(ShowRunErrorTest, AReportWhileTheHistoryIsWrittenOnlyPrintsSuspended) {
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  in.ErrorHistoryWriting = true;
  ShowRunError(in, u"inner");
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "suspended:inner");
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  EXPECT_TRUE(ts.Host.RunStates.empty());
  // The report being written still owns the trace.
  EXPECT_EQ(ts.S->ErrorTrace.size(), 1u);
}

TEST_F(ShowRunErrorTest, TheOutermostRunEndsInStateFive) {
  in.RunNesting = 1;
  in.RunState = rsRunning;
  ShowRunError(in, u"m");
  EXPECT_EQ(in.RunState, rsEnded);
  EXPECT_EQ(ts.Host.RunStates, std::vector<uint8_t>{rsEnded});
}

TEST_F(ShowRunErrorTest, AReportFromANestedRunLeavesTheInterruptedProgramRunning) {
  in.RunNesting = 2;
  in.RunState = rsRunning;
  ShowRunError(in, u"m");
  EXPECT_EQ(in.RunState, rsRunning);
  EXPECT_TRUE(ts.Host.RunStates.empty());
  EXPECT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_EQ(ts.Host.Dialogs.size(), 1u);
}

// --- the dialog's answers, the log, failures --------------------------------------

TEST_F(ShowRunErrorTest, HelpBringsTheHelpWindowWithTheTopicLessItsMarkerBlank) {
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u" bad-arg"));
  ts.Host.DialogAnswers = {drHelp};
  ShowRunError(in, u"m");
  EXPECT_EQ(U8(ts.Host.Dialogs.at(0).Topic), " bad-arg");
  ASSERT_EQ(ts.Host.HelpTopics.size(), 1u);
  EXPECT_EQ(U8(ts.Host.HelpTopics[0]), "bad-arg");

  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  ShowRunError(in, u"m");  // answered OK
  EXPECT_EQ(ts.Host.HelpTopics.size(), 1u);
}

TEST_F(ShowRunErrorTest, AnOpenLogTakesTheErrorUnderCategory64) {
  TempFolder tmp;
  ASSERT_TRUE(ts.S->Log.Open(tmp.Name("log.txt"), lcError));
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  ShowRunError(in, u"bad thing");
  ts.S->Log.Close();
  std::ifstream file(tmp.Path / "log.txt", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "Error: bad thing\n");
}

TEST_F(ShowRunErrorTest, AFailingWindowEndsTheReportQuietlyAndStillClearsTheTrace) {
  view.FailToMark = true;
  ts.S->AddTrace(Entry(u"open.zav", 2, 3, 4, u"t"));
  EXPECT_NO_THROW(ShowRunError(in, u"m"));
  EXPECT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

// --- the trace's pins ----------------------------------------------------------------

TEST(ErrorTracePins, ClearingAndTruncatingUnpinStatementsAndFrameOwners) {
  TestState ts;
  TInterpreter in(*ts.S);
  TStructure& s = *ts.S;
  TAtom* firstStatement = NewWord(s, u"a");
  TAtom* secondStatement = NewWord(s, u"b");
  TAtom* owner = NewVariable(s, u"f", nullptr);

  TPosition first = Entry(u"x", 1, 1, 2, u"");
  first.Statement = firstStatement;
  s.AddTrace(first);
  TPosition second = Entry(u"x", 2, 3, 4, u"");
  second.Statement = secondStatement;
  s.AddTrace(second);
  SetTraceFrameOwner(s.ErrorTrace.back(), owner);
  SetTraceFrameOwner(s.ErrorTrace.back(), owner);  // no second pin
  EXPECT_EQ(firstStatement->RefCount, 1);
  EXPECT_EQ(secondStatement->RefCount, 1);
  EXPECT_EQ(owner->RefCount, 1);

  TruncateErrorTrace(in, 1);
  ASSERT_EQ(s.ErrorTrace.size(), 1u);
  EXPECT_EQ(s.ErrorTrace[0].Statement, firstStatement);
  EXPECT_EQ(secondStatement->RefCount, 0);
  EXPECT_EQ(owner->RefCount, 0);

  TAtom* other = NewVariable(s, u"g", nullptr);
  SetTraceFrameOwner(s.ErrorTrace[0], other);
  SetTraceFrameOwner(s.ErrorTrace[0], owner);  // the pin moves
  EXPECT_EQ(other->RefCount, 0);
  ClearErrorHistory(in);
  EXPECT_TRUE(s.ErrorTrace.empty());
  EXPECT_EQ(firstStatement->RefCount, 0);
  EXPECT_EQ(owner->RefCount, 0);
}
