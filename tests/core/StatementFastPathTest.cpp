// The short way through statements: the compiler's superinstructions cover
// the code words exactly, and each program below prints the same lines and
// ends the same way with and without the short ways, in the cases where a
// remembered answer or a skipped step could go wrong.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

struct TRunOutcome {
  int Result = 0;
  std::vector<std::string> Lines;
};

TRunOutcome RunBothWays(std::u16string_view program, bool fastPaths) {
  TestState t;
  TStructure& s = *t.S;
  s.FastPaths = fastPaths;
  TInterpreter in{s};
  const std::u16string library =
      u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\n"
      u"to mul :a :b\noutput dll.zavta.LOGOMUL\nend\n"
      u"to sub :a :b\noutput dll.zavta.LOGOSUB\nend\n"
      u"to word3 :a :b :c\noutput dll.zavta.LOGOWORD\nend\n"
      u"to eq :a :b\noutput dll.zavta.LOGOEQUALP\nend\n"
      u"to setbit :_names :_mask\ndll.zavta.SETBIT\nend\n"
      u"to cnt :a\noutput dll.zavta.LOGOCOUNT\nend\n";
  TRunOutcome outcome;
  outcome.Result = RunText(in, library, u"library");
  if (outcome.Result == 0) outcome.Result = RunText(in, program, u"test");
  for (const auto& line : t.Host.Lines) outcome.Lines.push_back(U8(line.Text));
  return outcome;
}

class StatementFastPaths : public ::testing::TestWithParam<const char16_t*> {};

