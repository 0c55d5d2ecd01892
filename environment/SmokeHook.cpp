#include "environment/SmokeHook.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>

#include "core/Trans.h"
#include "environment/CommandWin.h"
#include "environment/Main.h"
#include "environment/OutWin.h"

namespace {

constexpr int kSettleMs = 500;

}  // namespace

// --- the test hook ---------------------------------------------------------------------

SmokeHook::SmokeHook(TMainForm& main, QString typed, QString screenshot)
    : main_(main), typed_(std::move(typed)), screenshot_(std::move(screenshot)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &SmokeHook::Capture);
  connect(&main_, &TMainForm::runsFinished, this, [this] {
    if (!started_) {
      QTimer::singleShot(0, this, &SmokeHook::Begin);
      return;
    }
    if (!screenshot_.isEmpty()) settle_.start();
  });
}

void SmokeHook::Start() { QTimer::singleShot(0, this, &SmokeHook::Begin); }

void SmokeHook::Begin() {
  // A run on the stack (the forced file) comes first: its end begins again.
  if (started_ || main_.interpreter().RunNesting > 0) return;
  started_ = true;
  if (!typed_.isEmpty()) TypeIntoCommandWindow();
  if (!screenshot_.isEmpty()) settle_.start();
}

void SmokeHook::TypeIntoCommandWindow() {
  TCommandWindow* command = main_.commandWindow();
  if (command == nullptr) return;
  QWidget* editor = command->editor();
  const auto post = [editor](int key, const QString& text) {
    QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(editor, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
  };
  for (const QChar ch : typed_) post(ch.isLetterOrNumber() ? int{ch.toUpper().unicode()} : int{Qt::Key_unknown}, ch);
  post(Qt::Key_Return, QStringLiteral("\r"));
}

void SmokeHook::Capture() {
  // A modal dialog (an error report, say) waits for a user the hook does not
  // have: it is answered OK and the pause begins again, so that the run it
  // held can end.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
    dialog->done(QDialog::Accepted);
    settle_.start();
    return;
  }
  // The pause counts from the last run's end; a run's end restarts it.
  if (main_.interpreter().RunNesting > 0) return;
  bool written = main_.grab().save(screenshot_, "PNG");
  QFile text(screenshot_ + QStringLiteral(".txt"));
  QString output;
  if (TOutput* window = main_.output()) output = window->Text() + u'\n';
  written = text.open(QIODevice::WriteOnly | QIODevice::Truncate) && text.write(output.toUtf8()) >= 0 && text.flush() &&
            written;
  ExitCode = written ? 0 : 1;
  main_.close();
}
