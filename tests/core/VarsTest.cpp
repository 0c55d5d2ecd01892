// Frames, operand stacks, argument cells, name resolution and error raising.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <unordered_map>
#include <vector>

#include "core/Atoms.h"
#include "core/Vars.h"
#include "tests/support/TestState.h"

namespace {

TAtom* Var(TStructure& s, const char16_t* name, TAtom* value, TAtom* parent) {
  TAtom* v = NewVariable(s, name, value);
  if (parent) TAtom::SetParent(s, *v, parent);
  return v;
}

// Enters a frame whose owner is a fresh procedure-frame variable.
TAtom* EnterCall(TStructure& s, const char16_t* name, TAtom* parent) {
  TAtom* owner = Var(s, name, nullptr, parent);
  owner->Flags |= afFrame;
  s.EnterFrame(owner);
  return owner;
}

}  // namespace

TEST(OperandStack, PinsStayBalancedAndEmptyPopLeavesPositions) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* a = NewNumber(s, 1);
  TStack stack;
  stack.Push(a, 1, 2);
  stack.Push(a, 3, 4);
  stack.Push(SystemValue, 5, 6);
  EXPECT_EQ(stack.Count(), 9);
  EXPECT_EQ(a->RefCount, 2);
  TAtom* out = nullptr;
  int32_t start = 0, end = 0;
  stack.Pop(out, start, end);
  EXPECT_EQ(out, SystemValue);
  stack.Drop(1);
  EXPECT_EQ(a->RefCount, 1);
  stack.Pop(out, start, end);
  EXPECT_EQ(out, a);
  EXPECT_EQ(start, 1);
  EXPECT_EQ(end, 2);
  EXPECT_EQ(a->RefCount, 0);

  start = 77;
  end = 78;
  stack.Pop(out, start, end);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(start, 77);
  EXPECT_EQ(end, 78);
  stack.Drop(5);
  EXPECT_EQ(a->RefCount, 0);
}

TEST(Frames, EnterAndLeavePinTheOwnerAndUnpinTheStack) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* owner = NewVariable(s, u"call", nullptr);
  TAtom* onStack = NewNumber(s, 5);
  s.EnterFrame(owner);
  EXPECT_EQ(owner->RefCount, 1);
  s.Frame()->Stack.Push(onStack, 0, 0);
  s.EnterFrame(nullptr);  // a second frame of the same owner
  EXPECT_EQ(owner->RefCount, 2);
  EXPECT_EQ(s.LeaveFrame(), owner);
  EXPECT_EQ(s.LeaveFrame(), owner);
  EXPECT_EQ(owner->RefCount, 0);
  EXPECT_EQ(onStack->RefCount, 0);
  EXPECT_EQ(s.Frame()->Owner, s.Root);
  s.LeaveFrame();
  EXPECT_EQ(s.LeaveFrame(), nullptr);  // no frame: nothing happens
  EXPECT_EQ(s.Frame(), nullptr);
}

// Left frames are kept for the next calls, up to a bound: a recursion
// deeper than the bound, entered twice, keeps every frame's owner, caller
// and stack apart and leaves no pin behind.
TEST(Frames, DeepChainsReuseLeftFramesAndBalanceThePins) {
  TestState ts;
  TStructure& s = *ts.S;
  TContext* const top = s.Frame();
  TAtom* value = NewNumber(s, 1);
  constexpr int kDepth = 5000;
  std::vector<TAtom*> owners;
  for (int i = 0; i < kDepth; ++i) owners.push_back(NewVariable(s, u"[~]", nullptr));
  for (int round = 0; round < 2; ++round) {
    for (TAtom* owner : owners) {
      TContext* caller = s.Frame();
      s.EnterCallFrame(*owner);
      EXPECT_EQ(s.Frame()->Parent, caller);
      EXPECT_EQ(s.Frame()->Stack.Count(), 0);
      if (owner == owners[round]) s.Frame()->Stack.Push(value, 0, 0);
    }
    EXPECT_EQ(value->RefCount, 1);
    for (auto owner = owners.rbegin(); owner != owners.rend(); ++owner) {
      EXPECT_EQ(s.Frame()->Owner, *owner);
      EXPECT_EQ(s.LeaveFrame(), *owner);
      EXPECT_EQ((*owner)->RefCount, 0);
    }
    EXPECT_EQ(s.Frame(), top);
    EXPECT_EQ(value->RefCount, 0);
  }
}

TEST(ArgumentCells, CellOneIsTheLastInputAndMissingCellsAreEmpty) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* frame = EnterCall(s, u"sum", s.Root);
  Var(s, u"a", NewNumber(s, 10), frame);
  Var(s, u"b", NewWord(s, u"20"), frame);
  EXPECT_EQ(s.CellCount(), 2);
  EXPECT_EQ(s.Cell1Number(), 20);
  EXPECT_EQ(s.Cell2Integer(), 10);
  EXPECT_EQ(s.FirstCell()->Text, u"b");
  EXPECT_EQ(s.CellValue(3), nullptr);
  // A wrapper with too few inputs gets the empty list, which then fails to
  // convert with an ordinary error.
  EXPECT_THROW(s.Cell3Integer(), LanguageError);
}

