// User-procedure calls (ocCall): finding the procedure, binding the inputs
// as children of a fresh frame variable, running the body in a new frame,
// the onerror handler that absorbs or translates a body's error, the result,
// object instantiation and the procedure trace of the program log.

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Host.h"
#include "core/LogoLib.h"
#include "core/Trans.h"

namespace {

// Input ranges kept per call for the onerror handler's input redirect.
constexpr int32_t kRememberedRanges = 32;

// No initialisers: the call fills one per input and reads only those.
struct TRange {
  int32_t StartPos;
  int32_t EndPos;
};

const std::u16string kNoText;

// The text of a name operand: a word's text, a number's printed form.
const std::u16string& OperandText(TStructure& s, const TAtom* atom, std::u16string& buffer) {
  if (TAtom::IsWord(atom)) return atom->Text;
  if (TAtom::IsNumber(atom)) {
    buffer = TAtom::ToText(s, atom);
    return buffer;
  }
  return kNoText;
}

// A procedure's value past up to two leading lists (its input and local
// name lists): the first statement cell of its body.
inline TAtom* BodyOf(TAtom* value) {
  TAtom* cell = value;
  for (int skipped = 0; skipped < 2 && IsAtom(cell) && cell->Kind == akList && TAtom::IsList(cell->Left); ++skipped)
    cell = cell->Right;
  return cell;
}

bool IsSelfOrAncestor(const TAtom* candidate, const TAtom* of) {
  for (const TAtom* p = of; IsAtom(p); p = p->Parent)
    if (p == candidate) return true;
  return false;
}

void AppendDecimal(std::u16string& out, int64_t value) { out += FormatNumber(static_cast<long double>(value)); }

bool LogTakesProcedures(const TStructure& s) { return s.Log.LogFileOpen && (s.Log.LogMask & lcProcedure) != 0; }

// The "$$$error-05/06$$$.txt" pair of a dotted name that was not found:
// the known part and the missing part. When the look-up reached a scope,
// only the last component is missing; else everything after the first.
void WriteDottedNameFiles(TStructure& s, std::u16string_view name, bool scopeFound) {
  const size_t dot = scopeFound ? name.rfind(u'.') : name.find(u'.');
  WriteErrorFile(s, 5, name.substr(0, dot));
  WriteErrorFile(s, 6, name.substr(dot + 1));
}

// The key of an unknown name: base, base + "-partial" or base + "-all".
std::u16string UnknownNameKey(std::u16string_view base, std::u16string_view name, bool scopeFound) {
  std::u16string key(base);
  if (name.find(u'.') != std::u16string_view::npos) key += scopeFound ? u"-partial" : u"-all";
  return key;
}

void RaiseKeyed(TStructure& s, const std::u16string& key, std::u16string message) {
  s.CurrentPosition.Topic = key;
  s.RaiseError(std::move(message), key);
}

// --- frames of finished calls ------------------------------------------------------
// A call's frame variable and its input cells are reached only through the
// frame stack while the call runs. When nothing during the call could have
// handed them on (the interpreter's escape count stayed put), the result is
// not the frame or one of its cells, and the frame kept its shape, they
// serve a later call of the same procedure instead of new atoms.

// The frames this file makes share one node for their name, so that the
// test reads no characters for them.
// Made before any run (no guard to test on each call's three reads).
struct TAnonymousFrameText {
  TAtomText Text;
  TAnonymousFrameText() { Text.AssignShared(u"[~]"); }
};
const TAnonymousFrameText anonymousFrameText;
inline const TAtomText& AnonymousFrameText() { return anonymousFrameText.Text; }

[[gnu::noinline]] bool IsNamedAsAnonymousFrame(const TAtom& frame) {
  const std::u16string& name = frame.Text;
  return name.size() == 3 && name[0] == u'[' && name[1] == u'~' && name[2] == u']';
}

// Asked for a new frame's link: the node compare is inlined, the text's
// compare (a frame named so by other means) is not.
[[gnu::always_inline]] inline bool IsAnonymousFrame(const TAtom& frame) {
  return frame.Text.SameNode(AnonymousFrameText()) || IsNamedAsAnonymousFrame(frame);
}

// At most this many frames are kept per procedure (recursion depth): a
// recursion a thousand calls deep unwinds into frames that the next one
// as deep takes again. The collector lets them all go.
constexpr size_t kSpareFramesPerProcedure = 1024;

// The frame kept its shape: anonymous by the shared name node, exactly its
// input cells, none pinned, none with members, extensions or flags; the
// frame itself held by exactly `pins` pins. A kept frame is so anonymous
// for as long as it is kept: its links need not ask again.
[[gnu::always_inline]] inline bool IsBareFrame(const TAtom* frame, int32_t inputCount, int32_t pins) {
  if (!IsAtom(frame) || frame->RefCount != pins || frame->Parent != nullptr || frame->Ext || frame->Flags != 0 ||
      !frame->Text.SameNode(AnonymousFrameText()))
    return false;
  int32_t cells = 0;
  for (const TAtom* c = frame->FirstChild; c != nullptr; c = c->NextSibling, ++cells)
    if (c->Kind != akVariable || c->RefCount != 0 || c->FirstChild != nullptr || c->Ext || c->Flags != 0) return false;
  return cells == inputCount;
}

// Keeps the frame for a later call of the body, pinned by the table. A
// pinned frame comes with the one pin its caller held, which the table
// takes over where it keeps the frame (true); else the caller still holds it.
[[gnu::always_inline]] inline bool KeepForNextCall(TInterpreter::TSpareCallFrames& spare, const TAtom* body, TAtom* frame,
                                                   int32_t inputCount, bool pinned = false) {
  if (!IsBareFrame(frame, inputCount, pinned ? 1 : 0)) return false;
  if (spare.Body != body) {
    for (TAtom* old : spare.Frames) TAtom::DecRef(old);
    spare.Frames.clear();
    spare.Body = body;
    spare.ShortBodyCode = UINT32_MAX;
  }
  if (spare.Frames.size() >= kSpareFramesPerProcedure) return false;
  spare.Frames.push_back(frame);
  if (!pinned) TAtom::IncRef(frame);
  return true;
}

// A body whose first statement outputs the answer of one routine that keeps
// no argument cell and runs no program code ("output dll.zavta.LOGOSUM"):
// the base library's wrappers, whose calls skip the statement loop.
bool IsWrapperStatement(TInterpreter& in, const TAtom* body, TWrapperStatement& wrapper) {
  if (!IsAtom(body)) return false;
  const TInterpreter::TWrapperBody& decoded = in.WrapperBodyOf(*body);
  const size_t routine = static_cast<size_t>(decoded.Statement.Routine);
  if (!decoded.IsWrapper || routine >= in.RoutineKeepsNoCells.size() || !in.RoutineKeepsNoCells[routine]) return false;
  wrapper = decoded.Statement;
  return true;
}

// --- calls without a frame ----------------------------------------------------------
// A call of a direct wrapper whose routine reads only its inputs runs the
// routine on the call's operand values: no frame variable, no input cells,
// no statement loop. It counts the body's statement, as the loop would.
// It declines (and the call goes the full way, before anything observable
// happened) where the full way could differ: the procedure passes its
// result on, procedure entries are logged, the call gives an input by name
// or an object, the body's statement has no line (its errors would not be
// raised), something is due before the next statement, or the current
// position holds an error's topic. A routine that raises leaves no trace:
// the call then runs again the full way, which raises as the full way does
// (such routines change nothing before they raise).

// The routine that a call of the procedure may run without a frame, with
// the line its body's statement raises at; null when there is none.
TPrimitive FramelessRoutineOf(TInterpreter& in, const TAtom& procedure, int32_t& line) {
  const TAtom* value = procedure.Left;
  if (!IsAtom(value) || value->Kind != akList || (procedure.Flags & afPassResult) != 0) return nullptr;
  const TAtom* body = BodyOf(const_cast<TAtom*>(value));
  if (!IsAtom(body)) return nullptr;
  const TInterpreter::TWrapperBody& decoded = in.WrapperBodyOf(*body);
  const size_t routine = static_cast<size_t>(decoded.Statement.Routine);
  if (decoded.Line == -1) return nullptr;
  line = decoded.Line;
  if (!decoded.IsWrapper) return decoded.Composed != 0 ? ComposedListRoutine(in, procedure, decoded.Composed) : nullptr;
  return routine < in.FramelessRoutines.size() ? in.FramelessRoutines[routine] : nullptr;
}

// The call's inputs, in place on the caller's stack (input 1, the last
// one written, first); null when one is given by name or is an object.
const TStackEntry* PlainOperands(const TStack& stack, int32_t inputCount, const int32_t* pairs, size_t pairWords) {
  const std::vector<TStackEntry>& items = stack.Items;
  const size_t count = static_cast<size_t>(inputCount);
  if (items.size() < count || pairWords < 2 * count) return nullptr;
  const TStackEntry* inputs = items.data() + (items.size() - count);
  for (size_t i = 0; i < count; ++i)
    if (pairs[2 * i] != 0 || TAtom::IsVariable(inputs[i].Value)) return nullptr;
  return inputs;
}

bool CallWithoutFrame(TInterpreter& in, const TAtom& procedure, TStack& callerStack, int32_t inputCount,
                      const int32_t* pairs, size_t pairWords) {
  TStructure& s = in.S;
  int32_t line = -1;
  const TPrimitive routine = FramelessRoutineOf(in, procedure, line);
  if (routine == nullptr || LogTakesProcedures(s) || !s.CurrentPosition.Topic.empty() ||
      !NothingDueBeforeNextStatement(in))
    return false;
  const TStackEntry* inputs = PlainOperands(callerStack, inputCount, pairs, pairWords);
  if (inputs == nullptr && inputCount > 0) return false;

  const int32_t start = s.CurrentPosition.StartPos;
  const int32_t end = s.CurrentPosition.EndPos;
  TAtom* result = nullptr;
  if (!TryRoutineOnOperands(in, routine, inputs, inputCount, line, result)) return false;
  ++in.StatementCounter;  // the body's statement
  callerStack.Drop(inputCount);
  callerStack.Push(result, start, end);
  in.LastValue = result;
  in.ResultAtom = SystemValue;
  in.StopFlag = false;
  return true;
}

// The cells of a kept frame in written order (the newest child is the last
// input), when there are exactly count of them.
bool CellsInWrittenOrder(TAtom* frame, int32_t count, std::array<TAtom*, 8>& cells) {
  int32_t n = 0;
  for (TAtom* c = frame->FirstChild; c != nullptr; c = c->NextSibling) {
    if (n == count) return false;
    cells[static_cast<size_t>(count - 1 - n)] = c;
    ++n;
  }
  return n == count;
}

// A new variable under parent, named as the word name (its text node shared
// when the word's is: a kept frame's cells are told from the call's
// parameter words by node).
TAtom* NewChildNamedAs(TStructure& s, TAtom& parent, const TAtomText& name, TAtom* value) {
  TAtom* child = NewVariable(s, std::u16string(), value);
  child->Text.ShareFrom(name);
  TAtom::SetParent(s, *child, &parent);
  return child;
}

// A kept frame goes under its procedure in front and comes off from there
// as a running call's frame does, without the general link's checks where
// none applies: a frame is anonymous (no children stamp moves, it names no
// handler), out of the tree while kept, and a procedure without a child
// index needs no index update.
[[gnu::always_inline]] inline void LinkFrame(TStructure& s, TAtom& frame, TAtom& procedure) {
  if (frame.Parent != nullptr || !IsAnonymousFrame(frame) || (procedure.Ext && procedure.Ext->ChildIndex != nullptr)) {
    TAtom::SetParent(s, frame, &procedure);
    return;
  }
  frame.Parent = &procedure;
  frame.NextSibling = procedure.FirstChild;
  procedure.FirstChild = &frame;
}

[[gnu::always_inline]] inline void UnlinkFrame(TAtom& frame) {
  TAtom* procedure = frame.Parent;
  if (procedure == nullptr) return;
  if (procedure->FirstChild != &frame || !IsAnonymousFrame(frame) ||
      (procedure->Ext && procedure->Ext->ChildIndex != nullptr)) {
    TAtom::Unlink(&frame);
    return;
  }
  procedure->FirstChild = frame.NextSibling;
  frame.Parent = nullptr;
  frame.NextSibling = nullptr;
}

// LinkFrame for a frame taken from the kept ones, which is anonymous
// (IsBareFrame). Its unlink asks again: the running call had it in the tree.
[[gnu::always_inline]] inline void LinkKeptFrame(TStructure& s, TAtom& frame, TAtom& procedure) {
  if (frame.Parent != nullptr || (procedure.Ext && procedure.Ext->ChildIndex != nullptr)) {
    TAtom::SetParent(s, frame, &procedure);
    return;
  }
  frame.Parent = &procedure;
  frame.NextSibling = procedure.FirstChild;
  procedure.FirstChild = &frame;
}

// exit: the frame it entered, CallDepth, the procedure's afActive bit, the
// frame variable (unlinked: a finished or failed call never leaves it under
// its procedure), the current position's Procedure and CodePointer.
// afActive goes back to what it was rather than off, so a recursive call
// that returns leaves its still-running caller marked.
class CallScope {
public:
  explicit CallScope(TInterpreter& in)
      : in_(in), savedProcedure_(in.S.CurrentPosition.Procedure), savedCodePointer_(in.CodePointer) {}
  ~CallScope() {
    TStructure& s = in_.S;
    if (entered_ != nullptr && s.Frame() == entered_) s.LeaveFrame();
    if (depthRaised_) --in_.CallDepth;
    if (activeSet_ && !wasActive_) TAtom::SetFlag(procedure_, afActive, false);
    if (IsAtom(frame_)) {
      TAtom::SetFlag(frame_, afFrame, false);
      UnlinkFrame(*frame_);
    }
    TAtom::DecRef(frame_);
    if (reusableFor_ != nullptr && spareGeneration_ == in_.SpareFramesGeneration)
      KeepForNextCall(*spare_, reusableFor_, frame_, inputCount_);
    TAtom::DecRef(procedure_);
    s.CurrentPosition.Procedure = savedProcedure_;
    in_.CodePointer = savedCodePointer_;
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

  void SetProcedure(TAtom* procedure) {
    TAtom::DecRef(procedure_);
    procedure_ = procedure;
    TAtom::IncRef(procedure_);
  }
  void SetFrame(TAtom* frame) {
    frame_ = frame;
    TAtom::IncRef(frame_);
  }
  void Activate() {
    wasActive_ = TAtom::HasFlag(procedure_, afActive);
    TAtom::SetFlag(procedure_, afActive, true);
    activeSet_ = true;
    TAtom::SetFlag(frame_, afFrame, true);
    in_.S.EnterFrame(frame_);
    entered_ = in_.S.Frame();
    ++in_.CallDepth;
    depthRaised_ = true;
  }
  // The caller's Procedure, restored when the call ends.
  TAtom* SavedProcedure() const { return savedProcedure_; }
  // The call with this body and inputCount inputs returned and nothing can
  // see its frame: it may serve a later call once it is unlinked, unless
  // the kept frames were let go (generation) since spare was found.
  void OfferFrame(TInterpreter::TSpareCallFrames& spare, uint64_t generation, const TAtom* body, int32_t inputCount) {
    spare_ = &spare;
    spareGeneration_ = generation;
    reusableFor_ = body;
    inputCount_ = inputCount;
  }

private:
  TInterpreter& in_;
  TAtom* savedProcedure_;
  TAtom* savedCodePointer_;
  TAtom* procedure_ = nullptr;
  TAtom* frame_ = nullptr;
  TContext* entered_ = nullptr;
  bool wasActive_ = false;
  bool activeSet_ = false;
  bool depthRaised_ = false;
  TInterpreter::TSpareCallFrames* spare_ = nullptr;
  uint64_t spareGeneration_ = 0;
  const TAtom* reusableFor_ = nullptr;
  int32_t inputCount_ = 0;
};

// Adopts a by-value variable input as the frame's child named name: an
// anonymous or detached variable moves in; one that belongs to the tree (or
// would carry the frame into itself) is copied, so the caller's tree never
// loses a node and never gains a cycle.
void BindVariableInput(TStructure& s, TAtom& frame, TAtom* callerOwner, TAtom& value, const std::u16string& name) {
  const bool movable = (value.Parent == nullptr || value.Text == u"[~]") && (value.Flags & afFrame) == 0 &&
                       !IsSelfOrAncestor(&value, &frame) && !IsSelfOrAncestor(&value, callerOwner);
  TAtom* input = &value;
  if (!movable) {
    input = NewVariable(s, name, nullptr);
    TAtom::CopyInto(s, value, *input);
  } else {
    TAtom::Unlink(&value);
    TAtom::SetName(value, name);
  }
  TAtom::SetParent(s, *input, &frame);
}

// Raises the unknown-name error of a called name or of a by-name input;
// returns when the raise is suppressed.
void RaiseUnknownName(TStructure& s, std::u16string_view base, const std::u16string& name, bool scopeFound) {
  WriteErrorFile(s, 4, name);
  if (name.find(u'.') != std::u16string::npos) WriteDottedNameFiles(s, name, scopeFound);
  RaiseKeyed(s, UnknownNameKey(base, name, scopeFound), s.MessageText(u"UNKNOWNVAR", {name}));
}

// --- the steps of a call -------------------------------------------------------------

// The position's frame owner made null, stored only when it is not: every
// statement clears it, and the body's statement loop reads the field
// together with its neighbour when it saves the position, which a fresh
// store of the one field would hold up.
inline void ClearFrameOwner(TPosition& position) {
  if (position.FrameOwner != nullptr) position.FrameOwner = nullptr;
}

// What the steps of one call share: its operands (read in place, so an
// error while binding leaves the cursor where the caller expects), the
// caller's frame and the call's name.
struct TCall {
  TCall(TInterpreter& in, TContext& callerFrame)
      : In(in), S(in.S), CallerStack(callerFrame.Stack), CallerOwner(callerFrame.Owner) {}
  TInterpreter& In;
  TStructure& S;
  TStack& CallerStack;
  TAtom* CallerOwner;
  TAtom* NameAtom = nullptr;
  int32_t InputCount = 0;
  const int32_t* Pairs = nullptr;  // a (by-name flag, parameter word) pair per input
  size_t PairWords = 0;
  std::u16string NumberName;  // the name's text when the name is a number
  const std::u16string* Name = nullptr;  // see NameText

