// The editors' Qt-free share: token colours with their carry flags, hover
// hints that leave the interpreter untouched, placeholders and the
// replace-all loop.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/SrcWinSyntax.h"
#include "tests/support/TestState.h"

namespace {

class SyntaxTest : public ::testing::Test {
protected:
  SyntaxTest() : in(*ts.S) { UseEnglishKeywords(*ts.S); }

  // "word:COLOUR" per span, bold keywords marked with "!".
  std::string Colours(std::u16string_view text, bool fontBold = false,
                      std::function<bool(const std::u16string&)> reserved = {}) {
    TScanner scanner(*ts.S, TScannerOptions{false, false});
    scanner.SetText(SharedText(std::u16string(text)));
    scanner.ScanSource(false, TScanEntry{0, true});
    SyntaxContext context{&ts.S->Language.KeywordTableUpper, std::move(reserved), fontBold};
    static const char* const kNames[] = {"P", "T", "N", "V", "W", "C", "L"};
    std::string out;
    for (const SyntaxSpan& span : ClassifySpans(text, scanner.Tokens, context)) {
      if (!out.empty()) out += ' ';
      out += U8(std::u16string(text.substr(static_cast<size_t>(span.Start), static_cast<size_t>(span.Length))));
      out += ':';
      out += kNames[span.Colour];
      if (span.Bold != fontBold) out += '!';
    }
    return out;
  }

  TestState ts;
  TInterpreter in;
};

}  // namespace

TEST_F(SyntaxTest, TokensTakeTheirClassesColoursAndCarryFlags) {
  struct Case {
    const char16_t* Text;
    const char* Expected;
  } cases[] = {
      {u"print :x", "print:P! ::V x:V"},
      {u"make \"a 5", "make:P! \":W a:W 5:N"},
      {u"5 \"abc foo", "5:N \":W abc:W foo:L"},
      {u"-5 + -foo", "-5:N +:L -:L foo:L"},
      {u"; a note", "; a note:C"},
      {u"foo {b c} bar", "foo:L {b c}:C bar:L"},
      // Brackets and DUMP are keywords, but not right after ":" or a quote.
      {u"[dump] :[ \"(", "[:P! dump:P! ]:P! ::V [:V \":W (:W"},
      // A comment changes neither flag.
      {u": {x} foo", "::V {x}:C foo:V"},
      {u"'quoted text' repeat", "'quoted text':L repeat:P!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Colours(c.Text), c.Expected) << U8(c.Text);

  // A bold font: keywords drop the bold.
  EXPECT_EQ(Colours(u"print 1", true), "print:P! 1:N");
  // Words with a help page are TEXT; a plain token after a quote's word ends it.
  const auto reserved = [](const std::u16string& upper) { return upper == u"HELPWORD"; };
  EXPECT_EQ(Colours(u"helpword other 'helpword'", false, reserved), "helpword:T other:L 'helpword':L");
}

TEST_F(SyntaxTest, ACommentOpenOnAnEarlierLineColoursTheContinuation) {
  TScanner scanner(*ts.S, TScannerOptions{false, false});
  scanner.SetText(SharedText(u"still} print"));
  scanner.ScanSource(false, TScanEntry{1, true});
  SyntaxContext context{&ts.S->Language.KeywordTableUpper, {}, false};
  const std::vector<SyntaxSpan> spans = ClassifySpans(u"still} print", scanner.Tokens, context);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0], (SyntaxSpan{0, 6, scComment, false}));
  EXPECT_EQ(spans[1], (SyntaxSpan{7, 5, scPrimitive, true}));
}

