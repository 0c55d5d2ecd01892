#pragma once
// Small file helpers for tests: whole files as bytes, and paths as the core
// names files (UTF-16, folders ending in "/").

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "core/Text.h"

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline std::string ReadBytes(const std::u16string& path) { return ReadBytes(std::filesystem::path(Utf16ToUtf8(path))); }

// Creates the parent folders, then the file with exactly these bytes.
inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteBytes(const std::u16string& path, std::string_view bytes) {
  WriteBytes(std::filesystem::path(Utf16ToUtf8(path)), bytes);
}

inline std::u16string PathText(const std::filesystem::path& path) { return Utf8ToUtf16(path.string()); }
inline std::u16string FolderText(const std::filesystem::path& path) { return Utf8ToUtf16(path.string() + "/"); }
