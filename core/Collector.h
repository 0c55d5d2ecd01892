#pragma once
// The collector: a stop-the-world mark and sweep over the live chain of the
// atom pool. It runs between statements, at the end of a program run and at
// the end of a reset, and does work only once enough atoms were allocated
// since its last run (TStructure::CollectorLimits).

class TAtom;
class TInterpreter;
class TStructure;

// Frees the atoms that nothing reaches: the roots are the code pointer, the
// root variable, the Boolean atoms, the values the interpreter holds between
// statements, the kept chain and every pinned atom. A GUI object or memory
// block found unreachable is finalised (and its display list deleted) at
// that collection, even when the sweep's budget leaves the atom itself on
// the chain until a later one. A nested call (from a finaliser) returns at
// once; the collector never pumps messages.
void CollectGarbage(TInterpreter& in);

// Marks the atom and everything reachable from it: child variables, a
// variable's value, list and expression cells with their elements. The walk
// keeps its own stack, so deep or cyclic data cannot overflow the machine's.
void MarkAtom(TStructure& s, TAtom* atom);
