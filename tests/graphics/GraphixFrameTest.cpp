// The drawing frame: which object a primitive draws, where its fields are
// found, the whole call sequence of a default drawing, and GL errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "graphics/GraphixLib.h"
#include "tests/graphics/support/GraphixFixture.h"

namespace {

// A cube with no fields set, from the push to the pop.
const CallList kDefaultCube{
    "glPushMatrix()", "glEnable(GL_AUTO_NORMAL)", "glEnable(GL_NORMALIZE)", "glRotatef(0, 0, 0, 1)",
    "glColor3ub(0, 255, 0)", "glPointSize(3)", "glDisable(GL_BLEND)", "glDisable(GL_POINT_SMOOTH)", "glLineWidth(1)",
    "glShadeModel(GL_FLAT)", "glDisable(GL_LINE_SMOOTH)", "glDisable(GL_BLEND)", "glDisable(GL_LINE_STIPPLE)",
    "glDisable(GL_POLYGON_STIPPLE)", "glDisable(GL_BLEND)", "glShadeModel(GL_FLAT)", "glDisable(GL_LINE_SMOOTH)",
    "glPolygonMode(GL_FRONT_AND_BACK, GL_LINE)", "glEdgeFlag(255)", "glBegin(GL_QUADS)",
    // top, bottom, y = 1, y = 0, x = 1, x = 0
    "glNormal3f(0, 0, 1)", "glVertex3f(1, 1, 1)", "glVertex3f(0, 1, 1)", "glVertex3f(0, 0, 1)", "glVertex3f(1, 0, 1)",
    "glNormal3f(0, 0, -1)", "glVertex3f(0, 0, 0)", "glVertex3f(0, 1, 0)", "glVertex3f(1, 1, 0)", "glVertex3f(1, 0, 0)",
    "glNormal3f(0, 1, 0)", "glVertex3f(1, 1, 1)", "glVertex3f(1, 1, 0)", "glVertex3f(0, 1, 0)", "glVertex3f(0, 1, 1)",
    "glNormal3f(0, -1, 0)", "glVertex3f(0, 0, 0)", "glVertex3f(1, 0, 0)", "glVertex3f(1, 0, 1)", "glVertex3f(0, 0, 1)",
    "glNormal3f(1, 0, 0)", "glVertex3f(1, 1, 1)", "glVertex3f(1, 0, 1)", "glVertex3f(1, 0, 0)", "glVertex3f(1, 1, 0)",
    "glNormal3f(-1, 0, 0)", "glVertex3f(0, 0, 0)", "glVertex3f(0, 0, 1)", "glVertex3f(0, 1, 1)", "glVertex3f(0, 1, 0)",
    "glEnd()", "glShadeModel(GL_FLAT)", "glDisable(GL_LINE_STIPPLE)", "glDisable(GL_POLYGON_STIPPLE)",
    "glPopMatrix()"};

// The first vertex of the cube's top face: (rx, ry, rz).
std::string TopCorner(const CallList& calls) {
  const auto top = std::find(calls.begin(), calls.end(), "glNormal3f(0, 0, 1)");
  return top != calls.end() && top + 1 != calls.end() ? *(top + 1) : "";
}

class GraphixFrameTest : public GraphixTest {};

TEST_F(GraphixFrameTest, ADefaultCubeDrawsTheWholeFrame) {
  ASSERT_EQ(Run(u"make \"box []\nmake \"box.ondrawimage [[] dll.zavta.DRAWCUBE]"), rrOk) << Output();
  EXPECT_TRUE(CallsMatch(Compile(u"box"), kDefaultCube));
}

TEST_F(GraphixFrameTest, ACopiedSphereScalesByItsRadiusAndPrototypesHaveNoList) {
  ASSERT_EQ(Run(u"make \"b sphere\nmake \"b.radius 2"), rrOk) << Output();
  const CallList calls = Compile(u"b");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "glScalef(2, 2, 2)"), calls.end());
  for (const char16_t* prototype : {u"point", u"segment", u"ray", u"line", u"isogon", u"parabola", u"hyperbola",
                                    u"rectangle", u"cube", u"cylinder", u"sphere", u"polygon", u"quadril"}) {
    TAtom* atom = Var(prototype);
    ASSERT_NE(atom, nullptr) << U8(prototype);
    G.compileDisplayLists(*atom);
    EXPECT_FALSE(G.HasList(atom)) << U8(prototype);
    EXPECT_TRUE(TAtom::HasFlag(atom, afNotDrawn)) << U8(prototype);
  }
  EXPECT_FALSE(TAtom::HasFlag(Var(u"b"), afNotDrawn));
}

