// The Name=Value store, typed lookups of settings values and the factory
// settings file shipped with the program.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Text.h"
#include "environment/EnvState.h"
#include "environment/Settings.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

NameValueList ListOf(std::initializer_list<const char16_t*> lines) {
  NameValueList list;
  std::vector<std::u16string> all;
  for (const char16_t* line : lines) all.emplace_back(line);
  list.SetLines(std::move(all));
  return list;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "zavta-settings-XXXXXX").string();
    path_ = fs::path(mkdtemp(pattern.data()));
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::u16string File(const char* name) const { return Utf8ToUtf16((path_ / name).string()); }

private:
  fs::path path_;
};

}  // namespace

// --- lookup ------------------------------------------------------------------------

TEST(SettingsLookup, NamesMatchWithoutLetterCase) {
  const NameValueList list = ListOf({u"Font.Name=Arial", u"users=3"});
  EXPECT_EQ(U8(list.GetValueOrKey(u"FONT.NAME")), "Arial");
  EXPECT_EQ(U8(list.RawValue(u"font.name")), "Arial");
  EXPECT_EQ(U8(list.GetValueOrKey(u"USERS")), "3");
  EXPECT_TRUE(list.Contains(u"Users"));
}

TEST(SettingsLookup, MissingOrEmptyValueGivesTheKey) {
  const NameValueList list = ListOf({u"EMPTY=", u"PLAIN LINE"});
  EXPECT_EQ(U8(list.GetValueOrKey(u"Missing.Key")), "Missing.Key");
  EXPECT_EQ(U8(list.GetValueOrKey(u"EMPTY")), "EMPTY");
  EXPECT_EQ(U8(list.RawValue(u"EMPTY")), "");
  EXPECT_EQ(U8(list.RawValue(u"Missing.Key")), "");
  EXPECT_TRUE(list.Contains(u"EMPTY"));
  EXPECT_FALSE(list.Contains(u"PLAIN LINE"));  // a line without "=" names nothing
}

TEST(SettingsLookup, FirstOfDuplicateNamesWins) {
  const NameValueList list = ListOf({u"KEY=first", u"key=second"});
  EXPECT_EQ(U8(list.RawValue(u"KEY")), "first");
}

TEST(SettingsLookup, NamesAreNotTrimmedAndValuesKeepLaterEquals) {
  const NameValueList list = ListOf({u" A=1", u"B =2", u"C=x=y"});
  EXPECT_EQ(U8(list.GetValueOrKey(u"A")), "A");
  EXPECT_EQ(U8(list.RawValue(u" a")), "1");
  EXPECT_EQ(U8(list.RawValue(u"B")), "");
  EXPECT_EQ(U8(list.RawValue(u"B ")), "2");
  EXPECT_EQ(U8(list.RawValue(u"C")), "x=y");
}

TEST(SettingsLookup, PairsFollowTheLinesAndSkipLinesWithoutEquals) {
  const NameValueList list = ListOf({u"; comment", u"A=1", u"B=", u"a=2"});
  const auto pairs = list.Pairs();
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(U8(pairs[0].first), "A");
  EXPECT_EQ(U8(pairs[1].first), "B");
  EXPECT_EQ(U8(pairs[1].second), "");
  EXPECT_EQ(U8(pairs[2].second), "2");
}

// --- switches ------------------------------------------------------------------------

TEST(SettingsSwitches, YesSwitchIsOnOnlyForExactlyYes) {
  const NameValueList list = ListOf({u"A=Yes", u"B=yes", u"C=YES", u"D=", u"E=Yes "});
  EXPECT_TRUE(IsYesSwitchOn(list, u"A"));
  EXPECT_FALSE(IsYesSwitchOn(list, u"B"));
  EXPECT_FALSE(IsYesSwitchOn(list, u"C"));
  EXPECT_FALSE(IsYesSwitchOn(list, u"D"));
  EXPECT_FALSE(IsYesSwitchOn(list, u"E"));
  EXPECT_FALSE(IsYesSwitchOn(list, u"MISSING"));
}