TEST(Paths, SplitAndCreateVariables) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* value = NewNumber(s, 7);
  TAtom* inner = s.CreateVariable(s.Root, u"a.b", false, value);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(TAtom::FullName(inner), u"a.b");
  EXPECT_EQ(inner->Left, value);
  EXPECT_EQ(inner->Parent->Left, value);  // every created level holds the value

  TAtom* again = s.CreateVariable(s.Root, u"a.b", false, NewNumber(s, 8));
  EXPECT_EQ(again, inner);
  EXPECT_EQ(inner->Left, value);

  TAtom* deeper = s.CreateVariable(s.Root, u"a.b.c.d", false, nullptr);
  EXPECT_EQ(TAtom::FullName(deeper), u"a.b.c.d");

  TAtom* anon1 = s.NewRootVariable(value);
  TAtom* anon2 = s.NewRootVariable(value);
  EXPECT_NE(anon1, anon2);
  EXPECT_EQ(anon1->Text, u"[~]");
  TAtom* direct = s.CreateVariable(s.Root, u"x.y", true, nullptr);
  EXPECT_EQ(direct->Text, u"x.y");  // direct names are not split
  TAtom* loose = s.CreateVariable(nullptr, u"free", false, nullptr);
  EXPECT_EQ(loose->Parent, nullptr);
}

TEST(Paths, EmptyComponentsClimbAndRootComponentsJump) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* a = Var(s, u"a", nullptr, s.Root);
  TAtom* b = Var(s, u"b", nullptr, a);
  TAtom* c = Var(s, u"c", nullptr, b);
  TAtom* sibling = Var(s, u"sib", nullptr, a);
  EXPECT_EQ(s.FindPath(c, u".sib"), nullptr);   // parent b has no sib
  EXPECT_EQ(s.FindPath(c, u"..sib"), sibling);  // grand-parent a has
  EXPECT_EQ(s.FindPath(c, u"[Root].a.b"), b);
  EXPECT_EQ(s.FindPath(c, u"."), nullptr);  // "." alone names no child

  TAtom* at = c;
  std::u16string rest = u"x.y.z";
  EXPECT_EQ(s.WalkPath(at, rest), nullptr);
  EXPECT_EQ(at, c);
  EXPECT_EQ(rest, u"x.y.z");
  at = a;
  rest = u"b.q";
  EXPECT_EQ(s.WalkPath(at, rest), nullptr);
  EXPECT_EQ(at, b);
  EXPECT_EQ(rest, u"q");
}

TEST(NameResolution, SearchOrderWithShadowingAtEachLevel) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* global = Var(s, u"x", NewNumber(s, 1), s.Root);
  TAtom* ns = Var(s, u"lib", nullptr, s.Root);
  TAtom::SetFlag(ns, afNamespace, true);
  TAtom* inNamespace = Var(s, u"onlyns", nullptr, ns);
  TAtom* caller = EnterCall(s, u"caller", s.Root);
  TAtom* inCaller = Var(s, u"c", nullptr, caller);
  TAtom* object = Var(s, u"obj", nullptr, s.Root);
  TAtom* field = Var(s, u"x", NewNumber(s, 2), object);
  TAtom* method = EnterCall(s, u"method", object);
  EXPECT_EQ(s.FindName(u"x"), field);  // the frame owner's ancestors come first
  TAtom* local = Var(s, u"x", NewNumber(s, 3), method);
  EXPECT_EQ(s.FindName(u"x"), local);
  EXPECT_EQ(s.FindName(u"onlyns"), inNamespace);
  EXPECT_EQ(s.FindName(u"c"), inCaller);  // calling frames come last

  TAtom* asked = Var(s, u"asked", nullptr, s.Root);
  TAtom* inModule = Var(s, u"c", nullptr, asked);
  s.PushModule(asked);
  EXPECT_EQ(s.FindName(u"c"), inModule);
  EXPECT_EQ(s.FindName(u"c"), inModule);  // the search never changes the list
  s.PopModule();
  EXPECT_EQ(s.FindName(u"c"), inCaller);
  EXPECT_EQ(s.FindName(u"[Root].x"), global);
  EXPECT_EQ(s.FindName(u"[Root]"), s.Root);
  EXPECT_EQ(s.FindName(u""), nullptr);
  EXPECT_EQ(s.LastScope, nullptr);
}

TEST(NameResolution, PartialMatchesReportHowFarTheNameGot) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* global = Var(s, u"a", nullptr, s.Root);
  Var(s, u"a.b", nullptr, s.Root);  // a root variable under the full name
  TAtom* frame = EnterCall(s, u"proc", s.Root);
  TAtom* local = Var(s, u"a", nullptr, frame);
  EXPECT_EQ(s.FindName(u"a.b"), nullptr);
  EXPECT_EQ(s.LastScope, local);
  EXPECT_EQ(s.LastName, u"b");

  // At top level a dotted name below a global keeps the node reached.
  s.LeaveFrame();
  EXPECT_EQ(s.FindName(u"a.c"), nullptr);
  EXPECT_EQ(s.LastScope, global);
  EXPECT_EQ(s.LastName, u"c");
  EXPECT_EQ(s.FindName(u"nothing.here"), nullptr);
  EXPECT_EQ(s.LastScope, nullptr);
}

