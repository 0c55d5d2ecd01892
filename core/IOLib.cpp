// The binary file primitives, the port driver's loader and the port
// primitives.
//
// The file primitives find the file name and the handle by name (the
// variables `filename` and `handle` that their wrapper procedures declare)
// and their data inputs by argument cell. The port primitives read the port
// from the first input as written and the data from the second, check the
// port, then the data, then that the driver has the entry, and only then
// call it.
//
// Whenever a raised error returns (no current line) a primitive stops at
// once with its no-result value: no further look-ups, no file or port
// access.

#include "core/IOLib.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/LogoLib.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"

// --- the file table ---------------------------------------------------------------

TFileTable::~TFileTable() {
  for (const auto& [number, descriptor] : open_) ::close(descriptor);
}

uint32_t TFileTable::Add(int descriptor) {
  if (next_ == kInvalidFileNumber) {
    ::close(descriptor);
    return kInvalidFileNumber;
  }
  const uint32_t number = next_++;
  open_.emplace(number, descriptor);
  return number;
}

int TFileTable::Descriptor(uint32_t number) const {
  const auto found = open_.find(number);
  return found != open_.end() ? found->second : -1;
}

bool TFileTable::Close(uint32_t number) {
  const auto found = open_.find(number);
  if (found == open_.end()) return false;
  const int descriptor = found->second;
  open_.erase(found);
  // The descriptor is gone even when close reports an error, so the number
  // is never closed twice.
  return ::close(descriptor) == 0;
}

// --- the port driver ---------------------------------------------------------------

TPortDriver::~TPortDriver() {
  if (Library != nullptr) dlclose(Library);
}

namespace {
template <class Entry>
void Bind(void* library, Entry& entry, const char* name) {
  entry = reinterpret_cast<Entry>(dlsym(library, name));
}
}  // namespace

void TPortDriver::Replace(void* library) {
  Bind(library, PortOut, "PortOut");
  Bind(library, PortWordOut, "PortWordOut");
  Bind(library, PortDWordOut, "PortDWordOut");
  Bind(library, PortIn, "PortIn");
  Bind(library, PortWordIn, "PortWordIn");
  Bind(library, PortDWordIn, "PortDWordIn");
  Bind(library, SetPortBit, "SetPortBit");
  Bind(library, ClrPortBit, "ClrPortBit");
  Bind(library, NotPortBit, "NotPortBit");
  Bind(library, GetPortBit, "GetPortBit");
  Bind(library, RightPortShift, "RightPortShift");
  Bind(library, LeftPortShift, "LeftPortShift");
  Bind(library, IsDriverInstalled, "IsDriverInstalled");
  // Loading the same file again hands back the same library with one more
  // reference: closing the old reference then leaves it loaded.
  if (Library != nullptr) dlclose(Library);
  Library = library;
}

