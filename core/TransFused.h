#pragma once
// The fused MAKE steps (TFusedMake): the pieces the interpreter's short way
// and the steps' plans (TransFused.cpp) share.

#include <cmath>
#include <array>
#include <cstdint>
#include <vector>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/Expr.h"
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
  long double result = operation == kFusedSum          ? first + second
                       : operation == kFusedDifference ? first - second
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

// What a fused MAKE leaves once it ran: no result, no stop, the range of
// its last code word.
inline void EndFusedMake(TInterpreter& in, const TFusedMake& make) {
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  if (make.FinalStart != kNoSpan) {
    in.S.CurrentPosition.StartPos = make.FinalStart;
    in.S.CurrentPosition.EndPos = make.FinalEnd;
  }
}

// A number routine's result that the step computes as the routine would,
// into an input the step made itself where there is one.
inline TAtom* ComputeFused(TStructure& s, FusedOperation operation, long double first, long double second,
                           const TStackEntry* inputs, uint64_t stepStamp) {
  PrepareOwnArithmetic(s);
  const long double number = ApplyFused(operation, first, second);
  TAtom* result = OwnFreshNumber(inputs[0].Value, stepStamp);
  if (result == nullptr) result = OwnFreshNumber(inputs[1].Value, stepStamp);
  if (result == nullptr) return NewNumber(s, number);
  result->Number = number;
  return result;
}

// The atom of a code word's identity as AtomById gives it, through the
// pool slot found the first time: a slot holds the atoms of one identity
// for the pool's life, so only whether it is in use can have changed.
TAtom* FillAtomSlot(const TStructure& s, TAtom*& slot, int32_t identity);
[[gnu::always_inline]] inline TAtom* AtomThroughSlot(const TStructure& s, TAtom*& slot, int32_t identity) {
  if (slot == nullptr) [[unlikely]]
    return FillAtomSlot(s, slot, identity);
  return slot == SystemValue || slot->OnChain != AtomChain::Free ? slot : nullptr;
}

// The range a statement of fused MAKEs ends with once they all ran.
inline void EndFusedStatement(TInterpreter& in, const TFastCode& fast) {
  if (fast.FusedEndStart != kNoSpan) {
    in.S.CurrentPosition.StartPos = fast.FusedEndStart;
    in.S.CurrentPosition.EndPos = fast.FusedEndEnd;
  }
}

// A procedure's value past its input and local name lists.
[[gnu::always_inline]] inline const TAtom* BodyOfValue(const TAtom* value) {
  const TAtom* cell = value;
  for (int skipped = 0; skipped < 2 && IsAtom(cell) && cell->Kind == akList && TAtom::IsList(cell->Left); ++skipped)
    cell = cell->Right;
  return cell;
}

// --- plans ------------------------------------------------------------------------
// A statement made only of fused MAKEs, none of them Numeric, with every
// name it reads, stores into or calls resolved once at the root, where a
// name's answer stands while the name generation does (the tokens' memos
// say so). Each run then checks what can change without moving that
// generation (the variables' values and flags, the procedures' bodies, the
// pump cadence, logging, the topic) and does what the superinstructions
// would do, or declines before the first effect of a MAKE.
// A range as a TStackEntry or TPosition holds it (StartPos, then EndPos).
struct TPlannedRange {
  int32_t Start = kNoSpan;
  int32_t End = kNoSpan;
};
enum class TPlannedKind : uint8_t { kLiteral, kNone, kRead, kCounter, kCall };
struct TPlannedValue {
  TPlannedKind Kind = TPlannedKind::kLiteral;  // kNone: the literal SystemValue
  bool WhileCounter = false;                   // kCounter: WHILE's, else REPEAT's
  bool Arithmetic = false;                     // kCall: a number routine computed on two numbers (Operation)
  bool NewRange = false;                       // the op gave Range
  FusedOperation Operation = kFusedSum;
  TPlannedRange Range;    // the range current after the op's marker;
                          // Start kNoSpan: the one the MAKE began with
  TAtom* Atom = nullptr;  // the literal, the variable read, the procedure called
  // kCall: the procedure's value and its body's statement as they were
  // planned (that atom life, that code), the routine's number and line.
  const TAtom* Value = nullptr;
  const TAtom* Body = nullptr;
  uint64_t BodyStamp = 0;
  uint32_t BodyCode = 0;
  int32_t Routine = -1;
  int32_t Line = -1;
  int32_t Inputs = 0;
  // The routine's entry in TInterpreter::FramelessRoutines, which is set
  // once, when the routine gets its number, and only grows.
  TPrimitive Frameless = nullptr;
};
struct TPlannedMake {
  TAtom* Variable = nullptr;  // the store's target
  uint32_t FirstValue = 0;    // its values in TFusedStatementPlan::Values
  uint32_t ValueCount = 0;
  uint32_t Calls = 0;  // kCall values among them
};
// The name generation of a plan that could not be made: none stands.
constexpr uint64_t kNoNameGeneration = UINT64_MAX;
struct TFusedStatementPlan {
  // Valid while these stand and the frame's owner is the root; Makes is
  // empty only with kNoNameGeneration.
  uint64_t NameGeneration = kNoNameGeneration;
  const TAtom* Root = nullptr;
  bool CaseSensitive = true;
  uint32_t Keywords = 0;
  std::vector<TPlannedMake> Makes;
  std::vector<TPlannedValue> Values;
  // The range the statement ends with once they all ran (EndFusedMake of
  // the last, then EndFusedStatement; Start kNoSpan: as the MAKEs left it),
  // and whether its next statement's identity is one no atom ever has.
  TPlannedRange EndRange;
  bool EndsList = false;
  uint32_t BodyStatements = 0;  // the wrapper body statements its calls count
  uint32_t Misses = 0;         // plans that could not be made, in a row
  mutable uint32_t Waits = 0;  // runs since the last try
};

