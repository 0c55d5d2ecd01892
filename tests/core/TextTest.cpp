#include <gtest/gtest.h>

#include <string>

#include "core/Text.h"

namespace {

// --- Line breaks -----------------------------------------------------------

TEST(ToCrLf, InsertsCrBeforeBareLf) {
  EXPECT_EQ(ToCrLf(u"a\nb\n"), u"a\r\nb\r\n");
  EXPECT_EQ(ToCrLf(u"\n\n"), u"\r\n\r\n");
}

TEST(ToCrLf, LeavesPairsAndLoneCrAlone) {
  EXPECT_EQ(ToCrLf(u"a\r\nb"), u"a\r\nb");
  EXPECT_EQ(ToCrLf(u"a\rb\r"), u"a\rb\r");
  EXPECT_EQ(ToCrLf(u"\r\r\n\n"), u"\r\r\n\r\n");
  EXPECT_EQ(ToCrLf(u""), u"");
}

TEST(ToCrLf, IsIdempotent) {
  for (std::u16string text : {u"x\ny\r\nz\r\n\nw\r", u"\n", u"\r", u"\n\r\n\r"}) {
    std::u16string once = ToCrLf(text);
    EXPECT_EQ(ToCrLf(once), once);
  }
}

TEST(NormalizeLineBreaks, EveryBreakStyleBecomesCrLf) {
  EXPECT_EQ(NormalizeLineBreaks(u"a\nb\r\nc\rd"), u"a\r\nb\r\nc\r\nd");
  EXPECT_EQ(NormalizeLineBreaks(u"\r\r\n\n"), u"\r\n\r\n\r\n");
  EXPECT_EQ(NormalizeLineBreaks(NormalizeLineBreaks(u"x\ry\n")), NormalizeLineBreaks(u"x\ry\n"));
}

// --- Editor positions --------------------------------------------------------

TEST(EditorPosition, CountsOneCharacterPerLineBreak) {
  // Editor view: "ab\ncd\nef" -> a0 b1 \n2 c3 d4 \n5 e6 f7
  std::u16string_view text = u"ab\r\ncd\r\nef";
  EXPECT_EQ(EditorPosition(text, 1), 0);   // a
  EXPECT_EQ(EditorPosition(text, 2), 1);   // b
  EXPECT_EQ(EditorPosition(text, 3), 2);   // CR of first break
  EXPECT_EQ(EditorPosition(text, 5), 3);   // c
  EXPECT_EQ(EditorPosition(text, 6), 4);   // d
  EXPECT_EQ(EditorPosition(text, 7), 5);   // CR of second break
  EXPECT_EQ(EditorPosition(text, 9), 6);   // e
  EXPECT_EQ(EditorPosition(text, 10), 7);  // f
}

TEST(EditorPosition, LfOfPairMapsLikeItsCr) {
  std::u16string_view text = u"ab\r\ncd\r\nef";
  EXPECT_EQ(EditorPosition(text, 4), EditorPosition(text, 3));
  EXPECT_EQ(EditorPosition(text, 8), EditorPosition(text, 7));
  // A lone CR is an ordinary character.
  EXPECT_EQ(EditorPosition(u"a\rb", 3), 2);
}

TEST(EditorPosition, ClampsOutOfRangeOffsets) {
  std::u16string_view text = u"ab\r\ncd";  // editor length 5
  EXPECT_EQ(EditorPosition(text, 0), 0);
  EXPECT_EQ(EditorPosition(text, -7), 0);
  EXPECT_EQ(EditorPosition(text, 7), 5);
  EXPECT_EQ(EditorPosition(text, 1000), 5);
  EXPECT_EQ(EditorPosition(u"a\r\n", 1000), 2);
  EXPECT_EQ(EditorPosition(u"", 1), 0);
}

TEST(ScannerPosition, InvertsEditorPositionOnMixedText) {
  // Pairs, a lone CR (one character in both views) and text around them.
  const std::u16string_view text = u"ab\r\ncd\r\r\n\r\nef\r";
  for (int32_t offset = 1; offset <= static_cast<int32_t>(text.size()); ++offset) {
    const bool lfOfPair = text[offset - 1] == u'\n';
    if (lfOfPair) continue;  // shares its editor index with its CR
    EXPECT_EQ(ScannerPosition(text, EditorPosition(text, offset)), offset) << offset;
  }
  EXPECT_EQ(ScannerPosition(text, 2), 3);   // the first CR
  EXPECT_EQ(ScannerPosition(text, 3), 5);   // c
  EXPECT_EQ(ScannerPosition(text, 5), 7);   // the lone CR
  EXPECT_EQ(ScannerPosition(text, 6), 8);   // CR of the next pair
  EXPECT_EQ(ScannerPosition(text, 7), 10);  // and of the one after
}

TEST(ScannerPosition, ClampsOutOfRangeIndexes) {
  const std::u16string_view text = u"ab\r\ncd";  // editor length 5
  EXPECT_EQ(ScannerPosition(text, 0), 1);
  EXPECT_EQ(ScannerPosition(text, -3), 1);
  EXPECT_EQ(ScannerPosition(text, 5), 7);
  EXPECT_EQ(ScannerPosition(text, 1000), 7);
  EXPECT_EQ(ScannerPosition(u"", 4), 1);
}

// --- UTF-8 / UTF-16 ----------------------------------------------------------

TEST(Utf8, RoundTripsAllPlanes) {
  std::u16string text = u"A\u00E9\u0416\u20AC\uFFFF\U0001F600\U00010000\U0010FFFF";
  std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8,
            "A\xC3\xA9\xD0\x96\xE2\x82\xAC\xEF\xBF\xBF\xF0\x9F\x98\x80"
            "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(Utf8, MalformedBytesDecodeAsReplacement) {
  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");                                // truncated at end
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82z"), u"\uFFFDz");                          // truncated, next byte kept
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xFF\xC3\xA9"), u"\uFFFD\u00E9");
}

TEST(Utf8, LoneSurrogatesEncodeAsReplacement) {
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800"
                        u"b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xDC00)), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD83D)), "\xEF\xBF\xBD");  // high at end
  // Reversed pair: two lone surrogates.
  std::u16string reversed = {char16_t(0xDE00), char16_t(0xD83D)};
  EXPECT_EQ(Utf16ToUtf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, StrictValidation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xED\x9F\xBF"));       // U+D7FF, just below surrogates
  EXPECT_TRUE(IsValidUtf8("\xEE\x80\x80"));       // U+E000, just above
  EXPECT_FALSE(IsValidUtf8("\xC1\xBF"));          // overlong 2-byte
  EXPECT_FALSE(IsValidUtf8("\xE0\x9F\xBF"));      // overlong 3-byte
  EXPECT_FALSE(IsValidUtf8("\xF0\x8F\xBF\xBF"));  // overlong 4-byte
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xF5\x80\x80\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));  // truncated
  EXPECT_FALSE(IsValidUtf8("\x80"));
}

