// Assignment (MAKE and OB): where variables are made, locks, variables
// that keep their value, objects taking a variable's place without tearing
// the tree, the handlers around a store, change handlers that collect
// statements, display lists of drawable variables, refused handler values,
// and raises without a line.

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
    S.Language.Texts[u"BADARG"] = u"input %d of %s";
    S.Language.Texts[u"BADCOMMAND"] = u"bad %s";
    S.Language.RefreshFormats();
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  std::string Topic() const { return T.Host.Dialogs.empty() ? "" : U8(T.Host.Dialogs.back().Topic); }
  TAtom* Var(std::u16string_view name) { return S.FindName(name); }
  std::u16string Value(std::u16string_view name) { return TAtom::ToText(S, Var(name)->Left); }
  void Assign(int32_t opcode, TAtom* name, TAtom* value, TAtom* rightList = nullptr, TAtom* leftList = nullptr) {
    TMakeInputs inputs;
    inputs.Name = name;
    inputs.Value = value;
    inputs.RightList = rightList;
    inputs.LeftList = leftList;
    OpMake(I, opcode, inputs);
  }
  RecordingGraphics& Graphics() { return T.Host.Graphics; }

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
  EXPECT_EQ(Run(u"make \"L [1]\nob [print 1] :L 2"), 2);
  EXPECT_EQ(Topic(), "bad-name-ob");
  // Handlers that are no lists: the frame owner's ...
  struct Case {
    const char16_t* Program;
    const char* Topic;
    const char16_t* Message;
  };
  for (const Case& c : {Case{u"make \"onbeforemake 5\nmake \"x 1", "invalid-command-make-onbeforemake", u"bad make"},
                        Case{u"ob \"onaftermake \"w", "invalid-command-ob-onaftermake", u"bad ob"}}) {
    EXPECT_EQ(Run(c.Program), 2) << U8(c.Program);
    EXPECT_EQ(Topic(), c.Topic);
    EXPECT_EQ(S.LastError, c.Message);
    for (const char16_t* handler : {u"onbeforemake", u"onaftermake"})
      if (TAtom* v = Var(handler)) TAtom::Unlink(v);
  }
  // ... and the lists written beside the name (input 1 before, 4 after).
  T.ArmErrors(true);
  EXPECT_THROW(Assign(ocMake, NewWord(S, u"y"), NewNumber(S, 1), nullptr, NewWord(S, u"w")), LanguageError);
  EXPECT_EQ(U8(S.CurrentPosition.Topic) + " " + U8(S.LastError), "bad-arg-make-attrib-left input 1 of make");
  EXPECT_THROW(Assign(ocOb, NewWord(S, u"y"), NewNumber(S, 1), NewWord(S, u"w")), LanguageError);
  EXPECT_EQ(U8(S.CurrentPosition.Topic) + " " + U8(S.LastError), "bad-arg-ob-attrib-right input 4 of ob");
  EXPECT_EQ(I.CallDepth, 0);
  // A failing handler before the store stops it; one after it comes too late.
  EXPECT_EQ(Var(u"x")->Left, nullptr);
  EXPECT_EQ(Value(u"y"), u"1");
}

TEST_F(MakeTest, WithoutALineEachAssignmentYieldsOneValue) {
  T.ArmErrors(false);
  TAtom* locked = S.CreateVariable(S.Root, u"locked", true, NewWord(S, u"old"));
  locked->Flags |= afLocked;
  Assign(ocMake, NewListCell(S, nullptr, nullptr), NewWord(S, u"v"));
  Assign(ocMake, NewWord(S, u"locked"), NewWord(S, u"new"));
  Assign(ocOb, NewWord(S, u"z"), NewWord(S, u"v"), NewWord(S, u"not-a-list"));
  // Storing the value a variable holds already must not finalise it.
  TAtom* block = NewMemoryBlock(S, 16, TAtom::FreeMemoryBlock);
  Assign(ocMake, NewWord(S, u"mem"), block);
  Assign(ocMake, NewWord(S, u"mem"), block);
  EXPECT_NE(block->Object(), nullptr);
  std::vector<TAtom*> values;
  for (const TStackEntry& e : S.Frame()->Stack.Items) values.push_back(e.Value);
  EXPECT_EQ(values, (std::vector<TAtom*>{SystemValue, SystemValue, Var(u"z"), Var(u"mem"), Var(u"mem")}));
  EXPECT_EQ(Value(u"locked"), u"old");
  EXPECT_EQ(Value(u"z"), u"v");  // the unusable list after it is passed over
  EXPECT_EQ(I.CallDepth, 0);
}

