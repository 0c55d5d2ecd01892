// The atom pool, pins, identities, finalisers and the variable-tree links.

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "core/Atoms.h"
#include "core/PositionStore.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

namespace {

class FakeControl : public WrappedObject {
public:
  std::u16string ClassName() const override { return u"TButton"; }
};

int finalised = 0;
void CountingFinalizer(TStructure&, TAtom&) { ++finalised; }

TAtom* Var(TStructure& s, const char16_t* name, TAtom* value, TAtom* parent) {
  TAtom* v = NewVariable(s, name, value);
  if (parent) TAtom::SetParent(s, *v, parent);
  return v;
}

std::vector<std::u16string> ChildNames(const TAtom& a) {
  std::vector<std::u16string> names;
  for (TAtom* c = a.FirstChild; c; c = c->NextSibling) names.push_back(c->Text);
  return names;
}

}  // namespace

TEST(AtomPool, ReleasedHeadIsReusedFirstAndCountsStayBalanced) {
  TestState ts(false);
  TStructure& s = *ts.S;
  TAtom* a = NewNumber(s, 1);
  TAtom* b = NewNumber(s, 2);
  const int64_t created = s.CreatedCount();
  EXPECT_EQ(s.LiveCount + s.FreeCount, created);

  TAtom::Release(s, a);  // not the head: nothing happens
  EXPECT_EQ(s.LiveAtoms, b);
  EXPECT_EQ(s.FreeCount, 0);

  TAtom::Release(s, b);
  EXPECT_EQ(s.FreeAtoms, b);
  EXPECT_EQ(s.LiveCount + s.FreeCount, created);

  TAtom* again = NewWord(s, u"x");
  EXPECT_EQ(again, b);
  EXPECT_EQ(s.CreatedCount(), created);
  EXPECT_EQ(s.LiveCount + s.FreeCount, created);
}

TEST(AtomPool, ReusedAtomStartsCleanWithAHigherStamp) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* v = NewVariable(s, u"v", NewNumber(s, 1));
  TAtom::SetParent(s, *v, s.Root);
  TAtom::Unlink(v);
  v->Flags = afLocked | afSilent;
  TAtom::AddCode(*v, 42);
  TPosition pos;
  pos.Line = 3;
  TAtom::SetPosition(*v, pos);
  TAtom* child = NewVariable(s, u"c", nullptr);
  TAtom::SetParent(s, *child, v);
  const uint64_t oldStamp = v->Stamp;
  NewWord(s, u"later");

  // Release v through the sweep; the next allocation takes it back clean.
  TAtom* prev = s.LiveAtoms;
  while (prev->Chain && prev->Chain != v) prev = prev->Chain;
  ASSERT_EQ(prev->Chain, v);
  TAtom::ReleaseNext(s, *prev);
  TAtom* clean = NewWord(s, u"");
  EXPECT_EQ(clean, v);
  EXPECT_EQ(clean->Kind, akWord);
  EXPECT_EQ(clean->Flags, 0u);
  EXPECT_EQ(clean->Left, nullptr);
  EXPECT_EQ(clean->Parent, nullptr);
  EXPECT_EQ(clean->FirstChild, nullptr);
  EXPECT_EQ(clean->NextSibling, nullptr);
  EXPECT_EQ(clean->Code(), nullptr);
  EXPECT_EQ(clean->Position(), nullptr);
  EXPECT_EQ(clean->Finalizer(), nullptr);
  EXPECT_EQ(clean->RefCount, 0);
  EXPECT_GT(clean->Stamp, oldStamp);
  EXPECT_EQ(clean->Stamp, s.StampCounter);
}

