#include "tests/graphics/support/SceneFixture.h"

#include "core/Text.h"

SceneTest::SceneTest() : S(*T.S), I(S), G(I), Plane(G), Quad(I) {
  T.Host.GraphicsOverride = &G;
  G.setPlane(&Plane);
  S.Language.Texts[u"GLRECORDINGFAILED"] = u"The recording to %s failed";
  EXPECT_EQ(Run(kTestQuadDefinitions), rrOk) << Output();
  FakeGL::ClearCalls();
}

SceneTest::~SceneTest() {
  G.setPlane(nullptr);
  T.Host.GraphicsOverride = nullptr;
}

int SceneTest::Run(std::u16string_view text) { return RunText(I, ToCrLf(text), u"test"); }

TAtom* SceneTest::Var(std::u16string_view path) { return S.FindPath(S.Root, path); }

uint32_t SceneTest::Id(std::u16string_view path) {
  TAtom* atom = Var(path);
  return IsAtom(atom) ? atom->Identity() : 0;
}

TAtom* SceneTest::MakeQuadObject(std::u16string_view name, int x, int y, int r, int g, int b) {
  const std::u16string n(name);
  const std::u16string program = u"make \"" + n + u" []\r\nmake \"" + n + u".ondrawimage [testquad " +
                                 FormatMessage(u"%d %d %d %d %d", {static_cast<long long>(x), static_cast<long long>(y),
                                                                   static_cast<long long>(r), static_cast<long long>(g),
                                                                   static_cast<long long>(b)}) +
                                 u"]\r\n";
  EXPECT_EQ(Run(program), rrOk) << Output();
  return Var(name);
}
