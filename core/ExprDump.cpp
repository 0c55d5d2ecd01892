// The structure dump: six renderings of a statement's precedence tree for the
// error history's help page (an outline, two nested box structures, an
// assembly-like listing, a list notation for a program-defined inspector and
// a fully parenthesised line). The run is collected and linked exactly as for
// compiling, in dump mode so that unknown names stay calls, but nothing is
// emitted and no input count is checked: the views show what the user wrote,
// also when it does not compile.
//
// Every view is appended to while the tree is walked once, so the work stays
// proportional to the size of the views.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Expr.h"
#include "core/Trans.h"
#include "core/Vars.h"

namespace {

std::u16string Decimal(int64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

// The views are built from many small pieces.
std::u16string Join(std::initializer_list<std::u16string_view> parts) {
  std::u16string out;
  for (std::u16string_view part : parts) out += part;
  return out;
}

// <tag>content</tag>
std::u16string Element(std::u16string_view tag, std::u16string_view content) {
  return Join({u"<", tag, u">", content, u"</", tag, u">"});
}

std::u16string Escaped(const TStructure& s, std::u16string_view text) { return EscapeXml(s, text, false); }

// Two blanks per level.
std::u16string Indent(int32_t level) {
  std::u16string out;
  for (int32_t i = 0; i < level; ++i) out += u"<sp/><sp/>";
  return out;
}

// A parenthesis in the colour of its level: four colours, repeating.
std::u16string Coloured(char16_t parenthesis, int32_t level) {
  return Element(Join({u"fnt", Decimal(level % 4)}), std::u16string_view(&parenthesis, 1));
}

// A token text quoted for the list notation: "'" ... "'", an apostrophe
// inside doubled so that the notation reads back as the same word.
std::u16string QuotedForNotation(std::u16string_view text) {
  std::u16string out = u" \"'";
  for (const char16_t c : text) {
    out += c;
    if (c == u'\'') out += c;
  }
  out += u'\'';
  return out;
}

// The "'~~' [level]" style markers of the inspector notation.
std::u16string LevelMark(std::u16string_view marker, int32_t level) {
  return Join({u"'", marker, u"' [", Decimal(level), u"]"});
}

// A literal as the views show it: its printed value, without the memory
// window's bold marks (code 2), which are not allowed in XML.
std::u16string LiteralText(TStructure& s, const TAtom* token) {
  std::u16string printed;
  TAtom::DumpTree(s, token, u"", printed);
  printed.erase(std::remove(printed.begin(), printed.end(), u'\x02'), printed.end());
  return Escaped(s, printed);
}

// A colon or quote whose only input is one literal on its right: shown as
// one item, the sign and the word side by side.
bool IsFlatNode(const std::vector<TExprNode>& nodes, const TExprNode& n) {
  return (n.Kind == ocValueOf || n.Kind == ocQuote) && n.LeftInputs.empty() && n.RightInputs.size() == 1 &&
         nodes[static_cast<size_t>(n.RightInputs.front())].IsData;
}

// The name words of a parameter list's marker/name pairs.
std::vector<std::u16string> ParameterNames(TStructure& s, const TAtom* params) {
  std::vector<std::u16string> names;
  for (const TAtom* cell = params; IsAtom(cell) && IsAtom(cell->Right); cell = cell->Right->Right)
    names.push_back(TAtom::ToText(s, cell->Right->Left));
  return names;
}

// The declared input slots of one side of a node, in writing order. The
// special forms name their own. The counters WHILE and REPEAT and the STOP
// form of OUTPUT are complete without inputs, so they then declare none.
std::vector<std::u16string> DeclaredSlots(TStructure& s, const TExprNode& n, bool left) {
  if (n.IsProcedure) return ParameterNames(s, left ? n.LeftParams : n.RightParams);
  const size_t given = (left ? n.LeftInputs : n.RightInputs).size();
  using Slots = std::vector<std::u16string>;
  if (n.Kind == ocPeriod) return Slots{left ? u"object" : u"field"};
  if (left) return {};
  switch (n.Kind) {
    case ocPrint:
      return Slots(given, u"thing");
    case ocLocal:
      return Slots(given, u"name");
    case ocMake:
    case ocOb:
      if (given == 1) return Slots{u"name"};
      if (given == 2) return Slots{u"name", u"value"};
      return {};
    case ocRun:
      return Slots{u"commands"};
    case ocOutput:
      return given == 0 ? Slots{} : Slots{u"result"};
    case ocIfElse:
      return given == 3 ? Slots{u"condition", u"then", u"else"} : Slots{u"condition", u"then"};
    case ocWhile:
      return given == 0 ? Slots{} : Slots{u"condition", u"commands"};
    case ocRepeat:
      return given == 0 ? Slots{} : Slots{u"count", u"commands"};
    default:
      return {};
  }
}

// The name of input index on a side: its declared slot, else "#" and its
// number among the extra inputs, negative on the left, as compiled code
// names them.
std::u16string SlotName(const std::vector<std::u16string>& declared, size_t index, bool left) {
  if (index < declared.size()) return declared[index];
  const int64_t extra = static_cast<int64_t>(index - declared.size()) + 1;
  return Join({u"#", Decimal(left ? -extra : extra)});
}

// <left name="slot"> or <right name="slot">.
std::u16string SlotTag(const TStructure& s, std::u16string_view side, std::u16string_view slot) {
  return Join({u"<", side, u" name=\"", Escaped(s, slot), u"\">"});
}

// Appends to both box views.
void AppendBoxes(TDumpViews& out, std::u16string_view braced, std::u16string_view boxed) {
  out.Braced += braced;
  out.Boxed += boxed;
}

void AppendLiteral(TStructure& s, const TExprNode& n, int32_t level, TDumpViews& out) {
  const std::u16string text = LiteralText(s, n.Token);
  out.Unfolded += Join({Indent(level), text});
  out.Parened += text;
  out.Notation += TAtom::IsList(n.Token) ? Join({LevelMark(u"~[~", level), QuotedForNotation(text)}) : text;
  out.AsmCode += Join({u"PUSH ", text, u"\r\n"});
  AppendBoxes(out, Element(u"braced-flat-node", text), Element(u"boxed-flat-node", text));
}

// Undoes the pins the dump adds to TempAtoms (rewritten names, inserted
// property cells): they are needed only while the dump's nodes refer to them.
class DumpPins {
public:
  explicit DumpPins(TCompilerState& state) : state_(state), mark_(state.TempAtoms.size()) {}
  ~DumpPins() {
    while (state_.TempAtoms.size() > mark_) {
      TAtom* atom = state_.TempAtoms.back();
      state_.TempAtoms.pop_back();
      state_.TempSet.erase(atom);
      TAtom::DecRef(atom);
    }
  }
  DumpPins(const DumpPins&) = delete;
  DumpPins& operator=(const DumpPins&) = delete;

private:
  TCompilerState& state_;
  size_t mark_;
};

// The frame of the statement's owner for the dump's name look-ups.
class FrameScope {
public:
  FrameScope(TStructure& s, TAtom* owner) : s_(s) { s_.EnterFrame(owner); }
  ~FrameScope() { s_.LeaveFrame(); }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

private:
  TStructure& s_;
};

}  // namespace

// --- runs ----------------------------------------------------------------------------

void TExpr::Dump(TAtom* cell, bool valueMode, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out) {
  const RestoreOnExit<TAtom*> walk(I.CodePointer, cell);
  DumpMode = true;
  Prepare();
  const std::vector<int32_t> roots = valueMode ? AbsorbRootsForDump() : Roots();
  CheckDumpDepth();
  if (valueMode)
    DumpValueRoots(roots, parenthesise, level, depth, out);
  else
    DumpStatementRoots(roots, parenthesise, level, depth, out);
}

std::vector<int32_t> TExpr::AbsorbRootsForDump() {
  // The main root: the lowest priority among the roots that are not data,
  // else (only data, as in "(1 2)") the lowest of all.
  const std::vector<int32_t> roots = Roots();
  int32_t mainRoot = -1;
  auto priority = [&](int32_t r) { return Nodes[static_cast<size_t>(r)].Priority; };
  auto lower = [&](int32_t r) { return mainRoot < 0 || priority(r) < priority(mainRoot); };
  for (int32_t r : roots)
    if (!Nodes[static_cast<size_t>(r)].IsData && lower(r)) mainRoot = r;
  if (mainRoot < 0)
    for (int32_t r : roots)
      if (lower(r)) mainRoot = r;

  // It takes the other roots as compiling would, but whatever its bounds. A
  // literal or a nested expression shows no inputs, so it takes none: the
  // roots then stay side by side and every token is still shown.
  if (roots.size() <= 1) return roots;
  const TExprNode& m = Nodes[static_cast<size_t>(mainRoot)];
  if (m.IsData || TAtom::IsExpression(m.Token)) return roots;
  for (int32_t r : roots) {
    if (r < mainRoot) AttachLeft(mainRoot, r);
    if (r > mainRoot) AttachRight(mainRoot, r);
  }
  TExprNode& absorbing = Nodes[static_cast<size_t>(mainRoot)];
  std::sort(absorbing.LeftInputs.begin(), absorbing.LeftInputs.end());
  std::sort(absorbing.RightInputs.begin(), absorbing.RightInputs.end());
  return {mainRoot};
}

void TExpr::CheckDumpDepth() {
  // The compiler's limit: a statement refused as too deep has no views.
  depths_ = NodeDepths();
  const int32_t deepest = depths_.empty() ? 0 : *std::max_element(depths_.begin(), depths_.end());
  if (static_cast<int64_t>(deepest) + BaseDepth > kMaxExprDepth) throw CompileAborted();
}

void TExpr::DumpStatementRoots(const std::vector<int32_t>& roots, bool parenthesise, int32_t level, int32_t depth,
                               TDumpViews& out) {
  const bool top = depth == 0;
  const size_t bracedStart = out.Braced.size();
  const size_t boxedStart = out.Boxed.size();
  if (top) AppendBoxes(out, u"<braced>", u"<boxed><boxed-node><left>");
  for (int32_t root : roots) {
    if (top) {
      out.Unfolded += u"<unfolded>";
      out.Parened += u"<parened>";
      out.AsmCode += u"<asmcode>";
    }
    DumpNode(root, parenthesise, level, depth, out);
    out.AsmCode += u"POP<nl/>RET<nl/>";
    if (top) {
      out.Unfolded += u"</unfolded>";
      out.Parened += u"</parened>";
      out.AsmCode += u"</asmcode>";
    }
  }
  if (!top) return;
  AppendBoxes(out, u"</braced>", u"</left></boxed-node></boxed>");
  // A statement without tokens has no box views at all.
  if (std::u16string_view(out.Braced).substr(bracedStart) == u"<braced></braced>") out.Braced.resize(bracedStart);
  if (std::u16string_view(out.Boxed).substr(boxedStart) == u"<boxed><boxed-node><left></left></boxed-node></boxed>")
    out.Boxed.resize(boxedStart);
}

void TExpr::DumpValueRoots(const std::vector<int32_t>& roots, bool parenthesise, int32_t level, int32_t depth,
                           TDumpViews& out) {
  const std::u16string indent = Indent(level);
  const bool single = roots.size() == 1;
  if (parenthesise) {
    out.Parened += Coloured(u'(', level);
    out.Unfolded += Join({indent, u"(<nl/>"});
  }
  out.Notation += single ? std::u16string(u" (") : Join({u" ( ", LevelMark(u"~~~", level), u" "});
  for (size_t i = 0; i < roots.size(); ++i) {
    if (i > 0) {
      out.Unfolded += u"<nl/>";
      out.Parened += u' ';
      // Side by side, each later root is a value of its own that is dropped.
      if (Nodes.size() > 1 && depth > 0) out.AsmCode += u"POP<nl/>";
    }
    out.Notation += u' ';
    DumpNode(roots[i], false, level, single ? depth : depth + 1, out);
  }
  out.Notation += u')';
  if (parenthesise) {
    out.Parened += Coloured(u')', level);
    out.Unfolded += Join({u"<nl/>", indent, u")"});
  }
}

// --- nodes ---------------------------------------------------------------------------

void TExpr::DumpNode(int32_t node, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out) {
  DepthGuard guard(S);
  if (guard.TooDeep()) throw CompileAborted();
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  if (TAtom::IsExpression(n.Token) && !n.IsData)
    DumpExpression(node, level, depth, out);
  else if (n.IsData)
    AppendLiteral(S, n, level, out);
  else
    DumpOperation(node, parenthesise, level, depth, out);
}

void TExpr::DumpExpression(int32_t node, int32_t level, int32_t depth, TDumpViews& out) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const bool parenthesise = TAtom::Length(n.Token) > 1;
  const int32_t innerLevel = Nodes.size() > 1 ? level + 1 : level;
  auto inner = std::make_unique<TExpr>(I, false, BaseDepth + depths_[static_cast<size_t>(node)]);
  inner->Dump(n.Token, true, parenthesise, innerLevel, depth + 1, out);
}

