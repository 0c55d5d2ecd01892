// The external-call binder: the program's own exports by name and ordinal,
// outside shared objects (the C library built from tests/core/native/), the
// error keys with their messages and parameter files, and the checks on what
// an outside routine hands back.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "tests/core/support/CodeListing.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestState.h"

namespace {

const std::u16string kNativeFolder = Utf8ToUtf16(ZAVTA_TEST_NATIVE_DIR);

TAtom* SumProbe(TInterpreter& in) { return NewWord(in.S, u"sum"); }
TAtom* AsciiProbe(TInterpreter& in) { return NewWord(in.S, u"ascii"); }

// A reported error: its key (the dialog's topic) and message.
struct Reported {
  std::string Topic;
  std::string Message;
};

class BindTest : public ::testing::Test {
protected:
  BindTest() {
    S.HelpFolder = help.Folder();
    S.ProgramFolder = elsewhere.Folder();
    S.Language.Texts[u"INMODULE"] = u"Cannot find %s in %s";
    S.Language.Texts[u"UNKNOWNFILE"] = u"Cannot find the file %s %s";
    I.Exports.Register(exLOGOSUM, SumProbe);
    I.Exports.Register(exLOGOASCII, AsciiProbe);
    I.Exports.Register(exMIDIOPEN, nullptr);
  }

  // Compiles the first statement of text; its code listing, or "" when the
  // compile failed.
  std::string Compiled(std::u16string_view text) {
    TAtom* list = ParseText(I.Scanner(), text, u"test").List;
    I.CodePointer = list;
    try {
      if (CompileCurrentRun(I) != CompileResult::Compiled) return "";
    } catch (const LanguageError&) {
      return "";
    }
    return CodeListing(S, list);
  }
  // The one "primitive N" or "native N" line of a listing.
  static std::string RoutineLine(const std::string& listing) {
    for (const char* op : {"\nprimitive ", "\nnative "}) {
      const size_t at = listing.find(op);
      if (at != std::string::npos) return listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
    }
    return "(none)";
  }

  int Run(std::u16string_view text) { return RunText(I, text, u"test"); }
  // Runs text that must fail, with no parameter files left from before.
  Reported ErrorOf(std::u16string_view text) {
    for (const auto& entry : std::filesystem::directory_iterator(help.Path)) std::filesystem::remove(entry.path());
    const size_t dialogs = T.Host.Dialogs.size();
    EXPECT_EQ(Run(text), rrRunError) << U8(std::u16string(text));
    if (T.Host.Dialogs.size() == dialogs) return {"(no report)", ""};
    return {U8(T.Host.Dialogs.back().Topic), U8(T.Host.Dialogs.back().Message)};
  }
  // Parameter file number n as the help page reads it, "(none)" when missing.
  std::string File(int n) const {
    const std::string bytes = ReadBytes(help.Path / ("$$$error-0" + std::to_string(n) + "$$$.txt"));
    if (bytes.empty()) return "(none)";
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return U8(text);
  }
  std::string Escaped(const std::u16string& text) const { return U8(EscapeXml(S, text, true)); }
  void ExpectFiles(const std::vector<std::u16string>& expected) const {
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(File(static_cast<int>(i) + 4), Escaped(expected[i])) << i;
  }

