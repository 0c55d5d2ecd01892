#pragma once
// What the short ways through a statement share: the statement's
// superinstructions as they stand, the operands they hold (TransInterpret.cpp
// runs them) and IF on the short way (TransBranch.cpp runs its branch).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Atoms.h"
#include "core/Expr.h"
#include "core/Trans.h"

// A stepping state, which pauses at every statement's hooks.
inline bool Stepping(const TInterpreter& in) {
  return in.RunState == rsRunCommand || in.RunState == rsRunStep || in.RunState == rsRunTo;
}

// The superinstructions of the statement's code as it is now, if they
// were made; null when the short way is off or a stepping state may pause
// at its hooks.
inline const TFastCode* FastCodeOf(const TInterpreter& in, const TAtom& statement) {
  const TAtom::Extension* ext = statement.Ext.get();
  if (ext == nullptr || !ext->Fast || ext->Fast->Generation != ext->CodeGeneration || !in.S.FastPaths || Stepping(in))
    return nullptr;
  return ext->Fast.get();
}

// The operands the superinstructions push, held in the call until the loop
// needs the frame's stack (a superinstruction declines, or finds its inputs
// there): the same entries, unpinned, since nothing collects meanwhile.
class TFastStack {
public:
  explicit TFastStack(TStack& stack) : stack_(stack) {}
  TStack& Frame() { return stack_; }
  size_t Depth() const { return depth_; }
  TStackEntry* Top(size_t count) { return entries_ + (depth_ - count); }
  void Push(TAtom* value, int32_t start, int32_t end) {
    if (depth_ == kEntries) Flush();
    entries_[depth_++] = {value, start, end};
  }
  void Drop(size_t count) { depth_ -= count; }
  TStackEntry Pop() { return entries_[--depth_]; }
  // Moves the held entries onto the frame's stack, in order (most
  // statements end holding none).
  void Flush() {
    if (depth_ != 0) MoveEntries();
  }
  // Flush for all but the top count entries, which stay held.
  void FlushBelow(size_t count) {
    if (depth_ == count) return;
    const size_t below = depth_ - count;
    for (size_t i = 0; i < below; ++i) stack_.Push(entries_[i].Value, entries_[i].StartPos, entries_[i].EndPos);
    for (size_t i = 0; i < count; ++i) entries_[i] = entries_[below + i];
    depth_ = count;
  }

private:
  [[gnu::noinline]] void MoveEntries() {
    for (size_t i = 0; i < depth_; ++i) stack_.Push(entries_[i].Value, entries_[i].StartPos, entries_[i].EndPos);
    depth_ = 0;
  }
  static constexpr size_t kEntries = 4;
  TStack& stack_;
  TStackEntry entries_[kEntries];
  size_t depth_ = 0;
};

// RunList(list) for a list of one statement whose superinstructions only
// push, read variables and end it (TransBranch.cpp); false, with nothing
// done, where it declines.
bool RunBranchShortWay(TInterpreter& in, TAtom* list);
// RunBranchShortWay for a branch of the IF at site, which remembers the
// branch it ran last (TFastOp::Branch): one value's OUTPUT or a STOP runs
// again without the list's superinstructions' loop, a list that never runs
// the short way declines at once.
bool RunIfBranchShortWay(TInterpreter& in, TAtom* list, const TFastOp& site);

// What TAtom::IsTrue and IsFalse tell of a condition, the truth atoms and
// the shared truth words told by address first, in the order they test
// them (a comparison's answer is a shared word).
enum class TCondition : uint8_t { kTrue, kFalse, kNeither };
inline TCondition ConditionOf(const TStructure& s, const TAtom* condition) {
  const TLanguage& language = s.Language;
  if (IsAtom(condition)) {
    if (condition == language.TrueAtom) return TCondition::kTrue;
    if (condition == language.FalseAtom) return TCondition::kFalse;
    if (condition == language.TrueWord && language.TrueWordIsTrue) return TCondition::kTrue;
    if (condition == language.FalseWord && language.FalseWordIsFalse) return TCondition::kFalse;
  }
  if (TAtom::IsTrue(s, condition)) return TCondition::kTrue;
  return TAtom::IsFalse(s, condition) ? TCondition::kFalse : TCondition::kNeither;
}

// ocIf / ocIfElse (site.Operand 1) when the chosen list is none (a false
// IF) or runs the short way; the inputs are the top entries, the condition
// on top. False, with nothing done, where it declines.
inline bool FastIf(TInterpreter& in, TFastStack& operands, const TFastOp& site) {
  TStructure& s = in.S;
  const bool withElse = site.Operand == 1;
  const size_t count = withElse ? 3 : 2;
  if (operands.Depth() < count) operands.Flush();
  const bool held = operands.Depth() >= count;
  const std::vector<TStackEntry>& items = operands.Frame().Items;
  if (!held && items.size() < count) return false;
  const TStackEntry* inputs = held ? operands.Top(count) : items.data() + (items.size() - count);
  const TCondition condition = ConditionOf(s, inputs[count - 1].Value);
  if (condition == TCondition::kTrue) {
    if (!RunIfBranchShortWay(in, inputs[count - 2].Value, site)) return false;
  } else if (condition == TCondition::kNeither) {
    return false;
  } else if (withElse) {
    if (!RunIfBranchShortWay(in, inputs[0].Value, site)) return false;
  } else {
    in.LastValue = SystemValue;  // a false IF runs nothing
  }
  if (held)
    operands.Drop(count);
  else
    operands.Frame().Drop(static_cast<int32_t>(count));
  if (in.ResultAtom != SystemValue || in.StopFlag) {
    // The branch ended the body: the operands go onto the frame's stack,
    // the IF's answer last, without a second move.
    operands.Flush();
    operands.Frame().Push(in.LastValue, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
  } else {
    operands.Push(in.LastValue, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
  }
  return true;
}
