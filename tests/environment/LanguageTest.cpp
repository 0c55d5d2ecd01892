// Language files: the shipped English file, the encodings, the fallbacks, the
// keyword tables under both case rules, switching languages and what the core
// shows afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Atoms.h"
#include "core/Text.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "tests/support/Files.h"
#include "tests/support/TestState.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = fs::u8path(ZAVTA_SOURCE_DIR);
const fs::path kStagedRoot = fs::u8path(ZAVTA_STAGED_ROOT);

constexpr std::u16string_view kCaptionKeys[] = {
    u"CAPTION.COMMAND", u"CAPTION.COMMAND.INCOMPLETE", u"CAPTION.INFO", u"CAPTION.MEMORY", u"CAPTION.OUTPUT",
    u"CAPTION.PLANE",
};
constexpr std::u16string_view kDialogKeys[] = {
    u"DIALOG.SAVESOURCE",   u"DIALOG.BUTTON.YES",        u"DIALOG.BUTTON.NO",     u"DIALOG.BUTTON.CANCEL",
    u"DIALOG.BUTTON.HELP",  u"DIALOG.BUTTON.REPLACEALL", u"DIALOG.FIND.FINDTHIS", u"DIALOG.FIND.NOMORE",
    u"DIALOG.FIND.REPLACE", u"DIALOG.FIND.REPLACETHIS",
};
constexpr std::u16string_view kFormatKeys[] = {
    u"UNMATCHED", u"UNKNOWNVAR", u"UNKNOWNFILE", u"INMODULE",    u"USERLOCK",
    u"ARGCOUNT",  u"BADARG",     u"BADCOMMAND",  u"SYSTEMERROR", u"BADNAME",
    u"BADNUMBER", u"BADSTRING",  u"BADVALUEARG", u"MISSINGARG",  u"TOODEEP",
    u"GLRECORDINGFAILED",
};

