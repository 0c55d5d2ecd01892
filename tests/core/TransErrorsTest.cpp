// The error report at the edge of a run, the error history, the source
// excerpt around an error and the error trace's pins.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Host.h"
#include "core/Trans.h"
#include "tests/support/Files.h"
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

TEST_F(ShowRunErrorTest, AnEmptyTraceWithoutSourceOrLineShowsTheMessageAlone) {
  ts.S->CurrentPosition = Entry(u"", 4, 7, 8, u"stale-topic");
  ShowRunError(in, u"lost");
  ts.S->CurrentPosition = Entry(u"cur.zav", -1, -1, -1, u"");
  ShowRunError(in, u"also lost");
  EXPECT_EQ(ts.Host.Output(), "lost\nalso lost");
  ASSERT_EQ(ts.Host.Dialogs.size(), 2u);
  EXPECT_EQ(U8(ts.Host.Dialogs[0].Topic), "error-history");
  EXPECT_EQ(U8(ts.Host.Dialogs[1].Extra), "cur.zav");
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
  // The writer drops what the failing run left.
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

// --- the source excerpt around an error ------------------------------------------------

namespace {

TPosition InSource(const std::u16string& source, const std::u16string& text, int32_t start, int32_t end,
                   int32_t line = 1, const std::u16string& topic = u"") {
  TPosition p = Entry(source, line, start, end, topic);
  p.SourceText = SharedText(text);
  return p;
}

// "l0" to "l<n-1>", CR LF between them.
std::u16string NumberedLines(int n) {
  std::u16string text;
  for (int i = 0; i < n; ++i) {
    if (i > 0) text += u"\r\n";
    text += u'l';
    text += Utf8ToUtf16(std::to_string(i));
  }
  return text;
}

}  // namespace

TEST(ErrorExcerpt, ARangeOnOneLineSplitsItsLineAndFullKeepsTheWholeText) {
  const TPosition p = InSource(u"a", u"first\r\n\tprint :x + 1\r\nlast", 15, 17);
  const TErrorContext line = ExtractErrorContext(p, false);
  EXPECT_EQ(U8(line.Before), "   print ");  // a tab is three blanks
  EXPECT_EQ(U8(line.Error), ":x");
  EXPECT_EQ(U8(line.After), " + 1");  // without the line end
  EXPECT_EQ(std::make_pair(line.FirstLine, line.LastLine), std::make_pair(1, 1));

  const TErrorContext whole = ExtractErrorContext(p, true);
  EXPECT_EQ(U8(whole.Before), "first\r\n   print ");
  EXPECT_EQ(U8(whole.After), " + 1\r\nlast");
  EXPECT_EQ(std::make_pair(whole.FirstLine, whole.LastLine), std::make_pair(0, 2));
}

TEST(ErrorExcerpt, ARangeOverMoreThanSevenLinesKeepsThreeLinesAtEachEndUnlessFull) {
  const std::u16string ten = NumberedLines(10);
  const TPosition tenLines = InSource(u"a", ten, 2, static_cast<int32_t>(ten.size()));
  const TErrorContext cut = ExtractErrorContext(tenLines, false);
  EXPECT_EQ(U8(cut.Error), "0\r\nl1\r\nl2\r\n:\r\nl7\r\nl8\r\nl");
  EXPECT_EQ(std::make_pair(cut.FirstLine, cut.LastLine), std::make_pair(0, 9));
  EXPECT_EQ(U8(ExtractErrorContext(tenLines, true).Error), U8(ten.substr(1, ten.size() - 2)));

  const std::u16string seven = NumberedLines(7);
  EXPECT_EQ(ExtractErrorContext(InSource(u"a", seven, 1, static_cast<int32_t>(seven.size()) + 1), false).Error, seven);
}

TEST(ErrorExcerpt, NoRangeGivesNothingAndAMissingEndStandsAtTheStart) {
  for (const int32_t absent : {-1, kGeneratedPos}) {
    const TErrorContext none = ExtractErrorContext(InSource(u"a", u"abc", absent, absent), false);
    EXPECT_TRUE(none.Before.empty() && none.Error.empty() && none.After.empty());
    EXPECT_EQ(std::make_pair(none.FirstLine, none.LastLine), std::make_pair(-1, -1));
  }
  const TErrorContext startOnly = ExtractErrorContext(InSource(u"a", u"abc def", 5, -1), false);
  EXPECT_EQ(U8(startOnly.Before + u"|" + startOnly.Error + u"|" + startOnly.After), "abc ||def");
}

// --- the error history -----------------------------------------------------------------

namespace {

// A UTF-16LE file with its byte-order mark, as UTF-8.
std::string ReadUnicodeFile(const std::filesystem::path& path) {
  const std::string bytes = ReadBytes(path);
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return "<not a UTF-16 file>";
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  return U8(text);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ErrorHistoryTest : public ShowRunErrorTest {
protected:
  ErrorHistoryTest() { ts.S->HelpFolder = help.Folder(); }

  std::string History() const { return ReadUnicodeFile(help.Path / "the-inspector" / "error-history-records.xml"); }
  std::vector<std::string> Records() const {
    const std::string history = History();
    std::vector<std::string> records;
    for (size_t at = history.find("<inerror-history "); at != std::string::npos;
         at = history.find("<inerror-history ", at + 1))
      records.push_back(history.substr(at, history.find("</inerror-history>", at) - at));
    return records;
  }
  // Attribute values are escaped, so the first ">" closes the start tag.
  static std::string StartTag(const std::string& record) { return record.substr(0, record.find('>') + 1); }
  std::string ParameterFile(const std::string& name) const {
    return ReadUnicodeFile(help.Path / ("$$$error-" + name + "$$$.txt"));
  }
  // The program's inspector: explain runs the body with the list in :x.
  void DefineInspector(const std::u16string& body) {
    std::u16string program = u"make \"oninspector 1\nto oninspector.explain :x\n";
    program += body;
    program += u"\nend";
    ASSERT_EQ(RunText(in, program, u"inspector.zav"), rrOk);
  }

  TempFolder help;
};

}  // namespace

TEST_F(ErrorHistoryTest, AttributesComeInTheirOrderAndOnlyWhereTheyApply) {
  TStructure& s = *ts.S;
  s.ProgramFolder = u"/opt/zavta/System/";
  s.RootFolder = u"/opt/zavta/";
  // obj.f: a procedure whose first statement, after its input list, starts
  // at offset 31 of def.zav; obj itself has no definition.
  TAtom* obj = s.CreateVariable(s.Root, u"obj", true, nullptr);
  TAtom* body = NewListCell(s, NewWord(s, u"print"), nullptr);
  TAtom::SetPosition(*body, InSource(u"def.zav", u"", 31, 36));
  TAtom* f = s.CreateVariable(obj, u"f", true, NewListCell(s, nullptr, body));

  s.AddTrace(InSource(u"/OPT/zavta/System/lib/a.zav", u"x\r\nab cd", 7, 9, 2));
  SetTraceFrameOwner(s.ErrorTrace.back(), f);
  s.AddTrace(InSource(u"/opt/zavta/Libs/b.zav", u"go", 1, 3));
  SetTraceFrameOwner(s.ErrorTrace.back(), obj);
  s.AddTrace(InSource(u"", u"print 1", 1, 6, 1, u"bad-thing"));
  WriteErrorHistory(in, false);

  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(StartTag(records[0]),
            "<inerror-history filename=\"lib/a.zav\" fullfilename=\"/OPT/zavta/System/lib/a.zav\" line=\"2\" "
            "varfullname=\"obj.f\" varname=\"f\" deffilename=\"def.zav\" defpos=\"30\" pos=\"6\" subitem=\"1\">");
  EXPECT_EQ(StartTag(records[1]),
            "<inerror-history filename=\"Libs/b.zav\" fullfilename=\"/opt/zavta/Libs/b.zav\" line=\"1\" "
            "varfullname=\"obj\" varname=\"obj\" nodeffilename=\"\" pos=\"0\" subitem=\"2\">");
  EXPECT_EQ(StartTag(records[2]),
            "<inerror-history nofilename=\"\" line=\"1\" pos=\"0\" subitem=\"3\" showhistory=\"1\" lastitem=\"1\">");
  EXPECT_TRUE(Has(records[0], ">  <original>ab <error>cd</error></original>"));
  EXPECT_TRUE(History().starts_with("<errorrecords><inerror-history "));
  EXPECT_TRUE(History().ends_with("</inerror-history></errorrecords>"));
  EXPECT_TRUE(s.ErrorTrace.empty());
}

TEST_F(ErrorHistoryTest, TheShownRecordIsTheLastChosenEntryOrALoneOne) {
  const std::string shown = " showhistory=\"1\" lastitem=\"1\">";
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"first-topic"));
  ts.S->AddTrace(Entry(u"b.zav", 2, 1, 2, u" marked"));
  ts.S->AddTrace(Entry(u"c.zav", 3, 1, 2, u""));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "marked");
  std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_FALSE(Has(records[0], "showhistory") || Has(records[2], "showhistory"));
  EXPECT_TRUE(StartTag(records[1]).ends_with(shown));
  EXPECT_EQ(ParameterFile("name"), "b.zav");

  // An open source window chooses its entry, and an earlier topic stays.
  ts.S->CurrentPosition.Topic.clear();  // as every run starts
  ts.S->AddTrace(Entry(u"x.zav", 1, 1, 2, u"t0"));
  ts.S->AddTrace(Entry(u"open.zav", 2, 3, 4, u""));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "t0");
  records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(StartTag(records[1]).ends_with(shown));
  EXPECT_EQ(ParameterFile("name"), "open.zav");

  ts.S->CurrentPosition.Topic.clear();
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u""));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "");
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(StartTag(Records()[0]).ends_with(shown));
}

