#include "tests/core/support/ProgramRunCheck.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "core/Collector.h"
#include "core/Exports.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZAVTA_RUN_CHECK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAVTA_RUN_CHECK_ASAN 1
#endif
#endif
#if defined(ZAVTA_RUN_CHECK_ASAN)
// The sanitizer allocator's own interface (GCC installs no header for it).
extern "C" {
size_t __sanitizer_get_current_allocated_bytes();
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                              void (*onFree)(const volatile void*));
}
#endif

namespace {

// A host without windows that discards the output, never waits, starts no
// program, and stops the run once a budget is spent, as the Stop button
// would: the interpreter ends at its next statement.
class BudgetHost : public SilentHost {
public:
  explicit BudgetHost(const ProgramRunChecker::Budget& budget) : budget_(budget) {}

  // The interpreter whose run is stopped; the pump count starts again.
  void Watch(TInterpreter* in) {
    watched_ = in;
    pumps_ = 0;
    stopped_ = false;
  }
  bool Stopped() const { return stopped_; }

  // heapToo: also asks the allocator for its total (which takes a lock).
  void StopWhenOverBudget(bool heapToo = true) {
    if (watched_ == nullptr || !OverBudget(heapToo)) return;
    watched_->RunState = rsStop;
    stopped_ = true;
  }

  void processMessages() override {
    ++pumps_;
    StopWhenOverBudget();
  }
  void waitAndProcessMessages(int) override { processMessages(); }
private:
  bool OverBudget(bool heapToo) const {
    if (pumps_ > budget_.Pumps || watched_->S.LiveCount > budget_.LiveAtoms) return true;
#if defined(ZAVTA_RUN_CHECK_ASAN)
    return heapToo && __sanitizer_get_current_allocated_bytes() > budget_.HeapBytes;
#else
    static_cast<void>(heapToo);
    return false;
#endif
  }

  ProgramRunChecker::Budget budget_;
  TInterpreter* watched_ = nullptr;
  int pumps_ = 0;
  bool stopped_ = false;
};

#if defined(ZAVTA_RUN_CHECK_ASAN)
// A statement can double a list or a word; many of them run between two
// pumps. Allocations look at the budget too (the heap total on large ones
// and a sample of the small ones; the pool's atoms come in blocks whose
// mapping allocates), so memory stops the run within a statement or two of
// the limit.
BudgetHost* gAllocationWatcher = nullptr;
std::thread::id gWatchingThread;
size_t gSmallAllocations = 0;

void OnAllocation(const volatile void*, size_t size) {
  if (gAllocationWatcher == nullptr || std::this_thread::get_id() != gWatchingThread) return;
  gAllocationWatcher->StopWhenOverBudget(size >= 65536 || ++gSmallAllocations % 256 == 0);
}
void OnFree(const volatile void*) {}

class AllocationWatch {
public:
  explicit AllocationWatch(BudgetHost& host) {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(&OnAllocation, &OnFree) != 0;
    static_cast<void>(installed);
    gWatchingThread = std::this_thread::get_id();
    gAllocationWatcher = &host;
  }
  ~AllocationWatch() { gAllocationWatcher = nullptr; }
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;
};
#else
class AllocationWatch {
public:
  explicit AllocationWatch(BudgetHost&) {}
};
#endif

// Routines that write files, start programs or load the port driver answer
// as missing routines: a fuzzed program must not change the machine.
void CloseTheWorld(TInterpreter& in) {
  for (const int32_t ordinal : {exLOGOOPENLOG, exLOGOWRITEFILE, exSYSSHELL, exIOOPENFILEFORWRITE, exIOLOADIO})
    in.Exports.Register(ordinal, nullptr);
}

const std::u16string& BaseLibrary() {
  static const std::u16string text = [] {
    std::ifstream in(std::string(ZAVTA_SOURCE_DIR) + "/resources/Logo.zav", std::ios::binary);
    return Utf8ToUtf16(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  }();
  return text;
}

std::string RunInState(TInterpreter& in, BudgetHost& host, std::u16string_view text, ProgramRunChecker::Counts& counts) {
  TStructure& s = in.S;
  CloseTheWorld(in);
  ResetInterpreter(in);
  if (BaseLibrary().empty() || RunProgramText(in, BaseLibrary(), u"Logo.zav", 0) != rrOk)
    return "the base library did not load";
  const TContext* const frameBefore = s.Frame();

  host.Watch(&in);
  const AllocationWatch watch(host);
  SetRunState(in, rsRunning);
  int result = rrOk;
  try {
    result = RunProgramText(in, text, u"fuzz.zav", 0);
  } catch (const std::exception& e) {
    return std::string("a run threw a non-language exception: ") + e.what();
  }
  SetRunState(in, rsEnded);
  ++counts.Ran;
  if (result != rrOk) ++counts.Errors;
  if (host.Stopped()) ++counts.Stopped;
  host.Watch(nullptr);

  if (result != rrOk && result != rrParseError && result != rrRunError) return "an unknown run result";
  if (in.RunNesting != 0 || in.CallDepth != 0 || in.InterpretDepth != 0) return "the run left its depth counters";
  if (s.Frame() != frameBefore) return "the run left the current frame";
  // A collection over whatever the program left, then the reset the next
  // run would make.
  s.AllocationCount = s.CollectionInterval();
  CollectGarbage(in);
  ResetInterpreter(in);
  return {};
}

}  // namespace

ProgramRunChecker::ProgramRunChecker(Budget budget) : budget_(budget) {}

bool ProgramRunChecker::WatchesAllocations() {
#if defined(ZAVTA_RUN_CHECK_ASAN)
  return true;
#else
  return false;
#endif
}

bool ProgramRunChecker::Runnable(std::u16string_view text) {
  std::u16string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; });
  for (size_t at = lower.find(u"dll."); at != std::u16string::npos; at = lower.find(u"dll.", at + 1))
    if (lower.compare(at + 4, 6, u"zavta.") != 0) return false;
  return true;
}

std::string ProgramRunChecker::Run(std::u16string_view text) {
  if (!Runnable(text)) {
    ++counts_.NotRunnable;
    return {};
  }
  BudgetHost host(budget_);
  auto s = std::make_unique<TStructure>(host);
  UseEnglishKeywords(*s);
  s->EnterFrame(NewVariable(*s, u"[Root]", nullptr));
  std::string broken;
  {
    TInterpreter in(*s);
    try {
      broken = RunInState(in, host, text, counts_);
    } catch (const std::exception& e) {
      broken = std::string("the library or the reset threw: ") + e.what();
    }
  }
  return broken;
}
