#pragma once
// The memory window: the snapshot of frames and globals in a read-only
// tree. Opening or closing a node sets or clears the variable's expanded
// flag, so the next rebuild opens the same branches. A node that no longer
// shows its variable changes nothing and asks for a fresh rebuild.

#include <QString>
#include <QTreeWidget>

#include "environment/VarWinTree.h"
#include "environment/ZAVForm.h"

class TAtom;

class TDebugVars : public TZavtaForm {
  Q_OBJECT
public:
  explicit TDebugVars(TMainForm& main);

  void applySettings() override;
  void RefreshVariables();
  // The selected branch as text on the clipboard; nothing selected or an
  // empty text leaves the clipboard alone.
  void CopySelectionToClipboard();
  // The first node in the tree's flat order that shows the atom; -1 for none.
  int IndexOfAtom(const TAtom* atom) const;
  QTreeWidgetItem* ItemAt(int index) const;
  QTreeWidget* tree() const { return tree_; }

private Q_SLOTS:
  void itemExpanded(QTreeWidgetItem* item);
  void itemCollapsed(QTreeWidgetItem* item);

private:
  void AddItems(QTreeWidgetItem* parent, const std::vector<MemoryNode>& nodes);
  void SetExpanded(QTreeWidgetItem* item, bool open);
  MemoryNode NodeOf(const QTreeWidgetItem* item) const;

  QTreeWidget* tree_;
  bool refreshQueued_ = false;
};