TEST(SettingsSwitches, NoSwitchIsOnUnlessExactlyNo) {
  const NameValueList list = ListOf({u"A=No", u"B=no", u"C=Off", u"D="});
  EXPECT_FALSE(IsNoSwitchOn(list, u"A"));
  EXPECT_TRUE(IsNoSwitchOn(list, u"B"));
  EXPECT_TRUE(IsNoSwitchOn(list, u"C"));
  EXPECT_TRUE(IsNoSwitchOn(list, u"D"));
  EXPECT_TRUE(IsNoSwitchOn(list, u"MISSING"));
}

// --- integers ------------------------------------------------------------------------

class SettingsIntegers : public ::testing::Test {
protected:
  TestState ts;
  EnvState env{*ts.S};
};

TEST_F(SettingsIntegers, WholeNumbersWithOptionalSign) {
  const NameValueList list = ListOf({u"A=12", u"B=-7", u"C=+5", u"D=-2147483648", u"E=2147483647"});
  EXPECT_EQ(GetIntValue(env, list, u"A", 0), 12);
  EXPECT_EQ(GetIntValue(env, list, u"b", 0), -7);
  EXPECT_EQ(GetIntValue(env, list, u"C", 0), 5);
  EXPECT_EQ(GetIntValue(env, list, u"D", 0), INT_MIN);
  EXPECT_EQ(GetIntValue(env, list, u"E", 0), INT_MAX);
}

TEST_F(SettingsIntegers, MissingOrEmptyGivesTheDefaultSilently) {
  env.DebugLogMode = true;
  const NameValueList list = ListOf({u"EMPTY="});
  EXPECT_EQ(GetIntValue(env, list, u"MISSING", 42), 42);
  EXPECT_EQ(GetIntValue(env, list, u"EMPTY", 43), 43);
  EXPECT_TRUE(env.PendingDebugLog.empty());
}

TEST_F(SettingsIntegers, MalformedGivesTheDefaultAndALogLine) {
  env.DebugLogMode = true;  // without a user folder the line stays pending
  const NameValueList list =
      ListOf({u"MAIN.WIDTH=12x", u"B= 12", u"C=12 ", u"D=-", u"E=2147483648", u"F=1.5", u"G=99999999999999999999"});
  EXPECT_EQ(GetIntValue(env, list, u"MAIN.WIDTH", 631), 631);
  ASSERT_EQ(env.PendingDebugLog.size(), 1u);
  const std::string line = U8(env.PendingDebugLog[0]);
  EXPECT_NE(line.find("MAIN.WIDTH"), std::string::npos) << line;
  EXPECT_NE(line.find("12x"), std::string::npos) << line;

  for (const char16_t* key : {u"B", u"C", u"D", u"E", u"F", u"G"}) EXPECT_EQ(GetIntValue(env, list, key, -1), -1);
  EXPECT_EQ(env.PendingDebugLog.size(), 7u);
}

// --- colours -------------------------------------------------------------------------

TEST(SettingsColours, PartsByCommas) {
  const NameValueList list = ListOf({u"FULL=0,0,200", u"TWO=10,20", u"ONE=10", u"WIDE=300,1,1", u"NEG=-1,0,0"});
  EXPECT_EQ(GetColorValue(list, u"FULL"), MakeRgb(0, 0, 200));
  EXPECT_EQ(GetColorValue(list, u"TWO"), MakeRgb(10, 0, 20));
  EXPECT_EQ(GetColorValue(list, u"ONE"), MakeRgb(0, 0, 10));
  EXPECT_EQ(GetColorValue(list, u"WIDE"), MakeRgb(44, 1, 1));
  EXPECT_EQ(GetColorValue(list, u"NEG"), MakeRgb(255, 0, 0));
}

