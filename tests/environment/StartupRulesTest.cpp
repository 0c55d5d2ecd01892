// The reopen list's order, matching and save; the machine id and the trust of
// a stored pixel format.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/Text.h"
#include "environment/EnvState.h"
#include "environment/ReopenList.h"
#include "environment/StartupRules.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

class StartupRulesTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zavta-startup-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    base = fs::path(pattern);
    env.ProgramFolder = FolderText(base / "app" / "System");
    env.RootFolder = FolderText(base / "app");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
  std::vector<std::string> Captions(const ReopenList& list) {
    std::vector<std::string> out;
    for (const ReopenEntry& entry : list.Entries()) out.push_back(U8(entry.Caption));
    return out;
  }

  fs::path base;
  TestState state;
  EnvState env{*state.S};
};

TEST(ReopenNames, OneNameEndsTheOtherOnlyAtAFolder) {
  const struct {
    const char16_t *A, *B;
    bool Same;
  } cases[] = {
      {u"/x/a.zav", u"/x/a.zav", true},  {u"/x/a.zav", u"a.zav", true},   {u"a.zav", u"/x/a.zav", true},
      {u"/x/ba.zav", u"a.zav", false},   {u"ba.zav", u"a.zav", false},    {u"/x/a.zav", u"/x/A.zav", false},
      {u"/x/a.zav", u"/y/a.zav", false}, {u"x/a.zav", u"/w/x/a.zav", true},
  };
  for (const auto& c : cases) EXPECT_EQ(NamesSameFile(c.A, c.B), c.Same) << U8(c.A) << " " << U8(c.B);
}

TEST_F(StartupRulesTest, AddPutsTheFileOnTopOnceWithAShortCaption) {
  ReopenList list;
  list.Add(env, env.ProgramFolder + u"Logo.zav");
  list.Add(env, env.RootFolder + u"Examples/ba.zav");
  list.Add(env, u"/tmp/a.zav");
  list.Add(env, env.ProgramFolder + u"Logo.zav");
  EXPECT_EQ(Captions(list), (std::vector<std::string>{"Logo.zav", "/tmp/a.zav", "Examples/ba.zav"}));
  EXPECT_EQ(U8(list.Entries().front().FullPath), U8(env.ProgramFolder + u"Logo.zav"));
}

TEST_F(StartupRulesTest, TwelveEntriesSaveTheTenNewestAndRestoreInOrder) {
  ReopenList list;
  for (int i = 0; i < 12; ++i) list.Add(env, u"/f/file" + Utf8ToUtf16(std::to_string(i)) + u".zav");
  env.Settings.SetText(u"KEEP=1\nREOPEN3=old");
  list.SaveToSettings(env);
  EXPECT_EQ(U8(env.Settings.RawValue(u"REOPEN0")), "/f/file11.zav");
  EXPECT_EQ(U8(env.Settings.RawValue(u"REOPEN9")), "/f/file2.zav");
  EXPECT_FALSE(env.Settings.Contains(u"REOPEN10"));
  EXPECT_EQ(env.Settings.Lines().front(), u"KEEP=1");

  ReopenList again;
  again.LoadFromSettings(env);
  ASSERT_EQ(again.Entries().size(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(again.Entries()[i].Caption, list.Entries()[i].Caption) << i;
}

TEST_F(StartupRulesTest, TheMachineIdIsTheFirstEightHexDigits) {
  const struct {
    const char* Content;
    const char* Id;
  } cases[] = {
      {"00ab12cd9f8e7d6c5b4a39281706f5e4\n", "AB12CD"},
      {"DEADBEEF", "DEADBEEF"},
      {"1234567", ""},   // short
      {"12345g78", ""},  // not hexadecimal
      {"", ""},
  };
  for (const auto& c : cases) {
    WriteBytes(base / "machine-id", c.Content);
    EXPECT_EQ(U8(GetMachineId((base / "machine-id").string())), c.Id) << c.Content;
  }
  EXPECT_EQ(U8(GetMachineId((base / "missing").string())), "");
}

TEST_F(StartupRulesTest, AStoredPixelFormatIsTrustedOnlyOnItsMachine) {
  const struct {
    const char16_t* Settings;
    const char16_t* Machine;
    int Mode;
  } cases[] = {
      {u"ZAVTAID=AB12\nOPENGLMODE=7", u"AB12", 7}, {u"ZAVTAID=AB12\nOPENGLMODE=7", u"AB13", 0},
      {u"OPENGLMODE=7", u"AB12", 0},               {u"ZAVTAID=\nOPENGLMODE=7", u"", 0},
      {u"ZAVTAID=AB12\nOPENGLMODE=x", u"AB12", 0},
  };
  for (const auto& c : cases) {
    env.Settings.SetText(c.Settings);
    EXPECT_EQ(TrustedPixelFormat(env, c.Machine), c.Mode) << U8(c.Settings);
  }
}

}  // namespace
