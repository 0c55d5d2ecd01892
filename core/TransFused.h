#pragma once
// The fused MAKE steps (TFusedMake): the pieces the interpreter's short way
// and the steps' plans (TransFused.cpp) share.

#include <cmath>
#include <cstdint>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/Trans.h"

// A number atom's value, or a word's already read as a number.
inline bool ReadNumber(const TAtom* atom, long double& x) {
  if (!IsAtom(atom) || (atom->Kind != akNumber && (atom->Kind != akWord || (atom->Marks & amNumberRead) == 0)))
    return false;
  x = atom->Number;
  return true;
}

// The number routines a fused step computes itself.
enum FusedOperation : int { kFusedSum, kFusedDifference, kFusedProduct };

inline bool FusedOperationOf(const TInterpreter& in, int32_t routine, FusedOperation& operation) {
  const int32_t slot = routine + 1;
  if (slot == in.ExportRoutineIndex[exLOGOSUM])
    operation = kFusedSum;
  else if (slot == in.ExportRoutineIndex[exLOGOSUB])
    operation = kFusedDifference;
  else if (slot == in.ExportRoutineIndex[exLOGOMUL])
    operation = kFusedProduct;
  else
    return false;
  return true;
}

// As the routines compute: input 2 and input 1 in that order, a NaN
// without its sign (NumberResult).
inline long double ApplyFused(FusedOperation operation, long double first, long double second) {
  long double result = operation == kFusedSum ? first + second : operation == kFusedDifference ? first - second
                                                                                                : first * second;
  if (std::isnan(result)) result = std::fabs(result);
  return result;
}

// Leaves the interpreter's depth as a statement's code words would see it
// while a fused step runs a routine.
class TFusedDepth {
public:
  explicit TFusedDepth(TInterpreter& in) : in_(in) { ++in_.InterpretDepth; }
  ~TFusedDepth() { --in_.InterpretDepth; }
  TFusedDepth(const TFusedDepth&) = delete;
  TFusedDepth& operator=(const TFusedDepth&) = delete;

private:
  TInterpreter& in_;
};

// A number atom made by this fused step (allocated after its serial
// stepStamp): only the step's own values hold it, since the routines that
// made or passed it on keep nothing, so it may take a new value.
inline TAtom* OwnFreshNumber(TAtom* value, uint64_t stepStamp) {
  return IsAtom(value) && value->Kind == akNumber && value->Stamp > stepStamp && value->RefCount == 0 &&
                 value->Parent == nullptr && !value->Ext
             ? value
             : nullptr;
}
