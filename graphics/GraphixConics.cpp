// Flat figures in the object's local XY plane: ellipses and their arcs,
// chords and sectors, parabolas, both branches of a hyperbola, rectangles.

#include <GL/gl.h>

#include <cmath>

#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr GLboolean kEdgeOn = 0xFF;
constexpr GLboolean kEdgeOff = 0;
// The parabola and hyperbola reach out to about this parameter value.
constexpr long double kConicReach = 3200;

float F(long double x) { return static_cast<float>(x); }

// The frame's steps shared by the four figures; answers the face normal's
// z component.
long double BeginFigure(DrawingFrame& f, int radii) {
  f.ReadRadius(radii);
  const long double nz = f.NormalSign();
  f.Orient();
  f.ColorDef(0x00FF00);
  f.PointStyle();
  f.LineStyle();
  f.PolyStyle();
  return nz;
}

// A vertex of the plane, after its texture coordinate when textured.
void PlaneVertex(DrawingFrame& f, long double x, long double y) {
  f.TexCoord(x, y);
  gl().glVertex3f(F(x), F(y), 0);
}

}  // namespace

void DrawIsogon(DrawingFrame& f) {
  const long double nz = BeginFigure(f, 2);
  const DrawingState& d = f.D;
  const int32_t p = d.PolyPrecision;
  gl().glNormal3f(0, 0, F(nz));
  gl().glBegin(d.RangeMode == 2 && d.PolyMode == 2 ? GL_TRIANGLE_FAN : GL_POLYGON);
  gl().glEdgeFlag(kEdgeOn);
  if (d.RangeMode == 2) {
    gl().glTexCoord2f(0, 0);
    gl().glVertex3f(0, 0, 0);
  }
  // In outline mode an open range hides the closing edge: an arc.
  const bool hideClosingEdge = d.RangeMode == 0 && d.PolyMode == 1;
  const long double step = (d.RangeTo - d.RangeFrom) / p;
  for (int32_t i = 0; i <= p; ++i) {
    const long double a = d.RangeFrom + i * step;
    gl().glEdgeFlag(i == p && hideClosingEdge ? kEdgeOff : kEdgeOn);
    PlaneVertex(f, d.RadiusX * std::cos(a), d.RadiusY * std::sin(a));
  }
  gl().glEnd();
}

// x = y² / RadiusX², opening towards +x from the apex at the origin; the
// second half mirrors the first in y and reaches one step further out.
void DrawParabola(DrawingFrame& f) {
  const long double nz = BeginFigure(f, 1);
  const int32_t p = f.D.PolyPrecision;
  long double radiusX = f.D.RadiusX;
  gl().glBegin(GL_POLYGON);
  gl().glEdgeFlag(kEdgeOn);
  gl().glNormal3f(0, 0, F(nz));
  PlaneVertex(f, 0, 0);
  const long double q = std::pow(kConicReach, 1.0L / p);
  long double d = 1.0L / p;
  for (int32_t i = 1; i <= 2 * p; ++i) {
    gl().glNormal3f(0, 0, F(nz));
    if (i == p + 1) radiusX = -radiusX;
    PlaneVertex(f, d * d, d * radiusX);
    if (i <= p)
      d *= q;
    else
      d /= q;
  }
  gl().glEnd();
}

// y²/RadiusY² - x²/RadiusX² = 1: the upper branch, then its mirror image
// below the x axis; each branch's closing edge is hidden.
void DrawHyperbola(DrawingFrame& f) {
  const long double nz = BeginFigure(f, 2);
  const int32_t p = f.D.PolyPrecision;
  const long double radiusX = f.D.RadiusX;
  long double radiusY = f.D.RadiusY;
  const long double q = std::pow(kConicReach, 1.0L / p);
  for (int branch = 0; branch < 2; ++branch) {
    gl().glBegin(GL_POLYGON);
    gl().glNormal3f(0, 0, F(nz));
    gl().glEdgeFlag(kEdgeOn);
    long double d = kConicReach;
    for (int32_t j = 1; j <= 2 * p; ++j) {
      const long double inverse = 1 / d;
      if (j == 2 * p) gl().glEdgeFlag(kEdgeOff);
      PlaneVertex(f, (d - inverse) * radiusX / 2, (d + inverse) * radiusY / 2);
      d /= q;
    }
    gl().glEnd();
    radiusY = -radiusY;
  }
}

// One corner at the local origin, the opposite one at (RadiusX, RadiusY).
void DrawRectangle(DrawingFrame& f) {
  const long double nz = BeginFigure(f, 2);
  const long double rx = f.D.RadiusX, ry = f.D.RadiusY;
  gl().glBegin(GL_POLYGON);
  gl().glNormal3f(0, 0, F(nz));
  gl().glEdgeFlag(kEdgeOn);
  PlaneVertex(f, 0, 0);
  PlaneVertex(f, rx, 0);
  PlaneVertex(f, rx, ry);
  PlaneVertex(f, 0, ry);
  gl().glEnd();
}