TEST_P(StatementFastPaths, PrintAndEndAsTheFullWay) {
  const TRunOutcome fast = RunBothWays(GetParam(), true);
  const TRunOutcome full = RunBothWays(GetParam(), false);
  EXPECT_EQ(fast.Result, full.Result);
  EXPECT_EQ(fast.Lines, full.Lines);
  EXPECT_FALSE(full.Lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Programs, StatementFastPaths,
    ::testing::Values(
        // Plain stores, reads, counters and calls in one loop.
        u"make \"x 0\nrepeat 50 [make \"x add :x repeat]\nprint :x",
        u"make \"w \"a\nrepeat 3 [make \"w (word3 :w \"- repeat)]\nprint :w",
        // A lambda child given to a called procedure after its calls ran.
        u"to addall :n\noutput add :n 1\nend\nmake \"add.note 1\nmake \"x 1\n"
        u"repeat 6 [make \"x addall add :x 1, if eq :x 5 [make \"add.lambda [[:a :b] output mul :a :b]]]\nprint :x",
        // The wrapper redefined, then erased, in the middle of a loop.
        u"make \"x 1\nrepeat 4 [make \"x add :x 1, if eq :x 3 [make \"add [[:a :b] output mul :a :b]]]\nprint :x\n"
        u"to add :a :b\noutput dll.zavta.LOGOSUB\nend\nmake \"x add :x 1\nprint :x",
        // A round that stores into the procedure it calls.
        u"make \"x 0\nrepeat 300 [make \"x add :x cnt \"ab, make \"cnt [[:a] output 5]]\nprint :x",
        // A local and an input shadowing the global the statement reads and stores.
        u"make \"x 10\nto p :x\nmake \"x add :x 1\noutput :x\nend\nto q\nlocal \"x\nmake \"x 5\nmake \"x add :x 1\n"
        u"output :x\nend\nprint p 1 q :x",
        // Stores that take the reactive way: a handler, a lock, a new variable.
        u"make \"x 1\nmake \"x.onchange [print \"changed]\nrepeat 2 [make \"x add :x 1]\nprint :x",
        u"make \"y 1\nmake \"z 2\nrepeat 2 [make \"y add :y 1]\nprint :y :z",
        // Locked stores: the variable itself, a field of a locked object, a
        // local under a locked global of the same name.
        u"make \"x 1\nsetbit \"x 4096\nrepeat 2 [make \"x add :x 1]\nprint :x",
        u"to pt :px\nend\nmake \"o pt 1\nsetbit \"o 4096\nrepeat 2 [make \"o.px add :o.px 1]\nprint :o.px",
        u"make \"x 1\nsetbit \"x 4096\nto p\nlocal \"x\nmake \"x 5\nrepeat 2 [make \"x add :x 1]\noutput :x\nend\n"
        u"print p :x",
        // A silenced variable: the first store is skipped and ends the silence.
        u"make \"x \"a\nrepeat 6 [make \"i repeat, make \"x (word3 :i \"- \"x), if eq :i 3 [setbit \"x 16]]\nprint :x",
        u"make \"x 1\nsetbit \"x 16\nmake \"x 2\nprint :x\nmake \"x 3\nprint :x\nsetbit \"x 16\n"
        u"repeat 3 [make \"x add :x 1]\nprint :x",
        // WORD of words, numbers and characters outside the basic plane.
        u"make \"w (word3 \"a\U0001F600 12.5 \"\U0001F601b)\nprint :w\nprint (word3 \"\" 7 \"\")",
        u"print (word3 -5 0.5 1e20)\nprint (word3 1e-7 -0.25 \"\")\nmake \"w \"\nrepeat 30 [make \"w (word3 :w \"abcdefghi 1)]\n"
        u"print cnt :w\nprint :w\nprint (word3 \"a [b c] 1)",
        // MAKEs of nested calls, counters and literals as one step: where a
        // call declines in the middle (a raising routine, a user procedure,
        // a missing variable) the statement still runs the full way's calls.
        u"make \"n 0\nrepeat 300 [make \"i repeat, make \"w (word3 \"item :i \"x), make \"n add :n cnt :w]\nprint :n :w",
        u"make \"w \"ab\nrepeat 3 [make \"x add cnt :w :w]\nprint :x",
        // Such statements once their names and calls are resolved: what
        // they call, read or store changes in the middle of the loop (a
        // routine redefined or given a lambda child, a variable locked, given
        // a member or a handler, a routine raising on a new value), and one
        // list run at the top level and under a local of the same name.
        u"make \"n 0\nrepeat 9 [make \"i repeat, make \"w (word3 \"a :i \"b), make \"n add :n cnt :w, "
        u"if eq :i 5 [make \"cnt [[:a] output 100]]]\nprint :n :w",
        u"make \"n 0\nrepeat 9 [make \"i repeat, make \"w (word3 \"a :i \"b), make \"n add :n cnt :w, "
        u"if eq :i 5 [make \"cnt.lambda [[:a] output 7]]]\nprint :n :w",
        u"make \"n 0\nrepeat 9 [make \"i repeat, make \"n add :n cnt :i, if eq :i 4 [setbit \"n 4096]]\nprint :n",
        u"repeat 9 [make \"i repeat, make \"w (word3 :i :i \"x), if eq :i 4 [make \"i.part 1]]\nprint :w :i.part",
        u"repeat 9 [make \"i repeat, make \"w (word3 :i \"- \"x), if eq :i 4 [make \"w.onchange [print :w]]]",
        u"make \"l \"abc\nrepeat 9 [make \"i repeat, make \"w (word3 \"a :l \"b), if eq :i 4 [make \"l [x y]]]\nprint :w",
        u"make \"body [make \"x add :x cnt \"ab]\nmake \"x 0\nrepeat 5 :body\nto p\nlocal \"x\nmake \"x 100\n"
        u"repeat 5 :body\noutput :x\nend\nprint p :x",
        u"make \"x add 1 cnt :nosuch\nprint :x",
        // A number call's result goes into an input only where the MAKE made
        // that input itself, not into a number another value holds.
        u"to lst :a :b\noutput dll.zavta.LOGOLIST\nend\nto fst :a\noutput dll.zavta.LOGOFIRST\nend\n"
        u"make \"l lst add 1 1 5\nrepeat 3 [make \"x add fst :l 10, make \"y add add fst :l 1 cnt :l]\nprint :l :x :y",
        u"make \"z add mul cnt \"abc 1e4930 mul cnt \"abc 1e4930\nprint :z\n"
        u"make \"z sub mul cnt \"ab 1e4932 mul cnt \"ab 1e4932\nprint :z",
        u"to twice :a\noutput mul :a 2\nend\nmake \"x 1\nrepeat 100 [make \"x sub twice :x :x]\nprint :x",
        u"to pt :px\nend\nmake \"o pt 1\nto same :a\noutput :a\nend\nmake \"p 0\nrepeat 2 [make \"p same :o]\nprint :p.px",
        // A statement that declines in its middle and goes on word by word.
        u"make \"x 1\nrepeat 3 [make \"x add add :x 1 (if eq :x 3 [100] [0])]\nprint :x",
        // Failures inside the superinstructions: the report is the full way's.
        u"make \"x 1\nrepeat 3 [make \"x add :x \"a]\nprint :x",
        u"make \"x 1\nrepeat 3 [make \"x add :nosuch 1]\nprint :x",
        u"print add 1 2 3",
        // A number routine's MAKE as one step: the stored atom gets its new
        // value only where nothing else can hold it (another variable, a
        // later round after other statements, a nested loop's next start).
        u"make \"x 0\nrepeat 3 [make \"y :x, make \"x add :x 1]\nprint :x :y",
        u"make \"x 0\nrepeat 3 [make \"y :x make \"x add :x 1]\nprint :x :y",
        u"make \"x 0\nrepeat 2 [repeat 3 [make \"x add :x 1] make \"y :x]\nprint :x :y",
        u"make \"x 0\nrepeat 3 [make \"l word3 :x 5 \"\" make \"x add :x 1]\nprint :x :l",
        u"to lst :a :b\noutput dll.zavta.LOGOLIST\nend\nmake \"x 0\nrepeat 3 [make \"l lst :x 5 make \"x add :x 1]\n"
        u"print :x :l\nrepeat 3 [make \"x add :x 1 make \"l lst :x 5 make \"k add :x 1]\nprint :x :l :k",
        u"make \"x 1\nrepeat 3 [make \"x mul 2 :x]\nmake \"y :x\nrepeat 2 [make \"x sub :x 1]\nprint :x :y",
        u"make \"x 0\nmake \"y 1\nrepeat 4 [make \"x add :x :y]\nrepeat 4 [make \"y add :x :y]\nprint :x :y",
        u"to p\nlocal \"x\nmake \"x 0\nrepeat 5 [make \"x add :x 2]\noutput :x\nend\nprint p p",
        // Its operands as words not read as numbers yet, and its routine
        // redefined between two loops.
        u"make \"x \"5\nrepeat 3 [make \"x add :x 1]\nprint :x\nmake \"x \"a\nrepeat 2 [make \"x add :x 1]",
        u"make \"x 1\nrepeat 3 [make \"x add :x 1]\nto add :a :b\noutput dll.zavta.LOGOMUL\nend\n"
        u"repeat 3 [make \"x add :x 2]\nprint :x",
        // A value that is an object, and the frame's stack below the statement.
        u"to pt :px\nend\nmake \"o pt 1\nmake \"o2 :o\nprint :o2.px\nprint (add 1 2) (add 3 4)",
        // User procedures called from the middle of a statement: recursion
        // through OUTPUT with and without a value, a class, a procedure
        // redefining itself, and an error two calls deep.
        u"to f :n\nif eq :n 0 [output 0]\noutput add 1 f add :n -1\nend\nprint add f 30 f 5",
        u"to s :n\nif eq :n 0 [output]\nprint :n\ns add :n -1\nend\ns 3\nprint \"done",
        u"make \"k 7\nmake \"j add :k 1\nmake \"x add k 1\nprint :x :j",
        u"to g :n\nto g :n\noutput mul :n 10\nend\noutput add :n 1\nend\nprint add g 1 g 1\nprint g 2",
        u"to h :n\noutput add :n :nosuch\nend\nto k :n\noutput add 1 h :n\nend\nprint add 1 k 2",
        // An error in a round's third statement, many rounds and pumps in.
        u"print \"start\nmake \"n 0\nmake \"k 1\nrepeat 400 [make \"i repeat, make \"w (word3 \"a :i \"b), "
        u"make \"n add :n :k, if eq :i 300 [make \"k \"x]]\nprint :n",
        // A round run by its statements' plans, one a line, whose second
        // statement's routine raises after many rounds.
        u"to fst :a\noutput dll.zavta.LOGOFIRST\nend\nto bf :a\noutput dll.zavta.LOGOBF\nend\nmake \"k \"abcdefghij\n"
        u"repeat 20 [make \"i repeat\nmake \"w fst :k\nmake \"k bf :k]\nprint :i :w",
        // IF with one and two lists on the short way and where it declines:
        // both branches, a false IF, an empty list, a list of two
        // statements, an object read, a condition that is no Boolean, and
        // enough rounds to pass the message pump and the collector.
        u"to c :n\nif eq :n 1 [output \"one] [output :n]\nend\nprint c 1 c 2",
        u"to e :n\nif eq :n 1 []\nif eq :n 1 [make \"z 1 output 5]\noutput 6\nend\nprint e 1 e 2",
        u"to pt :px\nend\nmake \"o pt 1\nto r\nif eq 1 1 [output :o]\nend\nprint :o.px\nmake \"q r\nprint :q.px",
        u"to b :n\nif :n [output 1]\noutput 2\nend\nprint b \"true\nprint b 5",
        u"to w :n\nif eq :n 0 [output 0]\noutput add 1 w add :n -1\nend\nrepeat 300 [make \"x w 5]\nprint :x",
        // An IF's remembered branch: another list at the same IF (OUTPUT of
        // a literal, a quoted word, none, statements the short way never
        // runs, a name it cannot read), both lists of an IFELSE taking
        // turns past pump points, and a name found in one caller's frame
        // and not at the top.
        u"to f\nif eq 1 1 :b\noutput 0\nend\nto f4\noutput (word3 f f word3 f f \"/)\nend\nmake \"b [output 1]\n"
        u"print f4\nmake \"b [output \"w]\nprint f4\nmake \"b [output add 1 1]\nprint f4\n"
        u"make \"b [print \"x output 3]\nprint f4\nmake \"b [output 4]\nprint f4\nmake \"b [output]\n"
        u"repeat 4 [f]\nprint \"stopped\nmake \"b [output :nosuch]\nprint f",
        u"to c :t\nif :t [output 1] [output :t]\nend\nmake \"s \"a\n"
        u"repeat 400 [make \"i repeat, make \"s (word3 :s c eq cnt :i 2 \"/)]\n"
        u"print cnt :s",
        u"to g\nif eq 1 1 [output :v]\nend\nto h :v\noutput g\nend\nprint h 1 h 2\nprint g",
        // Calls made from a statement's short way, each in a kept frame:
        // the callee defines, in its own frame, the procedure the statement
        // calls next, two procedures take turns with their frames, a callee
        // reads its caller's input, and the statement raises after its
        // calls, caught by a handler.
        u"to top\nprint add add 1 redef 2 redef 3\nprint \"after\nend\nto redef :n\nto redef :n\noutput 0\nend\n"
        u"output :n\nend\ntop\ntop",
        u"to ev :n\nif eq :n 0 [output \"true]\noutput od add :n -1\nend\nto od :n\nif eq :n 0 [output \"false]\n"
        u"output ev add :n -1\nend\nprint ev 10 od 7 ev 3 od 0",
        u"to inner\noutput :n\nend\nto outer :n\noutput add inner 1\nend\nprint outer 5 outer 6 add outer 1 outer 2",
        // More operands waiting than the short way holds, then a call of six inputs.
        u"to six :a :b :c :d :e :f\noutput word3 word3 :a :b :c word3 :d :e :f \"!\nend\n"
        u"print six 1 2 3 4 5 six 6 7 8 9 10 11",
        u"to one :n\noutput :n\nend\nto risky\noutput add one 1 add one 2 :nosuch\nend\nmake \"risky.onerror [print \"caught]\n"
        u"print risky\nprint add one 3 one 4",
        // Bodies of one statement that only reads and outputs, run without
        // the statement loop: across pump points, a name it cannot read, an
        // object, STOP, and the body redefined between calls into one that
        // needs the loop.
        u"to f :n\noutput :n\nend\nmake \"s 0\nrepeat 500 [make \"s add :s f repeat]\nprint :s",
        u"to g :n\noutput :nosuch\nend\nprint g 1 g 2",
        u"to pt :px\nend\nto same :o\noutput :o\nend\nmake \"o pt 3\nprint :o.px\nmake \"q same :o\nprint :q.px",
        u"to s :n\nstop\nend\nrepeat 3 [s repeat]\nto k :n\noutput \"word\nend\nprint k 1 k 2",
        u"to f :n\noutput :n\nend\nmake \"s 0\nrepeat 6 [make \"s add :s f repeat, if eq repeat 3 [to f :n\noutput mul :n 10\nend]]\n"
        u"print :s",
        // A frame that gains, after its statements' answers were remembered,
        // a local of a name they read or call: in one call of a recursion
        // and not in the calls above and below it.
        u"make \"g 1\nto r :n\nrepeat 2 [print :g]\nif eq :n 2 [local \"g, make \"g 7]\nrepeat 2 [print :g]\n"
        u"if eq :n 3 [output 0]\nprint r add :n 1\nprint :g\noutput :n\nend\nprint r 1",
        u"to q :n\nprint add :n 1\nif eq :n 2 [local \"add, make \"add [[:a :b] output mul :a :b]]\nprint add :n 1\n"
        u"if eq :n 2 [q 3]\nprint add :n 1\nend\nq 1\nq 2\nq 4"));

// Loops of number assignments, which the short way runs as a tight loop
// between pump points: every pump comes at the same statement count and
// repeat round, and sees the same values, with and without the short
// ways; a pump that stops the run or changes a variable does so at the
// same place.
struct TPumpedRun {
  std::vector<std::string> Lines;
  std::vector<std::string> Pumps;  // what each pump saw
};

// kRedefineCount: at the second pump; ...BetweenRounds: at the first pump
// off the statement pump points (REPEAT's own, between two rounds).
enum class PumpAction { kWatch, kStopAtThird, kResetX, kRedefineCount, kRedefineCountBetweenRounds };

// A host may change the program without a statement counted: here a
// definition whose statement's count is taken back.
bool RedefineUncounted(TInterpreter& in, std::u16string_view definition) {
  const uint32_t statements = in.StatementCounter;
  const bool defined = RunText(in, definition, u"pump") == 0;
  in.StatementCounter = statements;
  return defined;
}

TPumpedRun RunWatchingPumps(std::u16string_view program, bool fastPaths, PumpAction action) {
  TestState t;
  TStructure& s = *t.S;
  s.FastPaths = fastPaths;
  TInterpreter in{s};
  TPumpedRun outcome;
  bool redefined = false;
  EXPECT_EQ(RunText(in,
                    u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\nto mul :a :b\noutput dll.zavta.LOGOMUL\nend\n"
                    u"to word3 :a :b :c\noutput dll.zavta.LOGOWORD\nend\nto cnt :a\noutput dll.zavta.LOGOCOUNT\nend\n",
                    u"library"),
            0);
  t.Host.OnPump = [&] {
    const TAtom* x = s.FindName(u"x", nullptr);
    outcome.Pumps.push_back(std::to_string(in.StatementCounter) + " " + std::to_string(s.RepeatCounter) + " " +
                            (x != nullptr ? U8(TAtom::ToText(s, x->Left)) : "-"));
    if (action == PumpAction::kStopAtThird && outcome.Pumps.size() == 3) in.RunState = rsStop;
    if (action == PumpAction::kResetX && outcome.Pumps.size() % 2 == 1) RunText(in, u"make \"x 0", u"pump");
    if (action == PumpAction::kRedefineCount && outcome.Pumps.size() == 2)
      RunText(in, u"to cnt :a\noutput dll.zavta.LOGOFIRST\nend", u"pump");
    if (action == PumpAction::kRedefineCountBetweenRounds && in.StatementCounter % kPumpInterval != 0 && !redefined)
      redefined = RedefineUncounted(in, u"to cnt :a\noutput 100\nend");
  };
  RunText(in, program, u"test");
  for (const auto& line : t.Host.Lines) outcome.Lines.push_back(U8(line.Text));
  return outcome;
}

struct TPumpCase {
  const char16_t* Program;
  PumpAction Action;
};

class FusedRoundsAndPumps : public ::testing::TestWithParam<TPumpCase> {};

TEST_P(FusedRoundsAndPumps, SeeTheSameAsTheFullWay) {
  const TPumpedRun fast = RunWatchingPumps(GetParam().Program, true, GetParam().Action);
  const TPumpedRun full = RunWatchingPumps(GetParam().Program, false, GetParam().Action);
  EXPECT_EQ(fast.Lines, full.Lines);
  EXPECT_EQ(fast.Pumps, full.Pumps);
  EXPECT_FALSE(full.Pumps.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Loops, FusedRoundsAndPumps,
    ::testing::Values(
        TPumpCase{u"make \"x 0\nrepeat 1000 [make \"x add :x 1]\nprint :x", PumpAction::kWatch},
        // Two statements, one reading the other's variable; a count with a fraction.
        TPumpCase{u"make \"x 0\nmake \"y 0\nrepeat 700.5 [make \"x add :x 1 make \"y add :y :x]\nprint :x :y",
                  PumpAction::kWatch},
        TPumpCase{u"make \"x 1\nmake \"y 3\nrepeat 400 [make \"x add :x 1, make \"y mul :y 1.5]\nprint :x :y",
                  PumpAction::kWatch},
        // Overflow to infinity, then a NaN (printed without a sign).
        TPumpCase{u"make \"x 1\nrepeat 600 [make \"x mul :x 1e10]\nmake \"z 0\n"
                  u"repeat 300 [make \"z mul :x 0]\nprint :x :z",
                  PumpAction::kWatch},
        TPumpCase{u"make \"x 0\nrepeat 1000 [make \"x add :x 1]\nprint :x", PumpAction::kStopAtThird},
        TPumpCase{u"make \"x 0\nrepeat 1000 [make \"x add :x 1]\nprint :x", PumpAction::kResetX},
        // Words built from the counter and counted, nested calls in one MAKE.
        TPumpCase{u"make \"x 0\nrepeat 500 [make \"i repeat, make \"w (word3 \"item :i \"x), make \"x add :x cnt :w]\n"
                  u"print :x",
                  PumpAction::kWatch},
        TPumpCase{u"make \"x 0\nrepeat 500 [make \"i repeat, make \"w (word3 \"item :i \"x) make \"x add :x cnt :w]\n"
                  u"print :x",
                  PumpAction::kStopAtThird},
        // Rounds of planned statements whose counts fall on the pump point
        // at every place of the round, and a procedure they call redefined
        // by a pump between two rounds.
        TPumpCase{u"make \"x 0\nrepeat 500 [make \"i repeat, make \"w (word3 \"item :i \"x), make \"x add :x cnt :w, "
                  u"make \"j :x]\nprint :x :j",
                  PumpAction::kResetX},
        TPumpCase{u"make \"x 0\nrepeat 500 [make \"i repeat, make \"x add :x cnt :i]\nprint :x",
                  PumpAction::kRedefineCount},
        // Settled rounds (nothing ran between them) and a pump between two.
        TPumpCase{u"make \"x 0\nrepeat 300 [make \"i repeat, make \"w (word3 \"item :i \"x), make \"x add :x cnt :w]\n"
                  u"print :x",
                  PumpAction::kRedefineCountBetweenRounds},
        // Settled rounds run one after another up to a count with a fraction.
        TPumpCase{u"make \"x 0\nrepeat 333.5 [make \"i repeat, make \"w (word3 \"item :i \"x), make \"x add :x cnt :w]\n"
                  u"print :x :i",
                  PumpAction::kWatch},
        // A list whose first statement the tight loop refuses, a count past
        // any end that a stop ends, and a loop in every round of another.
        TPumpCase{u"make \"x 0\nrepeat 700 [make \"y cnt \"ab, make \"x add :x 1]\nprint :x :y", PumpAction::kWatch},
        TPumpCase{u"make \"x 0\nrepeat 1e30 [make \"x add :x 1]\nprint :x", PumpAction::kStopAtThird},
        TPumpCase{u"make \"x 0\nrepeat 300 [make \"i repeat, repeat 3 [make \"x add :x :i]]\nprint :x :i",
                  PumpAction::kWatch},
        // Rounds of statements other than MAKEs: a procedure's call and an IF.
        TPumpCase{u"make \"x 0\nto inc\nmake \"x add :x 1\nend\nrepeat 500 [inc]\nprint :x", PumpAction::kStopAtThird},
        TPumpCase{u"to eq :a :b\noutput dll.zavta.LOGOEQUALP\nend\nmake \"x 0\n"
                  u"repeat 500 [make \"x add :x 1, if eq :x 100 [print :x]]\nprint :x",
                  PumpAction::kResetX},
        // Fields of an object through dotted names.
        TPumpCase{u"to pt :px :py\nend\nmake \"o pt 0 0\nrepeat 500 [make \"o.px add :o.px 1 make \"o.py add :o.py 2]\n"
                  u"print :o.px :o.py",
                  PumpAction::kWatch},
        // Two user calls in one statement, the pumps and the stop coming
        // inside either of them.
        TPumpCase{u"to inc :a\noutput add :a 1\nend\nmake \"x 0\nrepeat 300 [make \"x add inc :x inc 0]\nprint :x",
                  PumpAction::kWatch},
        TPumpCase{u"to inc :a\noutput add :a 1\nend\nmake \"x 0\nrepeat 300 [make \"x add inc :x inc 0]\nprint :x",
                  PumpAction::kStopAtThird}));

// The superinstructions of "make "x :x + 1" follow its code words one range
// after the other.
TEST(StatementFastCode, CoversTheWordsInOrder) {
  TestState t;
  TStructure& s = *t.S;
  TInterpreter in{s};
  ASSERT_EQ(RunText(in, u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\nmake \"x 1", u"library"), 0);
  const TParseResult parsed = ParseText(in.Scanner(), u"make \"x add :x 1", u"test", 0, 0);
  ASSERT_TRUE(parsed.Ok);
  in.CodePointer = parsed.List;
  ASSERT_EQ(CompileCurrentRun(in), CompileResult::Compiled);
  ASSERT_NE(FastCodeWhenAskedAgain(*parsed.List->Ext, true), nullptr);
  const TAtom::Extension& ext = *parsed.List->Ext;
  ASSERT_TRUE(ext.Fast);
  EXPECT_EQ(ext.Fast->Generation, ext.CodeGeneration);
  std::vector<FastOpKind> kinds;
  int32_t expectedFrom = 0;
  for (const TFastOp& op : ext.Fast->Ops) {
    kinds.push_back(op.Kind);
    EXPECT_EQ(op.From, expectedFrom);
    expectedFrom = op.To;
  }
  EXPECT_EQ(static_cast<size_t>(expectedFrom), ext.Code->size());
  EXPECT_EQ(kinds, (std::vector<FastOpKind>{foPush, foValueOf, foCall, foQuote, foMake, foPop, foEnd}));
}

// Statements made only of MAKEs of by-value values run each MAKE as one
// step; the plain number shape is told apart for its own short way.
TEST(StatementFastCode, MakesOfValuesRunAsOneStep) {
  TestState t;
  TStructure& s = *t.S;
  TInterpreter in{s};
  ASSERT_EQ(RunText(in,
                    u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\nto word3 :a :b :c\noutput dll.zavta.LOGOWORD\nend\n"
                    u"to cnt :a\noutput dll.zavta.LOGOCOUNT\nend\nmake \"x 1",
                    u"library"),
            0);
  struct TCase {
    const char16_t* Statement;
    std::vector<bool> Numeric;  // one per fused MAKE; empty: none
  };
  const TCase cases[] = {
      {u"make \"x add :x 1", {true}},
      {u"make \"w (word3 \"a :x \"b)", {false}},
      {u"make \"x add 1 cnt :w", {false}},
      {u"make \"x 5 make \"y :x", {false, false}},
      {u"make \"x add :x 1 print :x", {}},
      {u"print :x", {}},
  };
  for (const TCase& c : cases) {
    const TParseResult parsed = ParseText(in.Scanner(), c.Statement, u"test", 0, 0);
    ASSERT_TRUE(parsed.Ok);
    in.CodePointer = parsed.List;
    ASSERT_EQ(CompileCurrentRun(in), CompileResult::Compiled);
    ASSERT_TRUE(parsed.List->Ext && FastCodeWhenAskedAgain(*parsed.List->Ext, true));
    std::vector<bool> numeric;
    for (const TFusedMake& make : parsed.List->Ext->Fast->Fused) numeric.push_back(make.Numeric);
    EXPECT_EQ(numeric, c.Numeric) << U8(c.Statement);
  }
}

// OUTPUT with and without a value ends the statement on the short way: the
// kinds of each body's first statement once the procedure has run.
TEST(StatementFastCode, OutputAndStopHaveTheirOwnKinds) {
  TestState t;
  TStructure& s = *t.S;
  TInterpreter in{s};
  ASSERT_EQ(RunText(in, u"to o :x\noutput :x\nend\nto st\noutput\nend\nprint o 1\nst", u"library"), 0);
  struct TCase {
    const char16_t* Procedure;
    std::vector<FastOpKind> Kinds;
  };
  const TCase cases[] = {
      {u"o", {foValueOf, foOutput}},
      {u"st", {foStop}},
  };
  for (const TCase& c : cases) {
    const TAtom* procedure = s.FindName(c.Procedure);
    ASSERT_NE(procedure, nullptr);
    const TAtom* body = procedure->Left;
    while (body != nullptr && TAtom::IsList(body->Left)) body = body->Right;  // past the input list
    ASSERT_NE(body, nullptr);
    ASSERT_TRUE(body->Ext && FastCodeWhenAskedAgain(*body->Ext, true));
    std::vector<FastOpKind> kinds;
    for (const TFastOp& op : body->Ext->Fast->Ops) kinds.push_back(op.Kind);
    ASSERT_GE(kinds.size(), c.Kinds.size());
    kinds.resize(c.Kinds.size());
    EXPECT_EQ(kinds, c.Kinds) << U8(c.Procedure);
  }
}

// A statement gets its superinstructions when it is asked to run again,
// not when it is compiled: one that runs once never holds them.
void CollectCompiled(const TAtom* list, std::vector<std::pair<std::string, bool>>& out) {
  for (const TAtom* cell = list; cell != nullptr && cell->Kind == akList; cell = cell->Right) {
    if (cell->Ext && cell->Ext->Code && !cell->Ext->Code->empty())
      out.emplace_back(U8(cell->Left->Text.str()), cell->Ext->Fast != nullptr);
    if (cell->Left != nullptr && cell->Left->Kind == akList) CollectCompiled(cell->Left, out);
  }
}

TEST(StatementFastCode, OnlyStatementsThatRunAgainGetSuperinstructions) {
  TestState t;
  TStructure& s = *t.S;
  TInterpreter in{s};
  ASSERT_EQ(RunText(in, u"to add :a :b\noutput dll.zavta.LOGOSUM\nend\nto p\nmake \"once 1\nrepeat 3 [make \"n add :n 1]\nend\nmake \"n 0\np", u"test"), 0);
  const TAtom* procedure = s.FindName(u"p");
  ASSERT_NE(procedure, nullptr);
  std::vector<std::pair<std::string, bool>> compiled;
  CollectCompiled(procedure->Left, compiled);
  const std::vector<std::pair<std::string, bool>> expected{{"make", false}, {"repeat", false}, {"make", true}};
  EXPECT_EQ(compiled, expected);  // only the loop's statement ran more than once
  EXPECT_EQ(U8(TAtom::ToText(s, s.FindName(u"n")->Left)), "3");
}

}  // namespace
