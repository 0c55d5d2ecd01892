#pragma once
// The memory window's snapshot, Qt-free: a branch per procedure call on the
// stack and one for the root, each node a variable's name and value. Nodes
// keep the variable's identity and stamp, never a pointer, so that a node
// outliving its variable (the collector reuses atoms) touches nothing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TAtom;
class TStructure;

struct MemoryNode {
  std::u16string Text;
  uint32_t Identity = 0;  // the variable's; 0 for a call-stack branch
  uint64_t Stamp = 0;     // the variable's stamp when the snapshot was taken
  bool Open = false;
  std::vector<MemoryNode> Children;
};

struct MemoryOptions {
  bool ExpandCallStack = true;
  bool ExpandRoot = true;
  bool Sort = true;
};

// Branches deeper than this end in one "..." node.
constexpr int kMemoryMaxDepth = 1000;
// Node texts this long or longer are cut to 250 characters and "...".
constexpr size_t kMemoryTextLimit = 256;

std::vector<MemoryNode> BuildMemorySnapshot(TStructure& s, const MemoryOptions& options);
// A word as the memory window shows it after its double quote: unchanged
// when it holds only letters A-Z and a-z, digits, "#", ".", "?" and "_",
// else in single quotes with each single quote doubled.
std::u16string QuoteWordForDisplay(std::u16string_view word);
// Sorts every level by text ignoring letter case, ties by case (no locale).
void SortMemoryTree(std::vector<MemoryNode>& nodes);
// The variable of a node while it is still the one shown; else null.
TAtom* ResolveMemoryNode(TStructure& s, uint32_t identity, uint64_t stamp);
// A branch as text: 3 blanks per level, the node's text, CR LF; a node
// without a variable adds nothing, nor do its children.
std::u16string MemoryBranchText(const MemoryNode& node, int level = 0);
