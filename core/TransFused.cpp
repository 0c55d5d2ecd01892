// The plans of statements made only of fused MAKEs (TFusedStatementPlan):
// made once the statement has run them the ordinary way, then checked and
// followed on every run while they stand.

#include "core/TransFused.h"

#include <memory>

#include "core/LogoLib.h"
#include "core/TransStatement.h"

namespace {

// The token's name answer at the root, which stands while the name
// generation does (TStructure::FindNameOfToken remembered it there).
bool AnsweredAtRoot(const TStructure& s, const TAtom* token, const TAtom* found) {
  const TAtom::Extension* memo = IsAtom(token) ? token->Ext.get() : nullptr;
  return memo != nullptr && found != nullptr && memo->SiteGeneration == s.NameGeneration && memo->SiteAtRoot &&
         memo->SiteAnswer == found;
}

// One value op of a fused MAKE as planned; depth counts the values held.
bool PlanValue(TInterpreter& in, const TFastOp& op, const std::vector<int32_t>& code, size_t& depth,
               TPlannedValue& value) {
  TStructure& s = in.S;
  switch (op.Kind) {
    case foPush:
    case foQuote:
      value.Kind = TPlannedKind::kLiteral;
      value.Atom = s.AtomById(static_cast<uint32_t>(op.Operand));
      if (value.Atom == nullptr) return false;  // the empty list: found again each time
      if (value.Atom == SystemValue) value.Kind = TPlannedKind::kNone;
      break;
    case foValueOf: {
      TAtom* name = s.AtomById(static_cast<uint32_t>(op.Operand));
      if (!TAtom::IsWord(name)) return false;
      value.Kind = TPlannedKind::kRead;
      value.Atom = s.FindNameOfToken(*name);
      if (!AnsweredAtRoot(s, name, value.Atom)) return false;
      break;
    }
    case foCounter:
      value.Kind = TPlannedKind::kCounter;
      value.WhileCounter = op.Operand == 1;
      break;
    case foCall: {
      TAtom* procedure = FramelessWrapperOf(in, op, code, value.Routine, value.Line, value.Inputs);
      if (procedure == nullptr || !AnsweredAtRoot(s, op.SiteName, procedure) ||
          static_cast<size_t>(value.Inputs) > depth)
        return false;
      const size_t index = static_cast<size_t>(value.Routine);
      value.Frameless = index < in.FramelessRoutines.size() ? in.FramelessRoutines[index] : nullptr;
      if (value.Frameless == nullptr) return false;
      value.Kind = TPlannedKind::kCall;
      value.Atom = procedure;
      value.Value = procedure->Left;
      // The look-up just read the body into the op's memo.
      value.Body = op.Body;
      value.BodyStamp = op.BodyStamp;
      value.BodyCode = op.BodyCode;
      value.Arithmetic = value.Inputs == 2 && FusedOperationOf(in, value.Routine, value.Operation);
      depth -= static_cast<size_t>(value.Inputs);
      break;
    }
    default:
      return false;
  }
  ++depth;
  return true;
}

// The plan of one fused MAKE, its values appended to the plan's.
bool PlanMake(TInterpreter& in, const TFastCode& fast, const TFusedMake& make, const std::vector<int32_t>& code,
              TFusedStatementPlan& plan) {
  TStructure& s = in.S;
  if (make.Numeric) return false;  // its own way reuses its number atom
  const TFastOp* ops = fast.Ops.data() + make.FirstOp;
  const size_t valueOps = static_cast<size_t>(make.OpCount) - 3;
  TPlannedMake planned;
  planned.FirstValue = static_cast<uint32_t>(plan.Values.size());
  planned.ValueCount = static_cast<uint32_t>(valueOps);
  int32_t start = kNoSpan;
  int32_t end = kNoSpan;
  size_t depth = 0;
  for (size_t i = 0; i < valueOps; ++i) {
    if (ops[i].SpanStart != kNoSpan) {
      start = ops[i].SpanStart;
      end = ops[i].SpanEnd;
    }
    TPlannedValue value;
    value.Range = {start, end};
    value.NewRange = ops[i].SpanStart != kNoSpan;
    if (!PlanValue(in, ops[i], code, depth, value)) return false;
    if (value.Kind == TPlannedKind::kCall) {
      ++planned.Calls;
      ++plan.BodyStatements;
    }
    plan.Values.push_back(value);
  }
  TAtom* name = s.AtomById(static_cast<uint32_t>(ops[valueOps].Operand));
  if (depth != 1 || !TAtom::IsWord(name)) return false;
  planned.Variable = s.FindNameOfToken(*name);
  if (!AnsweredAtRoot(s, name, planned.Variable)) return false;
  plan.Makes.push_back(planned);
  return true;
}

// BodyOfValue's step past a cell of a list that is an atom: the cell holds
// a list of names (a list may become an expression in place).
inline bool SkipsNames(const TAtom* cell, const TAtom* none) {
  const TAtom* names = cell->Left;
  return cell->Kind == akList && (names == nullptr || (names != none && names->Kind == akList));
}

// The procedure of a planned call still has the value, body statement and
// code it was planned with, so its routine is the planned one. The value
// is the planned atom.
inline bool PlannedRoutineStands(const TPlannedValue& call, const TAtom* none) {
  const TAtom* procedure = call.Atom;
  const TAtom* body = procedure->Left;
  if (body != call.Value || (procedure->Flags & afPassResult) != 0) return false;
  if (SkipsNames(body, none)) {
    body = body->Right;
    if (body != nullptr && body != none && SkipsNames(body, none)) body = body->Right;
  }
  return body == call.Body && body->Stamp == call.BodyStamp && TAtom::CodeGeneration(*body) == call.BodyCode;
}

// The flags of a variable that make its store more than a plain one or
// end StoreGuardsOf's search at it.
constexpr uint32_t kOwnStoreFlags = kReactiveFlags | afLocked | afFrame | afSilent | afActive;

// FindPlainStore's target for a planned store into the variable, under a
// frame owned by the root; no variable where the store is no plain one.
// For a variable right under the root, which has no parent (Direct),
// StoreGuardsOf and IsPlainStoreInto read only the flags and marks of
// those two.
struct TPlannedStore {
  TPlainStore Target;
  bool Direct = false;
};
inline TPlannedStore PlannedStore(const TStructure& s, TAtom* variable) {
  const TAtom* root = variable->Parent;
  if (root == s.Root && root->Parent == nullptr &&
      ((variable->Flags & kOwnStoreFlags) | (root->Flags & (afLocked | afSilent))) == 0 &&
      ((variable->Marks & kReactiveMarks) | (root->Marks & (amChangeHandler | amMakeHandlerChild))) == 0) [[likely]]
    return {{variable, true}, true};
  const TStoreGuards guards = StoreGuardsOf(variable);
  if (guards.Locked || !IsPlainStoreInto(s, *variable, nullptr)) return {};
  return {{variable, !guards.Suppressed && (variable->Flags & afActive) == 0}, false};
}

// StorePlain of a value that is no variable (the MAKE's values are none).
// Into a Direct target: its parent is the root, an atom. True where the
// store only set the variable's value into a Direct target (no flag, mark
// or member of it changed).
inline bool StorePlanned(TInterpreter& in, const TPlannedStore& store, TAtom* value, const TAtom* none) {
  TAtom* variable = store.Target.Variable;
  if (!store.Direct || value == none) [[unlikely]] {
    TPlainStore target = store.Target;
    if (value == none) target.Stores = false;  // as FindPlainStore decides for it
    StorePlain(in, target, value);
    return false;
  }
  const TAtom* old = variable->Left;
  bool plain = true;
  if (variable->FirstChild == nullptr &&
      (old == nullptr || old == none || (old->Kind != akWinObject && old->Kind != akMemoryBlock))) [[likely]] {
    variable->Left = value;
  } else {
    StorePlainValueOtherwise(in, store.Target, value);
    plain = false;
  }
  if ((variable->Parent->Flags & afFrame) != 0) in.NoteEscape();
  return plain;
}

// What the calls of a MAKE check before each of them (FusedCall,
// TransInterpret.cpp), once for all: no logging of procedures, no topic,
// nothing due before the statement each of them counts. The values and
// frameless routines before and between them change none of that (they
// resolve no names, run no program code and pump nothing; a raise in one
// throws, since its line is set, and the MAKE declines), and the count
// grows by one a call.
inline bool PlannedCallsMayRun(const TInterpreter& in, uint32_t calls) {
  const TStructure& s = in.S;
  if ((s.Log.LogFileOpen && (s.Log.LogMask & lcProcedure) != 0) || !s.CurrentPosition.Topic.empty() ||
      !NothingDueBeforeNextStatement(in))
    return false;
  // The first call's count is not the pump's; the last's must not reach it.
  return (in.StatementCounter + 1) % kPumpInterval + calls <= kPumpInterval;
}

// PlannedCallsMayRun in a settled round (RunPlannedRound): only what an
// allocation or a routine's work may have made due since it last held.
// Logging and the topic change only by program code or in a pump, and the
// round's count keeps its calls off the pump points.
inline bool SettledCallsMayRun(const TInterpreter& in) {
  const TStructure& s = in.S;
  return !in.SceneDirty && !s.HaltRequested && !s.PumpPending && !in.TopRedrawPending && in.PendingHistory.empty();
}

// A planned call's routine run on the values on top (the inputs), as the
// fused step's call runs it (FusedCall, TransInterpret.cpp): false where
// it raised. Out of line: the MAKE's loop keeps its own state in registers
// across it.
[[gnu::noinline]] bool RunPlannedRoutine(TInterpreter& in, const TPlannedValue& call, const TStackEntry* inputs,
                                         TAtom*& result) {
  // A frameless routine leaves the checked modes standing (TryRoutine).
  const TFusedDepth depthGuard(in);
  return TryRoutineOnOperands(in, call.Frameless, inputs, call.Inputs, call.Line, result);
}

// One planned MAKE with the effects of its superinstructions (as
// RunFusedValueMake has them); false, with nothing done that anyone sees,
// where one of them would decline. A variable among the values (a literal,
// one read, a routine's answer) brings its members along: no call takes it
// by value, nor the store. Settled (a settled round, RunPlannedRound): the
// store's target is a Direct one, and the calls' procedures and the
// variables read stand as the last check found them. Clears plain where
// the store was no plain store into a Direct target.
template <bool kSettled>
[[gnu::always_inline]] inline bool RunPlannedMakeInLine(TInterpreter& in, const TPlannedValue* planned,
                                                        const TPlannedMake& make, bool& plain) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  TPlannedStore store;
  if constexpr (kSettled) {
    store = {{make.Variable, true}, true};
    if (make.Calls != 0 && !SettledCallsMayRun(in)) return false;
  } else {
    store = PlannedStore(s, make.Variable);
    if (store.Target.Variable == nullptr || (make.Calls != 0 && !PlannedCallsMayRun(in, make.Calls))) return false;
  }
  const TAtom* const none = SystemValue;
  const TPlannedRange start{current.StartPos, current.EndPos};
  const uint32_t statements = in.StatementCounter;
  const uint64_t stepStamp = s.StampCounter;
  TStackEntry values[kMaxFusedValues];
  TStackEntry* top = values;  // past the values held
  // Each value's range is the last one an op gave so far, or the MAKE's.
  TPlannedRange range = start;
  const TPlannedValue* value = planned + make.FirstValue;
  const TPlannedValue* const last = value + (make.ValueCount - 1);
  for (;; ++value) {
    if (value->NewRange) range = value->Range;
    TAtom* atom = value->Atom;
    const TPlannedKind kind = value->Kind;
    if (kind == TPlannedKind::kRead) {
      const TAtom* variable = atom;
      atom = variable->Left;
      // Settled: no member came since the check, and the value is the one
      // checked then or one the round stored, no variable.
      if constexpr (!kSettled) {
        if (variable->FirstChild != nullptr || (atom != nullptr && atom != none && atom->Kind == akVariable))
            [[unlikely]]
          goto decline;
      }
    } else if (kind == TPlannedKind::kLiteral) {
      // A pool slot holds the atoms of one identity: only whether it is in use can change.
      if (atom->OnChain == AtomChain::Free) atom = nullptr;
      if (atom != nullptr && atom->Kind == akVariable) [[unlikely]]
        goto decline;
    } else if (kind == TPlannedKind::kCall) {
      // As the fused step's call makes it (FusedCall, TransInterpret.cpp).
      if constexpr (!kSettled) {
        if (!PlannedRoutineStands(*value, none)) [[unlikely]]
          goto decline;
      }
      current.StartPos = range.Start;
      current.EndPos = range.End;
      top -= value->Inputs;
      long double first = 0;
      long double second = 0;
      if (value->Arithmetic && ReadNumber(top[1].Value, first) && ReadNumber(top[0].Value, second)) {
        atom = ComputeFused(s, value->Operation, first, second, top, stepStamp);
      } else if (!RunPlannedRoutine(in, *value, top, atom)) [[unlikely]] {
        goto decline;
      }
      ++in.StatementCounter;  // the body's statement
      if (atom != nullptr && atom != none && atom->Kind == akVariable) [[unlikely]]
        goto decline;
    } else if (kind == TPlannedKind::kCounter) {
      atom = NewNumber(s, static_cast<long double>(value->WhileCounter ? s.WhileCounter : s.RepeatCounter));
    }  // else kNone: SystemValue itself
    *top++ = {atom, range.Start, range.End};
    if (value == last) break;
  }
  if (!StorePlanned(in, store, values[0].Value, none) || !store.Direct) [[unlikely]]
    plain = false;
  in.LastValue = store.Target.Variable;
  return true;
decline:
  current.StartPos = start.Start;
  current.EndPos = start.End;
  in.StatementCounter = statements;
  return false;
}
// Checked, out of line; settled, in the round's own loop.
[[gnu::noinline]] bool RunCheckedPlannedMake(TInterpreter& in, const TPlannedValue* planned, const TPlannedMake& make,
                                             bool& plain) {
  return RunPlannedMakeInLine<false>(in, planned, make, plain);
}
template <bool kSettled>
[[gnu::always_inline]] inline bool RunPlannedMake(TInterpreter& in, const TPlannedValue* planned,
                                                  const TPlannedMake& make, bool& plain) {
  if constexpr (kSettled)
    return RunPlannedMakeInLine<true>(in, planned, make, plain);
  else
    return RunCheckedPlannedMake(in, planned, make, plain);
}

