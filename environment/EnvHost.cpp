#include "environment/EnvHost.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include "environment/Main.h"
#include "environment/OutWin.h"
#include "environment/SrcWin.h"
#include "environment/VarWin.h"

void EnvironmentHost::processMessages() { QCoreApplication::processEvents(); }

void EnvironmentHost::waitAndProcessMessages(int ms) {
  // Waits in the event loop, so that clicks arrive while the run pauses.
  QEventLoop loop;
  QTimer::singleShot(ms > 0 ? ms : 0, &loop, &QEventLoop::quit);
  loop.exec();
}

void EnvironmentHost::printLine(const std::u16string& text, uint32_t colour, bool bold) {
  if (main_ == nullptr) return;
  if (TOutput* output = main_->output()) output->PrintLine(text, colour, bold);
}

int EnvironmentHost::showMessageDialog(const std::u16string& message, const std::u16string& extra,
                                       const std::u16string&, int flags) {
  if (main_ == nullptr) return message.empty() ? drOk : drOther;
  return main_->showMessage(QString::fromStdU16String(message), QString::fromStdU16String(extra), flags);
}

void EnvironmentHost::setRunState(uint8_t state) {
  if (main_ != nullptr) main_->runControl().ShowRunState(state);
}

SourceView* EnvironmentHost::findSource(const std::u16string& name) {
  TSource* source = main_ != nullptr ? main_->FindSource(QString::fromStdU16String(name)) : nullptr;
  return source != nullptr ? &source->view() : nullptr;
}

void EnvironmentHost::refreshMemory() {
  if (main_ == nullptr) return;
  if (TDebugVars* memory = main_->memoryWindow()) memory->RefreshVariables();
}

void EnvironmentHost::showHelp(const std::u16string& topic) {
  if (main_ != nullptr) main_->openHelp(QString::fromStdU16String(topic));
}

void EnvironmentHost::setElapsedTime(const std::u16string& text) {
  if (main_ == nullptr) return;
  if (QAction* item = main_->action(QStringLiteral("MenuTimeSpent"))) item->setText(QString::fromStdU16String(text));
}

bool EnvironmentHost::startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                                    const std::u16string& folder) {
  QStringList list;
  for (const std::u16string& argument : arguments) list << QString::fromStdU16String(argument);
  return QProcess::startDetached(QString::fromStdU16String(program), list, QString::fromStdU16String(folder));
}

void EnvironmentHost::runsEnded() {
  if (main_ != nullptr) main_->runsEnded();
}
