// libFuzzer target: any byte string, read as UTF-8 and as raw UTF-16 units,
// through the parser and the compiler. A broken invariant aborts so that the
// fuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Text.h"
#include "tests/core/support/ParseCompileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A state of its own for each input: one input cannot change what the
  // next finds, and the input has freed all it allocated unless it leaked
  // (so that the fuzzer's leak check after each input stays on).
  ParseCompileChecker checker;
  const bool armed = size > 0 && (data[0] & 1) != 0;
  auto check = [&checker, armed](const std::u16string& text) {
    const std::string broken = checker.Check(text, armed);
    if (broken.empty()) return;
    std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
    std::abort();
  };
  check(Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size)));
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  check(units);
  return 0;
}
