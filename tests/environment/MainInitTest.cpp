// Start-up of the main module: folders, version text, the choice and loading
// of the settings file, the user's help copy and the start-up log. Every test
// runs in its own temporary tree:
//   <base>/app/System/ (program), <base>/app/Help/, <base>/app/Languages/,
//   <base>/data/ (XDG_DATA_HOME), <base>/launch/ (the folder started from).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Text.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/MainInit.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadLines(const fs::path& path) {
  std::istringstream in(ReadBytes(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void Age(const fs::path& path, std::chrono::seconds by) { fs::last_write_time(path, fs::last_write_time(path) - by); }

// Every regular file under a folder, relative to it.
std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

class StartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "zavta-startup-XXXXXX").string();
    base = fs::path(mkdtemp(pattern.data()));
    root = base / "app";
    system = root / "System";
    data = base / "data";
    launch = base / "launch";
    for (const fs::path& folder : {system, root / "Languages", root / "Help", data, launch})
      fs::create_directories(folder);
    WriteBytes(system / "default.ini.org", "FACTORY=1\nMAIN.WIDTH=631\n");
    user = data / "Zavta56";

    input.ProgramFolder = FolderText(system);
    input.XdgDataHome = PathText(data);
    input.CurrentFolder = PathText(launch);
  }

  void TearDown() override {
    std::error_code ec;
    fs::current_path(saved_, ec);
    fs::remove_all(base, ec);
  }

  EnvState& Start() {
    ts = std::make_unique<TestState>();
    env = std::make_unique<EnvState>(*ts->S);
    MainUnitInit(*env, input);
    return *env;
  }

  fs::path base, root, system, data, launch, user;
  StartupInput input;
  std::unique_ptr<TestState> ts;
  std::unique_ptr<EnvState> env;

private:
  fs::path saved_;
};

// --- folders -------------------------------------------------------------------------

TEST_F(StartupTest, SystemFolderSitsInTheRoot) {
  EXPECT_EQ(U8(Start().RootFolder), root.string() + "/");

  input.ProgramFolder = FolderText(root / "SYSTEM");
  EXPECT_EQ(U8(Start().RootFolder), root.string() + "/");

  input.ProgramFolder = PathText(root / "System");  // without the final "/"
  EnvState& e = Start();
  EXPECT_EQ(U8(e.ProgramFolder), system.string() + "/");
  EXPECT_EQ(U8(e.RootFolder), root.string() + "/");
}

TEST_F(StartupTest, OtherProgramFolderHasTheRootAbove) {
  input.ProgramFolder = FolderText(root / "bin");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.RootFolder), (root / "bin").string() + "/../");
  EXPECT_EQ(U8(e.LanguagesFolder), (root / "bin").string() + "/../Languages/");
}

TEST_F(StartupTest, UserFolderFromXdgDataHomeIsCreated) {
  input.Home = PathText(base / "home");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.UserFolder), user.string() + "/");
  EXPECT_EQ(U8(e.UserHelpFolder), user.string() + "/Help/");
  EXPECT_TRUE(fs::is_directory(user / "Help"));
  EXPECT_EQ(U8(e.LaunchFolder), launch.string() + "/");
}

TEST_F(StartupTest, UserFolderFromHomeWhenXdgIsUnsetOrRelative) {
  input.XdgDataHome.reset();
  input.Home = PathText(base / "home");
  EXPECT_EQ(U8(Start().UserFolder), (base / "home/.local/share/Zavta56").string() + "/");
  EXPECT_TRUE(fs::is_directory(base / "home/.local/share/Zavta56/Help"));

  input.XdgDataHome = u"relative/data";
  EXPECT_EQ(U8(Start().UserFolder), (base / "home/.local/share/Zavta56").string() + "/");
}

