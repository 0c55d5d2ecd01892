// Assignment (ocMake and ocOb): finds or creates the named variable, checks
// its locks and stores the value, then pushes the variable. OB assigns as
// MAKE; handler lists, change handlers, plans, definition and history
// records and display lists are not part of this store.

#include <string>

#include "core/Expr.h"
#include "core/Trans.h"

namespace {

bool IsSelfOrAncestor(const TAtom* candidate, const TAtom* of) {
  for (const TAtom* p = of; IsAtom(p); p = p->Parent)
    if (p == candidate) return true;
  return false;
}

// afSilent on the variable being stored (notifications of it and its
// descendants are held back meanwhile); cleared on every exit, also on the
// variable it was moved to when the value replaced it.
class SilentScope {
public:
  explicit SilentScope(TAtom* variable) : variable_(variable) { TAtom::SetFlag(variable_, afSilent, true); }
  ~SilentScope() {
    TAtom::SetFlag(variable_, afSilent, false);
    TAtom::SetFlag(replaced_, afSilent, false);
  }
  SilentScope(const SilentScope&) = delete;
  SilentScope& operator=(const SilentScope&) = delete;
  void Moved(TAtom* to) {
    replaced_ = variable_;
    variable_ = to;
  }

private:
  TAtom* variable_;
  TAtom* replaced_ = nullptr;
};

// The value is a variable atom (an object made by a call or a copy): it
// takes the target's place in the tree, with the target's name, flags and
// onchange child. Only an anonymous or detached variable moves; one that
// belongs to the tree elsewhere, or whose move would put the target or the
// frame inside itself, is copied first. Returns the variable now in the tree.
TAtom* ReplaceByVariable(TStructure& s, TAtom& target, TAtom& value) {
  TAtom* frameOwner = s.Frame() != nullptr ? s.Frame()->Owner : nullptr;
  const bool movable = (value.Parent == nullptr || value.Text == u"[~]") && (value.Flags & afFrame) == 0 &&
                       !IsSelfOrAncestor(&value, &target) && !IsSelfOrAncestor(&value, frameOwner);
  TAtom* replacement = &value;
  if (!movable) {
    replacement = NewVariable(s, target.Text, nullptr);
    TAtom::CopyInto(s, value, *replacement);
  }
  TAtom* parent = target.Parent;
  if (TAtom* change = target.ChangeChild()) TAtom::SetParent(s, *change, replacement);
  TAtom::Unlink(replacement);
  TAtom::Unlink(&target);
  TAtom::SetName(*replacement, target.Text);
  replacement->Flags = target.Flags;
  if (parent != nullptr) TAtom::SetParent(s, *replacement, parent);
  return replacement;
}

}  // namespace

void OpMake(TInterpreter& in, int32_t opcode, const TMakeInputs& inputs) {
  TStructure& s = in.S;
  if (s.Frame() == nullptr) {
    RaiseInternalError(s, u"TRANS:OPMAKE:FRAME");
    return;
  }
  const bool isOb = opcode == ocOb;
  auto yieldNothing = [&] { s.Frame()->Stack.Push(SystemValue, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos); };

  // The assignment counts as a call level; its inputs stay pinned.
  const RestoreOnExit<int32_t> depth(in.CallDepth, in.CallDepth + 1);
  PinnedAtom pinLeft(inputs.LeftList);
  PinnedAtom pinName(inputs.Name);
  PinnedAtom pinValue(inputs.Value);
  PinnedAtom pinRight(inputs.RightList);
  PinnedAtom pinFirst(inputs.FirstCell);
  PinnedAtom pinLast(inputs.LastCell);

  // The name.
  TAtom* name = inputs.Name;
  if (!TAtom::IsWordOrNumber(name)) {
    std::u16string dump;
    TAtom::DumpTree(s, name, u"", dump);
    RaiseInputError(in, isOb ? u"bad-name-ob" : u"bad-name-make", s.MessageText(u"BADNAME", {dump}), name,
                    inputs.NameStart, inputs.NameEnd);
    yieldNothing();
    return;
  }

  // Handler lists written beside MAKE or OB run before and after the
  // store; this store does not run them, so it refuses them rather than
  // dropping them silently.
  if (inputs.LeftList != nullptr || inputs.RightList != nullptr) {
    const bool left = inputs.LeftList != nullptr;
    s.CurrentPosition.StartPos = left ? inputs.LeftStart : inputs.RightStart;
    s.CurrentPosition.EndPos = left ? inputs.LeftEnd : inputs.RightEnd;
    RaiseInternalError(s, u"TRANS:OPMAKE:LISTS");
    yieldNothing();
    return;
  }

  std::u16string numberName;
  if (name->Kind == akNumber) numberName = TAtom::ToText(s, name);
  const std::u16string& nameText = name->Kind == akNumber ? numberName : name->Text;

  // Find the variable, or create it where the dotted look-up stopped
  // (the root when it reached no scope).
  TAtom* variable = s.FindName(nameText);
  if (variable == nullptr) {
    TAtom* scope = IsAtom(s.LastScope) ? s.LastScope : s.Root;
    // An empty rest would name the scope itself: the new variable then
    // gets the empty name instead of the scope being assigned.
    variable = s.LastName.empty() ? s.CreateVariable(scope, s.LastName, true, nullptr)
                                  : s.CreateVariable(scope, s.LastName, false, nullptr);
  }
  PinnedAtom pinVariable(variable);

  // Silence and locks.
  const bool suppressed = TAtom::NotifySuppressed(variable);
  const bool locked = TAtom::IsLocked(variable);

  // A locked variable, or one inside a locked object, keeps its value.
  if (locked) {
    WriteErrorFile(s, 4, variable->Text);
    WriteErrorFile(s, 5, TAtom::FullName(variable));
    s.CurrentPosition.StartPos = inputs.NameStart;
    s.CurrentPosition.EndPos = inputs.NameEnd;
    const TAtom* holder = variable;
    while (IsAtom(holder) && (holder->Flags & afLocked) == 0) holder = holder->Parent;
    std::u16string key = u"locked-var";
    if (IsAtom(holder) && holder != variable) {
      WriteErrorFile(s, 6, TAtom::FullName(holder));
      key = u"locked-var-parent";
    }
    s.CurrentPosition.Topic = key;
    s.RaiseError(FormatUserLock(s, nameText), key);
    yieldNothing();
    return;
  }

  // The store.
  TAtom* value = inputs.Value;
  if (value != SystemValue) {
    if (suppressed || (variable->Flags & afActive) != 0) {
      // A variable that is being stored already, or whose procedure runs,
      // keeps its value; an anonymous copy made for the value is let go.
      if (TAtom::IsVariable(value) && value->Text == u"[~]" && (value->Flags & afFrame) == 0) TAtom::Unlink(value);
    } else {
      SilentScope silent(variable);
      if (TAtom::IsVariable(value)) {
        variable = ReplaceByVariable(s, *variable, *value);
        silent.Moved(variable);
      } else {
        // Storing the value a variable already holds must not finalise it.
        if (variable->Left == value) variable->Left = nullptr;
        TAtom::ResetVariable(s, *variable);
        TAtom::SetValue(s, *variable, value);
      }
    }
  }

  // The variable is the value of the assignment; a frame's cell handed on
  // so is known outside its call.
  if (IsAtom(variable->Parent) && (variable->Parent->Flags & afFrame) != 0) in.NoteEscape();
  s.Frame()->Stack.Push(variable, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
}
