// Which variables own display lists, what those lists hold, drawing one
// object at once, deleting and recompiling subtrees, the list record the
// collector asks, and the GL error sites.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/Collector.h"
#include "graphics/Scene.h"
#include "tests/graphics/support/SceneFixture.h"

namespace {

using Calls = std::vector<std::string>;

std::string CallOf(const char* name, uint32_t id) { return std::string(name) + "(" + std::to_string(id) + ")"; }

// The calls of a list without the error reads.
Calls ListCallsOf(uint32_t id) {
  Calls calls;
  for (const std::string& call : FakeGL::ListCalls(id))
    if (call != "glGetError()") calls.push_back(call);
  return calls;
}

const Calls kRedQuadAtOrigin{"glColor3ub(255, 0, 0)",      "glBegin(GL_QUADS)",         "glVertex3f(-0.5, -0.5, 0)",
                             "glVertex3f(0.5, -0.5, 0)",   "glVertex3f(0.5, 0.5, 0)",   "glVertex3f(-0.5, 0.5, 0)",
                             "glEnd()"};

class SceneListsTest : public SceneTest {};

// --- who gets a list ---------------------------------------------------------------

struct NoListCase {
  const char* What;
  // Builds the scene; returns the variable that must not get a list.
  std::function<TAtom*(SceneListsTest&)> Make;
};

void PrintTo(const NoListCase& c, std::ostream* os) { *os << c.What; }

class NoListTest : public SceneListsTest, public ::testing::WithParamInterface<NoListCase> {};

// The value of a list written in a program.
TAtom* Code(SceneTest& t, std::u16string_view text) {
  EXPECT_EQ(t.Run(u"make \"code [" + std::u16string(text) + u"]"), rrOk);
  return t.Var(u"code")->Left;
}

TEST_P(NoListTest, GetsNoList) {
  TAtom* target = GetParam().Make(*this);
  ASSERT_NE(target, nullptr);
  FakeGL::ClearCalls();
  G.compileDisplayLists(*target);
  RecompileTree(G, target);
  EXPECT_FALSE(G.HasList(target));
  const Calls calls = FakeGL::Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "glNewList(" + std::to_string(target->Identity()) + ", GL_COMPILE)"),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Scene, NoListTest,
    ::testing::Values(
        NoListCase{"AnonymousRootValue",
                   [](SceneListsTest& t) {
                     TAtom* anonymous = t.S.CreateVariable(t.S.Root, u"[~]", true, nullptr);
                     t.S.CreateVariable(anonymous, u"ondrawimage", true, Code(t, u"testquad 0 0 1 1 1"));
                     return anonymous;
                   }},
        NoListCase{"NotDrawn",
                   [](SceneListsTest& t) {
                     TAtom* hidden = t.MakeQuadObject(u"h", 0, 0, 1, 1, 1);
                     TAtom::SetFlag(hidden, afNotDrawn, true);
                     return hidden;
                   }},
        NoListCase{"DrawingMethod",
                   [](SceneListsTest& t) {
                     t.MakeQuadObject(u"m", 0, 0, 1, 1, 1);
                     EXPECT_EQ(t.Run(u"make \"m.ondrawimage.ondrawimage [testquad 0 0 2 2 2]"), rrOk);
                     return t.Var(u"m.ondrawimage");
                   }},
        NoListCase{"ChangeHandler",
                   [](SceneListsTest& t) {
                     EXPECT_EQ(t.Run(u"make \"o []\r\nmake \"o.onchange []\r\n"
                                        u"make \"o.onchange.ondrawimage [testquad 0 0 2 2 2]"),
                               rrOk);
                     return t.Var(u"o.onchange");
                   }},
        NoListCase{"EmptyMethod",
                   [](SceneListsTest& t) {
                     EXPECT_EQ(t.Run(u"make \"e []\r\nmake \"e.ondrawimage []"), rrOk);
                     return t.Var(u"e");
                   }},
        NoListCase{"MethodWithoutCodeAndChildrenWithoutLists",
                   [](SceneListsTest& t) {
                     EXPECT_EQ(t.Run(u"make \"g []\r\nmake \"g.ondrawimage [[]]\r\nmake \"g.x 5"), rrOk);
                     return t.Var(u"g");
                   }},
        NoListCase{"NoMethod", [](SceneListsTest& t) {
                     EXPECT_EQ(t.Run(u"make \"p 5"), rrOk);
                     return t.Var(u"p");
                   }}),
    [](const ::testing::TestParamInfo<NoListCase>& info) { return std::string(info.param.What); });

