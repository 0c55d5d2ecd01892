/* The test port driver without PortWordIn and GetPortBit. */
#define FAKEIO_PARTIAL 1
#include "tests/core/fakeio/FakeIo.c"
