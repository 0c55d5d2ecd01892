// Drawing objects on Mesa: every prototype draws in every mode without a
// GL error, and the pictures show what the fields say (filled figures,
// the clear colour, clip planes, the solids sample).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "core/Text.h"
#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "graphics/Scene.h"
#include "tests/graphics/support/EglPlane.h"
#include "tests/support/TestState.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

class GraphixPixelsTest : public ::testing::Test {
protected:
  void SetUp() override {
    plane_ = std::make_unique<EglPlane>(G, kWidth, kHeight);
    if (!plane_->Ok()) {
      if (GlRequired()) FAIL() << "no EGL context: " << plane_->Error();
      GTEST_SKIP() << "no EGL context: " << plane_->Error();
    }
    T.Host.GraphicsOverride = &G;
    G.setPlane(plane_.get());
    I.LibraryLoadCommands = u"run \"'" + Utf8ToUtf16(ZAVTA_SOURCE_DIR "/resources/Logo.zav") + u"',run \"'" +
                            Utf8ToUtf16(ZAVTA_SOURCE_DIR "/resources/Graphix.zav") + u"',";
    ASSERT_FALSE(ResetInterpreter(I)) << T.Host.Output();
    plane_->setupProjection();
  }
  void TearDown() override {
    G.setPlane(nullptr);
    T.Host.GraphicsOverride = nullptr;
  }

  // Runs the program as Run does and repaints the whole scene.
  void Show(std::u16string_view program) {
    ASSERT_EQ(RunProgramText(I, ToCrLf(program), u"test"), rrOk) << T.Host.Output();
    G.paintResume();
  }
  // Pixels within 8 per channel of the colour.
  int CountColour(const PlanePicture& picture, uint32_t rgb) {
    int n = 0;
    for (size_t k = 0; k + 2 < picture.Rgb.size(); k += 3) {
      const int r = picture.Rgb[k], g = picture.Rgb[k + 1], b = picture.Rgb[k + 2];
      if (std::abs(r - int(rgb >> 16)) <= 8 && std::abs(g - int((rgb >> 8) & 0xFF)) <= 8 &&
          std::abs(b - int(rgb & 0xFF)) <= 8)
        ++n;
    }
    return n;
  }

  TestState T;
  TInterpreter I{*T.S};
  Graphics G{I};
  std::unique_ptr<EglPlane> plane_;
};

// Global fields that make every prototype draw something: a copy draws as
// soon as it is made, and finds these by the visible-name rule.
constexpr std::u16string_view kShapeFields =
    u"make \"initial.x 0\nmake \"initial.y 0\nmake \"final.x 1\nmake \"final.y 1\n"
    u"make \"points.#1.x 0\nmake \"points.#1.y 0\nmake \"points.#2.x 1\nmake \"points.#2.y 0\n"
    u"make \"points.#3.x 1\nmake \"points.#3.y 1\nmake \"points.#4.x 0\nmake \"points.#4.y 1\n";

TEST_F(GraphixPixelsTest, EveryPrototypeDrawsInEveryModeWithoutAGLError) {
  for (const char* prototype : {"point", "segment", "ray", "line", "isogon", "parabola", "hyperbola", "rectangle",
                                "cube", "cylinder", "sphere", "polygon", "quadril"})
    for (int mode = 0; mode <= 2; ++mode)
      for (const char* style : {"", "make \"o.light \"true\nmake \"o.shininess 40", "texture"}) {
        const std::string what = std::string(prototype) + " mode " + std::to_string(mode) + " " + style;
        T.Host.Lines.clear();
        const std::u16string program = std::u16string(kShapeFields) + u"make \"o " + Utf8ToUtf16(prototype) + u"\n" +
                                       u"make \"o.mode " + Utf8ToUtf16(std::to_string(mode)) + u"\n" +
                                       (std::string(style) == "texture" ? u"" : Utf8ToUtf16(style));
        Show(program);
        if (std::string(style) == "texture") {
          // A 2 x 2 texture, applied when the object is drawn again.
          TAtom* block = NewMemoryBlock(*T.S, 4 + 16, TAtom::FreeMemoryBlock);
          auto* bytes = static_cast<uint8_t*>(block->Object());
          bytes[0] = 2;
          bytes[2] = 2;
          for (int k = 4; k < 20; ++k) bytes[k] = static_cast<uint8_t>(k * 13);
          T.S->CreateVariable(T.S->FindPath(T.S->Root, u"o"), u"texture", true, block);
          G.paintResume();
        }
        // And once more straight onto the target, without a list.
        {
          const GraphicsEntry entry(G);
          TAtom* o = T.S->FindPath(T.S->Root, u"o");
          DeleteDisplayLists(G, o);
          CompileDisplayList(G, o, false);
        }
        EXPECT_EQ(T.Host.Output().find("OpenGL Error"), std::string::npos) << what << "\n" << T.Host.Output();
      }
}

TEST_F(GraphixPixelsTest, AFilledIsogonCoversTheCentreNotTheCorners) {
  Show(u"make \"o isogon\nmake \"o.radius 2\nmake \"o.mode 2");
  EXPECT_EQ(plane_->FrontPixel(kWidth / 2, kHeight / 2), 0x00FF00u);
  EXPECT_EQ(plane_->FrontPixel(2, 2), 0xFFFFFFu);
  EXPECT_EQ(plane_->FrontPixel(kWidth - 3, kHeight - 3), 0xFFFFFFu);
}

