#pragma once
// The steps the statement loops take around every statement (TransRun.cpp),
// shared with the rounds of planned statements (TransFused.cpp).

#include <cstdint>

#include "core/Atoms.h"
#include "core/Trans.h"

// LoadStatementPosition's whole copy, for a statement of another source
// than the position's or with a topic.
void LoadOtherSourcePosition(TPosition& current, const TPosition& record, int32_t depth, TAtom* statement);

// A statement's own position as the statement loops load it: at the
// interpreter's depth, for the statement cell, with no frame owner. Usually
// the source is the one of the statement before and neither has a topic:
// only the range, the line and the procedure change.
[[gnu::always_inline]] inline void LoadStatementPosition(TPosition& current, const TPosition& record, int32_t depth,
                                                         TAtom* statement) {
  if (!current.SourceText.SameObject(record.SourceText) || !current.SourceName.SameObject(record.SourceName) ||
      !current.Topic.empty() || !record.Topic.empty()) [[unlikely]] {
    LoadOtherSourcePosition(current, record, depth, statement);
    return;
  }
  current.StartPos = record.StartPos;
  current.EndPos = record.EndPos;
  current.Line = record.Line;
  current.Procedure = record.Procedure;
  current.Depth = depth;
  current.Statement = statement;
  current.FrameOwner = nullptr;
}

// What follows every statement: history handlers of variables changed
// below wait for the outer levels; a pump a finaliser asked for (between
// statements it is safe); the scene's redraw at the top level.
[[gnu::always_inline]] inline void AfterStatement(TInterpreter& in) {
  TStructure& s = in.S;
  if (!in.PendingHistory.empty() && in.CallDepth <= 1) FlushPendingHistory(in);
  if (s.PumpPending) {
    s.PumpPending = false;
    PumpMessages(in);
  }
  const TContext* frame = s.Frame();
  if (in.TopRedrawPending && frame != nullptr && IsAtom(s.Root) && frame->Owner == s.Root) RedrawScene(in);
}

// A stop asked for, or a stepping state, which may pause at every
// statement: no statement runs the short way then.
inline bool StopOrStepping(uint8_t state) {
  static_assert(rsStop == 1 && rsRunCommand == 2 && rsRunStep == 3 && rsRunTo == 4);
  return static_cast<uint8_t>(state - rsStop) <= rsRunTo - rsStop;
}

// Whether CollectGarbage would collect now: the statement loop's first test,
// then the collector's own (past a large live set it waits longer).
inline bool CollectionDue(const TStructure& s) {
  return s.AllocationCount >= s.CollectorLimits.Threshold && s.AllocationCount >= s.CollectionInterval() &&
         !s.Collecting;
}
