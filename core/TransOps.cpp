// The opcodes of the special forms: variable values, dotted names, PRINT,
// MAKE and OB, RUN of a list or a program file, IF, REPEAT and LOCAL. Every
// list a construct runs goes through RunCode, so the constructs nest freely.

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "core/Expr.h"
#include "core/Host.h"
#include "core/Lexem.h"
#include "core/LogoLib.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/TransOps.h"

namespace fs = std::filesystem;

void RaiseAt(TInterpreter& in, std::u16string_view key, std::u16string message, int32_t start, int32_t end) {
  TPosition& current = in.S.CurrentPosition;
  current.StartPos = start;
  current.EndPos = end;
  current.Topic = std::u16string(key);
  in.S.RaiseError(std::move(message), key);
}

namespace {

std::u16string DecimalText(long long value) { return Utf8ToUtf16(std::to_string(value)); }

// The text under which a word or number names something.
std::u16string_view NameText(TStructure& s, const TAtom* a, std::u16string& buffer) {
  if (a->Kind == akWord) return a->Text;
  buffer = TAtom::AsString(s, a);
  return buffer;
}

// Changes back to the current folder of its creation however RUN ends.
class CurrentFolderScope {
public:
  CurrentFolderScope() {
    std::error_code ec;
    saved_ = fs::current_path(ec);
    valid_ = !ec;
  }
  ~CurrentFolderScope() {
    if (!valid_) return;
    std::error_code ec;
    if (fs::current_path(ec) != saved_) fs::current_path(saved_, ec);
  }
  CurrentFolderScope(const CurrentFolderScope&) = delete;
  CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;

private:
  fs::path saved_;
  bool valid_ = false;
};

void ChangeFolder(const std::u16string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  fs::current_path(fs::path(Utf16ToUtf8(folder)), ec);  // a vanished folder leaves the current one
}

}  // namespace

// --- the opcodes ---------------------------------------------------------------------

// ocValueOf: the value of the variable named by the popped word.
void OpValueOf(TInterpreter& in) {
  TStructure& s = in.S;
  const Popped name = Pop(in);
  if (!TAtom::IsWordOrNumber(name.Value)) {
    RaiseInputError(in, u"bad-arg-eval-atom", BadArgMessage(s, 1, u":"), name.Value, name.Start, name.End);
    YieldNothing(in, 0);
    return;
  }
  std::u16string buffer;
  const std::u16string_view text = NameText(s, name.Value, buffer);
  if (TAtom* variable = s.FindName(text, name.Value)) {
    if (variable->FirstChild == nullptr) {
      Push(in, variable->Left);
      return;
    }
    // An object is handed on as a copy. The copy is made detached and only
    // then linked under the root, so that copying the root itself (or an
    // ancestor of the root's children) cannot copy into itself.
    TAtom* copy = NewVariable(s, u"[~]", nullptr);
    TAtom::CopyInto(s, *variable, *copy);
    if (IsAtom(s.Root)) TAtom::SetParent(s, *copy, s.Root);
    Push(in, copy);
    return;
  }

  const std::u16string full(text);
  if (s.CurrentPosition.Line != -1) {
    WriteErrorFile(s, 4, full);
    if (full.find(u'.') != std::u16string::npos) {
      if (s.LastScope != nullptr) {
        WriteErrorFile(s, 5, std::u16string_view(full).substr(0, full.rfind(u'.')));
        WriteErrorFile(s, 6, s.LastName);
      } else {
        std::u16string rest = full;
        std::u16string first;
        s.SplitPath(rest, first);
        WriteErrorFile(s, 5, first);
        WriteErrorFile(s, 6, rest);
      }
    }
  }
  const std::u16string_view key = full.find(u'.') == std::u16string::npos ? u"unknown-var-eval"
                                  : s.LastScope != nullptr                ? u"unknown-var-eval-partial"
                                                                          : u"unknown-var-eval-all";
  RaiseAt(in, key, s.MessageText(u"UNKNOWNVAR", {full}), name.Start, name.End);
  YieldNothing(in, 0);
}

