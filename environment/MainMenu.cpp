#include "environment/MainMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/CommandWin.h"
#include "environment/EnvServices.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/Main.h"
#include "environment/OutWin.h"
#include "environment/SrcWin.h"
#include "environment/VarWin.h"
#include "graphics/Graphics.h"
#include "graphics/PixelFormatMenu.h"
#include "graphics/plane/PlnWin.h"

namespace {

// A file name shown as a menu caption: "&" doubled so that it stays a
// character, not an accelerator mark.
QString MenuText(const std::u16string& text) { return QString::fromStdU16String(text).replace(u'&', QStringLiteral("&&")); }

bool IsSeparatorName(const char* name) { return name[0] == 'N' && name[1] >= '0' && name[1] <= '9'; }

}  // namespace

MainMenu::MainMenu(TMainForm& main) : QObject(&main), main_(main) {
  QMenuBar* bar = main.menuBar();
  file_ = AddMenu(nullptr, "MenuFile");
  AddItems(file_, {"MenuNew", "MenuOpen"});
  reopen_ = AddMenu(file_, "MenuReopen");
  AddItems(file_, {"N6", "MenuSave", "MenuSaveAs", "N1", "MenuPrint", "N12", "MenuExit"});
  AddItems(AddMenu(nullptr, "MenuEdit"), {"MenuCut", "MenuCopy", "MenuPaste", "MenuDelete", "N13", "MenuFind",
                                          "MenuFindNext", "MenuReplace"});
  AddItems(AddMenu(nullptr, "MenuView"), {"MenuOutput", "MenuPlane", "MenuCommand", "MenuMemory"});
  AddItems(AddMenu(nullptr, "MenuRunM"),
           {"MenuRun", "MenuStop", "N5", "MenuReset", "N3", "MenuStep", "MenuCmd", "MenuTo"});
  options_ = AddMenu(nullptr, "MenuOptions");
  libraries_ = AddMenu(options_, "MenuLibraries");
  AddItems(options_, {"MenuFont"});
  language_ = AddMenu(options_, "MenuLanguage");
  graphics_ = AddMenu(options_, "MenuGraphics");
  AddItems(graphics_, {"MenuHardware", "MenuSoftware", "N7"});
  advancedMode_ = AddMenu(graphics_, "MenuGraphicsMore");
  AddItems(AddMenu(nullptr, "MenuHelp"), {"MenuInfo", "MenuSearch", "N4", "MenuHome"});
  for (const char* name : {"N2", "ButRun", "ButStop", "MenuTimeSpent"})
    bar->addAction(main.action(QString::fromLatin1(name)));
  popup_ = new QMenu(&main);
  popup_->setObjectName(QStringLiteral("PopupMenu1"));
  popup_->addAction(main.action(QStringLiteral("PopupHelp")));

  Connect("MenuNew", &MainMenu::newClick);
  Connect("MenuOpen", &MainMenu::openClick);
  Connect("MenuSave", &MainMenu::saveClick);
  Connect("MenuSaveAs", &MainMenu::saveAsClick);
  Connect("MenuPrint", &MainMenu::printClick);
  Connect("MenuCut", &MainMenu::cutClick);
  Connect("MenuCopy", &MainMenu::copyClick);
  Connect("MenuPaste", &MainMenu::pasteClick);
  Connect("MenuFind", &MainMenu::findClick);
  Connect("MenuFindNext", &MainMenu::findNextClick);
  Connect("MenuReplace", &MainMenu::replaceClick);
  Connect("MenuOutput", &MainMenu::toggleOutput);
  Connect("MenuPlane", &MainMenu::togglePlane);
  Connect("MenuCommand", &MainMenu::toggleCommand);
  Connect("MenuMemory", &MainMenu::toggleMemory);
  Connect("MenuLibrariesLoad", &MainMenu::useAnotherLibrary);
  Connect("MenuFont", &MainMenu::fontClick);
  Connect("MenuInfo", &MainMenu::helpClick);
  Connect("PopupHelp", &MainMenu::helpClick);
  Connect("MenuSearch", &MainMenu::searchClick);
  Connect("MenuHome", &MainMenu::homeClick);
  for (const char* name : {"MenuHardware", "MenuSoftware"}) {
    QAction* item = main.action(QString::fromLatin1(name));
    connect(item, &QAction::triggered, this, [this, item] { graphicsClick(item); });
  }
  connect(advancedMode_, &QMenu::triggered, this, &MainMenu::graphicsClick);
  connect(options_, &QMenu::aboutToShow, this, &MainMenu::refreshEnabled);
  connect(reopen_, &QMenu::aboutToShow, this, &MainMenu::rebuildReopen);

  enableHelpItems();

  rebuildLibraries();
  rebuildReopen();
  rebuildLanguages();
  applyGuiMode(main.env().AdvancedGui);
  main.applyLanguage();
}

