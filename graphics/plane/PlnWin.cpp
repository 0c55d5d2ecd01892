#include "graphics/plane/PlnWin.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <cmath>
#include <thread>

#include "core/Trans.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/RunControl.h"
#include "graphics/Graphics.h"
#include "graphics/Projection.h"
#include "graphics/ZavOpenGL.h"
#include "graphics/plane/PixelFormats.h"

namespace {

constexpr int kRegenerateMs = 10;
constexpr int kResumeRetryMs = 50;  // a new context waits this long at a time for the environment

TPlane* shimPlane = nullptr;  // the plane whose buffers the table's shims select

void DrawBufferShim(GLenum mode) {
  if (shimPlane != nullptr) shimPlane->SelectDrawBuffer(mode);
}
void ReadBufferShim(GLenum mode) {
  if (shimPlane != nullptr) shimPlane->SelectReadBuffer(mode);
}
void ViewportShim(GLint x, GLint y, GLsizei width, GLsizei height) {
  ::glViewport(x, y, width, height);
  if (shimPlane != nullptr) shimPlane->NoteViewport(x, y, width, height);
}

// The direct back-end with the buffer names mapped onto our framebuffer;
// the table keeps a reference, so it lives as long as the process.
const GLProcTable& PlaneBase() {
  static const GLProcTable base = [] {
    GLProcTable table = DirectGL();
    table.glDrawBuffer = DrawBufferShim;
    table.glReadBuffer = ReadBufferShim;
    table.glViewport = ViewportShim;
    return table;
  }();
  return base;
}

// Issues GL whatever route the caller's entry left in force.
class RouteOpen {
public:
  RouteOpen() : previous_(SetGLNullRoute(false)) {}
  ~RouteOpen() { SetGLNullRoute(previous_); }
  RouteOpen(const RouteOpen&) = delete;
  RouteOpen& operator=(const RouteOpen&) = delete;

private:
  bool previous_;
};

}  // namespace

// --- the view -------------------------------------------------------------------------

