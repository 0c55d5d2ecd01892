// The environment's start and the menus around it, on a fixture tree with
// a fake plane: the windows the settings name, the GUI mode and the case
// rule, the start-up log, the forced file after the libraries, the File,
// View and Graphics items, and a round trip through the settings file.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMdiArea>
#include <QMenuBar>
#include <QTimer>
#include <filesystem>

#include "core/Text.h"
#include "environment/CommandWin.h"
#include "environment/LoadEnvironment.h"
#include "environment/MainInit.h"
#include "environment/MainMenu.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/OutputText.h"
#include "environment/Shutdown.h"
#include "environment/SrcWin.h"
#include "environment/VarWin.h"
#include "graphics/Graphics.h"
#include "tests/environment/gui/GuiFixture.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = ZAVTA_SOURCE_DIR;

// A plane that is only counted: three formats, opened and closed by flag.
class FakePlane : public PlaneServices {
public:
  void buildPixelFormatMenu(TMainForm&, const PixelFormatMenuTargets& targets) override {
    for (int tag : {1, 2, 3}) {
      QAction* item = targets.AdvancedMode->addAction(QStringLiteral("format %1").arg(tag));
      item->setData(tag);
      item->setCheckable(true);
    }
    targets.Hardware->setData(2);
    targets.Hardware->setCheckable(true);
    targets.Software->setData(3);
    targets.Software->setCheckable(true);
  }
  bool openPlane(TMainForm&) override { return Open = true; }
  void closePlane(TMainForm&) override { Open = false; }
  bool isOpen(TMainForm&) override { return Open; }
  void recreateContext(TMainForm&, int index) override { Recreated.push_back(index); }
  void paint(TMainForm&) override { ++Paints; }
  bool Open = false;
  std::vector<int> Recreated;
  int Paints = 0;
};

class StartupTest : public ::testing::Test, public GuiFixture {
protected:
  StartupTest() : graphics(*in) {
    std::string pattern = (fs::temp_directory_path() / "zavta-start-XXXXXX").string();
    base = fs::path(mkdtemp(pattern.data()));
    const fs::path system = base / "System";
    for (const char* name : {"Logo", "Turtle", "Graphix", "Extra"})
      WriteBytes(system / (std::string(name) + ".zav"), "make \"" + std::string(name) + " 1\n");
    fs::create_directories(base / "Languages");
    fs::copy_file(kSourceDir / "resources/Languages/English.txt", base / "Languages" / "English.txt");
    fs::copy_file(kSourceDir / "tests/environment/data/Test.txt", base / "Languages" / "Test.txt");
    fs::create_directories(base / "user");
    env.ProgramFolder = FolderText(system);
    env.RootFolder = FolderText(base);
    env.LanguagesFolder = FolderText(base / "Languages");
    env.UserFolder = FolderText(base / "user");
    env.LaunchFolder = FolderText(base);
    s->ProgramFolder = env.ProgramFolder;
    s->RootFolder = env.RootFolder;
    env.DebugLogMode = true;
    host.setGraphics(&graphics);
    services.Plane = &plane;
    services.MachineId = [] { return std::u16string(u"ABC"); };
    main->setServices(services);
    SetMessageDialogRunner([this](TMsg& dialog) {
      Messages.push_back(dialog.MessageText().toStdString());
      return mrOk;
    });
  }
  ~StartupTest() override {
    SetMessageDialogRunner({});
    host.setGraphics(nullptr);
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
  void Start(const std::string& settings, std::vector<std::u16string> arguments = {}) {
    env.Settings.SetText(Utf8ToUtf16(settings));
    input.Arguments = std::move(arguments);
    LoadEnvironment(*main, input, services);
    FinishLoadEnvironment(*main, services);
  }
  QAction* Action(const char* name) { return main->action(QString::fromLatin1(name)); }
  int UserWindows() {
    int count = 0;
    for (const auto& window : main->sourceWindows())
      if (window && window->settingsName().startsWith(QStringLiteral("USER"))) ++count;
    return count;
  }

  std::vector<std::string> Messages;
  Graphics graphics;
  FakePlane plane;
  EnvServices services;
  StartupInput input;
  fs::path base;
};

const char kSettings[] =
    "ENVIRONMENT=English\nLIBRARIES=Logo.zav,Extra.zav,\nCOMMAND=Yes\nOUTPUT=No\nMEMORY=Yes\nPLANE=Yes\n"
    "ZAVTAID=ABC\nOPENGLMODE=2\n";

TEST_F(StartupTest, TheWindowsTheLogAndTheModesFollowTheSettings) {
  const fs::path file = base / "a.zav";
  WriteBytes(file, "print 1\n");
  Start(std::string(kSettings) + "ADVANCEDGUI=Yes\nCASESENSITIVE=No\nUSERS=2\nUSER1.FILENAME=" + file.string() +
        "\nUSER1.LEFT=30\nUSER1.TOP=40\nUSER1.WIDTH=200\nUSER1.HEIGHT=150\nUSER2.FILENAME=\n");
  EXPECT_NE(main->commandWindow(), nullptr);
  EXPECT_NE(main->memoryWindow(), nullptr);
  EXPECT_EQ(main->output(), nullptr);
  EXPECT_TRUE(plane.Open);
  EXPECT_TRUE(Action("MenuPlane")->isChecked());
  EXPECT_FALSE(Action("MenuOutput")->isChecked());
  EXPECT_EQ(graphics.PixelFormatIndex, 2);  // the stored format is trusted on this machine
  ASSERT_EQ(UserWindows(), 1);              // USER2 has no file
  TSource* user = main->FindSourceFile(QString::fromStdString(file.string()));
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->geometry(), QRect(30, 40, 200, 150));
  EXPECT_EQ(U8(s->Keyword(kwMake)), "MAKE");
  EXPECT_TRUE(Action("MenuStep")->isVisible());
  EXPECT_TRUE(env.EnvironmentReady);
  EXPECT_NE(s->FindName(u"EXTRA"), nullptr);
  const std::string log = ReadBytes(base / "user" / "gdm.log");
  EXPECT_NE(log.find("\nEntering LOAD FROM REGISTRY procedure\n"), std::string::npos);
  EXPECT_NE(log.find("  Zavta is in non-Case-Sensitive mode\n"), std::string::npos);
  EXPECT_NE(log.find("Exiting LOAD FROM REGISTRY procedure\n"), std::string::npos);
}

