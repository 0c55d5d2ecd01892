// The port procedures against the test drivers (ports in memory, a call
// log): nothing reaches a driver before it is loaded or when an input is out
// of range, the values that pass through, a driver that lacks entries, a
// second load, no driver at all; and the real driver refusing quietly where
// the process may not reach ports.

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/IOLib.h"
#include "core/Text.h"
#include "tests/core/support/LibraryTest.h"
#include "tests/support/TempFolder.h"

namespace {

// The test's own reference to a test driver, through which it reads the
// driver's log and sets its ports. The interpreter loading the same file
// gets the same library.
class FakeDriver {
public:
  explicit FakeDriver(const std::string& folder) : library_(dlopen((folder + "io.so").c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr) return;
    reset_ = reinterpret_cast<void (*)()>(dlsym(library_, "FakeIoReset"));
    count_ = reinterpret_cast<int (*)()>(dlsym(library_, "FakeIoCallCount"));
    call_ = reinterpret_cast<const char* (*)(int)>(dlsym(library_, "FakeIoCall"));
    setPort_ = reinterpret_cast<void (*)(uint16_t, uint8_t)>(dlsym(library_, "FakeIoSetPort"));
    reset_();
  }
  ~FakeDriver() {
    if (library_ != nullptr) dlclose(library_);
  }
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  bool Loaded() const { return library_ != nullptr; }
  // The calls since the last look, one line each.
  std::vector<std::string> TakeCalls() {
    std::vector<std::string> calls;
    for (int i = 0; i < count_(); ++i) calls.emplace_back(call_(i));
    reset_();
    return calls;
  }
  void SetPorts(uint16_t port, std::initializer_list<uint8_t> bytes) {
    for (const uint8_t byte : bytes) setPort_(port++, byte);
  }

private:
  void* library_;
  void (*reset_)() = nullptr;
  int (*count_)() = nullptr;
  const char* (*call_)(int) = nullptr;
  void (*setPort_)(uint16_t, uint8_t) = nullptr;
};

using Calls = std::vector<std::string>;

class IOLibPorts : public LibraryTest {
protected:
  IOLibPorts() { S.ProgramFolder = U16(ZAVTA_FAKE_IO_DIR); }
  void SetUp() override { ASSERT_TRUE(Fake.Loaded()) << dlerror(); }

