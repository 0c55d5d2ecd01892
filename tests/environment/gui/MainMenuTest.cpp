// The model-driven menus: library toggles that reset to exactly the checked
// libraries, a language switch that keeps the resets working and
// re-captions the menus, items that wait while a run is on the stack, and
// the reopen list.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <filesystem>

#include "core/Text.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/MainMenu.h"
#include "environment/MsgWin.h"
#include "environment/SrcWin.h"
#include "tests/environment/gui/GuiFixture.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = ZAVTA_SOURCE_DIR;

class MainMenuTest : public ::testing::Test, public GuiFixture {
protected:
  MainMenuTest() {
    std::string pattern = (fs::temp_directory_path() / "zavta-menu-XXXXXX").string();
    base = fs::path(mkdtemp(pattern.data()));
    const fs::path system = base / "System";
    for (const char* name : {"Logo", "Turtle", "Graphix", "Extra", "It's"}) {
      std::string variable = name == std::string("It's") ? "its" : name;
      WriteBytes(system / (std::string(name) + ".zav"), "make \"" + variable + " 1\n");
    }
    fs::create_directories(base / "Languages");
    fs::copy_file(kSourceDir / "resources/Languages/English.txt", base / "Languages" / "English.txt");
    fs::copy_file(kSourceDir / "tests/environment/data/Test.txt", base / "Languages" / "Test.txt");
    env.ProgramFolder = FolderText(system);
    env.RootFolder = FolderText(base);
    env.LanguagesFolder = FolderText(base / "Languages");
    s->ProgramFolder = env.ProgramFolder;
    s->RootFolder = env.RootFolder;
    env.AdvancedGui = true;
    SwitchLanguage(env, u"English");
    env.Libraries = MenuLibraryEntries(env, FoundLibraries(env, u"Logo.zav,It's.zav"));
    SetMessageDialogRunner([this](TMsg& dialog) {
      Messages.push_back(dialog.MessageText());
      return mrOk;
    });
    menu = main->mainMenu();
    menu->rebuildLibraries();
    menu->rebuildLanguages();
    menu->applyGuiMode(true);
    in->LibraryLoadCommands = LoadCommands(env.Libraries, s->Keyword(kwRun));
  }
  ~MainMenuTest() override {
    SetMessageDialogRunner({});
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
  // Which of the fixtures' variables a reset left.
  std::string Loaded() {
    std::string names;
    for (const char* name : {"Logo", "Turtle", "Graphix", "Extra", "its"})
      if (s->FindName(Utf8ToUtf16(name)) != nullptr) names += std::string(name) + " ";
    return names;
  }
  QAction* LanguageItem(const QString& name) {
    for (QAction* item : menu->languageMenu()->actions())
      if (item->data().toString() == name) return item;
    return nullptr;
  }

  std::vector<QString> Messages;
  fs::path base;
  MainMenu* menu = nullptr;
};

TEST_F(MainMenuTest, EachToggleResetsToExactlyTheCheckedLibraries) {
  main->reset();
  EXPECT_EQ(Loaded(), "Logo its ");
  const struct {
    int Index;
    const char* After;
  } steps[] = {{1, "Logo Turtle its "}, {0, "Turtle its "}, {3, "Turtle "}, {2, "Turtle Graphix "}, {1, "Graphix "}};
  for (const auto& step : steps) {
    menu->toggleLibrary(step.Index);
    EXPECT_EQ(Loaded(), step.After) << step.Index;
  }
}

TEST_F(MainMenuTest, ResetsKeepWorkingAcrossLanguageSwitchesAndTheMenusFollow) {
  ASSERT_NE(LanguageItem(QStringLiteral("Test")), nullptr);
  EXPECT_EQ(LanguageItem(QStringLiteral("Test"))->text(), QStringLiteral("Test"));
  EXPECT_TRUE(LanguageItem(QStringLiteral("English"))->isChecked());
  for (const char* language : {"Test", "English"}) {
    for (const char* name : {"Logo", "It's"})
      WriteBytes(base / "System" / (std::string(name) + ".zav"),
                 std::string(language) == "Test" ? "; empty\n" : "make \"" + std::string(name == std::string("It's") ? "its" : name) + " 1\n");
    menu->languageClick(QString::fromLatin1(language));
    EXPECT_EQ(U8(env.LanguageName), language);
    EXPECT_TRUE(LanguageItem(QString::fromLatin1(language))->isChecked());
    EXPECT_FALSE(ResetInterpreter(*in)) << language << " " << (Messages.empty() ? "" : Messages.back().toStdString());
    // The fixtures are written in English: under Test only the reset's own
    // "run" commands are checked.
    if (std::string(language) == "English") {
      EXPECT_EQ(Loaded(), "Logo its ");
    }
    if (std::string(language) == "Test") {
      EXPECT_EQ(LanguageItem(QStringLiteral("Test"))->text(), QString::fromUtf8("Тестовый"));
      EXPECT_EQ(main->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QString::fromUtf8("Файл"));
      EXPECT_EQ(menu->languageMenu()->title(), QString::fromUtf8("Язык"));
    }
  }
  EXPECT_EQ(main->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("File"));
}

TEST_F(MainMenuTest, DuringARunTheItemsAreDisabledAndATriggerChangesNothing) {
  main->reset();
  ++in->RunNesting;
  Q_EMIT main->findChild<QMenu*>(QStringLiteral("MenuOptions"))->aboutToShow();
  EXPECT_FALSE(menu->librariesMenu()->menuAction()->isEnabled());
  EXPECT_FALSE(menu->languageMenu()->menuAction()->isEnabled());
  LanguageItem(QStringLiteral("Test"))->trigger();
  menu->toggleLibrary(1);
  --in->RunNesting;
  EXPECT_EQ(U8(env.LanguageName), "English");
  EXPECT_TRUE(LanguageItem(QStringLiteral("English"))->isChecked());
  EXPECT_FALSE(env.Libraries[1].Checked);
  EXPECT_FALSE(menu->librariesMenu()->actions()[1]->isChecked());
  Q_EMIT main->findChild<QMenu*>(QStringLiteral("MenuOptions"))->aboutToShow();
  EXPECT_TRUE(menu->languageMenu()->menuAction()->isEnabled());
}

TEST_F(MainMenuTest, AReopenItemOpensItsFileOnceAndDoublesAmpersands) {
  const fs::path file = base / "R&D.zav";
  WriteBytes(file, "print 1\n");
  env.Reopen.Add(env, PathText(file));
  menu->rebuildReopen();
  ASSERT_EQ(menu->reopenMenu()->actions().size(), 1);
  EXPECT_EQ(menu->reopenMenu()->actions()[0]->text(), QStringLiteral("R&&D.zav"));
  menu->reopenClick(0);
  menu->reopenClick(0);
  int windows = 0;
  for (const auto& window : main->sourceWindows())
    if (auto* source = qobject_cast<TSource*>(window.data()); source && source->FileName == QString::fromStdString(file.string()))
      ++windows;
  EXPECT_EQ(windows, 1);
}

}  // namespace
