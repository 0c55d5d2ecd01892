#pragma once
// The expression compiler: turns one run of tokens (a statement up to a ","
// word or the end of its list) into 32-bit code words stored on the
// statement's first cell. There is no grammar: every token gets a priority
// and the numbers of inputs it takes on its left and right, and linking those
// numbers yields a precedence tree that is then emitted bottom-up.
//
// Code words: opcodes and integer operands as they are; atom and cell
// operands are atom identities (AtomId, 0 for "no cell"), turned back with
// TStructure::AtomById. Routine operands of ocPrimitive / ocNative are
// indices into the bound-routine table of the installed external binder.

#include <cstdint>
#include <exception>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Atoms.h"

class TInterpreter;
class TStructure;

enum OpCode : int32_t {
  ocPop = 2,             // after each root of a statement
  ocPush = 3,            // atom
  ocCall = 4,            // name atom, arity, then (by-name flag, parameter word) per input
  ocEnd = 5,             // cell of the next statement, 0 at the end of the list
  ocQuote = 9,           //
  ocValueOf = 10,        //
  ocPeriod = 11,         //
  ocPrint = 12,          // arity
  ocMake = 13,           // arity, first cell, last cell, before-list flag
  ocRun = 14,            //
  ocOutput = 15,         //
  ocIfElse = 16,         //
  ocWhile = 17,          // jump index (first word of the inputs' code)
  ocRepeat = 18,         //
  ocLocal = 19,          // arity
  ocNative = 20,         // bound routine index (outside library)
  ocOb = 21,             // as ocMake
  ocWhileCounter = 22,   //
  ocRepeatCounter = 23,  //
  ocStop = 24,           //
  ocIf = 26,             //
  ocDump = 30,           // arity
  ocSpan = 31,           // start offset, end offset (-1 when absent)
  ocStatement = 32,      // statement hook
  ocPrimitive = 33,      // bound routine index (the program's own exports)
};

// The arity word: right inputs in the high half, left inputs in the low one.
constexpr int32_t MakeArity(int32_t left, int32_t right) { return right * 65536 + left; }
constexpr int32_t ArityLeft(int32_t arity) { return arity & 0xFFFF; }
constexpr int32_t ArityRight(int32_t arity) { return (arity >> 16) & 0xFFFF; }

// Deepest precedence tree (nested parentheses counted) the compiler accepts.
constexpr int32_t kMaxExprDepth = 1000;

// The compiler's module state, owned by the interpreter object.
struct TCompilerState {
  TCompilerState() = default;
  ~TCompilerState() = default;
  TCompilerState(const TCompilerState&) = delete;
  TCompilerState& operator=(const TCompilerState&) = delete;

  // The previous token was a quote or a colon: the next word is data.
  bool AfterQuoteOrColon = false;
  // Atoms the code refers to that its statement does not keep alive: the
  // compiler's own words (rewritten names, extra input names, inserted
  // property cells) and the parameter-name words of called procedures. Each
  // holds one pin until ReleaseTempAtoms.
  std::vector<TAtom*> TempAtoms;
  std::unordered_set<TAtom*> TempSet;  // the same atoms, for pinning once
};

// Thrown after a compile error whose raise was suppressed (no current line):
// the compile ends all the same. CompileCurrentRun catches it; other callers
// of TExpr (the structure dump) catch it themselves.
class CompileAborted : public std::exception {
public:
  const char* what() const noexcept override { return "compile aborted"; }
};

struct TExprNode {
  TAtom* Token = nullptr;      // the token atom
  TAtom* Procedure = nullptr;  // the procedure variable (or its lambda child)
  TAtom* Cell = nullptr;       // the token's list cell
  int32_t LeftCount = 0;       // inputs taken while linking
  int32_t RightCount = 0;
  // priority * 2^32 - index (left-associative) or + index (right).
  int64_t Priority = 0;
  int32_t Parent = -1;  // the node that took this one as input; -1 for a root
  std::vector<int32_t> LeftInputs;
  std::vector<int32_t> RightInputs;
  TAtom* LeftParams = nullptr;  // parameter pairs of the called procedure
  TAtom* RightParams = nullptr;
  bool IsData = false;   // a literal
  int32_t Kind = 1;      // 1 literal, call or expression; else the special form's opcode
  int32_t MinLeft = -2;  // input bounds, negative = unbounded
  int32_t MaxLeft = -2;
  int32_t MinRight = -2;
  int32_t MaxRight = -2;
  bool HasBeforeList = false;  // MAKE / OB took a leading handler list
  bool IsProcedure = false;    // a procedure token (resolved or not)
  bool IsExternal = false;     // an unresolved "dll." token
  int32_t StartPos = -1;       // source offsets of the token (-1 when absent)
  int32_t EndPos = -1;
};