TEST_F(ErrorHistoryTest, TheParameterFilesDescribeTheContextRecord) {
  const std::u16string text = u"a\r\nb <c\r\nd\r\ne";
  ts.S->AddTrace(InSource(u"n&.zav", text, 6, 11, 2, u" key"));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "key");
  EXPECT_EQ(U8(ts.S->CurrentPosition.Topic), "key");
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(Has(Records()[0], " line=\"2~3\" "));
  EXPECT_EQ(ParameterFile("01"), "b ");
  EXPECT_EQ(ParameterFile("02"), "&#60;c\r\nd");
  EXPECT_EQ(ParameterFile("03"), "&#32;&#32;");  // empty, padded
  EXPECT_EQ(ParameterFile("pos"), "5 ");         // one character, padded
  EXPECT_EQ(ParameterFile("name"), "n&#38;.zav");
  EXPECT_EQ(ParameterFile("line"), "2~3");

  // Full: the parameter files hold the whole source around the range.
  ts.S->AddTrace(InSource(u"n.zav", text, 6, 11, 2));
  WriteErrorHistory(in, true);
  EXPECT_EQ(ParameterFile("01"), "a\r\nb ");
  EXPECT_EQ(ParameterFile("03"), "\r\ne");
  EXPECT_EQ(ParameterFile("line"), "1~4");
}

