// The collector: what survives, what is freed and when, the graphics seam
// and finalisers of freed atoms, the budgets, deep and cyclic data, and a
// long run whose memory stays bounded.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/Collector.h"
#include "core/PositionStore.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

const char kLoopMessage[] = "GC Infinite Loop: Please, save your work and restart Zavta";

class CollectorTest : public ::testing::Test {
protected:
  // A collection now, whatever was allocated; checks the pool's counts.
  void Collect() {
    S.AllocationCount = S.CollectionInterval();
    CollectGarbage(I);
    ExpectCountsAddUp();
  }
  void ExpectCountsAddUp() { EXPECT_EQ(S.LiveCount + S.FreeCount, S.CreatedCount()); }
  // A variable under the root holding value: reachable for good.
  TAtom* Keep(std::u16string name, TAtom* value) {
    TAtom* variable = NewVariable(S, std::move(name), value);
    TAtom::SetParent(S, *variable, S.Root);
    return variable;
  }
  static bool IsFree(const TAtom* atom) { return atom->OnChain == AtomChain::Free; }
  int CountLines(const std::string& text) const {
    int n = 0;
    for (const PrintedLine& line : T.Host.Lines) n += U8(line.Text) == text;
    return n;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(CollectorTest, RunsOnlyOnceEnoughAtomsWereAllocated) {
  Collect();  // starts from a clean count
  const uint64_t stamp = S.StampCounter;
  TAtom* garbage = NewWord(S, u"garbage");
  for (int i = 1; i < 4999; ++i) NewNumber(S, i);
  CollectGarbage(I);
  EXPECT_FALSE(IsFree(garbage));
  EXPECT_EQ(S.StampCounter, stamp + 4999);  // allocations only

  NewNumber(S, 0);  // the 5000th
  CollectGarbage(I);
  EXPECT_TRUE(IsFree(garbage));
  EXPECT_EQ(S.StampCounter, stamp + 5001);
  EXPECT_EQ(S.AllocationCount, 0u);
  ExpectCountsAddUp();
}

TEST_F(CollectorTest, ALargeLiveSetSpacesCollectionsOutByItsSize) {
  TAtom* big = nullptr;
  for (int i = 0; i < 20000; ++i) big = NewListCell(S, NewNumber(S, i), big);
  Keep(u"big", big);
  Collect();
  const uint64_t live = S.Survivors;
  ASSERT_GE(live, 40000u);
  const uint64_t stamp = S.StampCounter;
  TAtom* garbage = NewWord(S, u"garbage");
  while (S.AllocationCount < live - 1) {
    NewNumber(S, 0);
    CollectGarbage(I);
  }
  EXPECT_FALSE(IsFree(garbage));
  EXPECT_EQ(S.StampCounter, stamp + live - 1);  // allocations only
  NewNumber(S, 0);
  CollectGarbage(I);
  EXPECT_TRUE(IsFree(garbage));
  EXPECT_EQ(S.StampCounter, stamp + live + 1);
  EXPECT_EQ(TAtom::Length(big), 20000);
}

TEST_F(CollectorTest, TheSweepBudgetCountsSurvivorsPassedNotAtomsFreed) {
  Collect();
  S.CollectorLimits.SweepBudget = 10;
  TAtom* survivors = nullptr;
  std::vector<TAtom*> garbage;
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 100; ++j) garbage.push_back(NewWord(S, u"g"));
    survivors = NewListCell(S, nullptr, survivors);
  }
  Keep(u"survivors", survivors);
  Collect();
  for (TAtom* atom : garbage) EXPECT_TRUE(IsFree(atom));
}

