// Points, segments, rays and lines. A ray or line is a segment whose free
// ends are pushed out to the box -32000..32000.

#include <GL/gl.h>

#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

float F(long double x) { return static_cast<float>(x); }

enum class Linear { Segment, Ray, Line };

void DrawLinear(DrawingFrame& f, Linear kind) {
  const DrawingFrame::Vector first = f.FieldVector(kwInitial);
  if (!first.Found) DrawingError(f.S, u"drawlinear-1");
  const DrawingFrame::Vector second = f.FieldVector(kwFinal);
  if (!second.Found) DrawingError(f.S, u"drawlinear-2");
  const Point3 asRead{first.X, first.Y, first.Z};
  Point3 initial = asRead;
  Point3 final{second.X, second.Y, second.Z};
  // A line's initial end goes beyond itself, away from the final point;
  // the final end of a ray or line goes beyond the initial point as read.
  if (kind == Linear::Line) initial = FarPoint(initial, final);
  if (kind != Linear::Segment) final = FarPoint(final, asRead);
  f.ColorDef(0);
  f.Orient();
  f.LineStyle();
  gl().glBegin(GL_LINES);
  gl().glVertex3f(F(initial.X), F(initial.Y), F(initial.Z));
  gl().glVertex3f(F(final.X), F(final.Y), F(final.Z));
  gl().glEnd();
}

}  // namespace

// A point is not placed: affine, center, focus and spin do not move it.
void DrawPoint(DrawingFrame& f) {
  DrawingState& d = f.D;
  d.CenterX = f.FieldFloat(kwX, 0);
  d.CenterY = f.FieldFloat(kwY, 0);
  d.CenterZ = f.FieldFloat(kwZ, 0);
  f.ColorDef(0);
  f.PointStyle();
  gl().glBegin(GL_POINTS);
  gl().glVertex3f(F(d.CenterX), F(d.CenterY), F(d.CenterZ));
  gl().glEnd();
}

void DrawSegment(DrawingFrame& f) { DrawLinear(f, Linear::Segment); }
void DrawRay(DrawingFrame& f) { DrawLinear(f, Linear::Ray); }
void DrawLine(DrawingFrame& f) { DrawLinear(f, Linear::Line); }
