/* The port driver for real hardware. On x86-64 every entry first asks the
   kernel for access to exactly the ports it touches (ioperm); without that
   permission an in or out instruction would fault, so a refused entry does
   nothing and returns 0. Elsewhere there are no I/O ports: every entry does
   nothing, and the driver reports itself not installed. See IoDriver.h for
   what each entry means. */

#include "core/iodriver/IoDriver.h"

#if defined(__x86_64__) && defined(__linux__)

#include <sys/io.h>

/* Whether the ports port .. port + width - 1 exist and may be used. */
static int Reach(unsigned port, unsigned width) { return port + width <= 65536u && ioperm(port, width, 1) == 0; }

/* The byte port and mask of a bit; 0 when the bit's port is past 65535. */
static int BitPlace(uint16_t port, uint8_t bit, unsigned* bytePort, uint8_t* mask) {
  *bytePort = (unsigned)port + bit / 8u;
  *mask = (uint8_t)(1u << (bit % 8u));
  return Reach(*bytePort, 1);
}

void PortOut(uint16_t port, uint8_t value) {
  if (Reach(port, 1)) outb(value, port);
}

void PortWordOut(uint16_t port, uint16_t value) {
  if (Reach(port, 2)) outw(value, port);
}

void PortDWordOut(uint16_t port, uint32_t value) {
  if (Reach(port, 4)) outl(value, port);
}

uint32_t PortIn(uint16_t port) { return Reach(port, 1) ? inb(port) : 0; }

uint32_t PortWordIn(uint16_t port) { return Reach(port, 2) ? inw(port) : 0; }

uint32_t PortDWordIn(uint16_t port) { return Reach(port, 4) ? inl(port) : 0; }

void SetPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  if (BitPlace(port, bit, &bytePort, &mask)) outb((uint8_t)(inb(bytePort) | mask), bytePort);
}

void ClrPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  if (BitPlace(port, bit, &bytePort, &mask)) outb((uint8_t)(inb(bytePort) & ~mask), bytePort);
}

void NotPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  if (BitPlace(port, bit, &bytePort, &mask)) outb((uint8_t)(inb(bytePort) ^ mask), bytePort);
}

int GetPortBit(uint16_t port, uint8_t bit) {
  unsigned bytePort;
  uint8_t mask;
  return BitPlace(port, bit, &bytePort, &mask) && (inb(bytePort) & mask) != 0;
}

static uint32_t Shift(uint16_t port, uint32_t count, int left) {
  if (!Reach(port, 1)) return 0;
  const unsigned byte = inb(port);
  const uint8_t shifted = count >= 8u ? 0 : (uint8_t)(left ? byte << count : byte >> count);
  outb(shifted, port);
  return shifted;
}

uint32_t RightPortShift(uint16_t port, uint32_t count) { return Shift(port, count, 0); }

uint32_t LeftPortShift(uint16_t port, uint32_t count) { return Shift(port, count, 1); }

/* Asks for one port and gives it back: the answer tells whether the
   process may reach ports at all. */
int IsDriverInstalled(void) {
  if (ioperm(0x80, 1, 1) != 0) return 0;
  ioperm(0x80, 1, 0);
  return 1;
}

#else

void PortOut(uint16_t port, uint8_t value) { (void)port, (void)value; }
void PortWordOut(uint16_t port, uint16_t value) { (void)port, (void)value; }
void PortDWordOut(uint16_t port, uint32_t value) { (void)port, (void)value; }
uint32_t PortIn(uint16_t port) { return (void)port, 0; }
uint32_t PortWordIn(uint16_t port) { return (void)port, 0; }
uint32_t PortDWordIn(uint16_t port) { return (void)port, 0; }
void SetPortBit(uint16_t port, uint8_t bit) { (void)port, (void)bit; }
void ClrPortBit(uint16_t port, uint8_t bit) { (void)port, (void)bit; }
void NotPortBit(uint16_t port, uint8_t bit) { (void)port, (void)bit; }
int GetPortBit(uint16_t port, uint8_t bit) { return (void)port, (void)bit, 0; }
uint32_t RightPortShift(uint16_t port, uint32_t count) { return (void)port, (void)count, 0; }
uint32_t LeftPortShift(uint16_t port, uint32_t count) { return (void)port, (void)count, 0; }
int IsDriverInstalled(void) { return 0; }

#endif