namespace {

// --- reading inputs -------------------------------------------------------------

// Bytes read per call, so that a buffer grows only as data arrives.
constexpr size_t kReadChunk = 65536;
// The most bytes one IOREADFILE with a count returns.
constexpr int64_t kLargestRead = 16777216;

// A whole number from low to high. A value that is no whole number raises
// AsInteger's error; a whole number outside the range raises key.
bool ReadWholeInRange(TStructure& s, const TAtom* value, long double low, long double high, std::u16string_view key,
                      int64_t& result) {
  long double x = 0;
  if (!TAtom::TryNumber(value, x) || !std::isfinite(x) || std::nearbyint(x) != x) {
    TAtom::AsInteger(s, value);
    return false;
  }
  if (x < low || x > high) {
    RaisePrimitiveError(s, key);
    return false;
  }
  result = static_cast<int64_t>(x);
  return true;
}

// --- the file primitives ----------------------------------------------------------

TFileTable& Files(TInterpreter& in) { return in.IO->Files; }

// The file number in the variable `handle`. A variable that is not visible
// or holds nothing names no file; a value that is no number raises
// BADNUMBER (nullopt). Numbers that no open gave are the invalid number.
std::optional<uint32_t> HandleNumber(TStructure& s) {
  const TAtom* variable = s.FindName(u"handle");
  if (variable == nullptr || !IsAtom(variable->Left)) return kInvalidFileNumber;
  long double x = 0;
  if (!TAtom::TryNumber(variable->Left, x)) {
    TAtom::AsNumber(s, variable->Left);
    return std::nullopt;
  }
  x = std::round(x);
  if (!(x >= 1 && x < kInvalidFileNumber)) return kInvalidFileNumber;
  return static_cast<uint32_t>(x);
}

// The descriptor of the file `handle` names; -1 for none; nullopt when
// reading the handle raised.
std::optional<int> HandleDescriptor(TInterpreter& in) {
  const std::optional<uint32_t> number = HandleNumber(in.S);
  if (!number) return std::nullopt;
  return Files(in).Descriptor(*number);
}

// Opens the file; -1 when it cannot be opened. Reading never blocks on a
// pipe without a writer, and a folder is never opened.
int OpenDescriptor(const std::u16string& name, bool forWrite) {
  if (name.empty() || name.find(u'\0') != std::u16string::npos) return -1;
  const std::string path = Utf16ToUtf8(name);
  const int flags = forWrite ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY;
  const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (descriptor < 0) return -1;
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(descriptor);
    return -1;
  }
  fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  return descriptor;
}

// IOOPENFILEFORWRITE and IOOPENFILEFORREAD: `handle` gets the new file's
// number, or the invalid number when the open fails (not an error).
TAtom* OpenFile(TInterpreter& in, bool forWrite) {
  TStructure& s = in.S;
  const std::u16string_view key = forWrite ? u"openforwrite" : u"openforread";
  const TAtom* nameVariable = s.FindName(u"filename");
  if (nameVariable == nullptr || !IsAtom(nameVariable->Left)) return RaisePrimitiveError(s, key);
  TAtom* handleVariable = s.FindName(u"handle");
  if (handleVariable == nullptr) return RaisePrimitiveError(s, key);
  if (!TAtom::IsWordOrNumber(nameVariable->Left)) {
    TAtom::AsString(s, nameVariable->Left);  // raises BADSTRING
    return nullptr;
  }
  const int descriptor = OpenDescriptor(TAtom::AsString(s, nameVariable->Left), forWrite);
  const uint32_t number = descriptor >= 0 ? Files(in).Add(descriptor) : kInvalidFileNumber;
  TAtom::SetValue(s, *handleVariable, NewNumber(s, number));
  return nullptr;
}

TAtom* OpenFileForWrite(TInterpreter& in) { return OpenFile(in, true); }
TAtom* OpenFileForRead(TInterpreter& in) { return OpenFile(in, false); }

TAtom* CloseFile(TInterpreter& in) {
  TStructure& s = in.S;
  const std::optional<uint32_t> number = HandleNumber(s);
  if (!number) return nullptr;
  if (!Files(in).Close(*number)) return RaisePrimitiveError(s, u"closefile");
  return nullptr;
}

// The bytes of one number or a list of numbers, each 0 to 255; nullopt
// after raising for the first bad one.
std::optional<std::vector<uint8_t>> BytesToWrite(TStructure& s, const TAtom* data) {
  std::vector<uint8_t> bytes;
  auto add = [&](const TAtom* value) {
    int32_t byte = 0;
    if (!WholeNumberValue(s, value, byte)) return false;
    if (byte < 0 || byte > 255) {
      RaisePrimitiveError(s, u"iowritefile");
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(byte));
    return true;
  };
  if (TAtom::IsWordOrNumber(data)) {
    if (!add(data)) return std::nullopt;
  } else if (TAtom::IsList(data)) {
    for (const TAtom* cell = data; IsAtom(cell) && cell->Kind == akList; cell = cell->Right)
      if (!add(cell->Left)) return std::nullopt;
  } else {
    RaisePrimitiveError(s, u"iowritefile");
    return std::nullopt;
  }
  return bytes;
}