TEST_F(StartupTest, WithoutUserFolderNothingIsWritten) {
  input.XdgDataHome.reset();
  input.Home.reset();
  input.ShiftHeld = true;
  WriteBytes(root / "Help/main.xml", "<help/>");
  WriteBytes(launch / "default.ini", "DECOY=1\n");
  const std::vector<std::string> before = FilesUnder(base);

  EnvState& e = Start();
  EXPECT_EQ(U8(e.UserFolder), "");
  EXPECT_EQ(U8(e.UserHelpFolder), "");
  EXPECT_EQ(U8(e.SettingsPath), "");
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(FilesUnder(base), before);

  input.CtrlHeld = true;
  EnvState& reset = Start();
  EXPECT_EQ(U8(reset.SettingsPath), "");
  EXPECT_EQ(FilesUnder(base), before);
}

TEST_F(StartupTest, InterpreterStateGetsTheFolders) {
  EnvState& e = Start();
  const TStructure& s = e.S;
  EXPECT_EQ(s.ProgramFolder, e.ProgramFolder);
  EXPECT_EQ(s.RootFolder, e.RootFolder);
  EXPECT_EQ(s.CharactersFolder, e.CharactersFolder);
  EXPECT_EQ(s.UserFolder, e.UserFolder);
  EXPECT_EQ(s.HelpFolder, e.UserHelpFolder);
  EXPECT_EQ(s.SettingsFolder, e.SettingsFolder);
  EXPECT_FALSE(s.SettingsFolder.empty());
}

// --- version and start values -------------------------------------------------------------

TEST(StartupVersion, FourPartsMakeTheVersionText) {
  TestState ts;
  EnvState env(*ts.S);
  ParseVersion(env, u" 5.6.0.123 ");
  EXPECT_EQ(U8(env.VersionText), "5.6 (build 123)");
  EXPECT_EQ(U8(env.VersionMajor), "5");
  EXPECT_EQ(U8(env.VersionMinor), "6");
  EXPECT_EQ(U8(env.VersionBuild), "123");

  ParseVersion(env, u"10.12.3.4");
  EXPECT_EQ(U8(env.VersionText), "10.12 (build 4)");
}

TEST(StartupVersion, FewerPartsGiveQuestionMarks) {
  TestState ts;
  EnvState env(*ts.S);
  for (const char16_t* version : {u"5.6.0", u"5.6", u"5", u""}) {
    ParseVersion(env, u"5.6.0.1");
    ParseVersion(env, version);
    EXPECT_EQ(U8(env.VersionText), "?.??") << U8(version);
  }
}

// --- choice of the settings file -----------------------------------------------------------

TEST_F(StartupTest, IniParameterInAnyCaseIsLoaded) {
  WriteBytes(launch / "x.ini", "WHICH=x\n");
  WriteBytes(launch / "Y.INI", "WHICH=Y\n");
  input.Arguments = {u"x.ini"};
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "x");
  EXPECT_EQ(U8(e.SettingsPath), (launch / "x.ini").string());

  input.Arguments = {u"Y.INI"};
  EXPECT_EQ(U8(Start().Settings.RawValue(u"WHICH")), "Y");
}

TEST_F(StartupTest, ParameterWithoutExtensionGetsIniAndIsTheTargetEvenWhenMissing) {
  input.Arguments = {u"cfg"};
  EnvState& missing = Start();
  EXPECT_EQ(U8(missing.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(missing.SettingsPath), (launch / "cfg.ini").string());
  EXPECT_EQ(U8(missing.SettingsFolder), system.string() + "/");
  EXPECT_FALSE(fs::exists(user / "default.ini"));

  WriteBytes(launch / "cfg.ini", "WHICH=cfg\n");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "cfg");
  EXPECT_EQ(U8(e.SettingsPath), (launch / "cfg.ini").string());
}

TEST_F(StartupTest, OtherExtensionCountsOnlyWhenItsIniFileExists) {
  WriteBytes(user / "default.ini", "WHICH=user\n");
  input.Arguments = {u"y.txt"};
  EXPECT_EQ(U8(Start().Settings.RawValue(u"WHICH")), "user");

  WriteBytes(launch / "y.txt.ini", "WHICH=y.txt\n");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "y.txt");
  EXPECT_EQ(U8(e.SettingsPath), (launch / "y.txt.ini").string());
}

