// libFuzzer target: any byte string, read as UTF-8, run as a whole program
// (scanned, compiled and run with the base library) in a fresh state, within
// a statement and a memory budget. A run that ends unsoundly aborts so that
// the fuzzer keeps the input; the sanitizers catch the rest.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Text.h"
#include "tests/core/support/ProgramRunCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ProgramRunChecker checker;
  const std::string broken = checker.Run(Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size)));
  if (broken.empty()) return 0;
  std::fprintf(stderr, "run ended unsoundly: %s\n", broken.c_str());
  std::abort();
}
