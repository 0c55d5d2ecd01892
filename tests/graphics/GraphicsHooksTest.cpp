// The graphics hooks as the core uses them: the plane's share of the reset,
// the route of calls with and without a context, the regeneration passes
// and the replay of plane events queued meanwhile.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/Scene.h"
#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/SceneFixture.h"

namespace {

using Calls = std::vector<std::string>;

class GraphicsHooksTest : public SceneTest {};

// --- the reset ------------------------------------------------------------------------------

TEST_F(GraphicsHooksTest, AResetRestoresThePlanesState) {
  for (const bool live : {true, false}) {
    SCOPED_TRACE(live ? "with a context" : "without a context");
    Plane.CanMakeCurrent = live;
    G.ClearColorSet = true;
    G.ClearColorR = G.ClearColorG = G.ClearColorB = G.ClearColorA = 0.25L;
    G.DoubleBuffered = false;
    G.PerspectiveProjection = false;
    G.FrameInterval = 40;
    const int resets = Plane.WindowResets;
    const int projections = Plane.Projections;
    FakeGL::ClearCalls();

    G.resetPlane();
    EXPECT_EQ(Plane.WindowResets, resets + 1);
    EXPECT_EQ(Plane.Backgrounds.back(), 0xFFFFFFu);
    EXPECT_FALSE(G.ClearColorSet);
    EXPECT_EQ(G.ClearColorR, 1.0L);
    EXPECT_EQ(G.ClearColorA, 1.0L);
    EXPECT_TRUE(G.DoubleBuffered);
    EXPECT_TRUE(G.PerspectiveProjection);
    EXPECT_EQ(G.FrameInterval, -1);
    EXPECT_EQ(Plane.Projections, projections + 1);
    const Calls expected = live ? Calls{"glDrawBuffer(GL_BACK)", "glEnable(GL_DEPTH_TEST)"} : Calls{};
    EXPECT_EQ(FakeGL::CallsExcept({"glGetError"}), expected);
  }
}

TEST_F(GraphicsHooksTest, AResetReportsAnErrorOfTheDrawBuffer) {
  FakeGL::QueueError(GL_INVALID_ENUM);
  G.resetPlane();
  EXPECT_EQ(Output(), "OpenGL Error 1280/m3391\nbegin-end=0");
  EXPECT_EQ(G.LastGLError, static_cast<uint32_t>(GL_INVALID_ENUM));
}

// --- the route of calls ----------------------------------------------------------------------

TEST_F(GraphicsHooksTest, WithoutAContextEveryCallGoesNowhereUntilTheEntryEnds) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  Plane.CanMakeCurrent = false;
  G.redrawScene();
  G.compileDisplayLists(*a);
  EXPECT_EQ(Plane.Presents, 1);
  EXPECT_TRUE(FakeGL::Calls().empty());
  // The route in force before the entry is back.
  gl().glFlush();
  EXPECT_EQ(FakeGL::Calls(), Calls{"glFlush()"});
}

TEST_F(GraphicsHooksTest, WithoutAPlaneNothingIsCompiledOrDrawn) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.setPlane(nullptr);
  G.compileDisplayLists(*a);
  G.redrawScene();
  G.paintResume();
  DrawImageNow(G, a);
  EXPECT_FALSE(G.HasList(a));
  EXPECT_EQ(Quad.Quads, 0);
  EXPECT_TRUE(FakeGL::Calls().empty());
}

// --- regeneration -------------------------------------------------------------------------------

TEST_F(GraphicsHooksTest, PaintResumeRecompilesEveryListAndRedrawsWithEventsSuspended) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  TAtom* b = MakeQuadObject(u"b", 1, 0, 0, 255, 0);
  bool suspendedWhileDrawing = false;
  Plane.OnPresent = [&] { suspendedWhileDrawing = S.EventsSuspended; };
  G.paintResume();
  EXPECT_TRUE(G.HasList(a));
  EXPECT_TRUE(G.HasList(b));
  EXPECT_EQ(Plane.Presents, 1);
  EXPECT_TRUE(suspendedWhileDrawing);
  EXPECT_FALSE(S.EventsSuspended);
  EXPECT_FALSE(G.InRegenerate);
}

TEST_F(GraphicsHooksTest, ARegenerationAskedForDuringOneRepeatsThePass) {
  ASSERT_EQ(Run(u"make \"a []\r\nmake \"a.ondrawimage [testquad 0 0 1 1 1, testhook \"again]"), rrOk);
  int asked = 0;
  Quad.OnHook = [&](const std::u16string&) {
    if (asked++ == 0) G.paintResume();
  };
  G.paintResume();
  EXPECT_EQ(Quad.Quads, 2);
  EXPECT_EQ(Plane.Presents, 2);
  EXPECT_FALSE(G.RegenerateAgain);
}

TEST_F(GraphicsHooksTest, ASingleBufferedPlaneIsNotRegenerated) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  G.DoubleBuffered = false;
  G.QueuedEvent = PlaneEvent{u"onmousedown", 0, 1, 2};
  G.paintResume();
  EXPECT_TRUE(FakeGL::Calls().empty());
  EXPECT_TRUE(Plane.Dispatched.empty());
}

TEST_F(GraphicsHooksTest, RegeneratingOneImageRecompilesItsSubtreeAndRedraws) {
  TAtom* a = MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  TAtom* b = MakeQuadObject(u"b", 1, 0, 0, 255, 0);
  RegenerateImage(G, a);
  EXPECT_TRUE(G.HasList(a));
  EXPECT_FALSE(G.HasList(b));
  EXPECT_EQ(Plane.Presents, 1);
  RegenerateJustImage(G, b);
  EXPECT_TRUE(G.HasList(b));
  EXPECT_EQ(Plane.Presents, 1);
}

// --- queued plane events --------------------------------------------------------------------------

TEST_F(GraphicsHooksTest, QueuedEventsAreReplayedOtherEventFirstAfterTheRegeneration) {
  G.QueuedMove = PlaneEvent{u"onmousemove", 0, 10, 20};
  G.QueuedEvent = PlaneEvent{u"onmousedown", 1, 30, 40};
  // A replayed event may queue new ones: they wait for the next replay.
  Plane.OnDispatch = [&](const PlaneEvent& event) {
    EXPECT_EQ(Plane.Presents, 1);
    if (event.Keyword == u"onmousedown") G.QueuedEvent = PlaneEvent{u"onmouseup", 0, 0, 0};
  };
  G.paintResume();
  ASSERT_EQ(Plane.Dispatched.size(), 2u);
  EXPECT_EQ(U8(Plane.Dispatched[0].Keyword), "onmousedown");
  EXPECT_EQ(Plane.Dispatched[0].Y, 30);
  EXPECT_EQ(Plane.Dispatched[0].X, 40);
  EXPECT_EQ(U8(Plane.Dispatched[1].Keyword), "onmousemove");
  EXPECT_FALSE(G.QueuedMove.has_value());
  ASSERT_TRUE(G.QueuedEvent.has_value());
  EXPECT_EQ(U8(G.QueuedEvent->Keyword), "onmouseup");
}

TEST_F(GraphicsHooksTest, EventsStayQueuedWhenTheRegenerationRunsInsideADrawingPass) {
  G.QueuedEvent = PlaneEvent{u"onmousedown", 1, 30, 40};
  S.EventsSuspended = true;
  G.paintResume();
  RegenerateImage(G, nullptr);
  EXPECT_TRUE(Plane.Dispatched.empty());
  EXPECT_TRUE(G.QueuedEvent.has_value());
  EXPECT_TRUE(S.EventsSuspended);
}

}  // namespace