// --- Code pages --------------------------------------------------------------

TEST(CodePageTables, EveryByteRoundTrips) {
  for (int page : {1252, 1251}) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::u16string wide = CodePageToUtf16(all, page);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(Utf16ToCodePage(wide, page), all) << "page " << page;
    for (int b = 0; b < 256; ++b) {
      uint8_t back = 0;
      ASSERT_TRUE(CharToCodePage(wide[b], page, back)) << page << " byte " << b;
      EXPECT_EQ(back, b);
    }
  }
}

TEST(CodePageTables, MatchPublishedMappings) {
  EXPECT_EQ(CodePageToChar(0x80, 1252), u'\u20AC');
  EXPECT_EQ(CodePageToChar(0x9F, 1252), u'\u0178');
  EXPECT_EQ(CodePageToChar(0x81, 1252), u'\u0081');
  EXPECT_EQ(CodePageToChar(0xE9, 1252), u'\u00E9');
  EXPECT_EQ(CodePageToChar(0xC0, 1251), u'\u0410');
  EXPECT_EQ(CodePageToChar(0xFF, 1251), u'\u044F');
  EXPECT_EQ(CodePageToChar(0x88, 1251), u'\u20AC');
  EXPECT_EQ(CodePageToChar(0xB9, 1251), u'\u2116');
  EXPECT_EQ(CodePageToChar(0x98, 1251), u'\u0098');
  EXPECT_EQ(CodePageToChar('A', 1251), u'A');
}

TEST(CodePageTables, CharactersOutsideThePageNarrowToQuestionMark) {
  uint8_t byte = 0;
  EXPECT_FALSE(CharToCodePage(u'\u0416', 1252, byte));
  EXPECT_FALSE(CharToCodePage(u'\u00E9', 1251, byte));
  EXPECT_EQ(Utf16ToCodePage(u"a\u0416b", 1252), "a?b");
  EXPECT_EQ(Utf16ToCodePage(u"\u00E9\u0416", 1251), "?\xC6");
  EXPECT_EQ(Utf16ToCodePage(u"\U0001F600", 1252), "??");
  EXPECT_EQ(Utf16ToCodePage(u"\u20AC", 1252), "\x80");
}