TEST(AtomPool, FreedCellsAndWordsComeBackCleanThroughTheShortReset) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* cell = NewExpressionCell(s, NewNumber(s, 1), NewListCell(s, nullptr, nullptr));
  cell->Flags = afSilent;
  cell->Marks = amNumberRead;
  cell->Number = 5;
  TAtom* word = NewWord(s, u"text");
  word->NextSibling = cell;
  word->FirstChild = cell;
  word->RefCount = 3;
  for (TAtom* freed : {cell, word}) {
    TAtom::FreeUnlinked(s, *freed);
    EXPECT_EQ(s.FreeAtoms, freed);
    TAtom* clean = NewWord(s, u"");
    ASSERT_EQ(clean, freed);
    EXPECT_EQ(clean->Kind, akWord);
    EXPECT_EQ(clean->Left, nullptr);
    EXPECT_EQ(clean->Right, nullptr);
    EXPECT_TRUE(clean->Text.empty());
    EXPECT_EQ(clean->Flags, 0u);
    EXPECT_EQ(clean->Marks, 0u);
    EXPECT_EQ(clean->FirstChild, nullptr);
    EXPECT_EQ(clean->NextSibling, nullptr);
    EXPECT_EQ(clean->RefCount, 0);
    EXPECT_EQ(clean->Number, 0);
    EXPECT_EQ(clean->Stamp, s.StampCounter);
  }
}

TEST(AtomPool, CopiedCellsAreNewListCellsSharingElementsAndEndingInTheGivenRest) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* one = NewNumber(s, 1);
  TAtom* two = NewWord(s, u"two");
  TAtom* three = NewListCell(s, one, nullptr);
  TAtom* source = NewExpressionCell(s, one, NewExpressionCell(s, two, NewListCell(s, three, nullptr)));
  TAtom* rest = NewListCell(s, two, nullptr);
  struct TCase {
    const TAtom* List;
    int32_t Count;
    std::vector<TAtom*> Elements;
  };
  const TCase cases[] = {
      {source, INT_MAX, {one, two, three}},
      {source, 2, {one, two}},
      {source, 0, {}},
      {nullptr, 5, {}},
      {two, 5, {}},  // a word has no cells
      {SystemValue, 5, {}},
  };
  for (const TCase& c : cases) {
    TAtom* copy = CopyListCells(s, c.List, c.Count, rest);
    for (TAtom* element : c.Elements) {
      ASSERT_NE(copy, rest);
      EXPECT_EQ(copy->Kind, akList);
      EXPECT_EQ(copy->Left, element);
      for (const TAtom* original = source; original; original = original->Right) EXPECT_NE(copy, original);
      copy = copy->Right;
    }
    EXPECT_EQ(copy, rest) << c.Elements.size();
  }
  EXPECT_EQ(source->Kind, akExpression);  // the source is left as it was
  EXPECT_EQ(TAtom::Length(source), 3);
}

TEST(AtomPool, IdentitiesResolveOnlyWhileLiveOrKept) {
  TestState ts(false);
  TStructure& s = *ts.S;
  EXPECT_EQ(s.AtomById(0), nullptr);
  EXPECT_EQ(s.AtomById(1), SystemValue);
  EXPECT_EQ(AtomId(nullptr), 0u);
  EXPECT_EQ(AtomId(SystemValue), 1u);
  EXPECT_EQ(s.AtomById(0x7FFFFFFF), nullptr);

  TAtom* kept = NewWord(s, u"kept");
  TAtom* live = NewWord(s, u"live");
  EXPECT_GE(AtomId(kept), kFirstAtomIdentity);
  EXPECT_NE(AtomId(kept), AtomId(live));
  EXPECT_EQ(s.AtomById(AtomId(live)), live);

  TAtom::MoveToKept(s, *kept);
  EXPECT_EQ(s.KeptAtoms, kept);
  EXPECT_EQ(s.AtomById(AtomId(kept)), kept);

  const uint32_t id = AtomId(live);
  TAtom::Release(s, live);
  EXPECT_EQ(s.AtomById(id), nullptr);
  TAtom* back = NewWord(s, u"again");
  EXPECT_EQ(back, live);
  EXPECT_EQ(AtomId(back), id);  // identities never move
  EXPECT_EQ(s.AtomById(id), back);
}

