// Times the scene redraw against the least a redraw must do. 1,000
// top-level objects each draw one small quad (TESTQUAD) into their display
// list; after 20 warm-up frames, 200 frames of RedrawScene, then, in the
// same process and context, 200 frames of a plain loop (glClear and each
// object's glCallList), each frame ending in glFinish. Prints one line:
//   redraw_bench objects=1000 frames=200 scene_ms=S loop_ms=L ratio=R
// (mean milliseconds a frame; R = S / L). Draws on Mesa through an EGL
// surfaceless context of 640x480; without EGL it says why and ends with 1.
// Not a test: bench/run prints its line last.

#include <GL/gl.h>

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
  for (int i = 0; i < kObjects; ++i) {
    const double x = -4.0 + (i % 40) * 0.2;
    const double y = -2.5 + (i / 40) * 0.2;
    // Appended piece by piece: GCC 12 warns falsely about "literal" + string.
    const std::string name = std::to_string(i);
    text.append("make \"o").append(name).append(" []\r\n");
    text.append("make \"o").append(name).append(".ondrawimage [testquad ").append(std::to_string(x)).append(" ");
    text.append(std::to_string(y)).append(" ").append(std::to_string(i % 256)).append(" ");
    text.append(std::to_string((i * 7) % 256)).append(" 128]\r\n");
  }
  return Utf8ToUtf16(text);
}

template <class Frame>
double MeanFrameMs(int frames, Frame frame) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) {
    frame();
    ::glFinish();
  }
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / frames;
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
  if (RunText(in, kTestQuadDefinitions, u"bench", 0, 0) != rrOk || RunText(in, SceneProgram(), u"bench", 0, 0) != rrOk) {
    std::fprintf(stderr, "redraw_bench: the scene program failed\n");
    return 1;
  }
  plane.setupProjection();
  graphics.paintResume();

  std::vector<GLuint> lists;
  for (TAtom* child = s.Root->FirstChild; child != nullptr; child = child->NextSibling)
    if (graphics.HasList(child->Identity)) lists.push_back(child->Identity);
  if (lists.size() != static_cast<size_t>(kObjects)) {
    std::fprintf(stderr, "redraw_bench: %zu objects have lists, not %d\n", lists.size(), kObjects);
    return 1;
  }

  auto sceneFrame = [&] { graphics.redrawScene(); };
  auto loopFrame = [&] {
    ::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (GLuint list : lists) ::glCallList(list);
  };
  MeanFrameMs(kWarmUpFrames, sceneFrame);
  const double sceneMs = MeanFrameMs(kFrames, sceneFrame);
  MeanFrameMs(kWarmUpFrames, loopFrame);
  const double loopMs = MeanFrameMs(kFrames, loopFrame);
  std::printf("redraw_bench objects=%d frames=%d scene_ms=%.3f loop_ms=%.3f ratio=%.2f\n", kObjects, kFrames, sceneMs,
              loopMs, loopMs > 0 ? sceneMs / loopMs : 0.0);
  return 0;
}