// Runs the statement's planned MAKEs from the first, each with all its
// effects, while they run by the plan; returns how many did. Once all
// did, the statement's end is as the superinstructions leave it. Clears
// plain as RunPlannedMake does.
template <bool kSettled>
[[gnu::always_inline]] inline size_t RunPlannedMakes(TInterpreter& in, const TFastCode& fast,
                                                    const TFusedStatementPlan& plan, size_t makes, bool& plain) {
  // A plan that stands has one planned MAKE for each of the statement's.
  const TPlannedValue* values = plan.Values.data();
  const TPlannedMake* const first = plan.Makes.data();
  const TPlannedMake* const last = first + (makes - 1);
  const TFusedMake* make = fast.Fused.data();
  for (const TPlannedMake* planned = first;; ++planned, ++make) {
    if (!RunPlannedMake<kSettled>(in, values, *planned, plain)) [[unlikely]]
      return static_cast<size_t>(planned - first);
    make->Declines = 0;
    if (planned == last) break;
    EndFusedMake(in, *make);
  }
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  if (plan.EndRange.Start != kNoSpan) {
    in.S.CurrentPosition.StartPos = plan.EndRange.Start;
    in.S.CurrentPosition.EndPos = plan.EndRange.End;
  }
  return makes;
}

// The statement a planned one that ran wholly ends on: its code's last operand.
[[gnu::always_inline]] inline TAtom* NextOfPlanned(const TStructure& s, const TFastCode& fast,
                                                  const TFusedStatementPlan& plan) {
  TAtom* const slot = fast.FusedNext;
  if (plan.EndsList) return nullptr;
  if (slot == nullptr) [[unlikely]]
    return FillAtomSlot(s, fast.FusedNext, fast.Ops.back().Operand);
  // AtomThroughSlot's answer, in line here.
  return slot == SystemValue || slot->OnChain != AtomChain::Free ? slot : nullptr;
}