TEST_F(StartupTest, LibraryListIsSkippedAndALaterParameterTaken) {
  WriteBytes(launch / "a.ini", "WHICH=a\n");
  input.Arguments = {u"!libs", u"a.ini"};
  EXPECT_EQ(U8(Start().Settings.RawValue(u"WHICH")), "a");

  input.Arguments = {u"!cfg"};
  WriteBytes(launch / "!cfg.ini", "WHICH=bang\n");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(e.SettingsPath), (user / "default.ini").string());
}

TEST_F(StartupTest, FirstApplyingRuleEndsTheScan) {
  WriteBytes(launch / "second.ini", "WHICH=second\n");
  input.Arguments = {u"program.zav", u"first", u"second.ini"};
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(e.SettingsPath), (launch / "first.ini").string());
}

TEST_F(StartupTest, WithoutParameterTheUsersFileIsUsed) {
  WriteBytes(user / "default.ini", "WHICH=user\n");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "user");
  EXPECT_EQ(U8(e.SettingsPath), (user / "default.ini").string());
  EXPECT_EQ(U8(e.SettingsFolder), user.string() + "/");
}

TEST_F(StartupTest, WithoutAnyFileTheFactoryIsLoadedForTheUsersFile) {
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(e.SettingsPath), (user / "default.ini").string());
  EXPECT_EQ(U8(e.SettingsFolder), system.string() + "/");
}

TEST_F(StartupTest, StrayDefaultIniIsNeitherReadNorWritten) {
  WriteBytes(launch / "default.ini", "DECOY=1\n");
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"DECOY")), "");
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(e.SettingsPath), (user / "default.ini").string());

  input.CtrlHeld = true;
  Start();
  EXPECT_EQ(ReadBytes(launch / "default.ini"), "DECOY=1\n");
}

TEST_F(StartupTest, CtrlResetsTheUsersFileAndIgnoresTheCommandLine) {
  WriteBytes(launch / "x.ini", "WHICH=x\n");
  WriteBytes(user / "default.ini", "WHICH=user\n");
  input.Arguments = {u"x.ini"};
  input.CtrlHeld = true;
  EnvState& e = Start();
  EXPECT_TRUE(e.ResetRequested);
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "");
  EXPECT_EQ(U8(e.SettingsPath), (user / "default.ini").string());
  EXPECT_EQ(ReadBytes(user / "default.ini"), "FACTORY=1\nMAIN.WIDTH=631\n");
  EXPECT_EQ(ReadBytes(launch / "x.ini"), "WHICH=x\n");
}

TEST_F(StartupTest, FileInTheProgramTreeLoadsButIsNoSaveTarget) {
  WriteBytes(root / "rooted.ini", "WHICH=rooted\n");
  input.Arguments = {u"rooted.ini"};
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "rooted");
  EXPECT_EQ(U8(e.SettingsPath), "");
  EXPECT_EQ(U8(e.SettingsFolder), root.string() + "/");

  // A missing file named while started inside the program tree: no target.
  input.CurrentFolder = PathText(root);
  input.Arguments = {u"fresh"};
  EnvState& inside = Start();
  EXPECT_EQ(U8(inside.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(U8(inside.SettingsPath), "");
}

TEST_F(StartupTest, AbsoluteParameterAndTheCurrentFolderFollowingTheLoadedFile) {
  WriteBytes(base / "elsewhere/abs.ini", "WHICH=abs\n");
  input.Arguments = {PathText(base / "elsewhere/abs.ini")};
  EnvState& e = Start();
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "abs");
  EXPECT_EQ(U8(e.SettingsPath), (base / "elsewhere/abs.ini").string());
  EXPECT_EQ(fs::current_path(), base / "elsewhere");
  EXPECT_EQ(U8(e.SettingsFolder), (base / "elsewhere").string() + "/");

  input.Arguments.clear();
  Start();
  EXPECT_EQ(fs::current_path(), system);
}

// --- the user's help copy --------------------------------------------------------------------