TEST(SettingsColours, ABadPartEndsTheReading) {
  const NameValueList list = ListOf({u"R=a,5,5", u"G=5,a,5", u"B=5,6,x", u"EMPTY="});
  EXPECT_EQ(GetColorValue(list, u"R"), MakeRgb(0, 0, 0));
  EXPECT_EQ(GetColorValue(list, u"G"), MakeRgb(5, 0, 0));
  EXPECT_EQ(GetColorValue(list, u"B"), MakeRgb(5, 6, 0));
  EXPECT_EQ(GetColorValue(list, u"EMPTY"), MakeRgb(0, 0, 0));
  EXPECT_EQ(GetColorValue(list, u"MISSING"), MakeRgb(0, 0, 0));
}

// --- writing ---------------------------------------------------------------------------

TEST(SettingsWriting, ReplaceInPlaceAppendNewAndEmptyRemoves) {
  NameValueList list = ListOf({u"A=1", u"B=2", u"C=3"});
  list.SetValue(u"b", u"20");
  list.SetValue(u"D", u"4");
  ASSERT_EQ(list.Lines().size(), 4u);
  EXPECT_EQ(U8(list.Lines()[1]), "b=20");
  EXPECT_EQ(U8(list.Lines()[3]), "D=4");

  list.SetValue(u"A", u"");
  list.SetValue(u"NOT.THERE", u"");
  ASSERT_EQ(list.Lines().size(), 3u);
  EXPECT_EQ(U8(list.Lines()[0]), "b=20");
  EXPECT_FALSE(list.Contains(u"A"));
}

TEST(SettingsWriting, EmptyValueRemovesOnlyTheFirstDuplicate) {
  NameValueList list = ListOf({u"LIBRARIES=a.zav", u"LIBRARIES=b.zav"});
  list.SetValue(u"LIBRARIES", u"");
  EXPECT_EQ(U8(list.RawValue(u"LIBRARIES")), "b.zav");
}

TEST(SettingsText, SplitsAtAnyLineEnd) {
  NameValueList list;
  list.SetText(u"A=1\r\nB=2\nC=3\rD=4\r\n\r\nE=5\n");
  ASSERT_EQ(list.Lines().size(), 6u);
  EXPECT_EQ(U8(list.Lines()[2]), "C=3");
  EXPECT_EQ(U8(list.Lines()[3]), "D=4");
  EXPECT_EQ(U8(list.Lines()[4]), "");
  EXPECT_EQ(U8(list.Lines()[5]), "E=5");

  list.SetText(u"");
  EXPECT_TRUE(list.Lines().empty());
  list.SetText(u"\n\n");
  EXPECT_EQ(list.Lines().size(), 2u);
}

// --- files -----------------------------------------------------------------------------

TEST(SettingsFiles, SaveAndReloadKeepUnknownLinesAndOrder) {
  TempFolder folder;
  NameValueList list = ListOf({u"; my notes", u"ZZZ=last?", u"MAIN.WIDTH=800", u"", u"Unknown Thing=ü€"});
  list.SetValue(u"MAIN.WIDTH", u"900");
  ASSERT_TRUE(list.SaveToFile(folder.File("s.ini")));
  EXPECT_EQ(ReadBytes(folder.File("s.ini")),
            "; my notes\nZZZ=last?\nMAIN.WIDTH=900\n\nUnknown Thing=\xC3\xBC\xE2\x82\xAC\n");

  NameValueList again;
  ASSERT_TRUE(again.LoadFromFile(folder.File("s.ini")));
  EXPECT_EQ(again.Lines(), list.Lines());
}

TEST(SettingsFiles, EightBitTextDecodesAsWindows1252) {
  TempFolder folder;
  WriteBytes(folder.File("old.ini"), "NAME=Caf\xE9 \x80\r\nNEXT=1\r\n");
  NameValueList list;
  ASSERT_TRUE(list.LoadFromFile(folder.File("old.ini")));
  EXPECT_EQ(list.RawValue(u"NAME"), u"Caf\u00E9 \u20AC");
  EXPECT_EQ(U8(list.RawValue(u"NEXT")), "1");
}

TEST(SettingsFiles, Utf8WithByteOrderMark) {
  TempFolder folder;
  WriteBytes(folder.File("bom.ini"),
             "\xEF\xBB\xBF"
             "FIRST=Caf\xC3\xA9\n");
  NameValueList list;
  ASSERT_TRUE(list.LoadFromFile(folder.File("bom.ini")));
  EXPECT_EQ(list.RawValue(u"FIRST"), u"Caf\u00E9");
}

