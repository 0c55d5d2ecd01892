#include "environment/VarWin.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>

#include "core/Atoms.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Main.h"

namespace {

// Item data: the variable's identity and stamp (none for call branches).
constexpr int kIdentityRole = Qt::UserRole;
constexpr int kStampRole = Qt::UserRole + 1;

}  // namespace

TDebugVars::TDebugVars(TMainForm& main)
    : TZavtaForm(main, QStringLiteral("MEMORY"), ToolKind::Memory), tree_(new QTreeWidget) {
  tree_->setObjectName(QStringLiteral("TreeView"));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setIndentation(19);
  tree_->setMouseTracking(true);  // hot tracking
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);
  QPalette colours = tree_->palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight, colours.color(QPalette::Active, QPalette::Highlight));
  tree_->setPalette(colours);
  setWidget(tree_);
  connect(tree_, &QTreeWidget::itemExpanded, this, &TDebugVars::itemExpanded);
  connect(tree_, &QTreeWidget::itemCollapsed, this, &TDebugVars::itemCollapsed);
  connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    // A right click selects the node under the mouse too.
    if (QTreeWidgetItem* item = tree_->itemAt(at)) tree_->setCurrentItem(item);
    QMenu menu(this);
    const QString caption = QString::fromStdU16String(mainForm().env().LanguageTexts.GetValueOrKey(u"MENU.EDIT.COPY"));
    connect(menu.addAction(caption), &QAction::triggered, this, &TDebugVars::CopySelectionToClipboard);
    menu.exec(tree_->viewport()->mapToGlobal(at));
  });
  applySettings();
}

void TDebugVars::applySettings() {
  applyFont();
  tree_->hide();
  setTitle(QString::fromStdU16String(mainForm().env().LanguageTexts.GetValueOrKey(u"CAPTION.MEMORY")));
  tree_->setFont(mainForm().envFont());
  update();
  tree_->show();
}

void TDebugVars::RefreshVariables() {
  refreshQueued_ = false;
  EnvState& env = mainForm().env();
  std::vector<MemoryNode> snapshot;
  GuardCoreEntry(mainForm().interpreter(), [&] {
    snapshot = BuildMemorySnapshot(env.S, {env.MemoryExpandCallStack, env.MemoryExpandRoot, env.MemorySort});
  });
  // Rebuilding opens nodes: that must not write the flags back.
  const QSignalBlocker blocker(tree_);
  tree_->setUpdatesEnabled(false);
  tree_->clear();
  AddItems(nullptr, snapshot);
  tree_->setUpdatesEnabled(true);
}

void TDebugVars::AddItems(QTreeWidgetItem* parent, const std::vector<MemoryNode>& nodes) {
  for (const MemoryNode& node : nodes) {
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    item->setText(0, QString::fromStdU16String(node.Text));
    if (node.Identity != 0) {
      item->setData(0, kIdentityRole, node.Identity);
      item->setData(0, kStampRole, QVariant::fromValue<qulonglong>(node.Stamp));
    }
    AddItems(item, node.Children);
    item->setExpanded(node.Open);
  }
}

void TDebugVars::SetExpanded(QTreeWidgetItem* item, bool open) {
  if (item == nullptr || !item->data(0, kIdentityRole).isValid()) return;
  TStructure& s = mainForm().env().S;
  TAtom* variable =
      ResolveMemoryNode(s, item->data(0, kIdentityRole).toUInt(), item->data(0, kStampRole).toULongLong());
  if (variable != nullptr) {
    TAtom::SetFlag(variable, afExpanded, open);
    return;
  }
  // The node outlived its variable: rebuild, outside the tree's signal.
  if (refreshQueued_) return;
  refreshQueued_ = true;
  QTimer::singleShot(0, this, &TDebugVars::RefreshVariables);
}

void TDebugVars::itemExpanded(QTreeWidgetItem* item) { SetExpanded(item, true); }
void TDebugVars::itemCollapsed(QTreeWidgetItem* item) { SetExpanded(item, false); }

MemoryNode TDebugVars::NodeOf(const QTreeWidgetItem* item) const {
  MemoryNode node{item->text(0).toStdU16String(), item->data(0, kIdentityRole).toUInt(), 0, item->isExpanded(), {}};
  for (int i = 0; i < item->childCount(); ++i) node.Children.push_back(NodeOf(item->child(i)));
  return node;
}

void TDebugVars::CopySelectionToClipboard() {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  const std::u16string text = MemoryBranchText(NodeOf(item));
  if (text.empty()) return;
  QApplication::clipboard()->setText(QString::fromStdU16String(text));
}

int TDebugVars::IndexOfAtom(const TAtom* atom) const {
  if (!IsAtom(atom)) return -1;
  int index = 0;
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it, ++index)
    if ((*it)->data(0, kIdentityRole).isValid() && (*it)->data(0, kIdentityRole).toUInt() == atom->Identity())
      return index;
  return -1;
}

QTreeWidgetItem* TDebugVars::ItemAt(int index) const {
  if (index < 0) return nullptr;
  int at = 0;
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it, ++at)
    if (at == index) return *it;
  return nullptr;
}
