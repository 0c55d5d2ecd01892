// The expression compiler: collecting a run of tokens into nodes, classifying
// each token (literal, special form, operator or procedure call), linking the
// nodes into a precedence tree by priorities and input counts, and emitting
// the tree as 32-bit code words.

#include "core/Expr.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"

namespace {

constexpr int32_t kDefaultPriority = 150;
// Most statements have up to this many tokens: their nodes need one allocation.
constexpr size_t kUsualNodes = 8;
constexpr int32_t kProcedurePriority = 20;
constexpr int32_t kSetterPriority = -1;
constexpr int32_t kGetterPriority = -99;
constexpr size_t kMaxSuffix = 255;

// The position record of a token cell: its own, else its element's.
const TPosition* CellPosition(const TAtom* cell) {
  if (!IsAtom(cell)) return nullptr;
  if (const TPosition* own = cell->Position()) return own;
  const TAtom* element = cell->Left;
  return IsAtom(element) ? element->Position() : nullptr;
}

bool IsWordToken(const TAtom* token) { return IsAtom(token) && token->Kind == akWord; }

// A list literal: the empty list or a list cell.
bool IsListToken(const TAtom* token) { return TAtom::IsList(token); }

// The rounded value of a numeric child, clamped to [lowest, int32 max]; false
// when the child is missing or its value is not a number (NaN included).
bool NumericChild(const TStructure& s, const TAtom* procedure, int keyword, int32_t lowest, int32_t& out) {
  const TAtom* child = TAtom::FindChildByName(s, *procedure, s.Keyword(keyword));
  if (child == nullptr) return false;
  long double x = 0;
  if (!TAtom::TryNumber(child->Left, x) || std::isnan(x)) return false;
  const long double r = std::nearbyint(x);
  if (r <= static_cast<long double>(lowest))
    out = lowest;
  else if (r >= static_cast<long double>(std::numeric_limits<int32_t>::max()))
    out = std::numeric_limits<int32_t>::max();
  else
    out = static_cast<int32_t>(r);
  return true;
}

// Number of marker/name pairs in a parameter list.
int32_t PairCount(const TAtom* params) { return TAtom::Length(params) / 2; }

std::u16string NumberText(int64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

bool IsExternalToken(const TStructure& s, const TAtom* token) {
  if (!IsWordToken(token)) return false;
  const std::u16string& keyword = s.Language.KeywordTableUpper[kwDll];
  const std::u16string& text = token->Text;
  if (text.size() < keyword.size() + 1) return false;
  for (size_t i = 0; i < keyword.size(); ++i)
    if (UpperChar(text[i]) != keyword[i]) return false;
  return text[keyword.size()] == u'.';
}

bool DecodeWrapperStatement(const std::vector<int32_t>& code, TWrapperStatement& wrapper) {
  const int32_t* word = code.data();
  const int32_t* const end = word + code.size();
  int32_t start = -1;
  int32_t finish = -1;
  for (; word < end; ++word) {
    if (*word == ocSpan && end - word >= 3) {
      start = word[1];
      finish = word[2];
      word += 2;
    } else if (*word != ocStatement) {
      break;
    }
  }
  if (end - word < 3 || word[0] != ocPrimitive) return false;
  const int32_t routine = word[1];
  const int32_t* next = word + 2;
  while (end - next >= 3 && *next == ocSpan) next += 3;  // ranges OUTPUT's value gets: nothing reads them
  if (next == end || *next != ocOutput) return false;
  wrapper.Routine = routine;
  wrapper.StartPos = start;
  wrapper.EndPos = finish;
  return true;
}

namespace {

// Words an instruction takes, its opcode included, as the interpreter reads
// them; 0 when the code ends before its operands do.
size_t InstructionLength(const std::vector<int32_t>& code, size_t at) {
  const size_t left = code.size() - at;
  size_t length = 1;
  switch (code[at]) {
    case ocPush:
    case ocEnd:
    case ocPrint:
    case ocWhile:
    case ocLocal:
    case ocNative:
    case ocPrimitive:
      length = 2;
      break;
    case ocSpan:
      length = 3;
      break;
    case ocMake:
    case ocOb:
      length = 5;
      break;
    case ocCall:
      if (left < 3) return 0;
      length = 3 + 2 * static_cast<size_t>(ArityLeft(code[at + 2]) + ArityRight(code[at + 2]));
      break;
    default:
      break;
  }
  return length <= left ? length : 0;
}

}  // namespace

namespace {

bool IsOperandOp(const TFastOp& op) { return op.Kind == foPush || op.Kind == foValueOf; }

// The inputs of the call a foCall makes, when every one is passed by
// value; -1 otherwise.
int32_t ByValueInputsOf(const std::vector<int32_t>& code, const TFastOp& call) {
  const size_t at = static_cast<size_t>(call.Operand);
  if (at + 2 > code.size()) return -1;
  const int32_t inputs = ArityLeft(code[at + 1]) + ArityRight(code[at + 1]);
  if (inputs < 0 || at + 2 + 2 * static_cast<size_t>(inputs) > code.size()) return -1;
  for (int32_t i = 0; i < inputs; ++i)
    if (code[at + 2 + 2 * static_cast<size_t>(i)] != 0) return -1;
  return inputs;
}

// The "make "name V" instruction from at (TFusedMake); false where the
// Ops there are of another shape.
bool FindFusedMakeShape(const std::vector<int32_t>& code, const std::vector<TFastOp>& ops, size_t at,
                        TFusedMake& make) {
  size_t depth = 0;
  size_t i = at;
  // The name's quote is the one the MAKE follows.
  for (; i < ops.size() && !(ops[i].Kind == foQuote && i + 1 < ops.size() && ops[i + 1].Kind == foMake); ++i) {
    const TFastOp& op = ops[i];
    if (op.Kind == foPush || op.Kind == foQuote || op.Kind == foValueOf || op.Kind == foCounter) {
      if (++depth > kMaxFusedValues) return false;
    } else if (op.Kind == foCall) {
      const int32_t inputs = ByValueInputsOf(code, op);
      if (inputs < 0 || static_cast<size_t>(inputs) > depth) return false;
      depth = depth - static_cast<size_t>(inputs) + 1;
      if (depth > kMaxFusedValues) return false;
    } else {
      return false;
    }
  }
  if (depth != 1 || i + 2 >= ops.size() || ops[i + 1].Kind != foMake || ops[i + 2].Kind != foPop) return false;
  make.FirstOp = static_cast<int32_t>(at);
  make.OpCount = static_cast<int32_t>(i + 3 - at);
  make.Numeric = make.OpCount == static_cast<int32_t>(kFusedMakeOps) && IsOperandOp(ops[at]) &&
                 IsOperandOp(ops[at + 1]) && ops[at + 2].Kind == foCall && ByValueInputsOf(code, ops[at + 2]) == 2;
  return true;
}

// Marks a statement made only of "make "name V" instructions
// (TFusedMake) and the ranges each leaves: a pop takes the range its MAKE
// pushed with, the end's own marker comes after the last.
void FindFusedMakes(const std::vector<int32_t>& code, TFastCode& fast) {
  fast.Fused.clear();
  fast.FusedEndStart = fast.FusedEndEnd = kNoSpan;
  const std::vector<TFastOp>& ops = fast.Ops;
  if (ops.empty() || ops.back().Kind != foEnd) return;
  std::vector<TFusedMake> fused;
  int32_t start = kNoSpan;
  int32_t end = kNoSpan;
  for (size_t at = 0; at + 1 < ops.size();) {
    TFusedMake make;
    if (!FindFusedMakeShape(code, ops, at, make)) return;
    const size_t pop = at + static_cast<size_t>(make.OpCount) - 1;
    for (size_t i = at; i < pop; ++i) {
      if (ops[i].SpanStart == kNoSpan) continue;
      start = ops[i].SpanStart;
      end = ops[i].SpanEnd;
    }
    make.FinalStart = start;
    make.FinalEnd = end;
    make.OperandAtoms.assign(static_cast<size_t>(make.OpCount) - 2, nullptr);
    fused.push_back(std::move(make));
    at = pop + 1;
  }
  if (fused.empty()) return;
  if (ops.back().SpanStart != kNoSpan) {
    start = ops.back().SpanStart;
    end = ops.back().SpanEnd;
  }
  fast.Fused = std::move(fused);
  fast.FusedEndStart = start;
  fast.FusedEndEnd = end;
}

// Puts a foPairCall before every two values that a two-input call takes at
// once, in a statement that is no run of fused MAKEs (those have their own
// step for the shape).
void MarkPairCalls(const std::vector<int32_t>& code, TFastCode& fast) {
  if (!fast.Fused.empty()) return;
  std::vector<TFastOp>& ops = fast.Ops;
  auto pairAt = [&](size_t at) {
    return at + 2 < ops.size() && IsOperandOp(ops[at]) && IsOperandOp(ops[at + 1]) && ops[at + 2].Kind == foCall &&
           ByValueInputsOf(code, ops[at + 2]) == 2;
  };
  size_t pairs = 0;
  for (size_t at = 0; at < ops.size(); ++at)
    if (pairAt(at)) ++pairs;
  if (pairs == 0) return;
  std::vector<TFastOp> marked;
  marked.reserve(ops.size() + pairs);
  for (size_t at = 0; at < ops.size(); ++at) {
    if (pairAt(at)) {
      TFastOp mark;
      mark.Kind = foPairCall;
      mark.From = mark.To = ops[at].From;
      marked.push_back(mark);
    }
    marked.push_back(ops[at]);
  }
  ops = std::move(marked);
}

}  // namespace

void TranslateToFastCode(const std::vector<int32_t>& code, TFastCode& fast) {
  fast.Ops.clear();
  // Most ranges are an operation after its position marker, four words or
  // more; a root's pop and the end add theirs.
  fast.Ops.reserve(code.size() / 4 + 2);
  size_t from = 0;  // the next range's first word
  size_t at = 0;
  TFastOp op;
  auto add = [&](FastOpKind kind, size_t to, int32_t operand) {
    op.Kind = kind;
    op.From = static_cast<int32_t>(from);
    op.To = static_cast<int32_t>(to);
    op.Operand = operand;
    fast.Ops.push_back(op);
    op.SpanStart = op.SpanEnd = kNoSpan;
    from = at = to;
  };
  while (at < code.size()) {
    const size_t length = InstructionLength(code, at);
    if (length == 0) {
      // Damaged code: the rest runs word by word.
      add(foGeneral, code.size(), 0);
      break;
    }
    const size_t next = at + length;
    switch (code[at]) {
      case ocSpan:
        op.SpanStart = code[at + 1];
        op.SpanEnd = code[at + 2];
        at = next;
        break;
      case ocStatement:
        // The hook does nothing outside the stepping states, which take no
        // short way: the range that follows takes it along.
        at = next;
        break;
      case ocPush: {
        // A literal that a quote or a colon takes at once, under their
        // own position marker.
        const int32_t literal = code[at + 1];
        if (next + 3 < code.size() && code[next] == ocSpan &&
            (code[next + 3] == ocValueOf || code[next + 3] == ocQuote)) {
          op.SpanStart = code[next + 1];
          op.SpanEnd = code[next + 2];
          add(code[next + 3] == ocValueOf ? foValueOf : foQuote, next + 4, literal);
        } else {
          add(foPush, next, literal);
        }
        break;
      }
      case ocCall:
        add(foCall, next, static_cast<int32_t>(at + 1));
        break;
      case ocMake:
        // Only "make name value": handler lists take the reactive way anyway.
        if (ArityRight(code[at + 1]) == 2 && code[at + 4] == 0)
          add(foMake, next, static_cast<int32_t>(at + 1));
        else
          add(foGeneral, next, 0);
        break;
      case ocRepeatCounter:
      case ocWhileCounter:
        add(foCounter, next, code[at] == ocWhileCounter ? 1 : 0);
        break;
      case ocPop:
        add(foPop, next, 0);
        break;
      case ocEnd:
        add(foEnd, next, code[at + 1]);
        break;
      case ocOutput:
        add(foOutput, next, 0);
        break;
      case ocStop:
        add(foStop, next, 0);
        break;
      case ocIf:
      case ocIfElse:
        add(foIf, next, code[at] == ocIfElse ? 1 : 0);
        break;
      default:
        add(foGeneral, next, 0);
        break;
    }
  }
  if (from < code.size()) add(foGeneral, code.size(), 0);  // position markers at the very end
  FindFusedMakes(code, fast);
  MarkPairCalls(code, fast);
}

// --- construction ------------------------------------------------------------------

TExpr::TExpr(TInterpreter& interp, bool statementMode, int32_t baseDepth)
    : StatementMode(statementMode), I(interp), S(interp.S), BaseDepth(baseDepth) {
  I.Compiler().AfterQuoteOrColon = false;
}

TExpr::~TExpr() = default;

TAtom* TExpr::Pin(TAtom* atom) {
  TCompilerState& state = I.Compiler();
  if (IsAtom(atom) && state.TempSet.insert(atom).second) {
    TAtom::IncRef(atom);
    state.TempAtoms.push_back(atom);
  }
  return atom;
}

TAtom& TExpr::CodeAtom() const { return *I.CurrentCodeAtom; }

void TExpr::AddCode(int32_t word) { TAtom::AddCode(CodeAtom(), word); }

int32_t TExpr::CodeLength() const { return TAtom::CodeCount(CodeAtom()); }

// --- errors ------------------------------------------------------------------------

void TExpr::Place(const TAtom* cell, int32_t startPos, int32_t endPos) {
  TPosition& current = S.CurrentPosition;
  if (const TPosition* p = CellPosition(cell)) {
    current.SourceName = p->SourceName;
    current.SourceText = p->SourceText;
    // The line follows the token, but an unarmed state (line -1) stays
    // unarmed: whether errors raise is up to the statement runner.
    if (current.Line != -1 && p->Line != -1) current.Line = p->Line;
  }
  if (startPos != -1 || endPos != -1) {
    current.StartPos = startPos;
    current.EndPos = endPos;
  }
}

void TExpr::PlaceNode(int32_t node) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  Place(n.Cell, n.StartPos, n.EndPos);
}

void TExpr::Snippet(int number, const std::u16string& text) { WriteErrorFile(S, number, text); }

void TExpr::Raise(const std::u16string& message, const std::u16string& topic) {
  S.CurrentPosition.Topic = topic;
  S.RaiseError(message, topic);
  throw CompileAborted();  // the raise was suppressed: the compile ends all the same
}

void TExpr::RaiseArgCount(int32_t node, const std::u16string& topic, const std::u16string& what) {
  PlaceNode(node);
  Raise(S.MessageText(u"ARGCOUNT", {what}), topic);
}

void TExpr::FailInternal(const std::u16string& tag, int32_t node) {
  if (node >= 0) PlaceNode(node);
  RaiseInternalError(S, tag);
  throw CompileAborted();
}

void TExpr::FailTooDeep(int32_t node) {
  PlaceNode(node);
  S.CurrentPosition.Topic = u"too-deep";
  S.RaiseTooDeep(TAtom::ToText(S, Nodes[static_cast<size_t>(node)].Token));
  throw CompileAborted();
}

std::u16string TExpr::SpanText(int32_t low, int32_t high) const {
  const TExprNode& first = Nodes[static_cast<size_t>(low)];
  const TExprNode& last = Nodes[static_cast<size_t>(high)];
  const TPosition* p = CellPosition(first.Cell);
  if (p == nullptr) p = CellPosition(last.Cell);
  if (p != nullptr && first.StartPos >= 1 && last.EndPos >= first.StartPos) {
    const std::u16string& text = p->SourceText.str();
    const size_t from = static_cast<size_t>(first.StartPos - 1);
    if (from <= text.size()) return text.substr(from, static_cast<size_t>(last.EndPos - first.StartPos));
  }
  // No source: the printed tokens.
  std::u16string out;
  for (int32_t i = low; i <= high; ++i) {
    if (!out.empty()) out += u' ';
    out += TAtom::ToText(S, Nodes[static_cast<size_t>(i)].Token);
  }
  return out;
}

std::u16string TExpr::NodeListText(const std::vector<int32_t>& nodes, const std::u16string* extra) const {
  std::u16string out = u"<@UL>@";
  for (int32_t node : nodes) {
    int32_t low = node;
    int32_t high = node;
    Span(node, low, high);
    out += u"<@LI>@" + SpanText(low, high) + u"\r\n<@/LI>@";
  }
  if (extra != nullptr) out += u"<@LI>@" + *extra + u"\r\n<@/LI>@";
  return out + u"<@/UL>@";
}

void TExpr::RaiseUnmatched(TAtom* cell, int64_t roots, const std::vector<int32_t>& leftover, bool endedAtComma) {
  const TPosition* p = CellPosition(cell);
  Place(cell, p ? p->StartPos : -1, p ? p->EndPos : -1);
  Snippet(4, NumberText(roots + (endedAtComma ? 1 : 0)));
  const std::u16string rest = endedAtComma ? CommaRestText() : std::u16string();
  Snippet(5, NodeListText(leftover, endedAtComma ? &rest : nullptr));
  Raise(S.MessageText(u"UNMATCHED", {std::u16string(u"(")}), u"does-not-match-par-exprs-par");
}

// --- collecting and classifying --------------------------------------------------

bool TExpr::Collect() {
  I.Compiler().AfterQuoteOrColon = false;
  Nodes.reserve(kUsualNodes);
  while (IsAtom(I.CodePointer) && !TAtom::IsComma(I.CodePointer->Left)) {
    const int32_t index = static_cast<int32_t>(Nodes.size());
    AddNode(index);
    if (PropertyPending) {
      PropertyPending = false;
      // The accessor's property name follows it as a quoted word. Only the
      // compiler's walk passes through the new cells: the program's own list
      // stays as it was.
      const TExprNode& accessor = Nodes.back();
      TAtom* nameCell = NewListCell(S, NewWord(S, PropertyName), I.CodePointer);
      TAtom* quoteCell = NewListCell(S, NewWord(S, u"\""), nameCell);
      Pin(quoteCell);
      I.CodePointer = quoteCell;
      insertedStart_ = accessor.StartPos;
      insertedEnd_ = accessor.EndPos;
      insertedLeft_ = 2;
    }
  }
  return IsAtom(I.CodePointer);
}

void TExpr::AddNode(int32_t index) {
  TExprNode node;
  node.Cell = I.CodePointer;
  if (insertedLeft_ > 0) {
    // Inserted property cells carry the accessor's range.
    --insertedLeft_;
    node.StartPos = insertedStart_;
    node.EndPos = insertedEnd_;
  } else {
    TAtom::SpanOf(node.Cell, node.StartPos, node.EndPos);
  }
  int32_t priority = kDefaultPriority;
  bool leftAssociative = true;
  Classify(node, index, priority, leftAssociative);
  const int64_t scaled = static_cast<int64_t>(priority) * (int64_t{1} << 32);
  node.Priority = leftAssociative ? scaled - index : scaled + index;
  Nodes.push_back(std::move(node));
  I.NextStatement();
}

void TExpr::Classify(TExprNode& node, int32_t index, int32_t& priority, bool& leftAssociative) {
  TCompilerState& state = I.Compiler();
  TAtom* token = node.Cell->Left;
  node.Token = token;
  priority = kDefaultPriority;
  leftAssociative = true;
  long double number = 0;

  if (token == nullptr || token == SystemValue || token->Kind != akWord) {
    // Lists, numbers, parenthesised expressions, and values that only lists
    // built at run time hold (variables, GUI objects, memory blocks, the
    // no-value marker): the expression is compiled when emitted, every other
    // one is pushed as it is.
    node.IsData = !TAtom::IsExpression(token);
    state.AfterQuoteOrColon = false;
    return;
  }
  if (TAtom::TryNumber(token, number)) {
    node.IsData = true;
    state.AfterQuoteOrColon = false;
    return;
  }
  const std::u16string& text = token->Text;
  if (state.AfterQuoteOrColon) {
    node.IsData = true;
    leftAssociative = false;
    state.AfterQuoteOrColon = false;
    return;
  }
  state.AfterQuoteOrColon = text == u":" || text == u"\"";
  leftAssociative = false;
  priority = 0;

  auto special = [&](int32_t kind, int32_t left, int32_t right, int32_t prio, bool leftAssoc) {
    node.Kind = kind;
    node.LeftCount = left;
    node.RightCount = right;
    priority = prio;
    leftAssociative = leftAssoc;
  };
  if (text == u"\"") return special(ocQuote, 0, 1, 145, false);
  if (text == u":") return special(ocValueOf, 0, 1, 140, false);
  if (text == u".") return special(ocPeriod, 1, 1, 149, true);

  int32_t right = 0;
  if (const int32_t kind = SpecialFormOf(S, text, right); kind != 0) return special(kind, 0, right, 0, false);

  ResolveProcedure(node, index, priority, leftAssociative);
}

int32_t SpecialFormOf(const TStructure& s, std::u16string_view text, int32_t& right) {
  // The special forms in their fixed order: the active language first, then
  // (with dual-language support) the English words, then DUMP.
  struct Form {
    int Keyword;
    const char16_t* English;
    int32_t Kind;
    int32_t Right;
  };
  static constexpr Form kForms[] = {
      {kwPrint, u"PRINT", ocPrint, 200}, {kwMake, u"MAKE", ocMake, 2},       {kwOb, u"OB", ocOb, 2},
      {kwRun, u"RUN", ocRun, 1},         {kwOutput, u"OUTPUT", ocOutput, 1}, {kwIf, u"IF", ocIfElse, 3},
      {kwWhile, u"WHILE", ocWhile, 2},   {kwRepeat, u"REPEAT", ocRepeat, 2}, {kwLocal, u"LOCAL", ocLocal, 1},
  };
  const auto& table = s.Language.KeywordTableUpper;
  for (const Form& form : kForms) {
    const std::u16string& word = table[static_cast<size_t>(form.Keyword)];
    if (!word.empty() && EqualsUpper(text, word)) {
      right = form.Right;
      return form.Kind;
    }
  }
  if (s.Language.DualLanguageSupport) {
    for (const Form& form : kForms)
      if (EqualsUpper(text, form.English)) {
        right = form.Right;
        return form.Kind;
      }
  }
  if (EqualsUpper(text, u"DUMP")) {
    right = 0;
    return ocDump;
  }
  return 0;
}

void TExpr::ResolveProcedure(TExprNode& node, int32_t index, int32_t& priority, bool& leftAssociative) {
  node.IsProcedure = true;
  node.Kind = 1;
  priority = kProcedurePriority;
  leftAssociative = true;
  const std::u16string text = node.Token->Text;

  int32_t provisional = 0;
  std::u16string lastTried = text;
  TAtom* procedure = S.FindName(text);
  if (procedure == nullptr) {
    const size_t dot = text.rfind(u'.');
    const size_t prefixLength = dot == std::u16string::npos ? 0 : dot + 1;
    const std::u16string prefix = text.substr(0, prefixLength);
    const std::u16string suffix = text.substr(prefixLength, kMaxSuffix);
    const bool setter = index == 0 && StatementMode;
    provisional = setter ? kSetterPriority : kGetterPriority;
    const std::u16string& accessor = S.Keyword(setter ? kwPut : kwGet);
    lastTried = prefix + accessor + suffix;
    procedure = S.FindName(lastTried);
    if (procedure == nullptr && S.FindName(prefix + u"handle") != nullptr) {
      // A variable that wraps a control: the generic accessor takes the
      // property name as its first input.
      lastTried = prefix + accessor;
      procedure = S.FindName(lastTried);
      if (procedure != nullptr) {
        PropertyPending = true;
        PropertyName = suffix;
      }
    }
    if (procedure == nullptr) {
      node.IsExternal = IsExternalToken(S, node.Token);
      if (DumpMode || node.IsExternal) {
        // Stays an unresolved procedure token: no inputs, no bounds.
        node.MinLeft = node.MaxLeft = node.MinRight = node.MaxRight = 0;
        return;
      }
      RaiseUnknown(node, text, lastTried);
    }
    node.Token = Pin(NewWord(S, lastTried));
  }

  if (TAtom* lambda = TAtom::FindChildByName(S, *procedure, S.Keyword(kwLambda))) procedure = lambda;
  node.Procedure = procedure;

  int32_t declared = 0;
  if (NumericChild(S, procedure, kwOnpriority, -std::numeric_limits<int32_t>::max(), declared)) {
    priority = declared;
    leftAssociative = true;
  } else {
    priority = provisional == 0 ? kProcedurePriority : -provisional;
    leftAssociative = false;
  }
  if (const TAtom* assoc = TAtom::FindChildByName(S, *procedure, S.Keyword(kwOnleftassociation)))
    leftAssociative = TAtom::IsTrue(S, assoc->Left);

  const TAtom* value = procedure->Left;
  if (IsAtom(value) && value->Kind == akList && IsListToken(value->Left)) {
    node.RightParams = value->Left;
    node.RightCount = PairCount(node.RightParams);
    const TAtom* second = value->Right;
    if (IsAtom(second) && second->Kind == akList && IsListToken(second->Left)) {
      node.LeftParams = node.RightParams;
      node.LeftCount = node.RightCount;
      node.RightParams = second->Left;
      node.RightCount = PairCount(node.RightParams);
    }
  } else {
    // A plain variable: read by a call without inputs.
    priority = kDefaultPriority;
    leftAssociative = true;
  }

  const int32_t lowest = std::numeric_limits<int32_t>::min();
  if (!NumericChild(S, procedure, kwOnminleftinputs, lowest, node.MinLeft)) node.MinLeft = node.LeftCount;
  if (!NumericChild(S, procedure, kwOnmaxleftinputs, lowest, node.MaxLeft)) node.MaxLeft = node.LeftCount;
  if (!NumericChild(S, procedure, kwOnminrightinputs, lowest, node.MinRight)) node.MinRight = node.RightCount;
  if (!NumericChild(S, procedure, kwOnmaxrightinputs, lowest, node.MaxRight)) node.MaxRight = node.RightCount;
}

void TExpr::RaiseUnknown(const TExprNode& node, const std::u16string& text, const std::u16string& lastTried) {
  Place(node.Cell, node.StartPos, node.EndPos);
  std::u16string topic = u"unknown-var-proc";
  std::u16string file05;
  std::u16string file06;
  const size_t lastDot = text.rfind(u'.');
  if (lastDot != std::u16string::npos) {
    const std::u16string object = text.substr(0, lastDot);
    if (!object.empty() && S.FindName(object) != nullptr) {
      topic = u"unknown-var-proc-partial";
      file05 = object;
      file06 = text.substr(lastDot + 1);
    } else {
      const size_t firstDot = text.find(u'.');
      topic = u"unknown-var-proc-all";
      file05 = text.substr(0, firstDot);
      file06 = text.substr(firstDot + 1);
    }
  }
  Snippet(4, text);
  if (lastDot != std::u16string::npos) {
    Snippet(5, file05);
    Snippet(6, file06);
  }
  Snippet(7, lastTried);
  Raise(S.MessageText(u"UNKNOWNVAR", {text}), topic);
}

// --- linking -----------------------------------------------------------------------

bool TExpr::IsAncestorOrSelf(int32_t candidate, int32_t node) const {
  for (int32_t at = node; at >= 0; at = Nodes[static_cast<size_t>(at)].Parent)
    if (at == candidate) return true;
  return false;
}

int32_t TExpr::FindArgument(int32_t node, int direction, FindMode mode) const {
  const int32_t count = static_cast<int32_t>(Nodes.size());
  const TExprNode& a = Nodes[static_cast<size_t>(node)];
  for (int32_t e = node + direction; e >= 0 && e < count; e += direction) {
    const TExprNode& candidate = Nodes[static_cast<size_t>(e)];
    if (mode == FindMode::AnyRoot) {
      if (candidate.Parent < 0) return IsAncestorOrSelf(e, node) ? -1 : e;
      continue;
    }
    if (mode == FindMode::RootList) {
      if (candidate.Parent < 0 && candidate.IsData && IsListToken(candidate.Token) && !IsAncestorOrSelf(e, node))
        return e;
      continue;
    }
    const bool considered = candidate.Priority > a.Priority || (direction < 0 && candidate.RightCount == 0) ||
                            (direction > 0 && candidate.LeftCount == 0);
    if (!considered) return -1;
    const int32_t q = candidate.Parent;
    if (q < 0) return IsAncestorOrSelf(e, node) ? -1 : e;
    const int64_t qPriority = Nodes[static_cast<size_t>(q)].Priority;
    const bool between = (node < e && e < q) || (q < e && e < node);
    const bool nearer = std::abs(node - e) < std::abs(q - e);
    if (qPriority < a.Priority && (between || nearer)) return IsAncestorOrSelf(e, node) ? -1 : e;
  }
  return -1;
}

void TExpr::Detach(int32_t input) {
  TExprNode& e = Nodes[static_cast<size_t>(input)];
  if (e.Parent < 0) return;
  TExprNode& q = Nodes[static_cast<size_t>(e.Parent)];
  for (std::vector<int32_t>* list : {&q.LeftInputs, &q.RightInputs}) {
    auto it = std::find(list->begin(), list->end(), input);
    if (it != list->end()) {
      list->erase(it);
      break;
    }
  }
  e.Parent = -1;
}

void TExpr::AttachLeft(int32_t node, int32_t input) {
  Detach(input);
  Nodes[static_cast<size_t>(node)].LeftInputs.push_back(input);
  Nodes[static_cast<size_t>(input)].Parent = node;
  Changed = true;
}

void TExpr::AttachRight(int32_t node, int32_t input) {
  Detach(input);
  Nodes[static_cast<size_t>(node)].RightInputs.push_back(input);
  Nodes[static_cast<size_t>(input)].Parent = node;
  Changed = true;
}

void TExpr::Link() {
  const int64_t count = static_cast<int64_t>(Nodes.size());
  // Stealing inputs back and forth is not proven to settle: the passes are
  // capped, and reaching the cap is an internal fault.
  const int64_t cap = count * count + count;
  int64_t passes = 0;
  do {
    Changed = false;
    for (int32_t i = 0; i < static_cast<int32_t>(count); ++i) {
      const TExprNode& n = Nodes[static_cast<size_t>(i)];
      if (static_cast<int32_t>(n.LeftInputs.size()) < n.LeftCount) {
        const int32_t e = FindArgument(i, -1, FindMode::Normal);
        if (e >= 0) AttachLeft(i, e);
      }
      if (static_cast<int32_t>(Nodes[static_cast<size_t>(i)].RightInputs.size()) < n.RightCount) {
        const int32_t e = FindArgument(i, +1, FindMode::Normal);
        if (e >= 0) AttachRight(i, e);
      }
    }
    if (Changed && ++passes >= cap) FailInternal(u"EXPR:LINK", -1);
  } while (Changed);

  LinkHandlerLists();
  LinkLocals();
  for (TExprNode& n : Nodes) {
    std::sort(n.LeftInputs.begin(), n.LeftInputs.end());
    std::sort(n.RightInputs.begin(), n.RightInputs.end());
  }
}

void TExpr::LinkHandlerLists() {
  // MAKE and OB: [before-list] name value [after-list].
  for (int32_t i = 0; i < static_cast<int32_t>(Nodes.size()); ++i) {
    TExprNode& n = Nodes[static_cast<size_t>(i)];
    if ((n.Kind != ocMake && n.Kind != ocOb) || !IsWordToken(n.Token)) continue;
    n.HasBeforeList = false;
    auto rightCount = [&] { return Nodes[static_cast<size_t>(i)].RightInputs.size(); };
    if (rightCount() == 2 || rightCount() == 3) {
      const auto& inputs = Nodes[static_cast<size_t>(i)].RightInputs;
      const int32_t first = *std::min_element(inputs.begin(), inputs.end());
      if (IsListToken(Nodes[static_cast<size_t>(first)].Token) && Nodes[static_cast<size_t>(first)].IsData) {
        const int32_t e = FindArgument(i, +1, FindMode::Normal);
        if (e >= 0) AttachRight(i, e);
        Nodes[static_cast<size_t>(i)].HasBeforeList = true;
      }
    }
    if (rightCount() == 2 || rightCount() == 3) {
      const int32_t e = FindArgument(i, +1, FindMode::RootList);
      if (e >= 0) AttachRight(i, e);
    }
  }
}

void TExpr::LinkLocals() {
  // A root LOCAL takes every root to its right. Taking a root leaves the
  // roots after it roots, so one walk finds them all.
  const int32_t count = static_cast<int32_t>(Nodes.size());
  for (int32_t i = 0; i < count; ++i) {
    const TExprNode& n = Nodes[static_cast<size_t>(i)];
    if (n.Kind != ocLocal || n.Parent >= 0 || !IsWordToken(n.Token)) continue;
    for (int32_t e = i + 1; e < count; ++e)
      if (Nodes[static_cast<size_t>(e)].Parent < 0) AttachRight(i, e);
  }
}

// --- tree shape --------------------------------------------------------------------

std::vector<int32_t> TExpr::Roots() const {
  std::vector<int32_t> roots;
  for (int32_t i = 0; i < static_cast<int32_t>(Nodes.size()); ++i)
    if (Nodes[static_cast<size_t>(i)].Parent < 0) roots.push_back(i);
  return roots;
}

std::vector<int32_t> TExpr::NodeDepths() const {
  const size_t count = Nodes.size();
  std::vector<int32_t> depth(count, 0);
  std::vector<int32_t> path;
  for (size_t i = 0; i < count; ++i) {
    if (depth[i] != 0) continue;
    // Climb to a node of known depth (or a root), then fill in downwards.
    path.clear();
    int32_t at = static_cast<int32_t>(i);
    while (at >= 0 && depth[static_cast<size_t>(at)] == 0 && path.size() <= count) {
      path.push_back(at);
      at = Nodes[static_cast<size_t>(at)].Parent;
    }
    int32_t base = at >= 0 ? depth[static_cast<size_t>(at)] : 0;
    for (auto it = path.rbegin(); it != path.rend(); ++it) depth[static_cast<size_t>(*it)] = ++base;
  }
  return depth;
}

void TExpr::CheckDepth() {
  depths_ = NodeDepths();
  int32_t deepest = -1;
  int32_t most = 0;
  for (size_t i = 0; i < depths_.size(); ++i) {
    if (depths_[i] > most) {
      most = depths_[i];
      deepest = static_cast<int32_t>(i);
    }
  }
  if (deepest >= 0 && static_cast<int64_t>(most) + BaseDepth > kMaxExprDepth) FailTooDeep(deepest);
}

void TExpr::Span(int32_t node, int32_t& low, int32_t& high) const {
  low = high = node;
  std::vector<int32_t> pending{node};
  while (!pending.empty()) {
    const TExprNode& n = Nodes[static_cast<size_t>(pending.back())];
    pending.pop_back();
    for (const std::vector<int32_t>* list : {&n.LeftInputs, &n.RightInputs}) {
      for (int32_t input : *list) {
        low = std::min(low, input);
        high = std::max(high, input);
        pending.push_back(input);
      }
    }
  }
}

void TExpr::ComputeSpans() {
  // Children before parents: deepest first.
  const size_t count = Nodes.size();
  spanLow_.resize(count);
  spanHigh_.resize(count);
  int32_t most = 0;
  for (size_t i = 0; i < count; ++i) {
    spanLow_[i] = spanHigh_[i] = static_cast<int32_t>(i);
    most = std::max(most, depths_[i]);
  }
  // The nodes ordered by depth, deepest first (a counting sort, in index
  // order within a depth).
  std::vector<int32_t> firstOfDepth(static_cast<size_t>(most) + 2, 0);
  for (size_t i = 0; i < count; ++i) ++firstOfDepth[static_cast<size_t>(most - depths_[i]) + 1];
  for (size_t d = 1; d < firstOfDepth.size(); ++d) firstOfDepth[d] += firstOfDepth[d - 1];
  std::vector<int32_t> order(count);
  for (size_t i = 0; i < count; ++i)
    order[static_cast<size_t>(firstOfDepth[static_cast<size_t>(most - depths_[i])]++)] = static_cast<int32_t>(i);
  for (const int32_t i : order) {
    const int32_t parent = Nodes[static_cast<size_t>(i)].Parent;
    if (parent < 0) continue;
    const size_t p = static_cast<size_t>(parent);
    spanLow_[p] = std::min(spanLow_[p], spanLow_[static_cast<size_t>(i)]);
    spanHigh_[p] = std::max(spanHigh_[p], spanHigh_[static_cast<size_t>(i)]);
  }
}

int32_t TExpr::AbsorbRoots(TAtom* cell, bool endedAtComma) {
  const std::vector<int32_t> roots = Roots();
  int32_t mainRoot = -1;
  for (int32_t r : roots)
    if (mainRoot < 0 || Nodes[static_cast<size_t>(r)].Priority < Nodes[static_cast<size_t>(mainRoot)].Priority)
      mainRoot = r;
  if (roots.size() <= 1 && !endedAtComma) return mainRoot;

  const TExprNode& m = Nodes[static_cast<size_t>(mainRoot)];
  std::vector<int32_t> before;
  std::vector<int32_t> after;
  for (int32_t r : roots) {
    if (r < mainRoot) before.push_back(r);
    if (r > mainRoot) after.push_back(r);
  }
  const int32_t k = m.Kind;
  const bool excludedKind = k == ocQuote || k == ocValueOf || k == ocPeriod || k == ocRun || k == ocOutput ||
                            k == ocIfElse || k == ocWhile || k == ocRepeat || k == ocLocal;
  const bool canTake = !m.IsData && !excludedKind && !((k == ocMake || k == ocOb) && !before.empty());
  // How many roots on each side the main root can take.
  size_t leftRoom = 0;
  size_t rightRoom = 0;
  if (canTake) {
    const auto room = [](int32_t bound, size_t taken, size_t wanted) {
      if (bound < 0) return wanted;
      const int64_t free = static_cast<int64_t>(bound) - static_cast<int64_t>(taken);
      return free <= 0 ? size_t{0} : std::min(wanted, static_cast<size_t>(free));
    };
    leftRoom = room(m.MaxLeft, m.LeftInputs.size(), before.size());
    rightRoom = room(m.MaxRight, m.RightInputs.size(), after.size());
  }
  if (canTake && !endedAtComma && leftRoom == before.size() && rightRoom == after.size()) {
    for (int32_t r : before) AttachLeft(mainRoot, r);
    for (int32_t r : after) AttachRight(mainRoot, r);
    TExprNode& main = Nodes[static_cast<size_t>(mainRoot)];
    std::sort(main.LeftInputs.begin(), main.LeftInputs.end());
    std::sort(main.RightInputs.begin(), main.RightInputs.end());
    return mainRoot;
  }

  // The roots left over once the main root took the nearest ones its
  // bounds allow, and the text after a comma as one more.
  std::vector<int32_t> leftover(before.begin(), before.end() - static_cast<std::ptrdiff_t>(leftRoom));
  leftover.insert(leftover.end(), after.begin() + static_cast<std::ptrdiff_t>(rightRoom), after.end());
  RaiseUnmatched(cell, static_cast<int64_t>(roots.size()), leftover, endedAtComma);
}

std::u16string TExpr::CommaRestText() const {
  // The code pointer stands on the comma that ended the run.
  const TAtom* first = IsAtom(I.CodePointer) ? I.CodePointer->Right : nullptr;
  const TPosition* start = nullptr;
  const TPosition* end = nullptr;
  std::u16string printed;
  for (const TAtom* cell = first; IsAtom(cell); cell = cell->Right) {
    if (const TPosition* p = CellPosition(cell)) {
      if (start == nullptr) start = p;
      end = p;
    }
    if (!printed.empty()) printed += u' ';
    printed += TAtom::ToText(S, cell->Left);
  }
  if (start != nullptr && start->StartPos >= 1 && end->EndPos >= start->StartPos &&
      start->SourceText.SameObject(end->SourceText)) {
    const std::u16string& text = start->SourceText.str();
    const size_t from = static_cast<size_t>(start->StartPos - 1);
    if (from <= text.size()) return text.substr(from, static_cast<size_t>(end->EndPos - start->StartPos));
  }
  return printed;
}

// --- compiling ---------------------------------------------------------------------

void TExpr::Prepare() {
  endedAtComma_ = Collect();
  Link();
}

void TExpr::Compile(TAtom* cell, bool valueMode, bool valueContext, int32_t nestLevel) {
  Prepare();
  if (!valueMode) {
    CheckDepth();
    ComputeSpans();
    for (int32_t root : Roots()) {
      const TExprNode& n = Nodes[static_cast<size_t>(root)];
      AddCode(ocSpan);
      AddCode(n.StartPos);
      AddCode(n.EndPos);
      AddCode(ocStatement);
      Emit(root, valueContext, nestLevel);
      AddCode(ocPop);
    }
    while (IsAtom(I.CodePointer) && TAtom::IsComma(I.CodePointer->Left)) I.NextStatement();
    AddCode(ocEnd);
    AddCode(static_cast<int32_t>(AtomId(I.CodePointer)));
    return;
  }

  // Nothing before the first comma, or nothing at all, matches no value.
  if (Nodes.empty()) RaiseUnmatched(cell, 0, {}, endedAtComma_);
  const int32_t mainRoot = AbsorbRoots(cell, endedAtComma_);
  CheckDepth();
  ComputeSpans();
  if (nestLevel == 0) {
    const TExprNode& m = Nodes[static_cast<size_t>(mainRoot)];
    AddCode(ocSpan);
    AddCode(m.StartPos);
    AddCode(m.EndPos);
    AddCode(ocStatement);
  }
  Emit(mainRoot, valueContext, nestLevel);
}

// --- emission ----------------------------------------------------------------------

void TExpr::Emit(int32_t node, bool valueContext, int32_t nestLevel) {
  DepthGuard guard(S);
  if (guard.TooDeep()) FailTooDeep(node);
  const int32_t jumpIndex = CodeLength();
  const size_t at = static_cast<size_t>(node);
  const int32_t low = spanLow_[at];
  const int32_t high = spanHigh_[at];
  {
    const TExprNode& n = Nodes[at];
    for (auto it = n.RightInputs.rbegin(); it != n.RightInputs.rend(); ++it) Emit(*it, valueContext, nestLevel + 1);
    for (auto it = n.LeftInputs.rbegin(); it != n.LeftInputs.rend(); ++it) Emit(*it, valueContext, nestLevel + 1);
  }
  AddCode(ocSpan);
  AddCode(Nodes[static_cast<size_t>(low)].StartPos);
  AddCode(Nodes[static_cast<size_t>(high)].EndPos);

  TExprNode& n = Nodes[at];
  if (TAtom::IsExpression(n.Token)) {
    EmitExpression(node, valueContext, nestLevel);
  } else if (n.IsData) {
    AddCode(ocPush);
    AddCode(static_cast<int32_t>(AtomId(n.Token)));
  } else if (n.IsProcedure && IsExternalToken(S, n.Token)) {
    EmitExternal(node);
  } else if (n.IsProcedure) {
    EmitCall(node);
  } else {
    EmitSpecial(node, valueContext, jumpIndex, low, high);
  }
}

void TExpr::EmitExpression(int32_t node, bool valueContext, int32_t nestLevel) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const RestoreOnExit<TAtom*> scope(I.CodePointer, n.Token);
  const int32_t depth = BaseDepth + depths_[static_cast<size_t>(node)];
  auto inner = std::make_unique<TExpr>(I, false, depth);
  inner->Compile(n.Cell, true, n.Parent >= 0 ? true : valueContext, nestLevel + 1);
}

