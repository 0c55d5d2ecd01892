// The plane's projection and picking on the fake back-end with a real
// interpreter: the call sequences, the error sites, the cases that issue
// nothing, and how hit records become names.

#include <gtest/gtest.h>

#include "graphics/Projection.h"
#include "tests/graphics/support/CallMatch.h"
#include "tests/graphics/support/SceneFixture.h"

namespace {

class PlaneProjectionTest : public SceneTest {
protected:
  PlaneProjectionTest() {
    Plane.Size = {640, 480};
    StartContext();
    FakeGL::ClearCalls();
  }
  // A hit record naming one atom.
  static std::vector<GLuint> Record(GLuint minDepth, GLuint maxDepth, std::vector<GLuint> names) {
    std::vector<GLuint> record{static_cast<GLuint>(names.size()), minDepth, maxDepth};
    record.insert(record.end(), names.begin(), names.end());
    return record;
  }
  static std::vector<GLuint> Join(std::initializer_list<std::vector<GLuint>> records) {
    std::vector<GLuint> all;
    for (const auto& record : records) all.insert(all.end(), record.begin(), record.end());
    return all;
  }
};

TEST_F(PlaneProjectionTest, PerspectiveAndOrthographicSequences) {
  struct Case {
    bool Perspective;
    PlaneSize Size;
    std::string Projection;
  };
  const Case cases[] = {
      {true, {640, 500}, "gluPerspective(30, 1.28, 0.1, 1000000)"},
      {true, {500, 1000}, "gluPerspective(60, 0.5, 0.1, 1000000)"},
      {false, {640, 480}, "glOrtho(-320, 320, -240, 240, -10000, 10000)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Projection);
    FakeGL::ClearCalls();
    G.PerspectiveProjection = c.Perspective;
    SetupProjection(G, c.Size);
    EXPECT_TRUE(CallsMatch(FakeGL::Calls(),
                           {"glViewport(0, 0, " + std::to_string(c.Size.Width) + ", " +
                                std::to_string(c.Size.Height) + ")",
                            "glMatrixMode(GL_PROJECTION)", "glLoadIdentity()", c.Projection,
                            "glMatrixMode(GL_MODELVIEW)", "glLoadIdentity()",
                            "glMultMatrixf([1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1])",
                            "gluLookAt(5, 15, 5, 0, 0, 0, 0, 0, 1)"}));
  }
}

TEST_F(PlaneProjectionTest, ErrorsArePrintedWithTheStepsTag) {
  FakeGL::FailAtCheck(2, GL_INVALID_OPERATION);
  SetupProjection(G, Plane.Size);
  EXPECT_EQ(Output(), "OpenGL Error 1282/hunt271\nbegin-end=0");
}

TEST_F(PlaneProjectionTest, NothingIsIssuedWithoutAPlaneASizeOrWhileAListIsOpen) {
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"zero size", [this] { SetupProjection(G, {0, 480}); }},
      {"no plane", [this] {
         Plane.Exists = false;
         SetupProjection(G, {640, 480});
         EXPECT_TRUE(PickAll(G, 1, 1, 0, 2).empty());
         Plane.Exists = true;
       }},
      {"list open", [this] {
         ++G.ListCompileDepth;
         SetupProjection(G, {640, 480});
         EXPECT_TRUE(PickAll(G, 1, 1, 0, 2).empty());
         EXPECT_FALSE(PickNearest(G, 1, 1, 0, 2, nullptr));
         --G.ListCompileDepth;
       }},
      {"no context", [this] {
         Plane.CanMakeCurrent = false;
         EXPECT_TRUE(PickAll(G, 1, 1, 0, 2).empty());
         Plane.CanMakeCurrent = true;
       }},
  };
  for (const auto& [name, run] : cases) {
    SCOPED_TRACE(name);
    FakeGL::ClearCalls();
    run();
    EXPECT_TRUE(WithoutErrorChecks(FakeGL::Calls()).empty());
  }
}