TEST(NameResolution, CaseInsensitiveNamesAndTheRoot) {
  TestState ts;
  TStructure& s = *ts.S;
  Var(s, u"Exact", nullptr, s.Root);
  EXPECT_EQ(s.FindName(u"exact"), nullptr);
  EXPECT_EQ(s.FindName(u"[ROOT]"), nullptr);  // case-sensitive: only "[Root]"

  s.CaseSensitive = false;
  TAtom* v = s.CreateVariable(s.Root, u"MixedCase", false, nullptr);
  EXPECT_EQ(v->Text, u"MIXEDCASE");
  EXPECT_EQ(s.FindName(u"mixedcase"), v);
  EXPECT_EQ(s.FindName(u"exact"), s.FindName(u"EXACT"));
  EXPECT_NE(s.FindName(u"exact"), nullptr);
  EXPECT_EQ(s.FindName(u"[root]"), s.Root);
  EXPECT_EQ(s.FindName(u"[ROOT].mixedcase"), v);
}

TEST(NameResolution, RootAnswersFollowEveryChangeOfTheRootsChildren) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(s.FindName(u"g"), nullptr);  // a remembered miss
  TAtom* g = Var(s, u"g", nullptr, s.Root);
  EXPECT_EQ(s.FindName(u"g"), g);
  TAtom* newer = Var(s, u"g", nullptr, s.Root);  // the newest shadows
  EXPECT_EQ(s.FindName(u"g"), newer);
  TAtom::Unlink(newer);
  EXPECT_EQ(s.FindName(u"g"), g);
  TAtom::SetName(*g, u"h");
  EXPECT_EQ(s.FindName(u"g"), nullptr);
  EXPECT_EQ(s.FindName(u"h"), g);
  TAtom::ResetVariable(s, *s.Root);  // drops every global
  EXPECT_EQ(s.FindName(u"h"), nullptr);
  TAtom::SetParent(s, *g, s.Root);
  EXPECT_EQ(s.FindName(u"h"), g);
  s.CaseSensitive = false;
  EXPECT_EQ(s.FindName(u"H"), g);
  s.CaseSensitive = true;
  EXPECT_EQ(s.FindName(u"H"), nullptr);
  // A child added below a global does not disturb the root's answers.
  Var(s, u"inner", nullptr, g);
  EXPECT_EQ(s.FindName(u"h"), g);
}

TEST(NameResolution, VisibleNamesClimbFromTheCaller) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* obj = Var(s, u"obj", nullptr, s.Root);
  TAtom* field = Var(s, u"f", nullptr, obj);
  EnterCall(s, u"outer", obj);
  EnterCall(s, u"inner", s.Root);
  // Not in the current owner; found from the caller's owner's ancestors.
  EXPECT_EQ(s.FindVisible(u"f"), field);
  TAtom* onRoot = Var(s, u"g", NewNumber(s, 4), s.Root);
  EXPECT_EQ(s.VisibleValue(u"g"), onRoot->Left);
  EXPECT_EQ(s.FindVisible(u"nowhere"), nullptr);
  s.LeaveFrame();
  EXPECT_EQ(s.FindLocal(u"f"), nullptr);
  EXPECT_EQ(s.FindVisible(u".f"), field);
}

TEST(NameResolution, CollectValuesSkipsNonWordsWithoutRaising) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* a = Var(s, u"a", nullptr, s.Root);
  Var(s, u"n", NewNumber(s, 5), a);
  TAtom* b = Var(s, u"b", nullptr, s.Root);
  Var(s, u"n", NewListCell(s, NewNumber(s, 1), nullptr), b);
  TAtom* skipped = Var(s, u"c", nullptr, s.Root);
  skipped->Flags |= afSkip;
  std::u16string text;
  s.CollectValues(s.Root->FirstChild, u"n", text, u"");
  EXPECT_EQ(text, u"5\r");
  EXPECT_TRUE(s.ErrorTrace.empty());
}

TEST(RaisingErrors, SuppressedWithoutALineAndTracedOnceForRepeats) {
  TestState ts;
  TStructure& s = *ts.S;
  ts.ArmErrors(false);
  EXPECT_NO_THROW(s.RaiseError(u"quiet", u"topic"));
  EXPECT_TRUE(s.ErrorTrace.empty());
  EXPECT_TRUE(s.LastError.empty());

  ts.ArmErrors(true);
  TAtom* statement = NewListCell(s, NewWord(s, u"x"), nullptr);
  s.CurrentPosition.Statement = statement;
  for (int i = 0; i < 2; ++i) {
    try {
      s.RaiseError(u"loud", u"the-topic", 9);
      FAIL() << "no error";
    } catch (const LanguageError& e) {
      EXPECT_EQ(e.Message(), u"loud");
      EXPECT_STREQ(e.what(), "loud");
    }
  }
  ASSERT_EQ(s.ErrorTrace.size(), 1u);
  EXPECT_EQ(s.ErrorTrace[0].Topic, u"the-topic");
  EXPECT_EQ(s.ErrorTrace[0].Line, 9);
  EXPECT_EQ(s.LastError, u"loud");
  EXPECT_EQ(statement->RefCount, 1);  // pinned while in the trace
  s.ClearErrorTrace();
  EXPECT_EQ(statement->RefCount, 0);
}

