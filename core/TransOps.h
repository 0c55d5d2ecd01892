#pragma once
// The opcodes of the special forms (TransOps.cpp) and the operand-stack
// steps they share with the interpreter loop (TransInterpret.cpp). Inputs
// are pushed by the compiled code from the last to the first, so the first
// pop always yields the leftmost input. Every pop leaves its atom in
// LastValue; every push of a result takes the current position's range.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Expr.h"
#include "core/Trans.h"

struct Popped {
  TAtom* Value;
  int32_t Start;
  int32_t End;
};

inline TStack& Stack(TInterpreter& in) { return in.S.Frame()->Stack; }

// Pops the next input into LastValue. An empty stack (damaged code) yields
// the empty list with the current range.
inline Popped Pop(TInterpreter& in) {
  Popped p{nullptr, in.S.CurrentPosition.StartPos, in.S.CurrentPosition.EndPos};
  Stack(in).Pop(p.Value, p.Start, p.End);
  in.LastValue = p.Value;
  return p;
}

// Pops like Pop and makes the popped range the current one.
inline Popped PopToPosition(TInterpreter& in) {
  const Popped p = Pop(in);
  in.S.CurrentPosition.StartPos = p.Start;
  in.S.CurrentPosition.EndPos = p.End;
  return p;
}

inline void Push(TInterpreter& in, TAtom* value) {
  Stack(in).Push(value, in.S.CurrentPosition.StartPos, in.S.CurrentPosition.EndPos);
}

// After an error whose raise was suppressed (a statement without a source
// line): the opcode drops the inputs it has not popped yet and yields
// SystemValue, so the statement's stack stays balanced.
inline void YieldNothing(TInterpreter& in, int32_t unpopped) {
  Stack(in).Drop(unpopped);
  Push(in, SystemValue);
}

// Runs a list through the statement runner.
inline void RunList(TInterpreter& in, TAtom* list) {
  in.CodePointer = list;
  RunCode(in);
}

// Sets the error range and topic and raises; returns when the raise is
// suppressed.
void RaiseAt(TInterpreter& in, std::u16string_view key, std::u16string message, int32_t start, int32_t end);

// The special forms' opcodes: each pops its inputs and pushes its answer on
// the current frame's stack.
void OpValueOf(TInterpreter& in);                                      // ocValueOf
void OpPeriod(TInterpreter& in);                                       // the dotted-name join
void OpPrint(TInterpreter& in, TCodeCursor& cursor, bool quiet);       // PRINT
void OpAssign(TInterpreter& in, TCodeCursor& cursor, int32_t opcode);  // MAKE and OB
void OpRun(TInterpreter& in);                                          // RUN
void OpIf(TInterpreter& in, bool withElse);                            // IF with one or two lists
void OpRepeat(TInterpreter& in);                                       // REPEAT
void OpLocal(TInterpreter& in, TCodeCursor& cursor, bool quiet);       // LOCAL