TEST_F(SceneListsTest, DrawingCodeRunsInsideTheListInTheObjectsFrame) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  TContext* frame = S.Frame();
  G.compileDisplayLists(*a);
  EXPECT_TRUE(G.HasList(a));
  EXPECT_TRUE(FakeGL::HasList(a->Identity()));
  EXPECT_EQ(ListCallsOf(a->Identity()), kRedQuadAtOrigin);
  EXPECT_EQ(S.Frame(), frame);
  EXPECT_EQ(I.CodePointer, nullptr);
  EXPECT_FALSE(FakeGL::OpenList().has_value());
}

TEST_F(SceneListsTest, AMethodWithoutCodeCallsItsChildrensListsUnderTheirNames) {
  ASSERT_EQ(Run(u"make \"g []\r\nmake \"g.ondrawimage [[]]\r\n"
                u"make \"g.c1 []\r\nmake \"g.c1.ondrawimage [testquad 0 0 1 1 1]\r\n"
                u"make \"g.c2 []\r\nmake \"g.c2.ondrawimage [testquad 1 0 2 2 2]\r\nmake \"g.plain 7"),
            rrOk);
  RecompileTree(G, Var(u"g"));
  const uint32_t c1 = Id(u"g.c1");
  const uint32_t c2 = Id(u"g.c2");
  // The children (the newest first) before their parent.
  EXPECT_EQ(FakeGL::CallsExcept({"glGetError", "glColor3ub", "glBegin", "glVertex3f", "glEnd", "glPushName",
                                 "glCallList", "glPopName"}),
            (Calls{"glNewList(" + std::to_string(c2) + ", GL_COMPILE)", "glEndList()",
                   "glNewList(" + std::to_string(c1) + ", GL_COMPILE)", "glEndList()",
                   "glNewList(" + std::to_string(Id(u"g")) + ", GL_COMPILE)", "glEndList()"}));
  EXPECT_EQ(ListCallsOf(Id(u"g")), (Calls{CallOf("glPushName", c2), CallOf("glCallList", c2), "glPopName()",
                                          CallOf("glPushName", c1), CallOf("glCallList", c1), "glPopName()"}));
}

TEST_F(SceneListsTest, AChangedDrawableRebuildsItsAncestorsButNotTheRoot) {
  ASSERT_EQ(Run(u"make \"p []\r\nmake \"p.ondrawimage [[]]\r\n"
                u"make \"p.c []\r\nmake \"p.c.ondrawimage [testquad 0 0 1 1 1]"),
            rrOk);
  G.compileDisplayLists(*Var(u"p.c"));
  EXPECT_TRUE(G.HasList(Var(u"p.c")));
  EXPECT_TRUE(G.HasList(Var(u"p")));
  EXPECT_FALSE(G.HasList(S.Root));
  EXPECT_EQ(FakeGL::CountOf("glNewList"), 2u);
}

// --- drawing one object ----------------------------------------------------------------

TEST_F(SceneListsTest, DrawingAnObjectWithoutAListDrawsItDirectly) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  DrawImageNow(G, a);
  EXPECT_EQ(FakeGL::CallsExcept({"glGetError"}), kRedQuadAtOrigin);
  EXPECT_FALSE(G.HasList(a));
  EXPECT_TRUE(FakeGL::Lists().empty());
}

