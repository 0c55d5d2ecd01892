// The plans of statements made only of fused MAKEs (TFusedStatementPlan):
// made once the statement has run them the ordinary way, then checked and
// followed on every run while they stand.

#include "core/TransFused.h"

#include <memory>

#include "core/LogoLib.h"

namespace {

// The token's name answer at the root, which stands while the name
// generation does (TStructure::FindNameOfToken remembered it there).
bool AnsweredAtRoot(const TStructure& s, const TAtom* token, const TAtom* found) {
  const TAtom::Extension* memo = IsAtom(token) ? token->Ext.get() : nullptr;
  return memo != nullptr && found != nullptr && memo->SiteGeneration == s.NameGeneration && memo->SiteAtRoot &&
         memo->SiteAnswer == found && memo->SiteCaseSensitive == s.CaseSensitive;
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
    value.Start = start;
    value.End = end;
    if (!PlanValue(in, ops[i], code, depth, value)) return false;
    plan.Values.push_back(value);
  }
  TAtom* name = s.AtomById(static_cast<uint32_t>(ops[valueOps].Operand));
  if (depth != 1 || !TAtom::IsWord(name)) return false;
  planned.Variable = s.FindNameOfToken(*name);
  if (!AnsweredAtRoot(s, name, planned.Variable)) return false;
  plan.Makes.push_back(planned);
  return true;
}

// The routine a planned call runs without a frame, while the procedure
// has the value, body statement and code it was planned with; else null.
inline TPrimitive PlannedRoutine(const TInterpreter& in, const TPlannedValue& call) {
  const TAtom* procedure = call.Atom;
  const TAtom* value = procedure->Left;
  if (value != call.Value || (procedure->Flags & afPassResult) != 0) return nullptr;
  const TAtom* body = BodyOfValue(value);
  if (body != call.Body || body->Stamp != call.BodyStamp || TAtom::CodeGeneration(*body) != call.BodyCode)
    return nullptr;
  const size_t index = static_cast<size_t>(call.Routine);
  return index < in.FramelessRoutines.size() ? in.FramelessRoutines[index] : nullptr;
}

// A planned call on the values on top, as the fused step's call makes it
// (FusedCall, TransInterpret.cpp): false, with the range as it was before
// and nothing else done, where that call would decline.
inline bool RunPlannedCall(TInterpreter& in, const TPlannedValue& call, TStackEntry* values, size_t& depth,
                           uint64_t stepStamp) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  const TPrimitive routine = PlannedRoutine(in, call);
  if (routine == nullptr || (s.Log.LogFileOpen && (s.Log.LogMask & lcProcedure) != 0) || !current.Topic.empty() ||
      !NothingDueBeforeNextStatement(in))
    return false;
  if (call.Start != kNoSpan) {
    current.StartPos = call.Start;
    current.EndPos = call.End;
  }
  const size_t count = static_cast<size_t>(call.Inputs);
  TStackEntry* inputs = values + (depth - count);
  TAtom* result = nullptr;
  long double first = 0;
  long double second = 0;
  if (call.Arithmetic && ReadNumber(inputs[1].Value, first) && ReadNumber(inputs[0].Value, second)) {
    result = ComputeFused(s, call.Operation, first, second, inputs, stepStamp);
  } else {
    // A frameless routine leaves the checked modes standing (TryRoutine).
    const TFusedDepth depthGuard(in);
    if (!TryRoutineOnOperands(in, routine, inputs, call.Inputs, call.Line, result)) return false;
  }
  ++in.StatementCounter;  // the body's statement
  depth -= count;
  values[depth++] = {result, current.StartPos, current.EndPos};
  return true;
}

// One planned MAKE with the effects of its superinstructions (as
// RunFusedValueMake has them); false, with nothing done that anyone sees,
// where one of them would decline.
bool RunPlannedMake(TInterpreter& in, const TFusedStatementPlan& plan, const TPlannedMake& make) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  TAtom* const variable = make.Variable;
  const TStoreGuards guards = StoreGuardsOf(variable);
  if (guards.Locked || !IsPlainStoreInto(s, *variable, nullptr)) return false;
  const int32_t start = current.StartPos;
  const int32_t end = current.EndPos;
  const uint32_t statements = in.StatementCounter;
  const uint64_t stepStamp = s.StampCounter;
  TStackEntry values[kMaxFusedValues];
  size_t depth = 0;
  const TPlannedValue* const first = plan.Values.data() + make.FirstValue;
  for (const TPlannedValue* value = first; value != first + make.ValueCount; ++value) {
    const int32_t valueStart = value->Start != kNoSpan ? value->Start : start;
    const int32_t valueEnd = value->Start != kNoSpan ? value->End : end;
    bool done = true;
    switch (value->Kind) {
      case TPlannedKind::kLiteral: {
        // A pool slot holds the atoms of one identity: only whether it is in use can change.
        TAtom* literal = value->Atom == SystemValue || value->Atom->OnChain != AtomChain::Free ? value->Atom : nullptr;
        done = !TAtom::IsVariable(literal);
        values[depth++] = {literal, valueStart, valueEnd};
        break;
      }
      case TPlannedKind::kRead: {
        const TAtom* read = value->Atom;
        done = read->FirstChild == nullptr && !TAtom::IsVariable(read->Left);
        values[depth++] = {read->Left, valueStart, valueEnd};
        break;
      }
      case TPlannedKind::kCounter:
        values[depth++] = {
            NewNumber(s, static_cast<long double>(value->WhileCounter ? s.WhileCounter : s.RepeatCounter)),
            valueStart, valueEnd};
        break;
      case TPlannedKind::kCall:
        done = RunPlannedCall(in, *value, values, depth, stepStamp) &&
               !TAtom::IsVariable(values[depth - 1].Value);
        break;
    }
    if (!done) [[unlikely]] {
      current.StartPos = start;
      current.EndPos = end;
      in.StatementCounter = statements;
      return false;
    }
  }
  TAtom* const result = values[0].Value;
  const TPlainStore target{variable,
                           result != SystemValue && !guards.Suppressed && (variable->Flags & afActive) == 0};
  StorePlain(in, target, result);
  in.LastValue = variable;
  return true;
}

}  // namespace

size_t RunPlannedFusedMakes(TInterpreter& in, const TFastCode& fast, bool& stands) {
  TStructure& s = in.S;
  const TFusedStatementPlan* plan = fast.Plan.get();
  stands = plan != nullptr && !plan->Makes.empty() && plan->NameGeneration == s.NameGeneration &&
           plan->Root == s.Root && s.Frame()->Owner == s.Root && s.ModuleList == nullptr &&
           plan->CaseSensitive == s.CaseSensitive && plan->Keywords == s.KeywordGeneration;
  if (!stands) return 0;
  size_t done = 0;
  for (const TPlannedMake& planned : plan->Makes) {
    if (!RunPlannedMake(in, *plan, planned)) break;
    const TFusedMake& make = fast.Fused[done];
    make.Declines = 0;
    EndFusedMake(in, make);
    ++done;
  }
  return done;
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
  bool made = s.FastPaths && s.Frame() != nullptr && s.Frame()->Owner == s.Root && s.ModuleList == nullptr;
  for (size_t i = 0; made && i < fast.Fused.size(); ++i) made = PlanMake(in, fast, fast.Fused[i], code, *plan);
  // The look-ups change no names; a plan made across a change would not stand.
  if (!made || plan->NameGeneration != s.NameGeneration) {
    plan->Makes.clear();
    plan->Values.clear();
    plan->Misses = misses + 1;
  }
  fast.Plan = std::move(plan);
}