TEST(RaisingErrors, MessagesComeFromTheLanguageTextsOrTheKey) {
  TestState ts;
  TStructure& s = *ts.S;
  EXPECT_EQ(s.MessageText(u"BADNUMBER", {std::u16string(u"x")}), u"BADNUMBER");
  s.Language.SetTexts({{u"badnumber", u"%s is not a number"}, {u"BADNUMBER", u"shadowed"}});
  EXPECT_EQ(s.MessageText(u"BADNUMBER", {std::u16string(u"x")}), u"x is not a number");
  try {
    s.RaiseTooDeep();
    FAIL() << "no error";
  } catch (const LanguageError& e) {
    EXPECT_EQ(e.Message(), u"TOODEEP");
    EXPECT_EQ(s.ErrorTrace.back().Topic, u"too-deep");
  }
}

TEST(Keywords, MissingTextsGiveTheUpperCaseKeyAndBooleanAtomsArePinned) {
  TestState ts;
  TStructure& s = *ts.S;
  s.Language.SetTexts({});
  s.LoadKeywords();
  EXPECT_EQ(s.Keyword(kwTo), u"TO");
  EXPECT_EQ(s.Language.KeywordTableUpper[kwOndrawimage], u"ONDRAWIMAGE");
  ASSERT_NE(s.Language.TrueAtom, nullptr);
  EXPECT_EQ(s.Language.TrueAtom->Text, u"TRUE");
  EXPECT_EQ(s.Language.TrueAtom->RefCount, 1);

  s.Language.SetTexts({{u"TRUE", u"wahr"}, {u"FALSE", u"falsch"}});
  TAtom* oldTrue = s.Language.TrueAtom;
  s.LoadKeywords();
  EXPECT_EQ(s.Keyword(kwTrue), u"wahr");
  EXPECT_EQ(s.Language.TrueAtom->Text, u"WAHR");
  EXPECT_EQ(oldTrue->RefCount, 0);
  s.CaseSensitive = false;
  s.LoadKeywords();
  EXPECT_EQ(s.Keyword(kwTrue), u"WAHR");
}

TEST(SharedSourceText, CopiesShareMovesTransferAndSelfAssignmentKeepsTheText) {
  SharedText text(u"to f end");
  SharedText copy = text;
  EXPECT_TRUE(copy.SameObject(text));
  copy = copy;  // self-assignment must not free the text
  EXPECT_EQ(copy.str(), u"to f end");
  SharedText moved = std::move(copy);
  EXPECT_TRUE(moved.SameObject(text));
  EXPECT_TRUE(copy.empty());
  moved = SharedText(u"other");
  EXPECT_EQ(text.str(), u"to f end");  // the original outlives the reassigned copy
  EXPECT_EQ(moved.str(), u"other");
  SharedText none;
  EXPECT_EQ(none.str(), u"");
}

// A name token remembers the root's answer only while nothing could change
// it: each change below must show in the next look-up through the token.
TEST(NameResolution, ATokenRemembersTheRootsAnswerUntilTheRootChanges) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* older = Var(s, u"target", NewNumber(s, 1), s.Root);
  for (const char16_t* name : {u"f1", u"f2", u"f3", u"f4", u"f5"}) Var(s, name, nullptr, s.Root);  // past the newest four
  TAtom* token = NewWord(s, u"target");
  token->Extend();
  ASSERT_EQ(s.FindName(u"target", token), older);
  ASSERT_EQ(s.FindName(u"target", token), older);  // from the token
  struct Step {
    const char* What;
    std::function<TAtom*()> Change;  // the answer expected afterwards
  };
  TAtom* filler = nullptr;
  const Step steps[] = {
      {"a newer child of the name", [&] { return Var(s, u"target", nullptr, s.Root); }},
      {"four more children in front",
       [&] {
         TAtom* newest = s.FindName(u"target");
         for (const char16_t* name : {u"g1", u"g2", u"g3", u"g4"}) filler = Var(s, name, nullptr, s.Root);
         return newest;
       }},
      {"the newer one unlinked",
       [&] {
         TAtom::Unlink(s.FindName(u"target"));
         return older;
       }},
      {"a child renamed to the name",
       [&] {
         TAtom::SetName(*filler, u"target");
         return filler;
       }},
      {"the letter-case rule",
       [&] {
         TAtom::SetName(*filler, u"g4");
         s.CaseSensitive = false;
         TAtom* upper = Var(s, u"TARGET", nullptr, s.Root);
         for (const char16_t* name : {u"H1", u"H2", u"H3", u"H4"}) Var(s, name, nullptr, s.Root);
         return upper;
       }},
  };
  for (const Step& step : steps) {
    TAtom* expected = step.Change();
    EXPECT_EQ(s.FindName(u"target", token), expected) << step.What;
    EXPECT_EQ(s.FindName(u"target", token), expected) << step.What << ", remembered";
  }
}