TEST_F(PlaneProjectionTest, PickAllDrawsEveryObjectUnderItsNameAndRestoresTheProjection) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  MakeQuadObject(u"b", 0, 0, 0, 255, 0);
  G.paintResume();
  const uint32_t a = Id(u"a"), b = Id(u"b");
  FakeGL::SetSelectionHits(2, Join({Record(10, 20, {b}), Record(5, 8, {a})}));
  FakeGL::ClearCalls();
  EXPECT_EQ(PickAll(G, 320, 100, 0, 3), (std::vector<std::u16string>{u"b", u"a"}));
  const CallList calls = WithoutErrorChecks(FakeGL::Calls());
  const std::string first = std::to_string(b), second = std::to_string(a);
  EXPECT_TRUE(CallsMatch(CallList(calls.begin(), calls.begin() + 18),
                         {"glGetIntegerv(GL_VIEWPORT)", "glRenderMode(GL_SELECT)", "glInitNames()",
                          "glMatrixMode(GL_PROJECTION)", "glLoadIdentity()",
                          "gluPickMatrix(320, 380, 6, 6, [0 0 640 480])", "gluPerspective(28.8, 1.33333, 0.1, 1000000)",
                          "glMatrixMode(GL_MODELVIEW)", "glLoadIdentity()",
                          "glMultMatrixf([1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1])", "gluLookAt(5, 15, 5, 0, 0, 0, 0, 0, 1)",
                          // the root's newest child first
                          "glPushName(" + first + ")", "glCallList(" + first + ")", "glPopName()",
                          "glPushName(" + second + ")", "glCallList(" + second + ")", "glPopName()",
                          "glRenderMode(GL_RENDER)"}));
  EXPECT_EQ(calls[18], "glViewport(0, 0, 640, 480)");
}

TEST_F(PlaneProjectionTest, HitRecordsBecomeNames) {
  MakeQuadObject(u"a", 0, 0, 255, 0, 0);
  ASSERT_EQ(Run(u"make \"a.part []\r\nmake \"a.part.leaf []"), rrOk);
  G.paintResume();
  const uint32_t a = Id(u"a"), part = Id(u"a.part"), leaf = Id(u"a.part.leaf");
  struct Case {
    const char* Name;
    GLint Hits;
    std::vector<GLuint> Records;
    int32_t Mode;
    std::vector<std::u16string> Expected;
  };
  const Case cases[] = {
      {"the same object twice in a row is listed once", 3,
       Join({Record(1, 2, {a}), Record(1, 2, {a}), Record(3, 4, {part})}), 0, {u"a", u"a.part"}},
      {"the innermost name counts", 1, Record(1, 2, {a, part}), 0, {u"a.part"}},
      {"mode -1 climbs to the root's grandchild", 1, Record(1, 2, {a, leaf}), -1, {u"a.part"}},
      {"nameless records, stale and foreign names are skipped", 3,
       Join({Record(1, 2, {}), Record(1, 2, {0xFFFFFF}), Record(1, 2, {a})}), 0, {u"a"}},
      {"an overflow finds nothing", -1, Record(1, 2, {a}), 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeGL::SetSelectionHits(c.Hits, c.Records);
    EXPECT_EQ(PickAll(G, 1, 1, c.Mode, 2), c.Expected);
  }
}

TEST(PlaneHitDecoding, RecordsCutOffByTheBuffersEndAreDropped) {
  const uint32_t buffer[] = {1, 7, 9, 42, 5, 1, 2, 3};
  const std::vector<PickHit> hits = DecodeHits(buffer, std::size(buffer), 2);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].MinDepth, 7u);
  EXPECT_EQ(hits[0].MaxDepth, 9u);
  EXPECT_EQ(hits[0].Name, 42u);
  EXPECT_TRUE(DecodeHits(buffer, 2, 1).empty());
}

TEST_F(PlaneProjectionTest, PickNearestTakesTheSmallestDepthAmongTheNamedObjects) {
  MakeQuadObject(u"front", 0, 0, 255, 0, 0);
  MakeQuadObject(u"back", 0, 0, 0, 255, 0);
  G.paintResume();
  const uint32_t front = Id(u"front"), back = Id(u"back");
  FakeGL::SetSelectionHits(2, Join({Record(500, 600, {back}), Record(100, 200, {front})}));
  EXPECT_EQ(PickNearest(G, 1, 1, 0, 2, nullptr), std::u16string(u"front"));

  // Only the named (and known) objects are drawn.
  ASSERT_EQ(Run(u"make \"names [back nosuch]"), rrOk);
  FakeGL::SetSelectionHits(1, Record(500, 600, {back}));
  FakeGL::ClearCalls();
  EXPECT_EQ(PickNearest(G, 1, 1, 0, 2, Var(u"names")->Left), std::u16string(u"back"));
  EXPECT_EQ(FakeGL::CountOf("glCallList"), 1u);

  FakeGL::SetSelectionHits(0, {});
  EXPECT_FALSE(PickNearest(G, 1, 1, 0, 2, nullptr));
}

}  // namespace
