// What drawing code may do while its list is open (pump a redraw, change
// drawables, fail), and how the redraw survives re-entry and errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "graphics/Scene.h"
#include "tests/graphics/support/SceneFixture.h"

namespace {

using Calls = std::vector<std::string>;

std::string NewList(uint32_t id) { return "glNewList(" + std::to_string(id) + ", GL_COMPILE)"; }

size_t Count(const Calls& calls, const std::string& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

class SceneDeferralTest : public SceneTest {
public:
  // An object whose drawing code draws a quad and then calls the hook
  // with the given word.
  TAtom* MakeHookedObject(std::u16string_view name, std::u16string_view hookWord) {
    const std::u16string n(name);
    EXPECT_EQ(Run(u"make \"" + n + u" []\r\nmake \"" + n + u".ondrawimage [testquad 0 0 9 9 9, testhook \"" +
                  std::u16string(hookWord) + u"]"),
              rrOk)
        << Output();
    return Var(name);
  }
  // The lists opened and closed, in order, as "open N" / "close".
  static Calls ListEvents() {
    Calls events;
    for (const std::string& call : FakeGL::Calls()) {
      if (call.rfind("glNewList(", 0) == 0) events.push_back(call);
      if (call == "glEndList()") events.push_back(call);
    }
    return events;
  }
};

TEST_F(SceneDeferralTest, ARedrawPumpedByDrawingCodeWaitsForTheListToClose) {
  TAtom* a = MakeHookedObject(u"a", u"paint");
  Quad.OnHook = [&](const std::u16string&) {
    for (int i = 0; i < 3; ++i) G.redrawScene();
    EXPECT_EQ(Plane.Presents, 0);
  };
  G.compileDisplayLists(*a);
  const Calls inList = FakeGL::ListCalls(a->Identity());
  for (const char* call : {"glClear(0x4100)", "glFlush()", "glPushMatrix()"})
    EXPECT_EQ(Count(inList, call), 0u) << call;
  EXPECT_EQ(ListEvents(), (Calls{NewList(a->Identity()), "glEndList()"}));
  // One redraw however many were asked for, after the close.
  EXPECT_EQ(Plane.Presents, 1);
  EXPECT_EQ(Plane.PresentsWhileCompiling, 0);
  EXPECT_FALSE(G.RedrawDeferred);
  EXPECT_EQ(Output(), "");
}

TEST_F(SceneDeferralTest, DrawablesChangedByDrawingCodeCompileAfterIt) {
  TAtom* a = MakeHookedObject(u"a", u"b");
  TAtom* b = MakeQuadObject(u"b", 1, 1, 0, 0, 255);
  int32_t pinsWhileQueued = -1;
  Quad.OnHook = [&](const std::u16string& what) {
    const int32_t before = b->RefCount;
    G.compileDisplayLists(*Var(what));
    G.compileDisplayLists(*Var(what));  // queued once
    pinsWhileQueued = b->RefCount - before;
  };
  const int32_t pinsBefore = b->RefCount;
  G.compileDisplayLists(*a);
  EXPECT_EQ(ListEvents(), (Calls{NewList(a->Identity()), "glEndList()", NewList(b->Identity()), "glEndList()"}));
  EXPECT_EQ(pinsWhileQueued, 1);
  EXPECT_EQ(b->RefCount, pinsBefore);
  EXPECT_TRUE(G.DeferredCompiles.empty());
  EXPECT_TRUE(G.HasList(b));
  EXPECT_EQ(Output(), "");  // no nested glNewList
}

struct ChangeLoopCase {
  const char* What;
  const char16_t* HookOfA;
  const char16_t* HookOfB;
  size_t CompilesOfA, CompilesOfB;
  int Hooks;
};

void PrintTo(const ChangeLoopCase& c, std::ostream* os) { *os << c.What; }

class ChangeLoopTest : public SceneDeferralTest, public ::testing::WithParamInterface<ChangeLoopCase> {};

TEST_P(ChangeLoopTest, Ends) {
  const ChangeLoopCase& c = GetParam();
  TAtom* a = MakeHookedObject(u"a", c.HookOfA);
  TAtom* b = MakeHookedObject(u"b", c.HookOfB);
  Quad.OnHook = [&](const std::u16string& what) {
    if (TAtom* target = Var(what)) G.compileDisplayLists(*target);
  };
  G.compileDisplayLists(*a);
  const Calls calls = FakeGL::Calls();
  EXPECT_EQ(Count(calls, NewList(a->Identity())), c.CompilesOfA);
  EXPECT_EQ(Count(calls, NewList(b->Identity())), c.CompilesOfB);
  EXPECT_EQ(Quad.Hooks, c.Hooks);
  EXPECT_TRUE(G.DeferredCompiles.empty());
  EXPECT_EQ(G.ListCompileDepth, 0);
  EXPECT_EQ(Output(), "");
}

INSTANTIATE_TEST_SUITE_P(Scene, ChangeLoopTest,
                         ::testing::Values(ChangeLoopCase{"Self", u"a", u"none", 1, 0, 1},
                                           ChangeLoopCase{"Mutual", u"b", u"a", 2, 1, 3},
                                           ChangeLoopCase{"Chain", u"b", u"b", 1, 1, 2}),
                         [](const ::testing::TestParamInfo<ChangeLoopCase>& info) { return std::string(info.param.What); });

TEST_F(SceneDeferralTest, AnErrorDropsTheDeferredWork) {
  ASSERT_EQ(Run(u"make \"a []\r\nmake \"a.ondrawimage [testhook \"b, nosuchprocedure]"), rrOk);
  TAtom* b = MakeQuadObject(u"b", 1, 1, 0, 0, 255);
  const int32_t pinsBefore = b->RefCount;
  Quad.OnHook = [&](const std::u16string&) {
    G.compileDisplayLists(*b);
    G.redrawScene();
  };
  EXPECT_THROW(G.compileDisplayLists(*Var(u"a")), LanguageError);
  EXPECT_EQ(Count(FakeGL::Calls(), NewList(b->Identity())), 0u);
  EXPECT_TRUE(G.DeferredCompiles.empty());
  EXPECT_FALSE(G.RedrawDeferred);
  EXPECT_EQ(b->RefCount, pinsBefore);
  EXPECT_EQ(Plane.Presents, 0);
}

// --- failing drawing code ------------------------------------------------------------------

TEST_F(SceneDeferralTest, FailingDrawingCodeIsReportedUnderTheMethodsFullName) {
  ASSERT_EQ(Run(u"make \"f []\r\nmake \"f.ondrawimage [testquad 0 0 1 2 3, nosuchprocedure]"), rrOk);
  TAtom* f = Var(u"f");
  S.ClearErrorTrace();
  TContext* frame = S.Frame();
  S.EventsSuspended = true;
  EXPECT_THROW(G.compileDisplayLists(*f), LanguageError);

  ASSERT_FALSE(S.ErrorTrace.empty());
  const TPosition& entry = S.ErrorTrace.back();
  EXPECT_EQ(entry.StartPos, 0);
  EXPECT_EQ(entry.EndPos, 14);  // "f.ondrawimage" and one
  EXPECT_TRUE(entry.SourceName.empty());
  EXPECT_EQ(U8(entry.SourceText), "f.ondrawimage");
  ASSERT_TRUE(TAtom::IsList(entry.Statement) && IsAtom(entry.Statement));
  EXPECT_EQ(U8(entry.Statement->Left->Text), "f.ondrawimage");
  EXPECT_EQ(entry.Statement->Right, nullptr);
  EXPECT_GE(entry.Statement->RefCount, 1);

  // The list is closed and kept with what was drawn before the error.
  EXPECT_FALSE(FakeGL::OpenList().has_value());
  EXPECT_TRUE(G.HasList(f));
  EXPECT_TRUE(FakeGL::HasList(f->Identity()));
  EXPECT_EQ(Count(FakeGL::ListCalls(f->Identity()), "glColor3ub(1, 2, 3)"), 1u);
  EXPECT_EQ(G.ListCompileDepth, 0);
  EXPECT_EQ(S.Frame(), frame);
  EXPECT_EQ(I.CodePointer, nullptr);
  EXPECT_TRUE(S.EventsSuspended);
  EXPECT_EQ(I.RunNesting, 0);
  S.ClearErrorTrace();
}

TEST_F(SceneDeferralTest, AnInterruptedRunGoesOnAfterFailingDrawingCode) {
  ASSERT_EQ(Run(u"make \"f []\r\nmake \"f.ondrawimage [testquad 0 0 1 2 3, nosuchprocedure]"), rrOk);
  struct Seen {
    TAtom* CodePointer;
    TContext* Frame;
    bool Events;
    int32_t Line;
    int32_t InterpretDepth;
  };
  std::optional<Seen> before, after;
  bool raised = false;
  Quad.OnHook = [&](const std::u16string&) {
    before = Seen{I.CodePointer, S.Frame(), S.EventsSuspended, S.CurrentPosition.Line, I.InterpretDepth};
    try {
      G.compileDisplayLists(*Var(u"f"));
    } catch (const LanguageError&) {
      raised = true;
    }
    after = Seen{I.CodePointer, S.Frame(), S.EventsSuspended, S.CurrentPosition.Line, I.InterpretDepth};
  };
  EXPECT_EQ(Run(u"testhook \"f\r\nmake \"after 1"), rrOk) << Output();
  EXPECT_TRUE(raised);
  ASSERT_TRUE(before && after);
  EXPECT_EQ(after->CodePointer, before->CodePointer);
  EXPECT_EQ(after->Frame, before->Frame);
  EXPECT_EQ(after->Events, before->Events);
  EXPECT_EQ(after->Line, before->Line);
  EXPECT_EQ(after->InterpretDepth, before->InterpretDepth);
  EXPECT_NE(Var(u"after"), nullptr);
}

TEST_F(SceneDeferralTest, AnUncaughtDrawingErrorEndsTheRunWithAReport) {
  ASSERT_EQ(Run(u"make \"f []\r\nmake \"f.ondrawimage [testquad 0 0 1 2 3, nosuchprocedure]"), rrOk);
  Quad.OnHook = [&](const std::u16string&) { G.compileDisplayLists(*Var(u"f")); };
  EXPECT_EQ(Run(u"testhook \"f\r\nmake \"after 1"), rrRunError);
  EXPECT_EQ(Var(u"after"), nullptr);
  EXPECT_EQ(T.Host.Dialogs.size(), 1u);
  EXPECT_TRUE(G.HasList(Var(u"f")));
}

// --- the redraw under re-entry and errors -------------------------------------------------------

TEST_F(SceneDeferralTest, ARedrawAskedForDuringTheRedrawRepeatsThePassOnce) {
  int requests = 0;
  Plane.OnPresent = [&] {
    if (requests++ == 0)
      for (int i = 0; i < 3; ++i) G.redrawScene();
  };
  G.redrawScene();
  EXPECT_EQ(Plane.Presents, 2);
  EXPECT_EQ(FakeGL::CountOf("glClear"), 2u);
  EXPECT_EQ(FakeGL::MatrixDepth(GL_MODELVIEW), 1);
  EXPECT_FALSE(G.InRedraw);
  EXPECT_FALSE(G.RedrawAgain);
}

TEST_F(SceneDeferralTest, AFailedPresentLeavesPaintingAndTheMatrixAsTheyWere) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.paintResume();
  S.EventsSuspended = false;
  Plane.ThrowOnPresent = true;
  EXPECT_THROW(G.redrawScene(), LanguageError);
  EXPECT_FALSE(G.PaintSuspended);
  EXPECT_FALSE(G.InRedraw);
  EXPECT_FALSE(S.EventsSuspended);
  EXPECT_EQ(FakeGL::MatrixDepth(GL_MODELVIEW), 1);
  EXPECT_EQ(FakeGL::Calls().back(), "glPopMatrix()");

  EXPECT_THROW(G.paintResume(), LanguageError);
  EXPECT_FALSE(G.InRegenerate);
  EXPECT_FALSE(S.EventsSuspended);
  EXPECT_FALSE(G.PaintSuspended);

  Plane.ThrowOnPresent = false;
  const int presents = Plane.Presents;
  G.redrawScene();
  EXPECT_EQ(Plane.Presents, presents + 1);
  EXPECT_EQ(FakeGL::MatrixDepth(GL_MODELVIEW), 1);
}

TEST_F(SceneDeferralTest, TheRedrawWaitsForAReadyPlaneAndForChangeHandlers) {
  struct Case {
    const char* What;
    std::function<void(SceneDeferralTest&, bool)> Set;
  };
  const Case cases[] = {
      {"not ready", [](SceneDeferralTest& t, bool on) { t.Plane.Ready = !on; }},
      {"no plane", [](SceneDeferralTest& t, bool on) { t.Plane.Exists = !on; }},
      {"paint suspended", [](SceneDeferralTest& t, bool on) { t.G.PaintSuspended = on; }},
      {"change handlers", [](SceneDeferralTest& t, bool on) { t.I.InChangeHandlers = on; }},
  };
  for (const Case& c : cases) {
    c.Set(*this, true);
    G.redrawScene();
    EXPECT_EQ(Plane.Presents, 0) << c.What;
    EXPECT_EQ(FakeGL::CountOf("glClear"), 0u) << c.What;
    c.Set(*this, false);
  }
  G.redrawScene();
  EXPECT_EQ(Plane.Presents, 1);
}

}  // namespace
