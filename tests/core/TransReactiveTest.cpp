// Reactive assignment against the base library: formula records, change
// plans (chains, diamonds, sources made by MAKE), history handlers at the
// outer call level, definition records, and the interpreter's state after a
// handler or a plan fails.

#include <gtest/gtest.h>

#include <string>

#include "core/Trans.h"
#include "tests/core/support/LibraryTest.h"

namespace {

class ReactiveTest : public LibraryTest {
protected:
  TAtom* Var(std::u16string_view name) { return S.FindName(name); }
  std::string Value(std::u16string_view name) { return U8(TAtom::ToText(S, Var(name)->Left)); }
  std::string Children(std::u16string_view name) {
    std::string names;
    for (const TAtom* c = Var(name)->FirstChild; c != nullptr; c = c->NextSibling) names += U8(c->Text) + " ";
    return names;
  }
};

TEST_F(ReactiveTest, FormulasKeepTheVariablesTheyReadCurrent) {
  ASSERT_EQ(Run(u"ob \"a 1\nob \"b 2\nob \"c :a + :b\nprint :c"), "3");
  // One record under each source, one dependency per source under c.
  EXPECT_EQ(Value(u"a.onchange.c"), "[make \" c : a + : b]");
  EXPECT_EQ(Value(u"b.onchange.c"), "[make \" c : a + : b]");
  EXPECT_EQ(Children(u"c.ondepend"), "b a ");
  EXPECT_EQ(Run(u"make \"a 10\nprint :c\nmake \"b 5\nprint :c"), "12\n15");
  // Only OB plans a variable: a source made by MAKE does not propagate.
  EXPECT_EQ(Run(u"make \"x 1\nob \"y :x * 2\nmake \"x 7\nprint :y"), "2");
}

TEST_F(ReactiveTest, ADiamondReevaluatesItsSinkOncePerChange) {
  ASSERT_EQ(Run(u"to trace :v\nprint \"eval :v\noutput :v\nend\n"
                u"ob \"a 1\nob \"b :a * 2\nob \"c :a + 1\nob \"d trace :b + :c"),
            "eval 4");
  EXPECT_EQ(Run(u"make \"a 5\nprint :d"), "eval 16\n16");
  EXPECT_EQ(Value(u"a.onplan"), "[a.onchange.b a.onchange.c c.onchange.d]");
  // Two variables reading each other: each plan stops at the other.
  EXPECT_EQ(Run(u"ob \"p 1\nob \"q :p + 1\nob \"p :q + 1\nmake \"q 10\nprint :p :q"), "11 10");
}

TEST_F(ReactiveTest, HistoryHandlersRunOnceControlIsBackAtTheOuterLevel) {
  ASSERT_EQ(Run(u"to onhistorycreate :n\nprint \"create :n\nmake word \"history. :n 0\nend\n"
                u"to onhistoryupdate :n\nprint \"update :n\nend\n"
                u"to q\nmake \"h 3\nprint \"inq\noutput 7\nend\nto p\nprint q\nprint \"inp\nend\n"
                u"make \"h 1\nsetbit \"h 16384"),
            "");
  EXPECT_EQ(Run(u"make \"h 2\nprint \"top"), "create h\nupdate h\ntop");
  // Inside q the handlers wait; they neither become q's result nor stop p.
  EXPECT_EQ(Run(u"p"), "inq\n7\nupdate h\ninp");
  EXPECT_TRUE(I.PendingHistory.empty());
}

TEST_F(ReactiveTest, DefinitionRecordsHoldTheAssignmentsText) {
  ASSERT_EQ(Run(u"make \"d 1\nmake \"obj.d 1\nsetbit [d obj.d] 8192\nmake \"d 5 + 2\nmake \"obj.d [1 2]"), "");
  EXPECT_EQ(Value(u"d.definition"), "[make \" d 5 + 2]");
  EXPECT_EQ(Value(u"obj.d.definition"), "[make \" obj.d [1 2]]");
}

TEST_F(ReactiveTest, AFailingHandlerOrPlanLeavesTheInterpreterAsItWas) {
  // While a handler runs, the changed variable counts as active.
  EXPECT_EQ(Run(u"make \"x.onchange [print getbit \"x 4]\nmake \"x 1"), "true");
  auto expectRestored = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Var(u"x")->Flags & (afActive | afSilent), 0u);
    EXPECT_EQ(S.Frame()->Owner, S.Root);
    EXPECT_EQ(S.Frame()->Parent, nullptr);
    EXPECT_EQ(I.CallDepth, 0);
    EXPECT_FALSE(I.PlanRunning);
    EXPECT_FALSE(I.InChangeHandlers);
    EXPECT_EQ(I.CodePointer, nullptr);
  };
  EXPECT_EQ(Run(u"make \"x.onchange [print :nosuch]\nmake \"x 2"), "error: UNKNOWNVAR");
  expectRestored("onchange handler");
  ASSERT_EQ(Run(u"to check :v\nif :v > 5 [print :nosuch]\noutput :v\nend\nob \"a 1\nob \"c check :a"), "");
  EXPECT_EQ(Run(u"make \"a 9"), "error: UNKNOWNVAR");
  expectRestored("change plan");
  EXPECT_EQ(Var(u"a.onchange.c")->Flags & afActive, 0u);
  // The plan still works; while it runs its records, redraws wait.
  bool planRunning = false;
  bool inHandlers = false;
  T.Host.OnPump = [&] {
    planRunning = I.PlanRunning;
    inHandlers = I.InChangeHandlers;
  };
  I.StatementCounter = 160 * 1000 - 2;  // the next pump falls on the plan's first statement
  EXPECT_EQ(Run(u"make \"a 2\nprint :c"), "2");
  EXPECT_TRUE(planRunning);
  EXPECT_TRUE(inHandlers);
  expectRestored("after the plan");
}

}  // namespace