PlaneView::PlaneView(TPlane& plane) : plane_(plane) {
  setObjectName(QStringLiteral("PlaneView"));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

void PlaneView::initializeGL() { plane_.ContextCreated(); }

void PlaneView::resizeGL(int, int) { plane_.BuffersResized(); }

void PlaneView::paintGL() { plane_.PaintedByQt(); }

void PlaneView::mousePressEvent(QMouseEvent* event) { plane_.MouseDown(*event, false); }
void PlaneView::mouseDoubleClickEvent(QMouseEvent* event) { plane_.MouseDown(*event, true); }
void PlaneView::mouseReleaseEvent(QMouseEvent* event) { plane_.MouseUp(*event); }
void PlaneView::mouseMoveEvent(QMouseEvent* event) { plane_.MouseMove(*event); }
void PlaneView::keyPressEvent(QKeyEvent* event) {
  plane_.KeyPress(*event);
  QOpenGLWidget::keyPressEvent(event);
}
void PlaneView::keyReleaseEvent(QKeyEvent* event) {
  plane_.KeyRelease(*event);
  QOpenGLWidget::keyReleaseEvent(event);
}

// --- the window ---------------------------------------------------------------------

TPlane::TPlane(TMainForm& main, Graphics& g)
    : TZavtaForm(main, QStringLiteral("PLANE"), ToolKind::Plane),
      g_(g),
      view_(new PlaneView(*this)),
      pacer_(SteadyClockMs, [](int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
      events_(g, main.env().EnvironmentReady) {
  setObjectName(QStringLiteral("Plane"));
  setWidget(view_);
  regenerateTimer_.setSingleShot(true);
  regenerateTimer_.setInterval(kRegenerateMs);
  connect(&regenerateTimer_, &QTimer::timeout, this, &TPlane::RegenerateTimerFired);
  g_.ClearColorR = g_.ClearColorG = g_.ClearColorB = g_.ClearColorA = 1.0L;
  g_.QueuedEvent.reset();
  g_.QueuedMove.reset();
  g_.setPlane(this);
  applySettings();
}

void TPlane::applySettings() {
  applyFont();
  // A program run as an application shows its plane under the main
  // window's caption.
  if (mainForm().env().RuntimeMode)
    setTitle(mainForm().windowTitle());
  else
    setTitle(QString::fromStdU16String(Text(u"CAPTION.PLANE")));
}

TPlane::~TPlane() { Detach(); }

void TPlane::Guarded(const std::function<void()>& call) { GuardCoreEntry(g_.In, call); }

// --- the context ----------------------------------------------------------------------

bool TPlane::MakeBuffers() {
  const PlaneSize size = clientSize();
  const RouteOpen route;
  if (buffers_.Create(functions_, size.Width, size.Height, format_, background_)) return true;
  if (!formatFailed_) {
    formatFailed_ = true;
    // Shown from the event loop: a modal box must not run inside the
    // view's GL callbacks.
    QTimer::singleShot(0, this, [this] {
      mainForm().showMessage(QStringLiteral("SetPixelFormat failed."), QStringLiteral("Error"), dfOk);
    });
  }
  // The default format, then nothing.
  format_ = PlaneBufferFormat{};
  return buffers_.Create(functions_, size.Width, size.Height, format_, background_);
}

bool TPlane::RemakeBuffers() {
  contextReady_ = MakeBuffers();
  bindingDirty_ = true;
  // Without buffers nothing may draw on the widget's own framebuffer.
  SetGLBase(contextReady_ ? PlaneBase() : NullGL());
  return contextReady_;
}

void TPlane::ContextCreated() {
  functions_.initializeOpenGLFunctions();
  format_ = BufferFormatOf(EnumeratePixelFormats(), g_.PixelFormatIndex);
  connect(view_->context(), &QOpenGLContext::aboutToBeDestroyed, this, &TPlane::ContextLost, Qt::UniqueConnection);
  shimPlane = this;
  g_.ForgetAllLists();
  if (!RemakeBuffers()) return;
  {
    const RouteOpen route;
    buffers_.Bind(functions_);
    StartContext();
  }
  bindingDirty_ = true;
  // The new context has no lists: one regeneration once the environment is
  // ready, unless one runs before.
  resumesAtContext_ = g_.PaintResumes;
  QTimer::singleShot(0, this, &TPlane::ResumeWhenReady);
}

void TPlane::ResumeWhenReady() {
  if (!contextReady_ || g_.PaintResumes != resumesAtContext_) return;
  if (!mainForm().env().EnvironmentReady) {
    QTimer::singleShot(kResumeRetryMs, this, &TPlane::ResumeWhenReady);
    return;
  }
  Guarded([this] { g_.paintResume(); });
}

void TPlane::ContextLost() {
  if (contextReady_ && view_->context() != nullptr) {
    view_->makeCurrent();
    buffers_.Destroy(functions_);
    view_->doneCurrent();
  }
  contextReady_ = false;
  SetGLBase(NullGL());
  g_.ForgetAllLists();
}

bool TPlane::EnsureContext() { return makeCurrent(); }

void TPlane::ReleaseContext() { ContextLost(); }

void TPlane::RecreateContext(int pixelFormatIndex) {
  g_.PixelFormatIndex = pixelFormatIndex;
  Ready = false;
  formatFailed_ = false;
  if (contextReady_ && makeCurrent()) {
    format_ = BufferFormatOf(EnumeratePixelFormats(), pixelFormatIndex);
    RemakeBuffers();
  } else if (view_->context() != nullptr && view_->context()->isValid()) {
    // The context has had no buffers since they failed: it starts afresh.
    view_->makeCurrent();
    ContextCreated();
  }
  Ready = true;
  Paint();
}

void TPlane::BuffersResized() {
  if (!contextReady_) return;
  // Resizing loses the picture; the paint Qt sends next redraws it.
  RemakeBuffers();
}

void TPlane::Detach() {
  if (view_ != nullptr && view_->context() != nullptr)
    disconnect(view_->context(), &QOpenGLContext::aboutToBeDestroyed, this, &TPlane::ContextLost);
  if (contextReady_) ContextLost();
  if (g_.plane() == this) g_.setPlane(nullptr);
  if (shimPlane == this) shimPlane = nullptr;
  regenerateTimer_.stop();
}

void TPlane::closeEvent(QCloseEvent* event) {
  TZavtaForm::closeEvent(event);
  if (event->isAccepted()) Detach();
}

bool TPlane::ready() { return Ready && contextReady_; }

bool TPlane::makeCurrent() {
  if (!contextReady_ || view_->context() == nullptr) return false;
  if (QOpenGLContext::currentContext() == view_->context() && !bindingDirty_) return true;
  view_->makeCurrent();
  shimPlane = this;
  const RouteOpen route;
  buffers_.Bind(functions_);
  if (viewport_[2] > 0) ::glViewport(viewport_[0], viewport_[1], viewport_[2], viewport_[3]);
  bindingDirty_ = false;
  return true;
}

PlaneSize TPlane::clientSize() {
  const qreal ratio = view_->devicePixelRatioF();
  return {static_cast<int>(std::lround(view_->width() * ratio)),
          static_cast<int>(std::lround(view_->height() * ratio))};
}

void TPlane::SelectDrawBuffer(GLenum mode) { buffers_.SelectDraw(functions_, mode); }
void TPlane::SelectReadBuffer(GLenum mode) { buffers_.SelectRead(functions_, mode); }
void TPlane::NoteViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  viewport_[0] = x;
  viewport_[1] = y;
  viewport_[2] = width;
  viewport_[3] = height;
}

// --- frames -------------------------------------------------------------------------------

void TPlane::ShowFront() {
  // A window holding an OpenGL widget turns repaint() into a posted update
  // request (Qt spares itself a composition per call); delivering it here
  // shows the frame now, also inside a run. Should the paint still come
  // later, it shows our front buffer all the same and is ours.
  presentPending_ = true;
  const bool previous = ownPaint_;
  ownPaint_ = true;
  view_->repaint();
  QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
  ownPaint_ = previous;
  if (presentPending_) ++latePresents_;
  // The window's composition may have taken the context away.
  bindingDirty_ = true;
  makeCurrent();
}

void TPlane::PaintedByQt() {
  bindingDirty_ = true;
  const RouteOpen route;
  if (buffers_.Exists()) {
    buffers_.CopyFrontTo(functions_, view_->defaultFramebufferObject());
  } else {
    functions_.glClearColor(((background_ >> 16) & 0xFF) / 255.0f, ((background_ >> 8) & 0xFF) / 255.0f,
                            (background_ & 0xFF) / 255.0f, 1.0f);
    functions_.glClear(GL_COLOR_BUFFER_BIT);
  }
  const bool ours = ownPaint_ || presentPending_;
  presentPending_ = false;
  if (ours) return;
  // A paint of Qt's own: one deferred Paint, and the regeneration timer.
  EnvState& env = mainForm().env();
  if (env.Quitting || !env.EnvironmentReady) return;
  if (!paintPosted_) {
    paintPosted_ = true;
    QTimer::singleShot(0, this, [this] {
      paintPosted_ = false;
      Paint();
    });
  }
  StartRegenerateTimer();
}

void TPlane::StartRegenerateTimer() { regenerateTimer_.start(); }

void TPlane::Paint() {
  EnvState& env = mainForm().env();
  if (!env.EnvironmentReady || g_.plane() != this) return;
  if (g_.isCompilingList()) {
    // The projection and the redraw would be compiled into the list.
    QTimer::singleShot(kRegenerateMs, this, &TPlane::Paint);
    return;
  }
  if (!g_.PlaneRedrawEnabled || !ready()) return;
  Guarded([this] {
    setupProjection();
    g_.redrawScene();
  });
}

void TPlane::RegenerateTimerFired() {
  TInterpreter& in = g_.In;
  if (DecideRegeneration(in.RunState, in.S.HaltRequested).Redraw && g_.PlaneRedrawEnabled && !g_.isCompilingList())
    Guarded([this] {
      setupProjection();
      g_.redrawScene();
    });
  // The redraw may have changed the run state: asked again.
  if (DecideRegeneration(in.RunState, in.S.HaltRequested).Stop) {
    in.S.HaltRequested = false;
    mainForm().stop();
  }
}

void TPlane::presentFrame() {
  if (g_.isCompilingList() || !g_.DoubleBuffered || !mainForm().env().EnvironmentReady) return;
  pacer_.Pace(g_.FrameInterval);
  gl().glFlush();
  const PlaneSize size = clientSize();
  g_.SwapPlaneBuffers(size.Width, size.Height);
}

void TPlane::swapBuffers() {
  if (!makeCurrent()) return;
  {
    const RouteOpen route;
    buffers_.CopyBackToFront(functions_);
  }
  ShowFront();
}

void TPlane::presentFront() {
  if (g_.isCompilingList() || !makeCurrent()) return;
  ::glFlush();
  ShowFront();
}

void TPlane::setupProjection() {
  if (!mainForm().env().EnvironmentReady) return;
  const GraphicsEntry entry(g_);
  if (entry.Live()) SetupProjection(g_, clientSize());
}

void TPlane::repaintNow() { Paint(); }

void TPlane::resetPlaneWindow() {
  if (hideControls_) hideControls_();
  setBackground(0xFFFFFF);
  setResizable(true);
}

void TPlane::setResizable(bool resizable) {
  if (resizable) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    setFixedSize(size());
  }
}

void TPlane::setBusyCursor(bool busy) {
  if (busy)
    view_->setCursor(Qt::WaitCursor);
  else
    view_->unsetCursor();
}

// --- input ------------------------------------------------------------------------------

uint32_t TPlane::ShiftOf(const QMouseEvent& event) const {
  uint32_t shift = 0;
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  if (modifiers & Qt::ShiftModifier) shift |= psShift;
  if (modifiers & Qt::AltModifier) shift |= psAlt;
  if (modifiers & Qt::ControlModifier) shift |= psCtrl;
  const Qt::MouseButtons buttons = event.buttons();
  if (buttons & Qt::LeftButton) shift |= psLeft;
  if (buttons & Qt::RightButton) shift |= psRight;
  if (buttons & Qt::MiddleButton) shift |= psMiddle;
  return shift;
}

QPoint TPlane::DevicePoint(const QMouseEvent& event) const {
  const qreal ratio = view_->devicePixelRatioF();
  const QPointF at = event.position() * ratio;
  return {static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))};
}

