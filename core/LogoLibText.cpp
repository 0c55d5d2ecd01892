// The log, file-text, text-to-list, shell and scope primitives.
//
// Like the base primitives they read their inputs from the argument cells of
// the wrapper's frame (cell 1 is the last input as written); the shell
// primitive reads its wrapper's locals by name instead. When a raise is
// suppressed (no current line) a primitive ends at once with no result: it
// never goes on to touch a file, start a process or run instructions with
// a fallback input.

#include "core/LogoLibText.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/Host.h"
#include "core/Lexem.h"
#include "core/LogoLib.h"
#include "core/Shell.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"

namespace fs = std::filesystem;

namespace {

// --- inputs that stop the primitive when they are bad ----------------------------

// The text of a word or number input; false (after raising) for any other
// value or a missing cell.
bool TextInput(TStructure& s, int32_t ordinal, int32_t n, std::u16string& text) {
  const TAtom* cell = CheckedCell(s, ordinal, n);
  if (cell == nullptr) return false;
  if (!TAtom::IsWordOrNumber(cell->Left)) {
    TAtom::AsString(s, cell->Left);  // raises the conversion's error
    return false;
  }
  text = TAtom::AsString(s, cell->Left);
  return true;
}

// A 32-bit integer input; false (after raising) for anything else.
bool WholeNumberInput(TStructure& s, int32_t ordinal, int32_t n, int32_t& value) {
  const TAtom* cell = CheckedCell(s, ordinal, n);
  return cell != nullptr && WholeNumberValue(s, cell->Left, value);
}

// --- the program log ----------------------------------------------------------------

TAtom* OpenLog(TInterpreter& in) {
  TStructure& s = in.S;
  std::u16string fileName;
  int32_t mask = 0;
  if (!TextInput(s, exLOGOOPENLOG, 1, fileName) || !WholeNumberInput(s, exLOGOOPENLOG, 2, mask)) return nullptr;
  if (!s.Log.Open(fileName, static_cast<uint32_t>(mask))) return RaisePrimitiveError(s, u"openlog");
  return nullptr;
}

TAtom* CloseLog(TInterpreter& in) {
  in.S.Log.Close();
  return nullptr;
}

// One input: sets the mask and answers the old one. Two: writes the printed
// thing under the level as its category.
TAtom* WriteLogOrSetMask(TInterpreter& in) {
  TStructure& s = in.S;
  if (s.CellCount() >= 2) {
    const TAtom* thing = CheckedCell(s, exLOGOWRITELOG, 1);
    int32_t level = 0;
    if (thing == nullptr || !WholeNumberInput(s, exLOGOWRITELOG, 2, level)) return nullptr;
    if (s.Log.LogFileOpen) WriteLog(s, static_cast<uint32_t>(level), TAtom::ToText(s, thing->Left));
    return nullptr;
  }
  int32_t mask = 0;
  if (!WholeNumberInput(s, exLOGOWRITELOG, 1, mask)) return nullptr;
  const int32_t old = static_cast<int32_t>(s.Log.LogMask);
  s.Log.LogMask = static_cast<uint32_t>(mask);
  return NumberResult(s, old);
}

// --- whole text files ---------------------------------------------------------------

enum class FileState { Missing, Readable, Unreadable };

FileState StateOf(const std::u16string& fileName) {
  const fs::path path(Utf16ToUtf8(fileName));
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return FileState::Missing;
  if (ec || status.type() != fs::file_type::regular) return FileState::Unreadable;
  const std::ifstream probe(path, std::ios::binary);
  return probe ? FileState::Readable : FileState::Unreadable;
}

// Whether ReadTextFile gives these 8-bit bytes back as the characters they
// were made from: it stops at a NUL, takes FF FE for UTF-16 and reads valid
// non-ASCII UTF-8 as UTF-8.
bool ReadsBackAsWritten(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return false;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE)
    return false;
  bool ascii = true;
  for (const char c : bytes) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  return ascii || !IsValidUtf8(bytes);
}

