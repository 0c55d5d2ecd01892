// Whole-word replacement, XML escaping, the UTF-16 file writer and the help
// snippets.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

std::u16string Replaced(TStructure& s, std::u16string text, std::u16string_view word, std::u16string_view by,
                        bool normalise = false) {
  ReplaceWholeWord(s, text, word, by, normalise);
  return text;
}

std::u16string All(std::u16string text, std::u16string_view search, std::u16string_view by, bool pad) {
  ReplaceAll(text, search, by, pad);
  return text;
}

}  // namespace

// --- ReplaceWholeWord --------------------------------------------------------

TEST(ReplaceWholeWord, ReplacesLoneWordsButNotPartsOfWords) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(Replaced(s, u"x ax xa x", u"x", u"y"), u"y ax xa y");
  EXPECT_EQ(Replaced(s, u"foo foobar barfoo foo", u"foo", u"baz"), u"baz foobar barfoo baz");
  // After a partial match the rest of that word is skipped, not rescanned.
  EXPECT_EQ(Replaced(s, u"xx x", u"x", u"y"), u"xx y");
  EXPECT_EQ(Replaced(s, u"", u"x", u"y"), u"");
  EXPECT_EQ(Replaced(s, u"x", u"x", u""), u"");
}

TEST(ReplaceWholeWord, DigitsPeriodsAndPunctuationDelimit) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(Replaced(s, u"x1 x.x 2x", u"x", u"y"), u"y1 y.y 2y");
  EXPECT_EQ(Replaced(s, u"(x)[x]\"x\"#x'x:x?x_x\tx\r\nx", u"x", u"y"), u"(y)[y]\"y\"#y'y:y?y_y\ty\r\ny");
  // Other punctuation and letters do not delimit.
  EXPECT_EQ(Replaced(s, u"x-x x+ \u00E9x", u"x", u"y"), u"x-x x+ \u00E9x");
}

TEST(ReplaceWholeWord, AngleQuotesOfTheCodePageDelimit) {
  TestState ts;
  TStructure& s = *ts.S;
  ASSERT_EQ(s.Language.CodePage, 1252);
  // Bytes 139 and 155 of page 1252 are the single angle quotes.
  EXPECT_EQ(Replaced(s, u"\u2039x\u203Ax\u203A", u"x", u"y"), u"\u2039y\u203Ay\u203A");
  // The double angle quotes (bytes 171 and 187) are not delimiters.
  EXPECT_EQ(Replaced(s, u"\u00ABx\u00BB", u"x", u"y"), u"\u00ABx\u00BB");
}

TEST(ReplaceWholeWord, ComparesNormalisedNames) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(Replaced(s, u"Foo foo FOO", u"foo", u"bar"), u"Foo bar FOO");
  s.CaseSensitive = false;
  EXPECT_EQ(Replaced(s, u"Foo foo FOO food", u"foo", u"bar"), u"bar bar bar food");
  EXPECT_EQ(Replaced(s, u"Foo foo food", u"fOO", u"bar", true), u"BAR BAR food");
  // Text outside the replaced words keeps its letter case.
  EXPECT_EQ(Replaced(s, u"Food foo", u"foo", u"x", true), u"Food X");
}

TEST(ReplaceWholeWord, DegenerateWordsEndAndChangeNothing) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(Replaced(s, u"a b", u"", u"z"), u"a b");
  EXPECT_EQ(Replaced(s, u"x x", u"x", u"x"), u"x x");
  // A replacement holding the word is not replaced again.
  EXPECT_EQ(Replaced(s, u"x x", u"x", u"x x"), u"x x x x");
}

// --- ReplaceWord ---------------------------------------------------------------

TEST(ReplaceWord, BuildsNewListsAndLeavesTheInputAlone) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* inner = NewListCell(s, NewWord(s, u"x"), NewListCell(s, NewWord(s, u"b x"), nullptr));
  TAtom* expression = NewExpressionCell(s, NewWord(s, u"x"), nullptr);
  TAtom* list = NewListCell(s, NewWord(s, u"x"), NewListCell(s, inner, NewListCell(s, expression, nullptr)));
  PinnedAtom pin(list);

  TAtom* result = ReplaceWord(s, list, u"x", u"y");
  ASSERT_TRUE(IsAtom(result));
  EXPECT_NE(result, list);
  EXPECT_EQ(result->Kind, akList);
  EXPECT_EQ(TAtom::Length(result), 3);
  EXPECT_EQ(result->Left->Text, u"y");
  TAtom* newInner = result->Right->Left;
  EXPECT_NE(newInner, inner);
  EXPECT_EQ(newInner->Left->Text, u"y");
  EXPECT_EQ(newInner->Right->Left->Text, u"b y");
  TAtom* newExpression = result->Right->Right->Left;
  EXPECT_NE(newExpression, expression);
  EXPECT_EQ(newExpression->Kind, akExpression);
  EXPECT_EQ(newExpression->Left->Text, u"y");

  // The given structure is untouched.
  EXPECT_EQ(list->Left->Text, u"x");
  EXPECT_EQ(list->Right->Left, inner);
  EXPECT_EQ(inner->Left->Text, u"x");
  EXPECT_EQ(inner->Right->Left->Text, u"b x");
  EXPECT_EQ(expression->Left->Text, u"x");
}

