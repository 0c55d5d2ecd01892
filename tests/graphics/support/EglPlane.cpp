#include "tests/graphics/support/EglPlane.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"

namespace {

// The framebuffer entry points are not GL 1.1: they come from the driver.
struct FramebufferCalls {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLBLITFRAMEBUFFERPROC BlitFramebuffer = nullptr;

  bool Load() {
    auto get = [](const char* name) { return eglGetProcAddress(name); };
    GenFramebuffers = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(get("glGenFramebuffers"));
    DeleteFramebuffers = reinterpret_cast<PFNGLDELETEFRAMEBUFFERSPROC>(get("glDeleteFramebuffers"));
    BindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(get("glBindFramebuffer"));
    FramebufferRenderbuffer = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(get("glFramebufferRenderbuffer"));
    CheckFramebufferStatus = reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(get("glCheckFramebufferStatus"));
    GenRenderbuffers = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(get("glGenRenderbuffers"));
    DeleteRenderbuffers = reinterpret_cast<PFNGLDELETERENDERBUFFERSPROC>(get("glDeleteRenderbuffers"));
    BindRenderbuffer = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(get("glBindRenderbuffer"));
    RenderbufferStorage = reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(get("glRenderbufferStorage"));
    BlitFramebuffer = reinterpret_cast<PFNGLBLITFRAMEBUFFERPROC>(get("glBlitFramebuffer"));
    return GenFramebuffers && DeleteFramebuffers && BindFramebuffer && FramebufferRenderbuffer &&
           CheckFramebufferStatus && GenRenderbuffers && DeleteRenderbuffers && BindRenderbuffer &&
           RenderbufferStorage && BlitFramebuffer;
  }
};

FramebufferCalls fb;
EglPlane* current = nullptr;  // the plane whose buffers the shims map

void DrawBufferShim(GLenum mode) {
  if (current != nullptr) current->SelectDrawBuffer(mode);
}
void ReadBufferShim(GLenum mode) {
  if (current != nullptr) current->SelectReadBuffer(mode);
}

GLProcTable PlaneBase() {
  GLProcTable base = DirectGL();
  base.glDrawBuffer = DrawBufferShim;
  base.glReadBuffer = ReadBufferShim;
  return base;
}

GLProcTable planeBase;  // lives as long as the process: the table keeps a reference

}  // namespace

bool GlRequired() {
  const char* value = std::getenv("ZAVTA_REQUIRE_GL");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

EglPlane::EglPlane(Graphics& g, int width, int height) : g_(g), width_(width), height_(height) {
  ok_ = Start();
  if (!ok_) {
    Stop();
    return;
  }
  current = this;
  planeBase = PlaneBase();
  SetGLBase(planeBase);
  g_.ForgetAllLists();
  g_.setPlane(this);
}

EglPlane::~EglPlane() {
  if (ok_) {
    g_.setPlane(nullptr);
    g_.ForgetAllLists();
    SetGLBase(NullGL());
  }
  Stop();
  if (current == this) current = nullptr;
}

bool EglPlane::Start() {
  auto getPlatformDisplay =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) {
    error_ = "EGL has no eglGetPlatformDisplayEXT";
    return false;
  }
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
    error_ = "no surfaceless EGL display";
    return false;
  }
  display_ = display;
  if (!eglBindAPI(EGL_OPENGL_API)) {
    error_ = "EGL cannot bind desktop OpenGL";
    return false;
  }
  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                     EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
    error_ = "no desktop OpenGL configuration";
    return false;
  }
  const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (context == EGL_NO_CONTEXT) {
    error_ = "no compatibility context";
    return false;
  }
  context_ = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    error_ = "the context cannot be made current without a surface";
    return false;
  }
  if (!fb.Load()) {
    error_ = "no framebuffer objects";
    return false;
  }
  fb.GenFramebuffers(2, framebuffers_);
  fb.GenRenderbuffers(2, colourBuffers_);
  fb.GenRenderbuffers(2, depthBuffers_);
  for (int i = 0; i < 2; ++i) {
    fb.BindRenderbuffer(GL_RENDERBUFFER, colourBuffers_[i]);
    fb.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width_, height_);
    fb.BindRenderbuffer(GL_RENDERBUFFER, depthBuffers_[i]);
    fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width_, height_);
    fb.BindFramebuffer(GL_FRAMEBUFFER, framebuffers_[i]);
    fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffers_[i]);
    fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffers_[i]);
    if (fb.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
      error_ = "incomplete framebuffer";
      return false;
    }
  }
  front_ = 1;
  drawingFront_ = false;
  fb.BindFramebuffer(GL_FRAMEBUFFER, framebuffers_[0]);
  ::glViewport(0, 0, width_, height_);
  return true;
}