TEST(AtomPool, AtomsOfManyBlocksStayWhereTheyAreAndResolve) {
  // Past the second block the next one is prepared on another thread; a
  // state destroyed with one prepared gives it back.
  TestState ts(false);
  TStructure& s = *ts.S;
  constexpr uint32_t kCount = 3 * TStructure::kPoolBlockAtoms + 17;
  std::vector<TAtom*> made;
  made.reserve(kCount);
  for (uint32_t i = 0; i < kCount; ++i) made.push_back(NewNumber(s, i));
  for (uint32_t i = 0; i < kCount; i += 997) {
    EXPECT_EQ(s.AtomById(AtomId(made[i])), made[i]);
    EXPECT_EQ(made[i]->Number, i);
  }
  EXPECT_EQ(made.back()->Number, kCount - 1);
}

TEST(AtomPins, SaturateBothWaysAndIgnoreNonAtoms) {
  TestState ts(false);
  TAtom* a = NewNumber(*ts.S, 1);
  TAtom::DecRef(a);
  EXPECT_EQ(a->RefCount, 0);
  a->RefCount = INT32_MAX;
  TAtom::IncRef(a);
  EXPECT_EQ(a->RefCount, INT32_MAX);
  TAtom::IncRef(nullptr);
  TAtom::IncRef(SystemValue);
  TAtom::DecRef(nullptr);
  TAtom::DecRef(SystemValue);
  PinnedAtom pin(SystemValue);  // must not touch the sentinel
  SUCCEED();
}

TEST(AtomFinalisers, RunAtMostOnceAndNeverPumpMidRelease) {
  TestState ts;
  TStructure& s = *ts.S;
  FakeControl control;
  finalised = 0;
  TAtom* object = NewWinObject(s, &control, CountingFinalizer);
  TAtom* v = Var(s, u"v", object, s.Root);

  TAtom::SetValue(s, *v, object);  // storing it again keeps it
  EXPECT_EQ(finalised, 0);
  TAtom::SetValue(s, *v, NewNumber(s, 1));  // overwrite finalises
  EXPECT_EQ(finalised, 1);
  EXPECT_EQ(object->Object(), nullptr);
  EXPECT_TRUE(s.PumpPending);
  EXPECT_EQ(ts.Host.Pumps, 0);

  // The sweep must not run the finaliser a second time.
  TAtom* prev = s.LiveAtoms;
  while (prev->Chain && prev->Chain != object) prev = prev->Chain;
  ASSERT_EQ(prev->Chain, object);
  TAtom::ReleaseNext(s, *prev);
  EXPECT_EQ(finalised, 1);
}

TEST(AtomFinalisers, MemoryBlocksAreZeroedAndFreed) {
  TestState ts(false);
  TStructure& s = *ts.S;
  TAtom* block = NewMemoryBlock(s, 16, TAtom::FreeMemoryBlock);
  EXPECT_EQ(block->Number, 16);
  auto* bytes = static_cast<unsigned char*>(block->Object());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], 0);
  TAtom::Release(s, block);
  EXPECT_EQ(block->Object(), nullptr);
  // A block without finaliser and one left alive are freed too (the
  // sanitizer build reports a leak otherwise).
  NewMemoryBlock(s, 4, nullptr);
  TAtom* orphan = NewMemoryBlock(s, 4, nullptr);
  TAtom::Release(s, orphan);
}

