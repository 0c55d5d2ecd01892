// The base primitives, called directly inside a frame whose argument cells
// hold the inputs: arithmetic, rounding and powers, trigonometry in degrees,
// logic and comparison, type tests, the word and list primitives with what
// they share, and the errors they raise.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/LogoLib.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

namespace {

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();

struct NumberCase {
  int32_t Ordinal;
  std::vector<long double> Inputs;  // as written
  const char* Printed;
};

class LogoLib : public ::testing::Test {
protected:
  LogoLib() {
    S.Language.Texts[u"MISSINGARG"] = u"Missing input %s of %s";
    S.Language.Texts[u"BADNUMBER"] = u"%s is not a number";
    S.Language.Texts[u"BADSTRING"] = u"%s is not a word";
  }

  TAtom* N(long double x) { return NewNumber(S, x); }
  TAtom* W(std::u16string text) { return NewWord(S, std::move(text)); }
  TAtom* L(std::initializer_list<TAtom*> items) { return ListOf(S, items); }
  // A frame owner whose cells hold the inputs; the last written is cell 1.
  TAtom* Frame(const std::vector<TAtom*>& inputs) {
    TAtom* owner = NewVariable(S, u"[~]", nullptr);
    for (TAtom* value : inputs) S.CreateVariable(owner, u"input", true, value);
    return owner;
  }
  // An input cell that is an object: its members are named children.
  TAtom* AddObject(TAtom* owner, TAtom* value, const std::vector<std::u16string>& members) {
    TAtom* cell = S.CreateVariable(owner, u"object", true, value);
    for (const std::u16string& name : members) S.CreateVariable(cell, name, true, N(1));
    return cell;
  }
  TAtom* RunIn(int32_t ordinal, TAtom* owner) {
    S.EnterFrame(owner);
    struct Leave {
      TStructure& s;
      ~Leave() { s.LeaveFrame(); }
    } leave{S};
    return I.Exports.Routine(ordinal)(I);
  }
  TAtom* Call(int32_t ordinal, const std::vector<TAtom*>& inputs = {}) { return RunIn(ordinal, Frame(inputs)); }
  std::string Text(const TAtom* a) { return U8(TAtom::ToText(S, a)); }
  std::string Printed(int32_t ordinal, const std::vector<TAtom*>& inputs = {}) { return Text(Call(ordinal, inputs)); }
  long double Number(int32_t ordinal, const std::vector<TAtom*>& inputs = {}) {
    const TAtom* result = Call(ordinal, inputs);
    EXPECT_TRUE(TAtom::IsNumber(result));
    return TAtom::IsNumber(result) ? result->Number : kNaN;
  }
  // "message | topic" of the raised error, or "<none>".
  std::string ErrorIn(int32_t ordinal, TAtom* owner) {
    try {
      RunIn(ordinal, owner);
    } catch (const LanguageError& e) {
      return U8(e.Message()) + " | " + U8(S.ErrorTrace.back().Topic);
    }
    return "<none>";
  }
  std::string Error(int32_t ordinal, const std::vector<TAtom*>& inputs = {}) { return ErrorIn(ordinal, Frame(inputs)); }
  void CheckNumbers(const std::vector<NumberCase>& cases) {
    for (const NumberCase& c : cases) {
      std::vector<TAtom*> inputs;
      for (long double x : c.Inputs) inputs.push_back(N(x));
      EXPECT_EQ(Printed(c.Ordinal, inputs), c.Printed) << ExportName(c.Ordinal) << " case " << (&c - cases.data());
    }
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(LogoLib, ArithmeticTakesCellTwoAsTheFirstInput) {
  const std::vector<NumberCase> cases = {
      {exLOGOSUM, {2, 3}, "5"},     {exLOGOMUL, {2, 3.5}, "7"},  {exLOGOSUB, {10, 4}, "6"},
      {exLOGOSUB, {4}, "-4"},       {exLOGODIV, {1, 4}, "0.25"}, {exLOGODIV, {1, 0}, "inf"},
      {exLOGODIV, {0, 0}, "nan"},   {exLOGOSQRT, {-1}, "nan"},   {exLOGOLOGN, {0}, "-inf"},
      {exLOGOTRUNC, {-2.7L}, "-2"}, {exLOGOABS, {-3}, "3"},      {exLOGOSIGN, {-5}, "-1"},
      {exLOGOSIGN, {0}, "0"},       {exLOGOSIGN, {kNaN}, "0"},   {exLOGOPI, {}, "3.14159265358979324"}};
  CheckNumbers(cases);
  EXPECT_EQ(Printed(exLOGOSUM, {W(u"2"), W(u"1e3")}), "1002");
  EXPECT_EQ(Error(exLOGOSUM, {W(u"x"), N(1)}), "x is not a number | ");
}

TEST_F(LogoLib, NotANumberIsStoredWithoutItsSign) {
  for (TAtom* result : {Call(exLOGODIV, {N(0), N(0)}), Call(exLOGONEG, {N(kNaN)}), Call(exLOGOSQRT, {N(-4)})}) {
    ASSERT_TRUE(TAtom::IsNumber(result));
    EXPECT_TRUE(std::isnan(result->Number));
    EXPECT_FALSE(std::signbit(result->Number));
  }
}

TEST_F(LogoLib, TrigonometryInDegrees) {
  EXPECT_EQ(Printed(exLOGOSIN, {N(180)}), "0");
  EXPECT_EQ(Printed(exLOGOCOS, {N(90)}), "0");
  EXPECT_NEAR(static_cast<double>(Number(exLOGOSIN, {N(30)})), 0.5, 1e-18);
  EXPECT_NEAR(static_cast<double>(Number(exLOGOTAN, {N(45)})), 1.0, 1e-18);
  const long double tan90 = Number(exLOGOTAN, {N(90)});
  EXPECT_TRUE(std::isfinite(tan90));
  EXPECT_GT(std::fabs(tan90), 1e18L);
  EXPECT_EQ(Printed(exLOGOCOTAN, {N(0)}), "inf");

  const std::vector<NumberCase> inverse = {
      {exLOGOARCCOTAN, {-1}, "135"}, {exLOGOARCCOTAN, {1}, "45"}, {exLOGOARCCOTAN, {kNaN}, "nan"},
      {exLOGOARCTAN, {1}, "45"},     {exLOGOARCSIN, {1}, "90"},   {exLOGOARCSIN, {2}, "nan"},
      {exLOGOARCCOS, {1}, "0"},      {exLOGOARCCOS, {-1}, "180"}, {exLOGOARCCOS, {-1.5L}, "nan"}};
  CheckNumbers(inverse);
  EXPECT_NEAR(static_cast<double>(Number(exLOGOARCSIN, {N(0.5L)})), 30.0, 1e-15);
}

// Integral exponents beyond 32 bits go through the logarithm: NaN for a
// negative base.
TEST_F(LogoLib, PowerHandlesIntegralExponentsBySquaring) {
  const std::vector<NumberCase> cases = {{exLOGOPOW, {2, 10}, "1024"},
                                         {exLOGOPOW, {-2, 3}, "-8"},
                                         {exLOGOPOW, {2, -2}, "0.25"},
                                         {exLOGOPOW, {0, 5}, "0"},
                                         {exLOGOPOW, {0, -1}, "inf"},
                                         {exLOGOPOW, {kNaN, 0}, "1"},
                                         {exLOGOPOW, {-8, 1.0L / 3}, "nan"},
                                         {exLOGOPOW, {-1, 2147483647}, "-1"},
                                         {exLOGOPOW, {-1, -2147483648.0L}, "1"},
                                         {exLOGOPOW, {-1, 2147483648.0L}, "nan"},
                                         {exLOGOPOW, {-2, 1e10L}, "nan"},
                                         {exLOGOPOW, {10, 5000}, "inf"},
                                         {exLOGOPOW, {10, -5000}, "0"}};
  CheckNumbers(cases);
  // 3^40 needs all 64 bits of the mantissa: squaring keeps it exact.
  EXPECT_EQ(Number(exLOGOPOW, {N(3), N(40)}), 12157665459056928801.0L);
  // 2^-16440 is a denormal although 2^16440 overflows.
  EXPECT_EQ(Number(exLOGOPOW, {N(2), N(-16440)}), std::ldexp(1.0L, -16440));
  EXPECT_EQ(Number(exLOGOPOW, {N(1.5L), N(2.5L)}), std::pow(1.5L, 2.5L));
}

TEST_F(LogoLib, RoundWorksOnTheEighteenDigitDecimalForm) {
  const std::vector<NumberCase> cases = {{exLOGOROUND, {2.5L, 0}, "3"},
                                         {exLOGOROUND, {1.23456L, 2}, "1.23"},
                                         {exLOGOROUND, {0.05L, 1}, "0.1"},
                                         {exLOGOROUND, {1.005L, 2}, "1.01"},
                                         {exLOGOROUND, {9.99L, 1}, "10"},
                                         {exLOGOROUND, {0.004L, 2}, "0"},
                                         {exLOGOROUND, {0.005L, 2}, "0.01"},
                                         {exLOGOROUND, {1e-30L, 18}, "0"},
                                         {exLOGOROUND, {123.456L, -3}, "123"},
                                         {exLOGOROUND, {1.5L, 40}, "1.5"},
                                         {exLOGOROUND, {1234567890123456789012.0L, 0}, "1.23456789012345679E21"},
                                         {exLOGOROUND, {kInf, 2}, "inf"},
                                         {exLOGOROUND, {kNaN, 2}, "nan"}};
  CheckNumbers(cases);
  EXPECT_EQ(Number(exLOGOROUND, {N(0.1L), N(18)}), 0.1L);
  EXPECT_EQ(Error(exLOGOROUND, {N(1), N(0.5L)}), "0.5 is not a number | ");
}

TEST_F(LogoLib, LogicConvertsBothInputs) {
  EXPECT_EQ(Printed(exLOGONOT, {W(u"true")}), "false");
  EXPECT_EQ(Printed(exLOGOAND, {W(u"TRUE"), W(u"false")}), "false");
  EXPECT_EQ(Printed(exLOGOAND, {W(u"true"), W(u"true")}), "true");
  EXPECT_EQ(Printed(exLOGOOR, {W(u"false"), W(u"true")}), "true");
  EXPECT_EQ(Printed(exLOGOOR, {W(u"false"), W(u"false")}), "false");
  EXPECT_EQ(Error(exLOGOAND, {W(u"false"), W(u"maybe")}), "Not a boolean | ");
  EXPECT_EQ(Error(exLOGOOR, {W(u"maybe"), W(u"true")}), "Not a boolean | ");
}

TEST_F(LogoLib, ComparisonsFollowCompareAtoms) {
  const int32_t ordinals[] = {exLOGOEQUALP, exLOGOLESSP, exLOGOGREATERP, exLOGOLEQP, exLOGOGEQP};
  struct Case {
    TAtom* A;
    TAtom* B;
    const char* Answers;  // equal, less, greater, leq, geq
  };
  const Case cases[] = {
      {N(1), N(2), "FTFTF"},           {N(2), N(1), "FFTFT"},
      {W(u"12"), N(12), "TFFTT"},      {N(1), N(1.00000000001L), "TFFTT"},
      {W(u"abc"), W(u"abd"), "FTFTF"}, {W(u"a"), L({W(u"a")}), "FFFFF"},  // not comparable
  };
  for (const Case& c : cases) {
    std::string answers;
    for (int32_t ordinal : ordinals) answers += Printed(ordinal, {c.A, c.B}) == "true" ? 'T' : 'F';
    EXPECT_EQ(answers, c.Answers) << Text(c.A) << " against " << Text(c.B);
  }
}

TEST_F(LogoLib, EpsilonAnswersTheOldToleranceAndSetsTheNew) {
  EXPECT_EQ(Printed(exLOGOEPSILON), "10");
  EXPECT_EQ(Printed(exLOGOEQUALP, {N(1), N(1.00000000001L)}), "true");
  EXPECT_EQ(Printed(exLOGOEPSILON, {N(12)}), "10");
  EXPECT_EQ(Printed(exLOGOEQUALP, {N(1), N(1.00000000001L)}), "false");
  EXPECT_NEAR(static_cast<double>(Number(exLOGOEPSILON)), 12.0, 1e-12);
}

TEST_F(LogoLib, TypeTests) {
  TAtom* object = Frame({});
  AddObject(object, nullptr, {u"x"});
  TAtom* expression = NewExpressionCell(S, W(u"a"), nullptr);
  struct Case {
    TAtom* Value;
    const char* Answers;  // numberp, wordp, listp
  };
  const Case cases[] = {
      {W(u"12"), "TFF"},  {N(3), "TFF"},    {W(u"abc"), "FTF"},  {W(u""), "FTF"},    {W(u"-"), "FTF"},
      {L({N(1)}), "FFT"}, {nullptr, "FFT"}, {expression, "FFF"}, {W(u"inf"), "TFF"}, {SystemValue, "FFF"},
  };
  for (const Case& c : cases) {
    std::string answers;
    for (int32_t ordinal : {exLOGONUMBERP, exLOGOWORDP, exLOGOLISTP})
      answers += Printed(ordinal, {c.Value}) == "true" ? 'T' : 'F';
    EXPECT_EQ(answers, c.Answers) << Text(c.Value);
  }
  EXPECT_EQ(Text(RunIn(exLOGOLISTP, object)), "false");  // an object is no list
}

TEST_F(LogoLib, WordListAndSentenceKeepTheWrittenOrder) {
  TAtom* bc = L({W(u"b"), W(u"c")});
  EXPECT_EQ(Printed(exLOGOWORD, {W(u"a"), L({N(1), N(2)})}), "a[1 2]");
  EXPECT_EQ(Printed(exLOGOWORD, {N(1.5L), W(u"x"), W(u"")}), "1.5x");
  // Pieces of every short length, copied whole and in order.
  const std::u16string units = u"abcdefghijklmnopqrstu";
  for (size_t first = 0; first <= 10; ++first)
    for (size_t second = 0; second <= 10; ++second) {
      const std::u16string a = units.substr(0, first);
      const std::u16string b = units.substr(first, second);
      EXPECT_EQ(Call(exLOGOWORD, {W(a), W(b), W(u"z")})->Text, a + b + u"z") << first << " " << second;
    }
  // A number joined alone reads as it prints, whole or not, near the
  // bounds of the whole numbers written digit by digit too.
  for (const long double x : {0.0L, -0.0L, 7.0L, -123456.0L, 999999999999999999.0L, -999999999999999999.0L, 1e18L,
                              -1e18L, 0.25L, -3.5L, 1e-5L, 1e300L})
    EXPECT_EQ(Printed(exLOGOWORD, {N(x)}), Text(N(x))) << static_cast<double>(x);
  // Characters outside the basic plane stay whole, in every position.
  EXPECT_EQ(Printed(exLOGOWORD, {W(u"\U0001F600a"), N(12), W(u"b\U0001F601"), L({W(u"\U0001F602")})}),
            "\U0001F600a12b\U0001F601[\U0001F602]");
  EXPECT_EQ(Printed(exLOGOLIST, {W(u"a"), bc, N(3)}), "[a [b c] 3]");

  TAtom* sentence = Call(exLOGOSE, {W(u"a"), bc, nullptr, W(u"d")});
  EXPECT_EQ(Text(sentence), "[a b c d]");
  const TAtom* b = sentence->Right;
  EXPECT_NE(b, bc);              // new cells ...
  EXPECT_EQ(b->Left, bc->Left);  // ... holding the same elements
  EXPECT_EQ(Text(bc), "[b c]");  // the input is untouched
  EXPECT_EQ(b->Right->Right->Left->Text, u"d");
  EXPECT_EQ(Printed(exLOGOSE, {NewExpressionCell(S, W(u"x"), nullptr), W(u"y")}), "[x y]");

  // An object with members among the inputs.
  const std::pair<int32_t, const char*> refusals[] = {
      {exLOGOWORD, "word | word"}, {exLOGOLIST, "list | list"}, {exLOGOSE, "se | se"}};
  for (const auto& [ordinal, error] : refusals) {
    TAtom* owner = Frame({W(u"a")});
    AddObject(owner, nullptr, {u"m"});
    EXPECT_EQ(ErrorIn(ordinal, owner), error);
  }
}

TEST_F(LogoLib, CountCountsCharactersOrCells) {
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"abc")}), "3");
  EXPECT_EQ(Printed(exLOGOCOUNT, {N(12.5L)}), "4");
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"a\U0001F600b")}), "3");
  // Surrogates without their partner count one each.
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"\xD83D\xD83D\xDE00")}), "2");
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"\xDE00\xD83D" u"a\xD83D")}), "4");
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"abcd\xDE00\xD83D\xDE00")}), "6");
  // A pair or a lone surrogate at every place of words of many lengths,
  // the word-wide scan's lanes and its last overlapping step included.
  for (size_t length = 2; length <= 13; ++length)
    for (size_t at = 0; at < length; ++at) {
      std::u16string lone(length, u'x');
      lone[at] = at % 2 == 0 ? u'\xDFFF' : u'\xD800';
      EXPECT_EQ(Printed(exLOGOCOUNT, {W(lone)}), std::to_string(length)) << length << " " << at;
      if (at + 1 == length) continue;
      std::u16string pair = lone;
      pair[at] = u'\xD83D';
      pair[at + 1] = u'\xDE00';
      EXPECT_EQ(Printed(exLOGOCOUNT, {W(pair)}), std::to_string(length - 1)) << length << " " << at;
    }
  EXPECT_EQ(Printed(exLOGOCOUNT, {W(u"\xD7FF\xE000\xF7FF\xF800\x57FF")}), "5");
  // A joined word counts what its pieces make: a pair split across two
  // pieces is one character, digits none.
  EXPECT_EQ(Printed(exLOGOCOUNT, {Call(exLOGOWORD, {W(u"a\xD83D"), W(u"\xDE00")})}), "2");
  EXPECT_EQ(Printed(exLOGOCOUNT, {Call(exLOGOWORD, {N(42), W(u"item")})}), "6");
  EXPECT_EQ(Printed(exLOGOCOUNT, {L({W(u"a"), L({}), W(u"c")})}), "3");
  EXPECT_EQ(Printed(exLOGOCOUNT, {nullptr}), "0");
  TAtom* owner = Frame({});
  AddObject(owner, nullptr, {u"m"});
  EXPECT_EQ(ErrorIn(exLOGOCOUNT, owner), "count | count");
}

