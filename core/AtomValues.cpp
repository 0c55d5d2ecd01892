// Conversion, comparison and printing of atoms: the number syntax and the
// printed number format, truth values, kind names for messages, the printed
// form of every value, procedure usage lines, the memory-window dump and the
// three-way comparison with the numeric tolerance.
//
// Printing and comparing walk lists with an explicit work stack, so neither a
// long flat list nor a deeply nested one can exhaust the machine stack. The
// nesting they follow is capped (kMaxNesting): a self-containing structure
// raises TOODEEP instead of growing without bound.

#include <locale.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/Atoms.h"
#include "core/LogoLib.h"
#include "core/Text.h"
#include "core/Vars.h"

namespace {

// Deepest bracket nesting that printing and comparison follow.
constexpr size_t kMaxNesting = size_t{1} << 20;

// A printed variable value longer than this is shortened in the dump.
constexpr size_t kDumpValueMax = 40;
constexpr size_t kDumpValueHead = 30;
constexpr size_t kDumpValueTail = 3;

constexpr char16_t kBold = u'\x02';

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

bool IsCell(const TAtom* a) { return IsAtom(a) && (a->Kind == akList || a->Kind == akExpression); }

// The next cell of a list or expression; anything that is not a cell ends it.
const TAtom* NextCell(const TAtom* cell) { return IsCell(cell->Right) ? cell->Right : nullptr; }

locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

// Checks the number syntax: sign? digits+ ("." digits*)? ([eE] sign? digits+)?
// and reports whether a fraction or exponent is present.
bool ValidNumberSyntax(std::u16string_view t, bool& simple) {
  size_t i = 0;
  const size_t n = t.size();
  if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
  size_t digits = 0;
  while (i < n && IsDigit(t[i])) ++i, ++digits;
  if (digits == 0) return false;
  simple = true;
  if (i < n && t[i] == u'.') {
    simple = false;
    ++i;
    while (i < n && IsDigit(t[i])) ++i;
  }
  if (i < n && (t[i] == u'e' || t[i] == u'E')) {
    simple = false;
    ++i;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
    size_t expDigits = 0;
    while (i < n && IsDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == n;
}

bool ParseNumberWord(std::u16string_view t, long double& x) {
  if (t.empty()) return false;
  const char16_t first = t[0];
  if (!IsDigit(first) && first != u'+' && first != u'-') {
    if (t == u"INF" || t == u"inf") {
      x = HUGE_VALL;
      return true;
    }
    if (t == u"NAN" || t == u"nan") {
      x = std::numeric_limits<long double>::quiet_NaN();
      return true;
    }
    return false;
  }
  bool simple = false;
  if (!ValidNumberSyntax(t, simple)) return false;

  // Whole numbers of up to 18 digits are exact in an int64 and in a long double.
  size_t start = (first == u'+' || first == u'-') ? 1 : 0;
  if (simple && t.size() - start <= 18) {
    int64_t v = 0;
    for (size_t i = start; i < t.size(); ++i) v = v * 10 + (t[i] - u'0');
    x = static_cast<long double>(v);
    if (first == u'-') x = -x;
    return true;
  }

  // The syntax is validated and plain ASCII, so the C-locale conversion reads
  // exactly this text; a value beyond the extended range is no number.
  char small[64];
  std::string large;
  char* buffer = small;
  if (t.size() >= sizeof small) {
    large.resize(t.size());
    buffer = large.data();
  }
  for (size_t i = 0; i < t.size(); ++i) buffer[i] = static_cast<char>(t[i]);
  buffer[t.size()] = '\0';
  char* end = nullptr;
  long double v = strtold_l(buffer, &end, CLocale());
  if (end != buffer + t.size() || std::isinf(v)) return false;
  x = v;
  return true;
}

void AppendUnsigned(std::u16string& out, uint64_t v) {
  // Written from the end of a buffer, then appended at once.
  char16_t digits[24];
  char16_t* first = digits + sizeof digits / sizeof digits[0];
  do {
    *--first = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  out.append(first, digits + sizeof digits / sizeof digits[0]);
}

void AppendNumber(std::u16string& out, long double x) {
  // Whole numbers below 1e18, the usual case, are printed exactly (zero
  // of either sign as "0"); NaN and the infinities fail the range test.
  if (x > -1e18L && x < 1e18L) {
    const long long whole = static_cast<long long>(x);
    if (static_cast<long double>(whole) == x) {
      if (whole < 0) out.push_back(u'-');
      AppendUnsigned(out, whole < 0 ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole));
      return;
    }
  }
  if (std::isnan(x)) {
    out += u"NAN";
    return;
  }
  if (std::isinf(x)) {
    out += x < 0 ? u"-INF" : u"INF";
    return;
  }
  if (x == 0) {
    out.push_back(u'0');
    return;
  }
  const bool negative = std::signbit(x);
  const long double ax = std::fabs(x);

  // Whole numbers below 1e18 have at most 18 digits: printed exactly.
  if (ax < 1e18L && ax == std::trunc(ax)) {
    if (negative) out.push_back(u'-');
    AppendUnsigned(out, static_cast<uint64_t>(ax));
    return;
  }

  // Eighteen significant digits, correctly rounded. The rounded value decides
  // the notation, so a value that rounds up to 1e18 prints as 1E18. Only the
  // digits and the exponent are read back, so the locale's decimal point,
  // whatever it is, does not matter.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17Le", ax);
  char digits[18];
  int count = 0;
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9' && count < 18) digits[count++] = *p;
  int exponent = 0;
  if (*p == 'e') exponent = std::atoi(p + 1);
  while (count > 1 && digits[count - 1] == '0') --count;

  if (negative) out.push_back(u'-');
  if (exponent >= -4 && exponent < 18) {
    if (exponent >= 0) {
      for (int i = 0; i <= exponent; ++i) out.push_back(static_cast<char16_t>(i < count ? digits[i] : '0'));
      if (count > exponent + 1) {
        out.push_back(u'.');
        for (int i = exponent + 1; i < count; ++i) out.push_back(static_cast<char16_t>(digits[i]));
      }
    } else {
      out += u"0.";
      for (int i = -1; i > exponent; --i) out.push_back(u'0');
      for (int i = 0; i < count; ++i) out.push_back(static_cast<char16_t>(digits[i]));
    }
    return;
  }
  out.push_back(static_cast<char16_t>(digits[0]));
  if (count > 1) {
    out.push_back(u'.');
    for (int i = 1; i < count; ++i) out.push_back(static_cast<char16_t>(digits[i]));
  }
  out.push_back(u'E');
  if (exponent < 0) out.push_back(u'-');
  AppendUnsigned(out, static_cast<uint64_t>(exponent < 0 ? -exponent : exponent));
}

// The number as ToText and AsString show it: infinities and not-a-number in
// lower case.
void AppendNumberLower(std::u16string& out, long double x) {
  if (std::isnan(x)) {
    out += u"nan";
  } else if (std::isinf(x)) {
    out += x < 0 ? u"-inf" : u"inf";
  } else {
    AppendNumber(out, x);
  }
}

std::u16string NumberTextLower(long double x) {
  std::u16string out;
  AppendNumberLower(out, x);
  return out;
}

void AppendWinObject(std::u16string& out, const TAtom* a) {
  const WrappedObject* object = TAtom::WinObject(a);
  if (object == nullptr) {
    out += u"TObject @ nil";
    return;
  }
  out += object->ClassName();
  out += u" @ ";
  out += PointerToHex(LowAddressBits(object));
}

// ---------------------------------------------------------------------------
// The printed form

enum class PrintOp : uint8_t {
  Value,     // print the atom
  Cells,     // print the element of a list or expression cell and go on
  Children,  // print a child variable and go on with its siblings
  Close,     // write the closing bracket of a container
};

struct PrintStep {
  PrintOp Op;
  bool Separator;  // Cells: write a blank first
  char16_t Bracket;
  const TAtom* Atom;
};

class Printer {
public:
  // limit: printing stops once the text is longer (the rest is left out).
  Printer(TStructure& s, std::u16string& out, size_t limit = SIZE_MAX) : s_(s), out_(out), limit_(limit) {}

  void Print(const TAtom* a) {
    work_.push_back({PrintOp::Value, false, 0, a});
    Run();
  }

  // A list without its outer brackets.
  void PrintElements(const TAtom* list) {
    work_.push_back({PrintOp::Cells, false, 0, list});
    Run();
  }

private:
  void Run() {
    while (!work_.empty() && out_.size() <= limit_) {
      PrintStep step = work_.back();
      work_.pop_back();
      switch (step.Op) {
        case PrintOp::Value:
          Value(step.Atom);
          break;
        case PrintOp::Cells: {
          if (step.Separator) out_.push_back(u' ');
          if (const TAtom* next = NextCell(step.Atom)) work_.push_back({PrintOp::Cells, true, 0, next});
          work_.push_back({PrintOp::Value, false, 0, step.Atom->Left});
          break;
        }
        case PrintOp::Children:
          out_.push_back(u' ');
          if (step.Atom->NextSibling) work_.push_back({PrintOp::Children, false, 0, step.Atom->NextSibling});
          work_.push_back({PrintOp::Value, false, 0, step.Atom});
          break;
        case PrintOp::Close:
          out_.push_back(step.Bracket);
          --depth_;
          break;
      }
    }
  }

  // Opens a container; false (after "..." and the bracket) when the nesting
  // is too deep and the error is suppressed.
  bool Open(char16_t close) {
    if (depth_ >= kMaxNesting) {
      s_.RaiseTooDeep();
      out_ += u"...";
      out_.push_back(close);
      return false;
    }
    ++depth_;
    work_.push_back({PrintOp::Close, false, close, nullptr});
    return true;
  }

  void Value(const TAtom* a) {
    if (a == nullptr) {
      out_ += u"[]";
      return;
    }
    if (a == SystemValue) {
      out_ += u"system value";
      return;
    }
    switch (a->Kind) {
      case akNumber:
        AppendNumberLower(out_, a->Number);
        return;
      case akWord:
        out_ += a->Text;
        return;
      case akList:
      case akExpression: {
        const bool list = a->Kind == akList;
        out_.push_back(list ? u'[' : u'(');
        if (Open(list ? u']' : u')')) work_.push_back({PrintOp::Cells, false, 0, a});
        return;
      }
      case akWinObject:
        AppendWinObject(out_, a);
        return;
      case akVariable:
        out_.push_back(u'{');
        out_ += a->Text;
        out_.push_back(u'=');
        if (Open(u'}')) {
          if (a->FirstChild) work_.push_back({PrintOp::Children, false, 0, a->FirstChild});
          work_.push_back({PrintOp::Value, false, 0, a->Left});
        }
        return;
      case akMemoryBlock:
        out_ += u"memory block @ ";
        out_ += PointerToHex(LowAddressBits(a->Object()));
        return;
    }
    out_ += u"???";
  }

  TStructure& s_;
  std::u16string& out_;
  size_t limit_;
  std::vector<PrintStep> work_;
  size_t depth_ = 0;
};

void AppendText(TStructure& s, const TAtom* a, std::u16string& out) {
  // Words and numbers, most of what is printed, need no work list.
  if (IsAtom(a) && a->Kind == akWord) {
    out += a->Text;
    return;
  }
  if (IsAtom(a) && a->Kind == akNumber) {
    AppendNumberLower(out, a->Number);
    return;
  }
  Printer(s, out).Print(a);
}

// ---------------------------------------------------------------------------
// Truth values

enum class Truth { True, False, Neither };

// The true test comes first, so a word that spells the true keyword is never
// false, whatever the false keyword is.
Truth Classify(const TStructure& s, const TAtom* a) {
  if (!IsAtom(a)) return Truth::Neither;
  const TLanguage& lang = s.Language;
  if (a == lang.TrueAtom) return Truth::True;
  if (a == lang.FalseAtom) return Truth::False;
  if (a == lang.TrueWord && lang.TrueWordIsTrue) return Truth::True;
  if (a == lang.FalseWord && lang.FalseWordIsFalse) return Truth::False;
  if (a->Kind != akWord && a->Kind != akNumber) return Truth::Neither;
  std::u16string numberText;
  std::u16string_view text;
  if (a->Kind == akWord) {
    text = a->Text;
  } else {
    numberText = NumberTextLower(a->Number);
    text = numberText;
  }
  const std::u16string& trueWord = lang.KeywordTableUpper[kwTrue];
  const std::u16string& falseWord = lang.KeywordTableUpper[kwFalse];
  if (!trueWord.empty() && EqualsUpper(text, trueWord)) return Truth::True;
  if (lang.DualLanguageSupport && EqualsUpper(text, u"TRUE")) return Truth::True;
  if (!falseWord.empty() && EqualsUpper(text, falseWord)) return Truth::False;
  if (lang.DualLanguageSupport && EqualsUpper(text, u"FALSE")) return Truth::False;
  return Truth::Neither;
}

// ---------------------------------------------------------------------------
// Comparison

// A character's rank in the byte order of the code page; characters the page
// lacks rank after every byte, by code unit, so different texts never tie.
uint32_t CharRank(char16_t ch, int codePage) {
  if (ch < 0x80) return ch;
  uint8_t byte = 0;
  if (CharToCodePage(ch, codePage, byte)) return byte;
  return 0x100u + ch;
}

int CompareTexts(std::u16string_view a, std::u16string_view b, int codePage) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const uint32_t ra = CharRank(a[i], codePage);
    const uint32_t rb = CharRank(b[i], codePage);
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int CompareNumbers(const TStructure& s, long double x, long double y) { return NumberOrder(s, x, y); }

namespace {

constexpr int kDescend = 3;  // both are non-empty lists: compare their elements

// Compares two values that are not both lists; kDescend when they are.
int CompareValues(TStructure& s, const TAtom* a, const TAtom* b) {
  if (a == b) return 0;
  long double x = 0;
  long double y = 0;
  if (TAtom::TryNumber(a, x) && TAtom::TryNumber(b, y)) return CompareNumbers(s, x, y);
  if (TAtom::IsWordOrNumber(a) && TAtom::IsWordOrNumber(b)) {
    std::u16string numberA;
    std::u16string numberB;
    std::u16string_view ta;
    std::u16string_view tb;
    if (a->Kind == akNumber) {
      numberA = NumberTextLower(a->Number);
      ta = numberA;
    } else {
      ta = a->Text;
    }
    if (b->Kind == akNumber) {
      numberB = NumberTextLower(b->Number);
      tb = numberB;
    } else {
      tb = b->Text;
    }
    return CompareTexts(ta, tb, s.Language.CodePage);
  }
  if (TAtom::IsList(a) && TAtom::IsList(b)) {
    if (a == nullptr) return -1;  // b is a non-empty list
    if (b == nullptr) return 1;
    return kDescend;
  }
  return 2;
}

struct ListPair {
  const TAtom* A;  // current cells
  const TAtom* B;
};

}  // namespace

// ---------------------------------------------------------------------------
// Conversions

bool TAtom::TryNumber(const TAtom* a, long double& x) {
  x = 0;
  if (!IsAtom(a)) return false;
  if (a->Kind == akNumber) {
    x = a->Number;
    return true;
  }
  if (a->Kind != akWord) return false;
  long double v = 0;
  if (!ParseNumberWord(a->Text, v)) return false;
  x = v;
  return true;
}

long double TAtom::AsNumber(TStructure& s, const TAtom* a) {
  long double x = 0;
  if (TryNumber(a, x)) return x;
  s.RaiseError(s.MessageText(u"BADNUMBER", {ToText(s, a)}));
  return 0;
}

int32_t TAtom::AsInteger(TStructure& s, const TAtom* a) {
  long double x = 0;
  if (!TryNumber(a, x)) {
    s.RaiseError(s.MessageText(u"BADNUMBER", {ToText(s, a)}));
    return 0;
  }
  if (!std::isfinite(x)) {
    s.RaiseError(s.MessageText(u"BADNUMBER", {ToText(s, a)}));
    return 0;
  }
  const long double r = std::nearbyint(x);
  const bool inRange = r >= -2147483648.0L && r <= 2147483647.0L;
  if (r != x || !inRange) s.RaiseError(s.MessageText(u"BADNUMBER", {ToText(s, a)}));
  return inRange ? static_cast<int32_t>(r) : 0;
}

std::u16string TAtom::AsString(TStructure& s, const TAtom* a) {
  if (IsAtom(a)) {
    if (a->Kind == akWord) return a->Text;
    if (a->Kind == akNumber) return NumberTextLower(a->Number);
  }
  s.RaiseError(s.MessageText(u"BADSTRING", {ToText(s, a)}));
  return {};
}

bool TAtom::AsBoolean(TStructure& s, const TAtom* a) {
  switch (Classify(s, a)) {
    case Truth::True:
      return true;
    case Truth::False:
      return false;
    case Truth::Neither:
      break;
  }
  s.RaiseError(u"Not a boolean");
  return false;
}

bool TAtom::IsTrue(const TStructure& s, const TAtom* a) { return Classify(s, a) == Truth::True; }

bool TAtom::IsFalse(const TStructure& s, const TAtom* a) { return Classify(s, a) == Truth::False; }

std::u16string TAtom::KindName(const TAtom* a, bool definite) {
  std::u16string_view name;
  long double x = 0;
  if (a == nullptr) {
    name = u"empty list";
  } else if (a == SystemValue) {
    name = u"system value";
  } else {
    switch (a->Kind) {
      case akNumber:
        name = u"number";
        break;
      case akWord:
        name = TryNumber(a, x) ? u"number" : u"word";
        break;
      case akList:
        name = u"list";
        break;
      case akExpression:
        name = u"expression";
        break;
      case akWinObject:
        name = u"Windows object";
        break;
      case akVariable:
        name = a->FirstChild ? u"object" : u"variable";
        break;
      case akMemoryBlock:
        name = u"memory block";
        break;
      default:
        name = u"unknown datum";
        break;
    }
  }
  std::u16string result;
  if (definite) {
    result = u"the ";
  } else if (name[0] == u'e' || name[0] == u'o') {
    result = u"an ";
  } else {
    result = u"a ";
  }
  result += name;
  return result;
}

// ---------------------------------------------------------------------------
// Printed forms

std::u16string TAtom::ToText(TStructure& s, const TAtom* a) {
  std::u16string out;
  AppendText(s, a, out);
  return out;
}

void AppendPrintedForm(TStructure& s, const TAtom* a, std::u16string& out) { AppendText(s, a, out); }

namespace {
// The pairs of digits 00 to 99 as two text units each, in memory order.
constexpr std::array<uint32_t, 100> kUnitPairs = [] {
  std::array<uint32_t, 100> pairs{};
  for (uint32_t i = 0; i < 100; ++i) {
    const uint32_t tens = u'0' + i / 10;
    const uint32_t ones = u'0' + i % 10;
    pairs[i] = std::endian::native == std::endian::little ? tens | ones << 16 : tens << 16 | ones;
  }
  return pairs;
}();

// Writes v's digits so that the last ends just before end, two digits a
// division (32-bit ones where v fits them), each pair one store; returns
// where the first is.
template <class Unsigned>
char16_t* WriteDigitsBefore(Unsigned v, char16_t* end) {
  for (; v >= 100; v /= 100) {
    end -= 2;
    std::memcpy(end, &kUnitPairs[static_cast<size_t>(v % 100)], sizeof(uint32_t));
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, &kUnitPairs[static_cast<size_t>(v)], sizeof(uint32_t));
  } else {
    *--end = static_cast<char16_t>(u'0' + v);
  }
  return end;
}

// The decimal digits of v: its bit width times log10(2) (1233 / 4096)
// gives the count or one more, which one comparison settles.
inline size_t DigitCount(uint64_t v) {
  static constexpr uint64_t kPowersOfTen[] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL,
                                              10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL,
                                              100000000000ULL, 1000000000000ULL, 10000000000000ULL,
                                              100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
                                              100000000000000000ULL, 1000000000000000000ULL,
                                              10000000000000000000ULL};
  const uint64_t nonzero = v | 1;
  const size_t estimate = (static_cast<size_t>(std::bit_width(nonzero)) * 1233) >> 12;
  return estimate + (nonzero >= kPowersOfTen[estimate] ? 1 : 0);
}

// x as a whole number where it is one: truncation sets the x87 rounding
// mode twice, while a store in the current mode is exact for a whole
// number whatever the mode, and a fraction never compares equal after it.
inline bool WholeNumberOf(long double x, long long& whole) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__("fistpll %0" : "=m"(whole) : "t"(x) : "st");
#else
  whole = static_cast<long long>(x);
#endif
  return static_cast<long double>(whole) == x;
}

[[gnu::noinline]] size_t PrintOtherNumberInto(long double x, char16_t* out) {
  std::u16string text;
  AppendNumberLower(text, x);
  const size_t length = std::min(text.size(), kMaxPrintedNumber);
  std::copy_n(text.data(), length, out);
  return length;
}

// A whole number of magnitude below 1e18 written from the end without a
// string.
size_t PrintWholeNumberInto(long long whole, char16_t* out) {
  const uint64_t v = whole < 0 ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
  // Sized first, so the digits go straight to their places.
  const size_t length = DigitCount(v) + (whole < 0 ? 1 : 0);
  if (whole < 0) out[0] = u'-';
  if (v <= UINT32_MAX)
    WriteDigitsBefore(static_cast<uint32_t>(v), out + length);
  else
    WriteDigitsBefore(v, out + length);
  return length;
}

constexpr long long kWholePrintedBelow = 1000000000000000000LL;  // 1e18
}  // namespace

