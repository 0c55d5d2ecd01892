#pragma once
// Golden recordings: tests/graphics/golden/*.hex hold the expected bytes of
// a GL recording as hexadecimal, two digits a byte. Blanks separate
// nothing but must not split a byte; "#" starts a comment to the end of the
// line; {id:NAME} stands for the 32-bit little-endian identity the test
// maps NAME to (an atom's list name, which changes from run to run).
//
//   EXPECT_TRUE(SameRecording(LoadGolden("edge-flag.hex"), ReadRecording(file)));

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/graphics/support/RecordingDecoder.h"

// The bytes of golden text; std::runtime_error (naming the line) on a bad
// digit, a split byte, an unknown id or an unclosed {id:...}.
std::vector<uint8_t> ParseGoldenHex(std::string_view text, const GoldenIds& ids = {});
std::vector<uint8_t> LoadGoldenFile(const std::filesystem::path& path, const GoldenIds& ids = {});
// The whole file (a recording); empty when it cannot be read.
std::vector<uint8_t> ReadRecording(const std::filesystem::path& path);
// Nothing when the streams are equal, else where they first differ and both
// decoded as records, the differing record marked.
std::optional<std::string> RecordingDifference(const std::vector<uint8_t>& expected,
                                               const std::vector<uint8_t>& actual, const GoldenIds& ids = {});

inline ::testing::AssertionResult SameRecording(const std::vector<uint8_t>& expected,
                                                const std::vector<uint8_t>& actual, const GoldenIds& ids = {}) {
  if (auto difference = RecordingDifference(expected, actual, ids))
    return ::testing::AssertionFailure() << *difference;
  return ::testing::AssertionSuccess();
}

#ifdef ZAVTA_GOLDEN_DIR
inline std::filesystem::path GoldenPath(std::string_view name) {
  return std::filesystem::path(ZAVTA_GOLDEN_DIR) / std::string(name);
}
inline std::vector<uint8_t> LoadGolden(std::string_view name, const GoldenIds& ids = {}) {
  return LoadGoldenFile(GoldenPath(name), ids);
}
#endif
