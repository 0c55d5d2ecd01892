// Closed bodies in the object's local frame: a box, an elliptic cylinder
// (cone, frustum; whole or cut to an angle range) and an ellipsoid.

#include <GL/gl.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr GLboolean kEdgeOn = 0xFF;

float F(long double x) { return static_cast<float>(x); }

// The frame's steps after the radii: answers the normal sign.
long double BeginSolid(DrawingFrame& f, long double ns) {
  f.Orient();
  f.ColorDef(0x00FF00);
  f.PointStyle();
  f.LineStyle();
  f.PolyStyle();
  return ns;
}

void CubeVertex(DrawingFrame& f, long double x, long double y, long double z, long double u, long double v) {
  f.TexCoord(u, v);
  gl().glVertex3f(F(x), F(y), F(z));
}

struct CubeFace {
  int NormalAxis;  // 0 x, 1 y, 2 z
  int NormalSign;  // +1 or -1
  bool Side;       // one of the four sides (a hollow box keeps only these)
  // Each vertex as multiples (0 or 1) of rx, ry, rz, and its surface
  // coordinates as multiples of rx, ry and rz.
  struct Corner {
    int X, Y, Z;
    int URx, URy, VRy, VRz;
  };
  Corner Corners[4];
};

// Top and bottom map (x, y) to (x, y + rz); the four sides unfold into one
// strip of width 2rx + 2ry in the order y = 0, x = rx, y = ry, x = 0.
constexpr CubeFace kCubeFaces[] = {
    {2, +1, false, {{1, 1, 1, 1, 0, 1, 1}, {0, 1, 1, 0, 0, 1, 1}, {0, 0, 1, 0, 0, 0, 1}, {1, 0, 1, 1, 0, 0, 1}}},
    {2, -1, false, {{0, 0, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1, 1}, {1, 1, 0, 1, 0, 1, 1}, {1, 0, 0, 1, 0, 0, 1}}},
    {1, +1, true, {{1, 1, 1, 1, 1, 0, 1}, {1, 1, 0, 1, 1, 0, 0}, {0, 1, 0, 2, 1, 0, 0}, {0, 1, 1, 2, 1, 0, 1}}},
    {1, -1, true, {{0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 1, 0, 0, 0}, {1, 0, 1, 1, 0, 0, 1}, {0, 0, 1, 0, 0, 0, 1}}},
    {0, +1, true, {{1, 1, 1, 1, 1, 0, 1}, {1, 0, 1, 1, 0, 0, 1}, {1, 0, 0, 1, 0, 0, 0}, {1, 1, 0, 1, 1, 0, 0}}},
    {0, -1, true, {{0, 0, 0, 2, 2, 0, 0}, {0, 0, 1, 2, 2, 0, 1}, {0, 1, 1, 2, 1, 0, 1}, {0, 1, 0, 2, 1, 0, 0}}},
};

// The cylinder's geometry at its N + 1 stations.
struct CylinderShape {
  long double Rx, Ry, Rz, RatioX, RatioY, Ns;
  long double A0, A1;

  Point3 Bottom(long double h) const { return {Rx * std::cos(h), Ry * std::sin(h), 0}; }
  Point3 Top(long double h) const { return {RatioX * Rx * std::cos(h), RatioY * Ry * std::sin(h), Rz}; }
  long double RimDistance(long double h) const { return std::hypot(Rx * std::cos(h), Ry * std::sin(h)); }
};

long double Distance(const Point3& a, const Point3& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y) + (a.Z - b.Z) * (a.Z - b.Z));
}

void Vertex(const Point3& p) { gl().glVertex3f(F(p.X), F(p.Y), F(p.Z)); }

}  // namespace

void DrawCube(DrawingFrame& f) {
  f.ReadRadius(2);
  const long double ns = BeginSolid(f, f.NormalSign());
  const long double rx = f.D.RadiusX, ry = f.D.RadiusY, rz = f.D.RadiusZ;
  gl().glEdgeFlag(kEdgeOn);
  f.Check(140);
  // Read before glBegin: a bad value must not leave the list inside it.
  const bool hollow = f.FieldBool(kwHollow, false);
  gl().glBegin(GL_QUADS);
  for (const CubeFace& face : kCubeFaces) {
    if (hollow && !face.Side) continue;
    const float n = F(ns * face.NormalSign);
    gl().glNormal3f(face.NormalAxis == 0 ? n : 0, face.NormalAxis == 1 ? n : 0, face.NormalAxis == 2 ? n : 0);
    for (const CubeFace::Corner& c : face.Corners)
      CubeVertex(f, c.X * rx, c.Y * ry, c.Z * rz, c.URx * rx + c.URy * ry, c.VRy * ry + c.VRz * rz);
  }
  gl().glEnd();
}

