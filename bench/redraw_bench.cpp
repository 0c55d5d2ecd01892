// Times the scene redraw against the least a redraw must do. 1,000
// top-level objects each draw one small quad (TESTQUAD) into their display
// list; after 20 warm-up frames of each, 200 frames of RedrawScene and, in
// the same process and context, 200 frames of a plain loop (glClear and each
// object's glCallList), in turns, each frame ending in glFinish. Prints one line:
//   redraw_bench objects=1000 frames=200 scene_ms=S loop_ms=L ratio=R
// (mean milliseconds a frame; R = S / L). Draws on Mesa through an EGL
// surfaceless context of 640x480; without EGL it says why and ends with 1.
// Not a test: bench/run prints its line last.

#include <GL/gl.h>
#include <GL/glu.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/EglPlane.h"
#include "tests/graphics/support/TestQuad.h"
#include "tests/support/TestState.h"

namespace {

constexpr int kObjects = 1000;
constexpr int kWarmUpFrames = 20;
constexpr int kFrames = 200;

// The objects on a 40 x 25 grid in the plane z = 0, in view of the default
// camera, each with a colour of its own.
std::u16string SceneProgram() {
  std::string text;
  char line[160];
  for (int i = 0; i < kObjects; ++i) {
    const double x = -4.0 + (i % 40) * 0.2;
    const double y = -2.5 + (i / 40) * 0.2;
    std::snprintf(line, sizeof line, "make \"o%d []\r\nmake \"o%d.ondrawimage [testquad %.1f %.1f %d %d 128]\r\n", i, i, x,
                  y, i % 256, (i * 7) % 256);
    text += line;
  }
  return Utf8ToUtf16(text);
}

// Milliseconds of one frame, finished.
template <class Frame>
double FrameMs(Frame frame) {
  const auto start = std::chrono::steady_clock::now();
  frame();
  ::glFinish();
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count();
}

}  // namespace

int main() {
  TestState state;
  TStructure& s = *state.S;
  TInterpreter in(s);
  Graphics graphics(in);
  state.Host.GraphicsOverride = &graphics;
  TestQuadBinder quad(in);

  EglPlane plane(graphics, 640, 480);
  if (!plane.Ok()) {
    std::fprintf(stderr, "redraw_bench: no EGL context: %s\n", plane.Error().c_str());
    return 1;
  }
  if (RunText(in, std::u16string(kTestQuadDefinitions), u"bench", 0, 0) != rrOk || RunText(in, SceneProgram(), u"bench", 0, 0) != rrOk) {
    std::fprintf(stderr, "redraw_bench: the scene program failed\n");
    return 1;
  }
  plane.setupProjection();
  graphics.paintResume();

  std::vector<GLuint> lists;
  for (TAtom* child = s.Root->FirstChild; child != nullptr; child = child->NextSibling)
    if (graphics.HasList(child->Identity())) lists.push_back(child->Identity());
  if (lists.size() != static_cast<size_t>(kObjects)) {
    std::fprintf(stderr, "redraw_bench: %zu objects have lists, not %d\n", lists.size(), kObjects);
    return 1;
  }

  auto sceneFrame = [&] { graphics.redrawScene(); };
  auto loopFrame = [&] {
    ::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (GLuint list : lists) ::glCallList(list);
  };
  // The loop draws the same picture: the scene's camera and depth test, set
  // once here (a redraw leaves the model-view matrix as it found it).
  ::glMatrixMode(GL_MODELVIEW);
  ::glLoadIdentity();
  ::glMultMatrixf(graphics.UserMatrix.data());
  ::gluLookAt(5, 15, 5, 0, 0, 0, 0, 0, 1);
  ::glEnable(GL_DEPTH_TEST);
  ::glDepthFunc(GL_LEQUAL);
  // The driver takes hundreds of frames to settle its memory: the two are
  // timed frame by frame in turns, so that neither profits from going last.
  for (int i = 0; i < kWarmUpFrames; ++i) {
    FrameMs(sceneFrame);
    FrameMs(loopFrame);
  }
  double sceneMs = 0;
  double loopMs = 0;
  for (int i = 0; i < kFrames; ++i) {
    sceneMs += FrameMs(sceneFrame);
    loopMs += FrameMs(loopFrame);
  }
  sceneMs /= kFrames;
  loopMs /= kFrames;
  std::printf("redraw_bench objects=%d frames=%d scene_ms=%.3f loop_ms=%.3f ratio=%.2f\n", kObjects, kFrames, sceneMs,
              loopMs, loopMs > 0 ? sceneMs / loopMs : 0.0);
  return 0;
}