bool WriteAll(int descriptor, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(descriptor, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

TAtom* WriteFile(TInterpreter& in) {
  TStructure& s = in.S;
  const TAtom* cell = CheckedCell(s, exIOWRITEFILE, 1);
  if (cell == nullptr) return nullptr;
  const std::optional<std::vector<uint8_t>> bytes = BytesToWrite(s, cell->Left);
  if (!bytes) return nullptr;
  const std::optional<int> descriptor = HandleDescriptor(in);
  if (!descriptor) return nullptr;
  if (*descriptor < 0 || !WriteAll(*descriptor, *bytes)) return RaisePrimitiveError(s, u"iowritefile");
  return nullptr;
}

TAtom* GotoFilePos(TInterpreter& in) {
  TStructure& s = in.S;
  const TAtom* originCell = CheckedCell(s, exIOGOTOFILEPOS, 1);
  const TAtom* distanceCell = originCell != nullptr ? CheckedCell(s, exIOGOTOFILEPOS, 2) : nullptr;
  if (distanceCell == nullptr) return nullptr;
  int32_t origin = 0;
  int32_t distance = 0;
  if (!WholeNumberValue(s, originCell->Left, origin) || !WholeNumberValue(s, distanceCell->Left, distance)) return nullptr;
  constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return RaisePrimitiveError(s, u"gotofilepos");
  const std::optional<int> descriptor = HandleDescriptor(in);
  if (!descriptor) return nullptr;
  const off_t position = *descriptor >= 0 ? lseek(*descriptor, distance, kWhence[origin]) : -1;
  return NumberResult(s, position >= 0 ? static_cast<long double>(position) : kInvalidFileNumber);
}

// The bytes between the position and the end of a regular file; nullopt
// when the file's length says nothing (pipes, devices).
std::optional<int64_t> BytesLeft(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const off_t position = lseek(descriptor, 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  return std::max<int64_t>(0, static_cast<int64_t>(status.st_size) - static_cast<int64_t>(position));
}

// Reads up to count bytes, a chunk at a time; fewer at the end of the file
// or on a read error.
std::vector<uint8_t> ReadUpTo(int descriptor, int64_t count) {
  std::vector<uint8_t> bytes;
  while (static_cast<int64_t>(bytes.size()) < count) {
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(count - static_cast<int64_t>(bytes.size()), kReadChunk));
    const size_t done = bytes.size();
    bytes.resize(done + chunk);
    const ssize_t n = ::read(descriptor, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) {
      bytes.resize(done);
      continue;
    }
    bytes.resize(done + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) break;
  }
  return bytes;
}

// The next byte, or -1 at the end of the file or without a file.
TAtom* ReadOneByte(TStructure& s, int descriptor) {
  const std::vector<uint8_t> byte = descriptor >= 0 ? ReadUpTo(descriptor, 1) : std::vector<uint8_t>{};
  return NumberResult(s, byte.empty() ? -1 : byte.front());
}

// A list of the bytes read. The count is cut to the bytes the file has
// left, so a huge count costs nothing; more than kLargestRead bytes (or a
// count above it where the length is unknown) is the error "ioreadfile",
// raised before anything is read.
TAtom* ReadBytes(TStructure& s, int descriptor, int32_t count) {
  if (count <= 0 || descriptor < 0) return nullptr;
  const std::optional<int64_t> left = BytesLeft(descriptor);
  const int64_t wanted = left ? std::min<int64_t>(count, *left) : count;
  if (wanted > kLargestRead) return RaisePrimitiveError(s, u"ioreadfile");
  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  for (const uint8_t byte : ReadUpTo(descriptor, wanted)) AppendToList(s, NewNumber(s, byte), head, tail);
  return head;
}

// IOREADFILE: the count, when given, is the wrapper's extra input "#1".
TAtom* ReadFile(TInterpreter& in) {
  TStructure& s = in.S;
  const std::optional<int> descriptor = HandleDescriptor(in);
  if (!descriptor) return nullptr;
  const TAtom* countVariable = s.FindLocal(u"#1");
  if (countVariable == nullptr) return ReadOneByte(s, *descriptor);
  int32_t count = 0;
  if (!WholeNumberValue(s, countVariable->Left, count)) return nullptr;
  return ReadBytes(s, *descriptor, count);
}

// --- the port primitives ----------------------------------------------------------

TPortDriver& Driver(TInterpreter& in) { return in.IO->Ports; }

// IOLOADIO: the loader's search path first, then the program folder. A
// failed load raises "loadio" and keeps the driver loaded before, if any.
TAtom* LoadIo(TInterpreter& in) {
  constexpr int kMode = RTLD_NOW | RTLD_LOCAL;
  void* library = dlopen("io.so", kMode);
  if (library == nullptr) library = dlopen((Utf16ToUtf8(in.S.ProgramFolder) + "io.so").c_str(), kMode);
  if (library == nullptr) return RaisePrimitiveError(in.S, u"loadio");
  Driver(in).Replace(library);
  return nullptr;
}

// A port: a whole number 0 to 65535.
bool ReadPort(TStructure& s, const TAtom* cell, uint16_t& port) {
  int64_t value = 0;
  if (!ReadWholeInRange(s, cell->Left, 0, 65535, u"port", value)) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// The port of a one-input primitive; false after an error.
bool FetchPort(TStructure& s, int32_t ordinal, uint16_t& port) {
  const TAtom* cell = CheckedCell(s, ordinal, 1);
  return cell != nullptr && ReadPort(s, cell, port);
}

// The port (first input) and the data (second) of a two-input primitive,
// checked in that order; false after an error.
bool FetchPortAndData(TStructure& s, int32_t ordinal, long double low, long double high, uint16_t& port,
                      int64_t& data) {
  const TAtom* dataCell = CheckedCell(s, ordinal, 1);
  const TAtom* portCell = dataCell != nullptr ? CheckedCell(s, ordinal, 2) : nullptr;
  return portCell != nullptr && ReadPort(s, portCell, port) && ReadWholeInRange(s, dataCell->Left, low, high, u"data", data);
}

// Raises "loadio" for an entry the driver lacks (or with no driver loaded).
template <class Entry>
bool Bound(TStructure& s, Entry entry) {
  if (entry != nullptr) return true;
  RaisePrimitiveError(s, u"loadio");
  return false;
}

// The writing primitives: port and data in, nothing out.
template <int32_t Ordinal, class Value, auto Entry, long long High, long long Low = 0>
TAtom* PortWrite(TInterpreter& in) {
  TStructure& s = in.S;
  uint16_t port = 0;
  int64_t data = 0;
  if (!FetchPortAndData(s, Ordinal, Low, High, port, data)) return nullptr;
  const auto entry = Driver(in).*Entry;
  if (!Bound(s, entry)) return nullptr;
  entry(port, static_cast<Value>(data));
  return nullptr;
}

// The reading primitives: the port in, the entry's answer cut to mask out.
template <int32_t Ordinal, auto Entry, uint32_t Mask>
TAtom* PortRead(TInterpreter& in) {
  TStructure& s = in.S;
  uint16_t port = 0;
  if (!FetchPort(s, Ordinal, port)) return nullptr;
  const auto entry = Driver(in).*Entry;
  if (!Bound(s, entry)) return nullptr;
  return NumberResult(s, entry(port) & Mask);
}

TAtom* GetPortBit(TInterpreter& in) {
  TStructure& s = in.S;
  uint16_t port = 0;
  int64_t bit = 0;
  if (!FetchPortAndData(s, exIOGETPORTBIT, 0, 255, port, bit)) return nullptr;
  const auto entry = Driver(in).GetPortBit;
  if (!Bound(s, entry)) return nullptr;
  return NumberResult(s, entry(port, static_cast<uint8_t>(bit)) != 0 ? 1 : 0);
}

template <int32_t Ordinal, auto Entry>
TAtom* PortShift(TInterpreter& in) {
  TStructure& s = in.S;
  uint16_t port = 0;
  int64_t count = 0;
  if (!FetchPortAndData(s, Ordinal, 0, 65535, port, count)) return nullptr;
  const auto entry = Driver(in).*Entry;
  if (!Bound(s, entry)) return nullptr;
  return NumberResult(s, entry(port, static_cast<uint32_t>(count)));
}

// False, without an error, while no driver with the entry is loaded.
TAtom* IsDriverInstalled(TInterpreter& in) {
  const auto entry = Driver(in).IsDriverInstalled;
  return NewBoolean(in.S, entry != nullptr && entry() != 0);
}

// --- registration -----------------------------------------------------------------

struct TIOExport {
  int32_t Ordinal;
  TPrimitive Routine;
};

using D = TPortDriver;
constexpr TIOExport kIOExports[] = {
    {exIOOPENFILEFORWRITE, &OpenFileForWrite},
    {exIOOPENFILEFORREAD, &OpenFileForRead},
    {exIOCLOSEFILE, &CloseFile},
    {exIOWRITEFILE, &WriteFile},
    {exIOGOTOFILEPOS, &GotoFilePos},
    {exIOREADFILE, &ReadFile},
    {exIOLOADIO, &LoadIo},
    {exIOPORTOUT, &PortWrite<exIOPORTOUT, uint8_t, &D::PortOut, 255>},
    {exIOPORTWORDOUT, &PortWrite<exIOPORTWORDOUT, uint16_t, &D::PortWordOut, 65535>},
    // Values that IOPORTDWORDIN answers can be written back, and so can
    // negative 32-bit ones.
    {exIOPORTDWORDOUT, &PortWrite<exIOPORTDWORDOUT, uint32_t, &D::PortDWordOut, 4294967295LL, -2147483648LL>},
    {exIOPORTIN, &PortRead<exIOPORTIN, &D::PortIn, 0xFFu>},
    {exIOPORTWORDIN, &PortRead<exIOPORTWORDIN, &D::PortWordIn, 0xFFFFu>},
    {exIOPORTDWORDIN, &PortRead<exIOPORTDWORDIN, &D::PortDWordIn, 0xFFFFFFFFu>},
    {exIOSETPORTBIT, &PortWrite<exIOSETPORTBIT, uint8_t, &D::SetPortBit, 255>},
    {exIOCLRPORTBIT, &PortWrite<exIOCLRPORTBIT, uint8_t, &D::ClrPortBit, 255>},
    {exIONOTPORTBIT, &PortWrite<exIONOTPORTBIT, uint8_t, &D::NotPortBit, 255>},
    {exIOGETPORTBIT, &GetPortBit},
    {exIORIGHTPORTSHIFT, &PortShift<exIORIGHTPORTSHIFT, &D::RightPortShift>},
    {exIOLEFTPORTSHIFT, &PortShift<exIOLEFTPORTSHIFT, &D::LeftPortShift>},
    {exIOISDRIVERINSTALLED, &IsDriverInstalled},
};
static_assert(std::size(kIOExports) == 20);

}  // namespace

void InitIOLib(TInterpreter& in) {
  in.IO = std::make_unique<TIOState>();
  // None of them keeps an argument cell or runs program code (a driver's
  // code is no program's).
  for (const TIOExport& entry : kIOExports) in.Exports.Register(entry.Ordinal, entry.Routine, true);
}
