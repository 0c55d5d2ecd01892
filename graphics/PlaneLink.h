#pragma once
// What the graphics module asks of the drawing plane window. The plane
// implements it (graphics/plane); tests use a fake or an EGL surface. A null
// PlaneLink means there is no plane.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The plane's client area as a picture: device pixels, RGB rows top first.
struct PlanePicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb;  // Width * Height * 3 bytes
};

struct PlaneSize {
  int Width = 0;
  int Height = 0;
};

// A mouse or key event on the plane, as queued while events are suspended
// and replayed after the run.
struct PlaneEvent {
  std::u16string Keyword;  // the event keyword (onmousedown, onkeydown, ...)
  uint32_t Shift = 0;      // the shift state
  int32_t Y = 0;
  int32_t X = 0;
};

class PlaneLink {
public:
  virtual ~PlaneLink() = default;
  virtual bool exists() = 0;
  // The rendering context exists and frames can be drawn.
  virtual bool ready() = 0;
  // Makes the plane's context current; false when there is none.
  virtual bool makeCurrent() = 0;
  virtual PlaneSize clientSize() = 0;  // device pixels
  // Ends a double-buffered frame: pacing, flush, buffer swap, the frame end
  // of a recording, and the copy to the window.
  virtual void presentFrame() = 0;
  virtual void swapBuffers() = 0;
  // Shows the front buffer of a single-buffered plane (glFlush alone shows
  // nothing on a framebuffer object).
  virtual void presentFront() = 0;
  virtual void setupProjection() = 0;
  // Paints at once, processing the paint message (SYSREPAINTPLANE).
  virtual void repaintNow() = 0;
  virtual void dispatchEvent(const PlaneEvent& event) = 0;
  // The window's share of the interpreter reset: runs the callback given to
  // setHideProgramControls, white background, the program's fixed size
  // freed.
  virtual void resetPlaneWindow() = 0;
  virtual void setHideProgramControls(std::function<void()> callback) = 0;
  virtual void setBackground(uint32_t rgb) = 0;
  virtual void setResizable(bool resizable) = 0;
  virtual void setBusyCursor(bool busy) = 0;
  virtual PlanePicture capturePicture() = 0;
  // "" when saved, else why it failed.
  virtual std::string savePicture(const PlanePicture& picture, const std::u16string& path, int quality,
                                  bool forceJpeg) = 0;
  virtual void print() = 0;
};