size_t PrintNumberInto(long double x, char16_t* out) {
  // Whole numbers below 1e18, what words are mostly built from, written
  // without a string; everything else the way AppendText prints it.
  long long whole = 0;
  if (!(x > -1e18L && x < 1e18L) || !WholeNumberOf(x, whole)) return PrintOtherNumberInto(x, out);
  return PrintWholeNumberInto(whole, out);
}

size_t PrintNumberInto(const TPackedNumber& x, char16_t* out) {
  // The whole number read from the bytes, without the x87 unit.
  int64_t whole = 0;
  if (!x.ReadWhole(whole) || whole >= kWholePrintedBelow || whole <= -kWholePrintedBelow)
    return PrintOtherNumberInto(x, out);
  return PrintWholeNumberInto(whole, out);
}

std::u16string TAtom::ToText(TStructure& s, const TAtom* a, size_t maxChars) {
  std::u16string out;
  if (IsAtom(a) && (a->Kind == akWord || a->Kind == akNumber)) {
    AppendText(s, a, out);
  } else {
    Printer(s, out, maxChars).Print(a);
  }
  return out;
}

std::u16string TAtom::ToTextBare(TStructure& s, const TAtom* a) {
  if (a == nullptr) return {};
  if (a == SystemValue) return u"system value";
  std::u16string out;
  if (a->Kind == akList) {
    Printer(s, out).PrintElements(a);
  } else {
    AppendText(s, a, out);
  }
  return out;
}

