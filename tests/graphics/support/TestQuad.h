#pragma once
// A drawing routine for tests, bound like an export: the token
// dll.test.TESTQUAD draws a unit-sized quad around (x, y, 0) in the colour
// (r, g, b) through the call table, reading its five inputs from the
// argument cells. dll.test.TESTHOOK runs the test's OnHook with its one
// input as text from inside the running program (a pump, a redraw request,
// a recompile, an error ...).
// Every other external-call token goes to the binder that was installed
// before.

#include <functional>
#include <string>
#include <string_view>

#include "core/Trans.h"

// The procedures that call the routines; run them before the programs that
// use them.
inline constexpr std::u16string_view kTestQuadDefinitions =
    u"to testquad :x :y :r :g :b\r\n"
    u"output dll.test.TESTQUAD\r\n"
    u"end\r\n"
    u"to testhook :what\r\n"
    u"output dll.test.TESTHOOK\r\n"
    u"end\r\n";

class TestQuadBinder {
public:
  explicit TestQuadBinder(TInterpreter& in);
  ~TestQuadBinder();
  TestQuadBinder(const TestQuadBinder&) = delete;
  TestQuadBinder& operator=(const TestQuadBinder&) = delete;

  std::function<void(const std::u16string& what)> OnHook;
  int Quads = 0;  // quads drawn
  int Hooks = 0;  // hook calls

private:
  TInterpreter& in_;
  TExternalBinder original_;
  int32_t quadIndex_ = -1;
  int32_t hookIndex_ = -1;
};
