// Times the collector alone: a live set of about 100,000 atoms (a ring of
// small lists) while two million more atoms are allocated and dropped, one
// small list replacing the oldest in the ring each round. Prints one line:
//   gc_bench collections=N mean_ms=X max_ms=Y live=Z
// where live is the pool's live count at the end. Not a test: bench/run
// prints its line after the program table.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/Collector.h"
#include "core/Host.h"
#include "core/Trans.h"

namespace {

constexpr int kSlots = 11111;             // ring cells; each holds a list of 4 numbers: 9 atoms a slot
constexpr int kRounds = 2000000 / 8;      // 8 new atoms a round: two million in all

TAtom* SmallList(TStructure& s, int round) {
  TAtom* list = nullptr;
  for (int i = 3; i >= 0; --i) list = NewListCell(s, NewNumber(s, round + i), list);
  return list;
}

}  // namespace

int main() {
  SilentHost host;
  TStructure s(host);
  TInterpreter in(s);
  s.EnterFrame(NewVariable(s, u"[Root]", nullptr));

  TAtom* ring = nullptr;
  std::vector<TAtom*> slots;
  for (int i = 0; i < kSlots; ++i) {
    ring = NewListCell(s, SmallList(s, i), ring);
    slots.push_back(ring);
  }
  s.CreateVariable(s.Root, u"ring", true, ring);

  int collections = 0;
  double totalMs = 0;
  double maxMs = 0;
  for (int round = 0; round < kRounds; ++round) {
    slots[static_cast<size_t>(round % kSlots)]->Left = SmallList(s, round);
    if (s.AllocationCount < s.CollectionInterval()) continue;
    const auto start = std::chrono::steady_clock::now();
    CollectGarbage(in);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ++collections;
    totalMs += ms;
    maxMs = std::max(maxMs, ms);
  }
  std::printf("gc_bench collections=%d mean_ms=%.3f max_ms=%.3f live=%lld\n", collections,
              collections > 0 ? totalMs / collections : 0.0, maxMs, static_cast<long long>(s.LiveCount));
  return 0;
}
