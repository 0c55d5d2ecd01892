#pragma once
// Drawing objects. Every drawing primitive (DRAWPOINT, DRAWCUBE, ...) draws
// the object whose ondrawimage code is running and takes its parameters as
// named fields of that object: radius, color, width, precision and so on.
// This is the frame they share: finding and entering the drawing object,
// reading fields with the visible-name fallback (the object, then the
// calling scopes and the globals), the object's placement, its colour, the
// point, line and polygon styles with stipples and textures, and the reset
// of those styles on every exit. The global GL state primitives (clip
// planes, fog, clear colour, depth test, culling, recording) live here too.
//
// A primitive's life: DrawingFrame (the entry), field reads, Orient,
// ColorDef, the styles it needs, its drawing; the frame's destructor resets
// the styles and leaves, also when a field error ends the primitive.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Trans.h"
#include "core/Vars.h"
#include "graphics/DrawingState.h"
#include "graphics/Graphics.h"

class TAtom;

// A field name: a keyword (its text is read at each use, so a language
// switch renames the field) or a fixed literal name ("far", "near", "#1").
class FieldName {
public:
  FieldName(Keyword keyword) : keyword_(keyword) {}
  FieldName(const char16_t* literal) : literal_(literal) {}
  FieldName(std::u16string_view literal) : literal_(literal) {}
  std::u16string_view Text(const TStructure& s) const;

private:
  Keyword keyword_ = kKeywordCount;
  std::u16string_view literal_;
};

// Thrown after a primitive's error whose raise was suppressed (no current
// line): the primitive ends all the same, nothing more is drawn, and its
// export answers the empty list. Not a std::exception: only the exports
// catch it.
struct DrawingStopped {};

// Raises a primitive error by key (the key is message and topic); when the
// raise is suppressed, throws DrawingStopped instead.
[[noreturn]] void DrawingError(TStructure& s, std::u16string_view key);
// The error of a missing value as TAtom::First raises it ("first").
[[noreturn]] void MissingValueError(TStructure& s);

// Checked conversions of a field's value: a value that does not convert
// raises the conversion's own error (or ends the primitive when that is
// suppressed).
long double NumberOf(TStructure& s, const TAtom* value);
int32_t IntegerOf(TStructure& s, const TAtom* value);
bool BooleanOf(TStructure& s, const TAtom* value);
std::u16string StringOf(TStructure& s, const TAtom* value);

// Reads glGetError; a nonzero error is printed as "OpenGL Error %d/%d" with
// the site number, or "OpenGL Error %d/%s" with the tag. Drawing goes on.
void CheckGL(Graphics& g, int site);
void CheckGL(Graphics& g, std::u16string_view tag);
// Prints the text and the "begin-end=%d" line.
void ReportGLError(Graphics& g, const std::u16string& text);

// The stipple bits of a text, most significant first: bit k (1..n) is 1
// when the code-page byte of the character at k mod length is even. ""
// counts as "Xo".
uint32_t StipplePatternBits(const std::u16string& text, int n, int codePage);

// Moves p along the line from the anchor a through p to the nearest face of
// the box -32000..32000 it reaches; p stays when it equals a.
struct Point3 {
  long double X = 0, Y = 0, Z = 0;
};
Point3 FarPoint(const Point3& p, const Point3& a);

// One drawing primitive's frame: the graphics entry (the plane's context or
// the null table), the drawing object found and entered, the model-view
// matrix pushed. The destructor resets the styles, pops what it pushed and
// leaves the frame it entered, on every exit, and never throws.
class DrawingFrame {
public:
  explicit DrawingFrame(TInterpreter& in);
  ~DrawingFrame();
  DrawingFrame(const DrawingFrame&) = delete;
  DrawingFrame& operator=(const DrawingFrame&) = delete;

  TInterpreter& In;
  TStructure& S;
  Graphics& G;
  DrawingState& D;

  // --- field readers: each stores the atom found in LastField ---------------------
  // The field found by the visible-name rule from the object's frame; null
  // when there is none.
  TAtom* FindField(FieldName name);
  long double FieldFloat(FieldName name, long double fallback);
  int32_t FieldInt(FieldName name, int32_t fallback);
  bool FieldBool(FieldName name, bool fallback);
  std::u16string FieldString(FieldName name, const std::u16string& fallback);
  // A path below the given atom.
  long double FieldFloatIn(TAtom* atom, FieldName name, long double fallback);
  // A path below the given atom; missing raises "getfloat".
  long double FieldFloatRequired(TAtom* atom, FieldName name);
  struct Vector {
    long double X = 0, Y = 0, Z = 0;
    bool Found = false;
  };
  // The field's x and y (required, "getfloat") and z (default 0); not
  // found: all 0.
  Vector FieldVector(FieldName name);
  std::array<float, 3> FieldVectorSingle(FieldName name);
  // A path from the current frame's owner; x and y required ("getfloat").
  Vector FieldPoint(FieldName name);
  // RadiusX from radiusx, else radius, else 1; for n >= 1 RadiusY, for
  // n >= 2 RadiusZ likewise, falling back to RadiusX.
  void ReadRadius(int n);
  // normal times subnormal: the sign of every normal a primitive emits.
  long double NormalSign();

  // --- placement, colour and styles ------------------------------------------------
  void Orient();
  // The default colour is 0xBBGGRR (red the low byte).
  void ColorDef(uint32_t defaultColour);
  void PointStyle();
  void LineStyle();
  void PolyStyle();
  void ApplyTexture();
  void ResetStyles();
  // The texture coordinate of the surface point (u, v) while a texture is
  // applied: turned by texture.spin, divided by the scales.
  void TexCoord(long double u, long double v);

  void Check(int site) { CheckGL(G, site); }
  void Check(std::u16string_view tag) { CheckGL(G, tag); }

private:
  void FindDrawingObject();

  GraphicsEntry entry_;
  TContext* enteredFrame_ = nullptr;  // the frame entered on the object (null: none)
  bool pushed_ = false;               // the model-view matrix was pushed
};

// --- the drawing primitives (each returns the empty list) ------------------------------
void DrawPoint(DrawingFrame& f);
void DrawSegment(DrawingFrame& f);
void DrawRay(DrawingFrame& f);
void DrawLine(DrawingFrame& f);
void DrawIsogon(DrawingFrame& f);
void DrawParabola(DrawingFrame& f);
void DrawHyperbola(DrawingFrame& f);
void DrawRectangle(DrawingFrame& f);
void DrawCube(DrawingFrame& f);
void DrawCylinder(DrawingFrame& f);
void DrawSphere(DrawingFrame& f);
void DrawPolygon(DrawingFrame& f);
void DrawQuadril(DrawingFrame& f);

// --- the global GL state primitives (GraphixState.cpp) ------------------------------------
TAtom* AddClipPlane(TInterpreter& in);
TAtom* RemoveClipPlane(TInterpreter& in);
TAtom* ClearColor(TInterpreter& in);
TAtom* Fog(TInterpreter& in);
TAtom* Flush(TInterpreter& in);
TAtom* EnableDepthTest(TInterpreter& in);
TAtom* DisableDepthTest(TInterpreter& in);
TAtom* CullBackFaces(TInterpreter& in);
TAtom* CullFrontFaces(TInterpreter& in);
TAtom* CullNoFaces(TInterpreter& in);
TAtom* StartOpenGLRecording(TInterpreter& in);
TAtom* StopOpenGLRecording(TInterpreter& in);

// Registers the drawing-object and GL state exports. Called for every
// Graphics as it is made.
void InitGraphixLib(TInterpreter& in);
