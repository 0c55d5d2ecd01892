// The structure views of a statement: the golden views of one assignment,
// flat colon and quote items, slot names and bad nodes, names resolved from
// the owner's frame, parenthesised expressions that do not compile, colour
// levels, and what a dump leaves behind (no code, no pins, no files, the
// frame and the code pointer as they were).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

class StructureDump : public ::testing::Test {
protected:
  TAtom* Parse(std::u16string_view text) {
    const TParseResult r = ParseText(I.Scanner(), text, u"test");
    EXPECT_TRUE(r.Ok) << U8(std::u16string(text));
    return r.List;
  }
  TAtom* Define(std::u16string_view path, std::u16string_view definition) {
    return S.CreateVariable(S.Root, path, false, Parse(definition));
  }
  TDumpViews DumpOf(std::u16string_view text, TAtom* owner = nullptr) {
    return ExprStructureDump(I, Parse(text), owner);
  }

  // The slot names of a box view ("braced" or "boxed") in order, "!" after
  // a bad one.
  static std::string Slots(const std::u16string& view, const std::string& kind) {
    const std::string text = U8(view);
    std::string bad = "<";
    bad += kind;
    bad += "-bad-node/>";
    std::string out;
    for (size_t at = text.find(" name=\""); at != std::string::npos; at = text.find(" name=\"", at + 1)) {
      const size_t begin = at + 7;
      const size_t end = text.find('"', begin);
      if (!out.empty()) out += ' ';
      out += text.substr(begin, end - begin);
      if (text.compare(end + 2, bad.size(), bad) == 0) out += "!";
    }
    return out;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(StructureDump, ApostrophesInQuotedNotationTextsAreDoubled) {
  TAtom* statement = Parse(u"print 1");
  ASSERT_TRUE(IsAtom(statement) && IsAtom(statement->Right));
  statement->Right->Left = NewListCell(S, NewWord(S, u"it's"), nullptr);  // print [it's]
  const TDumpViews v = ExprStructureDump(I, statement, nullptr);
  EXPECT_NE(U8(v.Notation).find("it''s"), std::string::npos) << U8(v.Notation);
}

TEST_F(StructureDump, MakeGoldenViews) {
  const TDumpViews v = DumpOf(u"make \"x 5");
  EXPECT_EQ(U8(v.Unfolded), "<unfolded>(<cite>make</cite><nl/><sp/><sp/>x<nl/><sp/><sp/>5<nl/>)</unfolded>");
  EXPECT_EQ(U8(v.Boxed),
            "<boxed><boxed-node><left><boxed-node><middle><cite>make</cite></middle>"
            "<right name=\"name\"><boxed-flat-node>&#34;x</boxed-flat-node></right>"
            "<right name=\"value\"><boxed-flat-node>5</boxed-flat-node></right>"
            "</boxed-node></left></boxed-node></boxed>");
  EXPECT_EQ(U8(v.Braced),
            "<braced><braced-node><middle><cite>make</cite></middle>"
            "<right name=\"name\"><braced-flat-node>&#34;x</braced-flat-node></right>"
            "<right name=\"value\"><braced-flat-node>5</braced-flat-node></right></braced-node></braced>");
  // The quote adds no line of its own.
  EXPECT_EQ(U8(v.AsmCode),
            "<asmcode>PUSH x\r\nPUSH 5\r\nCALL <cite>make</cite><term>2</term>\r\nPOP<nl/>RET<nl/></asmcode>");
  EXPECT_EQ(U8(v.Notation), " ( '~~' [0] \"'make'   ( '~~' [1] \"'&#34;' \" x )   5 ) ");
  EXPECT_EQ(U8(v.Parened), "<parened><fnt0>(</fnt0>make<sp/>&#34;x<sp/>5<fnt0>)</fnt0></parened>");
}

TEST_F(StructureDump, ColonAndQuoteWithAWordAreOneItem) {
  const TDumpViews colon = DumpOf(u"print :x");
  EXPECT_NE(colon.Braced.find(u"<right name=\"thing\"><braced-flat-node>:x</braced-flat-node></right>"),
            std::u16string::npos);
  EXPECT_NE(colon.Boxed.find(u"<boxed-flat-node>:x</boxed-flat-node>"), std::u16string::npos);
  EXPECT_NE(colon.Unfolded.find(u"<sp/><sp/>:x<nl/>"), std::u16string::npos);
  // With a nested expression instead of a word, the colon is a composite node.
  const TDumpViews nested = DumpOf(u"print : (word \"a \"b)");
  EXPECT_NE(nested.Braced.find(u"<braced-node><middle><cite>:</cite></middle><right name=\"#1\">"),
            std::u16string::npos);
}

TEST_F(StructureDump, SlotsOfFormsAndProcedures) {
  Define(u"pair", u"[: a : b] output 1");
  Define(u"plus", u"[: x] [: y] output 1");
  const struct {
    const char16_t* Text;
    const char* Slots;
  } cases[] = {
      {u"if [1] [2]", "condition then"},
      {u"if [1] [2] [3]", "condition then else"},
      {u"if [1]", "condition then!"},
      {u"repeat 3", "count commands!"},
      {u"make \"x", "name"},
      {u"print 1 2", "thing thing"},
      // The counters and STOP are complete without inputs.
      {u"repeat", ""},
      {u"while", ""},
      {u"output", ""},
      {u"pair 1", "a b!"},
      {u"plus 2", "x! y"},
      // Extra inputs are numbered as in compiled code.
      {u"print (1 2 plus 3)", "thing x #-1 y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    const TDumpViews v = DumpOf(c.Text);
    EXPECT_EQ(Slots(v.Braced, "braced"), c.Slots);
    EXPECT_EQ(Slots(v.Boxed, "boxed"), c.Slots);
  }
}

TEST_F(StructureDump, NamesResolveFromTheOwnersFrame) {
  TAtom* owner = S.CreateVariable(S.Root, u"obj", false, nullptr);
  S.CreateVariable(owner, u"helper", true, Parse(u"[: a] output 1"));
  const TDumpViews inFrame = DumpOf(u"helper 1", owner);
  EXPECT_NE(inFrame.AsmCode.find(u"PUSH 1\r\nCALL <cite>obj.helper</cite><term>1</term>\r\n"), std::u16string::npos);
  EXPECT_NE(inFrame.Braced.find(u"<middle><cite>helper</cite></middle>"), std::u16string::npos);
  // Outside it the name is unknown: a call of its own, no input, no full name.
  const TDumpViews outside = DumpOf(u"helper 1");
  EXPECT_EQ(
      U8(outside.AsmCode),
      "<asmcode>CALL <cite>helper</cite>\r\nPOP<nl/>RET<nl/></asmcode><asmcode>PUSH 1\r\nPOP<nl/>RET<nl/></asmcode>");
}

TEST_F(StructureDump, UnmatchedExpressionsStillDump) {
  // Only data: the roots stay side by side, each later one dropped.
  const TDumpViews data = DumpOf(u"print (1 2)");
  EXPECT_NE(data.Parened.find(u"<fnt2>(</fnt2>1 2<fnt2>)</fnt2>"), std::u16string::npos);
  EXPECT_NE(data.AsmCode.find(u"PUSH 1\r\nPOP<nl/>PUSH 2\r\n"), std::u16string::npos);
  // A call takes the other roots whatever its bounds.
  Define(u"one", u"[: a] output 1");
  EXPECT_EQ(Slots(DumpOf(u"print (one 1 2 3)").Braced, "braced"), "thing a #1 #2");
  const TDumpViews empty = DumpOf(u"");
  EXPECT_EQ(empty.Braced + empty.Boxed + empty.Unfolded + empty.AsmCode + empty.Parened, u"");
}

TEST_F(StructureDump, ParenthesesColouredByLevel) {
  S.CreateVariable(Define(u"plus", u"[: x] [: y] output 1"), S.Keyword(kwOnpriority), true, NewNumber(S, 10));
  const std::string parened = U8(DumpOf(u"1 plus 2 plus 3 plus 4 plus 5 plus 6").Parened);
  std::string colours;
  for (size_t at = parened.find("(</fnt"); at != std::string::npos; at = parened.find("(</fnt", at + 1))
    colours += parened[at + 6];
  EXPECT_EQ(colours, "01230");
}

TEST_F(StructureDump, TextsAreEscaped) {
  // Built by hand: the scanner would split these words.
  TAtom* params = NewListCell(S, NewWord(S, u":"), NewListCell(S, NewWord(S, u"a<b"), nullptr));
  S.CreateVariable(S.Root, u"p&q", false, NewListCell(S, params, nullptr));
  TAtom* variable = NewVariable(S, u"v", NewNumber(S, 1));
  const TDumpViews v =
      ExprStructureDump(I, NewListCell(S, NewWord(S, u"p&q"), NewListCell(S, variable, nullptr)), nullptr);
  EXPECT_NE(v.Braced.find(u"<cite>p&#38;q</cite></middle><right name=\"a&#60;b\">"), std::u16string::npos);
  EXPECT_EQ(v.Unfolded.find(u'\x02'), std::u16string::npos);
}

TEST_F(StructureDump, LeavesNoCodePinsOrFiles) {
  TempFolder help;
  S.HelpFolder = help.Folder();
  TAtom* obj = S.CreateVariable(S.Root, u"obj", false, nullptr);
  S.CreateVariable(obj, u"get_size", true, Parse(u"[] output 1"));
  S.CreateVariable(obj, u"handle", true, NewNumber(S, 1));
  S.CreateVariable(obj, u"get_", true, Parse(u"[: name] output 1"));
  TAtom* statement = Parse(u"print obj.size obj.color unknown dll.zavta.none 1");
  const size_t pinned = I.Compiler().TempAtoms.size();
  const TDumpViews v = ExprStructureDump(I, statement, nullptr);
  EXPECT_NE(v.AsmCode.find(u"CALL <cite>obj.get_size</cite>\r\n"), std::u16string::npos);
  EXPECT_NE(v.AsmCode.find(u"PUSH color\r\nCALL <cite>obj.get_</cite><term>1</term>"), std::u16string::npos);
  EXPECT_NE(v.AsmCode.find(u"CALL <cite>dll.zavta.none</cite>\r\n"), std::u16string::npos);
  EXPECT_EQ(I.Compiler().TempAtoms.size(), pinned);
  EXPECT_EQ(TAtom::CodeCount(*statement), 0);
  EXPECT_EQ(TAtom::Length(statement), 6);
  EXPECT_TRUE(std::filesystem::is_empty(help.Path));
}

TEST_F(StructureDump, RestoresFrameAndPointersWhenItThrows) {
  TAtom* obj = S.CreateVariable(S.Root, u"obj", false, nullptr);
  S.CreateVariable(obj, u"get_size", true, Parse(u"[] output 1"));
  // A list that holds itself cannot be printed: TOODEEP.
  TAtom* statement = Parse(u"print obj.size 0");
  TAtom* selfHolding = NewListCell(S, nullptr, nullptr);
  selfHolding->Left = selfHolding;
  TAtom::LastCell(statement)->Left = selfHolding;
  TAtom* marker = Parse(u"marker");
  I.CodePointer = marker;
  I.CurrentCodeAtom = marker;
  const TContext* frame = S.Frame();
  const size_t pinned = I.Compiler().TempAtoms.size();
  EXPECT_THROW(ExprStructureDump(I, statement, obj), LanguageError);
  EXPECT_EQ(S.Frame(), frame);
  EXPECT_EQ(I.CodePointer, marker);
  EXPECT_EQ(I.CurrentCodeAtom, marker);
  EXPECT_EQ(I.Compiler().TempAtoms.size(), pinned);
}

TEST_F(StructureDump, TreesTooDeepToCompileHaveNoViews) {
  auto nest = [&](int levels) {
    TAtom* element = NewNumber(S, 1);
    for (int i = 0; i < levels; ++i) element = NewExpressionCell(S, element, nullptr);
    return NewListCell(S, element, nullptr);
  };
  EXPECT_EQ(U8(ExprStructureDump(I, nest(900), nullptr).AsmCode), "<asmcode>PUSH 1\r\nPOP<nl/>RET<nl/></asmcode>");
  const TDumpViews deep = ExprStructureDump(I, nest(1200), nullptr);
  EXPECT_EQ(deep.AsmCode + deep.Unfolded + deep.Braced, u"");
}

}  // namespace
