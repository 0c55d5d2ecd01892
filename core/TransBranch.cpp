// IF on the short way: a branch (or a procedure's body) that is
// a list of one statement whose superinstructions only push, read
// variables and end it (OUTPUT, STOP, the end of the list), as "[output
// :n]", runs without RunCode and ExecuteStatement around it: nothing they
// do around such a statement can be seen once the list has run (its
// position is put back, it raises nothing, runs no code, collects nothing
// and leaves no operand), except the statement's count, which it keeps.
// Anything else, or something due before the next statement, declines
// having done nothing.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Atoms.h"
#include "core/Expr.h"
#include "core/Trans.h"
#include "core/TransFused.h"
#include "core/TransShortWay.h"

namespace {

constexpr size_t kBranchOperands = 8;

// The operands of a branch's statement while it runs the short way.
struct TBranchOperands {
  TStackEntry Entries[kBranchOperands];
  size_t Depth = 0;
};

// The branch's superinstructions; false where one is of another kind or
// declines, the list holds more statements, or operands are left.
bool RunBranchOps(TInterpreter& in, const TFastCode& fast, TBranchOperands& held, TAtom*& next) {
  TStructure& s = in.S;
  TPosition& current = s.CurrentPosition;
  for (const TFastOp& op : fast.Ops) {
    if (op.SpanStart != kNoSpan) {
      current.StartPos = op.SpanStart;
      current.EndPos = op.SpanEnd;
    }
    switch (op.Kind) {
      case foPush:
      case foQuote: {
        if (held.Depth == kBranchOperands) return false;
        TAtom* literal = AtomThroughSlot(s, op.OperandAtom, op.Operand);
        if (op.Kind == foQuote) in.LastValue = literal;
        held.Entries[held.Depth++] = {literal, current.StartPos, current.EndPos};
        break;
      }
      case foValueOf: {
        TAtom* name = AtomThroughSlot(s, op.OperandAtom, op.Operand);
        if (held.Depth == kBranchOperands || !TAtom::IsWord(name)) return false;
        const TAtom* variable = s.FindNameOfToken(*name);
        if (variable == nullptr || variable->FirstChild != nullptr) return false;
        in.LastValue = name;
        held.Entries[held.Depth++] = {variable->Left, current.StartPos, current.EndPos};
        break;
      }
      case foPop:
        if (held.Depth == 0) return false;
        in.LastValue = held.Entries[--held.Depth].Value;
        break;
      case foOutput:
        if (held.Depth == 0) return false;
        in.LastValue = held.Entries[--held.Depth].Value;
        in.ResultAtom = in.LastValue;
        in.StopFlag = true;
        next = nullptr;
        return held.Depth == 0;
      case foStop:
        in.ResultAtom = SystemValue;
        in.StopFlag = true;
        next = nullptr;
        return held.Depth == 0;
      case foEnd:
        next = AtomThroughSlot(s, op.OperandAtom, op.Operand);
        return held.Depth == 0 && (!IsAtom(next) || next->Left == nullptr);  // the list's last statement
      default:
        return false;
    }
  }
  return false;
}

// Whether the statement's superinstructions are all of the kinds a branch
// of the short way runs, up to the one that ends it; a body's statement of
// other kinds (calls, IF) is not tried, since it would be given up late.
bool OnlyBranchOps(const TFastCode& fast) {
  for (const TFastOp& op : fast.Ops) {
    switch (op.Kind) {
      case foPush:
      case foQuote:
      case foValueOf:
      case foPop:
        break;
      case foOutput:
      case foStop:
      case foEnd:
        return true;
      default:
        return false;
    }
  }
  return false;
}

// Nothing due before the branch's statement (see the file's head).
inline bool BranchMayRun(const TInterpreter& in) {
  const TStructure& s = in.S;
  return NothingDueBeforeNextStatement(in) && s.AllocationCount < s.CollectorLimits.Threshold && s.Frame() != nullptr;
}

// The list's superinstructions when they may run the short way, else null.
const TFastCode* BranchFastCode(const TInterpreter& in, const TAtom* list) {
  if (!IsAtom(list) || list->Kind != akList || list->Left == nullptr || TAtom::CodeCount(*list) == 0 ||
      !BranchMayRun(in))
    return nullptr;
  return FastCodeOf(in, *list);
}

// RunBranchShortWay once the list's entry tests held.
bool RunBranchFastCode(TInterpreter& in, const TFastCode& fast) {
  TStructure& s = in.S;
  CheckStack(in);  // RunCode's
  TPosition& current = s.CurrentPosition;
  const int32_t start = current.StartPos;
  const int32_t end = current.EndPos;
  TAtom* const lastValue = in.LastValue;
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  in.LastValue = nullptr;
  TBranchOperands held;
  TAtom* next = nullptr;
  const bool ran = RunBranchOps(in, fast, held, next);
  if (!ran) {
    in.LastValue = lastValue;
    in.ResultAtom = SystemValue;
    in.StopFlag = false;
  } else {
    ++in.StatementCounter;
    in.CodePointer = next;
  }
  current.StartPos = start;
  current.EndPos = end;
  return ran;
}

// Whether a branch's statement that ran is one value's OUTPUT (value: the
// op that gives it) or a STOP (value: null), which RunRememberedBranch
// runs the same way.
bool RemembersAs(const TFastCode& fast, const TFastOp*& value) {
  const std::vector<TFastOp>& ops = fast.Ops;
  if (ops.empty()) return false;
  if (ops[0].Kind == foStop) {
    value = nullptr;
    return true;
  }
  const FastOpKind kind = ops[0].Kind;
  if ((kind != foPush && kind != foQuote && kind != foValueOf) || ops.size() < 2 || ops[1].Kind != foOutput)
    return false;
  value = &ops[0];
  return true;
}

// The branch its IF remembers, as RunBranchFastCode runs it: the ranges
// its ops set are put back before anything reads them, and OUTPUT's value
// is the last value, so neither is written.
bool RunRememberedBranch(TInterpreter& in, const TFastOp& site) {
  TStructure& s = in.S;
  if (site.BranchDeclines || !BranchMayRun(in)) return false;
  TAtom* value = nullptr;
  if (const TFastOp* op = site.BranchValue) {
    value = AtomThroughSlot(s, op->OperandAtom, op->Operand);
    if (op->Kind == foValueOf) {
      if (!TAtom::IsWord(value)) return false;
      const TAtom* variable = s.FindNameOfToken(*value);
      if (variable == nullptr || variable->FirstChild != nullptr) return false;
      value = variable->Left;
    }
  }
  CheckStack(in);  // RunCode's
  in.LastValue = value;
  in.ResultAtom = site.BranchValue != nullptr ? value : SystemValue;
  in.StopFlag = true;
  ++in.StatementCounter;
  in.CodePointer = nullptr;
  return true;
}

// RunIfBranchShortWay's branch that its IF does not remember: it runs
// the usual way and is remembered for the next time when it can be.
[[gnu::noinline]] bool RunAndRememberBranch(TInterpreter& in, TAtom* list, const TFastOp& site) {
  const TFastCode* fast = BranchFastCode(in, list);
  if (fast == nullptr) return false;
  auto remember = [&site, list](const TFastOp* value, bool declines) {
    site.Branch = list;
    site.BranchStamp = list->Stamp;
    site.BranchCode = TAtom::CodeGeneration(*list);
    site.BranchValue = value;
    site.BranchDeclines = declines;
  };
  // RunBranchOps gives up on the first op of another kind, whatever runs.
  if (!OnlyBranchOps(*fast)) {
    remember(nullptr, true);
    return false;
  }
  if (!RunBranchFastCode(in, *fast)) return false;
  if (const TFastOp* value = nullptr; RemembersAs(*fast, value)) remember(value, false);
  return true;
}

}  // namespace

bool RunBranchShortWay(TInterpreter& in, TAtom* list) {
  const TFastCode* fast = BranchFastCode(in, list);
  return fast != nullptr && RunBranchFastCode(in, *fast);
}

bool RunIfBranchShortWay(TInterpreter& in, TAtom* list, const TFastOp& site) {
  // Branch is null until a list was remembered, and then a list atom.
  if (list == site.Branch && list != nullptr && list->Stamp == site.BranchStamp &&
      TAtom::CodeGeneration(*list) == site.BranchCode && list->Kind == akList && list->Left != nullptr) [[likely]]
    return RunRememberedBranch(in, site);
  return RunAndRememberBranch(in, list, site);
}

bool RunBodyShortWay(TInterpreter& in, TAtom* body) { return RunBranchShortWay(in, body); }

bool BodyMayRunShortWay(const TInterpreter& in, const TAtom& body) {
  // A body whose frames are kept has run: its superinstructions are made now.
  TAtom::Extension* ext = body.Ext.get();
  if (body.Kind != akList || ext == nullptr || !in.S.FastPaths) return false;
  const TFastCode* fast = FastCodeWhenAskedAgain(*ext, true);
  return fast != nullptr && OnlyBranchOps(*fast);
}
