// The library load commands built from a LIBRARIES value: order, trimming,
// missing files, folder prefixes, the case rule and the run keyword of the
// language. Each test runs in its own temporary tree:
//   <base>/app/System/ (program folder), <base>/app/ (root folder),
//   <base>/elsewhere/ (outside both), <base>/launch/ (the current folder).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/Text.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Libraries.h"
#include "environment/MainInit.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

class LibrariesTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "zavta-libraries-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    base = fs::canonical(fs::path(pattern));
    root = base / "app";
    system = root / "System";
    elsewhere = base / "elsewhere";
    fs::create_directories(system);
    fs::create_directories(elsewhere);
    fs::create_directories(base / "launch");
    fs::current_path(base / "launch");

    WriteBytes(system / "Logo.zav", "; logo\n");
    WriteBytes(system / "Turtle.zav", "; turtle\n");
    WriteBytes(root / "Extras" / "More.zav", "; more\n");
    WriteBytes(elsewhere / "Mine.zav", "; mine\n");

    env.ProgramFolder = FolderText(system);
    env.RootFolder = FolderText(root);
    state.S->ProgramFolder = env.ProgramFolder;
    state.S->RootFolder = env.RootFolder;
  }
  void TearDown() override {
    fs::current_path(saved_);
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }

  std::string Build(const std::u16string& libraries) { return U8(BuildLibraryLoadCommands(env, libraries)); }

  fs::path base, root, system, elsewhere;
  TestState state;
  EnvState env{*state.S};

private:
  fs::path saved_;
};

TEST_F(LibrariesTest, OneCommandPerFoundLibraryInListOrder) {
  EXPECT_EQ(Build(u"Logo.zav,Turtle.zav,"), "run \"'Logo.zav',run \"'Turtle.zav',");
  EXPECT_EQ(Build(u"Turtle.zav,Logo.zav,"), "run \"'Turtle.zav',run \"'Logo.zav',");
}

TEST_F(LibrariesTest, TheFinalCommaIsOptional) {
  EXPECT_EQ(Build(u"Logo.zav"), "run \"'Logo.zav',");
  EXPECT_EQ(Build(u"Logo.zav,Turtle.zav"), "run \"'Logo.zav',run \"'Turtle.zav',");
}

TEST_F(LibrariesTest, MissingFilesAndEmptyEntriesAreSkipped) {
  EXPECT_EQ(Build(u""), "");
  EXPECT_EQ(Build(u","), "");
  EXPECT_EQ(Build(u"Graphix.zav,"), "");
  EXPECT_EQ(Build(u"Logo.zav,Graphix.zav,Turtle.zav,"), "run \"'Logo.zav',run \"'Turtle.zav',");
  EXPECT_EQ(Build(u",,Logo.zav,, ,"), "run \"'Logo.zav',");
}

TEST_F(LibrariesTest, EntriesAreTrimmed) {
  EXPECT_EQ(Build(u"  Logo.zav ,\tTurtle.zav\t,  "), "run \"'Logo.zav',run \"'Turtle.zav',");
}

TEST_F(LibrariesTest, ProgramAndRootFoldersAreCutFromTheFront) {
  // A full path into the program folder gives the bare name.
  EXPECT_EQ(Build(PathText(system / "Turtle.zav")), "run \"'Turtle.zav',");
  // A library in the root folder keeps its path below the root.
  EXPECT_EQ(Build(PathText(root / "Extras" / "More.zav")), "run \"'Extras/More.zav',");
  EXPECT_EQ(Build(u"Extras/More.zav"), "run \"'Extras/More.zav',");
}

TEST_F(LibrariesTest, ALibraryOutsideTheProgramAndRootFoldersKeepsItsFullPath) {
  const std::string full = (elsewhere / "Mine.zav").string();
  EXPECT_EQ(Build(PathText(elsewhere / "Mine.zav") + u",Logo.zav"), "run \"'" + full + "',run \"'Logo.zav',");
}

TEST_F(LibrariesTest, ARelativeEntryIsFoundFromTheCurrentFolder) {
  WriteBytes(base / "launch" / "Here.zav", "; here\n");
  EXPECT_EQ(Build(u"Here.zav"), "run \"'" + (base / "launch" / "Here.zav").string() + "',");
}

TEST_F(LibrariesTest, FileNamesAreNeverCaseFolded) {
  state.S->CaseSensitive = false;
  state.S->LoadKeywords();
  EXPECT_EQ(Build(u"Logo.zav"), "RUN \"'Logo.zav',");
  EXPECT_EQ(Build(u"LOGO.ZAV"), "");  // another file on this system
  // A folder prefix in other letters is not the program folder.
  const std::u16string upper = UpperCase(PathText(system / "Logo.zav"));
  EXPECT_EQ(LibraryCaption(env, upper), upper);
}

TEST_F(LibrariesTest, QuotesInFileNamesAreDoubled) {
  WriteBytes(system / "It's.zav", "; quote\n");
  EXPECT_EQ(Build(u"It's.zav"), "run \"'It''s.zav',");
  EXPECT_EQ(U8(ForcedFileCommand(u"run", u"/a/b'c.zav")), "run \"'/a/b''c.zav',");
}

