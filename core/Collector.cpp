#include "core/Collector.h"

#include <algorithm>

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

// The atoms on the live chain: kept atoms count as live but are chained apart.
uint64_t LiveChainLength(const TStructure& s) {
  int64_t kept = 0;
  for (const TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) ++kept;
  return static_cast<uint64_t>(std::max<int64_t>(0, s.LiveCount - kept));
}

// Clears the marks of the live and the kept chain and queues the roots.
// False when the live chain is longer than the marking budget: its marks
// would be stale past the budget, so nothing may be swept. The length is
// known from the counts, so the walk itself counts nothing.
bool QueueRoots(TInterpreter& in, std::vector<TAtom*>& pending) {
  TStructure& s = in.S;
  if (LiveChainLength(s) > s.CollectorLimits.MarkBudget) return false;
  for (TAtom* atom = s.LiveAtoms; atom != nullptr; atom = atom->Chain) {
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

// The sweep's handling of the unreachable atoms it unlinks. Most are list
// cells, numbers and words without an extension: no finaliser, object or
// child index (and any parent is garbage as well), so they are freed on the
// spot. The others wait on the deferred list until the whole sweep is done,
// because their finalisers may allocate.
class TSweep {
public:
  TSweep(TStructure& s, GraphicsHooks& graphics) : s_(s), graphics_(graphics) {}
  void Take(TAtom* atom) {
    if (atom->Ext) {
      atom->Chain = deferred_;
      deferred_ = atom;
      return;
    }
    graphics_.deleteDisplayList(atom->Identity);
    TAtom::FreeUnextended(s_, *atom);
  }
  // The atoms with an extension, in the order the sweep met them.
  TAtom* Deferred() const { return deferred_; }

private:
  TStructure& s_;
  GraphicsHooks& graphics_;
  TAtom* deferred_ = nullptr;
};

// Sweeps the successors of the atoms from `from` on, stepping past
// survivors, until the chain ends, `until` is reached or the budget is
// spent. The budget counts steps from one survivor to the next: taking out
// a successor is no step, so every garbage atom between the survivors
// passed goes in the same collection (and is paid for by its allocation).
// Returns the atom it stopped at when the budget ran out, else null.
TAtom* SweepSuccessors(TAtom* from, const TAtom* until, uint64_t& budget, TSweep& sweep) {
  TAtom* at = from;  // never null: from is on the chain, and so is each step
  while (at != until) {
    TAtom* next = at->Chain;
    if (next == nullptr) break;
    if (IsMarkedOrPinned(next)) {
      if (budget == 0) return at;
      --budget;
      at = next;
    } else {
      at->Chain = next->Chain;
      sweep.Take(next);
    }
  }
  return nullptr;
}

// Takes every unmarked atom the sweep reaches off the live chain: the
// unmarked run at the head, then the rest within the sweep budget. A sweep
// that ran out of budget goes on, at the next collection, where it stopped,
// so atoms deep in a long chain are reached too.
void SweepLiveChain(TStructure& s, TSweep& sweep) {
  while (s.LiveAtoms != nullptr && !IsMarkedOrPinned(s.LiveAtoms)) {
    TAtom* head = s.LiveAtoms;
    s.LiveAtoms = head->Chain;
    sweep.Take(head);
  }
  if (s.LiveAtoms == nullptr) {
    s.SweepResume = nullptr;
    return;
  }
  // The resume point is only trusted when it survived this marking on the
  // live chain; a survivor is never unlinked, so it stays on the chain.
  TAtom* start = s.SweepResume;
  if (!IsAtom(start) || start->OnChain != AtomChain::Live || (start->Flags & kMarked) == 0) start = s.LiveAtoms;
  uint64_t budget = s.CollectorLimits.SweepBudget;
  TAtom* stopped = SweepSuccessors(start, nullptr, budget, sweep);
  if (stopped == nullptr && start != s.LiveAtoms) stopped = SweepSuccessors(s.LiveAtoms, start, budget, sweep);
  s.SweepResume = stopped;
}

// Whether a registry entry still names a GUI object or memory block that
// holds its object (entries of atoms freed or reset since are dropped).
bool HoldsFinalizableObject(const TAtom* atom) {
  return atom->OnChain != AtomChain::Free && (atom->Kind == akWinObject || atom->Kind == akMemoryBlock) &&
         atom->Object() != nullptr;
}

void FinalizeUnreachable(TStructure& s, GraphicsHooks& graphics, TAtom& atom) {
  graphics.deleteDisplayList(atom.Identity);
  TAtom::Finalize(s, atom);
  atom.Marks |= amFinalized;
}

// Finalises every registered GUI object and memory block the marking did
// not reach, at this collection, even when the sweep's budget leaves the
// atom itself on the chain until a later one. Runs after the sweep has
// unlinked what it takes, so atoms a finaliser allocates head the live
// chain and stay; objects made by a finaliser are registered after the
// ones looked at here and wait for the next collection.
void FinalizeUnreachableObjects(TStructure& s, GraphicsHooks& graphics) {
  std::vector<TAtom*>& registry = s.FinalizableAtoms;
  const size_t examined = registry.size();
  size_t kept = 0;
  for (size_t i = 0; i < examined; ++i) {
    TAtom* atom = registry[i];  // by index: a finaliser may register more
    if (!HoldsFinalizableObject(atom)) continue;
    if (IsMarkedOrPinned(atom)) {
      registry[kept++] = atom;
      continue;
    }
    FinalizeUnreachable(s, graphics, *atom);
  }
  registry.erase(registry.begin() + static_cast<std::ptrdiff_t>(kept),
                 registry.begin() + static_cast<std::ptrdiff_t>(examined));
}

// Frees the deferred atoms one by one: display list (unless deleted when
// the atom was finalised early), finaliser (run at most once), free chain.
// Marking is complete and the chains are consistent, so a finaliser that
// allocates gets fresh atoms that head the live chain and stay.
void FreeDeferred(TStructure& s, GraphicsHooks& graphics, TAtom* garbage) {
  while (garbage != nullptr) {
    TAtom* atom = garbage;
    garbage = atom->Chain;
    if ((atom->Marks & amFinalized) == 0) graphics.deleteDisplayList(atom->Identity);
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
  GraphicsHooks& graphics = s.host().graphics();
  TSweep sweep(s, graphics);
  SweepLiveChain(s, sweep);
  FinalizeUnreachableObjects(s, graphics);
  FreeDeferred(s, graphics, sweep.Deferred());
}
