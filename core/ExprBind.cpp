// The binding of external-call tokens ("dll.LIBRARY.ROUTINE"). The compiler
// hands each such token to the binder when it compiles the statement; the
// binder finds the routine, enters it once in TInterpreter::Routines and
// answers the opcode and the index to emit: ocPrimitive for the program's own
// exports (library "zavta"), ocNative for a routine of an outside shared
// object. The interpreter loop then calls the routine with no look-up.

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/Expr.h"
#include "core/NativeRoutine.h"
#include "core/Text.h"
#include "core/Trans.h"

namespace {

constexpr std::u16string_view kOwnLibrary = u"zavta";
// The file that holds the own exports, named in the error reports.
constexpr std::u16string_view kOwnModulePath = u"/proc/self/exe";
constexpr std::u16string_view kLibrarySuffix = u".so";

// An external-call token split after its "dll." prefix.
struct TCallName {
  std::u16string Library;
  std::u16string Routine;  // as written; empty when the token has no second period
};

TCallName SplitCallToken(const TStructure& s, const std::u16string& text) {
  const size_t prefixLength = s.Language.KeywordTableUpper[kwDll].size() + 1;
  const std::u16string rest = text.substr(std::min(prefixLength, text.size()));
  const size_t dot = rest.find(u'.');
  if (dot == std::u16string::npos) return {rest, {}};
  return {rest.substr(0, dot), rest.substr(dot + 1)};
}

// With names that are not case-sensitive the scanner has upper-cased the
// whole token, so "zavta" can only be recognised ignoring case.
bool IsOwnLibrary(const TStructure& s, std::u16string_view library) {
  return s.CaseSensitive ? library == kOwnLibrary : SameTextIgnoringCase(library, kOwnLibrary);
}

bool StartsWithDigit(std::u16string_view name) { return !name.empty() && name[0] >= u'0' && name[0] <= u'9'; }

// The ordinal that a routine name spells as a whole decimal number; 0 when it
// is not one or lies past the last export.
int32_t OrdinalOf(std::u16string_view name) {
  int32_t ordinal = 0;
  for (char16_t ch : name) {
    if (ch < u'0' || ch > u'9') return 0;
    ordinal = ordinal * 10 + (ch - u'0');
    if (ordinal > kExportCount) return 0;
  }
  return ordinal;
}

std::u16string WithSuffix(std::u16string text) {
  text += kLibrarySuffix;
  return text;
}

std::u16string CurrentFolderText() {
  std::error_code failed;
  const std::filesystem::path folder = std::filesystem::current_path(failed);
  return failed ? std::u16string() : Utf8ToUtf16(folder.string());
}

std::u16string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? Utf8ToUtf16(value) : std::u16string();
}

// --- errors ------------------------------------------------------------------------

// Writes the parameter files from number 4 on, stores the key and raises.
// A raise suppressed for want of a current line ends the compile all the
// same: nothing may be emitted for a token that did not bind.
[[noreturn]] void RaiseBindError(TStructure& s, std::u16string_view key, std::u16string message,
                                 std::initializer_list<std::u16string_view> files) {
  if (s.CurrentPosition.Line != -1) {
    int number = 4;
    for (std::u16string_view text : files) WriteErrorFile(s, number++, text);
  }
  s.CurrentPosition.Topic = std::u16string(key);
  s.RaiseError(std::move(message), key);
  throw CompileAborted();
}

[[noreturn]] void RaiseLibraryMissing(TStructure& s, const TCallName& name, const std::u16string& loaderErrors,
                                      const TAtom& token) {
  const std::u16string file = WithSuffix(name.Library);
  // The format has a second slot for a detail; the binder has none to give.
  RaiseBindError(
      s, name.Library.empty() ? u"unknown-dll-file-empty" : u"unknown-dll-file",
      s.MessageText(u"UNKNOWNFILE", {file, std::u16string()}),
      {file, CurrentFolderText(), s.ProgramFolder, EnvironmentText("LD_LIBRARY_PATH"), loaderErrors, token.Text});
}

[[noreturn]] void RaiseRoutineEmpty(TStructure& s, const TCallName& name, const std::u16string& modulePath,
                                    const TAtom& token) {
  RaiseBindError(s, u"unknown-dll-function-empty", s.MessageText(u"INMODULE", {std::u16string(), name.Library}),
                 {modulePath, token.Text});
}

[[noreturn]] void RaiseRoutineMissing(TStructure& s, const TCallName& name, const std::u16string& modulePath,
                                      const TAtom& token) {
  const bool byOrdinal = StartsWithDigit(name.Routine);
  RaiseBindError(s, byOrdinal ? u"unknown-dll-function-number" : u"unknown-dll-function",
                 s.MessageText(u"INMODULE", {UpperCase(name.Routine), UpperCase(name.Library)}),
                 {name.Routine, modulePath, token.Text});
}

// --- the program's own exports -----------------------------------------------------

