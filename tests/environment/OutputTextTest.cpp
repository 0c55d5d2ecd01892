// The output window's line cut, the message dialog's text, line breaks of
// printed text and the run settings taken from the settings file.

#include <gtest/gtest.h>

#include <string>

#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/OutputText.h"
#include "tests/support/TestState.h"

namespace {

const std::u16string kClef = u"\U0001D11E";  // one code point, two code units

struct CutCase {
  const char* Name;
  std::u16string Text;
  int MaxPrint;
  std::u16string Shown;
};

TEST(OutputLineCut, CutsAfterMaxPrintCodePoints) {
  const CutCase cases[] = {
      {"fifteen letters at ten", u"abcdefghijklmno", 10, u"abcdefghij..."},
      {"exactly the limit stays whole", u"abcdefghij", 10, u"abcdefghij"},
      {"zero switches the cut off", u"abcdefghijklmno", 0, u"abcdefghijklmno"},
      {"negative switches the cut off", u"abcdefghijklmno", -3, u"abcdefghijklmno"},
      {"a pair at the cut stays whole", u"abc" + kClef + u"def", 4, u"abc" + kClef + u"..."},
      {"a pair counts once", u"ab" + kClef + kClef, 4, u"ab" + kClef + kClef},
      {"a lone high surrogate counts once", u"ab\xD834xy", 3, u"ab\xD834..."},
      {"empty", u"", 5, u""},
  };
  for (const CutCase& c : cases) EXPECT_EQ(U8(CutLine(c.Text, c.MaxPrint)), U8(c.Shown)) << c.Name;
}

TEST(DialogMessageText, CutsAt400CodePointsThenAddsTheExtraWhole) {
  const std::u16string exact(400, u'a');
  EXPECT_EQ(DialogText(exact, u""), exact);
  EXPECT_EQ(DialogText(exact + u"b", u""), exact + u"...");
  EXPECT_EQ(DialogText(exact + u"b", u"prog.zav"), exact + u"... (prog.zav)");
  const std::u16string pairs = std::u16string(399, u'a') + kClef + kClef;
  EXPECT_EQ(DialogText(pairs, u""), std::u16string(399, u'a') + kClef + u"...");
  EXPECT_EQ(DialogText(u"short", u"x"), u"short (x)");
}

TEST(PrintedLineBreaks, CrLfCrAndLfEachMakeOneBreak) {
  EXPECT_EQ(U8(LfLineBreaks(u"a\r\nb\rc\nd")), "a\nb\nc\nd");
  EXPECT_EQ(U8(LfLineBreaks(u"a\n\r\nb")), "a\n\nb");
  EXPECT_EQ(U8(LfLineBreaks(u"\r\r\n")), "\n\n");
  EXPECT_EQ(U8(LfLineBreaks(u"plain")), "plain");
}

TEST(RunSettings, CaseDualLanguageAndMaxPrintComeFromTheSettings) {
  TestState ts;
  EnvState env(*ts.S);
  env.Settings.SetText(u"CASESENSITIVE=No\nDUALLANGUAGESUPPORT=Yes\nMAXPRINT=12");
  ApplyRunSettings(env);
  EXPECT_FALSE(ts.S->CaseSensitive);
  EXPECT_TRUE(ts.S->Language.DualLanguageSupport);
  EXPECT_EQ(env.MaxPrint, 12);

  env.Settings.SetText(u"CASESENSITIVE=no\nDUALLANGUAGESUPPORT=yes\nMAXPRINT=lots");
  ApplyRunSettings(env);
  EXPECT_TRUE(ts.S->CaseSensitive);  // only "No" switches it off
  EXPECT_FALSE(ts.S->Language.DualLanguageSupport);
  EXPECT_EQ(env.MaxPrint, kDefaultMaxPrint);
}

}  // namespace
