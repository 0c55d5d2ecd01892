// Source files: both encodings read into editor text, saving writes FF FE
// UTF-16LE with CR LF and keeps the old file when it fails, new names skip
// files and windows that exist.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Text.h"
#include "core/Trans.h"
#include "environment/SourceFile.h"
#include "tests/support/TestState.h"

namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::filesystem::path Scratch(const char* name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zavta-sourcefile-test";
  std::filesystem::create_directories(folder);
  return folder / name;
}

const std::filesystem::path kData = std::filesystem::path(ZAVTA_SOURCE_DIR) / "tests/environment/data";

}  // namespace

TEST(SourceFiles, BothEncodingsReadAndSaveBackAsUtf16WithCrLf) {
  TestState t;
  struct Case {
    const char* File;
    std::u16string Expected;
  } cases[] = {
      {"Latin1252.zav", u"print 'caf\u00e9 \u20ac'\n; \u2039name\u203a\nend"},
      {"Utf16Lambda.zav", u"make \"\u03bb 1\nprint :\u03bb"},
  };
  for (const Case& c : cases) {
    const std::u16string text = LoadSourceText(*t.S, Utf8ToUtf16((kData / c.File).string()));
    EXPECT_EQ(U8(text), U8(c.Expected)) << c.File;
    const std::filesystem::path saved = Scratch(c.File);
    std::u16string crlf = ToCrLf(text);
    ASSERT_FALSE(SaveSourceText(Utf8ToUtf16(saved.string()), crlf).has_value());
    const std::string bytes = ReadBytes(saved);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    EXPECT_EQ(bytes.size(), 2 + crlf.size() * 2);
    EXPECT_EQ(LoadSourceText(*t.S, Utf8ToUtf16(saved.string())), text);
  }
}

TEST(SourceFiles, BadFilesReadAsTextOrNothing) {
  TestState t;
  EXPECT_EQ(LoadSourceText(*t.S, u"/nonexistent/folder/x.zav"), u"");
  const std::filesystem::path binary = Scratch("binary.zav");
  std::ofstream(binary, std::ios::binary) << std::string("ab\r\ncd\0\x01\x02\xff", 10);
  EXPECT_EQ(LoadSourceText(*t.S, Utf8ToUtf16(binary.string())), u"ab\ncd");
  EXPECT_EQ(LoadSourceText(*t.S, Utf8ToUtf16(Scratch("").string())), u"");  // a folder
  // A file that opens but cannot be read (even by root: reading a process's
  // memory at address 0 fails).
  EXPECT_EQ(LoadSourceText(*t.S, u"/proc/self/mem"), u"");
  // A large file reads whole.
  const std::filesystem::path large = Scratch("large.zav");
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += "print 12345\r\n";
  std::ofstream(large, std::ios::binary) << bytes;
  EXPECT_EQ(LoadSourceText(*t.S, Utf8ToUtf16(large.string())).size(), 200000u * 12);
}

TEST(SourceFiles, AFailedSaveKeepsTheOldFile) {
  const std::filesystem::path kept = Scratch("kept.zav");
  ASSERT_FALSE(SaveSourceText(Utf8ToUtf16(kept.string()), u"old").has_value());
  const std::string before = ReadBytes(kept);
  // A path under a regular file fails even for root.
  const std::u16string under = Utf8ToUtf16((kept / "child.zav").string());
  EXPECT_TRUE(SaveSourceText(under, u"new").has_value());
  EXPECT_EQ(ReadBytes(kept), before);
  // A target that is a folder cannot be replaced: the folder stays.
  const std::filesystem::path folder = Scratch("folder.zav");
  std::filesystem::create_directories(folder / "inside");
  EXPECT_TRUE(SaveSourceText(Utf8ToUtf16(folder.string()), u"new").has_value());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "inside"));
  EXPECT_FALSE(std::filesystem::exists(Scratch("folder.zav.saving")));
}

TEST(SourceFiles, NewNamesSkipExistingFilesAndOpenWindows) {
  const std::filesystem::path folder = Scratch("new");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "New File 0.zav") << "x";
  const std::u16string base = Utf8ToUtf16(folder.string()) + u"/";
  int number = -1;
  const auto none = [](const std::u16string&) { return false; };
  EXPECT_EQ(NewSourceFileName(base, none, number), base + u"New File 1.zav");
  EXPECT_EQ(number, 1);
  const auto oneOpen = [](const std::u16string& title) { return title == u"New File 1"; };
  EXPECT_EQ(NewSourceFileName(base, oneOpen, number), base + u"New File 2.zav");
}
