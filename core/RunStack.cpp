// The run stack: a large reserved mapping (pages are only committed as the
// recursion reaches them) with an inaccessible guard page below, entered
// by a call that moves the stack pointer, on the same thread. The interpreter's stack guard
// raises the stack-overflow error while a reserve is still left above the
// guard page.

#include <algorithm>
#include "core/RunStack.h"

#include <sys/mman.h>
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
constexpr size_t kWithoutFastPathsBytes = size_t{48} << 20;
constexpr size_t kKeptTopBytes = size_t{1} << 20;

// One switch onto the run stack and back.
struct TStackSwitch {
  void (*Body)(void*) = nullptr;
  void* Context = nullptr;
  std::exception_ptr Error;
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

#if defined(__x86_64__)
// Calls body(context) with the stack pointer at top (16-byte aligned) and
// comes back to the caller's stack. The frame pointer keeps the caller's
// frame reachable for debuggers and backtraces.
extern "C" void ZavtaCallOnStack(void* context, void (*body)(void*), void* top);
asm(R"(
  .text
  .globl ZavtaCallOnStack
  .type ZavtaCallOnStack, @function
ZavtaCallOnStack:
  .cfi_startproc
  pushq %rbp
  .cfi_def_cfa_offset 16
  .cfi_offset %rbp, -16
  movq %rsp, %rbp
  .cfi_def_cfa_register %rbp
  movq %rdx, %rsp
  callq *%rsi
  movq %rbp, %rsp
  popq %rbp
  .cfi_def_cfa %rsp, 8
  ret
  .cfi_endproc
  .size ZavtaCallOnStack, .-ZavtaCallOnStack
)");
constexpr bool kCanSwitch = true;
#else
void ZavtaCallOnStack(void*, void (*)(void*), void*) {}
constexpr bool kCanSwitch = false;
#endif

// The function the switch calls on the run stack: nothing may unwind out
// of it, so an exception is kept and thrown again after the way back.
void RunStackMain(void* context) {
  TStackSwitch& step = *static_cast<TStackSwitch*>(context);
  FinishSwitch(nullptr, &step.CallerBottom, &step.CallerSize);
  try {
    step.Body(step.Context);
  } catch (...) {
    step.Error = std::current_exception();
  }
  StartSwitch(nullptr, step.CallerBottom, step.CallerSize);
}

}  // namespace

void RunOnRunStack(TInterpreter& in, void (*body)(void*), void* context) {
  if (!kCanSwitch || runStack.Active != nullptr || !runStack.Reserve()) {
    body(context);
    return;
  }
  TStackSwitch step;
  step.Body = body;
  step.Context = context;
  const uintptr_t threadLimit = in.S.StackLimit();
  // Without the fast paths a name look-up walks every calling frame, so a
  // deep recursion costs the square of its depth: those runs get the depth
  // of a smaller stack (still far more than the thread's own).
  const size_t usable = in.S.FastPaths ? runStack.Size : std::min(runStack.Size, kWithoutFastPathsBytes);
  in.S.SetStackLimit(reinterpret_cast<uintptr_t>(runStack.Low + (runStack.Size - usable)));
  runStack.Active = &step;
  void* fakeStack = nullptr;
  StartSwitch(&fakeStack, runStack.Low, runStack.Size);
  ZavtaCallOnStack(&step, RunStackMain, runStack.Low + runStack.Size);
  FinishSwitch(fakeStack, nullptr, nullptr);
  runStack.Active = nullptr;
  in.S.SetStackLimit(threadLimit);
  runStack.ReleaseDepth();
  if (step.Error) std::rethrow_exception(step.Error);
}

size_t RunStackSizeInUse() { return runStack.Active != nullptr ? runStack.Size : 0; }