// The six structure views of a statement that the error history shows on its
// help page, as XML fragments. Dumping appends to them.
struct TDumpViews {
  std::u16string Unfolded;  // D1: indented outline, one input per line
  std::u16string Boxed;     // D2: nested boxes
  std::u16string Braced;    // D3: nested braces
  std::u16string AsmCode;   // D4: pseudo-assembly listing
  std::u16string Notation;  // D5: list notation read by a program-defined inspector
  std::u16string Parened;   // D6: fully parenthesised line, parentheses coloured by level
};

// The compiler of one run.
class TExpr {
public:
  // baseDepth: tree depth of the enclosing node (nested parentheses).
  TExpr(TInterpreter& interp, bool statementMode, int32_t baseDepth = 0);
  virtual ~TExpr();
  TExpr(const TExpr&) = delete;
  TExpr& operator=(const TExpr&) = delete;

  bool StatementMode;
  std::vector<TExprNode> Nodes;
  bool Changed = false;
  bool DumpMode = false;  // unknown names stay unresolved procedure tokens
  bool PropertyPending = false;
  std::u16string PropertyName;

  // Collects, links, checks the depth, chooses the roots and emits the run
  // at the code pointer into CurrentCodeAtom's code list. cell gives the
  // position of errors about the run as a whole (value mode). Raises
  // language errors; throws CompileAborted when a raise was suppressed.
  void Compile(TAtom* cell, bool valueMode, bool valueContext, int32_t nestLevel);

  // --- the steps before emission, shared with the structure dump -------------
  // Collect, then Link. EndedAtComma tells whether the run stopped at a ",".
  void Prepare();
  bool EndedAtComma() const { return endedAtComma_; }
  // Collects the run at the code pointer (up to a "," word or the end) into
  // Nodes, advancing the code pointer and inserting the property cells of
  // generic accessors. Returns true when the run stopped at a "," word.
  bool Collect();
  // Appends the node of the token at the code pointer and advances it.
  void AddNode(int32_t index);
  // Links the nodes into the precedence tree and sorts the input lists.
  void Link();
  // Raises "too-deep" at the deepest token when the tree (with the base
  // depth) is deeper than kMaxExprDepth. Measured without recursion.
  void CheckDepth();
  // Depth of every node (roots 1), without recursion.
  std::vector<int32_t> NodeDepths() const;
  // Indices of the roots, ascending.
  std::vector<int32_t> Roots() const;
  // Value mode: picks the main root and absorbs the other roots as its
  // inputs, or raises "does-not-match-par-exprs-par" at the cell's position.
  // endedAtComma counts the text after the "," as one more leftover root.
  int32_t AbsorbRoots(TAtom* cell, bool endedAtComma);
  // Lowest and highest node index of the subtree, without recursion.
  void Span(int32_t node, int32_t& low, int32_t& high) const;
  // The source text from the first token of node low to the last of node
  // high (the printed tokens when there is no source).
  std::u16string SpanText(int32_t low, int32_t high) const;

  // --- linking primitives -------------------------------------------------------
  enum class FindMode { Normal, AnyRoot, RootList };
  // The input found for node in the direction (-1 left, +1 right), or -1.
  int32_t FindArgument(int32_t node, int direction, FindMode mode) const;
  void AttachLeft(int32_t node, int32_t input);
  void AttachRight(int32_t node, int32_t input);
  void Detach(int32_t input);
  // True when candidate is node itself or one of its ancestors.
  bool IsAncestorOrSelf(int32_t candidate, int32_t node) const;

  // --- emission (after CheckDepth and ComputeSpans) -----------------------------
  void ComputeSpans();
  void Emit(int32_t node, bool valueContext, int32_t nestLevel);

  // --- the structure dump (ExprDump.cpp) ----------------------------------------
  // Collects and links the run at cell in dump mode and appends its views to
  // out; emits nothing and checks no input counts. Value mode renders a
  // parenthesised expression. Throws CompileAborted when the tree is deeper
  // than the compiler accepts or a raise was suppressed.
  void Dump(TAtom* cell, bool valueMode, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out);
  // Appends the views of one node of the run that Dump prepared, and of its
  // inputs.
  void DumpNode(int32_t node, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out);

protected:
  TInterpreter& I;
  TStructure& S;
  int32_t BaseDepth;

