// The interpreter object, its statement cursor, the run entries, the
// statement runner, the periodic message pump, stepping and the pause loop,
// the interpreter reset and the machine-stack guard.

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cmath>
#include <optional>

#include "core/Collector.h"
#include "core/Expr.h"
#include "core/Host.h"
#include "core/Lexem.h"
#include "core/RunStack.h"
#include "core/Trans.h"
#include "core/TransFused.h"
#include "core/TransStatement.h"

#include "core/IOLib.h"
#include "core/LogoLib.h"
#include "core/LogoLibText.h"

TInterpreter::TInterpreter(TStructure& s)
    : S(s),
      ResultAtom(SystemValue),
      scanner_(std::make_unique<TScanner>(s)),
      compiler_(std::make_unique<TCompilerState>()) {
  InitLogoLib(*this);
  InitLogoLibFlags(*this);
  InitIOLib(*this);
  InitLogoLibText(*this);
  InstallExternalBinding(*this);
}

Host& TInterpreter::host() const { return S.host(); }

TInterpreter::~TInterpreter() = default;

void TInterpreter::NextStatement() {
  if (IsAtom(CodePointer)) CodePointer = CodePointer->Right;
}

TAtom* TInterpreter::CurrentStatement() const { return IsAtom(CodePointer) ? CodePointer->Left : nullptr; }

int TInterpreter::StatementKind() const {
  if (!IsAtom(CodePointer)) return 0;
  const TAtom* element = CodePointer->Left;
  if (element == nullptr) return 4;
  if (element == SystemValue) return 5;
  if (TAtom::IsComma(element)) return 1;
  if (element->Kind == akNumber || element->Kind == akWord) return 2;
  if (element->Kind == akExpression) return 3;
  return 5;
}

namespace {

// Milliseconds of one poll of the pause loop.
constexpr int kPausePollMs = 100;
constexpr uintptr_t kStackReserve = TStructure::kStackReserve;
constexpr uintptr_t kDefaultStackLimit = 8 * 1024 * 1024;

uintptr_t FrameAddress(const void* frame) { return reinterpret_cast<uintptr_t>(frame); }

}  // namespace

uintptr_t RunStackBudget() {
  if (const size_t runStack = RunStackSizeInUse(); runStack != 0) return runStack;
  uintptr_t limit = kDefaultStackLimit;
  rlimit rl{};
  if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) limit = static_cast<uintptr_t>(rl.rlim_cur);
  return limit > 2 * kStackReserve ? limit - kStackReserve : limit / 2;
}