TEST(AtomKinds, NullAndSystemValueAreHandledExplicitly) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_TRUE(TAtom::IsList(nullptr));
  EXPECT_FALSE(TAtom::IsList(SystemValue));
  EXPECT_FALSE(TAtom::IsWord(nullptr));
  EXPECT_FALSE(TAtom::IsWord(SystemValue));
  EXPECT_EQ(TAtom::Length(NewWord(s, u"abc")), 0);
  TAtom* list = NewListCell(s, NewNumber(s, 1), NewListCell(s, NewNumber(s, 2), nullptr));
  EXPECT_EQ(TAtom::Length(list), 2);
  EXPECT_EQ(TAtom::LastCell(list), list->Right);
  EXPECT_TRUE(TAtom::IsComma(NewWord(s, u",")));
  EXPECT_FALSE(TAtom::HasFlag(nullptr, afLocked));

  TAtom* plain = NewVariable(s, u"p", NewWord(s, u"w"));
  EXPECT_TRUE(TAtom::IsPlainVariable(plain));
  TAtom* object = NewVariable(s, u"o", nullptr);
  Var(s, u"field", NewNumber(s, 1), object);
  EXPECT_FALSE(TAtom::IsPlainVariable(object));
  EXPECT_TRUE(TAtom::IsPlainVariable(NewVariable(s, u"e", nullptr)));
}

TEST(AtomErrors, FirstAndNameOfTheEmptyListRaiseOrFallBack) {
  TestState ts;
  TStructure& s = *ts.S;
  try {
    TAtom::First(s, nullptr);
    FAIL() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(e.Message(), u"first");  // never an empty, unreportable message
  }
  EXPECT_THROW(TAtom::Name(s, nullptr), LanguageError);

  s.ClearErrorTrace();
  ts.ArmErrors(false);
  EXPECT_EQ(TAtom::First(s, nullptr), nullptr);
  EXPECT_EQ(TAtom::Name(s, nullptr), u"");
  EXPECT_TRUE(s.ErrorTrace.empty());
}

TEST(VariableTree, HandlerChildrenAreCachedFromTheCurrentKeywords) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* parent = Var(s, u"obj", nullptr, s.Root);
  TAtom* draw = Var(s, u"ondrawimage", nullptr, parent);
  TAtom* change = Var(s, u"onchange", nullptr, parent);
  EXPECT_EQ(parent->DrawImageChild(), draw);
  EXPECT_EQ(parent->ChangeChild(), change);
  TAtom::Unlink(draw);
  EXPECT_EQ(parent->DrawImageChild(), nullptr);
  EXPECT_EQ(ChildNames(*parent), std::vector<std::u16string>{u"onchange"});

  // A translated table names other children.
  s.Language.SetTexts({{u"ONDRAWIMAGE", u"zeichne"}});
  s.LoadKeywords();
  TAtom* other = Var(s, u"zeichne", nullptr, parent);
  EXPECT_EQ(parent->DrawImageChild(), other);
}

TEST(VariableTree, SetParentMovesAChildWithoutCuttingTheOldChain) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* a = Var(s, u"a", nullptr, s.Root);
  TAtom* b = Var(s, u"b", nullptr, s.Root);
  Var(s, u"x", nullptr, a);
  TAtom* y = Var(s, u"y", nullptr, a);
  Var(s, u"z", nullptr, a);
  TAtom::SetParent(s, *y, b);
  EXPECT_EQ(ChildNames(*a), (std::vector<std::u16string>{u"z", u"x"}));
  EXPECT_EQ(ChildNames(*b), std::vector<std::u16string>{u"y"});
  EXPECT_EQ(y->Parent, b);
  // A node never becomes its own ancestor.
  TAtom::SetParent(s, *b, y);
  EXPECT_EQ(b->Parent, s.Root);
}

TEST(VariableTree, ResetVariableKeepsChangeAndDependencyHandlers) {
  TestState ts;
  TStructure& s = *ts.S;
  finalised = 0;
  FakeControl control;
  TAtom* v = Var(s, u"v", NewWinObject(s, &control, CountingFinalizer), s.Root);
  TAtom* change = Var(s, u"onchange", nullptr, v);
  TAtom* field = Var(s, u"field", nullptr, v);
  TAtom* depend = Var(s, u"ondepend", nullptr, v);
  TAtom::ResetVariable(s, *v);
  EXPECT_EQ(v->Left, nullptr);
  EXPECT_EQ(finalised, 1);
  EXPECT_EQ(v->ChangeChild(), change);
  EXPECT_EQ(change->Parent, v);
  EXPECT_EQ(depend->Parent, v);
  EXPECT_EQ(field->Parent, nullptr);
  EXPECT_EQ(ChildNames(*v).size(), 2u);
}