TEST_F(StartupTest, WithoutAdvancedModeTheAdvancedItemsHideAndNoMemoryWindowOpens) {
  Start(std::string(kSettings) + "ADVANCEDGUI=No\n");
  EXPECT_EQ(main->memoryWindow(), nullptr);
  for (const char* name : {"MenuStep", "MenuCmd", "MenuTo", "MenuMemory"}) EXPECT_FALSE(Action(name)->isVisible()) << name;
  EXPECT_FALSE(main->findChild<QMenu*>(QStringLiteral("MenuOptions"))->menuAction()->isVisible());
  EXPECT_EQ(U8(s->Keyword(kwMake)), "make");
}

TEST_F(StartupTest, AForcedFileRunsOnceAfterTheLibrariesAndIsDrawnAsAfterRun) {
  const fs::path file = base / "It's here.zav";
  WriteBytes(file, "make \"forced :Logo\n");
  const uint32_t resumes = graphics.PaintResumes;
  Start(std::string(kSettings) + "USERS=1\nUSER1.FILENAME=" + (base / "x.zav").string() + "\n",
        {u"!Logo.zav", u"", PathText(file)});
  TAtom* forced = s->FindName(u"forced");
  ASSERT_NE(forced, nullptr) << (Messages.empty() ? "" : Messages[0]);  // Logo.zav had loaded
  EXPECT_EQ(UserWindows(), 0);
  EXPECT_NE(main->FindSourceFile(QString::fromStdString(file.string())), nullptr);
  EXPECT_TRUE(env.LibrariesFromCommandLine);
  EXPECT_EQ(s->FindName(u"Extra"), nullptr);
  // Idle after the reset, running, the final redraw, ended; the scene's
  // lists were rebuilt once more.
  const std::vector<uint8_t> tail(host.States.end() - 4, host.States.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{rsIdle, rsRunning, rsFinalRedraw, rsEnded}));
  EXPECT_GT(graphics.PaintResumes, resumes);
  const size_t states = host.States.size();
  AutoloadLibraries(*main);
  EXPECT_EQ(host.States.size(), states);
}

TEST_F(StartupTest, ExitStopsANeverEndingForcedFileAndClosesAfterIt) {
  const fs::path file = base / "loop.zav";
  WriteBytes(file, "repeat 2000000000 [make \"x 1]\n");
  main->show();
  QTimer::singleShot(100, main.get(), [this] { main->exitProgram(); });
  Start(kSettings, {PathText(file)});
  EXPECT_EQ(in->RunState, rsEnded);
  QCoreApplication::processEvents();
  EXPECT_FALSE(main->isVisible());
}

