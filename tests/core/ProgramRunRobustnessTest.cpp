// Whole programs run within budgets: the fuzzing seeds and the script tests
// end soundly, and programs that never end or grow without bound are
// stopped by the budgets instead.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Text.h"
#include "tests/core/support/ProgramRunCheck.h"

namespace {

std::vector<std::filesystem::path> SeedPrograms() {
  const std::filesystem::path source(ZAVTA_SOURCE_DIR);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(source / "tests" / "fuzz" / "corpus"))
    files.push_back(entry.path());
  for (const auto& entry : std::filesystem::directory_iterator(source / "tests" / "lang"))
    if (entry.path().extension() == ".zav") files.push_back(entry.path());
  return files;
}

std::u16string ReadProgram(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Utf8ToUtf16(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

}  // namespace

TEST(ProgramRunRobustness, SeedProgramsEndSoundly) {
  ProgramRunChecker checker;
  for (const auto& file : SeedPrograms()) EXPECT_EQ(checker.Run(ReadProgram(file)), "") << file;
  EXPECT_GT(checker.Reached().Ran, 60);
  EXPECT_GT(checker.Reached().Errors, 5);
  // The corpus calls an outside library once.
  EXPECT_GE(checker.Reached().NotRunnable, 1);
}

TEST(ProgramRunRobustness, BudgetsStopRunawayPrograms) {
  struct Case {
    const char* What;
    const char16_t* Program;
    bool NeedsAllocationWatch;  // grows faster than the pumps come
    bool MayEndInError = false;  // the stack guard may end it first
  };
  const Case cases[] = {
      {"an endless loop", u"make \"a \"true\nwhile :a [make \"y 1]", false},
      {"an endless recursion", u"to f :n\nf :n + 1\nend\nf 1", false, true},
      {"endless repeats", u"repeat 1e15 [make \"y 1]", false},
      {"a list doubled", u"make \"x [1]\nrepeat 60 [make \"x se :x :x]\nprint count :x", true},
      {"a word doubled", u"make \"x \"ab\nrepeat 60 [make \"x word :x :x]", true},
  };
  for (const Case& c : cases) {
    if (c.NeedsAllocationWatch && !ProgramRunChecker::WatchesAllocations()) continue;
    ProgramRunChecker checker;
    EXPECT_EQ(checker.Run(c.Program), "") << c.What;
    const ProgramRunChecker::Counts& ended = checker.Reached();
    EXPECT_EQ(c.MayEndInError ? ended.Stopped + ended.Errors : ended.Stopped, 1) << c.What;
  }
}

TEST(ProgramRunRobustness, ProgramsReachingOutsideAreNotRun) {
  EXPECT_FALSE(ProgramRunChecker::Runnable(u"print DLL.libz.zlibVersion"));
  EXPECT_FALSE(ProgramRunChecker::Runnable(u"print dll.zavta.LOGOSUM 1 2 dll.libm.cos 0"));
  EXPECT_TRUE(ProgramRunChecker::Runnable(u"print dll.zavta.LOGOSUM 1 2"));
  // The routines that write files or start programs answer as missing.
  ProgramRunChecker checker;
  EXPECT_EQ(checker.Run(u"print dll.zavta.LOGOWRITEFILE [a] \"x.txt"), "");
  EXPECT_EQ(checker.Reached().Errors, 1);
  EXPECT_FALSE(std::filesystem::exists("x.txt"));
}