  FakeDriver Fake{ZAVTA_FAKE_IO_DIR};
};

TEST_F(IOLibPorts, NothingIsBoundBeforeLoading) {
  EXPECT_EQ(Run(u"print driverinstalledp"), "false");
  EXPECT_EQ(Run(u"print portin 888"), "error: loadio");
  EXPECT_EQ(Run(u"portout 888 1"), "error: loadio");
  // The inputs are checked before the binding.
  EXPECT_EQ(Run(u"portout -1 1"), "error: port");
  EXPECT_EQ(Run(u"portout 888 256"), "error: data");
  EXPECT_EQ(Fake.TakeCalls(), Calls{});
}

TEST_F(IOLibPorts, InputsOutOfRangeNeverReachTheDriver) {
  ASSERT_EQ(Run(u"loadio"), "");
  const std::vector<std::u16string> refused = {
      u"portout 888 256",      u"portout -1 0",          u"portout 65536 0",        u"print portin -1",
      u"print portin 65536",   u"portwordout 1 65536",   u"portwordout 1 -1",       u"portdwordout 1 4294967296",
      u"portdwordout 1 -2147483649", u"setportbit 1 256", u"clearportbit 1 -1",     u"flipportbit 65536 0",
      u"print portbit 1 256",  u"print portshiftleft 1 65536", u"print portshiftright 1 -1"};
  for (const std::u16string& text : refused) {
    const std::string result = Run(text);
    EXPECT_TRUE(result == "error: port" || result == "error: data") << U8(text) << ": " << result;
  }
  EXPECT_EQ(Run(u"portout 65536 256"), "error: port");  // the port first
  EXPECT_EQ(Fake.TakeCalls(), Calls{});
}

TEST_F(IOLibPorts, ValuesPassThroughAtTheirWidths) {
  ASSERT_EQ(Run(u"loadio\nprint driverinstalledp"), "true");
  Fake.TakeCalls();
  EXPECT_EQ(Run(u"portout 65535 255\nportwordout 0 65535\nportdwordout 100 -1\nportdwordout 104 4294967295"), "");
  EXPECT_EQ(Fake.TakeCalls(), (Calls{"PortOut 65535 255", "PortWordOut 0 65535", "PortDWordOut 100 4294967295",
                                     "PortDWordOut 104 4294967295"}));
  Fake.SetPorts(200, {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Run(u"print portdwordin 200\nprint portwordin 201\nprint portin 202"), "4294967295\n65535\n255");
  // A double word read back can be written back.
  EXPECT_EQ(Run(u"portdwordout 300 portdwordin 200\nprint portdwordin 300"), "4294967295");
}

TEST_F(IOLibPorts, BitsAndShifts) {
  ASSERT_EQ(Run(u"loadio"), "");
  EXPECT_EQ(Run(u"setportbit 10 255\nprint portbit 10 255\nprint portin 41\nflipportbit 10 255\n"
                u"print portbit 10 255\nsetportbit 10 0\nclearportbit 10 0\nprint portbit 10 0"),
            "1\n128\n0\n0");
  EXPECT_EQ(Run(u"portout 5 3\nprint portshiftleft 5 2\nprint portshiftright 5 1\nprint portshiftleft 5 65535"),
            "12\n6\n0");
}

TEST_F(IOLibPorts, APartialDriverLacksOnlyItsMissingEntries) {
  FakeDriver partial(ZAVTA_FAKE_IO_PARTIAL_DIR);
  ASSERT_TRUE(partial.Loaded());
  S.ProgramFolder = U16(ZAVTA_FAKE_IO_PARTIAL_DIR);
  ASSERT_EQ(Run(u"loadio\nprint driverinstalledp"), "true");
  EXPECT_EQ(Run(u"print portwordin 1"), "error: loadio");
  EXPECT_EQ(Run(u"print portbit 1 0"), "error: loadio");
  EXPECT_EQ(Run(u"portout 1 7\nprint portin 1\nprint portdwordin 1\nsetportbit 1 3\nprint portshiftright 1 0"),
            "7\n7\n15");
  EXPECT_EQ(Fake.TakeCalls(), Calls{});
}

TEST_F(IOLibPorts, ASecondLoadRebindsEveryEntry) {
  FakeDriver partial(ZAVTA_FAKE_IO_PARTIAL_DIR);
  ASSERT_EQ(Run(u"loadio\nprint portwordin 1"), "0");
  S.ProgramFolder = U16(ZAVTA_FAKE_IO_PARTIAL_DIR);
  ASSERT_EQ(Run(u"loadio"), "");
  EXPECT_EQ(Run(u"print portwordin 1"), "error: loadio");
  EXPECT_EQ(Run(u"portout 2 9"), "");
  EXPECT_EQ(partial.TakeCalls(), Calls{"PortOut 2 9"});
  S.ProgramFolder = U16(ZAVTA_FAKE_IO_DIR);
  ASSERT_EQ(Run(u"loadio\nprint portwordin 1"), "0");
  EXPECT_EQ(Fake.TakeCalls(), (Calls{"PortWordIn 1", "PortWordIn 1"}));
}

TEST_F(IOLibPorts, WithoutALibraryLoadingFailsAndKeepsWhatWasLoaded) {
  TempFolder empty;
  S.ProgramFolder = empty.Folder();
  EXPECT_EQ(Run(u"loadio"), "error: loadio");
  EXPECT_EQ(Run(u"print driverinstalledp"), "false");
  S.ProgramFolder = U16(ZAVTA_FAKE_IO_DIR);
  ASSERT_EQ(Run(u"loadio"), "");
  S.ProgramFolder = empty.Folder();
  EXPECT_EQ(Run(u"loadio"), "error: loadio");
  EXPECT_EQ(Run(u"portout 3 4\nprint portin 3"), "4");
}

TEST_F(IOLibPorts, InputsThatAreNoWholeNumbersAreConversionErrors) {
  ASSERT_EQ(Run(u"loadio"), "");
  EXPECT_EQ(Run(u"portout \"abc 1"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"portout 1.5 1"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"portout 1 [2]"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"portdwordout 1 0.5"), "error: BADNUMBER");
  EXPECT_EQ(Run(u"print portin []"), "error: BADNUMBER");
  EXPECT_EQ(Fake.TakeCalls(), Calls{});
}

// Where the process may not reach ports (and as root it is made so), every
// entry of the real driver answers 0 and executes no port instruction: one
// without permission would kill the process.
TEST(IOLibRealDriver, WithoutPermissionEveryEntryDoesNothing) {
  void* library = dlopen(ZAVTA_REAL_IO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  TPortDriver driver;
  driver.Replace(library);
  ASSERT_NE(driver.IsDriverInstalled, nullptr);
  ASSERT_NE(driver.LeftPortShift, nullptr);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(10);
    int failures = 0;
    failures += driver.IsDriverInstalled() != 0;
    driver.PortOut(0x80, 1);
    driver.PortWordOut(0x80, 1);
    driver.PortDWordOut(0x80, 1);
    driver.SetPortBit(0x80, 1);
    driver.ClrPortBit(0x80, 1);
    driver.NotPortBit(0x80, 1);
    failures += driver.PortIn(0x80) != 0;
    failures += driver.PortWordIn(0x80) != 0;
    failures += driver.PortDWordIn(0x80) != 0;
    failures += driver.GetPortBit(0x80, 1) != 0;
    failures += driver.RightPortShift(0x80, 1) != 0;
    failures += driver.LeftPortShift(0x80, 1) != 0;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the driver touched a port without permission";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
