// Number syntax and format, conversions, truth values, kind names, printed
// forms, usage lines, the memory-window dump and the three-way comparison.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "core/Atoms.h"
#include "core/LogoLib.h"
#include "core/Text.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

namespace {

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();

class Button : public WrappedObject {
public:
  std::u16string ClassName() const override { return u"TButton"; }
};

class AtomValues : public ::testing::Test {
protected:
  AtomValues() {
    s.Language.Texts[u"BADNUMBER"] = u"%s is not a number";
    s.Language.Texts[u"BADSTRING"] = u"%s is not a word";
    s.Language.Texts[u"MISSINGARG"] = u"%s needs %s";
    s.Language.Texts[u"USERLOCK"] = u"%s is locked";
  }
  TAtom* Num(long double x) { return NewNumber(s, x); }
  TAtom* Word(std::u16string text) { return NewWord(s, std::move(text)); }
  TAtom* List(std::initializer_list<TAtom*> items) { return ListOf(s, items); }
  TAtom* Expr(std::initializer_list<TAtom*> items) {
    TAtom* head = nullptr;
    for (auto it = std::rbegin(items); it != std::rend(items); ++it) head = NewExpressionCell(s, *it, head);
    return head;
  }
  TAtom* Var(std::u16string name, TAtom* value, TAtom* parent = nullptr) {
    TAtom* v = NewVariable(s, std::move(name), value);
    if (parent) TAtom::SetParent(s, *v, parent);
    return v;
  }
  std::string Text(const TAtom* a) { return U8(TAtom::ToText(s, a)); }
  std::string Dump(const TAtom* a, std::u16string_view indent = u"") {
    std::u16string out = u"old";
    TAtom::DumpTree(s, a, indent, out);
    return U8(out);
  }
  // The message of the language error f raises, or "<none>".
  std::string Raised(const std::function<void()>& f) {
    try {
      f();
    } catch (const LanguageError& e) {
      return U8(e.Message());
    }
    return "<none>";
  }
  bool Number(const char* text, long double& x) { return TAtom::TryNumber(Word(Utf8ToUtf16(text)), x); }
  TAtom* Odd() {  // an atom of a kind this code does not know
    TAtom* odd = Word(u"x");
    odd->Kind = static_cast<AtomKind>(9);
    return odd;
  }

