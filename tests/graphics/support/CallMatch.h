#pragma once
// Compares FakeGL's logged calls with expected ones: names and
// non-numeric arguments exactly, numbers within 1e-5 (relative to the
// expected value beyond 1, as floats keep about seven digits; an argument array
// "[a b c]" number by number). glGetError calls are skipped on both sides
// unless the comparison asks for them.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using CallList = std::vector<std::string>;

// True when the two calls match (same name, arguments as above).
bool SameCall(std::string_view actual, std::string_view expected);
::testing::AssertionResult CallsMatch(const CallList& actual, const CallList& expected, bool withErrorChecks = false);
// The calls without glGetError.
CallList WithoutErrorChecks(const CallList& calls);
// The calls from the first one named after name (inclusive) up to the
// first one named until (inclusive); empty when name is not found.
CallList CallsBetween(const CallList& calls, std::string_view name, std::string_view until);