void EglPlane::Stop() {
  auto display = static_cast<EGLDisplay>(display_);
  if (context_ != nullptr && eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
    if (fb.DeleteFramebuffers != nullptr && framebuffers_[0] != 0) {
      fb.DeleteFramebuffers(2, framebuffers_);
      fb.DeleteRenderbuffers(2, colourBuffers_);
      fb.DeleteRenderbuffers(2, depthBuffers_);
    }
  }
  if (display != EGL_NO_DISPLAY && display != nullptr) {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != nullptr) eglDestroyContext(display, static_cast<EGLContext>(context_));
    eglTerminate(display);
  }
  context_ = nullptr;
  display_ = nullptr;
}

bool EglPlane::makeCurrent() {
  if (!ok_) return false;
  current = this;
  return eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE,
                        static_cast<EGLContext>(context_)) == EGL_TRUE;
}

void EglPlane::SelectDrawBuffer(uint32_t mode) {
  if (mode == GL_BACK) drawingFront_ = false;
  else if (mode == GL_FRONT) drawingFront_ = true;
  else return;
  fb.BindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffers_[drawingFront_ ? front_ : 1 - front_]);
}

void EglPlane::SelectReadBuffer(uint32_t mode) {
  if (mode == GL_BACK) fb.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[1 - front_]);
  else if (mode == GL_FRONT) fb.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[front_]);
}

void EglPlane::presentFrame() {
  if (g_.isCompilingList()) return;
  gl().glFlush();
  g_.SwapPlaneBuffers(width_, height_);
}

void EglPlane::swapBuffers() {
  // As a window system swaps: the back buffer becomes the front, and
  // drawing to the back goes on in the other buffer.
  front_ = 1 - front_;
  fb.BindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffers_[drawingFront_ ? front_ : 1 - front_]);
}

void EglPlane::setupProjection() {
  if (!makeCurrent()) return;
  const GLProcTable& t = gl();
  t.glViewport(0, 0, width_, height_);
  t.glMatrixMode(GL_PROJECTION);
  t.glLoadIdentity();
  t.gluPerspective(30.0, static_cast<double>(width_) / height_, 0.1, 1e6);
  t.glMatrixMode(GL_MODELVIEW);
}

void EglPlane::repaintNow() {
  if (g_.isCompilingList()) return;
  g_.redrawScene();
}

uint32_t EglPlane::FrontPixel(int x, int y) {
  if (!makeCurrent()) return 0;
  uint8_t rgba[4] = {0, 0, 0, 0};
  fb.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[front_]);
  ::glReadPixels(x, height_ - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return (static_cast<uint32_t>(rgba[0]) << 16) | (static_cast<uint32_t>(rgba[1]) << 8) | rgba[2];
}

PlanePicture EglPlane::capturePicture() {
  PlanePicture picture;
  if (!makeCurrent()) return picture;
  picture.Width = width_;
  picture.Height = height_;
  std::vector<uint8_t> rows(static_cast<size_t>(width_) * height_ * 3);
  fb.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[front_]);
  ::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  ::glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  picture.Rgb.resize(rows.size());
  const size_t stride = static_cast<size_t>(width_) * 3;
  for (int y = 0; y < height_; ++y)
    std::copy_n(rows.data() + (height_ - 1 - y) * stride, stride, picture.Rgb.data() + y * stride);
  return picture;
}
