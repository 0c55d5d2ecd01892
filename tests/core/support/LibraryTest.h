#pragma once
// A fixture that runs programs against the base library as it ships
// (resources/Logo.zav), so that primitives are tested through the wrapper
// procedures programs call.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/Trans.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

class LibraryTest : public ::testing::Test {
protected:
  LibraryTest() {
    const std::u16string library = ReadTextFile(S, U16(ZAVTA_SOURCE_DIR "/resources/Logo.zav"));
    EXPECT_EQ(RunText(I, library, u"Logo.zav"), 0);
  }
  // The lines the text printed, joined by "\n"; "error: " and the message
  // when it failed.
  std::string Run(std::u16string_view text) {
    T.Host.Lines.clear();
    if (RunText(I, text, u"test") != 0) return "error: " + U8(S.LastError);
    return T.Host.Output();
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};
