// The run stack: runs switch onto it once, come back with their results and
// exceptions, and deep recursion ends in the stack-overflow error.

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/RunStack.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

uintptr_t Here() { return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

// Machine-stack recursion as deep as the call asks, guarded like the
// interpreter's own recursion.
int Recurse(TInterpreter& in, int depth) {
  CheckStack(in);
  volatile char room[512] = {};
  return depth == 0 ? room[0] : 1 + Recurse(in, depth - 1) + room[depth % 512];
}

class RunStackTest : public ::testing::Test {
protected:
  TestState ts;
  TInterpreter in{*ts.S};
};

TEST_F(RunStackTest, ABodyRunsOnTheRunStackOnceAndComesBack) {
  const uintptr_t threadLimit = ts.S->StackLimit();
  const uintptr_t outside = Here();
  uintptr_t inner = 0;
  uintptr_t nested = 0;
  size_t size = 0;
  OnRunStack(in, [&] {
    inner = Here();
    size = RunStackSizeInUse();
    OnRunStack(in, [&] { nested = Here(); });
  });
  EXPECT_GT(size, size_t{32} << 20);
  // Far from the thread stack; a nested entry stays where it was.
  EXPECT_GT(inner > outside ? inner - outside : outside - inner, size_t{16} << 20);
  EXPECT_LT(inner > nested ? inner - nested : nested - inner, size_t{64} << 10);
  EXPECT_EQ(ts.S->StackLimit(), threadLimit);
  EXPECT_EQ(RunStackSizeInUse(), 0u);
}

TEST_F(RunStackTest, ExceptionsCrossTheSwitchAndLeaveItUsable) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_THROW(OnRunStack(in, [] { throw std::runtime_error("inner"); }), std::runtime_error);
    EXPECT_EQ(RunStackSizeInUse(), 0u);
  }
  int result = 0;
  OnRunStack(in, [&] { result = 42; });
  EXPECT_EQ(result, 42);
}

TEST_F(RunStackTest, RecursionFarDeeperThanTheThreadStackEndsInTheLanguageError) {
  ts.ArmErrors(true);
  // 20,000 levels of over half a kilobyte: more than an 8 MiB thread stack.
  int depth = 0;
  OnRunStack(in, [&] {
    in.SetRunStack(Here(), RunStackBudget());
    depth = Recurse(in, 20000);
  });
  EXPECT_EQ(depth, 20000);
  try {
    OnRunStack(in, [&] {
      in.SetRunStack(Here(), RunStackBudget());
      static_cast<void>(Recurse(in, 100000000));
    });
    FAIL() << "no error raised";
  } catch (const LanguageError& error) {
    EXPECT_EQ(U8(error.Message()), "STACKOVERFLOW");
  }
  in.SetRunStack(0, 0);
}

}  // namespace
