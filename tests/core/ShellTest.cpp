// Opening documents and starting programs: the argument splitter, the
// program-or-document decision, the shell primitive through the library's
// wrapper with a recording host, and one real start of a helper program.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/Shell.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

using Words = std::vector<std::u16string>;

std::vector<std::string> Utf8(const Words& words) {
  std::vector<std::string> result;
  for (const std::u16string& word : words) result.push_back(U8(word));
  return result;
}

std::vector<std::string> Split(std::u16string_view text) { return Utf8(SplitArguments(text)); }

TEST(SplitArguments, BlanksSeparateQuotesGroupAndTripledQuotesAreLiteral) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split(u""), V{});
  EXPECT_EQ(Split(u"  a\tb \n c  "), (V{"a", "b", "c"}));
  EXPECT_EQ(Split(u"\"two words\" x"), (V{"two words", "x"}));
  EXPECT_EQ(Split(u"pre\"fix  ed\"post"), V{"prefix  edpost"});
  EXPECT_EQ(Split(u"\"\"\"quoted\"\"\""), V{"\"quoted\""});
  EXPECT_EQ(Split(u"a \"\" b"), (V{"a", "b"}));  // an empty group is no argument
  EXPECT_EQ(Split(u"\"open to the end"), V{"open to the end"});
  // Nothing a command shell would act on means anything here.
  EXPECT_EQ(Split(u"; $(rm x) `y` | > * ~"), (V{";", "$(rm", "x)", "`y`", "|", ">", "*", "~"}));
}

TEST(ShellCommandFor, ProgramsGetTheSplitParametersEverythingElseTheOpener) {
  const TempFolder folder;
  const std::string document = (folder.Path / "notes.txt").string();
  WriteBytes(folder.Path / "notes.txt", "text");

  const TShellCommand program = ShellCommandFor(U16(ZAVTA_SHELL_HELPER), u"a \"b c\"", u"");
  EXPECT_EQ(U8(program.Program), ZAVTA_SHELL_HELPER);
  EXPECT_EQ(Utf8(program.Arguments), (std::vector<std::string>{"a", "b c"}));

  // A bare name is looked for on PATH and started by its full path.
  const TShellCommand onPath = ShellCommandFor(u"true", u"x", u"");
  EXPECT_TRUE(onPath.Program.starts_with(u"/") && onPath.Program.ends_with(u"/true")) << U8(onPath.Program);
  EXPECT_EQ(Utf8(onPath.Arguments), std::vector<std::string>{"x"});

  // Documents, folders and addresses are opened, parameters or not.
  const TShellCommand opened = ShellCommandFor(U16(document), u"ignored too", u"");
  EXPECT_EQ(opened.Program, kDocumentOpener);
  EXPECT_EQ(Utf8(opened.Arguments), std::vector<std::string>{document});
  EXPECT_EQ(Utf8(ShellCommandFor(U16(folder.Path.string()), u"", u"").Arguments),
            std::vector<std::string>{folder.Path.string()});
  const TShellCommand address = ShellCommandFor(u"https://example.org/a b?c=$(d)", u"", u"");
  EXPECT_EQ(address.Program, kDocumentOpener);
  EXPECT_EQ(Utf8(address.Arguments), std::vector<std::string>{"https://example.org/a b?c=$(d)"});

  // Backslashes are folder separators in the file name and the folder.
  const TShellCommand slashed = ShellCommandFor(u"docs\\read me.txt", u"", u"C:\\work\\here");
  EXPECT_EQ(Utf8(slashed.Arguments), std::vector<std::string>{"docs/read me.txt"});
  EXPECT_EQ(U8(slashed.Folder), "C:/work/here");
}

