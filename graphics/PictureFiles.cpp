#include "graphics/PictureFiles.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "core/Text.h"

std::u16string ExtensionOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"/\\");
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return {};
  return path.substr(dot);
}

PictureType PictureTypeOf(const std::u16string& path) {
  const std::u16string extension = UpperCase(ExtensionOf(path));
  if (extension == u".BMP") return PictureType::Bmp;
  if (extension == u".JPG") return PictureType::Jpeg;
  if (extension == u".PNG") return PictureType::Png;
  if (extension == u".GIF") return PictureType::Gif;
  return PictureType::Unknown;
}

std::optional<IndexedPicture> ExactPalette(const PlanePicture& picture) {
  IndexedPicture indexed;
  const size_t pixels = static_cast<size_t>(picture.Width) * static_cast<size_t>(picture.Height);
  if (picture.Rgb.size() < pixels * 3) return std::nullopt;
  indexed.Indices.resize(pixels);
  std::unordered_map<uint32_t, uint8_t> indexOf;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = &picture.Rgb[i * 3];
    const uint32_t colour = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    auto found = indexOf.find(colour);
    if (found == indexOf.end()) {
      if (indexed.Palette.size() == 256) return std::nullopt;
      found = indexOf.emplace(colour, static_cast<uint8_t>(indexed.Palette.size())).first;
      indexed.Palette.push_back(colour);
    }
    indexed.Indices[i] = found->second;
  }
  return indexed;
}

PrintRect PrintGeometry(int bitmapWidth, int bitmapHeight, int pageWidth, int pageHeight) {
  PrintRect rect;
  if (bitmapWidth <= 0 || bitmapHeight <= 0 || pageWidth <= 0 || pageHeight <= 0) return rect;
  const double scale = std::min(0.9 * pageWidth / bitmapWidth, 0.9 * pageHeight / bitmapHeight);
  rect.Width = static_cast<int>(std::nearbyint(bitmapWidth * scale));
  rect.Height = static_cast<int>(std::nearbyint(bitmapHeight * scale));
  rect.Left = (pageWidth - rect.Width) / 2;
  rect.Top = (pageHeight - rect.Height) / 2;
  return rect;
}