void DrawCylinder(DrawingFrame& f) {
  f.ReadRadius(2);
  const long double ratio = f.FieldFloat(kwRatio, 1);
  const long double ratioX = f.FieldFloat(kwRatiox, ratio);
  const long double ratioY = f.FieldFloat(kwRatioy, ratioX);
  const long double ns = BeginSolid(f, f.NormalSign());
  const DrawingState& d = f.D;
  const CylinderShape c{d.RadiusX, d.RadiusY, d.RadiusZ, ratioX, ratioY, ns, d.RangeFrom, d.RangeTo};
  const int32_t n = d.PolyPrecision;
  const int32_t rangeMode = d.RangeMode;

  // The wall's slope from the mean radius and the mean ratio.
  const long double meanRadius = (c.Rx + c.Ry) / 2, meanRatio = (c.RatioX + c.RatioY) / 2;
  const long double run = (1 - meanRatio) * meanRadius;
  long double phi = run == 0 ? kPi / 2 : std::atan(c.Rz / run);
  if (phi < 0) phi += kPi;

  gl().glEdgeFlag(kEdgeOn);
  f.Check(141);
  const bool hollow = f.FieldBool(kwHollow, false);

  // Stations and the arc parameter (chord lengths along the bottom rim).
  const long double step = (c.A1 - c.A0) / n;
  std::vector<long double> h(static_cast<size_t>(n) + 1), s(static_cast<size_t>(n) + 1);
  for (size_t k = 0; k <= static_cast<size_t>(n); ++k) {
    h[k] = c.A0 + static_cast<long double>(k) * step;
    s[k] = k == 0 ? 0 : s[k - 1] + Distance(c.Bottom(h[k]), c.Bottom(h[k - 1]));
  }
  const long double sEnd = s.back();
  const long double sChord = sEnd + Distance(c.Bottom(c.A0), c.Bottom(c.A1));

  if (!hollow) {
    gl().glNormal3f(0, 0, F(-ns));
    f.Check(142);
    gl().glBegin(GL_QUAD_STRIP);
    for (size_t k = 0; k < h.size(); ++k) {
      f.TexCoord(s[k], 0);
      Vertex(c.Bottom(h[k]));
      f.TexCoord(s[k], -c.RimDistance(h[k]));
      Vertex({0, 0, 0});
    }
    if (rangeMode == 1) {
      f.TexCoord(sChord, 0);
      Vertex(c.Bottom(c.A0));
      f.TexCoord(sChord, -c.RimDistance(c.A0));
      Vertex({0, 0, 0});
    }
    gl().glEnd();

    gl().glNormal3f(0, 0, F(ns));
    f.Check(143);
    gl().glBegin(GL_QUAD_STRIP);
    for (size_t k = 0; k < h.size(); ++k) {
      f.TexCoord(s[k], c.Rz);
      Vertex(c.Top(h[k]));
      f.TexCoord(s[k], c.Rz + c.RimDistance(h[k]));
      Vertex({0, 0, c.Rz});
    }
    if (rangeMode == 1) {
      f.TexCoord(sChord, c.Rz);
      Vertex(c.Top(c.A0));
      f.TexCoord(sChord, c.Rz + c.RimDistance(c.A0));
      Vertex({0, 0, c.Rz});
    }
    gl().glEnd();
  }

  auto horizontalNormal = [ns](long double angle) {
    gl().glNormal3f(F(ns * std::cos(angle)), F(ns * std::sin(angle)), 0);
  };
  gl().glBegin(GL_QUAD_STRIP);
  for (size_t k = 0; k < h.size(); ++k) {
    f.TexCoord(s[k], 0);
    gl().glNormal3f(F(ns * std::sin(phi) * std::cos(h[k])), F(ns * std::sin(phi) * std::sin(h[k])),
                    F(ns * std::cos(phi)));
    Vertex(c.Bottom(h[k]));
    f.TexCoord(s[k], c.Rz);
    Vertex(c.Top(h[k]));
  }
  if (rangeMode == 1) {
    // The flat face from the end back to the start faces away from the
    // axis, across the middle of the range.
    f.TexCoord(sChord, 0);
    horizontalNormal((c.A0 + c.A1) / 2 + kPi);
    Vertex(c.Bottom(c.A0));
    f.TexCoord(sChord, c.Rz);
    Vertex(c.Top(c.A0));
  } else if (rangeMode == 2) {
    const long double s1 = sEnd + c.RimDistance(c.A1);
    f.TexCoord(s1, 0);
    horizontalNormal(c.A1 + kPi / 2);
    Vertex({0, 0, 0});
    f.TexCoord(s1, c.Rz);
    Vertex({0, 0, c.Rz});
    const long double s2 = s1 + c.RimDistance(c.A0);
    f.TexCoord(s2, 0);
    horizontalNormal(c.A0 - kPi / 2);
    Vertex(c.Bottom(c.A0));
    f.TexCoord(s2, c.Rz);
    Vertex(c.Top(c.A0));
  }
  gl().glEnd();

  if (!hollow) {
    gl().glNormal3f(0, 0, 1);
    f.Check(144);
  }
}

void DrawSphere(DrawingFrame& f) {
  f.ReadRadius(2);
  const long double ns = BeginSolid(f, f.NormalSign());
  const DrawingState& d = f.D;
  // Compared in degrees, so that exactly 180 passes.
  const long double fromDegrees = f.FieldFloat(kwRangevFromangle, 0);
  const long double toDegrees = f.FieldFloat(kwRangevToangle, 180);
  if (!(fromDegrees >= 0 && fromDegrees <= 180 && toDegrees >= 0 && toDegrees <= 180))
    DrawingError(f.S, u"sphere-rangev");
  const long double t0 = fromDegrees * kPi / 180, t1 = toDegrees * kPi / 180;

  gl().glEdgeFlag(kEdgeOn);
  f.Check(145);
  gl().glScalef(F(d.RadiusX), F(d.RadiusY), F(d.RadiusZ));
  if (d.TextureApplied) {
    gl().glMatrixMode(GL_TEXTURE);
    gl().glLoadIdentity();
    gl().glScalef(F(d.RadiusX * d.InverseScaleX), F(d.RadiusY * d.InverseScaleY), 1);
    gl().glRotatef(F(d.TextureSpinDegrees), 0, 0, 1);
    gl().glMatrixMode(GL_MODELVIEW);
  }
  gl().DrawSphereBands(d.PolyPrecision, static_cast<GLdouble>(ns), static_cast<GLdouble>(d.RangeFrom),
                       static_cast<GLdouble>(d.RangeTo), static_cast<GLdouble>(t0), static_cast<GLdouble>(t1));
}
