// The frame every drawing primitive shares: the drawing object, field
// reads, placement, colour, styles, textures and the GL error report.

#include <GL/gl.h>

#include <cmath>
#include <numbers>

#include "core/LogoLib.h"
#include "core/Text.h"
#include "graphics/GraphixLib.h"
#include "graphics/ZavOpenGL.h"

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr long double kDegree = kPi / 180;

void EnableBlending() {
  gl().glEnable(GL_BLEND);
  gl().glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void Switch(GLenum capability, bool on) {
  if (on)
    gl().glEnable(capability);
  else
    gl().glDisable(capability);
}

float F(long double x) { return static_cast<float>(x); }

}  // namespace

// --- errors and conversions -----------------------------------------------------------

std::u16string_view FieldName::Text(const TStructure& s) const {
  if (keyword_ != kKeywordCount) return s.Keyword(keyword_);
  return literal_;
}

void DrawingError(TStructure& s, std::u16string_view key) {
  RaisePrimitiveError(s, key);
  throw DrawingStopped{};
}

void MissingValueError(TStructure& s) {
  TAtom::First(s, nullptr);
  throw DrawingStopped{};
}

long double NumberOf(TStructure& s, const TAtom* value) {
  long double x = 0;
  if (TAtom::TryNumber(value, x)) return x;
  TAtom::AsNumber(s, value);
  throw DrawingStopped{};
}

int32_t IntegerOf(TStructure& s, const TAtom* value) {
  int32_t result = 0;
  if (WholeNumberValue(s, value, result)) return result;
  throw DrawingStopped{};
}

bool BooleanOf(TStructure& s, const TAtom* value) {
  if (TAtom::IsTrue(s, value)) return true;
  if (TAtom::IsFalse(s, value)) return false;
  TAtom::AsBoolean(s, value);
  throw DrawingStopped{};
}

std::u16string StringOf(TStructure& s, const TAtom* value) {
  if (TAtom::IsWordOrNumber(value)) return TAtom::AsString(s, value);
  TAtom::AsString(s, value);
  throw DrawingStopped{};
}

void ReportGLError(Graphics& g, const std::u16string& text) { PrintGLError(g.S, text); }

void CheckGL(Graphics& g, int site) {
  g.Drawing.LastGLError = gl().glGetError();
  if (g.Drawing.LastGLError != 0)
    ReportGLError(g, FormatMessage(u"OpenGL Error %d/%d", {static_cast<long long>(g.Drawing.LastGLError),
                                                           static_cast<long long>(site)}));
}

void CheckGL(Graphics& g, std::u16string_view tag) {
  g.Drawing.LastGLError = gl().glGetError();
  if (g.Drawing.LastGLError != 0)
    ReportGLError(g, FormatMessage(u"OpenGL Error %d/%s",
                                   {static_cast<long long>(g.Drawing.LastGLError), std::u16string(tag)}));
}

// --- pure helpers -----------------------------------------------------------------------

uint32_t StipplePatternBits(const std::u16string& text, int n, int codePage) {
  const std::string bytes = Utf16ToCodePage(text.empty() ? std::u16string_view(u"Xo") : text, codePage);
  uint32_t bits = 0;
  for (int k = 1; k <= n; ++k) {
    const auto byte = static_cast<uint8_t>(bytes[static_cast<size_t>(k) % bytes.size()]);
    bits = (bits << 1) | ((byte % 2 == 0) ? 1u : 0u);
  }
  return bits;
}

