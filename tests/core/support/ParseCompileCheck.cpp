#include "tests/core/support/ParseCompileCheck.h"

#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "tests/core/support/CodeListing.h"

namespace {

// A new state every so many inputs keeps the pool (which nothing collects
// yet) and the pin-count walk small.
constexpr int kInputsPerState = 50;

using Params = std::vector<std::pair<const char16_t*, const char16_t*>>;

TAtom* ParamList(TStructure& s, const Params& params) {
  TAtom* head = nullptr;
  TAtom* tail = nullptr;
  for (const auto& [marker, name] : params) {
    AppendToList(s, NewWord(s, marker), head, tail);
    AppendToList(s, NewWord(s, name), head, tail);
  }
  return head;
}

TAtom* Child(TStructure& s, TAtom& parent, const char16_t* name, TAtom* value) {
  TAtom* v = NewVariable(s, name, value);
  TAtom::SetParent(s, *v, &parent);
  return v;
}

// A procedure: its value is [left-params right-params body...] or
// [right-params body...].
TAtom* Procedure(TStructure& s, TAtom& parent, const char16_t* name, const Params* left, const Params& right) {
  TAtom* body = NewListCell(s, NewWord(s, u"output"), NewListCell(s, NewNumber(s, 1), nullptr));
  TAtom* value = NewListCell(s, ParamList(s, right), body);
  if (left != nullptr) value = NewListCell(s, ParamList(s, *left), value);
  return Child(s, parent, name, value);
}

// Procedures with odd priorities, bounds, by-name inputs, a lambda and the
// accessors of an object that wraps a control.
void BuildFixture(TStructure& s) {
  TAtom& root = *s.Root;
  const Params one = {{u":", u"x"}};
  const Params two = {{u":", u"a"}, {u":", u"b"}};
  const Params none = {};
  Procedure(s, root, u"sq", nullptr, one);
  TAtom* plus = Procedure(s, root, u"plus", &one, one);
  Child(s, *plus, u"onpriority", NewNumber(s, 100));
  Procedure(s, root, u"minus", &one, one);
  Procedure(s, root, u"fact", &one, none);
  TAtom* many = Procedure(s, root, u"many", nullptr, two);
  Child(s, *many, u"onminrightinputs", NewNumber(s, 1));
  Child(s, *many, u"onmaxrightinputs", NewNumber(s, 4));
  Child(s, *many, u"onmaxleftinputs", NewWord(s, u"-1"));
  const Params byName = {{u"\"", u"v"}, {u":", u"w"}};
  Procedure(s, root, u"byname", &one, byName);
  TAtom* strong = Procedure(s, root, u"strong", &one, one);
  Child(s, *strong, u"onpriority", NewNumber(s, 1e7L));
  TAtom* weak = Procedure(s, root, u"weak", &one, one);
  Child(s, *weak, u"onpriority", NewNumber(s, -1e7L));
  TAtom* nanp = Procedure(s, root, u"nanp", nullptr, one);
  Child(s, *nanp, u"onpriority", NewWord(s, u"nan"));
  TAtom* infp = Procedure(s, root, u"infp", &one, one);
  Child(s, *infp, u"onpriority", NewWord(s, u"inf"));
  TAtom* assoc = Procedure(s, root, u"assoc", &one, one);
  Child(s, *assoc, u"onleftassociation", NewWord(s, u"true"));
  TAtom* lam = Procedure(s, root, u"lam", nullptr, none);
  Procedure(s, *lam, u"lambda", nullptr, one);
  Child(s, root, u"v", NewNumber(s, 5));
  TAtom* obj = Child(s, root, u"obj", nullptr);
  Procedure(s, *obj, u"get_size", nullptr, none);
  Procedure(s, *obj, u"put_size", nullptr, one);
  Child(s, *obj, u"handle", NewWord(s, u"h"));
  Procedure(s, *obj, u"put_", nullptr, two);
  Procedure(s, *obj, u"get_", nullptr, one);
}

int64_t PinTotal(const TStructure& s) {
  int64_t total = 0;
  for (const TAtom* a = s.LiveAtoms; a != nullptr; a = a->Chain) total += a->RefCount;
  return total;
}

bool IsCell(const TAtom* a) { return IsAtom(a) && (a->Kind == akList || a->Kind == akExpression); }

}  // namespace

ParseCompileChecker::ParseCompileChecker() { Rebuild(); }
ParseCompileChecker::~ParseCompileChecker() = default;

