#include "graphics/PixelFormatMenu.h"

#include <fmt/printf.h>

#include <cctype>

const char kPixelFormatHeader[] = "     Graphics ZBuf RGBA Buffer Accm Stn WIN BMP GDI OGL GEN PAL DBL SWP XCH";

namespace {

const char* YesNo(bool on) { return on ? "Yes " : "--- "; }

bool Starred(const PixelFormatDesc& format) {
  return format.DepthBits > 16 && format.AlphaBits > 0 && format.DoubleBuffered;
}

}  // namespace

bool IsSoftwareRenderer(std::optional<bool> accelerated, std::string_view rendererName) {
  if (accelerated) return !*accelerated;
  std::string name(rendererName);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name.find("llvmpipe") != std::string::npos || name.find("softpipe") != std::string::npos;
}

std::string FormatPixelFormatLine(const PixelFormatDesc& f) {
  std::string line = Starred(f) ? "*" : " ";
  line += fmt::sprintf("%0.2d. ", f.Index);
  line += f.Software ? "Software" : "Hardware";
  line += fmt::sprintf("  %2d %3d+%0.1d", f.DepthBits, f.RedBits + f.GreenBits + f.BlueBits, f.AlphaBits);
  line += f.DoubleBuffered ? " Double" : "       ";
  line += fmt::sprintf(" %3d %3d  ", f.AccumBits, f.StencilBits);
  // WIN BMP GDI OGL GEN PAL DBL SWP XCH: no format here draws through GDI
  // or needs a palette, and every one supports OpenGL.
  for (const bool on :
       {f.DrawToWindow, f.DrawToBitmap, false, true, f.Software, false, f.DoubleBuffered, f.SwapCopy, f.SwapExchange})
    line += YesNo(on);
  return line;
}

int ChooseDefaultFormat(const std::vector<PixelFormatDesc>& formats) {
  const PixelFormatDesc* best = nullptr;
  for (const PixelFormatDesc& f : formats) {
    if (!f.DoubleBuffered || f.RedBits != 8 || f.GreenBits != 8 || f.BlueBits != 8 || f.AlphaBits != 8 ||
        f.DepthBits < 24)
      continue;
    if (best == nullptr || f.StencilBits < best->StencilBits) best = &f;
  }
  return best != nullptr ? best->Index : 0;
}

int ResolvePixelFormatIndex(const std::vector<PixelFormatDesc>& formats, int stored) {
  for (const PixelFormatDesc& f : formats)
    if (stored != 0 && f.Index == stored) return stored;
  return ChooseDefaultFormat(formats);
}

PixelFormatModel BuildPixelFormatModel(const std::vector<PixelFormatDesc>& formats, int pixelFormatIndex) {
  PixelFormatModel model;
  model.Items.push_back({kPixelFormatHeader, kPixelFormatHeaderTag, false, false});
  model.LogLines.emplace_back(kPixelFormatHeader);
  const PixelFormatDesc* previous = nullptr;
  for (const PixelFormatDesc& f : formats) {
    if (previous == nullptr || previous->Software != f.Software) {
      model.Items.push_back({"-", 0, false, true});
      model.LogLines.emplace_back(75, '-');
    }
    const std::string line = FormatPixelFormatLine(f);
    model.Items.push_back({line, f.Index, f.Index == pixelFormatIndex, false});
    model.LogLines.push_back(line);
    if (Starred(f)) (f.Software ? model.SoftwareTag : model.HardwareTag) = f.Index;
    previous = &f;
  }
  model.HardwareChecked = model.HardwareTag != 0 && model.HardwareTag == pixelFormatIndex;
  model.SoftwareChecked = model.SoftwareTag != 0 && model.SoftwareTag == pixelFormatIndex;
  return model;
}

std::string PixelFormatLogText(const PixelFormatModel& model) {
  std::string text;
  for (const std::string& line : model.LogLines) text += line + '\n';
  return text;
}
