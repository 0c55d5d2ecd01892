// The whole list of every drawing primitive, from its push to its pop: once
// with only the fields it needs and once with its style fields set (placed,
// translucent, wide, smooth, stippled, filled, lit and textured). The
// expected figures are worked out from the shapes' definitions.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "tests/graphics/support/GraphixFixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

CallList Join(std::initializer_list<CallList> parts) {
  CallList all;
  for (const CallList& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string Call(const char* name, std::initializer_list<double> args) {
  std::string text = std::string(name) + "(";
  for (const double a : args) {
    char number[32];
    std::snprintf(number, sizeof number, "%.9g", static_cast<double>(static_cast<float>(a)));
    text += (text.back() == '(' ? "" : ", ") + std::string(number);
  }
  return text + ")";
}
std::string V(double x, double y, double z) { return Call("glVertex3f", {x, y, z}); }
std::string N(double x, double y, double z) { return Call("glNormal3f", {x, y, z}); }
// The styled rows' texture: scale 2, turned by 90 degrees, so (u, v) maps
// to (-v / 2, u / 2).
std::string Tex(double u, double v) { return Call("glTexCoord2f", {-v / 2, u / 2}); }

// --- the frame's pieces -------------------------------------------------------------------

const CallList kEnter{"glPushMatrix()", "glEnable(GL_AUTO_NORMAL)", "glEnable(GL_NORMALIZE)"};
const CallList kNoPlacement{"glRotatef(0, 0, 0, 1)"};
const CallList kGreen{"glColor3ub(0, 255, 0)"};
const CallList kBlack{"glColor3ub(0, 0, 0)"};
const CallList kPointStyle{"glPointSize(3)", "glDisable(GL_BLEND)", "glDisable(GL_POINT_SMOOTH)"};
const CallList kLineStyle{"glLineWidth(1)",        "glShadeModel(GL_FLAT)",        "glDisable(GL_LINE_SMOOTH)",
                          "glDisable(GL_BLEND)",   "glDisable(GL_LINE_STIPPLE)",   "glDisable(GL_POLYGON_STIPPLE)"};
const CallList kOutlines{"glDisable(GL_BLEND)", "glShadeModel(GL_FLAT)", "glDisable(GL_LINE_SMOOTH)",
                         "glPolygonMode(GL_FRONT_AND_BACK, GL_LINE)"};
const CallList kExit{"glShadeModel(GL_FLAT)", "glDisable(GL_LINE_STIPPLE)", "glDisable(GL_POLYGON_STIPPLE)",
                     "glPopMatrix()"};
const CallList kSurface = Join({kEnter, kNoPlacement, kGreen, kPointStyle, kLineStyle, kOutlines});

// The style fields of the styled rows, and what they emit.
constexpr std::u16string_view kStyle =
    u"make \"o.center.x 1\nmake \"o.center.y 2\nmake \"o.center.z 3\nmake \"o.spin 30\n"
    u"make \"o.color.x 10\nmake \"o.color.y 20\nmake \"o.color.z 30\nmake \"o.color.#1 128\n"
    u"make \"o.width 2\nmake \"o.smooth \"true\nmake \"o.pattern \"Xo\nmake \"o.stipple 2\nmake \"o.mode 2\n"
    u"make \"o.light \"true\nmake \"o.light.bidirectional \"true\nmake \"o.texture.scale 2\n"
    u"make \"o.texture.spin 90\n";
const std::string kBlend = "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)";
const CallList kPlaced{"glTranslatef(1, 2, 3)", "glRotatef(30, 0, 0, 1)"};
const CallList kTranslucent{"glColor4ub(10, 20, 30, 128)"};
const CallList kWidePoints{"glPointSize(2)", "glEnable(GL_BLEND)", kBlend, "glDisable(GL_POINT_SMOOTH)"};
const CallList kStippledLines{"glLineWidth(2)",     "glShadeModel(GL_SMOOTH)",    "glDisable(GL_LINE_SMOOTH)",
                              "glEnable(GL_BLEND)", kBlend,                       "glEnable(GL_LINE_STIPPLE)",
                              "glLineStipple(2, 0x5555)"};
const CallList kFilledLitTextured{
    "glEnable(GL_BLEND)", kBlend, "glShadeModel(GL_SMOOTH)", "glDisable(GL_POLYGON_SMOOTH)",
    "glPolygonMode(GL_FRONT_AND_BACK, GL_FILL)", "glEnable(GL_LIGHTING)", "glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1)",
    "glEnable(GL_COLOR_MATERIAL)", "glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE)",
    "glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, [0 0 0 1])", "glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0)",
    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT)",
    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT)",
    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST)",
    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST)",
    "glTexImage2D(GL_TEXTURE_2D, 0, 4, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, 16 bytes)", "glEnable(GL_TEXTURE_2D)",
    "glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, 8448)"};  // GL_MODULATE: lit