TEST_F(LibrariesTest, TheMenuHasTheFixedItemsFirstThenTheOthersInListOrder) {
  const auto entries = MenuLibraryEntries(env, FoundLibraries(env, PathText(elsewhere / "Mine.zav") + u",Turtle.zav"));
  ASSERT_EQ(entries.size(), 4u);
  const struct {
    const char* Caption;
    bool Checked, Fixed;
  } expected[] = {{"Logo.zav", false, true},
                  {"Turtle.zav", true, true},
                  {"Graphix.zav", false, true},
                  {nullptr, true, false}};
  for (size_t i = 0; i < entries.size(); ++i) {
    if (expected[i].Caption != nullptr) {
      EXPECT_EQ(U8(entries[i].Caption), expected[i].Caption);
    }
    EXPECT_EQ(entries[i].Checked, expected[i].Checked) << i;
    EXPECT_EQ(entries[i].Fixed, expected[i].Fixed) << i;
  }
  EXPECT_EQ(U8(entries[3].Caption), (elsewhere / "Mine.zav").string());
  // Menu order, checked items only.
  EXPECT_EQ(U8(LoadCommands(entries, u"run")), "run \"'Turtle.zav',run \"'" + (elsewhere / "Mine.zav").string() + "',");
}

TEST_F(LibrariesTest, TogglingAndAddingRebuildFromTheCheckedItemsWithTheirKeptPaths) {
  auto entries = MenuLibraryEntries(env, FoundLibraries(env, u"Logo.zav"));
  entries[1].Checked = true;  // Turtle toggled on
  EXPECT_EQ(U8(LoadCommands(entries, u"run")), "run \"'Logo.zav',run \"'Turtle.zav',");
  entries[0].Checked = false;
  EXPECT_EQ(U8(LoadCommands(entries, u"run")), "run \"'Turtle.zav',");
  // Adding one that is already there only checks it.
  ASSERT_TRUE(AddLibrary(env, entries, PathText(system / "Logo.zav")));
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].Checked);
  ASSERT_TRUE(AddLibrary(env, entries, PathText(elsewhere / "Mine.zav")));
  ASSERT_TRUE(AddLibrary(env, entries, PathText(elsewhere / "Mine.zav")));
  EXPECT_EQ(entries.size(), 4u);
  EXPECT_FALSE(AddLibrary(env, entries, PathText(elsewhere / "Gone.zav")));
  // A library whose file went away is left out without a message; the
  // current folder plays no part in finding the others.
  fs::remove(system / "Turtle.zav");
  fs::current_path(elsewhere);
  EXPECT_EQ(U8(LoadCommands(entries, u"run")), "run \"'Logo.zav',run \"'" + (elsewhere / "Mine.zav").string() + "',");
}

TEST_F(LibrariesTest, TheRunKeywordIsTheLanguagesOwn) {
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
  for (auto& [name, value] : pairs)
    if (name == u"RUN") value = u"lancer";
  state.S->Language.SetTexts(pairs);
  state.S->LoadKeywords();
  EXPECT_EQ(Build(u"Logo.zav,Turtle.zav"), "lancer \"'Logo.zav',lancer \"'Turtle.zav',");
}

TEST_F(LibrariesTest, TheStartupLogNamesTheListAndEachFoundLibrary) {
  env.DebugLogMode = true;
  env.UserFolder = FolderText(base / "user");
  fs::create_directories(base / "user");
  Build(u"Logo.zav, Graphix.zav");
  EXPECT_EQ(ReadBytes(base / "user" / "gdm.log"),
            "  List of libraries to autoload Logo.zav, Graphix.zav,\n"
            "     - " +
                (system / "Logo.zav").string() + "\n");
}

TEST_F(LibrariesTest, AFirstBangParameterReplacesLibrariesAndIsRecorded) {
  struct Case {
    std::vector<std::u16string> Arguments;
    bool CtrlHeld;
    std::string List;
    bool FromCommandLine;
  };
  const Case cases[] = {
      {{}, false, "Logo.zav", false},
      {{u"!Turtle.zav,Logo.zav"}, false, "Turtle.zav,Logo.zav", true},
      {{u"!Turtle.zav"}, true, "Logo.zav", false},             // Ctrl ignores the command line
      {{u"a.zav", u"!Turtle.zav"}, false, "Logo.zav", false},  // only the first parameter counts
      {{u"!" + std::u16string(300, u'x')}, false, std::string(255, 'x'), true},
  };
  for (const Case& c : cases) {
    EnvState fresh{*state.S};
    fresh.Settings.SetText(u"LIBRARIES=Logo.zav");
    StartupInput input;
    input.Arguments = c.Arguments;
    input.CtrlHeld = c.CtrlHeld;
    EXPECT_EQ(U8(StartLibraryList(fresh, input)), c.List);
    EXPECT_EQ(fresh.LibrariesFromCommandLine, c.FromCommandLine) << c.List;
    EXPECT_EQ(U8(fresh.Settings.RawValue(u"LIBRARIES")), "Logo.zav");
  }
}

}  // namespace