  // The call's name as its errors show it (made when first asked for).
  const std::u16string& NameText() {
    if (Name == nullptr) Name = &OperandText(S, NameAtom, NumberName);
    return *Name;
  }

  int32_t PairWord(int32_t input, int32_t which) const {
    const size_t at = 2 * static_cast<size_t>(input) + static_cast<size_t>(which);
    return at < PairWords ? Pairs[at] : 0;
  }
  // A call that ends early (suppressed raise) still consumes its inputs and
  // yields one value, keeping the statement's stack balanced.
  void DropInputsAndYieldNothing(int32_t remaining) {
    CallerStack.Drop(remaining);
    CallerStack.Push(SystemValue, S.CurrentPosition.StartPos, S.CurrentPosition.EndPos);
  }
};

// Operands: name, arity, then the pairs. The cursor moves past them all at
// once.
void ReadCallOperands(TCall& call, TCodeCursor& cursor) {
  call.NameAtom = call.S.AtomById(static_cast<uint32_t>(cursor.Next()));
  const int32_t arity = cursor.Next();
  call.InputCount = ArityLeft(arity) + ArityRight(arity);
  const std::vector<int32_t>* code = cursor.Code;
  if (code == nullptr) return;
  const size_t pairStart = cursor.Index;
  cursor.Index = std::min(code->size(), pairStart + 2 * static_cast<size_t>(call.InputCount));
  call.Pairs = code->data() + pairStart;
  call.PairWords = cursor.Index - pairStart;
}

// The procedure the name calls (its lambda child when it has one); null
// when there is none, after the error (when its raise was suppressed, the
// call has yielded nothing).
TAtom* FindCalledProcedure(TCall& call) {
  TStructure& s = call.S;
  TAtom* procedure = s.FindName(call.NameText(), call.NameAtom);
  if (procedure == nullptr) {
    WriteErrorFile(s, 7, u"TRANS:USRCL:1650");
    RaiseUnknownName(s, u"unknown-var-active-proc", call.NameText(), IsAtom(s.LastScope));
    call.DropInputsAndYieldNothing(call.InputCount);
    return nullptr;
  }
  return procedure->FirstChild != nullptr ? call.In.CalleeOf(*procedure) : procedure;
}

// A variable that holds no procedure is a class: the call yields a fresh
// copy. The copy is made detached and linked under the root only
// afterwards, so even the root can be instantiated. False for a procedure.
bool InstantiateClass(TCall& call, TAtom& procedure) {
  TAtom* value = procedure.Left;
  if (TAtom::IsList(value) && (procedure.FirstChild == nullptr || value != nullptr)) return false;
  TStructure& s = call.S;
  call.CallerStack.Drop(call.InputCount);
  TAtom* copy = NewVariable(s, u"[~]", nullptr);
  PinnedAtom pin(copy);
  TAtom::CopyInto(s, procedure, *copy);
  if (IsAtom(s.Root)) TAtom::SetParent(s, *copy, s.Root);
  call.CallerStack.Push(copy, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
  call.In.ResultAtom = SystemValue;
  call.In.StopFlag = false;
  return true;
}

using TKeptCells = std::array<TAtom*, 8>;

// A frame a finished call of this body left, when it fits these inputs
// (all by value, none an object, the same names); its cells in written
// order in cells. Null when none fits.
[[gnu::always_inline]] inline TAtom* TakeKeptFrame(const TCall& call, TInterpreter::TSpareCallFrames& spare,
                                                    const TAtom* body, const TStackEntry* top, size_t available,
                                                    TKeptCells& cells, bool keepPin = false) {
  if (spare.Frames.empty() || spare.Body != body) return nullptr;
  TAtom* frame = spare.Frames.back();
  const size_t count = static_cast<size_t>(call.InputCount);
  // Out of the tree and pinned only by the table since it was found bare,
  // the frame cannot have changed. A missing pair gives no parameter word.
  if (count > cells.size() || available < count || call.PairWords < 2 * count ||
      !CellsInWrittenOrder(frame, call.InputCount, cells))
    return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (call.Pairs[2 * i] != 0 || TAtom::IsVariable(top[-1 - static_cast<ptrdiff_t>(i)].Value)) return nullptr;
    const TAtom* paramAtom = call.S.AtomById(static_cast<uint32_t>(call.Pairs[2 * i + 1]));
    if (!TAtom::IsWord(paramAtom) ||
        (!cells[i]->Text.SameNode(paramAtom->Text) && !SameText(cells[i]->Text, paramAtom->Text)))
      return nullptr;
  }
  spare.Frames.pop_back();
  if (!keepPin) TAtom::DecRef(frame);  // the pin it was kept with; the call pins it anew (or takes this one)
  return frame;
}

// TakeKeptFrame for inputs on the caller's stack.
[[gnu::always_inline]] inline TAtom* TakeKeptFrame(const TCall& call, TInterpreter::TSpareCallFrames& spare,
                                                    const TAtom* body, TKeptCells& cells, bool keepPin = false) {
  const std::vector<TStackEntry>& items = call.CallerStack.Items;
  return TakeKeptFrame(call, spare, body, items.data() + items.size(), items.size(), cells, keepPin);
}

// The ranges of a call's first inputs (for the onerror handler's input
// redirect), filled per input before any read: as many as a kept frame has
// cells in the call's own frame, which a deep recursion holds once per level.
using TKeptRanges = std::array<TRange, std::tuple_size_v<TKeptCells>>;

// The frame variable's side of the call: its inputs' ranges, up to
// kRememberedRanges of them, and the log's call text.
struct TBoundInputs {
  explicit TBoundInputs(int32_t inputCount) {
    if (inputCount > static_cast<int32_t>(Few.size()))
      More.resize(static_cast<size_t>(std::min(inputCount, kRememberedRanges)));
  }
  TRange* Ranges() { return More.empty() ? Few.data() : More.data(); }
  TKeptRanges Few;
  std::vector<TRange> More;
  std::u16string CallText;  // only while procedure entries are logged
};

// Binds input i given by name: a child of the frame holding the target's
// full name. False when an error's raise was suppressed (the call has then
// yielded nothing).
bool BindInputByName(TCall& call, TAtom& frame, int32_t i, const std::u16string& param, TAtom* input,
                     const TRange& range, bool logging, std::u16string& callText) {
  TStructure& s = call.S;
  if (!TAtom::IsWordOrNumber(input)) {
    WriteErrorFile(s, 7, param);
    WriteErrorFile(s, 8, call.NameText());
    std::u16string dump;
    TAtom::DumpTree(s, input, u"", dump);
    RaiseInputError(call.In, u"bad-name-input", s.MessageText(u"BADNAME", {dump}), input, range.StartPos,
                    range.EndPos);
    call.DropInputsAndYieldNothing(call.InputCount - i - 1);
    return false;
  }
  std::u16string targetBuffer;
  const std::u16string& targetName = OperandText(s, input, targetBuffer);
  TAtom* target = s.FindName(targetName);
  if (target == nullptr) {
    WriteErrorFile(s, 7, param);
    WriteErrorFile(s, 8, call.NameText());
    s.CurrentPosition.StartPos = range.StartPos;
    s.CurrentPosition.EndPos = range.EndPos;
    RaiseUnknownName(s, u"unknown-var-input", targetName, IsAtom(s.LastScope));
    call.DropInputsAndYieldNothing(call.InputCount - i - 1);
    return false;
  }
  std::u16string fullName = TAtom::FullName(target);
  if (logging) {
    callText += u" \"";
    callText += param;
    callText += u'=';
    callText += fullName;
  }
  s.CreateVariable(&frame, param, true, NewWord(s, std::move(fullName)));
  return true;
}

// Pops the inputs in written order and binds them as the frame's children
// (into the kept cells of a reused frame). False when an error's raise was
// suppressed (the call has then yielded nothing).
bool BindInputs(TCall& call, TAtom& frame, const TKeptCells* keptCells, bool logging, TBoundInputs& bound) {
  TStructure& s = call.S;
  for (int32_t i = 0; i < call.InputCount; ++i) {
    const bool byName = call.PairWord(i, 0) != 0;
    const TAtom* paramAtom = s.AtomById(static_cast<uint32_t>(call.PairWord(i, 1)));
    const std::u16string& param = TAtom::IsWord(paramAtom) ? paramAtom->Text : kNoText;
    TAtom* input = nullptr;
    TRange range{-1, -1};
    call.CallerStack.Pop(input, range.StartPos, range.EndPos);
    call.In.LastValue = input;
    if (i < kRememberedRanges) bound.Ranges()[i] = range;

    if (byName) {
      if (!BindInputByName(call, frame, i, param, input, range, logging, bound.CallText)) return false;
      continue;
    }
    if (logging) {
      bound.CallText += u" :";
      bound.CallText += param;
      bound.CallText += u'=';
      bound.CallText += TAtom::ToText(s, input);
    }
    if (keptCells != nullptr) {
      (*keptCells)[static_cast<size_t>(i)]->Left = input;  // a plain value: the old one is not finalised
    } else if (TAtom::IsVariable(input)) {
      call.In.NoteEscape();  // a moved-in variable may be known where it came from
      BindVariableInput(s, frame, call.CallerOwner, *input, param);
    } else if (TAtom::IsWord(paramAtom)) {
      NewChildNamedAs(s, frame, paramAtom->Text, input);
    } else {
      s.CreateVariable(&frame, param, true, input);
    }
  }
  return true;
}

// Binds the inputs (input i at top[-1 - i]) into the cells of a kept frame
// that TakeKeptFrame found fitting (all by value, the same names):
// BindInputs' ranges and last value without its per-input checks. Only
// while nothing is logged.
[[gnu::always_inline]] inline void BindKeptCells(TCall& call, const TKeptCells& cells, const TStackEntry* top,
                                                 TRange* ranges) {
  for (int32_t i = 0; i < call.InputCount; ++i) {
    const TStackEntry& input = top[-1 - i];
    call.In.LastValue = input.Value;
    ranges[i] = {input.StartPos, input.EndPos};  // TakeKeptFrame took no more inputs than cells, nor than ranges
    cells[static_cast<size_t>(i)]->Left = input.Value;  // a plain value: the old one is not finalised
  }
}

// BindKeptCells for inputs on the caller's stack, popped.
[[gnu::always_inline]] inline void BindKeptCells(TCall& call, const TKeptCells& cells, TRange* ranges) {
  const std::vector<TStackEntry>& items = call.CallerStack.Items;
  BindKeptCells(call, cells, items.data() + items.size(), ranges);
  call.CallerStack.Drop(call.InputCount);
}

void LogProcedureLine(TInterpreter& in, std::u16string_view head, std::u16string_view text) {
  std::u16string line(head);
  AppendDecimal(line, in.CallDepth - 1);
  line += u") ";
  line += text;
  WriteLog(in.S, lcProcedure, line);
}

// The procedure's onerror handler after its body raised: runs in the
// call's frame; its own trace entries are taken off, its first topic
// becomes the error's topic, and a negative line -k among them (the
// handler blaming input k) moves the error range onto that input. Its own
// error goes on upwards; otherwise the body's error is absorbed.
[[gnu::noinline]] void RunErrorHandler(TCall& call, TAtom& handler, TAtom& frame, const TRange* ranges,
                                       size_t traceAtStart) {
  TInterpreter& in = call.In;
  TStructure& s = call.S;
  const TPosition callPosition = s.CurrentPosition;
  PinnedAtom pinHandler(&handler);
  const size_t noted = s.ErrorTrace.size();
  std::exception_ptr handlerError;
  {
    EnteredFrame handlerFrame(s, &frame);
    in.CodePointer = BodyOf(handler.Left);
    try {
      RunCode(in);
    } catch (const LanguageError&) {
      handlerError = std::current_exception();
    }
  }
  std::u16string topic;
  int32_t line = 0;
  bool negativeSeen = false;
  for (size_t k = s.ErrorTrace.size(); k > noted; --k) {
    const TPosition& entry = s.ErrorTrace[k - 1];
    if (topic.empty() && !entry.Topic.empty()) topic = entry.Topic;
    if (!negativeSeen) {
      line = entry.Line;
      negativeSeen = line < 0;
    }
  }
  if (s.ErrorTrace.size() > noted) TruncateErrorTrace(in, noted);
  if (line >= -kRememberedRanges && line <= -1 && -line <= call.InputCount && !s.ErrorTrace.empty()) {
    const TRange& range = ranges[static_cast<size_t>(-line - 1)];
    s.ErrorTrace.back().StartPos = range.StartPos;
    s.ErrorTrace.back().EndPos = range.EndPos;
  }
  if (s.ErrorTrace.empty()) s.AddTrace(callPosition);
  if (!s.ErrorTrace.empty()) s.ErrorTrace.back().Topic = topic;
  if (handlerError) std::rethrow_exception(handlerError);
  // Absorbed: the body's entries would only mislead a later report.
  if (s.ErrorTrace.size() > traceAtStart) TruncateErrorTrace(in, traceAtStart);
  s.CurrentPosition = callPosition;
}

// Runs the body in the entered frame (a direct wrapper's statement, or with
// shortBody a statement that only reads and outputs, without the statement
// loop where nothing can differ). An error goes to the
// onerror handler or on upwards. True when a handler ran. Without
// mayBeWrapper the body is known to be no direct wrapper's.
[[gnu::always_inline]] inline bool RunBody(TCall& call, TAtom& procedure, TAtom* body, TAtom& frame,
                                           const TRange* ranges, size_t traceAtStart, bool shortBody = false,
                                           bool mayBeWrapper = true) {
  TInterpreter& in = call.In;
  TStructure& s = call.S;
  TAtom* handler = nullptr;
  TWrapperStatement wrapper;
  try {
    const bool shortWay =
        s.FastPaths && (shortBody ? RunBodyShortWay(in, body)
                                  : mayBeWrapper && IsWrapperStatement(in, body, wrapper) &&
                                        RunWrapperStatement(in, body, wrapper));
    if (!shortWay) RunCode(in);
  } catch (const LanguageError& error) {
    handler = TAtom::FindChildByName(s, procedure, s.Keyword(kwOnerror));
    if (handler == nullptr) {
      s.RaiseError(error.Message());
      throw;  // raised without a line: the error still leaves the call
    }
  }
  if (handler == nullptr) return false;
  RunErrorHandler(call, *handler, frame, ranges, traceAtStart);
  return true;
}

// The exit of a call in a kept frame, CallScope's for that case on every
// path: the frame left, CallDepth, afActive put back, the frame off its
// procedure and kept again when the call offered it, the pins, the
// position's Procedure and the code pointer. The frame comes pinned by the
// pin the table of kept frames held on it, which goes back to the table
// with the frame when it is kept again.
class KeptFrameScope {
public:
  KeptFrameScope(TInterpreter& in, TAtom& procedure, TAtom& pinnedFrame)
      : in_(in),
        procedure_(procedure),
        frame_(pinnedFrame),
        savedProcedure_(in.S.CurrentPosition.Procedure),
        savedCodePointer_(in.CodePointer) {
    TAtom::IncRef(&procedure_);
  }
  [[gnu::always_inline]] ~KeptFrameScope() {
    TStructure& s = in_.S;
    if (entered_ != nullptr && s.Frame() == entered_) s.LeaveFrame();
    if (entered_ != nullptr) --in_.CallDepth;
    if (activeSet_ && !wasActive_) TAtom::SetFlag(&procedure_, afActive, false);
    TAtom::SetFlag(&frame_, afFrame, false);
    UnlinkFrame(frame_);
    if (spare_ == nullptr || spareGeneration_ != in_.SpareFramesGeneration ||
        !KeepForNextCall(*spare_, body_, &frame_, inputCount_, true))
      TAtom::DecRef(&frame_);
    TAtom::DecRef(&procedure_);
    s.CurrentPosition.Procedure = savedProcedure_;
    in_.CodePointer = savedCodePointer_;
  }
  KeptFrameScope(const KeptFrameScope&) = delete;
  KeptFrameScope& operator=(const KeptFrameScope&) = delete;

