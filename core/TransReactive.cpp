// The reactive side of assignment: the handler lists run around a store,
// the onchange notifications of a variable and the objects holding it, the
// formula records that OB leaves under the variables a formula reads, the
// change plans that re-run those formulas in order, definition records and
// the history handlers due at the outer call level.
//
// Everything here runs program code through statements it builds itself
// (handler calls, records). They carry no source position, so an error
// raised directly in one is suppressed; errors inside the procedures they
// call are reported as usual. Whatever a run sets comes back through scope
// guards, also when the code it runs raises.

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Trans.h"

namespace {

// --- generated statements ---------------------------------------------------------

// Runs a list of statements in the current frame, pinned, with the code
// pointer put back afterwards. The code may reach the frames of running
// calls.
void RunStatements(TInterpreter& in, TAtom* code) {
  const PinnedAtom pin(code);
  const CodePointerKeeper keeper(in);
  in.NoteEscape();
  in.CodePointer = code;
  RunCode(in);
}

// A statement chain built word by word and run in the current frame.
class TGeneratedChain {
public:
  explicit TGeneratedChain(TStructure& s) : s_(s) {}
  TGeneratedChain(const TGeneratedChain&) = delete;
  TGeneratedChain& operator=(const TGeneratedChain&) = delete;

  TGeneratedChain& Element(TAtom* element) {
    AppendToList(s_, element, head_, tail_);
    return *this;
  }
  TGeneratedChain& Word(std::u16string text) { return Element(NewWord(s_, std::move(text))); }
  // A quote word and the name: the name as a quoted word.
  TGeneratedChain& Quoted(std::u16string name) {
    Word(u"\"");
    return Word(std::move(name));
  }
  TGeneratedChain& Comma() { return Word(u","); }

  void Run(TInterpreter& in) const {
    if (head_ != nullptr) RunStatements(in, head_);
  }

private:
  TStructure& s_;
  TAtom* head_ = nullptr;
  TAtom* tail_ = nullptr;
};

// Sets bits on an atom for a scope and puts back the ones that were clear.
class FlagsOnScope {
public:
  FlagsOnScope(TAtom* atom, uint32_t bits)
      : atom_(atom), added_(IsAtom(atom) ? bits & ~atom->Flags : 0) {
    TAtom::SetFlag(atom_, added_, true);
  }
  ~FlagsOnScope() { TAtom::SetFlag(atom_, added_, false); }
  FlagsOnScope(const FlagsOnScope&) = delete;
  FlagsOnScope& operator=(const FlagsOnScope&) = delete;

private:
  TAtom* atom_;
  uint32_t added_;
};

// The statements a handler value runs: a list; an empty first element is
// passed over (the statement runner would stop at it).
TAtom* HandlerCode(TAtom* value) {
  if (!IsAtom(value) || value->Kind != akList) return nullptr;
  if (value->Left == nullptr) value = value->Right;
  return IsAtom(value) && value->Kind == akList ? value : nullptr;
}

std::u16string Dotted(std::u16string_view a, std::u16string_view b) {
  std::u16string name(a);
  name += u'.';
  name += b;
  return name;
}

std::u16string NameTextOf(TStructure& s, const TAtom* atom) {
  return atom->Kind == akNumber ? TAtom::ToText(s, atom) : atom->Text;
}

// --- change plans -------------------------------------------------------------------

struct TPlanEntry {
  TAtom* Atom;      // the planned variable (the first entry) or a formula record
  bool Superseded;  // a later entry re-evaluates the same variable
};

// X of the formula record X.onchange.W.
const TAtom* RecordOwner(const TAtom* record) { return IsAtom(record->Parent) ? record->Parent->Parent : nullptr; }

// The record owner.onchange.dependent, both resolved by name.
TAtom* FindFormulaRecord(TStructure& s, std::u16string_view owner, std::u16string_view dependent) {
  TAtom* variable = s.FindName(owner);
  TAtom* change = variable != nullptr ? variable->ChangeChild() : nullptr;
  return change != nullptr ? TAtom::FindChildByName(s, *change, dependent) : nullptr;
}

// Appends the record X.onchange.W unless the plan already runs W.onchange.X
// (the two depend on each other); an earlier re-evaluation of W that was
// reached through another variable than the plan's own gives way to it.
void AddToPlan(TStructure& s, std::vector<TPlanEntry>& plan, TAtom& record, const TAtom& planned) {
  const TAtom* owner = RecordOwner(&record);
  if (owner == nullptr) return;
  const std::u16string& dependent = record.Text;
  for (size_t k = 1; k < plan.size(); ++k) {
    const TAtom* entryOwner = RecordOwner(plan[k].Atom);
    if (entryOwner != nullptr && s.SameName(plan[k].Atom->Text, owner->Text) &&
        s.SameName(entryOwner->Text, dependent))
      return;
  }
  for (size_t k = 1; k < plan.size(); ++k) {
    const TAtom* entryOwner = RecordOwner(plan[k].Atom);
    if (entryOwner != nullptr && s.SameName(plan[k].Atom->Text, dependent) &&
        !s.SameName(entryOwner->Text, planned.Text))
      plan[k].Superseded = true;
  }
  plan.push_back({&record, false});
}

// A new list of the instruction's tokens, from the first cell to the last.
TAtom* InstructionTokens(TStructure& s, TAtom* firstCell, TAtom* lastCell) {
  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  // Inside parentheses the tokens sit in expression cells.
  for (TAtom* cell = firstCell; IsAtom(cell) && (cell->Kind == akList || cell->Kind == akExpression);
       cell = cell->Right) {
    AppendToList(s, cell->Left, head, tail);
    if (cell == lastCell) break;
  }
  return head;
}

void AddUniqueName(TStructure& s, std::vector<std::u16string>& names, std::u16string name) {
  for (const std::u16string& known : names)
    if (s.SameName(known, name)) return;
  names.push_back(std::move(name));
}

}  // namespace