TEST_F(CollectorTest, KeepsEverythingItsRootsReachAndFreesTheRest) {
  TAtom* pinned = NewWord(S, u"pinned");
  TAtom::IncRef(pinned);
  TAtom* stacked = NewWord(S, u"stacked");
  S.Frame()->Stack.Push(stacked, 1, 2);
  TAtom* code = ListOf(S, {NewWord(S, u"print"), NewNumber(S, 1)});
  I.CodePointer = code;
  TAtom* held = ListOf(S, {NewWord(S, u"deep"), ListOf(S, {NewNumber(S, 7)})});
  TAtom* object = Keep(u"object", held);
  TAtom* member = NewVariable(S, u"member", NewNumber(S, 3));
  TAtom::SetParent(S, *member, object);
  // An unreachable cycle of two cells.
  TAtom* a = NewListCell(S, NewWord(S, u"a"), nullptr);
  TAtom* b = NewListCell(S, NewWord(S, u"b"), a);
  a->Right = b;
  TAtom* loose = NewWord(S, u"loose");

  Collect();

  for (TAtom* atom : {pinned, stacked, code, code->Right, code->Right->Left, held, held->Right->Left->Left, object,
                      member, member->Left, S.Language.TrueAtom, S.Language.FalseAtom})
    EXPECT_FALSE(IsFree(atom)) << U8(TAtom::ToText(S, atom));
  EXPECT_EQ(U8(TAtom::ToText(S, held)), "[deep [7]]");
  for (TAtom* atom : {a, b, loose}) EXPECT_TRUE(IsFree(atom));

  // Unpinned, popped and forgotten, they go at the next collection.
  TAtom::DecRef(pinned);
  S.Frame()->Stack.Drop(3);
  I.CodePointer = nullptr;
  Collect();
  for (TAtom* atom : {pinned, stacked, code}) EXPECT_TRUE(IsFree(atom));
}

TEST_F(CollectorTest, EachFreedAtomWithAListReachesTheGraphicsSeamOnceAndIsFinalisedOnce) {
  static int finalised = 0;
  finalised = 0;
  Collect();
  // The graphics module marks the atoms whose lists it recorded; only those
  // have a list for the seam to delete.
  std::vector<uint32_t> withList;
  std::vector<uint32_t> withoutList;
  for (int i = 0; i < 20; ++i) {
    TAtom* atom = NewNumber(S, i);
    if (i % 2 == 0) atom->Marks |= amDisplayList;
    (i % 2 == 0 ? withList : withoutList).push_back(atom->Identity());
  }
  TAtom* block = NewMemoryBlock(S, 64, [](TStructure&, TAtom&) { ++finalised; });
  block->Marks |= amDisplayList;
  withList.push_back(block->Identity());
  withoutList.push_back(NewMemoryBlock(S, 64, [](TStructure&, TAtom&) { ++finalised; })->Identity());
  T.Host.Graphics.DeletedLists.clear();

  Collect();
  Collect();  // nothing new: nothing reaches the seam twice
  std::vector<uint32_t> deleted = T.Host.Graphics.DeletedLists;
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(std::adjacent_find(deleted.begin(), deleted.end()), deleted.end());
  for (uint32_t identity : withList) {
    EXPECT_TRUE(std::binary_search(deleted.begin(), deleted.end(), identity)) << identity;
    EXPECT_EQ(S.AtomById(identity), nullptr);
  }
  for (uint32_t identity : withoutList) {
    EXPECT_FALSE(std::binary_search(deleted.begin(), deleted.end(), identity)) << identity;
    EXPECT_EQ(S.AtomById(identity), nullptr);
  }
  EXPECT_EQ(finalised, 2);
  // Reused atoms start empty.
  TAtom* reused = NewNumber(S, 5);
  EXPECT_EQ(reused->Ext, nullptr);
  EXPECT_EQ(reused->Flags, 0u);
}