void MainMenu::enableHelpItems() {
  // Without a help window the help items have nothing to show.
  const bool help = main_.services().Help != nullptr;
  for (const char* name : {"MenuInfo", "MenuSearch", "MenuHome", "PopupHelp"})
    main_.action(QString::fromLatin1(name))->setEnabled(help);
}

QMenu* MainMenu::AddMenu(QMenu* parent, const char* name) {
  auto* menu = new QMenu(parent != nullptr ? static_cast<QWidget*>(parent) : main_.menuBar());
  menu->setObjectName(QString::fromLatin1(name));
  menu->menuAction()->setObjectName(QString::fromLatin1(name));
  if (parent != nullptr)
    parent->addMenu(menu);
  else
    main_.menuBar()->addMenu(menu);
  return menu;
}

void MainMenu::AddItems(QMenu* menu, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (IsSeparatorName(name)) {
      menu->addSeparator()->setObjectName(QString::fromLatin1(name));
      continue;
    }
    menu->addAction(main_.action(QString::fromLatin1(name)));
  }
}

void MainMenu::Connect(const char* name, void (MainMenu::*handler)()) {
  connect(main_.action(QString::fromLatin1(name)), &QAction::triggered, this, handler);
}

void MainMenu::applyGuiMode(bool advanced) {
  for (const char* name : {"MenuStep", "MenuCmd", "MenuTo", "MenuMemory"})
    main_.action(QString::fromLatin1(name))->setVisible(advanced);
  options_->menuAction()->setVisible(advanced);
  for (QAction* item : main_.findChild<QMenu*>(QStringLiteral("MenuRunM"))->actions())
    if (item->objectName() == QStringLiteral("N3") || item->objectName() == QStringLiteral("N5"))
      item->setVisible(advanced);
}

bool MainMenu::runActive() const { return main_.interpreter().RunNesting > 0; }

void MainMenu::refreshEnabled() {
  const bool idle = !runActive();
  for (QMenu* menu : {libraries_, language_, graphics_}) menu->menuAction()->setEnabled(idle);
  main_.action(QStringLiteral("MenuFont"))->setEnabled(idle);
}

TZavtaForm* MainMenu::activeTool() const { return main_.activeToolWindow(); }

// --- libraries ----------------------------------------------------------------------------

void MainMenu::rebuildLibraries() {
  libraries_->clear();
  const std::vector<LibraryEntry>& entries = main_.env().Libraries;
  bool separated = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].Fixed && !separated) {
      libraries_->addSeparator()->setObjectName(QStringLiteral("N10"));
      separated = true;
    }
    QAction* item = libraries_->addAction(MenuText(entries[i].Caption));
    item->setCheckable(true);
    item->setChecked(entries[i].Checked);
    item->setData(QString::fromStdU16String(entries[i].Path));
    const int index = static_cast<int>(i);
    connect(item, &QAction::triggered, this, [this, index] { toggleLibrary(index); });
  }
  if (!separated) libraries_->addSeparator()->setObjectName(QStringLiteral("N10"));
  libraries_->addSeparator()->setObjectName(QStringLiteral("N9"));
  libraries_->addAction(main_.action(QStringLiteral("MenuLibrariesLoad")));
}