// ocPeriod: joins two names with a period.
void OpPeriod(TInterpreter& in) {
  TStructure& s = in.S;
  const Popped left = Pop(in);
  if (!TAtom::IsWordOrNumber(left.Value)) {
    RaiseInputError(in, u"bad-arg-period-left-atom", BadArgMessage(s, 1, u"."), left.Value, left.Start, left.End);
    YieldNothing(in, 1);
    return;
  }
  std::u16string buffer;
  std::u16string text(NameText(s, left.Value, buffer));
  if (!text.empty() && text.back() == u'.') text.pop_back();
  const Popped right = Pop(in);
  if (!TAtom::IsWordOrNumber(right.Value)) {
    RaiseInputError(in, u"bad-arg-period-right-atom", BadArgMessage(s, 2, u"."), right.Value, right.Start, right.End);
    YieldNothing(in, 0);
    return;
  }
  text += u'.';
  text += NameText(s, right.Value, buffer);
  Push(in, NewWord(s, std::move(text)));
}

// ocPrint: joins the printed inputs with blanks; prints them as a line when
// the value is discarded (a PRINT statement), and yields the text.
void OpPrint(TInterpreter& in, TCodeCursor& cursor, bool quiet) {
  TStructure& s = in.S;
  const int32_t arity = cursor.Next();
  const int32_t count = ArityLeft(arity) + ArityRight(arity);
  std::u16string text;
  for (int32_t i = 0; i < count; ++i) {
    const Popped p = PopToPosition(in);
    if (i > 0) text += u' ';
    if (TAtom::IsVariable(p.Value)) {
      text += TAtom::ToTextBare(s, p.Value->Left);
      // A copy made by ocValueOf has served its purpose once printed.
      if (p.Value->Text == u"[~]") TAtom::Unlink(p.Value);
    } else {
      text += TAtom::ToTextBare(s, p.Value);
    }
  }
  if (!quiet && cursor.Peek() == ocPop) PrintToOutput(s, text);
  Push(in, NewWord(s, std::move(text)));
}

// ocMake / ocOb: pops the inputs the right count and the before-list flag
// call for and hands them to the assignment.
void OpAssign(TInterpreter& in, TCodeCursor& cursor, int32_t opcode) {
  TStructure& s = in.S;
  const int32_t arity = cursor.Next();
  TMakeInputs inputs;
  inputs.FirstCell = s.AtomById(static_cast<uint32_t>(cursor.Next()));
  inputs.LastCell = s.AtomById(static_cast<uint32_t>(cursor.Next()));
  const bool beforeList = cursor.Next() == 1;
  const int32_t count = ArityRight(arity);
  inputs.Value = SystemValue;
  if (count > 4) {
    // The compiler never writes more than four inputs.
    RaiseInternalError(s, u"TRANS:OPMAKE:ARITY");
    YieldNothing(in, count);
    return;
  }
  auto take = [&](TAtom*& value, int32_t& start, int32_t& end) {
    const Popped p = Pop(in);
    value = p.Value;
    start = p.Start;
    end = p.End;
  };
  const bool left = count == 4 || (beforeList && count >= 2);
  const bool value = count == 4 || (count >= 2 && !(beforeList && count == 2));
  const bool right = count == 4 || (count == 3 && !beforeList);
  if (left) take(inputs.LeftList, inputs.LeftStart, inputs.LeftEnd);
  if (count >= 1) take(inputs.Name, inputs.NameStart, inputs.NameEnd);
  if (value) take(inputs.Value, inputs.ValueStart, inputs.ValueEnd);
  if (right) take(inputs.RightList, inputs.RightStart, inputs.RightEnd);
  // The popped atoms are no longer held by the stack: OpMake pins them
  // before it does anything that could run code.
  OpMake(in, opcode, inputs);
}

