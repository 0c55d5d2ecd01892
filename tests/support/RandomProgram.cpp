// The random programs: a few procedures of one to three inputs whose first
// input counts the recursion down, globals, locals, an object made by a
// procedure without OUTPUT with its fields read and written through dotted
// names, RUN of built lists, onerror and onchange handlers, OB formulas,
// redefinitions of +, sum, first, *, > and = between statements, lambda
// children given to procedures that already ran, locals made after a
// statement found the global or library procedure of their name, and now
// and then a statement that fails, at the top level or some calls deep.

#include "tests/support/RandomProgram.h"

#include <random>
#include <string>
#include <vector>

namespace {

struct TProcedure {
  std::string Name;
  int Inputs;    // 1 to 3; the first one counts down
  bool Outputs;  // ends with OUTPUT
};

class TGenerator {
public:
  explicit TGenerator(uint64_t seed) : random_(seed) {}

  std::string Program() {
    Line("; generated");
    Line("to newpt :px :py");
    Line("end");
    const int globals = 2 + Pick(3);
    for (int i = 0; i < globals; ++i) {
      globals_.push_back("g" + std::to_string(i));
      Line("make \"" + globals_.back() + " " + std::to_string(Pick(10)));
    }
    if (Chance(60)) {
      Line("make \"o0 newpt " + Literal() + " " + Literal());
      hasObject_ = true;
    }
    const int procedures = 1 + Pick(5);
    for (int i = 0; i < procedures; ++i) Procedure(i);
    const int statements = 4 + Pick(12);
    for (int i = 0; i < statements; ++i) TopStatement();
    // Last, so that the programs before it stay as they were.
    if (Chance(3)) DeepRecursion();
    return text_;
  }

private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<uint64_t>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  void Line(const std::string& line) { text_ += line + "\n"; }
  const std::string& AnyGlobal() { return globals_[static_cast<size_t>(Pick(static_cast<int>(globals_.size())))]; }

  std::string Literal() {
    switch (Pick(8)) {
      case 0:
        return "-" + std::to_string(1 + Pick(3));
      case 1:
        return std::to_string(Pick(5)) + ".5";
      default:
        return std::to_string(Pick(10));
    }
  }

  std::string Variable() {
    if (!scope_.empty() && Chance(60)) return ":" + scope_[static_cast<size_t>(Pick(static_cast<int>(scope_.size())))];
    if (hasObject_ && Chance(15)) return Chance(50) ? ":o0.px" : ":o0.py";
    return ":" + AnyGlobal();
  }

  // A statement or input that fails when it runs.
  std::string Failing() {
    switch (Pick(6)) {
      case 0:
        return ":nosuch";
      case 1:
        return "first []";
      case 2:
        return "(\"abc + 1)";
      case 3:
        return "nosuchproc 1";
      case 4:
        return ":o0.nofield";
      default:
        return "(sum [1] 2)";
    }
  }

  std::string Call(int depth) {
    std::vector<const TProcedure*> outputting;
    for (const TProcedure& p : procedures_)
      if (p.Outputs) outputting.push_back(&p);
    if (inProcedure_ && current_.Outputs && Chance(40)) outputting.push_back(&current_);  // recursion
    if (outputting.empty()) return Literal();
    const TProcedure& p = *outputting[static_cast<size_t>(Pick(static_cast<int>(outputting.size())))];
    --callBudget_;
    std::string call = "(" + p.Name + " " + (inProcedure_ ? ":n - 1" : std::to_string(Pick(4)));
    for (int i = 1; i < p.Inputs; ++i) call += " " + Number(depth + 1);
    return call + ")";
  }

  std::string Number(int depth) {
    if (Pick(300) == 0) return Failing();
    if (depth >= 3 || Chance(30)) return Chance(50) ? Literal() : Variable();
    if (callBudget_ > 0 && Chance(25)) return Call(depth);
    const std::string a = Number(depth + 1);
    const std::string b = Number(depth + 1);
    switch (Pick(12)) {
      case 0:
        return "(" + a + " + " + b + ")";
      case 1:
        return "(" + a + " - " + b + ")";
      case 2:
        return a + " * " + b;
      case 3:
        return "(sum " + a + " " + b + ")";
      case 4:
        return "(difference " + a + " " + b + ")";
      case 5:
        return "(product " + a + " " + b + ")";
      case 6:
        return "(first (list " + a + " " + b + "))";
      case 7:
        return "(last (list " + a + " " + b + "))";
      case 8:
        return "(item 2 (list " + a + " " + b + " 7))";
      case 9:
        return "(count \"ab" + std::to_string(Pick(100)) + ")";
      case 10:
        return "(abs " + a + ")";
      default:
        return "(int " + a + " / 2)";
    }
  }

