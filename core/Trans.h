#pragma once
// The interpreter module's shared services: help-text and UTF-16 file
// writing, the program log, text-file reading, the file search, the keyboard
// buffer, OpenGL error printing, internal errors and the search for the
// variable that holds a GUI control. The interpreter itself joins this module
// later.

#include <array>
#include <cfenv>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Exports.h"
#include "core/Expr.h"
#include "core/Vars.h"

// A file could not be written (folder missing, file locked, disk full).
class FileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --- help texts and UTF-16 files ---------------------------------------------

// Replaces every whole-word occurrence of word (compared in normalised form);
// with normalise set the inserted replacement is normalised too.
void ReplaceWholeWord(TStructure& s, std::u16string& text, std::u16string_view word, std::u16string_view replacement,
                      bool normalise);
// A new value with the word replaced in every word, number, list and
// expression element; other values come back themselves. The input is never
// changed.
TAtom* ReplaceWord(TStructure& s, TAtom* atom, std::u16string_view word, std::u16string_view replacement);
// Replaces every occurrence, searching again from the start after each one.
// With pad: an empty result becomes "&#32;&#32;", a one-character result gets
// a blank appended.
void ReplaceAll(std::u16string& text, std::u16string_view search, std::u16string_view replacement, bool pad);
// The text prepared for the XML help pages.
std::u16string EscapeXml(const TStructure& s, std::u16string_view text, bool pad);
// True when HelpFolder names a folder, after asking the host to make one
// while it is empty (Host::makeHelpFolder).
bool HelpFolderReady(TStructure& s);
// EscapeXml (padded) into HelpFolder + fileName. Throws FileError.
void WriteHelpSnippet(TStructure& s, std::u16string_view fileName, std::u16string_view text);
// FF FE and the UTF-16LE units of the text, no terminator.
std::string UnicodeFileBytes(std::u16string_view text);
// Writes UnicodeFileBytes of the text. Throws FileError.
void WriteUnicodeFile(const std::u16string& fileName, std::u16string_view text);
// Writes "$$$error-NN$$$.txt" (number 1 to 31) into the user's help folder;
// a file that cannot be written is ignored.
void WriteErrorFile(TStructure& s, int number, std::u16string_view text);
// One line in the output window, black, not bold.
void PrintToOutput(TStructure& s, const std::u16string& text);

// --- core utilities ---------------------------------------------------------

// Log categories written by the system.
enum LogCategory : uint32_t {
  lcOutput = 1,      // output-window lines
  lcCommand = 2,     // command-window lines
  lcProcedure = 32,  // procedure entry and exit
  lcError = 64,      // reported run-time errors
};
// Log mask option bits.
enum LogOption : uint32_t { loAppend = 0x04, loTime = 0x08, loDate = 0x10 };

void WriteLog(TStructure& s, uint32_t category, std::u16string_view line);
// The file as UTF-16: a file starting FF FE is UTF-16LE less the mark; else
// the bytes up to the first NUL, as UTF-8 when they hold valid non-ASCII
// UTF-8, else widened with the code page. A missing file reads as empty.
std::u16string ReadTextFile(const TStructure& s, const std::u16string& fileName);
// The first existing regular file among the search candidates, as a full
// path; the cleaned name itself when none exists.
std::u16string LocateFile(const TStructure& s, std::u16string_view name);
void AppendKeyToBuffer(TStructure& s, char16_t ch);
// Prints the message and a "begin-end=%d" line.
void PrintGLError(TStructure& s, const std::u16string& message);
// Writes the tag as "$$$error-04$$$.txt", sets the topic "internal-error" and
// raises the system-error text followed by the tag.
void RaiseInternalError(TStructure& s, std::u16string_view tag);
// Depth-first from the root, a variable before its children, children newest
// first: the first variable whose value wraps exactly the control.
TAtom* FindVariableByControl(TStructure& s, const WrappedObject* control);

// True when a regular file (not a directory) exists at the path.
bool FileExists(const std::u16string& path);

// --- the interpreter object ----------------------------------------------------

class GraphicsHooks;
class TScanner;
struct TCompilerState;
struct TIOState;

// A routine bound to an external-call ("dll.") token: the opcode to emit
// (ocPrimitive for the program's own exports, ocNative for outside
// libraries) and the index of the routine in the bound-routine table.
struct TBoundRoutine {
  int32_t OpCode;
  int32_t Index;
};
class TInterpreter;
// Binds a "dll." token when its statement is compiled, or raises.
using TExternalBinder = std::function<TBoundRoutine(TInterpreter&, TAtom& token)>;
// A bound routine as the interpreter calls it: reads its inputs from the
// current frame and returns one atom (the empty list when it has no result).
using TRoutine = std::function<TAtom*(TInterpreter&)>;
// Installs the binder of "dll.zavta.NAME" (the own exports) and
// "dll.LIBRARY.NAME" (routines of outside shared objects) tokens.
void InstallExternalBinding(TInterpreter& in);
// An outside shared object loaded for a binding; never unloaded.
struct TLoadedLibrary {
  void* Handle = nullptr;
  std::u16string Path;  // the path it was loaded by, for error reports
};

// The run state shared by the run controls, the interpreter and the plane.
enum RunStateValue : uint8_t {
  rsIdle = 0,
  rsStop = 1,
  rsRunCommand = 2,  // step over
  rsRunStep = 3,     // step into
  rsRunTo = 4,       // run to the caret's line
  rsEnded = 5,
  rsFinalRedraw = 6,
  rsRunning = 7,
  rsPaused = 8,
};

