// The global GL state primitives through Graphix.zav's procedures: their
// calls, their errors (raised before any GL call), the clear colour, the
// flush of a single-buffered plane and the recording file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/GraphixFixture.h"
#include "tests/support/TempFolder.h"

namespace {

struct StateCase {
  const char* What;
  const char16_t* Program;
  CallList Expected;  // every GL call but glGetError
};

void PrintTo(const StateCase& c, std::ostream* os) { *os << c.What; }

class StateCallTest : public GraphixTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StateCallTest, IssuesItsCalls) {
  const StateCase& c = GetParam();
  EXPECT_TRUE(CallsMatch(CallsOf(c.Program), c.Expected)) << Output();
}

INSTANTIATE_TEST_SUITE_P(
    Graphix, StateCallTest,
    ::testing::Values(
        StateCase{"AddClipPlane", u"addclipplane 3 1 2 3 4",
                  {"glEnable(GL_CLIP_PLANE2)", "glClipPlane(GL_CLIP_PLANE2, [1 2 3 4])"}},
        StateCase{"RemoveClipPlane", u"removeclipplane 6", {"glDisable(GL_CLIP_PLANE5)"}},
        StateCase{"FogDefaults", u"make \"enable \"true\nfog",
                  {"glEnable(GL_FOG)", "glFogi(GL_FOG_MODE, GL_LINEAR)", "glFogf(GL_FOG_END, 85)",
                   "glFogf(GL_FOG_START, 65)", "glFogfv(GL_FOG_COLOR, [1 1 1 1])"}},
        StateCase{"FogFields",
                  u"make \"enable \"true\nmake \"far 10\nmake \"near 2\nmake \"color.x 51\nmake \"color.y 0\n"
                  u"make \"color.z 255\nmake \"color.#1 0\nfog",
                  {"glEnable(GL_FOG)", "glFogi(GL_FOG_MODE, GL_LINEAR)", "glFogf(GL_FOG_END, 10)",
                   "glFogf(GL_FOG_START, 2)", "glFogfv(GL_FOG_COLOR, [0.2 0 1 0])"}},
        StateCase{"FogOff", u"fog", {"glDisable(GL_FOG)"}},
        StateCase{"DepthTest", u"enabledepthtest\ndisabledepthtest",
                  {"glEnable(GL_DEPTH_TEST)", "glDisable(GL_DEPTH_TEST)"}},
        StateCase{"Culling", u"cullbackfaces\ncullfrontfaces\ncullnofaces",
                  {"glCullFace(GL_BACK)", "glEnable(GL_CULL_FACE)", "glCullFace(GL_FRONT)", "glEnable(GL_CULL_FACE)",
                   "glDisable(GL_CULL_FACE)"}},
        StateCase{"FlushDoubleBuffered", u"flush", {"glFlush()"}},
        StateCase{"ClearColorWithoutColour", u"make \"x 1\nclearcolor []", {}}));

struct StateErrorCase {
  const char* Key;
  const char16_t* Program;
};

void PrintTo(const StateErrorCase& c, std::ostream* os) { *os << c.Key << " " << U8(c.Program); }

class StateErrorTest : public GraphixTest, public ::testing::WithParamInterface<StateErrorCase> {};

TEST_P(StateErrorTest, RaisesBeforeAnyCall) {
  const StateErrorCase& c = GetParam();
  const CallList calls = CallsOf(c.Program);
  EXPECT_EQ(U8(S.LastError), c.Key);
  EXPECT_TRUE(CallsMatch(calls, {}));
}

constexpr const char16_t* kRedRecord = u"make \"c []\nmake \"c.x 255\nmake \"c.y 0\nmake \"c.z 0\n";

INSTANTIATE_TEST_SUITE_P(
    Graphix, StateErrorTest,
    ::testing::Values(StateErrorCase{"addclipplane", u"addclipplane 0 1 0 0 0"},
                      StateErrorCase{"addclipplane", u"addclipplane 7 1 0 0 0"},
                      StateErrorCase{"removeclipplane", u"removeclipplane 7"},
                      StateErrorCase{"removeclipplane", u"removeclipplane 0"},
                      StateErrorCase{"clearcolor", u"make \"c []\nmake \"c.x 1\nmake \"c.y 0\nmake \"c.z 0\n"
                                                   u"make \"c.#1 256\nclearcolor :c"},
                      StateErrorCase{"clearcolor", u"make \"c []\nmake \"c.x -1\nmake \"c.y 0\nmake \"c.z 0\n"
                                                   u"clearcolor :c"},
                      StateErrorCase{"first", u"make \"c []\nmake \"c.x 1\nmake \"c.y 0\nclearcolor :c"},
                      StateErrorCase{"first", u"make \"index 1\ndll.zavta.ADDCLIPPLANE"}));

