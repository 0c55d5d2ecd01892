#pragma once
// The list of pixel formats offered in Graphics > Advanced mode and written
// to opengl.log: one line per format, a separator (and a log line of 75
// "-") wherever the software/hardware kind changes, the header item with
// tag 111, and the two main items "Hardware" and "Software (emulated)",
// each tagged with the last double-buffered format of its kind that has
// depth above 16 bits and alpha, disabled when there is none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PixelFormatDesc {
  int Index = 0;  // 1-based position in the list
  int DepthBits = 0;
  int RedBits = 0, GreenBits = 0, BlueBits = 0, AlphaBits = 0;
  int AccumBits = 0;  // the sum of the accumulation buffer's bits
  int StencilBits = 0;
  bool DoubleBuffered = false;
  bool DrawToWindow = true;
  bool DrawToBitmap = false;
  bool Software = false;  // generic (emulated) rather than accelerated
  bool SwapCopy = false;
  bool SwapExchange = false;
};

// Whether the driver renders in software (the GEN column): the driver's own
// answer when it gives one (accelerated or not), else by the renderer's
// name, where llvmpipe and softpipe are Mesa's software rasterisers.
bool IsSoftwareRenderer(std::optional<bool> accelerated, std::string_view rendererName);

constexpr int kPixelFormatHeaderTag = 111;
extern const char kPixelFormatHeader[];

// The format's line: " 03. Software  16  24+8 Double   0   0  Yes --- ...".
std::string FormatPixelFormatLine(const PixelFormatDesc& format);
// The default format: the first double-buffered 8/8/8/8 one with depth of
// 24 bits or more and the fewest stencil bits; 0 when none.
int ChooseDefaultFormat(const std::vector<PixelFormatDesc>& formats);
// The stored index when it is listed, else the default.
int ResolvePixelFormatIndex(const std::vector<PixelFormatDesc>& formats, int stored);

struct PixelFormatItem {
  std::string Caption;  // "-" for a separator
  int Tag = 0;
  bool Checked = false;
  bool Separator = false;
};
struct PixelFormatModel {
  std::vector<PixelFormatItem> Items;  // the header first
  int HardwareTag = 0;
  int SoftwareTag = 0;
  bool HardwareChecked = false;
  bool SoftwareChecked = false;
  bool HardwareEnabled() const { return HardwareTag != 0; }
  bool SoftwareEnabled() const { return SoftwareTag != 0; }
  std::vector<std::string> LogLines;  // opengl.log, each written with LF
};
PixelFormatModel BuildPixelFormatModel(const std::vector<PixelFormatDesc>& formats, int pixelFormatIndex);
// The log's text: every line ended by LF.
std::string PixelFormatLogText(const PixelFormatModel& model);