TEST_F(GraphixFrameTest, GraphixLoadsAndWorksWithoutLogo) {
  ASSERT_TRUE(ResetWithLibraries({u"Graphix.zav"})) << Output();
  EXPECT_EQ(Var(u"sum"), nullptr);
  ASSERT_EQ(Run(u"make \"b sphere\nmake \"b.radius 2"), rrOk) << Output();
  const CallList calls = Compile(u"b");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "glScalef(2, 2, 2)"), calls.end());
  EXPECT_EQ(Run(u"make \"c []\nmake \"c.x 1\nmake \"c.y 2\nmake \"c.z 3\nclearcolor :c\n"
                u"addclipplane 1 0 0 1 0\nremoveclipplane 1\nfog\nflush\nenabledepthtest\ndisabledepthtest\n"
                u"cullbackfaces\ncullfrontfaces\ncullnofaces\nstopopenglrecording"),
            rrOk)
      << Output();
  EXPECT_TRUE(G.ClearColorSet);
}

// The object is found only when the token stands in its own ondrawimage
// body; through a procedure the fields are not found; at top level the
// root is drawn.
TEST_F(GraphixFrameTest, ThePrimitiveDrawsTheObjectWhoseBodyHoldsTheToken) {
  ASSERT_EQ(Run(u"make \"a []\nmake \"a.radius 3\nmake \"a.ondrawimage [[] dll.zavta.DRAWCUBE]\n"
                u"to wrapped\noutput dll.zavta.DRAWCUBE\nend\n"
                u"make \"w []\nmake \"w.radius 3\nmake \"w.ondrawimage [[] wrapped]"),
            rrOk)
      << Output();
  EXPECT_EQ(TopCorner(Compile(u"a")), "glVertex3f(3, 3, 3)");
  EXPECT_EQ(TopCorner(Compile(u"w")), "glVertex3f(1, 1, 1)");
  ASSERT_EQ(Run(u"make \"radius 4"), rrOk);
  EXPECT_EQ(TopCorner(CallsOf(u"dll.zavta.DRAWCUBE")), "glVertex3f(4, 4, 4)");
}

// A calling frame entered on an ondrawimage method stands for its object:
// an ask inside an ask on "a.ondrawimage" calls the primitive from that
// frame, as an ask inside an ask on "a" does.
TEST_F(GraphixFrameTest, ACallingFrameOnTheDrawingMethodDrawsItsObject) {
  ASSERT_EQ(Run(u"make \"a []\nmake \"a.radius 3\nmake \"a.ondrawimage [[] dll.zavta.DRAWCUBE]\nmake \"x []"), rrOk)
      << Output();
  EXPECT_EQ(TopCorner(CallsOf(u"ask \"a.ondrawimage [ask \"x [dll.zavta.DRAWCUBE]]")), "glVertex3f(3, 3, 3)")
      << Output();
  EXPECT_EQ(TopCorner(CallsOf(u"ask \"a [ask \"x [dll.zavta.DRAWCUBE]]")), "glVertex3f(3, 3, 3)") << Output();
}

TEST_F(GraphixFrameTest, FieldsComeFromTheObjectThenItsAncestorsAndTheGlobals) {
  ASSERT_EQ(Run(u"make \"color []\nmake \"color.x 1\nmake \"color.y 2\nmake \"color.z 3\n"
                u"make \"group []\nmake \"group.radiusx 5\n"
                u"make \"group.inner []\nmake \"group.inner.ondrawimage [[] dll.zavta.DRAWCUBE]\n"
                u"make \"own []\nmake \"own.color []\nmake \"own.color.x 9\nmake \"own.color.y 8\n"
                u"make \"own.color.z 7\nmake \"own.ondrawimage [[] dll.zavta.DRAWCUBE]"),
            rrOk)
      << Output();
  const CallList inner = Compile(u"group.inner");
  EXPECT_NE(std::find(inner.begin(), inner.end(), "glColor4ub(1, 2, 3, 255)"), inner.end());
  EXPECT_EQ(TopCorner(inner), "glVertex3f(5, 5, 5)");
  const CallList own = Compile(u"own");
  EXPECT_NE(std::find(own.begin(), own.end(), "glColor4ub(9, 8, 7, 255)"), own.end());
}