class HelpRefreshTest : public StartupTest {
protected:
  void SetUp() override {
    StartupTest::SetUp();
    WriteBytes(root / "Help/main.xml", "<main version='new'/>");
    WriteBytes(root / "Help/pages/topic.xml", "<topic/>");
    WriteBytes(user / "default.ini", "WHICH=user\n");
  }
  bool Refreshed() const { return ReadBytes(user / "Help/main.xml") == "<main version='new'/>"; }
};

TEST_F(HelpRefreshTest, MissingUserCopyIsMadeAndSettingsAreReset) {
  EnvState& e = Start();
  EXPECT_TRUE(Refreshed());
  EXPECT_EQ(ReadBytes(user / "Help/pages/topic.xml"), "<topic/>");
  EXPECT_EQ(ReadBytes(user / "default.ini.bak"), "WHICH=user\n");
  EXPECT_EQ(ReadBytes(user / "default.ini"), "FACTORY=1\nMAIN.WIDTH=631\n");
  EXPECT_EQ(U8(e.Settings.RawValue(u"FACTORY")), "1");
  EXPECT_EQ(fs::last_write_time(user / "Help/main.xml"), fs::last_write_time(root / "Help/main.xml"));
  EXPECT_EQ(fs::last_write_time(user / "Help/pages/topic.xml"), fs::last_write_time(root / "Help/pages/topic.xml"));
}

TEST_F(HelpRefreshTest, OlderUserCopyIsReplaced) {
  WriteBytes(user / "Help/main.xml", "<main version='old'/>");
  Age(user / "Help/main.xml", std::chrono::seconds(60));
  Start();
  EXPECT_TRUE(Refreshed());
  EXPECT_EQ(ReadBytes(user / "default.ini.bak"), "WHICH=user\n");
}

TEST_F(HelpRefreshTest, SameAgeOrNewerUserCopyStays) {
  WriteBytes(user / "Help/main.xml", "<main version='mine'/>");
  fs::last_write_time(user / "Help/main.xml", fs::last_write_time(root / "Help/main.xml"));
  EXPECT_EQ(U8(Start().Settings.RawValue(u"WHICH")), "user");
  EXPECT_FALSE(Refreshed());

  Age(root / "Help/main.xml", std::chrono::seconds(60));
  Start();
  EXPECT_FALSE(Refreshed());
  EXPECT_FALSE(fs::exists(user / "default.ini.bak"));
  EXPECT_EQ(ReadBytes(user / "default.ini"), "WHICH=user\n");
}

TEST_F(HelpRefreshTest, NothingWithoutTheProgramsMainPage) {
  fs::remove(root / "Help/main.xml");
  EnvState& e = Start();
  EXPECT_FALSE(fs::exists(user / "Help/pages"));
  EXPECT_FALSE(fs::exists(user / "default.ini.bak"));
  EXPECT_EQ(U8(e.Settings.RawValue(u"WHICH")), "user");
}

TEST_F(HelpRefreshTest, SecondStartDoesNotRefreshAgain) {
  Start();
  ASSERT_TRUE(Refreshed());
  WriteBytes(user / "default.ini", "WHICH=changed\n");
  EXPECT_EQ(U8(Start().Settings.RawValue(u"WHICH")), "changed");
  EXPECT_EQ(ReadBytes(user / "default.ini.bak"), "WHICH=user\n");
}

TEST(StartupCopyFolder, CopiesIntoTheTargetAndReportsFailure) {
  std::string pattern = (fs::temp_directory_path() / "zavta-copy-XXXXXX").string();
  const fs::path base(mkdtemp(pattern.data()));
  WriteBytes(base / "src/Help/a.txt", "a");
  WriteBytes(base / "src/Help/sub/b.txt", "b");
  WriteBytes(base / "dst/Help/a.txt", "old");
  Age(base / "src/Help/sub/b.txt", std::chrono::hours(24));

  EXPECT_TRUE(CopyFolder(PathText(base / "src/Help") + u"/", PathText(base / "dst")));
  EXPECT_EQ(ReadBytes(base / "dst/Help/a.txt"), "a");
  EXPECT_EQ(ReadBytes(base / "dst/Help/sub/b.txt"), "b");
  EXPECT_EQ(fs::last_write_time(base / "dst/Help/sub/b.txt"), fs::last_write_time(base / "src/Help/sub/b.txt"));

  EXPECT_FALSE(CopyFolder(PathText(base / "missing"), PathText(base / "dst")));
  EXPECT_FALSE(CopyFolder(PathText(base / "src"), PathText(base / "src/Help")));  // into itself
  std::error_code ec;
  fs::remove_all(base, ec);
}

