// Text helpers: line breaks, editor positions, UTF-8/UTF-16, the Windows
// single-byte code pages, name upper-casing and message formatting.

#include "core/Text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

// Header-only use keeps the formatter self-contained in this file; the build
// may already define this when it links the header-only target.
#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#include <fmt/args.h>
#include <fmt/printf.h>

// ---------------------------------------------------------------------------
// Line breaks and editor positions

std::u16string ToCrLf(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t ch = text[i];
    if (ch == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(ch);
  }
  return out;
}

// The editor holds a CR LF pair as a single character. A scanner offset that
// points at the LF of a pair maps to the same index as its CR: the position
// just after the last character of the line.
std::u16string NormalizeLineBreaks(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  // Whole lines are copied at once; each break becomes CR LF.
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t end = i;
    while (end < n && text[end] != u'\r' && text[end] != u'\n') ++end;
    out.append(text.data() + i, end - i);
    if (end == n) break;
    out.append(u"\r\n", 2);
    i = end + (text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n' ? 2 : 1);
  }
  return out;
}

int32_t EditorPosition(std::u16string_view crlfText, int32_t offset) {
  if (offset < 1) return 0;
  size_t index = std::min(static_cast<size_t>(offset) - 1, crlfText.size());
  // Every pair whose LF lies at or before the index costs one position.
  size_t pairs = 0;
  size_t end = std::min(index + 1, crlfText.size());
  for (size_t i = 1; i < end; ++i) {
    if (crlfText[i] == u'\n' && crlfText[i - 1] == u'\r') ++pairs;
  }
  return static_cast<int32_t>(index - pairs);
}

int32_t ScannerPosition(std::u16string_view crlfText, int32_t editorIndex) {
  size_t i = 0;
  for (int32_t editor = 0; i < crlfText.size() && editor < editorIndex; ++editor) {
    i += (crlfText[i] == u'\r' && i + 1 < crlfText.size() && crlfText[i + 1] == u'\n') ? 2 : 1;
  }
  return static_cast<int32_t>(i + 1);
}