TEST_F(ErrorHistoryTest, NamesAndTextsAreEscapedSoTheRecordParsesBack) {
  ts.S->AddTrace(InSource(u"q\"a&b<c>.zav", u"x < \"y\" & z", 5, 8));
  WriteErrorHistory(in, false);
  ASSERT_EQ(Records().size(), 1u);
  const std::string record = Records()[0];
  EXPECT_TRUE(record.starts_with(
      "<inerror-history filename=\"q&#34;a&#38;b&#60;c&#62;.zav\" fullfilename=\"q&#34;a&#38;b&#60;c&#62;.zav\" "));
  EXPECT_EQ(StartTag(record).find('<', 1), std::string::npos);
  EXPECT_TRUE(Has(record, "<original>x &#60; <error>&#34;y&#34;</error> &#38; z</original>"));
}

TEST_F(ErrorHistoryTest, GeneratedCodeIsNamedByItsOwnerAndBareStatementsArePrinted) {
  TStructure& s = *ts.S;
  TAtom* gen = s.CreateVariable(s.CreateVariable(s.Root, u"obj", true, nullptr), u"gen", true, nullptr);
  s.AddTrace(InSource(u"g.zav", u"", kGeneratedPos, kGeneratedPos, 4));
  SetTraceFrameOwner(s.ErrorTrace.back(), gen);
  s.AddTrace(InSource(u"g.zav", u"", kGeneratedPos, kGeneratedPos, 5, u"t"));
  s.AddTrace(InSource(u"g.zav", u"", -1, -1, -1, u"u"));  // no position: no record
  TPosition bare = InSource(u"g.zav", u"", -1, -1, 6, u"v");
  bare.Statement = NewListCell(s, NewWord(s, u"go"), nullptr);
  s.AddTrace(bare);
  WriteErrorHistory(in, false);

  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(Has(records[0], "<original> <error>obj.gen</error></original>"));
  EXPECT_TRUE(Has(records[1], "<original> <error>boza</error></original>"));
  EXPECT_TRUE(Has(records[2], "<original> <error>[go]</error> </original>"));
  EXPECT_TRUE(Has(records[2], " line=\"6\" pos=\"-1\" subitem=\"3\""));
}

TEST_F(ErrorHistoryTest, FilesGoOnlyIntoTheHelpFolderAndAFailedWriteIsPrinted) {
  ts.S->HelpFolder.clear();
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "t");
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
  EXPECT_TRUE(std::filesystem::is_empty(help.Path));
  EXPECT_TRUE(ts.Host.Lines.empty());

  WriteBytes(help.Path / "plain-file", "x");
  ts.S->HelpFolder = help.Name("plain-file") + u"/";
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  WriteErrorHistory(in, false);
  ASSERT_FALSE(ts.Host.Lines.empty());
  for (const PrintedLine& line : ts.Host.Lines) EXPECT_TRUE(U8(line.Text).starts_with(">>>")) << U8(line.Text);
}