TEST_F(MakeTest, HandlersRunAroundTheStoreWithTheVariablesName) {
  ASSERT_EQ(Run(u"make \"x 0\n"
                u"to b :n\nprint \"before :n :x\nend\nto a :n\nprint \"after :n :x\nend\n"
                u"to l :n\nprint \"left :n\nend\nto r :n\nprint \"right :n\nend\nto p\nmake \"x 2\nend\n"
                u"make \"onbeforemake [b]\nmake \"onaftermake [a]"),
            0);
  T.Host.Lines.clear();
  ASSERT_EQ(Run(u"make [l] \"x 1 [r]"), 0);
  EXPECT_EQ(T.Host.Output(), "before x 0\nleft x\nafter x 1\nright x");
  // The handlers are the frame owner's: a procedure's own assignments skip them.
  T.Host.Lines.clear();
  ASSERT_EQ(Run(u"p"), 0);
  EXPECT_EQ(T.Host.Output(), "");
  EXPECT_EQ(Value(u"x"), u"2");
}

TEST_F(MakeTest, ChangeHandlersCollectStatementsAndRunForTheVariableAndItsObjects) {
  ASSERT_EQ(Run(u"to hello\nprint \"hello\nend\nmake \"lit [print \"lit]\n"
                u"make \"x.onchange [hello]\nmake \"x.onchange [hello]\nmake \"x.onchange :lit\n"
                u"repeat 2 [make \"x.onchange [print 2]]\nmake \"x 5"),
            0);
  EXPECT_EQ(T.Host.Output(), "hello\nlit\n2\n2");
  // Appended as copies: the literal lists stay as written, the handler acyclic.
  EXPECT_EQ(Value(u"x.onchange"), u"[hello , print \" lit , print 2 , print 2]");
  EXPECT_EQ(Value(u"lit"), u"[print \" lit]");
  T.Host.Lines.clear();
  ASSERT_EQ(Run(u"make \"obj.onchange [print \"obj]\nmake \"obj.m.onchange [print \"m]\nmake \"obj.m 3\n"
                u"make \"obj.k 1"),
            0);
  EXPECT_EQ(T.Host.Output(), "m\nobj");  // a member without a handler tells nobody
}

TEST_F(MakeTest, DrawableChangesRebuildTheirListsAndRedrawAtTopLevel) {
  ASSERT_EQ(Run(u"make \"shape.ondrawimage [print 1]\nmake \"ball.ondrawimage [print 2]\nmake \"ball.radius 1\n"
                u"make \"box 1\nmake \"plain 1"),
            0);
  Var(u"ball.radius")->Flags |= afDrawable;
  Var(u"box")->Marks |= amDisplayList;
  struct Case {
    const char16_t* Program;
    bool Suspended;
    std::vector<std::string> Calls;
    std::vector<std::u16string> Targets;
    std::vector<std::u16string> Deleted;
  };
  const std::vector<Case> cases = {
      {u"make \"ball.radius 2", false,
       {"deleteDisplayLists", "deleteDisplayLists", "compileDisplayLists", "redrawScene"},
       {u"ball", u"ball.radius", u"ball.radius"},
       {u"ball"}},
      {u"make \"ball.radius 3", true, {}, {}, {}},
      {u"make \"top :shape", false, {"deleteDisplayLists", "compileDisplayLists", "redrawScene"}, {u"top", u"top"}, {}},
      {u"make \"box 2", false, {"redrawScene"}, {}, {u"box"}},
      {u"make \"plain 2", false, {}, {}, {}},
  };
  for (const Case& c : cases) {
    RecordingGraphics& g = Graphics();
    g.Calls.clear();
    g.Targets.clear();
    g.DeletedLists.clear();
    g.Suspended = c.Suspended;
    ASSERT_EQ(Run(c.Program), 0) << U8(c.Program);
    EXPECT_EQ(g.Calls, c.Calls) << U8(c.Program);
    std::vector<std::u16string> targets;
    for (const TAtom* a : g.Targets) targets.push_back(TAtom::FullName(a));
    EXPECT_EQ(targets, c.Targets) << U8(c.Program);
    std::vector<std::u16string> deleted;
    for (uint32_t id : g.DeletedLists) deleted.push_back(TAtom::FullName(S.AtomById(id)));
    EXPECT_EQ(deleted, c.Deleted) << U8(c.Program);
    EXPECT_FALSE(I.TopRedrawPending);
  }
}

}  // namespace
