// The compiler's shortcut for the two statement shapes that libraries are
// made of: `make local " name value` (what `to ... end` becomes) and
// `make " name value` (procedure attributes), with a list or number value.
// Their precedence tree is always the same, so their code is written
// directly instead of collecting, linking and emitting nodes; it is word for
// word what the compiler emits for them.

#include <array>

#include "core/Expr.h"
#include "core/Trans.h"
#include "core/Vars.h"

namespace {

// Stack beyond the compiler's reserve that emitting these few nested nodes
// could need; with less left the compiler itself decides.
constexpr uintptr_t kShapeStackHeadroom = 64 * 1024;
// Tokens of the longer shape.
constexpr size_t kMostCells = 5;

// A word the compiler classifies by its text (not a number).
bool IsPlainWord(const TAtom* token) {
  long double number = 0;
  return IsAtom(token) && token != SystemValue && token->Kind == akWord && !TAtom::TryNumber(token, number);
}

// A word the compiler takes as the special form `kind`.
bool IsFormWord(const TStructure& s, const TAtom* token, int32_t kind) {
  if (!IsPlainWord(token)) return false;
  const std::u16string& text = token->Text;
  if (text == u"\"" || text == u":" || text == u".") return false;
  int32_t right = 0;
  return SpecialFormOf(s, text, right) == kind;
}

bool IsQuoteWord(const TAtom* token) {
  if (!IsPlainWord(token)) return false;
  const std::u16string& text = token->Text;
  return text == u"\"";
}

// A value the compiler pushes as it is, classified before the tests of
// word texts: a list (the empty one too), a number, a word that reads as
// one.
bool IsLiteralValue(const TAtom* token) {
  if (token == nullptr) return true;
  if (token == SystemValue) return false;
  long double number = 0;
  return token->Kind == akList || token->Kind == akNumber || (token->Kind == akWord && TAtom::TryNumber(token, number));
}

// The statement's cells up to the comma or the end of its list, at most
// `most`; 0 when it has more.
size_t StatementCells(TAtom* cell, TAtom** cells, size_t most) {
  size_t count = 0;
  while (IsAtom(cell) && !TAtom::IsComma(cell->Left)) {
    if (count == most) return 0;
    cells[count++] = cell;
    cell = cell->Right;
  }
  return count;
}

// The code of one statement, gathered and then added to its cell at once.
class ShapeWriter {
public:
  ShapeWriter(TAtom* const* cells, size_t count) : cells_(cells) {
    for (size_t i = 0; i < count; ++i) TAtom::SpanOf(cells[i], starts_[i], ends_[i]);
  }
  void Word(int32_t word) { words_[size_++] = word; }
  // The position marker of the tokens first to last.
  void Span(size_t first, size_t last) {
    Word(ocSpan);
    Word(starts_[first]);
    Word(ends_[last]);
  }
  void Push(size_t index) {
    Span(index, index);
    Word(ocPush);
    Word(static_cast<int32_t>(AtomId(cells_[index]->Left)));
  }
  // The quote taking the name at `name`.
  void QuotedName(size_t name) {
    Push(name);
    Span(name - 1, name);
    Word(ocQuote);
  }
  void WriteInto(TAtom& cell) const { TAtom::AppendCode(cell, words_.data(), size_); }

private:
  TAtom* const* cells_;
  std::array<int32_t, kMostCells> starts_{-1, -1, -1, -1, -1};
  std::array<int32_t, kMostCells> ends_{-1, -1, -1, -1, -1};
  std::array<int32_t, 48> words_{};
  size_t size_ = 0;
};

}  // namespace

bool CompileMakeShape(TInterpreter& interp, TAtom* cell) {
  TStructure& s = interp.S;
  if (!s.FastPaths || s.StackRemaining() < TStructure::kStackReserve + kShapeStackHeadroom) return false;
  TAtom* cells[kMostCells];
  const size_t count = StatementCells(cell, cells, kMostCells);
  if (count != 4 && count != 5) return false;
  const bool local = count == 5;
  auto token = [&](size_t i) { return cells[i]->Left; };
  if (!IsFormWord(s, token(0), ocMake) || (local && !IsFormWord(s, token(1), ocLocal))) return false;
  const size_t name = local ? 3 : 2;
  const size_t value = name + 1;
  if (!IsQuoteWord(token(name - 1)) || !IsPlainWord(token(name)) || !IsLiteralValue(token(value))) return false;

  // The tree: MAKE takes LOCAL (or the quote) and the value, LOCAL the
  // quote, the quote the name; its inputs are emitted last first.
  ShapeWriter out(cells, count);
  out.Span(0, 0);
  out.Word(ocStatement);
  out.Push(value);
  out.QuotedName(name);
  if (local) {
    out.Span(1, name);
    out.Word(ocLocal);
    out.Word(MakeArity(0, 1));
  }
  out.Span(0, value);
  out.Word(ocMake);
  out.Word(MakeArity(0, 2));
  out.Word(static_cast<int32_t>(AtomId(cells[0])));
  out.Word(static_cast<int32_t>(AtomId(cells[value])));
  out.Word(0);  // no handler list before the name
  out.Word(ocPop);

  TAtom* next = cells[value]->Right;
  while (IsAtom(next) && TAtom::IsComma(next->Left)) next = next->Right;
  out.Word(ocEnd);
  out.Word(static_cast<int32_t>(AtomId(next)));
  out.WriteInto(*cell);
  interp.CodePointer = next;
  interp.Compiler().AfterQuoteOrColon = false;
  return true;
}