// The sweep frees most atoms without touching the pool's fields, and
// brings them up to date before the seam can look: there, the counts add
// up and the free chain is as long as its count says.
TEST_F(CollectorTest, TheGraphicsSeamSeesThePoolUpToDateInTheMiddleOfASweep) {
  Collect();
  for (int i = 0; i < 30; ++i) {
    TAtom* atom = NewNumber(S, i);
    if (i % 10 == 5) atom->Marks |= amDisplayList;
  }
  int seen = 0;
  T.Host.Graphics.OnDeleteList = [&](uint32_t) {
    ++seen;
    ExpectCountsAddUp();
    int64_t chained = 0;
    for (const TAtom* atom = S.FreeAtoms; atom != nullptr; atom = atom->Chain) ++chained;
    EXPECT_EQ(chained, S.FreeCount);
  };
  Collect();
  T.Host.Graphics.OnDeleteList = nullptr;
  EXPECT_EQ(seen, 3);
}

TEST_F(CollectorTest, ASweepOutOfBudgetGoesOnAtLaterCollections) {
  Collect();
  S.CollectorLimits.SweepBudget = 10;
  TAtom* survivors = nullptr;
  std::vector<TAtom*> garbage;
  // Old garbage under newer survivors: past the budget from the head.
  for (int i = 0; i < 50; ++i) garbage.push_back(NewNumber(S, i));
  for (int i = 0; i < 200; ++i) {
    garbage.push_back(NewWord(S, u"g"));
    survivors = NewListCell(S, NewNumber(S, i), survivors);
  }
  Keep(u"survivors", survivors);

  Collect();
  int left = 0;
  for (TAtom* atom : garbage) left += !IsFree(atom);
  EXPECT_GT(left, 0);
  for (int round = 0; round < 100 && left > 0; ++round) {
    Collect();
    left = 0;
    for (TAtom* atom : garbage) left += !IsFree(atom);
  }
  EXPECT_EQ(left, 0);
  EXPECT_EQ(TAtom::Length(survivors), 200);
  EXPECT_EQ(U8(TAtom::ToText(S, survivors->Left)), "199");
}

TEST_F(CollectorTest, AMarkingBudgetRunOutPrintsAndFreesNothing) {
  Collect();
  TAtom* kept = Keep(u"kept", ListOf(S, {NewNumber(S, 1), NewNumber(S, 2)}));
  TAtom* garbage = NewWord(S, u"garbage");
  S.CollectorLimits.MarkBudget = 5;
  const int64_t freeBefore = S.FreeCount;
  Collect();
  EXPECT_EQ(CountLines(kLoopMessage), 1);
  EXPECT_EQ(S.FreeCount, freeBefore);
  EXPECT_FALSE(IsFree(garbage));
  EXPECT_EQ(U8(TAtom::ToText(S, kept->Left)), "[1 2]");

  S.CollectorLimits.MarkBudget = 10240000;
  Collect();
  EXPECT_TRUE(IsFree(garbage));
  EXPECT_EQ(U8(TAtom::ToText(S, kept->Left)), "[1 2]");
}

TEST_F(CollectorTest, DeepDataNeitherOverflowsNorSurvivesWhenDropped) {
  TAtom* nested = nullptr;
  for (int i = 0; i < 1000000; ++i) nested = NewListCell(S, nested, nullptr);
  TAtom* innermost = nested;
  while (innermost->Left != nullptr) innermost = innermost->Left;
  TAtom* holder = Keep(u"nested", nested);
  TAtom* top = NewVariable(S, u"top", nullptr);
  TAtom* variable = top;
  for (int i = 0; i < 100000; ++i) {
    TAtom* child = NewVariable(S, u"v", nullptr);
    TAtom::SetParent(S, *child, variable);
    variable = child;
  }
  TAtom::SetParent(S, *top, S.Root);
  MarkAtom(S, nested);
  EXPECT_TRUE(innermost->Flags & afMarked);
  MarkAtom(S, top);
  EXPECT_TRUE(variable->Flags & afMarked);
  Collect();
  EXPECT_FALSE(IsFree(nested));
  EXPECT_FALSE(IsFree(variable));

  const int64_t liveBefore = S.LiveCount;
  holder->Left = nullptr;
  TAtom::Unlink(top);
  Collect();
  EXPECT_TRUE(IsFree(variable));
  // The list is older than the variables: past the sweep budget from the
  // head, it goes over the next collections.
  for (int round = 0; round < 20 && !IsFree(innermost); ++round) Collect();
  EXPECT_LE(S.LiveCount, liveBefore - 1100000);
}