namespace {

// " " and then marker, name and " " for every input; stops at the first
// marker or name that is not a word (a marker is never written without its
// name).
std::u16string InputPart(const TAtom* inputs) {
  std::u16string part = u" ";
  for (const TAtom* cell = IsCell(inputs) ? inputs : nullptr; cell;) {
    const TAtom* marker = cell->Left;
    const TAtom* nameCell = NextCell(cell);
    if (!TAtom::IsWord(marker) || nameCell == nullptr || !TAtom::IsWord(nameCell->Left)) break;
    part += marker->Text;
    part += nameCell->Left->Text;
    part.push_back(u' ');
    cell = NextCell(nameCell);
  }
  return part;
}

}  // namespace

std::u16string TAtom::UsageText(TStructure&, const TAtom* procedure) {
  if (!IsAtom(procedure) || procedure->Kind != akVariable) return {};
  const TAtom* definition = procedure->Left;
  if (!IsAtom(definition) || definition->Kind != akList) return {};
  const TAtom* first = definition->Left;
  if (!IsList(first)) return {};
  const TAtom* second = IsAtom(definition->Right) && definition->Right->Kind == akList ? definition->Right : nullptr;
  const bool leftAndRight = second != nullptr && IsList(second->Left);
  const std::u16string left = leftAndRight ? InputPart(first) : std::u16string();
  const std::u16string right = InputPart(leftAndRight ? second->Left : first);
  std::u16string result;
  result.reserve(left.size() + procedure->Text.size() + right.size() + 3);
  result.append(leftAndRight ? left : std::u16string(1, u' '));
  if (leftAndRight) result.append(1, u' ');
  result.append(procedure->Text);
  result.append(1, u' ');
  result.append(right);
  return result;
}

