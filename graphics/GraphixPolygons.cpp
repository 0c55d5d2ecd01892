// Polygons through any number of points and quadrilaterals through four,
// with per-point colours and normals (given or computed from the
// neighbours) and textures.

#include <GL/gl.h>

#include <cmath>
#include <optional>
#include <unordered_map>
#include <vector>

#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr GLboolean kEdgeOn = 0xFF;

float F(long double x) { return static_cast<float>(x); }

struct PolygonPoint {
  Point3 Position;
  std::optional<std::array<GLubyte, 4>> Colour;
  std::optional<Point3> Normal;  // the point's own normal, when x, y and z are all given
};

// The number k of a child named "#" and k in decimal (no leading zero);
// 0 for any other name.
size_t PointNumber(const std::u16string& name) {
  if (name.size() < 2 || name[0] != u'#' || name[1] == u'0') return 0;
  size_t k = 0;
  for (size_t i = 1; i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9' || k > SIZE_MAX / 20) return 0;
    k = k * 10 + static_cast<size_t>(name[i] - u'0');
  }
  return k;
}

// The children "#1", "#2", ... of the points record in order, up to the
// first number missing (or the limit). Of two children with one name the
// newer one counts, as a look-up by name finds it.
std::vector<TAtom*> PointChildren(TAtom* points, size_t limit) {
  std::unordered_map<size_t, TAtom*> byNumber;
  if (IsAtom(points))
    for (TAtom* child = points->FirstChild; child != nullptr; child = child->NextSibling)
      if (const size_t k = PointNumber(child->Text); k != 0) byNumber.try_emplace(k, child);
  std::vector<TAtom*> ordered;
  for (size_t k = 1; k <= limit; ++k) {
    const auto found = byNumber.find(k);
    if (found == byNumber.end()) break;
    ordered.push_back(found->second);
  }
  return ordered;
}

std::optional<std::array<GLubyte, 4>> PointColour(TStructure& s, TAtom* point) {
  TAtom* colour = s.FindPath(point, s.Keyword(kwColor));
  if (colour == nullptr) return std::nullopt;
  auto channel = [&](Keyword k, std::optional<int32_t> fallback) -> int32_t {
    TAtom* field = s.FindPath(colour, s.Keyword(k));
    if (field == nullptr) {
      if (!fallback) MissingValueError(s);
      return *fallback;
    }
    return IntegerOf(s, field->Left);
  };
  const int32_t red = channel(kwX, std::nullopt), green = channel(kwY, std::nullopt);
  const int32_t blue = channel(kwZ, std::nullopt), alpha = channel(kwHash1, 255);
  for (int32_t c : {red, green, blue, alpha})
    if (c < 0 || c > 255) DrawingError(s, u"polygon-points-color");
  return std::array<GLubyte, 4>{static_cast<GLubyte>(red), static_cast<GLubyte>(green), static_cast<GLubyte>(blue),
                                static_cast<GLubyte>(alpha)};
}

std::optional<Point3> PointNormal(TStructure& s, TAtom* point) {
  TAtom* normal = s.FindPath(point, s.Keyword(kwNormal));
  if (normal == nullptr) return std::nullopt;
  TAtom* x = s.FindPath(normal, s.Keyword(kwX));
  TAtom* y = s.FindPath(normal, s.Keyword(kwY));
  TAtom* z = s.FindPath(normal, s.Keyword(kwZ));
  if (x == nullptr || y == nullptr || z == nullptr) return std::nullopt;
  return Point3{NumberOf(s, x->Left), NumberOf(s, y->Left), NumberOf(s, z->Left)};
}

// Every point is read and checked before glBegin, so that an error never
// leaves a list inside glBegin.
std::vector<PolygonPoint> ReadPoints(DrawingFrame& f, size_t limit, bool ownNormals) {
  TStructure& s = f.S;
  std::vector<PolygonPoint> points;
  for (TAtom* child : PointChildren(f.FindField(kwPoints), limit)) {
    PolygonPoint p;
    TAtom* x = s.FindPath(child, s.Keyword(kwX));
    if (x == nullptr) DrawingError(s, u"polygon-points");
    TAtom* y = s.FindPath(child, s.Keyword(kwY));
    if (y == nullptr) DrawingError(s, u"polygon-points");
    TAtom* z = s.FindPath(child, s.Keyword(kwZ));
    p.Position = {NumberOf(s, x->Left), NumberOf(s, y->Left), z != nullptr ? NumberOf(s, z->Left) : 0};
    p.Colour = PointColour(s, child);
    if (ownNormals) p.Normal = PointNormal(s, child);
    points.push_back(std::move(p));
  }
  return points;
}