// A finaliser that allocates (and asks for a collection) while the sweep
// frees its atom.
TAtom* madeByFinaliser = nullptr;
TInterpreter* finaliserInterpreter = nullptr;
void AllocatingFinaliser(TStructure& s, TAtom&) {
  madeByFinaliser = ListOf(s, {NewWord(s, u"made"), NewNumber(s, 42)});
  TAtom::IncRef(madeByFinaliser);
  s.AllocationCount = s.CollectorLimits.Threshold;
  CollectGarbage(*finaliserInterpreter);  // nested: returns at once
}

class NamedObject : public WrappedObject {
public:
  std::u16string ClassName() const override { return u"TTest"; }
};

TEST_F(CollectorTest, AFinaliserThatAllocatesKeepsItsAtomsAndNothingPumps) {
  NamedObject object;
  finaliserInterpreter = &I;
  madeByFinaliser = nullptr;
  TAtom* wrapped = NewWinObject(S, &object, AllocatingFinaliser);
  for (int i = 0; i < 100; ++i) NewNumber(S, i);
  const int pumps = T.Host.Pumps;

  Collect();
  EXPECT_TRUE(IsFree(wrapped));
  ASSERT_NE(madeByFinaliser, nullptr);
  EXPECT_FALSE(IsFree(madeByFinaliser));
  EXPECT_EQ(U8(TAtom::ToText(S, madeByFinaliser)), "[made 42]");
  EXPECT_EQ(T.Host.Pumps, pumps);
  EXPECT_TRUE(S.PumpPending);  // the pump waits for the statement runner

  TAtom::DecRef(madeByFinaliser);
  Collect();
  EXPECT_TRUE(IsFree(madeByFinaliser));
}

// The mark bit is a flag programs can set too (and a variable with an
// extension shows the collector's mark until the next collection): a mark
// set between collections must not keep the marker from what it holds.
TEST_F(CollectorTest, AMarkSetBetweenCollectionsHidesNothingFromTheMarker) {
  for (const bool extended : {false, true}) {
    for (const bool wholeTree : {false, true}) {
      SCOPED_TRACE(testing::Message() << "extended " << extended << ", tree " << wholeTree);
      TAtom* variable = Keep(u"held", nullptr);
      if (extended) variable->Extend();
      Collect();
      Collect();  // the collections see only their own marks left
      TAtom* list = ListOf(S, {NewNumber(S, 1), NewNumber(S, 2)});
      variable->Left = list;
      if (wholeTree)
        TAtom::FlagTree(S, variable, afMarked, true);
      else
        TAtom::SetFlag(variable, afMarked, true);
      Collect();
      ASSERT_FALSE(IsFree(list));
      EXPECT_FALSE(IsFree(list->Right->Left));
      // As ever: an atom with an extension keeps its mark in sight.
      EXPECT_EQ((variable->Flags & afMarked) != 0, extended);
      variable->Left = nullptr;
      Collect();
      EXPECT_TRUE(IsFree(list));
      TAtom::Unlink(variable);
    }
  }
}