void TExpr::EmitExternal(int32_t node) {
  TExprNode& n = Nodes[static_cast<size_t>(node)];
  if (!I.ExternalBinder) FailInternal(u"EXPR:BIND", node);
  // The binder raises its errors at the token.
  const TPosition saved = S.CurrentPosition;
  PlaceNode(node);
  const TBoundRoutine bound = I.ExternalBinder(I, *n.Token);
  if (bound.OpCode != ocPrimitive && bound.OpCode != ocNative) FailInternal(u"EXPR:BIND", node);
  S.CurrentPosition = saved;
  AddCode(bound.OpCode);
  AddCode(bound.Index);
}

void TExpr::CheckCallBounds(int32_t node) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  struct Side {
    const char16_t* Name;
    int32_t Minimum;
    const std::vector<int32_t>* Inputs;
  };
  const Side sides[] = {{u"left", n.MinLeft, &n.LeftInputs}, {u"right", n.MinRight, &n.RightInputs}};
  for (const Side& side : sides) {
    const int32_t given = static_cast<int32_t>(side.Inputs->size());
    if (side.Minimum < 0 || given >= side.Minimum) continue;
    const char16_t* suffix = side.Minimum == 1 ? u"-1" : given > 0 ? u"-2" : u"-0";
    const std::u16string name = TAtom::ToText(S, n.Token);
    PlaceNode(node);
    Snippet(4, u"<@B>@" + name + u"<@/B>@");
    Snippet(5, NumberText(side.Minimum));
    Snippet(6, NumberText(given));
    Snippet(7, u"[ <@a href='find://" + name + u"'>@" + name + u"<@/a>@ ] ");
    Snippet(8, NodeListText(*side.Inputs));
    Raise(S.MessageText(u"ARGCOUNT", {name}), std::u16string(u"arg-count-user-") + side.Name + suffix);
  }
}

