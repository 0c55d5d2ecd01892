// The interpreter loop: executes the code words of one statement on the
// operand stack of the current frame, and the short ways through statements
// (superinstructions, fused MAKEs and calls on the short way; IF's is in
// TransBranch.cpp). WHILE, DUMP, OUTPUT and STOP, the loop counters, the
// bound routines and the position markers are carried out here; the other
// special forms' opcodes are in TransOps.cpp; user-procedure calls and
// assignments are handed on.

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "core/Expr.h"
#include "core/Host.h"
#include "core/Lexem.h"
#include "core/LogoLib.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/TransFused.h"
#include "core/TransOps.h"
#include "core/TransShortWay.h"

namespace {

// --- scope guards ------------------------------------------------------------------

// One level of Interpret: the depth counter, and, when an error leaves the
// call, the WHILE state as it was on entry (a WHILE cut short by an error
// must not leave the in-loop flag set for the next one).
// The WHILE state a statement's run puts back when an error leaves it.
struct TWhileState {
  bool InWhile;
  int64_t Counter;
};

class InterpretScope {
public:
  explicit InterpretScope(TInterpreter& in) : InterpretScope(in, TWhileState{in.S.InWhile, in.S.WhileCounter}) {}
  InterpretScope(TInterpreter& in, TWhileState atStart)
      : in_(in), inWhile_(atStart.InWhile), whileCounter_(atStart.Counter) {
    ++in_.InterpretDepth;
  }
  TWhileState AtStart() const { return {inWhile_, whileCounter_}; }
  ~InterpretScope() {
    --in_.InterpretDepth;
    if (!completed_) {
      in_.S.InWhile = inWhile_;
      in_.S.WhileCounter = whileCounter_;
    }
  }
  InterpretScope(const InterpretScope&) = delete;
  InterpretScope& operator=(const InterpretScope&) = delete;
  void Complete() { completed_ = true; }

private:
  TInterpreter& in_;
  bool inWhile_;
  int64_t whileCounter_;
  bool completed_ = false;
};

// --- the short way ----------------------------------------------------------------
// A statement's superinstructions (TFastCode, made by the compiler) run
// without the opcode loop's per-word dispatch and stop tests: none of them
// runs program code, pumps or changes the stop state, so the tests would
// find what they found before the first one. One that cannot do exactly
// what its words do declines before anything observable happened, and the
// loop runs its words instead.

// FastCodeOf for a run of the statement: the second run asks for them to
// be made (FastCodeWhenAskedAgain).
[[gnu::noinline, gnu::cold]] const TFastCode* FastCodeAskedFor(const TInterpreter& in, const TAtom& statement) {
  TAtom::Extension* ext = statement.Ext.get();
  if (ext == nullptr || !in.S.FastPaths || Stepping(in)) return nullptr;
  return FastCodeWhenAskedAgain(*ext);
}

inline const TFastCode* FastCodeToRun(const TInterpreter& in, const TAtom& statement) {
  if (const TFastCode* fast = FastCodeOf(in, statement)) [[likely]]
    return fast;
  return FastCodeAskedFor(in, statement);
}

// A foCall's look-up runs for every call the short way makes, so its usual
// answer (each memo on the op still standing) is inlined where the calls
// are made, and everything that fills a memo again is out of line.

// The library routines (+ - * / < > =) whose answer on two number inputs
// a call computes itself, exactly as the routine does: the arithmetic of
// its number routine, the comparison's tolerance, its shared truth words.
enum class TwoNumberStep : uint8_t { kNone, kSum, kDifference, kProduct, kQuotient, kBelow, kAbove, kEqual };

// The step of the library routine with that number in the bound-routine
// table; kNone for any other routine (a program's own included).
inline TwoNumberStep TwoNumberStepOf(const TInterpreter& in, int32_t routine) {
  const int32_t slot = routine + 1;
  const auto& index = in.ExportRoutineIndex;
  if (slot == index[exLOGOSUM]) return TwoNumberStep::kSum;
  if (slot == index[exLOGOSUB]) return TwoNumberStep::kDifference;
  if (slot == index[exLOGOLESSP]) return TwoNumberStep::kBelow;
  if (slot == index[exLOGOMUL]) return TwoNumberStep::kProduct;
  if (slot == index[exLOGOGREATERP]) return TwoNumberStep::kAbove;
  if (slot == index[exLOGOEQUALP]) return TwoNumberStep::kEqual;
  if (slot == index[exLOGODIV]) return TwoNumberStep::kQuotient;
  return TwoNumberStep::kNone;
}

// Reads how the body's statement decoded into the call site's memo: the
// first call, a redefinition, another procedure found.
[[gnu::noinline]] void ReadCalleeBody(TInterpreter& in, const TFastOp& site, const TAtom& body) {
  const TInterpreter::TWrapperBody& decoded = in.WrapperBodyOf(body);
  site.Body = &body;
  site.BodyStamp = body.Stamp;
  site.BodyCode = TAtom::CodeGeneration(body);
  // Copies: the decoded body's slot may be taken by another body later.
  site.BodyRoutine = decoded.IsWrapper ? decoded.Statement.Routine : -1;
  site.BodyComposed = decoded.IsWrapper ? 0 : decoded.Composed;
  site.BodyLine = decoded.Line;
  // A routine's number keeps its meaning and its frameless entry: the
  // tables only grow, each entry set when the routine is bound.
  const int32_t routine = site.BodyRoutine;
  site.BodyStep = static_cast<uint8_t>(routine >= 0 ? TwoNumberStepOf(in, routine) : TwoNumberStep::kNone);
  const size_t index = static_cast<size_t>(routine);
  site.BodyFrameless = routine >= 0 && index < in.FramelessRoutines.size() ? in.FramelessRoutines[index] : nullptr;
}

// The routine a call of the procedure may run without a frame (a direct
// wrapper of a frameless routine), with the line its body's statement
// raises at; null when there is none. The call site remembers how the
// body's statement decoded, so a repeated call reads it back with a few
// compares instead of the decoded-body table.
[[gnu::always_inline]] inline TPrimitive FramelessRoutine(TInterpreter& in, const TFastOp& site,
                                                          const TAtom& procedure, int32_t& line,
                                                          int32_t& wrappedRoutine) {
  const TAtom* value = procedure.Left;
  if (!IsAtom(value) || value->Kind != akList || (procedure.Flags & afPassResult) != 0) return nullptr;
  const TAtom* body = BodyOfValue(value);
  if (!IsAtom(body)) return nullptr;
  if (site.Body != body || site.BodyStamp != body->Stamp || site.BodyCode != TAtom::CodeGeneration(*body))
      [[unlikely]]
    ReadCalleeBody(in, site, *body);
  if (site.BodyLine == -1) return nullptr;
  line = site.BodyLine;
  wrappedRoutine = site.BodyRoutine;
  if (wrappedRoutine >= 0) [[likely]]
    return site.BodyFrameless;
  return site.BodyComposed != 0 ? ComposedListRoutine(in, procedure, site.BodyComposed) : nullptr;  // fput, emptyp
}

// The procedure with named children that a call finds calls: its lambda
// child, or itself; remembered on the op.
[[gnu::noinline]] TAtom* FindCallee(TStructure& s, const TFastOp& op, TAtom& procedure) {
  TAtom* callee = &procedure;
  if (TAtom* lambda = TAtom::FindChildByName(s, procedure, s.Keyword(kwLambda))) callee = lambda;
  // Its children's stamp advances only once it has an extension.
  op.Found = &procedure;
  op.FoundStamp = procedure.Stamp;
  op.FoundChildren = procedure.Extend().NamedChildrenStamp;
  op.FoundKeywords = s.KeywordGeneration;
  op.FoundCaseSensitive = s.CaseSensitive;
  op.Callee = callee;
  return callee;
}

// The procedure a call's name finds, its lambda child in its place.
[[gnu::always_inline]] inline TAtom* CalledProcedure(TStructure& s, const TFastOp& op, TAtom& name) {
  TAtom* procedure = s.FindNameOfToken(name);
  if (procedure == nullptr || procedure->FirstChild == nullptr) [[likely]]
    return procedure;
  const TAtom::Extension* ext = procedure->Ext.get();
  if (procedure == op.Found && ext != nullptr && procedure->Stamp == op.FoundStamp &&
      ext->NamedChildrenStamp == op.FoundChildren && s.KeywordGeneration == op.FoundKeywords &&
      s.CaseSensitive == op.FoundCaseSensitive)
    return op.Callee;
  return FindCallee(s, op, *procedure);
}

// What a foCall calls without a frame: the routine of a direct wrapper or
// of a composed library body, with the call's operands. Procedure is what the call's
// name found, also where it is no frameless wrapper.
struct TFramelessTarget {
  TAtom* Procedure = nullptr;
  int32_t WrappedRoutine = -1;  // a direct wrapper's routine number; -1 for a composed body
  TPrimitive Routine = nullptr;
  int32_t Line = -1;  // the line the body's statement raises at
  int32_t InputCount = 0;
  const int32_t* Pairs = nullptr;  // two words per input position
};

// Reads a foCall's operands (name, arity, pairs) into the op's memo; false
// where they do not fit the code.
[[gnu::noinline]] bool ReadCallSite(const TStructure& s, const TFastOp& op, const std::vector<int32_t>& code) {
  const size_t at = static_cast<size_t>(op.Operand);
  if (at + 2 > code.size()) return false;
  TAtom* nameAtom = s.AtomById(static_cast<uint32_t>(code[at]));
  if (!TAtom::IsWord(nameAtom)) return false;
  const int32_t arity = code[at + 1];
  const int32_t inputCount = ArityLeft(arity) + ArityRight(arity);
  if (at + 2 + 2 * static_cast<size_t>(inputCount) > code.size()) return false;
  op.SiteName = nameAtom;
  op.SiteNameStamp = nameAtom->Stamp;
  op.SiteInputCount = inputCount;
  op.SiteByValue = true;
  for (int32_t i = 0; i < inputCount; ++i)
    if (code[at + 2 + 2 * static_cast<size_t>(i)] != 0) op.SiteByValue = false;
  return true;
}

// The calls a foCall that found program code makes the frame's way before
// it asks the procedure's body again.
constexpr uint8_t kCodeCalleeSkips = 64;

// The frameless routine a foCall's name finds under CallUserProcedure's
// conditions for that way (TransCall.cpp), before its inputs are looked
// at; false where that way would not be taken (target.Procedure tells
// whether the name found a procedure at all).
[[gnu::always_inline]] inline bool FindFramelessTarget(TInterpreter& in, const TFastOp& op,
                                                       const std::vector<int32_t>& code, TFramelessTarget& target) {
  TStructure& s = in.S;
  // A freed token has lost its stamp (pool atoms stay mapped).
  if ((op.SiteName == nullptr || op.SiteName->Stamp != op.SiteNameStamp) && !ReadCallSite(s, op, code)) [[unlikely]]
    return false;
  TAtom* procedure = CalledProcedure(s, op, *op.SiteName);
  if (procedure == nullptr) return false;
  target.Procedure = procedure;
  // A procedure of program code found again: its call takes the frame's way
  // without asking its body once more (a wrapper it became meanwhile runs
  // that way as well, as the full way would run it).
  if (op.CodeCallee == procedure && op.CodeCalleeSkips != 0) [[likely]] {
    --op.CodeCalleeSkips;
    return false;
  }
  target.Routine = FramelessRoutine(in, op, *procedure, target.Line, target.WrappedRoutine);
  if (target.Routine == nullptr) {
    // Only a body with no frameless way at all (a composed library body
    // may decline for one call's inputs alone).
    if (op.BodyRoutine < 0 && op.BodyComposed == 0) {
      op.CodeCallee = procedure;
      op.CodeCalleeSkips = kCodeCalleeSkips;
    }
    return false;
  }
  if ((s.Log.LogFileOpen && (s.Log.LogMask & lcProcedure) != 0) || !s.CurrentPosition.Topic.empty() ||
      !NothingDueBeforeNextStatement(in))
    return false;
  target.InputCount = op.SiteInputCount;
  target.Pairs = code.data() + op.Operand + 2;
  return true;
}

// What a routine that raised on the short way changed, put back: the
// range, the topic and the trace entries it added.
[[gnu::noinline, gnu::cold]] void UndoRaisedRoutine(TInterpreter& in, size_t traceLength, int32_t start, int32_t end) {
  TStructure& s = in.S;
  s.CurrentPosition.StartPos = start;
  s.CurrentPosition.EndPos = end;
  s.CurrentPosition.Topic.clear();
  if (s.ErrorTrace.size() > traceLength) TruncateErrorTrace(in, traceLength);
}

// TryRoutineOnOperands, inlined into the short way's calls. Frameless
// routines are the library's own: none of them changes a mode, and one
// that calls the host clears the checked modes by that call, so the modes
// found the default before stand after it, as for the interpreter's own
// arithmetic.
inline bool TryRoutine(TInterpreter& in, TPrimitive routine, const TStackEntry* inputs, int32_t inputCount,
                       int32_t line, TAtom*& result) {
  TStructure& s = in.S;
  // Only a raise reads these; the answer's way does nothing more with them.
  const size_t traceLength = s.ErrorTrace.size();
  const int32_t start = s.CurrentPosition.StartPos;
  const int32_t end = s.CurrentPosition.EndPos;
  PrepareOwnArithmetic(s);
  try {
    // Never null, also without inputs: null means "read the frame's cells".
    const OperandView view(s, inputs, inputCount, line);
    result = routine(in);
    return true;
  } catch (...) {
    s.FloatingPointModesChecked = false;
  }
  result = nullptr;
  UndoRaisedRoutine(in, traceLength, start, end);
  return false;
}

// The routine's answer on two number values (first: input 2, second:
// input 1), or null where the routine itself must run: an input that is no
// number atom nor a word already read as one (the routine reads or raises),
// or one atom twice in a comparison (equal, whatever its number).
[[gnu::always_inline]] inline TAtom* TwoNumberAnswer(TStructure& s, TwoNumberStep step, const TAtom* firstAtom,
                                                     const TAtom* secondAtom) {
  long double first = 0;
  long double second = 0;
  if (step == TwoNumberStep::kNone || !ReadNumber(firstAtom, first) || !ReadNumber(secondAtom, second)) return nullptr;
  PrepareOwnArithmetic(s);
  switch (step) {
    case TwoNumberStep::kSum:
      return NumberResult(s, first + second);
    case TwoNumberStep::kDifference:
      return NumberResult(s, first - second);
    case TwoNumberStep::kProduct:
      return NumberResult(s, first * second);
    case TwoNumberStep::kQuotient:
      return NumberResult(s, first / second);  // a zero divisor gives an infinity or NaN, as the routine's
    case TwoNumberStep::kBelow:
    case TwoNumberStep::kAbove:
    case TwoNumberStep::kEqual: {
      if (firstAtom == secondAtom) return nullptr;
      const int order = NumberOrder(s, first, second);
      const int wanted = step == TwoNumberStep::kBelow ? -1 : step == TwoNumberStep::kAbove ? 1 : 0;
      // NewBoolean's answer with the fast paths on: the shared truth word.
      TAtom* shared = order == wanted ? s.Language.TrueWord : s.Language.FalseWord;
      return shared != nullptr ? shared : NewBoolean(s, order == wanted);
    }
    case TwoNumberStep::kNone:
      break;
  }
  return nullptr;
}

// A frameless call's answer as the wrapper's statement leaves it: the
// statement counted, the answer pushed with the call's range, no OUTPUT
// pending.
[[gnu::always_inline]] inline void PushFramelessAnswer(TInterpreter& in, TFastStack& operands, TAtom* result,
                                                       int32_t start, int32_t end) {
  ++in.StatementCounter;  // the body's statement
  operands.Push(result, start, end);
  in.LastValue = result;
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
}

// ocCall of a direct wrapper whose routine reads only its inputs, on the
// operand values, exactly as CallUserProcedure's frameless way does it and
// under the same conditions (TransCall.cpp); false, with nothing done,
// where that way would not be taken. Operands: name, arity, pairs. A
// procedure that is no frameless wrapper comes back in userCall (the
// operands still held): its call runs program code, which the caller makes
// (RunFastCode's foCall).
[[gnu::always_inline]] inline bool FastCall(TInterpreter& in, TFastStack& operands, const TFastOp& op,
                                            const std::vector<int32_t>& code, TAtom*& userCall) {
  TStructure& s = in.S;
  TFramelessTarget target;
  if (!FindFramelessTarget(in, op, code, target)) {
    if (target.Procedure != nullptr && target.Routine == nullptr) userCall = target.Procedure;
    return false;
  }
  const int32_t inputCount = target.InputCount;
  const size_t count = static_cast<size_t>(inputCount);
  const TPrimitive routine = target.Routine;
  const int32_t line = target.Line;

  // Two number inputs, input 1 held and input 2 on the frame's stack (a
  // value held there over a user call): the answer without moving input 1.
  if (count == 2 && operands.Depth() == 1 && op.BodyStep != static_cast<uint8_t>(TwoNumberStep::kNone) &&
      target.WrappedRoutine >= 0 && op.SiteByValue) {
    std::vector<TStackEntry>& items = operands.Frame().Items;
    TAtom* const first = operands.Top(1)->Value;
    if (!items.empty() && !TAtom::IsVariable(first) && !TAtom::IsVariable(items.back().Value)) {
      if (TAtom* result = TwoNumberAnswer(s, static_cast<TwoNumberStep>(op.BodyStep), first, items.back().Value)) {
        operands.Drop(1);
        operands.Frame().Drop(1);
        PushFramelessAnswer(in, operands, result, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
        return true;
      }
    }
  }
  // The inputs, input 1 (the last one written) first.
  const bool held = operands.Depth() >= count;
  if (!held) operands.Flush();
  const std::vector<TStackEntry>& items = operands.Frame().Items;
  if (!held && items.size() < count) return false;
  const TStackEntry* inputs = held ? operands.Top(count) : items.data() + (items.size() - count);
  if (!op.SiteByValue) return false;
  if (count == 2) {
    if (TAtom::IsVariable(inputs[0].Value) || TAtom::IsVariable(inputs[1].Value)) return false;
  } else {
    for (size_t i = 0; i < count; ++i)
      if (TAtom::IsVariable(inputs[i].Value)) return false;
  }

  const int32_t start = s.CurrentPosition.StartPos;
  const int32_t end = s.CurrentPosition.EndPos;
  TAtom* result = nullptr;
  if (count == 2 && target.WrappedRoutine >= 0)
    result = TwoNumberAnswer(s, static_cast<TwoNumberStep>(op.BodyStep), inputs[1].Value, inputs[0].Value);
  if (result == nullptr && !TryRoutine(in, routine, inputs, inputCount, line, result)) return false;
  if (held)
    operands.Drop(count);
  else
    operands.Frame().Drop(inputCount);
  PushFramelessAnswer(in, operands, result, start, end);
  return true;
}

// The value a foPush or foValueOf would push (the variable's where it has
// no members), or false where the op must run as itself.
[[gnu::always_inline]] inline bool OperandOpValue(TStructure& s, const TFastOp& op, TAtom*& value) {
  TAtom* atom = AtomThroughSlot(s, op.OperandAtom, op.Operand);
  if (op.Kind == foPush) {
    value = atom;
    return true;
  }
  if (!TAtom::IsWord(atom)) return false;
  const TAtom* variable = s.FindNameOfToken(*atom);
  if (variable == nullptr || variable->FirstChild != nullptr) return false;
  value = variable->Left;
  return true;
}

// A foPairCall whose call found program code is passed over this many
// times before it tries again (a redefinition may make it a routine's).
constexpr uint8_t kPairCallRetries = 64;

// The three ops after a foPairCall at once, as they would run one by one
// when the call is a routine's two-number step on the two values: the
// answer pushed with the call's range, which start..end and the position
// then hold. False, with nothing done, where they must run one by one.
[[gnu::always_inline]] inline bool RunPairCall(TInterpreter& in, TFastStack& operands, const TFastOp& mark,
                                               const std::vector<int32_t>& code, int32_t& start, int32_t& end) {
  if (mark.PairMisses != 0) [[unlikely]] {
    --mark.PairMisses;
    return false;
  }
  TStructure& s = in.S;
  const TFastOp* ops = &mark + 1;
  const TFastOp& second = ops[0];  // input 2, pushed first
  const TFastOp& first = ops[1];
  const TFastOp& call = ops[2];
  // The range each op would set, the call's last.
  int32_t callStart = start;
  int32_t callEnd = end;
  for (const TFastOp* op : {&second, &first, &call}) {
    if (op->SpanStart == kNoSpan) continue;
    callStart = op->SpanStart;
    callEnd = op->SpanEnd;
  }
  TPosition& current = s.CurrentPosition;
  current.StartPos = callStart;
  current.EndPos = callEnd;
  TFramelessTarget target;
  const bool found = FindFramelessTarget(in, call, code, target);
  // A call the step can never make (program code, a composed library body,
  // a routine without a two-number step), most likely again: the next tries
  // are spared. One declined for what is due now tries again next time.
  if (target.Procedure != nullptr &&
      (target.Routine == nullptr || target.WrappedRoutine < 0 || call.SiteInputCount != 2 || !call.SiteByValue ||
       call.BodyStep == static_cast<uint8_t>(TwoNumberStep::kNone))) {
    mark.PairMisses = kPairCallRetries;
    return false;
  }
  if (!found) return false;
  TAtom* secondValue = nullptr;
  TAtom* firstValue = nullptr;
  if (!OperandOpValue(s, second, secondValue) || !OperandOpValue(s, first, firstValue)) return false;
  if (TAtom::IsVariable(firstValue) || TAtom::IsVariable(secondValue)) return false;
  TAtom* result = TwoNumberAnswer(s, static_cast<TwoNumberStep>(call.BodyStep), firstValue, secondValue);
  if (result == nullptr) return false;
  PushFramelessAnswer(in, operands, result, callStart, callEnd);
  start = callStart;
  end = callEnd;
  return true;
}

// The name's push and ocValueOf: the value of a variable without members,
// pushed with the range start..end (the look-up reads no position).
bool FastValueOf(TInterpreter& in, TFastStack& operands, TAtom* name, int32_t start, int32_t end) {
  if (!TAtom::IsWord(name)) return false;
  TStructure& s = in.S;
  const TAtom* variable = s.FindNameOfToken(*name);
  if (variable == nullptr || variable->FirstChild != nullptr) return false;
  in.LastValue = name;  // the name's pop
  operands.Push(variable->Left, start, end);
  return true;
}

// ocMake of a name and a value that is a plain store (PlainMake).
bool FastMake(TInterpreter& in, TFastStack& operands) {
  TStructure& s = in.S;
  if (operands.Depth() < 2) operands.Flush();
  const bool held = operands.Depth() >= 2;
  const std::vector<TStackEntry>& items = operands.Frame().Items;
  if (!held && items.size() < 2) return false;
  const TStackEntry* top = held ? operands.Top(2) : items.data() + (items.size() - 2);
  TAtom* const value = top[0].Value;
  TAtom* variable = PlainMake(in, top[1].Value, value);
  if (variable == nullptr) return false;
  if (held)
    operands.Drop(2);
  else
    operands.Frame().Drop(2);
  in.LastValue = value;  // the last of the two pops
  operands.Push(variable, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
  return true;
}

// The number a fused step's operand gives the routine: a number literal,
// a word already read as one, or such a value of a variable without
// members (variable: that variable, else null); false where the routine
// would have to read it first.
[[gnu::always_inline]] inline bool FusedNumber(TStructure& s, const TFastOp& op, long double& x,
                                               const TAtom*& variable) {
  const TAtom* atom = s.AtomById(static_cast<uint32_t>(op.Operand));
  variable = nullptr;
  if (op.Kind == foValueOf) {
    if (!TAtom::IsWord(atom)) return false;
    variable = s.FindNameOfToken(*const_cast<TAtom*>(atom));
    if (variable == nullptr || variable->FirstChild != nullptr) return false;
    atom = variable->Left;
  }
  return ReadNumber(atom, x);
}

// What a fused MAKE's checks found, before it does anything.
struct TFusedPlan {
  long double First = 0;   // input 2
  long double Second = 0;  // input 1
  const TAtom* FirstVariable = nullptr;  // the variable input 2 was read from; null: a literal
  const TAtom* SecondVariable = nullptr;
  FusedOperation Operation = kFusedSum;
  TPlainStore Target;
};

// The checks of a "make "name A f B" instruction's six superinstructions:
// false where any of them would decline or do more than compute and store.
bool PlanFusedMake(TInterpreter& in, const TFastCode& fast, const TFusedMake& make, const std::vector<int32_t>& code,
                   TFusedPlan& plan) {
  TStructure& s = in.S;
  const TFastOp* ops = fast.Ops.data() + make.FirstOp;
  if (!make.Numeric || !FusedNumber(s, ops[0], plan.Second, plan.SecondVariable) ||
      !FusedNumber(s, ops[1], plan.First, plan.FirstVariable))
    return false;
  TFramelessTarget call;
  if (!FindFramelessTarget(in, ops[2], code, call) || call.WrappedRoutine < 0 ||
      !FusedOperationOf(in, call.WrappedRoutine, plan.Operation))
    return false;
  // Any value that is neither an object nor "none" is stored alike.
  plan.Target = FindPlainStore(in, s.AtomById(static_cast<uint32_t>(ops[3].Operand)), nullptr);
  return plan.Target.Variable != nullptr;
}

// The number atom a fused MAKE stored last, when nobody but its variable
// can hold it and the variable still does.
inline TAtom* OwnStoredNumber(const TFusedMake& memo, const TPlainStore& target) {
  TAtom* old = target.Variable->Left;
  if (!target.Stores || old != memo.Stored || !IsAtom(old) || old->Stamp != memo.StoredStamp || old->RefCount != 0 ||
      old->Kind != akNumber)
    return nullptr;
  return old;
}

// One foCall of a fused step on the values on top (input 1 the deepest),
// none of them a variable: what FastCall does, on the step's own values;
// false, with nothing done, where FastCall would decline. The step's calls
// run only frameless routines, which leave the checked modes standing.
bool FusedCall(TInterpreter& in, const TFastOp& op, const std::vector<int32_t>& code, TStackEntry* values,
               size_t& depth, uint64_t stepStamp) {
  TStructure& s = in.S;
  TFramelessTarget target;
  if (!FindFramelessTarget(in, op, code, target)) return false;
  const size_t count = static_cast<size_t>(target.InputCount);
  if (count > depth) return false;
  // Every input passes by value: the step was made only of such calls of
  // this code (FindFusedMakes), and Pairs are words of the same code.
  TStackEntry* inputs = values + (depth - count);
  const int32_t start = s.CurrentPosition.StartPos;
  const int32_t end = s.CurrentPosition.EndPos;
  TAtom* result = nullptr;
  FusedOperation operation = kFusedSum;
  long double first = 0;
  long double second = 0;
  if (count == 2 && target.WrappedRoutine >= 0 && FusedOperationOf(in, target.WrappedRoutine, operation) &&
      ReadNumber(inputs[1].Value, first) && ReadNumber(inputs[0].Value, second)) {
    result = ComputeFused(s, operation, first, second, inputs, stepStamp);
  } else {
    const TFusedDepth depthGuard(in);
    if (!TryRoutine(in, target.Routine, inputs, target.InputCount, target.Line, result)) return false;
  }
  ++in.StatementCounter;  // the body's statement
  depth -= count;
  values[depth++] = {result, start, end};
  return true;
}

// A fused MAKE with any value (TFusedMake) as one step, with the effects its
// superinstructions have: the values read and pushed, each call's routine
// run on them with the wrapper's statement counted, the result stored by
// the plain store, the variable left in LastValue. False where any of them
// would decline; then the range and the statement count are as they were,
// and since the routines only read their inputs and the reads change
// nothing, the superinstructions can take over from the first.
bool RunFusedValueMake(TInterpreter& in, const TFastCode& fast, const TFusedMake& make,
                       const std::vector<int32_t>& code) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  const TFastOp* ops = fast.Ops.data() + make.FirstOp;
  const size_t valueOps = static_cast<size_t>(make.OpCount) - 3;
  TAtom** atoms = make.OperandAtoms.data();
  // Nothing the values' routines do changes what the store finds.
  TPlainStore target = FindPlainStore(in, AtomThroughSlot(s, atoms[valueOps], ops[valueOps].Operand), nullptr);
  if (target.Variable == nullptr) return false;
  const int32_t start = current.StartPos;
  const int32_t end = current.EndPos;
  const uint32_t statements = in.StatementCounter;
  const uint64_t stepStamp = s.StampCounter;
  TAtom* const lastValue = in.LastValue;
  TStackEntry values[kMaxFusedValues];
  size_t depth = 0;
  bool done = true;
  // A variable among the values (a literal, one read, a routine's answer)
  // brings its members along: no call takes it by value, nor the store.
  for (size_t i = 0; done && i < valueOps; ++i) {
    const TFastOp& op = ops[i];
    if (op.SpanStart != kNoSpan) {
      current.StartPos = op.SpanStart;
      current.EndPos = op.SpanEnd;
    }
    switch (op.Kind) {
      case foPush:
        values[depth++] = {AtomThroughSlot(s, atoms[i], op.Operand), current.StartPos, current.EndPos};
        done = !TAtom::IsVariable(values[depth - 1].Value);
        break;
      case foQuote:
        in.LastValue = AtomThroughSlot(s, atoms[i], op.Operand);
        values[depth++] = {in.LastValue, current.StartPos, current.EndPos};
        done = !TAtom::IsVariable(in.LastValue);
        break;
      case foValueOf: {
        TAtom* name = AtomThroughSlot(s, atoms[i], op.Operand);
        const TAtom* variable = TAtom::IsWord(name) ? s.FindNameOfToken(*name) : nullptr;
        done = variable != nullptr && variable->FirstChild == nullptr && !TAtom::IsVariable(variable->Left);
        if (done) values[depth++] = {variable->Left, current.StartPos, current.EndPos};
        break;
      }
      case foCounter:
        values[depth++] = {NewNumber(s, static_cast<long double>(op.Operand == 1 ? s.WhileCounter : s.RepeatCounter)),
                           current.StartPos, current.EndPos};
        break;
      case foCall:
        done = FusedCall(in, op, code, values, depth, stepStamp) &&
               !TAtom::IsVariable(values[depth - 1].Value);
        break;
      default:
        done = false;
        break;
    }
  }
  TAtom* const value = done && depth == 1 ? values[0].Value : nullptr;
  if (!done || depth != 1) {
    current.StartPos = start;
    current.EndPos = end;
    in.StatementCounter = statements;
    in.LastValue = lastValue;
    return false;
  }
  if (value == SystemValue) target.Stores = false;  // as FindPlainStore decides for it
  StorePlain(in, target, value);
  in.LastValue = target.Variable;
  return true;
}

// A fused step declining this often in a row (its call finds a user
// procedure, say) is tried again only now and then.
constexpr uint32_t kFusedDeclinesBeforeRest = 8;
constexpr uint32_t kFusedRetryInterval = 64;

inline bool WorthFusedTry(const TFusedMake& make) {
  return make.Declines < kFusedDeclinesBeforeRest || make.Declines % kFusedRetryInterval == 0;
}

// A Numeric fused MAKE, its number atom reused as RunFusedMakes tells; its
// plan is made only here. False, with nothing done, where a check declines.
inline bool RunNumericFusedMake(TInterpreter& in, const TFastCode& fast, const TFusedMake& make,
                                const std::vector<int32_t>& code, bool onlyStatement, uint32_t perRound) {
  TStructure& s = in.S;
  TFusedPlan plan;
  if (!PlanFusedMake(in, fast, make, code, plan)) return false;
  PrepareOwnArithmetic(s);
  const long double result = ApplyFused(plan.Operation, plan.First, plan.Second);
  TAtom* value = OwnStoredNumber(make, plan.Target);
  if (value != nullptr && onlyStatement && in.RoundSerial == make.StoredRound + 1 &&
      in.StatementCounter == make.StoredStatements + perRound && in.EscapeCount == make.StoredEscapes)
    value->Number = result;
  else
    value = NewNumber(s, result);
  ++in.StatementCounter;  // the wrapper body's statement
  StorePlain(in, plan.Target, value);
  if (plan.Target.Stores) {
    make.Stored = value;
    make.StoredStamp = value->Stamp;
    make.StoredRound = in.RoundSerial;
    make.StoredStatements = in.StatementCounter;
    make.StoredEscapes = in.EscapeCount;
  }
  in.LastValue = plan.Target.Variable;
  return true;
}

// Runs the fused MAKEs of a statement made of them (TFusedMake), each as one
// step with the effects its superinstructions have: the wrappers'
// statements counted, the result stored by the plain store, the variable
// left in LastValue, the range the pop leaves. Returns how many ran; the
// first that would decline or do more runs none of its effects, and its
// superinstructions take over.
//
// The number atom a Numeric instruction stored last gets the new value
// instead of a new atom when nobody else can hold it: the statement is the
// only one of a loop's list, it ran in the round before this one, and
// since then nothing else counted a statement, nothing escaped, nothing
// pinned the atom, and the variable still holds it.
// The statement's plan ran its first done MAKEs (planStands: it stood).
[[gnu::noinline]] size_t RunFusedMakes(TInterpreter& in, const TFastCode& fast, const std::vector<int32_t>& code,
                     const TAtom* statement, size_t done, bool planStands) {
  const uint32_t perRound = static_cast<uint32_t>(fast.Fused.size());  // counts between two runs of one
  const bool onlyStatement = in.RoundsList == statement;
  for (; done < fast.Fused.size(); ++done) {
    const TFusedMake& make = fast.Fused[done];
    if (!make.Numeric || !RunNumericFusedMake(in, fast, make, code, onlyStatement, perRound)) {
      // Only steps that read numbers by value may run between two runs of
      // one that gives its atom a new value: any other could store that
      // atom elsewhere, so every instruction forgets its atom.
      for (const TFusedMake& other : fast.Fused) other.Stored = nullptr;
      if (!WorthFusedTry(make) || !RunFusedValueMake(in, fast, make, code)) {
        ++make.Declines;
        break;
      }
      make.Declines = 0;
    }
    EndFusedMake(in, make);
  }
  if (done == fast.Fused.size() && !planStands && WorthPlanning(fast)) PlanFusedStatement(in, fast, code);
  if (done == fast.Fused.size()) EndFusedStatement(in, fast);
  return done;
}

// A loop's list of statements made only of fused MAKEs (at most
// kMaxFusedMakes of them), each of which stored a number atom of its own
// in the round just run, nothing else running meanwhile (each commit at
// the statement count the list gives it, no escape since): until the next
// pump point the rounds that follow run no program code and change
// nothing but those numbers and the counters. They run here as a tight
// loop on the numbers, each computed as the fused step computes it; the
// atoms take their last values.
constexpr size_t kMaxFusedMakes = 4;

struct TFusedRoundSlot {
  const TFusedMake* Memo = nullptr;
  TAtom* Number = nullptr;     // the atom the instruction stores
  uint32_t Offset = 0;         // its commit's statement count within a round
  FusedOperation Operation = kFusedSum;
  long double First = 0;       // input 2 when constant
  long double Second = 0;      // input 1 when constant
  int FirstFrom = -1;          // the slot whose number input 2 is; -1: constant
  int SecondFrom = -1;
};
using TFusedRoundSlots = std::array<TFusedRoundSlot, kMaxFusedMakes>;

// The slot whose instruction stores into the variable; -1 for none.
int SlotStoringInto(const TFusedRoundSlots& slots, size_t count, const TAtom* variable) {
  for (size_t i = 0; i < count; ++i)
    if (variable != nullptr && slots[i].Number == variable->Left) return static_cast<int>(i);
  return -1;
}

// Fills the slots from the list's statements (perRound: the statement
// counts of one round); false where the rounds must run the ordinary way.
bool PlanFusedRounds(TInterpreter& in, const TAtom* list, TFusedRoundSlots& slots, size_t& count,
                     uint32_t& perRound) {
  TStructure& s = in.S;
  std::array<TFusedPlan, kMaxFusedMakes> plans;
  count = 0;
  perRound = 0;
  for (const TAtom* cell = list; cell != nullptr;) {
    if (!IsAtom(cell) || cell->Left == nullptr) return false;
    const TFastCode* fast = FastCodeOf(in, *cell);
    if (fast == nullptr || fast->Fused.empty()) return false;
    ++perRound;  // the statement
    for (const TFusedMake& make : fast->Fused) {
      if (count == kMaxFusedMakes || !make.Numeric || !PlanFusedMake(in, *fast, make, *cell->Code(), plans[count])) return false;
      const TPlainStore& target = plans[count].Target;
      // A local's store counts as an escape each time.
      if (IsAtom(target.Variable->Parent) && (target.Variable->Parent->Flags & afFrame) != 0) return false;
      TAtom* number = OwnStoredNumber(make, target);
      if (number == nullptr || make.StoredRound != in.RoundSerial || make.StoredEscapes != in.EscapeCount)
        return false;
      slots[count].Memo = &make;
      slots[count].Number = number;
      slots[count].Offset = ++perRound;  // the wrapper's statement
      ++count;
    }
    cell = s.AtomById(static_cast<uint32_t>(fast->Ops.back().Operand));
  }
  if (count == 0) return false;
  // Each instruction committed last at its place in the round just run.
  for (size_t i = 0; i < count; ++i)
    if (slots[i].Memo->StoredStatements != in.StatementCounter - perRound + slots[i].Offset) return false;
  for (size_t i = 0; i < count; ++i) {
    slots[i].Operation = plans[i].Operation;
    slots[i].First = plans[i].First;
    slots[i].Second = plans[i].Second;
    slots[i].FirstFrom = SlotStoringInto(slots, count, plans[i].FirstVariable);
    slots[i].SecondFrom = SlotStoringInto(slots, count, plans[i].SecondVariable);
  }
  return true;
}

}  // namespace

bool RunFusedRounds(TInterpreter& in, const TAtom* list, int64_t& rounds, int64_t& iteration) {
  TStructure& s = in.S;
  if (!IsAtom(list)) return true;
  // Most lists are not of that kind: their first statement tells.
  const TFastCode* first = FastCodeOf(in, *list);
  if (first == nullptr) return true;
  if (first->Fused.empty() || !first->Fused.front().Numeric) return false;
  if (rounds <= 0 || in.ResultAtom != SystemValue || in.StopFlag || in.SceneDirty ||
      !NothingDueBeforeNextStatement(in) || s.AllocationCount >= s.CollectorLimits.Threshold || s.Frame() == nullptr)
    return true;
  TFusedRoundSlots slots;
  size_t makes = 0;
  uint32_t perRound = 0;
  if (!PlanFusedRounds(in, list, slots, makes, perRound)) return true;

  PrepareOwnArithmetic(s);
  std::array<long double, kMaxFusedMakes> numbers{};
  for (size_t i = 0; i < makes; ++i) numbers[i] = slots[i].Number->Number;
  // The round after which the repeat pumps, and the round with a
  // statement count that pumps, run the ordinary way.
  const int64_t beforeRepeatPump = kRepeatPumpInterval - 1 - iteration % kRepeatPumpInterval;
  const int64_t beforeStatementPump = (kPumpInterval - 1 - in.StatementCounter % kPumpInterval) / perRound;
  const int64_t limit = std::min(beforeRepeatPump, beforeStatementPump);
  int64_t fused = 0;
  for (; fused < limit && rounds > 0; ++fused, --rounds) {
    for (size_t i = 0; i < makes; ++i) {
      const TFusedRoundSlot& slot = slots[i];
      const long double first = slot.FirstFrom < 0 ? slot.First : numbers[static_cast<size_t>(slot.FirstFrom)];
      const long double second = slot.SecondFrom < 0 ? slot.Second : numbers[static_cast<size_t>(slot.SecondFrom)];
      numbers[i] = ApplyFused(slot.Operation, first, second);
    }
  }
  if (fused == 0) return true;
  const uint32_t counter = in.StatementCounter + static_cast<uint32_t>(fused) * perRound;
  for (size_t i = 0; i < makes; ++i) {
    slots[i].Number->Number = numbers[i];
    slots[i].Memo->StoredStatements = counter - perRound + slots[i].Offset;
  }
  in.StatementCounter = counter;
  iteration += fused;
  s.RepeatCounter = iteration;
  return true;
}

namespace {

// Pins an atom from the first Hold on until the scope ends.
class LatePin {
public:
  LatePin() = default;
  ~LatePin() { TAtom::DecRef(atom_); }
  LatePin(const LatePin&) = delete;
  LatePin& operator=(const LatePin&) = delete;
  void Hold(TAtom* atom) {
    if (atom_ != nullptr) return;
    atom_ = atom;
    TAtom::IncRef(atom_);
  }

private:
  TAtom* atom_ = nullptr;
};

// A statement whose superinstructions make its user calls in place, pinned
// from the first call on, and its code generation. PastCall: the code was
// compiled again in a call, or stepping began: the words go on past it.
struct TCallsInPlace {
  TAtom* Statement;
  LatePin& Pin;
  uint32_t Generation;
  bool PastCall = false;
};

// A foCall's user call, made and tested after as by the word loop; false where the
// operations stop: it ended the statement, or PastCall (stack: the caller's operands).
// The tests after a call made in place: false where the operations stop
// (the call ended the statement, or PastCall).
[[gnu::always_inline]] inline bool GoOnAfterCallInPlace(TInterpreter& in, TCallsInPlace& calls, const TStack& stack) {
  if (in.ResultAtom != SystemValue || in.StopFlag || in.S.HaltRequested || in.RunState == rsStop) return false;
  calls.PastCall = TAtom::CodeGeneration(*calls.Statement) != calls.Generation || Stepping(in) ||
                   in.S.Frame() == nullptr || &in.S.Frame()->Stack != &stack;
  return !calls.PastCall;
}

// The user call of a foCall whose inputs are all held, in a kept frame of
// the procedure that takes them from there; the result held in their place.
// False where the call takes the usual way, the operands flushed for it.
// made: whether the call was made here (then a false answer means the
// operations stop, as for CallInPlace, with the operands flushed).
[[gnu::always_inline]] inline bool CallHeldInPlace(TInterpreter& in, const TFastOp& site,
                                                   const std::vector<int32_t>& code, TCallsInPlace& calls,
                                                   TAtom& procedure, TFastStack& operands, bool& made) {
  const size_t count = static_cast<size_t>(site.SiteInputCount);
  made = false;
  if (operands.Depth() < count) return false;
  calls.Pin.Hold(calls.Statement);  // the call may drop the list the statement is in
  // What the call must not find unpinned goes onto the frame's stack; the
  // inputs go into the frame's cells.
  operands.FlushBelow(count);
  TStackEntry result;
  if (!CallKeptFrameWithInputs(in, procedure, site.SiteName, site.SiteInputCount, code.data() + site.Operand + 2,
                               operands.Top(0), result))
    return false;
  made = true;
  operands.Drop(count);
  operands.Push(result.Value, result.StartPos, result.EndPos);
  if (GoOnAfterCallInPlace(in, calls, operands.Frame())) return true;
  operands.Flush();
  return false;
}

// The user call of a foCall the usual way, its operands on the frame's stack.
[[gnu::always_inline]] inline bool CallInPlace(TInterpreter& in, const TFastOp& site, const std::vector<int32_t>& code,
                                               TCallsInPlace& calls, TAtom& procedure, const TStack& stack) {
  calls.Pin.Hold(calls.Statement);  // the call may drop the list the statement is in
  CallFoundProcedureAt(in, procedure, site.SiteName, site.SiteInputCount, code.data() + site.Operand + 2);
  return GoOnAfterCallInPlace(in, calls, stack);
}

// Runs the superinstructions from index on. True when the statement ended
// (next: the next statement's cell); false with index on the one whose
// words the loop must run (or past the last one), or, with userCall set,
// on a call of that user procedure, which the caller makes (the range's
// position and the operands are in place); with calls, made in place.
bool RunFastCode(TInterpreter& in, const TFastCode& fast, const std::vector<int32_t>& code, size_t& index,
                 TAtom*& next, TAtom*& userCall, TCallsInPlace* calls = nullptr) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  TFastStack operands(Stack(in));
  // The index and the ops' storage in registers: the calls below could
  // otherwise change either as far as the compiler knows.
  const TFastOp* const ops = fast.Ops.data();
  const size_t size = fast.Ops.size();
  size_t at = index;
  // The range as the ops set it, held here and stored into the position
  // before anything that may read the position (a routine, a user call, a
  // store, a branch, the end of the ops); pushes and reads of a variable
  // take it from here.
  int32_t start = current.StartPos;
  int32_t end = current.EndPos;
  auto storeRange = [&current, &start, &end] {
    current.StartPos = start;
    current.EndPos = end;
  };
  auto loadRange = [&current, &start, &end] {
    start = current.StartPos;
    end = current.EndPos;
  };
  // Each case goes on with the next op, ends the statement or falls out of
  // the switch where the op declines.
  for (; at < size; ++at) {
    const TFastOp& op = ops[at];
    const int32_t oldStart = start;
    const int32_t oldEnd = end;
    if (op.SpanStart != kNoSpan) {
      start = op.SpanStart;
      end = op.SpanEnd;
    }
    switch (op.Kind) {
      case foPush:
        operands.Push(AtomThroughSlot(s, op.OperandAtom, op.Operand), start, end);
        continue;
      case foQuote: {
        TAtom* literal = AtomThroughSlot(s, op.OperandAtom, op.Operand);
        in.LastValue = literal;
        operands.Push(literal, start, end);
        continue;
      }
      case foValueOf:
        if (FastValueOf(in, operands, AtomThroughSlot(s, op.OperandAtom, op.Operand), start, end)) continue;
        break;
      case foPairCall:
        // Else the three ops run one by one; nothing was done.
        if (RunPairCall(in, operands, op, code, start, end)) at += 3;
        continue;
      case foCall:
        storeRange();
        if (FastCall(in, operands, op, code, userCall)) {
          loadRange();
          continue;
        }
        if (userCall == nullptr) break;
        if (calls != nullptr) {
          bool made = false;
          if (CallHeldInPlace(in, op, code, *calls, *userCall, operands, made)) {
            userCall = nullptr;
            loadRange();
            continue;
          }
          operands.Flush();
          if (made) {
            userCall = nullptr;
          } else if (CallInPlace(in, op, code, *calls, *std::exchange(userCall, nullptr), operands.Frame())) {
            loadRange();
            continue;
          }
        } else {
          operands.Flush();
        }
        index = at;
        next = nullptr;
        return calls != nullptr && !calls->PastCall;  // ended by the call
      case foMake:
        storeRange();
        if (FastMake(in, operands)) {
          loadRange();
          continue;
        }
        break;
      case foCounter:
        operands.Push(NewNumber(s, static_cast<long double>(op.Operand == 1 ? s.WhileCounter : s.RepeatCounter)),
                      start, end);
        continue;
      case foPop:
        if (operands.Depth() > 0) {
          const TStackEntry top = operands.Pop();
          in.LastValue = top.Value;
          start = top.StartPos;
          end = top.EndPos;
        } else {
          storeRange();
          PopToPosition(in);
          loadRange();
        }
        continue;
      case foEnd:
        storeRange();
        operands.Flush();
        next = AtomThroughSlot(s, op.OperandAtom, op.Operand);
        index = at;
        return true;
      case foOutput:
        storeRange();
        // The value's pop; what it leaves on the stack is never read.
        if (operands.Depth() > 0) {
          in.LastValue = operands.Pop().Value;
        } else {
          in.LastValue = Pop(in).Value;
        }
        in.ResultAtom = in.LastValue;
        in.StopFlag = true;
        operands.Flush();
        next = nullptr;
        index = at;
        return true;
      case foStop:
        storeRange();
        in.ResultAtom = SystemValue;
        in.StopFlag = true;
        operands.Flush();
        next = nullptr;
        index = at;
        return true;
      case foIf:
        storeRange();
        if (!FastIf(in, operands, op)) break;
        if (in.ResultAtom != SystemValue || in.StopFlag) {
          // The branch ended the body (FastIf left the operands on the
          // frame's stack): the loop's next stop test ends the statement.
          next = nullptr;
          index = at;
          return true;
        }
        loadRange();
        continue;
      case foGeneral:
        break;
    }
    // Declined: the loop runs the op's words from where the position was.
    current.StartPos = oldStart;
    current.EndPos = oldEnd;
    operands.Flush();
    index = at;
    return false;
  }
  storeRange();
  operands.Flush();
  index = at;
  return false;
}

}  // namespace