void TPlane::MouseDown(QMouseEvent& event, bool doubleClick) {
  const QPoint at = DevicePoint(event);
  const uint32_t shift = ShiftOf(event) | (doubleClick ? uint32_t{psDouble} : 0u);
  leftPressedInside_ = !doubleClick && event.button() == Qt::LeftButton;
  Guarded([&] { events_.MouseDown(shift, at.x(), at.y()); });
}

void TPlane::MouseUp(QMouseEvent& event) {
  const QPoint at = DevicePoint(event);
  const bool inside = view_->rect().contains(event.position().toPoint());
  const bool click = leftPressedInside_ && event.button() == Qt::LeftButton && inside;
  if (event.button() == Qt::LeftButton) leftPressedInside_ = false;
  Guarded([&] {
    if (click) events_.Click();
    events_.MouseUp(ShiftOf(event), at.x(), at.y());
  });
}

void TPlane::MouseMove(QMouseEvent& event) {
  const QPoint at = DevicePoint(event);
  Guarded([&] { events_.MouseMove(ShiftOf(event), at.x(), at.y()); });
}

void TPlane::KeyPress(QKeyEvent& event) {
  if (KeyDown) KeyDown(event);
  for (const QChar ch : event.text()) AppendKeyToBuffer(g_.S, ch.unicode());
}

void TPlane::KeyRelease(QKeyEvent& event) {
  if (KeyUp) KeyUp(event);
}