void ParseCompileChecker::Rebuild() {
  interp_.reset();
  state_ = std::make_unique<TestState>();
  interp_ = std::make_unique<TInterpreter>(*state_->S);
  BuildFixture(*state_->S);
  inputs_ = 0;
}

std::string ParseCompileChecker::Check(std::u16string_view text, bool armed) {
  if (inputs_ >= kInputsPerState) Rebuild();
  ++inputs_;
  TStructure& s = *state_->S;
  state_->ArmErrors(armed);
  s.ClearErrorTrace();
  const int64_t pinsBefore = PinTotal(s) - static_cast<int64_t>(interp_->Compiler().TempAtoms.size());
  TContext* const frameBefore = s.Frame();

  std::string broken;
  for (ParseAs as : {ParseAs::Statements, ParseAs::Words}) {
    TParseResult parsed;
    try {
      parsed = ParseText(interp_->Scanner(), text, u"fuzz", 0, 0, as, false);
    } catch (const LanguageError&) {
      continue;
    } catch (const std::exception& e) {
      return std::string("parser threw a non-language exception: ") + e.what();
    }
    if (!parsed.Ok && parsed.List != nullptr) return "a failed parse returned a list";
    if (!armed && parsed.Ok == false && !s.ErrorTrace.empty()) return "a suppressed parse error left a trace entry";
    if (parsed.Ok && as == ParseAs::Statements) {
      ++counts_.Parsed;
      PinnedAtom keep(parsed.List);
      broken = CompileList(parsed.List);
      if (!broken.empty()) return broken;
    }
  }
  s.ClearErrorTrace();
  if (s.Frame() != frameBefore) return "the current frame changed";
  const int64_t pinsAfter = PinTotal(s) - static_cast<int64_t>(interp_->Compiler().TempAtoms.size());
  if (pinsAfter != pinsBefore)
    return "pin counts moved from " + std::to_string(pinsBefore) + " to " + std::to_string(pinsAfter);
  return {};
}

// Compiles every run of the list and of every list nested in it.
std::string ParseCompileChecker::CompileList(TAtom* list) {
  TStructure& s = *state_->S;
  std::vector<TAtom*> lists{list};
  // Elements can be shared; a list is compiled once.
  size_t budget = 100000;
  while (!lists.empty()) {
    TAtom* head = lists.back();
    lists.pop_back();
    for (TAtom* cell = head; IsCell(cell) && budget > 0; cell = cell->Right, --budget)
      if (IsCell(cell->Left)) lists.push_back(cell->Left);
    if (!IsAtom(head) || head->Kind != akList) continue;

    interp_->CodePointer = head;
    while (IsAtom(interp_->CodePointer)) {
      TAtom* start = interp_->CodePointer;
      if (TAtom::IsComma(start->Left)) {
        interp_->CodePointer = start->Right;
        continue;
      }
      CompileResult result = CompileResult::NotCompiled;
      try {
        result = CompileCurrentRun(*interp_);
      } catch (const LanguageError&) {
        ++counts_.CompileErrors;
        if (TAtom::CodeCount(*start) != 0) return "a failed compile left code behind";
        // Go on after the failed run.
        TAtom* next = start->Right;
        while (IsAtom(next) && !TAtom::IsComma(next->Left)) next = next->Right;
        interp_->CodePointer = next;
        continue;
      } catch (const std::exception& e) {
        return std::string("compiler threw a non-language exception: ") + e.what();
      }
      if (result == CompileResult::NotCompiled) {
        ++counts_.CompileErrors;
        if (TAtom::CodeCount(*start) != 0) return "a suppressed compile error left code behind";
        if (interp_->CodePointer == start) return "a suppressed compile error did not move on";
        continue;
      }
      ++counts_.Compiled;
      if (!start->Code()) return "a successful compile left no code";
      const TCodeListing listing = DecodeCode(s, *start->Code());
      if (listing.Malformed || !listing.EndsWithEnd) return "malformed code:\n" + listing.Text();
      if (interp_->CodePointer == start) return "the code pointer did not move";
      // The next statement must lie further along this list.
      bool ahead = interp_->CodePointer == nullptr;
      for (TAtom* c = start->Right; !ahead && IsAtom(c); c = c->Right) ahead = c == interp_->CodePointer;
      if (!ahead) return "the code pointer left the list";
    }
  }
  return {};
}
