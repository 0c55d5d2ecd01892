// The log, text-file, text-to-list, scope and caller primitives, run
// through the library's wrappers as programs use them, and called directly
// where a raise is suppressed.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

class TextPrimitives : public ::testing::Test {
protected:
  TextPrimitives() {
    S.Language.Texts[u"BADSTRING"] = u"%s is not a word";
    S.Language.Texts[u"BADNUMBER"] = u"%s is not a number";
    S.Language.Texts[u"UNMATCHED"] = u"Unmatched %s";
    const std::u16string library = ReadTextFile(S, U16(ZAVTA_SOURCE_DIR "/resources/Logo.zav"));
    EXPECT_EQ(RunText(I, library, u"Logo.zav"), 0);
  }

  TAtom* W(std::u16string_view text) { return NewWord(S, std::u16string(text)); }
  // A global set from outside, for values awkward to write in program text.
  void Set(std::u16string_view name, TAtom* value) {
    TAtom::SetValue(S, *S.CreateVariable(S.Root, name, false, nullptr), value);
  }
  void SetPath(std::u16string_view name, const std::filesystem::path& path) { Set(name, W(PathText(path))); }
  TAtom* Global(std::u16string_view name) {
    const TAtom* variable = S.FindName(name);
    return variable != nullptr ? variable->Left : SystemValue;
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  // The lines a run that must succeed printed.
  std::string Printed(std::u16string_view text) {
    T.Host.Lines.clear();
    EXPECT_EQ(Run(text), 0) << U8(std::u16string(text)) << ": " << U8(S.LastError);
    return T.Host.Output();
  }
  // The message of the error a run that must fail raised.
  std::string Error(std::u16string_view text) {
    EXPECT_EQ(Run(text), 2) << U8(std::u16string(text));
    return U8(S.LastError);
  }

  TempFolder Folder;
  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

// --- the program log ------------------------------------------------------------------

TEST_F(TextPrimitives, LogAppendsOnlyWithTheAppendBitAndWritesOnlyItsCategories) {
  const std::filesystem::path log = Folder.Path / "run.log";
  SetPath(u"f", log);
  WriteBytes(log, "old\n");
  ASSERT_EQ(Run(u"openlog 5 :f\nwritelog 1 [a b]\nwritelog 2 \"other\nwritelog 3 \"both\ncloselog"), 0);
  EXPECT_EQ(ReadBytes(log), "old\n[a b]\nboth\n");
  EXPECT_FALSE(S.Log.LogFileOpen);

  ASSERT_EQ(Run(u"openlog 2 :f\nwritelog 2 \"fresh\ncloselog\nwritelog 2 \"closed"), 0);
  EXPECT_EQ(ReadBytes(log), "fresh\n");
}

TEST_F(TextPrimitives, TheMaskRoundTripsAndAnOpenLogFollowsIt) {
  const std::filesystem::path log = Folder.Path / "mask.log";
  SetPath(u"f", log);
  EXPECT_EQ(Printed(u"openlog 1 :f\nprint setlogmask 6\nprint setlogmask 6\nwritelog 1 \"off\nwritelog 4 \"on"),
            "1\n6");
  EXPECT_EQ(Printed(u"print setlogmask 256\nprint setlogmask 0\ncloselog"), "6\n256");
  EXPECT_EQ(ReadBytes(log), "on\n");
}

TEST_F(TextPrimitives, ALogThatCannotBeOpenedRaisesAndStaysClosed) {
  SetPath(u"f", Folder.Path / "no-such-folder" / "x.log");
  EXPECT_EQ(Error(u"openlog 1 :f"), "openlog");
  EXPECT_FALSE(S.Log.LogFileOpen);
  EXPECT_EQ(Error(u"openlog \"many :f"), "many is not a number");
  EXPECT_EQ(Error(u"openlog 1 [a b]"), "[a b] is not a word");
  EXPECT_EQ(Error(u"writelog [1] \"x"), "[1] is not a number");
}

// --- whole text files ---------------------------------------------------------------

TEST_F(TextPrimitives, WrittenFilesLoseTheirOuterBracketsAndReadBack) {
  const std::filesystem::path file = Folder.Path / "out.txt";
  SetPath(u"f", file);
  ASSERT_EQ(Run(u"writefile :f [a [b c] d]\nmake \"r readtextfile :f"), 0);
  EXPECT_EQ(ReadBytes(file), "a [b c] d");
  EXPECT_EQ(U8(TAtom::ToText(S, Global(u"r"))), "a [b c] d");

  Set(u"w", W(u"[word]"));
  ASSERT_EQ(Run(u"writefile :f :w"), 0);
  EXPECT_EQ(ReadBytes(file), "word");
  Set(u"w", W(u"]"));
  ASSERT_EQ(Run(u"writefile :f :w"), 0);  // one character: nothing to strip
  EXPECT_EQ(ReadBytes(file), "]");
  ASSERT_EQ(Run(u"writefile :f 12.5"), 0);  // no line end
  EXPECT_EQ(ReadBytes(file), "12.5");
}

TEST_F(TextPrimitives, TextTheCodePageCannotHoldIsWrittenAsUtf16) {
  const std::filesystem::path file = Folder.Path / "wide.txt";
  SetPath(u"f", file);
  Set(u"w", W(u"caf\u00e9"));
  ASSERT_EQ(Run(u"writefile :f :w"), 0);
  EXPECT_EQ(ReadBytes(file), "caf\xE9");  // fits the page: one byte each

  const std::u16string cyrillic = u"\u0436\u0443\u043a \u00e9";
  // Page bytes that would read back as UTF-8 ("Ã©" is C3 A9) are not written
  // as such either.
  for (const std::u16string& text : {cyrillic, std::u16string(u"\u00c3\u00a9")}) {
    Set(u"w", W(text));
    ASSERT_EQ(Run(u"writefile :f :w\nmake \"r readtextfile :f"), 0);
    const std::string bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.size(), 2 + 2 * text.size());
    ASSERT_TRUE(TAtom::IsWord(Global(u"r")));
    EXPECT_EQ(Global(u"r")->Text, text);
  }
}

TEST_F(TextPrimitives, MissingFilesAndFoldersReadAsTheirFallbacks) {
  SetPath(u"missing", Folder.Path / "missing.txt");
  SetPath(u"folder", Folder.Path);
  ASSERT_EQ(Run(u"make \"a readtextfile :missing\nmake \"b readtextfile :folder\n"
                u"make \"c readfile :missing\nmake \"d readfile :folder"),
            0);
  ASSERT_TRUE(TAtom::IsWord(Global(u"a")));
  EXPECT_EQ(Global(u"a")->Text, u"");
  EXPECT_EQ(Global(u"b"), nullptr);
  EXPECT_EQ(Global(u"c"), nullptr);
  EXPECT_EQ(Global(u"d"), nullptr);
  EXPECT_EQ(Error(u"writefile :folder \"x"), "writefile");
}

TEST_F(TextPrimitives, AFileWithBareLineFeedsParsesAsProgramText) {
  const std::filesystem::path file = Folder.Path / "lf.txt";
  SetPath(u"f", file);
  WriteBytes(file, "print 1 ; a comment\nmake \"x [a\nb]\n");
  Set(u"t", W(u"print 1 ; a comment\r\nmake \"x [a\r\nb]\r\n"));
  ASSERT_EQ(Run(u"make \"r readfile :f\nmake \"s parse :t"), 0);
  EXPECT_EQ(U8(TAtom::ToText(S, Global(u"r"))), U8(TAtom::ToText(S, Global(u"s"))));
  // The comment ends at the line feed, so the assignment runs.
  EXPECT_EQ(Printed(u"run readfile :f\nprint count :x"), "1\n3");
}

// --- text to lists --------------------------------------------------------------------

TEST_F(TextPrimitives, ConversionParsesLikeProgramTextAndRaisesItsErrors) {
  EXPECT_EQ(Printed(u"print count parse \"'a [b c] (d e)'\nprint first bf parse \"'a [b c]'"), "3\nb c");
  for (const char16_t* text : {u"a [b", u"a (b", u"a ]"}) {
    Set(u"t", W(text));
    T.Host.Dialogs.clear();
    EXPECT_EQ(Run(u"print parse :t"), 2) << U8(text);
    ASSERT_FALSE(T.Host.Dialogs.empty());
    EXPECT_TRUE(T.Host.Dialogs.back().Topic.starts_with(u"does-not-match-")) << U8(T.Host.Dialogs.back().Topic);
  }
}

TEST_F(TextPrimitives, TheFlatListKeepsBracketsQuotesAndCommentMarksAsWords) {
  Set(u"t", W(u"a [b \"c] ;x {y} 'z' (1)"));
  ASSERT_EQ(Run(u"make \"r parsewords :t"), 0);
  std::vector<std::string> words;
  for (const TAtom* cell = Global(u"r"); IsAtom(cell); cell = cell->Right) {
    EXPECT_TRUE(TAtom::IsWord(cell->Left));
    words.push_back(U8(TAtom::ToText(S, cell->Left)));
  }
  EXPECT_EQ(words, (std::vector<std::string>{"a", "[", "b", "\"", "c", "]", ";", "x", "{", "y", "}", "'", "z", "'",
                                             "(", "1", ")"}));
}

TEST_F(TextPrimitives, ExprpIsTrueOnlyForAnExpressionWithoutMembers) {
  EXPECT_EQ(Printed(u"print exprp expr [1 2]\nprint exprp [1 2]\nprint exprp 3\n"
                    u"make \"e expr [1 2]\nprint exprp :e\nmake \"e.m 1\nprint exprp :e"),
            "true\nfalse\nfalse\ntrue\nfalse");
}

// --- ask ------------------------------------------------------------------------------

TEST_F(TextPrimitives, AskFindsTheObjectsMembersThenTheCallersLocalsThenGlobals) {
  ASSERT_EQ(Run(u"make \"obj.a 5\nmake \"a 1\nmake \"b \"global\nmake \"c \"global"), 0);
  EXPECT_EQ(Printed(u"print ask \"obj [:a + 1]"), "6");
  EXPECT_EQ(Printed(u"to p\nlocal \"b\nmake \"b \"mine\noutput ask \"obj [(se :a :b :c)]\nend\nprint p"),
            "5 mine global");
  // Bound by its ordinal, the routine is the same.
  EXPECT_EQ(Printed(u"to byordinal :_object :_instructions\noutput dll.zavta.80\nend\nprint byordinal \"obj [:a]"),
            "5");
  ASSERT_EQ(Run(u"make \"r ask \"obj []"), 0);
  EXPECT_EQ(Global(u"r"), nullptr);
  EXPECT_EQ(Printed(u"ask \"obj [make \"a 7]\nprint :obj.a :a"), "7 1");
  EXPECT_EQ(S.ModuleList, nullptr);
}

TEST_F(TextPrimitives, AskRaisesForAnUnknownObjectOrInstructionsThatAreNoList) {
  EXPECT_EQ(Error(u"ask \"nosuch [print \"ran]"), "ask");
  ASSERT_EQ(Run(u"make \"obj.a 5"), 0);
  EXPECT_EQ(Error(u"ask \"obj \"word"), "ask");
  EXPECT_EQ(Error(u"ask \"obj 5"), "ask");
  EXPECT_EQ(T.Host.Output().find("ran"), std::string::npos);
  EXPECT_EQ(S.ModuleList, nullptr);
}

TEST_F(TextPrimitives, AnErrorInsideAskLeavesEveryFrameAndScopeItEntered) {
  ASSERT_EQ(Run(u"make \"obj.v \"object\n"
                u"to p\nask \"obj [nosuchthing]\nend\n"
                u"make \"p.onerror [print \"caught]\n"
                u"to q\nlocal \"v\nmake \"v \"mine\np\nprint :v\nend"),
            0);
  EXPECT_EQ(Printed(u"q"), "caught\nmine");
  EXPECT_EQ(S.ModuleList, nullptr);
  ASSERT_NE(S.Frame(), nullptr);
  EXPECT_EQ(S.Frame()->Owner, S.Root);

  EXPECT_EQ(Run(u"ask \"obj [nosuchthing]"), 2);  // unabsorbed
  EXPECT_EQ(S.ModuleList, nullptr);
  EXPECT_EQ(S.Frame()->Owner, S.Root);
  EXPECT_EQ(S.Frame()->Parent, nullptr);
}

// --- caller ---------------------------------------------------------------------------

TEST_F(TextPrimitives, CallerNamesTheFrameAboveTheCallingProcedure) {
  ASSERT_EQ(Run(u"to q\noutput caller\nend\nto p\noutput q\nend\n"
                u"to r :n\noutput (caller :n)\nend\nto s\noutput r 1\nend"),
            0);
  EXPECT_EQ(Printed(u"print p"), "p.[~]");
  EXPECT_EQ(Printed(u"print q"), "[Root]");
  EXPECT_EQ(Printed(u"print s"), "s.[~]");
  EXPECT_EQ(Printed(u"print r 0"), "r.[~]");
  ASSERT_EQ(Run(u"make \"x r 2\nmake \"y s"), 0);
  EXPECT_EQ(Global(u"x"), nullptr);  // beyond the outermost frame: nothing
  EXPECT_EQ(Error(u"print (caller \"far)"), "far is not a number");
}

// --- raises that return ---------------------------------------------------------------

class SuppressedRaises : public ::testing::Test {
protected:
  SuppressedRaises() { T.ArmErrors(false); }
  // Runs the routine in a frame whose cells hold the inputs (the last
  // written is cell 1), below the root's frame.
  TAtom* Call(int32_t ordinal, const std::vector<TAtom*>& inputs) {
    TAtom* owner = NewVariable(S, u"[~]", nullptr);
    for (TAtom* value : inputs) S.CreateVariable(owner, u"input", true, value);
    S.EnterFrame(owner);
    TAtom* result = I.Exports.Routine(ordinal)(I);
    S.LeaveFrame();
    return result;
  }
  TAtom* W(std::u16string_view text) { return NewWord(S, std::u16string(text)); }

