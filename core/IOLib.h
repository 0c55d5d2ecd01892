#pragma once
// Byte-level file access and hardware ports: the six file primitives
// (IOOPENFILEFORWRITE ... IOREADFILE) and the fourteen port primitives
// (IOLOADIO, IOPORTOUT ... IOISDRIVERINSTALLED).
//
// Programs hold an open file as a plain number in a variable named `handle`.
// The numbers are this interpreter's own, counted from 1 and never given
// twice, so a stale or made-up number never reaches a descriptor the
// process opened for something else. 4294967295 is the number of no file.
//
// The ports are reached through a driver, a shared object "io.so" with the
// entries of core/iodriver/IoDriver.h, loaded by IOLOADIO. Both the open
// files and the driver belong to one interpreter and go with it.

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "core/iodriver/IoDriver.h"

class TInterpreter;

// The number a failed open stores, and that no open file ever gets.
constexpr uint32_t kInvalidFileNumber = 4294967295u;

// The interpreter's open files by number.
class TFileTable {
public:
  TFileTable() = default;
  ~TFileTable();  // closes every file still open
  TFileTable(const TFileTable&) = delete;
  TFileTable& operator=(const TFileTable&) = delete;

  // Takes over the descriptor and returns its new number; when no number is
  // left the descriptor is closed and the invalid number returned.
  uint32_t Add(int descriptor);
  // The descriptor of an open number; -1 for any other number.
  int Descriptor(uint32_t number) const;
  // Closes the file; false when the number is not open or the close fails.
  bool Close(uint32_t number);
  size_t OpenCount() const { return open_.size(); }

private:
  std::unordered_map<uint32_t, int> open_;
  uint32_t next_ = 1;
};

// The loaded port driver and its entry points; an entry the driver lacks,
// and every entry while none is loaded, is null.
struct TPortDriver {
  TPortDriver() = default;
  ~TPortDriver();  // unloads the driver
  TPortDriver(const TPortDriver&) = delete;
  TPortDriver& operator=(const TPortDriver&) = delete;

  // Binds every entry of the newly loaded library, then unloads the one
  // loaded before (if any).
  void Replace(void* library);

  void* Library = nullptr;
  decltype(&::PortOut) PortOut = nullptr;
  decltype(&::PortWordOut) PortWordOut = nullptr;
  decltype(&::PortDWordOut) PortDWordOut = nullptr;
  decltype(&::PortIn) PortIn = nullptr;
  decltype(&::PortWordIn) PortWordIn = nullptr;
  decltype(&::PortDWordIn) PortDWordIn = nullptr;
  decltype(&::SetPortBit) SetPortBit = nullptr;
  decltype(&::ClrPortBit) ClrPortBit = nullptr;
  decltype(&::NotPortBit) NotPortBit = nullptr;
  decltype(&::GetPortBit) GetPortBit = nullptr;
  decltype(&::RightPortShift) RightPortShift = nullptr;
  decltype(&::LeftPortShift) LeftPortShift = nullptr;
  decltype(&::IsDriverInstalled) IsDriverInstalled = nullptr;
};

// What the file and port primitives keep per interpreter.
struct TIOState {
  TFileTable Files;
  TPortDriver Ports;
};

// Enters the file and port primitives in the interpreter's export registry.
void InitIOLib(TInterpreter& in);