  TestState ts;
  TStructure& s = *ts.S;
};

// A nested list n levels deep: [[[...[innermost]...]]].
TAtom* DeepList(TStructure& s, int n, TAtom* innermost) {
  TAtom* a = NewListCell(s, innermost, nullptr);
  for (int i = 1; i < n; ++i) a = NewListCell(s, a, nullptr);
  return a;
}

TEST_F(AtomValues, NumberSyntax) {
  const std::pair<const char*, long double> accepted[] = {
      {"12", 12},    {"007", 7},        {"+5", 5},
      {"-5", -5},    {"-0.25", -0.25L}, {"1e3", 1000},
      {"1E3", 1000}, {"1e+3", 1000},    {"1e-3", 0.001L},
      {"1.", 1},     {"1.e5", 100000},  {"0.1", 0.1L},
      {"INF", kInf}, {"inf", kInf},     {"12345678901234567890123", 12345678901234567890123.0L}};
  for (const auto& [text, value] : accepted) {
    long double x = -1;
    EXPECT_TRUE(Number(text, x)) << text;
    EXPECT_EQ(x, value) << text;
  }
  long double x = 0;
  EXPECT_TRUE(Number("NAN", x) && std::isnan(x));
  EXPECT_TRUE(Number("nan", x) && std::isnan(x));
  for (const char* text : {"", ".5", "1e", "1e+", "+", "-", "0x10", " 1", "1 ", "-inf", "Inf", "abc", "1.5.2", "1e5.5",
                           "-.5", "12a", "1,5", "1e5000", "\xd9\xa1" /* Arabic-Indic one */}) {
    x = 99;
    EXPECT_FALSE(Number(text, x)) << text;
    EXPECT_EQ(x, 0) << text;
  }
  EXPECT_TRUE(TAtom::TryNumber(Num(-2.5L), x));
  EXPECT_EQ(x, -2.5L);
  for (const TAtom* a : {static_cast<TAtom*>(nullptr), SystemValue, List({Num(1)}), Var(u"v", Num(1))})
    EXPECT_FALSE(TAtom::TryNumber(a, x));
}

TEST(NumberFormat, PrintedForms) {
  const std::pair<long double, const char*> cases[] = {
      {0, "0"},
      {-0.0L, "0"},
      {0.0001L, "0.0001"},
      {-0.0001L, "-0.0001"},
      {0.00009L, "9E-5"},
      {1e17L, "100000000000000000"},
      {1e18L, "1E18"},
      {-1e18L, "-1E18"},
      {999999999999999999.0L, "999999999999999999"},
      {-999999999999999999.0L, "-999999999999999999"},
      {-123456, "-123456"},
      {999999999999999999.7L, "1E18"},  // rounding to 18 digits reaches 1E18
      {0.0000999999999999999999999L, "0.0001"},
      {123456789012345678.7L, "123456789012345679"},
      {123456789012345678.5L, "123456789012345678"},  // tie to even
      {1234567890123456789.0L, "1.23456789012345679E18"},
      {1.0L / 3, "0.333333333333333333"},
      {-2.0L / 3 * 1e-3L, "-0.000666666666666666667"},
      {100.5L, "100.5"},
      {1.5e-5L, "1.5E-5"},
      {-2.5e-7L, "-2.5E-7"},
      {1e-100L, "1E-100"},
      {1.25e4000L, "1.25E4000"},
      {kInf, "INF"},
      {-kInf, "-INF"},
      {kNaN, "NAN"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(U8(FormatNumber(value)), text);
}

TEST(NumberFormat, ReadsBackAndIgnoresTheProcessLocale) {
  TestState ts;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) break;  // a decimal comma when one is installed
  for (long double x : {0.1L, 1.0L / 3, 1e-20L, 6.02214076e23L, -7.25e-4L, 1e4900L}) {
    long double y = 0;
    EXPECT_TRUE(TAtom::TryNumber(NewWord(*ts.S, FormatNumber(x)), y)) << U8(FormatNumber(x));
    EXPECT_LE(std::fabs(y - x), std::fabs(x) * 1e-17L) << U8(FormatNumber(x));
  }
  EXPECT_EQ(U8(FormatNumber(-7.25e-4L)), "-0.000725");
  std::setlocale(LC_NUMERIC, "C");
}

TEST_F(AtomValues, ConversionsRaiseOrFallBack) {
  EXPECT_EQ(TAtom::AsNumber(s, Word(u"1e3")), 1000);
  EXPECT_EQ(Raised([&] { TAtom::AsNumber(s, List({Num(1), Word(u"b")})); }), "[1 b] is not a number");
  EXPECT_EQ(Raised([&] { TAtom::AsNumber(s, SystemValue); }), "system value is not a number");
  EXPECT_EQ(U8(TAtom::AsString(s, Num(-kInf))), "-inf");
  EXPECT_EQ(U8(TAtom::AsString(s, Num(-1e-20L))), "-1E-20");
  EXPECT_EQ(Raised([&] { TAtom::AsString(s, List({Num(1), Num(2)})); }), "[1 2] is not a word");
  EXPECT_EQ(Raised([&] { TAtom::AsString(s, nullptr); }), "[] is not a word");
  s.Language.Texts.erase(u"BADNUMBER");
  EXPECT_EQ(Raised([&] { TAtom::AsNumber(s, Word(u"x")); }), "BADNUMBER");  // the key when the text is missing

  ts.ArmErrors(false);
  EXPECT_EQ(TAtom::AsNumber(s, Word(u"abc")), 0);
  EXPECT_EQ(TAtom::AsString(s, Var(u"v", Num(1))), u"");
}

TEST_F(AtomValues, ConversionsToInteger) {
  EXPECT_EQ(TAtom::AsInteger(s, Num(3.0L)), 3);
  EXPECT_EQ(TAtom::AsInteger(s, Word(u"-17")), -17);
  EXPECT_EQ(TAtom::AsInteger(s, Num(2147483647.0L)), INT32_MAX);
  EXPECT_EQ(TAtom::AsInteger(s, Num(-2147483648.0L)), INT32_MIN);
  const std::pair<long double, const char*> refused[] = {{2.5L, "2.5"},
                                                         {3.0000001L, "3.0000001"},
                                                         {2147483648.0L, "2147483648"},
                                                         {-2147483649.0L, "-2147483649"},
                                                         {kNaN, "nan"},
                                                         {-kInf, "-inf"}};
  for (const auto& [x, text] : refused)
    EXPECT_EQ(Raised([&] { TAtom::AsInteger(s, Num(x)); }), std::string(text) + " is not a number");
  EXPECT_EQ(Raised([&] { TAtom::AsInteger(s, Word(u"x")); }), "x is not a number");

  ts.ArmErrors(false);
  EXPECT_EQ(TAtom::AsInteger(s, Num(2.5L)), 2);  // ties go to even
  EXPECT_EQ(TAtom::AsInteger(s, Num(3.5L)), 4);
  for (long double x : {2147483648.0L, 1e30L, -kInf, kNaN}) EXPECT_EQ(TAtom::AsInteger(s, Num(x)), 0);
  EXPECT_EQ(TAtom::AsInteger(s, Word(u"x")), 0);
}

TEST_F(AtomValues, TruthKeywords) {
  EXPECT_TRUE(TAtom::AsBoolean(s, s.Language.TrueAtom));
  EXPECT_FALSE(TAtom::AsBoolean(s, s.Language.FalseAtom));
  EXPECT_TRUE(TAtom::AsBoolean(s, Word(u"TrUe")));
  EXPECT_FALSE(TAtom::AsBoolean(s, Word(u"FALSE")));
  s.Language.Texts[u"NOT A BOOLEAN"] = u"translated";  // the message is fixed text
  for (const TAtom* a : {static_cast<TAtom*>(nullptr), SystemValue, Word(u"yes"), Num(1), List({Word(u"true")})}) {
    EXPECT_EQ(Raised([&] { TAtom::AsBoolean(s, a); }), "Not a boolean");
    EXPECT_FALSE(TAtom::IsTrue(s, a));
    EXPECT_FALSE(TAtom::IsFalse(s, a));
  }
  ts.ArmErrors(false);
  EXPECT_FALSE(TAtom::AsBoolean(s, Word(u"x")));
}

TEST_F(AtomValues, TruthTranslatedAndDual) {
  s.Language.KeywordTableUpper[kwTrue] = u"ИСТИНА";
  s.Language.KeywordTableUpper[kwFalse] = u"ЛОЖЬ";
  EXPECT_TRUE(TAtom::AsBoolean(s, Word(u"истина")));
  EXPECT_FALSE(TAtom::AsBoolean(s, Word(u"Ложь")));
  EXPECT_EQ(Raised([&] { TAtom::AsBoolean(s, Word(u"true")); }), "Not a boolean");
  EXPECT_FALSE(TAtom::IsFalse(s, Word(u"false")));
  s.Language.DualLanguageSupport = true;
  EXPECT_TRUE(TAtom::AsBoolean(s, Word(u"true")));
  EXPECT_FALSE(TAtom::AsBoolean(s, Word(u"False")));
  EXPECT_TRUE(TAtom::IsFalse(s, Word(u"false")));
  EXPECT_TRUE(TAtom::IsTrue(s, Word(u"Истина")));

  // A word that spells the true keyword is never false.
  s.Language.KeywordTableUpper[kwFalse] = u"TRUE";
  EXPECT_FALSE(TAtom::IsFalse(s, Word(u"true")));
  EXPECT_TRUE(TAtom::AsBoolean(s, Word(u"true")));
}

TEST_F(AtomValues, KindNames) {
  TAtom* object = Var(u"obj", nullptr);
  Var(u"field", Num(1), object);
  const std::pair<const TAtom*, const char*> cases[] = {
      {nullptr, "an empty list"},
      {SystemValue, "a system value"},
      {Num(1), "a number"},
      {Word(u"12"), "a number"},
      {Word(u"abc"), "a word"},
      {List({Num(1)}), "a list"},
      {Expr({Num(1)}), "an expression"},
      {object, "an object"},
      {Var(u"v", Num(1)), "a variable"},
      {NewWinObject(s, nullptr, nullptr), "a Windows object"},
      {NewMemoryBlock(s, 4, TAtom::FreeMemoryBlock), "a memory block"},
      {Odd(), "a unknown datum"}};
  for (const auto& [atom, name] : cases) EXPECT_EQ(U8(TAtom::KindName(atom, false)), name);
  EXPECT_EQ(U8(TAtom::KindName(nullptr, true)), "the empty list");
  EXPECT_EQ(U8(TAtom::KindName(object, true)), "the object");
}

// The printed form written to a buffer, as WORD joins numbers, is the
// printed form of the number atom.
TEST_F(AtomValues, NumberIntoABufferAsPrinted) {
  const long double numbers[] = {0.0L, -0.0L, 7.0L, -5.0L, 9.0L, 10.0L, 99.0L, -100.0L, 1009.0L, 12345.0L, 123456.0L,
                                 4294967295.0L, 4294967296.0L, -4294967296.0L, 999999999999999999.0L,
                                 -999999999999999999.0L, 1e18L, 999.0L, 1000.0L, 1023.0L, 1024.0L, 99999.0L,
                                 1000000.0L, 9999999999.0L, 10000000000.0L, 1000000000000000.0L, -99999999.0L,
                                 0.5L, -0.25L, 2.5L, -3.5L, 100000000000000000.5L,
                                 1e-7L, 1.0L / 3, 1.25e4000L, -1.25e-4000L, kInf, -kInf, kNaN};
  for (long double x : numbers) {
    char16_t buffer[kMaxPrintedNumber];
    const size_t length = PrintNumberInto(x, buffer);
    std::u16string printed;
    AppendPrintedForm(s, Num(x), printed);
    EXPECT_EQ(std::u16string(buffer, length), printed) << U8(printed);
  }
}

TEST_F(AtomValues, PrintedForms) {
  EXPECT_EQ(Text(nullptr), "[]");
  EXPECT_EQ(Text(SystemValue), "system value");
  EXPECT_EQ(Text(Num(TAtom::AsNumber(s, Word(u"INF")))), "inf");
  EXPECT_EQ(Text(Word(u"INF")), "INF");
  EXPECT_EQ(Text(List({Num(1), List({Word(u"a"), nullptr}), nullptr, Num(kNaN)})), "[1 [a []] [] nan]");
  EXPECT_EQ(Text(List({Expr({Num(1), Word(u"+"), Num(2)}), SystemValue})), "[(1 + 2) system value]");
  EXPECT_EQ(Text(Odd()), "???");

  TAtom* x = Var(u"x", Num(5));
  Var(u"y", List({Num(1), Num(2)}), x);
  EXPECT_EQ(Text(x), "{x=5 {y=[1 2]}}");
  TAtom* p = Var(u"p", nullptr);  // children print newest first
  Var(u"a", Num(1), p);
  Var(u"c", Word(u"w"), Var(u"b", nullptr, p));
  EXPECT_EQ(Text(List({p, x})), "[{p=[] {b=[] {c=w}} {a=1}} {x=5 {y=[1 2]}}]");

  Button button;
  EXPECT_EQ(Text(NewWinObject(s, &button, nullptr)), "TButton @ " + U8(PointerToHex(LowAddressBits(&button))));
  EXPECT_EQ(Text(NewWinObject(s, nullptr, nullptr)), "TObject @ nil");
  TAtom* block = NewMemoryBlock(s, 8, TAtom::FreeMemoryBlock);
  EXPECT_EQ(Text(block), "memory block @ " + U8(PointerToHex(LowAddressBits(block->Object()))));

  EXPECT_EQ(TAtom::ToTextBare(s, nullptr), u"");
  EXPECT_EQ(TAtom::ToTextBare(s, SystemValue), u"system value");
  EXPECT_EQ(TAtom::ToTextBare(s, List({Num(1), List({Num(2)}), Word(u"c")})), u"1 [2] c");
  EXPECT_EQ(TAtom::ToTextBare(s, Expr({Num(1)})), u"(1)");
}

TEST_F(AtomValues, UsageLines) {
  TAtom* colon = Word(u":");
  TAtom* quote = Word(u"\"");
  auto usage = [&](const TAtom* procedure) { return U8(TAtom::UsageText(s, procedure)); };
  EXPECT_EQ(usage(Var(u"foo", List({List({colon, Word(u"a"), quote, Word(u"b")}), Word(u"print")}))), " foo  :a \"b ");
  EXPECT_EQ(usage(Var(u"op", List({List({colon, Word(u"x")}), List({colon, Word(u"y")}), Word(u"output")}))),
            " :x  op  :y ");
  EXPECT_EQ(usage(Var(u"go", List({nullptr, Word(u"print")}))), " go  ");
  // Reading stops at a marker without a name, a name that is not a word, a marker that is not a word.
  EXPECT_EQ(usage(Var(u"f", List({List({colon, Word(u"a"), colon}), Word(u"x")}))), " f  :a ");
  EXPECT_EQ(usage(Var(u"g", List({List({colon, List({Word(u"z")}), colon, Word(u"b")})}))), " g  ");
  EXPECT_EQ(usage(Var(u"h", List({List({Num(1), Word(u"a")})}))), " h  ");
  for (const TAtom* notProcedure : {Var(u"v", Num(5)), Var(u"v", nullptr), Var(u"v", List({Word(u"a")})),
                                    List({nullptr}), static_cast<TAtom*>(nullptr), SystemValue})
    EXPECT_EQ(usage(notProcedure), "");
}

TEST_F(AtomValues, DumpOfValuesAndVariables) {
  EXPECT_EQ(Dump(nullptr, u"  "), "  []");
  EXPECT_EQ(Dump(SystemValue), "system value");
  EXPECT_EQ(Dump(Num(-kInf), u" "), " -INF");
  EXPECT_EQ(Dump(List({Num(kInf), Word(u"a")})), "[inf a]");
  Button button;
  EXPECT_EQ(Dump(NewWinObject(s, &button, nullptr)), "TButton");
  EXPECT_EQ(Dump(NewMemoryBlock(s, 2, TAtom::FreeMemoryBlock), u"  "), "  memory-block");
  EXPECT_EQ(Dump(Odd(), u"    "), "unknown value");

  EXPECT_EQ(Dump(Var(u"x", Num(5))), "\x02x\x02=5");
  EXPECT_EQ(Dump(Var(u"x", nullptr)), "\x02x\x02[]");
  EXPECT_EQ(Dump(Var(u"[]", Num(5))), "\x02<unnamed>\x02=5");
  EXPECT_EQ(Dump(Var(u"[]", nullptr)), "[]");
  TAtom* object = Var(u"obj", nullptr);
  Var(u"a", Num(1), object);
  Var(u"c", Num(kInf), Var(u"b", Word(u"v"), object));
  EXPECT_EQ(Dump(object, u"> "),
            "> \x02obj\x02"
            "\r>       \x02"
            "b\x02=v"
            "\r>             \x02"
            "c\x02=inf"
            "\r>       \x02"
            "a\x02=1");
  TAtom* unnamed = Var(u"[]", nullptr);
  Var(u"k", Num(2), unnamed);
  EXPECT_EQ(Dump(unnamed), "\r      \x02k\x02=2");

  // Printed values longer than 40 characters keep 30, "..." and the last 3.
  EXPECT_EQ(Dump(Var(u"v", Word(std::u16string(40, u'x')))), "\x02v\x02=" + std::string(40, 'x'));
  EXPECT_EQ(Dump(Var(u"v", Word(std::u16string(40, u'x') + u"y"))), "\x02v\x02=" + std::string(30, 'x') + "...xxy");
  std::u16string fifty;
  for (int i = 0; i < 50; ++i) fifty.push_back(static_cast<char16_t>(u'A' + i % 26));
  EXPECT_EQ(Dump(Var(u"v", Word(fifty))), "\x02v\x02=ABCDEFGHIJKLMNOPQRSTUVWXYZABCD...VWX");
}

TEST_F(AtomValues, CompareNumbers) {
  EXPECT_EQ(CompareAtoms(s, Word(u"12"), Num(12)), 0);
  EXPECT_EQ(CompareAtoms(s, Word(u"1.0"), Word(u"1")), 0);
  EXPECT_EQ(CompareAtoms(s, Num(1), Num(1 + 1e-11L)), 0);
  EXPECT_EQ(CompareAtoms(s, Num(1), Num(1.001L)), -1);
  EXPECT_EQ(CompareAtoms(s, Word(u"9"), Word(u"10")), -1);  // as numbers, not texts
  EXPECT_EQ(CompareAtoms(s, Num(kInf), Word(u"INF")), 0);
  EXPECT_EQ(CompareAtoms(s, Num(-kInf), Num(kInf)), -1);
  EXPECT_NE(CompareAtoms(s, Num(kNaN), Num(kNaN)), 0);
  EXPECT_NE(CompareAtoms(s, Num(1), Word(u"nan")), 0);
  TAtom* nan = Num(kNaN);
  EXPECT_EQ(CompareAtoms(s, nan, nan), 0);  // the same atom
  s.Epsilon = 0.5L;
  EXPECT_EQ(CompareAtoms(s, Num(1), Num(1.4L)), 0);
  EXPECT_EQ(CompareAtoms(s, Num(1.5L), Num(1)), 1);
}

TEST_F(AtomValues, CompareWords) {
  EXPECT_EQ(CompareAtoms(s, Word(u"abc"), Word(u"abd")), -1);
  EXPECT_EQ(CompareAtoms(s, Word(u"abc"), Word(u"ab")), 1);
  EXPECT_EQ(CompareAtoms(s, Word(u"ABC"), Word(u"abc")), -1);
  EXPECT_EQ(CompareAtoms(s, Word(u"abc"), Word(u"abc")), 0);
  EXPECT_EQ(CompareAtoms(s, Num(5), Word(u"abc")), -1);
  s.Language.CodePage = 1252;
  EXPECT_EQ(CompareAtoms(s, Word(u"é"), Word(u"z")), 1);
  EXPECT_EQ(CompareAtoms(s, Word(u"€"), Word(u"é")), -1);  // the euro sign is byte 0x80
  EXPECT_EQ(CompareAtoms(s, Word(u"é"), Word(u"Ж")), -1);  // outside the page: after every byte
  s.Language.CodePage = 1251;
  EXPECT_EQ(CompareAtoms(s, Word(u"é"), Word(u"Ж")), 1);
  EXPECT_EQ(CompareAtoms(s, Word(u"☃"), Word(u"☄")), -1);  // both outside, still ordered
}

TEST_F(AtomValues, CompareListsAndOtherKinds) {
  EXPECT_EQ(CompareAtoms(s, List({Num(1), Num(2)}), List({Num(1), Num(2), Num(3)})), -1);
  EXPECT_EQ(CompareAtoms(s, List({Num(1), Num(2), Num(3)}), List({Num(1), Num(2)})), 1);
  EXPECT_EQ(CompareAtoms(s, nullptr, List({Num(1)})), -1);
  EXPECT_EQ(CompareAtoms(s, nullptr, nullptr), 0);
  EXPECT_EQ(CompareAtoms(s, List({Num(1), List({Num(2), Word(u"x")})}), List({Word(u"1"), List({Num(2), Word(u"x")})})),
            0);
  EXPECT_EQ(CompareAtoms(s, List({List({Num(1)}), Num(0)}), List({List({Num(1), Num(1)}), Num(9)})), -1);
  EXPECT_EQ(CompareAtoms(s, List({Expr({Num(1)}), Num(1)}), List({Expr({Num(1)}), Num(2)})), 2);
  TAtom* tail = List({Num(7), Num(8)});
  EXPECT_EQ(CompareAtoms(s, NewListCell(s, Num(1), tail), NewListCell(s, Word(u"1"), tail)), 0);

  TAtom* e = Expr({Num(1)});
  EXPECT_EQ(CompareAtoms(s, e, e), 0);
  EXPECT_EQ(CompareAtoms(s, SystemValue, SystemValue), 0);
  const std::pair<const TAtom*, const TAtom*> incomparable[] = {
      {Word(u"a"), List({Word(u"a")})},       {Num(1), nullptr},     {e, Expr({Num(1)})}, {List({Num(1)}), e},
      {Var(u"v", Num(1)), Var(u"v", Num(1))}, {SystemValue, nullptr}};
  for (const auto& [a, b] : incomparable) EXPECT_EQ(CompareAtoms(s, a, b), 2) << Text(a) << " " << Text(b);
}

TEST_F(AtomValues, MessageHelpers) {
  EXPECT_EQ(U8(FormatMissingArg(s, u"print", u"an input")), "print needs an input");
  EXPECT_EQ(U8(FormatUserLock(s, u"a.b")), "a.b is locked");
}

// Deep and long structures: a refused depth (TOODEEP) is fine, a crash is not.
TEST_F(AtomValues, DeepNesting) {
  constexpr int kDepth = 1000000;
  TAtom* innermost = NewListCell(s, Word(u"1"), nullptr);
  TAtom* a = DeepList(s, kDepth, Num(1));
  TAtom* b = DeepList(s, kDepth - 1, innermost);
  try {
    const std::u16string text = TAtom::ToText(s, a);
    EXPECT_EQ(text.size(), 2u * kDepth + 1);
    EXPECT_EQ(Dump(Var(u"deep", a)),
              "\x02"
              "deep\x02=" +
                  std::string(30, '[') + "..." + "]]]");
    EXPECT_EQ(CompareAtoms(s, a, b), 0);
    innermost->Left = Num(2);
    EXPECT_EQ(CompareAtoms(s, b, a), 1);
  } catch (const LanguageError&) {
  }
}

TEST_F(AtomValues, SelfContainingStructuresAreRefused) {
  TAtom* loop = NewListCell(s, nullptr, nullptr);
  loop->Left = loop;
  TAtom* other = NewListCell(s, nullptr, nullptr);
  other->Left = other;
  EXPECT_THROW(TAtom::ToText(s, loop), LanguageError);
  EXPECT_THROW(CompareAtoms(s, loop, other), LanguageError);
  EXPECT_EQ(CompareAtoms(s, loop, loop), 0);

  ts.ArmErrors(false);
  EXPECT_NE(TAtom::ToText(s, loop).find(u"[[...]]]"), std::u16string::npos);
  EXPECT_EQ(CompareAtoms(s, loop, other), 2);
  TAtom* self = Var(u"me", nullptr);
  self->Left = self;
  EXPECT_NE(TAtom::ToText(s, self).find(u"{me={me=...}}}"), std::u16string::npos);
}

TEST_F(AtomValues, LongFlatList) {
  constexpr int kLength = 1000000;
  TAtom* digits[10];
  for (int i = 0; i < 10; ++i) digits[i] = Num(i);
  TAtom *mixed = nullptr, *sevens = nullptr;
  for (int i = 0; i < kLength; ++i) {
    mixed = NewListCell(s, digits[i % 10], mixed);
    sevens = NewListCell(s, digits[7], sevens);
  }
  const std::u16string text = TAtom::ToText(s, mixed);
  ASSERT_EQ(text.size(), 2u * kLength + 1);
  EXPECT_EQ(text.substr(0, 6), u"[9 8 7");
  EXPECT_EQ(text.substr(text.size() - 4), u"1 0]");
  EXPECT_EQ(TAtom::ToTextBare(s, mixed).size(), 2u * kLength - 1);
  // Equal elements all the way: the length decides after a walk over every cell.
  TAtom* longer = NewListCell(s, Word(u"7"), sevens);
  EXPECT_EQ(CompareAtoms(s, sevens, longer), -1);
  EXPECT_EQ(CompareAtoms(s, longer, sevens), 1);
}

}  // namespace

TEST_F(AtomValues, PrintingWithALimitStopsOncePastIt) {
  // A long list is cut soon after the limit; short ones print whole.
  TAtom* list = nullptr;
  for (int i = 0; i < 100000; ++i) list = NewListCell(s, Word(u"abc"), list);
  const std::u16string cut = TAtom::ToText(s, list, 100);
  EXPECT_GT(cut.size(), 100u);
  EXPECT_LT(cut.size(), 110u);
  EXPECT_EQ(cut.substr(0, 9), u"[abc abc ");
  EXPECT_EQ(TAtom::ToText(s, List({Num(1), Word(u"b")}), 100), u"[1 b]");
  EXPECT_EQ(TAtom::ToText(s, List({Num(1), Word(u"b")}), 100), TAtom::ToText(s, List({Num(1), Word(u"b")})));
  // A word is never cut: the caller decides.
  EXPECT_EQ(TAtom::ToText(s, Word(std::u16string(300, u'x')), 10).size(), 300u);
  EXPECT_EQ(TAtom::ToText(s, SystemValue, 5), u"system value");
}