  std::string Condition() {
    static const char* const kComparisons[] = {" < ", " > ", " = "};
    return Number(2) + kComparisons[Pick(3)] + Number(2);
  }

  // Statements that procedures and the top level share.
  std::string Common(int depth) {
    switch (Pick(10)) {
      case 0:
      case 1:
        return "make \"" + AnyGlobal() + " " + Number(0);
      case 2:
      case 3:
        return "print " + Number(0) + (Chance(30) ? " " + Number(1) : "");
      case 4:
        if (depth < 2)
          return "if " + Condition() + " [" + Common(depth + 1) + "] [" + Common(depth + 1) + "]";
        return "print " + Literal();
      case 5: {
        // No calls inside loops: the call tree stays small.
        const int budget = callBudget_;
        callBudget_ = 0;
        const std::string& g = AnyGlobal();
        std::string loop = "repeat " + std::to_string(1 + Pick(3)) + " [make \"" + g + " :" + g + " + " + Number(1) + "]";
        callBudget_ = budget;
        return loop;
      }
      case 6:
        if (hasObject_) return "make \"o0." + std::string(Chance(50) ? "px " : "py ") + Number(1);
        return "print " + Variable();
      case 7:
        switch (Pick(3)) {
          case 0:
            return "run (list \"print " + Number(1) + ")";
          case 1:
            return "run [make \"" + AnyGlobal() + " " + Literal() + "]";
          default:
            return "print run (list \"sum " + Number(1) + " " + Literal() + ")";
        }
      case 8:
        if (Chance(8)) return Failing();
        return "print " + Number(0);
      default:
        return "print (list " + Number(1) + " " + Variable() + ")";
    }
  }

  void Procedure(int index) {
    current_ = {"p" + std::to_string(index), 1 + Pick(3), Chance(85)};
    static const char* const kInputs[] = {"n", "a", "b"};
    scope_.clear();
    std::string header = "to " + current_.Name;
    for (int i = 0; i < current_.Inputs; ++i) {
      header += " :";
      header += kInputs[i];
      scope_.push_back(kInputs[i]);
    }
    Line(header);
    inProcedure_ = true;
    callBudget_ = 2;
    Line(std::string("  if :n < 1 [") + (current_.Outputs ? "output " + Literal() : "output") + "]");
    if (Chance(30)) {
      Line("  local \"t");
      Line("  make \"t " + Number(1));
      scope_.push_back("t");
    }
    const int statements = Pick(4);
    for (int i = 0; i < statements; ++i) Line("  " + Common(0));
    if (Chance(15)) Line("  " + LateLocal());
    if (current_.Outputs) Line("  output " + Number(0));
    Line("end");
    inProcedure_ = false;
    scope_.clear();
    procedures_.push_back(current_);
    if (Chance(20)) Line("make \"" + current_.Name + ".onerror [print \"caught." + current_.Name + "]");
  }

  // A statement that runs twice and makes a local after its first round:
  // the name its first round found (a global, a library procedure) is
  // the local's in the second.
  std::string LateLocal() {
    if (Chance(50)) {
      const std::string& g = AnyGlobal();
      return "repeat 2 [print :" + g + ", local \"" + g + ", make \"" + g + " repeat * 10]";
    }
    return "repeat 2 [print sum 2 3, local \"sum, make \"sum [[:a :b] output product :a :b]]";
  }

