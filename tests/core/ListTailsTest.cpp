// Lists that borrow the cells of SE's last input: what is borrowed, what a
// borrowed cell becomes when it is handed out or changed, and what that
// costs when many lists borrow from one another. (tests/lang/list-tails.zav
// checks what programs see against lists that copy.)

#include <gtest/gtest.h>

#include <string>

#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

class ListTailsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(RunText(I,
                      u"to list :a :b\noutput dll.zavta.LOGOLIST\nend\n"
                      u"to se :a :b\noutput dll.zavta.LOGOSE\nend\n"
                      u"to bf :thing\noutput dll.zavta.LOGOBF\nend\n"
                      u"to count :thing\noutput dll.zavta.LOGOCOUNT\nend\n"
                      u"to expr :thing\noutput dll.zavta.LOGOEXPR\nend\n"
                      u"to fput :x :l\noutput se (list :x) :l\nend\n"
                      u"make \"list.onminrightinputs 0\nmake \"se.onminrightinputs 0\n",
                      u"test"),
              0)
        << T.Host.Output();
  }
  void Run(const std::u16string& text) { ASSERT_EQ(RunText(I, text, u"test"), 0) << T.Host.Output(); }
  TAtom* Value(const std::u16string& name) {
    TAtom* variable = S.FindName(name);
    return variable != nullptr ? variable->Left : nullptr;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(ListTailsTest, JoinedListsBorrowOnlyRestsACopyCouldNotBeToldFrom) {
  Run(u"make \"built se [] [1 2 3]\nmake \"literal [1 2 3]\n"
      u"make \"a fput 0 :built\nmake \"b fput 0 :literal\nmake \"c fput [0] :built\nmake \"d (se :built)\n");
  TAtom* built = Value(u"built");
  EXPECT_EQ(Value(u"a")->Right, built);               // borrowed
  EXPECT_NE(Value(u"b")->Right, Value(u"literal"));   // parsed cells keep source positions
  EXPECT_NE(Value(u"c")->Right, built);               // a list element in front
  EXPECT_NE(Value(u"d"), built);                      // nothing in front: a copy
  EXPECT_EQ(TAtom::Length(Value(u"d")), 3);
}

TEST_F(ListTailsTest, ABorrowedCellHandedOutIsTheBorrowersOwnCopy) {
  Run(u"make \"built se [] [1 2 3]\nmake \"a fput 0 :built\nmake \"rest bf :a\n");
  TAtom* rest = Value(u"rest");
  EXPECT_NE(rest, Value(u"built"));
  EXPECT_EQ(Value(u"a")->Right, rest);  // bf answers the same cell again
  EXPECT_EQ(rest->Left, Value(u"built")->Left);
  EXPECT_EQ(TAtom::Length(Value(u"a")), 4);
  EXPECT_EQ(TAtom::Length(rest), 3);
}

// A chain of lists each borrowing the one before, and lists borrowing the
// base directly: changing the base's head copies one cell per nearest
// borrower, not the chain's cells over again.
TEST_F(ListTailsTest, ChangingABorrowedCellCopiesOnlyForItsNearestBorrowers) {
  Run(u"make \"base se [] [1 2 3 4 5 6 7 8]\nmake \"chain :base\nmake \"side []\n"
      u"repeat 200 [make \"chain fput 9 :chain  make \"side fput fput 0 :base :side]\n");
  S.CollectorLimits.Threshold = UINT64_MAX / 2;  // no collection in between
  const int64_t liveBefore = S.LiveCount;
  Run(u"make \"changed expr :base\n");
  EXPECT_LE(S.LiveCount - liveBefore, 201 + 50);  // one cell per nearest borrower, and the run's own atoms
  EXPECT_EQ(Value(u"base")->Kind, akExpression);
  TAtom* chain = Value(u"chain");
  EXPECT_EQ(TAtom::Length(chain), 208);
  TAtom* cell = chain;
  for (int i = 0; i < 200; ++i) cell = cell->Right;
  EXPECT_EQ(cell->Kind, akList);  // the chain's copy of the base's head
  EXPECT_NE(cell, Value(u"base"));
  EXPECT_EQ(Value(u"side")->Left->Right->Kind, akList);
}

}  // namespace