// Reads the operand words of the statement being interpreted.
// Code may be cleared (and compiled again) by a statement it runs, so the
// cached words are refreshed after every opcode that can run code.
struct TCodeCursor {
  TCodeCursor(const std::vector<int32_t>* code, size_t index) : Code(code), Index(index) { Refresh(); }
  const std::vector<int32_t>* Code = nullptr;
  size_t Index = 0;
  void Refresh() {
    Words = Code != nullptr ? Code->data() : nullptr;
    Size = Code != nullptr ? Code->size() : 0;
  }
  bool AtEnd() const { return Index >= Size; }
  // The next word; 0 past the end (the compiler always writes whole
  // instructions, so this only guards against damaged code).
  int32_t Next() { return AtEnd() ? 0 : Words[Index++]; }
  int32_t Peek() const { return AtEnd() ? 0 : Words[Index]; }

private:
  const int32_t* Words = nullptr;
  size_t Size = 0;
};

// The per-process execution state that sits beside the interpreter state:
// the statement cursor, the run globals, the interpreter's own scanner and
// the compiler's module state. Each test builds a fresh one.
class TInterpreter {
public:
  explicit TInterpreter(TStructure& s);
  ~TInterpreter();
  TInterpreter(const TInterpreter&) = delete;
  TInterpreter& operator=(const TInterpreter&) = delete;

  TStructure& S;
  Host& host() const;
  TAtom* CodePointer = nullptr;      // the current statement cell; null at the end
  TAtom* CurrentCodeAtom = nullptr;  // the statement cell being compiled
  TScanner& Scanner() { return *scanner_; }
  TCompilerState& Compiler() { return *compiler_; }
  TExternalBinder ExternalBinder;  // empty until the external-call binding is installed
  std::vector<TRoutine> Routines;  // the bound-routine table (ocPrimitive / ocNative operands)
  TExportRegistry Exports;         // the own exports' routines, entered by each subsystem
  std::mt19937_64 Random;          // the random generator of the primitives (seeded by LogoLib)
  std::unique_ptr<TIOState> IO;    // open binary files and the port driver (IOLib)

  // The binder's state: every routine enters Routines once, however often
  // the statements that call it are compiled again.
  std::array<int32_t, kExportCount + 1> ExportRoutineIndex{};  // Routines index + 1 per ordinal; 0 unbound
  std::map<const void*, int32_t> NativeRoutineIndex;           // Routines index per outside routine
  std::map<std::u16string, TLoadedLibrary> NativeLibraries;    // by library name as written
  std::vector<bool> RoutineKeepsNoCells;                       // per Routines index (TExportRegistry)
  // Per Routines index: the routine itself when it reads only its inputs
  // (TExportRegistry::ReadsOnlyInputs), so a direct wrapper's call runs it
  // without a frame; else null.
  std::vector<TPrimitive> FramelessRoutines;

  // Frame variables (with their input cells) of finished calls that nothing
  // can still see, per procedure, kept pinned for its next calls (see
  // TransCall.cpp). Body: the procedure body they were made for.
  // A stack of atoms whose push and pop stay inline on the call path: the
  // slots past Size are kept for reuse (their old pointers pin nothing).
  class TAtomStack {
  public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    TAtom* back() const { return slots_[size_ - 1]; }
    void pop_back() { --size_; }
    void clear() { size_ = 0; }
    [[gnu::always_inline]] void push_back(TAtom* atom) {
      if (size_ == slots_.size()) [[unlikely]]
        slots_.push_back(atom);
      else
        slots_[size_] = atom;
      ++size_;
    }
    TAtom* const* begin() const { return slots_.data(); }
    TAtom* const* end() const { return slots_.data() + size_; }

  private:
    std::vector<TAtom*> slots_;
    size_t size_ = 0;
  };
  struct TSpareCallFrames {
    const TAtom* Body = nullptr;
    TAtomStack Frames;
    // Whether Body's statement may run the short way (RunBodyShortWay),
    // as its code was at this code generation.
    uint32_t ShortBodyCode = UINT32_MAX;
    bool ShortBody = false;
    bool WrapperBody = false;  // Body's statement decoded as a direct wrapper's then
  };
  std::unordered_map<const TAtom*, TSpareCallFrames> SpareCallFrames;
  uint64_t SpareFramesGeneration = 0;  // counts the times SpareCallFrames was emptied
  // The entry of a procedure, found through a small direct-mapped table of
  // recent ones before the map (whose hashing costs a division).
  TSpareCallFrames& SpareFramesOf(const TAtom* procedure) {
    TSpareSlot& slot = spareSlots_[(reinterpret_cast<uintptr_t>(procedure) >> 7) % spareSlots_.size()];
    if (slot.Procedure != procedure || slot.Generation != SpareFramesGeneration) {
      slot.Procedure = procedure;
      slot.Generation = SpareFramesGeneration;
      slot.Entry = &SpareCallFrames[procedure];
    }
    return *slot.Entry;
  }
  // When a finished call's frame can be seen by nobody. A frame variable and
  // its input cells are reached only through the frame stack while the call
  // runs; they can become known outside it in exactly these ways, each of
  // which counts here:
  //   - a run entry starts (RunEntry): code run from a message pump, an
  //     event, a control, a redraw or a display-list compile may find the
  //     running frames through the calling-frames step of FindName;
  //   - messages are pumped (PumpMessages, WaitForMessages) by a host
  //     whose windows may show variables (Host::pumpShowsVariables): they
  //     may take the identities of the variables they show;
  //   - a routine that may keep an argument cell or run code is called
  //     (CallBoundRoutine);
  //   - generated statements run in the current frame (handlers, change
  //     notifications and plans: RunStatements);
  //   - a cell is handed on as a value (an assignment's result, a variable
  //     moved in as another call's input).
  // A call that ends with the count unchanged leaves a frame nobody can see
  // (TransCall.cpp keeps it for the procedure's next call). Whatever else
  // comes to keep a pointer to a variable it did not make calls NoteEscape.
  uint64_t EscapeCount = 0;
  void NoteEscape() { ++EscapeCount; }
  // The list whose round TListRounds is running (null between rounds and
  // once a nested loop's rounds ended), and the count of rounds begun: a
  // statement that ran in the last round and runs again in this one, with
  // no statement between, knows that nothing else ran meanwhile.
  const TAtom* RoundsList = nullptr;
  uint64_t RoundSerial = 0;

