#include "core/Collector.h"

#include <algorithm>

#include "core/Host.h"
#include "core/Trans.h"

namespace {

constexpr uint32_t kMarked = afMarked;

const char16_t kLoopMessage[] = u"GC Infinite Loop: Please, save your work and restart Zavta";

bool IsMarkedOrPinned(const TAtom* atom) { return (atom->Flags & kMarked) != 0 || atom->RefCount > 0; }

bool IsCellKind(const TAtom* atom) { return atom->Kind == akList || atom->Kind == akExpression; }

// Only an atom whose list the graphics module recorded (amDisplayList, kept
// with its record) has one to delete: the others skip the call.
void DeleteDisplayListOf(GraphicsHooks& graphics, const TAtom& atom) {
  if ((atom.Marks & amDisplayList) != 0) graphics.deleteDisplayList(atom.Identity());
}

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

// Marks one atom taken from the work list (unless marked already) and
// queues what it reaches. A list is walked along its cells here, so long
// lists cost no work-list traffic for their spine. Returns the number of
// atoms marked.
uint64_t MarkTaken(TAtom* atom, std::vector<TAtom*>& pending) {
  if ((atom->Flags & kMarked) != 0) return 0;
  atom->Flags |= kMarked;
  uint64_t marked = 1;
  for (TAtom* child = atom->FirstChild; child != nullptr; child = child->NextSibling) pending.push_back(child);
  // The cells still to walk along the spine: a variable's list value is
  // walked at once, as the rest of a list is.
  TAtom* cell = nullptr;
  if (atom->Kind == akVariable) {
    cell = atom->Left;
    if (!IsAtom(cell) || !IsCellKind(cell)) {
      marked += MarkOrQueue(cell, pending);
      cell = nullptr;
    }
  } else if (IsCellKind(atom)) {
    marked += MarkOrQueue(atom->Left, pending);
    cell = atom->Right;
  }
  // A cell with children goes the general way.
  while (IsAtom(cell) && (cell->Flags & kMarked) == 0 && IsCellKind(cell) && cell->FirstChild == nullptr) {
    cell->Flags |= kMarked;
    ++marked;
    marked += MarkOrQueue(cell->Left, pending);
    cell = cell->Right;
  }
  if (IsAtom(cell)) pending.push_back(cell);
  return marked;
}

// Pops the marker's work list until it is empty; each atom is marked once.
// The atoms popped wait a few turns in a small ring after their lines are
// asked for: the atoms reached are scattered across the pool, and marking
// each as it is popped would wait on memory at nearly every step. Returns
// the number of atoms marked.
uint64_t DrainMarkStack(std::vector<TAtom*>& pending) {
  constexpr size_t kRing = 8;  // a power of two
  TAtom* ring[kRing];
  size_t first = 0;
  size_t waiting = 0;
  uint64_t marked = 0;
  for (;;) {
    while (waiting < kRing && !pending.empty()) {
      TAtom* atom = pending.back();
      pending.pop_back();
      if (!IsAtom(atom)) continue;
      __builtin_prefetch(atom, 1, 3);
      __builtin_prefetch(reinterpret_cast<const char*>(atom) + 64, 1, 3);
      ring[(first + waiting++) % kRing] = atom;
    }
    if (waiting == 0) return marked;
    TAtom* atom = ring[first];
    first = (first + 1) % kRing;
    --waiting;
    marked += MarkTaken(atom, pending);
  }
}

// The atoms on the live chain: kept atoms count as live but are chained apart.
uint64_t LiveChainLength(const TStructure& s) {
  int64_t kept = 0;
  for (const TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) ++kept;
  return static_cast<uint64_t>(std::max<int64_t>(0, s.LiveCount - kept));
}

// Whether walking the whole pool in address order is the cheaper way to
// visit the chains: a chain's order is scattered across the pool, so its
// walk waits on memory at nearly every step, while the pool's is read in
// sequence. It pays while the pool holds at most a few times the atoms that
// live or are handed out before the next collection; past that (a large
// free chain left by a burst of garbage) the chains are walked instead, so
// a collection's work stays bounded by the live set.
bool PoolWalkPays(const TStructure& s) {
  constexpr int64_t kPoolPerWalked = 4;
  const auto walked = std::max<int64_t>(s.LiveCount, static_cast<int64_t>(s.CollectionInterval()));
  return s.CreatedCount() <= kPoolPerWalked * walked;
}

// Clears an atom's mark and queues it when it is a root: every kept atom
// (never swept, but what it holds lives on the live chain) and every pinned
// live atom.
void ClearAndQueueRoot(TAtom& atom, std::vector<TAtom*>& pending) {
  // Stored only when set: the pool-order sweep clears most marks already,
  // and a walk that only reads leaves the pool's memory clean.
  if ((atom.Flags & kMarked) != 0) atom.Flags &= ~kMarked;
  if (atom.OnChain == AtomChain::Kept || atom.RefCount > 0) pending.push_back(&atom);
}

// Clears the marks of the live and the kept chain and queues the roots.
// False when the live chain is longer than the marking budget: its marks
// would be stale past the budget, so nothing may be swept. The length is
// known from the counts, so the walk itself counts nothing.
bool QueueRoots(TInterpreter& in, std::vector<TAtom*>& pending) {
  TStructure& s = in.S;
  if (LiveChainLength(s) > s.CollectorLimits.MarkBudget) return false;
  TCollectorNotes& notes = s.CollectorNotes;
  if (notes.MarksClear && PoolWalkPays(s)) {
    // The marks left are known and cleared where they are, so the walk
    // over the pool reads only the pins (and chains) of the atoms, which
    // most atoms keep apart from their flags' cache line.
    for (TAtom* atom : notes.MarkedSurvivors) atom->Flags &= ~kMarked;
    for (TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) {
      atom->Flags &= ~kMarked;
      pending.push_back(atom);
    }
    s.ForEachCreatedAtom([&pending](TAtom& atom) {
      if (atom.RefCount > 0 && atom.OnChain == AtomChain::Live) [[unlikely]]
        pending.push_back(&atom);
    });
  } else if (PoolWalkPays(s)) {
    // A free atom's mark is cleared too (nothing reads it), so the walk
    // tests its chain only where an atom is a root by its pins. The kept
    // atoms are queued from their own (short) chain, which spares every
    // atom's visit the test of its chain.
    s.ForEachCreatedAtom([&pending](TAtom& atom) {
      if ((atom.Flags & kMarked) != 0) atom.Flags &= ~kMarked;
      if (atom.RefCount > 0 && atom.OnChain == AtomChain::Live) [[unlikely]]
        pending.push_back(&atom);
    });
    for (TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) pending.push_back(atom);
  } else {
    for (TAtom* atom = s.LiveAtoms; atom != nullptr; atom = atom->Chain) ClearAndQueueRoot(*atom, pending);
    for (TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) ClearAndQueueRoot(*atom, pending);
  }
  notes.MarkedSurvivors.clear();
  notes.MarksClear = false;  // until a pool-order sweep clears them again
  pending.insert(pending.end(), {in.CodePointer, s.Root, s.Language.TrueAtom, s.Language.FalseAtom, in.LastValue,
                                 in.ResultAtom, in.CurrentCodeAtom, s.ModuleList});
  return true;
}

// The sweep's handling of the unreachable atoms it unlinks. Most are list
// cells, numbers and words without an extension: no finaliser, object or
// child index (and any parent is garbage as well), so they are freed on the
// spot, in the order met, to the front of the free chain. The others wait
// on the deferred list until the whole sweep is done, because their
// finalisers may allocate.
class TSweep {
public:
  // The free chain's head and the atoms freed since the pool's counts were
  // last brought up to date: a sweep keeps them in locals (stores into the
  // atoms would otherwise make the compiler reload them) and settles them
  // before anything else can look (a display list's deletion, its end).
  struct TFreed {
    TAtom* Head;
    int64_t Count;
  };
  TSweep(TStructure& s, GraphicsHooks& graphics) : s_(s), graphics_(graphics) {}
  TFreed Begin() const { return {s_.FreeAtoms, 0}; }
  void Settle(const TFreed& freed) {
    s_.FreeAtoms = freed.Head;
    s_.LiveCount -= freed.Count;
    s_.FreeCount += freed.Count;
  }
  [[gnu::always_inline]] void Take(TAtom* atom, TFreed& freed) {
    if (atom->Ext) {
      Defer(*atom);
      return;
    }
    if ((atom->Marks & (amDisplayList | amPackedPosition)) != 0) [[unlikely]] {
      if ((atom->Marks & amDisplayList) != 0) {
        freed.Head = DeleteDisplayList(*atom, freed.Head, freed.Count);
        freed.Count = 0;
      }
      if ((atom->Marks & amPackedPosition) != 0) TAtom::DropPackedPosition(*atom);
    }
    TAtom::ClearFields(*atom);
    atom->Chain = freed.Head;
    atom->OnChain = AtomChain::Free;
    freed.Head = atom;
    ++freed.Count;
  }
  // An atom that waits for FreeDeferred.
  void Defer(TAtom& atom) {
    atom.Chain = deferred_;
    deferred_ = &atom;
  }
  // The atoms with an extension, in the order the sweep met them.
  TAtom* Deferred() const { return deferred_; }

private:
  // Settles what was freed before, deletes the list; the free chain's head.
  [[gnu::noinline]] TAtom* DeleteDisplayList(const TAtom& atom, TAtom* head, int64_t count) {
    Settle({head, count});
    DeleteDisplayListOf(graphics_, atom);
    return s_.FreeAtoms;
  }

