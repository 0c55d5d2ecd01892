// Display lists and the scene redraw.
//
// A list is compiled by running the variable's ondrawimage code quietly
// between glNewList and glEndList. While a list is open nothing may pump a
// redraw into it or open another one (GL refuses nested lists): a redraw
// asked for meanwhile is remembered, and a recompile queued, until the
// outermost list closes normally; then the queue runs, each atom once, and
// the redraw follows. An error drops both.
//
// After most GL steps the error state is read through the table, kept in
// LastGLError and printed with its site code when it is set.

#include "graphics/Scene.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <vector>

#include "core/Expr.h"
#include "core/RunStack.h"
#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"

namespace {

// --- GL error sites ---------------------------------------------------------------

long long Num(uint32_t value) { return static_cast<long long>(value); }

// Reads the GL error; prints the message made by format when there is one.
template <class MakeMessage>
void CheckGLErrorWith(Graphics& g, MakeMessage makeMessage) {
  g.LastGLError = gl().glGetError();
  if (g.LastGLError != 0) PrintGLError(g.S, makeMessage(Num(g.LastGLError)));
}

// "OpenGL Error %d/%d": a numbered site.
void CheckGLError(Graphics& g, int site) {
  CheckGLErrorWith(g, [site](long long error) { return FormatMessage(u"OpenGL Error %d/%d", {error, Num(site)}); });
}

// "OpenGL Error %d/%s": a tagged site.
void CheckGLError(Graphics& g, const char16_t* tag) {
  CheckGLErrorWith(g, [tag](long long error) {
    return FormatMessage(u"OpenGL Error %d/%s", {error, std::u16string(tag)});
  });
}

// "OpenGL Error %d/%d var=[%s]" and "OpenGL Error %d/%s var=[%s]": a site
// that names the variable.
void CheckGLErrorOfVariable(Graphics& g, int site, const TAtom& variable) {
  CheckGLErrorWith(g, [&](long long error) {
    return FormatMessage(u"OpenGL Error %d/%d var=[%s]", {error, Num(site), TAtom::FullName(&variable)});
  });
}
void CheckGLErrorOfVariable(Graphics& g, const char16_t* tag, const TAtom& variable) {
  CheckGLErrorWith(g, [&](long long error) {
    return FormatMessage(u"OpenGL Error %d/%s var=[%s]", {error, std::u16string(tag), TAtom::FullName(&variable)});
  });
}

// --- small helpers -------------------------------------------------------------------

// The children of a variable, in order, pinned for the scope: drawing code
// run meanwhile may unlink them, and the collector must not take them.
class PinnedChildren {
public:
  explicit PinnedChildren(const TAtom& parent) {
    for (TAtom* child = parent.FirstChild; child != nullptr; child = child->NextSibling) {
      TAtom::IncRef(child);
      children_.push_back(child);
    }
  }
  ~PinnedChildren() {
    for (TAtom* child : children_) TAtom::DecRef(child);
  }
  PinnedChildren(const PinnedChildren&) = delete;
  PinnedChildren& operator=(const PinnedChildren&) = delete;
  auto begin() const { return children_.begin(); }
  auto end() const { return children_.end(); }

private:
  std::vector<TAtom*> children_;
};

// Takes over the pin a queue entry held, and lets it go at the end.
class AdoptedPin {
public:
  explicit AdoptedPin(TAtom* atom) : atom_(atom) {}
  ~AdoptedPin() { TAtom::DecRef(atom_); }
  AdoptedPin(const AdoptedPin&) = delete;
  AdoptedPin& operator=(const AdoptedPin&) = delete;

private:
  TAtom* atom_;
};

// --- deferral while a list is open ---------------------------------------------------------

void DropDeferredWork(Graphics& g) {
  for (uint32_t identity : g.DeferredCompiles) TAtom::DecRef(g.S.AtomById(identity));
  g.DeferredCompiles.clear();
  g.RedrawDeferred = false;
}

// A compile asked for while a list is open. The open list's own atom is not
// queued: its drawing code changing the atom itself is already being
// compiled into it.
void DeferCompile(Graphics& g, TAtom& atom) {
  if (atom.Identity() == g.OpenListOwner) return;
  if (std::find(g.DeferredCompiles.begin(), g.DeferredCompiles.end(), atom.Identity()) != g.DeferredCompiles.end())
    return;
  TAtom::IncRef(&atom);
  g.DeferredCompiles.push_back(atom.Identity());
}

// Runs the queued compiles in order, each atom once however often it is
// queued again meanwhile (drawables that change each other or themselves
// must come to an end), then the deferred redraw. The compiles close lists
// of their own: those closes leave the draining to this loop.
void DrainDeferredWork(Graphics& g) {
  if (g.DrainingDeferred) return;
  const RestoreOnExit<bool> draining(g.DrainingDeferred, true);
  // An error in one of the compiles (or the redraw) drops what is left.
  struct DropOnError {
    Graphics& G;
    bool Done = false;
    ~DropOnError() {
      if (!Done) DropDeferredWork(G);
    }
  } dropOnError{g};
  std::unordered_set<uint32_t> compiled;
  while (!g.DeferredCompiles.empty()) {
    const uint32_t identity = g.DeferredCompiles.front();
    g.DeferredCompiles.erase(g.DeferredCompiles.begin());
    TAtom* atom = g.S.AtomById(identity);
    const AdoptedPin pin(atom);
    if (IsAtom(atom) && compiled.insert(identity).second) CompileDisplayList(g, atom, true);
  }
  if (g.RedrawDeferred) {
    g.RedrawDeferred = false;
    RedrawScene(g);
  }
  dropOnError.Done = true;
}

// The atom's list between glNewList and glEndList. The list is closed on
// every exit and recorded as the atom's, also when the drawing code failed
// (its list keeps what was drawn before the error). The outermost normal
// close runs the deferred work; an error drops it.
class OpenList {
public:
  OpenList(Graphics& g, TAtom& atom) : g_(g), atom_(atom), previousOwner_(g.OpenListOwner) {
    gl().glNewList(atom.Identity(), GL_COMPILE);
    ++g_.ListCompileDepth;
    g_.OpenListOwner = atom.Identity();
  }
  ~OpenList() {
    if (closed_) return;
    End();
    if (g_.ListCompileDepth == 0) DropDeferredWork(g_);
  }
  OpenList(const OpenList&) = delete;
  OpenList& operator=(const OpenList&) = delete;

