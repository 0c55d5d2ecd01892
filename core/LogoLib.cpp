// The base primitives: arithmetic on extended reals, logic, comparison, type
// tests, and the word and list primitives; the input readers and the error
// helper the other primitive files share.
//
// Every primitive reads its inputs through the checked readers and builds
// its result with the atom constructors. A raised error returns only when it
// is suppressed (no current line); every primitive then ends with a defined
// result, usually the empty list.

#include "core/LogoLib.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <numbers>
#include <initializer_list>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Atoms.h"
#include "core/Exports.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"

// --- reading inputs -------------------------------------------------------------

std::u16string PrimitiveName(int32_t ordinal) {
  std::string_view name = ExportName(ordinal);
  if (name.starts_with("LOGO")) name.remove_prefix(4);
  std::u16string result;
  for (const char ch : name) result.push_back(static_cast<char16_t>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch));
  return result;
}

TAtom* CheckedCell(TStructure& s, int32_t ordinal, int32_t n) {
  TAtom* cell = s.Cell(n);
  if (cell == nullptr)
    s.RaiseError(s.MessageText(u"MISSINGARG", {U16(std::to_string(n)), PrimitiveName(ordinal)}), u"missing-arg");
  return cell;
}

namespace {
[[gnu::noinline, gnu::cold]] void RaiseMissingInput(TStructure& s, int32_t ordinal, int32_t n) {
  s.RaiseError(s.MessageText(u"MISSINGARG", {U16(std::to_string(n)), PrimitiveName(ordinal)}), u"missing-arg");
}
}  // namespace

bool CheckedInput(TStructure& s, int32_t ordinal, int32_t n) {
  if (s.HasInput(n)) [[likely]]
    return true;
  RaiseMissingInput(s, ordinal, n);
  return false;
}

TAtom* CellInput(TStructure& s, int32_t ordinal, int32_t n) {
  return CheckedInput(s, ordinal, n) ? s.InputValue(n) : nullptr;
}

namespace {
// A number input: a number atom directly, anything else through AsNumber
// (which converts a numeric word or raises). A word that reads as a
// number keeps what it reads as: numbers in lists (loop bodies) stay words
// and would otherwise be parsed on every round.
inline bool ReadsAsNumber(TStructure& s, const TAtom* value, long double& x) {
  if (!IsAtom(value)) return false;
  if (value->Kind == akNumber) {
    x = value->Number;
    return true;
  }
  if (!s.FastPaths || value->Kind != akWord) return false;
  if ((value->Marks & amNumberRead) != 0) {
    x = value->Number;
    return true;
  }
  if (!TAtom::TryNumber(value, x)) return false;
  TAtom* word = const_cast<TAtom*>(value);  // the text it caches for never changes
  word->Number = x;
  word->Marks |= amNumberRead;
  return true;
}

inline long double ValueNumber(TStructure& s, const TAtom* value) {
  long double x = 0;
  if (ReadsAsNumber(s, value, x)) return x;
  return TAtom::AsNumber(s, value);
}
}  // namespace

long double NumberInput(TStructure& s, int32_t ordinal, int32_t n) { return ValueNumber(s, CellInput(s, ordinal, n)); }

int32_t IntegerInput(TStructure& s, int32_t ordinal, int32_t n) {
  return TAtom::AsInteger(s, CellInput(s, ordinal, n));
}

bool WholeNumberValue(TStructure& s, const TAtom* value, int32_t& result) {
  long double x = 0;
  if (TAtom::TryNumber(value, x) && std::isfinite(x) && std::trunc(x) == x && x >= INT32_MIN && x <= INT32_MAX) {
    result = static_cast<int32_t>(x);
    return true;
  }
  TAtom::AsInteger(s, value);  // raises the conversion's error
  return false;
}

bool BooleanInput(TStructure& s, int32_t ordinal, int32_t n) { return TAtom::AsBoolean(s, CellInput(s, ordinal, n)); }

TNumberPair FetchTwoNumbers(TStructure& s, int32_t ordinal) {
  const long double second = NumberInput(s, ordinal, 1);
  const long double first = NumberInput(s, ordinal, 2);
  return {first, second};
}

long double FetchOneNumber(TStructure& s, int32_t ordinal) { return NumberInput(s, ordinal, 1); }

TOneOrTwoNumbers FetchNumbersForSub(TStructure& s, int32_t ordinal) {
  if (s.InputCount() < 2) return {NumberInput(s, ordinal, 1), 0, true};
  const TNumberPair pair = FetchTwoNumbers(s, ordinal);
  return {pair.First, pair.Second, false};
}

TBooleanPair FetchTwoBooleans(TStructure& s, int32_t ordinal) {
  const bool second = BooleanInput(s, ordinal, 1);
  const bool first = BooleanInput(s, ordinal, 2);
  return {first, second};
}

bool FetchOneBoolean(TStructure& s, int32_t ordinal) { return BooleanInput(s, ordinal, 1); }

TAtom* FetchOneAtom(TStructure& s, int32_t ordinal) { return CellInput(s, ordinal, 1); }

TAtomPair FetchTwoAtoms(TStructure& s, int32_t ordinal) {
  TAtom* second = CellInput(s, ordinal, 1);
  TAtom* first = CellInput(s, ordinal, 2);
  return {first, second};
}

TAtom* RaisePrimitiveError(TStructure& s, std::u16string_view key, TAtom* fallback) {
  s.RaiseError(std::u16string(key), key);
  return fallback;
}

namespace {

// --- numbers ----------------------------------------------------------------------

constexpr long double kPi = std::numbers::pi_v<long double>;
// Trigonometric results smaller than this are rounding noise of the degree
// conversion: sin 180 and cos 90 are exactly 0.
constexpr long double kTrigNoise = 1e-19L;

long double Sum(long double a, long double b) { return a + b; }
long double Product(long double a, long double b) { return a * b; }
long double Quotient(long double a, long double b) { return a / b; }

long double SquareRoot(long double x) { return std::sqrt(x); }
long double Exponential(long double x) { return std::exp(x); }
long double NaturalLog(long double x) { return std::log(x); }
long double Truncate(long double x) { return std::trunc(x); }
long double Absolute(long double x) { return std::fabs(x); }
long double Negate(long double x) { return -x; }
// Not-a-number is neither above nor below 0: its sign is 0.
long double Sign(long double x) {
  if (x > 0) return 1;
  if (!(x < 0)) return 0;
  return -1;
}

long double Radians(long double degrees) { return degrees / 180 * kPi; }
long double Degrees(long double radians) { return radians * 180 / kPi; }
long double WithoutNoise(long double x) { return std::fabs(x) < kTrigNoise ? 0 : x; }

long double SineDegrees(long double x) { return WithoutNoise(std::sin(Radians(x))); }
long double CosineDegrees(long double x) { return WithoutNoise(std::cos(Radians(x))); }
// The cosine of 90 degrees is a tiny number, not 0, so tan 90 stays finite.
long double TangentDegrees(long double x) {
  const long double angle = Radians(x);
  return WithoutNoise(std::sin(angle) / std::cos(angle));
}
long double CotangentDegrees(long double x) {
  const long double angle = Radians(x);
  return WithoutNoise(std::cos(angle) / std::sin(angle));
}
// Outside [-1, 1] the square root is NaN, and so is the angle.
long double ArcSineDegrees(long double x) { return Degrees(std::atan2(x, std::sqrt(1 - x * x))); }
long double ArcCosineDegrees(long double x) { return Degrees(std::atan2(std::sqrt(1 - x * x), x)); }
long double ArcTangentDegrees(long double x) { return Degrees(std::atan2(x, 1.0L)); }
// Negative inputs answer in (90, 180); NaN counts as negative.
long double ArcCotangentDegrees(long double x) {
  const long double angle = Degrees(std::atan2(1 / x, 1.0L));
  return x >= 0 ? angle : angle + 180;
}

// base ^ n by squaring: about 2 log2(n) multiplications, exact wherever the
// repeated product would be.
long double PowerBySquaring(long double base, uint64_t n) {
  long double result = 1;
  while (n != 0) {
    if ((n & 1) != 0) result *= base;
    n >>= 1;
    if (n != 0) base *= base;
  }
  return result;
}

long double IntegerPower(long double base, int64_t exponent) {
  if (exponent >= 0) return PowerBySquaring(base, static_cast<uint64_t>(exponent));
  const uint64_t magnitude = static_cast<uint64_t>(-exponent);
  const long double power = PowerBySquaring(base, magnitude);
  // When base ^ n overflows or underflows its reciprocal may still be in
  // range (2 ^ -16440 is a denormal): take the reciprocal of the base first.
  if (std::isfinite(power) && power != 0) return 1 / power;
  return PowerBySquaring(1 / base, magnitude);
}

bool IsInt32(long double x) { return x == std::trunc(x) && x >= INT32_MIN && x <= INT32_MAX; }

// Integral exponents in the 32-bit range work for negative bases too; any
// other exponent goes through the logarithm, NaN for a negative base.
long double Power(long double base, long double exponent) {
  if (exponent == 0) return 1;
  if (base == 0 && exponent > 0) return 0;
  if (IsInt32(exponent)) return IntegerPower(base, static_cast<int64_t>(exponent));
  // The same value as exp(exponent * ln base), computed with one rounding.
  if (base > 0 && std::isfinite(exponent)) return std::pow(base, exponent);
  return std::exp(exponent * std::log(base));
}

// ROUND keeps at most this many decimals (and 18 significant digits).
constexpr int kMaxDecimals = 18;

// The 18 significant decimal digits of a positive finite number and the
// power of ten of the first one.
struct TDecimalForm {
  std::string Digits;
  int Exponent;
};

TDecimalForm DecimalForm(long double x) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17Le", x);
  TDecimalForm form{{}, 0};
  // Only the digits and the exponent are read: the locale's decimal point,
  // whatever it is, does not matter.
  const char* p = buffer;
  for (; *p != '\0' && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') form.Digits.push_back(*p);
  if (*p == 'e') form.Exponent = std::atoi(p + 1);
  return form;
}

// Adds one unit in the last place of a digit string ("199" -> "200", "99" -> "100").
void IncrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
}