namespace {

// Parses the text into the code pointer with the interpreter's scanner;
// false on a scan or parse error (which stays in the trace).
bool ParseIntoCodePointer(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startPos,
                          int32_t startLine) {
  in.Scanner().ScannerErrorsArmed = true;
  const TParseResult parsed = ParseText(in.Scanner(), text, sourceName, startPos, startLine);
  if (!parsed.Ok) return false;
  in.CodePointer = parsed.List;
  return true;
}

// The current position becomes the run's source without a statement: the
// first statement sets the rest, and until then no error is raised.
void EnterRunPosition(TStructure& s) {
  TPosition& position = s.CurrentPosition;
  position.SourceName = s.ParsePosition.SourceName;
  position.SourceText = s.ParsePosition.SourceText;
  position.StartPos = -1;
  position.EndPos = -1;
  position.Line = -1;
  position.Depth = kAnyDepth;
  position.Topic.clear();
  position.Procedure = nullptr;
  position.Statement = nullptr;
  position.FrameOwner = nullptr;
}

// A reset asked for while a run was active happens once the outermost run
// has ended. The stop request that usually ended that run must not stop the
// library load commands of the reset as well.
void ResetIfPending(TInterpreter& in) {
  if (in.RunNesting != 0 || !in.ResetPending) return;
  const RestoreOnExit<uint8_t> state(in.RunState, in.RunState == rsStop ? uint8_t{rsIdle} : in.RunState);
  ResetInterpreter(in);
}

int RunTextInEntry(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startPos,
                   int32_t startLine) {
  std::optional<SavedRunState> saved;
  if (in.RunNesting > 1) saved.emplace(in);
  CodePointerKeeper keeper(in);
  const size_t traceLength = in.S.ErrorTrace.size();

  bool parsed = false;
  try {
    parsed = ParseIntoCodePointer(in, text, sourceName, startPos, startLine);
  } catch (const LanguageError&) {
    parsed = false;
  }
  if (!parsed) {
    // Not reported (an incomplete command line is still being typed), so the
    // entry must not stay in the trace for a later report to show.
    TruncateErrorTrace(in, traceLength);
    return rrParseError;
  }

  EnterRunPosition(in.S);
  try {
    RunCode(in);
  } catch (const LanguageError& error) {
    ShowRunError(in, error.Message());
    return rrRunError;
  }
  return rrOk;
}

int RunProgramTextInEntry(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName,
                          int32_t startOffset) {
  // Entered from inside a run (a pump), the interrupted run must find its
  // state and statement as it left them.
  std::optional<SavedRunState> saved;
  std::optional<CodePointerKeeper> keeper;
  if (in.RunNesting > 1) {
    saved.emplace(in);
    keeper.emplace(in);
  }

  in.PendingHistory.clear();
  in.TopRedrawPending = false;
  in.CallDepth = 0;
  in.InterpretDepth = 0;

  const auto start = std::chrono::steady_clock::now();
  int result = rrOk;
  try {
    in.S.ClearVisited();
    // The scanner ignores the start offset: positions are counted from the
    // text's first character.
    static_cast<void>(startOffset);
    result = rrParseError;
    if (ParseIntoCodePointer(in, text, sourceName, 0, 0)) {
      result = rrRunError;
      EnterRunPosition(in.S);
      RunCode(in);
      result = rrOk;
    }
  } catch (const LanguageError& error) {
    ShowRunError(in, error.Message());
  }
  // A parse ended by a suppressed raise has no message to show; its trace
  // entries must not reach a later report.
  if (result == rrParseError) ClearErrorHistory(in);

  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  in.RunStartTick = elapsed.count();
  in.host().setElapsedTime(FormatMessage(u"%.3f s", {static_cast<long double>(in.RunStartTick) / 1000.0L}));
  in.CodePointer = nullptr;
  in.SceneDirty = false;
  RefreshSourceAfterRun(in);
  CollectGarbage(in);
  in.host().graphics().resumePainting();
  in.host().refreshMemory();
  return result;
}

}  // namespace

// --- run entries ------------------------------------------------------------------

[[gnu::noinline]] void LoadOtherSourcePosition(TPosition& current, const TPosition& record, int32_t depth,
                                               TAtom* statement) {
  current.AssignFrom(record);
  current.Depth = depth;
  current.Statement = statement;
  current.FrameOwner = nullptr;
}

void EndOutermostRun(TInterpreter& in) noexcept {
  // The deferred reset's own library run is an outermost entry too: its end
  // belongs to this one.
  if (in.EndingRuns) return;
  const RestoreOnExit<bool> ending(in.EndingRuns, true);
  try {
    ResetIfPending(in);
  } catch (...) {
    // The reset leaves a usable interpreter whatever failed in it.
  }
  try {
    in.host().runsEnded();
  } catch (...) {
    // A host's failure must not leave a destructor.
  }
}

void RedrawScene(TInterpreter& in) {
  in.host().graphics().redrawScene();
  in.SceneDirty = false;
  in.TopRedrawPending = false;
}

int RunText(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startPos,
            int32_t startLine) {
  int result = rrOk;
  OnRunStack(in, [&] {
    RunEntry entry(in, FrameAddress(__builtin_frame_address(0)));
    result = RunTextInEntry(in, text, sourceName, startPos, startLine);
  });
  return result;
}

int RunProgramText(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startOffset) {
  int result = rrOk;
  OnRunStack(in, [&] {
    RunEntry entry(in, FrameAddress(__builtin_frame_address(0)));
    result = RunProgramTextInEntry(in, text, sourceName, startOffset);
  });
  return result;
}

// --- the statement runner ---------------------------------------------------------

