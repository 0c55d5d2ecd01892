#pragma once
// The whole-program check shared by the bounded program-run test and the
// libFuzzer run target: scan, compile and run a program text in a fresh
// state with the base library loaded, within a statement and a memory
// budget, and check that the run ends as runs must whatever the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ProgramRunChecker {
public:
  struct Budget {
    int Pumps = 400;                       // message pumps (160 statements each) before the run is stopped
    int64_t LiveAtoms = 250000;            // live atoms before the run is stopped
    size_t HeapBytes = size_t{64} << 20;   // heap bytes (sanitizer builds) before the run is stopped
  };
  explicit ProgramRunChecker(Budget budget);
  ProgramRunChecker() : ProgramRunChecker(Budget{}) {}

  // Runs one program. Returns an empty string when the run ended soundly,
  // else what broke.
  std::string Run(std::u16string_view text);

  // Programs that reach the world outside the process (outside libraries)
  // are not run.
  static bool Runnable(std::u16string_view text);

  // Whether allocations look at the budgets (sanitizer builds, whose
  // allocator has hooks); elsewhere only the message pumps do.
  static bool WatchesAllocations();

  // How the runs ended, so a test can tell it is not vacuous.
  struct Counts {
    int Ran = 0;          // programs run
    int Errors = 0;       // runs that ended in a parse or run-time error
    int Stopped = 0;      // runs a budget stopped
    int NotRunnable = 0;  // programs skipped
  };
  const Counts& Reached() const { return counts_; }

private:
  Budget budget_;
  Counts counts_;
};
