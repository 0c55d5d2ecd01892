#pragma once
// The robustness check shared by the bounded random-input test and the
// libFuzzer target: parse a text, compile every run of every list in it
// inside a fixture tree of awkward procedures, and check what must hold
// whatever the input.

#include <memory>
#include <string>
#include <string_view>

#include "core/Trans.h"
#include "tests/support/TestState.h"

class ParseCompileChecker {
public:
  ParseCompileChecker();
  ~ParseCompileChecker();

  // Runs one input; errors raised (armed) or suppressed (not armed).
  // Returns an empty string when every invariant held, else what broke.
  std::string Check(std::u16string_view text, bool armed);

  // Inputs checked since the state was last rebuilt (the pool only grows).
  int InputsOnThisState() const { return inputs_; }

  // How much the inputs reached, so a test can tell it is not vacuous.
  struct Counts {
    int Parsed = 0;         // texts that parsed into statements
    int Compiled = 0;       // runs compiled
    int CompileErrors = 0;  // runs that failed to compile
  };
  const Counts& Reached() const { return counts_; }

private:
  void Rebuild();
  std::string CompileList(TAtom* list);

  std::unique_ptr<TestState> state_;
  std::unique_ptr<TInterpreter> interp_;
  int inputs_ = 0;
  Counts counts_;
};