GLenum PrimitiveOfMode(int32_t mode) {
  switch (mode) {
    case 0: return GL_POINTS;
    case 1: return GL_LINE_LOOP;
    default: return GL_POLYGON;
  }
}

// The normal at point q from its neighbours (cyclically), scaled by the
// normal sign; none for collinear neighbours (the previous one stays).
void ComputedNormal(const std::vector<PolygonPoint>& points, size_t q, long double ns) {
  const size_t n = points.size();
  const Point3& p = points[(q + n - 1) % n].Position;
  const Point3& here = points[q].Position;
  const Point3& r = points[(q + 1) % n].Position;
  const Point3 u{here.X - p.X, here.Y - p.Y, here.Z - p.Z};
  const Point3 v{here.X - r.X, here.Y - r.Y, here.Z - r.Z};
  const Point3 normal{u.Y * v.Z - u.Z * v.Y, u.Z * v.X - u.X * v.Z, u.X * v.Y - u.Y * v.X};
  const long double g =
      std::sqrt(normal.X * normal.X + normal.Y * normal.Y + normal.Z * normal.Z) * ns;
  if (g == 0 || !std::isfinite(g)) return;
  gl().glNormal3f(F(normal.X / g), F(normal.Y / g), F(normal.Z / g));
}

void PointColourCall(const PolygonPoint& p) {
  if (p.Colour) gl().glColor4ub((*p.Colour)[0], (*p.Colour)[1], (*p.Colour)[2], (*p.Colour)[3]);
}

void BeginPolygonFrame(DrawingFrame& f) {
  f.Orient();
  f.ColorDef(0x00FF00);
  f.PointStyle();
  f.LineStyle();
  f.PolyStyle();
}

}  // namespace

void DrawPolygon(DrawingFrame& f) {
  BeginPolygonFrame(f);
  const long double ns = f.NormalSign();
  const std::vector<PolygonPoint> points = ReadPoints(f, SIZE_MAX, true);
  if (points.size() < 3) DrawingError(f.S, u"polygon-count");
  gl().glBegin(PrimitiveOfMode(f.D.PolyMode));
  gl().glEdgeFlag(kEdgeOn);
  for (size_t q = 0; q < points.size(); ++q) {
    const PolygonPoint& p = points[q];
    PointColourCall(p);
    if (p.Normal)
      gl().glNormal3f(F(p.Normal->X), F(p.Normal->Y), F(p.Normal->Z));
    else
      ComputedNormal(points, q, ns);
    f.TexCoord(p.Position.X, p.Position.Y);
    gl().glVertex3f(F(p.Position.X), F(p.Position.Y), F(p.Position.Z));
  }
  gl().glEnd();
}

// The whole texture covers the quadrilateral once. GL errors are read once
// after glEnd: glGetError between glBegin and glEnd is itself an error.
void DrawQuadril(DrawingFrame& f) {
  static constexpr long double kCorners[4][2] = {{1, 0}, {1, 1}, {0, 1}, {0, 0}};
  BeginPolygonFrame(f);
  const long double ns = f.NormalSign();
  // Points after the fourth are not read.
  const std::vector<PolygonPoint> four = ReadPoints(f, 4, false);
  if (four.size() != 4) DrawingError(f.S, u"quadrille-count");
  gl().glBegin(PrimitiveOfMode(f.D.PolyMode));
  gl().glEdgeFlag(kEdgeOn);
  for (size_t q = 0; q < four.size(); ++q) {
    PointColourCall(four[q]);
    ComputedNormal(four, q, ns);
    f.TexCoord(kCorners[q][0], kCorners[q][1]);
    gl().glVertex3f(F(four[q].Position.X), F(four[q].Position.Y), F(four[q].Position.Z));
  }
  gl().glEnd();
  f.Check(153);
}
