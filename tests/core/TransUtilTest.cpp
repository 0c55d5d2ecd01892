// The program log, text-file reading, the file search, the keyboard buffer,
// OpenGL error lines, internal errors and the control-variable search.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

// Changes the current folder for a scope.
struct CurrentFolder {
  explicit CurrentFolder(const fs::path& path) : old(fs::current_path()) { fs::current_path(path); }
  ~CurrentFolder() { fs::current_path(old); }
  fs::path old;
};

std::u16string Full(const fs::path& path) { return Utf8ToUtf16(path.lexically_normal().string()); }

class Control : public WrappedObject {
public:
  std::u16string ClassName() const override { return u"TControl"; }
};

}  // namespace

// --- the program log -----------------------------------------------------------

TEST(WriteLog, WritesOnlyCategoriesInTheMask) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), lcProcedure | lcError));
  EXPECT_TRUE(s.Log.LogFileOpen);
  EXPECT_EQ(s.Log.LogMask, 0x60u);
  WriteLog(s, lcProcedure, u"enter p");
  WriteLog(s, lcOutput, u"printed");
  WriteLog(s, lcCommand, u"typed");
  WriteLog(s, lcError, u"error");
  WriteLog(s, 0x100, u"user category");
  // Lines are flushed as they are written.
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "enter p\nerror\n");
  s.Log.Close();
  EXPECT_FALSE(s.Log.LogFileOpen);
  WriteLog(s, lcProcedure, u"after close");
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "enter p\nerror\n");
}

TEST(WriteLog, PrefixesDateThenTime) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  s.Log.Clock = [] { return TLogTime{2024, 3, 7, 9, 5, 2}; };
  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), 1 | loDate | loTime));
  WriteLog(s, 1, u"both");
  s.Log.LogMask = 1 | loDate;
  WriteLog(s, 1, u"date");
  s.Log.LogMask = 1 | loTime;
  WriteLog(s, 1, u"time");
  s.Log.Close();
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "24.03.07 09:05:02 both\n24.03.07 date\n09:05:02 time\n");
}

TEST(WriteLog, FollowsTheDateAndTimePatterns) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  s.Log.Clock = [] { return TLogTime{2009, 11, 30, 23, 4, 59}; };
  s.Log.ShortDateFormat = u"dd/mm/yyyy ";
  s.Log.LongTimeFormat = u"h:nn:s|hh.mm ";
  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), 1 | loDate | loTime));
  WriteLog(s, 1, u"x");
  s.Log.Close();
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "30/11/2009 23:04:59|23.04 x\n");
}

TEST(WriteLog, WritesCodePageBytes) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), 1));
  WriteLog(s, 1, u"\u00E9\u2039\u0436");
  s.Log.Close();
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "\xE9\x8B?\n");
}

TEST(TProgramLog, AppendsOrTruncatesOnOpen) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  WriteBytes(tmp.Path / "log.txt", "old\n");
  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), 1 | loAppend));
  WriteLog(s, 1, u"new");
  s.Log.Close();
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "old\nnew\n");

  ASSERT_TRUE(s.Log.Open(tmp.Name("log.txt"), 1));
  WriteLog(s, 1, u"fresh");
  // Opening again closes the previous file first.
  ASSERT_TRUE(s.Log.Open(tmp.Name("other.txt"), 1));
  WriteLog(s, 1, u"other");
  s.Log.Close();
  EXPECT_EQ(ReadBytes(tmp.Path / "log.txt"), "fresh\n");
  EXPECT_EQ(ReadBytes(tmp.Path / "other.txt"), "other\n");
}

TEST(TProgramLog, OpenFailsInAMissingFolder) {
  TempFolder tmp;
  TProgramLog log;
  EXPECT_FALSE(log.Open(tmp.Name("missing/log.txt"), 0x61));
  EXPECT_FALSE(log.LogFileOpen);
  EXPECT_EQ(log.LogMask, 0x61u);
  log.Write("ignored");
}

// --- ReadTextFile --------------------------------------------------------------

TEST(ReadTextFile, LittleEndianMarkMeansUtf16) {
  TempFolder tmp;
  TestState ts;
  const TStructure& s = *ts.S;
  WriteBytes(tmp.Path / "a.txt", std::string("\xFF\xFE"
                                             "A\0\xE9\0\x34\xD8\x1E\xDD",
                                             10));
  EXPECT_EQ(ReadTextFile(s, tmp.Name("a.txt")), u"A\u00E9\U0001D11E");
  // Zero units are kept; an odd trailing byte is dropped.
  WriteBytes(tmp.Path / "b.txt", std::string("\xFF\xFE"
                                             "a\0\0\0b\0c",
                                             9));
  EXPECT_EQ(ReadTextFile(s, tmp.Name("b.txt")), std::u16string(u"a\0b", 3));
  WriteBytes(tmp.Path / "c.txt", "\xFF\xFE");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("c.txt")), u"");
}