  void Close() {
    End();
    closed_ = true;
    if (g_.ListCompileDepth == 0) DrainDeferredWork(g_);
  }

private:
  void End() {
    gl().glEndList();
    --g_.ListCompileDepth;
    g_.OpenListOwner = previousOwner_;
    g_.NoteListMade(atom_);
  }

  Graphics& g_;
  TAtom& atom_;
  uint32_t previousOwner_;
  bool closed_ = false;
};

// --- compiling one list -----------------------------------------------------------------------

// The last trace entry names the drawing method, so that the report shows
// its full name instead of the generated statement that called it.
void NameMethodInTrace(TStructure& s, const TAtom& method) {
  if (s.ErrorTrace.empty()) return;
  TPosition& entry = s.ErrorTrace.back();
  const std::u16string fullName = TAtom::FullName(&method);
  entry.StartPos = 0;
  entry.EndPos = static_cast<int32_t>(fullName.size()) + 1;
  entry.SourceName = SharedText();
  entry.SourceText = SharedText(fullName);
  // Trace entries hold a pin on their statement.
  TAtom* statement = NewListCell(s, NewWord(s, fullName), nullptr);
  TAtom::IncRef(statement);
  TAtom::DecRef(entry.Statement);
  entry.Statement = statement;
}

// Runs the one-word statement that calls the method, as if typed inside
// the object: field names resolve in the object's frame, and statement-level
// printing is suppressed. The interrupted run, if any, finds its state,
// statement, frame and event suspension as it left them.
void RunDrawingCodeInEntry(Graphics& g, TAtom& atom, TAtom& method) {
  TInterpreter& in = g.In;
  TStructure& s = g.S;
  const RunEntry entry(in, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  std::optional<SavedRunState> saved;
  if (!entry.Outermost()) saved.emplace(in);
  const CodePointerKeeper keeper(in);
  const RestoreOnExit<bool> events(s.EventsSuspended);
  const EnteredFrame frame(s, &atom);

  TAtom* cell = NewListCell(s, NewWord(s, method.Text), nullptr);
  const PinnedAtom pinCell(cell);
  TPosition generated;
  generated.StartPos = kGeneratedPos;
  generated.EndPos = kGeneratedPos;
  TAtom::SetPosition(*cell, generated);

  try {
    in.CodePointer = cell;
    s.CurrentPosition.AssignFrom(TAtom::PositionOf(cell));
    s.CurrentPosition.Depth = in.InterpretDepth;
    s.CurrentPosition.Statement = cell;
    s.CurrentPosition.FrameOwner = nullptr;
    in.ResultAtom = SystemValue;
    in.StopFlag = false;
    if (CompileCurrentRun(in) == CompileResult::Compiled) static_cast<void>(Interpret(in, cell, /*quiet*/ true));
  } catch (const LanguageError&) {
    NameMethodInTrace(s, method);
    throw;
  }
}

// Drawing code runs on the run stack, as every run entry does.
void RunDrawingCode(Graphics& g, TAtom& atom, TAtom& method) {
  OnRunStack(g.In, [&] { RunDrawingCodeInEntry(g, atom, method); });
}

// The method's value holds drawing code: run it inside the list (or
// straight onto the target).
void CompileFromCode(Graphics& g, TAtom& atom, TAtom& method, bool compile) {
  std::optional<OpenList> list;
  if (compile) {
    list.emplace(g, atom);
    CheckGLError(g, 209);
  }
  RunDrawingCode(g, atom, method);
  if (list) list->Close();
}

// The method has no code: the list calls the children's lists, each under
// its own pick name, after building those that have none. No list at all
// when no child has one.
void CompileFromChildren(Graphics& g, TAtom& atom, bool compile) {
  const PinnedChildren children(atom);
  for (TAtom* child : children) {
    if (g.HasList(child)) continue;
    CompileDisplayList(g, child, compile);
    CheckGLErrorOfVariable(g, u"gl-3", *child);
  }
  std::optional<OpenList> list;
  bool first = true;
  for (TAtom* child : children) {
    if (!g.HasList(child)) continue;
    if (first && compile) {
      list.emplace(g, atom);
      CheckGLError(g, 205);
    }
    first = false;
    gl().glPushName(child->Identity());
    CheckGLError(g, 206);
    gl().glCallList(child->Identity());
    CheckGLError(g, 207);
    gl().glPopName();
    CheckGLError(g, 208);
  }
  if (list) list->Close();
}

// The method of a variable that can have a list; null for those that
// cannot: the root, a handler or method child, a variable without a method
// or with an empty one, a hidden one, an anonymous root value.
TAtom* DrawingMethodOf(const TAtom& atom) {
  const TAtom* parent = atom.Parent;
  if (parent == nullptr) return nullptr;
  if (parent->ChangeChild() == &atom || parent->DrawImageChild() == &atom) return nullptr;
  TAtom* method = atom.DrawImageChild();
  if (method == nullptr || !IsAtom(method->Left)) return nullptr;
  if ((atom.Flags & afNotDrawn) != 0 || atom.Text == u"[~]") return nullptr;
  return method;
}

// Runs the work of one regeneration pass and a redraw, repeated while a
// regeneration was asked for meanwhile; events stay suspended for it.
template <class Work>
void RegeneratePasses(Graphics& g, Work work) {
  do {
    g.RegenerateAgain = false;
    const RestoreOnExit<bool> regenerating(g.InRegenerate, true);
    const RestoreOnExit<bool> events(g.S.EventsSuspended, true);
    work();
    RedrawScene(g);
  } while (g.RegenerateAgain);
}

// The plane events queued while events were suspended: both slots are
// emptied first (a replayed event may queue new ones), then the other event
// goes before the move.
void ReplayQueuedEvents(Graphics& g) {
  const std::optional<PlaneEvent> event = std::move(g.QueuedEvent);
  const std::optional<PlaneEvent> move = std::move(g.QueuedMove);
  g.QueuedEvent.reset();
  g.QueuedMove.reset();
  if (event && g.plane() != nullptr) g.plane()->dispatchEvent(*event);
  if (move && g.plane() != nullptr) g.plane()->dispatchEvent(*move);
}

// Regeneration with the replay of queued events when it was not itself
// called inside a drawing pass.
template <class Work>
void Regenerate(Graphics& g, Work work) {
  const bool eventsWereSuspended = g.S.EventsSuspended;
  RegeneratePasses(g, work);
  if (!eventsWereSuspended) ReplayQueuedEvents(g);
}

// --- the redraw ---------------------------------------------------------------------------------

// A single-buffered plane shows what was drawn so far: a point that changes
// no pixel pushes the pending drawing out. The mark's calls are direct.
void RedrawSingleBuffered(Graphics& g) {
  PlaneLink* plane = g.plane();
  if (!g.planeExists()) return;
  const GLProcTable& direct = glDirect();
  direct.glPointSize(1);
  direct.glEnable(GL_BLEND);
  direct.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  direct.glColor4ub(0, 0, 0, 0);
  direct.glBegin(GL_POINTS);
  direct.glVertex3f(0, 0, 0);
  direct.glEnd();
  direct.glFlush();
  gl().glFlush();
  const PlaneSize size = plane->clientSize();
  g.SwapPlaneBuffers(size.Width, size.Height);
  plane->presentFront();
}

// The end of one drawing pass, on every exit: events as they were, the pass
// over, the matrix pushed at its start popped.
class RedrawPassScope {
public:
  explicit RedrawPassScope(Graphics& g) : g_(g), events_(g.S.EventsSuspended) { g_.S.EventsSuspended = true; }
  ~RedrawPassScope() {
    if (!ended_) Restore();
  }
  RedrawPassScope(const RedrawPassScope&) = delete;
  RedrawPassScope& operator=(const RedrawPassScope&) = delete;
  void End() {
    Restore();
    ended_ = true;
    CheckGLError(g_, u"fd220");
  }

private:
  void Restore() {
    g_.S.EventsSuspended = events_;
    g_.InRedraw = false;
    gl().glPopMatrix();
  }
  Graphics& g_;
  bool events_;
  bool ended_ = false;
};

void SetUpCamera(Graphics& g) {
  const GLProcTable& t = gl();
  t.glMatrixMode(GL_MODELVIEW);
  t.glLoadIdentity();
  t.glMultMatrixf(g.UserMatrix.data());
  t.gluLookAt(static_cast<GLdouble>(g.CameraEyeX), static_cast<GLdouble>(g.CameraEyeY),
              static_cast<GLdouble>(g.CameraEyeZ), static_cast<GLdouble>(g.CameraFocusX),
              static_cast<GLdouble>(g.CameraFocusY), static_cast<GLdouble>(g.CameraFocusZ),
              static_cast<GLdouble>(g.CameraUpX), static_cast<GLdouble>(g.CameraUpY),
              static_cast<GLdouble>(g.CameraUpZ));
  glDirect().glGetFloatv(GL_MODELVIEW_MATRIX, g.S.ViewMatrix.data());
}

void RedrawPass(Graphics& g) {
  const GLProcTable& t = gl();
  TStructure& s = g.S;
  g.PaintSuspended = true;
  g.InRedraw = true;
  t.glPushMatrix();
  RedrawPassScope scope(g);
  CheckGLError(g, u"d220");

  t.glEnable(GL_LIGHT0);
  CheckGLError(g, 216);
  SetUpCamera(g);
  CheckGLError(g, 1435);

  for (GLenum i = 0; i < 6; ++i) t.glDisable(GL_CLIP_PLANE0 + i);
  t.glDisable(GL_FOG);

  TAtom* root = s.Root;
  if (IsAtom(root)) {
    const TAtom* before = TAtom::FindChildByName(s, *root, s.Keyword(kwOnbeforedraw));
    if (g.HasList(before)) {
      t.glCallList(before->Identity());
      CheckGLError(g, 212);
    }
  }
  CheckGLError(g, 2140);

  const PlaneSize size = g.plane()->clientSize();
  t.glViewport(0, 0, size.Width, size.Height);
  t.glEnable(GL_DEPTH_TEST);
  t.glClearColor(static_cast<GLclampf>(g.ClearColorR), static_cast<GLclampf>(g.ClearColorG),
                 static_cast<GLclampf>(g.ClearColorB), static_cast<GLclampf>(g.ClearColorA));
  t.glClearDepth(1.0);
  t.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  t.glDepthFunc(GL_LEQUAL);
  t.glDrawBuffer(GL_BACK);
  CheckGLError(g, 214);

  g.In.SceneDirty = false;
  if (IsAtom(root)) {
    // A hidden variable (afNotDrawn) keeps its list but is not drawn.
    for (const TAtom* child = root->FirstChild; child != nullptr; child = child->NextSibling) {
      if (!g.HasList(child) || (child->Flags & afNotDrawn) != 0) continue;
      t.glCallList(child->Identity());
      CheckGLErrorWith(g, [child](long long error) {
        return FormatMessage(u"OpenGL Error %d/%d-%s", {error, 219LL, child->Text});
      });
    }
  }

  g.plane()->presentFrame();
  scope.End();
}

}  // namespace

// --- lists ----------------------------------------------------------------------------------------

void CompileDisplayList(Graphics& g, TAtom* atom, bool compile) {
  if (g.PaintSuspended || !g.planeExists() || !IsAtom(atom)) return;
  TAtom* method = DrawingMethodOf(*atom);
  if (method == nullptr) return;
  if (compile && g.isCompilingList()) {
    DeferCompile(g, *atom);
    return;
  }
  const DepthGuard depth(g.S);
  if (depth.TooDeep()) {
    g.S.RaiseTooDeep();
    return;
  }
  // Drawing code may drop the atom or its method from the tree meanwhile.
  const PinnedAtom pinAtom(atom);
  const PinnedAtom pinMethod(method);

  if (g.HasList(atom)) {
    g.DeleteList(atom->Identity());
    CheckGLErrorOfVariable(g, 204, *atom);
  }
  CheckGLErrorOfVariable(g, u"gl2", *atom);

  TAtom* code = method->Left;
  const int32_t length = TAtom::IsList(code) ? TAtom::Length(code) : 0;
  if (length > 1)
    CompileFromCode(g, *atom, *method, compile);
  else if (length == 1)
    CompileFromChildren(g, *atom, compile);
}

void DeleteDisplayLists(Graphics& g, TAtom* atom) {
  if (!IsAtom(atom)) return;
  // Depth first with a work list of its own: trees may be deeper than the
  // machine stack would like.
  std::vector<TAtom*> pending{atom};
  while (!pending.empty()) {
    TAtom* current = pending.back();
    pending.pop_back();
    const bool hadList = g.HasList(current);
    if (hadList) {
      g.DeleteList(current->Identity());
      CheckGLError(g, 204);
    }
    if (!hadList && current->DrawImageChild() == nullptr) continue;
    const size_t mark = pending.size();
    for (TAtom* child = current->FirstChild; child != nullptr; child = child->NextSibling) pending.push_back(child);
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
  }
}

void DrawImageNow(Graphics& g, TAtom* atom) {
  if (!IsAtom(atom) || g.PaintSuspended || (atom->Flags & afNotDrawn) != 0) return;
  const PinnedAtom pin(atom);
  if (!g.HasList(atom)) CompileDisplayList(g, atom, false);
  if (!g.HasList(atom)) return;
  gl().glPushName(atom->Identity());
  CheckGLError(g, 201);
  gl().glCallList(atom->Identity());
  CheckGLError(g, 202);
  gl().glPopName();
  CheckGLError(g, 203);
}

void RecompileTree(Graphics& g, TAtom* atom) {
  if (!IsAtom(atom)) return;
  const DepthGuard depth(g.S);
  if (depth.TooDeep()) {
    g.S.RaiseTooDeep();
    return;
  }
  const PinnedAtom pin(atom);
  if (g.HasList(atom)) {
    const uint32_t identity = atom->Identity();
    g.DeleteList(identity);
    CheckGLErrorWith(g, [identity](long long error) {
      return FormatMessage(u"OpenGL Error %d/%d/%d", {error, 1969LL, Num(identity)});
    });
  }
  if (atom->DrawImageChild() == nullptr) return;
  // Children first: the parent's list may call theirs.
  {
    const PinnedChildren children(*atom);
    for (TAtom* child : children) RecompileTree(g, child);
  }
  CompileDisplayList(g, atom, true);
}

// --- the redraw and the regeneration passes ---------------------------------------------------

void RedrawScene(Graphics& g) {
  // A redraw while a list is open would be compiled into it.
  if (g.isCompilingList()) {
    g.RedrawDeferred = true;
    return;
  }
  if (!g.DoubleBuffered) {
    RedrawSingleBuffered(g);
    return;
  }
  PlaneLink* plane = g.plane();
  if (!g.planeExists() || !plane->ready()) return;
  // Code run during the redraw asked for one: the running redraw repeats.
  // Tested before PaintSuspended, which the running pass itself sets.
  if (g.InRedraw) {
    g.RedrawAgain = true;
    return;
  }
  if (g.PaintSuspended || g.In.InChangeHandlers) return;
  // PaintSuspended comes back however the passes end.
  const RestoreOnExit<bool> paintSuspended(g.PaintSuspended);
  do {
    g.RedrawAgain = false;
    RedrawPass(g);
  } while (g.RedrawAgain);
}

void PaintResume(Graphics& g) {
  if (g.InRegenerate) {
    g.RegenerateAgain = true;
    return;
  }
  if (!g.DoubleBuffered) return;
  Regenerate(g, [&g] {
    TAtom* root = g.S.Root;
    if (!IsAtom(root)) return;
    const PinnedChildren children(*root);
    for (TAtom* child : children) RecompileTree(g, child);
  });
}

void RegenerateImage(Graphics& g, TAtom* atom) {
  if (g.InRegenerate) {
    g.RegenerateAgain = true;
    return;
  }
  const PinnedAtom pin(atom);
  Regenerate(g, [&g, atom] { RecompileTree(g, atom); });
}

void RegenerateJustImage(Graphics& g, TAtom* atom) { RecompileTree(g, atom); }