// The frameless routines that change no atom: they read their inputs and
// answer a new atom or one of them (all of the library's but EXPR, which
// makes its list an expression in place). A round that calls any other
// keeps its checks on every statement.
constexpr ExportOrdinal kChangesNoAtom[] = {
    exLOGONOT,      exLOGOAND,     exLOGOOR,      exLOGOSUM,      exLOGOMUL,     exLOGOSUB,    exLOGODIV,
    exLOGOEQUALP,   exLOGOLESSP,   exLOGOGREATERP, exLOGOLEQP,    exLOGOGEQP,    exLOGOPI,     exLOGOSQRT,
    exLOGOEXP,      exLOGOLOGN,    exLOGOTRUNC,   exLOGOABS,      exLOGONEG,     exLOGOSIGN,   exLOGOSIN,
    exLOGOCOS,      exLOGOTAN,     exLOGOCOTAN,   exLOGOARCSIN,   exLOGOARCCOS,  exLOGOARCTAN, exLOGOARCCOTAN,
    exLOGORANDOM,   exLOGOPOW,     exLOGOROUND,   exLOGONUMBERP,  exLOGOWORDP,   exLOGOLISTP,  exLOGOWORD,
    exLOGOLIST,     exLOGOSE,      exLOGOCOUNT,   exLOGOBF,       exLOGOBL,      exLOGOFIRST,  exLOGOLAST,
    exLOGOASCII,    exLOGOCHAR,    exLOGOEPSILON, exLOGOMS,       exLOGOSETMAX,  exLOGOSETMIN,
};
bool ChangesNoAtom(const TInterpreter& in, int32_t routine) {
  for (const ExportOrdinal ordinal : kChangesNoAtom)
    if (in.ExportRoutineIndex[static_cast<size_t>(ordinal)] == routine + 1) return true;
  return false;
}