  TempFolder Folder;
  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(SuppressedRaises, ABadInputEndsThePrimitiveBeforeItActs) {
  const std::u16string log = Folder.Name("x.log");
  EXPECT_EQ(Call(exLOGOOPENLOG, {W(u"many"), W(log)}), nullptr);
  EXPECT_FALSE(S.Log.LogFileOpen);
  EXPECT_FALSE(std::filesystem::exists(Folder.Path / "x.log"));

  TAtom* instructions = ListOf(S, {W(u"print"), W(u"ran")});
  EXPECT_EQ(Call(exLOGOASK, {W(u"nosuch"), instructions}), nullptr);
  EXPECT_EQ(Call(exLOGOASK, {}), nullptr);
  EXPECT_TRUE(T.Host.Lines.empty());
  EXPECT_EQ(S.ModuleList, nullptr);
  EXPECT_EQ(S.Frame()->Owner, S.Root);

  EXPECT_EQ(Call(exLOGOWRITEFILE, {ListOf(S, {W(u"a")}), W(u"text")}), nullptr);
  EXPECT_EQ(Call(exLOGOWRITELOG, {}), nullptr);
}

}  // namespace

// --- joining words ----------------------------------------------------------------------

TEST_F(TextPrimitives, WordJoinsItsInputsInTheWrittenOrderWhateverTheirKinds) {
  const struct {
    std::u16string_view Program;
    std::string Printed;
  } cases[] = {
      {u"print word \"ab \"cd", "abcd"},
      {u"print (word \"item 7 \"x)", "item7x"},
      {u"print (word 123456789 0.5 -3)", "1234567890.5-3"},
      {u"print (word)", ""},
      {u"print (word \"a [b c] \"d)", "a[b c]d"},
      {u"print (word \"a \"b \"c \"d \"e \"f \"g \"h \"i \"j 11 \"l)", "abcdefghij11l"},
      {u"print count (word \"\U0001F600 \"b \"\U0001F601)", "3"},
      {u"print first (word \"\U0001F600 \"b)", "\U0001F600"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printed(c.Program), c.Printed) << U8(std::u16string(c.Program));
}
