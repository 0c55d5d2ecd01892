// Plain assignment (MAKE and OB): where variables are made, locks, variables
// that keep their value, objects taking a variable's place without tearing
// the tree, refused handler lists, and raises without a line.

#include <gtest/gtest.h>

#include <string>

#include "core/Expr.h"
#include "core/Trans.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

class MakeTest : public ::testing::Test {
protected:
  MakeTest() {
    S.Language.Texts[u"USERLOCK"] = u"%s is locked";
    S.Language.Texts[u"SYSTEMERROR"] = u"System error";
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  std::string Topic() const { return T.Host.Dialogs.empty() ? "" : U8(T.Host.Dialogs.back().Topic); }
  TAtom* Var(std::u16string_view name) { return S.FindName(name); }
  std::u16string Value(std::u16string_view name) { return TAtom::ToText(S, Var(name)->Left); }
  void Assign(int32_t opcode, TAtom* name, TAtom* value, TAtom* rightList = nullptr) {
    TMakeInputs inputs;
    inputs.Name = name;
    inputs.Value = value;
    inputs.RightList = rightList;
    OpMake(I, opcode, inputs);
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(MakeTest, VariablesAreMadeWhereTheDottedLookUpStopped) {
  ASSERT_EQ(Run(u"make \"a.b.c 1\nmake \"empty\n"
                u"to p\nlocal \"v\nmake \"v.w 2\nmake \"g 3\noutput :v.w\nend\n"
                u"ob \"y 4\nprint p (make \"x 5) :y"),
            0);
  EXPECT_EQ(T.Host.Output(), "2 5 4");
  EXPECT_EQ(Value(u"a.b.c"), u"1");
  EXPECT_EQ(Var(u"empty")->Left, nullptr);
  EXPECT_EQ(Var(u"v"), nullptr);  // made inside the local
  EXPECT_EQ(Var(u"g")->Parent, S.Root);
}

TEST_F(MakeTest, LockedVariablesAndMembersOfLockedObjectsKeepTheirValue) {
  TempFolder help;
  S.HelpFolder = help.Folder();
  ASSERT_EQ(Run(u"make \"count 5\nmake \"shape.size 1\nto p\nlocal \"v\nmake \"v 3\noutput :v\nend"), 0);
  for (const char16_t* name : {u"count", u"shape", u"p"}) Var(name)->Flags |= afLocked;
  EXPECT_EQ(Run(u"make \"count 6"), 2);
  EXPECT_EQ(Topic(), "locked-var");
  EXPECT_EQ(Run(u"ob \"shape.size 2"), 2);
  EXPECT_EQ(Topic(), "locked-var-parent");
  EXPECT_EQ(ReadTextFile(S, help.Name("$$$error-05$$$.txt")), u"shape.size");
  EXPECT_EQ(ReadTextFile(S, help.Name("$$$error-06$$$.txt")), u"shape");
  EXPECT_EQ(Value(u"count") + Value(u"shape.size"), u"51");
  // A procedure's lock ends at its frame: its locals are assignable.
  EXPECT_EQ(Run(u"print p"), 0);
  EXPECT_EQ(T.Host.Output(), "count is locked (test:1)\nshape.size is locked (test:1)\n3");
  EXPECT_EQ(I.CallDepth, 0);
}

TEST_F(MakeTest, RunningProceduresAndSilentObjectsKeepTheirValue) {
  ASSERT_EQ(Run(u"to p\nmake \"p 5\noutput 1\nend\nprint p\nprint p\nmake \"obj.x 1\nmake \"pt.q 1"), 0);
  EXPECT_EQ(T.Host.Output(), "1\n1");
  Var(u"obj")->Flags |= afSilent;
  ASSERT_EQ(Run(u"make \"obj.x 2\nmake \"obj.x pt"), 0);
  EXPECT_EQ(Value(u"obj.x"), u"1");
  EXPECT_EQ(Var(u"obj.x")->FirstChild, nullptr);
  // The copy of pt made for the dropped value does not stay behind.
  EXPECT_EQ(TAtom::FindChildByName(S, *S.Root, u"[~]"), nullptr);
}

TEST_F(MakeTest, ObjectsTakeTheVariablesPlaceAndTreeVariablesAreCopied) {
  ASSERT_EQ(Run(u"make \"pt.x 1\nmake \"q 0\nmake \"q.onchange [print 1]"), 0);
  TAtom* oldQ = Var(u"q");
  oldQ->Flags |= afHistory;
  ASSERT_EQ(Run(u"make \"q pt\nmake \"w (make \"pt 3)\nmake \"a.b.c (make \"a 1)"), 0);
  TAtom* q = Var(u"q");
  EXPECT_EQ(oldQ->Parent, nullptr);
  EXPECT_EQ(q->Parent, S.Root);
  EXPECT_EQ(q->Flags, static_cast<uint32_t>(afHistory));
  EXPECT_EQ(Value(u"q.x") + Value(u"q.onchange"), u"1[print 1]");
  // Assigned variables given as values stay in place; their copies move.
  EXPECT_EQ(Var(u"pt")->Parent, S.Root);
  EXPECT_NE(Var(u"w"), Var(u"pt"));
  EXPECT_EQ(Var(u"a")->Parent, S.Root);
  EXPECT_EQ(Value(u"a.b.c"), u"1");
  EXPECT_EQ(TAtom::FullName(Var(u"a.b.c")), u"a.b.c");
}

TEST_F(MakeTest, HandlerListsAndBadNamesAreRefused) {
  EXPECT_EQ(Run(u"make \"x 5 [print 2]"), 2);
  EXPECT_EQ(Topic(), "internal-error");
  EXPECT_EQ(Run(u"make \"L [1]\nob [print 1] :L 2"), 2);
  EXPECT_EQ(Topic(), "bad-name-ob");
  EXPECT_EQ(Run(u"ob [print 1] \"y 5"), 2);
  EXPECT_EQ(T.Host.Lines.back().Text, u"System error TRANS:OPMAKE:LISTS (test:1)");
  EXPECT_EQ(Var(u"x"), nullptr);
  EXPECT_EQ(Var(u"y"), nullptr);
}

TEST_F(MakeTest, WithoutALineEachAssignmentYieldsOneValue) {
  T.ArmErrors(false);
  TAtom* locked = S.CreateVariable(S.Root, u"locked", true, NewWord(S, u"old"));
  locked->Flags |= afLocked;
  Assign(ocMake, NewListCell(S, nullptr, nullptr), NewWord(S, u"v"));
  Assign(ocMake, NewWord(S, u"locked"), NewWord(S, u"new"));
  Assign(ocOb, NewWord(S, u"z"), NewWord(S, u"v"), NewListCell(S, nullptr, nullptr));
  // Storing the value a variable holds already must not finalise it.
  TAtom* block = NewMemoryBlock(S, 16, TAtom::FreeMemoryBlock);
  Assign(ocMake, NewWord(S, u"mem"), block);
  Assign(ocMake, NewWord(S, u"mem"), block);
  EXPECT_NE(block->Object(), nullptr);
  std::vector<TAtom*> values;
  for (const TStackEntry& e : S.Frame()->Stack.Items) values.push_back(e.Value);
  EXPECT_EQ(values, (std::vector<TAtom*>{SystemValue, SystemValue, SystemValue, Var(u"mem"), Var(u"mem")}));
  EXPECT_EQ(Value(u"locked"), u"old");
  EXPECT_EQ(Var(u"z"), nullptr);
  EXPECT_EQ(I.CallDepth, 0);
}

}  // namespace
