// The message dialog: layout for each flag value, answers to clicks and to
// keys typed while it runs modally, the text cut and the edit box's memory.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "core/Host.h"
#include "environment/MsgWin.h"
#include "environment/Settings.h"

namespace {

// Runs the dialog modally while the step acts on it from the event loop.
int RunWith(int flags, const std::function<void(TMsg&)>& step, const QString& message = QStringLiteral("Message")) {
  SetMessageDialogRunner([&](TMsg& dialog) {
    QTimer::singleShot(0, &dialog, [&] { step(dialog); });
    QTimer::singleShot(3000, &dialog, [&] { dialog.done(99); });  // a test that hangs fails
    return dialog.exec();
  });
  MessageDialogSite site;
  const int answer = ShowMessageDialog(site, message, QString(), flags);
  SetMessageDialogRunner({});
  return answer;
}

struct LayoutCase {
  int Flags;
  std::vector<int> Visible;  // indices in the order OK, No, Cancel, Help, Replace all
  bool Edit;
};

}  // namespace

TEST(MessageDialogLayout, EachFlagValueShowsItsButtonsCentred) {
  const LayoutCase cases[] = {{1, {0}, false},     {3, {0, 1}, false},     {7, {0, 1, 2}, false}, {21, {0, 2}, true},
                              {33, {0, 3}, false}, {67, {0, 1, 4}, false}, {85, {0, 2, 4}, true}};
  for (const LayoutCase& c : cases) {
    TMsg dialog;
    dialog.Prepare(QStringLiteral("m"), QString(), c.Flags);
    EXPECT_EQ(dialog.ButtonCount(), static_cast<int>(c.Visible.size())) << c.Flags;
    int left = (TMsg::kWidth - dialog.ButtonCount() * (TMsg::kButtonWidth + TMsg::kButtonGap) + TMsg::kButtonGap) / 2;
    for (int index : c.Visible) {
      QPushButton* button = dialog.Button(index);
      EXPECT_FALSE(button->isHidden()) << c.Flags << " button " << index;
      EXPECT_EQ(button->pos(), QPoint(left, c.Edit ? 100 : 90)) << c.Flags << " button " << index;
      EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
      EXPECT_FALSE(button->isDefault());
      left += TMsg::kButtonWidth + TMsg::kButtonGap;
    }
    EXPECT_EQ(dialog.EditBox()->isHidden(), !c.Edit) << c.Flags;
    EXPECT_EQ(dialog.size(), QSize(TMsg::kWidth, TMsg::kHeight));
  }
}

TEST(MessageDialogAnswers, ClicksGiveTheirCodes) {
  const std::pair<int, int> buttons[] = {{0, drOk}, {1, drNo}, {2, drCancel}, {3, drHelp}, {4, drReplaceAll}};
  for (const auto& [index, code] : buttons) {
    EXPECT_EQ(RunWith(dfOk | dfNo | dfCancel | dfHelp | dfReplaceAll,
                      [index](TMsg& dialog) { QTest::mouseClick(dialog.Button(index), Qt::LeftButton); }),
              code)
        << index;
  }
}

TEST(MessageDialogAnswers, KeysEndTheDialogAsTheRulesSay) {
  const auto key = [](Qt::Key k, const QString& text = {}) {
    return [k, text](TMsg& dialog) {
      QWidget* target = dialog.EditBox()->isHidden() ? static_cast<QWidget*>(&dialog) : dialog.EditBox();
      QTest::keyClick(target, k, Qt::NoModifier);
      static_cast<void>(text);
    };
  };
  EXPECT_EQ(RunWith(dfOk, key(Qt::Key_A)), drOk);  // any key with OK alone
  EXPECT_EQ(RunWith(dfOk | dfNo, key(Qt::Key_Return)), drOk);
  EXPECT_EQ(RunWith(dfOk | dfNo, key(Qt::Key_Space)), drOk);
  EXPECT_EQ(RunWith(dfOk | dfNo | dfCancel, key(Qt::Key_Escape)), drCancel);
  // Escape without Cancel does not end it.
  bool stillOpen = false;
  EXPECT_EQ(RunWith(dfOk | dfNo,
                    [&](TMsg& dialog) {
                      QTest::keyClick(&dialog, Qt::Key_Escape);
                      stillOpen = dialog.isVisible();
                      QTest::mouseClick(dialog.Button(1), Qt::LeftButton);
                    }),
            drNo);
  EXPECT_TRUE(stillOpen);
}

TEST(MessageDialogAnswers, TheEditBoxKeepsAcceptedTextOnly) {
  LastDialogInput() = QStringLiteral("old");
  const auto type = [](const QString& text, Qt::Key end) {
    return [text, end](TMsg& dialog) {
      EXPECT_EQ(dialog.EditBox()->selectedText(), QStringLiteral("old"));
      QTest::keyClicks(dialog.EditBox(), text);
      QTest::keyClick(dialog.EditBox(), end);
    };
  };
  EXPECT_EQ(RunWith(21, type(QStringLiteral("new"), Qt::Key_Escape)), drCancel);
  EXPECT_EQ(LastDialogInput(), QStringLiteral("old"));
  EXPECT_EQ(RunWith(21, type(QStringLiteral("new"), Qt::Key_Return)), drOk);
  EXPECT_EQ(LastDialogInput(), QStringLiteral("new"));
  LastDialogInput().clear();
}

TEST(MessageDialogText, LongMessagesAreCutAndTheExtraFollows) {
  TMsg dialog;
  dialog.Prepare(QString(401, u'x'), QStringLiteral("prog.zav"), dfOk);
  EXPECT_EQ(dialog.MessageText(), QString(400, u'x') + QStringLiteral("... (prog.zav)"));
  EXPECT_EQ(dialog.Label()->text(), dialog.MessageText());
  EXPECT_EQ(dialog.Label()->textFormat(), Qt::PlainText);
  MessageDialogSite site;
  EXPECT_EQ(ShowMessageDialog(site, QString(), QString(), dfOk), drOk);  // nothing shown
}

TEST(MessageDialogAnswers, HelpRepaintsAndGivesFive) {
  int repaints = 0;
  SetMessageDialogRunner([](TMsg&) { return mrHelp; });
  MessageDialogSite site;
  site.RepaintMain = [&] { ++repaints; };
  EXPECT_EQ(ShowMessageDialog(site, QStringLiteral("m"), QString(), dfOk | dfHelp), drHelp);
  EXPECT_EQ(repaints, 1);
  SetMessageDialogRunner({});
}

TEST(MessageDialogAnswers, ButtonCaptionsComeFromTheLanguage) {
  NameValueList texts;
  texts.SetText(u"DIALOG.BUTTON.YES=Ja\nDIALOG.BUTTON.NO=Nein");
  TMsg dialog;
  dialog.ApplySettings(texts, QFont());
  EXPECT_EQ(dialog.Button(0)->text(), QStringLiteral("Ja"));
  EXPECT_EQ(dialog.Button(1)->text(), QStringLiteral("Nein"));
  EXPECT_EQ(dialog.Button(2)->text(), QStringLiteral("DIALOG.BUTTON.CANCEL"));
}

TEST(MessageDialogAnswers, AWindowManagerCloseCancelsOnlyWhereCancelShows) {
  const auto close = [](TMsg& dialog) { dialog.close(); };
  EXPECT_EQ(RunWith(dfOk | dfNo | dfCancel, close), drCancel);
  EXPECT_EQ(RunWith(dfOk | dfNo, close), drOther);
}