TEST_F(LogoLib, CuttingWords) {
  struct Case {
    int32_t Ordinal;
    std::u16string Word;
    int32_t Count;  // -2: one input only
    const char* Result;
  };
  const Case cases[] = {{exLOGOFIRST, u"abc", -2, "a"},
                        {exLOGOFIRST, u"abc", 2, "ab"},
                        {exLOGOFIRST, u"abc", 4, "first | first"},
                        {exLOGOFIRST, u"abc", 0, ""},
                        {exLOGOFIRST, u"", -2, "first | first"},
                        {exLOGOLAST, u"abc", -2, "c"},
                        {exLOGOLAST, u"abc", 2, "bc"},
                        {exLOGOLAST, u"abc", 4, "last | last"},
                        {exLOGOBF, u"abc", -2, "bc"},
                        {exLOGOBF, u"abc", 3, ""},
                        {exLOGOBF, u"abc", -1, "bf | bf"},
                        {exLOGOBL, u"abc", -2, "ab"},
                        {exLOGOBL, u"abc", 4, "bl | bl"},
                        {exLOGOBL, u"", -2, "bl | bl"},
                        {exLOGOFIRST, u"\U0001F600x", -2, "\U0001F600"},
                        {exLOGOLAST, u"x\U0001F600", -2, "\U0001F600"},
                        {exLOGOBF, u"\U0001F600x", -2, "x"},
                        {exLOGOBL, u"x\U0001F600", -2, "x"}};
  for (const Case& c : cases) {
    std::vector<TAtom*> inputs{W(c.Word)};
    if (c.Count != -2) inputs.push_back(N(c.Count));
    const std::string error = Error(c.Ordinal, inputs);
    const std::string result = error != "<none>" ? error : Printed(c.Ordinal, inputs);
    EXPECT_EQ(result, c.Result) << ExportName(c.Ordinal) << " " << U8(c.Word) << " " << c.Count;
  }
  TAtom* word = Call(exLOGOFIRST, {N(1234)});
  EXPECT_TRUE(TAtom::IsWord(word));
  EXPECT_EQ(Text(word), "1");
  EXPECT_EQ(Printed(exLOGOBF, {N(1234), N(2)}), "34");
}

