// The run stack: a large reserved mapping (pages are only committed as the
// recursion reaches them) with an inaccessible guard page below, entered
// with a context switch on the same thread. The interpreter's stack guard
// raises the stack-overflow error while a reserve is still left above the
// guard page.

#include "core/RunStack.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "core/Trans.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZAVTA_RUN_STACK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAVTA_RUN_STACK_ASAN 1
#endif
#endif
#if defined(ZAVTA_RUN_STACK_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// About 2 to 2.5 KB of machine stack per nested call of a small procedure:
// 512 MiB allows some 200,000. The address sanitizer stops clearing its
// shadow for an exception thrown from more than 64 MiB deep, so its builds
// stay below that (and reach a lower depth).
#if defined(ZAVTA_RUN_STACK_ASAN)
constexpr size_t kRunStackBytes = size_t{60} << 20;
#else
constexpr size_t kRunStackBytes = size_t{512} << 20;
#endif
// Pages near the top that stay committed between runs; the rest a deep run
// touched is given back when the outermost run leaves the stack.
constexpr size_t kKeptTopBytes = size_t{1} << 20;

// One switch onto the run stack and back.
struct TStackSwitch {
  void (*Body)(void*) = nullptr;
  void* Context = nullptr;
  std::exception_ptr Error;
  ucontext_t Caller{};
  ucontext_t Callee{};
  const void* CallerBottom = nullptr;  // the thread stack, for the sanitizer
  size_t CallerSize = 0;
};

struct TRunStack {
  char* Mapping = nullptr;
  size_t MappingSize = 0;
  char* Low = nullptr;  // lowest usable byte, just above the guard page
  size_t Size = 0;
  bool Failed = false;  // the reservation failed: runs stay on the thread stack
  TStackSwitch* Active = nullptr;

  ~TRunStack() {
    if (Mapping != nullptr) munmap(Mapping, MappingSize);
  }

  bool Reserve() {
    if (Mapping != nullptr) return true;
    if (Failed) return false;
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t total = kRunStackBytes + page;
    void* memory = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK,
                        -1, 0);
    if (memory == MAP_FAILED || mprotect(memory, page, PROT_NONE) != 0) {
      if (memory != MAP_FAILED) munmap(memory, total);
      Failed = true;
      return false;
    }
    Mapping = static_cast<char*>(memory);
    MappingSize = total;
    Low = Mapping + page;
    Size = kRunStackBytes;
    return true;
  }

  // Gives the pages a deep run touched back to the system.
  void ReleaseDepth() const { madvise(Low, Size - kKeptTopBytes, MADV_DONTNEED); }
};

thread_local TRunStack runStack;

void StartSwitch([[maybe_unused]] void** fakeStack, [[maybe_unused]] const void* bottom,
                 [[maybe_unused]] size_t size) {
#if defined(ZAVTA_RUN_STACK_ASAN)
  __sanitizer_start_switch_fiber(fakeStack, bottom, size);
#endif
}

void FinishSwitch([[maybe_unused]] void* fakeStack, [[maybe_unused]] const void** oldBottom,
                  [[maybe_unused]] size_t* oldSize) {
#if defined(ZAVTA_RUN_STACK_ASAN)
  __sanitizer_finish_switch_fiber(fakeStack, oldBottom, oldSize);
#endif
}

// The first and only function of a switch on the run stack. It never
// returns: it switches back to the caller, which makes a fresh context the
// next time.
void RunStackMain() {
  TStackSwitch& step = *runStack.Active;
  FinishSwitch(nullptr, &step.CallerBottom, &step.CallerSize);
  try {
    step.Body(step.Context);
  } catch (...) {
    step.Error = std::current_exception();
  }
  // Leaving this context for good: the sanitizer may drop its fake frames.
  StartSwitch(nullptr, step.CallerBottom, step.CallerSize);
  swapcontext(&step.Callee, &step.Caller);
  std::abort();  // never resumed
}

}  // namespace

void RunOnRunStack(TInterpreter& in, void (*body)(void*), void* context) {
  if (runStack.Active != nullptr || !runStack.Reserve()) {
    body(context);
    return;
  }
  TStackSwitch step;
  step.Body = body;
  step.Context = context;
  if (getcontext(&step.Callee) != 0) {
    body(context);
    return;
  }
  step.Callee.uc_stack.ss_sp = runStack.Low;
  step.Callee.uc_stack.ss_size = runStack.Size;
  step.Callee.uc_link = nullptr;
  makecontext(&step.Callee, RunStackMain, 0);

  const uintptr_t threadLimit = in.S.StackLimit();
  in.S.SetStackLimit(reinterpret_cast<uintptr_t>(runStack.Low));
  runStack.Active = &step;
  void* fakeStack = nullptr;
  StartSwitch(&fakeStack, runStack.Low, runStack.Size);
  swapcontext(&step.Caller, &step.Callee);
  FinishSwitch(fakeStack, nullptr, nullptr);
  runStack.Active = nullptr;
  in.S.SetStackLimit(threadLimit);
  runStack.ReleaseDepth();
  if (step.Error) std::rethrow_exception(step.Error);
}

size_t RunStackSizeInUse() { return runStack.Active != nullptr ? runStack.Size : 0; }
