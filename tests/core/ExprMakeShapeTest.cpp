// The compiler's shortcut for definition and attribute statements: its code
// must be the full compiler's word for word, for the shapes it takes and
// the near misses it must leave to the compiler, and for every statement of
// the libraries.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/support/TestState.h"

namespace {

class MakeShape : public ::testing::Test {
protected:
  TAtom* Parse(std::u16string_view text, std::u16string_view source = u"test") {
    const TParseResult r = ParseText(I.Scanner(), text, source);
    EXPECT_TRUE(r.Ok) << U8(std::u16string(text));
    return r.List;
  }

  struct Compiled {
    std::vector<int32_t> Code;
    TAtom* Next = nullptr;
  };

  Compiled CompileWith(TAtom* cell, bool fastPaths) {
    S.FastPaths = fastPaths;
    I.CodePointer = cell;
    EXPECT_EQ(CompileCurrentRun(I), CompileResult::Compiled);
    S.FastPaths = true;
    return {*cell->Code(), I.CodePointer};
  }

  // Compiles the statement at cell both ways and compares; true when the
  // shortcut takes it. The code pointer ends on the next statement.
  bool CompilesAlike(TAtom* cell, const std::string& what) {
    const Compiled full = CompileWith(cell, false);
    const Compiled quick = CompileWith(cell, true);
    EXPECT_EQ(quick.Code, full.Code) << what;
    EXPECT_EQ(quick.Next, full.Next) << what;
    TAtom::ClearCode(*cell);
    const bool taken = CompileMakeShape(I, cell);
    I.CodePointer = full.Next;
    return taken;
  }

  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

TEST_F(MakeShape, WritesTheCompilersCodeAndLeavesNearMissesToIt) {
  struct Case {
    const char16_t* Text;
    bool Taken;
  };
  const Case cases[] = {
      {u"to sum :a :b\r\noutput :a + :b\r\nend", true},
      {u"to f\r\nend", true},
      {u"to :a '+' :b\r\noutput dll.zavta.LOGOSUM\r\nend", true},
      {u"make \"'+.onpriority' 40", true},
      {u"make \"x []", true},
      {u"make \"x [1 2], print 3", true},
      {u"MAKE LOCAL \"x 5\r\nprint 3", true},
      {u"make \"x \"y", false},
      {u"make \"x :y", false},
      {u"make \"x (1)", false},
      {u"make \"3 4", false},
      {u"make [a] \"x 4", false},
      {u"make \"x 4 5", false},
      {u"make local \"x", false},
      {u"local \"x 4", false},
      {u"print \"x 4", false},
  };
  for (const Case& c : cases) {
    const std::string what = U8(c.Text);
    EXPECT_EQ(CompilesAlike(Parse(c.Text), what), c.Taken) << what;
  }
}

TEST_F(MakeShape, EveryLibraryStatementCompilesAsTheCompilerWouldHave) {
  size_t taken = 0;
  for (const char16_t* file : {u"/resources/Logo.zav", u"/resources/Graphix.zav"}) {
    const std::u16string path = Utf8ToUtf16(ZAVTA_SOURCE_DIR) + file;
    const std::u16string text = ReadTextFile(S, path);
    ASSERT_FALSE(text.empty()) << U8(path);
    // The other statements call procedures that only running the file
    // would define.
    for (TAtom* cell = Parse(text, path); IsAtom(cell); cell = cell->Right) {
      const TAtom* first = cell->Left;
      if (IsAtom(first) && first->Kind == akWord && first->Text == S.Keyword(kwMake) &&
          CompilesAlike(cell, U8(path) + " at " + std::to_string(TAtom::GetPosition(cell).Line)))
        ++taken;
    }
  }
  EXPECT_GT(taken, 150u);
}

}  // namespace
