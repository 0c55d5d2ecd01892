// The scanner: token boundaries, comments and quoted texts, their errors,
// line breaks and positions, debug markers and the non-raising scanner.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Lexem.h"
#include "core/Text.h"
#include "tests/support/TestState.h"

namespace {

// English keywords plus the message formats the scanner fills.
void UseScannerTexts(TStructure& s) {
  std::vector<std::pair<std::u16string, std::u16string>> pairs{{u"UNMATCHED", u"Unmatched %s"}};
  for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
  s.Language.SetTexts(pairs);
  s.LoadKeywords();
}

// Shows a carriage return as "CR" so that token lists read well in failures.
std::string Show(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c == u'\r' ? std::string("CR") : Utf16ToUtf8(std::u16string(1, c));
  return out;
}

class ScannerTest : public testing::Test {
protected:
  ScannerTest() {
    UseScannerTexts(S);
    // A fresh source position with a line, as the parse entry makes it.
    MakeSourcePos(S.ParsePosition, u"", u"", 0, 0, kAnyDepth);
  }

  // Scans the text as given (no line-break normalisation) and returns the
  // tokens as written.
  std::vector<std::string> Tokens(std::u16string_view text, bool commentsOff = false) {
    Scanner.SetText(SharedText(std::u16string(text)));
    EXPECT_TRUE(Scanner.ScanSource(commentsOff)) << Show(text);
    std::vector<std::string> out;
    for (const TToken& token : Scanner.Tokens)
      out.push_back(Show(text.substr(static_cast<size_t>(token.Start - 1), static_cast<size_t>(token.Length))));
    return out;
  }

  // Scans a text that must raise; returns the error position.
  TPosition ScanError(std::u16string_view text, std::string& message) {
    Scanner.SetText(SharedText(std::u16string(text)));
    try {
      Scanner.ScanSource(false);
      ADD_FAILURE() << "no error for " << Show(text);
    } catch (const LanguageError& e) {
      message = U8(e.Message());
    }
    return S.CurrentPosition;
  }

  TestState T;
  TStructure& S = *T.S;
  TScanner Scanner{S};
};

using Strings = std::vector<std::string>;

struct TokenCase {
  const char* Text;
  Strings Expected;
};

}  // namespace

// --- token boundaries ----------------------------------------------------------

TEST_F(ScannerTest, CutsTokensByClassAndGluingRules) {
  const TokenCase cases[] = {
      // Signs: after a blank, "(", "[" or a line start they begin a number.
      {"a -5", {"a", "-5"}},
      {"a -x", {"a", "-", "x"}},
      {"a-5", {"a", "-", "5"}},
      {"(-5)", {"(", "-5", ")"}},
      {"[+5]", {"[", "+5", "]"}},
      {"a\r\n-5", {"a", "CR", "-5"}},
      {"-5", {"-", "5"}},
      {"+5 a", {"+", "5", "a"}},
      {"x --5", {"x", "--", "5"}},
      // Exponent signs stay in the number.
      {"1e-5", {"1e-5"}},
      {"2E+3*x", {"2E+3", "*", "x"}},
      {"e-5", {"e", "-", "5"}},
      // Relational runs; a period glues what follows to the word.
      {"x<=y", {"x", "<=", "y"}},
      {"a <>= b", {"a", "<>=", "b"}},
      {"a.<=", {"a.<="}},
      {"a.b.c", {"a.b.c"}},
      {"a. b", {"a.", "b"}},
      {"a.(b)", {"a.(b", ")"}},
      {"a.\r\n", {"a.", "CR"}},
      // Operator runs of one class are one token, classes differ.
      {"a++b", {"a", "++", "b"}},
      {"a+-b", {"a", "+", "-", "b"}},
      {"a*/^b", {"a", "*", "/", "^", "b"}},
      // One-character tokens never join.
      {"((a))", {"(", "(", "a", ")", ")"}},
      {"\"a :b,!c", {"\"", "a", ":", "b", ",", "!", "c"}},
      // Separators.
      {"a\t b\nc", {"a", "b", "c"}},
      {"  ", {}},
      {"", {}},
      // Units from 256 up are word characters.
      {"\xD0\xB6x+\xE2\x82\xAC", {"\xD0\xB6x", "+", "\xE2\x82\xAC"}},
  };
  for (const TokenCase& c : cases) EXPECT_EQ(Tokens(U16(c.Text)), c.Expected) << c.Text;
}