TEST_F(LogoLib, CuttingListsSharesAsStated) {
  TAtom* a = W(u"a");
  TAtom* c = W(u"c");
  TAtom* abc = L({a, W(u"b"), c});
  EXPECT_EQ(Call(exLOGOBF, {abc}), abc->Right);
  EXPECT_EQ(Call(exLOGOBF, {abc, N(0)}), abc);
  EXPECT_EQ(Call(exLOGOBF, {abc, N(3)}), nullptr);
  EXPECT_EQ(Call(exLOGOFIRST, {abc}), a);
  EXPECT_EQ(Call(exLOGOLAST, {abc}), c);
  EXPECT_EQ(Call(exLOGOLAST, {abc, N(2)}), abc->Right);
  EXPECT_EQ(Call(exLOGOLAST, {abc, N(0)}), nullptr);

  TAtom* butLast = Call(exLOGOBL, {abc});
  EXPECT_EQ(Text(butLast), "[a b]");
  EXPECT_NE(butLast, abc);
  EXPECT_EQ(butLast->Left, a);
  TAtom* firstTwo = Call(exLOGOFIRST, {abc, N(2)});
  EXPECT_EQ(Text(firstTwo), "[a b]");
  EXPECT_NE(firstTwo, abc);
  EXPECT_EQ(Call(exLOGOBL, {abc, N(5)}), nullptr);
  EXPECT_EQ(Call(exLOGOFIRST, {abc, N(0)}), nullptr);
  EXPECT_EQ(Text(abc), "[a b c]");

  EXPECT_EQ(Error(exLOGOBF, {abc, N(4)}), "bf | bf");
  EXPECT_EQ(Error(exLOGOBF, {nullptr}), "bf | bf");
  EXPECT_EQ(Error(exLOGOFIRST, {nullptr}), "first | first");
  EXPECT_EQ(Error(exLOGOFIRST, {abc, N(4)}), "first | first");
  EXPECT_EQ(Error(exLOGOLAST, {abc, N(4)}), "last | last");
  EXPECT_EQ(Error(exLOGOLAST, {abc, N(-1)}), "last | last");
  EXPECT_EQ(Error(exLOGOFIRST, {abc, N(1.5L)}), "1.5 is not a number | ");

  TAtom* owner = Frame({});
  AddObject(owner, nullptr, {u"m"});
  EXPECT_EQ(ErrorIn(exLOGOBF, owner), "bf | bf");
}