void MainMenu::rebuildLoadCommands() {
  TInterpreter& in = main_.interpreter();
  in.LibraryLoadCommands = LoadCommands(main_.env().Libraries, in.S.Keyword(kwRun));
}

void MainMenu::toggleLibrary(int index) {
  std::vector<LibraryEntry>& entries = main_.env().Libraries;
  if (runActive() || index < 0 || static_cast<size_t>(index) >= entries.size()) {
    rebuildLibraries();  // a check mark Qt moved goes back
    return;
  }
  entries[static_cast<size_t>(index)].Checked = !entries[static_cast<size_t>(index)].Checked;
  rebuildLibraries();
  rebuildLoadCommands();
  main_.reset();
}

void MainMenu::useAnotherLibrary() {
  if (runActive()) return;
  EnvState& env = main_.env();
  const QStringList files = main_.prompts().openFileNames(&main_, QString::fromStdU16String(env.ProgramFolder));
  bool changed = false;
  for (const QString& file : files) changed = AddLibrary(env, env.Libraries, file.toStdU16String()) || changed;
  if (!changed) return;
  rebuildLibraries();
  rebuildLoadCommands();
  main_.reset();
}

// --- reopen list ----------------------------------------------------------------------------

void MainMenu::rebuildReopen() {
  reopen_->clear();
  const std::vector<ReopenEntry>& entries = main_.env().Reopen.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    QAction* item = reopen_->addAction(MenuText(entries[i].Caption));
    item->setData(QString::fromStdU16String(entries[i].FullPath));
    const int index = static_cast<int>(i);
    connect(item, &QAction::triggered, this, [this, index] { reopenClick(index); });
  }
  reopen_->setEnabled(!entries.empty());
}

void MainMenu::reopenClick(int index) {
  const std::vector<ReopenEntry>& entries = main_.env().Reopen.Entries();
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return;
  QString file = QString::fromStdU16String(entries[static_cast<size_t>(index)].FullPath);
  if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".zav");
  main_.runControl().SetRunState(main_.interpreter().RunState);
  main_.OpenSourceFile(file);
}

// --- languages and font -----------------------------------------------------------------------

void MainMenu::rebuildLanguages() {
  EnvState& env = main_.env();
  language_->clear();
  auto* group = new QActionGroup(language_);
  group->setExclusive(true);
  const QDir folder(QString::fromStdU16String(env.LanguagesFolder));
  for (const std::u16string& language : FindLanguages(env.LanguagesFolder)) {
    const QString name = QString::fromStdU16String(language);
    QAction* item = language_->addAction(MenuText(LanguageDisplayName(env, language)));
    item->setCheckable(true);
    item->setData(name);
    item->setActionGroup(group);
    item->setChecked(name.compare(QString::fromStdU16String(env.LanguageName), Qt::CaseInsensitive) == 0);
    const QString picture = folder.filePath(name + QStringLiteral(".bmp"));
    if (QFileInfo::exists(picture)) item->setIcon(QIcon(picture));
    connect(item, &QAction::triggered, this, [this, name] { languageClick(name); });
  }
}

void MainMenu::languageClick(const QString& name) {
  if (runActive()) {
    rebuildLanguages();  // the check mark stays on the language in use
    return;
  }
  SwitchLanguage(main_.env(), name.toStdU16String());
  // The load commands name "run" in the new language, or every reset would fail.
  rebuildLoadCommands();
  main_.applyLanguage(true);
  rebuildLanguages();
}

void MainMenu::fontClick() {
  if (runActive()) return;
  const std::optional<QFont> font = main_.prompts().chooseFont(&main_, main_.envFont());
  if (!font) return;
  main_.setEnvFont(*font);
  main_.applyLanguage(true);
}

// --- graphics ---------------------------------------------------------------------------------

void MainMenu::buildPixelFormats() {
  PlaneServices* plane = main_.services().Plane;
  if (plane == nullptr) return;
  advancedMode_->clear();
  plane->buildPixelFormatMenu(
      main_, {advancedMode_, main_.action(QStringLiteral("MenuHardware")), main_.action(QStringLiteral("MenuSoftware"))});
}