TEST_F(ScannerTest, RecordsOffsetsAndLinesOverCrLf) {
  const std::u16string text = u"ab\r\n cd\r\n\r\ne";
  Tokens(text);
  struct Expected {
    int32_t Start, Length, Line;
  };
  const Expected expected[] = {{1, 2, 1}, {3, 1, 1}, {6, 2, 2}, {8, 1, 2}, {10, 1, 3}, {12, 1, 4}};
  ASSERT_EQ(Scanner.Tokens.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(Scanner.Tokens[i].Start, expected[i].Start) << i;
    EXPECT_EQ(Scanner.Tokens[i].Length, expected[i].Length) << i;
    EXPECT_EQ(Scanner.Tokens[i].Line, expected[i].Line) << i;
  }
}

TEST_F(ScannerTest, LinesCountBreaksInsideCommentsAndQuotes) {
  Tokens(u"{a\r\nb}\r\nc");
  ASSERT_EQ(Scanner.Tokens.size(), 3u);
  EXPECT_EQ(Scanner.Tokens[1].Line, 2);
  EXPECT_EQ(Scanner.Tokens[2].Line, 3);
}

TEST_F(ScannerTest, NextTokenFillsTheParsePosition) {
  Tokens(u"ab\r\n cd");
  Scanner.NextToken(false);
  EXPECT_EQ(U8(Scanner.TokenText), "ab");
  Scanner.NextToken(false);
  EXPECT_EQ(U8(Scanner.TokenText), ",");
  EXPECT_TRUE(Scanner.LineEndComma);
  Scanner.NextToken(false);
  EXPECT_EQ(U8(Scanner.TokenText), "cd");
  EXPECT_FALSE(Scanner.LineEndComma);
  EXPECT_EQ(Scanner.TokenLength, 2);
  EXPECT_EQ(S.ParsePosition.StartPos, 6);
  EXPECT_EQ(S.ParsePosition.EndPos, 8);
  EXPECT_EQ(S.ParsePosition.Line, 2);
  Scanner.NextToken(false);
  EXPECT_EQ(Scanner.TokenLength, -1);
  EXPECT_TRUE(Scanner.TokenText.empty());
  EXPECT_EQ(S.ParsePosition.StartPos, 6);  // unchanged at the end
}

// --- comments ---------------------------------------------------------------

TEST_F(ScannerTest, BraceCommentsNestInOneToken) {
  EXPECT_EQ(Tokens(u"a {x {y} z} b"), (Strings{"a", "{x {y} z}", "b"}));
  EXPECT_EQ(Tokens(u"{c}d"), (Strings{"{c}", "d"}));
  // Quotes and semicolons inside a brace comment are comment text.
  EXPECT_EQ(Tokens(u"{it's ; x} y"), (Strings{"{it's ; x}", "y"}));
}

TEST_F(ScannerTest, LineCommentEndsAtTheCarriageReturn) {
  EXPECT_EQ(Tokens(u"a ; note {x 'y\r\nb"), (Strings{"a", "; note {x 'y", "CR", "b"}));
  EXPECT_EQ(Tokens(u";x"), (Strings{";x"}));
}

struct ScanErrorCase {
  const char16_t* Text;
  const char* Key;
  const char* Message;
  int32_t StartPos, EndPos;
};

TEST_F(ScannerTest, MismatchedCommentsAndQuotesRaise) {
  const ScanErrorCase cases[] = {
      {u"a {x", "does-not-match-rem-eof", "Unmatched {", 3, 4},
      {u"a {x {y}", "does-not-match-rem-eof", "Unmatched {", 3, 4},
      {u"a } b", "does-not-match-beg-rem", "Unmatched }", 3, 4},
      // Both seen: the earlier one counts.
      {u"} {", "does-not-match-beg-rem", "Unmatched }", 1, 2},
      {u"x } y } {", "does-not-match-beg-rem", "Unmatched }", 3, 4},
      // A quote open at the end; a quote over a line end (EndPos at the CR).
      {u"a 'bc", "does-not-match-quo-quo", "Unmatched '", 3, -1},
      {u"a 'b\r\nc' d", "does-not-match-quo-quo", "Unmatched '", 3, 5},
      {u"'x''y", "does-not-match-quo-quo", "Unmatched '", 1, -1},
      // The quote error is reported before a comment error.
      {u"{ 'a", "does-not-match-rem-eof", "Unmatched {", 1, 2},
      {u"} 'a", "does-not-match-quo-quo", "Unmatched '", 3, -1},
  };
  for (const ScanErrorCase& c : cases) {
    std::string message;
    const TPosition p = ScanError(c.Text, message);
    const std::string text = Show(c.Text);
    EXPECT_EQ(U8(p.Topic), c.Key) << text;
    EXPECT_EQ(message, c.Message) << text;
    EXPECT_EQ(p.StartPos, c.StartPos) << text;
    EXPECT_EQ(p.EndPos, c.EndPos) << text;
    ASSERT_FALSE(S.ErrorTrace.empty());
    EXPECT_EQ(U8(S.ErrorTrace.back().Topic), c.Key) << text;
  }
}

