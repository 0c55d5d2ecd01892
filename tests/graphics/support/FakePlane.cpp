#include "tests/graphics/support/FakePlane.h"

#include "core/Vars.h"
#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"

bool FakePlane::makeCurrent() {
  ++MakeCurrentCalls;
  return Exists && CanMakeCurrent;
}

void FakePlane::presentFrame() {
  ++Presents;
  if (g_.isCompilingList()) ++PresentsWhileCompiling;
  if (OnPresent) OnPresent();
  if (ThrowOnPresent) throw LanguageError(u"present failed");
  gl().glFlush();
  g_.SwapPlaneBuffers(Size.Width, Size.Height);
}

void FakePlane::dispatchEvent(const PlaneEvent& event) {
  Dispatched.push_back(event);
  if (OnDispatch) OnDispatch(event);
}

void FakePlane::resetPlaneWindow() {
  ++WindowResets;
  if (hideControls_) hideControls_();
  setBackground(0xFFFFFF);
}
