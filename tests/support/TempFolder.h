#pragma once
// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "core/Text.h"

struct TempFolder {
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zavta-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    Path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A file in the folder, as the core names files.
  std::u16string Name(const std::string& leaf) const { return Utf8ToUtf16((Path / leaf).string()); }
  // The folder itself, ending in "/".
  std::u16string Folder() const { return Utf8ToUtf16(Path.string()) + u"/"; }

  std::filesystem::path Path;
};
