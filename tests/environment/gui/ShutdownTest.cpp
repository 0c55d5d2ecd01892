// The main window's close: the save prompts of modified source windows, an
// abandoned close that leaves a working environment, and the settings
// written back once.

#include <gtest/gtest.h>

#include <QFile>
#include <QMdiArea>
#include <QPointer>
#include <QTemporaryDir>

#include "core/Host.h"
#include "environment/CommandWin.h"
#include "environment/MsgWin.h"
#include "environment/Shutdown.h"
#include "environment/SrcWin.h"
#include "tests/environment/gui/GuiFixture.h"
#include "tests/support/Files.h"

namespace {

class ShutdownTest : public ::testing::Test, public GuiFixture {
protected:
  ShutdownTest() {
    env.LanguageTexts.SetText(u"SYSTEMERROR=System error\nDIALOG.SAVESOURCE=Save %s?\nCAPTION.COMMAND=Command");
    main->show();
  }
  ~ShutdownTest() override { SetMessageDialogRunner({}); }

  // A modified source window saving to name in the scratch folder.
  TSource* ModifiedSource(const QString& name) {
    TSource* source = main->newSourceWindow();
    source->FileName = scratch.filePath(name);
    source->setTitle(name);
    source->editor()->setPlainText(QStringLiteral("print 1"));
    source->editor()->insertPlainText(QStringLiteral("x"));
    return source;
  }
  void Answer(std::vector<int> answers) {
    answers_ = std::move(answers);
    SetMessageDialogRunner([this](TMsg& dialog) {
      Messages.push_back(dialog.MessageText());
      const int answer = answers_.empty() ? drOk : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      static const int kModal[] = {mrOk, mrNo, mrCancel, mrOk, mrOk, mrHelp, mrReplaceAll};
      return kModal[answer];
    });
  }

  std::vector<QString> Messages;
  std::vector<int> answers_;
  QTemporaryDir scratch;
};

TEST_F(ShutdownTest, YesToEachModifiedSourceSavesThemAndTheCommandWindowIsNeverAsked) {
  TCommandWindow* command = main->openCommandWindow();
  command->editor()->setPlainText(QStringLiteral("print 2"));
  ModifiedSource(QStringLiteral("a.zav"));
  ModifiedSource(QStringLiteral("b.zav"));
  Answer({drOk, drOk});
  EXPECT_TRUE(main->close());
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[0], QStringLiteral("Save a.zav?"));
  EXPECT_EQ(Messages[1], QStringLiteral("Save b.zav?"));
  EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("a.zav"))));
  EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("b.zav"))));
  EXPECT_FALSE(env.EnvironmentReady);
}

TEST_F(ShutdownTest, CancelOnTheFirstStillAsksTheSecondAndLeavesAWorkingWindow) {
  ModifiedSource(QStringLiteral("a.zav"));
  ModifiedSource(QStringLiteral("b.zav"));
  env.EnvironmentReady = true;
  in->RunState = rsEnded;
  main->runControl().ExitPending = true;
  Answer({drCancel, drOk});
  EXPECT_FALSE(main->close());
  EXPECT_EQ(Messages.size(), 2u);
  EXPECT_FALSE(QFile::exists(scratch.filePath(QStringLiteral("a.zav"))));
  EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("b.zav"))));
  EXPECT_TRUE(main->isVisible());
  EXPECT_EQ(in->RunState, rsEnded);
  EXPECT_FALSE(env.Quitting);
  EXPECT_FALSE(main->runControl().ExitPending);
  EXPECT_TRUE(env.EnvironmentReady);
  // The environment still runs commands.
  EXPECT_EQ(RunText(*in, u"make \"x 3", u""), 0);
}

TEST_F(ShutdownTest, AFailedSaveShowsTheSystemErrorAndKeepsTheWindowOpen) {
  QFile blocker(scratch.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  ModifiedSource(QStringLiteral("file/under.zav"));
  Answer({drOk, drOk});
  EXPECT_FALSE(main->close());
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_TRUE(Messages[1].startsWith(QStringLiteral("System error "))) << Messages[1].toStdString();
  EXPECT_FALSE(env.Quitting);
}

TEST_F(ShutdownTest, TheAcceptedCloseWritesTheSettingsOnceWithTheOpenWindows) {
  const QString ini = scratch.filePath(QStringLiteral("default.ini"));
  WriteBytes(ini.toStdU16String(), "AUTOSAVE=Yes\nOUTPUT=Yes\n; mine\n");
  ASSERT_TRUE(env.Settings.LoadFromFile(ini.toStdU16String()));
  env.SettingsPath = ini.toStdU16String();
  main->openCommandWindow();
  TSource* source = ModifiedSource(QStringLiteral("a.zav"));
  source->editor()->document()->setModified(false);
  env.Reopen.Add(env, source->FileName.toStdU16String());
  Answer({});
  EXPECT_TRUE(main->close());
  EXPECT_TRUE(Messages.empty());
  NameValueList saved;
  ASSERT_TRUE(saved.LoadFromFile(ini.toStdU16String()));
  EXPECT_EQ(U8(saved.RawValue(u"OUTPUT")), "No");
  EXPECT_EQ(U8(saved.RawValue(u"COMMAND")), "Yes");
  EXPECT_EQ(U8(saved.RawValue(u"USERS")), "1");
  EXPECT_EQ(saved.RawValue(u"USER1.FILENAME"), source->FileName.toStdU16String());
  EXPECT_EQ(saved.RawValue(u"REOPEN0"), source->FileName.toStdU16String());
  EXPECT_EQ(saved.Lines()[2], u"; mine");

  // A second write (the end of the program) changes nothing.
  WriteBytes(ini.toStdU16String(), "AUTOSAVE=Yes\n");
  SaveConfigurationOnce(*main);
  EXPECT_EQ(ReadBytes(ini.toStdU16String()), "AUTOSAVE=Yes\n");
}

}  // namespace