// --- error-page files -------------------------------------------------------------------------

TEST_F(StartupTest, ErrorPageFilesAreEmptiedInTheUsersHelp) {
  WriteBytes(user / "Help/$$$error-05$$$.txt", "stale");
  Start();
  std::vector<std::string> names;
  for (int i = 1; i <= 11; ++i) names.push_back((i < 10 ? "$$$error-0" : "$$$error-") + std::to_string(i) + "$$$.txt");
  for (const char* name : {"$$$error-name$$$.txt", "$$$error-pos$$$.txt", "$$$error-line$$$.txt"})
    names.push_back(name);
  for (const std::string& name : names) EXPECT_EQ(ReadBytes(user / "Help" / name), "\xFF\xFE") << name;
}

// --- start-up log ----------------------------------------------------------------------------

TEST_F(StartupTest, LogIsOffWithoutShift) {
  Start();
  EXPECT_FALSE(fs::exists(user / "gdm.log"));
}

TEST_F(StartupTest, LogWithShiftListsTheSteps) {
  input.ShiftHeld = true;
  Start();
  const std::vector<std::string> lines = ReadLines(user / "gdm.log");
  const std::string userIni = (user / "default.ini").string();
  const std::string factory = system.string() + "/default.ini.org";
  const std::vector<std::string> expected = {
      "Entering GLOBAL DEBUG MODE",
      lines.size() > 1 ? lines[1] : "",
      "Scanning for *.INI parameter",
      "Configuration file: []",
      "Configuration file reset to: [default.ini]",
      "Configuration file located as: [" + userIni + "]",
      "No configuration file found",
      "Reading original congifuration file",
      "Configuration file reset to: [" + factory + "]",
  };
  EXPECT_EQ(lines, expected);
  ASSERT_GT(lines.size(), 1u);
  EXPECT_EQ(lines[1].rfind("  Zavta version [", 0), 0u) << lines[1];
}

TEST_F(StartupTest, LogOfAFoundFileOfCtrlAndOfAnUnreadableFile) {
  input.ShiftHeld = true;
  WriteBytes(launch / "x.ini", "WHICH=x\n");
  input.Arguments = {u"x.ini"};
  Start();
  std::vector<std::string> lines = ReadLines(user / "gdm.log");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "Configuration file: [x.ini]");
  EXPECT_EQ(lines[4], "Configuration file located as: [" + (launch / "x.ini").string() + "]");
  EXPECT_EQ(lines[5], "Reading congifuration file");

  fs::remove(user / "gdm.log");
  input.CtrlHeld = true;
  Start();
  lines = ReadLines(user / "gdm.log");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Requested environment initializetion (CTRL is pressed)");
  EXPECT_EQ(lines[3], "Configuration file located as: [" + (user / "default.ini").string() + "]");

  // A settings file that cannot be read: logged, start-up goes on empty.
  fs::remove(user / "gdm.log");
  fs::remove(user / "default.ini");
  fs::remove(system / "default.ini.org");
  input.CtrlHeld = false;
  input.Arguments.clear();
  EXPECT_TRUE(Start().Settings.Lines().empty());
  EXPECT_EQ(ReadLines(user / "gdm.log").back(), "ERROR Reading congifuration file");
}

TEST_F(StartupTest, LogAppendsAcrossStarts) {
  input.ShiftHeld = true;
  Start();
  const size_t once = ReadLines(user / "gdm.log").size();
  Start();
  const std::vector<std::string> lines = ReadLines(user / "gdm.log");
  ASSERT_EQ(lines.size(), 2 * once);
  EXPECT_EQ(lines[once], "Entering GLOBAL DEBUG MODE");
}

}  // namespace
