#pragma once
// The base primitives: numbers, logic, comparison, type tests, words and
// lists (the exports LOGOSUM ... LOGOMS), and the helpers every primitive
// uses to read its argument cells and report a bad input.

class TInterpreter;

// Enters the base primitives in the interpreter's export registry and seeds
// its random generator from the clock.
void InitLogoLib(TInterpreter& in);