// Inside a procedure's frame the remembered root answer stands only while
// the frame owner lacks the name and the procedure's named children stay.
TEST(NameResolution, ATokenInAProcedureFollowsItsFrameAndProcedure) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* global = Var(s, u"target", NewNumber(s, 1), s.Root);
  TAtom* procedure = Var(s, u"proc", nullptr, s.Root);
  TAtom* owner = EnterCall(s, u"[~]", procedure);
  TAtom* token = NewWord(s, u"target");
  token->Extend();
  ASSERT_EQ(s.FindName(u"target", token), global);
  ASSERT_EQ(s.FindName(u"target", token), global);
  TAtom* attribute = nullptr;
  TAtom* input = nullptr;
  struct Step {
    const char* What;
    std::function<TAtom*()> Change;  // the answer expected afterwards
  };
  const Step steps[] = {
      {"another call's frame under the procedure", [&] { return Var(s, u"[~]", nullptr, procedure) ? global : nullptr; }},
      {"a child of the name under the procedure", [&] { return attribute = Var(s, u"target", nullptr, procedure); }},
      {"that child unlinked",
       [&] {
         TAtom::Unlink(attribute);
         return global;
       }},
      {"an input of the name in the frame", [&] { return input = Var(s, u"target", nullptr, owner); }},
      {"the input renamed",
       [&] {
         TAtom::SetName(*input, u"other");
         return global;
       }},
      {"a frame renamed to the name",
       [&] {
         TAtom* frame = procedure->FirstChild;
         while (frame != nullptr && frame->Text != u"[~]") frame = frame->NextSibling;
         TAtom::SetName(*frame, u"target");
         return frame;
       }},
  };
  for (const Step& step : steps) {
    TAtom* expected = step.Change();
    EXPECT_EQ(s.FindName(u"target", token), expected) << step.What;
    EXPECT_EQ(s.FindName(u"target", token), expected) << step.What << ", remembered";
  }
  s.LeaveFrame();
}

// In a procedure's frame an input or local is found first and a name the
// frame owner lacks takes the token's root answer; names that walk
// differently (paths, bracketed, handler keywords), letter case and a
// caller's variable must give exactly what the search without short ways
// gives, also once the tokens remember answers.
TEST(NameResolution, FrameLookUpsAgreeWithTheWholeSearch) {
  TestState ts;
  TStructure& s = *ts.S;
  s.LoadKeywords();
  const std::u16string onchange = s.Keyword(kwOnchange);
  Var(s, u"x", NewNumber(s, 1), s.Root);
  TAtom* procedure = Var(s, u"proc", nullptr, s.Root);
  Var(s, u"attr", nullptr, procedure);
  TAtom* callerOwner = EnterCall(s, u"[~]", procedure);
  Var(s, u"y", nullptr, callerOwner);
  TAtom* owner = EnterCall(s, u"[~]", procedure);
  TAtom* object = Var(s, u"a", nullptr, owner);
  Var(s, u"b", nullptr, object);
  Var(s, u"n", NewNumber(s, 2), owner);
  Var(s, u"[a]", nullptr, owner);
  Var(s, onchange.c_str(), nullptr, owner);
  const std::u16string names[] = {u"n", u"N", u"x", u"X", u"y", u"attr", u"a.b", u"[a]", onchange, u"missing", u"proc"};
  std::vector<TAtom*> tokens;
  for (const std::u16string& name : names) {
    tokens.push_back(NewWord(s, name));
    tokens.back()->Extend();
  }
  auto check = [&](const char* what) {
    for (size_t i = 0; i < tokens.size(); ++i) {
      s.FastPaths = false;
      TAtom* whole = s.FindName(names[i]);
      s.FastPaths = true;
      EXPECT_EQ(s.FindName(names[i], tokens[i]), whole) << what << ": " << std::string(names[i].begin(), names[i].end());
      EXPECT_EQ(s.FindName(names[i], tokens[i]), whole) << what << ", remembered";
    }
  };
  check("case-sensitive");
  s.CaseSensitive = false;
  check("ignoring case");
  Var(s, u"y", nullptr, s.Root);  // the root comes before the calling frames
  Var(s, u"x", nullptr, owner);   // a local now shadows the global
  check("after new variables");
  s.CaseSensitive = true;
  check("case-sensitive again");
  s.LeaveFrame();
  s.LeaveFrame();
}

