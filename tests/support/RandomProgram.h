#pragma once
// A generator of random programs for the tests that run one program in two
// ways and compare what each way printed. The same seed always gives the
// same program. Every program ends: recursion counts an input down, loops
// have small fixed counts, nothing waits for input, reads the clock or the
// random generator.

#include <cstdint>
#include <string>

// The text of one program (UTF-8, LF line ends).
std::string RandomProgram(uint64_t seed);