  // A procedure body as last decoded: whether its first statement is a
  // direct wrapper's, which routine it calls, and the line its statement
  // raises errors at. Valid while the body is the same atom life (its
  // allocation stamp) and its code the same generation.
  struct TWrapperBody {
    const TAtom* Body = nullptr;
    uint64_t BodyStamp = 0;
    uint32_t CodeGeneration = 0;
    bool IsWrapper = false;
    uint8_t Composed = 0;  // else a composed library body (ComposedBodyKind)
    TWrapperStatement Statement;
    int32_t Line = -1;
  };
  const TWrapperBody& WrapperBodyOf(const TAtom& body) {
    TWrapperBody& slot = wrapperBodies_[(reinterpret_cast<uintptr_t>(&body) >> 7) % wrapperBodies_.size()];
    if (slot.Body != &body || slot.BodyStamp != body.Stamp || slot.CodeGeneration != TAtom::CodeGeneration(body))
      DecodeWrapperBody(body, slot);
    return slot;
  }

  // The procedure a call of this variable runs: its lambda child when it
  // has one, else itself. Remembered per variable while the variable is the
  // same atom life with the same named children (frames, named "[~]", come
  // and go without changing that) under the same keywords and case rule, so
  // a recursive call does not walk its running frames for a lambda child.
  TAtom* CalleeOf(TAtom& procedure);

  // What ComposedListRoutine (LogoLib.cpp) last found for a call of fput,
  // emptyp, remainder or notequalp, and the state that answer holds for: the procedure's value, the
  // root's children, keywords and case rule, and each wrapper the body
  // calls (its value, flags, named children and their values, body code).
  struct TComposedCall {
    struct TWrapper {
      const TAtom* Procedure = nullptr;
      const TAtom* Value = nullptr;
      uint64_t ValueStamp = 0;
      uint32_t Flags = 0;
      uint64_t Children = 0;
      std::array<const TAtom*, 2> ChildValues{};
      const TAtom* Body = nullptr;
      uint64_t BodyStamp = 0;
      uint32_t CodeGeneration = 0;
    };
    const TAtom* Procedure = nullptr;
    const TAtom* Value = nullptr;
    uint64_t ValueStamp = 0;
    uint64_t TopLevelEpoch = UINT64_MAX;
    uint32_t Keywords = 0;
    bool CaseSensitive = true;
    std::array<TWrapper, 4> Wrappers{};  // unused slots have no procedure
    uint8_t WrapperCount = 0;            // the used slots, first to last
    TPrimitive Routine = nullptr;
  };
  std::array<TComposedCall, 4> ComposedCalls{};  // fput's, emptyp's, remainder's, notequalp's

private:
  void DecodeWrapperBody(const TAtom& body, TWrapperBody& slot);
  struct TCalleeSlot {
    const TAtom* Procedure = nullptr;
    uint64_t Stamp = 0;
    uint64_t NamedChildren = 0;
    uint32_t Keywords = 0;
    bool CaseSensitive = true;
    TAtom* Callee = nullptr;
  };
  std::array<TCalleeSlot, 64> calleeSlots_{};
  std::array<TWrapperBody, 64> wrapperBodies_{};
  struct TSpareSlot {
    const TAtom* Procedure = nullptr;
    uint64_t Generation = 0;
    TSpareCallFrames* Entry = nullptr;
  };
  std::array<TSpareSlot, 64> spareSlots_{};

public:
  // --- run globals ----------------------------------------------------------------
  uint8_t RunState = rsIdle;
  TAtom* LastValue = nullptr;     // the value left by the last instruction
  TAtom* ResultAtom = nullptr;    // OUTPUT's value; SystemValue = none (set in the constructor)
  bool StopFlag = false;          // OUTPUT or STOP ran: leave the statement chain
  int32_t InterpretDepth = 0;     // nesting of Interpret
  int32_t CallDepth = 0;          // nesting of procedure calls and assignments
  uint32_t StatementCounter = 0;  // statements since start-up
  // Message pumps since start-up (PumpMessages, WaitForMessages): the host may
  // run code or change variables there without a statement being counted.
  uint32_t PumpSerial = 0;
  bool InPlaneEvent = false;      // a plane-event procedure runs: no pumping
  int32_t StepDepth = -1;         // InterpretDepth at the last step-over pause
  int32_t StepLine = -1;          // its line
  TPosition PausePosition;        // where the last pause happened
  TPosition RunToPosition;        // Run To's target (source name and line)
  bool HighlightingStatement = false;
  int64_t RunStartTick = 0;                 // at RunProgramText's start; then the elapsed ms
  std::set<std::u16string> PendingHistory;  // full names whose history handlers are due
  bool TopRedrawPending = false;            // a drawable changed: redraw at the next top-level statement
  bool SceneDirty = false;                  // a change plan ran: redraw when RunCode starts
  std::u16string LibraryLoadCommands;       // run by every reset
  int32_t RunNesting = 0;                   // run entries currently active
  bool ResetPending = false;                // a reset asked for inside a run, done by the outermost entry
  bool EndingRuns = false;                  // the outermost exit runs its deferred reset and runsEnded
  uintptr_t StackBase = 0;                  // frame address at the outermost run entry; 0 outside runs
  uintptr_t StackBudget = 0;                // bytes of machine stack a run may use below StackBase
  // Sets both and the floor they give the stack check.
  void SetRunStack(uintptr_t base, uintptr_t budget) {
    StackBase = base;
    StackBudget = budget;
    S.SetBudgetFloor(base > budget ? base - budget : 0);
  }
  bool ErrorHistoryWriting = false;         // the error history is being written: reports only print
  bool InChangeHandlers = false;            // a change plan's handlers run: the scene redraw waits
  bool PlanRunning = false;                 // a change plan runs
  uint64_t PlanStamp = 0;                   // StampCounter when the running plan was built
  // The graphics state made beside this interpreter (graphics/Graphics.h
  // registers itself here; Graphics::Of finds it); null without one.
  GraphicsHooks* OwnGraphics = nullptr;

