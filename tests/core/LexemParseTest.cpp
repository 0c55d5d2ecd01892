// The parser: mismatch errors, numbers, period insertion, commas before
// lists, positions, `to` rewriting with its header errors, translated
// keywords, words mode, the suppressed-raise rule and deep nesting.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

// English keywords and the message formats the parser fills; extra pairs
// come first, so they win over the English ones.
void UseParserTexts(TStructure& s, Pairs extra = {}) {
  Pairs pairs = std::move(extra);
  pairs.insert(pairs.end(), {{u"UNMATCHED", u"Unmatched %s"},
                             {u"BADNAME", u"%s is not a valid name"},
                             {u"BADCOMMAND", u"Bad use of %s"},
                             {u"TOODEEP", u"Nesting too deep at %s"}});
  for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
  s.Language.SetTexts(pairs);
  s.LoadKeywords();
}

// The Name=Value lines of a language file beside this test.
Pairs ReadLanguageFile(const std::string& leaf) {
  const fs::path path = fs::path(__FILE__).parent_path() / "data" / leaf;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  Pairs pairs;
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) pairs.emplace_back(Utf8ToUtf16(line.substr(0, eq)), Utf8ToUtf16(line.substr(eq + 1)));
  }
  return pairs;
}

// A fresh folder for parameter files, removed afterwards.
struct TempFolder {
  TempFolder() {
    static int counter = 0;
    Path = fs::temp_directory_path() / ("zavta-lexem-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(Path);
    fs::create_directories(Path);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
  std::u16string Folder() const { return Utf8ToUtf16(Path.string()) + u"/"; }
  fs::path Path;
};

// A UTF-16LE file with its byte-order mark, as text; "<missing>" when absent.
std::string ReadUnicodeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  return Utf16ToUtf8(text);
}

std::u16string Repeat(std::u16string_view piece, size_t n) {
  std::u16string out;
  out.reserve(piece.size() * n);
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

class ParserTest : public testing::Test {
protected:
  ParserTest() { UseParserTexts(S); }

  TAtom* Parse(std::u16string_view text) {
    const TParseResult result = ParseText(Scanner, text, u"test.zav");
    EXPECT_TRUE(result.Ok) << U8(std::u16string(text));
    return result.List;
  }
  std::string Printed(std::u16string_view text) { return U8(TAtom::ToText(S, Parse(text))); }

  // Parses a text that must raise; returns the current position then.
  TPosition ParseError(std::u16string_view text, std::string& message) {
    try {
      ParseText(Scanner, text, u"test.zav");
      ADD_FAILURE() << "no error for " << U8(std::u16string(text));
    } catch (const LanguageError& e) {
      message = U8(e.Message());
    }
    EXPECT_TRUE(Scanner.Tokens.empty());
    return S.CurrentPosition;
  }

  // The n-th cell of a list (0-based).
  static TAtom* Cell(TAtom* list, int n) {
    for (; n > 0 && list != nullptr; --n) list = list->Right;
    return list;
  }

  TestState T;
  TStructure& S = *T.S;
  TScanner Scanner{S};
};

struct MismatchCase {
  const char16_t* Text;
  const char* Key;
  const char* Message;
  int32_t StartPos, EndPos, Line;
};

}  // namespace

// --- bracket mismatches ----------------------------------------------------------

TEST_F(ParserTest, MismatchTableRowByRow) {
  const MismatchCase cases[] = {
      // Top level.
      {u"a ]", "does-not-match-beg-br", "Unmatched ]", 3, 4, 1},
      {u"a )", "does-not-match-beg-par", "Unmatched )", 3, 4, 1},
      {u"a\nend", "does-not-match-beg-end", "Unmatched end", 4, 7, 2},
      // Inside "[".
      {u"x [a b", "does-not-match-br-eof", "Unmatched [", 3, 4, 1},
      {u"[a )", "does-not-match-br-par", "Unmatched [", 4, 5, 1},
      {u"[a END", "does-not-match-br-end", "Unmatched [", 4, 7, 1},
      // Inside "(".
      {u"x (a", "does-not-match-par-eof", "Unmatched (", 3, 4, 1},
      {u"x ( )", "does-not-match-par-par", "Unmatched (", 5, 6, 1},
      {u"(\n)", "does-not-match-par-par", "Unmatched (", 4, 5, 2},
      {u"(a ]", "does-not-match-par-br", "Unmatched (", 4, 5, 1},
      {u"(a end", "does-not-match-par-end", "Unmatched (", 4, 7, 1},
      // Inside a `to` body.
      {u"x\nto f :a", "does-not-match-to-eof", "Unmatched to", 4, 6, 2},
      {u"To f ]", "does-not-match-to-br", "Unmatched To", 6, 7, 1},
      {u"to f )", "does-not-match-to-par", "Unmatched to", 6, 7, 1},
  };
  for (const MismatchCase& c : cases) {
    std::string message;
    const TPosition p = ParseError(c.Text, message);
    const std::string text = U8(c.Text);
    EXPECT_EQ(U8(p.Topic), c.Key) << text;
    EXPECT_EQ(message, c.Message) << text;
    EXPECT_EQ(p.StartPos, c.StartPos) << text;
    EXPECT_EQ(p.EndPos, c.EndPos) << text;
    EXPECT_EQ(p.Line, c.Line) << text;
    EXPECT_EQ(U8(p.SourceName.str()), "test.zav") << text;
    ASSERT_FALSE(S.ErrorTrace.empty());
    EXPECT_EQ(U8(S.ErrorTrace.back().Topic), c.Key) << text;
  }
}

TEST_F(ParserTest, QuotedBracketsAndKeywordsAreElements) { EXPECT_EQ(Printed(u"'[' ')' 'end' 'to'"), "[[ ) end to]"); }

TEST_F(ParserTest, OpenBraceCommentIsSkippedOnlyWhenLong) {
  Scanner.ScannerErrorsArmed = false;
  EXPECT_EQ(Printed(u"a {xy"), "[a {xy]");
  Scanner.ScannerErrorsArmed = false;
  EXPECT_EQ(Printed(u"a {" + Repeat(u"x", 300)), "[a]");
  EXPECT_EQ(Printed(u"a {x} b ; c"), "[a b]");
}

TEST_F(ParserTest, EmptyTextGivesNoList) {
  const TParseResult result = ParseText(Scanner, u" { here } ; nothing", u"");
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.List, nullptr);
}

