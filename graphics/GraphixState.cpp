// The global GL state primitives: clip planes, the clear colour, fog,
// flushing, the depth test, face culling and the recording file. They
// enter no drawing object; their fields are looked up from the current
// frame, and every field is read and checked before the first GL call.

#include <GL/gl.h>

#include <array>

#include "core/Host.h"
#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr int kClipPlanes = 6;

// Runs a state primitive inside a graphics entry; an error whose raise was
// suppressed ends it with the empty list.
template <class Body>
TAtom* StatePrimitive(TInterpreter& in, Body body) {
  Graphics& g = Graphics::Of(in);
  const GraphicsEntry entry(g);
  try {
    body(g);
  } catch (const DrawingStopped&) {
  }
  return nullptr;
}

TAtom* Required(TAtom* field, TStructure& s) {
  if (field == nullptr) MissingValueError(s);
  return field->Left;
}

long double RequiredLocalNumber(TStructure& s, Keyword k) { return NumberOf(s, Required(s.FindLocal(s.Keyword(k)), s)); }

int32_t VisibleInteger(TStructure& s, std::u16string_view name, int32_t fallback) {
  TAtom* field = s.FindVisible(name);
  return field != nullptr ? IntegerOf(s, field->Left) : fallback;
}

long double VisibleNumber(TStructure& s, std::u16string_view name, long double fallback) {
  TAtom* field = s.FindVisible(name);
  return field != nullptr ? NumberOf(s, field->Left) : fallback;
}

}  // namespace

TAtom* AddClipPlane(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) {
    TStructure& s = g.S;
    const int32_t index = IntegerOf(s, Required(s.FindLocal(s.Keyword(kwIndex)), s));
    if (index < 1 || index > kClipPlanes) DrawingError(s, u"addclipplane");
    const std::array<GLdouble, 4> equation{
        static_cast<GLdouble>(RequiredLocalNumber(s, kwA)), static_cast<GLdouble>(RequiredLocalNumber(s, kwB)),
        static_cast<GLdouble>(RequiredLocalNumber(s, kwC)), static_cast<GLdouble>(RequiredLocalNumber(s, kwD))};
    const GLenum plane = GL_CLIP_PLANE0 + static_cast<GLenum>(index - 1);
    gl().glEnable(plane);
    CheckGL(g, 164);
    gl().glClipPlane(plane, equation.data());
    CheckGL(g, 165);
  });
}

TAtom* RemoveClipPlane(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) {
    const int32_t number = IntegerOf(g.S, g.S.Cell1());
    if (number < 1 || number > kClipPlanes) DrawingError(g.S, u"removeclipplane");
    gl().glDisable(GL_CLIP_PLANE0 + static_cast<GLenum>(number - 1));
    CheckGL(g, 166);
  });
}

// The next redraw clears with the colour; a double-buffered plane also
// takes it as its window background at once.
TAtom* ClearColor(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) {
    TStructure& s = g.S;
    TAtom* colour = s.FindVisible(s.Keyword(kwColor));
    if (colour == nullptr) return;
    TAtom* alphaField = s.FindPath(colour, s.Keyword(kwHash1));
    const int32_t alpha = alphaField != nullptr ? IntegerOf(s, alphaField->Left) : 255;
    auto channel = [&](Keyword k) { return IntegerOf(s, Required(s.FindPath(colour, s.Keyword(k)), s)); };
    const int32_t red = channel(kwX), green = channel(kwY), blue = channel(kwZ);
    for (int32_t c : {red, green, blue, alpha})
      if (c < 0 || c > 255) DrawingError(s, u"clearcolor");
    g.ClearColorSet = true;
    g.ClearColorR = red / 255.0L;
    g.ClearColorG = green / 255.0L;
    g.ClearColorB = blue / 255.0L;
    g.ClearColorA = alpha / 255.0L;
    if (g.DoubleBuffered && g.planeExists()) {
      g.plane()->setBackground(static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) |
                               (static_cast<uint32_t>(blue) << 16));
      s.host().processMessages();
    }
  });
}

TAtom* Fog(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) {
    TStructure& s = g.S;
    TAtom* enable = s.FindVisible(s.Keyword(kwEnable));
    if (enable == nullptr || !BooleanOf(s, enable->Left)) {
      gl().glDisable(GL_FOG);
      CheckGL(g, 174);
      return;
    }
    const long double far = VisibleNumber(s, u"far", 85);
    const long double near = VisibleNumber(s, u"near", 65);
    const GLfloat colour[4] = {static_cast<GLfloat>(VisibleInteger(s, s.Keyword(kwColorX), 255) / 255.0L),
                               static_cast<GLfloat>(VisibleInteger(s, s.Keyword(kwColorY), 255) / 255.0L),
                               static_cast<GLfloat>(VisibleInteger(s, s.Keyword(kwColorZ), 255) / 255.0L),
                               static_cast<GLfloat>(VisibleInteger(s, s.Keyword(kwColorHash1), 255) / 255.0L)};
    gl().glEnable(GL_FOG);
    CheckGL(g, 168);
    gl().glFogi(GL_FOG_MODE, GL_LINEAR);
    CheckGL(g, 169);
    gl().glFogf(GL_FOG_END, static_cast<GLfloat>(far));
    CheckGL(g, 170);
    gl().glFogf(GL_FOG_START, static_cast<GLfloat>(near));
    CheckGL(g, 171);
    gl().glFogfv(GL_FOG_COLOR, colour);
    CheckGL(g, 173);
  });
}

// A flush shows nothing on the plane's framebuffer: a single-buffered
// plane presents its front buffer (not while a list is compiled, when no
// drawing reaches it).
TAtom* Flush(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) {
    gl().glFlush();
    CheckGL(g, 192);
    if (!g.DoubleBuffered && !g.isCompilingList() && g.planeExists()) g.plane()->presentFront();
  });
}

TAtom* EnableDepthTest(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics&) { gl().glEnable(GL_DEPTH_TEST); });
}

TAtom* DisableDepthTest(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics&) { gl().glDisable(GL_DEPTH_TEST); });
}

TAtom* CullBackFaces(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics&) {
    gl().glCullFace(GL_BACK);
    gl().glEnable(GL_CULL_FACE);
  });
}

TAtom* CullFrontFaces(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics&) {
    gl().glCullFace(GL_FRONT);
    gl().glEnable(GL_CULL_FACE);
  });
}

TAtom* CullNoFaces(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics&) { gl().glDisable(GL_CULL_FACE); });
}

TAtom* StartOpenGLRecording(TInterpreter& in) {
  return StatePrimitive(in, [&](Graphics& g) { g.StartGLRecording(StringOf(g.S, g.S.Cell1())); });
}

TAtom* StopOpenGLRecording(TInterpreter& in) {
  return StatePrimitive(in, [](Graphics& g) { g.StopGLRecording(); });
}