const CallList kStyledSurface = Join({kEnter, kPlaced, kTranslucent, kWidePoints, kStippledLines, kFilledLitTextured});
const CallList kStyledExit{"glShadeModel(GL_FLAT)",     "glDisable(GL_LINE_STIPPLE)", "glDisable(GL_POLYGON_STIPPLE)",
                           "glMatrixMode(GL_TEXTURE)",  "glLoadIdentity()",           "glDisable(GL_TEXTURE_2D)",
                           "glMatrixMode(GL_MODELVIEW)", "glDisable(GL_LIGHTING)",    "glDisable(GL_COLOR_MATERIAL)",
                           "glPopMatrix()"};

// --- figures ---------------------------------------------------------------------------------

// The default ellipse: 33 vertices from 0 to 360 degrees, the closing edge
// hidden in outline mode.
CallList DefaultIsogon() {
  CallList c{N(0, 0, 1), "glBegin(GL_POLYGON)", "glEdgeFlag(255)"};
  for (int i = 0; i <= 32; ++i) {
    const double a = 2 * kPi * i / 32;
    c.push_back(i == 32 ? "glEdgeFlag(0)" : "glEdgeFlag(255)");
    c.push_back(V(std::cos(a), std::sin(a), 0));
  }
  c.push_back("glEnd()");
  return c;
}

// x = y^2 / r^2 with d = q^k / p up the upper half, mirrored below.
CallList DefaultParabola() {
  CallList c{"glBegin(GL_POLYGON)", "glEdgeFlag(255)", N(0, 0, 1), V(0, 0, 0)};
  const double q = std::pow(3200.0, 1.0 / 32);
  for (int i = 1; i <= 64; ++i) {
    const int k = i <= 32 ? i - 1 : 65 - i;
    const double d = std::pow(q, k) / 32;
    c.push_back(N(0, 0, 1));
    c.push_back(V(d * d, i <= 32 ? d : -d, 0));
  }
  c.push_back("glEnd()");
  return c;
}

CallList DefaultHyperbola() {
  CallList c;
  const double q = std::pow(3200.0, 1.0 / 32);
  for (const double sign : {1.0, -1.0}) {
    c.insert(c.end(), {"glBegin(GL_POLYGON)", N(0, 0, 1), "glEdgeFlag(255)"});
    for (int j = 1; j <= 64; ++j) {
      const double d = 3200 / std::pow(q, j - 1);
      if (j == 64) c.push_back("glEdgeFlag(0)");
      c.push_back(V((d - 1 / d) / 2, sign * (d + 1 / d) / 2, 0));
    }
    c.push_back("glEnd()");
  }
  return c;
}

// A face of the box: its normal, then each corner's surface coordinate and
// vertex.
struct Corner {
  double X, Y, Z, U, W;
};
CallList Face(const std::string& normal, std::initializer_list<Corner> corners) {
  CallList c{normal};
  for (const Corner& k : corners) {
    c.push_back(Tex(k.U, k.W));
    c.push_back(V(k.X, k.Y, k.Z));
  }
  return c;
}