void TExpr::EmitCall(int32_t node) {
  AddCode(ocCall);
  AddCode(static_cast<int32_t>(AtomId(Nodes[static_cast<size_t>(node)].Token)));
  CheckCallBounds(node);
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const int32_t left = static_cast<int32_t>(n.LeftInputs.size());
  const int32_t right = static_cast<int32_t>(n.RightInputs.size());
  AddCode(MakeArity(left, right));
  // One (by-name flag, parameter word) pair per input in writing order;
  // inputs past the declared pairs get the words "#-1", "#-2", ... on the
  // left and "#1", "#2", ... on the right.
  auto pairs = [&](const TAtom* params, int32_t inputs, int32_t sign) {
    const TAtom* cell = params;
    int32_t extra = 0;
    for (int32_t i = 0; i < inputs; ++i) {
      const TAtom* nameCell = IsAtom(cell) ? cell->Right : nullptr;
      if (IsAtom(cell) && IsAtom(nameCell)) {
        const TAtom* marker = cell->Left;
        const bool byValue = IsWordToken(marker) && marker->Text == u":";
        AddCode(byValue ? 0 : 1);
        AddCode(static_cast<int32_t>(AtomId(Pin(nameCell->Left))));
        cell = nameCell->Right;
      } else {
        cell = nullptr;
        AddCode(0);
        std::u16string word = NumberText(sign * ++extra);
        word.insert(word.begin(), u'#');
        AddCode(static_cast<int32_t>(AtomId(Pin(NewWord(S, std::move(word))))));
      }
    }
  };
  pairs(n.LeftParams, left, -1);
  pairs(n.RightParams, right, +1);
}

