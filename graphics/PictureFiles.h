#pragma once
// The Qt-free helpers of saving and printing the plane's picture: the file
// type by extension, the exact palette of a picture of few colours (GIF),
// and where a picture goes on a printed page.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "graphics/PlaneLink.h"

enum class PictureType { Bmp, Jpeg, Png, Gif, Unknown };
// By the extension, in any letter case: .bmp, .jpg, .png, .gif.
PictureType PictureTypeOf(const std::u16string& path);
// The extension as written ("" when none), for the message of an unknown
// one.
std::u16string ExtensionOf(const std::u16string& path);

// A picture as palette indices, when it has at most 256 colours.
struct IndexedPicture {
  std::vector<uint32_t> Palette;  // 0xRRGGBB, in order of first use
  std::vector<uint8_t> Indices;   // Width * Height, rows top first
};
std::optional<IndexedPicture> ExactPalette(const PlanePicture& picture);

// The picture scaled to 90 percent of the page's tighter side, centred:
// scale = min(0.9 pw / bw, 0.9 ph / bh), sizes rounded half to even.
struct PrintRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};
PrintRect PrintGeometry(int bitmapWidth, int bitmapHeight, int pageWidth, int pageHeight);
