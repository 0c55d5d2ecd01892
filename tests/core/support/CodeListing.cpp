#include "tests/core/support/CodeListing.h"

#include <string>

#include "core/Atoms.h"
#include "core/Expr.h"
#include "core/Text.h"
#include "core/Vars.h"

namespace {

// Appends the pieces one by one (concatenating with a literal on the left
// trips a false -Wrestrict in GCC 12's optimiser).
template <typename... Pieces>
void Append(std::string& out, const Pieces&... pieces) {
  ((out += pieces), ...);
}

template <typename... Pieces>
std::string Cat(const Pieces&... pieces) {
  std::string out;
  Append(out, pieces...);
  return out;
}

class Decoder {
public:
  Decoder(TStructure& s, const std::vector<int32_t>& code, bool withIndices)
      : s_(s), code_(code), withIndices_(withIndices) {}

  TCodeListing Run() {
    while (at_ < code_.size() && !listing_.Malformed) {
      if (ended_) {
        Fail(Cat("words past end at ", std::to_string(at_)));
        break;
      }
      Instruction();
    }
    listing_.EndsWithEnd = ended_ && !listing_.Malformed;
    return listing_;
  }

private:
  void Fail(const std::string& why) {
    if (listing_.Malformed) return;
    listing_.Malformed = true;
    listing_.Lines.push_back(Cat("malformed: ", why));
  }

  // The next operand word; false (and malformed) when the list ends.
  bool Word(int32_t& word) {
    if (at_ >= code_.size()) {
      Fail(Cat("cut short at ", std::to_string(at_)));
      return false;
    }
    word = code_[at_++];
    return true;
  }

  bool Number(std::string& line) {
    int32_t w = 0;
    if (!Word(w)) return false;
    Append(line, " ", std::to_string(w));
    return true;
  }

  bool Atom(std::string& line) {
    int32_t w = 0;
    if (!Word(w)) return false;
    const uint32_t id = static_cast<uint32_t>(w);
    const TAtom* atom = s_.AtomById(id);
    if (id != kNullIdentity && atom == nullptr) {
      Fail(Cat("no atom ", std::to_string(id), " at ", std::to_string(at_ - 1)));
      return false;
    }
    Append(line, " ", Utf16ToUtf8(TAtom::ToText(s_, atom)));
    return true;
  }

  bool Cell(std::string& line) {
    int32_t w = 0;
    if (!Word(w)) return false;
    const uint32_t id = static_cast<uint32_t>(w);
    if (id == kNullIdentity) {
      line += " @nil";
      return true;
    }
    const TAtom* cell = s_.AtomById(id);
    if (!IsAtom(cell) || (cell->Kind != akList && cell->Kind != akExpression)) {
      Fail(Cat("no cell ", std::to_string(id), " at ", std::to_string(at_ - 1)));
      return false;
    }
    Append(line, " @", Utf16ToUtf8(TAtom::ToText(s_, cell->Left)));
    return true;
  }

  bool Arity(std::string& line, int32_t& left, int32_t& right) {
    int32_t w = 0;
    if (!Word(w)) return false;
    left = ArityLeft(w);
    right = ArityRight(w);
    Append(line, " ", std::to_string(left), "/", std::to_string(right));
    return true;
  }

  void Instruction() {
    const size_t start = at_;
    const int32_t op = code_[at_++];
    std::string line;
    int32_t left = 0;
    int32_t right = 0;
    bool ok = true;
    switch (op) {
      case ocPop:
        line = "pop";
        break;
      case ocPush:
        line = "push";
        ok = Atom(line);
        break;
      case ocCall:
        line = "call";
        ok = Atom(line) && Arity(line, left, right);
        for (int32_t i = 0; ok && i < left + right; ++i) {
          int32_t flag = 0;
          ok = Word(flag);
          if (ok) {
            Append(line, " ", std::to_string(flag), ":");
            std::string name;
            ok = Atom(name);
            line += name.empty() ? name : name.substr(1);
          }
        }
        break;
      case ocEnd:
        line = "end";
        ok = Cell(line);
        ended_ = ok;
        break;
      case ocQuote:
        line = "quote";
        break;
      case ocValueOf:
        line = "valueof";
        break;
      case ocPeriod:
        line = "period";
        break;
      case ocPrint:
        line = "print";
        ok = Arity(line, left, right);
        break;
      case ocMake:
      case ocOb:
        line = op == ocMake ? "make" : "ob";
        ok = Arity(line, left, right) && Cell(line) && Cell(line) && Number(line);
        break;
      case ocRun:
        line = "run";
        break;
      case ocOutput:
        line = "output";
        break;
      case ocIfElse:
        line = "ifelse";
        break;
      case ocWhile:
        line = "while";
        ok = Number(line);
        break;
      case ocRepeat:
        line = "repeat";
        break;
      case ocLocal:
        line = "local";
        ok = Arity(line, left, right);
        break;
      case ocNative:
        line = "native";
        ok = Number(line);
        break;
      case ocWhileCounter:
        line = "whilecounter";
        break;
      case ocRepeatCounter:
        line = "repeatcounter";
        break;
      case ocStop:
        line = "stop";
        break;
      case ocIf:
        line = "if";
        break;
      case ocDump:
        line = "dump";
        ok = Arity(line, left, right);
        break;
      case ocSpan:
        line = "span";
        ok = Number(line) && Number(line);
        break;
      case ocStatement:
        line = "statement";
        break;
      case ocPrimitive:
        line = "primitive";
        ok = Number(line);
        break;
      default:
        if (op < 0 || op > ocPrimitive) {
          Fail(Cat("bad opcode ", std::to_string(op), " at ", std::to_string(start)));
          return;
        }
        line = Cat("nop ", std::to_string(op));
    }
    if (!ok) return;
    listing_.Lines.push_back(withIndices_ ? Cat(std::to_string(start), ": ", line) : line);
  }

  TStructure& s_;
  const std::vector<int32_t>& code_;
  bool withIndices_;
  size_t at_ = 0;
  bool ended_ = false;
  TCodeListing listing_;
};

}  // namespace

std::string TCodeListing::Text() const {
  std::string out;
  for (const std::string& line : Lines) {
    if (!out.empty()) out += '\n';
    out += line;
  }
  return out;
}

TCodeListing DecodeCode(TStructure& s, const std::vector<int32_t>& code, bool withIndices) {
  return Decoder(s, code, withIndices).Run();
}

std::string CodeListing(TStructure& s, const TAtom* cell, bool withIndices) {
  if (!IsAtom(cell) || !cell->Code()) return {};
  return DecodeCode(s, *cell->Code(), withIndices).Text();
}