class ShellPrimitive : public ::testing::Test {
protected:
  ShellPrimitive() {
    S.Language.Texts[u"BADSTRING"] = u"%s is not a word";
    const std::u16string library = ReadTextFile(S, U16(ZAVTA_SOURCE_DIR "/resources/Logo.zav"));
    EXPECT_EQ(RunText(I, library, u"Logo.zav"), 0);
  }
  void Set(std::u16string_view name, TAtom* value) {
    TAtom::SetValue(S, *S.CreateVariable(S.Root, name, false, nullptr), value);
  }
  TAtom* W(std::u16string_view text) { return NewWord(S, std::u16string(text)); }
  // Runs shell :f :p :d with those values.
  int Shell(std::u16string_view file, std::u16string_view parameters, std::u16string_view folder) {
    Set(u"f", W(file));
    Set(u"p", W(parameters));
    Set(u"d", W(folder));
    return RunText(I, u"shell :f :p :d", u"test");
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(ShellPrimitive, HandsTheHostAProgramWithLiteralArgumentsOrADocumentToOpen) {
  ASSERT_EQ(Shell(U16(ZAVTA_SHELL_HELPER), u"one \"two three\" ; $(touch x) \"\"\"q\"\"\"", u"some\\folder"), 0);
  ASSERT_EQ(T.Host.Started.size(), 1u);
  EXPECT_EQ(U8(T.Host.Started[0].Program), ZAVTA_SHELL_HELPER);
  EXPECT_EQ(Utf8(T.Host.Started[0].Arguments),
            (std::vector<std::string>{"one", "two three", ";", "$(touch", "x)", "\"q\""}));
  EXPECT_EQ(U8(T.Host.Started[0].Folder), "some/folder");

  ASSERT_EQ(Shell(u"no-such-document.pdf", u"a b", u""), 0);
  ASSERT_EQ(T.Host.Started.size(), 2u);
  EXPECT_EQ(T.Host.Started[1].Program, kDocumentOpener);
  EXPECT_EQ(Utf8(T.Host.Started[1].Arguments), std::vector<std::string>{"no-such-document.pdf"});
  EXPECT_EQ(T.Host.Started[1].Folder, u"");
}

TEST_F(ShellPrimitive, EmptyParametersAndFolderAreEmptyTexts) {
  ASSERT_EQ(RunText(I, u"shell \"true [] []", u"test"), 0);
  ASSERT_EQ(T.Host.Started.size(), 1u);
  EXPECT_TRUE(T.Host.Started[0].Arguments.empty());
  EXPECT_EQ(T.Host.Started[0].Folder, u"");
}

TEST_F(ShellPrimitive, BadInputsRaiseAndStartNothing) {
  EXPECT_EQ(RunText(I, u"shell [] \"a \"b", u"test"), 2);
  EXPECT_EQ(U8(S.LastError), "shell");
  EXPECT_EQ(Shell(u"", u"a", u"b"), 2);
  EXPECT_EQ(U8(S.LastError), "shell");
  EXPECT_EQ(RunText(I, u"shell \"true [a b] \"b", u"test"), 2);
  EXPECT_EQ(U8(S.LastError), "[a b] is not a word");
  EXPECT_TRUE(T.Host.Started.empty());
}

// Waits up to ten seconds for the condition, looking every few milliseconds.
template <class Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(ShellPrimitive, StartsARealProgramInTheFolderWithItsArgumentsAndReapsIt) {
  const TempFolder folder;
  T.Host.SpawnForReal = true;
  ASSERT_EQ(Shell(U16(ZAVTA_SHELL_HELPER), u"one \"two  three\" ; $(touch x) \"\"\"q\"\"\" *", folder.Folder()), 0);
  const std::filesystem::path written = folder.Path / "shellhelper.txt";
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(written); }));
  const std::string canonical = std::filesystem::canonical(folder.Path).string();
  EXPECT_EQ(ReadBytes(written),
            "arg:one\narg:two  three\narg:;\narg:$(touch\narg:x)\narg:\"q\"\narg:*\ncwd:" + canonical + "\n");
  EXPECT_TRUE(Eventually([] { return ReapStartedProcesses() == 0; }));  // no zombie stays behind
}

TEST_F(ShellPrimitive, AStartedProgramDoesNotInheritTheOpenLog) {
  const TempFolder folder;
  const std::filesystem::path log = folder.Path / "program.log";
  ASSERT_TRUE(S.Log.Open(U16(log.string()), 0));
  T.Host.SpawnForReal = true;
  ASSERT_EQ(Shell(U16(ZAVTA_SHELL_HELPER), u"", folder.Folder()), 0);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(folder.Path / "shellhelper.txt"); }));
  const std::string inherited = ReadBytes(folder.Path / "shellhelper.fds");
  EXPECT_EQ(inherited.find("program.log"), std::string::npos) << inherited;
  S.Log.Close();
  EXPECT_TRUE(Eventually([] { return ReapStartedProcesses() == 0; }));
}

TEST(SpawnDetached, AProgramOrFolderThatDoesNotExistIsNotStarted) {
  const TempFolder folder;
  EXPECT_FALSE(SpawnDetached(U16((folder.Path / "missing").string()), {}, u""));
  EXPECT_FALSE(SpawnDetached(U16(ZAVTA_SHELL_HELPER), {}, U16((folder.Path / "missing").string())));
  EXPECT_FALSE(std::filesystem::exists(folder.Path / "shellhelper.txt"));
}

}  // namespace
