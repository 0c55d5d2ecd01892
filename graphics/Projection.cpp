#include "graphics/Projection.h"

#include <algorithm>
#include <array>
#include <limits>

#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"

namespace {

std::array<uint32_t, kSelectionBufferSize> selectionBuffer{};

void CheckProjectionError(Graphics& g, const char16_t* tag) {
  g.LastGLError = gl().glGetError();
  if (g.LastGLError != 0)
    PrintGLError(g.S, FormatMessage(u"OpenGL Error %d/%s",
                                    {static_cast<long long>(g.LastGLError), std::u16string(tag)}));
}

bool CanProject(Graphics& g, PlaneSize size) {
  return g.planeExists() && !g.isCompilingList() && size.Width > 0 && size.Height > 0;
}

// Step 3 of the projection, shared with picking.
void LoadProjection(Graphics& g, PlaneSize size) {
  const double width = size.Width;
  const double height = size.Height;
  if (g.PerspectiveProjection)
    gl().gluPerspective(height * 30.0 / 500.0, width / height, 0.1, 1000000.0);
  else
    gl().glOrtho(-width / 2, width / 2, -height / 2, height / 2, -10000.0, 10000.0);
}

void LoadCamera(Graphics& g) {
  const GLProcTable& t = gl();
  t.glMatrixMode(GL_MODELVIEW);
  t.glLoadIdentity();
  t.glMultMatrixf(g.UserMatrix.data());
  t.gluLookAt(static_cast<double>(g.CameraEyeX), static_cast<double>(g.CameraEyeY),
              static_cast<double>(g.CameraEyeZ), static_cast<double>(g.CameraFocusX),
              static_cast<double>(g.CameraFocusY), static_cast<double>(g.CameraFocusZ),
              static_cast<double>(g.CameraUpX), static_cast<double>(g.CameraUpY), static_cast<double>(g.CameraUpZ));
}

// Draws one object under its own pick name.
void DrawForPick(Graphics& g, const TAtom& atom) {
  gl().glPushName(atom.Identity());
  try {
    gl().glCallList(atom.Identity());
  } catch (const LanguageError&) {
    PrintToOutput(g.S, u"Error rendering the image of \"" + TAtom::FullName(&atom) + u"\"");
  }
  gl().glPopName();
}

std::vector<PickHit> EndPick(PlaneSize size, Graphics& g) {
  const GLint hits = gl().glRenderMode(GL_RENDER);
  std::vector<PickHit> decoded = DecodeHits(selectionBuffer.data(), selectionBuffer.size(), hits);
  SetupProjection(g, size);
  return decoded;
}

}  // namespace

uint32_t* SelectionBuffer() { return selectionBuffer.data(); }

std::vector<PickHit> DecodeHits(const uint32_t* buffer, size_t size, int32_t hits) {
  std::vector<PickHit> result;
  size_t at = 0;
  for (int32_t i = 0; i < hits; ++i) {
    if (at + 3 > size) break;
    const uint32_t names = buffer[at];
    if (names > size - at - 3) break;
    PickHit hit;
    hit.MinDepth = buffer[at + 1];
    hit.MaxDepth = buffer[at + 2];
    if (names > 0) hit.Name = buffer[at + 2 + names];
    result.push_back(hit);
    at += 3 + names;
  }
  return result;
}

TAtom* HitAtom(Graphics& g, const PickHit& hit, int32_t mode) {
  if (!hit.Name) return nullptr;
  TAtom* atom = g.S.AtomById(*hit.Name);
  if (!IsAtom(atom) || atom->Kind != akVariable) return nullptr;
  if (mode == -1)
    while (atom->Parent != nullptr && atom->Parent->Parent != nullptr && atom->Parent->Parent->Parent != nullptr)
      atom = atom->Parent;
  return atom;
}

void StartContext() {
  const GLProcTable& t = gl();
  t.glMatrixMode(GL_MODELVIEW);
  t.glLoadIdentity();
  t.glEnable(GL_DEPTH_TEST);
  t.glSelectBuffer(static_cast<GLsizei>(selectionBuffer.size()), selectionBuffer.data());
  t.glDrawBuffer(GL_BACK);
}