  // --- statement cursor ---------------------------------------------------------
  // Moves CodePointer to the next cell (no-op at the end).
  void NextStatement();
  // The element of the current cell; null at the end.
  TAtom* CurrentStatement() const;
  // 0 no cell, 1 the word ",", 2 a number or other word, 3 an expression,
  // 4 a cell without element, 5 any other kind.
  int StatementKind() const;

private:
  std::unique_ptr<TScanner> scanner_;
  std::unique_ptr<TCompilerState> compiler_;
};

// A frame entered for a scope and left when the scope ends, however it ends
// (unless something else already left it).
class EnteredFrame {
public:
  EnteredFrame(TStructure& s, TAtom* owner) : s_(s) {
    s_.EnterFrame(owner);
    entered_ = s_.Frame();
  }
  ~EnteredFrame() {
    if (s_.Frame() == entered_) s_.LeaveFrame();
  }
  EnteredFrame(const EnteredFrame&) = delete;
  EnteredFrame& operator=(const EnteredFrame&) = delete;

private:
  TStructure& s_;
  TContext* entered_;
};

// Holds the statement cell the interpreter stood on, pinned, and puts it
// back as the code pointer when the scope ends.
class CodePointerKeeper {
public:
  explicit CodePointerKeeper(TInterpreter& in) : in_(in), cell_(in.CodePointer) {}
  ~CodePointerKeeper() { in_.CodePointer = cell_.get(); }
  CodePointerKeeper(const CodePointerKeeper&) = delete;
  CodePointerKeeper& operator=(const CodePointerKeeper&) = delete;

private:
  TInterpreter& in_;
  PinnedAtom cell_;
};

// The stack a run may use: the soft stack limit (8 MiB when unlimited or
// unknown) less the reserve.
uintptr_t RunStackBudget();

// The interpreter's message pumps: the host processes pending window
// messages (waiting up to ms first); the running calls' frames count as seen.
void PumpMessages(TInterpreter& in);
void WaitForMessages(TInterpreter& in, int ms);

// The outermost run entry's exit: the reset deferred during the run, then
// Host::runsEnded. Nothing escapes (it runs from RunEntry's destructor).
void EndOutermostRun(TInterpreter& in) noexcept;

// One run entry: counts the nesting and takes the stack guard's base at the
// outermost entry; the outermost exit ends the runs (EndOutermostRun).
class RunEntry {
public:
  RunEntry(TInterpreter& in, uintptr_t frame) : in_(in), outermost_(in.RunNesting == 0) {
    in_.NoteEscape();  // the code it runs may see the running calls' frames
    in_.S.FloatingPointModesChecked = false;  // the host ran before
    if (outermost_) {
      in_.SetRunStack(frame, RunStackBudget());
    }
    ++in_.RunNesting;
  }
  ~RunEntry() {
    --in_.RunNesting;
    if (!outermost_) return;
    in_.SetRunStack(0, in_.StackBudget);
    EndOutermostRun(in_);
  }
  RunEntry(const RunEntry&) = delete;
  RunEntry& operator=(const RunEntry&) = delete;
  bool Outermost() const { return outermost_; }

private:
  TInterpreter& in_;
  bool outermost_;
};

// The per-run state of an interrupted run, saved by a run entered from
// inside it (a handler run during a message pump) and put back when that run
// ends, so the interrupted statement goes on as if nothing happened. The
// atoms held meanwhile are pinned.
class SavedRunState {
public:
  explicit SavedRunState(TInterpreter& in)
      : in_(in),
        currentPosition_(in.S.CurrentPosition),
        parsePosition_(in.S.ParsePosition),
        resultAtom_(in.ResultAtom),
        lastValue_(in.LastValue),
        stopFlag_(in.StopFlag),
        inWhile_(in.S.InWhile),
        whileCounter_(in.S.WhileCounter),
        repeatCounter_(in.S.RepeatCounter),
        interpretDepth_(in.InterpretDepth),
        callDepth_(in.CallDepth) {
    for (TAtom* atom : Held()) TAtom::IncRef(atom);
  }
  ~SavedRunState() {
    in_.S.CurrentPosition = currentPosition_;
    in_.S.ParsePosition = parsePosition_;
    in_.ResultAtom = resultAtom_;
    in_.LastValue = lastValue_;
    in_.StopFlag = stopFlag_;
    in_.S.InWhile = inWhile_;
    in_.S.WhileCounter = whileCounter_;
    in_.S.RepeatCounter = repeatCounter_;
    in_.InterpretDepth = interpretDepth_;
    in_.CallDepth = callDepth_;
    for (TAtom* atom : Held()) TAtom::DecRef(atom);
  }
  SavedRunState(const SavedRunState&) = delete;
  SavedRunState& operator=(const SavedRunState&) = delete;

private:
  std::array<TAtom*, 6> Held() const {
    return {resultAtom_,
            lastValue_,
            currentPosition_.Statement,
            currentPosition_.Procedure,
            parsePosition_.Statement,
            parsePosition_.Procedure};
  }