TAtom* FramelessWrapperOf(TInterpreter& in, const TFastOp& op, const std::vector<int32_t>& code, int32_t& routine,
                          int32_t& line, int32_t& inputs) {
  TFramelessTarget target;
  if (!FindFramelessTarget(in, op, code, target) || target.WrappedRoutine < 0) return nullptr;
  routine = target.WrappedRoutine;
  line = target.Line;
  inputs = target.InputCount;
  return target.Procedure;
}

bool TryRoutineOnOperands(TInterpreter& in, TPrimitive routine, const TStackEntry* inputs, int32_t inputCount,
                          int32_t line, TAtom*& result) {
  return TryRoutine(in, routine, inputs, inputCount, line, result);
}

// ocNative / ocPrimitive: calls a bound routine with a clean floating-point
// environment and pushes its result. A failure of the routine other than a
// language error becomes a language error here.
void CallBoundRoutine(TInterpreter& in, int32_t index, bool outside) {
  TStructure& s = in.S;
  if (index < 0 || static_cast<size_t>(index) >= in.Routines.size() || !in.Routines[static_cast<size_t>(index)]) {
    RaiseInternalError(s, u"TRANS:ROUTINE");
    YieldNothing(in, 0);
    return;
  }
  PrepareFloatingPoint(s, outside);
  const size_t slot = static_cast<size_t>(index);
  if (slot >= in.RoutineKeepsNoCells.size() || !in.RoutineKeepsNoCells[slot]) in.NoteEscape();
  TAtom* result = nullptr;
  bool failed = false;
  std::u16string failure;
  try {
    result = in.Routines[static_cast<size_t>(index)](in);
    s.FloatingPointModesChecked = false;  // whatever it ran may have changed them
  } catch (const LanguageError&) {
    s.FloatingPointModesChecked = false;
    throw;
  } catch (const std::exception& e) {
    s.FloatingPointModesChecked = false;
    failed = true;
    failure = Utf8ToUtf16(e.what());
  }
  if (failed) {
    // Raised outside the handler, once the routine's exception is gone.
    RaiseInternalError(s, failure);
    YieldNothing(in, 0);
    return;
  }
  Push(in, result);
}

