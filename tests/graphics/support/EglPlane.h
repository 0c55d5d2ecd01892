#pragma once
// A drawing plane without a window, for pixel tests and the redraw
// benchmark: an EGL surfaceless compatibility context on Mesa, drawing into
// framebuffer objects that stand for the back and front colour buffers
// (RGBA8 with a 24-bit depth buffer). Its base table is DirectGL with
// glDrawBuffer and glReadBuffer mapped onto those buffers. One at a time.

#include <cstdint>
#include <string>

#include "graphics/PlaneLink.h"

class Graphics;

class EglPlane : public PlaneLink {
public:
  EglPlane(Graphics& g, int width, int height);
  ~EglPlane() override;
  EglPlane(const EglPlane&) = delete;
  EglPlane& operator=(const EglPlane&) = delete;

  // False when no context could be made; Error() says why.
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }
  // The pixel (x, y from the top-left) of the front buffer as 0xRRGGBB.
  uint32_t FrontPixel(int x, int y);

  bool exists() override { return ok_; }
  bool ready() override { return ok_; }
  bool makeCurrent() override;
  PlaneSize clientSize() override { return {width_, height_}; }
  void presentFrame() override;
  void swapBuffers() override;
  void presentFront() override {}
  void setupProjection() override;
  void repaintNow() override;
  void dispatchEvent(const PlaneEvent&) override {}
  void resetPlaneWindow() override {}
  void setHideProgramControls(std::function<void()>) override {}
  void setBackground(uint32_t) override {}
  void setResizable(bool) override {}
  void setBusyCursor(bool) override {}
  PlanePicture capturePicture() override;
  std::string savePicture(const PlanePicture&, const std::u16string&, int, bool) override {
    return "not supported";
  }
  void print() override {}

  // The buffers that glDrawBuffer and glReadBuffer select (GL_BACK or
  // GL_FRONT; anything else leaves the binding as it is).
  void SelectDrawBuffer(uint32_t mode);
  void SelectReadBuffer(uint32_t mode);

private:
  bool Start();
  void Stop();

  Graphics& g_;
  int width_;
  int height_;
  bool ok_ = false;
  std::string error_;
  void* display_ = nullptr;  // EGLDisplay
  void* context_ = nullptr;  // EGLContext
  uint32_t framebuffers_[2] = {0, 0};   // the two colour buffers; a swap exchanges their roles
  uint32_t colourBuffers_[2] = {0, 0};  // their colour renderbuffers
  uint32_t depthBuffers_[2] = {0, 0};   // and depth renderbuffers
  int front_ = 1;                       // which of the two is the front buffer
  bool drawingFront_ = false;           // glDrawBuffer selected the front buffer
};

// True when pixel tests must run (ZAVTA_REQUIRE_GL is set): a plane that
// cannot start is then a failure, not a skip.
bool GlRequired();