TEST_F(LogoLib, ExprTurnsTheListItselfIntoAnExpression) {
  TAtom* list = L({W(u"a"), W(u"b")});
  TAtom* holder = L({list});
  EXPECT_EQ(Call(exLOGOEXPR, {list}), list);
  EXPECT_EQ(list->Kind, akExpression);
  EXPECT_EQ(Text(holder), "[(a b)]");
  EXPECT_EQ(Call(exLOGOEXPR, {nullptr}), nullptr);
  EXPECT_EQ(Error(exLOGOEXPR, {W(u"a")}), "expr | expr");
  EXPECT_EQ(Error(exLOGOEXPR, {list}), "expr | expr");  // already an expression
}

TEST_F(LogoLib, AsciiAndCharUseTheCodePage) {
  EXPECT_EQ(Printed(exLOGOASCII, {W(u"Abc")}), "65");
  EXPECT_EQ(Printed(exLOGOASCII, {W(u"\u20AC")}), "128");
  EXPECT_EQ(Printed(exLOGOASCII, {N(5)}), "53");
  EXPECT_EQ(Printed(exLOGOASCII, {W(u"\u4E00")}), "63");  // not in the page: "?"
  EXPECT_EQ(Printed(exLOGOCHAR, {N(65)}), "A");
  EXPECT_EQ(U8(Call(exLOGOCHAR, {N(128)})->Text), "\u20AC");
  EXPECT_EQ(Call(exLOGOCHAR, {N(0)})->Text, std::u16string(1, u'\0'));
  S.Language.CodePage = 1251;
  EXPECT_EQ(U8(Call(exLOGOCHAR, {N(192)})->Text), "\u0410");
  EXPECT_EQ(Printed(exLOGOASCII, {W(u"\u0410")}), "192");

  EXPECT_EQ(Error(exLOGOASCII, {W(u"")}), "ascii | ascii");
  EXPECT_EQ(Error(exLOGOASCII, {L({W(u"a")})}), "[a] is not a word | ");
  EXPECT_EQ(Error(exLOGOCHAR, {N(256)}), "char | char");
  EXPECT_EQ(Error(exLOGOCHAR, {N(-1)}), "char | char");
}

