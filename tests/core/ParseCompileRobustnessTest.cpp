// Random and mutated program texts through the parser and the compiler:
// only language errors may escape, and the invariants of the checker hold.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/Text.h"
#include "tests/core/support/ParseCompileCheck.h"

namespace {

// Pieces the generator strings together: structure, keywords, markers, the
// fixture's procedure names, and units from 128 up (surrogate pairs too).
const std::vector<std::u16string>& Fragments() {
  static const std::vector<std::u16string> pieces = {u"[",
                                                     u"]",
                                                     u"(",
                                                     u")",
                                                     u"{",
                                                     u"}",
                                                     u"'",
                                                     u"''",
                                                     u"\"",
                                                     u":",
                                                     u",",
                                                     u";",
                                                     u"\r",
                                                     u"\n",
                                                     u"\r\n",
                                                     u" ",
                                                     u" ",
                                                     u" ",
                                                     u".",
                                                     u"+",
                                                     u"-",
                                                     u"*",
                                                     u"/",
                                                     u"^",
                                                     u"<",
                                                     u">",
                                                     u"=",
                                                     u"<=",
                                                     u"!",
                                                     u"#",
                                                     u"?",
                                                     u"\x01",
                                                     u"\x02",
                                                     u"\x01"
                                                     u"12\x02",
                                                     u"0",
                                                     u"1",
                                                     u"5",
                                                     u"2.5",
                                                     u"1e5",
                                                     u"e",
                                                     u"-3",
                                                     u"to",
                                                     u"end",
                                                     u"TO",
                                                     u"END",
                                                     u"make",
                                                     u"ob",
                                                     u"print",
                                                     u"run",
                                                     u"if",
                                                     u"while",
                                                     u"repeat",
                                                     u"output",
                                                     u"local",
                                                     u"dump",
                                                     u"lambda",
                                                     u"dll.",
                                                     u"dll.zavta.LOGOSUM",
                                                     u"dll.lib.fn",
                                                     u"sq",
                                                     u"plus",
                                                     u"minus",
                                                     u"fact",
                                                     u"many",
                                                     u"byname",
                                                     u"strong",
                                                     u"weak",
                                                     u"nanp",
                                                     u"infp",
                                                     u"lam",
                                                     u"obj.size",
                                                     u"obj.color",
                                                     u"obj.",
                                                     u"v",
                                                     u"assoc",
                                                     u"x",
                                                     u"abc",
                                                     u"\u00E9",
                                                     u"\u0416",
                                                     u"\u20AC",
                                                     u"\U0001F600",
                                                     std::u16string(1, char16_t(0xD800)),
                                                     u"\u00A0",
                                                     u"\u008B",
                                                     u"\t"};
  return pieces;
}

// Mostly words and blanks, so that a good share of the texts parses and
// reaches the compiler; structure and odd units often enough to break it.
std::u16string RandomText(std::mt19937& rng, size_t maxUnits) {
  static const std::vector<std::u16string> words = {
      u"make",   u"ob",          u"print",   u"run",  u"if",       u"while",     u"repeat",    u"output", u"local",
      u"dump",   u"lambda",      u"sq",      u"plus", u"minus",    u"fact",      u"many",      u"byname", u"strong",
      u"weak",   u"nanp",        u"infp",    u"lam",  u"obj.size", u"obj.color", u"v",         u"assoc",  u"\"x",
      u":v",     u"1",           u"2.5",     u"-3",   u"1e5",      u"true",      u"[print 1]", u"[]",     u"(1)",
      u"(sq 2)", u"dll.zavta.F", u"unknown", u"a.b",  u"+",        u"-",         u"*",         u"<",      u"="};
  const auto& pieces = Fragments();
  std::uniform_int_distribution<size_t> pickWord(0, words.size() - 1);
  std::uniform_int_distribution<size_t> pickPiece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> kind(0, 9);
  const size_t target = std::uniform_int_distribution<size_t>(0, maxUnits)(rng);
  std::u16string text;
  while (text.size() < target) {
    const int k = kind(rng);
    if (k < 5)
      text += words[pickWord(rng)];
    else if (k < 8)
      text += k == 7 ? u"\r\n" : u" ";
    else
      text += pieces[pickPiece(rng)];
  }
  return text;
}

std::u16string Mutate(std::mt19937& rng, std::u16string text) {
  const auto& pieces = Fragments();
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> edits(1, 6);
  for (int n = edits(rng); n > 0; --n) {
    const size_t at = text.empty() ? 0 : std::uniform_int_distribution<size_t>(0, text.size())(rng);
    switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
      case 0:
        text.insert(at, pieces[pick(rng)]);
        break;
      case 1:
        if (at < text.size()) text.erase(at, std::uniform_int_distribution<size_t>(1, 4)(rng));
        break;
      default:
        if (at < text.size()) text.replace(at, 1, pieces[pick(rng)]);
        break;
    }
  }
  return text;
}

std::vector<std::u16string> CorpusTexts() {
  std::vector<std::u16string> texts;
  const std::filesystem::path folder = std::filesystem::path(ZAVTA_SOURCE_DIR) / "tests" / "fuzz" / "corpus";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    texts.push_back(Utf8ToUtf16(bytes));
  }
  return texts;
}

void RunInputs(ParseCompileChecker& checker, const std::vector<std::u16string>& inputs) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string broken = checker.Check(inputs[i], i % 5 != 0);
    if (!broken.empty()) {
      ADD_FAILURE() << broken << "\ninput #" << i << ": " << Utf16ToUtf8(inputs[i]);
      return;
    }
  }
}

}  // namespace

TEST(ParseCompileRobustness, CorpusProgramsKeepTheInvariants) {
  const std::vector<std::u16string> corpus = CorpusTexts();
  ASSERT_GE(corpus.size(), 20u);
  ParseCompileChecker checker;
  RunInputs(checker, corpus);
  EXPECT_GT(checker.Reached().Compiled, 30);
  std::printf("corpus: %d parsed, %d runs compiled, %d failed\n", checker.Reached().Parsed, checker.Reached().Compiled,
              checker.Reached().CompileErrors);
}

TEST(ParseCompileRobustness, RandomTextsKeepTheInvariants) {
  std::mt19937 rng(20261208);
  std::vector<std::u16string> inputs;
  for (int i = 0; i < 14000; ++i) inputs.push_back(RandomText(rng, 300));
  ParseCompileChecker checker;
  RunInputs(checker, inputs);
  // Random text rarely parses; still, enough of it must reach the compiler.
  EXPECT_GT(checker.Reached().Parsed, 500);
  EXPECT_GT(checker.Reached().Compiled, 1000);
  EXPECT_GT(checker.Reached().CompileErrors, 1000);
}

TEST(ParseCompileRobustness, MutatedCorpusKeepsTheInvariants) {
  const std::vector<std::u16string> corpus = CorpusTexts();
  ASSERT_FALSE(corpus.empty());
  std::mt19937 rng(7605);
  std::vector<std::u16string> inputs;
  for (int i = 0; i < 6000; ++i) inputs.push_back(Mutate(rng, corpus[static_cast<size_t>(i) % corpus.size()]));
  ParseCompileChecker checker;
  RunInputs(checker, inputs);
  EXPECT_GT(checker.Reached().Compiled, 3000);
}