TEST_F(CollectorTest, ALongRunRotatingLiveListsStaysBounded) {
  constexpr int kLists = 1000;
  TAtom* ring = nullptr;
  for (int i = 0; i < kLists; ++i) ring = NewListCell(S, nullptr, ring);
  Keep(u"ring", ring);
  Collect();
  const int64_t base = S.LiveCount;
  const int64_t liveSet = base + kLists * 6;  // three cells and three numbers a list

  std::vector<TAtom*> slots;
  for (TAtom* cell = ring; cell != nullptr; cell = cell->Right) slots.push_back(cell);
  int64_t highestLive = 0;
  for (int round = 0; round < 500000; ++round) {  // three million allocations
    TAtom* list = ListOf(S, {NewNumber(S, round), NewNumber(S, round + 1), NewNumber(S, round + 2)});
    slots[static_cast<size_t>(round % kLists)]->Left = list;
    CollectGarbage(I);
    highestLive = std::max(highestLive, S.LiveCount);
  }
  EXPECT_LT(highestLive, liveSet + 10000);
  EXPECT_LT(S.CreatedCount(), liveSet + 10000);
  ExpectCountsAddUp();
  for (TAtom* slot : slots) {
    const TAtom* list = slot->Left;
    ASSERT_EQ(TAtom::Length(list), 3);
    EXPECT_EQ(list->Right->Left->Number, list->Left->Number + 1);
    EXPECT_EQ(list->Right->Right->Left->Number, list->Left->Number + 2);
  }
}

// How often each atom's finaliser ran and its display list was deleted.
std::map<uint32_t, int> finalisedTimes;
TAtom* madeByRegisteringFinaliser = nullptr;
void CountingFinaliser(TStructure&, TAtom& atom) { ++finalisedTimes[atom.Identity()]; }
// Makes another object, unreferenced, while the collector finalises.
void RegisteringFinaliser(TStructure& s, TAtom& atom) {
  CountingFinaliser(s, atom);
  madeByRegisteringFinaliser = NewMemoryBlock(s, 8, CountingFinaliser);
}

TEST_F(CollectorTest, AnUnreachableObjectIsFinalisedOnceAtTheFirstCollectionWhereverItSits) {
  finalisedTimes.clear();
  madeByRegisteringFinaliser = nullptr;
  NamedObject controls[3];
  Collect();
  S.CollectorLimits.SweepBudget = 10;
  // Objects older than a large live set lie far past the sweep's reach.
  std::vector<TAtom*> dropped = {NewMemoryBlock(S, 16, CountingFinaliser), NewWinObject(S, &controls[0], CountingFinaliser),
                                 NewMemoryBlock(S, 16, RegisteringFinaliser), NewWinObject(S, &controls[1], CountingFinaliser)};
  for (TAtom* atom : dropped) atom->Marks |= amDisplayList;  // as if each had drawn its list
  TAtom* held = Keep(u"held", NewMemoryBlock(S, 16, CountingFinaliser));
  TAtom* pinned = NewWinObject(S, &controls[2], CountingFinaliser);
  TAtom::IncRef(pinned);
  TAtom* survivors = nullptr;
  for (int i = 0; i < 1000; ++i) survivors = NewListCell(S, NewNumber(S, i), survivors);
  Keep(u"survivors", survivors);
  T.Host.Graphics.DeletedLists.clear();
  const auto deletedTimes = [&](const TAtom* atom) {
    const std::vector<uint32_t>& deleted = T.Host.Graphics.DeletedLists;
    return std::count(deleted.begin(), deleted.end(), atom->Identity());
  };
  const auto expectDroppedDoneOnce = [&] {
    for (TAtom* atom : dropped) {
      EXPECT_EQ(finalisedTimes[atom->Identity()], 1) << atom->Identity();
      EXPECT_EQ(deletedTimes(atom), 1) << atom->Identity();
    }
  };

  Collect();
  expectDroppedDoneOnce();
  EXPECT_FALSE(IsFree(dropped.front()));  // finalised, but not swept yet
  EXPECT_EQ(finalisedTimes.count(held->Left->Identity()), 0u);
  EXPECT_EQ(finalisedTimes.count(pinned->Identity()), 0u);
  // Made during that collection's finalisers: it waits for the next one.
  ASSERT_NE(madeByRegisteringFinaliser, nullptr);
  const uint32_t made = madeByRegisteringFinaliser->Identity();
  EXPECT_EQ(finalisedTimes.count(made), 0u);

  for (int round = 0; round < 300 && !std::all_of(dropped.begin(), dropped.end(), IsFree); ++round) {
    Collect();
    EXPECT_EQ(finalisedTimes[made], 1);
  }
  ASSERT_TRUE(std::all_of(dropped.begin(), dropped.end(), IsFree));
  for (TAtom* atom : dropped) EXPECT_EQ(S.AtomById(atom->Identity()), nullptr);
  expectDroppedDoneOnce();

  TAtom* heldBlock = held->Left;
  held->Left = nullptr;
  TAtom::DecRef(pinned);
  Collect();
  EXPECT_EQ(finalisedTimes[heldBlock->Identity()], 1);
  EXPECT_EQ(finalisedTimes[pinned->Identity()], 1);
  EXPECT_EQ(TAtom::Length(survivors), 1000);
}