Point3 FarPoint(const Point3& p, const Point3& a) {
  constexpr long double kFar = 32000;
  auto factor = [](long double pk, long double ak) -> long double {
    if (ak < pk) return (kFar - ak) / (pk - ak);
    if (ak > pk) return (-kFar - ak) / (pk - ak);
    return 0;
  };
  const long double tx = factor(p.X, a.X), ty = factor(p.Y, a.Y), tz = factor(p.Z, a.Z);
  // The smallest nonzero factor by size.
  long double t = tx;
  if (std::fabs(ty) > 0 && (std::fabs(ty) < std::fabs(t) || t == 0)) t = ty;
  if (std::fabs(tz) > 0 && (std::fabs(tz) < std::fabs(t) || t == 0)) t = tz;
  if (!(std::fabs(t) > 0)) return p;
  return {a.X + t * (p.X - a.X), a.Y + t * (p.Y - a.Y), a.Z + t * (p.Z - a.Z)};
}

// --- entry and exit -----------------------------------------------------------------------

DrawingFrame::DrawingFrame(TInterpreter& in)
    : In(in), S(in.S), G(Graphics::Of(in)), D(G.Drawing), entry_(Graphics::Of(in)) {
  D = DrawingState{};
  FindDrawingObject();
  try {
    gl().glPushMatrix();
    pushed_ = true;
    gl().glEnable(GL_AUTO_NORMAL);
    gl().glEnable(GL_NORMALIZE);
    Check(u"EnterProc-502");
  } catch (...) {
    // The destructor does not run for a half-made frame.
    if (pushed_) gl().glPopMatrix();
    if (S.Frame() == enteredFrame_) S.LeaveFrame();
    throw;
  }
}

DrawingFrame::~DrawingFrame() {
  // Runs while an error unwinds too: nothing here may throw (a failing
  // print is dropped), and only what the entry did is undone.
  try {
    ResetStyles();
  } catch (...) {
  }
  try {
    if (pushed_) {
      gl().glPopMatrix();
      Check(u"ExitProc-507");
    }
  } catch (...) {
  }
  if (enteredFrame_ != nullptr && S.Frame() == enteredFrame_) S.LeaveFrame();
}

// The object is the owner of the frame that called the primitive (a
// primitive makes no frame of its own): the object itself when the token
// stands in its ondrawimage body, whose call frame is entered on the object.
// An owner that is an ondrawimage method stands for its object; without a
// calling frame the current frame's owner is taken.
void DrawingFrame::FindDrawingObject() {
  TContext* frame = S.Frame();
  TAtom* owner = nullptr;
  if (frame != nullptr) owner = frame->Parent ? frame->Parent->Owner : frame->Owner;
  if (IsAtom(owner) && S.SameName(owner->Text, S.Keyword(kwOndrawimage)) && IsAtom(owner->Parent))
    owner = owner->Parent;
  S.EnterFrame(owner);
  enteredFrame_ = S.Frame();
  D.DrawingObject = owner;
  D.DrawingObjectName = IsAtom(owner) ? owner->Text : std::u16string();
}

// --- field readers ---------------------------------------------------------------------------

TAtom* DrawingFrame::FindField(FieldName name) {
  D.LastField = S.FindVisible(name.Text(S));
  return D.LastField;
}

long double DrawingFrame::FieldFloat(FieldName name, long double fallback) {
  TAtom* field = FindField(name);
  return field != nullptr ? NumberOf(S, field->Left) : fallback;
}

int32_t DrawingFrame::FieldInt(FieldName name, int32_t fallback) {
  TAtom* field = FindField(name);
  return field != nullptr ? IntegerOf(S, field->Left) : fallback;
}

bool DrawingFrame::FieldBool(FieldName name, bool fallback) {
  TAtom* field = FindField(name);
  return field != nullptr ? BooleanOf(S, field->Left) : fallback;
}

std::u16string DrawingFrame::FieldString(FieldName name, const std::u16string& fallback) {
  TAtom* field = FindField(name);
  return field != nullptr ? StringOf(S, field->Left) : fallback;
}

long double DrawingFrame::FieldFloatIn(TAtom* atom, FieldName name, long double fallback) {
  D.LastField = IsAtom(atom) ? S.FindPath(atom, name.Text(S)) : nullptr;
  return D.LastField != nullptr ? NumberOf(S, D.LastField->Left) : fallback;
}

