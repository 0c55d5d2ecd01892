// The golden-file reader and the recording decoder that the recording and
// scene tests compare with.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/graphics/support/Golden.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(GoldenHex, ReadsDigitsIdentitiesAndComments) {
  EXPECT_EQ(ParseGoldenHex("13 00 # opcode\n  ff 0A\t\r\n"), (Bytes{0x13, 0x00, 0xFF, 0x0A}));
  EXPECT_EQ(ParseGoldenHex("2C00{id:LIST}01", {{"LIST", 0x04030201}}), (Bytes{0x2C, 0x00, 1, 2, 3, 4, 1}));
  EXPECT_TRUE(ParseGoldenHex("# nothing at all\n").empty());
}

TEST(GoldenHex, RejectsWhatCannotBeMeant) {
  for (const char* text : {"1 3", "13 0", "1{id:A}", "xy", "{id:B}", "{id:A", "{A}"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseGoldenHex(text, {{"A", 1}}), std::runtime_error);
  }
}

struct DecodeCase {
  Bytes Stream;
  std::vector<std::string> Texts;
};

TEST(RecordingDecoder, ReadsRecordsFrameEndsAndStopsAtWhatItCannotRead) {
  const std::vector<DecodeCase> cases = {
      {{2, 0, 0, 0, 0, 0, 12, 0}, {"glEnd()", "frame end", "glPushMatrix()"}},
      {{0x2C, 0, 7, 0, 0, 0}, {"glCallList({id:SEVEN})"}},
      {{0xE9, 3, 2, 0, 0, 0, 'A', 0, 9, 0, 0, 0, 0, 1, 0xE8, 3, 0, 0},
       {"CreateBitmapFontLists(A, 9, 0, 1, 1000)"}},
      {{0x3D, 0, 0xE1, 0x0D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0,  // target, level, format, 1 x 1
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4},            // border, format, type, one texel
       {"glTexImage2D(GL_TEXTURE_2D, 0, 0, 1, 1, 0, 0x0000, 0x0000, [1 2 3 4])"}},
      {{1, 0, 8, 0, 0}, {"cut record glBegin (5 bytes left)"}},
      {{0, 0, 1, 0}, {"unknown opcode 0"}},
      {{99, 0, 1, 2}, {"unknown opcode 99"}},
  };
  for (const DecodeCase& c : cases) {
    std::vector<std::string> texts;
    for (const DecodedRecord& record : DecodeRecording(c.Stream, {{"SEVEN", 7}})) texts.push_back(record.Text);
    EXPECT_EQ(texts, c.Texts);
  }
}

TEST(RecordingDifference, ShowsBothStreamsAndMarksTheFirstDifference) {
  EXPECT_FALSE(RecordingDifference({2, 0}, {2, 0}).has_value());
  const auto difference = RecordingDifference({2, 0, 3, 0, 0x60, 0x0B, 0, 0}, {2, 0, 4, 0, 0x60, 0x0B, 0, 0});
  ASSERT_TRUE(difference.has_value());
  EXPECT_NE(difference->find("differ at byte 2"), std::string::npos) << *difference;
  EXPECT_NE(difference->find(">> @2 glEnable(GL_FOG)"), std::string::npos) << *difference;
  EXPECT_NE(difference->find(">> @2 glDisable(GL_FOG)"), std::string::npos) << *difference;
  EXPECT_NE(difference->find("   @0 glEnd()"), std::string::npos) << *difference;
}

}  // namespace