  // Error helpers: each stores the key, places the current position, and
  // raises; when the raise is suppressed they throw CompileAborted.
  void Place(const TAtom* cell, int32_t startPos, int32_t endPos);
  void PlaceNode(int32_t node);
  void Snippet(int number, const std::u16string& text);
  [[noreturn]] void Raise(const std::u16string& message, const std::u16string& topic);
  [[noreturn]] void RaiseArgCount(int32_t node, const std::u16string& topic, const std::u16string& what);
  [[noreturn]] void FailInternal(const std::u16string& tag, int32_t node);
  [[noreturn]] void FailTooDeep(int32_t node);
  [[noreturn]] void RaiseUnmatched(TAtom* cell, int64_t roots, const std::vector<int32_t>& leftover, bool endedAtComma);

private:
  void Classify(TExprNode& node, int32_t index, int32_t& priority, bool& leftAssociative);
  void ResolveProcedure(TExprNode& node, int32_t index, int32_t& priority, bool& leftAssociative);
  [[noreturn]] void RaiseUnknown(const TExprNode& node, const std::u16string& text, const std::u16string& lastTried);
  void LinkHandlerLists();
  void LinkLocals();
  void EmitCall(int32_t node);
  void CheckCallBounds(int32_t node);
  void EmitSpecial(int32_t node, bool valueContext, int32_t jumpIndex, int32_t low, int32_t high);
  void EmitExpression(int32_t node, bool valueContext, int32_t nestLevel);
  void EmitExternal(int32_t node);
  std::u16string NodeListText(const std::vector<int32_t>& nodes, const std::u16string* extra = nullptr) const;
  std::u16string CommaRestText() const;
  TAtom* Pin(TAtom* atom);
  TAtom& CodeAtom() const;
  void AddCode(int32_t word);
  int32_t CodeLength() const;
  std::vector<int32_t> AbsorbRootsForDump();
  void CheckDumpDepth();
  void DumpStatementRoots(const std::vector<int32_t>& roots, bool parenthesise, int32_t level, int32_t depth,
                          TDumpViews& out);
  void DumpValueRoots(const std::vector<int32_t>& roots, bool parenthesise, int32_t level, int32_t depth,
                      TDumpViews& out);
  void DumpExpression(int32_t node, int32_t level, int32_t depth, TDumpViews& out);
  void DumpOperation(int32_t node, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out);
  void DumpSlots(int32_t node, bool left, int32_t level, int32_t depth, TDumpViews& out);

  bool endedAtComma_ = false;
  int32_t insertedLeft_ = 0;  // inserted property cells still to collect
  int32_t insertedStart_ = -1;
  int32_t insertedEnd_ = -1;
  std::vector<int32_t> depths_;
  std::vector<int32_t> spanLow_;
  std::vector<int32_t> spanHigh_;
};

enum class CompileResult { Compiled, NotCompiled };

// The special form a word names (ocPrint ... ocLocal, ocDump) and the
// number of right inputs it takes; 0 when it names none.
int32_t SpecialFormOf(const TStructure& s, std::u16string_view text, int32_t& right);

// The code of a definition statement, the `make local " name [...]` that a
// `to ... end` becomes, or of an attribute statement, `make " name value`
// with a number or list value, written straight into the cell's code list
// (CurrentCodeAtom, empty) as the compiler would emit it, the code pointer
// moved on as after a compile. False, with nothing done, for any other
// statement, and with the short ways off.
bool CompileMakeShape(TInterpreter& interp, TAtom* cell);

// Compiles the run at the interpreter's code pointer into the code list of
// that cell (which becomes CurrentCodeAtom). On success the code pointer
// stands on the next statement's cell (after the run and its commas) or is
// null. On a compile error the cell's code list is emptied, the compiler
// state restored, and either the language error passes on or, when it was
// suppressed, NotCompiled comes back with the code pointer on the next
// statement's cell.
CompileResult CompileCurrentRun(TInterpreter& interp);

// Unpins and forgets every atom in the compiler's TempAtoms.
void ReleaseTempAtoms(TInterpreter& interp);