  TInterpreter& in_;
  TPosition currentPosition_;
  TPosition parsePosition_;
  TAtom* resultAtom_;
  TAtom* lastValue_;
  bool stopFlag_;
  bool inWhile_;
  int64_t whileCounter_;
  int64_t repeatCounter_;
  int32_t interpretDepth_;
  int32_t callDepth_;
};

// Lets go of the frames kept for direct wrappers' next calls (TransCall.cpp).
void ReleaseSpareCallFrames(TInterpreter& in);

// --- run entries and the statement runner (TransRun.cpp) ----------------------

// Results of RunText.
enum RunResult : int { rrOk = 0, rrParseError = 1, rrRunError = 2 };

// Tokenises, parses and runs a program text; 0, 1 (parse error, not
// reported) or 2 (run error, reported). Nests: a handler run from inside a
// running program returns to exactly where the program was.
int RunText(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startPos = 0,
            int32_t startLine = 0);
// The run controls' entry: scans and runs the whole text, reports every
// error itself, shows the elapsed time; returns RunText's 0/1/2 as well.
int RunProgramText(TInterpreter& in, std::u16string_view text, std::u16string_view sourceName, int32_t startOffset = 0);
// Runs the statement chain at CodePointer until it ends.
void RunCode(TInterpreter& in);
// Runs the one statement at CodePointer and leaves CodePointer on the next.
void ExecuteStatement(TInterpreter& in);
// REPEAT's rounds: runs the list count times (a fraction adds one round),
// each round as RunCode runs it, with RepeatCounter counting them, a pump
// every kRepeatPumpInterval rounds and an end at a stop. What RunCode does
// once per list is done once per loop (the caller pins the list); the
// caller's position, which every round gives back, is put back only when
// something outside the rounds may read it.
void RunRepeat(TInterpreter& in, TAtom* list, long double count);
// How many REPEAT rounds pass between two message pumps.
constexpr int64_t kRepeatPumpInterval = 128;
// Runs the rounds that follow of a loop's list of numeric fused MAKEs as a
// tight loop on their numbers, up to the next pump point (TransInterpret.cpp):
// rounds and iteration count them. False where the list's first statement
// is of another kind.
bool RunFusedRounds(TInterpreter& in, const TAtom* list, int64_t& rounds, int64_t& iteration);
// Runs such a body as RunCode would, with the same positions, counters,
// result and error trace, without the statement loop; false (nothing done)
// when that could differ: stepping, a pump or redraw due, a stop asked.
bool RunWrapperStatement(TInterpreter& in, TAtom* body, const TWrapperStatement& wrapper);
// Runs a body of one statement that only reads variables and ends it
// ("output :n") as RunCode would, without the statement loop, as an IF's
// list of that kind runs; false (nothing done) where that could differ.
bool RunBodyShortWay(TInterpreter& in, TAtom* body);
// Whether the body's statement is of that kind as its code is now (it may
// still decline when run).
bool BodyMayRunShortWay(const TInterpreter& in, const TAtom& body);
// Resets the interpreter and reruns the library load commands; true when
// those failed. Inside a run it only marks the reset pending (false).
bool ResetInterpreter(TInterpreter& in);
// The statement hook (ocStatement): pauses for run states 2, 3 and 4.
void StatementHook(TInterpreter& in);
void PauseAtStatement(TInterpreter& in);
void PumpMessagesPeriodically(TInterpreter& in);
void RefreshSourceAfterRun(TInterpreter& in);
// The scene redraw; the plane clears both redraw requests by drawing.
void RedrawScene(TInterpreter& in);
// Writes the run state and tells the host (window icons and menus follow).
void SetRunState(TInterpreter& in, uint8_t state);
// Raises "stack-overflow" (STACKOVERFLOW) when the machine stack used since
// the outermost run entry passes its budget, or the thread's reserve is
// reached; raised even without a line. Interpret, RunCode and
// CallUserProcedure check on entry, so it is inline.
[[noreturn]] void RaiseStackOverflow(TInterpreter& in);
inline void CheckStack(TInterpreter& in) {
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (here < in.S.StackCheckFloor()) [[unlikely]]
    RaiseStackOverflow(in);
}