namespace {

// An error leaves a statement list: each statement runner the error passes
// adds the statement that called it (the caller's saved position), so the
// trace holds the whole chain of calls when it is reported.
void NoteErrorLeavingList(TStructure& s, const TPosition& caller, TAtom* running, TAtom* frameOwner) {
  s.CurrentPosition.Statement = running;
  if (caller.EndPos != -1) {
    TPosition entry = caller;
    entry.FrameOwner = nullptr;
    s.AddTrace(entry);
  }
  if (!s.ErrorTrace.empty()) {
    TPosition& newest = s.ErrorTrace.back();
    if (newest.Statement == nullptr) {
      newest.Statement = running;
      TAtom::IncRef(running);
    }
    SetTraceFrameOwner(newest, frameOwner);
  }
}

// The statement at the code pointer: ExecuteStatement's steps, inlined into
// the statement loops, which run one for every statement of every body.
[[gnu::always_inline]] inline void RunStatementAtCodePointer(TInterpreter& in) {
  TStructure& s = in.S;
  // The collector's own first test, without the call for every statement.
  if (s.AllocationCount >= s.CollectorLimits.Threshold) CollectGarbage(in);
  TAtom* const cell = in.CodePointer;
  LoadStatementPosition(s.CurrentPosition, TAtom::PositionOf(cell), in.InterpretDepth, cell);

  PumpMessagesPeriodically(in);

  if (IsAtom(in.CodePointer) && IsAtom(cell)) {
    bool compiled = TAtom::CodeCount(*cell) > 0;
    // A suppressed compile error leaves the code pointer on the next
    // statement: this one is skipped.
    if (!compiled) compiled = CompileCurrentRun(in) == CompileResult::Compiled;
    if (compiled) in.CodePointer = Interpret(in, cell, false);
  }

  AfterStatement(in);
}

// A list's statement whose superinstructions are current (and so is the
// code they were made from), as RunStatementAtCodePointer and Interpret
// would run it, without the steps that cannot apply. The list's loop (in
// RunCode or TListRounds::Run) stands for what RunCode and Interpret test
// first (a run going on, a frame, the short way on, a nesting); the
// collector and the pump must not be due, so the statement's count is all
// the pump point takes. False, with nothing done, for any other statement.
[[gnu::always_inline]] inline bool RunStatementShortWay(TInterpreter& in, TAtom* cell) {
  TStructure& s = in.S;
  if ((in.StatementCounter + 1) % kPumpInterval == 0 || StopOrStepping(in.RunState) || s.HaltRequested ||
      CollectionDue(s))
    return false;
  const TAtom::Extension* ext = cell->Ext.get();
  if (ext == nullptr) return false;
  const TFastCode* fast = ext->Fast.get();
  if (fast == nullptr || fast->Generation != ext->CodeGeneration) return false;
  // PositionOf's first answer, without the call.
  LoadStatementPosition(s.CurrentPosition, ext->Position ? *ext->Position : TAtom::PositionOf(cell), in.InterpretDepth,
                        cell);
  ++in.StatementCounter;
  in.CodePointer = InterpretListStatement(in, cell, *fast);
  AfterStatement(in);
  return true;
}

// The rounds of a loop that runs one list again and again, each as RunCode
// runs it, with what RunCode does once per list done once per loop: the
// list is pinned by the loop, the stack depth and the frame are the same
// every round, and the caller's position, which every round gives back, is
// saved once and put back only when something outside the rounds may read
// it (Release). A round's first statement loads its own position, so
// nothing inside the rounds sees the difference.
class TListRounds {
public:
  TListRounds(TInterpreter& in, TAtom* list) : in_(in), list_(list) {}
  ~TListRounds() { Release(); }
  TListRounds(const TListRounds&) = delete;
  TListRounds& operator=(const TListRounds&) = delete;
  // Runs one round as RunCode would, or more (RunPlannedRound).
  void Run(TRepeatRounds& more);
  // Puts the caller's position back; call it before anything between two
  // rounds that may run code or read the position (a message pump).
  void Release();

private:
  TInterpreter& in_;
  TAtom* const list_;
  TPosition saved_;              // the caller's position while holding_
  TAtom* frameOwner_ = nullptr;  // the owner of the loop's frame
  bool holding_ = false;         // saved_ is valid and the position is the last round's
  TPlannedRound round_;          // the list as a round of plans, while Count is not 0
  TAtom* plannedRunning_ = nullptr;  // the statement of it running last
  // A list that is no round of plans (PlanRound) is looked at again only
  // now and then, every 64th round of all loops: its statements are
  // planned only once they ran.
  bool WorthPlanningRound() const { return round_.Misses < 4 || in_.RoundSerial % 64 == 0; }
};

// REPEAT's count as a number of rounds: a fraction adds one; a count past
// any loop's end runs as good as forever.
int64_t RoundsOf(long double count) {
  if (!(count > 0)) return 0;
  constexpr long double kEndless = 9.0e18L;
  return count >= kEndless ? INT64_MAX : static_cast<int64_t>(std::ceil(count));
}

}  // namespace

