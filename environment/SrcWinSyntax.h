#pragma once
// The Qt-free share of the source editors: token classes and their colours
// (the highlighter paints the spans), the hover hint for the word under the
// mouse, the placeholders that a dragged list-box item selects, and the
// replace-all loop.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Lexem.h"
#include "environment/EnvState.h"

// One coloured run of a scanned text: offsets 0-based into that text.
struct SyntaxSpan {
  int32_t Start = 0;
  int32_t Length = 0;
  int Colour = scText;  // an index of SyntaxColors
  bool Bold = false;
  bool operator==(const SyntaxSpan&) const = default;
};

struct SyntaxContext {
  const std::array<std::u16string, kKeywordCount>* KeywordTableUpper = nullptr;  // null: no keywords
  // Words with a help page of their own (upper case); empty: none.
  std::function<bool(const std::u16string& upperWord)> IsHelpReservedWord;
  bool FontBold = false;  // the environment font's weight; keywords take the other
};

// The classes and spans of the tokens of text, in order. The colon and
// double-quote carry flags start clear.
std::vector<SyntaxSpan> ClassifySpans(std::u16string_view text, const std::vector<TToken>& tokens,
                                      const SyntaxContext& context);

struct HoverHint {
  std::u16string HintWord;  // the token under the mouse (normalised)
  std::u16string Hint;      // CR-separated lines, the name between #2 marks; "" for none
};

// The hint for the character at column (0-based) of one editor line. It
// leaves the interpreter as it found it: no errors raised or recorded,
// nothing printed, no flag or look-up state changed.
HoverHint BuildHoverHint(TStructure& s, std::u16string_view lineText, int32_t column);

// The placeholder of a line round column (0-based): the run from a "‹" to
// the next "›" (the characters of the code page's bytes 139 and 155) with
// neither inside, both included. Its start and length in the line.
struct TextRange {
  int32_t Start = 0;
  int32_t Length = 0;
  bool operator==(const TextRange&) const = default;
};
std::optional<TextRange> FindPlaceholder(std::u16string_view line, int32_t column, int codePage);

// Replaces every match from start on: find(from) gives the next match at or
// after from (-1 for none), replace(at) replaces the match at that position.
// Each search starts after the text just inserted, so the loop ends whatever
// the texts; an empty find text never searches. Returns the replacements.
int ReplaceAllMatches(int32_t start, size_t findLength, size_t replaceLength,
                      const std::function<int32_t(int32_t from)>& find, const std::function<void(int32_t at)>& replace);