TEST(VariableTree, CopyIntoSharesValuesKeepsOrderAndSkipsTheChangeHandler) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* value = NewListCell(s, NewNumber(s, 1), nullptr);
  TAtom* src = Var(s, u"src", value, s.Root);
  TAtom* first = Var(s, u"first", NewNumber(s, 1), src);
  Var(s, u"onchange", nullptr, src);
  Var(s, u"second", nullptr, src);
  Var(s, u"inner", NewWord(s, u"deep"), first);
  TAtom* dst = Var(s, u"dst", nullptr, s.Root);
  TAtom::CopyInto(s, *src, *dst);
  EXPECT_EQ(dst->Left, value);  // shared, not copied
  EXPECT_EQ(ChildNames(*dst), (std::vector<std::u16string>{u"second", u"first"}));
  TAtom* copiedFirst = TAtom::FindChildByName(s, *dst, u"first");
  ASSERT_NE(copiedFirst, nullptr);
  EXPECT_EQ(copiedFirst->Left, first->Left);
  EXPECT_EQ(ChildNames(*copiedFirst), std::vector<std::u16string>{u"inner"});
}

TEST(VariableTree, CopyingANodeIntoItsOwnChildEnds) {
  TestState ts;
  TStructure& s = *ts.S;
  Var(s, u"a", NewNumber(s, 1), s.Root);
  Var(s, u"b", NewNumber(s, 2), s.Root);
  TAtom* target = Var(s, u"copy", nullptr, s.Root);
  TAtom::CopyInto(s, *s.Root, *target);
  EXPECT_EQ(ChildNames(*target), (std::vector<std::u16string>{u"b", u"a"}));
}

TEST(VariableTree, FullNamesLocksAndSilence) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* a = Var(s, u"a", nullptr, s.Root);
  TAtom* b = Var(s, u"b", nullptr, a);
  TAtom* c = Var(s, u"c", nullptr, b);
  EXPECT_EQ(TAtom::FullName(c), u"a.b.c");
  EXPECT_EQ(TAtom::FullName(NewVariable(s, u"loose", nullptr)), u"loose");

  a->Flags |= afLocked;
  EXPECT_TRUE(TAtom::IsLocked(c));
  b->Flags |= afFrame;  // a frame between stops the walk after itself
  EXPECT_FALSE(TAtom::IsLocked(c));
  b->Flags |= afLocked;
  EXPECT_TRUE(TAtom::IsLocked(c));

  EXPECT_FALSE(TAtom::NotifySuppressed(c));
  a->Flags |= afSilent;
  EXPECT_TRUE(TAtom::NotifySuppressed(c));
}

TEST(VariableTree, FlagTreeReachesChildrenValuesAndCells) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* element = NewWord(s, u"e");
  TAtom* list = NewListCell(s, element, NewListCell(s, NewNumber(s, 2), nullptr));
  TAtom* v = Var(s, u"v", list, s.Root);
  TAtom* child = Var(s, u"child", NewNumber(s, 3), v);
  TAtom::FlagTree(s, v, afLocked, true);
  for (TAtom* a : {v, list, list->Right, element, list->Right->Left, child, child->Left})
    EXPECT_TRUE(TAtom::HasFlag(a, afLocked));
  TAtom::FlagTree(s, v, afLocked, false);
  EXPECT_FALSE(TAtom::HasFlag(element, afLocked));
}

TEST(VariableTree, DeepStructuresAreFlaggedWithoutRecursion) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* deep = nullptr;
  for (int i = 0; i < 1000000; ++i) deep = NewListCell(s, deep, nullptr);
  TAtom::FlagTree(s, deep, afSkip, true);
  TAtom::DropCodeTree(s, deep);
  TAtom* inner = deep;
  while (inner->Left) inner = inner->Left;
  EXPECT_TRUE(TAtom::HasFlag(inner, afSkip));
}