// --- handler lists ------------------------------------------------------------------

void RunMakeHandlers(TInterpreter& in, TAtom* list, int32_t start, int32_t end, bool isOb, MakeHandlerKind kind,
                     std::u16string_view word, const std::u16string& variableName) {
  if (list == nullptr) return;
  TStructure& s = in.S;
  if (!TAtom::IsList(list)) {
    const std::u16string& keyword = s.Keyword(isOb ? kwOb : kwMake);
    const bool writtenList = kind == mkLeftList || kind == mkRightList;
    std::u16string key = writtenList ? (isOb ? u"bad-arg-ob-attrib-" : u"bad-arg-make-attrib-")
                                     : (isOb ? u"invalid-command-ob-" : u"invalid-command-make-");
    key += word;
    const std::u16string message =
        writtenList ? BadArgMessage(s, kind, keyword) : s.MessageText(u"BADCOMMAND", {keyword});
    RaiseInputError(in, key, message, list, start, end);
    return;  // suppressed: the store goes on without these handlers
  }
  TGeneratedChain chain(s);
  for (TAtom* cell = list; IsAtom(cell) && cell->Kind == akList; cell = cell->Right)
    chain.Element(cell->Left).Quoted(variableName).Comma();
  chain.Run(in);
}

// --- notifications --------------------------------------------------------------------

void FireOnChange(TInterpreter& in, TAtom& variable) {
  TStructure& s = in.S;
  if (TAtom::NotifySuppressed(variable.Parent)) return;
  for (TAtom* current = &variable; IsAtom(current); current = current->Parent) {
    TAtom* handler = current->ChangeChild();
    if (handler == nullptr) break;
    const PinnedAtom pinCurrent(current);
    const PinnedAtom pinHandler(handler);
    if (TAtom* code = HandlerCode(handler->Left)) {
      const EnteredFrame frame(s, current->Parent);
      const FlagsOnScope active(&variable, afActive);
      RunStatements(in, code);
    }
  }
}

// --- change plans ------------------------------------------------------------------------

void BuildChangePlan(TInterpreter& in, TAtom& variable) {
  TStructure& s = in.S;
  const std::u16string& planName = s.Keyword(kwOnplan);
  if (TAtom::FindChildByName(s, variable, planName) != nullptr) return;

  // A fresh stamp above every serial handed out so far: an atom counts as
  // stamped for this plan when its stamp reaches it.
  in.PlanStamp = ++s.StampCounter;
  const uint64_t stamp = in.PlanStamp;

  // The records of what the variable itself depends on lead back to it.
  if (TAtom* self = s.FindName(variable.Text)) {
    if (TAtom* depend = TAtom::FindChildByName(s, *self, s.Keyword(kwOndepend)))
      for (TAtom* source = depend->FirstChild; source != nullptr; source = source->NextSibling)
        if (TAtom* record = FindFormulaRecord(s, source->Text, variable.Text)) record->Stamp = stamp;
  }

  std::vector<TPlanEntry> plan{{&variable, false}};
  for (size_t i = 0; i < plan.size(); ++i) {
    TAtom* source = s.FindName(plan[i].Atom->Text);
    TAtom* change = source != nullptr ? source->ChangeChild() : nullptr;
    if (change == nullptr) continue;
    for (TAtom* record = change->FirstChild; record != nullptr; record = record->NextSibling) {
      if (record->Stamp >= stamp) continue;
      AddToPlan(s, plan, *record, variable);
      record->Stamp = stamp;
    }
  }

  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  for (size_t i = 1; i < plan.size(); ++i)
    if (!plan[i].Superseded) AppendToList(s, NewWord(s, TAtom::FullName(plan[i].Atom)), head, tail);
  s.CreateVariable(&variable, planName, true, head);
}