TEST(ReadTextFile, OtherFilesAreEightBitTextUpToTheFirstZero) {
  TempFolder tmp;
  TestState ts;
  const TStructure& s = *ts.S;
  // A big-endian mark is no mark: the bytes are code-page text cut at the zero.
  WriteBytes(tmp.Path / "be.txt", std::string("\xFE\xFF\0A", 4));
  EXPECT_EQ(ReadTextFile(s, tmp.Name("be.txt")), u"\u00FE\u00FF");
  WriteBytes(tmp.Path / "nul.txt", std::string("ab\0cd", 5));
  EXPECT_EQ(ReadTextFile(s, tmp.Name("nul.txt")), u"ab");
  WriteBytes(tmp.Path / "one.txt", "\xFF");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("one.txt")), u"\u00FF");
  WriteBytes(tmp.Path / "empty.txt", "");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("empty.txt")), u"");
}

TEST(ReadTextFile, ValidUtf8DecodesElseCodePage) {
  TempFolder tmp;
  TestState ts;
  const TStructure& s = *ts.S;
  WriteBytes(tmp.Path / "utf8.txt", "caf\xC3\xA9 \xE2\x80\xB9x\xE2\x80\xBA\r\n");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("utf8.txt")), u"caf\u00E9 \u2039x\u203A\r\n");
  WriteBytes(tmp.Path / "1252.txt", "caf\xE9 \x8Bx\x9B");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("1252.txt")), u"caf\u00E9 \u2039x\u203A");
  WriteBytes(tmp.Path / "marked.txt", "\xEF\xBB\xBFto caf\xC3\xA9");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("marked.txt")), u"to caf\u00E9");  // the UTF-8 mark is dropped
  WriteBytes(tmp.Path / "ascii.txt", "to square :x\r\nend");
  EXPECT_EQ(ReadTextFile(s, tmp.Name("ascii.txt")), u"to square :x\r\nend");
}

TEST(ReadTextFile, MissingFilesAndFoldersReadAsEmpty) {
  TempFolder tmp;
  TestState ts;
  EXPECT_EQ(ReadTextFile(*ts.S, tmp.Name("missing.txt")), u"");
  fs::create_directories(tmp.Path / "folder.txt");
  EXPECT_EQ(ReadTextFile(*ts.S, tmp.Name("folder.txt")), u"");
}

// --- LocateFile ----------------------------------------------------------------

TEST(LocateFile, TriesTheCandidatesInOrder) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  const fs::path base = tmp.Path;
  fs::create_directories(base / "work" / "cur");
  const char* folders[] = {"settings", "user", "program", "root", "chars"};
  for (const char* folder : folders) fs::create_directories(base / folder);
  auto folderName = [&](const char* folder) { return Utf8ToUtf16((base / folder).string()) + u"/"; };
  s.SettingsFolder = folderName("settings");
  s.UserFolder = folderName("user");
  s.ProgramFolder = folderName("program");
  s.RootFolder = folderName("root");
  s.CharactersFolder = folderName("chars");

  CurrentFolder cwd(base / "work" / "cur");
  const fs::path here = fs::current_path();
  std::vector<fs::path> expected = {here / "d/f.txt", here / "f.txt", here / "../d/f.txt", here / "../f.txt"};
  for (const char* folder : folders) {
    expected.push_back(base / folder / "d/f.txt");
    expected.push_back(base / folder / "f.txt");
  }
  ASSERT_EQ(expected.size(), 14u);
  for (const fs::path& path : expected) WriteBytes(path, "x");

  for (const fs::path& path : expected) {
    EXPECT_EQ(U8(LocateFile(s, u"d/f.txt")), U8(Full(path)));
    fs::remove(path);
  }
  EXPECT_EQ(LocateFile(s, u"d/f.txt"), u"d/f.txt");
}

TEST(LocateFile, CleansSeparatorsAndSkipsFolders) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  fs::create_directories(tmp.Path / "cur");
  CurrentFolder cwd(tmp.Path / "cur");
  const fs::path here = fs::current_path();
  WriteBytes(here / "a" / "b", "x");
  EXPECT_EQ(LocateFile(s, u"a\\\\b"), Full(here / "a/b"));
  EXPECT_EQ(LocateFile(s, u"a//b"), Full(here / "a/b"));
  EXPECT_EQ(LocateFile(s, u"a\\/b"), Full(here / "a/b"));
  EXPECT_EQ(LocateFile(s, u"..\\cur\\a\\b"), Full(here / "a/b"));
  // Nothing found: the cleaned name itself.
  EXPECT_EQ(LocateFile(s, u"no\\\\such//file.txt"), u"no/such/file.txt");
  // No case folding.
  EXPECT_EQ(LocateFile(s, u"A/B"), u"A/B");

  // A folder with the name does not count; the file further down the list does.
  fs::create_directories(here / "thing");
  fs::create_directories(tmp.Path / "chars");
  WriteBytes(tmp.Path / "chars" / "thing", "x");
  s.CharactersFolder = Utf8ToUtf16((tmp.Path / "chars").string()) + u"/";
  EXPECT_EQ(LocateFile(s, u"thing"), Full(tmp.Path / "chars" / "thing"));
}