// The x87 and SSE control words hold the default modes (all exceptions
// masked, nearest rounding, extended precision); the sticky flags may be set.
inline bool FloatingPointModesAreDefault() {
#if defined(__x86_64__) || defined(__i386__)
  uint16_t x87 = 0;
  uint32_t sse = 0;
  __asm__ volatile("fnstcw %0" : "=m"(x87));
  __asm__ volatile("stmxcsr %0" : "=m"(sse));
  return x87 == 0x037F && (sse & ~uint32_t{0x3F}) == 0x1F80;
#else
  return false;
#endif
}
// Whatever an earlier routine or the graphics library left in the
// floating-point unit, every routine starts from the default state (all
// exceptions masked). The own routines never read the sticky flags, so for
// them the state is only loaded when a mode differs; loading it costs more
// than most of them.
inline void PrepareFloatingPoint(const TStructure& s, bool outside) {
  s.FloatingPointModesChecked = false;  // the routine that follows may change them
  if (outside || !s.FastPaths || !FloatingPointModesAreDefault()) static_cast<void>(std::fesetenv(FE_DFL_ENV));
}
// PrepareFloatingPoint for the arithmetic the interpreter does itself,
// which changes no mode: once the modes are checked they stand until a
// routine or the host runs.
inline void PrepareOwnArithmetic(const TStructure& s) {
  if (s.FloatingPointModesChecked) [[likely]]
    return;
  PrepareFloatingPoint(s, false);
  s.FloatingPointModesChecked = s.FastPaths;
}

// Nothing the statement loop does around a statement is due before the
// next one (no redraw, pump, pause, stop, halt or pending history), so a
// body's statement may run without it. The next statement's count is one
// of the pump's.
constexpr uint32_t kPumpInterval = 160;  // statements between two message pumps

// Whether a statement count is one the pump runs at (a multiple of
// kPumpInterval), by multiplying: in code the compiler takes for rarely run
// the remainder would be a division, a slow instruction on every call. A
// multiple of 32 * 5 times the inverse of 5 (modulo 2^32), turned right by
// 5 bits, is at most the largest count's quotient; no other count is.
[[gnu::always_inline]] constexpr bool IsPumpCount(uint32_t count) {
  static_assert(kPumpInterval == 32 * 5 && 5 * 0xCCCCCCCDu == 1);
  const uint32_t product = count * 0xCCCCCCCDu;
  return ((product >> 5) | (product << 27)) <= UINT32_MAX / kPumpInterval;
}

[[gnu::always_inline]] inline bool NothingDueBeforeNextStatement(const TInterpreter& in) {
  const TStructure& s = in.S;
  return !in.SceneDirty && !s.HaltRequested && !s.PumpPending && !in.TopRedrawPending && in.PendingHistory.empty() &&
         in.RunState != rsStop && in.RunState != rsRunCommand && in.RunState != rsRunStep && in.RunState != rsRunTo &&
         !IsPumpCount(in.StatementCounter + 1);
}

// --- the interpreter loop (TransInterpret.cpp) ---------------------------------

// Runs the code of the statement cell; returns the next statement cell
// (the ocEnd operand), or null when OUTPUT, STOP or a stop request ended it.
TAtom* Interpret(TInterpreter& in, TAtom* statement, bool quiet);
// Interpret once its entry checks held (a run going on, a frame, the
// statement compiled), with fast the statement's current superinstructions.
TAtom* InterpretFastCode(TInterpreter& in, TAtom* statement, const TFastCode& fast, bool quiet);
// InterpretFastCode for a statement of a list whose loop checked the stack
// on entry (RunCode): the statement's own check is left out.
TAtom* InterpretListStatement(TInterpreter& in, TAtom* statement, const TFastCode& fast);
// ocPrimitive / ocNative: calls the bound routine with the given index and
// pushes its answer on the current frame's stack.
void CallBoundRoutine(TInterpreter& in, int32_t index, bool outside);

// A routine run on a call's operands instead of a frame's cells: the
// argument view on them and the line the wrapper body's statement would
// have armed, for the routine's run; both back afterwards.
class OperandView {
public:
  OperandView(TStructure& s, const TStackEntry* inputs, int32_t count, int32_t line)
      : s_(s), line_(s.CurrentPosition.Line) {
    // Never null: a null view means "read the frame's cells", which a
    // routine without inputs (or an empty stack's storage) must not do.
    static const TStackEntry noOperands{};
    s_.OperandInputs = inputs != nullptr ? inputs : &noOperands;
    s_.OperandCount = inputs != nullptr ? count : 0;
    s_.CurrentPosition.Line = line;
  }
  ~OperandView() {
    s_.OperandInputs = nullptr;
    s_.OperandCount = 0;
    s_.CurrentPosition.Line = line_;
  }
  OperandView(const OperandView&) = delete;
  OperandView& operator=(const OperandView&) = delete;

private:
  TStructure& s_;
  int32_t line_;
};

// Runs a frameless routine on a call's operands (input 1 first) with the
// line its wrapper body's statement would arm. A routine that raises leaves
// nothing of the attempt (range, topic, trace entries) and gives false: the
// call then goes the full way, which raises the error itself.
bool TryRoutineOnOperands(TInterpreter& in, TPrimitive routine, const TStackEntry* inputs, int32_t inputCount,
                          int32_t line, TAtom*& result);

// The usual input error: files 04 (dump), 05 and 06 (kind names) of the
// offending value, the current range := [start, end), the topic := key,
// then RaiseError(message). Returns when the raise is suppressed.
void RaiseInputError(TInterpreter& in, std::u16string_view key, const std::u16string& message, const TAtom* offending,
                     int32_t start, int32_t end);
// The BADARG message: input number and keyword or character.
std::u16string BadArgMessage(const TStructure& s, int inputNumber, std::u16string_view what);
// Prints every variable from the root (DUMP).
void PrintVariableTree(TInterpreter& in);

// --- procedure calls (TransCall.cpp) ------------------------------------------

