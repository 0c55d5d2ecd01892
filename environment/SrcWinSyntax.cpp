#include "environment/SrcWinSyntax.h"

#include "core/Atoms.h"
#include "core/Text.h"
#include "core/Vars.h"

namespace {

// Values in a hint print up to this many characters.
constexpr size_t kHintValueChars = 4000;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsKeyword(std::u16string_view raw, const SyntaxContext& context) {
  if (raw == u"[" || raw == u"]" || raw == u"(" || raw == u")") return true;
  const std::u16string upper = UpperCase(raw);
  if (upper == u"DUMP") return true;
  if (context.KeywordTableUpper == nullptr) return false;
  for (const std::u16string& keyword : *context.KeywordTableUpper)
    if (!keyword.empty() && keyword == upper) return true;
  return false;
}

bool StartsNumber(std::u16string_view raw) {
  if (raw.empty()) return false;
  if (IsDigit(raw[0])) return true;
  return (raw[0] == u'+' || raw[0] == u'-') && raw.size() > 1 && IsDigit(raw[1]);
}

// The colour of one token and what it does to the carry flags.
struct Classifier {
  const SyntaxContext& Context;
  bool AfterColon = false;
  bool AfterQuote = false;

  SyntaxSpan Classify(std::u16string_view raw, const TToken& token) {
    SyntaxSpan span{token.Start - 1, token.Length, scText, Context.FontBold};
    const bool quoted = !raw.empty() && raw[0] == u'\'';
    const bool carrying = AfterColon || AfterQuote;
    if (token.ContinuesComment || (!raw.empty() && (raw[0] == u';' || raw[0] == u'{'))) {
      span.Colour = scComment;  // comments leave both flags alone
    } else if (!quoted && !carrying && IsKeyword(raw, Context)) {
      span.Colour = scPrimitive;
      span.Bold = !Context.FontBold;
      AfterColon = AfterQuote = false;
    } else if (!quoted && (raw == u":" || AfterColon)) {
      span.Colour = scVariable;
      AfterColon = raw == u":";
    } else if (!quoted && (raw == u"\"" || AfterQuote)) {
      span.Colour = scWord;
      AfterQuote = raw == u"\"";
    } else {
      AfterColon = false;
      if (StartsNumber(raw)) {
        span.Colour = scNumber;
      } else if (quoted || carrying || !Context.IsHelpReservedWord || !Context.IsHelpReservedWord(UpperCase(raw))) {
        span.Colour = scLibrary;
      } else {
        span.Colour = scText;
        if (!raw.empty()) AfterQuote = false;
      }
    }
    return span;
  }
};

}  // namespace

std::vector<SyntaxSpan> ClassifySpans(std::u16string_view text, const std::vector<TToken>& tokens,
                                      const SyntaxContext& context) {
  std::vector<SyntaxSpan> spans;
  spans.reserve(tokens.size());
  Classifier classifier{context};
  for (const TToken& token : tokens) {
    const size_t start = static_cast<size_t>(token.Start - 1);
    if (token.Length <= 0 || start >= text.size()) continue;
    spans.push_back(classifier.Classify(text.substr(start, static_cast<size_t>(token.Length)), token));
  }
  return spans;
}

// --- hover hints -------------------------------------------------------------------

namespace {

// The token of the line that the hint is about: the first whose 1-based
// start s and length n satisfy s <= column + 2 <= s + n.
std::u16string WordAtColumn(TStructure& s, std::u16string_view lineText, int32_t column) {
  TScanner scanner(s, TScannerOptions{false, false});
  scanner.SetText(SharedText(s.NormalizeName(lineText)));
  scanner.ScanSource();
  const int32_t probe = column + 2;
  for (const TToken& token : scanner.Tokens) {
    if (token.Start <= probe && probe <= token.Start + token.Length)
      return scanner.ScanText().substr(static_cast<size_t>(token.Start - 1), static_cast<size_t>(token.Length));
  }
  return {};
}

std::u16string OnaboutPath(TStructure& s, const std::u16string& word) { return word + u"." + s.Keyword(kwOnabout); }

}  // namespace

