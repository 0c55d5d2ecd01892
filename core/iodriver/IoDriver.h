#pragma once
/* The port driver: a shared object named "io.so" that the port primitives
   load on request (the loader's search path first, then the program folder)
   and bind by the names below. Plain C; every entry but IsDriverInstalled
   takes the port first.

   Ports are bytes at consecutive addresses: a word or double word entry
   reaches the port and the one or three ports after it, little-endian. An
   access that would reach past port 65535 does nothing and returns 0.

   Bits: bit number b (0 to 255) is bit b % 8 (0 the lowest) of the byte port
   port + b / 8, so one port number addresses a block of up to 32 byte
   ports. A bit whose port would lie past 65535 is not there: setting,
   clearing or inverting it does nothing, and it reads as 0.

   Shifts: RightPortShift and LeftPortShift read the byte port, shift it by
   count places (bits shifted past either end are lost, so a count of 8 or
   more gives 0), write the byte back and return it.

   The In entries and the shifts return uint32_t; the caller keeps the 8, 16
   or 32 bits it asked for. GetPortBit returns 1 for a set bit and 0 for a
   clear one; IsDriverInstalled returns 1 when the driver can reach ports and
   0 when it cannot. A driver that cannot reach a port does nothing and
   returns 0. */

#include <stdint.h>

#ifdef __cplusplus
#define ZAVTA_IO_ENTRY extern "C" __attribute__((visibility("default")))
#else
#define ZAVTA_IO_ENTRY __attribute__((visibility("default")))
#endif

ZAVTA_IO_ENTRY void PortOut(uint16_t port, uint8_t value);
ZAVTA_IO_ENTRY void PortWordOut(uint16_t port, uint16_t value);
ZAVTA_IO_ENTRY void PortDWordOut(uint16_t port, uint32_t value);
ZAVTA_IO_ENTRY uint32_t PortIn(uint16_t port);
ZAVTA_IO_ENTRY uint32_t PortWordIn(uint16_t port);
ZAVTA_IO_ENTRY uint32_t PortDWordIn(uint16_t port);
ZAVTA_IO_ENTRY void SetPortBit(uint16_t port, uint8_t bit);
ZAVTA_IO_ENTRY void ClrPortBit(uint16_t port, uint8_t bit);
ZAVTA_IO_ENTRY void NotPortBit(uint16_t port, uint8_t bit);
ZAVTA_IO_ENTRY int GetPortBit(uint16_t port, uint8_t bit);
ZAVTA_IO_ENTRY uint32_t RightPortShift(uint16_t port, uint32_t count);
ZAVTA_IO_ENTRY uint32_t LeftPortShift(uint16_t port, uint32_t count);
ZAVTA_IO_ENTRY int IsDriverInstalled(void);
