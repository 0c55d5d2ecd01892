#pragma once
// The scanner and parser: program text becomes a list of atoms in two
// passes. ScanSource cuts the whole text into tokens by a 256-entry
// character-class table and a few states for quoted texts and comments;
// ParseTokens reads the tokens one by one (NextToken), builds nested lists
// for brackets and expression cells for parentheses, turns numeric tokens
// into number atoms, gives every element a source position, rewrites each
// `to` ... `end` definition into an assignment and raises the mismatch
// errors with their help keys.
//
// A scanner is an object, not module state: the interpreter owns one that
// raises language errors and writes TStructure.ParsePosition; the syntax
// highlighter builds its own that records the error it would have raised and
// keeps its position record to itself.
//
// Tokens are offsets into the scanned text, which is held once (SharedText)
// and shared by every position made from it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Vars.h"

struct TScannerOptions {
  bool Raise = true;         // raise language errors; else record them in LastError
  bool PrintMarkers = true;  // print "debug N" for the debug markers in the text
};

// An error that a scanner built without raising would have raised.
struct TScanError {
  std::u16string Key;      // help topic, e.g. "does-not-match-quo-quo"
  std::u16string Message;  // the filled message format
  int32_t StartPos = -1;   // 1-based offsets into the scanned text
  int32_t EndPos = -1;
  int32_t Line = -1;
};

// One token: where it is in the scanned text. Offsets and lines are 1-based.
struct TToken {
  int32_t Start = 0;
  int32_t Length = 0;
  int32_t Line = 0;
  bool ContinuesComment = false;  // the inside of a brace comment opened before the text
};

// Where a scanned text stands in a larger one, so that a piece (one line of
// an editor) scans as it would inside the whole text.
struct TScanEntry {
  int32_t BraceDepth = 0;       // brace comments open before the text
  bool AfterLineBreak = false;  // a CR LF precedes the text (false: the text start)
};

// The parser's nesting limit for "[", "(" and `to` bodies.
constexpr int32_t kMaxParseNesting = 1000;

class TScanner {
public:
  explicit TScanner(TStructure& s, TScannerOptions options = {});
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  // --- input --------------------------------------------------------------
  // The text to scan (expected in CR LF form) and TokenIndex := 0.
  void SetText(SharedText text);
  const std::u16string& ScanText() const { return text_.str(); }
  const SharedText& SharedScanText() const { return text_; }

  // The position record the scanner writes: TStructure.ParsePosition for a
  // raising scanner, a private record otherwise.
  TPosition& Position() { return *position_; }
  const TPosition& Position() const { return *position_; }

  // --- scanning -----------------------------------------------------------
  // Scans the whole text into Tokens (replacing them). With commentsOff set,
  // ";", "{" and "'" are plain one-character tokens. Raises (or records) the
  // quote and brace-comment mismatches while ScannerErrorsArmed is set; when
  // it is not set, nothing is reported and it is set again. Returns false
  // when an error was found (raised with the raise suppressed, or recorded).
  // The entry state says what precedes the text; the default is a whole text.
  bool ScanSource(bool commentsOff = false, TScanEntry entry = {});
  // The brace-comment depth still open at the end of the last scan.
  int32_t EndBraceDepth() const { return endBraceDepth_; }
  // Reads the token at TokenIndex into TokenText, TokenLength, TokenQuoted
  // and LineEndComma and the position record; TokenLength -1 at the end.
  // Raw keeps quoted texts with their quotes.
  void NextToken(bool raw);
  void ClearTokens();
  // The current token as written (a view into the scanned text).
  std::u16string_view RawTokenText() const;

  // --- parsing ------------------------------------------------------------
  // Parses from TokenIndex. Mode 0: a statement sequence or the inside of
  // "["; 1: the inside of "("; 2: a `to` body. Only the outermost call sets
  // topLevel. Returns the list built (null for no elements); on an error
  // returns null with Failed() set (language errors that go through
  // propagate as exceptions).
  TAtom* ParseTokens(int mode, bool topLevel);
  // A flat list of word atoms, one per remaining token, read raw.
  TAtom* TokensToWords();
  // CurrentPosition := position with EndPos, topic "does-not-match-" + kind,
  // message UNMATCHED filled with token; raises (or records the error).
  void RaiseMismatch(const TPosition& position, int32_t endPos, std::u16string_view kind, std::u16string_view token);
  // True when the last ParseTokens ended with an error.
  bool Failed() const { return failed_; }

  // --- state ----------------------------------------------------------------
  std::vector<TToken> Tokens;
  size_t TokenIndex = 0;
  std::u16string TokenText;
  int32_t TokenLength = -1;
  int32_t TokenStart = 0;  // start of the current token (1-based), 0 when none
  bool TokenQuoted = false;
  bool LineEndComma = false;
  // Cleared by callers for one silent scan; every scan sets it again.
  bool ScannerErrorsArmed = true;
  // The last error of a non-raising scanner (kept until the next scan or parse).
  std::optional<TScanError> LastError;

  const TScannerOptions& Options() const { return options_; }

private:
  struct Frame;
  class Abort;

  // Raise or record one error, then end the scan or parse (throwing Abort
  // when the error did not propagate as a language error).
  [[noreturn]] void Fail(const TPosition& position, std::u16string message, std::u16string_view topic);
  [[noreturn]] void FailMismatch(const TPosition& position, int32_t endPos, std::u16string_view kind,
                                 std::u16string_view token);
  [[noreturn]] void FailTooDeep(const TPosition& position, std::u16string_view token);
  void PrintMarker(std::u16string_view inside);
  TAtom* ParseLoop(int mode, bool topLevel);
  bool IsEndWord(std::u16string_view text) const;
  bool IsToWord(std::u16string_view text) const;
  TAtom* MakeElement();
  void Append(Frame& frame, TAtom* element, const TPosition& position);
  void InsertPeriod(Frame& frame);
  void OpenFrame(std::vector<Frame>& frames, int mode);
  void CloseFrame(Frame& parent, Frame& done, int32_t closeEnd);
  void FinishDefinition(Frame& parent, Frame& done, const TPosition& span);
  void ReadInputs(TAtom*& cursor, TAtom*& head, TAtom*& tail, int32_t& count);
  void WriteFile(int number, std::u16string_view text);
  // Files 04 (dump), 05 and 06 (kind names) of an atom that is no name;
  // returns the dump for the message.
  std::u16string WriteBadNameFiles(const TAtom* name);

  TStructure& S;
  TScannerOptions options_;
  SharedText text_;
  TPosition ownPosition_;
  TPosition* position_;
  bool failed_ = false;
  bool quotesExist_ = true;  // the last scan had quoted texts and comments
  int32_t endBraceDepth_ = 0;  // brace comments open at the end of the last scan
};

enum class ParseAs { Statements, Words };

struct TParseResult {
  bool Ok = false;
  TAtom* List = nullptr;
};

// The one entry through which program text is parsed: turns every line break
// into CR LF, sets the scanner's position record (MakeSourcePos: sourceName,
// the normalised text, startPos, line, kAnyDepth), scans (reporting
// errors unless the caller cleared ScannerErrorsArmed), then parses (ParseTokens (0, true)) or makes words
// (TokensToWords), and clears the tokens on every exit. Language errors propagate; a suppressed raise (current position
// Line -1) still ends the parse with Ok false and no list.
TParseResult ParseText(TScanner& scanner, std::u16string_view text, std::u16string_view sourceName,
                       int32_t startPos = 0, int32_t line = 0, ParseAs as = ParseAs::Statements,
                       bool commentsOff = false);
