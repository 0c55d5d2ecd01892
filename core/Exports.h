#pragma once
// The program's own exported routines: their names and ordinals (the list
// in Exports.def), and the registry in which each subsystem enters the
// routines it implements when the interpreter is set up. Library files
// reach them through "dll.zavta.NAME" tokens (see ExprBind.cpp).

#include <array>
#include <cstdint>
#include <string_view>

class TAtom;
class TInterpreter;

// An own primitive: runs inside its wrapper procedure's frame, reads its
// inputs from the argument cells and returns one atom (null: the empty
// list).
using TPrimitive = TAtom* (*)(TInterpreter&);

enum ExportOrdinal : int32_t {
#define ZAVTA_EXPORT(ordinal, name) ex##name = ordinal,
#include "core/Exports.def"
#undef ZAVTA_EXPORT
};
constexpr int32_t kExportCount = 242;

// The export's name ("LOGOSUM"); empty for an ordinal outside 1..242.
std::string_view ExportName(int32_t ordinal);
// The ordinal of an export name, compared exactly (callers upper-case it);
// 0 when there is none.
int32_t ExportOrdinalOf(std::u16string_view name);

// Which exports have a routine. An export nobody registered stays unbound:
// binding it is an error, never a stub.
class TExportRegistry {
public:
  // keepsNoCells: the routine never hands on or keeps its argument cells
  // (the variables it reads its inputs from), only their values, and runs
  // no program code; a call through a direct wrapper may then reuse its
  // frame for the wrapper's next call.
  // readsOnlyInputs, a stronger promise: the routine reads its inputs only
  // through the argument view (TStructure::InputValue and its kin), reads
  // no input's name, resolves no names, runs no program code, pumps no
  // messages, changes no floating-point mode (the host, where it calls it,
  // clears the checked modes itself), and changes nothing before it
  // raises. A direct wrapper's call may then run it on the call's operand
  // values without any frame, and run the call again the full way when it
  // raises.
  void Register(int32_t ordinal, TPrimitive routine, bool keepsNoCells = false, bool readsOnlyInputs = false);
  // Null when the ordinal is outside 1..242 or has no routine yet.
  TPrimitive Routine(int32_t ordinal) const;
  bool KeepsNoCells(int32_t ordinal) const;
  bool ReadsOnlyInputs(int32_t ordinal) const;

private:
  std::array<TPrimitive, kExportCount + 1> routines_{};
  std::array<bool, kExportCount + 1> keepsNoCells_{};
  std::array<bool, kExportCount + 1> readsOnlyInputs_{};
};
