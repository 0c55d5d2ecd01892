#pragma once
// The plane's projection and picking. The projection maps the scene to the
// client area (perspective: the vertical field of view grows with the
// height, 30 degrees per 500 pixels; orthographic: one unit per pixel,
// origin in the centre) after the camera. Picking draws the scene in
// selection mode around a window point: the pick names are atom
// identities, so a hit names its object; names read back are validated,
// never trusted.
//
// Everything issues its calls through the table on the current context;
// callers make the entry (GraphicsEntry). With no plane, a zero size or a
// display list open nothing is issued: the projection would be compiled
// into the list, and a pick answers empty at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "graphics/PlaneLink.h"

class Graphics;
class TAtom;

constexpr size_t kSelectionBufferSize = 1024;
// The buffer registered with glSelectBuffer when a context is made.
uint32_t* SelectionBuffer();

// One record of the selection buffer: depths and the innermost name.
struct PickHit {
  uint32_t MinDepth = 0;
  uint32_t MaxDepth = 0;
  std::optional<uint32_t> Name;  // none for a record without names
};
// The records of hits hits in the buffer, as far as they lie wholly inside
// it; none when hits <= 0 (which includes an overflow).
std::vector<PickHit> DecodeHits(const uint32_t* buffer, size_t size, int32_t hits);

// The atom a hit names (a live variable), climbed to its ancestor below
// the root's child's child when mode is -1 (stops at a root grandchild);
// null for a stale or foreign name.
TAtom* HitAtom(Graphics& g, const PickHit& hit, int32_t mode);

// The first calls on a new context: model-view identity, depth test, the
// selection buffer, drawing to the back buffer.
void StartContext();
// Viewport, projection and camera for the size (the hunt27x error sites).
void SetupProjection(Graphics& g, PlaneSize size);
// Selection mode around window point (x, y) with a square of 2 * size.
void BeginPick(Graphics& g, PlaneSize planeSize, int32_t x, int32_t y, int32_t size);
// The full names of the objects hit, in drawing order, a name hit twice in
// a row listed once.
std::vector<std::u16string> PickAll(Graphics& g, int32_t x, int32_t y, int32_t mode, int32_t size);
// The nearest hit's full name among names (a list of variable names; empty:
// every object of the scene); none when nothing was hit.
std::optional<std::u16string> PickNearest(Graphics& g, int32_t x, int32_t y, int32_t mode, int32_t size,
                                          TAtom* names);
