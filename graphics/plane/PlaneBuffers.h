#pragma once
// The plane's own framebuffer: the back (colour attachment 0) and front
// (attachment 1) colour buffers and one depth/stencil renderbuffer, all of
// the client area's device size. The drawing code's glDrawBuffer and
// glReadBuffer select among them (GL_BACK, GL_FRONT, GL_FRONT_AND_BACK);
// the swap copies back to front; the widget's paint copies the front into
// the widget's own framebuffer. Calls go through QOpenGLExtraFunctions on
// the current context.

#include <QOpenGLExtraFunctions>
#include <functional>

struct PlaneBufferFormat {
  int DepthBits = 24;
  int StencilBits = 8;
  bool Alpha = true;
};

// Tests stand in for a driver that refuses formats: a format for which the
// function answers true comes out incomplete. Empty: the driver's answer
// alone.
void SetPlaneBufferRefusal(std::function<bool(const PlaneBufferFormat&)> refuses);

class PlaneBuffers {
public:
  // Makes the buffers, both colour buffers cleared to rgb (0xRRGGBB);
  // false (and nothing kept) when the framebuffer is incomplete.
  [[nodiscard]] bool Create(QOpenGLExtraFunctions& f, int width, int height, const PlaneBufferFormat& format,
                            uint32_t rgb);
  void Destroy(QOpenGLExtraFunctions& f);
  bool Exists() const { return framebuffer_ != 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Binds the framebuffer with the selected draw and read buffers.
  void Bind(QOpenGLExtraFunctions& f);
  void SelectDraw(QOpenGLExtraFunctions& f, GLenum mode);
  void SelectRead(QOpenGLExtraFunctions& f, GLenum mode);
  // The back buffer into the front one.
  void CopyBackToFront(QOpenGLExtraFunctions& f);
  // The front buffer into the framebuffer target (the widget's).
  void CopyFrontTo(QOpenGLExtraFunctions& f, GLuint target);

private:
  void ApplySelection(QOpenGLExtraFunctions& f);
  void Blit(QOpenGLExtraFunctions& f);

  GLuint framebuffer_ = 0;
  GLuint colour_[2] = {0, 0};  // back, front
  GLuint depthStencil_ = 0;
  int width_ = 0;
  int height_ = 0;
  GLenum drawMode_ = GL_BACK;
  GLenum readMode_ = GL_BACK;
};
