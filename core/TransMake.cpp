// Assignment (ocMake and ocOb): finds or creates the named variable, runs
// the handlers written beside the assignment and the frame owner's
// onbeforemake handlers, checks the locks, stores the value (appending to a
// change handler), notifies the onchange handlers, builds and runs change
// plans, keeps definition, formula and history records, brings the display
// lists of drawable variables up to date, runs the onaftermake handlers and
// the list written after, and pushes the variable.
//
// Most assignments need none of that. What the steps look for is kept where
// it changes (flags, the cached handler children, the display-list mark,
// the frame owner's handler mark), so one predicate, IsPlainStore, sends
// them straight to the store.

#include <string>
#include <unordered_set>

#include "core/Expr.h"
#include "core/Host.h"
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
  if ((replacement->Flags & afMarked) != 0) TAtom::NoteMarkSet(*replacement);
  if (parent != nullptr) TAtom::SetParent(s, *replacement, parent);
  return replacement;
}

// Pins the object that took the assigned variable's place (the variable
// itself stays pinned by the assignment too: its silent flag is cleared on
// the way out).
class HeldReplacement {
public:
  HeldReplacement() = default;
  ~HeldReplacement() { TAtom::DecRef(atom_); }
  HeldReplacement(const HeldReplacement&) = delete;
  HeldReplacement& operator=(const HeldReplacement&) = delete;
  void Hold(TAtom* atom) {
    TAtom::IncRef(atom);
    TAtom::DecRef(atom_);
    atom_ = atom;
  }

private:
  TAtom* atom_ = nullptr;
};

// --- tree shapes ------------------------------------------------------------------

// The cached onchange child of its parent.
bool IsChangeHandler(const TAtom& variable) {
  const TAtom* parent = variable.Parent;
  return IsAtom(parent) && parent->ChangeChild() == &variable;
}
// A child of a change handler (a formula record, for instance).
bool IsChangeHandlerMember(const TAtom& variable) {
  return IsAtom(variable.Parent) && IsChangeHandler(*variable.Parent);
}

bool HasDisplayList(const TAtom& atom) { return (atom.Marks & amDisplayList) != 0; }

// True when no step beyond the lock check and the store applies: a MAKE
// without handler lists (the rest is IsPlainStoreInto).
inline bool IsPlainStore(const TStructure& s, int32_t opcode, const TMakeInputs& inputs, const TAtom& variable) {
  if (opcode != ocMake || inputs.LeftList != nullptr || inputs.RightList != nullptr) return false;
  return IsPlainStoreInto(s, variable, inputs.Value);
}

// --- the store -------------------------------------------------------------------------

// A locked variable, or one inside a locked object, keeps its value.
void RaiseLocked(TStructure& s, const TAtom& variable, const std::u16string& nameText, const TMakeInputs& inputs) {
  WriteErrorFile(s, 4, variable.Text);
  WriteErrorFile(s, 5, TAtom::FullName(&variable));
  s.CurrentPosition.StartPos = inputs.NameStart;
  s.CurrentPosition.EndPos = inputs.NameEnd;
  const TAtom* holder = &variable;
  while (IsAtom(holder) && (holder->Flags & afLocked) == 0) holder = holder->Parent;
  std::u16string key = u"locked-var";
  if (IsAtom(holder) && holder != &variable) {
    WriteErrorFile(s, 6, TAtom::FullName(holder));
    key = u"locked-var-parent";
  }
  s.CurrentPosition.Topic = key;
  s.RaiseError(FormatUserLock(s, nameText), key);
}

// A variable that is being stored already, or whose procedure runs, keeps
// its value; an anonymous copy made for the value is let go.
void DropValue(TAtom* value) {
  if (TAtom::IsVariable(value) && value->Text == u"[~]" && (value->Flags & afFrame) == 0) TAtom::Unlink(value);
}