bool WriteWholeFile(const std::u16string& fileName, std::string_view bytes) {
  std::FILE* file = std::fopen(Utf16ToUtf8(fileName).c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The printed thing without a pair of enclosing brackets.
std::u16string FileText(TStructure& s, const TAtom* thing) {
  std::u16string text = TAtom::ToText(s, thing);
  if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') text = text.substr(1, text.size() - 2);
  return text;
}

TAtom* WriteFile(TInterpreter& in) {
  TStructure& s = in.S;
  const TAtom* thing = CheckedCell(s, exLOGOWRITEFILE, 1);
  std::u16string fileName;
  if (thing == nullptr || !TextInput(s, exLOGOWRITEFILE, 2, fileName)) return nullptr;
  if (!WriteWholeFile(fileName, FileBytes(s, FileText(s, thing->Left)))) return RaisePrimitiveError(s, u"writefile");
  return nullptr;
}

TAtom* ReadTextFileWord(TInterpreter& in) {
  TStructure& s = in.S;
  std::u16string fileName;
  if (!TextInput(s, exLOGOREADTEXTFILE, 1, fileName)) return nullptr;
  switch (StateOf(fileName)) {
    case FileState::Missing:
      return NewWord(s, u"");
    case FileState::Unreadable:
      return nullptr;
    case FileState::Readable:
      break;
  }
  return NewWord(s, ReadTextFile(s, fileName));
}

// --- text to lists ------------------------------------------------------------------

// The text scanned and parsed as program text (or cut into words); scanner
// and parser errors are raised as for a program. The empty list when a
// raise was suppressed.
TAtom* ParsedList(TInterpreter& in, std::u16string_view text, ParseAs as) {
  // The scanner's position record belongs to whatever parse the running
  // statement came from.
  const RestoreOnExit<TPosition> keepParsePosition(in.S.ParsePosition);
  in.Scanner().ScannerErrorsArmed = true;
  const bool commentsOff = as == ParseAs::Words;
  const TParseResult parsed = ParseText(in.Scanner(), text, u"", 0, 0, as, commentsOff);
  return parsed.Ok ? parsed.List : nullptr;
}

TAtom* ReadFileList(TInterpreter& in) {
  TStructure& s = in.S;
  std::u16string fileName;
  if (!TextInput(s, exLOGOREADFILE, 1, fileName)) return nullptr;
  if (StateOf(fileName) != FileState::Readable) return nullptr;
  return ParsedList(in, ReadTextFile(s, fileName), ParseAs::Statements);
}

TAtom* ConvertList(TInterpreter& in) {
  std::u16string text;
  if (!TextInput(in.S, exLOGOCONVERTLIST, 1, text)) return nullptr;
  return ParsedList(in, text, ParseAs::Statements);
}

TAtom* ConvertFlatList(TInterpreter& in) {
  std::u16string text;
  if (!TextInput(in.S, exLOGOCONVERTFLATLIST, 1, text)) return nullptr;
  return ParsedList(in, text, ParseAs::Words);
}

TAtom* ExpressionP(TInterpreter& in) {
  TStructure& s = in.S;
  const TAtom* cell = CheckedCell(s, exLOGOEXPRP, 1);
  if (cell == nullptr) return nullptr;
  return NewBoolean(s, TAtom::IsExpression(cell->Left) && cell->FirstChild == nullptr);
}

// --- the shell ----------------------------------------------------------------------

// The text of a local of the wrapper; "" when it is missing or has no value.
// False (after raising) when its value is no word or number.
bool LocalText(TStructure& s, std::u16string_view name, std::u16string& text) {
  const TAtom* local = s.FindLocal(name);
  text.clear();
  if (local == nullptr || local->Left == nullptr) return true;
  if (!TAtom::IsWordOrNumber(local->Left)) {
    TAtom::AsString(s, local->Left);  // raises the conversion's error
    return false;
  }
  text = TAtom::AsString(s, local->Left);
  return true;
}

TAtom* Shell(TInterpreter& in) {
  TStructure& s = in.S;
  std::u16string fileName;
  std::u16string parameters;
  std::u16string folder;
  if (!LocalText(s, u"filename", fileName)) return nullptr;
  if (fileName.empty()) return RaisePrimitiveError(s, u"shell");
  if (!LocalText(s, u"parameters", parameters) || !LocalText(s, u"directory", folder)) return nullptr;
  const TShellCommand command = ShellCommandFor(fileName, parameters, folder);
  // The outcome is not examined: a program that cannot start is no error
  // of the running program.
  static_cast<void>(in.host().startDetached(command.Program, command.Arguments, command.Folder));
  return nullptr;
}

// --- ASK and CALLER -------------------------------------------------------------------

// An outer scope pushed on the module list for a scope.
class PushedModule {
public:
  PushedModule(TStructure& s, TAtom* scope) : s_(s) {
    s_.PushModule(scope);
    cell_ = s_.ModuleList;
  }
  ~PushedModule() {
    if (s_.ModuleList == cell_) s_.PopModule();
  }
  PushedModule(const PushedModule&) = delete;
  PushedModule& operator=(const PushedModule&) = delete;

private:
  TStructure& s_;
  TAtom* cell_;
};

// Runs the instructions with the object as the innermost scope: the
// object's members and ancestors first, then the calling procedure's
// frame, then the globals. Every frame and the module entry are left again
// however the instructions end, so a handler that absorbs an error finds
// its procedure's own frame.
TAtom* Ask(TInterpreter& in) {
  TStructure& s = in.S;
  TAtom* instructionsCell = CheckedCell(s, exLOGOASK, 1);
  TAtom* objectCell = instructionsCell != nullptr ? CheckedCell(s, exLOGOASK, 2) : nullptr;
  if (objectCell == nullptr) return nullptr;
  TAtom* const instructions = instructionsCell->Left;
  const TContext* const own = s.Frame();
  TAtom* const callerOwner = own != nullptr && own->Parent != nullptr ? own->Parent->Owner : nullptr;
  if (!TAtom::IsList(instructions) || !IsAtom(callerOwner)) return RaisePrimitiveError(s, u"ask");

  const EnteredFrame callerFrame(s, callerOwner);
  TAtom* object = objectCell;
  if (TAtom::IsWordOrNumber(objectCell->Left)) {
    object = s.FindName(TAtom::AsString(s, objectCell->Left));
    if (object == nullptr) return RaisePrimitiveError(s, u"ask");
  }
  const PushedModule callerScope(s, callerOwner);
  const EnteredFrame objectFrame(s, object);
  if (instructions == nullptr) return nullptr;

  const CodePointerKeeper codePointer(in);
  const PinnedAtom pinInstructions(instructions);
  in.CodePointer = instructions;
  RunCode(in);
  return in.LastValue;
}

// The full name of the owner of the frame n levels above the caller of the
// wrapper; nothing when there are not that many.
TAtom* Caller(TInterpreter& in) {
  TStructure& s = in.S;
  int32_t levels = 1;
  if (s.CellCount() > 0 && !WholeNumberInput(s, exLOGOCALLER, 1, levels)) return nullptr;
  const TContext* frame = s.Frame() != nullptr ? s.Frame()->Parent : nullptr;
  for (int32_t i = 0; i < levels && frame != nullptr; ++i) frame = frame->Parent;
  if (frame == nullptr || !IsAtom(frame->Owner)) return nullptr;
  return NewWord(s, TAtom::FullName(frame->Owner));
}

}  // namespace

std::string FileBytes(const TStructure& s, std::u16string_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  bool fits = true;
  for (const char16_t ch : text) {
    uint8_t byte = 0;
    if (!CharToCodePage(ch, s.Language.CodePage, byte)) {
      fits = false;
      break;
    }
    narrow.push_back(static_cast<char>(byte));
  }
  if (fits && ReadsBackAsWritten(narrow)) return narrow;
  std::string wide = "\xFF\xFE";
  wide.reserve(2 + 2 * text.size());
  for (const char16_t ch : text) {
    wide.push_back(static_cast<char>(ch & 0xFF));
    wide.push_back(static_cast<char>(ch >> 8));
  }
  return wide;
}

void InitLogoLibText(TInterpreter& in) {
  // These keep no argument cell and run no program code.
  constexpr bool keepsNoCells = true;
  in.Exports.Register(exLOGOOPENLOG, &OpenLog, keepsNoCells);
  in.Exports.Register(exLOGOCLOSELOG, &CloseLog, keepsNoCells);
  in.Exports.Register(exLOGOWRITELOG, &WriteLogOrSetMask, keepsNoCells);
  in.Exports.Register(exLOGOWRITEFILE, &WriteFile, keepsNoCells);
  in.Exports.Register(exLOGOREADTEXTFILE, &ReadTextFileWord, keepsNoCells);
  in.Exports.Register(exLOGOREADFILE, &ReadFileList, keepsNoCells);
  in.Exports.Register(exLOGOCONVERTLIST, &ConvertList, keepsNoCells);
  in.Exports.Register(exLOGOCONVERTFLATLIST, &ConvertFlatList, keepsNoCells);
  in.Exports.Register(exLOGOEXPRP, &ExpressionP, keepsNoCells);
  in.Exports.Register(exSYSSHELL, &Shell, keepsNoCells);
  // ASK runs instructions in frames of its own; CALLER looks at the frames
  // of the running calls.
  in.Exports.Register(exLOGOASK, &Ask);
  in.Exports.Register(exLOGOCALLER, &Caller);
}
