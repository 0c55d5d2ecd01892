// The drawing-object and GL state exports, entered in the interpreter's
// registry whenever a Graphics is made.

#include "core/Exports.h"
#include "core/Trans.h"
#include "graphics/GraphixLib.h"

namespace {

// A drawing primitive as an export: its frame around the drawing; an error
// whose raise was suppressed ends it with the empty list.
template <void (*Draw)(DrawingFrame&)>
TAtom* DrawingExport(TInterpreter& in) {
  try {
    DrawingFrame frame(in);
    Draw(frame);
  } catch (const DrawingStopped&) {
  }
  return nullptr;
}

struct GraphixExport {
  int32_t Ordinal;
  TPrimitive Routine;
  bool KeepsNoCells;
};

// CLEARCOLOR pumps messages and STARTOPENGLRECORDING repaints (running
// drawing code): both may let program code see their cells.
constexpr GraphixExport kGraphixExports[] = {
    {exDRAWPOINT, DrawingExport<DrawPoint>, true},
    {exDRAWSEGMENT, DrawingExport<DrawSegment>, true},
    {exDRAWRAY, DrawingExport<DrawRay>, true},
    {exDRAWLINE, DrawingExport<DrawLine>, true},
    {exDRAWISOGON, DrawingExport<DrawIsogon>, true},
    {exDRAWPARABOLA, DrawingExport<DrawParabola>, true},
    {exDRAWHYPERBOLA, DrawingExport<DrawHyperbola>, true},
    {exDRAWRECTANGLE, DrawingExport<DrawRectangle>, true},
    {exDRAWCUBE, DrawingExport<DrawCube>, true},
    {exDRAWCYLINDER, DrawingExport<DrawCylinder>, true},
    {exDRAWSPHERE, DrawingExport<DrawSphere>, true},
    {exDRAWPOLYGON, DrawingExport<DrawPolygon>, true},
    {exDRAWQUADRIL, DrawingExport<DrawQuadril>, true},
    {exADDCLIPPLANE, AddClipPlane, true},
    {exREMOVECLIPPLANE, RemoveClipPlane, true},
    {exCLEARCOLOR, ClearColor, false},
    {exFOG, Fog, true},
    {exFLUSH, Flush, true},
    {exENABLEDEPTHTEST, EnableDepthTest, true},
    {exDISABLEDEPTHTEST, DisableDepthTest, true},
    {exCULLBACKFACES, CullBackFaces, true},
    {exCULLFRONTFACES, CullFrontFaces, true},
    {exCULLNOFACES, CullNoFaces, true},
    {exSTARTOPENGLRECORDING, StartOpenGLRecording, false},
    {exSTOPOPENGLRECORDING, StopOpenGLRecording, true},
};

}  // namespace

void InitGraphixLib(TInterpreter& in) {
  for (const GraphixExport& entry : kGraphixExports) in.Exports.Register(entry.Ordinal, entry.Routine, entry.KeepsNoCells);
}