TEST_F(LogoLib, SetMaxAndSetMinReadTheExtraInputNumbers) {
  struct Case {
    std::vector<std::u16string> Members;
    const char* Max;
    const char* Min;
  };
  const Case cases[] = {
      {{u"#1", u"#3", u"x"}, "3", "1"},
      {{u"x", u"#", u"#a1", u"#1x"}, "0", "0"},
      {{u"#-5", u"#+7"}, "7", "-5"},
      {{u"#2147483647"}, "2147483647", "0"},  // the minimum's start value is never beaten
      {{u"#99999999999"}, "0", "0"},
      {{}, "0", "0"},
  };
  for (const Case& c : cases) {
    TAtom* owner = Frame({});
    AddObject(owner, nullptr, c.Members);
    EXPECT_EQ(Text(RunIn(exLOGOSETMAX, owner)), c.Max);
    EXPECT_EQ(Text(RunIn(exLOGOSETMIN, owner)), c.Min);
  }
}

TEST_F(LogoLib, RandomAndMs) {
  for (int i = 0; i < 200; ++i) {
    const long double unit = Number(exLOGORANDOM);
    EXPECT_GE(unit, 0);
    EXPECT_LT(unit, 1);
    const long double scaled = Number(exLOGORANDOM, {N(-10)});
    EXPECT_LE(scaled, 0);
    EXPECT_GT(scaled, -10);
  }
  EXPECT_NE(Number(exLOGORANDOM), Number(exLOGORANDOM));
  const long double first = Number(exLOGOMS);
  const long double second = Number(exLOGOMS);
  EXPECT_EQ(first, std::trunc(first));
  EXPECT_GE(second, first);
}