void RunCode(TInterpreter& in) {
  TStructure& s = in.S;
  const PinnedAtom first(in.CodePointer);
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  if (in.CodePointer == nullptr) return;
  // A list built at run time may borrow cells it must not run through.
  if (s.RestsBorrowed && IsAtom(in.CodePointer) && !in.CodePointer->HasPosition()) OwnSpine(s, in.CodePointer);
  if (in.SceneDirty) RedrawScene(in);

  // The caller's position comes back however the list ends, also when the
  // stack check below raises.
  const RestoreOnExit<TPosition> position(s.CurrentPosition);
  CheckStack(in);
  TAtom* const frameOwner = s.Frame() != nullptr ? s.Frame()->Owner : nullptr;
  in.LastValue = nullptr;
  // Interpret's entry tests that hold for the whole list: the short way on,
  // and a nesting (at depth 0 it forgets the checked floating-point modes).
  const bool shortWay = s.FastPaths && in.InterpretDepth != 0;

  TAtom* running = nullptr;
  try {
    while (IsAtom(in.CodePointer) && in.CodePointer->Left != nullptr && in.ResultAtom == SystemValue && !in.StopFlag) {
      running = in.CodePointer;
      if (!shortWay || s.Frame() == nullptr || !RunStatementShortWay(in, running)) RunStatementAtCodePointer(in);
      if (in.RunState == rsStop) break;
    }
  } catch (const LanguageError&) {
    NoteErrorLeavingList(s, position.Saved(), running, frameOwner);
    throw;
  }
}

namespace {

[[gnu::always_inline]] inline void TListRounds::Run(TRepeatRounds& more) {
  TInterpreter& in = in_;
  TStructure& s = in.S;
  // A redraw due at the start reads the caller's position: that round, and
  // every round with the short ways off, runs through RunCode.
  if (!s.FastPaths || list_ == nullptr || in.SceneDirty || s.Frame() == nullptr) {
    Release();
    in.CodePointer = list_;
    RunCode(in);
    return;
  }
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  if (!holding_) {
    // As in RunCode: the rounds compile code onto the cells they run, which
    // must be the list's own, not cells it borrows.
    if (s.RestsBorrowed && IsAtom(list_) && !list_->HasPosition()) OwnSpine(s, list_);
    CheckStack(in);
    saved_.AssignFrom(s.CurrentPosition);
    frameOwner_ = s.Frame()->Owner;
    holding_ = true;
  } else if (s.AllocationCount >= s.CollectorLimits.Threshold) {
    // The collection the first statement starts with finds the caller's
    // position, as after RunCode.
    s.CurrentPosition.AssignFrom(saved_);
  }
  in.LastValue = nullptr;
  in.CodePointer = list_;
  in.RoundsList = list_;
  ++in.RoundSerial;
  TAtom* running = nullptr;
  try {
    if (round_.Count == 0 && WorthPlanningRound()) round_.Misses = PlanRound(in, list_, round_) ? 0 : round_.Misses + 1;
    if (round_.Count != 0 && !RunPlannedRound(in, round_, plannedRunning_, &more)) {
      in.RoundsList = nullptr;
      return;
    }
    for (TAtom* cell = in.CodePointer; IsAtom(cell) && cell->Left != nullptr && in.ResultAtom == SystemValue && !in.StopFlag;
         cell = in.CodePointer) {
      running = cell;
      if (!RunStatementShortWay(in, cell)) RunStatementAtCodePointer(in);
      if (in.RunState == rsStop) break;
    }
  } catch (const LanguageError&) {
    in.RoundsList = nullptr;
    NoteErrorLeavingList(s, saved_, running != nullptr ? running : plannedRunning_, frameOwner_);
    Release();
    throw;
  }
  in.RoundsList = nullptr;
}

void TListRounds::Release() {
  in_.RoundsList = nullptr;
  if (!holding_) return;
  in_.S.CurrentPosition.AssignFrom(saved_);
  holding_ = false;
}

}  // namespace