TEST_F(ScannerTest, ErrorsCarryTheSourceOfTheParsePosition) {
  MakeSourcePos(S.ParsePosition, u"prog.zav", u"ignored", 0, 7, kAnyDepth);
  std::string message;
  const TPosition p = ScanError(u"a {", message);
  EXPECT_EQ(U8(p.SourceName.str()), "prog.zav");
  EXPECT_EQ(p.Line, 7);
}

TEST_F(ScannerTest, ErrorsArmedIsOneShot) {
  Scanner.ScannerErrorsArmed = false;
  Scanner.SetText(SharedText(u"'open"));
  EXPECT_TRUE(Scanner.ScanSource(false));
  EXPECT_TRUE(Scanner.ScannerErrorsArmed);
  EXPECT_EQ(Scanner.Tokens.size(), 1u);
  std::string message;
  EXPECT_EQ(U8(ScanError(u"'open", message).Topic), "does-not-match-quo-quo");
}

// --- quoted texts -------------------------------------------------------------

TEST_F(ScannerTest, QuotedTextKeepsDoubledQuotesInOneToken) {
  EXPECT_EQ(Tokens(u"'it''s' x"), (Strings{"'it''s'", "x"}));
  EXPECT_EQ(Tokens(u"x'a b'y"), (Strings{"x", "'a b'", "y"}));
  EXPECT_EQ(Tokens(u"'a' 'b'"), (Strings{"'a'", "'b'"}));
  EXPECT_EQ(Tokens(u"'{;}'"), (Strings{"'{;}'"}));
  EXPECT_EQ(Tokens(u"a.'b'"), (Strings{"a.", "'b'"}));
}

TEST_F(ScannerTest, NextTokenUnquotesUnlessRaw) {
  Tokens(u"'it''s' ''");
  Scanner.NextToken(false);
  EXPECT_TRUE(Scanner.TokenQuoted);
  EXPECT_EQ(U8(Scanner.TokenText), "it's");
  EXPECT_EQ(Scanner.TokenLength, 7);
  Scanner.NextToken(false);
  EXPECT_TRUE(Scanner.TokenQuoted);
  EXPECT_EQ(U8(Scanner.TokenText), "");

  Scanner.TokenIndex = 0;
  Scanner.NextToken(true);
  EXPECT_FALSE(Scanner.TokenQuoted);
  EXPECT_EQ(U8(Scanner.TokenText), "'it''s'");
  EXPECT_EQ(U8(std::u16string(Scanner.RawTokenText())), "'it''s'");
}

TEST_F(ScannerTest, OpenTextsAtTheEndAreRecordedFromTheirStart) {
  const TokenCase cases[] = {
      {"a {x {y}", {"a", "{x {y}"}},
      {"a 'b c", {"a", "'b c"}},
      {"a ; b", {"a", "; b"}},
  };
  for (const TokenCase& c : cases) {
    Scanner.ScannerErrorsArmed = false;
    EXPECT_EQ(Tokens(U16(c.Text)), c.Expected) << c.Text;
  }
}

TEST_F(ScannerTest, UnclosedQuoteKeepsTheRestWhenSilent) {
  Scanner.ScannerErrorsArmed = false;
  Tokens(u"x 'ab''c");
  Scanner.NextToken(false);
  Scanner.NextToken(false);
  EXPECT_TRUE(Scanner.TokenQuoted);
  EXPECT_EQ(U8(Scanner.TokenText), "ab'c");
}

TEST_F(ScannerTest, CommentsOffMakesPlainTokens) {
  EXPECT_EQ(Tokens(u"a;b {c} 'd e'", true), (Strings{"a", ";", "b", "{", "c", "}", "'", "d", "e", "'"}));
  // No comment state: a stray brace or open quote is no error.
  EXPECT_EQ(Tokens(u"} 'x", true), (Strings{"}", "'", "x"}));
  Scanner.NextToken(false);
  Scanner.NextToken(false);
  EXPECT_FALSE(Scanner.TokenQuoted);
  EXPECT_EQ(U8(Scanner.TokenText), "'");
}

// --- case -----------------------------------------------------------------------