void TExpr::DumpOperation(int32_t node, bool parenthesise, int32_t level, int32_t depth, TDumpViews& out) {
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const std::u16string token = Escaped(S, TAtom::ToText(S, n.Token));
  const size_t inputs = n.LeftInputs.size() + n.RightInputs.size();
  const bool flat = IsFlatNode(Nodes, n);
  const bool nested = !flat && inputs > 0;  // nested boxes, else a flat one
  const std::u16string_view bracedTag = nested ? u"braced-node" : u"braced-flat-node";
  const std::u16string_view boxedTag = nested ? u"boxed-node" : u"boxed-flat-node";
  const std::u16string indent = Indent(level);
  const size_t bracedStart = out.Braced.size();
  const size_t boxedStart = out.Boxed.size();

  AppendBoxes(out, Join({u"<", bracedTag, u">"}), Join({u"<", boxedTag, u">"}));
  out.Unfolded += indent;
  if (!flat && parenthesise) {
    out.Unfolded += u'(';
    out.Parened += Coloured(u'(', level);
  }
  if (parenthesise) out.Notation += u" (";

  // The displayed name: the full name of the procedure the token resolved
  // to, else the token itself; a quote shows none.
  std::u16string name;
  if (n.Kind != ocQuote) name = n.Procedure != nullptr ? Escaped(S, TAtom::FullName(n.Procedure)) : token;
  if (!flat) name = Element(u"cite", name);
  const std::u16string cite = Element(u"cite", token);
  const std::u16string head = inputs > 0 ? Element(u"middle", cite) : cite;
  AppendBoxes(out, head, head);
  out.Unfolded += name;
  if (!flat && !n.RightInputs.empty()) out.Unfolded += u"<nl/>";

  // Infix order in the line views: left inputs, the token, right inputs.
  DumpSlots(node, true, level, depth, out);
  out.Parened += token;
  out.Notation += Join({u" ", LevelMark(u"~~", level), QuotedForNotation(token), u" "});
  if (flat) out.Notation += u'"';
  DumpSlots(node, false, level, depth, out);

  if (!flat) {
    if (inputs > 0) out.Unfolded += indent;
    if (parenthesise) {
      out.Unfolded += u')';
      out.Parened += Coloured(u')', level);
    }
  }
  if (parenthesise) out.Notation += u") ";
  // The node's own line follows the lines of all its inputs.
  if (n.Kind != ocQuote) {
    const std::u16string count = inputs > 0 ? Element(u"term", Decimal(static_cast<int64_t>(inputs))) : u"";
    out.AsmCode += Join({u"CALL ", name, count, u"\r\n"});
  }
  AppendBoxes(out, Join({u"</", bracedTag, u">"}), Join({u"</", boxedTag, u">"}));

  if (flat) {
    // The sign and its word as one item.
    const TAtom* word = Nodes[static_cast<size_t>(n.RightInputs.front())].Token;
    const std::u16string both = Join({token, Escaped(S, TAtom::ToText(S, word))});
    out.Braced.resize(bracedStart);
    out.Boxed.resize(boxedStart);
    AppendBoxes(out, Element(u"braced-flat-node", both), Element(u"boxed-flat-node", both));
  }
}