TEST(AtomPositions, GetPositionFallsBackToTheElementThenToAbsent) {
  TestState ts;
  TStructure& s = *ts.S;
  TPosition pos;
  pos.StartPos = 4;
  pos.EndPos = 7;
  pos.Line = 2;
  TAtom* word = NewWord(s, u"w");
  TAtom::SetPosition(*word, pos);
  TAtom* cell = NewListCell(s, word, nullptr);
  EXPECT_EQ(TAtom::GetPosition(cell).StartPos, 4);
  pos.StartPos = 9;
  TAtom::SetPosition(*cell, pos);
  EXPECT_EQ(TAtom::GetPosition(cell).StartPos, 9);
  const TPosition none = TAtom::GetPosition(NewNumber(s, 1));
  EXPECT_EQ(none.StartPos, -1);
  EXPECT_EQ(none.Line, -1);
  EXPECT_EQ(none.Depth, -1);
  EXPECT_TRUE(none.SourceName.empty());

  TPosition made;
  made.EndPos = 12;
  MakeSourcePos(made, u"f.zav", u"text", 0, 1, kAnyDepth);
  EXPECT_EQ(made.EndPos, 12);
  EXPECT_EQ(made.SourceName.str(), u"f.zav");
  TPosition copy = made;
  EXPECT_TRUE(copy.SourceText.SameObject(made.SourceText));  // shared, not copied
}

TEST(AtomText, PointerToHexPrintsEightUpperCaseDigits) {
  EXPECT_EQ(PointerToHex(0), u"00000000");
  EXPECT_EQ(PointerToHex(0xABCDEF12u), u"ABCDEF12");
  EXPECT_EQ(SevenBits(0xFF), 0x7F);
}

// Token positions are packed beside their atoms when they fit and kept whole
// when not; either way every reader sees exactly the position set.
TEST(AtomPositions, EveryShapeReadsBackExactlyAndSharedPartsAreCounted) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* procedure = NewWord(s, u"p");
  struct Case {
    int32_t start, end, line;
    const char16_t* topic;
    bool withProcedure;
  };
  const Case cases[] = {
      {1, 2, 1, u"", false},        // a one-character token
      {10, 4100, 3, u"", false},    // a span too long to pack
      {9, 5, 2, u"", false},        // an end before the start
      {7, 12, 40, u"make", true},   // a topic and a procedure
  };
  const size_t sourcesBefore = s.Positions().SourceCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    TPosition pos;
    MakeSourcePos(pos, u"f.zav", u"text", 0, c.line, kAnyDepth);
    pos.StartPos = c.start;
    pos.EndPos = c.end;
    pos.Topic = c.topic;
    if (c.withProcedure) pos.Procedure = procedure;
    TAtom* token = NewWord(s, u"t");
    TAtom::SetPosition(*token, pos);
    const TPosition back = TAtom::GetPosition(token);
    EXPECT_EQ(back.StartPos, c.start);
    EXPECT_EQ(back.EndPos, c.end);
    EXPECT_EQ(back.Line, c.line);
    EXPECT_EQ(back.Topic, c.topic);
    EXPECT_EQ(back.Procedure, pos.Procedure);
    EXPECT_EQ(back.SourceName.str(), u"f.zav");
    EXPECT_EQ(TAtom::PositionOf(token).EndPos, c.end);
    int32_t start = 0, end = 0;
    ASSERT_TRUE(TAtom::SpanOf(token, start, end));
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(end, c.end);
    // A position handed out stays valid and follows a later change.
    TPosition* handed = token->Position();
    pos.StartPos = c.start + 1;
    TAtom::SetPosition(*token, pos);
    EXPECT_EQ(handed->StartPos, c.start + 1);
    TAtom::Reset(s, *token);
    EXPECT_FALSE(token->HasPosition());
  }
  // Every token gave its shared part back when it was reset.
  EXPECT_EQ(s.Positions().SourceCount(), sourcesBefore);
}
