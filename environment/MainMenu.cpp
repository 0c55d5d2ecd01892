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
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/Main.h"
#include "environment/SrcWin.h"

namespace {

// A file name shown as a menu caption: "&" doubled so that it stays a
// character, not an accelerator mark.
QString MenuText(const std::u16string& text) { return QString::fromStdU16String(text).replace(u'&', QStringLiteral("&&")); }

}  // namespace

MainMenu::MainMenu(TMainForm& main) : QObject(&main), main_(main) {
  QMenuBar* bar = main.menuBar();
  if (QMenu* file = main.findChild<QMenu*>(QStringLiteral("MenuFile"))) {
    reopen_ = new QMenu(file);
    reopen_->setObjectName(QStringLiteral("MenuReopen"));
    file->insertMenu(main.action(QStringLiteral("MenuExit")), reopen_);
    file->insertSeparator(main.action(QStringLiteral("MenuExit")));
  }
  options_ = new QMenu(bar);
  options_->setObjectName(QStringLiteral("MenuOptions"));
  bar->insertMenu(main.action(QStringLiteral("ButRun")), options_);
  libraries_ = options_->addMenu(QString());
  libraries_->setObjectName(QStringLiteral("MenuLibraries"));
  language_ = options_->addMenu(QString());
  language_->setObjectName(QStringLiteral("MenuLanguage"));
  connect(options_, &QMenu::aboutToShow, this, &MainMenu::refreshEnabled);
  connect(reopen_, &QMenu::aboutToShow, this, &MainMenu::rebuildReopen);

  rebuildLibraries();
  rebuildReopen();
  rebuildLanguages();
  main.applyLanguage();
  options_->setVisible(main.env().AdvancedGui);
  options_->menuAction()->setVisible(main.env().AdvancedGui);
}

bool MainMenu::runActive() const { return main_.interpreter().RunNesting > 0; }

void MainMenu::refreshEnabled() {
  const bool idle = !runActive();
  libraries_->setEnabled(idle);
  language_->setEnabled(idle);
  libraries_->menuAction()->setEnabled(idle);
  language_->menuAction()->setEnabled(idle);
}

void MainMenu::rebuildLibraries() {
  libraries_->clear();
  const std::vector<LibraryEntry>& entries = main_.env().Libraries;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i - 1].Fixed && !entries[i].Fixed) libraries_->addSeparator();
    QAction* item = libraries_->addAction(MenuText(entries[i].Caption));
    item->setCheckable(true);
    item->setChecked(entries[i].Checked);
    item->setData(QString::fromStdU16String(entries[i].Path));
    const int index = static_cast<int>(i);
    connect(item, &QAction::triggered, this, [this, index] { toggleLibrary(index); });
  }
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

void MainMenu::rebuildReopen() {
  if (reopen_ == nullptr) return;
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
  TSource* source = main_.FindSource(QFileInfo(file).fileName());
  if (source != nullptr && source->FileName == file) {
    main_.mdiArea()->setActiveSubWindow(source);
  } else {
    source = main_.openSourceWindow(file);
  }
  source->editor()->setFocus();
}

void MainMenu::rebuildLanguages() {
  EnvState& env = main_.env();
  language_->clear();
  auto* group = new QActionGroup(language_);
  group->setExclusive(true);
  const QDir folder(QString::fromStdU16String(env.LanguagesFolder));
  for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
    const QString name = file.completeBaseName();
    QAction* item = language_->addAction(MenuText(LanguageDisplayName(env, name.toStdU16String())));
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
  EnvState& env = main_.env();
  SwitchLanguage(env, name.toStdU16String());
  // The load commands name "run" in the new language, or every reset would fail.
  rebuildLoadCommands();
  main_.setWindowTitle(QString::fromStdU16String(MainCaption(env, env.VersionText)));
  main_.applyLanguage();
  main_.setEnvFont(main_.envFont());  // each tool window takes its caption and font again
  rebuildLanguages();
}