// A token's remembered answer (FindNameOfToken) is given again only while
// nothing it depends on changed: the letter-case rule, a LOGOASK scope, the
// short ways.
TEST(NameResolution, ATokensRememberedAnswerFollowsTheCaseRuleAndAskScopes) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* global = Var(s, u"X", NewNumber(s, 1), s.Root);
  TAtom* object = Var(s, u"object", nullptr, s.Root);
  TAtom* field = Var(s, u"X", nullptr, object);
  TAtom* procedure = Var(s, u"proc", nullptr, s.Root);
  TAtom* owner = EnterCall(s, u"[~]", procedure);
  TAtom* input = Var(s, u"x", nullptr, owner);
  TAtom* token = NewWord(s, u"X");
  token->Extend().Position = std::make_unique<TPosition>();
  struct Step {
    const char* What;
    std::function<void()> Change;
    TAtom* Expected;
  };
  const Step steps[] = {
      {"case-sensitive", [] {}, global},
      {"ignoring case: the input", [&] { s.CaseSensitive = false; }, input},
      {"case-sensitive again", [&] { s.CaseSensitive = true; }, global},
      {"in an ASK scope", [&] { s.PushModule(object); }, field},
      {"the scope left", [&] { s.PopModule(); }, global},
      {"without short ways, ignoring case",
       [&] {
         s.FastPaths = false;
         s.CaseSensitive = false;
       },
       input},
      {"with them again", [&] { s.FastPaths = true; }, input},
  };
  for (const Step& step : steps) {
    step.Change();
    EXPECT_EQ(s.FindNameOfToken(*token), step.Expected) << step.What;
    EXPECT_EQ(s.FindNameOfToken(*token), step.Expected) << step.What << ", remembered";
  }
  s.CaseSensitive = true;

  // A token sharing an input's text node finds that input, unless a newer
  // child of the same name (a separate text) comes before it. The global's
  // look-up in between reads the frame's names again.
  TAtom* own = NewWord(s, u"");
  own->Text.ShareFrom(input->Text);
  own->Extend().Position = std::make_unique<TPosition>();
  ASSERT_EQ(s.FindNameOfToken(*own), input);
  const std::pair<const char16_t*, const char*> newChildren[] = {{u"a", "behind another child"},
                                                                 {u"x", "behind a newer child of the name"}};
  for (const auto& [name, what] : newChildren) {
    TAtom* child = Var(s, name, nullptr, owner);
    TAtom* expected = name == std::u16string_view(u"x") ? child : input;
    EXPECT_EQ(s.FindNameOfToken(*own), expected) << what;
    EXPECT_EQ(s.FindNameOfToken(*token), global);
    EXPECT_EQ(s.FindNameOfToken(*own), expected) << what << ", the frame's names read";
  }
  s.LeaveFrame();
}

// Names built at run time (new words every time, nothing remembered on
// them) give the whole search's answer, scope reached and rest, wherever
// the look-up starts.
TEST(NameResolution, ComputedNamesAgreeWithTheWholeSearch) {
  TestState ts;
  TStructure& s = *ts.S;
  s.LoadKeywords();
  const std::u16string onchange = s.Keyword(kwOnchange);
  Var(s, u"g", NewNumber(s, 1), s.Root);
  Var(s, u"Mixed", nullptr, s.Root);
  TAtom* ns = Var(s, u"lib", nullptr, s.Root);
  TAtom::SetFlag(ns, afNamespace, true);
  Var(s, u"inns", nullptr, ns);
  Var(s, onchange.c_str(), nullptr, s.Root);
  TAtom* object = Var(s, u"obj", nullptr, s.Root);
  Var(s, u"field", nullptr, object);
  const std::u16string names[] = {u"g", u"G", u"mixed", u"inns", u"field", u"local", u"shared", onchange, u"missing"};
  auto check = [&](const char* where) {
    for (const std::u16string& name : names) {
      s.LastScope = nullptr;
      s.FastPaths = false;
      TAtom* whole = s.FindName(name);
      const TAtom* wholeScope = s.LastScope;
      const std::u16string wholeRest = s.LastName;
      s.FastPaths = true;
      s.LastScope = nullptr;
      const std::string label = std::string(where) + ": " + std::string(name.begin(), name.end());
      EXPECT_EQ(s.FindName(name, NewWord(s, name)), whole) << label;
      EXPECT_EQ(s.LastScope, wholeScope) << label;
      if (whole == nullptr) {
        EXPECT_EQ(s.LastName, wholeRest) << label;
      }
    }
  };
  check("top level");
  TAtom* caller = EnterCall(s, u"caller", s.Root);
  Var(s, u"shared", nullptr, caller);
  TAtom* procedure = EnterCall(s, u"proc", s.Root);
  Var(s, u"local", nullptr, procedure);
  check("procedure of the root");
  Var(s, u"shared", nullptr, s.Root);  // the root comes before the calling frames
  check("a global after a caller's local");
  EnterCall(s, u"method", object);
  check("method of a global");
  s.LeaveFrame();
  TAtom* asked = Var(s, u"asked", nullptr, s.Root);
  Var(s, u"g", nullptr, asked);
  s.PushModule(asked);
  check("scope pushed");
  s.PopModule();
  s.CaseSensitive = false;
  check("ignoring case");
  s.CaseSensitive = true;
  s.LeaveFrame();
  s.LeaveFrame();
  check("top level again");
}