int MainMenu::pixelFormatInUse() const {
  TInterpreter& in = main_.interpreter();
  return in.OwnGraphics != nullptr ? Graphics::Of(in).PixelFormatIndex : 0;
}

void MainMenu::checkGraphicsItems(int tag) {
  const auto check = [tag](QAction* item) {
    if (item->isCheckable()) item->setChecked(item->data().toInt() == tag && tag != 0);
  };
  check(main_.action(QStringLiteral("MenuHardware")));
  check(main_.action(QStringLiteral("MenuSoftware")));
  for (QAction* item : advancedMode_->actions()) check(item);
}

void MainMenu::graphicsClick(QAction* item) {
  const int tag = item != nullptr ? item->data().toInt() : 0;
  const int inUse = pixelFormatInUse();
  // Qt moved the check mark already; the one in use, the list's header and
  // a click during a run change nothing.
  if (runActive() || tag <= 0 || tag == kPixelFormatHeaderTag || tag == inUse) {
    checkGraphicsItems(inUse);
    return;
  }
  TInterpreter& in = main_.interpreter();
  if (in.OwnGraphics != nullptr) Graphics::Of(in).PixelFormatIndex = tag;
  checkGraphicsItems(tag);
  PlaneServices* plane = main_.services().Plane;
  if (plane != nullptr && plane->isOpen(main_)) plane->recreateContext(main_, tag);
}

// --- File and Edit: by the active tool window's kind ----------------------------------------

void MainMenu::newClick() {
  TSource* source = main_.newSourceWindow();
  source->editor()->setFocus();
}

void MainMenu::openClick() {
  for (const QString& file : main_.prompts().openFileNames(&main_, QString()))
    if (TSource* source = main_.OpenSourceFile(file)) source->editor()->setFocus();
}

void MainMenu::saveClick() {
  if (auto* source = qobject_cast<TSource*>(activeTool()); source != nullptr && !source->isCommandWindow())
    source->Save();
}

void MainMenu::saveAsClick() {
  TZavtaForm* tool = activeTool();
  if (tool == nullptr) return;
  switch (tool->kind()) {
    case ToolKind::Source:
      static_cast<TSource*>(tool)->SaveAs();
      break;
    case ToolKind::Output:
      static_cast<TOutput*>(tool)->SaveToFile();
      break;
    case ToolKind::Plane:
      static_cast<TPlane*>(tool)->SaveImageAs();
      break;
    default:
      break;
  }
}

void MainMenu::printClick() {
  TZavtaForm* tool = activeTool();
  if (tool == nullptr) return;
  switch (tool->kind()) {
    case ToolKind::Source:
      static_cast<TSource*>(tool)->SourcePrint();
      break;
    case ToolKind::Output:
      static_cast<TOutput*>(tool)->PrintOutput();
      break;
    case ToolKind::Plane:
      static_cast<TPlane*>(tool)->PrintPlane();
      break;
    default:
      break;
  }
}

namespace {

// The editor of a source or the output window; null for the others.
QPlainTextEdit* TextEditorOf(TZavtaForm* tool) {
  if (tool == nullptr) return nullptr;
  if (tool->kind() == ToolKind::Source) return static_cast<TSource*>(tool)->editor();
  if (tool->kind() == ToolKind::Output) return static_cast<TOutput*>(tool)->editor();
  return nullptr;
}

}  // namespace

void MainMenu::cutClick() {
  if (QPlainTextEdit* editor = TextEditorOf(activeTool())) editor->cut();
}

void MainMenu::pasteClick() {
  if (QPlainTextEdit* editor = TextEditorOf(activeTool())) editor->paste();
}

void MainMenu::copyClick() {
  TZavtaForm* tool = activeTool();
  if (QPlainTextEdit* editor = TextEditorOf(tool)) {
    editor->copy();
  } else if (tool != nullptr && tool->kind() == ToolKind::Plane) {
    static_cast<TPlane*>(tool)->CopyToClipboard();
  } else if (tool != nullptr && tool->kind() == ToolKind::Memory) {
    static_cast<TDebugVars*>(tool)->CopySelectionToClipboard();
  }
}