TEST(CodePageTables, UnknownPageBehavesAs1252) {
  EXPECT_TRUE(IsKnownCodePage(1252));
  EXPECT_TRUE(IsKnownCodePage(1251));
  EXPECT_FALSE(IsKnownCodePage(437));
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(CodePageToChar(static_cast<uint8_t>(b), 437), CodePageToChar(static_cast<uint8_t>(b), 1252));
  }
  EXPECT_EQ(Utf16ToCodePage(u"\u00E9\u20AC\u0416", 437), "\xE9\x80?");
}

// --- Upper-casing ------------------------------------------------------------

TEST(UpperCase, Ascii) {
  EXPECT_EQ(UpperCase(u"hello, World_09{}`"), u"HELLO, WORLD_09{}`");
  EXPECT_EQ(UpperChar(u'@'), u'@');
  EXPECT_EQ(UpperChar(u'['), u'[');
}

TEST(UpperCase, Latin1) {
  EXPECT_EQ(UpperCase(u"\u00E0\u00E9\u00F6\u00FE"), u"\u00C0\u00C9\u00D6\u00DE");
  EXPECT_EQ(UpperChar(u'\u00F7'), u'\u00F7');  // division sign
  EXPECT_EQ(UpperChar(u'\u00FF'), u'\u0178');
  EXPECT_EQ(UpperChar(u'\u00B5'), u'\u00B5');
  EXPECT_EQ(UpperChar(u'\u00DF'), u'\u00DF');
  EXPECT_EQ(UpperChar(u'\u00C9'), u'\u00C9');
}

TEST(UpperCase, LatinExtendedA) {
  EXPECT_EQ(UpperChar(u'\u0101'), u'\u0100');  // a macron
  EXPECT_EQ(UpperChar(u'\u0100'), u'\u0100');
  EXPECT_EQ(UpperChar(u'\u0107'), u'\u0106');  // c acute
  EXPECT_EQ(UpperChar(u'\u0131'), u'I');       // dotless i
  EXPECT_EQ(UpperChar(u'\u0130'), u'\u0130');
  EXPECT_EQ(UpperChar(u'\u013A'), u'\u0139');  // l acute: offset run
  EXPECT_EQ(UpperChar(u'\u0148'), u'\u0147');  // n caron
  EXPECT_EQ(UpperChar(u'\u0147'), u'\u0147');
  EXPECT_EQ(UpperChar(u'\u0149'), u'\u0149');  // no capital
  EXPECT_EQ(UpperChar(u'\u014B'), u'\u014A');  // eng
  EXPECT_EQ(UpperChar(u'\u0177'), u'\u0176');
  EXPECT_EQ(UpperChar(u'\u0178'), u'\u0178');
  EXPECT_EQ(UpperChar(u'\u017A'), u'\u0179');  // z acute: offset run
  EXPECT_EQ(UpperChar(u'\u017E'), u'\u017D');
  EXPECT_EQ(UpperChar(u'\u017F'), u'S');  // long s
}

TEST(UpperCase, Greek) {
  EXPECT_EQ(UpperCase(u"\u03B1\u03B2\u03C9"), u"\u0391\u0392\u03A9");
  EXPECT_EQ(UpperChar(u'\u03C2'), u'\u03A3');  // final sigma
  EXPECT_EQ(UpperChar(u'\u03AC'), u'\u0386');
  EXPECT_EQ(UpperChar(u'\u03AD'), u'\u0388');
  EXPECT_EQ(UpperChar(u'\u03AF'), u'\u038A');
  EXPECT_EQ(UpperChar(u'\u03CC'), u'\u038C');
  EXPECT_EQ(UpperChar(u'\u03CE'), u'\u038F');
  EXPECT_EQ(UpperChar(u'\u0391'), u'\u0391');
}

