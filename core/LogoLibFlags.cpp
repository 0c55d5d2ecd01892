// The flag primitives: SETBIT, CLEARBIT, SETBITALL, CLEARBITALL and GETBIT
// set, clear and test the bits of named variables, alone or over their
// whole subtree. SETBITALL also takes every atom carrying one of its bits off
// the live chain for good (the kept chain), where nothing recycles it.

#include "core/LogoLib.h"
#include "core/Trans.h"

namespace {

enum class FlagScope { Variable, Tree };

// The variable a name input names; null when it is not a word or number or
// resolves to nothing.
TAtom* NamedVariable(TStructure& s, const TAtom* name) {
  if (!TAtom::IsWordOrNumber(name)) return nullptr;
  return s.FindName(TAtom::AsString(s, name));
}

// Moves every live atom that carries one of the bits to the kept chain in
// one walk. Kept atoms still count as live.
void KeepFlaggedAtoms(TStructure& s, uint32_t bits) {
  TAtom** link = &s.LiveAtoms;
  while (TAtom* atom = *link) {
    if ((atom->Flags & bits) != 0) {
      *link = atom->Chain;
      atom->Chain = s.KeptAtoms;
      atom->OnChain = AtomChain::Kept;
      s.KeptAtoms = atom;
    } else {
      link = &atom->Chain;
    }
  }
}

void ApplyFlags(TStructure& s, TAtom* variable, uint32_t bits, bool on, FlagScope scope) {
  if (scope == FlagScope::Tree)
    TAtom::FlagTree(s, variable, bits, on);
  else
    TAtom::SetFlag(variable, bits, on);
}

// The four setting and clearing primitives: cell 1 the mask, cell 2 a name
// or a non-empty list of names. Where an error is not raised (no current
// line) the primitive ends at once with no result.
TAtom* ChangeFlags(TInterpreter& in, int32_t ordinal, bool on, FlagScope scope) {
  TStructure& s = in.S;
  const int32_t mask = IntegerInput(s, ordinal, 1);
  if (mask < 1) return RaisePrimitiveError(s, u"setbit");
  const uint32_t bits = static_cast<uint32_t>(mask);
  TAtom* names = CellInput(s, ordinal, 2);
  if (names == nullptr) return RaisePrimitiveError(s, u"setbit");
  if (names != SystemValue && names->Kind == akList) {
    for (TAtom* cell = names; cell != nullptr; cell = cell->Right) {
      TAtom* variable = NamedVariable(s, cell->Left);
      if (variable == nullptr) return RaisePrimitiveError(s, u"setbit");
      ApplyFlags(s, variable, bits, on, scope);
    }
  } else {
    TAtom* variable = NamedVariable(s, names);
    if (variable == nullptr) return RaisePrimitiveError(s, u"setbit");
    ApplyFlags(s, variable, bits, on, scope);
  }
  if (on && scope == FlagScope::Tree) KeepFlaggedAtoms(s, bits);
  // Hiding or showing an object takes effect at once.
  if (bits == afNotDrawn) RedrawScene(in);
  return nullptr;
}

TAtom* SetBit(TInterpreter& in) { return ChangeFlags(in, exSETBIT, true, FlagScope::Variable); }
TAtom* ClearBit(TInterpreter& in) { return ChangeFlags(in, exCLEARBIT, false, FlagScope::Variable); }
TAtom* SetBitAll(TInterpreter& in) { return ChangeFlags(in, exSETBITALL, true, FlagScope::Tree); }
TAtom* ClearBitAll(TInterpreter& in) { return ChangeFlags(in, exCLEARBITALL, false, FlagScope::Tree); }

TAtom* GetBit(TInterpreter& in) {
  TStructure& s = in.S;
  const int32_t mask = IntegerInput(s, exGETBIT, 1);
  if (mask < 1) return RaisePrimitiveError(s, u"getbit");
  TAtom* variable = NamedVariable(s, CellInput(s, exGETBIT, 2));
  if (variable == nullptr) return RaisePrimitiveError(s, u"getbit");
  return NewBoolean(s, TAtom::HasFlag(variable, static_cast<uint32_t>(mask)));
}

}  // namespace

void InitLogoLibFlags(TInterpreter& in) {
  // They keep no argument cell; the named variables are found, not kept.
  in.Exports.Register(exSETBIT, SetBit, true);
  in.Exports.Register(exCLEARBIT, ClearBit, true);
  in.Exports.Register(exSETBITALL, SetBitAll, true);
  in.Exports.Register(exCLEARBITALL, ClearBitAll, true);
  in.Exports.Register(exGETBIT, GetBit, true);
}
