// The graphics state of one interpreter and the core's graphics hooks: each
// hook is one graphics entry, which makes the plane's context current or
// sends every call to the null back-end while there is none.

#include "graphics/Graphics.h"

#include <cassert>

#include "core/Trans.h"
#include "graphics/GraphixLib.h"
#include "graphics/Scene.h"
#include "graphics/ZavOpenGL.h"

Graphics::Graphics(TInterpreter& in) : In(in), S(in.S) {
  In.OwnGraphics = this;
  InitGraphixLib(In);
  SetGLErrorStructure(&S);
  SetGLRecordingFailureHandler([this](const std::u16string& fileName) {
    PrintToOutput(S, S.MessageText(u"GLRECORDINGFAILED", {fileName}));
  });
}

Graphics::~Graphics() {
  // Lists and queued compiles die with the state; only the pins go back.
  for (uint32_t identity : DeferredCompiles) TAtom::DecRef(S.AtomById(identity));
  DeferredCompiles.clear();
  SetGLRecordingFailureHandler(nullptr);
  SetGLErrorStructure(nullptr);
  if (In.OwnGraphics == this) In.OwnGraphics = nullptr;
}

Graphics& Graphics::Of(TInterpreter& in) {
  assert(in.OwnGraphics != nullptr);
  return *static_cast<Graphics*>(in.OwnGraphics);
}

// --- the list record ------------------------------------------------------------

bool Graphics::HasList(const TAtom* atom) const { return IsAtom(atom) && (atom->Marks & amDisplayList) != 0; }

void Graphics::NoteListMade(TAtom& atom) {
  listOwners_.insert(atom.Identity());
  atom.Marks |= amDisplayList;
}

void Graphics::NoteListDeleted(uint32_t identity) {
  if (listOwners_.erase(identity) == 0) return;
  TAtom* atom = S.AtomById(identity);
  if (IsAtom(atom)) atom->Marks &= static_cast<uint8_t>(~amDisplayList);
}

void Graphics::ForgetAllLists() {
  for (uint32_t identity : listOwners_) {
    TAtom* atom = S.AtomById(identity);
    if (IsAtom(atom)) atom->Marks &= static_cast<uint8_t>(~amDisplayList);
  }
  listOwners_.clear();
}

void Graphics::DeleteList(uint32_t identity) {
  if (!HasList(identity)) return;
  gl().glDeleteLists(identity, 1);
  NoteListDeleted(identity);
}

// --- the recording ----------------------------------------------------------------

void Graphics::StartGLRecording(const std::u16string& fileName) {
  const GraphicsEntry entry(*this);
  // A file that cannot be created leaves the table direct; the scene is
  // repainted all the same.
  static_cast<void>(OpenGLRecording(fileName));
  PaintSuspended = false;
  PaintResume(*this);
  if (plane_ != nullptr) plane_->repaintNow();
}

void Graphics::StopGLRecording() { CloseGLRecording(); }

void Graphics::SwapPlaneBuffers(int width, int height) {
  static_cast<void>(width);
  static_cast<void>(height);
  if (DoubleBuffered && plane_ != nullptr) plane_->swapBuffers();
  RecordFrameEnd();
}

// --- the core's hooks ------------------------------------------------------------------

void Graphics::redrawScene() {
  const GraphicsEntry entry(*this);
  RedrawScene(*this);
}

void Graphics::compileDisplayLists(TAtom& variable) {
  const GraphicsEntry entry(*this);
  const PinnedAtom pin(&variable);
  CompileDisplayList(*this, &variable, true);
  // The ancestors' lists call the variable's: each is built again, up to the
  // root's children (the root has no list).
  for (TAtom* ancestor = variable.Parent; IsAtom(ancestor) && ancestor->Parent != nullptr;
       ancestor = ancestor->Parent)
    CompileDisplayList(*this, ancestor, true);
}

void Graphics::deleteDisplayLists(TAtom& variable) {
  const GraphicsEntry entry(*this);
  DeleteDisplayLists(*this, &variable);
}

bool Graphics::isDisplayList(uint32_t identity) { return HasList(identity); }

void Graphics::deleteDisplayList(uint32_t identity) {
  // The collector asks for every atom it frees: only those with a list
  // cost more than a look-up.
  if (!HasList(identity)) return;
  const GraphicsEntry entry(*this);
  DeleteList(identity);
}

void Graphics::resetPlane() {
  const GraphicsEntry entry(*this);
  if (planeExists()) plane_->resetPlaneWindow();
  ClearColorSet = false;
  ClearColorR = ClearColorG = ClearColorB = ClearColorA = 1.0L;
  DoubleBuffered = true;
  if (entry.Live()) {
    gl().glDrawBuffer(GL_BACK);
    LastGLError = gl().glGetError();
    if (LastGLError != 0)
      PrintGLError(S, FormatMessage(u"OpenGL Error %d/%s", {static_cast<long long>(LastGLError), u"m3391"}));
  }
  // Every reset starts in perspective, with or without a context: the
  // projection set up below reads it.
  PerspectiveProjection = true;
  if (planeExists()) plane_->setupProjection();
  FrameInterval = -1;
  if (entry.Live()) gl().glEnable(GL_DEPTH_TEST);
}

void Graphics::paintResume() {
  ++PaintResumes;
  const GraphicsEntry entry(*this);
  PaintResume(*this);
}

// --- the graphics entry --------------------------------------------------------------

GraphicsEntry::GraphicsEntry(Graphics& g) {
  PlaneLink* plane = g.plane();
  live_ = plane != nullptr && plane->exists() && plane->makeCurrent();
  previousNullRoute_ = SetGLNullRoute(!live_);
}

GraphicsEntry::~GraphicsEntry() { SetGLNullRoute(previousNullRoute_); }
