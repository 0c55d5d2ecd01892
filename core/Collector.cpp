#include "core/Collector.h"

#include "core/Host.h"
#include "core/Trans.h"

namespace {

constexpr uint32_t kMarked = afMarked;

const char16_t kLoopMessage[] = u"GC Infinite Loop: Please, save your work and restart Zavta";

bool IsMarkedOrPinned(const TAtom* atom) { return (atom->Flags & kMarked) != 0 || atom->RefCount > 0; }

bool IsCellKind(const TAtom* atom) { return atom->Kind == akList || atom->Kind == akExpression; }

// Marks an atom that holds nothing (a word or number without children) at
// once; anything else goes on the work list. Returns the atoms marked.
uint64_t MarkOrQueue(TAtom* atom, std::vector<TAtom*>& pending) {
  if (!IsAtom(atom) || (atom->Flags & kMarked) != 0) return 0;
  if (atom->FirstChild == nullptr && (atom->Kind == akNumber || atom->Kind == akWord)) {
    atom->Flags |= kMarked;
    return 1;
  }
  pending.push_back(atom);
  return 0;
}

// Pops the marker's work list until it is empty; each atom is marked once
// and queues what it reaches. A list is walked along its cells here, so
// long lists cost no work-list traffic for their spine. Returns the number
// of atoms marked.
uint64_t DrainMarkStack(std::vector<TAtom*>& pending) {
  uint64_t marked = 0;
  while (!pending.empty()) {
    TAtom* atom = pending.back();
    pending.pop_back();
    if (!IsAtom(atom) || (atom->Flags & kMarked) != 0) continue;
    atom->Flags |= kMarked;
    ++marked;
    for (TAtom* child = atom->FirstChild; child != nullptr; child = child->NextSibling) pending.push_back(child);
    if (atom->Kind == akVariable) {
      pending.push_back(atom->Left);
    } else if (IsCellKind(atom)) {
      marked += MarkOrQueue(atom->Left, pending);
      // The rest of the spine; a cell with children goes the general way.
      TAtom* cell = atom->Right;
      while (IsAtom(cell) && (cell->Flags & kMarked) == 0 && IsCellKind(cell) && cell->FirstChild == nullptr) {
        cell->Flags |= kMarked;
        ++marked;
        marked += MarkOrQueue(cell->Left, pending);
        cell = cell->Right;
      }
      if (IsAtom(cell)) pending.push_back(cell);
    }
  }
  return marked;
}

// Clears the marks of the live and the kept chain and queues the roots.
// False when the live chain is longer than the marking budget: the marks
// past it are stale, so nothing may be swept.
bool QueueRoots(TInterpreter& in, std::vector<TAtom*>& pending) {
  TStructure& s = in.S;
  uint64_t budget = s.CollectorLimits.MarkBudget;
  for (TAtom* atom = s.LiveAtoms; atom != nullptr; atom = atom->Chain) {
    if (budget == 0) return false;
    --budget;
    atom->Flags &= ~kMarked;
    if (atom->RefCount > 0) pending.push_back(atom);
  }
  // Kept atoms are never swept, but what they hold lives on the live chain.
  for (TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) {
    atom->Flags &= ~kMarked;
    pending.push_back(atom);
  }
  pending.insert(pending.end(), {in.CodePointer, s.Root, s.Language.TrueAtom, s.Language.FalseAtom, in.LastValue,
                                 in.ResultAtom, in.CurrentCodeAtom, s.ModuleList});
  return true;
}

// Takes an unreachable atom off the live chain onto the garbage list.
void MoveToGarbage(TAtom* atom, TAtom*& garbage) {
  atom->Chain = garbage;
  garbage = atom;
}

// Sweeps the successors of the atoms from `from` on, stepping past
// survivors, until the chain ends, `until` is reached or the budget is
// spent. The budget counts steps from one survivor to the next: taking out
// a successor is no step, so every garbage atom between the survivors
// passed goes in the same collection (and is paid for by its allocation).
// Returns the atom it stopped at when the budget ran out, else null.
TAtom* SweepSuccessors(TAtom* from, const TAtom* until, uint64_t& budget, TAtom*& garbage) {
  TAtom* at = from;
  while (at != nullptr && at != until && at->Chain != nullptr) {
    TAtom* next = at->Chain;
    if (IsMarkedOrPinned(next)) {
      if (budget == 0) return at;
      --budget;
      at = next;
    } else {
      at->Chain = next->Chain;
      MoveToGarbage(next, garbage);
    }
  }
  return nullptr;
}

// Unlinks every unmarked atom the sweep reaches into a garbage list: the
// unmarked run at the head, then the rest within the sweep budget. A sweep
// that ran out of budget goes on, at the next collection, where it stopped,
// so atoms deep in a long chain are reached too.
TAtom* UnlinkGarbage(TStructure& s) {
  TAtom* garbage = nullptr;
  while (s.LiveAtoms != nullptr && !IsMarkedOrPinned(s.LiveAtoms)) {
    TAtom* head = s.LiveAtoms;
    s.LiveAtoms = head->Chain;
    MoveToGarbage(head, garbage);
  }
  if (s.LiveAtoms == nullptr) {
    s.SweepResume = nullptr;
    return garbage;
  }
  // The resume point is only trusted when it survived this marking on the
  // live chain; a survivor is never unlinked, so it stays on the chain.
  TAtom* start = s.SweepResume;
  if (!IsAtom(start) || start->OnChain != AtomChain::Live || (start->Flags & kMarked) == 0) start = s.LiveAtoms;
  uint64_t budget = s.CollectorLimits.SweepBudget;
  TAtom* stopped = SweepSuccessors(start, nullptr, budget, garbage);
  if (stopped == nullptr && start != s.LiveAtoms) stopped = SweepSuccessors(s.LiveAtoms, start, budget, garbage);
  s.SweepResume = stopped;
  return garbage;
}

// Frees the unlinked atoms one by one: display list, finaliser, free chain.
// Marking is complete and the chains are consistent, so a finaliser that
// allocates gets fresh atoms that head the live chain and stay.
void FreeGarbage(TStructure& s, TAtom* garbage) {
  GraphicsHooks& graphics = s.host().graphics();
  while (garbage != nullptr) {
    TAtom* atom = garbage;
    garbage = atom->Chain;
    graphics.deleteDisplayList(atom->Identity());
    TAtom::FreeUnlinked(s, *atom);
  }
}

}  // namespace

void MarkAtom(TStructure& s, TAtom* atom) {
  std::vector<TAtom*>& pending = s.MarkStack;
  pending.push_back(atom);
  DrainMarkStack(pending);
}

void CollectGarbage(TInterpreter& in) {
  TStructure& s = in.S;
  if (s.AllocationCount < s.CollectionInterval() || s.Collecting) return;
  s.AllocationCount = 0;
  ++s.StampCounter;
  const RestoreOnExit<bool> collecting(s.Collecting, true);
  // Kept call frames would keep the values of their last inputs, and the
  // entries of procedures that no longer exist, alive.
  ReleaseSpareCallFrames(in);

  std::vector<TAtom*>& pending = s.MarkStack;
  pending.clear();
  const bool complete = QueueRoots(in, pending);
  if (!complete) {
    pending.clear();
    PrintToOutput(s, kLoopMessage);
    return;
  }
  // A collection costs about as much as the chain is long: the next one
  // waits for as many allocations as survived, so each allocation pays a
  // bounded share however large the live set grows.
  s.Survivors = DrainMarkStack(pending);
  FreeGarbage(s, UnlinkGarbage(s));
}