// FF FE and the UTF-16LE units of the text.
std::string Utf16LeFile(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string AtomText(const TAtom* atom) { return atom == nullptr ? u"<null>" : atom->Text.str(); }

// A temporary program tree (System/ and Languages/) with copies of the
// English and test language files.
class TempTree {
public:
  TempTree() {
    static std::atomic<int> counter{0};
    root_ =
        fs::temp_directory_path() / ("zavta-language-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(root_ / "System");
    fs::create_directories(root_ / "Languages");
    fs::copy_file(kSourceDir / "resources/Languages/English.txt", Languages() / "English.txt");
    fs::copy_file(kSourceDir / "tests/environment/data/Test.txt", Languages() / "Test.txt");
  }
  ~TempTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  fs::path Languages() const { return root_ / "Languages"; }
  std::u16string LanguagesFolder() const { return Utf8ToUtf16(Languages().string()) + u"/"; }

private:
  fs::path root_;
};

class LanguageTest : public ::testing::Test {
protected:
  LanguageTest() : env(*ts.S) { env.LanguagesFolder = tree.LanguagesFolder(); }

  void Load(std::u16string_view name) {
    env.LanguageName = std::u16string(name);
    LoadLanguage(env);
  }
  void WriteLanguage(const std::string& name, std::string_view bytes) {
    WriteBytes(tree.Languages() / (name + ".txt"), bytes);
  }
  const std::u16string& Keyword(int index) const { return ts.S->Keyword(index); }
  const std::u16string& KeywordUpper(int index) const {
    return ts.S->Language.KeywordTableUpper[static_cast<size_t>(index)];
  }

  TempTree tree;
  TestState ts;
  EnvState env;
};

// --- the shipped English file -------------------------------------------------------

TEST_F(LanguageTest, EnglishFileHoldsEveryKey) {
  Load(u"English");
  ASSERT_EQ(U8(env.LanguageName), "English");

  for (const MenuCaptionKey& row : kMenuCaptionKeys)
    EXPECT_FALSE(env.LanguageTexts.RawValue(row.Key).empty()) << U8(row.Key);
  for (auto key : kCaptionKeys) EXPECT_FALSE(env.LanguageTexts.RawValue(key).empty()) << U8(std::u16string(key));
  for (auto key : kDialogKeys) EXPECT_FALSE(env.LanguageTexts.RawValue(key).empty()) << U8(std::u16string(key));
  for (auto key : kFormatKeys) EXPECT_FALSE(env.LanguageTexts.RawValue(key).empty()) << U8(std::u16string(key));
  EXPECT_EQ(U8(env.LanguageTexts.RawValue(u"LANGUAGE.English")), "English");

  // Every keyword is its key as written, under the upper-case key.
  for (size_t i = 0; i < kKeywordCount; ++i) {
    const std::u16string key(KeywordKeys[i]);
    EXPECT_EQ(U8(env.LanguageTexts.RawValue(UpperCase(key))), U8(key)) << i;
    EXPECT_EQ(U8(Keyword(static_cast<int>(i))), U8(key)) << i;
  }
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
  EXPECT_EQ(env.Charset, 1);
}

TEST(LanguageStaging, EnglishFileIsStagedBesideTheProgram) {
  const fs::path staged = kStagedRoot / "Languages" / "English.txt";
  ASSERT_TRUE(fs::is_regular_file(staged)) << staged;
  EXPECT_EQ(ReadBytes(staged), ReadBytes(kSourceDir / "resources/Languages/English.txt"));
}

// --- missing keys and case rules -------------------------------------------------------

TEST_F(LanguageTest, MissingKeywordIsItsUpperCaseKeyInBothCaseModes) {
  WriteLanguage("Bare", "END=fin\nTRUE=oui\n");
  Load(u"Bare");
  EXPECT_EQ(U8(Keyword(kwTo)), "TO");
  EXPECT_EQ(U8(Keyword(kwEnd)), "fin");
  EXPECT_EQ(U8(KeywordUpper(kwEnd)), "FIN");
  EXPECT_EQ(U8(AtomText(ts.S->Language.TrueAtom)), "OUI");
  EXPECT_EQ(U8(AtomText(ts.S->Language.FalseAtom)), "FALSE");

  ts.S->CaseSensitive = false;
  Load(u"Bare");
  EXPECT_EQ(U8(Keyword(kwTo)), "TO");
  EXPECT_EQ(U8(Keyword(kwEnd)), "FIN");
}

TEST_F(LanguageTest, CaseInsensitiveNamesGiveAnUpperCaseTable) {
  ts.S->CaseSensitive = false;
  Load(u"English");
  EXPECT_EQ(U8(Keyword(kwTo)), "TO");
  EXPECT_EQ(U8(Keyword(kwGet)), "GET_");
  EXPECT_EQ(U8(Keyword(kwColorHash1)), "COLOR.#1");
  for (size_t i = 0; i < kKeywordCount; ++i)
    EXPECT_EQ(ts.S->Language.KeywordTable[i], ts.S->Language.KeywordTableUpper[i]) << i;
}

TEST_F(LanguageTest, RebuildFollowsACaseChange) {
  Load(u"English");
  ASSERT_EQ(U8(Keyword(kwPrint)), "print");

  ts.S->CaseSensitive = false;
  RebuildKeywordTable(env);
  EXPECT_EQ(U8(Keyword(kwPrint)), "PRINT");
  EXPECT_EQ(U8(AtomText(ts.S->Language.TrueAtom)), "TRUE");

  ts.S->CaseSensitive = true;
  RebuildKeywordTable(env);
  EXPECT_EQ(U8(Keyword(kwPrint)), "print");
  EXPECT_EQ(U8(KeywordUpper(kwPrint)), "PRINT");
  EXPECT_EQ(U8(AtomText(ts.S->Language.FalseAtom)), "FALSE");
}

// --- encodings ----------------------------------------------------------------------

TEST_F(LanguageTest, EightBitFileIgnoresItsCodePageAndCharset) {
  ts.S->Language.CodePage = 1251;
  env.Charset = 204;
  WriteLanguage("Cp", "CODEPAGE=1251\nCHARSET=204\nTO=xx\n");
  Load(u"Cp");
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
  EXPECT_EQ(env.Charset, 1);
  EXPECT_EQ(U8(Keyword(kwTo)), "xx");
}

TEST_F(LanguageTest, EightBitFileIsUtf8WhenValidElseWindows1252UpToANul) {
  WriteLanguage("Utf8", "\xEF\xBB\xBFTO=\xC3\xA9t\xC3\xA9\r\nEND=\xD0\xBA\xD0\xBE\xD0\xBD\xD0\xB5\xD1\x86\r\n");
  Load(u"Utf8");
  EXPECT_EQ(U8(Keyword(kwTo)), "\xC3\xA9t\xC3\xA9");  // the byte-order mark does not stick to the first key
  EXPECT_EQ(U8(Keyword(kwEnd)), "\xD0\xBA\xD0\xBE\xD0\xBD\xD0\xB5\xD1\x86");

  WriteLanguage("Ansi", "TO=\xE9t\xE9\nEND=\x80\n");
  Load(u"Ansi");
  EXPECT_EQ(U8(Keyword(kwTo)), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(U8(Keyword(kwEnd)), "\xE2\x82\xAC");  // 0x80 is the euro sign

  // The text ends at the first NUL.
  WriteLanguage("Nul", std::string("TO=a\nEND=b\0\nPRINT=c\n", 20));
  Load(u"Nul");
  EXPECT_EQ(U8(Keyword(kwEnd)), "b");
  EXPECT_EQ(U8(Keyword(kwPrint)), "PRINT");
}

TEST_F(LanguageTest, Utf16FileKeepsItsTextsAndSetsCodePage) {
  Load(u"Test");
  EXPECT_EQ(ts.S->Language.CodePage, 1251);
  EXPECT_EQ(env.Charset, 1);  // no CHARSET line
  EXPECT_EQ(Keyword(kwTo), u"это");
  EXPECT_EQ(KeywordUpper(kwTo), u"ЭТО");
  EXPECT_EQ(AtomText(ts.S->Language.TrueAtom), u"ИСТИНА");
  EXPECT_EQ(AtomText(ts.S->Language.FalseAtom), u"ЛОЖЬ");
}

TEST_F(LanguageTest, Utf16FileKeepsCharactersOutsideItsCodePage) {
  // Greek is not in page 1251; the texts stay UTF-16 and lose nothing.
  WriteLanguage("Greek", Utf16LeFile(u"CODEPAGE=1251\nCHARSET=161\nTO=για\n"));
  Load(u"Greek");
  EXPECT_EQ(Keyword(kwTo), u"για");
  EXPECT_EQ(ts.S->Language.CodePage, 1251);
  EXPECT_EQ(env.Charset, 161);
}

TEST_F(LanguageTest, BadCodePageOrCharsetFallsBackWithoutRaising) {
  WriteLanguage("Bad", Utf16LeFile(u"CODEPAGE=cyrillic\r\nCHARSET=12x\r\nTO=x\r\n"));
  ts.S->Language.CodePage = 1251;
  env.Charset = 204;
  EXPECT_NO_THROW(Load(u"Bad"));
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
  EXPECT_EQ(env.Charset, 1);
  EXPECT_EQ(U8(Keyword(kwTo)), "x");

  WriteLanguage("Empty", Utf16LeFile(u"CODEPAGE=\r\nTO=y\r\n"));
  ts.S->Language.CodePage = 1251;
  Load(u"Empty");
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
}

// --- missing files ---------------------------------------------------------------------

TEST_F(LanguageTest, UnknownLanguageFallsBackToEnglish) {
  Load(u"Klingon");
  EXPECT_EQ(U8(env.LanguageName), "English");
  EXPECT_EQ(U8(Keyword(kwTo)), "to");
  EXPECT_EQ(U8(env.LanguageTexts.RawValue(u"MENU.FILE")), "File");
}

TEST(LanguageMissingFiles, NothingLoadedLeavesTheKeyBuiltTable) {
  HeadlessHost host;
  TStructure s(host);
  EnvState env(s);
  const fs::path empty = fs::temp_directory_path() / ("zavta-nolanguages-" + std::to_string(::getpid()));
  fs::create_directories(empty);
  env.LanguagesFolder = Utf8ToUtf16(empty.string()) + u"/";
  env.LanguageName = u"Klingon";
  EXPECT_NO_THROW(LoadLanguage(env));
  fs::remove_all(empty);

  EXPECT_EQ(U8(env.LanguageName), "English");
  EXPECT_EQ(U8(s.Keyword(kwTo)), "TO");
  EXPECT_EQ(U8(s.Keyword(kwGet)), "GET_");
  ASSERT_NE(s.Language.TrueAtom, nullptr);
  ASSERT_NE(s.Language.FalseAtom, nullptr);
  EXPECT_EQ(U8(s.Language.TrueAtom->Text), "TRUE");
  EXPECT_EQ(U8(s.Language.FalseAtom->Text), "FALSE");
  EXPECT_EQ(s.Language.CodePage, 1252);
}

TEST_F(LanguageTest, MissingFilesKeepWhatWasLoaded) {
  Load(u"Test");
  fs::remove(tree.Languages() / "English.txt");
  Load(u"Klingon");
  EXPECT_EQ(Keyword(kwTo), u"это");
  EXPECT_EQ(ts.S->Language.CodePage, 1251);
  EXPECT_EQ(env.LanguageTexts.RawValue(u"TRUE"), u"истина");
}

// --- switching ----------------------------------------------------------------------

TEST_F(LanguageTest, SwitchingChangesKeywordsAtomsAndMessages) {
  auto badNumberMessage = [&]() -> std::u16string {
    try {
      TAtom::AsNumber(*ts.S, NewWord(*ts.S, u"x"));
    } catch (const LanguageError& e) {
      return e.Message();
    }
    return u"<no error>";
  };

  SwitchLanguage(env, u"English");
  ASSERT_EQ(U8(Keyword(kwTo)), "to");
  const std::u16string englishBadNumber = badNumberMessage();
  EXPECT_EQ(U8(englishBadNumber), "x is not a number");

  SwitchLanguage(env, u"Test");
  EXPECT_EQ(U8(env.LanguageName), "Test");
  EXPECT_EQ(Keyword(kwTo), u"это");
  EXPECT_EQ(Keyword(kwPrint), u"печать");
  EXPECT_EQ(Keyword(kwEnd), u"конец");
  EXPECT_EQ(AtomText(ts.S->Language.TrueAtom), u"ИСТИНА");
  EXPECT_EQ(AtomText(ts.S->Language.FalseAtom), u"ЛОЖЬ");
  EXPECT_EQ(ts.S->Language.UnknownVarFormat, u"Не знаю %s");
  EXPECT_EQ(badNumberMessage(), u"x не число");
  // Keys the file lacks give the key itself.
  EXPECT_EQ(U8(Keyword(kwIf)), "IF");
  EXPECT_EQ(U8(ts.S->Language.ArgCountFormat), "ARGCOUNT");
  EXPECT_EQ(U8(ts.S->Language.SystemErrorText), "SYSTEMERROR");
  EXPECT_EQ(U8(env.LanguageTexts.GetValueOrKey(u"MENU.EDIT")), "MENU.EDIT");
  EXPECT_EQ(U8(env.LanguageTexts.GetValueOrKey(u"MENU.FILE")), "Файл");

  SwitchLanguage(env, u"English");
  EXPECT_EQ(U8(Keyword(kwTo)), "to");
  EXPECT_EQ(U8(Keyword(kwPrint)), "print");
  EXPECT_EQ(U8(Keyword(kwEnd)), "end");
  EXPECT_EQ(U8(AtomText(ts.S->Language.TrueAtom)), "TRUE");
  EXPECT_EQ(U8(AtomText(ts.S->Language.FalseAtom)), "FALSE");
  EXPECT_EQ(U8(ts.S->Language.UnknownVarFormat), "I don't know %s");
  EXPECT_EQ(U8(ts.S->Language.ArgCountFormat), "Wrong number of inputs for %s");
  EXPECT_EQ(badNumberMessage(), englishBadNumber);
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
}

TEST_F(LanguageTest, DisplayNameComesFromTheCurrentTexts) {
  Load(u"English");
  EXPECT_EQ(U8(LanguageDisplayName(env, u"English")), "English");
  EXPECT_EQ(U8(LanguageDisplayName(env, u"Test")), "Test");  // no LANGUAGE.Test: the name

  env.LanguageTexts.SetValue(u"LANGUAGE.Fr", u"Français");
  EXPECT_EQ(LanguageDisplayName(env, u"Fr"), u"Français");
  EXPECT_EQ(LanguageDisplayName(env, u"fr"), u"Français");  // names match without letter case
}

// --- start-up and the main window -------------------------------------------------------

TEST_F(LanguageTest, StartLanguageComesFromTheSettings) {
  env.Settings.SetValue(u"ENVIRONMENT", u"Test");
  LoadStartLanguage(env);
  EXPECT_EQ(U8(env.LanguageName), "Test");
  EXPECT_EQ(ts.S->Language.CodePage, 1251);

  env.Settings.SetValue(u"ENVIRONMENT", u"");
  LoadStartLanguage(env);
  EXPECT_EQ(U8(env.LanguageName), "English");
  EXPECT_EQ(U8(Keyword(kwTo)), "to");
}

TEST_F(LanguageTest, StartCodePageSettingStaysWhenNoFileLoads) {
  fs::remove(tree.Languages() / "English.txt");
  env.Settings.SetValue(u"ENVIRONMENT", u"Klingon");
  env.Settings.SetValue(u"CODEPAGE", u"1251");
  LoadStartLanguage(env);
  EXPECT_EQ(ts.S->Language.CodePage, 1251);

  env.Settings.SetValue(u"CODEPAGE", u"");
  LoadStartLanguage(env);
  EXPECT_EQ(ts.S->Language.CodePage, 1252);
}

TEST_F(LanguageTest, MainCaptionIsTheProjectOrTheVersion) {
  EXPECT_EQ(U8(MainCaption(env, u"5.6")), "Zavta 5.6");
  env.Settings.SetValue(u"PROJECT", u"Solar system");
  EXPECT_EQ(U8(MainCaption(env, u"5.6")), "Solar system");
}

// --- numeric locale ----------------------------------------------------------------------

TEST_F(LanguageTest, NumbersUseAPointUnderACommaLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                              "ru_RU.UTF-8", "ru_RU.utf8", "de_DE",       "fr_FR"};
  bool commaLocale = false;
  for (const char* name : candidates) {
    if (std::setlocale(LC_ALL, name) != nullptr && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
      commaLocale = true;
      break;
    }
  }
  if (!commaLocale) {
    std::setlocale(LC_ALL, saved.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }

  Load(u"English");
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", 2.5);
  EXPECT_STREQ(buffer, "2.50");
  EXPECT_EQ(U8(FormatNumber(1.25L)), "1.25");
  EXPECT_EQ(U8(TAtom::ToText(*ts.S, NewNumber(*ts.S, -0.5L))), "-0.5");
  long double x = 0;
  EXPECT_TRUE(TAtom::TryNumber(NewWord(*ts.S, u"3.75"), x));
  EXPECT_EQ(x, 3.75L);

  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
