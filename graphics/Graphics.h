#pragma once
// The graphics state of one interpreter: the plane it draws on, the scene
// flags, the clear colour, buffering and pacing, the camera and the user
// matrix, the record of which atoms own a display list, the deferral of work
// asked for while a list is being compiled, and the plane events queued
// while events are suspended. It implements the core's graphics hooks.
//
// One Graphics is made beside each TInterpreter and registers itself there
// (TInterpreter::OwnGraphics); routines find it with Graphics::Of.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Host.h"
#include "graphics/DrawingState.h"
#include "graphics/PlaneLink.h"

class TAtom;
class TInterpreter;
class TStructure;

class Graphics : public GraphicsHooks {
public:
  explicit Graphics(TInterpreter& in);
  ~Graphics() override;
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  static Graphics& Of(TInterpreter& in);

  TInterpreter& In;
  TStructure& S;

  // --- the plane ---------------------------------------------------------------
  // The plane while one exists (null: none). The plane sets it, and sets the
  // GL base when its context is made or lost.
  void setPlane(PlaneLink* plane) { plane_ = plane; }
  PlaneLink* plane() const { return plane_; }
  bool planeExists() const { return plane_ != nullptr && plane_->exists(); }
  // A new base (a new context, or none) has no lists: the record empties.
  void ForgetAllLists();

  // --- scene flags ---------------------------------------------------------------
  bool PaintSuspended = false;  // lists are not rebuilt, objects not drawn on demand
  bool InRedraw = false;        // RedrawScene's re-entry guard ...
  bool RedrawAgain = false;     // ... and its request for one more pass
  bool InRegenerate = false;    // the same pair for PaintResume and RegenerateImage
  bool RegenerateAgain = false;
  uint32_t LastGLError = 0;     // the last glGetError this module made

  // --- clear colour, buffering, pacing, projection -----------------------------
  bool ClearColorSet = false;
  long double ClearColorR = 1.0L, ClearColorG = 1.0L, ClearColorB = 1.0L, ClearColorA = 1.0L;
  bool DoubleBuffered = true;
  int32_t FrameInterval = -1;  // ms between presented frames; -1 no pacing
  bool PerspectiveProjection = true;
  // The chosen pixel format (1-based in the plane's list; 0 none), loaded
  // and saved as OPENGLMODE.
  int32_t PixelFormatIndex = 0;
  // Paints redraw the scene only from the end of the start-up on.
  bool PlaneRedrawEnabled = false;
  uint32_t PaintResumes = 0;  // paintResume hooks so far (a new context's deferred one skips when one ran)

  // --- camera and user matrix (defaults once; a reset keeps them) ----------------
  long double CameraEyeX = 5, CameraEyeY = 15, CameraEyeZ = 5;
  long double CameraFocusX = 0, CameraFocusY = 0, CameraFocusZ = 0;
  long double CameraUpX = 0, CameraUpY = 0, CameraUpZ = 1;
  std::array<float, 16> UserMatrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

  // --- plane events queued while events are suspended ----------------------------
  std::optional<PlaneEvent> QueuedEvent;  // slot A: the first event other than a move
  std::optional<PlaneEvent> QueuedMove;   // slot B: the first move

  // --- display lists -------------------------------------------------------------
  // Which atoms own a list: set when an atom's list is closed, cleared when
  // it is deleted. Answers without asking GL (the collector asks for every
  // atom it frees). Mirrored by amDisplayList on the atom.
  bool HasList(uint32_t identity) const { return !listOwners_.empty() && listOwners_.count(identity) != 0; }
  bool HasList(const TAtom* atom) const;
  void NoteListMade(TAtom& atom);
  void NoteListDeleted(uint32_t identity);
  // Deletes the atom's list through the table when it has one.
  void DeleteList(uint32_t identity);

  // While a list is being compiled, a redraw or a recompile asked for is
  // deferred until the outermost list closes (see Scene.cpp).
  int32_t ListCompileDepth = 0;
  bool isCompilingList() const { return ListCompileDepth > 0; }
  uint32_t OpenListOwner = 0;  // identity of the atom whose list is open; 0 none
  bool RedrawDeferred = false;
  std::vector<uint32_t> DeferredCompiles;  // identities, each once, atoms pinned
  bool DrainingDeferred = false;           // the deferred compiles are being run

  // --- drawing objects -----------------------------------------------------------
  DrawingState Drawing;  // the running drawing primitive's state (GraphixLib.h)

  // --- the recording ---------------------------------------------------------------
  // Opens the file (closing a recording in progress), then repaints the whole
  // scene so that the first recorded frame holds it; a file that cannot be
  // created leaves the table direct and still repaints.
  void StartGLRecording(const std::u16string& fileName);
  void StopGLRecording();
  // The swap of a double-buffered plane, then the frame end of a recording.
  void SwapPlaneBuffers(int width, int height);

  // --- the core's hooks ------------------------------------------------------------
  void redrawScene() override;
  void compileDisplayLists(TAtom& variable) override;
  void deleteDisplayLists(TAtom& variable) override;
  bool isDisplayList(uint32_t identity) override;
  void deleteDisplayList(uint32_t identity) override;
  void resetPlane() override;
  bool paintingSuspended() override { return PaintSuspended; }
  void resumePainting() override { PaintSuspended = false; }
  void paintResume() override;
  bool doubleBuffered() override { return DoubleBuffered; }

private:
  PlaneLink* plane_ = nullptr;
  std::unordered_set<uint32_t> listOwners_;
};

// One entry into graphics from a routine or a hook: makes the plane's
// context current for the scope, or routes every call to NullGL when there
// is none; the route in force before comes back at the end.
class GraphicsEntry {
public:
  explicit GraphicsEntry(Graphics& g);
  ~GraphicsEntry();
  GraphicsEntry(const GraphicsEntry&) = delete;
  GraphicsEntry& operator=(const GraphicsEntry&) = delete;
  // True when the plane's context is current.
  bool Live() const { return live_; }

private:
  bool live_ = false;
  bool previousNullRoute_ = false;
};