TEST_F(SyntaxTest, HoverHintsShowDocumentationUsageAndValues) {
  ASSERT_EQ(RunText(in,
                    u"make \"box 3\r\nmake \"box.onabout \"Boxes\r\n"
                    u"to square :n\r\n output :n * :n\r\nend\r\nmake \"square.onabout \"Squares\r\n"
                    u"make \"big [a b c]",
                    u""),
            rrOk);
  struct Case {
    const char16_t* Line;
    int32_t Column;
    const char* Word;
    const char* Hint;
  } cases[] = {
      {u"print :box", 7, "box",
       "Boxes\r\x02"
       "box\x02=3"},
      // A dotted name loses its leading parts until one is documented.
      {u"print obj.box", 10, "box",
       "Boxes\r\x02"
       "box\x02=3"},
      // A procedure's usage line comes first.
      {u"square 4", 2, "square", " square  :n \rSquares"},
      {u"print :big", 8, "big",
       "\x02"
       "big\x02=[a b c]"},
      {u"print :nosuch", 8, "nosuch", ""},
      // Past the line's end nothing is hinted.
      {u"box", 3, "", ""},
  };
  for (const Case& c : cases) {
    const HoverHint hint = BuildHoverHint(*ts.S, c.Line, c.Column);
    EXPECT_EQ(U8(hint.HintWord), c.Word) << U8(c.Line);
    EXPECT_EQ(U8(hint.Hint), c.Hint) << U8(c.Line);
  }
}

TEST_F(SyntaxTest, HoveringChangesNoInterpreterState) {
  TStructure& s = *ts.S;
  ASSERT_EQ(RunText(in, u"make \"v [1 2]\r\nmake \"v.onabout [a list]", u""), rrOk);
  TAtom* v = TAtom::FindChildByName(s, *s.Root, u"v");
  ASSERT_NE(v, nullptr);
  v->Flags |= afSkip;  // set by the program; the hint puts it back
  s.LastName = u"KEPT";
  s.ParsePosition.StartPos = 77;
  const size_t lines = ts.Host.Lines.size();
  const HoverHint hint = BuildHoverHint(s,
                                        u"print :v \x0001"
                                        u"5\x0002 'open",
                                        7);
  EXPECT_EQ(U8(hint.HintWord), "v");
  EXPECT_EQ(U8(hint.Hint), "\x02v\x02=[1 2]");  // the list-valued onabout is left out, never raised
  EXPECT_TRUE(v->Flags & afSkip);
  EXPECT_EQ(U8(s.LastName), "KEPT");
  EXPECT_EQ(s.ParsePosition.StartPos, 77);
  EXPECT_TRUE(s.ErrorTrace.empty());
  EXPECT_EQ(ts.Host.Lines.size(), lines);  // no "debug 5"
}

TEST(Placeholders, ARunFromOpenToCloseOnTheLine) {
  const std::u16string line = u"repeat \u2039count\u203A [\u2039list\u203A]";
  struct Case {
    int32_t Column;
    std::optional<TextRange> Expected;
  } cases[] = {
      {9, TextRange{7, 7}},                       // inside
      {7, TextRange{7, 7}},                       // on the opening mark
      {13, TextRange{7, 7}},                      // on the closing mark
      {17, TextRange{16, 6}}, {2, std::nullopt},  // before any mark
      {15, std::nullopt},                         // between two placeholders
      {40, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(FindPlaceholder(line, c.Column, 1252), c.Expected) << c.Column;
  EXPECT_EQ(FindPlaceholder(u"\u2039a \u2039b\u203A", 1, 1252), std::nullopt);  // a second opening inside
}

TEST(ReplaceAll, EndsWhateverTheTexts) {
  struct Case {
    std::u16string Text, Find, Replace, Expected;
    int Count;
  } cases[] = {
      {u"a a", u"a", u"aa", u"aa aa", 2},
      {u"aa", u"a", u"ba", u"baba", 2},
      {u"xAx", u"a", u"b", u"xbx", 1},  // not case-sensitive
      {u"abc", u"", u"z", u"abc", 0},
  };
  for (Case& c : cases) {
    std::u16string text = c.Text;
    const auto find = [&](int32_t from) -> int32_t {
      const std::u16string upper = UpperCase(text), wanted = UpperCase(c.Find);
      const size_t at = upper.find(wanted, static_cast<size_t>(from));
      return at == std::u16string::npos ? -1 : static_cast<int32_t>(at);
    };
    const auto replace = [&](int32_t at) { text.replace(static_cast<size_t>(at), c.Find.size(), c.Replace); };
    EXPECT_EQ(ReplaceAllMatches(0, c.Find.size(), c.Replace.size(), find, replace), c.Count);
    EXPECT_EQ(text, c.Expected);
  }
}