// Whether a round of these statements changes nothing that the checks a
// settled round skips read: its calls' routines change no atom, and no
// store goes into a procedure it calls (a name's variable and procedure
// may be one atom).
bool RoundMaySettle(const TInterpreter& in, const TPlannedRound& round) {
  for (uint32_t i = 0; i < round.Count; ++i) {
    for (const TPlannedValue& value : round.Statements[i].Plan->Values) {
      if (value.Kind != TPlannedKind::kCall) continue;
      if (!ChangesNoAtom(in, value.Routine)) return false;
      for (uint32_t j = 0; j < round.Count; ++j)
        for (const TPlannedMake& make : round.Statements[j].Plan->Makes)
          if (make.Variable == value.Atom) return false;
    }
  }
  return true;
}

}  // namespace

TAtom* FillAtomSlot(const TStructure& s, TAtom*& slot, int32_t identity) {
  return slot = s.AtomById(static_cast<uint32_t>(identity));  // null: found again next time
}

TAtom* RunPlannedStatement(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet) {
  TStructure& s = in.S;
  const TFusedStatementPlan& plan = *fast.Plan;
  if (PlanStands(s, plan)) [[likely]] {
    const size_t makes = plan.Makes.size();
    bool plain = true;
    const size_t done = RunPlannedMakes<false>(in, fast, plan, makes, plain);
    if (done == makes) [[likely]]
      return NextOfPlanned(s, fast, plan);
    return InterpretPastPlan(in, statement, fast, quiet, done, true);
  }
  return InterpretPastPlan(in, statement, fast, quiet, 0, false);
}