// --- the loop --------------------------------------------------------------------------

namespace {

// After a superinstruction declined at fastIndex: the loop runs its words
// (up to resumeAt) and comes back to the next one; past the last one the
// rest of the code runs word by word.
inline void ResumeWordsAfterDecline(const TFastCode*& fast, size_t& fastIndex, TCodeCursor& cursor,
                                    size_t& resumeAt) {
  if (fastIndex < fast->Ops.size()) {
    cursor.Index = static_cast<size_t>(fast->Ops[fastIndex].From);
    resumeAt = static_cast<size_t>(fast->Ops[fastIndex].To);
    ++fastIndex;
  } else {
    if (!fast->Ops.empty()) cursor.Index = static_cast<size_t>(fast->Ops.back().To);
    fast = nullptr;
  }
}

// The words' cursor past the user call of the superinstruction at
// fastIndex; the superinstructions go on with the next one once the loop's
// stop test has passed.
inline void SkipPastCall(const TFastCode& fast, size_t& fastIndex, TCodeCursor& cursor, size_t& resumeAt) {
  cursor.Index = static_cast<size_t>(fast.Ops[fastIndex].To);
  resumeAt = cursor.Index;
  ++fastIndex;
}

// The user call that the superinstruction at fastIndex found: made as its
// words would make it, but with the procedure found.
inline void CallFromFastCode(TInterpreter& in, const TFastCode& fast, size_t& fastIndex, TCodeCursor& cursor,
                             size_t& resumeAt, TAtom& procedure) {
  TCodeCursor operands(cursor.Code, static_cast<size_t>(fast.Ops[fastIndex].Operand));
  SkipPastCall(fast, fastIndex, cursor, resumeAt);
  CallFoundProcedure(in, procedure, operands);
}

// The statement's code word by word, the superinstructions taking the
// ranges they can; declined: the superinstructions whose short way
// (started by Interpret) declined at declinedAt, null when it has not run;
// userCall: the procedure that superinstruction calls, when it is a call
// that runs program code; pastCall: Interpret made that call already;
// whileAtStart: the WHILE state when Interpret began the statement.
TAtom* InterpretWords(TInterpreter& in, TAtom* statement, bool quiet, const TFastCode* declined, size_t declinedAt,
                      TAtom* userCall, const TWhileState* whileAtStart = nullptr, bool pastCall = false) {
  CheckStack(in);
  InterpretScope scope = whileAtStart != nullptr ? InterpretScope(in, *whileAtStart) : InterpretScope(in);
  if (!IsAtom(statement) || TAtom::CodeCount(*statement) == 0) {
    scope.Complete();
    return nullptr;
  }
  TStructure& s = in.S;
  if (s.Frame() == nullptr) {
    // Every run entry works inside the root frame at least.
    RaiseInternalError(s, u"TRANS:FRAME");
    scope.Complete();
    return nullptr;
  }
  // The statement's code must outlive this call even when the program drops
  // the list it belongs to while the statement runs.
  const PinnedAtom pinStatement(statement);
  // The cursor stays local (the compiler keeps it in registers): opcodes
  // that read their own operands get a copy and hand back where it ended.
  TCodeCursor cursor{statement->Code(), 0};
  auto withCursor = [&cursor](auto&& op) {
    TCodeCursor copy(cursor.Code, cursor.Index);  // field by field: no wide load of just-stored fields
    op(copy);
    cursor.Index = copy.Index;
  };
  int64_t whileSaved = 0;  // the counter a WHILE started in this call put aside
  TAtom* next = nullptr;
  // The short way: superinstructions from fastIndex on, back to them once
  // the loop has run the words of the one that declined (up to resumeAt).
  const TFastCode* fast = declined != nullptr ? declined : FastCodeOf(in, *statement);
  const uint32_t fastGeneration = fast != nullptr ? fast->Generation : 0;
  size_t fastIndex = 0;
  size_t resumeAt = 0;
  if (declined != nullptr) {
    fastIndex = declinedAt;
    if (userCall != nullptr)
      CallFromFastCode(in, *fast, fastIndex, cursor, resumeAt, *userCall);
    else if (pastCall)
      SkipPastCall(*fast, fastIndex, cursor, resumeAt);
    else
      ResumeWordsAfterDecline(fast, fastIndex, cursor, resumeAt);
  }

  for (;;) {
    if (in.ResultAtom != SystemValue || in.StopFlag || s.HaltRequested || in.RunState == rsStop) break;
    cursor.Refresh();
  // The opcodes that only move operands or positions run no code: they
  // cannot end the statement, ask for a stop or change the code.
  nextWithoutStopTest:
    if (fast != nullptr && cursor.Index == resumeAt) {
      // Code compiled again meanwhile has other superinstructions, and a
      // stepping state pauses at the statement hooks.
      if (fast->Generation != fastGeneration || TAtom::CodeGeneration(*statement) != fastGeneration || Stepping(in)) {
        fast = nullptr;
      } else if (TAtom* called = nullptr; RunFastCode(in, *fast, *cursor.Code, fastIndex, next, called)) {
        scope.Complete();
        return next;
      } else if (called != nullptr) {
        CallFromFastCode(in, *fast, fastIndex, cursor, resumeAt, *called);
        continue;
      } else {
        ResumeWordsAfterDecline(fast, fastIndex, cursor, resumeAt);
      }
    }
    // Code is only ever cleared, never cut mid-instruction, while it runs;
    // running off its end ends the statement.
    if (cursor.AtEnd()) break;
    const int32_t op = cursor.Next();
    switch (op) {
      case ocPop:
        PopToPosition(in);
        goto nextWithoutStopTest;
      case ocPush:
        Push(in, s.AtomById(static_cast<uint32_t>(cursor.Next())));
        goto nextWithoutStopTest;
      case ocCall:
        withCursor([&](TCodeCursor& c) { CallUserProcedure(in, c); });
        break;
      case ocEnd:
        next = s.AtomById(static_cast<uint32_t>(cursor.Next()));
        scope.Complete();
        return next;
      case ocQuote:
        Push(in, Pop(in).Value);
        goto nextWithoutStopTest;
      case ocValueOf:
        OpValueOf(in);
        break;
      case ocPeriod:
        OpPeriod(in);
        break;
      case ocPrint:
        withCursor([&](TCodeCursor& c) { OpPrint(in, c, quiet); });
        break;
      case ocMake:
      case ocOb:
        withCursor([&](TCodeCursor& c) { OpAssign(in, c, op); });
        break;
      case ocRun:
        OpRun(in);
        break;
      case ocOutput:
        in.ResultAtom = Pop(in).Value;
        in.StopFlag = true;
        break;
      case ocStop:
        in.ResultAtom = SystemValue;
        in.StopFlag = true;
        break;
      case ocIfElse:
        OpIf(in, true);
        break;
      case ocIf:
        OpIf(in, false);
        break;
      case ocWhile: {
        const int32_t jump = cursor.Next();
        const std::u16string& keyword = s.Keyword(kwWhile);
        if (!s.InWhile) {
          whileSaved = s.WhileCounter;
          s.WhileCounter = 0;
          s.InWhile = true;
        }
        const Popped condition = Pop(in);
        const bool isTrue = TAtom::IsTrue(s, condition.Value);
        if (isTrue && !in.StopFlag) {
          ++s.WhileCounter;
          const Popped body = Pop(in);
          if (!TAtom::IsList(body.Value)) {
            RaiseInputError(in, u"bad-arg-while-list", BadArgMessage(s, 2, keyword), body.Value, body.Start, body.End);
            s.InWhile = false;
            s.WhileCounter = whileSaved;
            YieldNothing(in, 0);
            break;
          }
          RunList(in, body.Value);
          if (jump < 0 || static_cast<size_t>(jump) >= cursor.Code->size()) {
            RaiseInternalError(s, u"TRANS:WHILE");
            s.InWhile = false;
            s.WhileCounter = whileSaved;
            YieldNothing(in, 0);
            break;
          }
          // Back to the body's push: the condition is evaluated again.
          cursor.Index = static_cast<size_t>(jump);
          s.InWhile = true;
          if (in.StopFlag) {
            whileSaved = s.WhileCounter;
            s.WhileCounter = 0;
            s.InWhile = false;
          }
          break;
        }
        if (!isTrue && !TAtom::IsFalse(s, condition.Value)) {
          RaiseInputError(in, u"bad-arg-while-boolean", BadArgMessage(s, 1, keyword), condition.Value, condition.Start,
                          condition.End);
          s.InWhile = false;
          s.WhileCounter = whileSaved;
          YieldNothing(in, 1);
          break;
        }
        s.InWhile = false;
        s.WhileCounter = whileSaved;
        // The body list pushed at the jump index is still on the stack: drop
        // it, leaving LastValue (the condition that ended the loop) alone.
        Stack(in).Drop(1);
        Push(in, in.LastValue);
        break;
      }
      case ocRepeat:
        OpRepeat(in);
        break;
      case ocLocal:
        withCursor([&](TCodeCursor& c) { OpLocal(in, c, quiet); });
        break;
      case ocNative:
      case ocPrimitive:
        CallBoundRoutine(in, cursor.Next(), op == ocNative);
        break;
      case ocWhileCounter:
        Push(in, NewNumber(s, static_cast<long double>(s.WhileCounter)));
        break;
      case ocRepeatCounter:
        Push(in, NewNumber(s, static_cast<long double>(s.RepeatCounter)));
        break;
      case ocDump:
        // The arity word that follows (always 0) runs as a no-op.
        PrintToOutput(s, u"--DUMP--");
        PrintVariableTree(in);
        PrintToOutput(s, u"--------");
        Push(in, nullptr);
        break;
      case ocSpan:
        s.CurrentPosition.StartPos = cursor.Next();
        s.CurrentPosition.EndPos = cursor.Next();
        goto nextWithoutStopTest;
      case ocStatement:
        // Only the stepping states pause; every other state does nothing.
        if (in.RunState == rsRunCommand || in.RunState == rsRunStep || in.RunState == rsRunTo) StatementHook(in);
        break;
      default:
        // 0, 1, 6 to 8, 25, 27 to 29 and anything above 33: no-ops.
        break;
    }
  }
  scope.Complete();
  return nullptr;
}

}  // namespace

