#pragma once
// The base primitives: numbers, logic, comparison, type tests, words and
// lists (the exports LOGOSUM ... LOGOMS), and the helpers every primitive
// uses to read its argument cells and report a bad input.
//
// A primitive runs inside its wrapper procedure's frame: its inputs are the
// children of the current frame's owner, the argument cells. Cell 1 holds the
// LAST input as written, cell 2 the one before it, and so on.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Exports.h"

class TAtom;
class TPackedNumber;
class TStructure;
class TInterpreter;

// Enters the base primitives in the interpreter's export registry and seeds
// its random generator from the clock.
void InitLogoLib(TInterpreter& in);
// Enters the flag primitives (SETBIT ... GETBIT).
void InitLogoLibFlags(TInterpreter& in);

// The base library's fput, emptyp, remainder and notequalp (and <>) have
// bodies that call other wrappers (se and list; count and =; /, int, * and
// -; = and not). ComposedBodyKind tells such a body by its statement cells
// (0: none of them). ComposedListRoutine gives the routine a
// call of the procedure with that body may run without a frame, while its
// inputs and those names are still the library's; null otherwise. The
// routine answers what the body would, and counts the statements the
// body's calls would have counted.
uint8_t ComposedBodyKind(const TStructure& s, const TAtom& body);
TPrimitive ComposedListRoutine(TInterpreter& in, const TAtom& procedure, uint8_t bodyKind);

// --- reading inputs -------------------------------------------------------------
// Every read checks that the cell exists: a missing cell raises MISSINGARG
// with the cell number and the primitive's name. Read cells in ascending
// order, so that the number named is that of the first input the call did
// not give. When the raise is suppressed (no current line) a missing cell
// reads as the empty list and the conversions yield their fallbacks.

// The name of an export in messages: without "LOGO", lower case ("sum").
std::u16string PrimitiveName(int32_t ordinal);
// The n-th argument cell (the variable itself); null when it is missing.
// Only for routines that always run in their wrapper's frame.
TAtom* CheckedCell(TStructure& s, int32_t ordinal, int32_t n);
// Whether input n was given (the argument view: the frame's cells or the
// call's operand values); raises MISSINGARG when not.
bool CheckedInput(TStructure& s, int32_t ordinal, int32_t n);
// The value of the n-th cell and its conversions (BADNUMBER, "Not a boolean").
TAtom* CellInput(TStructure& s, int32_t ordinal, int32_t n);
long double NumberInput(TStructure& s, int32_t ordinal, int32_t n);
int32_t IntegerInput(TStructure& s, int32_t ordinal, int32_t n);
bool BooleanInput(TStructure& s, int32_t ordinal, int32_t n);
// A whole number in the 32-bit range, as AsInteger takes it; false after
// raising AsInteger's own error for anything else, so that a primitive can
// stop at once where the raise is suppressed.
bool WholeNumberValue(TStructure& s, const TAtom* value, int32_t& result);

// The fetch helpers of the one- and two-input primitives. Pairs are in
// writing order: First is cell 2, Second is cell 1.
struct TNumberPair {
  long double First;
  long double Second;
};
struct TBooleanPair {
  bool First;
  bool Second;
};
struct TAtomPair {
  TAtom* First;
  TAtom* Second;
};
// Two numbers when the call gave at least two inputs, else one (First);
// Single tells which.
struct TOneOrTwoNumbers {
  long double First;
  long double Second;
  bool Single;
};
TNumberPair FetchTwoNumbers(TStructure& s, int32_t ordinal);
long double FetchOneNumber(TStructure& s, int32_t ordinal);
TOneOrTwoNumbers FetchNumbersForSub(TStructure& s, int32_t ordinal);
TBooleanPair FetchTwoBooleans(TStructure& s, int32_t ordinal);
bool FetchOneBoolean(TStructure& s, int32_t ordinal);
TAtom* FetchOneAtom(TStructure& s, int32_t ordinal);
TAtomPair FetchTwoAtoms(TStructure& s, int32_t ordinal);

// --- errors -------------------------------------------------------------------
// A primitive's own error: the short lower-case key ("bf", "char") is the
// whole message, not looked up in the language texts, and the error's topic.
// Returns the fallback when the raise is suppressed, so a primitive can end
// with `return RaisePrimitiveError(s, u"bf");`.
TAtom* RaisePrimitiveError(TStructure& s, std::u16string_view key, TAtom* fallback = nullptr);

// --- results --------------------------------------------------------------------
// A new number atom. Not-a-number is stored with its sign cleared: the x87
// default NaN is negative, and a result must never read as "-nan".
TAtom* NewNumber(TStructure& s, long double x);  // Atoms.h
inline TAtom* NumberResult(TStructure& s, long double x) {
  if (std::isnan(x)) x = std::fabs(x);
  return NewNumber(s, x);
}
// The atom's printed form (TAtom::ToText's) appended to out, without a text
// of its own (AtomValues.cpp).
void AppendPrintedForm(TStructure& s, const TAtom* a, std::u16string& out);
// A number's printed form (as AppendPrintedForm gives it) written to out,
// which has room for kMaxPrintedNumber units; returns how many it wrote.
constexpr size_t kMaxPrintedNumber = 32;
size_t PrintNumberInto(long double x, char16_t* out);
size_t PrintNumberInto(const TPackedNumber& x, char16_t* out);