// --- elements ---------------------------------------------------------------------

TEST_F(ParserTest, NumbersAndWords) {
  struct Case {
    const char16_t* Token;
    bool Number;
    long double Value;
    const char* Text;
  };
  const Case cases[] = {
      {u"5", false, 0, "5"},    {u"12", true, 12, ""},         {u"+5", true, 5, ""},          {u"-5", true, -5, ""},
      {u"1e5", true, 1e5L, ""}, {u"2.5", true, 2.5L, ""},      {u"1.5.2", false, 0, "1.5.2"}, {u".5", false, 0, ".5"},
      {u"1e", false, 0, "1e"},  {u"12abc", false, 0, "12abc"}, {u"007", true, 7, ""},         {u"'12'", false, 0, "12"},
      {u"-", false, 0, "-"},    {u"1e-3", true, 0.001L, ""},   {u"a1", false, 0, "a1"},
  };
  for (const Case& c : cases) {
    // Inside "[" a sign begins the number that follows it.
    std::u16string text = u"[";
    text += c.Token;
    text += u"]";
    TAtom* list = Parse(text);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->Left, nullptr);
    const TAtom* element = list->Left->Left;
    ASSERT_NE(element, nullptr) << U8(c.Token);
    ASSERT_EQ(list->Left->Right, nullptr) << U8(c.Token);
    if (c.Number) {
      EXPECT_EQ(element->Kind, akNumber) << U8(c.Token);
      EXPECT_EQ(element->Number, c.Value) << U8(c.Token);
    } else {
      EXPECT_EQ(element->Kind, akWord) << U8(c.Token);
      EXPECT_EQ(U8(element->Text), c.Text);
    }
  }
}

TEST_F(ParserTest, QuotedElementsAreFlagged) {
  TAtom* list = Parse(u"'it''s' plain");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(U8(list->Left->Text), "it's");
  EXPECT_TRUE(list->Left->Flags & afQuoted);
  EXPECT_FALSE(list->Right->Left->Flags & afQuoted);
}

