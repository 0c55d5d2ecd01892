// Assignment and the scene together: storing drawing code compiles the
// object's list and redraws at the next top-level statement, a new value
// replaces the list, a value without drawing code loses it, and changes made
// inside procedures wait for the return to top level.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/graphics/support/SceneFixture.h"

namespace {

class ReactiveSceneTest : public SceneTest {
protected:
  // A prototype that draws a red quad; copies of it are drawables.
  void MakePrototype() {
    ASSERT_EQ(Run(u"make \"proto []\r\n"
                  u"make \"proto.ondrawimage [testquad 0 0 255 0 0]"),
              rrOk)
        << Output();
  }
  bool ListDraws(std::u16string_view path, const std::string& call) {
    const std::vector<std::string> calls = FakeGL::ListCalls(Id(path));
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
};

TEST_F(ReactiveSceneTest, StoringACopyOfADrawableCompilesItsListAndRedrawsAtTopLevel) {
  MakePrototype();
  const int presentsBefore = Plane.Presents;
  ASSERT_EQ(Run(u"make \"a proto"), rrOk) << Output();

  ASSERT_NE(Var(u"a.ondrawimage"), nullptr);
  EXPECT_TRUE(G.HasList(Id(u"a")));
  EXPECT_TRUE(ListDraws(u"a", "glColor3ub(255, 0, 0)"));
  EXPECT_GT(Plane.Presents, presentsBefore);
  EXPECT_FALSE(I.TopRedrawPending);
  EXPECT_EQ(Output().find("OpenGL Error"), std::string::npos) << Output();
}

TEST_F(ReactiveSceneTest, ADrawableFieldRecompilesItsObject) {
  MakePrototype();
  ASSERT_EQ(Run(u"make \"a proto\r\n"
                u"make \"a.ondrawimage [testquad 0 0 0 255 0]\r\n"
                u"make \"a.tint 1"),
            rrOk)
      << Output();
  TAtom::SetFlag(Var(u"a.tint"), afDrawable, true);
  // The drawing code changed without a recompile; a change of the drawable
  // field rebuilds the object's list from it.
  EXPECT_TRUE(ListDraws(u"a", "glColor3ub(255, 0, 0)"));
  ASSERT_EQ(Run(u"make \"a.tint 2"), rrOk) << Output();
  EXPECT_TRUE(ListDraws(u"a", "glColor3ub(0, 255, 0)"));
  EXPECT_FALSE(ListDraws(u"a", "glColor3ub(255, 0, 0)"));
}

TEST_F(ReactiveSceneTest, AValueWithoutDrawingCodeTakesTheListAway) {
  MakePrototype();
  ASSERT_EQ(Run(u"make \"a proto"), rrOk) << Output();
  const uint32_t id = Id(u"a");
  ASSERT_TRUE(G.HasList(id));

  ASSERT_EQ(Run(u"make \"a 5"), rrOk) << Output();

  EXPECT_FALSE(G.HasList(id));
  EXPECT_FALSE(FakeGL::Lists().count(id));
}

TEST_F(ReactiveSceneTest, ChangesInsideAProcedureRedrawOnceBackAtTopLevel) {
  MakePrototype();
  ASSERT_EQ(Run(u"to build\r\n"
                u"make \"a proto\r\n"
                u"make \"b proto\r\n"
                u"end"),
            rrOk)
      << Output();
  const int presentsBefore = Plane.Presents;
  ASSERT_EQ(Run(u"build"), rrOk) << Output();

  EXPECT_TRUE(G.HasList(Id(u"a")));
  EXPECT_TRUE(G.HasList(Id(u"b")));
  EXPECT_EQ(Plane.Presents, presentsBefore + 1);
}

}  // namespace
