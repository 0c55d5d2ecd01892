// Every field error of the drawing primitives, raised or suppressed: the
// matrix stack and the frames stay balanced, the styles are reset and
// nothing is drawn after the error.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "core/Exports.h"
#include "core/Text.h"
#include "graphics/GraphixLib.h"
#include "tests/graphics/support/GraphixFixture.h"

namespace {

struct ErrorCase {
  const char* Key;          // the message raised
  const char16_t* Primitive;
  const char16_t* Fields;   // program text setting the fields of o
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.Key; }

size_t Count(const CallList& calls, const std::string& name) {
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
    return call.compare(0, name.size() + 1, name + "(") == 0;
  }));
}

// The checks every error case makes of the calls it issued.
void ExpectBalancedAndNothingDrawn(const CallList& calls) {
  EXPECT_EQ(Count(calls, "glPushMatrix"), Count(calls, "glPopMatrix"));
  EXPECT_EQ(Count(calls, "glBegin"), 0u);
  EXPECT_EQ(Count(calls, "glVertex3f"), 0u);
  EXPECT_EQ(Count(calls, "DrawSphereBands"), 0u);
  // ResetStyles ran (switching lighting off when it was on), then the
  // matrix was popped.
  const CallList reset{"glShadeModel(GL_FLAT)", "glDisable(GL_LINE_STIPPLE)", "glDisable(GL_POLYGON_STIPPLE)"};
  const auto start = std::find_end(calls.begin(), calls.end(), reset.begin(), reset.end());
  ASSERT_NE(start, calls.end());
  CallList expected = reset;
  if (std::find(calls.begin(), calls.end(), "glEnable(GL_LIGHTING)") != calls.end())
    expected.insert(expected.end(), {"glDisable(GL_LIGHTING)", "glDisable(GL_COLOR_MATERIAL)"});
  expected.push_back("glPopMatrix()");
  EXPECT_TRUE(CallsMatch(CallList(start, calls.end()), expected));
}

