// The memory window's snapshot after real runs: node texts, open state kept
// in the variables, call-stack branches, the sort, the copied text and
// stale or very deep nodes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/VarWinTree.h"
#include "tests/support/TestState.h"

namespace {

class MemoryTest : public ::testing::Test {
protected:
  MemoryTest() : in(*ts.S) {}
  const MemoryNode& RootBranch(const std::vector<MemoryNode>& tree) { return tree.back(); }
  std::vector<std::string> Texts(const std::vector<MemoryNode>& nodes) {
    std::vector<std::string> out;
    for (const MemoryNode& node : nodes) out.push_back(U8(node.Text));
    return out;
  }
  TAtom* Global(const std::u16string& name) { return TAtom::FindChildByName(*ts.S, *ts.S->Root, name); }

  TestState ts;
  TInterpreter in;
};

}  // namespace

TEST_F(MemoryTest, NodesShowNamesAndValues) {
  TStructure& s = *ts.S;
  const auto make = [&](const char16_t* name, TAtom* value) {
    TAtom::SetParent(s, *NewVariable(s, name, value), s.Root);
  };
  make(u"plain", NewWord(s, u"abc"));
  make(u"blank", NewWord(s, u"a b"));
  make(u"quote", NewWord(s, u"it's"));
  make(u"num", NewNumber(s, 3.5L));
  make(u"items", ListOf(s, {NewNumber(s, 1), ListOf(s, {NewNumber(s, 2)})}));
  make(u"empty", nullptr);
  make(u"none", SystemValue);
  make(u"long", NewWord(s, std::u16string(300, u'x')));
  const std::vector<MemoryNode> tree = BuildMemorySnapshot(s, {true, true, false});
  ASSERT_EQ(tree.size(), 1u);
  const std::vector<std::string> expected{"long = \"" + std::string(242, 'x') + "...",
                                          "none",
                                          "empty = []",
                                          "items = [1 [2]]",
                                          "num = 3.5",
                                          "quote = \"'it''s'",
                                          "blank = \"'a b'",
                                          "plain = \"abc"};
  EXPECT_EQ(Texts(RootBranch(tree).Children), expected);  // newest first without the sort
  EXPECT_EQ(RootBranch(tree).Children[0].Text.size(), 253u);
  EXPECT_TRUE(RootBranch(tree).Open);

  struct Case {
    const char16_t* Word;
    const char16_t* Shown;
  } words[] = {
      {u"", u""}, {u"a.b?_#9", u"a.b?_#9"}, {u"a b", u"'a b'"}, {u"it's", u"'it''s'"}, {u"\u00e9", u"'\u00e9'"}};
  for (const Case& c : words) EXPECT_EQ(QuoteWordForDisplay(c.Word), c.Shown);
}

TEST_F(MemoryTest, OpenBranchesLiveInTheVariablesAndTheSortIgnoresCase) {
  ASSERT_EQ(RunText(in, u"make \"b 1\r\nmake \"B 1\r\nmake \"a 3\r\nmake \"obj.inner 4", u""), rrOk);
  std::vector<MemoryNode> tree = BuildMemorySnapshot(*ts.S, {});
  EXPECT_EQ(Texts(RootBranch(tree).Children), (std::vector<std::string>{"a = \"3", "B = \"1", "b = \"1", "obj = []"}));
  const MemoryNode& obj = RootBranch(tree).Children[3];
  EXPECT_FALSE(obj.Open);
  TAtom* variable = ResolveMemoryNode(*ts.S, obj.Identity, obj.Stamp);
  ASSERT_EQ(variable, Global(u"obj"));
  variable->Flags |= afExpanded;  // what opening the node does
  ASSERT_EQ(RunText(in, u"make \"c 5", u""), rrOk);
  tree = BuildMemorySnapshot(*ts.S, {});
  EXPECT_TRUE(RootBranch(tree).Children[4].Open);
  EXPECT_EQ(U8(RootBranch(tree).Children[4].Text), "obj = []");
}

TEST_F(MemoryTest, EachCallLevelHasABranch) {
  std::vector<std::vector<std::string>> seen;
  ts.Host.OnPump = [&] {
    if (!seen.empty()) return;
    std::vector<std::string> branches;
    for (const MemoryNode& node : BuildMemorySnapshot(*ts.S, {true, false, false})) branches.push_back(U8(node.Text));
    seen.push_back(branches);
  };
  ASSERT_EQ(
      RunText(in, u"to c\r\n repeat 300 [make \"z 1]\r\nend\r\nto b\r\n c\r\nend\r\nto a :n\r\n b\r\nend\r\na 7", u""),
      rrOk);
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(seen[0].size(), 4u);  // three calls and the root
  EXPECT_EQ(seen[0].back(), "[Root]");
}

TEST_F(MemoryTest, CopiedTextIndentsByLevelAndSkipsCallBranches) {
  ASSERT_EQ(RunText(in, u"make \"obj.x 1\r\nmake \"obj.y.z 2", u""), rrOk);
  const std::vector<MemoryNode> tree = BuildMemorySnapshot(*ts.S, {});
  const MemoryNode& obj = RootBranch(tree).Children[0];
  EXPECT_EQ(U8(MemoryBranchText(obj)), "obj = []\r\n   x = \"1\r\n   y = []\r\n      z = \"2\r\n");
  EXPECT_EQ(MemoryBranchText(MemoryNode{u"work", 0, 0, true, {obj}}), u"");
}

TEST_F(MemoryTest, StaleNodesResolveToNothingAndDeepChainsAreCapped) {
  ASSERT_EQ(RunText(in, u"make \"gone 1", u""), rrOk);
  TAtom* gone = Global(u"gone");
  const uint32_t identity = gone->Identity();
  const uint64_t stamp = gone->Stamp;
  EXPECT_EQ(ResolveMemoryNode(*ts.S, identity, stamp + 1), nullptr);
  EXPECT_EQ(ResolveMemoryNode(*ts.S, 0, 0), nullptr);
  EXPECT_EQ(ResolveMemoryNode(*ts.S, 0xFFFFFFF0u, 0), nullptr);

  TAtom* parent = ts.S->Root;
  for (int i = 0; i < 5000; ++i) {
    TAtom* child = NewVariable(*ts.S, u"d", SystemValue);
    TAtom::SetParent(*ts.S, *child, parent);
    parent = child;
  }
  const std::vector<MemoryNode> tree = BuildMemorySnapshot(*ts.S, {true, true, false});
  const MemoryNode* node = &RootBranch(tree);
  int depth = 0;
  while (!node->Children.empty()) {
    node = &node->Children.front();
    ++depth;
  }
  EXPECT_EQ(depth, kMemoryMaxDepth);
  EXPECT_EQ(U8(node->Text), "...");
}