void RunRepeat(TInterpreter& in, TAtom* list, long double count) {
  TStructure& s = in.S;
  int64_t rounds = RoundsOf(count);
  int64_t iteration = 0;
  TListRounds held(in, list);
  // RunFusedRounds refuses a list by its first statement's kind, which
  // hardly ever changes while the list runs: once refused, it is not asked
  // again (which costs nothing but the tight loop).
  bool fusedRoundsRefused = false;
  TRepeatRounds more{rounds, iteration, list};
  while (rounds > 0) {
    ++iteration;
    s.RepeatCounter = iteration;
    held.Run(more);
    --rounds;
    if (iteration % kRepeatPumpInterval == 0 && !in.InPlaneEvent) {
      held.Release();
      PumpMessages(in);
    }
    if (in.StopFlag || in.RunState == rsStop || s.HaltRequested) break;
    if (!fusedRoundsRefused) fusedRoundsRefused = !RunFusedRounds(in, list, rounds, iteration);
  }
}

bool RunWrapperStatement(TInterpreter& in, TAtom* body, const TWrapperStatement& wrapper) {
  TStructure& s = in.S;
  // What the statement loop would do besides running the routine: redraw,
  // pump, pause, stop, history handlers. Those bodies take the loop.
  if (!IsAtom(body) || s.Frame() == nullptr || !NothingDueBeforeNextStatement(in)) return false;

  // RunCode's part.
  const PinnedAtom pinBody(body);
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  const RestoreOnExit<TPosition> position(s.CurrentPosition);
  CheckStack(in);
  TAtom* const frameOwner = s.Frame()->Owner;
  in.LastValue = nullptr;
  try {
    // ExecuteStatement's part.
    LoadStatementPosition(s.CurrentPosition, TAtom::PositionOf(body), in.InterpretDepth, body);
    ++in.StatementCounter;
    // Interpret's part: the token's range, the routine, OUTPUT.
    const RestoreOnExit<int32_t> depth(in.InterpretDepth, in.InterpretDepth + 1);
    s.CurrentPosition.StartPos = wrapper.StartPos;
    s.CurrentPosition.EndPos = wrapper.EndPos;
    CallBoundRoutine(in, wrapper.Routine, false);
    TAtom* result = nullptr;
    int32_t start = 0;
    int32_t end = 0;
    s.Frame()->Stack.Pop(result, start, end);
    in.LastValue = result;
    in.ResultAtom = result;
    in.StopFlag = true;
  } catch (const LanguageError&) {
    NoteErrorLeavingList(s, position.Saved(), body, frameOwner);
    throw;
  }
  in.CodePointer = nullptr;
  return true;
}

void ExecuteStatement(TInterpreter& in) { RunStatementAtCodePointer(in); }

void PumpMessagesPeriodically(TInterpreter& in) {
  ++in.StatementCounter;
  if (in.StatementCounter % kPumpInterval == 0 && !in.InPlaneEvent) {
    PumpMessages(in);
  }
}

// --- stepping ---------------------------------------------------------------------------

void SetRunState(TInterpreter& in, uint8_t state) {
  in.RunState = state;
  in.host().setRunState(state);
}

void StatementHook(TInterpreter& in) {
  const TPosition& here = in.S.CurrentPosition;
  switch (in.RunState) {
    case rsRunStep:
      PauseAtStatement(in);
      break;
    case rsRunCommand:
      // Step over: every top-level statement, and a statement no deeper than
      // the last pause on another line (the next line of the same body).
      if (in.InterpretDepth == 1 || (in.InterpretDepth <= in.StepDepth && here.Line != in.StepLine)) {
        PauseAtStatement(in);
        in.StepDepth = in.InterpretDepth;
        in.StepLine = in.S.CurrentPosition.Line;
      }
      break;
    case rsRunTo:
      if (here.SourceName.str() == in.RunToPosition.SourceName.str() && here.Line == in.RunToPosition.Line)
        PauseAtStatement(in);
      break;
    default:
      break;
  }
}