TEST_F(ParserTest, PeriodBeforeGluedParenthesis) {
  struct Case {
    const char16_t* Text;
    const char* Printed;
  };
  const Case cases[] = {
      {u"f(1)", "[f . (1)]"},           {u"f (1)", "[f (1)]"},
      {u"x1(2)", "[x1 . (2)]"},         {u"12(2)", "[12 . (2)]"},
      {u"a#(1)", "[a# . (1)]"},         {u"a?(1)", "[a? . (1)]"},
      {u"\u00E9(1)", "[\u00E9 . (1)]"}, {u"\u0436(1)", "[\u0436 . (1)]"},
      {u"[a](1)", "[[a] . (1)]"},       {u"[](1)", "[[] . (1)]"},
      {u"(a)(1)", "[(a) . (1)]"},       {u"(a) (1)", "[(a) (1)]"},
      {u"a_(1)", "[a_ (1)]"},           {u"a+(1)", "[a + (1)]"},
      {u"\"(1)", "[\" (1)]"},           {u":(1)", "[: (1)]"},
      {u"(f(1))", "[(f . (1))]"},       {u"'a'(1)", "[a (1)]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Printed(c.Text), c.Printed) << U8(c.Text);
}

TEST_F(ParserTest, CommaBeforeListGivesWayToTheList) {
  EXPECT_EQ(Printed(u"print\n[1 2]"), "[print [1 2]]");
  EXPECT_EQ(Printed(u"a , [b]"), "[a [b]]");
  EXPECT_EQ(Printed(u"a\nb"), "[a , b]");
  EXPECT_EQ(Printed(u"a ',' [b]"), "[a , [b]]");
  EXPECT_EQ(Printed(u"[a\n[b]]"), "[[a [b]]]");
}

TEST_F(ParserTest, LineEndsInsideParenthesesAreSkipped) {
  EXPECT_EQ(Printed(u"(1\n+ 2\r\n)"), "[(1 + 2)]");
  EXPECT_EQ(Printed(u"(1 , 2)"), "[(1 , 2)]");  // a written comma stays
  TAtom* list = Parse(u"(a b)");
  EXPECT_EQ(list->Kind, akList);
  ASSERT_NE(list->Left, nullptr);
  EXPECT_EQ(list->Left->Kind, akExpression);
  EXPECT_EQ(list->Left->Right->Kind, akExpression);
}

TEST_F(ParserTest, PositionsOfElementsAndBracketedCells) {
  TAtom* list = Parse(u"x [a b]\n (c)");
  ASSERT_NE(list, nullptr);
  const TPosition x = TAtom::GetPosition(list->Left);
  EXPECT_EQ(x.StartPos, 1);
  EXPECT_EQ(x.EndPos, 2);
  EXPECT_EQ(x.Line, 1);
  EXPECT_EQ(U8(x.SourceName.str()), "test.zav");
  EXPECT_EQ(U8(x.SourceText.str()), "x [a b]\r\n (c)");

  TAtom* bracket = Cell(list, 1);
  ASSERT_TRUE(bracket->Position());
  EXPECT_EQ(bracket->Position()->StartPos, 3);
  EXPECT_EQ(bracket->Position()->EndPos, 8);
  const TPosition b = TAtom::GetPosition(bracket->Left->Right->Left);
  EXPECT_EQ(b.StartPos, 6);

  TAtom* paren = Cell(list, 3);
  ASSERT_TRUE(paren->Position());
  EXPECT_EQ(paren->Position()->StartPos, 11);
  EXPECT_EQ(paren->Position()->EndPos, 14);
  EXPECT_EQ(paren->Position()->Line, 2);
}

TEST_F(ParserTest, PositionsShareTheSourceText) {
  TAtom* list = Parse(u"a b c");
  ASSERT_NE(list, nullptr);
  const TPosition& first = *list->Left->Position();
  for (TAtom* cell = list; cell != nullptr; cell = cell->Right) {
    EXPECT_TRUE(cell->Position()->SourceText.SameObject(first.SourceText));
    EXPECT_TRUE(cell->Left->Position()->SourceText.SameObject(first.SourceText));
  }
}

TEST_F(ParserTest, LineBreakStylesGiveTheSameTokensAndPositions) {
  const std::u16string texts[] = {u"a -1\nb\n\nc", u"a -1\rb\r\rc", u"a -1\r\nb\r\n\r\nc", u"a -1\r\nb\n\rc"};
  for (const std::u16string& text : texts) {
    TAtom* list = Parse(text);
    EXPECT_EQ(U8(TAtom::ToText(S, list)), "[a -1 , b , , c]");
    const TPosition c = TAtom::GetPosition(Cell(list, 6)->Left);
    EXPECT_EQ(c.StartPos, 12);
    EXPECT_EQ(c.Line, 4);
  }
}

// --- `to` definitions ---------------------------------------------------------------

TEST_F(ParserTest, ToWithRightInputsOnly) {
  EXPECT_EQ(Printed(u"to square :x\n  print :x * :x\nend"), "[make local \" square [[: x] print : x * : x ,]]");
  EXPECT_EQ(Printed(u"to f end"), "[make local \" f [[]]]");
  EXPECT_EQ(Printed(u"to f \"a :b end"), "[make local \" f [[\" a : b]]]");
  // The body's own statement separators stay.
  EXPECT_EQ(Printed(u"to f\n\na\nb\nend x"), "[make local \" f [[] a , b ,] x]");
}

TEST_F(ParserTest, ToWithLeftAndRightInputs) {
  EXPECT_EQ(Printed(u"to :a plus :b\noutput :a\nend"), "[make local \" plus [[: a] [: b] output : a ,]]");
  EXPECT_EQ(Printed(u"to :a :b pair end"), "[make local \" pair [[: a : b] []]]");
}

TEST_F(ParserTest, DefinitionPositions) {
  TAtom* list = Parse(u"to f :x\nx\nend");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(TAtom::GetPosition(list->Left).StartPos, 1);
  EXPECT_EQ(TAtom::GetPosition(Cell(list, 3)->Left).StartPos, 4);  // the name
  TAtom* definition = Cell(list, 4);
  ASSERT_TRUE(definition->Position());
  EXPECT_EQ(definition->Position()->StartPos, 1);
  EXPECT_EQ(definition->Position()->EndPos, 16);
}

TEST_F(ParserTest, NestedDefinitionsAndDefinitionsInLists) {
  EXPECT_EQ(Printed(u"to f to g end end"), "[make local \" f [[] make local \" g [[]]]]");
  EXPECT_EQ(Printed(u"[to f end]"), "[[make local \" f [[]]]]");
  EXPECT_EQ(Printed(u"(to f end)"), "[(make local \" f [[]])]");
}

struct HeaderCase {
  const char16_t* Text;
  const char* Key;
  const char* Message;
  std::vector<std::pair<int, std::string>> Files;  // number, content
  int32_t StartPos;
};

TEST_F(ParserTest, HeaderErrorsWithTheirParameterFiles) {
  const HeaderCase cases[] = {
      {u"to f : end", "does-not-match-to-colon-eof", "Unmatched :", {{4, ":"}, {5, "1"}}, 6},
      {u"to f :a \" end", "does-not-match-to-colon-eof", "Unmatched \"", {{4, "\""}, {5, "2"}}, 9},
      {u"to :\nf end", "does-not-match-to-colon-eol", "Unmatched :", {{4, ":"}, {5, "1"}}, 4},
      {u"to f :a :\nend", "does-not-match-to-colon-eol", "Unmatched :", {{4, ":"}, {5, "2"}}, 9},
      {u"to f :[a] end",
       "bad-name-to-param",
       "[a] is not a valid name",
       {{4, "[a]"}, {5, "a list"}, {6, "the list"}, {7, "1"}, {8, ":"}},
       7},
      {u"to f :x :12 end",
       "bad-name-to-param",
       "12 is not a valid name",
       {{4, "12"}, {5, "a number"}, {6, "the number"}, {7, "2"}, {8, ":"}},
       10},
      {u"to :: f end",
       "bad-name-to-param",
       ": is not a valid name",
       {{4, ":"}, {5, "a word"}, {6, "the word"}, {7, "1"}, {8, ":"}},
       5},
      {u"to end", "does-not-match-to-name-eof", "Bad use of to", {}, 1},
      {u"to :a end", "does-not-match-to-name-eof", "Bad use of to", {}, 1},
      {u"to\nf end", "does-not-match-to-name-eol", "Bad use of to", {}, 1},
      {u"to (x) end",
       "bad-name-to-name",
       "(x) is not a valid name",
       {{4, "(x)"}, {5, "an expression"}, {6, "the expression"}},
       4},
      {u"to 12 end", "bad-name-to-name", "12 is not a valid name", {{4, "12"}, {5, "a number"}, {6, "the number"}}, 4},
  };
  for (const HeaderCase& c : cases) {
    TempFolder folder;
    S.HelpFolder = folder.Folder();
    std::string message;
    const TPosition p = ParseError(c.Text, message);
    const std::string text = U8(c.Text);
    EXPECT_EQ(U8(p.Topic), c.Key) << text;
    EXPECT_EQ(message, c.Message) << text;
    EXPECT_EQ(p.StartPos, c.StartPos) << text;
    for (const auto& [number, content] : c.Files) {
      const std::string leaf = "$$$error-0" + std::to_string(number) + "$$$.txt";
      EXPECT_EQ(ReadUnicodeFile(folder.Path / leaf), U8(EscapeXml(S, U16(content), true))) << text << " " << leaf;
    }
    if (c.Files.empty()) {
      EXPECT_TRUE(fs::is_empty(folder.Path)) << text;
    }
  }
}

// --- translated keywords ---------------------------------------------------------------

TEST(ParserLanguage, TranslatedToAndEnd) {
  TestState t;
  TStructure& s = *t.S;
  UseParserTexts(s, ReadLanguageFile("Dual.txt"));
  TScanner scanner(s);
  auto printed = [&](std::u16string_view text) {
    const TParseResult result = ParseText(scanner, text, u"");
    EXPECT_TRUE(result.Ok);
    return U8(TAtom::ToText(s, result.List));
  };
  EXPECT_EQ(printed(u"lerne f :x drucke :x ENDE"), "[setze lokal \" f [[: x] drucke : x]]");
  // Without dual-language support the English words are plain words.
  EXPECT_EQ(printed(u"to f end"), "[to f end]");

  s.Language.DualLanguageSupport = true;
  EXPECT_EQ(printed(u"TO f :x END"), "[setze lokal \" f [[: x]]]");
  EXPECT_EQ(printed(u"lerne f end"), "[setze lokal \" f [[]]]");
  try {
    ParseText(scanner, u"x End", u"");
    ADD_FAILURE() << "no error";
  } catch (const LanguageError&) {
    EXPECT_EQ(U8(s.CurrentPosition.Topic), "does-not-match-beg-end");
  }
}

// --- words mode and letter case ------------------------------------------------------------

TEST_F(ParserTest, TokensToWordsKeepsEveryTokenRaw) {
  const TParseResult result = ParseText(Scanner, u"a 'b c' ; x\n[y] (-2)", u"", 0, 0, ParseAs::Words);
  ASSERT_TRUE(result.Ok);
  EXPECT_EQ(U8(TAtom::ToText(S, result.List)), "[a 'b c' ; x , [ y ] ( -2 )]");
  for (TAtom* cell = result.List; cell != nullptr; cell = cell->Right) EXPECT_EQ(cell->Left->Kind, akWord);
}

TEST_F(ParserTest, WordsWithCommentsOff) {
  const TParseResult result = ParseText(Scanner, u"a;'b {c}", u"", 0, 0, ParseAs::Words, true);
  ASSERT_TRUE(result.Ok);
  EXPECT_EQ(U8(TAtom::ToText(S, result.List)), "[a ; ' b { c }]");
}

TEST_F(ParserTest, CaseInsensitiveModeUpperCasesUnquotedTokens) {
  S.CaseSensitive = false;
  S.LoadKeywords();
  EXPECT_EQ(Printed(u"abc 'Def' x.y"), "[ABC Def X.Y]");
  EXPECT_EQ(Printed(u"To f End"), "[MAKE LOCAL \" F [[]]]");
  const TParseResult words = ParseText(Scanner, u"abc 'Def'", u"", 0, 0, ParseAs::Words);
  EXPECT_EQ(U8(TAtom::ToText(S, words.List)), "[ABC 'Def']");
}

// --- errors that do not propagate ------------------------------------------------------------

TEST_F(ParserTest, SuppressedScanErrorStillEndsTheParse) {
  // A position seeded with line -1 makes the scanner's raise a no-op.
  const TParseResult result = ParseText(Scanner, u"print 'open", u"", 0, -1);
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.List, nullptr);
  EXPECT_TRUE(Scanner.Tokens.empty());
  EXPECT_TRUE(S.ErrorTrace.empty());
  // The next scan reports again.
  std::string message;
  EXPECT_EQ(U8(ParseError(u"'open", message).Topic), "does-not-match-quo-quo");
}

TEST_F(ParserTest, SilentScannerEndsTheParseAtTheFirstError) {
  TScanner silent(S, TScannerOptions{false, false});
  const struct {
    const char16_t* Text;
    const char* Key;
  } cases[] = {
      {u"a ] [", "does-not-match-beg-br"},     {u"[a", "does-not-match-br-eof"},   {u"to 12 end", "bad-name-to-name"},
      {u"to f :[a] end", "bad-name-to-param"}, {u"a {", "does-not-match-rem-eof"},
  };
  TempFolder folder;
  S.HelpFolder = folder.Folder();
  for (const auto& c : cases) {
    const TParseResult result = ParseText(silent, c.Text, u"");
    EXPECT_FALSE(result.Ok) << U8(c.Text);
    EXPECT_EQ(result.List, nullptr);
    ASSERT_TRUE(silent.LastError.has_value()) << U8(c.Text);
    EXPECT_EQ(U8(silent.LastError->Key), c.Key);
    EXPECT_TRUE(silent.Tokens.empty());
  }
  EXPECT_TRUE(S.ErrorTrace.empty());
  EXPECT_TRUE(fs::is_empty(folder.Path));  // no parameter files either
  const TParseResult fine = ParseText(silent, u"[a]", u"");
  EXPECT_TRUE(fine.Ok);
  EXPECT_FALSE(silent.LastError.has_value());
}

// --- nesting -----------------------------------------------------------------------------

TEST_F(ParserTest, NestingUpToTheLimitParses) {
  const size_t n = kMaxParseNesting;
  TAtom* list = Parse(Repeat(u"[", n) + u"x" + Repeat(u"]", n));
  for (size_t i = 0; i <= n; ++i) {  // the statement list, then n lists
    ASSERT_NE(list, nullptr);
    list = list->Left;
  }
  ASSERT_TRUE(TAtom::IsWord(list));
  EXPECT_EQ(U8(list->Text), "x");
  EXPECT_NE(Parse(Repeat(u"(", n) + u"1" + Repeat(u")", n)), nullptr);
  EXPECT_NE(Parse(Repeat(u"to f ", n) + Repeat(u"end ", n)), nullptr);
}

TEST_F(ParserTest, DeepNestingRaisesTooDeepAtTheOpeningToken) {
  const struct {
    std::u16string Text;
    const char* Message;
    int32_t StartPos, EndPos;
  } cases[] = {
      {Repeat(u"[", 100000), "Nesting too deep at [", 1001, 1002},
      {Repeat(u"(", 100000), "Nesting too deep at (", 1001, 1002},
      {Repeat(u"to a ", 100000), "Nesting too deep at to", 5001, 5003},
      {Repeat(u"([", 50000), "Nesting too deep at (", 1001, 1002},
  };
  for (const auto& c : cases) {
    std::string message;
    const TPosition p = ParseError(c.Text, message);
    EXPECT_EQ(U8(p.Topic), "too-deep");
    EXPECT_EQ(message, c.Message);
    EXPECT_EQ(p.StartPos, c.StartPos);
    EXPECT_EQ(p.EndPos, c.EndPos);
  }
  TScanner silent(S, TScannerOptions{false, false});
  const TParseResult result = ParseText(silent, Repeat(u"[", 100000), u"");
  EXPECT_FALSE(result.Ok);
  ASSERT_TRUE(silent.LastError.has_value());
  EXPECT_EQ(U8(silent.LastError->Key), "too-deep");
}