TEST(UpperCase, Cyrillic) {
  EXPECT_EQ(UpperCase(u"\u043F\u0440\u0438\u0432\u0435\u0442"), u"\u041F\u0420\u0418\u0412\u0415\u0422");
  EXPECT_EQ(UpperChar(u'\u0430'), u'\u0410');
  EXPECT_EQ(UpperChar(u'\u044F'), u'\u042F');
  EXPECT_EQ(UpperChar(u'\u0451'), u'\u0401');  // io
  EXPECT_EQ(UpperChar(u'\u045F'), u'\u040F');
  EXPECT_EQ(UpperChar(u'\u0461'), u'\u0460');
  EXPECT_EQ(UpperChar(u'\u0481'), u'\u0480');
  EXPECT_EQ(UpperChar(u'\u0483'), u'\u0483');  // combining mark between the runs
  EXPECT_EQ(UpperChar(u'\u048B'), u'\u048A');
  EXPECT_EQ(UpperChar(u'\u04BF'), u'\u04BE');
  EXPECT_EQ(UpperChar(u'\u04C2'), u'\u04C2');  // beyond the covered runs
}

TEST(UpperCase, LeavesOtherScriptsAndSurrogatesAlone) {
  std::u16string text = u"\u4E2D\U0001F600\u05D0";
  EXPECT_EQ(UpperCase(text), text);
}

// --- Message formatting -----------------------------------------------------

TEST(FormatMessage, FillsTextAndNumbers) {
  EXPECT_EQ(FormatMessage(u"%s doesn't like %s", {u"\u0416ABA", u"x"}), u"\u0416ABA doesn't like x");
  EXPECT_EQ(FormatMessage(u"line %d", {42LL}), u"line 42");
  EXPECT_EQ(FormatMessage(u"%s=%d", {u"n", -7LL}), u"n=-7");
  EXPECT_EQ(FormatMessage(u"%g", {2.5L}), u"2.5");
  EXPECT_EQ(FormatMessage(u"%2$s %1$s", {u"a", u"b"}), u"b a");
}

TEST(FormatMessage, PercentEscapeAndPlainText) {
  EXPECT_EQ(FormatMessage(u"100%%"), u"100%");
  EXPECT_EQ(FormatMessage(u"%d%%", {5LL}), u"5%");
  EXPECT_EQ(FormatMessage(u"no directives"), u"no directives");
  EXPECT_EQ(FormatMessage(u""), u"");
}

TEST(FormatMessage, MissingArgumentsGiveBareFormat) {
  EXPECT_EQ(FormatMessage(u"%s and %s", {u"one"}), u"%s and %s");
  EXPECT_EQ(FormatMessage(u"%d"), u"%d");
  EXPECT_EQ(FormatMessage(u"%3$s", {u"a", u"b"}), u"%3$s");
}

TEST(FormatMessage, MismatchedArgumentsDoNotCrash) {
  EXPECT_EQ(FormatMessage(u"%d items", {u"text"}), u"%d items");
  std::u16string numberAsText = FormatMessage(u"[%s]", {42LL});
  EXPECT_TRUE(numberAsText == u"[%s]" || numberAsText == u"[42]");
  std::u16string realAsInteger = FormatMessage(u"[%d]", {1.5L});
  EXPECT_TRUE(realAsInteger == u"[%d]" || realAsInteger.find(u'1') != std::u16string::npos);
}

TEST(FormatMessage, ExtraArgumentsAreIgnored) {
  EXPECT_EQ(FormatMessage(u"%s", {u"a", u"b", 3LL}), u"a");
  // Only the first six arguments are used.
  EXPECT_EQ(FormatMessage(u"%6$s", {u"1", u"2", u"3", u"4", u"5", u"6", u"7"}), u"6");
  EXPECT_EQ(FormatMessage(u"%7$s", {u"1", u"2", u"3", u"4", u"5", u"6", u"7"}), u"%7$s");
}

TEST(FormatMessage, JunkFormatsGiveBareFormat) {
  for (std::u16string junk : {u"%q%", u"%", u"abc%", u"%n", u"%1$s %s", u"%ls%ls"}) {
    EXPECT_EQ(FormatMessage(junk, {u"x"}), junk);
  }
}

TEST(FormatMessage, RefusesHugeFieldSizes) {
  EXPECT_EQ(FormatMessage(u"%999999999d", {5LL}), u"%999999999d");
  EXPECT_EQ(FormatMessage(u"%.99999999999s", {u"x"}), u"%.99999999999s");
  EXPECT_EQ(FormatMessage(u"%*d", {1000000000LL, 5LL}), u"%*d");
  EXPECT_EQ(FormatMessage(u"%5d|", {42LL}), u"   42|");
  EXPECT_EQ(FormatMessage(u"%.2s", {u"abc"}), u"ab");
}

}  // namespace