TEST_F(SceneListsTest, DrawingAnObjectWithAListCallsItUnderItsPickName) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  FakeGL::ClearCalls();
  DrawImageNow(G, a);
  EXPECT_EQ(FakeGL::CallsExcept({"glGetError"}),
            (Calls{CallOf("glPushName", a->Identity()), CallOf("glCallList", a->Identity()), "glPopName()"}));
}

TEST_F(SceneListsTest, NothingIsDrawnWhilePaintingIsSuspendedOrForAHiddenObject) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.PaintSuspended = true;
  DrawImageNow(G, a);
  G.compileDisplayLists(*a);
  G.PaintSuspended = false;
  TAtom::SetFlag(a, afNotDrawn, true);
  DrawImageNow(G, a);
  EXPECT_TRUE(FakeGL::Calls().empty());
}

TEST_F(SceneListsTest, AHiddenObjectKeepsItsListButTheRedrawSkipsIt) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  TAtom* b = MakeQuadObject(u"b", 1, 0, 0, 255, 0);
  G.paintResume();
  TAtom::SetFlag(a, afNotDrawn, true);
  FakeGL::ClearCalls();
  G.redrawScene();
  EXPECT_EQ(FakeGL::CountOf("glCallList"), 1u);
  const Calls calls = FakeGL::Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), CallOf("glCallList", b->Identity())), calls.end());
  EXPECT_TRUE(G.HasList(a));
  EXPECT_TRUE(FakeGL::HasList(a->Identity()));
}

// --- deleting and recompiling ----------------------------------------------------------------

TEST_F(SceneListsTest, DeletingListsFollowsDrawablesDownTheTree) {
  ASSERT_EQ(Run(u"make \"p []\r\nmake \"p.ondrawimage [[]]\r\n"
                u"make \"p.c []\r\nmake \"p.c.ondrawimage [testquad 0 0 1 1 1]\r\n"
                u"make \"p.q []\r\nmake \"p.q.r []\r\nmake \"p.q.r.ondrawimage [testquad 0 0 1 1 1]"),
            rrOk);
  RecompileTree(G, Var(u"p"));
  G.compileDisplayLists(*Var(u"p.q.r"));
  ASSERT_TRUE(G.HasList(Var(u"p.q.r")));
  G.deleteDisplayLists(*Var(u"p"));
  EXPECT_FALSE(G.HasList(Var(u"p")));
  EXPECT_FALSE(G.HasList(Var(u"p.c")));
  EXPECT_FALSE(FakeGL::HasList(Id(u"p.c")));
  // p.q has neither a list nor a method: the walk stops there.
  EXPECT_TRUE(G.HasList(Var(u"p.q.r")));
}

TEST_F(SceneListsTest, RecompilingDeletesTheOldListFirst) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  FakeGL::ClearCalls();
  RegenerateJustImage(G, a);
  const Calls calls = FakeGL::CallsExcept({"glGetError"});
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "glDeleteLists(" + std::to_string(a->Identity()) + ", 1)");
  EXPECT_EQ(calls[1], "glNewList(" + std::to_string(a->Identity()) + ", GL_COMPILE)");
  EXPECT_EQ(Plane.Presents, 0);
}

// --- the list record ---------------------------------------------------------------------

TEST_F(SceneListsTest, TheRecordAnswersWithoutAskingGL) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  FakeGL::ClearCalls();
  Plane.MakeCurrentCalls = 0;
  EXPECT_TRUE(G.isDisplayList(a->Identity()));
  EXPECT_FALSE(G.isDisplayList(Id(u"testquad")));
  G.deleteDisplayList(Id(u"testquad"));
  EXPECT_TRUE(FakeGL::Calls().empty());
  EXPECT_EQ(Plane.MakeCurrentCalls, 0);
  G.deleteDisplayList(a->Identity());
  EXPECT_EQ(FakeGL::Calls(), (Calls{"glDeleteLists(" + std::to_string(a->Identity()) + ", 1)"}));
  EXPECT_FALSE(G.isDisplayList(a->Identity()));
  EXPECT_EQ(a->Marks & amDisplayList, 0);
}