class GraphixStateTest : public GraphixTest {};

std::string ClearColorCall() {
  const CallList& calls = FakeGL::Calls();
  const auto found = std::find_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("glClearColor", 0) == 0; });
  return found != calls.end() ? *found : "";
}

TEST_F(GraphixStateTest, TheClearColourReachesTheNextRedrawAndTheResetMakesItWhite) {
  Plane.Backgrounds.clear();
  ASSERT_EQ(Run(std::u16string(kRedRecord) + u"make \"c.#1 51\nclearcolor :c"), rrOk) << Output();
  EXPECT_TRUE(G.ClearColorSet);
  EXPECT_EQ(Plane.Backgrounds, std::vector<uint32_t>{0x0000FFu});
  FakeGL::ClearCalls();
  G.redrawScene();
  EXPECT_EQ(FakeGL::CountOf("glClearColor"), 1u);
  EXPECT_TRUE(SameCall(ClearColorCall(), "glClearColor(1, 0, 0, 0.2)")) << ClearColorCall();
  ASSERT_TRUE(ResetWithLibraries({u"Logo.zav", u"Graphix.zav"}));
  EXPECT_FALSE(G.ClearColorSet);
  FakeGL::ClearCalls();
  G.redrawScene();
  EXPECT_TRUE(SameCall(ClearColorCall(), "glClearColor(1, 1, 1, 1)")) << ClearColorCall();
}

TEST_F(GraphixStateTest, TheBackgroundIsSetAndPumpedOnlyDoubleBufferedWithAPlane) {
  const int pumps = T.Host.Pumps;
  Plane.Backgrounds.clear();
  ASSERT_EQ(Run(std::u16string(kRedRecord) + u"clearcolor :c"), rrOk);
  EXPECT_EQ(Plane.Backgrounds.size(), 1u);
  EXPECT_EQ(T.Host.Pumps, pumps + 1);
  G.DoubleBuffered = false;
  ASSERT_EQ(Run(u"clearcolor :c"), rrOk);
  G.DoubleBuffered = true;
  Plane.Exists = false;
  ASSERT_EQ(Run(u"clearcolor :c"), rrOk);
  EXPECT_EQ(Plane.Backgrounds.size(), 1u);
  EXPECT_EQ(T.Host.Pumps, pumps + 1);
  EXPECT_DOUBLE_EQ(static_cast<double>(G.ClearColorR), 1.0);
}

TEST_F(GraphixStateTest, FlushPresentsTheFrontOnlySingleBufferedOutsideAList) {
  ASSERT_EQ(Run(u"flush"), rrOk);
  EXPECT_EQ(Plane.FrontPresents, 0);
  G.DoubleBuffered = false;
  ASSERT_EQ(Run(u"flush"), rrOk);
  EXPECT_EQ(Plane.FrontPresents, 1);
  ASSERT_EQ(Run(u"make \"o []\nmake \"o.ondrawimage [[] flush]"), rrOk);
  const CallList list = Compile(u"o");
  EXPECT_TRUE(CallsMatch(list, {"glFlush()"}));
  EXPECT_EQ(Plane.FrontPresents, 1);
}

TEST_F(GraphixStateTest, RecordingWritesFramesAndAnUnwritablePathStaysDirect) {
  TempFolder folder;
  const std::u16string file = folder.Name("calls.rec");
  ASSERT_EQ(Run(u"make \"o []\nmake \"o.ondrawimage [[] dll.zavta.DRAWPOINT]\n"
                u"startopenglrecording \"'" + file + u"'"),
            rrOk)
      << Output();
  EXPECT_TRUE(GLRecordingActive());
  EXPECT_GE(Plane.Repaints, 1);
  ASSERT_EQ(Run(u"stopopenglrecording"), rrOk);
  EXPECT_FALSE(GLRecordingActive());
  std::ifstream in(std::filesystem::path(U8(file)), std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 4u);
  // The object's list was recorded (glBegin(GL_POINTS): opcode 1, mode 0)
  // and the repainted frame ended: glFlush (17), then four zero bytes.
  const std::vector<char> pointsBegin{1, 0, 0, 0, 0, 0};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), pointsBegin.begin(), pointsBegin.end()), bytes.end());
  const std::vector<char> flushAndFrameEnd{17, 0, 0, 0, 0, 0};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), flushAndFrameEnd.begin(), flushAndFrameEnd.end()), bytes.end());

  ASSERT_EQ(Run(u"startopenglrecording \"'" + folder.Name("missing/calls.rec") + u"'"), rrOk);
  EXPECT_FALSE(GLRecordingActive());
}

}  // namespace
