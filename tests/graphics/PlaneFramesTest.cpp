// Frame pacing with an injected clock, the regeneration timer's decision,
// the pixel-format list and opengl.log, and the print geometry and file
// types of saved pictures.

#include <gtest/gtest.h>

#include "graphics/FramePacer.h"
#include "graphics/PictureFiles.h"
#include "graphics/PixelFormatMenu.h"

namespace {

TEST(FramePacing, SleepsTheRestOfTheIntervalWithTheElapsedTimeCapped) {
  struct Case {
    const char* Name;
    int32_t Interval;
    int64_t SincePrevious;
    int64_t ExpectedSleep;  // -1: none
  };
  const Case cases[] = {
      {"no pacing", -1, 0, -1},
      {"40 ms, 10 ms after the last frame", 40, 10, 30},
      {"40 ms, 50 ms after", 40, 50, -1},
      {"1000 ms, 5 s after: at least interval - 500", 1000, 5000, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int64_t now = 100000;
    int64_t slept = -1;
    FramePacer pacer([&] { return now; },
                     [&](int64_t ms) {
                       slept = ms;
                       now += ms;
                     });
    EXPECT_EQ(pacer.LastFrameTick(), now - 1000);
    pacer.Pace(-1);  // the first frame
    now += c.SincePrevious;
    slept = -1;
    pacer.Pace(c.Interval);
    EXPECT_EQ(slept, c.ExpectedSleep);
    EXPECT_EQ(pacer.LastFrameTick(), now);
  }
}

TEST(RegenerationTimer, RedrawsOnlyWhileNoProgramRunsAndThenStopsForAHalt) {
  for (uint8_t state = 0; state <= 8; ++state) {
    SCOPED_TRACE(int{state});
    const bool idle = state == 0 || state == 5 || state == 8;
    EXPECT_EQ(DecideRegeneration(state, false).Redraw, idle);
    EXPECT_FALSE(DecideRegeneration(state, false).Stop);
    EXPECT_EQ(DecideRegeneration(state, true).Stop, idle);
  }
}

PixelFormatDesc Format(int index, bool software, int depth, int alpha, bool doubleBuffered, int stencil = 0) {
  PixelFormatDesc f;
  f.Index = index;
  f.Software = software;
  f.DepthBits = depth;
  f.RedBits = f.GreenBits = f.BlueBits = 8;
  f.AlphaBits = alpha;
  f.DoubleBuffered = doubleBuffered;
  f.StencilBits = stencil;
  f.SwapCopy = software;
  return f;
}

TEST(PixelFormatList, LinesSeparatorsAndTheMainItems) {
  const std::vector<PixelFormatDesc> formats = {Format(1, false, 24, 8, true, 8), Format(2, false, 24, 8, true, 0),
                                                Format(3, true, 16, 8, false), Format(4, true, 24, 8, true, 8)};
  EXPECT_EQ(FormatPixelFormatLine(formats[2]),
            " 03. Software  16  24+8          0   0  Yes --- --- Yes Yes --- --- Yes --- ");
  EXPECT_EQ(FormatPixelFormatLine(formats[0]),
            "*01. Hardware  24  24+8 Double   0   8  Yes --- --- Yes --- --- Yes --- --- ");
  EXPECT_EQ(ChooseDefaultFormat(formats), 2);  // fewest stencil bits
  EXPECT_EQ(ResolvePixelFormatIndex(formats, 4), 4);
  EXPECT_EQ(ResolvePixelFormatIndex(formats, 9), 2);  // not listed counts as 0

  const PixelFormatModel model = BuildPixelFormatModel(formats, 4);
  std::vector<std::string> captions;
  for (const PixelFormatItem& item : model.Items) captions.push_back(item.Separator ? "-" : item.Caption.substr(0, 4));
  EXPECT_EQ(captions, (std::vector<std::string>{"    ", "-", "*01.", "*02.", "-", " 03.", "*04."}));
  EXPECT_EQ(model.Items[0].Tag, kPixelFormatHeaderTag);
  EXPECT_TRUE(model.Items[6].Checked);
  EXPECT_EQ(model.HardwareTag, 2);  // the last starred one of its kind
  EXPECT_EQ(model.SoftwareTag, 4);
  EXPECT_TRUE(model.SoftwareChecked);
  EXPECT_FALSE(model.HardwareChecked);

  const std::string log = PixelFormatLogText(model);
  EXPECT_EQ(log.substr(0, log.find('\n')), kPixelFormatHeader);
  EXPECT_NE(log.find('\n' + std::string(75, '-') + "\n 03. Software"), std::string::npos);
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(log.find('\r'), std::string::npos);
}

TEST(PixelFormatList, OneKindOnlyDisablesTheOther) {
  const PixelFormatModel model = BuildPixelFormatModel({Format(1, true, 24, 8, true)}, 1);
  EXPECT_FALSE(model.HardwareEnabled());
  EXPECT_TRUE(model.SoftwareEnabled());
  EXPECT_TRUE(model.SoftwareChecked);
}

TEST(PixelFormatList, SoftwareByTheDriversAnswerElseByTheRenderersName) {
  struct Case {
    std::optional<bool> Accelerated;
    const char* Renderer;
    bool Software;
  };
  const Case cases[] = {
      {false, "", true},
      {true, "llvmpipe (LLVM 15.0.6, 256 bits)", false},  // the driver's answer wins
      {std::nullopt, "llvmpipe (LLVM 15.0.6, 256 bits)", true},
      {std::nullopt, "softpipe", true},
      {std::nullopt, "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
      {std::nullopt, "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSoftwareRenderer(c.Accelerated, c.Renderer), c.Software) << c.Renderer;
}

TEST(PrintedPicture, ScaledToNinetyPercentOfTheTighterSideAndCentred) {
  struct Case {
    int Bw, Bh, Pw, Ph;
    PrintRect Expected;
  };
  const Case cases[] = {
      {600, 400, 4800, 6600, {240, 1860, 4320, 2880}},
      {400, 600, 4800, 3000, {1500, 150, 1800, 2700}},
      {0, 400, 4800, 6600, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const PrintRect r = PrintGeometry(c.Bw, c.Bh, c.Pw, c.Ph);
    EXPECT_EQ((std::array<int, 4>{r.Left, r.Top, r.Width, r.Height}),
              (std::array<int, 4>{c.Expected.Left, c.Expected.Top, c.Expected.Width, c.Expected.Height}));
  }
}

TEST(SavedPicture, TypeByExtensionInAnyCase) {
  EXPECT_EQ(PictureTypeOf(u"/a/b.png"), PictureType::Png);
  EXPECT_EQ(PictureTypeOf(u"b.JPG"), PictureType::Jpeg);
  EXPECT_EQ(PictureTypeOf(u"b.jpg"), PictureType::Jpeg);
  EXPECT_EQ(PictureTypeOf(u"b.Bmp"), PictureType::Bmp);
  EXPECT_EQ(PictureTypeOf(u"b.gif"), PictureType::Gif);
  EXPECT_EQ(PictureTypeOf(u"b.tif"), PictureType::Unknown);
  EXPECT_EQ(PictureTypeOf(u"dir.png/b"), PictureType::Unknown);
  EXPECT_EQ(ExtensionOf(u"b.tif"), u".tif");
}

TEST(SavedPicture, ExactPaletteUpTo256Colours) {
  PlanePicture picture;
  picture.Width = 257;
  picture.Height = 1;
  for (int i = 0; i < 257; ++i) picture.Rgb.insert(picture.Rgb.end(), {uint8_t(i), uint8_t(i / 256), 7});
  EXPECT_FALSE(ExactPalette(picture));
  picture.Width = 256;
  picture.Rgb.resize(256 * 3);
  picture.Rgb[3 * 5] = 0;  // pixel 5 repeats pixel 0's colour
  const auto indexed = ExactPalette(picture);
  ASSERT_TRUE(indexed);
  EXPECT_EQ(indexed->Palette.size(), 255u);
  EXPECT_EQ(indexed->Indices[5], 0);
  EXPECT_EQ(indexed->Palette[indexed->Indices[200]], 0xC80007u);
}

}  // namespace
