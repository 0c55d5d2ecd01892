// Compile errors: every key with its message, position and help-page
// parameter files, and the internal checks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

namespace fs = std::filesystem;

// A fresh interpreter with message formats that show their value, and a
// help folder that receives the parameter files.
class ErrorEnv {
public:
  ErrorEnv() : folder_(fs::temp_directory_path() / ("zavta-expr-" + std::to_string(::getpid()))) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::vector<std::pair<std::u16string, std::u16string>> pairs = {{u"ARGCOUNT", u"args %s"},
                                                                    {u"UNKNOWNVAR", u"unknown %s"},
                                                                    {u"UNMATCHED", u"unmatched %s"},
                                                                    {u"TOODEEP", u"deep %s"},
                                                                    {u"SYSTEMERROR", u"system"}};
    for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
    S.Language.SetTexts(pairs);
    S.LoadKeywords();
    S.HelpFolder = Utf8ToUtf16(folder_.string()) + u"/";
  }
  ~ErrorEnv() { fs::remove_all(folder_); }

  TAtom* Define(std::u16string_view path, std::u16string_view valueText) {
    return S.CreateVariable(S.Root, path, false, valueText.empty() ? nullptr : Parse(valueText));
  }
  void Child(TAtom* procedure, int keyword, long double value) {
    S.CreateVariable(procedure, S.Keyword(keyword), true, NewNumber(S, value));
  }
  TAtom* Parse(std::u16string_view text) { return ParseText(I.Scanner(), text, u"test").List; }

  // The parameter file number as text; "(none)" when it was not written.
  std::u16string File(const char* number) const {
    const fs::path path = folder_ / (std::string("$$$error-") + number + "$$$.txt");
    std::ifstream in(path, std::ios::binary);
    if (!in) return u"(none)";
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return text;
  }
  // How a parameter file holds the text.
  std::u16string Escaped(const std::u16string& text) { return EscapeXml(S, text, true); }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};

private:
  fs::path folder_;
};

struct ErrorCase {
  const char16_t* Text;
  std::function<void(ErrorEnv&)> Setup;
  const char* Topic;
  const char16_t* Message;
  int32_t Start;
  int32_t End;
  std::map<std::string, std::u16string> Files;  // number -> content; "(none)" for absent
};

void RunCases(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    ErrorEnv env;
    if (c.Setup) c.Setup(env);
    TAtom* list = env.Parse(c.Text);
    env.I.CodePointer = list;
    try {
      CompileCurrentRun(env.I);
      ADD_FAILURE() << "compiled";
      continue;
    } catch (const LanguageError& e) {
      EXPECT_EQ(U8(e.Message()), U8(c.Message));
    }
    EXPECT_EQ(U8(env.S.CurrentPosition.Topic), c.Topic);
    EXPECT_EQ(env.S.CurrentPosition.StartPos, c.Start);
    EXPECT_EQ(env.S.CurrentPosition.EndPos, c.End);
    EXPECT_EQ(TAtom::CodeCount(*list), 0);
    for (const auto& [number, content] : c.Files) {
      const std::u16string expected = content == u"(none)" ? content : env.Escaped(content);
      EXPECT_EQ(U8(env.File(number.c_str())), U8(expected)) << "file " << number;
    }
  }
}

const std::u16string kNone = u"(none)";

std::u16string Items(std::initializer_list<std::u16string> items) {
  std::u16string out = u"<@UL>@";
  for (const auto& item : items) out += u"<@LI>@" + item + u"\r\n<@/LI>@";
  return out + u"<@/UL>@";
}

