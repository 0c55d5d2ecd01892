#pragma once
// A fresh interpreter state over a headless host, for tests: English
// keywords, a root variable with its frame, and a position with a line so
// that language errors are raised.

#include <initializer_list>
#include <memory>
#include <string>

#include "core/Vars.h"
#include "tests/support/HeadlessHost.h"

// Sets the language texts so that every keyword is its English key.
void UseEnglishKeywords(TStructure& s);

struct TestState {
  explicit TestState(bool withRoot = true);
  ~TestState();
  // Makes errors raise (Line 1) or be suppressed (Line -1).
  void ArmErrors(bool armed);

  HeadlessHost Host;
  std::unique_ptr<TStructure> S;
};

// A new list of the given elements, in order.
TAtom* ListOf(TStructure& s, std::initializer_list<TAtom*> items);

// gtest printing helper for UTF-16 strings.
std::string U8(const std::u16string& text);
