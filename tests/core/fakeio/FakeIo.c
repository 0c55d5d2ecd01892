/* A port driver for tests: 65536 byte ports in memory and a log of the
   calls, which tests read through the FakeIo... functions. The entries mean
   what IoDriver.h says, as in the real driver. Built with
   FAKEIO_PARTIAL it lacks PortWordIn and GetPortBit, as a driver of an
   older interface would. */

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "core/iodriver/IoDriver.h"

#define FAKEIO_EXPORT __attribute__((visibility("default")))

enum { kPortCount = 65536, kLogLines = 256, kLogWidth = 48 };

static uint8_t ports[kPortCount];
static char callLog[kLogLines][kLogWidth];
static int callCount;

/* Records one call; past kLogLines calls are counted but not kept. */
static void Note(const char* format, ...) {
  if (callCount < kLogLines) {
    va_list args;
    va_start(args, format);
    vsnprintf(callLog[callCount], kLogWidth, format, args);
    va_end(args);
  }
  ++callCount;
}

static int Exists(unsigned port, unsigned width) { return port + width <= (unsigned)kPortCount; }

static uint32_t ReadPorts(unsigned port, unsigned width) {
  uint32_t value = 0;
  if (!Exists(port, width)) return 0;
  for (unsigned i = width; i-- > 0;) value = value << 8 | ports[port + i];
  return value;
}

static void WritePorts(unsigned port, unsigned width, uint32_t value) {
  if (!Exists(port, width)) return;
  for (unsigned i = 0; i < width; ++i, value >>= 8) ports[port + i] = (uint8_t)value;
}

static int BitPlace(uint16_t port, uint8_t bit, unsigned* bytePort, uint8_t* mask) {
  *bytePort = (unsigned)port + bit / 8u;
  *mask = (uint8_t)(1u << (bit % 8u));
  return Exists(*bytePort, 1);
}

void PortOut(uint16_t port, uint8_t value) {
  Note("PortOut %u %u", port, value);
  WritePorts(port, 1, value);
}

void PortWordOut(uint16_t port, uint16_t value) {
  Note("PortWordOut %u %u", port, value);
  WritePorts(port, 2, value);
}

void PortDWordOut(uint16_t port, uint32_t value) {
  Note("PortDWordOut %u %u", port, (unsigned)value);
  WritePorts(port, 4, value);
}

uint32_t PortIn(uint16_t port) {
  Note("PortIn %u", port);
  return ReadPorts(port, 1);
}

#ifndef FAKEIO_PARTIAL
uint32_t PortWordIn(uint16_t port) {
  Note("PortWordIn %u", port);
  return ReadPorts(port, 2);
}
#endif

uint32_t PortDWordIn(uint16_t port) {
  Note("PortDWordIn %u", port);
  return ReadPorts(port, 4);
}

void SetPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  Note("SetPortBit %u %u", port, bit);
  if (BitPlace(port, bit, &bytePort, &mask)) ports[bytePort] |= mask;
}

void ClrPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  Note("ClrPortBit %u %u", port, bit);
  if (BitPlace(port, bit, &bytePort, &mask)) ports[bytePort] &= (uint8_t)~mask;
}

void NotPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  Note("NotPortBit %u %u", port, bit);
  if (BitPlace(port, bit, &bytePort, &mask)) ports[bytePort] ^= mask;
}

#ifndef FAKEIO_PARTIAL
int GetPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  Note("GetPortBit %u %u", port, bit);
  return BitPlace(port, bit, &bytePort, &mask) && (ports[bytePort] & mask) != 0;
}
#endif

static uint32_t Shift(uint16_t port, uint32_t count, int left) {
  const unsigned byte = ports[port];
  const uint8_t shifted = count >= 8u ? 0 : (uint8_t)(left ? byte << count : byte >> count);
  ports[port] = shifted;
  return shifted;
}

uint32_t RightPortShift(uint16_t port, uint32_t count) {
  Note("RightPortShift %u %u", port, (unsigned)count);
  return Shift(port, count, 0);
}

uint32_t LeftPortShift(uint16_t port, uint32_t count) {
  Note("LeftPortShift %u %u", port, (unsigned)count);
  return Shift(port, count, 1);
}

int IsDriverInstalled(void) {
  Note("IsDriverInstalled");
  return 1;
}

/* --- the tests' side ---------------------------------------------------- */

/* Clears the ports and the log. */
FAKEIO_EXPORT void FakeIoReset(void) {
  memset(ports, 0, sizeof ports);
  callCount = 0;
}

FAKEIO_EXPORT int FakeIoCallCount(void) { return callCount; }

/* The call's line, such as "PortOut 888 65"; empty past the kept lines. */
FAKEIO_EXPORT const char* FakeIoCall(int index) {
  return index >= 0 && index < callCount && index < kLogLines ? callLog[index] : "";
}

FAKEIO_EXPORT uint8_t FakeIoPort(uint16_t port) { return ports[port]; }

FAKEIO_EXPORT void FakeIoSetPort(uint16_t port, uint8_t value) { ports[port] = value; }