long double DrawingFrame::FieldFloatRequired(TAtom* atom, FieldName name) {
  D.LastField = IsAtom(atom) ? S.FindPath(atom, name.Text(S)) : nullptr;
  if (D.LastField == nullptr) DrawingError(S, u"getfloat");
  return NumberOf(S, D.LastField->Left);
}

DrawingFrame::Vector DrawingFrame::FieldVector(FieldName name) {
  TAtom* field = FindField(name);
  if (field == nullptr) return {};
  Vector v;
  v.X = FieldFloatRequired(field, kwX);
  v.Y = FieldFloatRequired(field, kwY);
  v.Z = FieldFloatIn(field, kwZ, 0);
  v.Found = true;
  D.LastField = field;
  return v;
}

std::array<float, 3> DrawingFrame::FieldVectorSingle(FieldName name) {
  const Vector v = FieldVector(name);
  return {F(v.X), F(v.Y), F(v.Z)};
}

DrawingFrame::Vector DrawingFrame::FieldPoint(FieldName name) {
  TAtom* field = S.FindLocal(name.Text(S));
  if (field == nullptr) DrawingError(S, u"getfloat");
  Vector v;
  v.X = FieldFloatRequired(field, kwX);
  v.Y = FieldFloatRequired(field, kwY);
  v.Z = FieldFloatIn(field, kwZ, 0);
  v.Found = true;
  D.LastField = field;
  return v;
}

void DrawingFrame::ReadRadius(int n) {
  // Each radius: its own field, else radius, else the fallback.
  auto radius = [this](Keyword own, long double fallback) {
    if (FindField(own) != nullptr) return NumberOf(S, D.LastField->Left);
    return FieldFloat(kwRadius, fallback);
  };
  D.RadiusX = radius(kwRadiusx, 1);
  if (n >= 1) D.RadiusY = radius(kwRadiusy, D.RadiusX);
  if (n >= 2) D.RadiusZ = radius(kwRadiusz, D.RadiusX);
}

long double DrawingFrame::NormalSign() { return FieldFloat(kwNormal, 1) * FieldFloat(kwSubnormal, 1); }

// --- placement and colour ----------------------------------------------------------------------

void DrawingFrame::Orient() {
  if (FindField(kwAffine) != nullptr) {
    // A bad affine.p is ignored: its error leaves no trace entry and no
    // message behind.
    const size_t traceLength = S.ErrorTrace.size();
    const std::u16string lastError = S.LastError;
    try {
      const Vector p = FieldVector(kwAffineP);
      if (p.Found) gl().glTranslatef(F(p.X), F(p.Y), F(p.Z));
    } catch (const LanguageError&) {
      TruncateErrorTrace(In, traceLength);
      S.LastError = lastError;
    } catch (const DrawingStopped&) {
    }
    const Vector ax = FieldVector(kwAffineX), ay = FieldVector(kwAffineY), az = FieldVector(kwAffineZ);
    const GLfloat matrix[16] = {F(ax.X), F(ax.Y), F(ax.Z), 0, F(ay.X), F(ay.Y), F(ay.Z), 0,
                                F(az.X), F(az.Y), F(az.Z), 0, 0,       0,       0,       1};
    gl().glMultMatrixf(matrix);
  }
  const Vector center = FieldVector(kwCenter);
  if (center.Found) {
    D.CenterX = center.X;
    D.CenterY = center.Y;
    D.CenterZ = center.Z;
    gl().glTranslatef(F(center.X), F(center.Y), F(center.Z));
    Check(u"Orient-179");
  }
  const Vector focus = FieldVector(kwFocus);
  if (focus.Found) {
    Check(u"Orient-183");
    if (std::fabs(focus.X) + std::fabs(focus.Y) + std::fabs(focus.Z) != 0) {
      // Turns the object's z axis towards the focus direction.
      const long double angle =
          focus.Z == 0 ? 90 : std::atan(std::sqrt(focus.X * focus.X + focus.Y * focus.Y) / focus.Z) / kDegree;
      gl().glRotatef(F(angle), F(-focus.Y), F(focus.X), 0);
      if (focus.Z < 0) gl().glScalef(1, 1, -1);
      Check(u"Orient-186");
    }
  }
  D.Spin = FieldFloat(kwSpin, 0);
  gl().glRotatef(F(D.Spin), 0, 0, 1);
  Check(u"Orient-190");
}

