#include "graphics/plane/PlaneBuffers.h"

namespace {

std::function<bool(const PlaneBufferFormat&)>& Refusal() {
  static std::function<bool(const PlaneBufferFormat&)> refuses;
  return refuses;
}

// The attachment a buffer name of the drawing code stands for.
GLenum AttachmentOf(GLenum mode) {
  switch (mode) {
    case GL_FRONT:
    case GL_FRONT_LEFT:
    case GL_FRONT_RIGHT:
      return GL_COLOR_ATTACHMENT1;
    case GL_BACK:
    case GL_BACK_LEFT:
    case GL_BACK_RIGHT:
    case GL_LEFT:
    case GL_RIGHT:
      return GL_COLOR_ATTACHMENT0;
    default:
      return mode;  // GL_NONE and the attachments pass through
  }
}

// The scissor test is the one fragment test that limits a blit.
class ScissorOff {
public:
  explicit ScissorOff(QOpenGLExtraFunctions& f) : f_(f), on_(f.glIsEnabled(GL_SCISSOR_TEST)) {
    if (on_) f_.glDisable(GL_SCISSOR_TEST);
  }
  ~ScissorOff() {
    if (on_) f_.glEnable(GL_SCISSOR_TEST);
  }
  ScissorOff(const ScissorOff&) = delete;
  ScissorOff& operator=(const ScissorOff&) = delete;

private:
  QOpenGLExtraFunctions& f_;
  bool on_;
};

}  // namespace

void SetPlaneBufferRefusal(std::function<bool(const PlaneBufferFormat&)> refuses) { Refusal() = std::move(refuses); }

bool PlaneBuffers::Create(QOpenGLExtraFunctions& f, int width, int height, const PlaneBufferFormat& format,
                          uint32_t rgb) {
  Destroy(f);
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  f.glGenFramebuffers(1, &framebuffer_);
  f.glGenRenderbuffers(2, colour_);
  f.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  for (int i = 0; i < 2; ++i) {
    f.glBindRenderbuffer(GL_RENDERBUFFER, colour_[i]);
    f.glRenderbufferStorage(GL_RENDERBUFFER, format.Alpha ? GL_RGBA8 : GL_RGB8, width_, height_);
    f.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_RENDERBUFFER, colour_[i]);
  }
  if (format.DepthBits > 0 || format.StencilBits > 0) {
    f.glGenRenderbuffers(1, &depthStencil_);
    f.glBindRenderbuffer(GL_RENDERBUFFER, depthStencil_);
    const bool stencil = format.StencilBits > 0;
    GLenum storage = GL_DEPTH_COMPONENT16;
    if (stencil)
      storage = GL_DEPTH24_STENCIL8;
    else if (format.DepthBits > 24)
      storage = GL_DEPTH_COMPONENT32;
    else if (format.DepthBits > 16)
      storage = GL_DEPTH_COMPONENT24;
    f.glRenderbufferStorage(GL_RENDERBUFFER, storage, width_, height_);
    f.glFramebufferRenderbuffer(GL_FRAMEBUFFER, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                GL_RENDERBUFFER, depthStencil_);
  }
  f.glBindRenderbuffer(GL_RENDERBUFFER, 0);
  const bool refused = Refusal() && Refusal()(format);
  if (refused || f.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    Destroy(f);
    return false;
  }
  // What a new window shows: the background in both buffers.
  const GLenum both[] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
  f.glDrawBuffers(2, both);
  GLfloat previous[4];
  f.glGetFloatv(GL_COLOR_CLEAR_VALUE, previous);
  f.glClearColor(((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, 1.0f);
  {
    const ScissorOff scissor(f);
    f.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  }
  f.glClearColor(previous[0], previous[1], previous[2], previous[3]);
  ApplySelection(f);
  return true;
}

void PlaneBuffers::Destroy(QOpenGLExtraFunctions& f) {
  if (framebuffer_ != 0) f.glDeleteFramebuffers(1, &framebuffer_);
  if (colour_[0] != 0) f.glDeleteRenderbuffers(2, colour_);
  if (depthStencil_ != 0) f.glDeleteRenderbuffers(1, &depthStencil_);
  framebuffer_ = depthStencil_ = 0;
  colour_[0] = colour_[1] = 0;
}

void PlaneBuffers::Bind(QOpenGLExtraFunctions& f) {
  if (framebuffer_ == 0) return;
  f.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  ApplySelection(f);
}

void PlaneBuffers::ApplySelection(QOpenGLExtraFunctions& f) {
  if (drawMode_ == GL_FRONT_AND_BACK) {
    const GLenum both[] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
    f.glDrawBuffers(2, both);
  } else {
    const GLenum one = AttachmentOf(drawMode_);
    f.glDrawBuffers(1, &one);
  }
  f.glReadBuffer(AttachmentOf(readMode_));
}

void PlaneBuffers::SelectDraw(QOpenGLExtraFunctions& f, GLenum mode) {
  drawMode_ = mode;
  if (framebuffer_ != 0) ApplySelection(f);
}

void PlaneBuffers::SelectRead(QOpenGLExtraFunctions& f, GLenum mode) {
  readMode_ = mode;
  if (framebuffer_ != 0) ApplySelection(f);
}

void PlaneBuffers::Blit(QOpenGLExtraFunctions& f) {
  const ScissorOff scissor(f);
  f.glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

void PlaneBuffers::CopyBackToFront(QOpenGLExtraFunctions& f) {
  if (framebuffer_ == 0) return;
  f.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  f.glReadBuffer(GL_COLOR_ATTACHMENT0);
  const GLenum front = GL_COLOR_ATTACHMENT1;
  f.glDrawBuffers(1, &front);
  Blit(f);
  ApplySelection(f);
}

void PlaneBuffers::CopyFrontTo(QOpenGLExtraFunctions& f, GLuint target) {
  if (framebuffer_ == 0) return;
  f.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
  f.glReadBuffer(GL_COLOR_ATTACHMENT1);
  f.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
  Blit(f);
  f.glBindFramebuffer(GL_FRAMEBUFFER, target);
}
