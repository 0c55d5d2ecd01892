// The memory window over a real interpreter (offscreen): the tree after a
// run, branches that stay open across refreshes, Copy, the atom index, and
// a stale node that touches nothing.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTreeWidgetItemIterator>

#include "environment/VarWin.h"
#include "tests/environment/gui/GuiFixture.h"

namespace {

class MemoryWindowTest : public ::testing::Test, public GuiFixture {
protected:
  MemoryWindowTest() { env.LanguageTexts.SetText(u"CAPTION.MEMORY=Memory\nMENU.EDIT.COPY=Copy"); }
  QTreeWidgetItem* Find(TDebugVars& memory, const QString& text) {
    for (QTreeWidgetItemIterator it(memory.tree()); *it != nullptr; ++it)
      if ((*it)->text(0) == text) return *it;
    return nullptr;
  }
  TAtom* Global(const std::u16string& name) { return TAtom::FindChildByName(*s, *s->Root, name); }
};

}  // namespace

TEST_F(MemoryWindowTest, ARunsVariablesShowAndOpenBranchesStayOpen) {
  ASSERT_EQ(RunText(*in, u"make \"obj.x 1\r\nmake \"obj.y 2\r\nmake \"top 3", u""), rrOk);
  TDebugVars* memory = main->openMemoryWindow();
  EXPECT_EQ(memory->title(), QStringLiteral("Memory"));
  ASSERT_EQ(memory->tree()->topLevelItemCount(), 1);
  QTreeWidgetItem* root = memory->tree()->topLevelItem(0);
  EXPECT_EQ(root->text(0), QStringLiteral("[Root]"));
  EXPECT_TRUE(root->isExpanded());
  QTreeWidgetItem* obj = Find(*memory, QStringLiteral("obj = []"));
  ASSERT_NE(obj, nullptr);
  EXPECT_FALSE(obj->isExpanded());
  obj->setExpanded(true);
  EXPECT_TRUE(Global(u"obj")->Flags & afExpanded);

  // A command and its refresh keep the branch open.
  ASSERT_EQ(RunText(*in, u"make \"more 4", u""), rrOk);
  host.refreshMemory();
  obj = Find(*memory, QStringLiteral("obj = []"));
  ASSERT_NE(obj, nullptr);
  EXPECT_TRUE(obj->isExpanded());
  obj->setExpanded(false);
  host.refreshMemory();
  EXPECT_FALSE(Find(*memory, QStringLiteral("obj = []"))->isExpanded());

  // Copy: the branch's texts, 3 blanks per level, CR LF.
  QApplication::clipboard()->setText(QStringLiteral("before"));
  memory->tree()->clearSelection();
  memory->CopySelectionToClipboard();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
  obj = Find(*memory, QStringLiteral("obj = []"));
  memory->tree()->setCurrentItem(obj);
  memory->CopySelectionToClipboard();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("obj = []\r\n   x = \"1\r\n   y = \"2\r\n"));

  // The atom index in the flat order, and back.
  const int index = memory->IndexOfAtom(Global(u"obj"));
  ASSERT_GE(index, 0);
  EXPECT_EQ(memory->ItemAt(index), obj);
  EXPECT_EQ(memory->IndexOfAtom(nullptr), -1);
  EXPECT_EQ(memory->ItemAt(10000), nullptr);
}

TEST_F(MemoryWindowTest, AStaleNodeTouchesNothingAndRebuildsTheTree) {
  ASSERT_EQ(RunText(*in, u"make \"obj.x 1", u""), rrOk);
  TDebugVars* memory = main->openMemoryWindow();
  QTreeWidgetItem* obj = Find(*memory, QStringLiteral("obj = []"));
  ASSERT_NE(obj, nullptr);
  // The variable's atom was reused for something else meanwhile.
  TAtom* variable = Global(u"obj");
  ++variable->Stamp;
  obj->setExpanded(true);
  EXPECT_FALSE(variable->Flags & afExpanded);
  QCoreApplication::processEvents();  // the queued rebuild
  obj = Find(*memory, QStringLiteral("obj = []"));
  ASSERT_NE(obj, nullptr);
  EXPECT_FALSE(obj->isExpanded());
  obj->setExpanded(true);  // the fresh node resolves
  EXPECT_TRUE(variable->Flags & afExpanded);
}

TEST_F(MemoryWindowTest, TheWindowPaintsItsTree) {
  ASSERT_EQ(RunText(*in,
                    u"make \"shape.size 3\r\nmake \"shape.name \"cube\r\nmake \"items [1 2 [3 4]]\r\n"
                    u"to twice :n\r\n output :n + :n\r\nend",
                    u""),
            rrOk);
  TAtom::SetParent(*s, *NewVariable(*s, u"greeting", NewWord(*s, u"it's a test")), s->Root);
  main->resize(520, 360);
  main->show();
  TDebugVars* memory = main->openMemoryWindow();
  memory->setGeometry(0, 0, 420, 300);
  Find(*memory, QStringLiteral("shape = []"))->setExpanded(true);
  QCoreApplication::processEvents();
  const QImage image = main->grab().toImage();
  if (const QByteArray shot = qgetenv("ZAVTA_MEMORY_SHOT"); !shot.isEmpty()) image.save(QString::fromLocal8Bit(shot));
  int dark = 0;
  for (int y = 40; y < 300; ++y)
    for (int x = 10; x < 400; ++x) dark += image.pixelColor(x, y).lightness() < 80;
  EXPECT_GT(dark, 200);  // the node texts are drawn
}