TEST(CompileErrors, SpecialFormInputCounts) {
  RunCases({
      {u"print :", nullptr, "arg-count-eval", u"args :", 7, 8, {{"04", kNone}}},
      {u"print \"", nullptr, "arg-count-quote", u"args \"", 7, 8, {{"04", kNone}}},
      {u".", nullptr, "arg-count-period", u"args .", 1, 2, {{"04", kNone}}},
      {u"1 .", nullptr, "arg-count-period-right", u"args .", 3, 4, {}},
      {u". 1", nullptr, "arg-count-period-left", u"args .", 1, 2, {}},
      {u"run", nullptr, "arg-count-run", u"args run", 1, 4, {{"04", kNone}}},
      {u"while 1", nullptr, "arg-count-while", u"args while", 1, 6, {{"04", u"1"}}},
      {u"while [a]", nullptr, "arg-count-while-list", u"args while", 1, 6, {{"04", u"[a]"}}},
      {u"repeat \"x", nullptr, "arg-count-repeat", u"args repeat", 1, 7, {{"04", u"\"x"}}},
      {u"repeat [a]", nullptr, "arg-count-repeat-list", u"args repeat", 1, 7, {{"04", u"[a]"}}},
      {u"repeat 3", nullptr, "arg-count-repeat-number", u"args repeat", 1, 7, {{"04", u"3"}}},
      {u"local", nullptr, "arg-count-local", u"args local", 1, 6, {{"04", kNone}}},
      {u"if", nullptr, "arg-count-if", u"args if", 1, 3, {{"04", kNone}}},
      {u"if \"true", nullptr, "arg-count-if", u"args if", 1, 3, {{"04", u"\"true"}}},
      {u"if [a]", nullptr, "arg-count-if-list", u"args if", 1, 3, {{"04", u"[a]"}}},
      {u"print if \"true [a]", nullptr, "arg-count-if-else", u"args if", 7, 9, {{"04", kNone}}},
      {u"ob", nullptr, "arg-count-ob", u"args ob", 1, 3, {{"04", kNone}}},
      // The range widens from the first to the last token of the form.
      {u"(make [h] \"x 5 [a] [b])",
       nullptr,
       "arg-count-make-more",
       u"args make",
       2,
       23,
       {{"04", u"5"}, {"05", Items({u"[h]", u"\"x", u"5", u"[a]", u"[b]"})}}},
      {u"(ob \"o 1 [a] [b] [c])",
       nullptr,
       "arg-count-ob-more",
       u"args ob",
       2,
       21,
       {{"04", u"5"}, {"05", Items({u"\"o", u"1", u"[a]", u"[b]", u"[c]"})}}},
  });
}

TEST(CompileErrors, UserProcedureMinimumInputs) {
  // lr takes one input on each side.
  auto lr = [](std::vector<std::pair<int, long double>> children) {
    return [children](ErrorEnv& env) {
      TAtom* p = env.Define(u"lr", u"[: a] [: b] 1");
      for (const auto& [keyword, value] : children) env.Child(p, keyword, value);
    };
  };
  const std::u16string name = u"<@B>@lr<@/B>@";
  const std::u16string link = u"[ <@a href='find://lr'>@lr<@/a>@ ] ";
  RunCases({
      // Both sides short: the left side is reported.
      {u"lr",
       lr({}),
       "arg-count-user-left-1",
       u"args lr",
       1,
       3,
       {{"04", name}, {"05", u"1"}, {"06", u"0"}, {"07", link}, {"08", Items({})}}},
      {u"1 lr 2",
       lr({{kwOnminleftinputs, 2}}),
       "arg-count-user-left-2",
       u"args lr",
       3,
       5,
       {{"05", u"2"}, {"06", u"1"}, {"08", Items({u"1"})}}},
      {u"lr 2", lr({{kwOnminleftinputs, 2}}), "arg-count-user-left-0", u"args lr", 1, 3, {{"05", u"2"}, {"06", u"0"}}},
      {u"1 lr", lr({}), "arg-count-user-right-1", u"args lr", 3, 5, {{"05", u"1"}, {"06", u"0"}, {"07", link}}},
      {u"1 lr 2",
       lr({{kwOnminrightinputs, 2.4L}}),
       "arg-count-user-right-2",
       u"args lr",
       3,
       5,
       {{"04", name}, {"05", u"2"}, {"06", u"1"}, {"08", Items({u"2"})}}},
      {u"1 lr", lr({{kwOnminrightinputs, 3}}), "arg-count-user-right-0", u"args lr", 3, 5, {{"05", u"3"}}},
  });
}