TEST_F(ScannerTest, CaseInsensitiveModeUpperCasesUnquotedTokensOnly) {
  S.CaseSensitive = false;
  Tokens(u"abc 'Def'");
  Scanner.NextToken(false);
  EXPECT_EQ(U8(Scanner.TokenText), "ABC");
  Scanner.NextToken(false);
  EXPECT_EQ(U8(Scanner.TokenText), "Def");
  Scanner.TokenIndex = 0;
  Scanner.NextToken(true);
  Scanner.NextToken(true);
  EXPECT_EQ(U8(Scanner.TokenText), "'Def'");
}

// --- debug markers ---------------------------------------------------------------

TEST_F(ScannerTest, DebugMarkersPrintAndKeepOffsets) {
  const std::u16string text =
      u"a \x0001"
      u"12\x0002"
      u"bc d";
  EXPECT_EQ(Tokens(text), (Strings{"a", "bc", "d"}));
  EXPECT_EQ(Scanner.Tokens[1].Start, 7);
  EXPECT_EQ(Scanner.Tokens[2].Start, 10);
  ASSERT_EQ(T.Host.Lines.size(), 1u);
  EXPECT_EQ(U8(T.Host.Lines[0].Text), "debug 12");
}

TEST_F(ScannerTest, DebugMarkerNumbers) {
  struct Case {
    std::u16string Text;
    const char* Printed;
  };
  const Case cases[] = {
      {u"\x0001"
       u"007\x0002",
       "debug 7"},
      {u"\x0001"
       u"99999999999\x0002",
       "debug 99999999999"},
      {u"\x0001\x0002", "debug 0"},
      {u"x\x0001"
       u"5 y",
       "debug 5"},  // no end code: the marker runs to the end
  };
  for (const Case& c : cases) {
    T.Host.Lines.clear();
    Tokens(c.Text);
    ASSERT_EQ(T.Host.Lines.size(), 1u) << c.Printed;
    EXPECT_EQ(U8(T.Host.Lines[0].Text), c.Printed);
  }
  EXPECT_EQ(Tokens(u"x\x0001"
                   u"5 y"),
            (Strings{"x"}));
}

TEST_F(ScannerTest, MarkerSeparatesTokens) {
  EXPECT_EQ(Tokens(u"ab\x0001"
                   u"1\x0002"
                   u"cd"),
            (Strings{"ab", "cd"}));
  // Like a blank, a marker lets a sign begin the number after it.
  EXPECT_EQ(Tokens(u"x\x0001"
                   u"1\x0002"
                   u"-5"),
            (Strings{"x", "-5"}));
}

// --- the non-raising scanner ---------------------------------------------------------

TEST(ScannerSilent, RecordsErrorsAndKeepsPositionsToItself) {
  TestState t;
  TStructure& s = *t.S;
  UseScannerTexts(s);
  s.ParsePosition.StartPos = 42;
  const TPosition before = s.CurrentPosition;
  TScanner scanner(s, TScannerOptions{false, false});
  scanner.SetText(
      SharedText(u"a \x0001"
                 u"3\x0002 'b"));
  EXPECT_FALSE(scanner.ScanSource(false));
  ASSERT_TRUE(scanner.LastError.has_value());
  EXPECT_EQ(U8(scanner.LastError->Key), "does-not-match-quo-quo");
  EXPECT_EQ(U8(scanner.LastError->Message), "Unmatched '");
  EXPECT_EQ(scanner.LastError->StartPos, 7);
  EXPECT_EQ(scanner.LastError->EndPos, -1);
  EXPECT_TRUE(t.Host.Lines.empty());  // no marker printing
  ASSERT_EQ(scanner.Tokens.size(), 2u);
  scanner.NextToken(false);
  EXPECT_EQ(scanner.Position().StartPos, 1);
  EXPECT_EQ(s.ParsePosition.StartPos, 42);
  EXPECT_EQ(s.CurrentPosition.StartPos, before.StartPos);
  EXPECT_TRUE(s.ErrorTrace.empty());

  // The next clean scan forgets the error.
  scanner.SetText(SharedText(u"a b"));
  EXPECT_TRUE(scanner.ScanSource(false));
  EXPECT_FALSE(scanner.LastError.has_value());
}

// --- entry state: a piece of a text scans as inside the whole text -------------

namespace {

struct LineToken {
  int32_t Start;  // 1-based within the line
  int32_t Length;
  bool operator==(const LineToken&) const = default;
};

// Splits a CR LF text into its lines.
std::vector<std::u16string> Lines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(u"\r\n", start);
    lines.push_back(text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
    if (end == std::u16string::npos) return lines;
    start = end + 2;
  }
}