TEST_F(StartupTest, BadSettingsGiveDefaultsWithoutADialog) {
  Start("LIBRARIES=,,no such.zav,Logo.zav\nUSERS=many\nFONT.SIZE=x\nMAXPRINT=-\nOPENGLMODE=q\nZAVTAID=ABC\n"
        "COMMAND=Yes\nMEMORY.SORT=perhaps\n");
  EXPECT_TRUE(Messages.empty());
  EXPECT_NE(main->commandWindow(), nullptr);
  EXPECT_EQ(UserWindows(), 0);
  EXPECT_EQ(env.MaxPrint, kDefaultMaxPrint);
  EXPECT_TRUE(env.MemorySort);
  EXPECT_EQ(graphics.PixelFormatIndex, 0);
  EXPECT_NE(s->FindName(u"Logo"), nullptr);  // the one library that exists
  EXPECT_EQ(main->envFont().pointSize(), SettingsDefaults::kFontSize);
}

TEST_F(StartupTest, CtrlHeldIgnoresTheCommandLine) {
  const fs::path file = base / "f.zav";
  WriteBytes(file, "make \"forced 1\n");
  env.ResetRequested = true;
  input.CtrlHeld = true;
  Start(kSettings, {u"!Extra.zav", PathText(file)});
  EXPECT_EQ(s->FindName(u"forced"), nullptr);
  EXPECT_FALSE(env.LibrariesFromCommandLine);
}

TEST_F(StartupTest, OnlyAnUncheckedGraphicsItemRemakesTheContextOnce) {
  Start(kSettings);
  QMenu* formats = main->mainMenu()->advancedModeMenu();
  ASSERT_EQ(formats->actions().size(), 3);
  formats->actions()[1]->trigger();  // format 2, in use
  Action("MenuHardware")->trigger();  // format 2 as well
  EXPECT_TRUE(plane.Recreated.empty());
  EXPECT_TRUE(Action("MenuHardware")->isChecked());
  Action("MenuSoftware")->trigger();
  EXPECT_EQ(plane.Recreated, std::vector<int>{3});
  EXPECT_EQ(graphics.PixelFormatIndex, 3);
  EXPECT_TRUE(formats->actions()[2]->isChecked());
  EXPECT_FALSE(Action("MenuHardware")->isChecked());
  // During a run the item is disabled and a trigger does nothing.
  ++in->RunNesting;
  Q_EMIT main->findChild<QMenu*>(QStringLiteral("MenuOptions"))->aboutToShow();
  EXPECT_FALSE(main->findChild<QMenu*>(QStringLiteral("MenuGraphics"))->menuAction()->isEnabled());
  EXPECT_FALSE(Action("MenuFont")->isEnabled());
  formats->actions()[0]->trigger();
  --in->RunNesting;
  EXPECT_EQ(plane.Recreated.size(), 1u);
  EXPECT_EQ(graphics.PixelFormatIndex, 3);
}

TEST_F(StartupTest, ViewItemsToggleTheirWindowsAndTheHelpItemsWaitForAHelpWindow) {
  Start(kSettings);
  const struct {
    const char* Item;
    std::function<bool()> Open;
  } items[] = {
      {"MenuOutput", [this] { return main->output() != nullptr; }},
      {"MenuCommand", [this] { return main->commandWindow() != nullptr; }},
      {"MenuMemory", [this] { return main->memoryWindow() != nullptr; }},
      {"MenuPlane", [this] { return plane.Open; }},
  };
  for (const auto& item : items) {
    const bool before = item.Open();
    Action(item.Item)->trigger();
    EXPECT_NE(item.Open(), before) << item.Item;
    EXPECT_EQ(Action(item.Item)->isChecked(), item.Open()) << item.Item;
    Action(item.Item)->trigger();
    EXPECT_EQ(item.Open(), before) << item.Item;
    EXPECT_EQ(Action(item.Item)->isChecked(), before) << item.Item;
  }
  for (const char* name : {"MenuInfo", "MenuSearch", "MenuHome", "PopupHelp"}) EXPECT_FALSE(Action(name)->isEnabled());
}