  TStructure& s_;
  GraphicsHooks& graphics_;
  TAtom* deferred_ = nullptr;
};

// Where a sweep over part of the chain stopped: At is the survivor it
// ended on (null at the chain's end); OutOfBudget when the budget ran out.
struct TSweepStop {
  TAtom* At;
  bool OutOfBudget;
};

// Sweeps the successors of the atoms from `from` on, stepping past
// survivors, until the chain ends, the next successor is `until` or the
// budget is spent. The budget counts steps from one survivor to the next:
// taking out a successor is no step, so every garbage atom between the
// survivors passed goes in the same collection (and is paid for by its
// allocation).
TSweepStop SweepSuccessors(TAtom* from, const TAtom* until, uint64_t& budget, TSweep& sweep) {
  TSweep::TFreed freed = sweep.Begin();
  uint64_t steps = budget;
  TAtom* at = from;  // never null: from is on the chain, and so is each step
  TSweepStop stop{nullptr, false};
  for (;;) {
    TAtom* next = at->Chain;
    if (next == nullptr) break;
    if (next == until) {
      stop = {at, false};
      break;
    }
    if (IsMarkedOrPinned(next)) {
      if (steps == 0) {
        stop = {at, true};
        break;
      }
      --steps;
      at = next;
    } else {
      at->Chain = next->Chain;
      sweep.Take(next, freed);
    }
  }
  sweep.Settle(freed);
  budget = steps;
  return stop;
}

bool SurvivedOnLiveChain(const TAtom* atom) {
  return IsAtom(atom) && atom->OnChain == AtomChain::Live && (atom->Flags & kMarked) != 0;
}

// Takes every unmarked atom the sweep reaches off the live chain: the
// unmarked run at the head, then, within the sweep budget, first the atoms
// allocated since the last collection (the likeliest garbage: they head
// the chain, down to the last collection's head, SweepBoundary), then the
// older ones from where the last budget-bound sweep stopped, round to it
// again. So a large live set cannot keep new garbage waiting while the
// sweep works through it, and atoms deep in a long chain are reached too.
void SweepLiveChain(TStructure& s, TSweep& sweep) {
  TAtom* const resume = s.SweepResume;
  // Garbage stays on the live chain until it is swept, so the boundary is
  // still there unless something released it since.
  const TAtom* boundary = s.SweepBoundary;
  if (!IsAtom(boundary) || boundary->OnChain != AtomChain::Live) boundary = nullptr;
  bool reachedOlder = false;
  TSweep::TFreed freed = sweep.Begin();
  while (s.LiveAtoms != nullptr && !IsMarkedOrPinned(s.LiveAtoms)) {
    TAtom* head = s.LiveAtoms;
    reachedOlder = reachedOlder || head == boundary;
    s.LiveAtoms = head->Chain;
    sweep.Take(head, freed);
  }
  sweep.Settle(freed);
  s.SweepResume = nullptr;
  if (s.LiveAtoms == nullptr) return;
  uint64_t budget = s.CollectorLimits.SweepBudget;
  TAtom* older = s.LiveAtoms;  // the last survivor before the older atoms
  if (!reachedOlder && s.LiveAtoms != boundary) {
    const TSweepStop fresh = SweepSuccessors(s.LiveAtoms, boundary, budget, sweep);
    if (fresh.OutOfBudget) s.SweepResume = fresh.At;
    if (fresh.OutOfBudget || fresh.At == nullptr) return;
    older = fresh.At;
  }
  // The resume point is only trusted when it survived this marking on the
  // live chain; a survivor is never unlinked, so it stays on the chain.
  TAtom* start = SurvivedOnLiveChain(resume) ? resume : older;
  TSweepStop stop = SweepSuccessors(start, nullptr, budget, sweep);
  if (!stop.OutOfBudget && start != older) stop = SweepSuccessors(older, start, budget, sweep);
  if (stop.OutOfBudget) s.SweepResume = stop.At;
}

// Whether the sweep takes every unmarked atom off the live chain, so that
// the order it meets them in makes no difference: the pool walk pays, and
// the survivors on the live chain (at most the atoms marked) fit the sweep
// budget, so it cannot stop short.
bool SweepTakesAll(const TStructure& s) {
  return PoolWalkPays(s) && s.Survivors <= s.CollectorLimits.SweepBudget;
}

// TAtom::ClearFields for an atom the pool-order sweep frees on the spot,
// then marked free. Its pin count is zero already (it is unpinned garbage),
// and it sits apart from the other fields' cache line.
[[gnu::always_inline]] inline void ClearGarbage(TAtom& atom) {
  TAtom::ClearFieldsButPins(atom);
  atom.OnChain = AtomChain::Free;
}

// The whole sweep as one walk over the pool in address order, which reads
// memory in sequence where the live chain's order is scattered. It relinks
// the survivors as the new live chain (highest address first, as the atoms
// handed out in address order would stand) and the free atoms, old and
// new, as the free chain in address order. Atoms with an extension or a
// display list wait on the deferred list, so nothing outside the pool runs
// while the chains are being rebuilt.
void SweepPoolInOrder(TStructure& s, TSweep& sweep) {
  std::vector<TAtom*>& marked = s.CollectorNotes.MarkedSurvivors;
  TAtom* live = nullptr;
  TAtom* freeHead = nullptr;
  TAtom** freeTail = &freeHead;
  int64_t freed = 0;
  s.ForEachCreatedAtom([&](TAtom& atom) {
    const AtomChain chain = atom.OnChain;
    if (chain == AtomChain::Live) [[likely]] {
      if (IsMarkedOrPinned(&atom)) {
        // Its mark is done with (unless the finalising of unreachable
        // objects, which only atoms with an extension face, reads it: the
        // next collection clears those).
        if (!atom.Ext)
          atom.Flags &= ~kMarked;
        else if ((atom.Flags & kMarked) != 0)
          marked.push_back(&atom);
        atom.Chain = live;
        live = &atom;
        return;
      }
      if (atom.Ext || (atom.Marks & amDisplayList) != 0) {
        sweep.Defer(atom);
        return;
      }
      if ((atom.Marks & amPackedPosition) != 0) TAtom::DropPackedPosition(atom);
      ClearGarbage(atom);
      ++freed;
    } else if (chain == AtomChain::Kept) {
      return;
    }
    *freeTail = &atom;
    freeTail = &atom.Chain;
  });
  *freeTail = nullptr;
  s.LiveAtoms = live;
  s.FreeAtoms = freeHead;
  s.LiveCount -= freed;
  s.FreeCount += freed;
  s.SweepResume = nullptr;
  // Set before any finaliser runs, so that one setting a mark is noted.
  s.CollectorNotes.MarksClear = true;
}

// Whether a registry entry still names a GUI object or memory block that
// holds its object (entries of atoms freed or reset since are dropped).
bool HoldsFinalizableObject(const TAtom* atom) {
  return atom->OnChain != AtomChain::Free && (atom->Kind == akWinObject || atom->Kind == akMemoryBlock) &&
         atom->Object() != nullptr;
}

void FinalizeUnreachable(TStructure& s, GraphicsHooks& graphics, TAtom& atom) {
  DeleteDisplayListOf(graphics, atom);
  TAtom::Finalize(s, atom);
  atom.Extend().FinalizedEarly = true;
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
    if (!atom->Ext || !atom->Ext->FinalizedEarly) DeleteDisplayListOf(graphics, *atom);
    TAtom::FreeUnlinked(s, *atom);
  }
}