TEST_F(GraphixPixelsTest, ClearColorChangesTheBackground) {
  Show(u"make \"c []\nmake \"c.x 0\nmake \"c.y 0\nmake \"c.z 255\nclearcolor :c");
  EXPECT_EQ(plane_->FrontPixel(2, 2), 0x0000FFu);
}

TEST_F(GraphixPixelsTest, AClipPlaneInDrawingCodeRemovesHalfARectangle) {
  Show(u"make \"o rectangle\nmake \"o.center.x -2\nmake \"o.center.y -2\nmake \"o.radius 4\nmake \"o.mode 2");
  const int whole = CountColour(plane_->capturePicture(), 0x00FF00);
  ASSERT_GT(whole, 1000);
  Show(u"make \"o []\nmake \"o.center.x -2\nmake \"o.center.y -2\nmake \"o.radius 4\nmake \"o.mode 2\n"
       u"make \"o.ondrawimage [[]\naddclipplane 1 -1 0 0 0\ndll.zavta.DRAWRECTANGLE\n]");
  const int half = CountColour(plane_->capturePicture(), 0x00FF00);
  EXPECT_GT(half, whole / 4);
  EXPECT_LT(half, whole * 3 / 4);
}

// The plane's light shines from the eye: a lit sphere's middle faces it
// and its rim turns away, darker; unlit, the whole disc has one colour.
TEST_F(GraphixPixelsTest, ALitSphereIsBrighterTowardsTheLight) {
  struct Row {
    int Middle = 0, Darkest = 255;
  };
  // The green channel along the picture's middle row, across the sphere.
  auto greens = [&](std::u16string_view fields) {
    Show(u"make \"o sphere\nmake \"o.radius 2\nmake \"o.mode 2\n" + std::u16string(fields));
    Row row;
    int left = -1, right = -1;
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t pixel = plane_->FrontPixel(x, kHeight / 2);
      if (pixel == 0xFFFFFFu) continue;
      if (left < 0) left = x;
      right = x;
      row.Darkest = std::min(row.Darkest, static_cast<int>((pixel >> 8) & 0xFF));
    }
    EXPECT_GT(right - left, 40) << "the sphere is missing";
    row.Middle = static_cast<int>((plane_->FrontPixel((left + right) / 2, kHeight / 2) >> 8) & 0xFF);
    return row;
  };
  const Row lit = greens(u"make \"o.light \"true");
  EXPECT_GT(lit.Middle, 200);
  EXPECT_LT(lit.Darkest, lit.Middle - 60);
  const Row unlit = greens(u"");
  EXPECT_EQ(unlit.Middle, 255);
  EXPECT_EQ(unlit.Darkest, 255);
}

// A 2 x 2 texture stretched once over a filled square: each texel's colour
// covers a quarter of it.
TEST_F(GraphixPixelsTest, ATexturedRectangleShowsItsTexels) {
  Show(u"make \"o rectangle\nmake \"o.center.x -2\nmake \"o.center.y -2\nmake \"o.radius 4\nmake \"o.mode 2\n"
       u"make \"o.texture.scale 4");
  const uint32_t texels[] = {0xFF0000u, 0x0000FFu, 0xFFFF00u, 0xFF00FFu};
  TAtom* block = NewMemoryBlock(*T.S, 4 + 16, TAtom::FreeMemoryBlock);
  auto* bytes = static_cast<uint8_t*>(block->Object());
  bytes[0] = 2;  // height, then width
  bytes[1] = 0;
  bytes[2] = 2;
  bytes[3] = 0;
  for (size_t k = 0; k < 4; ++k) {
    bytes[4 + 4 * k] = static_cast<uint8_t>(texels[k] >> 16);
    bytes[5 + 4 * k] = static_cast<uint8_t>(texels[k] >> 8);
    bytes[6 + 4 * k] = static_cast<uint8_t>(texels[k]);
    bytes[7 + 4 * k] = 255;
  }
  T.S->FindPath(T.S->Root, u"o.texture")->Left = block;
  {
    const GraphicsEntry entry(G);
    TAtom* o = T.S->FindPath(T.S->Root, u"o");
    DeleteDisplayLists(G, o);
    CompileDisplayList(G, o, true);
  }
  G.paintResume();
  EXPECT_EQ(T.Host.Output(), "");
  const PlanePicture picture = plane_->capturePicture();
  for (const uint32_t texel : texels) EXPECT_GT(CountColour(picture, texel), 1000) << std::hex << texel;
  EXPECT_EQ(CountColour(picture, 0x00FF00), 0);  // the object's own colour is replaced
}

void WritePpm(const PlanePicture& picture, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << picture.Width << " " << picture.Height << "\n255\n";
  out.write(reinterpret_cast<const char*>(picture.Rgb.data()), static_cast<std::streamsize>(picture.Rgb.size()));
}

TEST_F(GraphixPixelsTest, TheSolidsSampleShowsEachSolidOnItsBackground) {
  std::ifstream file(ZAVTA_SOURCE_DIR "/examples/solids.zav", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  Show(Utf8ToUtf16(text));
  EXPECT_EQ(T.Host.Output(), "");
  const PlanePicture picture = plane_->capturePicture();
  WritePpm(picture, ZAVTA_GL_TEST_OUTPUT_DIR "/solids.ppm");
  for (const uint32_t colour : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u})
    EXPECT_GT(CountColour(picture, colour), 100) << std::hex << colour;
  EXPECT_GT(CountColour(picture, 0x282828), kWidth * kHeight / 2);
}

}  // namespace