// "global.field" at the top level: the remembered field stands only while
// the root's and the global's children stay as they were.
TEST(NameResolution, ATokenOfAFieldFollowsTheGlobalAndItsChildren) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* object = Var(s, u"obj", nullptr, s.Root);
  TAtom* field = Var(s, u"px", NewNumber(s, 1), object);
  TAtom* token = NewWord(s, u"obj.px");
  token->Extend();
  ASSERT_EQ(s.FindName(u"obj.px", token), field);
  ASSERT_EQ(s.FindName(u"obj.px", token), field);
  struct Step {
    const char* What;
    std::function<TAtom*()> Change;  // the answer expected afterwards
  };
  const Step steps[] = {
      {"a newer field of the name", [&] { return field = Var(s, u"px", NewNumber(s, 2), object); }},
      {"the newer field unlinked",
       [&] {
         TAtom::Unlink(field);
         return field = object->FirstChild;
       }},
      {"the field renamed",
       [&] {
         TAtom::SetName(*field, u"py");
         return static_cast<TAtom*>(nullptr);
       }},
      {"a newer global of the name", [&] {
         TAtom* newer = Var(s, u"obj", nullptr, s.Root);
         return Var(s, u"px", nullptr, newer);
       }},
  };
  for (const Step& step : steps) {
    TAtom* expected = step.Change();
    EXPECT_EQ(s.FindName(u"obj.px", token), expected) << step.What;
    EXPECT_EQ(s.FindName(u"obj.px", token), expected) << step.What << ", remembered";
  }
}

// The root's name index follows every change of the root's children: a
// token's remembered answer and a fresh look-up agree after each step, and
// of two globals with one name the newer is found.
TEST(RootNameIndex, FollowsLinksRenamesUnlinksAndFrees) {
  TestState ts;
  TStructure& s = *ts.S;
  std::vector<TAtom*> globals;
  for (int i = 0; i < 50; ++i) {
    std::u16string name(1, u'g');
    name.push_back(static_cast<char16_t>(u'a' + i % 26));
    if (i >= 26) name.push_back(u'x');
    TAtom* g = NewVariable(s, name, nullptr);
    TAtom::SetParent(s, *g, s.Root);
    globals.push_back(g);
  }
  TAtom* token = NewWord(s, u"gc");
  token->Extend();
  TAtom* older = globals[2];
  EXPECT_EQ(s.FindName(u"gc", token), older);
  TAtom* newer = NewVariable(s, u"gc", nullptr);
  TAtom::SetParent(s, *newer, s.Root);
  EXPECT_EQ(s.FindName(u"gc", token), newer);
  TAtom::SetName(*newer, u"renamed");
  EXPECT_EQ(s.FindName(u"gc", token), older);
  EXPECT_EQ(s.FindName(u"renamed"), newer);
  TAtom::Unlink(older);
  EXPECT_EQ(s.FindName(u"gc", token), nullptr);
  TAtom::SetName(*newer, u"gc");
  EXPECT_EQ(s.FindName(u"gc", token), newer);
  EXPECT_EQ(s.FindName(u"renamed"), nullptr);
  TAtom::MoveToLastChild(*globals[40]);
  EXPECT_EQ(s.FindName(u"gox"), globals[40]);
  TAtom* freed = globals[45];
  TAtom::Reset(s, *freed);  // freed while linked: no longer found by name
  EXPECT_EQ(s.FindName(u"gtx"), nullptr);
  EXPECT_EQ(TAtom::FindChildByName(s, *s.Root, u"gz"), globals[25]);
}

// Names computed at run time come as new words without a memo of their own:
// the root answers them by their text from the answers it found lately.
// Asked twice after every change (the second time from those answers), each
// name must get what a walk of the root's children gives.
TEST(RootNameIndex, TextLookUpsFollowEveryChangeOfTheRootsChildren) {
  TestState ts;
  TStructure& s = *ts.S;
  std::vector<std::u16string> names;
  std::vector<TAtom*> globals;
  for (int i = 0; i < 1500; ++i) {  // enough for some names to share a set of recent answers
    std::u16string name = u"r";
    for (const int digit : {u'0' + i % 10, u'a' + i / 10 % 26, u'a' + i / 260}) name.push_back(static_cast<char16_t>(digit));
    names.push_back(name);
    globals.push_back(Var(s, names.back().c_str(), nullptr, s.Root));
  }
  names.push_back(u"absent");
  const auto keyOf = [&s](std::u16string_view name) { return s.CaseSensitive ? std::u16string(name) : UpperCase(name); };
  const auto expectChainAnswers = [&](const char* step) {
    std::unordered_map<std::u16string, TAtom*> byChain;  // the first in the chain is the newest
    for (TAtom* c = s.Root->FirstChild; c != nullptr; c = c->NextSibling) byChain.emplace(keyOf(c->Text), c);
    for (int round = 0; round < 2; ++round)
      for (const std::u16string& name : names) {
        TAtom* computed = NewWord(s, name);  // as WORD makes it: no memo
        const auto expected = byChain.find(keyOf(name));
        ASSERT_EQ(s.FindName(name, computed), expected != byChain.end() ? expected->second : nullptr)
            << step << " round " << round;
      }
  };
  expectChainAnswers("made");
  TAtom* newer = Var(s, names[7].c_str(), nullptr, s.Root);
  expectChainAnswers("a newer global of a name");
  TAtom::SetName(*newer, u"absent");
  expectChainAnswers("renamed");
  TAtom::Unlink(globals[8]);
  expectChainAnswers("unlinked");
  TAtom::MoveToLastChild(*globals[1000]);
  expectChainAnswers("moved");
  s.CaseSensitive = false;
  names.push_back(u"ABSENT");
  names.push_back(u"R0AA");  // short names are kept packed beside their answers
  expectChainAnswers("letter case ignored");
  s.CaseSensitive = true;
  expectChainAnswers("letter case heeded again");
}

