// The scene on Mesa: objects' display lists drawn through the camera into
// an EGL plane, read back as pixels, and the recording of a real frame
// compared with the fake back-end's.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <filesystem>
#include <string>

#include "core/Collector.h"
#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/EglPlane.h"
#include "tests/graphics/support/FakeGL.h"
#include "tests/graphics/support/FakePlane.h"
#include "tests/graphics/support/Golden.h"
#include "tests/graphics/support/TestQuad.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kGreen = 0x00FF00;
constexpr int kWidth = 160;
constexpr int kHeight = 120;

class PlanePixels : public ::testing::Test {
protected:
  PlanePixels() : S(*T.S), I(S), G(I), Quad(I) {
    T.Host.GraphicsOverride = &G;
    EXPECT_EQ(RunText(I, std::u16string(kTestQuadDefinitions), u"test", 0, 0), rrOk);
  }
  ~PlanePixels() override { SetGLBase(DirectGL()); }

  // Starts the plane; false (skipped) when no context can be made here and
  // the run does not require one.
  bool StartPlane() {
    plane_ = std::make_unique<EglPlane>(G, kWidth, kHeight);
    if (plane_->Ok()) {
      plane_->setupProjection();
      return true;
    }
    if (GlRequired()) ADD_FAILURE() << "no EGL plane: " << plane_->Error();
    return false;
  }

  void MakeQuad(const char* name, int x, int r, int g, int b) {
    const std::string text = std::string("make \"") + name + " []\r\nmake \"" + name + ".ondrawimage [testquad " +
                             std::to_string(x) + " 0 " + std::to_string(r) + " " + std::to_string(g) + " " +
                             std::to_string(b) + "]\r\n";
    ASSERT_EQ(RunText(I, Utf8ToUtf16(text), u"test", 0, 0), rrOk);
  }

  // How many pixels of the front buffer have the colour.
  int Count(uint32_t colour) {
    const PlanePicture picture = plane_->capturePicture();
    int n = 0;
    for (size_t i = 0; i + 2 < picture.Rgb.size(); i += 3) {
      const uint32_t pixel = (uint32_t{picture.Rgb[i]} << 16) | (uint32_t{picture.Rgb[i + 1]} << 8) | picture.Rgb[i + 2];
      if (pixel == colour) ++n;
    }
    return n;
  }

  bool CornersWhite() {
    return plane_->FrontPixel(0, 0) == kWhite && plane_->FrontPixel(kWidth - 1, 0) == kWhite &&
           plane_->FrontPixel(0, kHeight - 1) == kWhite && plane_->FrontPixel(kWidth - 1, kHeight - 1) == kWhite;
  }

  TestState T;
  TStructure& S;
  TInterpreter I;
  Graphics G;
  TestQuadBinder Quad;
  std::unique_ptr<EglPlane> plane_;
};

TEST_F(PlanePixels, ObjectsShowTheirColoursOnTheWhiteClearColour) {
  if (!StartPlane()) GTEST_SKIP() << "no EGL context";
  MakeQuad("a", -2, 255, 0, 0);
  MakeQuad("b", 2, 0, 255, 0);
  G.paintResume();

  EXPECT_GT(Count(kRed), 20);
  EXPECT_GT(Count(kGreen), 20);
  EXPECT_TRUE(CornersWhite());
  EXPECT_EQ(T.Host.Output().find("OpenGL Error"), std::string::npos) << T.Host.Output();
}

TEST_F(PlanePixels, AnObjectTakenOutOfTheTreeLosesListAndColourAtTheNextCollection) {
  if (!StartPlane()) GTEST_SKIP() << "no EGL context";
  MakeQuad("a", -2, 255, 0, 0);
  MakeQuad("b", 2, 0, 255, 0);
  G.paintResume();
  TAtom* a = S.FindName(u"a");
  ASSERT_NE(a, nullptr);
  const uint32_t id = a->Identity();
  ASSERT_TRUE(G.HasList(id));

  TAtom::Unlink(a);
  S.CollectorLimits.Threshold = 0;
  CollectGarbage(I);
  G.redrawScene();

  EXPECT_FALSE(G.HasList(id));
  EXPECT_EQ(Count(kRed), 0);
  EXPECT_GT(Count(kGreen), 20);
  EXPECT_EQ(T.Host.Output().find("OpenGL Error"), std::string::npos) << T.Host.Output();
}

TEST_F(PlanePixels, ARecordedFrameOnMesaEqualsTheFakeBackEndsRecording) {
  if (!StartPlane()) GTEST_SKIP() << "no EGL context";
  MakeQuad("a", -2, 255, 0, 0);
  MakeQuad("b", 2, 0, 255, 0);
  TempFolder folder;
  const std::filesystem::path onMesa = folder.Path / "mesa.rec";
  const std::filesystem::path onFake = folder.Path / "fake.rec";

  // Each side holds the lists before the recording starts, so both record
  // the recompile's deletes; the real plane's repaint draws one more frame,
  // which the fake side draws by hand.
  G.paintResume();
  G.StartGLRecording(Utf8ToUtf16(onMesa.string()));
  G.StopGLRecording();

  plane_.reset();
  UseFakeGL fake;
  FakePlane fakePlane(G);
  fakePlane.Size = {kWidth, kHeight};
  G.setPlane(&fakePlane);
  G.ForgetAllLists();
  G.paintResume();
  G.StartGLRecording(Utf8ToUtf16(onFake.string()));
  G.redrawScene();
  G.StopGLRecording();
  G.setPlane(nullptr);

  EXPECT_TRUE(SameRecording(ReadRecording(onFake), ReadRecording(onMesa), {}));
  EXPECT_EQ(T.Host.Output().find("OpenGL Error"), std::string::npos) << T.Host.Output();
}

}  // namespace