namespace {

void AppendDumpValue(TStructure& s, const TAtom* value, std::u16string& out) {
  std::u16string text = TAtom::ToText(s, value);
  if (text.size() > kDumpValueMax) {
    out.append(text, 0, kDumpValueHead);
    out += u"...";
    out.append(text, text.size() - kDumpValueTail, kDumpValueTail);
  } else {
    out += text;
  }
}

void DumpInto(TStructure& s, const TAtom* a, const std::u16string& indent, std::u16string& out) {
  const size_t start = out.size();
  out += indent;
  if (a == nullptr) {
    out += u"[]";
    return;
  }
  if (a == SystemValue) {
    out += u"system value";
    return;
  }
  switch (a->Kind) {
    case akNumber:
      AppendNumber(out, a->Number);
      return;
    case akWord:
      out += a->Text;
      return;
    case akList:
    case akExpression:
      AppendText(s, a, out);
      return;
    case akWinObject: {
      const WrappedObject* object = TAtom::WinObject(a);
      out += object ? object->ClassName() : u"TObject";
      return;
    }
    case akMemoryBlock:
      out += u"memory-block";
      return;
    case akVariable:
      break;
    default:
      out.resize(start);
      out += u"unknown value";
      return;
  }

  const bool hasValue = a->Left != nullptr;
  if (a->Text == u"[]") {
    if (hasValue) {
      out.push_back(kBold);
      out += u"<unnamed>";
      out.push_back(kBold);
      out.push_back(u'=');
    }
  } else {
    out.push_back(kBold);
    out += a->Text;
    out.push_back(kBold);
    if (hasValue) out.push_back(u'=');
  }
  if (hasValue || a->FirstChild == nullptr) AppendDumpValue(s, a->Left, out);
  if (a->FirstChild == nullptr) return;

  const std::u16string childIndent = indent + u"      ";
  DepthGuard guard(s);
  if (guard.TooDeep()) {
    s.RaiseTooDeep();
    out.push_back(u'\r');
    out += childIndent;
    out += u"...";
    return;
  }
  for (const TAtom* child = a->FirstChild; child; child = child->NextSibling) {
    out.push_back(u'\r');
    DumpInto(s, child, childIndent, out);
  }
}

}  // namespace

