#pragma once
// Reads a GL recording back as text, one line per record, for test
// messages: "@12 glCallLists(3, GL_UNSIGNED_BYTE, [65 66 67])". Knows every
// opcode the recorder writes (1-61, the sphere bands 1000 and the bitmap
// font 1001) and the frame end (a 32-bit zero where a record would start).
// Decoding stops at an unknown opcode or a cut record, with a line saying
// so.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Identities a test gives names to: in goldens {id:NAME}, in decoded list
// names "{id:NAME}".
using GoldenIds = std::map<std::string, uint32_t>;

struct DecodedRecord {
  size_t Offset = 0;  // of the record's first byte
  size_t Size = 0;    // bytes it spans
  std::string Text;   // "glEnable(GL_DEPTH_TEST)", "frame end", or why decoding stopped
};

std::vector<DecodedRecord> DecodeRecording(const std::vector<uint8_t>& bytes, const GoldenIds& ids = {});
// The records as lines "@offset text"; the record that holds byte `mark`
// (if any) is flagged with ">> ".
std::string DecodedText(const std::vector<uint8_t>& bytes, const GoldenIds& ids = {}, size_t mark = SIZE_MAX);
// The name of an opcode ("glMap2f", "DrawSphereBands", "CreateBitmapFontLists"),
// empty when unknown.
std::string RecordName(uint16_t opcode);