  void Enter() {
    wasActive_ = TAtom::HasFlag(&procedure_, afActive);
    TAtom::SetFlag(&procedure_, afActive, true);
    activeSet_ = true;
    TAtom::SetFlag(&frame_, afFrame, true);
    in_.S.EnterCallFrame(frame_);  // kept frames are anonymous
    entered_ = in_.S.Frame();
    ++in_.CallDepth;
  }
  TAtom* SavedProcedure() const { return savedProcedure_; }
  // As CallScope::OfferFrame.
  void OfferFrame(TInterpreter::TSpareCallFrames& spare, uint64_t generation, const TAtom* body, int32_t inputCount) {
    spare_ = &spare;
    spareGeneration_ = generation;
    body_ = body;
    inputCount_ = inputCount;
  }

private:
  TInterpreter& in_;
  TAtom& procedure_;
  TAtom& frame_;
  TAtom* savedProcedure_;
  TAtom* savedCodePointer_;
  TContext* entered_ = nullptr;
  bool wasActive_ = false;
  bool activeSet_ = false;
  TInterpreter::TSpareCallFrames* spare_ = nullptr;
  uint64_t spareGeneration_ = 0;
  const TAtom* body_ = nullptr;
  int32_t inputCount_ = 0;
};

// Whether the kept frames' body may run the short way, and whether it
// decodes as a direct wrapper's, found once per code generation of its
// statement (the entries are emptied before any body can be freed).
[[gnu::noinline]] void ReadBodyWaysAgain(TInterpreter& in, TInterpreter::TSpareCallFrames& spare, const TAtom& body,
                                          uint32_t code) {
  spare.ShortBodyCode = code;
  spare.ShortBody = BodyMayRunShortWay(in, body);
  spare.WrapperBody = in.WrapperBodyOf(body).IsWrapper;
}

[[gnu::always_inline]] inline void ReadBodyWays(TInterpreter& in, TInterpreter::TSpareCallFrames& spare,
                                                const TAtom& body) {
  const uint32_t code = TAtom::CodeGeneration(body);
  if (spare.ShortBodyCode != code) [[unlikely]]
    ReadBodyWaysAgain(in, spare, body, code);
}

// The usual call: a procedure (its value a list) whose kept frame fits these
// inputs, while procedure entries are not logged. CallInNewFrame's steps for
// that case in the same order, without its other cases (new frames, inputs
// by name or variables); false, with nothing done, when no frame fits.
// With held inputs (top, available) the inputs are read there and the
// result stored into heldResult; else both are on the caller's stack.
template <bool kHeldInputs>
[[gnu::always_inline]] inline bool CallInKeptFrameOf(TCall& call, TAtom& procedure, const TStackEntry* top,
                                                     size_t available, TStackEntry* heldResult) {
  TInterpreter& in = call.In;
  TStructure& s = call.S;
  TAtom* const body = BodyOf(procedure.Left);
  TInterpreter::TSpareCallFrames& spare = in.SpareFramesOf(&procedure);
  const uint64_t spareGeneration = in.SpareFramesGeneration;
  TKeptCells cells;  // filled by TakeKeptFrame before any read
  TAtom* const frame = kHeldInputs ? TakeKeptFrame(call, spare, body, top, available, cells, true)
                                   : TakeKeptFrame(call, spare, body, cells, true);  // with the table's pin
  if (frame == nullptr) return false;

  KeptFrameScope scope(in, procedure, *frame);
  const size_t traceAtStart = s.ErrorTrace.size();
  LinkKeptFrame(s, *frame, procedure);
  const uint64_t escapesAtStart = in.EscapeCount;
  const bool passResult = (procedure.Flags & afPassResult) != 0;
  TKeptRanges ranges;
  if constexpr (kHeldInputs)
    BindKeptCells(call, cells, top, ranges.data());
  else
    BindKeptCells(call, cells, ranges.data());
  in.CodePointer = body;
  scope.Enter();
  s.CurrentPosition.Procedure = &procedure;
  ClearFrameOwner(s.CurrentPosition);
  if (IsAtom(body)) ReadBodyWays(in, spare, *body);
  const bool shortBody = IsAtom(body) && spare.ShortBody;
  const bool mayBeWrapper = !IsAtom(body) || spare.WrapperBody;
  const bool handled = RunBody(call, procedure, body, *frame, ranges.data(), traceAtStart, shortBody, mayBeWrapper);

  s.CurrentPosition.Procedure = scope.SavedProcedure();
  TAtom* result = in.ResultAtom;
  if (result == SystemValue) result = frame;
  if (!handled && in.EscapeCount == escapesAtStart && result != frame && !(IsAtom(result) && result->Parent == frame))
    scope.OfferFrame(spare, spareGeneration, body, call.InputCount);
  UnlinkFrame(*frame);
  if constexpr (kHeldInputs)
    *heldResult = {result, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos};
  else
    call.CallerStack.Push(result, s.CurrentPosition.StartPos, s.CurrentPosition.EndPos);
  if (!passResult) {
    in.ResultAtom = SystemValue;
    in.StopFlag = false;
  }
  return true;
}

[[gnu::noinline]] bool CallInKeptFrame(TCall& call, TAtom& procedure) {
  return CallInKeptFrameOf<false>(call, procedure, nullptr, 0, nullptr);
}

// Without the log, a procedure takes a kept frame only the short way
// (CallInKeptFrame): where none fits there, none fits in CallInNewFrame.
inline bool TriesKeptFrame(const TStructure& s, const TAtom& procedure) {
  const TAtom* value = procedure.Left;
  return s.FastPaths && !LogTakesProcedures(s) && IsAtom(value) && value->Kind == akList;
}

// The call of the found procedure (or class) in a new frame variable or
// one kept where the short way did not take it: frame, inputs, body,
// result.
[[gnu::noinline]] void CallInNewFrame(TCall& call, TAtom* procedure) {
  TInterpreter& in = call.In;
  TStructure& s = call.S;
  const bool shortWayTried = TriesKeptFrame(s, *procedure);
  CallScope scope(in);
  const size_t traceAtStart = s.ErrorTrace.size();
  scope.SetProcedure(procedure);
  if (InstantiateClass(call, *procedure)) return;

  // The frame variable: one a finished call of this procedure left when it
  // fits these inputs, else a new one.
  TAtom* const body = BodyOf(procedure->Left);
  TKeptCells keptCells;  // filled by TakeKeptFrame before any read
  TInterpreter::TSpareCallFrames& spare = in.SpareFramesOf(procedure);
  const uint64_t spareGeneration = in.SpareFramesGeneration;  // the entry lives while this holds
  TAtom* frame = s.FastPaths && !shortWayTried ? TakeKeptFrame(call, spare, body, keptCells) : nullptr;
  const bool reusedFrame = frame != nullptr;
  if (reusedFrame)
    LinkFrame(s, *frame, *procedure);
  else
    frame = NewChildNamedAs(s, *procedure, AnonymousFrameText(), nullptr);
  scope.SetFrame(frame);
  const uint64_t escapesAtStart = in.EscapeCount;
  const bool passResult = (procedure->Flags & afPassResult) != 0;
  const bool logging = LogTakesProcedures(s);
  TBoundInputs bound(call.InputCount);
  if (logging) bound.CallText = procedure->Text;
  if (reusedFrame && !logging)
    BindKeptCells(call, keptCells, bound.Ranges());
  else if (!BindInputs(call, *frame, reusedFrame ? &keptCells : nullptr, logging, bound))
    return;

  // Enter the body's frame.
  in.CodePointer = body;
  scope.Activate();  // afActive, afFrame, the frame, CallDepth
  if (logging) LogProcedureLine(in, u"Enter (", bound.CallText);
  s.CurrentPosition.Procedure = procedure;
  // The call's position, which RunCode puts back however the body ends;
  // trace entries pin their frame owner, so it holds none.
  ClearFrameOwner(s.CurrentPosition);
  const bool handled = RunBody(call, *procedure, body, *frame, bound.Ranges(), traceAtStart);

  // Back at the call.
  s.CurrentPosition.Procedure = scope.SavedProcedure();
  const int32_t callStart = s.CurrentPosition.StartPos;
  const int32_t callEnd = s.CurrentPosition.EndPos;

  // The result: OUTPUT's value, else the frame variable itself, an
  // object whose children are the inputs and locals (handed on detached).
  TAtom* result = in.ResultAtom;
  if (result == SystemValue) result = frame;
  if (s.FastPaths && !handled && in.EscapeCount == escapesAtStart && result != frame &&
      !(IsAtom(result) && result->Parent == frame))
    scope.OfferFrame(spare, spareGeneration, body, call.InputCount);
  UnlinkFrame(*frame);
  if (LogTakesProcedures(s)) {
    std::u16string text = procedure->Text;
    text += u" with result=";
    text += TAtom::ToText(s, result);
    LogProcedureLine(in, u"Exit  (", text);
  }
  call.CallerStack.Push(result, callStart, callEnd);

  // OUTPUT and STOP end here unless the procedure passes them on.
  if (!passResult) {
    in.ResultAtom = SystemValue;
    in.StopFlag = false;
  }
}

// The call of the found procedure (or class). The two ways have frames of
// their own size: a deep recursion's stack holds only the one it takes.
inline void CallProcedure(TCall& call, TAtom* procedure) {
  if (TriesKeptFrame(call.S, *procedure) && CallInKeptFrame(call, *procedure)) return;
  CallInNewFrame(call, procedure);
}

// The frame a call is made from, after the stack check; null, with the
// internal error raised, when there is none.
TContext* CallerFrame(TInterpreter& in) {
  CheckStack(in);
  TContext* frame = in.S.Frame();
  if (frame == nullptr) RaiseInternalError(in.S, u"TRANS:USRCL:FRAME");
  return frame;
}

}  // namespace

void CallUserProcedure(TInterpreter& in, TCodeCursor& cursor) {
  TContext* callerFrame = CallerFrame(in);
  if (callerFrame == nullptr) return;
  TStructure& s = in.S;
  TCall call(in, *callerFrame);
  ReadCallOperands(call, cursor);
  TAtom* procedure = FindCalledProcedure(call);
  if (procedure == nullptr) return;
  if (s.FastPaths && CallWithoutFrame(in, *procedure, call.CallerStack, call.InputCount, call.Pairs, call.PairWords))
    return;
  CallProcedure(call, procedure);
}

void CallFoundProcedure(TInterpreter& in, TAtom& procedure, TCodeCursor& cursor) {
  TContext* callerFrame = CallerFrame(in);
  if (callerFrame == nullptr) return;
  TCall call(in, *callerFrame);
  ReadCallOperands(call, cursor);
  CallProcedure(call, &procedure);
}

void CallFoundProcedureAt(TInterpreter& in, TAtom& procedure, TAtom* nameAtom, int32_t inputCount,
                          const int32_t* pairs) {
  TContext* callerFrame = CallerFrame(in);
  if (callerFrame == nullptr) return;
  TCall call(in, *callerFrame);
  call.NameAtom = nameAtom;
  call.InputCount = inputCount;
  call.Pairs = pairs;
  call.PairWords = 2 * static_cast<size_t>(inputCount);
  CallProcedure(call, &procedure);
}

bool CallKeptFrameWithInputs(TInterpreter& in, TAtom& procedure, TAtom* nameAtom, int32_t inputCount,
                             const int32_t* pairs, const TStackEntry* top, TStackEntry& result) {
  TContext* callerFrame = in.S.Frame();
  if (callerFrame == nullptr || !TriesKeptFrame(in.S, procedure)) return false;
  CheckStack(in);
  TCall call(in, *callerFrame);
  call.NameAtom = nameAtom;
  call.InputCount = inputCount;
  call.Pairs = pairs;
  call.PairWords = 2 * static_cast<size_t>(inputCount);
  return CallInKeptFrameOf<true>(call, procedure, top, static_cast<size_t>(inputCount), &result);
}

void TInterpreter::DecodeWrapperBody(const TAtom& body, TWrapperBody& slot) {
  slot.Body = &body;
  slot.BodyStamp = body.Stamp;
  slot.CodeGeneration = TAtom::CodeGeneration(body);
  const std::vector<int32_t>* code = body.Code();
  slot.Statement = TWrapperStatement{};
  slot.IsWrapper = code != nullptr && DecodeWrapperStatement(*code, slot.Statement);
  slot.Composed = slot.IsWrapper ? 0 : ComposedBodyKind(S, body);
  slot.Line = TAtom::PositionOf(&body).Line;
}

TAtom* TInterpreter::CalleeOf(TAtom& procedure) {
  auto lambdaOf = [this](TAtom& p) -> TAtom* {
    TAtom* lambda = TAtom::FindChildByName(S, p, S.Keyword(kwLambda));
    return lambda != nullptr ? lambda : &p;
  };
  if (!S.FastPaths) return lambdaOf(procedure);
  TCalleeSlot& slot = calleeSlots_[(reinterpret_cast<uintptr_t>(&procedure) >> 7) % calleeSlots_.size()];
  const uint64_t namedChildren = procedure.Extend().NamedChildrenStamp;
  if (slot.Procedure != &procedure || slot.Stamp != procedure.Stamp || slot.NamedChildren != namedChildren ||
      slot.Keywords != S.KeywordGeneration || slot.CaseSensitive != S.CaseSensitive) {
    slot.Procedure = &procedure;
    slot.Stamp = procedure.Stamp;
    slot.NamedChildren = namedChildren;
    slot.Keywords = S.KeywordGeneration;
    slot.CaseSensitive = S.CaseSensitive;
    slot.Callee = lambdaOf(procedure);
  }
  return slot.Callee;
}

void PumpMessages(TInterpreter& in) {
  ++in.PumpSerial;
  if (in.host().pumpShowsVariables()) in.NoteEscape();
  in.host().processMessages();
}

void WaitForMessages(TInterpreter& in, int ms) {
  ++in.PumpSerial;
  if (in.host().pumpShowsVariables()) in.NoteEscape();
  in.host().waitAndProcessMessages(ms);
}

void ReleaseSpareCallFrames(TInterpreter& in) {
  for (auto& [procedure, spare] : in.SpareCallFrames)
    for (TAtom* frame : spare.Frames) TAtom::DecRef(frame);
  in.SpareCallFrames.clear();
  ++in.SpareFramesGeneration;  // calls still running keep nothing
}