bool PlanRound(const TInterpreter& in, TAtom* list, TPlannedRound& round) {
  const TStructure& s = in.S;
  round.Count = 0;
  round.Counted = 0;
  if (!PlanRootStands(s)) return false;
  uint32_t count = 0;
  uint32_t counted = 0;
  for (TAtom* cell = list; IsAtom(cell) && cell->Left != nullptr;) {
    const TAtom::Extension* ext = cell->Ext.get();
    if (count == kMaxPlannedRound || ext == nullptr) return false;
    const TFastCode* fast = ext->Fast.get();
    if (fast == nullptr || fast->Generation != ext->CodeGeneration || fast->Plan == nullptr ||
        !PlanNamesStand(s, *fast->Plan))
      return false;
    const TFusedStatementPlan& plan = *fast->Plan;
    round.Statements[count++] = {cell, fast, &plan, plan.BodyStatements, static_cast<uint32_t>(plan.Makes.size())};
    counted += 1 + plan.BodyStatements;
    cell = NextOfPlanned(s, *fast, plan);
  }
  if (count == 0 || counted >= kPumpInterval) return false;
  round.Count = count;
  round.Counted = counted;
  round.MaySettle = RoundMaySettle(in, round);
  round.Settled = false;
  return true;
}

// The REPEAT's next round begun right after a settled one, as RunRepeat
// and TListRounds::Run begin it, where nothing they do between the two can
// be seen: a round is left, no pump follows this one (the REPEAT's own
// every kRepeatPumpInterval rounds), no halt was asked for, no redraw is
// due, and no collection is due at the next one's start (before which Run
// puts the caller's position back). The result and stop are as a round
// leaves them, and the settled round changed nothing else Run tests.
namespace {
bool BeginNextRound(TInterpreter& in, TRepeatRounds* more) {
  const TStructure& s = in.S;
  if (more == nullptr || more->Left <= 1 || more->Iteration % kRepeatPumpInterval == 0 || s.HaltRequested ||
      in.SceneDirty || s.AllocationCount >= s.CollectorLimits.Threshold)
    return false;
  --more->Left;  // the REPEAT counts the last round itself
  ++more->Iteration;
  in.S.RepeatCounter = more->Iteration;
  in.LastValue = nullptr;
  in.CodePointer = more->List;
  ++in.RoundSerial;
  return true;
}
}  // namespace

