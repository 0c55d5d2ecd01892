// Writing the settings back at exit: which switches allow it, the keys and
// values written, unknown lines kept, and a failed write that changes nothing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/Text.h"
#include "environment/EnvState.h"
#include "environment/SaveConfig.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

class SaveConfigTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zavta-saveconfig-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    file = fs::path(pattern) / "default.ini";
    env.SettingsPath = PathText(file);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(file.parent_path(), ignored);
  }
  // Loads text as the settings file and its store.
  void Start(const std::string& text) {
    WriteBytes(file, text);
    ASSERT_TRUE(env.Settings.LoadFromFile(env.SettingsPath));
  }
  size_t FilesInFolder() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()));
  }
  std::string Value(const char16_t* key) { return U8(env.Settings.RawValue(key)); }

  fs::path file;
  TestState state;
  EnvState env{*state.S};
  EnvSnapshot snapshot;
};

TEST_F(SaveConfigTest, OnlyAutosaveYesOutsideRunTimeModeTouchesTheFile) {
  const struct {
    const char* Autosave;
    bool Runtime;
    bool Saves;
  } cases[] = {{"", false, false}, {"AUTOSAVE=No\n", false, false}, {"AUTOSAVE=yes\n", false, false},
               {"AUTOSAVE=Yes\n", true, false}, {"AUTOSAVE=Yes\n", false, true}};
  for (const auto& c : cases) {
    const std::string text = std::string("; mine\r\n") + c.Autosave + "OUTPUT=Yes\r\nX=1";
    Start(text);
    env.RuntimeMode = c.Runtime;
    EXPECT_EQ(SaveConfiguration(env, snapshot), c.Saves) << c.Autosave;
    if (!c.Saves) {
      EXPECT_EQ(ReadBytes(file), text) << c.Autosave;
    }
    EXPECT_EQ(FilesInFolder(), 1u);
  }
}

TEST_F(SaveConfigTest, AFailedWriteLeavesTheFileByteIdenticalAndNoTemporary) {
  const std::string text = "AUTOSAVE=Yes\nOUTPUT=Yes\n";
  Start(text);
  SaveFaultForTesting = [](SaveStep step) { return step == SaveStep::Write; };
  EXPECT_FALSE(SaveConfiguration(env, snapshot));
  SaveFaultForTesting = nullptr;
  EXPECT_EQ(ReadBytes(file), text);
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(SaveConfigTest, TheKeysAreWrittenInPlaceAndUnknownLinesStay) {
  Start("AUTOSAVE=Yes\n; a note\nMAIN.WIDTH=700\nMAIN.HEIGHT=500\nOUTPUT.LEFT=9\nLIBRARIES=Old.zav,\nUSER1.FILENAME=/old\n");
  snapshot.CaseSensitive = false;
  snapshot.MachineId = u"AB12";
  snapshot.PixelFormatIndex = 5;
  snapshot.ReopenCaptions = {u"new.zav", u"Examples/old.zav"};
  snapshot.LanguageName = u"Test";
  snapshot.FontName = u"Sans";
  snapshot.FontSize = 12;
  snapshot.FontBold = true;
  snapshot.Main = {true, 2, 0, 0, 1000, 800};
  snapshot.Command = {true, 0, 1, 2, 300, 200};
  snapshot.Sources = {{u"/w/a.zav", {true, 0, 5, 6, 7, 8}}, {u"", {true, 0, 0, 0, 1, 1}}, {u"/w/b.zav", {true, 1, 1, 1, 1, 1}}};
  snapshot.Libraries = {{u"Logo.zav", u"/p/Logo.zav", true, true},
                        {u"Turtle.zav", u"/p/Turtle.zav", false, true},
                        {u"/x/It's.zav", u"/x/It's.zav", true, false}};
  ASSERT_TRUE(SaveConfiguration(env, snapshot));
  ASSERT_TRUE(env.Settings.LoadFromFile(env.SettingsPath));

  const struct {
    const char16_t* Key;
    const char* Value;
  } expected[] = {
      {u"CASESENSITIVE", "No"},     {u"FULLSCREEN", "No"},        {u"ZAVTAID", "AB12"},
      {u"OPENGLMODE", "5"},         {u"REOPEN0", "new.zav"},      {u"REOPEN1", "Examples/old.zav"},
      {u"ENVIRONMENT", "Test"},     {u"CODEPAGE", "1252"},        {u"FONT.NAME", "Sans"},
      {u"FONT.SIZE", "12"},         {u"FONT.ITALIC", "No"},       {u"FONT.BOLD", "Yes"},
      {u"MAIN.STATE", "2"},         {u"MAIN.WIDTH", "700"},       {u"MAIN.HEIGHT", "500"},
      {u"OUTPUT", "No"},            {u"OUTPUT.LEFT", "9"},        {u"COMMAND", "Yes"},
      {u"COMMAND.WIDTH", "300"},    {u"USERS", "2"},              {u"USER1.FILENAME", "/w/a.zav"},
      {u"USER1.LEFT", "5"},         {u"USER2.FILENAME", "/w/b.zav"}, {u"USER2.STATE", "1"},
      {u"LIBRARIES", "Logo.zav,/x/It's.zav,"},
  };
  for (const auto& e : expected) EXPECT_EQ(Value(e.Key), e.Value) << U8(e.Key);
  EXPECT_FALSE(env.Settings.Contains(u"USER3.FILENAME"));
  EXPECT_EQ(env.Settings.Lines()[1], u"; a note");
  EXPECT_EQ(env.Settings.Lines()[2], u"MAIN.WIDTH=700");
}

TEST_F(SaveConfigTest, LibrariesFromTheCommandLineAreNotSaved) {
  Start("AUTOSAVE=Yes\nLIBRARIES=Logo.zav,\n");
  env.LibrariesFromCommandLine = true;
  snapshot.Libraries = {{u"Turtle.zav", u"/p/Turtle.zav", true, true}};
  ASSERT_TRUE(SaveConfiguration(env, snapshot));
  EXPECT_NE(ReadBytes(file).find("LIBRARIES=Logo.zav,\n"), std::string::npos);
}

}  // namespace