// The name of a file that RUN reads: ".zav" is added when it has no extension.
static std::u16string ProgramFileName(std::u16string name) {
  const size_t slash = name.find_last_of(u"/\\");
  const size_t base = slash == std::u16string::npos ? 0 : slash + 1;
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot <= base) name += u".zav";
  return name;
}

// The statements of the program file RUN names: from an open source window
// holding it, else from the file itself. A file that is missing or cannot be
// parsed gives the empty list.
static TAtom* ParseProgramFile(TInterpreter& in, const TAtom* nameAtom) {
  TStructure& s = in.S;
  std::u16string buffer;
  const std::u16string name = ProgramFileName(std::u16string(NameText(s, nameAtom, buffer)));

  // The scanner's position record belongs to whatever parse was under way
  // when this statement started.
  const RestoreOnExit<TPosition> keepParsePosition(s.ParsePosition);

  if (SourceView* view = in.host().findSource(name)) {
    // The window's text is the program: its errors are reported as such.
    ChangeFolder(view->fileFolder());
    in.Scanner().ScannerErrorsArmed = true;
    const TParseResult parsed = ParseText(in.Scanner(), view->text(), view->title(), 0, 0);
    return parsed.Ok ? parsed.List : nullptr;
  }

  const std::u16string path = LocateFile(s, name);
  if (!FileExists(path)) return nullptr;
  const std::u16string text = ReadTextFile(s, path);
  std::u16string folder = Utf8ToUtf16(fs::path(Utf16ToUtf8(path)).parent_path().string());
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  if (folder != s.ProgramFolder) ChangeFolder(folder);

  in.Scanner().ScannerErrorsArmed = false;
  const size_t traceLength = s.ErrorTrace.size();
  const RestoreOnExit<TPosition> keepCurrentPosition(s.CurrentPosition);
  try {
    const TParseResult parsed = ParseText(in.Scanner(), text, path, 0, 0);
    return parsed.Ok ? parsed.List : nullptr;
  } catch (const LanguageError&) {
    // The file simply runs nothing; its error is not the program's, and
    // must not be reported later as if it were.
    TruncateErrorTrace(in, traceLength);
    return nullptr;
  }
}

// ocRun: runs a list, a procedure's body, or a program file.
void OpRun(TInterpreter& in) {
  const CurrentFolderScope keepFolder;
  const Popped input = PopToPosition(in);

  TAtom* list = nullptr;
  if (TAtom::IsWordOrNumber(input.Value)) {
    list = ParseProgramFile(in, input.Value);
  } else {
    list = input.Value;
    if (TAtom::IsVariable(list)) list = list->Left;
    // A procedure's value starts with its input list and its local list:
    // skip up to two leading list elements so that its body runs.
    for (int skipped = 0; skipped < 2; ++skipped) {
      if (IsAtom(list) && list->Kind == akList && TAtom::IsList(list->Left))
        list = list->Right;
      else
        break;
    }
    if (IsAtom(list) && list->Kind != akList) list = nullptr;  // only lists run
  }

  const uint8_t runState = in.RunState;
  const PinnedAtom pinList(list);
  RunList(in, list);
  Push(in, in.LastValue);
  if (in.RunState != rsStop && in.RunState != runState) SetRunState(in, runState);
}

