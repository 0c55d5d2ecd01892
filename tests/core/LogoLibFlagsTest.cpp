// The flag primitives run from programs through wrappers like the library's:
// locking, hiding with its redraw, whole subtrees and the kept chain, the
// test of any bit, and the errors with what stays changed before them.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/Collector.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

class FlagsTest : public ::testing::Test {
protected:
  FlagsTest() {
    S.Language.Texts[u"USERLOCK"] = u"%s is locked";
    S.Language.Texts[u"BADNUMBER"] = u"%s is not a number";
    EXPECT_EQ(Run(u"to setbit :_names :_mask\ndll.zavta.SETBIT\nend\n"
                  u"to clearbit :_names :_mask\ndll.zavta.CLEARBIT\nend\n"
                  u"to setbitall :_names :_mask\ndll.zavta.SETBITALL\nend\n"
                  u"to clearbitall :_names :_mask\ndll.zavta.CLEARBITALL\nend\n"
                  u"to getbit :_name :_mask\noutput dll.zavta.GETBIT\nend\n"),
              0);
  }
  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  std::string Topic() const { return T.Host.Dialogs.empty() ? "" : U8(T.Host.Dialogs.back().Topic); }
  TAtom* Var(std::u16string_view name) { return S.FindName(name); }
  long Redraws() const {
    const std::vector<std::string>& calls = T.Host.Graphics.Calls;
    return std::count(calls.begin(), calls.end(), "redrawScene");
  }
  bool OnKeptChain(const TAtom* atom) const { return atom->OnChain == AtomChain::Kept; }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(FlagsTest, SetBitLocksEachNamedVariableAndGetBitTestsAnyBit) {
  ASSERT_EQ(Run(u"make \"a 1\nmake \"b 2\nsetbit [a b] 4096"), 0);
  EXPECT_TRUE(Var(u"a")->Flags & afLocked);
  EXPECT_TRUE(Var(u"b")->Flags & afLocked);
  EXPECT_EQ(Run(u"make \"a 5"), 2);
  EXPECT_EQ(Topic(), "locked-var");
  EXPECT_EQ(TAtom::ToText(S, Var(u"a")->Left), u"1");

  T.Host.Lines.clear();
  ASSERT_EQ(Run(u"print getbit \"a 4097\nprint getbit \"a 1\nclearbit \"a 4096\nmake \"a 6\nprint :a"), 0);
  EXPECT_EQ(T.Host.Output(), "true\nfalse\n6");

  // The program's own "mask" is locked, not the wrapper's input.
  ASSERT_EQ(Run(u"make \"mask 1\nsetbit \"mask 4096"), 0);
  EXPECT_EQ(Run(u"make \"mask 2"), 2);
  EXPECT_EQ(Topic(), "locked-var");
}

TEST_F(FlagsTest, TheNotDrawnBitRedrawsOnlyWhenItIsTheWholeMask) {
  ASSERT_EQ(Run(u"make \"a 1"), 0);
  const long before = Redraws();
  ASSERT_EQ(Run(u"setbit \"a 131072"), 0);
  EXPECT_EQ(Redraws(), before + 1);
  EXPECT_TRUE(Var(u"a")->Flags & afNotDrawn);
  ASSERT_EQ(Run(u"clearbit \"a 131072"), 0);
  EXPECT_EQ(Redraws(), before + 2);
  EXPECT_FALSE(Var(u"a")->Flags & afNotDrawn);
  ASSERT_EQ(Run(u"setbit \"a 196608"), 0);  // 0x30000
  EXPECT_EQ(Redraws(), before + 2);
  EXPECT_TRUE(Var(u"a")->Flags & afNotDrawn);
}

TEST_F(FlagsTest, SetBitAllFlagsTheSubtreeAndKeepsItsAtoms) {
  ASSERT_EQ(Run(u"ob \"obj [1 [2]]\nmake \"obj.member \"m\nmake \"other 3"), 0);
  TAtom* obj = Var(u"obj");
  TAtom* member = Var(u"obj.member");
  TAtom* inner = obj->Left->Right->Left;
  const int64_t live = S.LiveCount;

  ASSERT_EQ(Run(u"setbitall \"obj 65536"), 0);
  for (TAtom* atom : {obj, member, member->Left, obj->Left, obj->Left->Left, inner, inner->Left}) {
    EXPECT_TRUE(atom->Flags & afDrawable) << U8(TAtom::ToText(S, atom));
    EXPECT_TRUE(OnKeptChain(atom)) << U8(TAtom::ToText(S, atom));
  }
  EXPECT_FALSE(Var(u"other")->Flags & afDrawable);
  EXPECT_FALSE(OnKeptChain(Var(u"other")));
  EXPECT_GE(S.LiveCount, live);  // kept atoms count as live
  EXPECT_EQ(S.LiveCount + S.FreeCount, S.CreatedCount());

  ASSERT_EQ(Run(u"clearbit \"obj 65536"), 0);
  EXPECT_FALSE(obj->Flags & afDrawable);
  EXPECT_TRUE(member->Flags & afDrawable);
  ASSERT_EQ(Run(u"clearbitall \"obj 65536"), 0);
  EXPECT_FALSE(member->Flags & afDrawable);
  EXPECT_FALSE(inner->Left->Flags & afDrawable);
}

TEST_F(FlagsTest, WhatAKeptObjectGetsLaterSurvivesTheCollector) {
  ASSERT_EQ(Run(u"ob \"obj [1 2]\nsetbitall \"obj 65536"), 0);
  S.AllocationCount = S.CollectorLimits.Threshold;
  CollectGarbage(I);
  S.AllocationCount = S.CollectorLimits.Threshold;
  CollectGarbage(I);
  // Reachable only through the kept object.
  ASSERT_EQ(Run(u"make \"obj [new value]\nmake \"obj.child [a b c]"), 0);
  TAtom* obj = Var(u"obj");
  TAtom* value = obj->Left;
  TAtom* child = Var(u"obj.child");
  for (int i = 0; i < 20000; ++i) {
    NewNumber(S, i);
    CollectGarbage(I);  // runs every 5000
  }
  EXPECT_NE(value->OnChain, AtomChain::Free);
  EXPECT_NE(child->OnChain, AtomChain::Free);
  EXPECT_EQ(TAtom::ToText(S, obj->Left), u"[new value]");
  EXPECT_EQ(TAtom::ToText(S, child->Left), u"[a b c]");
}

TEST_F(FlagsTest, AKeptObjectNoLongerInTheTreeStillKeepsWhatItHolds) {
  ASSERT_EQ(Run(u"ob \"obj [1 2]\nsetbitall \"obj 65536"), 0);
  TAtom* obj = Var(u"obj");
  TAtom::Unlink(obj);
  obj->Left = ListOf(S, {NewWord(S, u"later")});
  S.AllocationCount = S.CollectorLimits.Threshold;
  CollectGarbage(I);
  EXPECT_EQ(obj->Left->OnChain, AtomChain::Live);
  EXPECT_EQ(TAtom::ToText(S, obj->Left), u"[later]");
}

TEST_F(FlagsTest, BadInputsRaiseAndNamesBeforeTheBadOneKeepTheirChange) {
  ASSERT_EQ(Run(u"make \"a 1\nmake \"b 2"), 0);
  const struct {
    const char16_t* Text;
    const char* Topic;
  } cases[] = {
      {u"setbit \"a 0", "setbit"},       {u"setbit [] 4096", "setbit"},   {u"setbit \"nothing 4096", "setbit"},
      {u"clearbitall \"a -1", "setbit"}, {u"print getbit \"a 0", "getbit"}, {u"print getbit [a] 1", "getbit"},
      {u"print getbit \"nothing 1", "getbit"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.Text), 2) << U8(c.Text);
    EXPECT_EQ(Topic(), c.Topic) << U8(c.Text);
  }
  EXPECT_EQ(Run(u"setbit \"a \"x"), 2);  // not a number: the number error comes first

  EXPECT_EQ(Run(u"setbit [a [b] b] 8192"), 2);
  EXPECT_EQ(Topic(), "setbit");
  EXPECT_TRUE(Var(u"a")->Flags & afDefinition);
  EXPECT_FALSE(Var(u"b")->Flags & afDefinition);
}

}  // namespace