TEST_F(ErrorHistoryTest, EventsAndReportsAreHeldOffWhileTheHistoryIsWritten) {
  bool heldOff = false;
  ts.Host.OnFindSource = [&](const std::u16string&) -> SourceView* {
    heldOff = ts.S->EventsSuspended && in.ErrorHistoryWriting;
    return nullptr;
  };
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  WriteErrorHistory(in, false);
  EXPECT_TRUE(heldOff);
  EXPECT_FALSE(ts.S->EventsSuspended || in.ErrorHistoryWriting);
  EXPECT_EQ(ts.Host.MemoryRefreshes, 1);
}

TEST_F(ErrorHistoryTest, TheInspectorsNotesCloseEachRecordAfterTheStructureViews) {
  DefineInspector(u"make \"oninspector.1 \"full\nmake \"oninspector.2 \"short");
  ASSERT_EQ(RunText(in, u"to p\nprint :nosuch\nend", u"b.zav"), rrOk);
  ts.Host.DialogAnswers = {drHelp};
  ASSERT_EQ(RunText(in, u"p", u"c.zav"), rrRunError);

  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& record : records) {
    EXPECT_TRUE(record.ends_with("<natlang-full>full</natlang-full> <natlang>short</natlang> "));
    // Outline, parenthesised line, listing, braces, boxes.
    const std::vector<size_t> views = {record.find("<unfolded>"), record.find("<parened>"), record.find("<asmcode>"),
                                       record.find("<braced>"), record.find("<boxed>")};
    EXPECT_TRUE(views[0] != std::string::npos && std::is_sorted(views.begin(), views.end())) << record;
  }
}

TEST_F(ErrorHistoryTest, AFailingInspectorOnlyPrintsAndAddsNoRecords) {
  DefineInspector(u"print :alsomissing");
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u"t"));
  EXPECT_EQ(U8(WriteErrorHistory(in, false)), "t");
  EXPECT_EQ(Records().size(), 1u);
  EXPECT_FALSE(Has(History(), "natlang"));
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_TRUE(U8(ts.Host.Lines[0].Text).starts_with("suspended:"));
  EXPECT_TRUE(ts.Host.Dialogs.empty());
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

// --- Help in the report's dialog ------------------------------------------------------

TEST_F(ErrorHistoryTest, HelpWritesTheReportsOwnTraceAndShowsTheWritersTopic) {
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u" chosen"));
  ts.Host.DialogAnswers = {drHelp};
  ShowRunError(in, u"m");
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(Has(Records()[0], "fullfilename=\"a.zav\""));

  // Nothing chose a topic: the help window shows the history page.
  ts.S->AddTrace(Entry(u"a.zav", 1, 1, 2, u""));
  ts.Host.DialogAnswers = {drHelp};
  ShowRunError(in, u"m");
  ASSERT_EQ(ts.Host.HelpTopics.size(), 2u);
  EXPECT_EQ(U8(ts.Host.HelpTopics[0]), "chosen");
  EXPECT_EQ(U8(ts.Host.HelpTopics[1]), "error-history");
}

TEST_F(ErrorHistoryTest, RunsNestedInTheDialogNeitherAddToNorClearTheReportsTrace) {
  bool nestedRan = false;
  ts.Host.OnDialog = [&](const ShownDialog&) {
    if (nestedRan) return;
    nestedRan = true;
    EXPECT_EQ(RunText(in, u"print :nosuch", u"nested.zav"), rrRunError);
  };
  ts.Host.DialogAnswers = {drOk, drHelp};  // the nested report answers first
  ts.S->AddTrace(Entry(u"outer.zav", 3, 1, 2, u"t"));
  ShowRunError(in, u"outer failed");

  ASSERT_EQ(ts.Host.Lines.size(), 2u);
  EXPECT_EQ(U8(ts.Host.Lines[0].Text), "outer failed (outer.zav:3)");
  EXPECT_TRUE(U8(ts.Host.Lines[1].Text).ends_with(" (nested.zav:1)"));
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(Has(Records()[0], "fullfilename=\"outer.zav\""));
  EXPECT_TRUE(ts.S->ErrorTrace.empty());
}

TEST_F(ErrorHistoryTest, AnErrorTwoCallsDeepGivesOneLineAndARecordPerCallingStatement) {
  ts.Host.DialogAnswers = {drHelp};
  EXPECT_EQ(RunText(in, u"to g\nprint :nosuch\nend\nto f\ng\nend\nf", u"deep.zav"), rrRunError);
  ASSERT_EQ(ts.Host.Lines.size(), 1u);
  EXPECT_TRUE(U8(ts.Host.Lines[0].Text).ends_with(" (deep.zav:2)"));
  std::vector<std::string> lines;
  for (const std::string& record : Records()) {
    const std::string tag = StartTag(record);
    const size_t at = tag.find(" line=\"") + 7;
    lines.push_back(tag.substr(at, tag.find('"', at) - at));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"2", "5", "7"}));
  EXPECT_TRUE(Has(Records().at(0), "<original>print :<error>nosuch</error></original>"));
}