class GraphixErrorTest : public GraphixTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(GraphixErrorTest, RaisesTheKeyAndLeavesEverythingBalanced) {
  const ErrorCase& c = GetParam();
  ASSERT_EQ(Run(u"make \"o []\n" + std::u16string(c.Fields) + u"\nmake \"o.ondrawimage [[] dll.zavta." +
                c.Primitive + u"]"),
            rrOk)
      << Output();
  const TContext* frameBefore = S.Frame();
  FakeGL::ClearCalls();
  bool raised = false;
  try {
    G.compileDisplayLists(*Var(u"o"));
  } catch (const LanguageError& error) {
    raised = true;
    EXPECT_EQ(U8(error.Message()), c.Key);
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(S.Frame(), frameBefore);
  EXPECT_EQ(FakeGL::MatrixDepth(GL_MODELVIEW), 1);
  CallList calls = WithoutErrorChecks(FakeGL::Calls());
  calls.erase(std::remove_if(calls.begin(), calls.end(),
                             [](const std::string& call) {
                               return call.rfind("glNewList", 0) == 0 || call.rfind("glEndList", 0) == 0 ||
                                      call.rfind("glIsList", 0) == 0;
                             }),
              calls.end());
  ExpectBalancedAndNothingDrawn(calls);
}

const char16_t* const kThreePoints =
    u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#2.x 1\nmake \"o.points.#2.y 0\n"
    u"make \"o.points.#3.x 1\nmake \"o.points.#3.y 1\n";

INSTANTIATE_TEST_SUITE_P(
    Graphix, GraphixErrorTest,
    ::testing::Values(
        ErrorCase{"colordef", u"DRAWCUBE", u"make \"o.color.x 256\nmake \"o.color.y 0\nmake \"o.color.z 0"},
        ErrorCase{"colordef", u"DRAWCUBE",
                  u"make \"o.color.x 0\nmake \"o.color.y 0\nmake \"o.color.z 0\nmake \"o.color.#1 256"},
        ErrorCase{"getfloat", u"DRAWCUBE", u"make \"o.color.x 1\nmake \"o.color.y 0"},
        ErrorCase{"getfloat", u"DRAWCUBE", u"make \"o.center.x 1"},
        ErrorCase{"PointStyle", u"DRAWPOINT", u"make \"o.width 0.5"},
        ErrorCase{"LineStyle", u"DRAWSEGMENT", u"make \"o.width 0.5\nmake \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\nmake \"o.final.y 1"},
        ErrorCase{"linestyle-stipple", u"DRAWCUBE", u"make \"o.stipple 0"},
        ErrorCase{"linestyle-stipple", u"DRAWCUBE", u"make \"o.stipple 256"},
        ErrorCase{"linestyle-pattern-01", u"DRAWCUBE", u"make \"o.pattern []"},
        ErrorCase{"linestyle-pattern-02", u"DRAWCUBE", u"make \"o.pattern [Xo [X] Xo]"},
        ErrorCase{"polystyle-precision", u"DRAWISOGON", u"make \"o.precision 1"},
        ErrorCase{"polystyle-precision", u"DRAWISOGON", u"make \"o.precision 256"},
        ErrorCase{"polystyle-mode", u"DRAWISOGON", u"make \"o.mode 3"},
        ErrorCase{"polystyle-range", u"DRAWCYLINDER", u"make \"o.range.mode 3"},
        ErrorCase{"polystyle-shininess", u"DRAWSPHERE",
                  u"make \"o.mode 2\nmake \"o.light \"true\nmake \"o.shininess 129"},
        ErrorCase{"polystyle-specular", u"DRAWSPHERE",
                  u"make \"o.mode 2\nmake \"o.light \"true\nmake \"o.shininess 9\nmake \"o.material.specular.x 300"},
        ErrorCase{"drawlinear-1", u"DRAWRAY", u"make \"o.final.x 1\nmake \"o.final.y 1"},
        ErrorCase{"drawlinear-2", u"DRAWLINE", u"make \"o.initial.x 1\nmake \"o.initial.y 1"},
        ErrorCase{"sphere-rangev", u"DRAWSPHERE", u"make \"o.rangev.toangle 190"},
        ErrorCase{"sphere-rangev", u"DRAWSPHERE", u"make \"o.rangev.fromangle -1"},
        ErrorCase{"polygon-points", u"DRAWPOLYGON", u"make \"o.points.#1.x 0\nmake \"o.points.#2.x 0"},
        ErrorCase{"polygon-count", u"DRAWPOLYGON",
                  u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#2.x 1\nmake \"o.points.#2.y 0\n"
                  u"make \"o.points.#4.x 1\nmake \"o.points.#4.y 1"},
        ErrorCase{"polygon-count", u"DRAWPOLYGON", u"make \"o.points []"},
        ErrorCase{"quadrille-count", u"DRAWQUADRIL", kThreePoints},
        ErrorCase{"polygon-points-color", u"DRAWPOLYGON",
                  u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#2.x 1\nmake \"o.points.#2.y 0\n"
                  u"make \"o.points.#3.x 1\nmake \"o.points.#3.y 1\nmake \"o.points.#3.color.x 300\n"
                  u"make \"o.points.#3.color.y 0\nmake \"o.points.#3.color.z 0"},
        ErrorCase{"first", u"DRAWQUADRIL",
                  u"make \"o.points.#1.x 0\nmake \"o.points.#1.y 0\nmake \"o.points.#1.color.x 3"},
        ErrorCase{"Not a boolean", u"DRAWCUBE", u"make \"o.hollow 7"},
        ErrorCase{"Not a boolean", u"DRAWSEGMENT",
                  u"make \"o.smooth \"maybe\nmake \"o.initial.x 0\nmake \"o.initial.y 0\nmake \"o.final.x 1\n"
                  u"make \"o.final.y 1"}));

// Fields of the wrong kind, odd point records and texture values: an error
// or a drawing, never an unbalanced matrix stack, frame or glBegin.
TEST_F(GraphixTest, BadFieldsNeverLeaveTheStackFrameOrABeginOpen) {
  std::u16string hugePoints;
  for (int k = 1; k <= 3000; ++k)
    hugePoints += u"make \"o.points.#" + Utf8ToUtf16(std::to_string(k)) + u".x " + Utf8ToUtf16(std::to_string(k % 7)) +
                  u"\nmake \"o.points.#" + Utf8ToUtf16(std::to_string(k)) + u".y " +
                  Utf8ToUtf16(std::to_string(k % 5)) + u"\n";
  const std::u16string cases[] = {
      u"make \"o.radius \"big", u"make \"o.color \"red", u"make \"o.color.x \"abc\nmake \"o.color.y 0\nmake \"o.color.z 0",
      u"make \"o.points 5", u"make \"o.points.#1 \"word", u"make \"o.points.#1.x [1]\nmake \"o.points.#1.y 0",
      u"make \"o.texture 7", u"make \"o.mode 2\nmake \"o.texture \"tex", u"make \"o.precision 2.5",
      u"make \"o.mode -1", u"make \"o.range.toangle \"far", u"make \"o.focus.x \"a\nmake \"o.focus.y 0",
      u"make \"o.affine.x.x \"a\nmake \"o.affine.x.y 0", u"make \"o.center [1 2]", u"make \"o.width \"wide",
      u"make \"o.initial 3\nmake \"o.final 4", u"make \"o.pattern [[]]", u"make \"o.spin []",
      u"make \"o.rangev.toangle \"x", u"make \"o.ratio \"r", u"make \"o.mode 2\n" + hugePoints};
  for (const char16_t* primitive : {u"DRAWPOINT", u"DRAWSEGMENT", u"DRAWRAY", u"DRAWLINE", u"DRAWISOGON",
                                    u"DRAWPARABOLA", u"DRAWHYPERBOLA", u"DRAWRECTANGLE", u"DRAWCUBE", u"DRAWCYLINDER",
                                    u"DRAWSPHERE", u"DRAWPOLYGON", u"DRAWQUADRIL"})
    for (const std::u16string& fields : cases) {
      ASSERT_EQ(Run(u"make \"o []\n" + fields + u"\nmake \"o.ondrawimage [[] dll.zavta." + primitive + u"]"), rrOk)
          << Output();
      const TContext* frameBefore = S.Frame();
      try {
        G.compileDisplayLists(*Var(u"o"));
      } catch (const LanguageError&) {
      }
      const std::string what = U8(std::u16string(primitive)) + " " + U8(fields.substr(0, 60));
      EXPECT_EQ(S.Frame(), frameBefore) << what;
      EXPECT_EQ(FakeGL::MatrixDepth(GL_MODELVIEW), 1) << what;
      EXPECT_EQ(FakeGL::MatrixDepth(GL_TEXTURE), 1) << what;
      EXPECT_FALSE(FakeGL::InBeginEnd()) << what;
      EXPECT_EQ(FakeGL::MatrixMode(), static_cast<GLenum>(GL_MODELVIEW)) << what;
    }
  // No cap on the points: all 3000 are drawn.
  ASSERT_EQ(Run(u"make \"o []\nmake \"o.mode 2\n" + hugePoints + u"make \"o.ondrawimage [[] dll.zavta.DRAWPOLYGON]"), rrOk);
  EXPECT_EQ(Count(Compile(u"o"), "glVertex3f"), 3000u) << Output();
}

// A raise suppressed for want of a current line still ends the primitive.
TEST_F(GraphixTest, ASuppressedErrorEndsThePrimitiveWithTheFrameBalanced) {
  ASSERT_EQ(Run(u"make \"precision 1"), rrOk);
  S.CurrentPosition.Line = -1;
  const TContext* frameBefore = S.Frame();
  FakeGL::ClearCalls();
  TAtom* result = SystemValue;
  EXPECT_NO_THROW(result = I.Exports.Routine(exDRAWSPHERE)(I));
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(S.Frame(), frameBefore);
  ExpectBalancedAndNothingDrawn(WithoutErrorChecks(FakeGL::Calls()));
}

}  // namespace
