#pragma once
// The state one drawing primitive keeps from its entry to its exit (see
// GraphixLib.h). It lives in Graphics, so that every interpreter has its own.

#include <array>
#include <cstdint>
#include <string>

class TAtom;

// The state of the primitive that runs, from its entry to its exit. One per
// Graphics; every entry starts it afresh.
struct DrawingState {
  TAtom* DrawingObject = nullptr;     // the object whose fields are read
  std::u16string DrawingObjectName;   // its name
  TAtom* LastField = nullptr;         // the field atom the last read found (null: none)
  long double RadiusX = 1, RadiusY = 1, RadiusZ = 1;  // set by ReadRadius
  long double CenterX = 0, CenterY = 0, CenterZ = 0;  // set by Orient (and DRAWPOINT)
  bool ColorHasAlpha = false;         // the last ColorDef read an alpha other than 255
  int32_t PolyPrecision = 32;         // 2..255
  int32_t PolyMode = 1;               // 0 points, 1 outlines, 2 filled
  long double RangeFrom = 0;          // radians
  long double RangeTo = 0;            // radians (PolyStyle sets 2 pi by default)
  int32_t RangeMode = 0;              // 0 open, 1 closed by a chord, 2 closed through the centre
  bool LightingOn = false;
  bool TextureApplied = false;        // a texture is bound for this primitive
  TAtom* TextureAtom = nullptr;       // the value of texture
  // The texture transform: the scales' reciprocals, the object's spin and
  // the texture's spin (degrees, radians, sine, cosine).
  long double InverseScale = 1, InverseScaleX = 1, InverseScaleY = 1;
  long double Spin = 0;
  long double TextureSpinDegrees = 0, TextureSpin = 0, TextureSpinSin = 0, TextureSpinCos = 1;
  std::array<uint32_t, 32> PolygonStippleMask{};
  uint32_t LastGLError = 0;           // the last glGetError here
};