void SetupProjection(Graphics& g, PlaneSize size) {
  if (!CanProject(g, size)) return;
  const GLProcTable& t = gl();
  CheckProjectionError(g, u"hunt270");
  t.glViewport(0, 0, size.Width, size.Height);
  CheckProjectionError(g, u"hunt271");
  t.glMatrixMode(GL_PROJECTION);
  t.glLoadIdentity();
  CheckProjectionError(g, u"hunt275");
  LoadProjection(g, size);
  CheckProjectionError(g, u"hunt279");
  LoadCamera(g);
  CheckProjectionError(g, u"hunt285");
}

void BeginPick(Graphics& g, PlaneSize planeSize, int32_t x, int32_t y, int32_t size) {
  const GLProcTable& t = gl();
  GLint viewport[4] = {0, 0, planeSize.Width, planeSize.Height};
  t.glGetIntegerv(GL_VIEWPORT, viewport);
  t.glRenderMode(GL_SELECT);
  t.glInitNames();
  t.glMatrixMode(GL_PROJECTION);
  t.glLoadIdentity();
  t.gluPickMatrix(x, viewport[3] - y, 2.0 * size, 2.0 * size, viewport);
  LoadProjection(g, planeSize);
  LoadCamera(g);
}

std::vector<std::u16string> PickAll(Graphics& g, int32_t x, int32_t y, int32_t mode, int32_t size) {
  std::vector<std::u16string> names;
  const GraphicsEntry entry(g);
  if (!entry.Live()) return names;
  const PlaneSize planeSize = g.plane()->clientSize();
  if (!CanProject(g, planeSize) || !IsAtom(g.S.Root)) return names;
  BeginPick(g, planeSize, x, y, size);
  for (const TAtom* child = g.S.Root->FirstChild; child != nullptr; child = child->NextSibling)
    if (g.HasList(child)) DrawForPick(g, *child);
  for (const PickHit& hit : EndPick(planeSize, g)) {
    TAtom* atom = HitAtom(g, hit, mode);
    if (atom == nullptr) continue;
    std::u16string name = TAtom::FullName(atom);
    if (names.empty() || names.back() != name) names.push_back(std::move(name));
  }
  return names;
}

std::optional<std::u16string> PickNearest(Graphics& g, int32_t x, int32_t y, int32_t mode, int32_t size,
                                          TAtom* names) {
  const GraphicsEntry entry(g);
  if (!entry.Live()) return std::nullopt;
  const PlaneSize planeSize = g.plane()->clientSize();
  if (!CanProject(g, planeSize) || !IsAtom(g.S.Root)) return std::nullopt;
  // The names are resolved before anything is drawn; drawing runs no code.
  std::vector<TAtom*> candidates;
  if (IsAtom(names)) {
    if (names->Kind != akList) return std::nullopt;
    for (TAtom* cell = names; IsAtom(cell); cell = cell->Right) {
      if (!IsAtom(cell->Left)) continue;
      TAtom* atom = g.S.FindName(cell->Left->Text);
      if (g.HasList(atom)) candidates.push_back(atom);
    }
  } else {
    for (TAtom* child = g.S.Root->FirstChild; child != nullptr; child = child->NextSibling)
      if (g.HasList(child)) candidates.push_back(child);
  }
  BeginPick(g, planeSize, x, y, size);
  for (const TAtom* atom : candidates) DrawForPick(g, *atom);
  uint32_t nearestMin = std::numeric_limits<uint32_t>::max();
  uint32_t nearestMax = std::numeric_limits<uint32_t>::max();
  TAtom* nearest = nullptr;
  for (const PickHit& hit : EndPick(planeSize, g)) {
    if (!(hit.MaxDepth < nearestMax || hit.MinDepth < nearestMin)) continue;
    TAtom* atom = HitAtom(g, hit, mode);
    if (atom == nullptr) continue;
    nearestMin = std::min(nearestMin, hit.MinDepth);
    nearestMax = std::min(nearestMax, hit.MaxDepth);
    nearest = atom;
  }
  if (nearest == nullptr) return std::nullopt;
  return TAtom::FullName(nearest);
}