void RunChangePlan(TInterpreter& in, TAtom& variable) {
  if (in.PlanRunning || (variable.Flags & afPlanned) == 0) return;
  TStructure& s = in.S;
  {
    const RestoreOnExit<bool> running(in.PlanRunning, true);
    const RestoreOnExit<bool> handlers(in.InChangeHandlers, true);
    TAtom* planVariable = TAtom::FindChildByName(s, variable, s.Keyword(kwOnplan));
    TAtom* plan = planVariable != nullptr ? planVariable->Left : nullptr;
    // The records may drop the plan (a store resets the variable's members).
    const PinnedAtom pinPlan(plan);
    for (TAtom* cell = plan; IsAtom(cell) && cell->Kind == akList; cell = cell->Right)
      RunDependentOnChange(in, cell->Left);
  }
  in.SceneDirty = true;
}

void RunDependentOnChange(TInterpreter& in, const TAtom* name) {
  if (!TAtom::IsWordOrNumber(name)) return;
  TStructure& s = in.S;
  TAtom* record = s.FindName(NameTextOf(s, name));
  if (record == nullptr) return;
  const PinnedAtom pinRecord(record);
  const FlagsOnScope active(record, afActive);
  if (TAtom* value = record->Left; IsAtom(value) && value->Kind == akList) RunStatements(in, value);
}

// --- formulas and definitions ---------------------------------------------------------

void CollectReferencedNames(TStructure& s, const TAtom* list, std::vector<std::u16string>& names) {
  // An explicit stack and a visited set: program-built lists may be deep or
  // share (even cycle through) cells.
  std::vector<const TAtom*> pending{list};
  std::unordered_set<const TAtom*> visited;
  while (!pending.empty()) {
    const TAtom* cell = pending.back();
    pending.pop_back();
    for (; IsAtom(cell) && (cell->Kind == akList || cell->Kind == akExpression) && visited.insert(cell).second;
         cell = cell->Right) {
      const TAtom* element = cell->Left;
      if (IsAtom(element) && (element->Kind == akList || element->Kind == akExpression)) {
        pending.push_back(element);
        continue;
      }
      if (!TAtom::IsWord(element) || element->Text != u":" || !IsAtom(cell->Right)) continue;
      const TAtom* next = cell->Right->Left;
      if (!TAtom::IsWordOrNumber(next)) continue;
      std::u16string name = NameTextOf(s, next);
      name.erase(std::min(name.find(u'.'), name.size()));
      AddUniqueName(s, names, std::move(name));
    }
  }
}

void RecordDefinition(TInterpreter& in, const std::u16string& name, TAtom* firstCell, TAtom* lastCell) {
  TStructure& s = in.S;
  TGeneratedChain chain(s);
  chain.Word(s.Keyword(kwMake))
      .Quoted(Dotted(name, s.Keyword(kwDefinition)))
      .Element(InstructionTokens(s, firstCell, lastCell))
      .Run(in);
}

void RecordFormula(TInterpreter& in, const TAtom& variable, TAtom* firstCell, TAtom* lastCell) {
  TStructure& s = in.S;
  // The formula is the instruction as a MAKE, so that re-running it does
  // not record it again.
  TAtom* formula = InstructionTokens(s, firstCell, lastCell);
  if (IsAtom(formula) && TAtom::IsWord(formula->Left) && s.SameName(formula->Left->Text, s.Keyword(kwOb)))
    formula->Left = NewWord(s, s.Keyword(kwMake));
  std::vector<std::u16string> sources;
  CollectReferencedNames(s, formula, sources);

  const std::u16string& make = s.Keyword(kwMake);
  const std::u16string& name = variable.Text;
  TGeneratedChain chain(s);
  for (const std::u16string& source : sources) {
    chain.Word(make).Quoted(Dotted(Dotted(source, s.Keyword(kwOnchange)), name)).Element(formula).Comma();
    chain.Word(make).Quoted(Dotted(Dotted(name, s.Keyword(kwOndepend)), source)).Comma();
  }
  chain.Run(in);
}

// --- history ------------------------------------------------------------------------------

void FlushPendingHistory(TInterpreter& in) {
  if (in.PendingHistory.empty()) return;
  // The handlers are not part of the statement: its result, stop and last
  // value are as it left them.
  const RestoreOnExit<TAtom*> result(in.ResultAtom);
  const RestoreOnExit<TAtom*> last(in.LastValue);
  const RestoreOnExit<bool> stop(in.StopFlag);
  const PinnedAtom pinResult(in.ResultAtom);
  const PinnedAtom pinLast(in.LastValue);
  while (!in.PendingHistory.empty()) {
    const std::u16string name = *in.PendingHistory.begin();
    in.PendingHistory.erase(in.PendingHistory.begin());
    if (in.S.FindName(name) != nullptr) RunHistoryHandlers(in, name);
  }
}

void RunHistoryHandlers(TInterpreter& in, const std::u16string& fullName) {
  TStructure& s = in.S;
  TGeneratedChain chain(s);
  if (s.FindName(Dotted(s.Keyword(kwHistory), fullName)) == nullptr)
    chain.Word(s.Keyword(kwOnhistorycreate)).Quoted(fullName).Comma();
  chain.Word(s.Keyword(kwOnhistoryupdate)).Quoted(fullName);
  chain.Run(in);
}