TEST(ReplaceWord, WordsAndNumbersBecomeNewWords) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* word = NewWord(s, u"x");
  TAtom* replaced = ReplaceWord(s, word, u"x", u"y");
  EXPECT_NE(replaced, word);
  EXPECT_EQ(replaced->Text, u"y");
  EXPECT_EQ(word->Text, u"x");

  TAtom* number = ReplaceWord(s, NewNumber(s, 12), u"12", u"twelve");
  EXPECT_EQ(number->Kind, akWord);
  EXPECT_EQ(number->Text, u"twelve");
  TAtom* untouched = ReplaceWord(s, NewNumber(s, 5), u"x", u"y");
  EXPECT_EQ(untouched->Kind, akWord);
  EXPECT_EQ(untouched->Text, u"5");
}

TEST(ReplaceWord, OtherValuesComeBackThemselves) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(ReplaceWord(s, nullptr, u"x", u"y"), nullptr);
  EXPECT_EQ(ReplaceWord(s, SystemValue, u"x", u"y"), SystemValue);
  TAtom* variable = NewVariable(s, u"x", NewWord(s, u"x"));
  EXPECT_EQ(ReplaceWord(s, variable, u"x", u"y"), variable);
  EXPECT_EQ(variable->Left->Text, u"x");
}

TEST(ReplaceWord, DeepNestingRaisesInsteadOfOverflowing) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* deep = NewWord(s, u"x");
  for (int i = 0; i < 1000000; ++i) deep = NewListCell(s, deep, nullptr);
  PinnedAtom pin(deep);
  EXPECT_THROW(ReplaceWord(s, deep, u"x", u"y"), LanguageError);

  // Suppressed: the levels that could be copied are copied, the rest shared.
  ts.ArmErrors(false);
  TAtom* result = nullptr;
  EXPECT_NO_THROW(result = ReplaceWord(s, deep, u"x", u"y"));
  ASSERT_TRUE(IsAtom(result));
  EXPECT_NE(result, deep);
  EXPECT_EQ(result->Kind, akList);
}

// --- ReplaceAll ----------------------------------------------------------------

TEST(ReplaceAll, SearchesAgainFromTheStartAfterEachReplacement) {
  EXPECT_EQ(All(u"a-b-c", u"-", u"+", false), u"a+b+c");
  // "aab" -> "ab" -> "b": the replacement forms a new occurrence with the
  // text before it.
  EXPECT_EQ(All(u"aab", u"ab", u"b", false), u"b");
  EXPECT_EQ(All(u"xaaabbby", u"ab", u"", false), u"xy");
}

TEST(ReplaceAll, DegenerateSearchesEnd) {
  EXPECT_EQ(All(u"abc", u"", u"z", false), u"abc");
  EXPECT_EQ(All(u"a&b&", u"&", u"&amp;", false), u"a&amp;b&amp;");
  EXPECT_EQ(All(u"aa", u"a", u"aa", false), u"aaaa");
}

TEST(ReplaceAll, PadsEmptyAndOneCharacterResults) {
  EXPECT_EQ(All(u"", u"x", u"y", true), u"&#32;&#32;");
  EXPECT_EQ(All(u"x", u"x", u"", true), u"&#32;&#32;");
  EXPECT_EQ(All(u"ab", u"b", u"", true), u"a ");
  EXPECT_EQ(All(u"ab", u"x", u"", true), u"ab");
  EXPECT_EQ(All(u"", u"x", u"y", false), u"");
  EXPECT_EQ(All(u"ab", u"b", u"", false), u"a");
}

// --- EscapeXml -----------------------------------------------------------------

TEST(EscapeXml, EscapesMarkupCharacters) {
  TestState ts;
  const TStructure& s = *ts.S;
  EXPECT_EQ(EscapeXml(s, u"a\"b<c>d&e", false), u"a&#34;b&#60;c&#62;d&#38;e");
  EXPECT_EQ(EscapeXml(s, u"&&", false), u"&#38;&#38;");
  EXPECT_EQ(EscapeXml(s, u"plain text", false), u"plain text");
}

TEST(EscapeXml, KeepsCharacterReferencesAndTagOpeners) {
  TestState ts;
  const TStructure& s = *ts.S;
  EXPECT_EQ(EscapeXml(s, u"&#60;", false), u"&#60;");
  EXPECT_EQ(EscapeXml(s, u"x&#169;y", false), u"x&#169;y");
  EXPECT_EQ(EscapeXml(s, u"<@b>@text<@/b>@", false), u"<b>text</b>");
  EXPECT_EQ(EscapeXml(s, u"a<@", false), u"a<");
  // "@#@" is the marker that protects references: it comes out as "&#".
  EXPECT_EQ(EscapeXml(s, u"a@#@b", false), u"a&#b");
}