// x rounded to `decimals` places on its 18-significant-digit decimal form,
// half away from zero, so 2.5 gives 3 and 0.05 to one place 0.1 although
// neither is exact in binary. Places are clamped to 0..18; infinities and
// NaN come back unchanged.
long double RoundToDecimals(long double x, int32_t decimals) {
  if (!std::isfinite(x) || x == 0) return x;
  const int places = std::clamp(decimals, 0, kMaxDecimals);
  const TDecimalForm form = DecimalForm(std::fabs(x));
  const int digitCount = static_cast<int>(form.Digits.size());
  // The digits down to the last kept place; a number below half a unit of
  // that place keeps none.
  const int keep = std::min(form.Exponent + places + 1, digitCount);
  if (keep < 0) return 0;
  std::string kept = form.Digits.substr(0, static_cast<size_t>(keep));
  if (keep < digitCount && form.Digits[static_cast<size_t>(keep)] >= '5') IncrementDigits(kept);
  if (kept.empty()) return 0;
  // Integer digits times a power of ten (that of the last kept place): no
  // decimal point for the locale to misread.
  std::string text = std::signbit(x) ? "-" : "";
  text += kept;
  text += 'e';
  text += std::to_string(form.Exponent - keep + 1);
  return std::strtold(text.c_str(), nullptr);
}

long double UnitRandom(std::mt19937_64& random) { return static_cast<long double>(random()) * 0x1p-64L; }