void DrawingFrame::ColorDef(uint32_t defaultColour) {
  D.ColorHasAlpha = false;
  if (TAtom* color = FindField(kwColor)) {
    TAtom* alphaField = S.FindPath(color, S.Keyword(kwHash1));
    const int32_t alpha = alphaField != nullptr ? IntegerOf(S, alphaField->Left) : 255;
    D.ColorHasAlpha = alpha != 255;
    auto channel = [&](Keyword k) {
      TAtom* field = S.FindPath(color, S.Keyword(k));
      if (field == nullptr) DrawingError(S, u"getfloat");
      return IntegerOf(S, field->Left);
    };
    const int32_t red = channel(kwX), green = channel(kwY), blue = channel(kwZ);
    for (int32_t c : {red, green, blue, alpha})
      if (c < 0 || c > 255) DrawingError(S, u"colordef");
    D.LastField = color;
    gl().glColor4ub(static_cast<GLubyte>(red), static_cast<GLubyte>(green), static_cast<GLubyte>(blue),
                    static_cast<GLubyte>(alpha));
  } else {
    gl().glColor3ub(static_cast<GLubyte>(defaultColour & 0xFF), static_cast<GLubyte>((defaultColour >> 8) & 0xFF),
                    static_cast<GLubyte>((defaultColour >> 16) & 0xFF));
  }
  Check(u"ColorDef-202");
}

// --- styles -------------------------------------------------------------------------------------

void DrawingFrame::PointStyle() {
  const long double width = FieldFloat(kwWidth, 3);
  if (!(width >= 1)) DrawingError(S, u"PointStyle");
  gl().glPointSize(F(width));
  Check(10501);
  if (FieldBool(kwAntialias, false)) {
    gl().glEnable(GL_POINT_SMOOTH);
    EnableBlending();
  } else {
    if (D.ColorHasAlpha)
      EnableBlending();
    else
      gl().glDisable(GL_BLEND);
    gl().glDisable(GL_POINT_SMOOTH);
  }
  Check(107);
}

void DrawingFrame::LineStyle() {
  const long double width = FieldFloat(kwWidth, 1);
  if (!(width >= 1)) DrawingError(S, u"LineStyle");
  gl().glLineWidth(F(width));
  Check(106);
  gl().glShadeModel(FieldBool(kwSmooth, false) ? GL_SMOOTH : GL_FLAT);
  Check(10701);
  if (FieldBool(kwAntialias, false)) {
    gl().glEnable(GL_LINE_SMOOTH);
    EnableBlending();
    gl().glDepthFunc(GL_LEQUAL);
  } else {
    gl().glDisable(GL_LINE_SMOOTH);
    if (D.ColorHasAlpha)
      EnableBlending();
    else
      gl().glDisable(GL_BLEND);
  }
  Check(10702);

  const int32_t factor = FieldInt(kwStipple, 1);
  if (factor < 1 || factor > 255) DrawingError(S, u"linestyle-stipple");
  TAtom* pattern = FindField(kwPattern);
  if (pattern == nullptr) {
    gl().glDisable(GL_LINE_STIPPLE);
    gl().glDisable(GL_POLYGON_STIPPLE);
    return;
  }
  TAtom* value = pattern->Left;
  if (TAtom::IsWordOrNumber(value)) {
    const auto bits = static_cast<GLushort>(StipplePatternBits(StringOf(S, value), 16, S.Language.CodePage));
    gl().glEnable(GL_LINE_STIPPLE);
    Check(10801);
    gl().glLineStipple(factor, bits);
    Check(10802);
    return;
  }
  // A list of rows, repeated until there are 32; every row is checked
  // before any stipple call (an empty list has no rows to repeat).
  if (value == nullptr || !TAtom::IsList(value)) DrawingError(S, u"linestyle-pattern-01");
  for (TAtom* cell = value; IsAtom(cell); cell = cell->Right)
    if (!TAtom::IsWordOrNumber(cell->Left)) DrawingError(S, u"linestyle-pattern-02");
  TAtom* cell = value;
  for (uint32_t& row : D.PolygonStippleMask) {
    if (!IsAtom(cell)) cell = value;
    row = StipplePatternBits(StringOf(S, cell->Left), 32, S.Language.CodePage);
    cell = cell->Right;
  }
  GLubyte mask[128];
  for (size_t r = 0; r < 32; ++r)
    for (size_t b = 0; b < 4; ++b) mask[r * 4 + b] = static_cast<GLubyte>(D.PolygonStippleMask[r] >> (8 * b));
  gl().glEnable(GL_POLYGON_STIPPLE);
  Check(109);
  gl().glPolygonStipple(mask);
  Check(110);
}

