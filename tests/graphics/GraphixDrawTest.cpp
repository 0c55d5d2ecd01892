// What each drawing primitive emits: its figure with defaults and with its
// fields set, and the styles, placement and textures of the frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>

#include "graphics/GraphixLib.h"
#include "tests/graphics/support/GraphixFixture.h"

namespace {

class GraphixDrawTest : public GraphixTest {
public:
  // Makes o drawn by the primitive with the fields the text sets, and
  // answers its list's calls.
  CallList Draw(std::u16string_view primitive, std::u16string_view fields = u"") {
    EXPECT_EQ(Run(u"make \"o []\n" + std::u16string(fields) + u"\nmake \"o.ondrawimage [[] dll.zavta." +
                  std::u16string(primitive) + u"]"),
              rrOk)
        << Output();
    return Compile(u"o");
  }
  // A texture value: height, width, then the texels, in a block of the size given.
  void SetTexture(uint16_t width, uint16_t height, size_t size) {
    TAtom* block = NewMemoryBlock(S, size, TAtom::FreeMemoryBlock);
    auto* bytes = static_cast<uint8_t*>(block->Object());
    const uint8_t header[4] = {static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8),
                               static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8)};
    std::memcpy(bytes, header, std::min<size_t>(size, 4));  // a block may be too small for its header
    S.CreateVariable(Var(u"o"), u"texture", true, block);
  }
};

bool Has(const CallList& calls, const std::string& call) {
  return std::any_of(calls.begin(), calls.end(), [&](const std::string& c) { return SameCall(c, call); });
}

size_t CountOf(const CallList& calls, const std::string& name) {
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                           [&](const std::string& c) { return c.rfind(name + "(", 0) == 0; }));
}

// The figure: from the first glBegin to the last glEnd.
CallList Figure(const CallList& calls) {
  const auto begin = std::find_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("glBegin", 0) == 0; });
  const auto end = std::find(calls.rbegin(), calls.rend(), "glEnd()");
  if (begin == calls.end() || end == calls.rend()) return {};
  return CallList(begin, end.base());
}

constexpr std::u16string_view kSquare =
    u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#2.x 1\nmake \"o.points.#2.y 0\n"
    u"make \"o.points.#3.x 1\nmake \"o.points.#3.y 1\nmake \"o.points.#4.x 0\nmake \"o.points.#4.y 1\n";

// --- figures ---------------------------------------------------------------------------

struct FigureCase {
  const char* What;
  const char16_t* Primitive;
  std::u16string Fields;
  CallList Expected;  // the figure, glBegin to glEnd
};

void PrintTo(const FigureCase& c, std::ostream* os) { *os << c.What; }

class FigureTest : public GraphixDrawTest, public ::testing::WithParamInterface<FigureCase> {};

