// Atom texts (one-pointer handles with owned or shared nodes) and numbers
// kept in ten bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "core/AtomText.h"
#include "core/Atoms.h"
#include "core/Lexem.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

namespace {

const std::u16string kLong = u"a text longer than a string holds inside itself";

TEST(AtomText, EveryAssignmentReadsBackAndAnEmptyTextHasNoNode) {
  for (const std::u16string& text : {std::u16string(), std::u16string(u"x"), std::u16string(u"seven77"), kLong}) {
    TAtomText byMove;
    byMove = std::u16string(text);
    TAtomText byView;
    byView = std::u16string_view(text);
    TAtomText shared;
    shared.AssignShared(text);
    for (const TAtomText* t : {&byMove, &byView, &shared}) {
      EXPECT_EQ(t->str(), text);
      EXPECT_EQ(t->size(), text.size());
      EXPECT_EQ(t->empty(), text.empty());
      EXPECT_TRUE(*t == text);
    }
    EXPECT_EQ(shared.IsShared(), !text.empty());
  }
}

// Whatever node the text had (none, owned, shared with another holder),
// the units assigned are the text, and a sharer keeps its own.
TEST(AtomText, UnitsAssignedReadBackAndLeaveSharersAlone) {
  for (const std::u16string& before : {std::u16string(), std::u16string(u"ab"), kLong}) {
    for (const bool shared : {false, true}) {
      for (const std::u16string& written :
           {std::u16string(), std::u16string(u"xyz"), std::u16string(u"eight888"), kLong}) {
        TAtomText text;
        TAtomText sharer;
        if (shared) {
          text.AssignShared(before);
          sharer.ShareFrom(text);
        } else {
          text = std::u16string_view(before);
        }
        text.AssignUnits(written.data(), written.size());
        EXPECT_EQ(text.str(), written);
        EXPECT_FALSE(text.IsShared());
        if (shared) {
          EXPECT_EQ(sharer.str(), before);
        }
      }
    }
  }
}

TEST(AtomText, AssigningPartOfItsOwnTextKeepsTheCharacters) {
  TAtomText owned;
  owned = std::u16string(kLong);
  owned = owned.view().substr(2, 20);
  EXPECT_EQ(owned.str(), kLong.substr(2, 20));
  TAtomText shared;
  shared.AssignShared(kLong);
  shared = shared.view().substr(5);
  EXPECT_EQ(shared.str(), kLong.substr(5));
  EXPECT_FALSE(shared.IsShared());
}

TEST(AtomText, SharersKeepTheTextWhateverTheOrderTheyLetGo) {
  for (int firstGone = 0; firstGone < 3; ++firstGone) {
    TAtomText holders[3];
    holders[0].AssignShared(kLong);
    holders[1].ShareFrom(holders[0]);
    holders[2].ShareFrom(holders[1]);
    holders[firstGone].clear();
    holders[firstGone] = std::u16string(u"other");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(holders[i].str(), i == firstGone ? u"other" : kLong) << firstGone;
  }
  TAtomText owned;
  owned = std::u16string(u"own");
  TAtomText copy;
  copy.ShareFrom(owned);
  owned.clear();
  EXPECT_EQ(copy.str(), u"own");
  EXPECT_FALSE(copy.IsShared());
}

TEST(AtomText, TextsMadeAfterOthersWereGivenBackShowOnlyTheirOwnCharacters) {
  {
    TAtomText gone[8];
    for (TAtomText& t : gone) t = std::u16string(kLong + kLong);
  }
  for (const std::u16string& text : {std::u16string(u"ab"), kLong.substr(0, 9)}) {
    TAtomText fresh;
    fresh = std::u16string_view(text);
    EXPECT_EQ(fresh.str(), text);
    TAtomText moved;
    moved = std::u16string(text);
    EXPECT_EQ(moved.str(), text);
  }
}

// The no-surrogate mark holds only while it is true: set for a shared
// text without surrogates or units said to hold none, gone after any change.
TEST(AtomText, KnowsItHoldsNoSurrogateOnlyWhileThatHolds) {
  const std::u16string pair = u"ab\U0001F600";
  TAtomText shared;
  shared.AssignShared(kLong);
  EXPECT_TRUE(shared.KnownFreeOfSurrogates());
  TAtomText sharer;
  sharer.ShareFrom(shared);
  EXPECT_TRUE(sharer.KnownFreeOfSurrogates());
  TAtomText withPair;
  withPair.AssignShared(pair);
  EXPECT_FALSE(withPair.KnownFreeOfSurrogates());
  const std::function<void(TAtomText&)> changes[] = {
      [&](TAtomText& t) { t = std::u16string(pair); },
      [&](TAtomText& t) { t = std::u16string_view(pair); },
      [&](TAtomText& t) { t.AssignUnits(pair.data(), pair.size()); },
      [&](TAtomText& t) { t.AssignShared(pair); },
      [&](TAtomText& t) { t.clear(); },
  };
  for (const std::u16string& before : {std::u16string(u"xyz"), kLong}) {
    for (const auto& change : changes) {
      TAtomText text;
      text.AssignUnits(before.data(), before.size(), true);
      ASSERT_TRUE(text.KnownFreeOfSurrogates());
      EXPECT_EQ(text.str(), before);
      change(text);
      EXPECT_FALSE(text.KnownFreeOfSurrogates()) << (&change - changes);
      EXPECT_TRUE(text.empty() || text.str() == pair);
    }
  }
}

TEST(AtomText, ScannedTokensOfOneShortTextShareIt) {
  TestState ts(false);
  TStructure& s = *ts.S;
  TScanner scanner(s);
  const std::u16string longToken(70, u'q');
  const TParseResult parsed = ParseText(scanner, u"abc xyz abc 12 " + longToken + u" " + longToken, u"t", 0, 0,
                                        ParseAs::Words);
  ASSERT_TRUE(parsed.Ok);
  std::vector<TAtom*> words;
  for (TAtom* cell = parsed.List; cell != nullptr; cell = cell->Right) words.push_back(cell->Left);
  ASSERT_EQ(words.size(), 6u);
  for (int i : {0, 2}) {
    EXPECT_EQ(words[i]->Text.str(), u"abc");
    EXPECT_TRUE(words[i]->Text.IsShared());
  }
  EXPECT_EQ(words[1]->Text.str(), u"xyz");
  for (int i : {4, 5}) {
    EXPECT_EQ(words[i]->Text.str(), longToken);
    EXPECT_FALSE(words[i]->Text.IsShared());
  }
}

TEST(AtomText, ListElementsThatAreNumbersHoldNoText) {
  TestState ts(false);
  TStructure& s = *ts.S;
  TScanner scanner(s);
  const TParseResult parsed = ParseText(scanner, u"[12 x x]", u"t");
  ASSERT_TRUE(parsed.Ok && IsAtom(parsed.List) && TAtom::IsList(parsed.List->Left));
  const TAtom* list = parsed.List->Left;
  EXPECT_EQ(list->Left->Kind, akNumber);
  EXPECT_TRUE(list->Left->Text.empty());
  EXPECT_TRUE(list->Right->Left->Text.IsShared());
  EXPECT_EQ(list->Right->Right->Left->Text.str(), u"x");
}

TEST(PackedNumber, EveryValueComesBackBitForBit) {
  TestState ts(false);
  const long double values[] = {0.0L,
                                -0.0L,
                                0.1L,
                                -1e4000L,
                                std::numeric_limits<long double>::max(),
                                std::numeric_limits<long double>::denorm_min(),
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity(),
                                std::numeric_limits<long double>::quiet_NaN()};
  for (const long double x : values) {
    const TAtom* a = NewNumber(*ts.S, x);
    const long double back = a->Number;
    EXPECT_EQ(std::memcmp(&back, &x, 10), 0) << static_cast<double>(x);
  }
}

// Whole numbers written and read without the x87 unit agree with it.
TEST(PackedNumber, WholeNumbersMatchTheUnitsOwnConversions) {
  for (const uint64_t v : {uint64_t{0}, uint64_t{1}, uint64_t{12}, uint64_t{1} << 40, uint64_t{999999999999999999},
                           ~uint64_t{0}}) {
    TPackedNumber made;
    made.SetWhole(v);
    const long double x = static_cast<long double>(v);
    const long double back = made;
    EXPECT_EQ(std::memcmp(&back, &x, 10), 0) << v;
  }
  const long double two63 = 9223372036854775808.0L;
  struct Case {
    long double X;
    bool Whole;
    int64_t Value;
  };
  const Case cases[] = {{0.0L, true, 0},
                        {-0.0L, true, 0},
                        {1.0L, true, 1},
                        {-5.0L, true, -5},
                        {123456789012.0L, true, 123456789012},
                        {two63 - 1, true, INT64_MAX},
                        {-(two63 - 1), true, -INT64_MAX},
                        {two63, false, 0},
                        {0.5L, false, 0},
                        {-2.25L, false, 0},
                        {4503599627370497.5L, false, 0},
                        {std::numeric_limits<long double>::denorm_min(), false, 0},
                        {std::numeric_limits<long double>::infinity(), false, 0},
                        {std::numeric_limits<long double>::quiet_NaN(), false, 0}};
  for (const Case& c : cases) {
    TPackedNumber packed;
    packed = c.X;
    int64_t whole = -1;
    EXPECT_EQ(packed.ReadWhole(whole), c.Whole) << static_cast<double>(c.X);
    if (c.Whole) {
      EXPECT_EQ(whole, c.Value) << static_cast<double>(c.X);
    }
  }
}

}  // namespace