void TAtom::DumpTree(TStructure& s, const TAtom* a, std::u16string_view indent, std::u16string& out) {
  const std::u16string start(indent);  // indent may view into out
  out.clear();
  DumpInto(s, a, start, out);
}

// ---------------------------------------------------------------------------
// Comparison and message helpers

int CompareAtoms(TStructure& s, const TAtom* a, const TAtom* b) {
  int result = CompareValues(s, a, b);
  if (result != kDescend) return result;

  // Both are non-empty lists: walk them cell by cell, descending into element
  // lists on a work stack of the lists being compared.
  std::vector<ListPair> open;
  open.push_back({a, b});
  while (!open.empty()) {
    ListPair& top = open.back();
    if (top.A == top.B) {  // the same rest (both ended included)
      open.pop_back();
      continue;
    }
    if (top.A == nullptr) return -1;
    if (top.B == nullptr) return 1;
    const TAtom* x = top.A->Left;
    const TAtom* y = top.B->Left;
    top.A = NextCell(top.A);
    top.B = NextCell(top.B);
    result = CompareValues(s, x, y);
    if (result == kDescend) {
      if (open.size() >= kMaxNesting) {
        s.RaiseTooDeep();
        return 2;
      }
      open.push_back({x, y});
      continue;
    }
    if (result != 0) return result;
  }
  return 0;
}

std::u16string FormatMissingArg(TStructure& s, std::u16string_view first, std::u16string_view second) {
  return s.MessageText(u"MISSINGARG", {std::u16string(first), std::u16string(second)});
}

std::u16string FormatUserLock(TStructure& s, std::u16string_view name) {
  return s.MessageText(u"USERLOCK", {std::u16string(name)});
}

std::u16string FormatNumber(long double x) {
  std::u16string out;
  AppendNumber(out, x);
  return out;
}