  // A procedure of three inputs and a local that calls itself once per level,
  // thousands of levels deep (deeper than a thread stack's worth of calls).
  void DeepRecursion() {
    const std::string& g = AnyGlobal();
    Line("to deep :n :a :b");
    Line("  local \"t");
    Line("  make \"t remainder :a + :b + :" + g + " 1000");
    Line("  if :n < 1 [output :t]");
    Line("  output deep :n - 1 :b :t");
    Line("end");
    Line("print deep " + std::to_string(2000 + Pick(6000)) + " " + Literal() + " " + Literal());
  }

  void TopStatement() {
    callBudget_ = 2;
    switch (Pick(14)) {
      case 0:
        // Redefinitions of library procedures between statements.
        switch (Pick(6)) {
          case 0:
            Line("make \"sum [[:a :b] output difference :a :b]");
            return;
          case 1:
            Line("make \"'+' [[:a] [:b] output product :a :b]");
            return;
          case 2:
            Line("make \"first [[:thing] output last :thing]");
            return;
          case 3:
            // A lambda child given to + in the middle of a loop: the same
            // call runs + before and the lambda after.
            Line("repeat 3 [print 2 + repeat, if (2 = repeat) [make \"'+.lambda' [[:a] [:b] output product :a :b]]]");
            return;
          case 4:
            Line("to sum :a :b\noutput dll.zavta.LOGOMUL\nend");
            return;
          default:
            // Operators that calls compute themselves on two numbers, made
            // direct wrappers of another routine: the call must run that
            // one. Not - nor <, which bound the recursion.
            switch (Pick(3)) {
              case 0:
                Line("to :a '*' :b\noutput dll.zavta.LOGOSUM\nend");
                return;
              case 1:
                Line("to :a '>' :b\noutput dll.zavta.LOGOEQUALP\nend");
                return;
              default:
                Line("to :a '=' :b\noutput dll.zavta.LOGOGREATERP\nend");
                return;
            }
        }
      case 1: {
        const std::string& g = AnyGlobal();
        Line("make \"" + g + ".onchange [print \"changed." + g + "]");
        return;
      }
      case 2: {
        const std::string f = "f" + std::to_string(formulas_++);
        Line("ob \"" + f + " :" + AnyGlobal() + " + :" + AnyGlobal());
        formulaNames_.push_back(f);
        return;
      }
      case 3:
        if (!formulaNames_.empty()) {
          Line("print :" + formulaNames_[static_cast<size_t>(Pick(static_cast<int>(formulaNames_.size())))]);
          return;
        }
        break;
      case 4:
        if (hasObject_) {
          // The object read, or made again (its fields then belong to a new variable).
          Line(Chance(70) ? "print :o0.px :o0.py" : "make \"o0 newpt " + Literal() + " " + Literal());
          return;
        }
        break;
      case 5:
        if (!procedures_.empty()) {
          // A call as a statement: an object when the procedure has no OUTPUT.
          const TProcedure& p = procedures_[static_cast<size_t>(Pick(static_cast<int>(procedures_.size())))];
          std::string call = p.Name + " " + std::to_string(Pick(4));
          for (int i = 1; i < p.Inputs; ++i) call += " " + Literal();
          Line(p.Outputs ? "print " + call : "make \"obj " + call);
          return;
        }
        break;
      case 6:
        if (!procedures_.empty()) {
          // A lambda child given to a procedure that may have run already:
          // its later calls run the lambda instead.
          const TProcedure& p = procedures_[static_cast<size_t>(Pick(static_cast<int>(procedures_.size())))];
          static const char* const kInputs[] = {":n", ":a", ":b"};
          std::string inputs;
          for (int i = 0; i < p.Inputs; ++i) inputs += std::string(i > 0 ? " " : "") + kInputs[i];
          Line("make \"" + p.Name + ".lambda [[" + inputs + "] output " + Literal() + "]");
          return;
        }
        break;
      default:
        break;
    }
    Line(Common(0));
  }

  std::mt19937_64 random_;
  std::string text_;
  std::vector<std::string> globals_;
  std::vector<std::string> scope_;
  std::vector<TProcedure> procedures_;
  std::vector<std::string> formulaNames_;
  TProcedure current_;
  bool inProcedure_ = false;
  bool hasObject_ = false;
  int callBudget_ = 0;
  int formulas_ = 0;
};

}  // namespace

std::string RandomProgram(uint64_t seed) { return TGenerator(seed).Program(); }