// Interpret of a statement with a plan (made only for a statement of fused
// MAKEs): its MAKEs run by the plan, from the first, each with all its
// effects; the one that would decline runs none of them, nor does any when
// the plan no longer stands, and InterpretPastPlan goes on from there.
TAtom* RunPlannedStatement(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet);
// Whether the plan stands: what can change its names' answers has not moved.
// The part that holds for every plan while the frame's owner is the root
// and there is no module list (PlanRootStands) is tested apart by a round
// of plans.
inline bool PlanRootStands(const TStructure& s) { return s.Frame()->Owner == s.Root && s.ModuleList == nullptr; }
inline bool PlanNamesStand(const TStructure& s, const TFusedStatementPlan& plan) {
  return plan.NameGeneration == s.NameGeneration && plan.Root == s.Root && plan.CaseSensitive == s.CaseSensitive &&
         plan.Keywords == s.KeywordGeneration;
}
inline bool PlanStands(const TStructure& s, const TFusedStatementPlan& plan) {
  return PlanNamesStand(s, plan) && PlanRootStands(s);
}
// --- rounds of plans ---
// A loop's round list whose every statement is one of fused MAKEs with a
// plan (at most kMaxPlannedRound of them), found once for the loop
// (PlanRound) and checked again as each round runs (RunPlannedRound).
constexpr size_t kMaxPlannedRound = 8;
// Only the first Count of a round's are set: a loop's round starts unset.
struct TPlannedRoundStatement {
  TAtom* Cell;
  const TFastCode* Fast;            // the cell's code when planned
  const TFusedStatementPlan* Plan;  // its plan then, with these:
  uint32_t BodyStatements;
  uint32_t Makes;
};
struct TPlannedRound {
  std::array<TPlannedRoundStatement, kMaxPlannedRound> Statements;
  uint32_t Count = 0;    // 0: no round of plans
  uint32_t Counted = 0;  // the statements a round counts: each one's own and its calls' bodies
  uint32_t Misses = 0;   // PlanRound's misses in a row
  // Whether the round's statements change nothing its checks read: every
  // call's routine changes no atom and no store goes into a procedure
  // called (PlanRound).
  bool MaySettle = false;
  // The last round ran wholly by the plans, each store a plain one, and
  // nothing ran after it (no pump, no history handler, no redraw); the
  // statement count and pump serial then. The next round that finds both
  // unchanged skips the checks nothing since could have changed
  // (RunPlannedRound).
  bool Settled = false;
  uint32_t SettledStatements = 0;
  uint32_t SettledPumps = 0;
};
// Fills the round from the list's statements; false where not every one
// of them is a planned statement that stands now.
bool PlanRound(const TInterpreter& in, TAtom* list, TPlannedRound& round);
// The rounds of a REPEAT (RunRepeat's): how many are left with the one
// running, and its count; List the round list.
struct TRepeatRounds {
  int64_t& Left;
  int64_t& Iteration;
  TAtom* List;
};
// Runs the round's statements by their plans while they stand, as the
// round loop runs them (RunStatementShortWay), from the first on, and
// leaves the code pointer on the statement where the round loop goes on.
// False: a stop was asked for and the round ends. Forgets the round
// (Count 0) where the list or a statement's code changed. Once a round
// settled, goes on with the REPEAT's next rounds (more, when not null)
// while nothing the loop does between two rounds can be seen.
bool RunPlannedRound(TInterpreter& in, TPlannedRound& round, TAtom*& running, TRepeatRounds* more);

// InterpretFastCode past a plan that did not run the whole statement (its
// first planned MAKEs ran, planStands: it stood; TransInterpret.cpp).
TAtom* InterpretPastPlan(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet, size_t planned,
                         bool planStands);
// Makes or renews the statement's plan, just after its fused MAKEs all ran
// the ordinary way without one that stands; where one of them cannot be
// planned, an empty plan that counts the misses.
void PlanFusedStatement(TInterpreter& in, const TFastCode& fast, const std::vector<int32_t>& code);
// A plan that could not be made is tried again only now and then.
constexpr uint32_t kPlanRetryInterval = 64;
inline bool WorthPlanning(const TFastCode& fast) {
  const TFusedStatementPlan* plan = fast.Plan.get();
  return plan == nullptr || plan->Misses == 0 || ++plan->Waits % kPlanRetryInterval == 0;
}

// The procedure a foCall of a fused MAKE finds now and the direct wrapper
// routine it calls without a frame (the op's memos then describe its
// body); null where the call would not be frameless now (TransInterpret.cpp).
TAtom* FramelessWrapperOf(TInterpreter& in, const TFastOp& op, const std::vector<int32_t>& code, int32_t& routine,
                          int32_t& line, int32_t& inputs);