void MainMenu::findClick() {
  if (auto* source = qobject_cast<TSource*>(activeTool())) source->Find();
}

void MainMenu::findNextClick() {
  if (auto* source = qobject_cast<TSource*>(activeTool())) source->FindNext();
}

void MainMenu::replaceClick() {
  if (auto* source = qobject_cast<TSource*>(activeTool())) source->Replace();
}

// --- View -------------------------------------------------------------------------------------

void MainMenu::syncViewChecks() {
  const auto check = [this](const char* name, bool open) { main_.action(QString::fromLatin1(name))->setChecked(open); };
  check("MenuOutput", main_.output() != nullptr);
  check("MenuCommand", main_.commandWindow() != nullptr);
  check("MenuMemory", main_.memoryWindow() != nullptr);
  PlaneServices* plane = main_.services().Plane;
  check("MenuPlane", plane != nullptr ? plane->isOpen(main_) : main_.plane() != nullptr);
}

namespace {

// Closes the window at once, so that its reference is gone on return.
void CloseNow(TZavtaForm* window) {
  if (window != nullptr) window->close();
}

}  // namespace

void MainMenu::toggleOutput() {
  if (TOutput* output = main_.output())
    CloseNow(output);
  else
    main_.openOutput();
  syncViewChecks();
}

void MainMenu::toggleCommand() {
  if (TCommandWindow* command = main_.commandWindow())
    CloseNow(command);
  else
    main_.openCommandWindow();
  syncViewChecks();
}

void MainMenu::toggleMemory() {
  if (TDebugVars* memory = main_.memoryWindow())
    CloseNow(memory);
  else
    main_.openMemoryWindow();
  syncViewChecks();
}

void MainMenu::togglePlane() {
  PlaneServices* plane = main_.services().Plane;
  if (plane != nullptr) {
    if (plane->isOpen(main_))
      plane->closePlane(main_);
    else
      plane->openPlane(main_);
  } else if (TPlane* open = main_.plane()) {
    CloseNow(open);
  } else {
    main_.openPlane();
  }
  syncViewChecks();
}

// --- Help -------------------------------------------------------------------------------------

void MainMenu::helpClick() {
  HelpProvider* help = main_.services().Help;
  if (help == nullptr) return;
  if (!pendingHelpWord_.isEmpty() && help->isHelpTopic(pendingHelpWord_))
    help->enterAddress(pendingHelpWord_);
  else
    help->showStartPage();
  pendingHelpWord_.clear();
}

void MainMenu::searchClick() {
  if (HelpProvider* help = main_.services().Help) help->showSearchPage();
}

void MainMenu::homeClick() {
  if (HelpProvider* help = main_.services().Help) help->showHomePage();
}

void MainMenu::attachPopup(TSource& source) {
  SourceEditor* editor = source.editor();
  editor->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(editor, &QWidget::customContextMenuRequested, this, [this, &source](const QPoint& point) {
    preparePopup(source, point);
    popup_->popup(source.editor()->viewport()->mapToGlobal(point));
  });
}

void MainMenu::preparePopup(TSource& source, const QPoint& viewportPoint) {
  pendingHelpWord_.clear();
  if (activeTool() == &source) {
    const QTextCursor cursor = source.editor()->cursorForPosition(viewportPoint);
    source.editor()->setTextCursor(cursor);
    pendingHelpWord_ = source.WordAt(cursor.position()).trimmed();
  }
  HelpProvider* help = main_.services().Help;
  QAction* item = main_.action(QStringLiteral("PopupHelp"));
  const bool topic = help != nullptr && !pendingHelpWord_.isEmpty() && help->isHelpTopic(pendingHelpWord_);
  item->setText(topic ? pendingHelpWord_ : main_.action(QStringLiteral("MenuInfo"))->text());
}
