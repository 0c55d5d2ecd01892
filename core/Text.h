#pragma once
// Text helpers shared by the whole core: line-break normalisation for the
// scanner, scanner-offset to editor-index translation, UTF-8/UTF-16
// conversion at the operating-system boundary, the Windows single-byte code
// pages, upper-casing of names and printf-style message formatting.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// Every LF that does not follow a CR gets a CR in front of it; everything else
// (CR LF pairs, lone CRs) is left unchanged. The scanner's rules are written
// for CR LF text, so every entry to the scanner goes through this.
std::u16string ToCrLf(std::u16string_view text);
// Every line break, LF, CR LF or a lone CR, becomes CR LF: the text the
// scanner parses, whatever editor or platform wrote it.
std::u16string NormalizeLineBreaks(std::u16string_view text);

// Translates a 1-based scanner offset into a CR LF text into the 0-based
// index an editor uses, which counts one character per CR LF pair. Offsets
// below 1 give 0; offsets past the end give the editor length.
int32_t EditorPosition(std::u16string_view crlfText, int32_t offset);

// The reverse: the 1-based scanner offset of the character at a 0-based
// editor index (a CR LF pair is one editor character and two scanner ones).
// Indexes below 0 give 1; indexes at or past the editor length give the
// offset just past the text.
int32_t ScannerPosition(std::u16string_view crlfText, int32_t editorIndex);

// UTF-8 <-> UTF-16 at the OS boundary (file names, environment, terminal).
// Malformed UTF-8 bytes decode as U+FFFD; lone surrogates encode as U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
// True when the bytes are well-formed UTF-8 (overlongs and surrogates rejected).
bool IsValidUtf8(std::string_view bytes);

// Single-byte Windows code pages. Pages 1252 and 1251 have their own tables;
// an unknown page number converts as 1252. Bytes the page leaves undefined map
// to the control character of the same value, so every byte round-trips.
bool IsKnownCodePage(int codePage);
char16_t CodePageToChar(uint8_t byte, int codePage);
// The byte of a character in the page; false when the page lacks it.
bool CharToCodePage(char16_t ch, int codePage, uint8_t& byte);
std::u16string CodePageToUtf16(std::string_view bytes, int codePage);
// Characters outside the page narrow to "?".
std::string Utf16ToCodePage(std::u16string_view text, int codePage);

// Upper-cases a name the way the language compares names when they are not
// case-sensitive: simple one-to-one mappings for Latin, Greek and Cyrillic.
char16_t UpperNonAscii(char16_t ch);
// Names are compared upper-cased by the million: the ASCII case is inline.
inline char16_t UpperChar(char16_t ch) {
  if (ch < 0x80) return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 0x20) : ch;
  return UpperNonAscii(ch);
}
std::u16string UpperCase(std::u16string_view text);
// UpperCase into an existing string, reusing its storage.
void UpperCaseInto(std::u16string& out, std::u16string_view text);
// Equal texts, compared inline (names are short; no library call).
inline bool SameText(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}
inline bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}
// The upper case of text equals upper (already upper case), compared
// character by character without building the upper-cased copy.
inline bool EqualsUpper(std::u16string_view text, std::u16string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (UpperChar(text[i]) != upper[i]) return false;
  return true;
}

// Convenience for literals in the core: ASCII/UTF-8 text as UTF-16.
inline std::u16string U16(std::string_view utf8) { return Utf8ToUtf16(utf8); }

// One argument of a message format: a text or a number.
using FormatArg = std::variant<std::u16string, long long, long double>;

// Fills a printf-style format (from a language file, that is, from data) with
// the given arguments. A format that does not match its arguments yields the
// bare format text; data never reaches the C printf family.
std::u16string FormatMessage(std::u16string_view format, std::initializer_list<FormatArg> args = {});