TEST(EscapeXml, CopyrightSignAndLineBreak) {
  TestState ts;
  const TStructure& s = *ts.S;
  EXPECT_EQ(EscapeXml(s, u"\u00A9 2024", false), u"(C) 2024");
  EXPECT_EQ(EscapeXml(s, u"\r\n", false), u" ");
  EXPECT_EQ(EscapeXml(s, u"a\r\nb", false), u"a\r\nb");
}

TEST(EscapeXml, PadsShortTexts) {
  TestState ts;
  const TStructure& s = *ts.S;
  EXPECT_EQ(EscapeXml(s, u"", true), u"&#32;&#32;");
  EXPECT_EQ(EscapeXml(s, u"", false), u"");
  EXPECT_EQ(EscapeXml(s, u"a", true), u"a ");
  EXPECT_EQ(EscapeXml(s, u"<", true), u"&#60; ");
  EXPECT_EQ(EscapeXml(s, u"&", true), u"&#38; ");
  EXPECT_EQ(EscapeXml(s, u"\r\n", true), u"  ");
  EXPECT_EQ(EscapeXml(s, u"ab", true), u"ab");
}

// --- files -------------------------------------------------------------------

TEST(WriteUnicodeFile, WritesMarkAndLittleEndianUnits) {
  TempFolder tmp;
  WriteUnicodeFile(tmp.Name("empty.txt"), u"");
  EXPECT_EQ(ReadBytes(tmp.Path / "empty.txt"), std::string("\xFF\xFE", 2));

  WriteUnicodeFile(tmp.Name("text.txt"), u"A\u00E9\U0001D11E");
  EXPECT_EQ(ReadBytes(tmp.Path / "text.txt"), std::string("\xFF\xFE"
                                                          "A\0\xE9\0\x34\xD8\x1E\xDD",
                                                          10));

  // An existing longer file is replaced, not overwritten in place.
  WriteUnicodeFile(tmp.Name("text.txt"), u"B");
  EXPECT_EQ(ReadBytes(tmp.Path / "text.txt"), std::string("\xFF\xFE"
                                                          "B\0",
                                                          4));
}

TEST(WriteUnicodeFile, MissingFolderThrowsFileError) {
  TempFolder tmp;
  EXPECT_THROW(WriteUnicodeFile(tmp.Name("no-such-folder/x.txt"), u"x"), FileError);
  EXPECT_THROW(WriteUnicodeFile(Utf8ToUtf16(tmp.Path.string()), u"x"), FileError);
}

TEST(WriteHelpSnippet, WritesTheEscapedTextIntoTheHelpFolder) {
  TempFolder tmp;
  TestState ts;
  ts.S->HelpFolder = tmp.Folder();
  WriteHelpSnippet(*ts.S, u"$$$error-05$$$.txt", u"a<b");
  EXPECT_EQ(ReadBytes(tmp.Path / "$$$error-05$$$.txt"), std::string("\xFF\xFE"
                                                                    "a\0&\0#\0"
                                                                    "6\0"
                                                                    "0\0;\0b\0",
                                                                    16));
  WriteHelpSnippet(*ts.S, u"$$$error-06$$$.txt", u"");
  EXPECT_EQ(ReadBytes(tmp.Path / "$$$error-06$$$.txt").size(), 2u + 2u * 10u);
}

// A host that makes its folder only when a file is to be written is asked
// once, on the first write; one that answers "" is asked again next time and
// nothing is written meanwhile.
TEST(WriteHelpSnippet, AsksTheHostForAFolderOnlyWhenNoneIsSet) {
  TempFolder tmp;
  TestState ts;
  ts.S->HelpFolder.clear();
  std::u16string answer;
  ts.Host.OnMakeHelpFolder = [&answer] { return answer; };
  EXPECT_NO_THROW(WriteHelpSnippet(*ts.S, u"$$$error-05$$$.txt", u"text"));
  EXPECT_EQ(ts.Host.HelpFolderRequests, 1);
  EXPECT_TRUE(fs::is_empty(tmp.Path));

  answer = tmp.Folder();
  WriteHelpSnippet(*ts.S, u"$$$error-05$$$.txt", u"text");
  WriteHelpSnippet(*ts.S, u"$$$error-06$$$.txt", u"text");
  EXPECT_EQ(ts.Host.HelpFolderRequests, 2);
  EXPECT_EQ(ts.S->HelpFolder, tmp.Folder());
  EXPECT_TRUE(fs::exists(tmp.Path / "$$$error-05$$$.txt"));
  EXPECT_TRUE(fs::exists(tmp.Path / "$$$error-06$$$.txt"));
}

TEST(WriteHelpSnippet, WithoutHelpFolderWritesNothing) {
  TempFolder tmp;
  const fs::path old = fs::current_path();
  fs::current_path(tmp.Path);
  TestState ts;
  ts.S->HelpFolder.clear();
  EXPECT_NO_THROW(WriteHelpSnippet(*ts.S, u"$$$error-05$$$.txt", u"text"));
  EXPECT_TRUE(fs::is_empty(tmp.Path));
  fs::current_path(old);
}