// The structure views of the statement at cell, with names resolved from the
// frame of frameOwner as when the statement ran. Pins nothing for good, and
// puts the frame, the code pointer and CurrentCodeAtom back however it ends.
// A tree too deep to dump gives empty views; language errors pass on.
TDumpViews ExprStructureDump(TInterpreter& interp, TAtom* cell, TAtom* frameOwner);

// The first statement of a direct wrapper's body, "output dll.zavta.NAME":
// the index of the routine in the bound-routine table and the range its
// token sets.
struct TWrapperStatement {
  int32_t Routine = -1;
  int32_t StartPos = -1;
  int32_t EndPos = -1;
};
// True when the compiled code of a statement outputs the answer of one own
// routine and does nothing before (position markers and the statement
// hook aside); fills the wrapper.
bool DecodeWrapperStatement(const std::vector<int32_t>& code, TWrapperStatement& wrapper);

// --- superinstructions -------------------------------------------------------------
// The code of a statement once more, as a few superinstructions for the
// interpreter's short way. Each covers a range of code words (its position
// markers and statement hooks included) and does exactly what they do, or declines having done
// nothing, and the interpreter then runs that range word by word. Literal
// pushes, ":name" reads and quotes, calls, two-input MAKEs, the loop
// counters, pops, OUTPUT, STOP, IF and the end have their own kind; every other instruction
// is a foGeneral range.
enum FastOpKind : int32_t {
  foGeneral,    // run the range word by word
  foPush,       // push the literal Operand
  foQuote,      // push the literal Operand, which it leaves in LastValue
  foValueOf,    // push the value of the variable named by the literal Operand
  foCall,       // the ocCall whose name operand is the word at index Operand
  foMake,       // the ocMake (name and value) whose arity is the word at index Operand
  foCounter,    // push the REPEAT (Operand 0) or WHILE (1) counter
  foPop,        // pop into LastValue and the current range
  foEnd,        // end the statement; Operand: the next statement's cell
  foOutput,     // OUTPUT: the popped value ends the procedure's body
  foStop,       // STOP: ends the procedure's body without a value
  foIf,         // IF (Operand 0) or IFELSE (1) whose chosen list runs no program code
  // The next three: two literal pushes or ":name" reads and the call of two
  // inputs by value that takes them, at once where the call is a routine's
  // two-number step; otherwise they run one by one. Covers no code words.
  foPairCall,
};
constexpr int32_t kNoSpan = INT32_MIN;  // SpanStart of a range without position marker
struct TFastOp {
  FastOpKind Kind = foGeneral;
  int32_t From = 0;  // the range's first code word
  int32_t To = 0;    // the word after it
  int32_t SpanStart = kNoSpan;  // what the range's last position marker sets
  int32_t SpanEnd = kNoSpan;
  int32_t Operand = 0;
  // foPush, foQuote, foValueOf, foEnd: the atom of the identity Operand
  // gives, found once (its pool slot holds that identity for the pool's
  // life; whether the atom is in use is tested on each read).
  mutable TAtom* OperandAtom = nullptr;
  // foCall: the name token its operands give and its input count, read
  // once (the code words stay as they are while these ops live), valid
  // while the token is the same atom life. Holds no pin.
  mutable TAtom* SiteName = nullptr;
  mutable uint64_t SiteNameStamp = 0;
  mutable int32_t SiteInputCount = 0;
  mutable bool SiteByValue = false;  // no input given by name
  // foCall: the procedure found last and the one called for it (its lambda
  // child or itself), valid while the procedure is the same atom life with
  // the same named children under the same keywords and letter-case rule.
  // Holds no pin.
  mutable const TAtom* Found = nullptr;
  mutable uint64_t FoundStamp = 0;
  mutable uint64_t FoundChildren = 0;
  mutable uint32_t FoundKeywords = 0;
  mutable bool FoundCaseSensitive = true;
  mutable TAtom* Callee = nullptr;
  // foCall: how the callee's body statement decoded when last looked at
  // (the frameless way a call of it may take), valid while the statement is
  // the same atom life with the same code. Holds no pin; the routine is a
  // number, never a pointer into the decoded-body table.
  mutable const TAtom* Body = nullptr;
  mutable uint64_t BodyStamp = 0;
  mutable uint32_t BodyCode = 0;       // the statement's code generation then
  mutable int32_t BodyRoutine = -1;    // a direct wrapper's routine number; else -1
  mutable uint8_t BodyComposed = 0;    // else a composed library body's kind, or 0
  mutable int32_t BodyLine = -1;       // the line the statement raises at; -1: no frameless way
  mutable uint8_t BodyStep = 0;        // the two-number step the short way computes for its routine; 0: none
  mutable TAtom* (*BodyFrameless)(TInterpreter&) = nullptr;  // the routine's frameless entry (set once per routine)
  // foPairCall: the times it is passed over before it tries again.
  mutable uint8_t PairMisses = 0;
  // foCall: the procedure of program code it found last (holds no pin) and
  // the calls of it still to make without asking its body again.
  mutable const TAtom* CodeCallee = nullptr;
  mutable uint8_t CodeCalleeSkips = 0;
  // foIf: the branch list it ran last, when the list's one statement is one
  // value's OUTPUT or a STOP, or when its superinstructions are of kinds a
  // branch never runs the short way; valid while the list is the same atom
  // life with the same code (so the same superinstructions). Holds no pin.
  mutable const TAtom* Branch = nullptr;
  mutable uint64_t BranchStamp = 0;
  mutable uint32_t BranchCode = 0;               // the list's code generation then
  mutable const TFastOp* BranchValue = nullptr;  // the list's op that gives OUTPUT's value; null: STOP
  mutable bool BranchDeclines = false;           // the list never runs the short way
};
// An instruction "make "name V" of a statement made only of such
// instructions: V made of literals, ":name" reads, the loop counters and
// calls whose inputs are all passed by value (at most kMaxFusedValues
// values held at once), then the quoted name, the MAKE and its pop
// (OpCount Ops from FirstOp), the statement's end after the last one. The
// short way runs it as one step where each call is a frameless routine.
// "make "name A f B" with A and B literals or ":name" reads (Numeric) may
// even be computed without the routine when it is a number routine it
// knows; the memo lets that step give the number atom it stored last a new
// value instead of making a new one, where nobody else can have it.
struct TFusedMake {
  int32_t FirstOp = 0;
  int32_t OpCount = 0;    // the value's Ops, the quote, the MAKE and the pop
  bool Numeric = false;   // "make "name A f B"
  int32_t FinalStart = kNoSpan;  // the range its pop leaves; kNoSpan: the statement's own
  int32_t FinalEnd = kNoSpan;
  mutable const TAtom* Stored = nullptr;  // the number atom this step made and stored last
  mutable uint64_t StoredStamp = 0;       // its allocation stamp then
  mutable uint64_t StoredRound = 0;       // TInterpreter::RoundSerial then
  mutable uint32_t StoredStatements = 0;  // TInterpreter::StatementCounter then
  mutable uint64_t StoredEscapes = 0;     // TInterpreter::EscapeCount then
  mutable uint32_t Declines = 0;          // the one-step way's declines in a row
  // The atoms of the Operands of the value's Ops and of the name's quote
  // (OpCount - 2 of them, from the start), each found the first time it is
  // read (an identity's pool slot never moves; the slot's state is read
  // each time); null: not found yet.
  mutable std::vector<TAtom*> OperandAtoms;
};
constexpr size_t kFusedMakeOps = 6;    // a Numeric one's
constexpr size_t kMaxFusedValues = 8;
struct TFusedStatementPlan;  // TransFused.h
// The superinstructions of one generation of a statement's code.
struct TFastCode {
  uint32_t Generation = 0;  // TAtom::CodeGeneration they were made from
  std::vector<TFastOp> Ops;
  std::vector<TFusedMake> Fused;  // empty unless the statement is made of them alone
  int32_t FusedEndStart = kNoSpan;  // the range the statement ends with after them
  int32_t FusedEndEnd = kNoSpan;
  mutable TAtom* FusedNext = nullptr;  // the end's Operand as an atom, found once as OperandAtoms are
  // The fused MAKEs' names and calls resolved once (TransFused.cpp); null
  // until the statement has run them all the ordinary way.
  mutable std::shared_ptr<TFusedStatementPlan> Plan;
};
// Translates the statement's code words, from the first to the end.
void TranslateToFastCode(const std::vector<int32_t>& code, TFastCode& fast);
// The statement's superinstructions for its current code, made the second
// time they are asked for (or at once with now): a statement that runs
// once, as most top-level and library statements do, never holds them.
// Null the first time, and for a statement without code.
const TFastCode* FastCodeWhenAskedAgain(TAtom::Extension& ext, bool now = false);

// True for a word whose text begins with keyword 11 ("dll") and a period,
// compared in upper case.
bool IsExternalToken(const TStructure& s, const TAtom* token);