// Stores into a variable that is not a change handler. An object value
// takes the variable's place; returns the variable now in the tree.
[[gnu::always_inline]] inline TAtom* StoreValue(TStructure& s, TAtom& variable, TAtom* value) {
  if (TAtom::IsVariable(value)) return ReplaceByVariable(s, variable, *value);
  // Storing the value a variable already holds must not finalise it.
  if (variable.Left == value) variable.Left = nullptr;
  TAtom::ResetVariable(s, variable);
  TAtom::SetValue(s, variable, value);
  return &variable;
}

// New cells holding the list's top-level elements (a list assigned to a
// change handler stays as the program wrote it when more is appended).
TAtom* CopyTopLevelCells(TStructure& s, TAtom* list) {
  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  std::unordered_set<const TAtom*> copied;  // a program-built list may cycle
  for (TAtom* cell = list; IsAtom(cell) && cell->Kind == akList && copied.insert(cell).second; cell = cell->Right) {
    AppendToList(s, cell->Left, head, tail);
    if (const TPosition* position = cell->Position()) TAtom::SetPosition(*tail, *position);
  }
  return head;
}

// The chain's statements run differently once more follows the last one:
// their code is compiled again. The words are cleared, not freed, since
// one of them may be running.
void DropTopLevelCode(TAtom* list) {
  std::unordered_set<const TAtom*> seen;
  for (TAtom* cell = list; IsAtom(cell) && cell->Kind == akList && seen.insert(cell).second; cell = cell->Right)
    if (cell->Code() != nullptr) TAtom::ClearCode(*cell);
}

bool IsNonEmptyList(const TAtom* a) { return IsAtom(a) && a->Kind == akList; }

// Assigning to an onchange child adds handler statements: a list whose
// first element differs from the handler's last one is appended after ",";
// the same list again changes nothing. A handler without code, a new one,
// or a non-list on either side takes the value (a list as a copy).
void StoreChangeHandler(TStructure& s, TAtom& handler, TAtom* value, bool existed) {
  TAtom* old = handler.Left;
  if (existed && IsNonEmptyList(old) && TAtom::IsList(value)) {
    if (value == nullptr) return;  // nothing to add
    TAtom* last = TAtom::LastCell(old);
    if (CompareAtoms(s, last->Left, value->Left) == 0) return;
    DropTopLevelCode(old);
    UnshareBeforeChange(s, *last);
    last->Right = NewListCell(s, NewWord(s, u","), CopyTopLevelCells(s, value));
    return;
  }
  TAtom::SetValue(s, handler, IsNonEmptyList(value) ? CopyTopLevelCells(s, value) : value);
}

// --- display lists -------------------------------------------------------------------

// A drawable variable changed: its lists and those of its ancestors go, and
// are compiled again when the object below the root draws itself.
void UpdateDisplayLists(TInterpreter& in, TAtom& variable) {
  if ((variable.Flags & afDrawable) == 0 && variable.DrawImageChild() == nullptr) return;
  GraphicsHooks& graphics = in.host().graphics();
  if (graphics.paintingSuspended()) return;
  in.TopRedrawPending = true;
  if ((variable.Flags & afDrawable) != 0 && IsAtom(variable.Parent)) graphics.deleteDisplayLists(*variable.Parent);
  graphics.deleteDisplayLists(variable);
  TAtom* topmost = &variable;  // a child of the root is its own topmost object
  for (TAtom* ancestor = variable.Parent; IsAtom(ancestor) && IsAtom(ancestor->Parent); ancestor = ancestor->Parent) {
    graphics.deleteDisplayList(AtomId(ancestor));
    topmost = ancestor;
  }
  if (topmost->DrawImageChild() != nullptr) graphics.compileDisplayLists(variable);
}

// --- handlers ------------------------------------------------------------------------

