/* An outside library for the binder's tests. NATIVERESULT records the state
   it was called with and returns whatever the test set beforehand, so that
   a test can hand back live atoms, null and bogus addresses alike. */

#include "core/NativeRoutine.h"

static TStructure* lastState;
static TAtom* nextResult;

ZAVTA_NATIVE TAtom* NATIVERESULT(TStructure* state) {
  lastState = state;
  return nextResult;
}

/* Not called by programs: the test's own controls. */
ZAVTA_NATIVE void TestNativeSetResult(TAtom* result) { nextResult = result; }
ZAVTA_NATIVE TStructure* TestNativeLastState(void) { return lastState; }
