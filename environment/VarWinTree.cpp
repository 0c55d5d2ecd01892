#include "environment/VarWinTree.h"

#include <algorithm>

#include "core/Atoms.h"
#include "core/Text.h"
#include "core/Vars.h"

namespace {

constexpr size_t kMemoryTextKeep = 250;

bool IsPlainWordChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'#' || c == u'.' ||
         c == u'?' || c == u'_';
}

std::u16string NodeText(TStructure& s, const TAtom& variable) {
  std::u16string text = variable.Text;
  const TAtom* value = variable.Left;
  if (value != SystemValue) {
    if (IsAtom(value) && value->Kind == akWord) {
      text += u" = \"";
      text += QuoteWordForDisplay(value->Text);
    } else {
      text += u" = ";
      text += TAtom::ToText(s, value, kMemoryTextLimit);
    }
  }
  if (text.size() >= kMemoryTextLimit) {
    text.resize(kMemoryTextKeep);
    text += u"...";
  }
  return text;
}

void AddChildren(TStructure& s, const TAtom& variable, std::vector<MemoryNode>& out, int depth) {
  if (depth >= kMemoryMaxDepth) {
    if (variable.FirstChild != nullptr) out.push_back(MemoryNode{u"...", 0, 0, false, {}});
    return;
  }
  for (TAtom* child = variable.FirstChild; child != nullptr; child = child->NextSibling) {
    MemoryNode node{NodeText(s, *child), child->Identity(), child->Stamp, (child->Flags & afExpanded) != 0, {}};
    AddChildren(s, *child, node.Children, depth + 1);
    out.push_back(std::move(node));
  }
}

int CompareIgnoringCase(const std::u16string& a, const std::u16string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = UpperChar(a[i]), y = UpperChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

std::u16string QuoteWordForDisplay(std::u16string_view word) {
  if (std::all_of(word.begin(), word.end(), IsPlainWordChar)) return std::u16string(word);
  std::u16string quoted = u"'";
  for (char16_t c : word) {
    if (c == u'\'') quoted += u'\'';
    quoted += c;
  }
  quoted += u'\'';
  return quoted;
}

std::vector<MemoryNode> BuildMemorySnapshot(TStructure& s, const MemoryOptions& options) {
  std::vector<MemoryNode> tree;
  const TAtom* previous = nullptr;
  for (const TContext* frame = s.Frame(); frame != nullptr; frame = frame->Parent) {
    const TAtom* owner = frame->Owner;
    if (!IsAtom(owner) || owner->Parent == nullptr || owner == previous) {
      previous = owner;
      continue;
    }
    previous = owner;
    MemoryNode branch{TAtom::FullName(owner), 0, 0, options.ExpandCallStack, {}};
    // A lambda's frame under a "?" owner starts closed.
    if (owner->Text == u"[~]" && IsAtom(owner->Parent) && !owner->Parent->Text.empty() &&
        owner->Parent->Text.front() == u'?')
      branch.Open = false;
    AddChildren(s, *owner, branch.Children, 1);
    tree.push_back(std::move(branch));
  }
  if (TAtom* root = s.Root) {
    MemoryNode branch{root->Text, root->Identity(), root->Stamp, options.ExpandRoot, {}};
    AddChildren(s, *root, branch.Children, 1);
    tree.push_back(std::move(branch));
  }
  if (options.Sort) SortMemoryTree(tree);
  return tree;
}

void SortMemoryTree(std::vector<MemoryNode>& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(), [](const MemoryNode& a, const MemoryNode& b) {
    const int folded = CompareIgnoringCase(a.Text, b.Text);
    return folded != 0 ? folded < 0 : a.Text < b.Text;
  });
  for (MemoryNode& node : nodes) SortMemoryTree(node.Children);
}

TAtom* ResolveMemoryNode(TStructure& s, uint32_t identity, uint64_t stamp) {
  if (identity < kFirstAtomIdentity) return nullptr;
  TAtom* atom = s.AtomById(identity);
  if (!IsAtom(atom) || atom->Kind != akVariable || atom->Stamp != stamp) return nullptr;
  return atom;
}

std::u16string MemoryBranchText(const MemoryNode& node, int level) {
  if (node.Identity == 0) return {};
  std::u16string text(static_cast<size_t>(level) * 3, u' ');
  text += node.Text;
  text += u"\r\n";
  for (const MemoryNode& child : node.Children) text += MemoryBranchText(child, level + 1);
  return text;
}
