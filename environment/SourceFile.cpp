#include "environment/SourceFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/Text.h"
#include "core/Trans.h"

std::u16string LoadSourceText(const TStructure& s, const std::u16string& path) {
  std::u16string text;
  try {
    text = ReadTextFile(s, path);
  } catch (const std::exception&) {
    return {};  // unreadable: nothing to show
  }
  const size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  // CR LF and lone CRs become the editor's LF.
  std::u16string lf;
  lf.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      lf.push_back(u'\n');
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      lf.push_back(text[i]);
    }
  }
  return lf;
}

std::optional<std::string> SaveSourceText(const std::u16string& path, const std::u16string& text) {
  const std::string bytes = UnicodeFileBytes(text);
  const std::filesystem::path target(Utf16ToUtf8(path));
  std::filesystem::path scratch = target;
  scratch += ".saving";
  std::FILE* file = std::fopen(scratch.c_str(), "wb");
  if (file == nullptr) return "cannot create file " + target.string() + ": " + std::strerror(errno);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  std::error_code error;
  if (!written || !closed) {
    std::filesystem::remove(scratch, error);
    return "cannot write file " + target.string();
  }
  std::filesystem::rename(scratch, target, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    return "cannot write file " + target.string() + ": " + error.message();
  }
  return std::nullopt;
}

std::u16string NewSourceFileName(const std::u16string& folder,
                                 const std::function<bool(const std::u16string& title)>& taken, int& number) {
  for (number = 0;; ++number) {
    const std::u16string title = u"New File " + Utf8ToUtf16(std::to_string(number));
    const std::u16string path = folder + title + u".zav";
    if (taken(title) || taken(path) || FileExists(path)) continue;
    return path;
  }
}