TAtom* Interpret(TInterpreter& in, TAtom* statement, bool quiet) {
  // A statement run from outside any other: the caller may have changed the
  // floating-point modes.
  if (in.InterpretDepth == 0) in.S.FloatingPointModesChecked = false;
  // The short way without the word loop's set-up: the superinstructions run
  // no program code and collect nothing, so the statement needs no pin
  // while they run; the stop state is tested as the loop tests it first.
  const TFastCode* fast = IsAtom(statement) ? FastCodeToRun(in, *statement) : nullptr;
  if (fast == nullptr || in.ResultAtom != SystemValue || in.StopFlag || in.S.HaltRequested ||
      in.RunState == rsStop || in.S.Frame() == nullptr || TAtom::CodeCount(*statement) == 0)
    return InterpretWords(in, statement, quiet, nullptr, 0, nullptr);
  return InterpretFastCode(in, statement, *fast, quiet);
}

namespace {

// With stackChecked the caller (a statement list's loop) checked the stack
// just above this frame, and the statement's own check would find the same.
template <bool stackChecked = false>
[[gnu::noinline]] TAtom* InterpretFastCodeFrom(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet,
                                               size_t planned, bool planStands) {
  // The fused steps call nothing that could nest or read the depth.
  TAtom* next = nullptr;
  size_t declinedAt = 0;
  if (!fast.Fused.empty()) {
    const size_t done = RunFusedMakes(in, fast, *statement->Code(), statement, planned, planStands);
    if (done == fast.Fused.size()) return AtomThroughSlot(in.S, fast.FusedNext, fast.Ops.back().Operand);
    declinedAt = static_cast<size_t>(fast.Fused[done].FirstOp);
  }
  TAtom* userCall = nullptr;
  TWhileState atStart{};
  bool pastCall = false;
  {
    if constexpr (!stackChecked) CheckStack(in);
    InterpretScope scope(in);
    LatePin pin;
    TCallsInPlace calls{statement, pin, fast.Generation};
    const bool ended = RunFastCode(in, fast, *statement->Code(), declinedAt, next, userCall, &calls);
    scope.Complete();
    if (ended) return next;
    atStart = scope.AtStart();
    pastCall = calls.PastCall;
  }
  return InterpretWords(in, statement, quiet, &fast, declinedAt, nullptr, &atStart, pastCall);
}

}  // namespace

TAtom* InterpretPastPlan(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet, size_t planned,
                         bool planStands) {
  return InterpretFastCodeFrom(in, statement, fast, quiet, planned, planStands);
}

TAtom* InterpretFastCode(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet) {
  return fast.Plan != nullptr ? RunPlannedStatement(in, statement, fast, quiet)
                              : InterpretFastCodeFrom(in, statement, fast, quiet, 0, false);
}

TAtom* InterpretListStatement(TInterpreter& in, TAtom* statement, const TFastCode& fast) {
  return fast.Plan != nullptr ? RunPlannedStatement(in, statement, fast, false)
                              : InterpretFastCodeFrom<true>(in, statement, fast, false, 0, false);
}
