#pragma once
// The command window: Enter runs the caret line through the line
// collector, Ctrl+Enter breaks the line. (The editors move it onto the
// source editor later.)

#include <QPlainTextEdit>
#include <memory>

#include "environment/CommandLine.h"
#include "environment/ZAVForm.h"

class TCommandWindow : public TZavtaForm {
  Q_OBJECT
public:
  explicit TCommandWindow(TMainForm& main);

  bool isCommandWindow() const override { return true; }
  void applySettings() override;
  QPlainTextEdit* editor() const { return edit_; }
  CommandLine& collector() { return *collector_; }
  // Stop's share: drops a waiting command; false when none waited.
  bool AbandonPendingCommand();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void RunCaretLine();
  void MoveToNextLine();

  QPlainTextEdit* edit_;
  // Shared so that a run during which the window closes keeps them alive.
  std::shared_ptr<CommandLineUi> ui_;
  std::shared_ptr<CommandLine> collector_;
};
