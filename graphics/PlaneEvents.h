#pragma once
// Mouse events on the plane become calls of the program's global
// procedures named by the event keywords (onmousedown, onmousemove,
// onmouseup, onmouseclick), with the point in plane coordinates (origin in
// the centre, y up) and in window coordinates, device pixels. Events that
// arrive while events are suspended wait in Graphics' two slots (the first
// move, the first other event); an event that arrives while another one's
// handler runs, or while the run is paused, is dropped.

#include <cstdint>
#include <optional>
#include <string>

#include "graphics/PlaneLink.h"

class Graphics;

// Bits of an event's shift set.
enum PlaneShift : uint32_t {
  psShift = 1,
  psAlt = 2,
  psCtrl = 4,
  psLeft = 8,
  psRight = 16,
  psMiddle = 32,
  psDouble = 64,
};

// The call text of an event on a plane of the size, numbers in the C
// locale: "(onmousedown (0.00000) (0.00000) (320.00000) (240.00000) (8))".
std::u16string EventCallText(const PlaneEvent& event, PlaneSize size);

class PlaneEvents {
public:
  // environmentReady: the environment's flag, read at every event.
  PlaneEvents(Graphics& g, const bool& environmentReady) : g_(g), environmentReady_(environmentReady) {}

  void MouseMove(uint32_t shift, int32_t x, int32_t y);
  void MouseDown(uint32_t shift, int32_t x, int32_t y);
  void MouseUp(uint32_t shift, int32_t x, int32_t y);
  // A click, with the state of the last mouse event.
  void Click();
  // Queues the event while events are suspended (or a list is being
  // compiled), else runs its handler.
  void Dispatch(const PlaneEvent& event);

  int32_t EventDepth() const { return eventDepth_; }

private:
  PlaneEvent Make(int keywordIndex, uint32_t shift, int32_t x, int32_t y) const;
  void Remember(uint32_t shift, int32_t x, int32_t y);
  void Run(const PlaneEvent& event);

  Graphics& g_;
  const bool& environmentReady_;
  int32_t eventDepth_ = 0;  // handlers running (at most one)
  uint32_t lastShift_ = 0;  // the last mouse event's state ...
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
  std::optional<std::pair<int32_t, int32_t>> lastMove_;  // ... and the last move's position
};
