#include "tests/graphics/support/GraphixFixture.h"

#include "core/Text.h"
#include "graphics/Scene.h"

GraphixTest::GraphixTest() : S(*T.S), I(S), G(I), Plane(G) {
  T.Host.GraphicsOverride = &G;
  G.setPlane(&Plane);
  EXPECT_TRUE(ResetWithLibraries({u"Logo.zav", u"Graphix.zav"})) << Output();
  FakeGL::ClearCalls();
}

GraphixTest::~GraphixTest() {
  G.setPlane(nullptr);
  T.Host.GraphicsOverride = nullptr;
}

bool GraphixTest::ResetWithLibraries(std::initializer_list<std::u16string_view> files) {
  std::u16string commands;
  for (std::u16string_view file : files)
    commands += u"run \"'" + Utf8ToUtf16(ZAVTA_SOURCE_DIR "/resources/") + std::u16string(file) + u"',";
  I.LibraryLoadCommands = commands;
  return !ResetInterpreter(I);
}

int GraphixTest::Run(std::u16string_view text) { return RunText(I, ToCrLf(text), u"test"); }

TAtom* GraphixTest::Var(std::u16string_view path) { return S.FindPath(S.Root, path); }

CallList GraphixTest::Compile(std::u16string_view path) {
  TAtom* atom = Var(path);
  EXPECT_NE(atom, nullptr) << U8(std::u16string(path));
  if (atom == nullptr) return {};
  G.compileDisplayLists(*atom);
  return WithoutErrorChecks(FakeGL::ListCalls(atom->Identity()));
}

CallList GraphixTest::CallsOf(std::u16string_view text) {
  FakeGL::ClearCalls();
  Run(text);
  return WithoutErrorChecks(FakeGL::Calls());
}