TEST_F(LogoLib, MissingCellsRaiseMissingArg) {
  EXPECT_EQ(Error(exLOGOSUM, {N(1)}), "Missing input 2 of sum | missing-arg");
  EXPECT_EQ(Error(exLOGOFIRST), "Missing input 1 of first | missing-arg");
  EXPECT_EQ(Error(exLOGOROUND, {N(1)}), "Missing input 2 of round | missing-arg");
  EXPECT_EQ(Error(exLOGOEQUALP), "Missing input 1 of equalp | missing-arg");
  EXPECT_EQ(Error(exLOGOSETMAX), "Missing input 1 of setmax | missing-arg");
  EXPECT_EQ(Error(exLOGOSUB), "Missing input 1 of sub | missing-arg");
}

TEST_F(LogoLib, SuppressedErrorsLeaveDefinedResults) {
  T.ArmErrors(false);
  EXPECT_EQ(Printed(exLOGOSUM, {N(1)}), "1");
  EXPECT_EQ(Printed(exLOGOFIRST, {nullptr}), "[]");
  EXPECT_EQ(Printed(exLOGOCHAR, {N(300)}), "[]");
  EXPECT_EQ(Printed(exLOGOLISTP), "true");
  EXPECT_EQ(Printed(exLOGOCOUNT), "[]");
  EXPECT_EQ(Printed(exLOGOSETMIN), "0");
  EXPECT_TRUE(S.ErrorTrace.empty());
}

}  // namespace