// Carries out ocCall; the cursor stands on the name operand and is left
// after the call's last operand. Pops the inputs, pushes one result.
void CallUserProcedure(TInterpreter& in, TCodeCursor& cursor);
// ocCall of a procedure the caller has already found for the name operand
// (as FindName and the lambda child answer it now) and knows to be no
// frameless wrapper: the same call without the look-up.
void CallFoundProcedure(TInterpreter& in, TAtom& procedure, TCodeCursor& cursor);
// The same call with the operands a call site has read from its code: the
// name token, the input count and the pairs (two words per input).
void CallFoundProcedureAt(TInterpreter& in, TAtom& procedure, TAtom* nameAtom, int32_t inputCount,
                          const int32_t* pairs);
// The same call where a kept frame of the procedure fits and its inputs are
// held outside the frame's stack: input 1 (written first) at top[-1], input
// i at top[-i]. The result comes back in result instead of onto the stack.
// False, with nothing done, where the call would take another way; the
// caller then makes it with CallFoundProcedureAt.
bool CallKeptFrameWithInputs(TInterpreter& in, TAtom& procedure, TAtom* nameAtom, int32_t inputCount,
                             const int32_t* pairs, const TStackEntry* top, TStackEntry& result);

// --- assignment (TransMake.cpp) ---------------------------------------------------

// What ocMake / ocOb popped, with their source ranges.
struct TMakeInputs {
  TAtom* LeftList = nullptr;
  TAtom* Name = nullptr;
  TAtom* Value = nullptr;  // SystemValue when none was written
  TAtom* RightList = nullptr;
  int32_t LeftStart = -1, LeftEnd = -1;
  int32_t NameStart = -1, NameEnd = -1;
  int32_t ValueStart = -1, ValueEnd = -1;
  int32_t RightStart = -1, RightEnd = -1;
  TAtom* FirstCell = nullptr;  // the instruction's first and last token cells
  TAtom* LastCell = nullptr;
};
// MAKE (ocMake) or OB (ocOb): runs the handlers before the store, stores
// the value, notifies and re-evaluates what depends on the variable, keeps
// its definition, history and drawing up to date, runs the handlers after
// the store and pushes the variable.
void OpMake(TInterpreter& in, int32_t opcode, const TMakeInputs& inputs);
// OpMake's plain store of "make name value" into a variable that exists,
// when that is all the assignment does (IsPlainStore) and the variable is
// not locked: the variable, which the caller pushes. Null, with nothing
// done, when the assignment must take OpMake's way.
TAtom* PlainMake(TInterpreter& in, TAtom* name, TAtom* value);
// PlainMake in two steps, for a caller that makes the value only once it
// knows the store is plain: FindPlainStore's checks (nothing done), then
// StorePlain with that target.
struct TPlainStore {
  TAtom* Variable = nullptr;  // null: the assignment must take OpMake's way
  bool Stores = false;        // the value replaces the old one (not dropped, not "made only")
};
// The flags and marks that make a store do more than store.
constexpr uint32_t kReactiveFlags = afPlanned | afDefinition | afHistory | afDependent | afDrawable;
constexpr uint8_t kReactiveMarks = amDisplayList | amChangeHandler | amHandlerChildren;
// The part of the one reactive predicate (IsPlainStore, TransMake.cpp)
// that the variable and the value decide, for an assignment already known
// to be a MAKE without handler lists: true when no step beyond the lock
// check and the store applies, into a variable with no reactive flag,
// display list or handler child, that is neither a change handler nor one's
// member, of a value that is not an object, under a frame owner that has no
// onbeforemake or onaftermake child. Tree links are never SystemValue.
inline bool IsPlainStoreInto(const TStructure& s, const TAtom& variable, const TAtom* value) {
  if ((variable.Flags & kReactiveFlags) != 0 || (variable.Marks & kReactiveMarks) != 0) return false;
  if (variable.Parent != nullptr && (variable.Parent->Marks & amChangeHandler) != 0) return false;
  if (TAtom::IsVariable(value)) return false;  // it brings its own members along
  const TAtom* owner = s.Frame()->Owner;
  return !IsAtom(owner) || (owner->Marks & amMakeHandlerChild) == 0;
}
// TAtom::IsLocked and TAtom::NotifySuppressed of a variable in one walk up
// its parents: the lock search ends at the first frame, the silence search
// at the top.
struct TStoreGuards {
  bool Locked = false;
  bool Suppressed = false;
};
inline TStoreGuards StoreGuardsOf(const TAtom* variable) {
  TStoreGuards guards;
  bool lockSearch = true;
  for (const TAtom* a = variable; IsAtom(a); a = a->Parent) {
    const uint32_t flags = a->Flags;
    if ((flags & (afLocked | afFrame | afSilent)) == 0) continue;  // most scopes on the way
    if (lockSearch && (flags & (afLocked | afFrame)) != 0) {
      guards.Locked = (flags & afLocked) != 0;
      lockSearch = false;
    }
    if ((flags & afSilent) != 0) guards.Suppressed = true;
  }
  return guards;
}
// Inline: the loops' fused MAKEs find their targets with it at every round.
// A MAKE's instruction without handler lists asks the predicate's part
// that can change.
inline TPlainStore FindPlainStore(TInterpreter& in, TAtom* name, const TAtom* value) {
  TStructure& s = in.S;
  TPlainStore target;
  if (!TAtom::IsWord(name)) return target;
  TAtom* variable = s.FindNameOfToken(*name);
  if (variable == nullptr) return target;
  const TStoreGuards guards = StoreGuardsOf(variable);
  if (guards.Locked || !IsPlainStoreInto(s, *variable, value)) return target;
  target.Variable = variable;
  target.Stores = value != SystemValue && !guards.Suppressed && (variable->Flags & afActive) == 0;
  return target;
}
// A store that only replaces the value: the variable has no members to
// drop, the value brings none, and the old value has no finaliser to run,
// so nothing can look at the variable while it is stored.
inline bool OnlyReplacesValue(const TAtom& variable, const TAtom* value) {
  const TAtom* old = variable.Left;
  return variable.FirstChild == nullptr && !TAtom::IsVariable(value) &&
         (!IsAtom(old) || (old->Kind != akWinObject && old->Kind != akMemoryBlock));
}
// StorePlain's store of any other kind: through StoreValue, or the value
// dropped where the variable keeps its own.
void StorePlainValueOtherwise(TInterpreter& in, const TPlainStore& target, TAtom* value);
// Inline: the loops' fused MAKEs store with it at every round.
inline void StorePlain(TInterpreter& in, const TPlainStore& target, TAtom* value) {
  TAtom* variable = target.Variable;
  if (target.Stores && OnlyReplacesValue(*variable, value))
    variable->Left = value;
  else
    StorePlainValueOtherwise(in, target, value);
  if (IsAtom(variable->Parent) && (variable->Parent->Flags & afFrame) != 0) in.NoteEscape();
}