// ---------------------------------------------------------------------------
// UTF-8 / UTF-16

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point starting at bytes[i] and advances i. An ill-formed
// sequence yields U+FFFD and consumes only its maximal valid prefix (at least
// one byte), so the byte that broke the sequence starts the next one.
char32_t DecodeUtf8(std::string_view bytes, size_t& i, bool& valid) {
  auto byteAt = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
  uint8_t lead = byteAt(i);
  if (lead < 0x80) {
    ++i;
    valid = true;
    return lead;
  }
  int continuations;
  char32_t cp;
  // Allowed range of the first continuation byte; the rest are 80..BF.
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    continuations = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    continuations = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    continuations = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    ++i;
    valid = false;
    return kReplacement;
  }
  size_t k = i + 1;
  for (int n = 0; n < continuations; ++n, ++k) {
    if (k >= bytes.size() || byteAt(k) < low || byteAt(k) > high) {
      i = k;
      valid = false;
      return kReplacement;
    }
    cp = (cp << 6) | (byteAt(k) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  i = k;
  valid = true;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLowSurrogate(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  // Every byte sequence gives at most one unit a byte (a surrogate pair
  // takes four bytes): the text is written into room of the input's size.
  std::u16string out(utf8.size(), u'\0');
  char16_t* to = out.data();
  size_t i = 0;
  while (i < utf8.size()) {
    // Runs of ASCII, most of any text, widen without decoding.
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      *to++ = static_cast<char16_t>(utf8[i++]);
      continue;
    }
    bool valid;
    char32_t cp = DecodeUtf8(utf8, i, valid);
    if (cp < 0x10000) {
      *to++ = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      *to++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *to++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  out.resize(static_cast<size_t>(to - out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t ch = text[i];
    if (IsHighSurrogate(ch) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      char32_t cp =
          0x10000 + ((static_cast<char32_t>(ch) - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(ch) || IsLowSurrogate(ch)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, ch);
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    bool valid;
    DecodeUtf8(bytes, i, valid);
    if (!valid) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Code pages
//
// Each page is a 256-entry byte -> character table. Bytes a page leaves
// undefined hold the control character of the same value, so every byte has
// a distinct character and round-trips. Adding a page means adding its table
// and one line to kCodePages.

namespace {

constexpr char16_t kWindows1252[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // F8
};

constexpr char16_t kWindows1251[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

struct ReverseEntry {
  char16_t ch;
  uint8_t byte;
};

// Characters of the upper half (0x80..0xFF) sorted by character, for a
// binary search when narrowing. The lower half is ASCII in every page.
using ReverseTable = std::array<ReverseEntry, 128>;

constexpr ReverseTable MakeReverse(const char16_t (&table)[256]) {
  ReverseTable reverse{};
  for (int b = 0; b < 128; ++b) {
    reverse[b] = {table[b + 128], static_cast<uint8_t>(b + 128)};
  }
  std::sort(reverse.begin(), reverse.end(), [](const ReverseEntry& a, const ReverseEntry& b) { return a.ch < b.ch; });
  return reverse;
}

// A table is usable when its lower half is ASCII and its upper half holds
// distinct non-ASCII characters, which makes byte -> char -> byte exact.
constexpr bool IsWellFormedPage(const char16_t (&table)[256], const ReverseTable& reverse) {
  for (int b = 0; b < 128; ++b) {
    if (table[b] != b) return false;
  }
  if (reverse[0].ch < 0x80) return false;
  for (size_t k = 1; k < reverse.size(); ++k) {
    if (reverse[k - 1].ch >= reverse[k].ch) return false;
  }
  return true;
}

constexpr ReverseTable kReverse1252 = MakeReverse(kWindows1252);
constexpr ReverseTable kReverse1251 = MakeReverse(kWindows1251);
static_assert(IsWellFormedPage(kWindows1252, kReverse1252));
static_assert(IsWellFormedPage(kWindows1251, kReverse1251));

struct CodePage {
  int number;
  const char16_t* toChar;
  const ReverseTable* fromChar;
};

// The first entry is the fallback for unknown page numbers.
constexpr CodePage kCodePages[] = {
    {1252, kWindows1252, &kReverse1252},
    {1251, kWindows1251, &kReverse1251},
};

const CodePage& FindCodePage(int codePage) {
  for (const CodePage& page : kCodePages) {
    if (page.number == codePage) return page;
  }
  return kCodePages[0];
}

bool NarrowChar(const CodePage& page, char16_t ch, uint8_t& byte) {
  if (ch < 0x80) {
    byte = static_cast<uint8_t>(ch);
    return true;
  }
  const ReverseTable& reverse = *page.fromChar;
  auto it =
      std::lower_bound(reverse.begin(), reverse.end(), ch, [](const ReverseEntry& e, char16_t c) { return e.ch < c; });
  if (it == reverse.end() || it->ch != ch) return false;
  byte = it->byte;
  return true;
}

}  // namespace

bool IsKnownCodePage(int codePage) {
  for (const CodePage& page : kCodePages) {
    if (page.number == codePage) return true;
  }
  return false;
}

char16_t CodePageToChar(uint8_t byte, int codePage) { return FindCodePage(codePage).toChar[byte]; }

bool CharToCodePage(char16_t ch, int codePage, uint8_t& byte) { return NarrowChar(FindCodePage(codePage), ch, byte); }

std::u16string CodePageToUtf16(std::string_view bytes, int codePage) {
  const char16_t* table = FindCodePage(codePage).toChar;
  std::u16string out(bytes.size(), u'\0');
  char16_t* to = out.data();
  for (char b : bytes) *to++ = table[static_cast<uint8_t>(b)];
  return out;
}

std::string Utf16ToCodePage(std::u16string_view text, int codePage) {
  const CodePage& page = FindCodePage(codePage);
  std::string out;
  out.reserve(text.size());
  for (char16_t ch : text) {
    uint8_t byte;
    out.push_back(NarrowChar(page, ch, byte) ? static_cast<char>(byte) : '?');
  }
  return out;
}

// ---------------------------------------------------------------------------
// Upper-casing

namespace {

// In the alternating blocks of Latin Extended-A and Cyrillic each capital is
// directly followed by its small letter; evenIsUpper tells which parity the
// capitals have in the block at hand.
constexpr char16_t UpperOfPair(char16_t ch, bool evenIsUpper) {
  bool isEven = (ch & 1) == 0;
  return isEven == evenIsUpper ? ch : static_cast<char16_t>(ch - 1);
}

char16_t UpperLatinExtendedA(char16_t ch) {
  switch (ch) {
    case 0x0130:
      return ch;  // capital I with dot: no pair
    case 0x0131:
      return u'I';  // dotless i
    case 0x0138:
      return ch;  // kra: no capital
    case 0x0149:
      return ch;  // n preceded by apostrophe: no capital
    case 0x0178:
      return ch;  // capital Y with diaeresis (its small is U+00FF)
    case 0x017F:
      return u'S';  // long s
    default:
      break;
  }
  // Two runs are offset by one: there the odd code is the capital.
  if ((ch >= 0x0139 && ch <= 0x0148) || (ch >= 0x0179 && ch <= 0x017E)) {
    return UpperOfPair(ch, false);
  }
  return UpperOfPair(ch, true);
}

}  // namespace

char16_t UpperNonAscii(char16_t ch) {
  if (ch < 0x0100) {
    if (ch >= 0x00E0 && ch <= 0x00FE && ch != 0x00F7) return ch - 0x20;
    if (ch == 0x00FF) return 0x0178;
    return ch;  // includes micro sign and sharp s, which have no simple capital here
  }
  if (ch < 0x0180) return UpperLatinExtendedA(ch);
  if (ch >= 0x0386 && ch <= 0x03CE) {
    if (ch == 0x03C2) return 0x03A3;                     // final sigma
    if (ch >= 0x03B1 && ch <= 0x03CB) return ch - 0x20;  // with iota and upsilon diaeresis
    if (ch == 0x03AC) return 0x0386;
    if (ch >= 0x03AD && ch <= 0x03AF) return ch - 0x25;
    if (ch == 0x03CC) return 0x038C;
    if (ch == 0x03CD || ch == 0x03CE) return ch - 0x3F;
    return ch;
  }
  if (ch >= 0x0430 && ch <= 0x04BF) {
    if (ch <= 0x044F) return ch - 0x20;
    if (ch <= 0x045F) return ch - 0x50;
    if (ch <= 0x0481 || ch >= 0x048A) return UpperOfPair(ch, true);
    return ch;
  }
  return ch;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out;
  UpperCaseInto(out, text);
  return out;
}

void UpperCaseInto(std::u16string& out, std::u16string_view text) {
  out.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) out[i] = UpperChar(text[i]);
}

// ---------------------------------------------------------------------------
// Message formatting

namespace {

constexpr size_t kMaxFormatArgs = 6;
// Field widths and precisions come from data; anything larger than this is
// refused rather than allowed to build an enormous string.
constexpr unsigned kMaxFieldSize = 1000;

// Rejects directives whose width or precision could make the output huge:
// numeric fields above kMaxFieldSize, and '*' (which takes the size from an
// argument). Everything else is left to the formatter, which throws on what
// it does not understand.
bool HasSafeFieldSizes(std::string_view format) {
  constexpr std::string_view kDirectiveChars = "0123456789$-+ #.*'hljztL";
  size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      ++i;
      continue;
    }
    ++i;
    if (i < format.size() && format[i] == '%') {
      ++i;
      continue;
    }
    unsigned number = 0;
    while (i < format.size() && kDirectiveChars.find(format[i]) != std::string_view::npos) {
      char c = format[i];
      if (c == '*') return false;
      if (c >= '0' && c <= '9') {
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > kMaxFieldSize) return false;
      } else {
        number = 0;
      }
      ++i;
    }
  }
  return true;
}

}  // namespace

std::u16string FormatMessage(std::u16string_view format, std::initializer_list<FormatArg> args) {
  try {
    std::string utf8Format = Utf16ToUtf8(format);
    if (!HasSafeFieldSizes(utf8Format)) return std::u16string(format);

    fmt::dynamic_format_arg_store<fmt::printf_context> store;
    store.reserve(kMaxFormatArgs, kMaxFormatArgs);
    size_t count = 0;
    for (const FormatArg& arg : args) {
      if (count++ == kMaxFormatArgs) break;
      std::visit(
          [&store](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::u16string>) {
              store.push_back(Utf16ToUtf8(value));
            } else {
              store.push_back(value);
            }
          },
          arg);
    }
    std::string result =
        fmt::vsprintf(fmt::string_view(utf8Format), fmt::basic_format_args<fmt::printf_context>(store));
    return Utf8ToUtf16(result);
  } catch (const std::exception&) {
    // fmt::format_error for a format that does not fit its arguments;
    // bad_alloc and the like are treated the same way.
    return std::u16string(format);
  }
}