void TExpr::EmitSpecial(int32_t node, bool valueContext, int32_t jumpIndex, int32_t low, int32_t high) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const int32_t left = static_cast<int32_t>(n.LeftInputs.size());
  const int32_t right = static_cast<int32_t>(n.RightInputs.size());
  const std::u16string& kwText = [&]() -> const std::u16string& {
    static const std::u16string none;
    switch (n.Kind) {
      case ocRun:
        return S.Keyword(kwRun);
      case ocWhile:
        return S.Keyword(kwWhile);
      case ocRepeat:
        return S.Keyword(kwRepeat);
      case ocLocal:
        return S.Keyword(kwLocal);
      case ocIfElse:
        return S.Keyword(kwIf);
      case ocMake:
        return S.Keyword(kwMake);
      case ocOb:
        return S.Keyword(kwOb);
      default:
        return none;
    }
  }();
  // The printed form of a one-input form's only input, for the help page.
  auto onlyInput = [&] {
    const int32_t input = n.RightInputs.front();
    const TExprNode& e = Nodes[static_cast<size_t>(input)];
    if (e.LeftInputs.empty() && e.RightInputs.empty()) return TAtom::ToText(S, e.Token);
    return SpanText(spanLow_[static_cast<size_t>(input)], spanHigh_[static_cast<size_t>(input)]);
  };
  auto inputIsList = [&] {
    const TExprNode& e = Nodes[static_cast<size_t>(n.RightInputs.front())];
    return e.IsData && IsListToken(e.Token);
  };
  auto oneInputError = [&](const std::u16string& topic) {
    Snippet(4, onlyInput());
    RaiseArgCount(node, topic, kwText);
  };

  AddCode(n.Kind);
  switch (n.Kind) {
    case ocValueOf:
      if (right > 1 || left > 0) FailInternal(u"EXPR:DUMP:525", node);
      if (right == 0) RaiseArgCount(node, u"arg-count-eval", u":");
      break;
    case ocQuote:
      if (right > 1 || left > 0) FailInternal(u"EXPR:DUMP:535", node);
      if (right == 0) RaiseArgCount(node, u"arg-count-quote", u"\"");
      break;
    case ocPeriod:
      if (right > 1 || left > 1) FailInternal(u"EXPR:DUMP:547", node);
      if (left == 0 && right == 0) RaiseArgCount(node, u"arg-count-period", u".");
      if (right == 0) RaiseArgCount(node, u"arg-count-period-right", u".");
      if (left == 0) RaiseArgCount(node, u"arg-count-period-left", u".");
      break;
    case ocRun:
      if (right > 1 || left > 0) FailInternal(u"EXPR:DUMP:575", node);
      if (right == 0) RaiseArgCount(node, u"arg-count-run", kwText);
      break;
    case ocWhile:
      if (right > 2 || left > 0) FailInternal(u"EXPR:DUMP:584", node);
      if (right == 0) {
        TAtom::PatchLastCode(CodeAtom(), ocWhileCounter);
        break;
      }
      if (right == 1) oneInputError(inputIsList() ? u"arg-count-while-list" : u"arg-count-while");
      AddCode(jumpIndex);
      break;
    case ocRepeat:
      if (right > 2 || left > 0) FailInternal(u"EXPR:DUMP:598", node);
      if (right == 0) {
        TAtom::PatchLastCode(CodeAtom(), ocRepeatCounter);
        break;
      }
      if (right == 1) {
        long double x = 0;
        const TAtom* token = Nodes[static_cast<size_t>(n.RightInputs.front())].Token;
        oneInputError(inputIsList()                ? u"arg-count-repeat-list"
                      : TAtom::TryNumber(token, x) ? u"arg-count-repeat-number"
                                                   : u"arg-count-repeat");
      }
      break;
    case ocOutput:
      if (right > 1 || left > 0) FailInternal(u"EXPR:DUMP:622", node);
      if (right == 0) TAtom::PatchLastCode(CodeAtom(), ocStop);
      break;
    case ocLocal:
      if (left > 0) FailInternal(u"EXPR:DUMP:632", node);
      if (right == 0) RaiseArgCount(node, u"arg-count-local", kwText);
      AddCode(MakeArity(left, right));
      break;
    case ocIfElse:
      if (left > 0) FailInternal(u"EXPR:DUMP:646", node);
      if (right == 0) RaiseArgCount(node, u"arg-count-if", kwText);
      if (right == 1) oneInputError(inputIsList() ? u"arg-count-if-list" : u"arg-count-if");
      if (right == 2) {
        if (n.Parent >= 0 || valueContext) RaiseArgCount(node, u"arg-count-if-else", kwText);
        TAtom::PatchLastCode(CodeAtom(), ocIf);
      }
      break;
    case ocMake:
    case ocOb: {
      const bool make = n.Kind == ocMake;
      if (left > 0) FailInternal(make ? u"EXPR:DUMP:705" : u"EXPR:DUMP:717", node);
      if (!make && right == 0) RaiseArgCount(node, u"arg-count-ob", kwText);
      if (right > 4) {
        Place(n.Cell, Nodes[static_cast<size_t>(low)].StartPos, Nodes[static_cast<size_t>(high)].EndPos);
        Snippet(4, NumberText(right));
        Snippet(5, NodeListText(n.RightInputs));
        Raise(S.MessageText(u"ARGCOUNT", {kwText}), make ? u"arg-count-make-more" : u"arg-count-ob-more");
      }
      AddCode(MakeArity(left, right));
      AddCode(static_cast<int32_t>(AtomId(Nodes[static_cast<size_t>(low)].Cell)));
      AddCode(static_cast<int32_t>(AtomId(Nodes[static_cast<size_t>(high)].Cell)));
      AddCode(n.HasBeforeList ? 1 : 0);
      break;
    }
    case ocPrint:
    case ocDump:
      AddCode(MakeArity(left, right));
      break;
    default:
      FailInternal(u"EXPR:EMIT", node);
  }
}