// --- reactive assignment (TransReactive.cpp) ---------------------------------------
// The handler-list kinds of an assignment, also the input numbers of their
// error messages.
enum MakeHandlerKind : int {
  mkLeftList = 1,    // the list written before the name
  mkBeforeMake = 2,  // the frame owner's onbeforemake handlers
  mkAfterMake = 3,   // the frame owner's onaftermake handlers
  mkRightList = 4,   // the list written after the value
};
// Calls every element of the list with the variable's name as a quoted
// word, in one generated chain; nothing for the empty list. A non-list
// raises at [start, end): "bad-arg-make-attrib-" / "bad-arg-ob-attrib-" +
// word for the written lists, "invalid-command-make-" /
// "invalid-command-ob-" + word for the handlers (word is "left", "right"
// or the English handler keyword).
void RunMakeHandlers(TInterpreter& in, TAtom* list, int32_t start, int32_t end, bool isOb, MakeHandlerKind kind,
                     std::u16string_view word, const std::u16string& variableName);
// Runs the onchange handler of the variable, then of each ancestor while
// each has one, each in a frame of the handler owner's parent with the
// variable marked active; nothing while the parent is silent.
void FireOnChange(TInterpreter& in, TAtom& variable);
// Builds the variable's change plan once: the full names of the formula
// records to re-run after it changes, breadth-first through the records of
// the variables that depend on it, each dependent's last re-evaluation
// reached through other variables only; kept as its onplan child.
void BuildChangePlan(TInterpreter& in, TAtom& variable);
// With no plan running and the variable planned: runs each record of its
// plan with the redraw held back, then asks for one redraw.
void RunChangePlan(TInterpreter& in, TAtom& variable);
// Runs the value of the record the word names, the record marked active.
void RunDependentOnChange(TInterpreter& in, const TAtom* name);
// Adds the name after every ":" word of the list (nested lists and
// expressions too), cut before its first period, each once.
void CollectReferencedNames(TStructure& s, const TAtom* list, std::vector<std::u16string>& names);
// Stores the instruction's tokens as the child "definition" of the variable
// named (as written) name.
void RecordDefinition(TInterpreter& in, const std::u16string& name, TAtom* firstCell, TAtom* lastCell);
// The formula records of an OB or a dependent variable: for every name R
// the instruction reads, R.onchange.V holds the instruction (as MAKE) and
// V.ondepend.R marks the dependency.
void RecordFormula(TInterpreter& in, const TAtom& variable, TAtom* firstCell, TAtom* lastCell);
// Runs the history handlers of every name in PendingHistory that still
// names a variable; the statement's result, stop and last value stay.
void FlushPendingHistory(TInterpreter& in);
// onhistorycreate (when no history record of the name exists yet) and
// onhistoryupdate, each called with the full name.
void RunHistoryHandlers(TInterpreter& in, const std::u16string& fullName);

// --- error report (TransErrors.cpp) ----------------------------------------------

// Reports a run error once: output line with file and line, error range in
// the source window, the message dialog, whose Help writes the report's
// error history; reports while the history is written print "suspended:".
void ShowRunError(TInterpreter& in, const std::u16string& message);
// Empties the error trace (unpinning) and the error history state.
void ClearErrorHistory(TInterpreter& in);
// Drops the trace entries from index length on, unpinning their Statement
// and FrameOwner (trace entries hold a pin on both).
void TruncateErrorTrace(TInterpreter& in, size_t length);
// Sets a trace entry's FrameOwner, moving the pin from the old owner.
void SetTraceFrameOwner(TPosition& entry, TAtom* owner);

// The source around an error range, cut from the position's CR LF source
// text. Lines are 0-based; without a range every part is empty and both
// lines are -1.
struct TErrorContext {
  std::u16string Before;  // the first line of the excerpt up to the range
  std::u16string Error;   // the range; longer than 7 lines: 3 lines, ":", 3 lines
  std::u16string After;   // the rest of the last line, without its line end
  int32_t FirstLine = -1;
  int32_t LastLine = -1;
};
// With full the excerpt is the whole text (lines 0 to the last), never cut.
// Tabs become three blanks.
TErrorContext ExtractErrorContext(const TPosition& position, bool full);
// Writes "the-inspector/error-history-records.xml" (one record per trace
// entry with a position) and the error's parameter files into the help
// folder, consuming the error trace; returns the help topic. full: the
// parameter files hold the whole source. A file that cannot be written is
// reported as a ">>>" line in the output window, not raised.
std::u16string WriteErrorHistory(TInterpreter& in, bool full);