TEST_F(CollectorTest, FreedTokensGiveTheirPositionsSharedPartsBack) {
  Collect();
  const size_t sourcesBefore = S.Positions().SourceCount();
  for (int i = 0; i < 100; ++i) {
    TPosition position;
    MakeSourcePos(position, u"dropped.zav", u"text", 0, i + 1, kAnyDepth);
    position.StartPos = i;
    position.EndPos = i + 1;
    TAtom::SetPosition(*NewWord(S, u"token"), position);
  }
  EXPECT_GT(S.Positions().SourceCount(), sourcesBefore);
  Collect();
  EXPECT_EQ(S.Positions().SourceCount(), sourcesBefore);
}

// The live set is many times the sweep budget: garbage made between
// collections must still go at the next one, not wait until a sweep
// resumed deep in the old atoms comes round to it.
TEST_F(CollectorTest, NewGarbageBesideALiveSetLargerThanTheSweepBudgetGoesAtTheNextCollection) {
  S.CollectorLimits.SweepBudget = 100;
  TAtom* big = nullptr;
  for (int i = 0; i < 20000; ++i) big = NewListCell(S, NewNumber(S, i), big);
  TAtom* slot = Keep(u"slot", nullptr);
  Keep(u"big", big);
  Collect();
  const int64_t base = S.LiveCount;
  const auto interval = static_cast<int64_t>(S.CollectionInterval());
  int64_t highestLive = 0;
  for (int round = 0; round < 300000; ++round) {  // about fifteen collections
    slot->Left = NewListCell(S, NewNumber(S, round), nullptr);
    CollectGarbage(I);
    highestLive = std::max(highestLive, S.LiveCount);
  }
  EXPECT_LT(highestLive, base + interval + 1000);
  EXPECT_EQ(CountLines(kLoopMessage), 0);
  EXPECT_EQ(TAtom::Length(big), 20000);
}

// SE borrows the cells of its last input, so the old list is copied first
// (se :acc []): every round leaves the previous copy behind as garbage.
TEST_F(CollectorTest, ProgramsCollectBetweenStatementsAndKeepTheirValues) {
  ASSERT_EQ(RunText(I,
                    u"to list :a :b\noutput dll.zavta.LOGOLIST\nend\n"
                    u"to se :a :b\noutput dll.zavta.LOGOSE\nend\n"
                    u"to count :thing\noutput dll.zavta.LOGOCOUNT\nend\n"
                    u"to first :thing\noutput dll.zavta.LOGOFIRST\nend\n"
                    u"to last :thing\noutput dll.zavta.LOGOLAST\nend\n"
                    u"to build :n\nmake \"acc []\nrepeat :n [make \"acc se count :acc se :acc []  make \"junk list "
                    u":acc :acc]\noutput :acc\nend\n",
                    u"test"),
            0);
  S.CollectorLimits.Threshold = 50;
  const int64_t freeBefore = S.FreeCount;
  ASSERT_EQ(RunText(I, u"make \"big build 3000\nprint count :big\nprint first :big\nprint last :big", u"test"), 0)
      << T.Host.Output();
  EXPECT_GT(S.FreeCount, freeBefore);
  ASSERT_GE(T.Host.Lines.size(), 3u) << T.Host.Output();
  EXPECT_EQ(U8(T.Host.Lines[T.Host.Lines.size() - 3].Text), "3000");
  EXPECT_EQ(U8(T.Host.Lines[T.Host.Lines.size() - 2].Text), "2999");
  EXPECT_EQ(U8(T.Host.Lines.back().Text), "0");
}

}  // namespace

