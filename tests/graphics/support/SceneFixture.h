#pragma once
// The graphics of one interpreter on the fake GL back-end and a fake plane:
// a test state with English keywords, the interpreter, its Graphics as the
// host's graphics hooks, the test drawing routines bound and defined.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "tests/graphics/support/FakeGL.h"
#include "tests/graphics/support/FakePlane.h"
#include "tests/graphics/support/TestQuad.h"
#include "tests/support/TestState.h"

// Public: table-driven cases reach the fixture from their lambdas.
class SceneTest : public ::testing::Test {
public:
  SceneTest();
  ~SceneTest() override;

  // Runs program text as a command does (0 ok, 1 parse error, 2 reported
  // run error).
  int Run(std::u16string_view text);
  // The variable at the dotted path from the root; null when there is none.
  TAtom* Var(std::u16string_view path);
  uint32_t Id(std::u16string_view path);
  // make "name [] and make "name.ondrawimage [testquad x y r g b].
  TAtom* MakeQuadObject(std::u16string_view name, int x, int y, int r, int g, int b);
  // The output lines joined by "\n".
  std::string Output() const { return T.Host.Output(); }

  UseFakeGL Fake;
  TestState T;
  TStructure& S;
  TInterpreter I;
  Graphics G;
  FakePlane Plane;
  TestQuadBinder Quad;
};
