#include "tests/graphics/support/TestQuad.h"

#include <GL/gl.h>

#include "core/Expr.h"
#include "core/Text.h"
#include "graphics/ZavOpenGL.h"

namespace {

GLubyte ColourInput(TStructure& s, int32_t cell) {
  return static_cast<GLubyte>(TAtom::AsInteger(s, s.CellValue(cell)) & 0xFF);
}

GLfloat CoordinateInput(TStructure& s, int32_t cell) {
  return static_cast<GLfloat>(TAtom::AsNumber(s, s.CellValue(cell)));
}

}  // namespace

TestQuadBinder::TestQuadBinder(TInterpreter& in) : in_(in), original_(in.ExternalBinder) {
  quadIndex_ = static_cast<int32_t>(in.Routines.size());
  in.Routines.push_back([this](TInterpreter& interp) -> TAtom* {
    TStructure& s = interp.S;
    // Cell 1 is the last input as written: x y r g b are cells 5 to 1.
    const GLfloat x = CoordinateInput(s, 5);
    const GLfloat y = CoordinateInput(s, 4);
    const GLubyte r = ColourInput(s, 3);
    const GLubyte g = ColourInput(s, 2);
    const GLubyte b = ColourInput(s, 1);
    const GLProcTable& t = gl();
    t.glColor3ub(r, g, b);
    t.glBegin(GL_QUADS);
    t.glVertex3f(x - 0.5f, y - 0.5f, 0);
    t.glVertex3f(x + 0.5f, y - 0.5f, 0);
    t.glVertex3f(x + 0.5f, y + 0.5f, 0);
    t.glVertex3f(x - 0.5f, y + 0.5f, 0);
    t.glEnd();
    ++Quads;
    return nullptr;
  });
  hookIndex_ = static_cast<int32_t>(in.Routines.size());
  in.Routines.push_back([this](TInterpreter& interp) -> TAtom* {
    ++Hooks;
    const std::u16string what = TAtom::AsString(interp.S, interp.S.Cell1());
    if (OnHook) OnHook(what);
    return nullptr;
  });
  in.ExternalBinder = [this](TInterpreter& interp, TAtom& token) -> TBoundRoutine {
    const std::u16string name = UpperCase(token.Text);
    if (name == u"DLL.TEST.TESTQUAD") return {ocPrimitive, quadIndex_};
    if (name == u"DLL.TEST.TESTHOOK") return {ocPrimitive, hookIndex_};
    return original_(interp, token);
  };
}

TestQuadBinder::~TestQuadBinder() { in_.ExternalBinder = original_; }