int32_t OwnRoutineIndex(TInterpreter& in, int32_t ordinal, TPrimitive routine) {
  int32_t& slot = in.ExportRoutineIndex[static_cast<size_t>(ordinal)];
  if (slot == 0) {
    in.Routines.emplace_back(routine);
    slot = static_cast<int32_t>(in.Routines.size());
    in.RoutineKeepsNoCells.resize(in.Routines.size(), false);
    in.RoutineKeepsNoCells[static_cast<size_t>(slot - 1)] = in.Exports.KeepsNoCells(ordinal);
    in.FramelessRoutines.resize(in.Routines.size(), nullptr);
    if (in.Exports.ReadsOnlyInputs(ordinal)) in.FramelessRoutines[static_cast<size_t>(slot - 1)] = routine;
  }
  return slot - 1;
}

TBoundRoutine BindOwnExport(TInterpreter& in, const TCallName& name, const TAtom& token) {
  const std::u16string modulePath(kOwnModulePath);
  if (name.Routine.empty()) RaiseRoutineEmpty(in.S, name, modulePath, token);
  const int32_t ordinal =
      StartsWithDigit(name.Routine) ? OrdinalOf(name.Routine) : ExportOrdinalOf(UpperCase(name.Routine));
  const TPrimitive routine = in.Exports.Routine(ordinal);
  if (routine == nullptr) RaiseRoutineMissing(in.S, name, modulePath, token);
  return {ocPrimitive, OwnRoutineIndex(in, ordinal, routine)};
}

// --- outside shared objects ----------------------------------------------------------

bool HoldsNul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

// Loads LIBRARY.so by the loader's search (a bare name never searches the
// current folder), then from the program folder. Null when both fail, with
// the loader's reasons in loaderErrors.
const TLoadedLibrary* LoadOutsideLibrary(TInterpreter& in, const std::u16string& library,
                                         std::u16string& loaderErrors) {
  if (const auto loaded = in.NativeLibraries.find(library); loaded != in.NativeLibraries.end()) return &loaded->second;
  // A NUL would cut the name short and load some other file.
  if (HoldsNul(library)) return nullptr;
  std::vector<std::u16string> paths{WithSuffix(library)};
  if (!in.S.ProgramFolder.empty()) paths.push_back(in.S.ProgramFolder + paths.front());
  for (const std::u16string& path : paths) {
    if (void* handle = dlopen(Utf16ToUtf8(path).c_str(), RTLD_NOW))
      return &(in.NativeLibraries[library] = TLoadedLibrary{handle, path});
    if (!loaderErrors.empty()) loaderErrors += u"\r\n";
    if (const char* reason = dlerror()) loaderErrors += Utf8ToUtf16(reason);
  }
  return nullptr;
}

void* LookUpRoutine(void* handle, const std::u16string& name) {
  if (HoldsNul(name)) return nullptr;
  return dlsym(handle, Utf16ToUtf8(name).c_str());
}

// Whether an outside routine's result may be pushed: null, SystemValue or
// an atom of this state in use. The address is not trusted: the pool judges
// it by its address before anything reads it.
bool IsAtomOfState(const TStructure& s, const TAtom* result) {
  return result == nullptr || result == SystemValue || s.IsPoolAtom(result);
}

TRoutine NativeCall(ZavtaNativeRoutine routine) {
  return [routine](TInterpreter& in) -> TAtom* {
    TAtom* result = routine(&in.S);
    if (IsAtomOfState(in.S, result)) return result;
    in.S.CurrentPosition.Topic = u"native-result";
    in.S.RaiseError(u"native-result", u"native-result");
    return nullptr;  // the raise was suppressed: no result
  };
}

int32_t NativeRoutineIndex(TInterpreter& in, void* address) {
  if (const auto known = in.NativeRoutineIndex.find(address); known != in.NativeRoutineIndex.end())
    return known->second;
  in.Routines.push_back(NativeCall(reinterpret_cast<ZavtaNativeRoutine>(address)));
  const auto index = static_cast<int32_t>(in.Routines.size() - 1);
  in.NativeRoutineIndex.emplace(address, index);
  return index;
}

TBoundRoutine BindOutsideRoutine(TInterpreter& in, const TCallName& name, const TAtom& token) {
  std::u16string loaderErrors;
  const TLoadedLibrary* library = LoadOutsideLibrary(in, name.Library, loaderErrors);
  if (library == nullptr) RaiseLibraryMissing(in.S, name, loaderErrors, token);
  if (name.Routine.empty()) RaiseRoutineEmpty(in.S, name, library->Path, token);
  // Shared objects have no ordinals: a name that begins with a digit never binds.
  void* address = StartsWithDigit(name.Routine) ? nullptr : LookUpRoutine(library->Handle, UpperCase(name.Routine));
  if (address == nullptr) RaiseRoutineMissing(in.S, name, library->Path, token);
  return {ocNative, NativeRoutineIndex(in, address)};
}

TBoundRoutine BindExternal(TInterpreter& in, TAtom& token) {
  const TCallName name = SplitCallToken(in.S, token.Text);
  return IsOwnLibrary(in.S, name.Library) ? BindOwnExport(in, name, token) : BindOutsideRoutine(in, name, token);
}

}  // namespace

void InstallExternalBinding(TInterpreter& in) { in.ExternalBinder = BindExternal; }