TEST_F(GraphixFrameTest, ATranslatedKeywordRenamesTheField) {
  S.Language.Texts[u"RADIUS"] = u"rayon";
  S.LoadKeywords();
  ASSERT_EQ(Run(u"make \"box []\nmake \"box.rayon 2\nmake \"box.radius 7\n"
                u"make \"box.ondrawimage [[] dll.zavta.DRAWCUBE]"),
            rrOk)
      << Output();
  EXPECT_EQ(TopCorner(Compile(u"box")), "glVertex3f(2, 2, 2)");
}

// A GL error is printed with its site and drawing goes on.
TEST_F(GraphixFrameTest, AnInjectedErrorIsPrintedWithItsSiteAndDrawingGoesOn) {
  ASSERT_EQ(Run(u"make \"box []\nmake \"box.ondrawimage [[] dll.zavta.DRAWCUBE]\n"
                u"make \"c []\nmake \"c.center []\nmake \"c.center.x 1\nmake \"c.center.y 0\n"
                u"make \"c.ondrawimage [[] dll.zavta.DRAWCUBE]"),
            rrOk);
  // The compile checks twice before the drawing code runs ("gl2", 209);
  // then the cube's: EnterProc-502, Orient-190, ColorDef-202, 10501, 107,
  // 106, 10701, 10702, 135, 121, then 140.
  ClearOutput();
  FakeGL::ClearCalls();
  FakeGL::FailAtCheck(13, GL_INVALID_OPERATION);
  TAtom* box = Var(u"box");
  G.compileDisplayLists(*box);
  EXPECT_EQ(Output(), "OpenGL Error 1282/140\nbegin-end=0");
  EXPECT_TRUE(CallsMatch(WithoutErrorChecks(FakeGL::ListCalls(box->Identity())), kDefaultCube));

  ClearOutput();
  FakeGL::FailAtCheck(4, GL_INVALID_OPERATION);
  const CallList calls = Compile(u"c");
  EXPECT_EQ(Output(), "OpenGL Error 1282/Orient-179\nbegin-end=0");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "glEnd()"), calls.end());
}

// --- pure helpers -------------------------------------------------------------------

TEST(StipplePatternBits, EvenCodesAreOnesFromTheSecondCharacter) {
  EXPECT_EQ(StipplePatternBits(u"Xo", 16, 1252), 0x5555u);
  EXPECT_EQ(StipplePatternBits(u"", 16, 1252), 0x5555u);
  EXPECT_EQ(StipplePatternBits(u"XXXX", 16, 1252), 0xFFFFu);
  EXPECT_EQ(StipplePatternBits(u"oooo", 32, 1252), 0u);
  // Outside the code page a character counts as "?" (odd).
  EXPECT_EQ(StipplePatternBits(u"\u4E00X", 16, 1252), StipplePatternBits(u"?X", 16, 1252));
}

TEST(FarPoint, MovesAlongTheLineToTheNearestFace) {
  struct Case {
    Point3 P, A, Expected;
  };
  const Case cases[] = {
      {{1, 0, 0}, {0, 0, 0}, {32000, 0, 0}},
      {{2, 0, 1}, {0, 0, 0}, {32000, 0, 16000}},
      {{0, 0, 0}, {2, 0, 1}, {-32000, 0, -16000}},
      {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}},
      {{0, -1, 0}, {0, 1, 0}, {0, -32000, 0}},
  };
  for (const Case& c : cases) {
    const Point3 r = FarPoint(c.P, c.A);
    EXPECT_NEAR(static_cast<double>(r.X), static_cast<double>(c.Expected.X), 1e-9);
    EXPECT_NEAR(static_cast<double>(r.Y), static_cast<double>(c.Expected.Y), 1e-9);
    EXPECT_NEAR(static_cast<double>(r.Z), static_cast<double>(c.Expected.Z), 1e-9);
  }
}

}  // namespace
