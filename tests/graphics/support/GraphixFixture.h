#pragma once
// An interpreter reset with the libraries as zavrun resets it (Logo.zav and
// Graphix.zav from the source tree, through the library load commands), its
// Graphics on the fake GL back-end with a fake plane, and helpers that run
// program text and compile a variable's display list.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/Trans.h"
#include "graphics/Graphics.h"
#include "tests/graphics/support/CallMatch.h"
#include "tests/graphics/support/FakeGL.h"
#include "tests/graphics/support/FakePlane.h"
#include "tests/support/TestState.h"

class GraphixTest : public ::testing::Test {
public:
  GraphixTest();
  ~GraphixTest() override;

  // Resets the interpreter with the named library files of resources/ as
  // its load commands; false when loading them failed.
  bool ResetWithLibraries(std::initializer_list<std::u16string_view> files);
  // Runs program text as a command does (0 ok, 1 parse error, 2 reported
  // run error).
  int Run(std::u16string_view text);
  TAtom* Var(std::u16string_view path);
  // Compiles the variable's list as an assignment does; returns the list's
  // calls (glGetError left out).
  CallList Compile(std::u16string_view path);
  // Runs the text and returns every GL call it made (glGetError left out).
  CallList CallsOf(std::u16string_view text);
  std::string Output() const { return T.Host.Output(); }
  // The printed lines since the last ClearOutput.
  void ClearOutput() { T.Host.Lines.clear(); }

  UseFakeGL Fake;
  TestState T;
  TStructure& S;
  TInterpreter I;
  Graphics G;
  FakePlane Plane;
};