HoverHint BuildHoverHint(TStructure& s, std::u16string_view lineText, int32_t column) {
  HoverHint result;
  if (column < 0 || static_cast<size_t>(column) >= lineText.size()) return result;
  // Look-ups write these; nothing here may raise into a paused program.
  RestoreOnExit<TAtom*> keepScope(s.LastScope);
  RestoreOnExit<std::u16string> keepName(s.LastName);
  RestoreOnExit<int32_t> silence(s.CurrentPosition.Line, -1);

  std::u16string word = WordAtColumn(s, lineText, column);
  if (word.empty()) return result;
  TAtom* onabout = s.FindName(OnaboutPath(s, word));
  while (onabout == nullptr && word.find(u'.') != std::u16string::npos) {
    word.erase(0, word.find(u'.') + 1);
    onabout = word.empty() ? nullptr : s.FindName(OnaboutPath(s, word));
  }
  result.HintWord = word;
  if (word.empty()) return result;

  std::u16string hint;
  {
    // The documented variable itself is left out of the collected texts.
    TAtom* documented = onabout != nullptr ? onabout->Parent : nullptr;
    const bool skipped = TAtom::HasFlag(documented, afSkip);
    TAtom::SetFlag(documented, afSkip, true);
    s.CollectValues(s.Root, s.NormalizeName(word), hint, s.Keyword(kwOnabout));
    TAtom::SetFlag(documented, afSkip, skipped);
  }
  if (onabout != nullptr && TAtom::IsWordOrNumber(onabout->Left)) {
    hint += TAtom::ToText(s, onabout->Left);
    hint += u'\r';
  }
  if (TAtom* named = s.FindName(word)) {
    const std::u16string usage = TAtom::UsageText(s, named);
    if (!usage.empty()) {
      hint = usage + u"\r" + hint;
    } else if (named->Left != SystemValue || named->FirstChild == nullptr) {
      hint += u'\x02';
      hint += word;
      hint += u"\x02=";
      hint += TAtom::ToText(s, named->Left == SystemValue ? SystemValue : named->Left, kHintValueChars);
      hint += u'\r';
    }
  }
  if (!hint.empty() && hint.back() == u'\r') hint.pop_back();
  result.Hint = std::move(hint);
  return result;
}

// --- placeholders and replacing ------------------------------------------------------

namespace {

bool IsDelimiter(char16_t c, int codePage, uint8_t wanted) {
  uint8_t byte = 0;
  return c >= 0x80 && CharToCodePage(c, codePage, byte) && byte == wanted;
}

constexpr uint8_t kPlaceholderOpen = 139;
constexpr uint8_t kPlaceholderClose = 155;

}  // namespace

std::optional<TextRange> FindPlaceholder(std::u16string_view line, int32_t column, int codePage) {
  if (column < 0 || static_cast<size_t>(column) >= line.size()) return std::nullopt;
  int32_t open = column;
  while (open >= 0 && !IsDelimiter(line[static_cast<size_t>(open)], codePage, kPlaceholderOpen)) --open;
  if (open < 0) return std::nullopt;
  int32_t close = column;
  const auto size = static_cast<int32_t>(line.size());
  while (close < size && !IsDelimiter(line[static_cast<size_t>(close)], codePage, kPlaceholderClose)) ++close;
  if (close >= size || close <= open) return std::nullopt;
  for (int32_t i = open + 1; i < close; ++i) {
    const char16_t c = line[static_cast<size_t>(i)];
    if (IsDelimiter(c, codePage, kPlaceholderOpen) || IsDelimiter(c, codePage, kPlaceholderClose)) return std::nullopt;
  }
  return TextRange{open, close - open + 1};
}

int ReplaceAllMatches(int32_t start, size_t findLength, size_t replaceLength,
                      const std::function<int32_t(int32_t from)>& find,
                      const std::function<void(int32_t at)>& replace) {
  if (findLength == 0) return 0;
  int count = 0;
  int32_t from = start;
  for (;;) {
    const int32_t match = find(from);
    if (match < 0) return count;
    replace(match);
    ++count;
    from = match + static_cast<int32_t>(replaceLength);
  }
}