namespace {

TEST_F(CollectorTest, ARootFreedAndMadeAgainAtItsPlaceFindsOnlyItsOwnChildren) {
  for (int i = 0; i < 10; ++i) Keep(u"global" + std::u16string(1, static_cast<char16_t>(u'a' + i)), nullptr);
  for (int round = 0; round < 3; ++round) ASSERT_NE(S.FindName(u"globala"), nullptr);  // indexed now

  TAtom* oldRoot = S.Root;
  S.LeaveAllFrames();
  S.ClearRoot();
  Collect();
  ASSERT_TRUE(IsFree(oldRoot));
  while (S.FreeAtoms != oldRoot) ASSERT_NE(NewWord(S, u"filler"), nullptr);
  S.EnterFrame(NewVariable(S, u"[Root]", nullptr));
  ASSERT_EQ(S.Root, oldRoot);
  for (int i = 0; i < 5; ++i) Keep(u"other" + std::u16string(1, static_cast<char16_t>(u'a' + i)), nullptr);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(S.FindName(u"globala"), nullptr);
    EXPECT_NE(S.FindName(u"othera"), nullptr);
  }
}

}  // namespace

namespace {

// The roots are found and the free chain kept whole both where the whole
// pool is walked in address order and where a burst of garbage left a pool
// too large for that, so the chains are walked instead.
TEST_F(CollectorTest, RootsAndTheFreeChainHoldWhicheverWayThePoolIsWalked) {
  for (const bool afterBurst : {false, true}) {
    SCOPED_TRACE(afterBurst ? "pool many times the live set" : "small pool");
    if (afterBurst) {
      for (int i = 0; i < 200000; ++i) NewNumber(S, i);
      Collect();
      ASSERT_GT(S.FreeCount, 4 * (S.LiveCount + 5000));
    }
    TAtom* pinned = NewWord(S, u"pinned");
    TAtom::IncRef(pinned);
    TAtom* kept = NewListCell(S, ListOf(S, {NewNumber(S, 1)}), nullptr);
    TAtom::MoveToKept(S, *kept);
    TAtom* loose = ListOf(S, {NewWord(S, u"loose"), NewNumber(S, 2)});
    Collect();
    EXPECT_FALSE(IsFree(pinned));
    EXPECT_EQ(U8(TAtom::ToText(S, kept)), "[[1]]");
    EXPECT_TRUE(IsFree(loose));

    int64_t length = 0;
    bool ascending = true;
    for (const TAtom* atom = S.FreeAtoms; atom != nullptr; atom = atom->Chain, ++length) {
      ASSERT_TRUE(IsFree(atom));
      ascending = ascending && (atom->Chain == nullptr || atom < atom->Chain);
    }
    EXPECT_EQ(length, S.FreeCount);
    if (!afterBurst) {
      EXPECT_TRUE(ascending);  // the atoms made next lie in sequence
    }
    // The live chain, rebuilt or walked, holds every live atom once.
    int64_t live = 0;
    for (const TAtom* atom = S.LiveAtoms; atom != nullptr; atom = atom->Chain, ++live)
      ASSERT_EQ(atom->OnChain, AtomChain::Live);
    for (const TAtom* atom = S.KeptAtoms; atom != nullptr; atom = atom->Chain) ++live;
    EXPECT_EQ(live, S.LiveCount);
    TAtom::DecRef(pinned);
  }
}

}  // namespace
