#pragma once
// The run stack: programs run on a large stack of their own, reserved once
// per thread, so that deep recursion of user procedures ends in the
// stack-overflow language error long after the thread's few megabytes would
// have run out, and never in a crash (also under a small `ulimit -s`).

#include <cstddef>
#include <cstdint>
#include <type_traits>

class TInterpreter;

// Runs body(context) on the run stack of this thread and returns when it
// has returned; an exception it throws is thrown again here, on the stack
// the call came from. Called while already on the run stack (a nested run
// entry), or when the stack cannot be reserved, it simply calls body.
// While the body runs, the interpreter's stack limit is the run stack's.
void RunOnRunStack(TInterpreter& in, void (*body)(void*), void* context);

// The same for any callable without arguments.
template <class Body>
void OnRunStack(TInterpreter& in, Body&& body) {
  using Callable = std::remove_reference_t<Body>;
  RunOnRunStack(
      in, [](void* context) { (*static_cast<Callable*>(context))(); }, &body);
}

// Usable bytes of this thread's run stack while code runs on it; else 0.
size_t RunStackSizeInUse();