// The whole text's tokens clipped to each line (line breaks left out).
std::vector<std::vector<LineToken>> WholeScanPerLine(TStructure& s, const std::u16string& text) {
  TScanner scanner(s, TScannerOptions{false, false});
  scanner.SetText(SharedText(text));
  scanner.ScanSource();
  std::vector<std::vector<LineToken>> perLine;
  int32_t lineStart = 1;
  for (const std::u16string& line : Lines(text)) {
    const int32_t lineEnd = lineStart + static_cast<int32_t>(line.size());
    std::vector<LineToken> tokens;
    for (const TToken& token : scanner.Tokens) {
      const int32_t start = std::max(token.Start, lineStart);
      const int32_t end = std::min(token.Start + token.Length, lineEnd);
      if (start < end) tokens.push_back({start - lineStart + 1, end - start});
    }
    perLine.push_back(tokens);
    lineStart = lineEnd + 2;
  }
  return perLine;
}

// Each line scanned alone, the brace depth carried from line to line.
std::vector<std::vector<LineToken>> LineByLineScan(TStructure& s, const std::u16string& text) {
  TScanner scanner(s, TScannerOptions{false, false});
  std::vector<std::vector<LineToken>> perLine;
  TScanEntry entry;
  for (const std::u16string& line : Lines(text)) {
    scanner.SetText(SharedText(line));
    scanner.ScanSource(false, entry);
    std::vector<LineToken> tokens;
    for (const TToken& token : scanner.Tokens) tokens.push_back({token.Start, token.Length});
    perLine.push_back(tokens);
    entry = TScanEntry{scanner.EndBraceDepth(), true};
  }
  return perLine;
}

}  // namespace

TEST(ScannerEntry, LinesScannedAloneGiveTheWholeTextsTokens) {
  TestState t;
  TStructure& s = *t.S;
  UseScannerTexts(s);
  const char16_t* texts[] = {
      u"-5 a\r\n-5 +3 b",            // a sign at a line start starts a number
      u"a {x\r\n{y}\r\nz} b\r\nc",   // nested brace comments across lines
      u"print 1 ; note\r\nprint 2",  // a line comment ends at its line
      u"a.\r\nb 1e-3 x<=y",          // a period before a line break glues nothing
  };
  for (const char16_t* text : texts) EXPECT_EQ(LineByLineScan(s, text), WholeScanPerLine(s, text)) << U8(text);

  // The fuzzing corpus, except lines whose quoted texts run on.
  const std::filesystem::path corpus = std::filesystem::path(ZAVTA_SOURCE_DIR) / "tests/fuzz/corpus";
  int compared = 0;
  for (const auto& file : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text = ToCrLf(Utf8ToUtf16(bytes));
    bool openQuote = false;
    for (const std::u16string& line : Lines(text))
      openQuote = openQuote || std::count(line.begin(), line.end(), u'\'') % 2 != 0;
    if (openQuote) continue;
    EXPECT_EQ(LineByLineScan(s, text), WholeScanPerLine(s, text)) << file.path();
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

TEST(ScannerEntry, MarksCommentContinuationsAndReportsTheOpenDepth) {
  TestState t;
  TStructure& s = *t.S;
  TScanner scanner(s, TScannerOptions{false, false});
  scanner.SetText(SharedText(u"a} b {c"));
  scanner.ScanSource(false, TScanEntry{2, true});
  // Depth 2 before: "a}" closes one level, the rest stays inside.
  ASSERT_EQ(scanner.Tokens.size(), 1u);
  EXPECT_TRUE(scanner.Tokens[0].ContinuesComment);
  EXPECT_EQ(scanner.EndBraceDepth(), 2);

  scanner.SetText(SharedText(u"x} y {z"));
  scanner.ScanSource(false, TScanEntry{1, true});
  ASSERT_EQ(scanner.Tokens.size(), 3u);
  EXPECT_TRUE(scanner.Tokens[0].ContinuesComment);
  EXPECT_FALSE(scanner.Tokens[1].ContinuesComment);
  EXPECT_FALSE(scanner.Tokens[2].ContinuesComment);  // "{z" opens a comment of its own
  EXPECT_EQ(scanner.EndBraceDepth(), 1);

  // The default entry is a whole text: "-5" at its start is a sign and a number.
  scanner.SetText(SharedText(u"-5"));
  scanner.ScanSource();
  EXPECT_EQ(scanner.Tokens.size(), 2u);
  EXPECT_EQ(scanner.EndBraceDepth(), 0);
  scanner.SetText(SharedText(u"-5"));
  scanner.ScanSource(false, TScanEntry{0, true});
  EXPECT_EQ(scanner.Tokens.size(), 1u);
}
