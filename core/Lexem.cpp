// The scanner and parser.

#include "core/Lexem.h"

#include <array>
#include <utility>

#include "core/Text.h"
#include "core/Trans.h"

namespace {

// Scanner states: the character classes 0 to 8, then the three states for
// the insides of brace comments, quoted texts and line comments.
enum ScanState : int {
  stNone = -1,  // before the first character
  stWord = 0,
  stSeparator = 1,
  stPlus = 2,
  stMinus = 3,
  stRelation = 7,
  stSingle = 8,
  stBraceComment = 9,
  stQuoted = 10,
  stLineComment = 11,
};

constexpr char16_t kMarkerStart = 1;
constexpr char16_t kMarkerEnd = 2;

// The class of every unit below 256; every other unit is class 0.
constexpr std::array<uint8_t, 256> MakeClassTable() {
  std::array<uint8_t, 256> table{};
  table[u' '] = 1;
  table[u'\t'] = 1;
  table[u'\n'] = 1;
  table[u'+'] = 2;
  table[u'-'] = 3;
  table[u'*'] = 4;
  table[u'/'] = 5;
  table[u'^'] = 6;
  table[u'<'] = 7;
  table[u'>'] = 7;
  table[u'='] = 7;
  for (char16_t c : u";{}[]()\":,'!\r") table[c] = 8;
  table[0] = 0;  // the terminator of the literal above
  return table;
}

constexpr std::array<uint8_t, 256> kClassTable = MakeClassTable();

int ClassOf(char16_t c) { return c < 256 ? kClassTable[c] : 0; }

// True for the characters that end a run inside a comment or quoted text of
// the given state, or that need the full step there (markers, line ends of
// quoted texts, brace nesting).
bool EndsInsideRun(char16_t c, int state) {
  if (c == kMarkerStart) return true;
  switch (state) {
    case stBraceComment:
      return c == u'{' || c == u'}';
    case stQuoted:
      return c == u'\'' || c == u'\r';
    default:  // stLineComment
      return c == u'\r';
  }
}

// The index of the first character from i on that ends the run; the line
// ends passed over are counted.
size_t SkipInsideRun(const std::u16string& t, size_t i, int state, int32_t& line) {
  const size_t n = t.size();
  while (i < n && !EndsInsideRun(t[i], state)) {
    if (t[i] == u'\r') ++line;
    ++i;
  }
  return i;
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The text equals an upper-case keyword when compared without letter case;
// an empty keyword matches nothing.
bool MatchesKeyword(std::u16string_view text, std::u16string_view upper) {
  return !upper.empty() && EqualsUpper(text, upper);
}

// Comments that reach the parser as tokens and are skipped there.
bool IsCommentToken(std::u16string_view text) {
  if (text.empty()) return false;
  if (text[0] == u';') return true;
  if (text.size() >= 2 && text[0] == u'{' && (text.size() > 255 || text.back() == u'}')) return true;
  if (text[0] == u' ') {
    const size_t first = text.find_first_not_of(u" \t\n\r");
    return first != std::u16string_view::npos && text[first] == u';';
  }
  return false;
}

// The inside of a quoted token: the outer quotes go, each doubled quote
// becomes one; a text without its closing quote keeps the rest.
void Unquote(std::u16string_view raw, std::u16string& out) {
  out.clear();
  for (size_t i = 1; i < raw.size(); ++i) {
    if (raw[i] != u'\'') {
      out.push_back(raw[i]);
    } else if (i + 1 < raw.size() && raw[i + 1] == u'\'') {
      out.push_back(u'\'');
      ++i;
    } else {
      break;  // the closing quote
    }
  }
}

// A token that reads as a number: at least two characters, starting with a
// digit or with a sign and a digit.
bool LooksNumeric(std::u16string_view text) {
  if (text.size() < 2) return false;
  if (IsDigit(text[0])) return true;
  return (text[0] == u'+' || text[0] == u'-') && IsDigit(text[1]);
}

// The last character of a name that a "(" directly after it turns into a
// property or call: a digit, an ASCII letter, "#", "?" or any unit from 128.
bool EndsName(char16_t c) {
  return IsDigit(c) || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'#' || c == u'?' || c >= 128;
}

// A program names the same few words over and over, so the tokens of equal
// text share one node (see TAtomText). Each place of this table keeps the
// last text that hashed to it; a longer text is seldom repeated and keeps a
// node of its own.
constexpr size_t kRecentTokenTexts = 512;
constexpr size_t kMaxSharedTokenText = 64;
std::array<TAtomText, kRecentTokenTexts> recentTokenTexts;

size_t TokenTextPlace(std::u16string_view text) {
  uint32_t hash = 2166136261u;
  for (const char16_t c : text) hash = (hash ^ c) * 16777619u;
  return (hash ^ (hash >> 16)) % kRecentTokenTexts;
}

void SetTokenText(TAtomText& target, std::u16string_view text) {
  if (text.size() > kMaxSharedTokenText) {
    target = text;
    return;
  }
  TAtomText& recent = recentTokenTexts[TokenTextPlace(text)];
  if (recent.view() != text) recent.AssignShared(text);
  target.ShareFrom(recent);
}

// A word atom holding a token's text.
TAtom* NewTokenWord(TStructure& s, std::u16string_view text) {
  TAtom& word = NewAtom(s);
  SetTokenText(word.Text, text);
  return &word;
}

bool IsUnquotedWord(const TAtom* a, std::u16string_view text) {
  return TAtom::IsWord(a) && !(a->Flags & afQuoted) && a->Text == text;
}

bool IsInputMarker(const TAtom* a) { return IsUnquotedWord(a, u":") || IsUnquotedWord(a, u"\""); }

std::u16string DecimalText(long long value) {
  std::u16string text;
  for (const char c : std::to_string(value)) text.push_back(static_cast<char16_t>(c));
  return text;
}

}  // namespace

// Thrown when an error has been reported (recorded, or raised with the raise
// suppressed) and the scan or parse has to end without a result.
class TScanner::Abort {};

// One open construct of the parser: the statement level, a "[" list, a "("
// expression or a `to` body.
struct TScanner::Frame {
  int Mode = 0;
  bool TopLevel = false;
  TAtom* Head = nullptr;
  TAtom* Tail = nullptr;
  TPosition Open;           // the opening token; its StartPos/EndPos span it
  std::u16string OpenText;  // the opening token as read, for messages
};

TScanner::TScanner(TStructure& s, TScannerOptions options)
    : S(s), options_(options), position_(options.Raise ? &s.ParsePosition : &ownPosition_) {}

void TScanner::SetText(SharedText text) {
  text_ = std::move(text);
  TokenIndex = 0;
}

// --- scanning ----------------------------------------------------------------

void TScanner::PrintMarker(std::u16string_view inside) {
  std::u16string digits;
  long long value = 0;
  bool fits = true;
  for (char16_t c : inside) {
    if (!IsDigit(c)) continue;
    digits.push_back(c);
    if (fits) {
      value = value * 10 + (c - u'0');
      fits = value <= 2147483647;
    }
  }
  std::u16string line = u"debug ";
  line += fits ? DecimalText(value) : digits;
  PrintToOutput(S, line);
}

bool TScanner::ScanSource(bool commentsOff, TScanEntry entry) {
  Tokens.clear();
  TokenIndex = 0;
  LastError.reset();
  quotesExist_ = !commentsOff;

  const std::u16string& t = text_.str();
  const size_t n = t.size();
  Tokens.reserve(n / 4 + 1);

  // After a line break the scan starts as if the CR LF had just been read.
  const size_t prefix = entry.AfterLineBreak ? 2 : 0;
  int prevState = entry.AfterLineBreak ? stSeparator : stNone;   // state of the previous character
  int prevPrevState = entry.AfterLineBreak ? stSingle : stNone;  // state of the one before it
  // The character at i - back, the preceding CR LF included.
  auto before = [&](size_t i, size_t back) -> char16_t {
    if (i >= back) return t[i - back];
    return i + prefix >= back ? (back - i == 1 ? u'\n' : u'\r') : char16_t{0};
  };
  int pendingState = stNone;   // state of the token being collected
  size_t pendingStart = 0;
  int32_t pendingLine = 1;
  int32_t line = 1;

  bool inQuote = false;
  bool inLineComment = false;
  int32_t braceDepth = entry.BraceDepth > 0 ? entry.BraceDepth : 0;
  bool entryCommentOpen = braceDepth > 0;  // the comment open before the text goes on
  bool pendingContinues = false;
  ptrdiff_t quoteStart = -1;      // start of the open (or last) quoted text
  int32_t quoteLine = 0;          // the line it starts on
  ptrdiff_t lastQuoteClose = -2;  // closing quote of the last quoted text
  ptrdiff_t quoteCr = -1;         // first CR met inside a quoted text
  ptrdiff_t quoteCrStart = -1;    // start of the quoted text that met it
  int32_t quoteCrLine = 0;        // the line that quoted text starts on
  ptrdiff_t braceOpen = -1;       // outermost "{" still open
  ptrdiff_t strayBrace = -1;      // first "}" outside every comment

  auto record = [&](size_t end) {
    if (pendingState == stNone || pendingState == stSeparator) return;
    Tokens.push_back(TToken{static_cast<int32_t>(pendingStart + 1), static_cast<int32_t>(end - pendingStart),
                            pendingLine, pendingContinues});
  };
  auto startToken = [&](size_t i, int state) {
    record(i);
    pendingContinues = entryCommentOpen && state == stBraceComment;
    pendingState = state;
    pendingStart = i;
    pendingLine = line;
  };

  for (size_t i = 0; i < n; ++i) {
    // Runs that keep every state as it is are passed over at once. The rest
    // of a word or of blanks: after such a character (which opened nothing)
    // only a character of another class, or a marker, starts anything.
    if (prevState == stWord || prevState == stSeparator) {
      const size_t from = i;
      while (i < n && t[i] != kMarkerStart && ClassOf(t[i]) == prevState) ++i;
      if (i > from) prevPrevState = prevState;
      if (i == n) break;
    } else if (prevState >= stBraceComment && quotesExist_) {
      const int inside = inLineComment    ? stLineComment
                         : braceDepth > 0 ? stBraceComment
                         : inQuote        ? stQuoted
                                          : stNone;
      // Inside a comment or quoted text already under way: what neither
      // ends it nor needs the full step, its line ends counted.
      if (prevState == inside) {
        const size_t from = i;
        i = SkipInsideRun(t, i, inside, line);
        if (i > from) prevPrevState = prevState;
        if (i == n) break;
      }
    }
    const char16_t c = t[i];
    const bool outside = !inQuote && !inLineComment && braceDepth == 0;

    if (c == kMarkerStart) {
      // A debug marker: code 1, digits, code 2 (or the end of the text).
      size_t end = i + 1;
      while (end < n && t[end] != kMarkerEnd) ++end;
      if (options_.PrintMarkers) PrintMarker(std::u16string_view(t).substr(i + 1, end - i - 1));
      if (outside) {
        // The marker separates tokens like a blank and leaves no token.
        if (pendingState != stSeparator) startToken(i, stSeparator);
        const size_t last = end < n ? end : n - 1;
        for (size_t k = i; k <= last; ++k)
          if (t[k] == u'\r') ++line;
        prevPrevState = stSeparator;
        prevState = stSeparator;
        i = last;
        continue;
      }
    }

    const int cls = ClassOf(c);
    int state = cls;
    const char16_t prev = before(i, 1);

    // A relational character after one already glued into a word joins it.
    if (cls == stRelation && prevState == stWord && i > 0 && ClassOf(prev) == stRelation) state = stWord;
    // A period glues the next character to the word.
    if (outside && prev == u'.' && i > 0 && c != u'\r' && c != u' ') state = stWord;
    // A sign after a separator, "(" or "[" starts the number that follows.
    if ((prevState == stPlus || prevState == stMinus) && IsDigit(c) && i + prefix >= 2 &&
        (prevPrevState == stSeparator || before(i, 2) == u'(' || before(i, 2) == u'[')) {
      pendingState = stWord;
      prevState = stWord;
    }
    // The sign of an exponent stays in the number.
    if ((c == u'+' || c == u'-') && i >= 2 && (prev == u'e' || prev == u'E') && IsDigit(t[i - 2])) state = stWord;

    if (quotesExist_) {
      if (inLineComment) {
        if (c == u'\r')
          inLineComment = false;  // the line end is an ordinary token again
        else
          state = stLineComment;
      } else if (braceDepth > 0) {
        if (c == u'{') {
          ++braceDepth;
        } else if (c == u'}' && --braceDepth == 0) {
          braceOpen = -1;
          entryCommentOpen = false;
        }
        state = stBraceComment;
      } else if (inQuote) {
        if (c == u'\'') {
          inQuote = false;
          lastQuoteClose = static_cast<ptrdiff_t>(i);
        } else if (c == u'\r' && quoteCr < 0) {
          quoteCr = static_cast<ptrdiff_t>(i);
          quoteCrStart = quoteStart;
          quoteCrLine = quoteLine;
        }
        state = stQuoted;
      } else if (c == u';') {
        inLineComment = true;
        state = stLineComment;
      } else if (c == u'{') {
        braceDepth = 1;
        braceOpen = static_cast<ptrdiff_t>(i);
        state = stBraceComment;
      } else if (c == u'\'') {
        inQuote = true;
        // A quote right after a closing one is a doubled quote inside the
        // same text, which keeps its start.
        if (lastQuoteClose + 1 != static_cast<ptrdiff_t>(i)) {
          quoteStart = static_cast<ptrdiff_t>(i);
          quoteLine = line;
        }
        state = stQuoted;
      } else if (c == u'}' && strayBrace < 0) {
        strayBrace = static_cast<ptrdiff_t>(i);
      }
    }

    if (state != prevState || state == stSingle) startToken(i, state);
    if (c == u'\r') ++line;
    prevPrevState = prevState;
    prevState = state;
  }
  // The end closes the last token, also a quoted text or comment still open.
  record(n);
  endBraceDepth_ = braceDepth;

  if (!ScannerErrorsArmed) {
    ScannerErrorsArmed = true;
    return true;
  }
  try {
    if (quoteCr >= 0 || inQuote) {
      TPosition where = *position_;
      where.StartPos = static_cast<int32_t>((quoteCr >= 0 ? quoteCrStart : quoteStart) + 1);
      where.EndPos = quoteCr >= 0 ? static_cast<int32_t>(quoteCr + 1) : -1;
      // The line the quoted text opened on; a parse position without a line
      // (-1) keeps the raise suppressed.
      if (where.Line >= 0) where.Line = quoteCr >= 0 ? quoteCrLine : quoteLine;
      Fail(where, S.MessageText(u"UNMATCHED", {std::u16string(u"'")}), u"does-not-match-quo-quo");
    }
    if (braceDepth > 0 || strayBrace >= 0) {
      const bool open = braceDepth > 0 && (strayBrace < 0 || braceOpen < strayBrace);
      TPosition where = *position_;
      where.StartPos = static_cast<int32_t>((open ? braceOpen : strayBrace) + 1);
      where.EndPos = where.StartPos + 1;
      Fail(where, S.MessageText(u"UNMATCHED", {std::u16string(open ? u"{" : u"}")}),
           open ? u"does-not-match-rem-eof" : u"does-not-match-beg-rem");
    }
  } catch (const Abort&) {
    return false;
  }
  return true;
}

void TScanner::NextToken(bool raw) {
  TokenLength = -1;
  TokenText.clear();
  TokenQuoted = false;
  TokenStart = 0;
  if (TokenIndex >= Tokens.size()) return;
  const TToken& token = Tokens[TokenIndex++];
  position_->StartPos = token.Start;
  position_->Line = token.Line;
  position_->EndPos = token.Start + token.Length;
  TokenLength = token.Length;
  TokenStart = token.Start;

  const std::u16string_view text = RawTokenText();
  if (quotesExist_ && text.front() == u'\'') {
    // Quoted texts are data: never normalised.
    LineEndComma = false;
    if (raw) {
      TokenText.assign(text);
    } else {
      TokenQuoted = true;
      Unquote(text, TokenText);
    }
    return;
  }
  if (text.size() == 1 && text[0] == u'\r') {
    TokenText = u",";
    LineEndComma = true;
    return;
  }
  LineEndComma = false;
  // NormalizeName's text, into the token's own storage.
  if (S.CaseSensitive)
    TokenText.assign(text);
  else
    UpperCaseInto(TokenText, text);
}

std::u16string_view TScanner::RawTokenText() const {
  if (TokenLength < 0 || TokenStart < 1) return {};
  return std::u16string_view(text_.str()).substr(static_cast<size_t>(TokenStart - 1), static_cast<size_t>(TokenLength));
}

void TScanner::ClearTokens() {
  Tokens.clear();
  // A very long text leaves no large buffer behind.
  if (Tokens.capacity() > 65536) Tokens.shrink_to_fit();
  TokenIndex = 0;
}

// --- errors --------------------------------------------------------------------

void TScanner::Fail(const TPosition& position, std::u16string message, std::u16string_view topic) {
  failed_ = true;
  if (options_.Raise) {
    S.CurrentPosition = position;
    S.CurrentPosition.Topic = std::u16string(topic);
    S.RaiseError(std::move(message), topic);
  } else {
    LastError =
        TScanError{std::u16string(topic), std::move(message), position.StartPos, position.EndPos, position.Line};
  }
  throw Abort{};
}

void TScanner::RaiseMismatch(const TPosition& position, int32_t endPos, std::u16string_view kind,
                             std::u16string_view token) {
  try {
    FailMismatch(position, endPos, kind, token);
  } catch (const Abort&) {
    // Reported: recorded, or raised while raising is suppressed.
  }
}

void TScanner::FailMismatch(const TPosition& position, int32_t endPos, std::u16string_view kind,
                            std::u16string_view token) {
  TPosition where = position;
  where.EndPos = endPos;
  std::u16string topic = u"does-not-match-";
  topic += kind;
  Fail(where, S.MessageText(u"UNMATCHED", {std::u16string(token)}), topic);
}

void TScanner::FailTooDeep(const TPosition& position, std::u16string_view token) {
  failed_ = true;
  if (options_.Raise) {
    S.CurrentPosition = position;
    S.CurrentPosition.Topic = u"too-deep";
    S.RaiseTooDeep(token);
  } else {
    LastError = TScanError{u"too-deep", S.MessageText(u"TOODEEP", {std::u16string(token)}), position.StartPos,
                           position.EndPos, position.Line};
  }
  throw Abort{};
}

void TScanner::WriteFile(int number, std::u16string_view text) {
  if (!options_.Raise) return;
  WriteErrorFile(S, number, text);
}

std::u16string TScanner::WriteBadNameFiles(const TAtom* name) {
  std::u16string dump;
  TAtom::DumpTree(S, name, u"", dump);
  WriteFile(4, dump);
  WriteFile(5, TAtom::KindName(name, false));
  WriteFile(6, TAtom::KindName(name, true));
  return dump;
}

// --- parsing -------------------------------------------------------------------

bool TScanner::IsEndWord(std::u16string_view text) const {
  return MatchesKeyword(text, S.Language.KeywordTableUpper[kwEnd]) ||
         (S.Language.DualLanguageSupport && MatchesKeyword(text, u"END"));
}

bool TScanner::IsToWord(std::u16string_view text) const {
  return MatchesKeyword(text, S.Language.KeywordTableUpper[kwTo]) ||
         (S.Language.DualLanguageSupport && MatchesKeyword(text, u"TO"));
}

TAtom* TScanner::MakeElement() {
  TAtom* element = nullptr;
  if (!TokenQuoted && LooksNumeric(TokenText)) {
    element = NewWord(S, TokenText);
    long double x = 0;
    if (TAtom::TryNumber(element, x)) {
      element->Kind = akNumber;
      element->Number = x;
      element->Text.clear();
    }
  } else {
    element = NewTokenWord(S, TokenText);
    if (TokenQuoted) element->Flags |= afQuoted;
  }
  TAtom::SetPosition(*element, *position_);
  return element;
}

void TScanner::Append(Frame& frame, TAtom* element, const TPosition& position) {
  TAtom* cell = frame.Mode == 1 ? NewExpressionCell(S, element, nullptr) : NewListCell(S, element, nullptr);
  TAtom::SetPosition(*cell, position);
  if (frame.Tail == nullptr)
    frame.Head = cell;
  else
    frame.Tail->Right = cell;
  frame.Tail = cell;
}

void TScanner::InsertPeriod(Frame& frame) {
  if (frame.Tail == nullptr) return;
  const TAtom* previous = frame.Tail->Left;
  const int32_t parenStart = TokenStart;
  bool glued = false;
  if (TAtom::IsWordOrNumber(previous)) {
    if (previous->HasPosition()) {
      const std::u16string printed = TAtom::ToText(S, previous);
      glued = !printed.empty() &&
              TAtom::GetPosition(previous).StartPos + static_cast<int32_t>(printed.size()) == parenStart &&
              printed != u"\"" && printed != u"," && printed != u":" && EndsName(printed.back());
    }
  } else if (TAtom::IsListOrExpression(previous) || previous == nullptr) {
    glued = frame.Tail->HasPosition() && TAtom::GetPosition(frame.Tail).EndPos == parenStart;
  }
  if (glued) Append(frame, NewWord(S, u"."), *position_);
}

void TScanner::OpenFrame(std::vector<Frame>& frames, int mode) {
  if (frames.size() > static_cast<size_t>(kMaxParseNesting)) FailTooDeep(*position_, TokenText);
  Frame frame;
  frame.Mode = mode;
  frame.Open = *position_;
  frame.OpenText = TokenText;
  frames.push_back(std::move(frame));
}

void TScanner::CloseFrame(Frame& parent, Frame& done, int32_t closeEnd) {
  TPosition span = done.Open;
  span.EndPos = closeEnd;
  switch (done.Mode) {
    case 0:
      // A line end (or a comma) before "[" does not separate statements:
      // the list takes the comma's place.
      if (parent.Tail != nullptr && IsUnquotedWord(parent.Tail->Left, u",")) {
        parent.Tail->Left = done.Head;
        TAtom::SetPosition(*parent.Tail, span);
      } else {
        Append(parent, done.Head, span);
      }
      break;
    case 1:
      Append(parent, done.Head, span);
      break;
    default:
      FinishDefinition(parent, done, span);
      break;
  }
}

TAtom* TScanner::ParseTokens(int mode, bool topLevel) {
  failed_ = false;
  if (!options_.Raise) LastError.reset();
  try {
    return ParseLoop(mode, topLevel);
  } catch (const Abort&) {
    return nullptr;
  } catch (...) {
    failed_ = true;
    throw;
  }
}

// The parser keeps its open constructs on an explicit stack, so nesting
// costs heap memory, not machine stack, up to the nesting limit.
TAtom* TScanner::ParseLoop(int mode, bool topLevel) {
  std::vector<Frame> frames;
  {
    Frame base;
    base.Mode = mode;
    base.TopLevel = topLevel;
    base.Open = *position_;
    base.OpenText = mode == 0 ? u"[" : mode == 1 ? u"(" : S.Keyword(kwTo);
    base.Open.EndPos = base.Open.StartPos + static_cast<int32_t>(base.OpenText.size());
    frames.push_back(std::move(base));
  }
  for (;;) {
    Frame& frame = frames.back();
    NextToken(false);
    if (TokenLength < 0) {
      const int32_t openEnd = frame.Open.StartPos + (frame.Mode == 2 ? static_cast<int32_t>(frame.OpenText.size()) : 1);
      switch (frame.Mode) {
        case 0:
          if (frame.TopLevel) return frame.Head;
          FailMismatch(frame.Open, openEnd, u"br-eof", u"[");
        case 1:
          FailMismatch(frame.Open, openEnd, u"par-eof", u"(");
        default:
          FailMismatch(frame.Open, openEnd, u"to-eof", frame.OpenText);
      }
    }

    bool closes = false;
    if (!TokenQuoted) {
      if (IsCommentToken(TokenText)) continue;
      const TPosition& current = *position_;
      if (TokenText == u"]") {
        if (frame.Mode == 0 && frame.TopLevel) FailMismatch(current, TokenStart + 1, u"beg-br", u"]");
        if (frame.Mode == 1) FailMismatch(current, TokenStart + 1, u"par-br", u"(");
        if (frame.Mode == 2) FailMismatch(current, TokenStart + 1, u"to-br", frame.OpenText);
        closes = true;
      } else if (TokenText == u")") {
        if (frame.Mode == 0 && frame.TopLevel) FailMismatch(current, TokenStart + 1, u"beg-par", u")");
        if (frame.Mode == 0) FailMismatch(current, TokenStart + 1, u"br-par", u"[");
        if (frame.Mode == 2) FailMismatch(current, TokenStart + 1, u"to-par", frame.OpenText);
        if (frame.Head == nullptr) FailMismatch(current, TokenStart + 1, u"par-par", u"(");
        closes = true;
      } else if (IsEndWord(TokenText)) {
        if (frame.Mode == 0 && frame.TopLevel) FailMismatch(current, TokenStart + TokenLength, u"beg-end", TokenText);
        if (frame.Mode == 0) FailMismatch(current, TokenStart + TokenLength, u"br-end", u"[");
        if (frame.Mode == 1) FailMismatch(current, TokenStart + TokenLength, u"par-end", u"(");
        closes = true;
      } else if (frame.Mode == 1 && LineEndComma) {
        continue;  // a line break inside parentheses
      } else if (IsToWord(TokenText)) {
        OpenFrame(frames, 2);
        continue;
      } else if (TokenText == u"(") {
        InsertPeriod(frame);
        OpenFrame(frames, 1);
        continue;
      } else if (TokenText == u"[") {
        OpenFrame(frames, 0);
        continue;
      }
    }
    if (!closes) {
      TAtom* element = MakeElement();
      Append(frame, element, *position_);
      continue;
    }

    const int32_t closeEnd = TokenStart + TokenLength;
    Frame done = std::move(frames.back());
    frames.pop_back();
    if (frames.empty()) return done.Head;
    CloseFrame(frames.back(), done, closeEnd);
  }
}

// --- `to` definitions ------------------------------------------------------------

// Reads the inputs of one side of a `to` header: pairs of a ":" or double
// quote and a name, into a list of their own.
void TScanner::ReadInputs(TAtom*& cursor, TAtom*& head, TAtom*& tail, int32_t& count) {
  while (cursor != nullptr && IsInputMarker(cursor->Left)) {
    ++count;
    TAtom* marker = cursor->Left;
    TAtom* nameCell = cursor->Right;
    if (nameCell == nullptr) {
      const TPosition markerPos = TAtom::GetPosition(cursor);
      const std::u16string printed = TAtom::ToText(S, marker);
      WriteFile(4, printed);
      WriteFile(5, DecimalText(count));
      FailMismatch(markerPos, markerPos.EndPos, u"to-colon-eof", printed);
    }
    TAtom* name = nameCell->Left;
    if (!TAtom::IsWord(name) || IsInputMarker(name)) {
      const std::u16string dump = WriteBadNameFiles(name);
      WriteFile(7, DecimalText(count));
      WriteFile(8, TAtom::ToText(S, marker));
      Fail(TAtom::GetPosition(nameCell), S.MessageText(u"BADNAME", {dump}), u"bad-name-to-param");
    }
    if (IsUnquotedWord(name, u",")) {
      const TPosition markerPos = TAtom::GetPosition(cursor);
      const std::u16string printed = TAtom::ToText(S, marker);
      WriteFile(4, printed);
      WriteFile(5, DecimalText(count));
      const TPosition commaPos = TAtom::GetPosition(nameCell);
      FailMismatch(markerPos, commaPos.EndPos, u"to-colon-eol", printed);
    }
    AppendToList(S, marker, head, tail);
    AppendToList(S, name, head, tail);
    cursor = nameCell->Right;
  }
}

// Rewrites `to` [left inputs] name [right inputs] body `end` into
// make local " name [[left inputs] [right inputs] body] (the left-input list
// only when there are left inputs).
void TScanner::FinishDefinition(Frame& parent, Frame& done, const TPosition& span) {
  TAtom* cursor = done.Head;
  TPosition toPosition = done.Open;
  toPosition.EndPos = toPosition.StartPos + static_cast<int32_t>(done.OpenText.size());

  TAtom* leftHead = nullptr;
  TAtom* leftTail = nullptr;
  int32_t leftCount = 0;
  ReadInputs(cursor, leftHead, leftTail, leftCount);

  if (cursor == nullptr) Fail(toPosition, S.MessageText(u"BADCOMMAND", {done.OpenText}), u"does-not-match-to-name-eof");
  TAtom* name = cursor->Left;
  if (IsUnquotedWord(name, u","))
    Fail(toPosition, S.MessageText(u"BADCOMMAND", {done.OpenText}), u"does-not-match-to-name-eol");
  if (!TAtom::IsWord(name) || IsInputMarker(name)) {
    const std::u16string dump = WriteBadNameFiles(name);
    Fail(TAtom::GetPosition(cursor), S.MessageText(u"BADNAME", {dump}), u"bad-name-to-name");
  }
  const TPosition namePosition = TAtom::GetPosition(cursor);
  cursor = cursor->Right;

  TAtom* rightHead = nullptr;
  TAtom* rightTail = nullptr;
  int32_t rightCount = 0;
  ReadInputs(cursor, rightHead, rightTail, rightCount);

  // The line end after the header does not start a statement of the body.
  while (cursor != nullptr && IsUnquotedWord(cursor->Left, u",")) cursor = cursor->Right;

  TAtom* definition = NewListCell(S, rightHead, cursor);
  if (leftCount > 0) definition = NewListCell(S, leftHead, definition);

  auto keywordWord = [&](std::u16string text) {
    TAtom* word = NewWord(S, std::move(text));
    TAtom::SetPosition(*word, toPosition);
    Append(parent, word, toPosition);
  };
  keywordWord(S.Keyword(kwMake));
  keywordWord(S.Keyword(kwLocal));
  keywordWord(u"\"");
  Append(parent, name, namePosition);
  Append(parent, definition, span);
}

TAtom* TScanner::TokensToWords() {
  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  for (;;) {
    NextToken(true);
    if (TokenLength < 0) break;
    AppendToList(S, NewTokenWord(S, TokenText), head, tail);
  }
  return head;
}

// --- the parse entry ---------------------------------------------------------------

namespace {

class TokenClearer {
public:
  explicit TokenClearer(TScanner& scanner) : scanner_(scanner) {}
  ~TokenClearer() { scanner_.ClearTokens(); }
  TokenClearer(const TokenClearer&) = delete;
  TokenClearer& operator=(const TokenClearer&) = delete;

private:
  TScanner& scanner_;
};

}  // namespace

TParseResult ParseText(TScanner& scanner, std::u16string_view text, std::u16string_view sourceName, int32_t startPos,
                       int32_t line, ParseAs as, bool commentsOff) {
  TPosition& position = scanner.Position();
  MakeSourcePos(position, std::u16string(sourceName), NormalizeLineBreaks(text), startPos, line, kAnyDepth);
  position.EndPos = -1;
  position.Topic.clear();
  position.Statement = nullptr;
  position.FrameOwner = nullptr;
  scanner.SetText(position.SourceText);

  TokenClearer clearer(scanner);
  TParseResult result;
  if (!scanner.ScanSource(commentsOff)) return result;
  if (as == ParseAs::Words) {
    result.List = scanner.TokensToWords();
    result.Ok = true;
    return result;
  }
  TAtom* list = scanner.ParseTokens(0, true);
  if (scanner.Failed()) return result;
  result.Ok = true;
  result.List = list;
  return result;
}