// Checked once a round: a planned statement pumps nothing, pauses nowhere,
// reports no error (a routine that raises makes its MAKE decline, and the
// rest of the statement runs past the plan, when nothing is skipped any
// more) and resolves no names, so the stop and stepping state, the halt
// request, the frame's owner and the module list stay as the round found
// them; and where the round's count shows that no count of its statements
// (each one's own, each call's body) is a pump point, none of them needs
// the pump's test. Where one is, the statements before the one that counts
// it run by their plans, and the statement loop takes over at that one.
// Each statement still tests what the statements before it may change: the
// collector's due (they allocate), the list's cells and the statement's
// code and plan (a routine may change a list in place), and what follows a
// statement (AfterStatement: only a pump there can stop, pause or halt the
// run, since the planned statement's routines cannot).
//
// A settled round (TPlannedRound::Settled) skips the checks that only
// program code, the host in a pump or an atom-changing routine could make
// fail: the statement's cell, code, plan and names, the stores' targets
// (PlannedStore), the calls' logging and topic, their procedures' values,
// flags and bodies (PlannedRoutineStands), and the shape and value kind of
// the variables read. Since the last round
// checked them all, no statement but the round's own ran (every statement
// counts, and a collection starts only at a statement of the ordinary
// loops), nothing was pumped (PumpSerial), and the round's own statements
// changed none of it: their routines change no atom and run no code
// (MaySettle), their stores only set variables' values (no procedure's
// among them), and nothing followed them (no history handler, pump or
// redraw). What an allocation may make due, the collector's due, the
// literals' atoms and the calls' answers are still tested. A settled round
// goes on with the REPEAT's next round itself where nothing between the
// two could be seen (BeginNextRound), as a settled one.
bool RunPlannedRound(TInterpreter& in, TPlannedRound& round, TAtom*& running, TRepeatRounds* more) {
  TStructure& s = in.S;
  if (StopOrStepping(in.RunState) || s.HaltRequested || !PlanRootStands(s)) return true;
  bool settled =
      round.Settled && in.StatementCounter == round.SettledStatements && in.PumpSerial == round.SettledPumps;
  for (;;) {
    const bool offPumpPoints = in.StatementCounter % kPumpInterval + round.Counted < kPumpInterval;
    round.Settled = false;
    // Whether this round, so far, leaves the next one settled.
    bool plain = round.MaySettle;
    const TPlannedRoundStatement* const end = round.Statements.data() + round.Count;
    for (const TPlannedRoundStatement* planned = round.Statements.data(); planned != end; ++planned) {
      TAtom* const cell = planned->Cell;
      const TFastCode* const fast = planned->Fast;
      const TFusedStatementPlan* const plan = planned->Plan;
      const TAtom::Extension* ext = cell->Ext.get();
      if (in.CodePointer != cell ||
          (!settled && (cell->Left == nullptr || ext == nullptr || ext->Fast.get() != fast ||
                        fast->Generation != ext->CodeGeneration || fast->Plan.get() != plan ||
                        plan->BodyStatements != planned->BodyStatements || !PlanNamesStand(s, *plan)))) [[unlikely]] {
        round.Count = 0;
        return true;
      }
      if (CollectionDue(s) ||
          (!offPumpPoints && in.StatementCounter % kPumpInterval + 1 + planned->BodyStatements >= kPumpInterval))
          [[unlikely]]
        return true;
      running = cell;
      LoadStatementPosition(s.CurrentPosition, ext->Position ? *ext->Position : TAtom::PositionOf(cell),
                            in.InterpretDepth, cell);
      ++in.StatementCounter;
      const size_t done = settled ? RunPlannedMakes<true>(in, *fast, *plan, planned->Makes, plain)
                                  : RunPlannedMakes<false>(in, *fast, *plan, planned->Makes, plain);
      if (done != planned->Makes) [[unlikely]] {
        // The plans still stand: the next round tries them again.
        in.CodePointer = InterpretPastPlan(in, cell, *fast, false, done, true);
        AfterStatement(in);
        return in.RunState != rsStop;
      }
      in.CodePointer = NextOfPlanned(s, *fast, *plan);
      // AfterStatement does nothing unless one of these is due.
      if (!in.PendingHistory.empty() || s.PumpPending || in.TopRedrawPending) [[unlikely]] {
        plain = false;
        AfterStatement(in);
        // A pump there (one a finaliser asked for) may have stopped, paused or
        // halted the run: the statement loop's own tests take over.
        if (StopOrStepping(in.RunState) || s.HaltRequested) return in.RunState != rsStop;
      }
      settled = settled && plain;
    }
    // A statement added past the round's last runs the ordinary way, and the
    // round is found again.
    if (IsAtom(in.CodePointer) && in.CodePointer->Left != nullptr) {
      round.Count = 0;
      return true;
    }
    round.Settled = plain;
    round.SettledStatements = in.StatementCounter;
    round.SettledPumps = in.PumpSerial;
    // The next round finds the round settled, and the stop and stepping
    // state, the frame's owner and the module list as this one did.
    if (!plain || !BeginNextRound(in, more)) return true;
    settled = true;
  }
}