void DrawingFrame::PolyStyle() {
  D.PolyPrecision = FieldInt(kwPrecision, 32);
  if (D.PolyPrecision < 2 || D.PolyPrecision > 255) DrawingError(S, u"polystyle-precision");
  D.PolyMode = FieldInt(kwMode, 1);
  if (D.PolyMode < 0 || D.PolyMode > 2) DrawingError(S, u"polystyle-mode");
  D.RangeFrom = FieldFloat(kwRangeFromangle, 0) * kDegree;
  D.RangeTo = FieldFloat(kwRangeToangle, 360) * kDegree;
  D.RangeMode = FieldInt(kwRangeMode, 0);
  if (D.RangeMode < 0 || D.RangeMode > 2) DrawingError(S, u"polystyle-range");
  D.TextureApplied = false;

  const bool antialias = FieldBool(kwAntialias, false);
  if (antialias || D.ColorHasAlpha)
    EnableBlending();
  else
    gl().glDisable(GL_BLEND);
  Check(135);
  gl().glShadeModel(FieldBool(kwSmooth, false) ? GL_SMOOTH : GL_FLAT);

  switch (D.PolyMode) {
    case 0:
      Switch(GL_POINT_SMOOTH, antialias);
      gl().glPolygonMode(GL_FRONT_AND_BACK, GL_POINT);
      Check(120);
      return;
    case 1:
      Switch(GL_LINE_SMOOTH, antialias);
      gl().glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
      Check(121);
      return;
    default:
      Switch(GL_POLYGON_SMOOTH, antialias);
      gl().glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
      Check(122);
      break;
  }

  if (FieldBool(kwLight, false)) {
    D.LightingOn = true;
    gl().glEnable(GL_LIGHTING);
    gl().glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, FieldBool(kwLightBidirectional, false) ? 1 : 0);
    Check(123);
    if (FindField(kwShininess) != nullptr) {
      const int32_t shininess = IntegerOf(S, D.LastField->Left);
      if (shininess < 0 || shininess > 128) DrawingError(S, u"polystyle-shininess");
      gl().glEnable(GL_COLOR_MATERIAL);
      GLfloat specular[4] = {F(FieldFloat(kwMaterialSpecularX, 160) / 255),
                             F(FieldFloat(kwMaterialSpecularY, 160) / 255),
                             F(FieldFloat(kwMaterialSpecularZ, 160) / 255), 1};
      if (FindField(kwMaterialSpecularHash1) != nullptr) specular[3] = F(NumberOf(S, D.LastField->Left) / 255);
      for (GLfloat c : specular)
        if (!(c >= -1 && c <= 1)) DrawingError(S, u"polystyle-specular");
      gl().glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, static_cast<GLfloat>(shininess));
      Check(12404);
      gl().glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
      Check(12405);
    } else {
      gl().glEnable(GL_COLOR_MATERIAL);
      gl().glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
      Check(12401);
      const GLfloat noSpecular[4] = {0, 0, 0, 1};
      gl().glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, noSpecular);
      Check(12402);
      gl().glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0);
      Check(12403);
    }
  } else {
    D.LightingOn = false;
  }

  TAtom* texture = FindField(kwTexture);
  D.TextureAtom = texture != nullptr ? texture->Left : nullptr;
  if (D.TextureAtom != nullptr && !TAtom::IsList(D.TextureAtom)) ApplyTexture();
}