// ocIfElse (three inputs) and ocIf (two inputs).
void OpIf(TInterpreter& in, bool withElse) {
  TStructure& s = in.S;
  const std::u16string& keyword = s.Keyword(kwIf);
  const Popped condition = Pop(in);
  if (TAtom::IsTrue(s, condition.Value)) {
    const Popped thenList = Pop(in);
    if (withElse) Pop(in);
    if (!TAtom::IsList(thenList.Value)) {
      RaiseInputError(in, u"bad-arg-if-then-list", BadArgMessage(s, 2, keyword), thenList.Value, thenList.Start,
                      thenList.End);
      YieldNothing(in, 0);
      return;
    }
    RunList(in, thenList.Value);
  } else {
    if (!TAtom::IsFalse(s, condition.Value)) {
      RaiseInputError(in, TAtom::IsList(condition.Value) ? u"bad-arg-if-list" : u"bad-arg-if-boolean",
                      BadArgMessage(s, 1, keyword), condition.Value, condition.Start, condition.End);
      YieldNothing(in, withElse ? 2 : 1);
      return;
    }
    Pop(in);  // the then-list
    if (withElse) {
      const Popped elseList = Pop(in);
      if (!TAtom::IsList(elseList.Value)) {
        RaiseInputError(in, u"bad-arg-if-else-list", BadArgMessage(s, 3, keyword), elseList.Value, elseList.Start,
                        elseList.End);
        YieldNothing(in, 0);
        return;
      }
      RunList(in, elseList.Value);
    } else {
      in.LastValue = SystemValue;
    }
  }
  Push(in, in.LastValue);
}

// ocRepeat: runs the list count times (a fraction adds one round).
void OpRepeat(TInterpreter& in) {
  TStructure& s = in.S;
  const RestoreOnExit<int64_t> keepCounter(s.RepeatCounter);
  const std::u16string& keyword = s.Keyword(kwRepeat);
  const Popped countInput = Pop(in);
  long double count = 0;
  if (!TAtom::TryNumber(countInput.Value, count)) {
    RaiseInputError(in, u"bad-arg-repeat-number", BadArgMessage(s, 1, keyword), countInput.Value, countInput.Start,
                    countInput.End);
    YieldNothing(in, 1);
    return;
  }
  const Popped list = Pop(in);
  if (!TAtom::IsList(list.Value)) {
    RaiseInputError(in, u"bad-arg-repeat-list", BadArgMessage(s, 2, keyword), list.Value, list.Start, list.End);
    YieldNothing(in, 0);
    return;
  }
  // Held for the whole loop: the pump may run code that drops every other
  // reference to it.
  const PinnedAtom pinList(list.Value);
  RunRepeat(in, list.Value, count);
  Push(in, in.LastValue);
}

// ocLocal: creates the named variables in the current frame.
void OpLocal(TInterpreter& in, TCodeCursor& cursor, bool quiet) {
  TStructure& s = in.S;
  const int32_t count = ArityRight(cursor.Next());
  const std::u16string& keyword = s.Keyword(kwLocal);
  const bool statement = !quiet && cursor.Peek() == ocPop;
  if (statement || count < 2) {
    std::u16string buffer;
    for (int32_t i = 1; i <= count; ++i) {
      const Popped name = PopToPosition(in);
      if (!TAtom::IsWordOrNumber(name.Value)) {
        if (s.CurrentPosition.Line != -1) WriteErrorFile(s, 7, DecimalText(i));
        RaiseInputError(in, u"bad-arg-local-atom", BadArgMessage(s, i, keyword), name.Value, name.Start, name.End);
        YieldNothing(in, count - i);
        return;
      }
      const std::u16string_view text = NameText(s, name.Value, buffer);
      if (s.FindLocal(text) == nullptr) s.CreateVariable(s.Frame()->Owner, text, false, nullptr);
    }
    Push(in, in.LastValue);
    return;
  }

  // LOCAL with several inputs yields no value.
  Popped first{nullptr, -1, -1};
  Popped last{nullptr, -1, -1};
  for (int32_t i = 0; i < count; ++i) {
    const Popped p = Pop(in);
    if (i == 0) first = p;
    last = p;
  }
  if (s.CurrentPosition.Line != -1) {
    WriteErrorFile(s, 4, DecimalText(count));
    WriteErrorFile(s, 5, TAtom::ToText(s, first.Value));
  }
  RaiseAt(in, u"arg-count-local-function", s.MessageText(u"ARGCOUNT", {keyword}), first.Start, last.End);
  YieldNothing(in, 0);
}