void PlanFusedStatement(TInterpreter& in, const TFastCode& fast, const std::vector<int32_t>& code) {
  TStructure& s = in.S;
  const TFusedStatementPlan* old = fast.Plan.get();
  const uint32_t misses = old != nullptr ? old->Misses : 0;
  auto plan = std::make_shared<TFusedStatementPlan>();
  plan->NameGeneration = s.NameGeneration;
  plan->Root = s.Root;
  plan->CaseSensitive = s.CaseSensitive;
  plan->Keywords = s.KeywordGeneration;
  bool made =
      s.FastPaths && IsAtom(s.Root) && s.Frame() != nullptr && s.Frame()->Owner == s.Root && s.ModuleList == nullptr;
  for (size_t i = 0; made && i < fast.Fused.size(); ++i) made = PlanMake(in, fast, fast.Fused[i], code, *plan);
  if (made) {
    const TFusedMake& last = fast.Fused.back();
    if (fast.FusedEndStart != kNoSpan)
      plan->EndRange = {fast.FusedEndStart, fast.FusedEndEnd};
    else if (last.FinalStart != kNoSpan)
      plan->EndRange = {last.FinalStart, last.FinalEnd};
    const auto next = static_cast<uint32_t>(fast.Ops.back().Operand);
    plan->EndsList = next < kFirstAtomIdentity && next != kSystemValueIdentity;
  }
  // The look-ups change no names; a plan made across a change would not stand.
  if (!made || plan->Makes.empty() || plan->NameGeneration != s.NameGeneration) {
    plan->NameGeneration = kNoNameGeneration;
    plan->Makes.clear();
    plan->BodyStatements = 0;
    plan->Values.clear();
    plan->Misses = misses + 1;
  }
  fast.Plan = std::move(plan);
}