void PauseAtStatement(TInterpreter& in) {
  TStructure& s = in.S;
  const TPosition here = s.CurrentPosition;
  Host& host = in.host();
  SourceView* view = host.findSource(here.SourceName);
  // Statements of sources that are not open never pause.
  if (view == nullptr) return;

  in.PausePosition = here;
  in.StepDepth = in.InterpretDepth;
  view->bringToFront();
  view->showDebugLine(here.StartPos, here.SourceText);
  int32_t markedLine = view->firstVisibleLine();
  {
    const RestoreOnExit<bool> highlighting(in.HighlightingStatement, true);
    view->showPausedStatement(here.StartPos, here.EndPos, here.SourceText);
  }
  host.refreshMemory();
  SetRunState(in, rsPaused);
  RedrawScene(in);

  // The run controls change the state from inside the pump; the icon blinks
  // meanwhile. The window may close during any pump.
  uint32_t polls = 0;
  while (in.RunState == rsPaused) {
    view = host.findSource(here.SourceName);
    if (view == nullptr) {
      SetRunState(in, rsRunning);
      return;
    }
    if (view->firstVisibleLine() != markedLine) {
      view->showDebugLine(here.StartPos, here.SourceText);
      markedLine = view->firstVisibleLine();
    }
    ++polls;
    if (polls % 10 == 0)
      view->setStateIcon(1);
    else if (polls % 10 == 4)
      view->setStateIcon(2);
    WaitForMessages(in, kPausePollMs);
  }

  view = host.findSource(here.SourceName);
  if (view != nullptr) {
    const RestoreOnExit<bool> highlighting(in.HighlightingStatement, true);
    view->endPausedStatement();
    view->setStateIcon(0);
  }
}

void RefreshSourceAfterRun(TInterpreter& in) {
  SourceView* view = in.host().findSource(in.S.CurrentPosition.SourceName);
  if (view != nullptr) view->hideDebugLine();
}

// --- the reset ----------------------------------------------------------------------------

bool ResetInterpreter(TInterpreter& in) {
  if (in.RunNesting > 0) {
    // Tearing the tree down under a running program would leave it on freed
    // frames; the outermost run entry resets when it returns.
    in.ResetPending = true;
    return false;
  }
  in.ResetPending = false;
  TStructure& s = in.S;
  Host& host = in.host();
  bool failed = false;
  try {
    host.setElapsedTime(u"");
    ClearErrorHistory(in);
    host.graphics().resetPlane();

    s.LeaveAllFrames();
    in.CodePointer = nullptr;
    s.ClearRoot();
    s.EnterFrame(NewVariable(s, u"[Root]", nullptr));
    in.PendingHistory.clear();
    in.TopRedrawPending = false;
    ReleaseTempAtoms(in);
    ReleaseSpareCallFrames(in);
    in.CallDepth = 0;
    in.InterpretDepth = 0;
    if (IsAtom(s.Root)) TAtom::ClearChildren(*s.Root);

    if (!in.LibraryLoadCommands.empty()) {
      failed = RunText(in, in.LibraryLoadCommands, u"", 0, 0) != rrOk;
      host.refreshMemory();
    }

    RedrawScene(in);
  } catch (const std::exception&) {
    // A reset must always leave a usable interpreter: a failing step is
    // skipped and the rest still runs.
  }
  TPosition& position = s.CurrentPosition;
  position.SourceName = SharedText();
  position.SourceText = SharedText();
  position.StartPos = -1;
  position.EndPos = -1;
  position.Line = -1;
  try {
    CollectGarbage(in);
  } catch (const std::exception&) {
    // As above: the reset still leaves a usable interpreter.
  }
  return failed;
}

// --- the stack guard ------------------------------------------------------------------

void RaiseStackOverflow(TInterpreter& in) {
  // Raised even while the current position has no line: silently going on
  // would crash the process a few calls later.
  TStructure& s = in.S;
  std::u16string message = s.MessageText(u"STACKOVERFLOW");
  s.CurrentPosition.Topic = u"stack-overflow";
  TPosition entry = s.CurrentPosition;
  entry.FrameOwner = nullptr;
  s.AddTrace(entry);
  s.LastError = message;
  throw LanguageError(std::move(message));
}
