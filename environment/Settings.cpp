#include "environment/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/Text.h"
#include "environment/EnvState.h"

namespace {

// The name part of a line: the text before its first "=", if it has one.
std::optional<std::u16string_view> LineName(std::u16string_view line) {
  const size_t eq = line.find(u'=');
  if (eq == std::u16string_view::npos) return std::nullopt;
  return line.substr(0, eq);
}

// A whole decimal integer: an optional sign and one or more digits, nothing
// else (no blanks), within the range of int.
std::optional<int> ParseWholeInteger(std::u16string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate as a negative number so that the minimum of int fits.
  constexpr long long kMin = std::numeric_limits<int>::min();
  constexpr long long kMax = std::numeric_limits<int>::max();
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > kMax + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < kMin || value > kMax) return std::nullopt;
  return static_cast<int>(value);
}


// True when the test seam makes this step fail.
bool Injected(SaveStep step) { return SaveFaultForTesting && SaveFaultForTesting(step); }

// The file that a save replaces: a symbolic link's final target, so that the
// link itself stays.
std::string SaveTarget(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved.string();
}

// The mode of the file being replaced; a new file gets 0666 less the umask.
mode_t ModeFor(const std::string& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool SaveFailed(const std::string& target, const char* what, int fd, const std::string& temporary) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (!temporary.empty()) ::unlink(temporary.c_str());
  std::fprintf(stderr, "zavta: cannot save %s (%s: %s)\n", target.c_str(), what, std::strerror(error));
  return false;
}

// Writes bytes to path through a temporary file and a rename.
bool WriteFileSafely(const std::string& path, std::string_view bytes) {
  const std::string target = SaveTarget(path);
  const mode_t mode = ModeFor(target);
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temporary = folder + "." + name + ".XXXXXX";

  const int fd = Injected(SaveStep::Create) ? (errno = EACCES, -1) : ::mkstemp(temporary.data());
  if (fd < 0) return SaveFailed(target, "create", -1, {});
  if (Injected(SaveStep::Write) ? (errno = ENOSPC, true) : !WriteAll(fd, bytes))
    return SaveFailed(target, "write", fd, temporary);
  if (::fchmod(fd, mode) != 0) return SaveFailed(target, "mode", fd, temporary);
  if (Injected(SaveStep::Sync) ? (errno = EIO, true) : ::fsync(fd) != 0)
    return SaveFailed(target, "sync", fd, temporary);
  if (::close(fd) != 0) return SaveFailed(target, "close", -1, temporary);
  if (Injected(SaveStep::Rename) ? (errno = EXDEV, true) : ::rename(temporary.c_str(), target.c_str()) != 0)
    return SaveFailed(target, "rename", -1, temporary);
  return true;
}

}  // namespace

// --- NameValueList -------------------------------------------------------------

std::optional<size_t> NameValueList::Find(std::u16string_view name) const {
  const std::u16string wanted = UpperCase(name);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto lineName = LineName(lines_[i]);
    if (lineName && lineName->size() == wanted.size() && UpperCase(*lineName) == wanted) return i;
  }
  return std::nullopt;
}

std::u16string NameValueList::RawValue(std::u16string_view name) const {
  const auto index = Find(name);
  if (!index) return {};
  const std::u16string& line = lines_[*index];
  return line.substr(line.find(u'=') + 1);
}

std::u16string NameValueList::GetValueOrKey(std::u16string_view name) const {
  std::u16string value = RawValue(name);
  return value.empty() ? std::u16string(name) : value;
}

bool NameValueList::Contains(std::u16string_view name) const { return Find(name).has_value(); }

void NameValueList::SetValue(std::u16string_view name, std::u16string_view value) {
  const auto index = Find(name);
  if (value.empty()) {
    if (index) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index));
    return;
  }
  std::u16string line(name);
  line += u'=';
  line += value;
  if (index)
    lines_[*index] = std::move(line);
  else
    lines_.push_back(std::move(line));
}

void NameValueList::SetText(std::u16string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    if (end == text.size()) {
      lines_.emplace_back(text.substr(start));
      break;
    }
    lines_.emplace_back(text.substr(start, end - start));
    const bool crLf = text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n';
    start = end + (crLf ? 2 : 1);
  }
}

std::vector<std::pair<std::u16string, std::u16string>> NameValueList::Pairs() const {
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  pairs.reserve(lines_.size());
  for (const std::u16string& line : lines_) {
    const size_t eq = line.find(u'=');
    if (eq == std::u16string::npos) continue;
    pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return pairs;
}

bool NameValueList::LoadFromFile(const std::u16string& path) {
  const std::string name = Utf16ToUtf8(path);
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  std::string bytes;
  char buffer[8192];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return false;

  std::string_view view(bytes);
  if (IsValidUtf8(view)) {
    if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);  // a byte-order mark from an editor
    SetText(Utf8ToUtf16(view));
  } else {
    SetText(CodePageToUtf16(view, 1252));
  }
  return true;
}

bool NameValueList::SaveToFile(const std::u16string& path) const {
  std::string bytes;
  for (const std::u16string& line : lines_) {
    bytes += Utf16ToUtf8(line);
    bytes += '\n';
  }
  return WriteFileSafely(Utf16ToUtf8(path), bytes);
}

// --- typed lookups -----------------------------------------------------------------

int GetIntValue(EnvState& env, const NameValueList& list, std::u16string_view key, int defaultValue) {
  const std::u16string value = list.RawValue(key);
  if (value.empty()) return defaultValue;
  if (const auto number = ParseWholeInteger(value)) return *number;
  DebugLog(env, u"Setting " + std::u16string(key) + u" is not an integer: [" + value + u"]");
  return defaultValue;
}

RgbColour GetColorValue(const NameValueList& list, std::u16string_view key) {
  // Red is the text before the first comma and green the text between the
  // first and the second; blue is whatever is left. A part without its comma
  // stays 0, and the first part that is not a number ends the reading.
  const std::u16string value = list.RawValue(key);
  std::u16string_view rest = value;
  uint8_t parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    std::u16string_view text = rest;
    if (i < 2) {
      const size_t comma = rest.find(u',');
      if (comma == std::u16string_view::npos) continue;
      text = rest.substr(0, comma);
      rest.remove_prefix(comma + 1);
    }
    const auto number = ParseWholeInteger(text);
    if (!number) break;
    parts[i] = static_cast<uint8_t>(static_cast<unsigned>(*number) & 0xFFu);
  }
  return MakeRgb(parts[0], parts[1], parts[2]);
}

bool IsYesSwitchOn(const NameValueList& list, std::u16string_view key) { return list.RawValue(key) == u"Yes"; }

bool IsNoSwitchOn(const NameValueList& list, std::u16string_view key) { return list.RawValue(key) != u"No"; }

std::u16string StripAccelerators(std::u16string_view caption) {
  std::u16string out;
  out.reserve(caption.size());
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != u'&') {
      out.push_back(caption[i]);
    } else if (i + 1 < caption.size() && caption[i + 1] == u'&') {
      out.push_back(u'&');
      ++i;
    }
  }
  return out;
}