  TempFolder help;
  TempFolder elsewhere;  // a program folder without the test library
  TestState T;
  TStructure& S = *T.S;
  TInterpreter I{S};
};

// A native routine's controls in the test library, once it is loaded.
struct NativeControls {
  NativeControls() {
    void* handle = dlopen((ZAVTA_TEST_NATIVE_DIR + std::string("testnative.so")).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return;
    SetResult = reinterpret_cast<void (*)(TAtom*)>(dlsym(handle, "TestNativeSetResult"));
    LastState = reinterpret_cast<TStructure* (*)()>(dlsym(handle, "TestNativeLastState"));
  }
  void (*SetResult)(TAtom*) = nullptr;
  TStructure* (*LastState)() = nullptr;
};

TEST(ExportTable, HoldsTheTwoHundredFortyTwoExportsOnce) {
  std::set<std::string_view> names;
  for (int32_t ordinal = 1; ordinal <= kExportCount; ++ordinal) {
    const std::string_view name = ExportName(ordinal);
    ASSERT_FALSE(name.empty()) << ordinal;
    names.insert(name);
    EXPECT_EQ(ExportOrdinalOf(Utf8ToUtf16(name)), ordinal) << name;
  }
  EXPECT_EQ(names.size(), 242u);
  EXPECT_TRUE(ExportName(0).empty());
  EXPECT_TRUE(ExportName(243).empty());
  EXPECT_EQ(ExportName(1), "MIDIOUTSHORTMSG");
  EXPECT_EQ(ExportName(46), "LOGOASCII");
  EXPECT_EQ(ExportName(166), "LOGOSUM");
  EXPECT_EQ(ExportName(242), "IOLOADIO");
  EXPECT_EQ(ExportOrdinalOf(u"logosum"), 0);  // callers upper-case the name
}

TEST_F(BindTest, OwnExportsBindOnceByNameOrOrdinalWithoutLoadingAnything) {
  const size_t before = I.Routines.size();
  const std::string sum = RoutineLine(Compiled(u"print dll.zavta.LOGOSUM"));
  EXPECT_EQ(sum, "primitive " + std::to_string(before));
  EXPECT_EQ(RoutineLine(Compiled(u"print dll.zavta.logosum")), sum);
  EXPECT_EQ(RoutineLine(Compiled(u"print DLL.zavta.166")), sum);
  EXPECT_EQ(I.Routines.size(), before + 1);

  EXPECT_EQ(RoutineLine(Compiled(u"print dll.zavta.46")), "primitive " + std::to_string(before + 1));
  EXPECT_TRUE(I.NativeLibraries.empty());

  EXPECT_EQ(Run(u"print dll.zavta.logosum\nprint dll.zavta.46"), rrOk);
  EXPECT_EQ(T.Host.Output(), "sum\nascii");
}

TEST_F(BindTest, OwnExportErrorsNameTheRoutineAndTheProgram) {
  const std::u16string self = u"/proc/self/exe";
  const size_t before = I.Routines.size();
  struct Case {
    const char16_t* Token;
    const char* Topic;
    const char* Message;
    std::vector<std::u16string> Files;
  };
  const Case cases[] = {
      {u"dll.zavta.nosuch", "unknown-dll-function", "Cannot find NOSUCH in ZAVTA", {u"nosuch", self}},
      // An export that no subsystem implements is never bound to a stub.
      {u"dll.zavta.midiopen", "unknown-dll-function", "Cannot find MIDIOPEN in ZAVTA", {u"midiopen", self}},
      {u"dll.zavta.9999", "unknown-dll-function-number", "Cannot find 9999 in ZAVTA", {u"9999", self}},
      {u"dll.zavta.12abc", "unknown-dll-function-number", "Cannot find 12ABC in ZAVTA", {u"12abc", self}},
      {u"dll.zavta.LOGOSUM.x", "unknown-dll-function", "Cannot find LOGOSUM.X in ZAVTA", {u"LOGOSUM.x", self}},
      {u"dll.zavta", "unknown-dll-function-empty", "Cannot find  in zavta", {self}},
  };
  for (const Case& c : cases) {
    const Reported error = ErrorOf(std::u16string(u"print ") + c.Token);
    EXPECT_EQ(error.Topic, c.Topic) << U8(c.Token);
    EXPECT_EQ(error.Message, c.Message) << U8(c.Token);
    std::vector<std::u16string> files = c.Files;
    files.emplace_back(c.Token);
    ExpectFiles(files);
  }
  EXPECT_EQ(I.Routines.size(), before);
  EXPECT_TRUE(I.NativeLibraries.empty());
}

TEST_F(BindTest, LibraryNameZavtaFollowsTheCaseRuleOfNames) {
  // Case-sensitive names: "Zavta" is an outside library.
  EXPECT_EQ(ErrorOf(u"print dll.Zavta.LOGOSUM").Topic, "unknown-dll-file");
  EXPECT_EQ(File(4), "Zavta.so");

  // Otherwise the scanner upper-cases the token, and any spelling is the
  // program itself.
  S.CaseSensitive = false;
  S.LoadKeywords();
  T.Host.Lines.clear();
  EXPECT_EQ(RoutineLine(Compiled(u"print dll.Zavta.logosum")).rfind("primitive ", 0), 0u);
  EXPECT_EQ(Run(u"print dll.zavta.logosum"), rrOk);
  EXPECT_EQ(T.Host.Output(), "sum");
}

TEST_F(BindTest, OutsideLibraryIsFoundThroughTheProgramFolderOnly) {
  const std::u16string token = u"dll.testnative.NATIVERESULT";
  Reported error = ErrorOf(u"print " + token);
  EXPECT_EQ(error.Topic, "unknown-dll-file");
  EXPECT_EQ(error.Message, "Cannot find the file testnative.so ");
  const char* searchPath = std::getenv("LD_LIBRARY_PATH");
  ExpectFiles({u"testnative.so", PathText(std::filesystem::current_path()), S.ProgramFolder,
               Utf8ToUtf16(searchPath != nullptr ? searchPath : "")});
  EXPECT_NE(File(8).find("testnative.so"), std::string::npos);  // the loader's reasons
  EXPECT_EQ(File(9), Escaped(token));
  EXPECT_TRUE(I.NativeLibraries.empty());

  error = ErrorOf(u"print dll..NATIVERESULT");
  EXPECT_EQ(error.Topic, "unknown-dll-file-empty");
  EXPECT_EQ(File(4), ".so");

  S.ProgramFolder = kNativeFolder;
  const std::u16string path = kNativeFolder + u"testnative.so";
  // A library without a routine name is loaded before the name is missed.
  error = ErrorOf(u"print dll.testnative");
  EXPECT_EQ(error.Topic, "unknown-dll-function-empty");
  EXPECT_EQ(error.Message, "Cannot find  in testnative");
  ExpectFiles({path, u"dll.testnative"});
  ASSERT_EQ(I.NativeLibraries.count(u"testnative"), 1u);
  EXPECT_EQ(U8(I.NativeLibraries[u"testnative"].Path), U8(path));

  error = ErrorOf(u"print dll.testnative.nosuch");
  EXPECT_EQ(error.Topic, "unknown-dll-function");
  EXPECT_EQ(error.Message, "Cannot find NOSUCH in TESTNATIVE");
  ExpectFiles({u"nosuch", path, u"dll.testnative.nosuch"});
  // Shared objects have no ordinals.
  EXPECT_EQ(ErrorOf(u"print dll.testnative.1").Topic, "unknown-dll-function-number");
  ExpectFiles({u"1", path, u"dll.testnative.1"});
}

TEST_F(BindTest, NativeRoutineGetsTheStateAndItsResultIsPushed) {
  S.ProgramFolder = kNativeFolder;
  const std::string routine = RoutineLine(Compiled(u"print dll.testnative.NATIVERESULT"));
  EXPECT_EQ(routine.rfind("native ", 0), 0u);
  // The name is looked up in upper case, and each routine is entered once.
  const size_t routines = I.Routines.size();
  EXPECT_EQ(RoutineLine(Compiled(u"print dll.testnative.nativeresult")), routine);
  EXPECT_EQ(I.Routines.size(), routines);

  NativeControls native;
  ASSERT_NE(native.SetResult, nullptr);
  TAtom* word = NewWord(S, u"fortytwo");
  TAtom::IncRef(word);
  native.SetResult(word);
  EXPECT_EQ(Run(u"print dll.testnative.nativeresult"), rrOk);
  EXPECT_EQ(T.Host.Output(), "fortytwo");
  EXPECT_EQ(native.LastState(), &S);

  // Null is the empty list.
  native.SetResult(nullptr);
  EXPECT_EQ(Run(u"make \"x dll.testnative.nativeresult"), rrOk);
  TAtom* x = S.FindName(u"x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->Left, nullptr);
  TAtom::DecRef(word);
}

TEST_F(BindTest, NativeResultThatIsNoLiveAtomIsRefused) {
  S.ProgramFolder = kNativeFolder;
  ASSERT_EQ(RoutineLine(Compiled(u"dll.testnative.NATIVERESULT")).rfind("native ", 0), 0u);
  NativeControls native;
  ASSERT_NE(native.SetResult, nullptr);
  TAtom* word = NewWord(S, u"inside");
  TAtom::IncRef(word);
  int onTheStack = 0;
  const std::vector<TAtom*> bogus = {
      reinterpret_cast<TAtom*>(&onTheStack),
      reinterpret_cast<TAtom*>(uintptr_t{16}),                              // unmapped
      reinterpret_cast<TAtom*>(reinterpret_cast<char*>(word) + 8),          // inside the pool, not an atom
      reinterpret_cast<TAtom*>(reinterpret_cast<char*>(word) + (1 << 20)),  // pool block, no atom made there
      reinterpret_cast<TAtom*>(&S),
  };
  for (TAtom* result : bogus) {
    native.SetResult(result);
    const Reported error = ErrorOf(u"print dll.testnative.NATIVERESULT");
    EXPECT_EQ(error.Topic, "native-result");
    EXPECT_EQ(error.Message, "native-result");
  }
  TAtom::DecRef(word);
}

TEST_F(BindTest, SuppressedBindErrorEmitsNothing) {
  // A generated list carries no source line, so the raise is suppressed;
  // the statement must still not compile into a call of nothing.
  S.CreateVariable(S.Root, u"prog", false, NewListCell(S, NewWord(S, u"dll.zavta.nosuch"), nullptr));
  const size_t dialogs = T.Host.Dialogs.size();
  EXPECT_NE(Run(u"run :prog"), rrRunError);
  EXPECT_EQ(T.Host.Dialogs.size(), dialogs);

  T.ArmErrors(false);
  TAtom* list = ParseText(I.Scanner(), u"print dll.zavta.nosuch", u"test").List;
  I.CodePointer = list;
  EXPECT_EQ(CompileCurrentRun(I), CompileResult::NotCompiled);
  EXPECT_EQ(TAtom::CodeCount(*list), 0);
}

}  // namespace