// The frame owner's onbeforemake or onaftermake handlers. The owner's mark
// says whether it may have such a child; when it has none any more, the
// mark goes.
void RunOwnerHandlers(TInterpreter& in, int keyword, MakeHandlerKind kind, bool isOb, const std::u16string& name) {
  TStructure& s = in.S;
  TAtom* owner = s.Frame()->Owner;
  if (!IsAtom(owner) || (owner->Marks & amMakeHandlerChild) == 0) return;
  const auto& heads = s.Language.MakeHandlerHeads;
  if (TAtom::FindChildByName(s, *owner, heads[0]) == nullptr && TAtom::FindChildByName(s, *owner, heads[1]) == nullptr) {
    owner->Marks &= static_cast<uint8_t>(~amMakeHandlerChild);
    return;
  }
  TAtom* handlers = s.FindLocal(s.Keyword(keyword));
  if (handlers == nullptr) return;
  RunMakeHandlers(in, handlers->Left, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos, isOb, kind,
                  KeywordKeys[static_cast<size_t>(keyword)], name);
}

[[gnu::always_inline]] inline void PushVariable(TInterpreter& in, TAtom* variable) {
  TStructure& s = in.S;
  // The variable is the value of the assignment; a frame's cell handed on
  // so is known outside its call.
  if (IsAtom(variable->Parent) && (variable->Parent->Flags & afFrame) != 0) in.NoteEscape();
  s.Frame()->Stack.Push(variable, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
}

// Every step of an assignment that IsPlainStore did not rule out, in
// order; the variable is pinned by the caller. Kept out of OpMake, so the
// plain store does not pay for its frame.
[[gnu::noinline]] void AssignReactively(TInterpreter& in, bool isOb, const TMakeInputs& inputs,
                                        const std::u16string& nameText, TAtom* variable, bool existed, bool suppressed,
                                        bool locked) {
  TStructure& s = in.S;
  TAtom* const value = inputs.Value;
  HeldReplacement replacement;

  // Its old list goes (a handler, its members and locked variables keep
  // theirs).
  const bool isHandler = IsChangeHandler(*variable);
  const bool isMember = IsChangeHandlerMember(*variable);
  GraphicsHooks& graphics = in.host().graphics();
  if (!isHandler && !isMember && (variable->Flags & afLocked) == 0 && HasDisplayList(*variable) &&
      !graphics.paintingSuspended())
    graphics.deleteDisplayList(AtomId(variable));

  // Before the store.
  const std::u16string variableName = variable->Text;
  if (!isHandler && !isMember) {
    RunOwnerHandlers(in, kwOnbeforemake, mkBeforeMake, isOb, variableName);
    RunMakeHandlers(in, inputs.LeftList, inputs.LeftStart, inputs.LeftEnd, isOb, mkLeftList, u"left", variableName);
  }

  if (locked) {
    RaiseLocked(s, *variable, nameText, inputs);
    s.Frame()->Stack.Push(SystemValue, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
    return;
  }

  // The store, and what it tells the variables that depend on this one.
  if (value != SystemValue) {
    SilentScope silent(variable);
    if (isMember && !existed) TAtom::MoveToLastChild(*variable);  // members keep their written order
    bool stored = true;
    if (isHandler) {
      StoreChangeHandler(s, *variable, value, existed);
    } else if (suppressed || (variable->Flags & afActive) != 0) {
      DropValue(value);
      stored = false;
    } else {
      TAtom* now = StoreValue(s, *variable, value);
      if (now != variable) {
        replacement.Hold(now);
        silent.Moved(now);
        variable = now;
      }
    }
    if (stored) {
      if (!isMember) {
        FireOnChange(in, *variable);
        if ((variable->Flags & afPlanned) != 0) BuildChangePlan(in, *variable);
      }
      if (existed && (variable->Flags & afHistory) != 0) in.PendingHistory.insert(TAtom::FullName(variable));
    }
  }

  // Drawing.
  UpdateDisplayLists(in, *variable);
  if (!isHandler && !isMember && (variable->Flags & afNotDrawn) == 0 && HasDisplayList(*variable) &&
      !(IsAtom(variable->Parent) && variable->Parent->Text == u"[~]"))
    in.TopRedrawPending = true;

  // Records: the assignment's text, and for a formula what it reads.
  if ((variable->Flags & afDefinition) != 0 && inputs.FirstCell != nullptr)
    RecordDefinition(in, nameText, inputs.FirstCell, inputs.LastCell);
  if (isOb) variable->Flags |= afPlanned;
  if ((isOb || (variable->Flags & afDependent) != 0) && inputs.FirstCell != nullptr)
    RecordFormula(in, *variable, inputs.FirstCell, inputs.LastCell);
  RunChangePlan(in, *variable);

  // After the store.
  if (!(isHandler && isMember)) {
    RunOwnerHandlers(in, kwOnaftermake, mkAfterMake, isOb, variableName);
    RunMakeHandlers(in, inputs.RightList, inputs.RightStart, inputs.RightEnd, isOb, mkRightList, u"right",
                    variableName);
  }
  PushVariable(in, variable);
}

}  // namespace

void StorePlainValueOtherwise(TInterpreter& in, const TPlainStore& target, TAtom* value) {
  TAtom* variable = target.Variable;
  if (target.Stores) {
    SilentScope silent(variable);
    StoreValue(in.S, *variable, value);
  } else if (value != SystemValue) {
    DropValue(value);  // a variable silenced or active keeps its value
    // As the full assignment does: the skipped store ends the variable's own silence.
    TAtom::SetFlag(variable, afSilent, false);
  }
}

TAtom* PlainMake(TInterpreter& in, TAtom* name, TAtom* value) {
  const TPlainStore target = FindPlainStore(in, name, value);
  if (target.Variable == nullptr) return nullptr;
  StorePlain(in, target, value);
  return target.Variable;
}

void OpMake(TInterpreter& in, int32_t opcode, const TMakeInputs& inputs) {
  TStructure& s = in.S;
  if (s.Frame() == nullptr) {
    RaiseInternalError(s, u"TRANS:OPMAKE:FRAME");
    return;
  }
  const bool isOb = opcode == ocOb;
  auto yieldNothing = [&] { s.Frame()->Stack.Push(SystemValue, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos); };

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
  std::u16string numberName;
  if (name->Kind == akNumber) numberName = TAtom::ToText(s, name);
  const std::u16string& nameText = name->Kind == akNumber ? numberName : name->Text;

  // Find the variable, or create it where the dotted look-up stopped
  // (the root when it reached no scope).
  TAtom* variable = s.FindName(nameText, name);
  const bool existed = variable != nullptr;
  if (!existed) {
    TAtom* scope = IsAtom(s.LastScope) ? s.LastScope : s.Root;
    // An empty rest would name the scope itself: the new variable then
    // gets the empty name instead of the scope being assigned.
    variable = s.LastName.empty() ? s.CreateVariable(scope, s.LastName, true, nullptr)
                                  : s.CreateVariable(scope, s.LastName, false, nullptr);
  }
  const bool suppressed = TAtom::NotifySuppressed(variable);
  const bool locked = TAtom::IsLocked(variable);
  TAtom* const value = inputs.Value;

  // A plain store runs no program code and no collection: nothing needs
  // pinning, and no history handler can see the call level.
  if (s.FastPaths && IsPlainStore(s, opcode, inputs, *variable)) {
    if (locked) {
      RaiseLocked(s, *variable, nameText, inputs);
      yieldNothing();
      return;
    }
    if (value != SystemValue) {
      if (suppressed || (variable->Flags & afActive) != 0) {
        DropValue(value);
        TAtom::SetFlag(variable, afSilent, false);  // the skipped store ends its own silence
      } else {
        SilentScope silent(variable);
        StoreValue(s, *variable, value);
      }
    }
    PushVariable(in, variable);
    return;
  }

  // The assignment counts as a call level; its inputs and the variable stay
  // pinned while the code it runs may collect.
  const RestoreOnExit<int32_t> depth(in.CallDepth, in.CallDepth + 1);
  const PinnedAtom pinLeft(inputs.LeftList);
  const PinnedAtom pinName(inputs.Name);
  const PinnedAtom pinValue(inputs.Value);
  const PinnedAtom pinRight(inputs.RightList);
  const PinnedAtom pinFirst(inputs.FirstCell);
  const PinnedAtom pinLast(inputs.LastCell);
  const PinnedAtom pinVariable(variable);
  AssignReactively(in, isOb, inputs, nameText, variable, existed, suppressed, locked);
}
