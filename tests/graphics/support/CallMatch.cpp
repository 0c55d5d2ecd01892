#include "tests/graphics/support/CallMatch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

constexpr double kTolerance = 1e-5;

std::string_view NameOf(std::string_view call) { return call.substr(0, call.find('(')); }

// The arguments as tokens: split at ", ", blanks and brackets kept apart.
std::vector<std::string> Tokens(std::string_view call) {
  std::vector<std::string> tokens;
  std::string current;
  for (const char c : call) {
    if (c == ',' || c == ' ' || c == '(' || c == ')' || c == '[' || c == ']') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
      if (c != ' ' && c != ',') tokens.emplace_back(1, c);
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

bool Number(const std::string& token, double& value) {
  char* end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return end != token.c_str() && *end == '\0';
}

}  // namespace

bool SameCall(std::string_view actual, std::string_view expected) {
  if (NameOf(actual) != NameOf(expected)) return false;
  const std::vector<std::string> a = Tokens(actual), e = Tokens(expected);
  if (a.size() != e.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    double x = 0, y = 0;
    if (Number(a[k], x) && Number(e[k], y)) {
      // Relative beyond 1: a float keeps about seven digits.
      if (std::fabs(x - y) > kTolerance * std::max(1.0, std::fabs(y))) return false;
    } else if (a[k] != e[k]) {
      return false;
    }
  }
  return true;
}

CallList WithoutErrorChecks(const CallList& calls) {
  CallList kept;
  for (const std::string& call : calls)
    if (NameOf(call) != "glGetError") kept.push_back(call);
  return kept;
}

::testing::AssertionResult CallsMatch(const CallList& actual, const CallList& expected, bool withErrorChecks) {
  const CallList a = withErrorChecks ? actual : WithoutErrorChecks(actual);
  const CallList e = withErrorChecks ? expected : WithoutErrorChecks(expected);
  std::ostringstream why;
  const size_t common = std::min(a.size(), e.size());
  for (size_t k = 0; k < common; ++k)
    if (!SameCall(a[k], e[k])) {
      why << "call " << k << ": got " << a[k] << ", expected " << e[k];
      break;
    }
  if (why.str().empty() && a.size() != e.size())
    why << a.size() << " calls, expected " << e.size() << (a.size() > e.size() ? "; first extra: " + a[common] : "");
  if (why.str().empty()) return ::testing::AssertionSuccess();
  why << "\n  got:";
  for (const std::string& call : a) why << "\n    " << call;
  return ::testing::AssertionFailure() << why.str();
}

CallList CallsBetween(const CallList& calls, std::string_view name, std::string_view until) {
  CallList part;
  bool inside = false;
  for (const std::string& call : calls) {
    if (!inside && NameOf(call) == name) inside = true;
    if (!inside) continue;
    part.push_back(call);
    if (NameOf(call) == until && part.size() > 1) break;
  }
  return part;
}