// rx 1, ry 2, rz 3, normal -1: top, bottom, y = ry, y = 0, x = rx, x = 0.
CallList StyledCube() {
  return Join({{"glEdgeFlag(255)", "glBegin(GL_QUADS)"},
               Face(N(0, 0, -1), {{1, 2, 3, 1, 5}, {0, 2, 3, 0, 5}, {0, 0, 3, 0, 3}, {1, 0, 3, 1, 3}}),
               Face(N(0, 0, 1), {{0, 0, 0, 0, 3}, {0, 2, 0, 0, 5}, {1, 2, 0, 1, 5}, {1, 0, 0, 1, 3}}),
               Face(N(0, -1, 0), {{1, 2, 3, 3, 3}, {1, 2, 0, 3, 0}, {0, 2, 0, 4, 0}, {0, 2, 3, 4, 3}}),
               Face(N(0, 1, 0), {{0, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {1, 0, 3, 1, 3}, {0, 0, 3, 0, 3}}),
               Face(N(-1, 0, 0), {{1, 2, 3, 3, 3}, {1, 0, 3, 1, 3}, {1, 0, 0, 1, 0}, {1, 2, 0, 3, 0}}),
               Face(N(1, 0, 0), {{0, 0, 0, 6, 0}, {0, 0, 3, 6, 3}, {0, 2, 3, 4, 3}, {0, 2, 0, 4, 0}}),
               {"glEnd()"}});
}

// The unit cylinder: 33 stations round both caps and the straight wall.
CallList DefaultCylinder() {
  CallList bottom{N(0, 0, -1), "glBegin(GL_QUAD_STRIP)"}, top{N(0, 0, 1), "glBegin(GL_QUAD_STRIP)"},
      side{"glBegin(GL_QUAD_STRIP)"};
  for (int k = 0; k <= 32; ++k) {
    const double h = 2 * kPi * k / 32, x = std::cos(h), y = std::sin(h);
    bottom.insert(bottom.end(), {V(x, y, 0), V(0, 0, 0)});
    top.insert(top.end(), {V(x, y, 1), V(0, 0, 1)});
    side.insert(side.end(), {N(x, y, 0), V(x, y, 0), V(x, y, 1)});
  }
  return Join({{"glEdgeFlag(255)"}, bottom, {"glEnd()"}, top, {"glEnd()"}, side, {"glEnd()", N(0, 0, 1)}});
}

// A half cone (radius 1, height 2, precision 2, 0..180 degrees, closed
// through the axis) turned inside out: stations at 0, 90 and 180 degrees,
// chords of sqrt 2, the wall's slope atan 2.
CallList StyledCone() {
  const double r2 = std::sqrt(2.0), s5 = std::sqrt(5.0);
  const double s[] = {0, r2, 2 * r2};
  const double rim[][2] = {{1, 0}, {0, 1}, {-1, 0}};
  CallList bottom{N(0, 0, 1), "glBegin(GL_QUAD_STRIP)"}, top{N(0, 0, -1), "glBegin(GL_QUAD_STRIP)"},
      side{"glBegin(GL_QUAD_STRIP)"};
  for (int k = 0; k < 3; ++k) {
    const double x = rim[k][0], y = rim[k][1];
    bottom.insert(bottom.end(), {Tex(s[k], 0), V(x, y, 0), Tex(s[k], -1), V(0, 0, 0)});
    top.insert(top.end(), {Tex(s[k], 2), V(0, 0, 2), Tex(s[k], 3), V(0, 0, 2)});
    side.insert(side.end(), {Tex(s[k], 0), N(-2 / s5 * x, -2 / s5 * y, -1 / s5), V(x, y, 0), Tex(s[k], 2), V(0, 0, 2)});
  }
  // The faces through the axis: s1 = 2 sqrt 2 + 1, s2 = s1 + 1; the
  // outward normal of the cut is (0, -1, 0), here reversed.
  const double s1 = 2 * r2 + 1, s2 = s1 + 1;
  side.insert(side.end(), {Tex(s1, 0), N(0, 1, 0), V(0, 0, 0), Tex(s1, 2), V(0, 0, 2), Tex(s2, 0), N(0, 1, 0),
                           V(1, 0, 0), Tex(s2, 2), V(0, 0, 2), "glEnd()"});
  return Join({{"glEdgeFlag(255)"}, bottom, {"glEnd()"}, top, {"glEnd()"}, side, {N(0, 0, 1)}});
}

// A hollow half cylinder closed by its chord: only the wall and the flat
// face from 180 back to 0 degrees, whose normal faces away from the middle
// of the range.
CallList ChordCylinder() {
  CallList c{"glEdgeFlag(255)", "glBegin(GL_QUAD_STRIP)"};
  const double rim[][2] = {{1, 0}, {0, 1}, {-1, 0}};
  for (const auto& p : rim) c.insert(c.end(), {N(p[0], p[1], 0), V(p[0], p[1], 0), V(p[0], p[1], 1)});
  c.insert(c.end(), {N(0, -1, 0), V(1, 0, 0), V(1, 0, 1), "glEnd()"});
  return c;
}

// The sphere-band routine's strips: n slices, each from the polar angle t0
// to t1 in max(3, round((t1 - t0) n / pi)) steps.
CallList Bands(int n, double ns, double t1) {
  CallList c{Call("DrawSphereBands", {static_cast<double>(n), ns, 0, 2 * kPi, 0, t1})};
  const int m = std::max(3, static_cast<int>(std::lround(t1 * n / kPi)));
  for (int slice = 0; slice < n; ++slice) {
    c.push_back("glBegin(GL_QUAD_STRIP)");
    for (int step = 0; step <= m; ++step) {
      const double p = t1 * step / m;
      for (const int side : {slice, slice + 1}) {
        const double a = 2 * kPi * side / n;
        const double x = std::cos(a) * std::sin(p), y = std::sin(a) * std::sin(p), z = std::cos(p);
        c.insert(c.end(), {N(ns * x, ns * y, ns * z), Call("glTexCoord2f", {a / kPi, p / kPi}), V(x, y, z)});
      }
    }
    c.push_back("glEnd()");
  }
  return c;
}

constexpr std::u16string_view kSquare =
    u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#2.x 1\nmake \"o.points.#2.y 0\n"
    u"make \"o.points.#3.x 1\nmake \"o.points.#3.y 1\nmake \"o.points.#4.x 0\nmake \"o.points.#4.y 1\n";

CallList SquareLoop(const char* mode, const std::string& normal) {
  return {mode, "glEdgeFlag(255)", normal, V(0, 0, 0), normal, V(1, 0, 0), normal, V(1, 1, 0), normal, V(0, 1, 0),
          "glEnd()"};
}

// --- the table ----------------------------------------------------------------------------------

struct CallsCase {
  const char* What;
  const char16_t* Primitive;
  std::u16string Fields;
  bool Textured;  // o.texture gets a 2 x 2 texture value
  CallList Expected;
};

void PrintTo(const CallsCase& c, std::ostream* os) { *os << c.What; }

class DrawingCallsTest : public GraphixTest, public ::testing::WithParamInterface<CallsCase> {};

TEST_P(DrawingCallsTest, EmitsItsWholeList) {
  const CallsCase& c = GetParam();
  ASSERT_EQ(Run(u"make \"o []\n" + c.Fields + u"\nmake \"o.ondrawimage [[] dll.zavta." + c.Primitive + u"]"), rrOk)
      << Output();
  if (c.Textured) {
    TAtom* block = NewMemoryBlock(S, 4 + 16, TAtom::FreeMemoryBlock);
    auto* bytes = static_cast<uint8_t*>(block->Object());
    bytes[0] = 2;  // height, then width, little-endian
    bytes[1] = 0;
    bytes[2] = 2;
    bytes[3] = 0;
    Var(u"o.texture")->Left = block;
  }
  EXPECT_TRUE(CallsMatch(Compile(u"o"), c.Expected));
  EXPECT_EQ(Output(), "");
}

const std::u16string kStyled(kStyle);
const std::u16string kEnds = u"make \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\nmake \"o.final.y 0\n";
const std::u16string kStyledEnds =
    kStyled + u"make \"o.initial.x 1\nmake \"o.initial.y 1\nmake \"o.initial.z 1\nmake \"o.final.x 2\n"
              u"make \"o.final.y 3\nmake \"o.final.z 1\n";
const CallList kLinear = Join({kEnter, kBlack, kNoPlacement, kLineStyle});
const CallList kStyledLinear = Join({kEnter, kTranslucent, kPlaced, kStippledLines});
INSTANTIATE_TEST_SUITE_P(
    Graphix, DrawingCallsTest,
    ::testing::Values(
        CallsCase{"Point", u"DRAWPOINT", u"", false,
                  Join({kEnter, kBlack, kPointStyle, {"glBegin(GL_POINTS)", V(0, 0, 0), "glEnd()"}, kExit})},
        // A point is not placed and has no polygon style.
        CallsCase{"StyledPoint", u"DRAWPOINT", kStyled + u"make \"o.x 4\nmake \"o.y 5\nmake \"o.z 6", false,
                  Join({kEnter, kTranslucent, kWidePoints, {"glBegin(GL_POINTS)", V(4, 5, 6), "glEnd()"}, kExit})},
        CallsCase{"Segment", u"DRAWSEGMENT", kEnds, false,
                  Join({kLinear, {"glBegin(GL_LINES)", V(0, 0, 0), V(1, 0, 0), "glEnd()"}, kExit})},
        CallsCase{"StyledSegment", u"DRAWSEGMENT", kStyledEnds, false,
                  Join({kStyledLinear, {"glBegin(GL_LINES)", V(1, 1, 1), V(2, 3, 1), "glEnd()"}, kExit})},
        CallsCase{"Ray", u"DRAWRAY", kEnds, false,
                  Join({kLinear, {"glBegin(GL_LINES)", V(0, 0, 0), V(32000, 0, 0), "glEnd()"}, kExit})},
        // From (1, 1, 1) through (2, 3, 1): y reaches 32000 first.
        CallsCase{"StyledRay", u"DRAWRAY", kStyledEnds, false,
                  Join({kStyledLinear, {"glBegin(GL_LINES)", V(1, 1, 1), V(16000.5, 32000, 1), "glEnd()"}, kExit})},
        CallsCase{"Line", u"DRAWLINE", kEnds, false,
                  Join({kLinear, {"glBegin(GL_LINES)", V(-32000, 0, 0), V(32000, 0, 0), "glEnd()"}, kExit})},
        CallsCase{"StyledLine", u"DRAWLINE", kStyledEnds, false,
                  Join({kStyledLinear, {"glBegin(GL_LINES)", V(-15999.5, -32000, 1), V(16000.5, 32000, 1), "glEnd()"},
                        kExit})},
        CallsCase{"Isogon", u"DRAWISOGON", u"", false, Join({kSurface, DefaultIsogon(), kExit})},
        // A sector of the ellipse 2 x 3 from 90 to 270 degrees in four steps.
        CallsCase{"StyledIsogon", u"DRAWISOGON",
                  kStyled + u"make \"o.radiusx 2\nmake \"o.radiusy 3\nmake \"o.precision 4\nmake \"o.normal -1\n"
                            u"make \"o.range.fromangle 90\nmake \"o.range.toangle 270\nmake \"o.range.mode 2",
                  true,
                  Join({kStyledSurface,
                        {N(0, 0, -1), "glBegin(GL_TRIANGLE_FAN)", "glEdgeFlag(255)", "glTexCoord2f(0, 0)", V(0, 0, 0),
                         "glEdgeFlag(255)", Tex(0, 3), V(0, 3, 0), "glEdgeFlag(255)", Tex(-std::sqrt(2.0), 1.5 * std::sqrt(2.0)),
                         V(-std::sqrt(2.0), 1.5 * std::sqrt(2.0), 0), "glEdgeFlag(255)", Tex(-2, 0), V(-2, 0, 0),
                         "glEdgeFlag(255)", Tex(-std::sqrt(2.0), -1.5 * std::sqrt(2.0)),
                         V(-std::sqrt(2.0), -1.5 * std::sqrt(2.0), 0), "glEdgeFlag(255)", Tex(0, -3), V(0, -3, 0),
                         "glEnd()"},
                        kStyledExit})},
        CallsCase{"Parabola", u"DRAWPARABOLA", u"", false, Join({kSurface, DefaultParabola(), kExit})},
        // Precision 2, radius 2: d runs 1/2, sqrt 3200 / 2, then 1600 and
        // sqrt 3200 / 2 below.
        CallsCase{"StyledParabola", u"DRAWPARABOLA", kStyled + u"make \"o.radius 2\nmake \"o.precision 2\nmake \"o.normal -1",
                  true,
                  Join({kStyledSurface,
                        {"glBegin(GL_POLYGON)", "glEdgeFlag(255)", N(0, 0, -1), Tex(0, 0), V(0, 0, 0), N(0, 0, -1),
                         Tex(0.25, 1), V(0.25, 1, 0), N(0, 0, -1), Tex(800, std::sqrt(3200.0)),
                         V(800, std::sqrt(3200.0), 0), N(0, 0, -1), Tex(2560000, -3200), V(2560000, -3200, 0),
                         N(0, 0, -1), Tex(800, -std::sqrt(3200.0)), V(800, -std::sqrt(3200.0), 0), "glEnd()"},
                        kStyledExit})},
        CallsCase{"Hyperbola", u"DRAWHYPERBOLA", u"", false, Join({kSurface, DefaultHyperbola(), kExit})},
        // Precision 2, radii 2 and 3: d runs 3200, sqrt 3200, 1, 1 / sqrt 3200.
        CallsCase{"StyledHyperbola", u"DRAWHYPERBOLA",
                  kStyled + u"make \"o.radiusx 2\nmake \"o.radiusy 3\nmake \"o.precision 2\nmake \"o.normal -1", true,
                  [] {
                    CallList c = kStyledSurface;
                    const double r = std::sqrt(3200.0);
                    for (const double sign : {1.0, -1.0}) {
                      c.insert(c.end(), {"glBegin(GL_POLYGON)", N(0, 0, -1), "glEdgeFlag(255)"});
                      for (const double d : {3200.0, r, 1.0, 1 / r}) {
                        if (d == 1 / r) c.push_back("glEdgeFlag(0)");
                        const double x = d - 1 / d, y = sign * 1.5 * (d + 1 / d);
                        c.insert(c.end(), {Tex(x, y), V(x, y, 0)});
                      }
                      c.push_back("glEnd()");
                    }
                    return Join({c, kStyledExit});
                  }()},
        CallsCase{"Rectangle", u"DRAWRECTANGLE", u"", false,
                  Join({kSurface,
                        {"glBegin(GL_POLYGON)", N(0, 0, 1), "glEdgeFlag(255)", V(0, 0, 0), V(1, 0, 0), V(1, 1, 0),
                         V(0, 1, 0), "glEnd()"},
                        kExit})},
        CallsCase{"StyledRectangle", u"DRAWRECTANGLE",
                  kStyled + u"make \"o.radiusx 2\nmake \"o.radiusy 3\nmake \"o.normal -1", true,
                  Join({kStyledSurface,
                        {"glBegin(GL_POLYGON)", N(0, 0, -1), "glEdgeFlag(255)", Tex(0, 0), V(0, 0, 0), Tex(2, 0),
                         V(2, 0, 0), Tex(2, 3), V(2, 3, 0), Tex(0, 3), V(0, 3, 0), "glEnd()"},
                        kStyledExit})},
        CallsCase{"StyledCube", u"DRAWCUBE",
                  kStyled + u"make \"o.radiusx 1\nmake \"o.radiusy 2\nmake \"o.radiusz 3\nmake \"o.normal -1", true,
                  Join({kStyledSurface, StyledCube(), kStyledExit})},
        CallsCase{"Cylinder", u"DRAWCYLINDER", u"", false, Join({kSurface, DefaultCylinder(), kExit})},
        CallsCase{"StyledCone", u"DRAWCYLINDER",
                  kStyled + u"make \"o.radiusz 2\nmake \"o.ratio 0\nmake \"o.precision 2\nmake \"o.range.toangle 180\n"
                            u"make \"o.range.mode 2\nmake \"o.subnormal -1",
                  true, Join({kStyledSurface, StyledCone(), kStyledExit})},
        CallsCase{"HollowCylinderClosedByItsChord", u"DRAWCYLINDER",
                  u"make \"o.hollow \"true\nmake \"o.precision 2\nmake \"o.range.toangle 180\nmake \"o.range.mode 1", false,
                  Join({kSurface, ChordCylinder(), kExit})},
        CallsCase{"Sphere", u"DRAWSPHERE", u"", false,
                  Join({kSurface, {"glEdgeFlag(255)", "glScalef(1, 1, 1)"}, Bands(32, 1, kPi), kExit})},
        // The upper half of a 2 x 3 x 1 ellipsoid, inside out; the texture
        // matrix scales by the radii over the texture's scale.
        CallsCase{"StyledSphere", u"DRAWSPHERE",
                  kStyled + u"make \"o.radiusx 2\nmake \"o.radiusy 3\nmake \"o.radiusz 1\nmake \"o.precision 4\n"
                            u"make \"o.rangev.toangle 90\nmake \"o.normal -1",
                  true,
                  Join({kStyledSurface,
                        {"glEdgeFlag(255)", "glScalef(2, 3, 1)", "glMatrixMode(GL_TEXTURE)", "glLoadIdentity()",
                         "glScalef(1, 1.5, 1)", "glRotatef(90, 0, 0, 1)", "glMatrixMode(GL_MODELVIEW)"},
                        Bands(4, -1, kPi / 2), kStyledExit})},
        CallsCase{"Polygon", u"DRAWPOLYGON", std::u16string(kSquare), false,
                  Join({kSurface, SquareLoop("glBegin(GL_LINE_LOOP)", N(0, 0, -1)), kExit})},
        // A triangle: point 2 coloured, point 3 with its own normal; the
        // computed normals are reversed by normal -1.
        CallsCase{"StyledPolygon", u"DRAWPOLYGON",
                  kStyled + u"make \"o.normal -1\nmake \"o.points.#1.x 0\nmake \"o.points.#1.y 0\n"
                            u"make \"o.points.#2.x 2\nmake \"o.points.#2.y 0\nmake \"o.points.#2.color.x 1\n"
                            u"make \"o.points.#2.color.y 2\nmake \"o.points.#2.color.z 3\nmake \"o.points.#3.x 0\n"
                            u"make \"o.points.#3.y 2\nmake \"o.points.#3.normal.x 0\nmake \"o.points.#3.normal.y 0\n"
                            u"make \"o.points.#3.normal.z 5",
                  true,
                  Join({kStyledSurface,
                        {"glBegin(GL_POLYGON)", "glEdgeFlag(255)", N(0, 0, 1), Tex(0, 0), V(0, 0, 0),
                         "glColor4ub(1, 2, 3, 255)", N(0, 0, 1), Tex(2, 0), V(2, 0, 0), N(0, 0, 5), Tex(0, 2),
                         V(0, 2, 0), "glEnd()"},
                        kStyledExit})},
        CallsCase{"Quadril", u"DRAWQUADRIL", std::u16string(kSquare), false,
                  Join({kSurface, SquareLoop("glBegin(GL_LINE_LOOP)", N(0, 0, -1)), kExit})},
        // The texture covers it once, from the fixed corner coordinates.
        CallsCase{"StyledQuadril", u"DRAWQUADRIL",
                  kStyled + std::u16string(kSquare) + u"make \"o.normal -1\nmake \"o.points.#4.color.x 7\n"
                                                      u"make \"o.points.#4.color.y 8\nmake \"o.points.#4.color.z 9\n"
                                                      u"make \"o.points.#4.color.#1 10",
                  true,
                  Join({kStyledSurface,
                        {"glBegin(GL_POLYGON)", "glEdgeFlag(255)", N(0, 0, 1), Tex(1, 0), V(0, 0, 0), N(0, 0, 1),
                         Tex(1, 1), V(1, 0, 0), N(0, 0, 1), Tex(0, 1), V(1, 1, 0), "glColor4ub(7, 8, 9, 10)",
                         N(0, 0, 1), Tex(0, 0), V(0, 1, 0), "glEnd()"},
                        kStyledExit})}));

}  // namespace