long double MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long double>(static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

template <long double (*F)(long double), int32_t Ordinal>
TAtom* UnaryNumber(TInterpreter& in) {
  return NumberResult(in.S, F(FetchOneNumber(in.S, Ordinal)));
}

template <long double (*F)(long double, long double), int32_t Ordinal>
TAtom* BinaryNumber(TInterpreter& in) {
  const TNumberPair inputs = FetchTwoNumbers(in.S, Ordinal);
  return NumberResult(in.S, F(inputs.First, inputs.Second));
}

TAtom* Difference(TInterpreter& in) {
  const TOneOrTwoNumbers inputs = FetchNumbersForSub(in.S, exLOGOSUB);
  return NumberResult(in.S, inputs.Single ? -inputs.First : inputs.First - inputs.Second);
}

TAtom* PiConstant(TInterpreter& in) { return NumberResult(in.S, kPi); }

TAtom* RandomNumber(TInterpreter& in) {
  const long double scale = in.S.InputCount() > 0 ? FetchOneNumber(in.S, exLOGORANDOM) : 1;
  return NumberResult(in.S, UnitRandom(in.Random) * scale);
}

TAtom* RoundNumber(TInterpreter& in) {
  const int32_t decimals = IntegerInput(in.S, exLOGOROUND, 1);
  const long double x = NumberInput(in.S, exLOGOROUND, 2);
  return NumberResult(in.S, RoundToDecimals(x, decimals));
}

// The tolerance as a number of decimals, before any change.
TAtom* Epsilon(TInterpreter& in) {
  TStructure& s = in.S;
  const long double decimals = -std::log10(s.Epsilon);
  if (s.InputCount() > 0) s.Epsilon = std::pow(10.0L, -FetchOneNumber(s, exLOGOEPSILON));
  return NumberResult(s, decimals);
}

TAtom* Milliseconds(TInterpreter& in) { return NumberResult(in.S, MonotonicMilliseconds()); }

// --- logic and comparison ---------------------------------------------------------

TAtom* Not(TInterpreter& in) { return NewBoolean(in.S, !FetchOneBoolean(in.S, exLOGONOT)); }

TAtom* And(TInterpreter& in) {
  const TBooleanPair inputs = FetchTwoBooleans(in.S, exLOGOAND);
  return NewBoolean(in.S, inputs.First && inputs.Second);
}

TAtom* Or(TInterpreter& in) {
  const TBooleanPair inputs = FetchTwoBooleans(in.S, exLOGOOR);
  return NewBoolean(in.S, inputs.First || inputs.Second);
}

// Which results of CompareAtoms a comparison accepts; 2 (not comparable)
// is never accepted.
enum OrderSet : unsigned { kBelow = 1, kEqual = 2, kAbove = 4 };

template <unsigned Accepted, int32_t Ordinal>
TAtom* Comparison(TInterpreter& in) {
  const TAtomPair inputs = FetchTwoAtoms(in.S, Ordinal);
  // Two numbers (most comparisons) skip the general classification; one
  // atom twice compares equal as CompareAtoms has it, whatever its number.
  long double x = 0;
  long double y = 0;
  const int order = in.S.FastPaths && inputs.First != inputs.Second && ReadsAsNumber(in.S, inputs.First, x) &&
                            ReadsAsNumber(in.S, inputs.Second, y)
                        ? CompareNumbers(in.S, x, y)
                        : CompareAtoms(in.S, inputs.First, inputs.Second);
  const bool accepted = order >= -1 && order <= 1 && ((Accepted >> (order + 1)) & 1u) != 0;
  return NewBoolean(in.S, accepted);
}

// --- type tests -------------------------------------------------------------------

TAtom* NumberP(TInterpreter& in) {
  long double ignored = 0;
  return NewBoolean(in.S, TAtom::TryNumber(FetchOneAtom(in.S, exLOGONUMBERP), ignored));
}

TAtom* WordP(TInterpreter& in) {
  const TAtom* value = FetchOneAtom(in.S, exLOGOWORDP);
  long double ignored = 0;
  return NewBoolean(in.S, TAtom::IsWordOrNumber(value) && !TAtom::TryNumber(value, ignored));
}

// An object with members is not a list, whatever its value.
TAtom* ListP(TInterpreter& in) {
  const TAtom* value = CellInput(in.S, exLOGOLISTP, 1);
  return NewBoolean(in.S, TAtom::IsList(value) && in.S.InputMembers(1) == nullptr);
}

// --- words ------------------------------------------------------------------------

bool IsHighSurrogate(char16_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }
bool IsLowSurrogate(char16_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

// Units of the character starting at index i: 2 for a surrogate pair.
size_t CharUnits(std::u16string_view text, size_t i) {
  return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// Characters of a text; a surrogate pair is one character. Pairs never
// overlap (a low surrogate is no high one), so each low surrogate after a
// high one takes one unit off.
size_t CharCount(std::u16string_view text) {
  size_t count = text.size();
  // Most text holds no surrogate at all: a word-wide scan tells.
  if (!HoldsSurrogate(text)) return count;
  size_t i = 1;
  while (i < text.size() && !IsLowSurrogate(text[i])) ++i;
  for (; i < text.size(); ++i)
    if (IsLowSurrogate(text[i]) && IsHighSurrogate(text[i - 1])) --count;
  return count;
}

// The characters of an atom's text: its size when it is known to hold no
// surrogate.
[[gnu::always_inline]] inline size_t CharCount(const TAtomText& text) {
  return text.KnownFreeOfSurrogates() ? text.size() : CharCount(text.view());
}

// The unit index where character number `chars` (0-based) starts.
size_t UnitOffset(std::u16string_view text, size_t chars) {
  size_t i = 0;
  for (; chars > 0 && i < text.size(); --chars) i += CharUnits(text, i);
  return i;
}

// Walks the inputs from input 1 (the last one) to the first one, giving
// each value and whether it is plain; false from the visitor stops the walk.
template <class Visit>
bool ForEachInputLastFirst(TStructure& s, Visit visit) {
  if (s.OperandInputs != nullptr) {
    for (int32_t n = 1; n <= s.OperandCount; ++n)
      if (!visit(s.InputValue(n), s.InputIsPlain(n))) return false;
    return true;
  }
  for (TAtom* cell = s.Cell(1); cell != nullptr; cell = cell->NextSibling)
    if (!visit(cell->Left, TAtom::IsPlainVariable(cell))) return false;
  return true;
}

// The inputs of a call, input 1 (the last one written) first, held in
// place for the usual few and on the heap beyond.
// Room made for the printed form of an input that is no word: a number's
// up to 99,999,999 needs no second allocation.
constexpr size_t kShortPrintedForm = 8;

class TGatheredInputs {
public:
  void Add(const TAtom* value) {
    if (count_ < kInline) {
      inline_[count_] = value;
    } else {
      if (count_ == kInline) more_.assign(inline_.begin(), inline_.end());
      more_.push_back(value);
    }
    ++count_;
  }
  size_t Count() const { return count_; }
  const TAtom* operator[](size_t i) const { return count_ <= kInline ? inline_[i] : more_[i]; }

private:
  static constexpr size_t kInline = 8;
  std::array<const TAtom*, kInline> inline_{};
  std::vector<const TAtom*> more_;
  size_t count_ = 0;
};

// WORD joins words and numbers in a buffer on the stack, so that the
// word's text is made once at its final size (the text of an atom let go
// of is kept for it, where there is one).
constexpr size_t kJoinedOnStack = 256;

// Copies a short text inline: a word's pieces are a few units long, where
// a call of memmove costs more than the copy. Up to eight units go in two
// loads and two stores that may overlap; longer ones four units a step.
inline void CopyUnits(const char16_t* from, size_t count, char16_t* to) {
  const auto copyOverlapping = [&]<class Word>(Word) {
    constexpr size_t kUnits = sizeof(Word) / sizeof(char16_t);
    Word first;
    Word last;
    std::memcpy(&first, from, sizeof first);
    std::memcpy(&last, from + count - kUnits, sizeof last);
    std::memcpy(to, &first, sizeof first);
    std::memcpy(to + count - kUnits, &last, sizeof last);
  };
  if (count >= 4 && count <= 8) return copyOverlapping(uint64_t{});
  if (count >= 2 && count < 4) return copyOverlapping(uint32_t{});
  if (count == 1) {
    *to = *from;
    return;
  }
  for (; count >= 4; count -= 4, from += 4, to += 4) {
    uint64_t four = 0;
    std::memcpy(&four, from, sizeof four);
    std::memcpy(to, &four, sizeof four);
  }
  for (; count > 0; --count) *to++ = *from++;
}

// Appends a word's text or a number's printed form; false for any other
// value, or where it might not fit. A word not known to hold no surrogate
// clears noSurrogate when it holds one (a printed number never does).
inline bool AppendWordOrNumber(const TAtom* value, char16_t* joined, size_t& size, bool& noSurrogate) {
  if (!IsAtom(value)) return false;
  if (value->Kind == akWord) {
    const std::u16string_view text = value->Text;
    if (text.size() > kJoinedOnStack - size) return false;
    if (!value->Text.KnownFreeOfSurrogates() && noSurrogate) noSurrogate = !HoldsSurrogate(text);
    CopyUnits(text.data(), text.size(), joined + size);
    size += text.size();
    return true;
  }
  if (value->Kind != akNumber || kMaxPrintedNumber > kJoinedOnStack - size) return false;
  size += PrintNumberInto(value->Number, joined + size);
  return true;
}

TAtom* NewWordOf(TStructure& s, const char16_t* joined, size_t size, bool noSurrogate) {
  TAtom& atom = NewAtom(s);
  atom.Text.AssignUnits(joined, size, noSurrogate);
  return &atom;
}

// The joined text of count inputs, valueAt(i) input i + 1, in the written
// order (input 1 last); null where one is neither a word nor a number, or
// the text is long.
template <class ValueAt>
TAtom* JoinOnStack(TStructure& s, size_t count, ValueAt valueAt) {
  char16_t joined[kJoinedOnStack];
  size_t size = 0;
  bool noSurrogate = true;
  for (size_t i = count; i-- > 0;)
    if (!AppendWordOrNumber(valueAt(i), joined, size, noSurrogate)) return nullptr;
  return NewWordOf(s, joined, size, noSurrogate);
}

TAtom* JoinWords(TInterpreter& in) {
  TStructure& s = in.S;
  // Operands are never objects: every word or number is plain.
  if (s.OperandInputs != nullptr)
    if (TAtom* word = JoinOnStack(s, static_cast<size_t>(std::max(s.OperandCount, 0)),
                                  [&](size_t i) { return s.OperandInputs[i].Value; }))
      return word;
  // Joined in the written order, from the last input gathered, into text
  // made at the final size where every input is a word (room for a short
  // printed form each where not).
  TGatheredInputs inputs;
  size_t size = 0;
  const bool plain = ForEachInputLastFirst(s, [&](const TAtom* value, bool isPlain) {
    if (!isPlain) return false;
    inputs.Add(value);
    size += TAtom::IsWord(value) ? value->Text.size() : kShortPrintedForm;
    return true;
  });
  if (!plain) return RaisePrimitiveError(s, u"word");
  if (size <= kJoinedOnStack)
    if (TAtom* word = JoinOnStack(s, inputs.Count(), [&](size_t i) { return inputs[i]; })) return word;
  std::u16string text;
  text.reserve(size);
  for (size_t i = inputs.Count(); i-- > 0;) {
    AppendPrintedForm(s, inputs[i], text);
  }
  return NewWord(s, std::move(text));
}

TAtom* CountOf(TInterpreter& in) {
  TStructure& s = in.S;
  // A word held as an operand is plain: its characters, counted at once.
  if (s.OperandInputs != nullptr && s.OperandCount >= 1 && TAtom::IsWord(s.OperandInputs[0].Value))
    return NewWholeNumber(s, CharCount(s.OperandInputs[0].Value->Text));
  const TAtom* value = CellInput(s, exLOGOCOUNT, 1);
  if (!s.InputIsPlain(1)) return RaisePrimitiveError(s, u"count");
  if (TAtom::IsWord(value)) return NewWholeNumber(s, CharCount(value->Text));
  if (TAtom::IsWordOrNumber(value))
    return NumberResult(s, static_cast<long double>(CharCount(TAtom::AsString(s, value))));
  return NewWholeNumber(s, static_cast<uint64_t>(TAtom::Length(value)));
}

// The code of the first character in the active code page; a character the
// page lacks reads as "?", as it would when narrowed.
TAtom* AsciiCode(TInterpreter& in) {
  TStructure& s = in.S;
  const std::u16string text = TAtom::AsString(s, FetchOneAtom(s, exLOGOASCII));
  if (text.empty()) return RaisePrimitiveError(s, u"ascii");
  uint8_t byte = 0;
  if (!CharToCodePage(text[0], s.Language.CodePage, byte)) byte = '?';
  return NumberResult(s, byte);
}

TAtom* CharOfCode(TInterpreter& in) {
  TStructure& s = in.S;
  const int32_t code = IntegerInput(s, exLOGOCHAR, 1);
  if (code < 0 || code > 255) return RaisePrimitiveError(s, u"char");
  const char byte = static_cast<char>(static_cast<uint8_t>(code));
  return NewWordFromBytes(s, std::string_view(&byte, 1));
}

// --- lists ------------------------------------------------------------------------

bool IsCell(const TAtom* a) { return IsAtom(a) && (a->Kind == akList || a->Kind == akExpression); }

// A new list of the first `count` elements (fewer when the list is shorter);
// the elements are shared.
TAtom* CopyCells(TStructure& s, const TAtom* list, int32_t count) { return CopyListCells(s, list, count, nullptr); }

// The next cell as the list's own (a borrowed one is copied first, since
// the cell is handed out); anything that is not a cell ends the list.
TAtom* NextOwnCell(TStructure& s, TAtom* cell) {
  TAtom* next = (cell->Marks & amBorrowsRest) != 0 ? OwnRest(s, *cell) : cell->Right;
  return IsCell(next) ? next : nullptr;
}

// The cell after the first n; null when the list has exactly n cells.
// `ranOut` tells whether it has fewer.
TAtom* SkipCells(TStructure& s, TAtom* list, int32_t n, bool& ranOut) {
  TAtom* cell = IsCell(list) ? list : nullptr;
  ranOut = false;
  for (; n > 0; --n) {
    if (cell == nullptr) {
      ranOut = true;
      return nullptr;
    }
    cell = NextOwnCell(s, cell);
  }
  return cell;
}

TAtom* MakeList(TInterpreter& in) {
  TStructure& s = in.S;
  TAtom* result = nullptr;
  bool plain = true;
  if (s.OperandInputs != nullptr) {
    // A frameless call's operand values, input 1 (the last written) first.
    for (int32_t n = 1; n <= s.OperandCount && (plain = s.InputIsPlain(n)); ++n)
      result = NewListCell(s, s.OperandInputs[n - 1].Value, result);
  } else {
    plain = ForEachInputLastFirst(s, [&](TAtom* value, bool isPlain) {
      if (!isPlain) return false;
      result = NewListCell(s, value, result);
      return true;
    });
  }
  return plain ? result : RaisePrimitiveError(s, u"list");
}

// A cell that may borrow the rest after it: one whose element is not a
// list. The runner and the procedure-value readers step over leading list
// elements to the cell after them (a body past its input and local lists),
// which must never be a borrowed one.
bool MayBorrowAfter(const TAtom* element) {
  return IsAtom(element) && element->Kind != akList && element->Kind != akExpression;
}

// Whether the input puts a cell right in front of what follows (the empty
// list puts none), and that cell's element: an empty-list element is an
// element too.
bool LastElementOf(const TAtom* value, const TAtom*& element) {
  if (TAtom::IsWordOrNumber(value)) {
    element = value;
    return true;
  }
  const TAtom* last = TAtom::LastCell(const_cast<TAtom*>(value));
  if (last == nullptr) return false;
  element = last->Left;
  return true;
}

// Words and numbers become elements; lists and expressions give copies of
// their cells, so the result shares elements but no cells with the inputs.
// The last input's cells are borrowed instead where a copy could not be
// told from them (ShareableRest): the cell in front of them is marked, and
// takes its own copies before it hands one out. The inputs come last first;
// SystemValue when one is not plain.
template <class ForEachInput>
TAtom* JoinSentence(TStructure& s, ForEachInput forEachInput) {
  TAtom* result = nullptr;
  TAtom* borrowed = nullptr;  // the last input, while nothing is in front of it
  bool lastInput = true;
  const bool plain = forEachInput([&](TAtom* value, bool isPlain) {
    if (!isPlain) return false;
    if (std::exchange(lastInput, false) && s.FastPaths && IsAtom(value) && value->Kind == akList &&
        ShareableRest(s, value)) {
      result = borrowed = value;
      return true;
    }
    if (borrowed != nullptr) {
      const TAtom* element = nullptr;
      if (!LastElementOf(value, element)) return true;  // an empty list: still nothing in front
      if (!MayBorrowAfter(element)) {
        result = CopyListCells(s, borrowed, INT32_MAX, nullptr);
        borrowed = nullptr;
      }
    }
    TAtom* front = nullptr;  // the last cell this input gave, now in front of what follows
    if (TAtom::IsWordOrNumber(value)) {
      result = front = NewListCell(s, value, result);
    } else {
      result = CopyListCells(s, value, INT32_MAX, result, front);
    }
    if (borrowed != nullptr) {
      if (front == nullptr) front = result;
      while (front->Right != borrowed) front = front->Right;
      front->Marks |= amBorrowsRest;
      s.RestsBorrowed = true;
      borrowed = nullptr;
    }
    return true;
  });
  if (!plain) return SystemValue;
  // Nothing came in front: the whole result would be the input's cells.
  if (borrowed != nullptr) result = CopyListCells(s, borrowed, INT32_MAX, nullptr);
  return result;
}

TAtom* Sentence(TInterpreter& in) {
  TStructure& s = in.S;
  TAtom* result = JoinSentence(s, [&s](auto visit) { return ForEachInputLastFirst(s, visit); });
  return result == SystemValue ? RaisePrimitiveError(s, u"se") : result;
}

// The list itself becomes an expression: every holder sees the change. The
// empty list has no atom to change and is answered as it is.
TAtom* MakeExpression(TInterpreter& in) {
  TStructure& s = in.S;
  TAtom* value = FetchOneAtom(s, exLOGOEXPR);
  if (value == nullptr) return nullptr;
  if (value == SystemValue || value->Kind != akList) return RaisePrimitiveError(s, u"expr");
  UnshareBeforeChange(s, *value);
  value->Kind = akExpression;
  return value;
}

// --- BF, BL, FIRST, LAST ------------------------------------------------------------

enum class Cut { ButFirst, ButLast, First, Last };

struct TCutInputs {
  int32_t Thing;  // the input number of the thing
  bool Present;   // the call gave it
  int32_t Count;
};

// One input: the thing, count 1. Two: the thing and the count.
TCutInputs FetchCutInputs(TStructure& s, int32_t ordinal) {
  if (s.InputCount() < 2) return {1, CheckedInput(s, ordinal, 1), 1};
  const int32_t count = IntegerInput(s, ordinal, 1);
  return {2, CheckedInput(s, ordinal, 2), count};
}

// The error of a cut primitive names it; the name is only built when raised.
[[gnu::noinline, gnu::cold]] TAtom* RaiseCutError(TStructure& s, int32_t ordinal) {
  return RaisePrimitiveError(s, PrimitiveName(ordinal));
}

TAtom* CutWord(TStructure& s, Cut cut, const std::u16string& text, int32_t n, int32_t ordinal) {
  const size_t length = CharCount(text);
  const size_t count = static_cast<size_t>(n);
  if (count > length) return RaiseCutError(s, ordinal);
  switch (cut) {
    case Cut::ButFirst:
      return NewWord(s, text.substr(UnitOffset(text, count)));
    case Cut::ButLast:
      return NewWord(s, text.substr(0, UnitOffset(text, length - count)));
    case Cut::First:
      return NewWord(s, text.substr(0, UnitOffset(text, count)));
    case Cut::Last:
      return NewWord(s, text.substr(UnitOffset(text, length - count)));
  }
  return nullptr;
}

// The tail after n cells, shared.
TAtom* ListButFirst(TStructure& s, TAtom* list, int32_t n) {
  bool ranOut = false;
  TAtom* tail = SkipCells(s, list, n, ranOut);
  return ranOut ? RaisePrimitiveError(s, u"bf") : tail;
}

// Copies of all but the last n elements; nothing left is no error.
TAtom* ListButLast(TStructure& s, const TAtom* list, int32_t n) {
  const int32_t keep = TAtom::Length(list) - n;
  return keep > 0 ? CopyCells(s, list, keep) : nullptr;
}

// The first element itself for n = 1, else a new list of the first n.
TAtom* ListFirst(TStructure& s, TAtom* list, int32_t n) {
  if (!IsCell(list)) return RaisePrimitiveError(s, u"first");
  if (n == 1) return list->Left;
  if (TAtom::Length(list) < n) return RaisePrimitiveError(s, u"first");
  return CopyCells(s, list, n);
}

// The last element itself for n = 1 (read through borrowed cells: no cell
// is handed out), else the shared tail of n cells.
TAtom* ListLast(TStructure& s, TAtom* list, int32_t n) {
  const int32_t length = TAtom::Length(list);
  if (length < n) return RaisePrimitiveError(s, u"last");
  if (n == 0) return nullptr;
  if (n == 1) return TAtom::LastCell(list)->Left;
  bool ranOut = false;
  return SkipCells(s, list, length - n, ranOut);
}

template <Cut Kind, int32_t Ordinal>
[[gnu::noinline]] TAtom* CutInputs(TStructure& s) {
  const TCutInputs inputs = FetchCutInputs(s, Ordinal);
  if (!inputs.Present || !s.InputIsPlain(inputs.Thing) || inputs.Count < 0) return RaiseCutError(s, Ordinal);
  TAtom* value = s.InputValue(inputs.Thing);
  if (TAtom::IsWordOrNumber(value)) return CutWord(s, Kind, TAtom::AsString(s, value), inputs.Count, Ordinal);
  switch (Kind) {
    case Cut::ButFirst:
      return ListButFirst(s, value, inputs.Count);
    case Cut::ButLast:
      return ListButLast(s, value, inputs.Count);
    case Cut::First:
      return ListFirst(s, value, inputs.Count);
    case Cut::Last:
      return ListLast(s, value, inputs.Count);
  }
  return nullptr;
}

template <Cut Kind, int32_t Ordinal>
TAtom* CutPrimitive(TInterpreter& in) {
  TStructure& s = in.S;
  // A frameless call's one input, a list: its first element, or the rest
  // after its first cell, as ListFirst and ListButFirst take them.
  if constexpr (Kind == Cut::First || Kind == Cut::ButFirst) {
    if (s.OperandInputs != nullptr && s.OperandCount == 1)
      if (TAtom* list = s.OperandInputs[0].Value; IsCell(list))
        return Kind == Cut::First ? list->Left : NextOwnCell(s, list);
  }
  return CutInputs<Kind, Ordinal>(s);
}

// --- FPUT, EMPTYP, REMAINDER and NOTEQUALP without a frame ----------------------------
// The base library builds them from other wrappers: "output se (list :x)
// :l", "output (count :x) = 0", "output :a - :b * int (:a / :b)" and
// "output not :a = :b". A call of one may run here without a
// frame, as CallWithoutFrame runs a direct wrapper, while every name in the
// body still calls the wrapper the library defined: the same answer, the
// same three statements counted (the body's and its two calls'), and any
// error left to the full way (they change nothing before they raise).

// Steps through a list's elements, matching each one.
class TElementMatch {
public:
  TElementMatch(const TStructure& s, const TAtom* list) : s_(s), cell_(list) {}
  bool Word(std::u16string_view text) {
    const TAtom* e = Next();
    return TAtom::IsWord(e) && (e->Flags & afQuoted) == 0 && e->Text == text;
  }
  bool Output() {
    const TAtom* e = Next();
    return TAtom::IsWord(e) && (e->Flags & afQuoted) == 0 && s_.SameName(e->Text, s_.Keyword(kwOutput));
  }
  bool Zero() {
    const TAtom* e = Next();
    return TAtom::IsWord(e) && e->Text == u"0";
  }
  // A run of ":" and a name per given name, then the end.
  bool Inputs(std::initializer_list<std::u16string_view> names) {
    for (std::u16string_view name : names)
      if (!Word(u":") || !Word(name)) return false;
    return AtEnd();
  }
  // The next element, a list of the kind, as a match of its own.
  std::optional<TElementMatch> Nested(AtomKind kind) {
    const TAtom* e = Next();
    if (!IsAtom(e) || e->Kind != kind) return std::nullopt;
    return TElementMatch(s_, e);
  }
  bool AtEnd() const { return cell_ == nullptr; }

private:
  const TAtom* Next() {
    if (!IsCell(cell_)) return SystemValue;
    const TAtom* e = cell_->Left;
    cell_ = cell_->Right;
    return e;
  }
  const TStructure& s_;
  const TAtom* cell_;
};

enum class ComposedBody : uint8_t { None, Fput, Emptyp, Remainder, NotEqual };

// The statement cells after a procedure value's input list: fput's body
// or emptyp's.
ComposedBody BodyKindOf(const TStructure& s, const TAtom* body) {
  TElementMatch fput(s, body);
  if (fput.Output() && fput.Word(u"se")) {
    std::optional<TElementMatch> list = fput.Nested(akExpression);
    if (list && list->Word(u"list") && list->Word(u":") && list->Word(u"x") && list->AtEnd() && fput.Word(u":") &&
        fput.Word(u"l") && fput.Word(u",") && fput.AtEnd())
      return ComposedBody::Fput;
    return ComposedBody::None;
  }
  TElementMatch remainder(s, body);
  if (remainder.Output() && remainder.Word(u":")) {
    if (!remainder.Word(u"a") || !remainder.Word(u"-") || !remainder.Word(u":") || !remainder.Word(u"b") ||
        !remainder.Word(u"*") || !remainder.Word(u"int"))
      return ComposedBody::None;
    std::optional<TElementMatch> quotient = remainder.Nested(akExpression);
    if (quotient && quotient->Word(u":") && quotient->Word(u"a") && quotient->Word(u"/") && quotient->Word(u":") &&
        quotient->Word(u"b") && quotient->AtEnd() && remainder.Word(u",") && remainder.AtEnd())
      return ComposedBody::Remainder;
    return ComposedBody::None;
  }
  TElementMatch notEqual(s, body);
  if (notEqual.Output() && notEqual.Word(u"not")) {
    if (notEqual.Word(u":") && notEqual.Word(u"a") && notEqual.Word(u"=") && notEqual.Word(u":") &&
        notEqual.Word(u"b") && notEqual.Word(u",") && notEqual.AtEnd())
      return ComposedBody::NotEqual;
    return ComposedBody::None;
  }
  TElementMatch emptyp(s, body);
  if (!emptyp.Output()) return ComposedBody::None;
  std::optional<TElementMatch> count = emptyp.Nested(akExpression);
  if (count && count->Word(u"count") && count->Word(u":") && count->Word(u"x") && count->AtEnd() &&
      emptyp.Word(u"=") && emptyp.Zero() && emptyp.Word(u",") && emptyp.AtEnd())
    return ComposedBody::Emptyp;
  return ComposedBody::None;
}

// The procedure's value is its one input list, then the body.
bool HasInputs(const TStructure& s, const TAtom& procedure, std::initializer_list<std::u16string_view> names) {
  const TAtom* value = procedure.Left;
  if (!IsCell(value) || value->Kind != akList || !IsCell(value->Left) || value->Left->Kind != akList) return false;
  return TElementMatch(s, value->Left).Inputs(names);
}

// The input-bound attributes a call of the procedure with `count` inputs
// in parentheses meets; no other child (a priority, a field) is there.
bool OnlyBoundsAllowing(const TStructure& s, const TAtom& procedure, int32_t count) {
  for (const TAtom* child = procedure.FirstChild; child != nullptr; child = child->NextSibling) {
    const bool isMin = s.SameName(child->Text, s.Keyword(kwOnminrightinputs));
    if (!isMin && !s.SameName(child->Text, s.Keyword(kwOnmaxrightinputs))) return false;
    long double bound = 0;
    if (!TAtom::TryNumber(child->Left, bound)) return false;
    if (isMin ? bound > count : bound >= 0 && bound < count) return false;
  }
  return true;
}

// An attribute the base library gives an operator, with its value.
struct TLibraryAttribute {
  int32_t Keyword;
  long double Value;
};

// The procedure's children are exactly these attributes with these values.
bool HasOnlyAttributes(const TStructure& s, const TAtom& procedure, std::span<const TLibraryAttribute> wanted) {
  uint32_t matched = 0;
  size_t children = 0;
  for (const TAtom* child = procedure.FirstChild; child != nullptr; child = child->NextSibling) {
    if (++children > wanted.size()) return false;
    long double value = 0;
    if (!TAtom::TryNumber(child->Left, value)) return false;
    uint32_t bit = 1;
    const TLibraryAttribute* found = nullptr;
    for (const TLibraryAttribute& attribute : wanted) {
      if ((matched & bit) == 0 && s.SameName(child->Text, s.Keyword(attribute.Keyword))) {
        found = &attribute;
        break;
      }
      bit <<= 1;
    }
    if (found == nullptr || value != found->Value) return false;
    matched |= bit;
  }
  return children == wanted.size();
}

constexpr TLibraryAttribute kMinusAttributes[] = {{kwOnpriority, 40}, {kwOnminleftinputs, 0}};
constexpr TLibraryAttribute kProductAttributes[] = {{kwOnpriority, 50}};  // of * and /

// The root's procedure of that name, when a call of it is a frameless call
// of a direct wrapper of the export with the given inputs (left, right),
// whose attributes are as the check allows.
// The wrapper's state that the answer depends on, as the memo keeps it.
TInterpreter::TComposedCall::TWrapper WrapperState(TAtom& procedure, const TAtom& body) {
  TInterpreter::TComposedCall::TWrapper state;
  state.Procedure = &procedure;
  state.Value = procedure.Left;
  state.ValueStamp = procedure.Left->Stamp;
  state.Flags = procedure.Flags;
  state.Children = procedure.Extend().NamedChildrenStamp;
  size_t n = 0;
  for (const TAtom* child = procedure.FirstChild; child != nullptr && n < 2; child = child->NextSibling)
    state.ChildValues[n++] = child->Left;
  state.Body = &body;
  state.BodyStamp = body.Stamp;
  state.CodeGeneration = TAtom::CodeGeneration(body);
  return state;
}

bool WrapperUnchanged(const TInterpreter::TComposedCall::TWrapper& was) {
  const TAtom& procedure = *was.Procedure;
  const TAtom::Extension* ext = procedure.Ext.get();
  // The value was an atom when the memo was made: the same pointer with
  // the same allocation stamp is the same atom life.
  if (procedure.Left != was.Value || ext == nullptr || was.Value->Stamp != was.ValueStamp ||
      procedure.Flags != was.Flags || ext->NamedChildrenStamp != was.Children)
    return false;
  const TAtom& body = *was.Body;
  if (body.Stamp != was.BodyStamp || TAtom::CodeGeneration(body) != was.CodeGeneration) return false;
  size_t n = 0;
  for (const TAtom* child = procedure.FirstChild; child != nullptr && n < 2; child = child->NextSibling)
    if (child->Left != was.ChildValues[n++]) return false;
  return true;
}

// Every wrapper the body calls (remainder's four, two for the others),
// filled from the first slot on.
bool WrappersUnchanged(const TInterpreter::TComposedCall& memo) {
  for (size_t i = 0; i < memo.WrapperCount; ++i)
    if (!WrapperUnchanged(memo.Wrappers[i])) return false;
  return true;
}

template <class AttributesCheck>
bool CallsLibraryWrapper(TInterpreter& in, std::u16string_view name, int32_t ordinal, size_t left, size_t right,
                         AttributesCheck attributesAllowed, TInterpreter::TComposedCall::TWrapper& state) {
  TStructure& s = in.S;
  TAtom* procedure = TAtom::FindChildByName(s, *s.Root, name);
  if (procedure == nullptr || in.CalleeOf(*procedure) != procedure || (procedure->Flags & afPassResult) != 0 ||
      !attributesAllowed(*procedure))
    return false;
  const TAtom* value = procedure->Left;
  if (!IsAtom(value) || value->Kind != akList) return false;
  // The input lists: the right-hand one alone, or the left-hand one first.
  const TAtom* body = value;
  size_t lists[2] = {0, 0};
  size_t listCount = 0;
  for (; listCount < 2 && IsCell(body) && body->Kind == akList && TAtom::IsList(body->Left); ++listCount) {
    lists[listCount] = static_cast<size_t>(TAtom::Length(body->Left)) / 2;
    body = body->Right;
  }
  const bool shaped = left == 0 ? listCount == 1 && lists[0] == right
                                : listCount == 2 && lists[0] == left && lists[1] == right;
  if (!shaped || !IsAtom(body)) return false;
  const TInterpreter::TWrapperBody& decoded = in.WrapperBodyOf(*body);
  const int32_t index = in.ExportRoutineIndex[static_cast<size_t>(ordinal)] - 1;
  if (!decoded.IsWrapper || decoded.Line == -1 || index < 0 || decoded.Statement.Routine != index ||
      static_cast<size_t>(index) >= in.FramelessRoutines.size() || !in.FramelessRoutines[static_cast<size_t>(index)])
    return false;
  state = WrapperState(*procedure, *body);
  return true;
}

// The list se makes of (list x) and l where that is one new cell in front
// of l: l is empty, or its cells may be borrowed (ShareableRest) after an
// element that is no list. Null where se would copy l's cells.
TAtom* FputWithoutCopy(TStructure& s, TAtom* x, TAtom* l) {
  if (l == nullptr) return NewListCell(s, x, nullptr);
  if (!s.FastPaths || !IsAtom(l) || l->Kind != akList || !MayBorrowAfter(x) || !ShareableRest(s, l)) return nullptr;
  TAtom* cell = NewListCell(s, x, l);
  cell->Marks |= amBorrowsRest;
  s.RestsBorrowed = true;
  return cell;
}

// fput: se (list :x) :l, input 1 being :l and input 2 :x.
TAtom* FputWithoutFrame(TInterpreter& in) {
  TStructure& s = in.S;
  TAtom* x = CellInput(s, exLOGOLIST, 2);
  if (!s.InputIsPlain(2)) return RaisePrimitiveError(s, u"list");
  TAtom* l = CellInput(s, exLOGOSE, 1);
  if (s.InputIsPlain(1))
    if (TAtom* result = FputWithoutCopy(s, x, l)) {
      in.StatementCounter += 2;  // the calls of list and se
      return result;
    }
  TAtom* front = NewListCell(s, x, nullptr);
  TAtom* result = JoinSentence(s, [&](auto visit) { return visit(l, s.InputIsPlain(1)) && visit(front, true); });
  if (result == SystemValue) return RaisePrimitiveError(s, u"se");
  in.StatementCounter += 2;  // the calls of list and se
  return result;
}

// NewBoolean's answer, the shared truth word read here where there is one.
inline TAtom* BooleanResult(TStructure& s, bool b) {
  TAtom* shared = b ? s.Language.TrueWord : s.Language.FalseWord;
  return shared != nullptr && s.FastPaths ? shared : NewBoolean(s, b);
}

// Whether count's answer for a plain word or list operand equals 0 as = has
// it; false for anything else (count's own way reads, converts or raises).
// A list with a cell counts at least 1: where 1 differs from 0 under the
// tolerance, so does every larger count, and the list need not be walked.
bool CountOfOperandIsZero(const TStructure& s, bool& zero) {
  if (s.OperandInputs == nullptr || s.OperandCount < 1 || !s.InputIsPlain(1)) return false;
  const TAtom* value = s.OperandInputs[0].Value;
  long double count = 0;
  if (TAtom::IsWord(value)) {
    count = static_cast<long double>(CharCount(value->Text));
  } else if (TAtom::IsWordOrNumber(value)) {
    return false;
  } else if (value != nullptr && NumberOrder(s, 1, 0) != 0) {
    zero = false;
    return true;
  } else {
    count = TAtom::Length(value);
  }
  zero = NumberOrder(s, count, 0) == 0;
  return true;
}

// emptyp: (count :x) = 0. The two number atoms compare by their values
// (CompareAtoms), so a count read as a number needs neither of them.
TAtom* EmptypWithoutFrame(TInterpreter& in) {
  TStructure& s = in.S;
  bool zero = false;
  if (CountOfOperandIsZero(s, zero)) {
    in.StatementCounter += 2;  // the calls of count and =
    return BooleanResult(s, zero);
  }
  TAtom* count = CountOf(in);
  TAtom* result = NewBoolean(s, CompareAtoms(s, count, NewWholeNumber(s, 0)) == 0);
  in.StatementCounter += 2;  // the calls of count and =
  return result;
}

// A number input that the body's arithmetic reads without converting it: a
// number atom or a word already read as one. Anything else declines (the
// full way converts or raises).
struct TComposedDecline {};

long double ReadNumberInput(TStructure& s, int32_t n) {
  const TAtom* value = s.InputValue(n);
  if (!IsAtom(value) || (value->Kind != akNumber && (value->Kind != akWord || (value->Marks & amNumberRead) == 0)))
    throw TComposedDecline{};
  return value->Number;
}

// The NaN rule of NumberResult, for a value that stays inside the body.
long double AsStored(long double x) { return std::isnan(x) ? std::fabs(x) : x; }

// remainder: :a - :b * int (:a / :b), input 1 being :b and input 2 :a. Each
// step computes as its routine does (/, int, *, -) on the stored value of
// the step before; a divisor of zero declines.
TAtom* RemainderWithoutFrame(TInterpreter& in) {
  TStructure& s = in.S;
  if (s.InputCount() != 2) throw TComposedDecline{};
  const long double b = ReadNumberInput(s, 1);
  const long double a = ReadNumberInput(s, 2);
  if (b == 0) throw TComposedDecline{};
  const long double quotient = AsStored(Quotient(a, b));
  const long double whole = AsStored(Truncate(quotient));
  const long double product = AsStored(Product(b, whole));
  in.StatementCounter += 4;  // the calls of /, int, * and -
  return NumberResult(s, a - product);
}

// notequalp and <>: not :a = :b, input 1 being :b and input 2 :a.
TAtom* NotEqualWithoutFrame(TInterpreter& in) {
  TStructure& s = in.S;
  if (s.InputCount() != 2) throw TComposedDecline{};
  const bool equal = CompareAtoms(s, s.InputValue(2), s.InputValue(1)) == 0;
  in.StatementCounter += 2;  // the calls of = and not
  return NewBoolean(s, !equal);
}

TPrimitive ComposedRoutineFound(TInterpreter& in, const TAtom& procedure, ComposedBody body,
                                std::array<TInterpreter::TComposedCall::TWrapper, 4>& wrappers) {
  TStructure& s = in.S;
  auto bounds = [&s](int32_t count) { return [&s, count](const TAtom& p) { return OnlyBoundsAllowing(s, p, count); }; };
  auto libraryPriority = [&s](const TAtom& p) {
    const TAtom* child = p.FirstChild;
    long double priority = 0;
    return child == nullptr || (child->NextSibling == nullptr && s.SameName(child->Text, s.Keyword(kwOnpriority)) &&
                                TAtom::TryNumber(child->Left, priority) && priority == 30);
  };
  auto libraryAttributes = [&s](std::span<const TLibraryAttribute> wanted) {
    return [&s, wanted](const TAtom& p) { return HasOnlyAttributes(s, p, wanted); };
  };
  switch (body) {
    case ComposedBody::Fput:
      if (HasInputs(s, procedure, {u"x", u"l"}) &&
          CallsLibraryWrapper(in, u"se", exLOGOSE, 0, 2, bounds(2), wrappers[0]) &&
          CallsLibraryWrapper(in, u"list", exLOGOLIST, 0, 2, bounds(1), wrappers[1]))
        return &FputWithoutFrame;
      return nullptr;
    case ComposedBody::Emptyp:
      if (HasInputs(s, procedure, {u"x"}) &&
          CallsLibraryWrapper(in, u"count", exLOGOCOUNT, 0, 1, bounds(1), wrappers[0]) &&
          CallsLibraryWrapper(in, u"=", exLOGOEQUALP, 1, 1, libraryPriority, wrappers[1]))
        return &EmptypWithoutFrame;
      return nullptr;
    case ComposedBody::Remainder:
      if (HasInputs(s, procedure, {u"a", u"b"}) &&
          CallsLibraryWrapper(in, u"-", exLOGOSUB, 1, 1, libraryAttributes(kMinusAttributes),
                              wrappers[0]) &&
          CallsLibraryWrapper(in, u"*", exLOGOMUL, 1, 1, libraryAttributes(kProductAttributes), wrappers[1]) &&
          CallsLibraryWrapper(in, u"int", exLOGOTRUNC, 0, 1, bounds(1), wrappers[2]) &&
          CallsLibraryWrapper(in, u"/", exLOGODIV, 1, 1, libraryAttributes(kProductAttributes), wrappers[3]))
        return &RemainderWithoutFrame;
      return nullptr;
    case ComposedBody::NotEqual:
      if (HasInputs(s, procedure, {u"a", u"b"}) &&
          CallsLibraryWrapper(in, u"=", exLOGOEQUALP, 1, 1, libraryPriority, wrappers[0]) &&
          CallsLibraryWrapper(in, u"not", exLOGONOT, 0, 1, bounds(1), wrappers[1]))
        return &NotEqualWithoutFrame;
      return nullptr;
    case ComposedBody::None:
      break;
  }
  return nullptr;
}

}  // namespace

uint8_t ComposedBodyKind(const TStructure& s, const TAtom& body) {
  return static_cast<uint8_t>(BodyKindOf(s, &body));
}

namespace {

// The statements the body's calls count after the body's own statement.
uint32_t CallsInBody(ComposedBody body) { return body == ComposedBody::Remainder ? 4 : 2; }

// The full way pumps where a statement's count reaches a multiple of the
// pump interval: none of the body's statements may be one.
bool NoPumpWithinBody(const TInterpreter& in, ComposedBody body) {
  return in.StatementCounter % kPumpInterval + 1 + CallsInBody(body) < kPumpInterval;
}

}  // namespace

namespace {

// Finds the routine again and fills the memo with the state it holds for;
// out of line, so that a call the memo answers saves no registers.
[[gnu::noinline]] TPrimitive RememberComposedRoutine(TInterpreter& in, const TAtom& procedure, uint8_t bodyKind) {
  TStructure& s = in.S;
  TInterpreter::TComposedCall& memo = in.ComposedCalls[bodyKind - 1];
  const uint64_t epoch = s.TopLevelEpoch();
  memo = TInterpreter::TComposedCall{};
  TPrimitive routine = ComposedRoutineFound(in, procedure, static_cast<ComposedBody>(bodyKind), memo.Wrappers);
  if (routine == nullptr) return nullptr;
  memo.Procedure = &procedure;
  memo.Value = procedure.Left;
  memo.ValueStamp = procedure.Left->Stamp;
  memo.TopLevelEpoch = epoch;
  memo.Keywords = s.KeywordGeneration;
  memo.CaseSensitive = s.CaseSensitive;
  memo.Routine = routine;
  memo.WrapperCount = static_cast<uint8_t>(
      std::count_if(memo.Wrappers.begin(), memo.Wrappers.end(), [](const auto& w) { return w.Procedure != nullptr; }));
  return routine;
}

}  // namespace

TPrimitive ComposedListRoutine(TInterpreter& in, const TAtom& procedure, uint8_t bodyKind) {
  TStructure& s = in.S;
  if (procedure.Parent != s.Root || procedure.FirstChild != nullptr || s.ModuleList != nullptr) return nullptr;
  if (bodyKind < 1 || bodyKind > in.ComposedCalls.size()) return nullptr;
  if (!NoPumpWithinBody(in, static_cast<ComposedBody>(bodyKind))) return nullptr;
  const TInterpreter::TComposedCall& memo = in.ComposedCalls[bodyKind - 1];
  if (memo.Procedure == &procedure && procedure.Left == memo.Value && IsAtom(memo.Value) &&
      memo.Value->Stamp == memo.ValueStamp && memo.TopLevelEpoch == s.TopLevelEpoch() &&
      memo.Keywords == s.KeywordGeneration && memo.CaseSensitive == s.CaseSensitive && WrappersUnchanged(memo))
    [[likely]]
    return memo.Routine;
  return RememberComposedRoutine(in, procedure, bodyKind);
}

namespace {

// --- SETMAX, SETMIN ---------------------------------------------------------------

// The number of a member named "#" and a decimal 32-bit integer.
bool ExtraInputNumber(std::u16string_view name, int32_t& number) {
  if (name.size() < 2 || name[0] != u'#') return false;
  size_t i = 1;
  const bool negative = name[i] == u'-';
  if (name[i] == u'-' || name[i] == u'+') ++i;
  if (i == name.size()) return false;
  int64_t value = 0;
  for (; i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
    value = value * 10 + (name[i] - u'0');
    if (value > int64_t{INT32_MAX} + 1) return false;
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) return false;
  number = static_cast<int32_t>(value);
  return true;
}

// The highest (or lowest) extra-input number among the object's members; 0
// when no member beats the start value.
template <bool Highest, int32_t Ordinal>
TAtom* ExtremeMember(TInterpreter& in) {
  const bool present = CheckedInput(in.S, Ordinal, 1);
  constexpr int32_t kStart = Highest ? -2147483647 : 2147483647;
  int32_t best = kStart;
  for (const TAtom* member = present ? in.S.InputMembers(1) : nullptr; member != nullptr;
       member = member->NextSibling) {
    int32_t number = 0;
    if (ExtraInputNumber(member->Text, number) && (Highest ? number > best : number < best)) best = number;
  }
  return NumberResult(in.S, best == kStart ? 0 : best);
}

// --- registration -----------------------------------------------------------------

struct TExportEntry {
  int32_t Ordinal;
  TPrimitive Routine;
};

constexpr TExportEntry kBaseExports[] = {
    {exLOGONOT, &Not},
    {exLOGOAND, &And},
    {exLOGOOR, &Or},
    {exLOGOSUM, &BinaryNumber<Sum, exLOGOSUM>},
    {exLOGOMUL, &BinaryNumber<Product, exLOGOMUL>},
    {exLOGOSUB, &Difference},
    {exLOGODIV, &BinaryNumber<Quotient, exLOGODIV>},
    {exLOGOEQUALP, &Comparison<kEqual, exLOGOEQUALP>},
    {exLOGOLESSP, &Comparison<kBelow, exLOGOLESSP>},
    {exLOGOGREATERP, &Comparison<kAbove, exLOGOGREATERP>},
    {exLOGOLEQP, &Comparison<kBelow | kEqual, exLOGOLEQP>},
    {exLOGOGEQP, &Comparison<kEqual | kAbove, exLOGOGEQP>},
    {exLOGOPI, &PiConstant},
    {exLOGOSQRT, &UnaryNumber<SquareRoot, exLOGOSQRT>},
    {exLOGOEXP, &UnaryNumber<Exponential, exLOGOEXP>},
    {exLOGOLOGN, &UnaryNumber<NaturalLog, exLOGOLOGN>},
    {exLOGOTRUNC, &UnaryNumber<Truncate, exLOGOTRUNC>},
    {exLOGOABS, &UnaryNumber<Absolute, exLOGOABS>},
    {exLOGONEG, &UnaryNumber<Negate, exLOGONEG>},
    {exLOGOSIGN, &UnaryNumber<Sign, exLOGOSIGN>},
    {exLOGOSIN, &UnaryNumber<SineDegrees, exLOGOSIN>},
    {exLOGOCOS, &UnaryNumber<CosineDegrees, exLOGOCOS>},
    {exLOGOTAN, &UnaryNumber<TangentDegrees, exLOGOTAN>},
    {exLOGOCOTAN, &UnaryNumber<CotangentDegrees, exLOGOCOTAN>},
    {exLOGOARCSIN, &UnaryNumber<ArcSineDegrees, exLOGOARCSIN>},
    {exLOGOARCCOS, &UnaryNumber<ArcCosineDegrees, exLOGOARCCOS>},
    {exLOGOARCTAN, &UnaryNumber<ArcTangentDegrees, exLOGOARCTAN>},
    {exLOGOARCCOTAN, &UnaryNumber<ArcCotangentDegrees, exLOGOARCCOTAN>},
    {exLOGORANDOM, &RandomNumber},
    {exLOGOPOW, &BinaryNumber<Power, exLOGOPOW>},
    {exLOGOROUND, &RoundNumber},
    {exLOGONUMBERP, &NumberP},
    {exLOGOWORDP, &WordP},
    {exLOGOLISTP, &ListP},
    {exLOGOWORD, &JoinWords},
    {exLOGOLIST, &MakeList},
    {exLOGOSE, &Sentence},
    {exLOGOEXPR, &MakeExpression},
    {exLOGOCOUNT, &CountOf},
    {exLOGOBF, &CutPrimitive<Cut::ButFirst, exLOGOBF>},
    {exLOGOBL, &CutPrimitive<Cut::ButLast, exLOGOBL>},
    {exLOGOFIRST, &CutPrimitive<Cut::First, exLOGOFIRST>},
    {exLOGOLAST, &CutPrimitive<Cut::Last, exLOGOLAST>},
    {exLOGOASCII, &AsciiCode},
    {exLOGOCHAR, &CharOfCode},
    {exLOGOEPSILON, &Epsilon},
    {exLOGOMS, &Milliseconds},
    {exLOGOSETMAX, &ExtremeMember<true, exLOGOSETMAX>},
    {exLOGOSETMIN, &ExtremeMember<false, exLOGOSETMIN>},
};
static_assert(std::size(kBaseExports) == 49);

uint64_t ClockSeed() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch().count();
  const auto steady = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<uint64_t>(wall) ^ (static_cast<uint64_t>(steady) << 17);
}

}  // namespace

void InitLogoLib(TInterpreter& in) {
  // None of them keeps an argument cell or runs program code; they read
  // their inputs through the argument view and raise before changing
  // anything.
  for (const TExportEntry& entry : kBaseExports) in.Exports.Register(entry.Ordinal, entry.Routine, true, true);
  in.Random.seed(ClockSeed());
}