TEST_F(SceneListsTest, ANewBaseForgetsEveryListAndItsMark) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  ASSERT_NE(a->Marks & amDisplayList, 0);
  G.ForgetAllLists();
  EXPECT_FALSE(G.isDisplayList(a->Identity()));
  EXPECT_EQ(a->Marks & amDisplayList, 0);
}

TEST_F(SceneListsTest, AFreedDrawableLosesItsList) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  const uint32_t id = a->Identity();
  TAtom::Unlink(a);
  FakeGL::ClearCalls();
  S.AllocationCount = S.CollectorLimits.Threshold;
  CollectGarbage(I);
  ASSERT_EQ(S.AtomById(id), nullptr);
  EXPECT_FALSE(G.isDisplayList(id));
  EXPECT_FALSE(FakeGL::HasList(id));
  EXPECT_EQ(FakeGL::Calls(), (Calls{"glDeleteLists(" + std::to_string(id) + ", 1)"}));
}

TEST_F(SceneListsTest, FreeingAtomsWithoutListsMakesNoGLCall) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  const int64_t freeBefore = S.FreeCount;
  for (int i = 0; i < 100000; ++i) NewWord(S, u"garbage");
  FakeGL::ClearCalls();
  Plane.MakeCurrentCalls = 0;
  CollectGarbage(I);
  EXPECT_GE(S.FreeCount - freeBefore, 100000);
  EXPECT_TRUE(FakeGL::Calls().empty());
  EXPECT_EQ(Plane.MakeCurrentCalls, 0);
  EXPECT_TRUE(G.isDisplayList(a->Identity()));
}

// --- GL error sites ------------------------------------------------------------------------

struct ErrorSiteCase {
  const char* What;
  std::function<void(SceneListsTest&, TAtom& object)> Act;
  std::string Line;  // with "%n" for the object's name
};

void PrintTo(const ErrorSiteCase& c, std::ostream* os) { *os << c.What; }

class ErrorSiteTest : public SceneListsTest, public ::testing::WithParamInterface<ErrorSiteCase> {};

TEST_P(ErrorSiteTest, PrintsTheSiteAndTheBeginEndLine) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.compileDisplayLists(*a);
  FakeGL::QueueError(GL_INVALID_OPERATION);
  GetParam().Act(*this, *a);
  std::string expected = GetParam().Line;
  if (const size_t at = expected.find("%n"); at != std::string::npos)
    expected.replace(at, 2, std::to_string(a->Identity()));
  EXPECT_EQ(Output(), expected + "\nbegin-end=0");
}

INSTANTIATE_TEST_SUITE_P(
    Scene, ErrorSiteTest,
    ::testing::Values(
        ErrorSiteCase{"DrawImageNow", [](SceneListsTest& t, TAtom& a) { DrawImageNow(t.G, &a); },
                      "OpenGL Error 1282/201"},
        ErrorSiteCase{"DeleteBeforeCompile",
                      [](SceneListsTest& t, TAtom& a) { CompileDisplayList(t.G, &a, true); },
                      "OpenGL Error 1282/204 var=[a]"},
        ErrorSiteCase{"RecompileTree",
                      [](SceneListsTest& t, TAtom& a) { RecompileTree(t.G, &a); },
                      "OpenGL Error 1282/1969/%n"},
        ErrorSiteCase{"RedrawPush", [](SceneListsTest& t, TAtom&) { RedrawScene(t.G); },
                      "OpenGL Error 1282/d220"}),
    [](const ::testing::TestParamInfo<ErrorSiteCase>& info) { return std::string(info.param.What); });

}  // namespace