TEST(CompileErrors, UnknownNames) {
  auto objects = [](ErrorEnv& env) {
    env.Define(u"obj", u"");
    env.Define(u"box", u"");
    env.S.CreateVariable(env.S.Root, u"box.handle", false, NewNumber(env.S, 1));
  };
  RunCases({
      {u"zork",
       nullptr,
       "unknown-var-proc",
       u"unknown zork",
       1,
       5,
       {{"04", u"zork"}, {"05", kNone}, {"06", kNone}, {"07", u"put_zork"}}},
      {u"print zork", nullptr, "unknown-var-proc", u"unknown zork", 7, 11, {{"07", u"get_zork"}}},
      {u"print obj.zork",
       objects,
       "unknown-var-proc-partial",
       u"unknown obj.zork",
       7,
       15,
       {{"04", u"obj.zork"}, {"05", u"obj"}, {"06", u"zork"}, {"07", u"obj.get_zork"}}},
      {u"print no.such.x",
       objects,
       "unknown-var-proc-all",
       u"unknown no.such.x",
       7,
       16,
       {{"05", u"no"}, {"06", u"such.x"}, {"07", u"no.such.get_x"}}},
      // A control's variable without the generic accessor: that was the last name tried.
      {u"box.size 1",
       objects,
       "unknown-var-proc-partial",
       u"unknown box.size",
       1,
       9,
       {{"05", u"box"}, {"06", u"size"}, {"07", u"box.put_"}}},
  });
}

TEST(CompileErrors, UnmatchedParentheses) {
  auto f = [](ErrorEnv& env) { env.Child(env.Define(u"f", u"[: a] 1"), kwOnmaxrightinputs, 2); };
  RunCases({
      {u"print (1 2)",
       nullptr,
       "does-not-match-par-exprs-par",
       u"unmatched (",
       7,
       12,
       {{"04", u"2"}, {"05", Items({u"1"})}}},
      // What follows a comma counts as one more root.
      {u"print (1 , 2 3)",
       nullptr,
       "does-not-match-par-exprs-par",
       u"unmatched (",
       7,
       16,
       {{"04", u"2"}, {"05", Items({u"2 3"})}}},
      // f takes one root beyond its own input; the next is left over.
      {u"print (f 1 2 3)",
       f,
       "does-not-match-par-exprs-par",
       u"unmatched (",
       7,
       16,
       {{"04", u"3"}, {"05", Items({u"3"})}}},
  });
}

TEST(CompileErrors, DepthAndInternalChecks) {
  std::u16string deep;
  for (int i = 0; i < 1001; ++i) deep += u"neg ";
  deep += u"7";
  auto neg = [](ErrorEnv& env) { env.Define(u"neg", u"[: x] 1"); };
  auto noBinder = [](ErrorEnv& env) { env.I.ExternalBinder = nullptr; };
  RunCases({
      {deep.c_str(), neg, "too-deep", u"deep 7", 1001 * 4 + 1, 1001 * 4 + 2, {}},
      {u"print dll.lib.fn", noBinder, "internal-error", u"system EXPR:BIND", 7, 17, {{"04", u"EXPR:BIND"}}},
  });
}

TEST(CompileErrors, SuppressedErrorsEndTheCompileToo) {
  // Each of these would leave unfinished or unsound code if the compile went on.
  const char16_t* texts[] = {
      u"(make [h] \"x 5 [a] [b])", u"if \"true", u"lr", u"print zork", u"dll.x.y", u"print (1 , 2)"};
  for (const char16_t* text : texts) {
    SCOPED_TRACE(U8(text));
    ErrorEnv env;
    env.Define(u"lr", u"[: a] [: b] 1");
    TAtom* list = env.Parse(text);
    env.T.ArmErrors(false);
    env.I.CodePointer = list;
    EXPECT_EQ(CompileCurrentRun(env.I), CompileResult::NotCompiled);
    EXPECT_EQ(TAtom::CodeCount(*list), 0);
    EXPECT_EQ(env.I.CodePointer, nullptr);
  }
}

}  // namespace