TEST_F(StartupTest, FileAndEditCommandsReachTheActiveWindowsKind) {
  Start(kSettings);
  const fs::path file = base / "b.zav";
  WriteBytes(file, "print 1\n");
  prompts.OpenAnswer = {QString::fromStdString(file.string())};
  Action("MenuOpen")->trigger();
  Action("MenuOpen")->trigger();  // already open: no second window
  TSource* source = main->FindSourceFile(QString::fromStdString(file.string()));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(main->sourceWindows().size(), 2);  // the command window and b.zav
  main->mdiArea()->setActiveSubWindow(source);
  source->editor()->selectAll();
  Action("MenuCut")->trigger();
  EXPECT_TRUE(source->editor()->toPlainText().isEmpty());
  Action("MenuPaste")->trigger();
  source->editor()->insertPlainText(QStringLiteral("print 2\n"));
  Action("MenuSave")->trigger();
  EXPECT_FALSE(source->editor()->document()->isModified());
  EXPECT_EQ(ReadBytes(file).substr(0, 2), "\xFF\xFE");  // written as a source file again
  // The output window saves its own text.
  TOutput* output = main->openOutput();
  output->PrintLine(u"hello", 0, false);
  main->mdiArea()->setActiveSubWindow(output);
  prompts.SaveAnswer = QString::fromStdString((base / "out.txt").string());
  Action("MenuSaveAs")->trigger();
  EXPECT_NE(ReadBytes(base / "out.txt").find("hello"), std::string::npos);
  EXPECT_EQ(prompts.FilterAsked, sfText);
}

TEST_F(StartupTest, AFontOrLanguageChangeReachesTheOpenWindowsButNotDuringARun) {
  Start("OUTPUT=Yes\n" + std::string(kSettings));
  QFont font(QStringLiteral("Monospace"), 17);
  prompts.FontAnswer = font;
  ++in->RunNesting;
  Action("MenuFont")->trigger();
  --in->RunNesting;
  EXPECT_NE(main->output()->editor()->font().pointSize(), 17);
  Action("MenuFont")->trigger();
  EXPECT_EQ(main->output()->editor()->font().pointSize(), 17);
  EXPECT_EQ(main->commandWindow()->editor()->font().pointSize(), 17);
  main->mainMenu()->languageClick(QStringLiteral("Test"));
  EXPECT_EQ(main->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QString::fromUtf8("Файл"));
  // Without a help window the context menu's item keeps the Help caption.
  TCommandWindow* command = main->commandWindow();
  command->editor()->setPlainText(QStringLiteral("print 1"));
  main->mdiArea()->setActiveSubWindow(command);
  main->mainMenu()->preparePopup(*command, QPoint(5, 5));
  EXPECT_EQ(main->mainMenu()->pendingHelpWord(), QStringLiteral("print"));
  EXPECT_EQ(Action("PopupHelp")->text(), Action("MenuInfo")->text());
}

TEST_F(StartupTest, ARestartRestoresWhatTheExitSaved) {
  const fs::path ini = base / "user" / "default.ini";
  const fs::path a = base / "a.zav", b = base / "b.zav";
  WriteBytes(a, "print 1\n");
  WriteBytes(b, "print 2\n");
  env.SettingsPath = PathText(ini);
  Start("AUTOSAVE=Yes\nOUTPUT=Yes\n" + std::string(kSettings));
  main->OpenSourceFile(QString::fromStdString(a.string()));
  main->OpenSourceFile(QString::fromStdString(b.string()));
  main->mainMenu()->toggleLibrary(1);  // Turtle.zav
  main->mainMenu()->languageClick(QStringLiteral("Test"));
  Action("MenuOutput")->trigger();
  main->show();
  EXPECT_TRUE(main->close());

  NameValueList saved;
  ASSERT_TRUE(saved.LoadFromFile(PathText(ini)));
  EXPECT_EQ(U8(saved.RawValue(u"OUTPUT")), "No");
  EXPECT_EQ(U8(saved.RawValue(u"ENVIRONMENT")), "Test");
  EXPECT_EQ(U8(saved.RawValue(u"LIBRARIES")), "Logo.zav,Turtle.zav,Extra.zav,");
  EXPECT_EQ(U8(saved.RawValue(u"USERS")), "2");
  EXPECT_EQ(saved.RawValue(u"USER2.FILENAME"), PathText(b));
  EXPECT_EQ(U8(saved.RawValue(u"REOPEN0")), "b.zav");  // less the root folder
  EXPECT_EQ(U8(saved.RawValue(u"ZAVTAID")), "ABC");
}

}  // namespace