TEST_P(FigureTest, DrawsTheFigure) {
  const FigureCase& c = GetParam();
  EXPECT_TRUE(CallsMatch(Figure(Draw(c.Primitive, c.Fields)), c.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Graphix, FigureTest,
    ::testing::Values(
        FigureCase{"PointAtTheOriginIgnoringCenter",
                   u"DRAWPOINT",
                   u"make \"o.center.x 5\nmake \"o.center.y 5",
                   {"glBegin(GL_POINTS)", "glVertex3f(0, 0, 0)", "glEnd()"}},
        FigureCase{"Point", u"DRAWPOINT", u"make \"o.x 1\nmake \"o.y 2\nmake \"o.z 3",
                   {"glBegin(GL_POINTS)", "glVertex3f(1, 2, 3)", "glEnd()"}},
        FigureCase{"Segment",
                   u"DRAWSEGMENT",
                   u"make \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\nmake \"o.final.y 2\n"
                   u"make \"o.final.z 3",
                   {"glBegin(GL_LINES)", "glVertex3f(0, 0, 0)", "glVertex3f(1, 2, 3)", "glEnd()"}},
        FigureCase{"Ray",
                   u"DRAWRAY",
                   u"make \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\nmake \"o.final.y 0",
                   {"glBegin(GL_LINES)", "glVertex3f(0, 0, 0)", "glVertex3f(32000, 0, 0)", "glEnd()"}},
        FigureCase{"Line",
                   u"DRAWLINE",
                   u"make \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 2\nmake \"o.final.y 0\n"
                   u"make \"o.final.z 1",
                   {"glBegin(GL_LINES)", "glVertex3f(-32000, 0, -16000)", "glVertex3f(32000, 0, 16000)", "glEnd()"}},
        FigureCase{"LineThroughOnePoint",
                   u"DRAWLINE",
                   u"make \"o.initial.x 1\nmake \"o.initial.y 1\nmake \"o.final.x 1\nmake \"o.final.y 1",
                   {"glBegin(GL_LINES)", "glVertex3f(1, 1, 0)", "glVertex3f(1, 1, 0)", "glEnd()"}},
        FigureCase{"SquareIsogonHidesItsClosingEdge",
                   u"DRAWISOGON",
                   u"make \"o.precision 4",
                   {"glBegin(GL_POLYGON)", "glEdgeFlag(255)", "glEdgeFlag(255)", "glVertex3f(1, 0, 0)",
                    "glEdgeFlag(255)", "glVertex3f(0, 1, 0)", "glEdgeFlag(255)", "glVertex3f(-1, 0, 0)",
                    "glEdgeFlag(255)", "glVertex3f(0, -1, 0)", "glEdgeFlag(0)", "glVertex3f(1, 0, 0)", "glEnd()"}},
        FigureCase{"QuarterDiscIsAFan",
                   u"DRAWISOGON",
                   u"make \"o.precision 2\nmake \"o.range.toangle 90\nmake \"o.range.mode 2\nmake \"o.mode 2",
                   {"glBegin(GL_TRIANGLE_FAN)", "glEdgeFlag(255)", "glTexCoord2f(0, 0)", "glVertex3f(0, 0, 0)",
                    "glEdgeFlag(255)", "glVertex3f(1, 0, 0)", "glEdgeFlag(255)", "glVertex3f(0.707107, 0.707107, 0)",
                    "glEdgeFlag(255)", "glVertex3f(0, 1, 0)", "glEnd()"}},
        FigureCase{"RectangleFromTheCorner",
                   u"DRAWRECTANGLE",
                   u"make \"o.radiusx 2\nmake \"o.radiusy 1\nmake \"o.normal -1",
                   {"glBegin(GL_POLYGON)", "glNormal3f(0, 0, -1)", "glEdgeFlag(255)", "glVertex3f(0, 0, 0)",
                    "glVertex3f(2, 0, 0)", "glVertex3f(2, 1, 0)", "glVertex3f(0, 1, 0)", "glEnd()"}},
        FigureCase{"PolygonWithComputedNormals",
                   u"DRAWPOLYGON",
                   std::u16string(kSquare),
                   {"glBegin(GL_LINE_LOOP)", "glEdgeFlag(255)", "glNormal3f(0, 0, -1)", "glVertex3f(0, 0, 0)",
                    "glNormal3f(0, 0, -1)", "glVertex3f(1, 0, 0)", "glNormal3f(0, 0, -1)", "glVertex3f(1, 1, 0)",
                    "glNormal3f(0, 0, -1)", "glVertex3f(0, 1, 0)", "glEnd()"}},
        FigureCase{"PolygonPointsWithOwnNormalAndColour",
                   u"DRAWPOLYGON",
                   std::u16string(kSquare) +
                       u"make \"o.mode 0\nmake \"o.normal -1\nmake \"o.points.#2.normal.x 1\n"
                       u"make \"o.points.#2.normal.y 2\nmake \"o.points.#2.normal.z 3\nmake \"o.points.#3.color.x 1\n"
                       u"make \"o.points.#3.color.y 2\nmake \"o.points.#3.color.z 3\nmake \"o.points.#3.color.#1 4",
                   {"glBegin(GL_POINTS)", "glEdgeFlag(255)", "glNormal3f(0, 0, 1)", "glVertex3f(0, 0, 0)",
                    "glNormal3f(1, 2, 3)", "glVertex3f(1, 0, 0)", "glColor4ub(1, 2, 3, 4)", "glNormal3f(0, 0, 1)",
                    "glVertex3f(1, 1, 0)", "glNormal3f(0, 0, 1)", "glVertex3f(0, 1, 0)", "glEnd()"}},
        FigureCase{"QuadrilDrawsTheFirstFour",
                   u"DRAWQUADRIL",
                   std::u16string(kSquare) + u"make \"o.mode 2\nmake \"o.points.#5.x 9\nmake \"o.points.#5.y 9",
                   {"glBegin(GL_POLYGON)", "glEdgeFlag(255)", "glNormal3f(0, 0, -1)", "glVertex3f(0, 0, 0)",
                    "glNormal3f(0, 0, -1)", "glVertex3f(1, 0, 0)", "glNormal3f(0, 0, -1)", "glVertex3f(1, 1, 0)",
                    "glNormal3f(0, 0, -1)", "glVertex3f(0, 1, 0)", "glEnd()"}}));

TEST_F(GraphixDrawTest, ParabolaAndHyperbolaOfPrecisionTwo) {
  const CallList parabola = Figure(Draw(u"DRAWPARABOLA", u"make \"o.precision 2"));
  EXPECT_EQ(CountOf(parabola, "glVertex3f"), 5u);
  // d runs 1/2, sqrt(3200)/2, then mirrored 3200/2, sqrt(3200)/2.
  EXPECT_TRUE(Has(parabola, "glVertex3f(0.25, 0.5, 0)"));
  EXPECT_TRUE(Has(parabola, "glVertex3f(2560000, -1600, 0)"));
  const CallList hyperbola = Draw(u"DRAWHYPERBOLA", u"make \"o.precision 2");
  EXPECT_EQ(CountOf(hyperbola, "glBegin"), 2u);
  EXPECT_EQ(CountOf(hyperbola, "glVertex3f"), 8u);
  EXPECT_EQ(CountOf(hyperbola, "glEdgeFlag"), 4u);  // per branch: true at the start, false at the last vertex
  // The second vertex of each branch: d = sqrt(3200).
  EXPECT_TRUE(Has(hyperbola, "glVertex3f(28.2754324, 28.2931048, 0)"));
  EXPECT_TRUE(Has(hyperbola, "glVertex3f(28.2754324, -28.2931048, 0)"));
}

TEST_F(GraphixDrawTest, CubesHollowAndScaled) {
  const CallList hollow = Figure(Draw(u"DRAWCUBE", u"make \"o.hollow \"true\nmake \"o.radiusz 3"));
  EXPECT_EQ(CountOf(hollow, "glVertex3f"), 16u);
  EXPECT_EQ(CountOf(hollow, "glNormal3f"), 4u);
  EXPECT_TRUE(CallsMatch(CallList(hollow.begin(), hollow.begin() + 6),
                         {"glBegin(GL_QUADS)", "glNormal3f(0, 1, 0)", "glVertex3f(1, 1, 3)", "glVertex3f(1, 1, 0)",
                          "glVertex3f(0, 1, 0)", "glVertex3f(0, 1, 3)"}));
}

TEST_F(GraphixDrawTest, CylindersConesAndCutRanges) {
  const CallList cylinder = Draw(u"DRAWCYLINDER");
  EXPECT_EQ(CountOf(cylinder, "glBegin"), 3u);
  const CallList side = Figure(CallList(std::find(cylinder.rbegin(), cylinder.rend(), "glBegin(GL_QUAD_STRIP)").base() - 1,
                                        cylinder.end()));
  EXPECT_EQ(CountOf(side, "glVertex3f"), 66u);  // 33 stations, the last on the first
  EXPECT_TRUE(Has(side, "glNormal3f(1, 0, 0)"));  // ratio 1: a straight wall

  const CallList cone = Draw(u"DRAWCYLINDER", u"make \"o.ratio 0");
  EXPECT_TRUE(Has(cone, "glNormal3f(0.707107, 0, 0.707107)"));
  EXPECT_TRUE(Has(cone, "glVertex3f(0, 0, 1)"));

  const CallList half = Draw(u"DRAWCYLINDER", u"make \"o.range.toangle 180\nmake \"o.range.mode 1\nmake \"o.hollow \"true");
  EXPECT_TRUE(Has(half, "glNormal3f(0, -1, 0)"));  // the closing face
  const CallList axis = Draw(u"DRAWCYLINDER", u"make \"o.range.toangle 180\nmake \"o.range.mode 2\nmake \"o.hollow \"true");
  EXPECT_EQ(CountOf(Figure(axis), "glVertex3f"), 66u + 4u);
}

TEST_F(GraphixDrawTest, SpheresScaleTheUnitSphereAndCheckTheirRange) {
  const CallList sphere = Draw(u"DRAWSPHERE", u"make \"o.radiusx 2\nmake \"o.radiusy 3\nmake \"o.rangev.toangle 180");
  EXPECT_TRUE(Has(sphere, "glScalef(2, 3, 2)"));
  EXPECT_TRUE(Has(sphere, "DrawSphereBands(32, 1, 0, 6.28319, 0, 3.14159)"));
  const CallList inside = Draw(u"DRAWSPHERE", u"make \"o.subnormal -1\nmake \"o.rangev.toangle 90\nmake \"o.precision 4");
  EXPECT_TRUE(Has(inside, "DrawSphereBands(4, -1, 0, 6.28319, 0, 1.5708)"));
}

// --- styles, placement and textures ----------------------------------------------------------

TEST_F(GraphixDrawTest, ColoursWithAlphaBlend) {
  const CallList opaque = Draw(u"DRAWPOINT", u"make \"o.color.x 1\nmake \"o.color.y 2\nmake \"o.color.z 3\nmake \"o.color.#1 255");
  EXPECT_TRUE(Has(opaque, "glColor4ub(1, 2, 3, 255)"));
  EXPECT_FALSE(Has(opaque, "glEnable(GL_BLEND)"));
  const CallList translucent = Draw(u"DRAWPOINT", u"make \"o.color.x 1\nmake \"o.color.y 2\nmake \"o.color.z 3\nmake \"o.color.#1 128");
  EXPECT_TRUE(CallsMatch(CallsBetween(translucent, "glPointSize", "glDisable"),
                         {"glPointSize(3)", "glEnable(GL_BLEND)", "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)",
                          "glDisable(GL_POINT_SMOOTH)"}));
  const CallList smooth = Draw(u"DRAWPOINT", u"make \"o.antialias \"true\nmake \"o.width 5");
  EXPECT_TRUE(CallsMatch(CallsBetween(smooth, "glPointSize", "glBlendFunc"),
                         {"glPointSize(5)", "glEnable(GL_POINT_SMOOTH)", "glEnable(GL_BLEND)",
                          "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)"}));
}

TEST_F(GraphixDrawTest, LineStylesAndStipples) {
  const CallList xo = Draw(u"DRAWCUBE", u"make \"o.pattern \"Xo\nmake \"o.stipple 3\nmake \"o.width 2\nmake \"o.smooth \"true");
  EXPECT_TRUE(CallsMatch(CallsBetween(xo, "glLineWidth", "glLineStipple"),
                         {"glLineWidth(2)", "glShadeModel(GL_SMOOTH)", "glDisable(GL_LINE_SMOOTH)", "glDisable(GL_BLEND)",
                          "glEnable(GL_LINE_STIPPLE)", "glLineStipple(3, 0x5555)"}));
  EXPECT_TRUE(Has(Draw(u"DRAWCUBE", u"make \"o.pattern \"||"), "glLineStipple(1, 0xFFFF)"));
  const CallList rows = Draw(u"DRAWCUBE", u"make \"o.pattern [XXXX oooo Xo]");
  ASSERT_EQ(CountOf(rows, "glPolygonStipple"), 1u);
  // Rows 1, 2, 3 then again from the first: FFFFFFFF, 00000000, 55555555, FFFFFFFF ...
  const std::string mask = *std::find_if(rows.begin(), rows.end(), [](const std::string& c) { return c.rfind("glPolygonStipple", 0) == 0; });
  EXPECT_EQ(mask.substr(17, 32), "FFFFFFFF0000000055555555FFFFFFFF");
  EXPECT_TRUE(Has(rows, "glEnable(GL_POLYGON_STIPPLE)"));
  const CallList antialiased = Draw(u"DRAWSEGMENT", u"make \"o.antialias \"true\nmake \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\nmake \"o.final.y 0");
  EXPECT_TRUE(CallsMatch(CallsBetween(antialiased, "glLineWidth", "glDepthFunc"),
                         {"glLineWidth(1)", "glShadeModel(GL_FLAT)", "glEnable(GL_LINE_SMOOTH)", "glEnable(GL_BLEND)",
                          "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)", "glDepthFunc(GL_LEQUAL)"}));
}

TEST_F(GraphixDrawTest, PlacementByAffineCenterFocusAndSpin) {
  const CallList placed = Draw(u"DRAWCUBE",
                               u"make \"o.affine.p.x 1\nmake \"o.affine.p.y 2\nmake \"o.affine.x.x 1\nmake \"o.affine.x.y 0\n"
                               u"make \"o.affine.y.x 0\nmake \"o.affine.y.y 2\nmake \"o.center.x 3\nmake \"o.center.y 4\n"
                               u"make \"o.focus.x 0\nmake \"o.focus.y 0\nmake \"o.focus.z -1\nmake \"o.spin 30");
  EXPECT_TRUE(CallsMatch(CallsBetween(placed, "glTranslatef", "glColor3ub"),
                         {"glTranslatef(1, 2, 0)", "glMultMatrixf([1 0 0 0 0 2 0 0 0 0 0 0 0 0 0 1])",
                          "glTranslatef(3, 4, 0)", "glRotatef(-0, -0, 0, 0)", "glScalef(1, 1, -1)",
                          "glRotatef(30, 0, 0, 1)", "glColor3ub(0, 255, 0)"}));
  // A bad affine.p is skipped without a trace.
  const size_t traceLength = S.ErrorTrace.size();
  const CallList badOrigin = Draw(u"DRAWCUBE", u"make \"o.affine.p.x 1\nmake \"o.affine.x.x 1\nmake \"o.affine.x.y 0");
  EXPECT_TRUE(Has(badOrigin, "glMultMatrixf([1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1])"));
  EXPECT_FALSE(Has(badOrigin, "glTranslatef(1, 0, 0)"));
  EXPECT_EQ(S.ErrorTrace.size(), traceLength);
  const CallList tilted = Draw(u"DRAWCUBE", u"make \"o.focus.x 1\nmake \"o.focus.y 0\nmake \"o.focus.z 1");
  EXPECT_TRUE(Has(tilted, "glRotatef(45, -0, 1, 0)"));
}

TEST_F(GraphixDrawTest, LightingAndShininess) {
  const CallList lit = Draw(u"DRAWSPHERE", u"make \"o.mode 2\nmake \"o.light \"true");
  EXPECT_TRUE(CallsMatch(CallsBetween(lit, "glPolygonMode", "glMaterialf"),
                         {"glPolygonMode(GL_FRONT_AND_BACK, GL_FILL)", "glEnable(GL_LIGHTING)",
                          "glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0)", "glEnable(GL_COLOR_MATERIAL)",
                          "glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE)",
                          "glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, [0 0 0 1])",
                          "glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0)"}));
  EXPECT_TRUE(Has(lit, "glDisable(GL_LIGHTING)"));
  const CallList shiny = Draw(u"DRAWSPHERE", u"make \"o.mode 2\nmake \"o.light \"true\nmake \"o.light.bidirectional \"true\n"
                                             u"make \"o.shininess 20\nmake \"o.material.specular.#1 51");
  EXPECT_TRUE(CallsMatch(CallsBetween(shiny, "glLightModeli", "glMaterialfv"),
                         {"glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1)", "glEnable(GL_COLOR_MATERIAL)",
                          "glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20)",
                          "glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, [0.627451 0.627451 0.627451 0.2])"}));
}

TEST_F(GraphixDrawTest, TexturesBindOnlyWhenTheBlockHoldsTheirTexels) {
  ASSERT_EQ(Run(u"make \"o []\nmake \"o.mode 2\nmake \"o.texture.scale 2\nmake \"o.texture.spin 90\n"
                u"make \"o.ondrawimage [[] dll.zavta.DRAWRECTANGLE]"),
            rrOk);
  TAtom* scaleField = Var(u"o.texture");
  ASSERT_NE(scaleField, nullptr);
  // The texture's fields hang below the value's variable: keep them, set the value.
  SetTexture(2, 2, 4 + 16);
  TAtom* texture = Var(u"o")->FirstChild;
  ASSERT_TRUE(TAtom::IsMemoryBlock(texture->Left));
  scaleField->Left = texture->Left;
  TAtom::Unlink(texture);
  const CallList textured = Compile(u"o");
  EXPECT_TRUE(Has(textured, "glTexImage2D(GL_TEXTURE_2D, 0, 4, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, 16 bytes)"));
  EXPECT_TRUE(Has(textured, "glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, 8449)"));  // GL_DECAL, unlit
  // (1, 0) turned by 90 degrees and halved.
  EXPECT_TRUE(CallsMatch(CallsBetween(Figure(textured), "glTexCoord2f", "glVertex3f"), {"glTexCoord2f(0, 0)", "glVertex3f(0, 0, 0)"}));
  EXPECT_TRUE(Has(textured, "glTexCoord2f(0, 0.5)"));
  EXPECT_TRUE(CallsMatch(CallsBetween(textured, "glMatrixMode", "glMatrixMode"),
                         {"glMatrixMode(GL_TEXTURE)", "glLoadIdentity()", "glDisable(GL_TEXTURE_2D)",
                          "glMatrixMode(GL_MODELVIEW)"}));

  // A 256-byte block (a font value's size) claiming 64 x 64 texels.
  struct Bad {
    uint16_t Width, Height;
    size_t Size;
  };
  for (const Bad bad : {Bad{64, 64, 256}, Bad{0, 4, 256}, Bad{1, 1, 7}, Bad{2, 2, 3}}) {
    scaleField->Left = nullptr;
    SetTexture(bad.Width, bad.Height, bad.Size);
    TAtom* made = Var(u"o")->FirstChild;
    scaleField->Left = made->Left;
    TAtom::Unlink(made);
    const CallList calls = Compile(u"o");
    EXPECT_EQ(CountOf(calls, "glTexImage2D"), 0u) << bad.Width << "x" << bad.Height << " in " << bad.Size;
    EXPECT_EQ(CountOf(calls, "glTexCoord2f"), 0u);
  }
  ASSERT_EQ(Run(u"make \"o.texture [1 2]"), rrOk);
  EXPECT_EQ(CountOf(Compile(u"o"), "glTexImage2D"), 0u);
}

// glGetError inside glBegin/glEnd is itself an error.
TEST_F(GraphixDrawTest, NoPrimitiveChecksForErrorsInsideBeginEnd) {
  for (const char16_t* primitive : {u"DRAWPOINT", u"DRAWISOGON", u"DRAWPARABOLA", u"DRAWHYPERBOLA", u"DRAWRECTANGLE",
                                    u"DRAWCUBE", u"DRAWCYLINDER", u"DRAWSPHERE", u"DRAWPOLYGON", u"DRAWQUADRIL"}) {
    Draw(primitive, std::u16string(kSquare) + u"make \"o.mode 2\nmake \"o.light \"true");
    const CallList all = FakeGL::ListCalls(Var(u"o")->Identity());
    bool inside = false;
    for (const std::string& call : all) {
      if (call.rfind("glBegin", 0) == 0) inside = true;
      if (call == "glEnd()") inside = false;
      EXPECT_FALSE(inside && call == "glGetError()") << U8(primitive);
    }
    EXPECT_GT(CountOf(all, "glGetError"), 0u);
  }
}

}  // namespace
