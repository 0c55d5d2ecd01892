#include "tests/graphics/support/Golden.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v'; }

[[noreturn]] void Fail(int line, const std::string& why) {
  throw std::runtime_error("golden line " + std::to_string(line) + ": " + why);
}

void AppendIdentity(std::vector<uint8_t>& bytes, uint32_t identity) {
  for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(identity >> (8 * k)));
}

}  // namespace

std::vector<uint8_t> ParseGoldenHex(std::string_view text, const GoldenIds& ids) {
  std::vector<uint8_t> bytes;
  int line = 1;
  int pendingDigit = -1;  // the first digit of a byte
  for (size_t at = 0; at < text.size(); ++at) {
    const char ch = text[at];
    if (ch == '\n') ++line;
    if (IsBlank(ch) || ch == '#' || ch == '{') {
      if (pendingDigit >= 0) Fail(line, "a byte needs two digits");
    }
    if (IsBlank(ch)) continue;
    if (ch == '#') {
      while (at + 1 < text.size() && text[at + 1] != '\n') ++at;
      continue;
    }
    if (ch == '{') {
      const size_t close = text.find('}', at);
      if (close == std::string_view::npos) Fail(line, "unclosed {");
      const std::string_view inside = text.substr(at + 1, close - at - 1);
      if (inside.substr(0, 3) != "id:") Fail(line, "expected {id:NAME}");
      const std::string name(inside.substr(3));
      auto found = ids.find(name);
      if (found == ids.end()) Fail(line, "no identity for " + name);
      AppendIdentity(bytes, found->second);
      at = close;
      continue;
    }
    const int digit = HexDigit(ch);
    if (digit < 0) Fail(line, std::string("not a hexadecimal digit: ") + ch);
    if (pendingDigit < 0) {
      pendingDigit = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(pendingDigit << 4 | digit));
      pendingDigit = -1;
    }
  }
  if (pendingDigit >= 0) Fail(line, "a byte needs two digits");
  return bytes;
}

std::vector<uint8_t> ReadRecording(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> LoadGoldenFile(const std::filesystem::path& path, const GoldenIds& ids) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read golden file " + path.string());
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    return ParseGoldenHex(text, ids);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path.filename().string() + ": " + e.what());
  }
}

std::optional<std::string> RecordingDifference(const std::vector<uint8_t>& expected,
                                               const std::vector<uint8_t>& actual, const GoldenIds& ids) {
  if (expected == actual) return std::nullopt;
  const auto first = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first;
  const size_t at = static_cast<size_t>(first - expected.begin());
  std::string message = "recordings differ at byte " + std::to_string(at) + " (expected " +
                        std::to_string(expected.size()) + " bytes, got " + std::to_string(actual.size()) + ")\n";
  message += "expected:\n" + DecodedText(expected, ids, at);
  message += "actual:\n" + DecodedText(actual, ids, at);
  return message;
}