TEST(SettingsFiles, MissingFileLeavesTheListAlone) {
  TempFolder folder;
  NameValueList list = ListOf({u"KEEP=1"});
  EXPECT_FALSE(list.LoadFromFile(folder.File("absent.ini")));
  EXPECT_EQ(U8(list.RawValue(u"KEEP")), "1");
  EXPECT_FALSE(list.SaveToFile(folder.File("no-such-folder/x.ini")));
}

TEST(SettingsFiles, AFailedSaveLeavesTheOldFileByteIdenticalAndNoTemporary) {
  const std::string old = "A=1\r\n; keep me\nB=2";
  for (SaveStep step : {SaveStep::Create, SaveStep::Write, SaveStep::Sync, SaveStep::Rename}) {
    TempFolder folder;
    WriteBytes(folder.File("s.ini"), old);
    NameValueList list = ListOf({u"A=changed"});
    SaveFaultForTesting = [step](SaveStep at) { return at == step; };
    EXPECT_FALSE(list.SaveToFile(folder.File("s.ini"))) << static_cast<int>(step);
    SaveFaultForTesting = nullptr;
    EXPECT_EQ(ReadBytes(folder.File("s.ini")), old);
    const fs::path dir = fs::path(Utf16ToUtf8(folder.File("s.ini"))).parent_path();
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << static_cast<int>(step);
  }
}

TEST(SettingsFiles, ASaveKeepsTheModeAndALinksTarget) {
  TempFolder folder;
  const fs::path file(Utf16ToUtf8(folder.File("real.ini")));
  const fs::path link(Utf16ToUtf8(folder.File("link.ini")));
  WriteBytes(file, "A=1\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(file, link);
  ASSERT_TRUE(ListOf({u"A=2"}).SaveToFile(folder.File("link.ini")));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(file), "A=2\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// --- accelerators ----------------------------------------------------------------------

TEST(SettingsAccelerators, SingleAmpersandsGoDoubledOnesStayOnce) {
  EXPECT_EQ(U8(StripAccelerators(u"&a")), "a");
  EXPECT_EQ(U8(StripAccelerators(u"a&&b")), "a&b");
  EXPECT_EQ(U8(StripAccelerators(u"a&")), "a");
  EXPECT_EQ(U8(StripAccelerators(u"&&&x&y")), "&xy");
  EXPECT_EQ(U8(StripAccelerators(u"plain")), "plain");
}

// --- the factory settings file ---------------------------------------------------------

class FactorySettings : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(list.LoadFromFile(Utf8ToUtf16(ZAVTA_SOURCE_DIR "/resources/default.ini.org"))); }
  TestState ts;
  EnvState env{*ts.S};
  NameValueList list;
};

TEST_F(FactorySettings, EveryRequiredKeyIsAnIntegerAndLibrariesAreListed) {
  env.DebugLogMode = true;
  std::vector<std::u16string> keys = {u"MAIN.WIDTH", u"MAIN.HEIGHT", u"OPENGLMODE", u"FONT.CHARSET",
                                      u"FONT.SIZE",  u"USERS",       u"MAXPRINT",   u"HINTDELAYMS"};
  for (const char16_t* window : {u"PLANE", u"OUTPUT", u"COMMAND", u"MEMORY", u"WEB"})
    for (const char16_t* part : {u".STATE", u".LEFT", u".TOP", u".WIDTH", u".HEIGHT"})
      keys.push_back(std::u16string(window) + part);
  for (const std::u16string& key : keys) {
    EXPECT_FALSE(list.RawValue(key).empty()) << U8(key);
    EXPECT_NE(GetIntValue(env, list, key, INT_MIN), INT_MIN) << U8(key);
  }
  EXPECT_TRUE(env.PendingDebugLog.empty());
  EXPECT_EQ(U8(list.RawValue(u"LIBRARIES")), "Logo.zav,Turtle.zav,Graphix.zav,");
}