// A texture value is a memory block: height and width as 16-bit
// little-endian numbers, then width x height RGBA texels. A block too small
// for the texels its header names binds nothing (reading on would run past
// its end), and so does anything else.
void DrawingFrame::ApplyTexture() {
  TAtom* block = D.TextureAtom;
  if (!TAtom::IsMemoryBlock(block) || block->Object() == nullptr || !(block->Number > 0)) return;
  const auto* bytes = static_cast<const uint8_t*>(block->Object());
  const long double size = block->Number;
  if (size < 4) return;
  const uint32_t height = bytes[0] | (uint32_t{bytes[1]} << 8);
  const uint32_t width = bytes[2] | (uint32_t{bytes[3]} << 8);
  if (width < 1 || height < 1 || size < 4.0L + 4.0L * width * height) return;

  const long double scale = FieldFloat(kwTextureScale, 1);
  const long double scaleX = FieldFloat(kwTextureScalex, scale);
  const long double scaleY = FieldFloat(kwTextureScaley, scale);
  D.InverseScale = 1 / scale;
  D.InverseScaleX = 1 / scaleX;
  D.InverseScaleY = 1 / scaleY;
  D.TextureSpinDegrees = FieldFloat(kwTextureSpin, 0);
  D.TextureSpin = D.TextureSpinDegrees * kDegree;
  D.TextureSpinSin = std::sin(D.TextureSpin);
  D.TextureSpinCos = std::cos(D.TextureSpin);

  gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  Check(111);
  gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  Check(112);
  if (FieldBool(kwTextureSmooth, false)) {
    gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    Check(113);
    gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    Check(114);
  } else {
    gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    Check(115);
    gl().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    Check(116);
  }
  gl().glTexImage2D(GL_TEXTURE_2D, 0, 4, static_cast<GLsizei>(width), static_cast<GLsizei>(height), 0, GL_RGBA,
                    GL_UNSIGNED_BYTE, bytes + 4);
  Check(11701);
  gl().glEnable(GL_TEXTURE_2D);
  Check(118);
  gl().glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(D.LightingOn ? GL_MODULATE : GL_DECAL));
  Check(119);
  D.TextureApplied = true;
}

void DrawingFrame::ResetStyles() {
  gl().glShadeModel(GL_FLAT);
  gl().glDisable(GL_LINE_STIPPLE);
  gl().glDisable(GL_POLYGON_STIPPLE);
  Check(129);
  if (D.TextureApplied) {
    gl().glMatrixMode(GL_TEXTURE);
    gl().glLoadIdentity();
    gl().glDisable(GL_TEXTURE_2D);
    Check(130);
    D.TextureApplied = false;
    gl().glMatrixMode(GL_MODELVIEW);
  }
  if (D.LightingOn) {
    gl().glDisable(GL_LIGHTING);
    Check(131);
    gl().glDisable(GL_COLOR_MATERIAL);
    Check(132);
    D.LightingOn = false;
  }
}

void DrawingFrame::TexCoord(long double u, long double v) {
  if (!D.TextureApplied) return;
  const long double c = D.TextureSpinCos, s = D.TextureSpinSin;
  gl().glTexCoord2f(F((u * c - v * s) * D.InverseScaleX), F((u * s + v * c) * D.InverseScaleY));
}