// A procedure holding one "[~]" frame per running call: once a look-up has
// walked past many of them, its named children are answered from an index
// of its own, which follows links, renames, unlinks and a new letter rule.
TEST(OwnChildIndex, AnswersAsTheChainWouldBehindManyFrames) {
  TestState ts;
  TStructure& s = *ts.S;
  TAtom* procedure = NewVariable(s, u"f", nullptr);
  TAtom::SetParent(s, *procedure, s.Root);
  TAtom* handler = NewVariable(s, u"onerror", nullptr);
  TAtom::SetParent(s, *handler, procedure);
  for (int i = 0; i < 100; ++i) TAtom::SetParent(s, *NewVariable(s, u"[~]", nullptr), procedure);
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"lambda"), nullptr);  // builds the index
  ASSERT_TRUE(procedure->Ext && procedure->Ext->OwnIndex);
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"onerror"), handler);
  TAtom* lambda = NewVariable(s, u"lambda", nullptr);
  TAtom::SetParent(s, *lambda, procedure);
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"lambda"), lambda);
  TAtom::SetName(*lambda, u"other");
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"lambda"), nullptr);
  TAtom::Unlink(handler);
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"onerror"), nullptr);
  s.CaseSensitive = false;  // the index was made under the other rule: the chain answers
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"OTHER"), lambda);
  TAtom::Reset(s, *procedure);
  EXPECT_EQ(TAtom::FindChildByName(s, *procedure, u"other"), nullptr);
}

// The root's namespaces are searched in child order for a name the root
// lacks; the index's list of them follows the flag and every link change,
// and answers as the child chain does (fast paths off).
TEST(Namespaces, SearchedInChildOrderThroughFlagAndLinkChanges) {
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast paths" : "child chain");
    TestState ts;
    TStructure& s = *ts.S;
    s.FastPaths = fast;
    TAtom* older = Var(s, u"older", nullptr, s.Root);
    TAtom* inOlder = Var(s, u"shared", nullptr, older);
    TAtom* onlyOlder = Var(s, u"onlyold", nullptr, older);
    TAtom* field = Var(s, u"field", nullptr, inOlder);
    TAtom* newer = Var(s, u"newer", nullptr, s.Root);
    TAtom* inNewer = Var(s, u"shared", nullptr, newer);
    for (int i = 0; i < 50; ++i) Var(s, u"filler", nullptr, s.Root);
    EXPECT_EQ(s.FindName(u"shared"), nullptr);  // no namespace yet
    TAtom::SetFlag(older, afNamespace, true);
    EXPECT_EQ(s.FindName(u"shared"), inOlder);
    TAtom::SetFlag(newer, afNamespace, true);  // flagged last, still before the older
    EXPECT_EQ(s.FindName(u"shared"), inNewer);
    EXPECT_EQ(s.FindName(u"onlyold"), onlyOlder);
    EXPECT_EQ(s.FindName(u"shared.field"), nullptr);  // partly resolved in the newer: ends there
    EXPECT_EQ(s.LastScope, inNewer);
    TAtom::MoveToLastChild(*newer);
    EXPECT_EQ(s.FindName(u"shared"), inOlder);
    EXPECT_EQ(s.FindName(u"shared.field"), field);
    TAtom::SetFlag(older, afNamespace, false);
    EXPECT_EQ(s.FindName(u"shared"), inNewer);
    EXPECT_EQ(s.FindName(u"onlyold"), nullptr);
    TAtom::FlagTree(s, older, afNamespace, true);
    EXPECT_EQ(s.FindName(u"shared"), inOlder);
    TAtom::Unlink(older);
    EXPECT_EQ(s.FindName(u"shared"), inNewer);
    TAtom::SetParent(s, *older, s.Root);  // flagged, linked in front
    EXPECT_EQ(s.FindName(u"shared"), inOlder);
    TAtom::Reset(s, *older);  // freed while linked
    TAtom::Unlink(newer);
    EXPECT_EQ(s.FindName(u"shared"), nullptr);
    TAtom::SetParent(s, *newer, s.Root);
    TAtom::ClearChildren(*s.Root);
    EXPECT_EQ(s.FindName(u"shared"), nullptr);
  }
}