// Relinks the free chain in address order. Which free atom is handed out
// next is the pool's own business; in address order the atoms made until
// the next collection, and that collection's sweep along them, touch memory
// in sequence instead of at scattered places.
void OrderFreeChain(TStructure& s) {
  TAtom* head = nullptr;
  TAtom** tail = &head;
  s.ForEachCreatedAtom([&tail](TAtom& atom) {
    if (atom.OnChain != AtomChain::Free) return;
    *tail = &atom;
    tail = &atom.Chain;
  });
  *tail = nullptr;
  s.FreeAtoms = head;
}

}  // namespace

void MarkAtom(TStructure& s, TAtom* atom) {
  s.CollectorNotes.MarksClear = false;
  std::vector<TAtom*>& pending = s.MarkStack;
  pending.push_back(atom);
  DrainMarkStack(pending);
}

namespace {

// CollectGarbage once enough was allocated: out of line, so the many calls
// that find too little to do return without this one's frame.
[[gnu::noinline]] void Collect(TInterpreter& in) {
  TStructure& s = in.S;
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
  const bool inPoolOrder = SweepTakesAll(s);
  if (inPoolOrder)
    SweepPoolInOrder(s, sweep);
  else
    SweepLiveChain(s, sweep);
  // What is allocated from here on (by finalisers too) is new at the next
  // collection.
  s.SweepBoundary = s.LiveAtoms;
  FinalizeUnreachableObjects(s, graphics);
  FreeDeferred(s, graphics, sweep.Deferred());
  // The pool-order sweep left the free chain in order unless deferred
  // atoms were pushed in front of it.
  const bool freeChainInOrder = inPoolOrder && sweep.Deferred() == nullptr;
  if (!freeChainInOrder && PoolWalkPays(s)) OrderFreeChain(s);
}

}  // namespace

void CollectGarbage(TInterpreter& in) {
  const TStructure& s = in.S;
  if (s.AllocationCount < s.CollectionInterval() || s.Collecting) return;
  Collect(in);
}