// --- entry points ------------------------------------------------------------------

namespace {

// The cell after a run and the commas that follow it.
TAtom* NextStatementCell(TAtom* cell) {
  while (IsAtom(cell) && !TAtom::IsComma(cell->Left)) cell = cell->Right;
  while (IsAtom(cell) && TAtom::IsComma(cell->Left)) cell = cell->Right;
  return IsAtom(cell) ? cell : nullptr;
}

}  // namespace

CompileResult CompileCurrentRun(TInterpreter& interp) {
  TAtom* cell = interp.CodePointer;
  if (!IsAtom(cell)) return CompileResult::NotCompiled;
  interp.CurrentCodeAtom = cell;
  TCompilerState& state = interp.Compiler();
  const size_t tempMark = state.TempAtoms.size();
  TAtom::ClearCode(*cell);

  // Undoes a failed compile: no half-emitted code stays behind, and the
  // atoms pinned for it are released.
  auto rollback = [&] {
    TAtom::ClearCode(*cell);
    while (state.TempAtoms.size() > tempMark) {
      TAtom* atom = state.TempAtoms.back();
      state.TempAtoms.pop_back();
      state.TempSet.erase(atom);
      TAtom::DecRef(atom);
    }
    state.AfterQuoteOrColon = false;
  };

  const TPosition saved = interp.S.CurrentPosition;
  try {
    if (!CompileMakeShape(interp, cell)) {
      TExpr expr(interp, true);
      expr.Compile(cell, false, false, 0);
    }
  } catch (const CompileAborted&) {
    rollback();
    interp.S.CurrentPosition = saved;
    interp.CodePointer = NextStatementCell(cell);
    return CompileResult::NotCompiled;
  } catch (...) {
    rollback();
    interp.CodePointer = cell;
    throw;
  }
  return CompileResult::Compiled;
}

const TFastCode* FastCodeWhenAskedAgain(TAtom::Extension& ext, bool now) {
  if (ext.Fast && ext.Fast->Generation == ext.CodeGeneration) return ext.Fast.get();
  if (!ext.Code || ext.Code->empty()) return nullptr;
  if (!now && ext.FastAskedFor != ext.CodeGeneration + 1) {
    ext.FastAskedFor = ext.CodeGeneration + 1;
    return nullptr;
  }
  if (!ext.Fast) ext.Fast = std::make_unique<TFastCode>();
  TranslateToFastCode(*ext.Code, *ext.Fast);
  ext.Fast->Generation = ext.CodeGeneration;
  return ext.Fast.get();
}

void ReleaseTempAtoms(TInterpreter& interp) {
  TCompilerState& state = interp.Compiler();
  for (TAtom* atom : state.TempAtoms) TAtom::DecRef(atom);
  state.TempAtoms.clear();
  state.TempSet.clear();
}
