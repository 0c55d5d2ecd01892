#pragma once
// The drawing plane: a tool window ("PLANE") around PlaneView, a
// QOpenGLWidget whose context is the plane's rendering context. The scene
// draws into the plane's own framebuffer (PlaneBuffers); presenting copies
// its front buffer into the widget, and the widget's paint only shows that
// copy. TPlane is the graphics module's PlaneLink while it exists.
//
// Paints that Qt sends on its own (expose, resize, activation) post one
// deferred Paint() and re-arm the 10 ms regeneration timer; the plane's own
// presents and captures do neither.

#include <QOpenGLExtraFunctions>
#include <QOpenGLWidget>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "environment/ZAVForm.h"
#include "graphics/FramePacer.h"
#include "graphics/PlaneEvents.h"
#include "graphics/PlaneLink.h"
#include "graphics/plane/PlaneBuffers.h"

class Graphics;
class TPlane;
class QKeyEvent;

class PlaneView : public QOpenGLWidget {
  Q_OBJECT
public:
  explicit PlaneView(TPlane& plane);

protected:
  void initializeGL() override;
  void resizeGL(int width, int height) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

private:
  TPlane& plane_;
};

class TPlane : public TZavtaForm, public PlaneLink {
  Q_OBJECT
public:
  TPlane(TMainForm& main, Graphics& g);
  ~TPlane() override;

  void applySettings() override;
  PlaneView* view() const { return view_; }
  // The parent of the controls programs put on the plane.
  QWidget* controlParent() const { return view_; }
  Graphics& graphics() const { return g_; }

  // Set by the code that creates the plane once it is shown.
  bool Ready = false;
  int64_t LastFrameTick() const { return pacer_.LastFrameTick(); }
  // Presents whose paint did not come at once (the window showed them later).
  int LatePresents() const { return latePresents_; }

  // Present and, once redraws are enabled, redraw (deferred while a list is
  // being compiled).
  void Paint();
  bool EnsureContext();
  void ReleaseContext();
  // Another pixel format: only the buffers are made again (lists, fonts
  // and textures stay with the context), then a paint.
  void RecreateContext(int pixelFormatIndex);
  void StartRegenerateTimer();

  // The picture, saving, printing and the clipboard (PlaneImage.cpp).
  void SaveImageAs();
  void CopyToClipboard();
  void PrintPlane();

  // Key-down and key-up for control events; until set only the Pause key
  // acts (the main window's filter).
  std::function<void(QKeyEvent&)> KeyDown;
  std::function<void(QKeyEvent&)> KeyUp;

  // --- PlaneLink ------------------------------------------------------------------
  bool exists() override { return true; }
  bool ready() override;
  bool makeCurrent() override;
  PlaneSize clientSize() override;
  void presentFrame() override;
  void swapBuffers() override;
  void presentFront() override;
  void setupProjection() override;
  void repaintNow() override;
  void dispatchEvent(const PlaneEvent& event) override { events_.Dispatch(event); }
  void resetPlaneWindow() override;
  void setHideProgramControls(std::function<void()> callback) override { hideControls_ = std::move(callback); }
  void setBackground(uint32_t rgb) override { background_ = rgb; }
  void setResizable(bool resizable) override;
  void setBusyCursor(bool busy) override;
  PlanePicture capturePicture() override;
  std::string savePicture(const PlanePicture& picture, const std::u16string& path, int quality,
                          bool forceJpeg) override;
  void print() override { PrintPlane(); }

  // The shims' targets: the drawing code's buffer selection.
  void SelectDrawBuffer(GLenum mode);
  void SelectReadBuffer(GLenum mode);
  void NoteViewport(GLint x, GLint y, GLsizei width, GLsizei height);

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  friend class PlaneView;
  // From the view.
  void ContextCreated();
  void ContextLost();
  void ResumeWhenReady();
  void BuffersResized();
  void PaintedByQt();
  void ShowFront();
  void MouseDown(QMouseEvent& event, bool doubleClick);
  void MouseUp(QMouseEvent& event);
  void MouseMove(QMouseEvent& event);
  void KeyPress(QKeyEvent& event);
  void KeyRelease(QKeyEvent& event);

  // Our buffers of the chosen format, else (reported once) of the default
  // one; with the view's context current.
  bool MakeBuffers();
  // The buffers made again and the back-end to match: ours, or the null
  // one when there are none.
  bool RemakeBuffers();
  void Detach();
  void RegenerateTimerFired();
  void Guarded(const std::function<void()>& call);
  uint32_t ShiftOf(const QMouseEvent& event) const;
  QPoint DevicePoint(const QMouseEvent& event) const;
  std::u16string Text(const char16_t* key) const;  // a language text
  void ShowMessage(const std::u16string& text);

  Graphics& g_;
  PlaneView* view_;
  QOpenGLExtraFunctions functions_;
  PlaneBuffers buffers_;
  PlaneBufferFormat format_;
  bool contextReady_ = false;    // initializeGL made the buffers on the view's context
  bool bindingDirty_ = true;     // a Qt callback bound the widget's framebuffer since
  bool ownPaint_ = false;        // the paint under way is ours (a present or a capture)
  bool paintPosted_ = false;     // a deferred Paint() waits in the queue
  bool presentPending_ = false;  // a present's paint has not come yet
  int latePresents_ = 0;
  bool formatFailed_ = false;      // the chosen format's buffers could not be made (and that was reported)
  uint32_t resumesAtContext_ = 0;  // Graphics' PaintResume count when the context came
  GLint viewport_[4] = {0, 0, 0, 0};
  uint32_t background_ = 0xFFFFFF;
  bool leftPressedInside_ = false;
  FramePacer pacer_;
  PlaneEvents events_;
  QTimer regenerateTimer_;
  std::function<void()> hideControls_;
};
