#pragma once
// Name=Value stores: the settings file and the language file. Lines keep
// their order; unknown lines and duplicates stay and are written back as
// they were. A name is the text before the first "=" (not trimmed), matched
// without letter case; the first matching line wins.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class NameValueList {
public:
  // The value under name; the name itself when it is missing or empty.
  std::u16string GetValueOrKey(std::u16string_view name) const;
  // The value without substitution; empty when missing.
  std::u16string RawValue(std::u16string_view name) const;
  bool Contains(std::u16string_view name) const;
  // Replaces the first line's value or appends "name=value"; an empty value
  // removes the line.
  void SetValue(std::u16string_view name, std::u16string_view value);

  // Whole lines, as read (without line ends).
  const std::vector<std::u16string>& Lines() const { return lines_; }
  void SetLines(std::vector<std::u16string> lines) { lines_ = std::move(lines); }
  void Clear() { lines_.clear(); }
  // Splits text at any line end (CR LF, LF, lone CR).
  void SetText(std::u16string_view text);
  // The name=value pairs of lines that have an "=", first occurrence first.
  std::vector<std::pair<std::u16string, std::u16string>> Pairs() const;

  // Reads a settings file: UTF-8 when valid, else Windows-1252; any line
  // end. False (and the list unchanged) when the file cannot be read.
  [[nodiscard]] bool LoadFromFile(const std::u16string& path);
  // Writes UTF-8 with LF line ends without ever damaging the old file: the
  // text goes to a temporary file beside the target (a symbolic link's
  // target), is flushed to disk, takes the old file's mode and is renamed
  // over it. On any failure the temporary file is removed, the old file is
  // left as it was, a line goes to stderr and the result is false.
  [[nodiscard]] bool SaveToFile(const std::u16string& path) const;

private:
  // Index of the first line named name, if any.
  std::optional<size_t> Find(std::u16string_view name) const;
  std::vector<std::u16string> lines_;
};

// The steps of a safe save; a test seam makes one of them fail.
enum class SaveStep { Create, Write, Sync, Rename };
// When set and returning true for a step, that step fails as if the system
// had refused it.
inline std::function<bool(SaveStep)> SaveFaultForTesting;

// A colour as the Windows RGB value 0x00BBGGRR.
using RgbColour = uint32_t;
constexpr RgbColour MakeRgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<RgbColour>(r) | (static_cast<RgbColour>(g) << 8) | (static_cast<RgbColour>(b) << 16);
}

struct EnvState;

// The value as an integer; the default when missing, empty or not an integer
// (the last with a DebugLog line).
int GetIntValue(EnvState& env, const NameValueList& list, std::u16string_view key, int defaultValue);
// "r,g,b" (see the definition for partial and bad parts); a missing key is black.
RgbColour GetColorValue(const NameValueList& list, std::u16string_view key);
// On only when the value is exactly "Yes".
bool IsYesSwitchOn(const NameValueList& list, std::u16string_view key);
// On unless the value is exactly "No".
bool IsNoSwitchOn(const NameValueList& list, std::u16string_view key);
// Removes every "&" not followed by another "&" ("&&" becomes "&").
std::u16string StripAccelerators(std::u16string_view caption);

// Defaults for the keys the program needs and cannot do without: a missing or
// malformed value falls back to these instead of ending start-up.
namespace SettingsDefaults {
constexpr int kMainWidth = 631;
constexpr int kMainHeight = 404;
constexpr int kFontCharset = 1;
constexpr int kFontSize = 10;
constexpr int kUsers = 0;
constexpr int kPlaneState = 0;
constexpr int kOpenGLMode = 0;
}  // namespace SettingsDefaults