// --- small services ------------------------------------------------------------

TEST(PrintGLError, PrintsTheMessageAndTheBeginEndCount) {
  TestState ts;
  PrintGLError(*ts.S, u"OpenGL Error 1282/7");
  ASSERT_EQ(ts.Host.Lines.size(), 2u);
  EXPECT_EQ(ts.Host.Lines[0].Text, u"OpenGL Error 1282/7");
  EXPECT_EQ(ts.Host.Lines[1].Text, u"begin-end=0");
  EXPECT_EQ(ts.Host.Lines[1].Colour, 0u);
  EXPECT_FALSE(ts.Host.Lines[1].Bold);
}

TEST(RaiseInternalError, WritesTheTagAndRaisesTheSystemError) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  s.HelpFolder = Utf8ToUtf16(tmp.Path.string()) + u"/";
  s.Language.Texts[u"SYSTEMERROR"] = u"System error";
  try {
    RaiseInternalError(s, u"TRANS:EXTR:2963");
    ADD_FAILURE() << "no error raised";
  } catch (const LanguageError& e) {
    EXPECT_EQ(U8(e.Message()), "System error TRANS:EXTR:2963");
  }
  EXPECT_EQ(s.CurrentPosition.Topic, u"internal-error");
  ASSERT_FALSE(s.ErrorTrace.empty());
  EXPECT_EQ(s.ErrorTrace.back().Topic, u"internal-error");
  EXPECT_EQ(ReadBytes(tmp.Path / "$$$error-04$$$.txt"),
            std::string("\xFF\xFE", 2) + std::string("T\0R\0A\0N\0S\0:\0E\0X\0T\0R\0:\0"
                                                     "2\0"
                                                     "9\0"
                                                     "6\0"
                                                     "3\0",
                                                     30));
}

TEST(RaiseInternalError, RaisesEvenWhenTheSnippetCannotBeWritten) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  s.HelpFolder = Utf8ToUtf16((tmp.Path / "missing").string()) + u"/";
  EXPECT_THROW(RaiseInternalError(s, u"EXPR:DUMP:525"), LanguageError);
  EXPECT_EQ(s.CurrentPosition.Topic, u"internal-error");
}

TEST(RaiseInternalError, SuppressedErrorsReturn) {
  TempFolder tmp;
  TestState ts;
  TStructure& s = *ts.S;
  s.HelpFolder = Utf8ToUtf16(tmp.Path.string()) + u"/";
  ts.ArmErrors(false);
  EXPECT_NO_THROW(RaiseInternalError(s, u"EXPR:DUMP:525"));
  EXPECT_EQ(s.CurrentPosition.Topic, u"internal-error");
  EXPECT_TRUE(fs::is_regular_file(tmp.Path / "$$$error-04$$$.txt"));
}

// --- FindVariableByControl -----------------------------------------------------

TEST(FindVariableByControl, VariableBeforeChildrenNewestChildFirst) {
  TestState ts;
  TStructure& s = *ts.S;
  Control one, two, three, absent;
  auto child = [&](TAtom* parent, const char16_t* name, Control* control) {
    TAtom* v = NewVariable(s, name, NewWinObject(s, control, nullptr));
    TAtom::SetParent(s, *v, parent);
    return v;
  };
  // root: a (older) { a1 }, b (newer) { b1, b2 (newer) { b2x } }
  TAtom* a = child(s.Root, u"a", &one);
  child(a, u"a1", &two);
  TAtom* b = child(s.Root, u"b", &two);
  TAtom* b1 = child(b, u"b1", &one);
  TAtom* b2 = child(b, u"b2", &three);
  child(b2, u"b2x", &three);

  EXPECT_EQ(FindVariableByControl(s, &one), b1);    // b's subtree before a
  EXPECT_EQ(FindVariableByControl(s, &two), b);     // newest child first
  EXPECT_EQ(FindVariableByControl(s, &three), b2);  // a variable before its child
  EXPECT_EQ(FindVariableByControl(s, &absent), nullptr);
  EXPECT_EQ(FindVariableByControl(s, nullptr), nullptr);
}

TEST(FindVariableByControl, DeepTreesDoNotOverflow) {
  TestState ts;
  TStructure& s = *ts.S;
  Control control;
  // Built from the leaf upwards so that each link is made to a parentless
  // variable.
  TAtom* leaf = NewVariable(s, u"v", NewWinObject(s, &control, nullptr));
  TAtom* top = leaf;
  for (int i = 0; i < 200000; ++i) {
    TAtom* v = NewVariable(s, u"v", nullptr);
    TAtom::SetParent(s, *top, v);
    top = v;
  }
  TAtom::SetParent(s, *top, s.Root);
  EXPECT_EQ(FindVariableByControl(s, &control), leaf);
}
