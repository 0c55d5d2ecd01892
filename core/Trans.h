#pragma once
// The interpreter module's shared services: help-text and UTF-16 file
// writing, the program log, text-file reading, the file search, the keyboard
// buffer, OpenGL error printing, internal errors and the search for the
// variable that holds a GUI control. The interpreter itself joins this module
// later.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/Vars.h"

// A file could not be written (folder missing, file locked, disk full).
class FileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --- help texts and UTF-16 files ---------------------------------------------

// Replaces every whole-word occurrence of word (compared in normalised form);
// with normalise set the inserted replacement is normalised too.
void ReplaceWholeWord(TStructure& s, std::u16string& text, std::u16string_view word, std::u16string_view replacement,
                      bool normalise);
// A new value with the word replaced in every word, number, list and
// expression element; other values come back themselves. The input is never
// changed.
TAtom* ReplaceWord(TStructure& s, TAtom* atom, std::u16string_view word, std::u16string_view replacement);
// Replaces every occurrence, searching again from the start after each one.
// With pad: an empty result becomes "&#32;&#32;", a one-character result gets
// a blank appended.
void ReplaceAll(std::u16string& text, std::u16string_view search, std::u16string_view replacement, bool pad);
// The text prepared for the XML help pages.
std::u16string EscapeXml(const TStructure& s, std::u16string_view text, bool pad);
// EscapeXml (padded) into HelpFolder + fileName. Throws FileError.
void WriteHelpSnippet(TStructure& s, std::u16string_view fileName, std::u16string_view text);
// FF FE and the UTF-16LE units of the text, no terminator. Throws FileError.
void WriteUnicodeFile(const std::u16string& fileName, std::u16string_view text);
// One line in the output window, black, not bold.
void PrintToOutput(TStructure& s, const std::u16string& text);

// --- core utilities ---------------------------------------------------------

// Log categories written by the system.
enum LogCategory : uint32_t {
  lcOutput = 1,      // output-window lines
  lcCommand = 2,     // command-window lines
  lcProcedure = 32,  // procedure entry and exit
  lcError = 64,      // reported run-time errors
};
// Log mask option bits.
enum LogOption : uint32_t { loAppend = 0x04, loTime = 0x08, loDate = 0x10 };

void WriteLog(TStructure& s, uint32_t category, std::u16string_view line);
// The file as UTF-16: a file starting FF FE is UTF-16LE less the mark; else
// the bytes up to the first NUL, as UTF-8 when they hold valid non-ASCII
// UTF-8, else widened with the code page. A missing file reads as empty.
std::u16string ReadTextFile(const TStructure& s, const std::u16string& fileName);
// The first existing regular file among the search candidates, as a full
// path; the cleaned name itself when none exists.
std::u16string LocateFile(const TStructure& s, std::u16string_view name);
void AppendKeyToBuffer(TStructure& s, char16_t ch);
// Prints the message and a "begin-end=%d" line.
void PrintGLError(TStructure& s, const std::u16string& message);
// Writes the tag as "$$$error-04$$$.txt", sets the topic "internal-error" and
// raises the system-error text followed by the tag.
void RaiseInternalError(TStructure& s, std::u16string_view tag);
// Depth-first from the root, a variable before its children, children newest
// first: the first variable whose value wraps exactly the control.
TAtom* FindVariableByControl(TStructure& s, const WrappedObject* control);

// True when a regular file (not a directory) exists at the path.
bool FileExists(const std::u16string& path);

// --- the interpreter object ----------------------------------------------------

class TScanner;
struct TCompilerState;

// A routine bound to an external-call ("dll.") token: the opcode to emit
// (ocPrimitive for the program's own exports, ocNative for outside
// libraries) and the index of the routine in the bound-routine table.
struct TBoundRoutine {
  int32_t OpCode;
  int32_t Index;
};
class TInterpreter;
// Binds a "dll." token when its statement is compiled, or raises.
using TExternalBinder = std::function<TBoundRoutine(TInterpreter&, TAtom& token)>;

// The per-process execution state that sits beside the interpreter state:
// the statement cursor, the interpreter's own scanner and the compiler's
// module state. The run entries, the interpreter loop and the procedure
// calls extend it.
class TInterpreter {
public:
  explicit TInterpreter(TStructure& s);
  ~TInterpreter();
  TInterpreter(const TInterpreter&) = delete;
  TInterpreter& operator=(const TInterpreter&) = delete;

  TStructure& S;
  TAtom* CodePointer = nullptr;      // the current statement cell; null at the end
  TAtom* CurrentCodeAtom = nullptr;  // the statement cell being compiled
  TScanner& Scanner() { return *scanner_; }
  TCompilerState& Compiler() { return *compiler_; }
  TExternalBinder ExternalBinder;  // empty until the external-call binding is installed

  // --- statement cursor ---------------------------------------------------------
  // Moves CodePointer to the next cell (no-op at the end).
  void NextStatement();
  // The element of the current cell; null at the end.
  TAtom* CurrentStatement() const;
  // 0 no cell, 1 the word ",", 2 a number or other word, 3 an expression,
  // 4 a cell without element, 5 any other kind.
  int StatementKind() const;

private:
  std::unique_ptr<TScanner> scanner_;
  std::unique_ptr<TCompilerState> compiler_;
};