void TExpr::DumpSlots(int32_t node, bool left, int32_t level, int32_t depth, TDumpViews& out) {
  // One side's inputs in writing order, each in a slot named by the node's
  // declaration, then the declared slots left without input as bad nodes.
  const TExprNode& n = Nodes[static_cast<size_t>(node)];
  const bool flat = IsFlatNode(Nodes, n);
  const std::u16string_view side = left ? u"left" : u"right";
  const std::u16string closing = Join({u"</", side, u">"});
  const std::vector<std::u16string> declared = DeclaredSlots(S, n, left);
  const std::vector<int32_t>& given = left ? n.LeftInputs : n.RightInputs;
  for (size_t i = 0; i < given.size(); ++i) {
    const std::u16string tag = SlotTag(S, side, SlotName(declared, i, left));
    AppendBoxes(out, tag, tag);
    out.Notation += u' ';
    if (!left && !flat) out.Parened += u"<sp/>";
    // A flat node's word is drawn beside it, not below.
    const bool below = left || !flat;
    DumpNode(given[i], true, below ? level + 1 : 0, below ? depth : 0, out);
    if (!flat) out.Unfolded += u"<nl/>";
    AppendBoxes(out, closing, closing);
    if (left) out.Parened += u"<sp/>";
    out.Notation += u' ';
  }
  for (size_t i = given.size(); i < declared.size(); ++i) {
    const std::u16string tag = SlotTag(S, side, declared[i]);
    AppendBoxes(out, Join({tag, u"<braced-bad-node/>", closing}), Join({tag, u"<boxed-bad-node/>", closing}));
  }
}

// --- the entry point -----------------------------------------------------------------

TDumpViews ExprStructureDump(TInterpreter& interp, TAtom* cell, TAtom* frameOwner) {
  TDumpViews views;
  const FrameScope frame(interp.S, frameOwner);
  const RestoreOnExit<TAtom*> codePointer(interp.CodePointer, cell);
  const RestoreOnExit<TAtom*> codeAtom(interp.CurrentCodeAtom, cell);
  const DumpPins pins(interp.Compiler());
  try {
    auto expr = std::make_unique<TExpr>(interp, true);
    expr->Dump(cell, false, true, 0, 0, views);
  } catch (const CompileAborted&) {
    views = TDumpViews();
  }
  return views;
}
