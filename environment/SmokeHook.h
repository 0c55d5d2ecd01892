#pragma once
// The program's test hook, driven by two environment variables.

#include <QObject>
#include <QString>
#include <QTimer>

class TMainForm;

// The test hook: once no run is on the stack, ZAVTA_TYPE types its text and
// Enter into the command window; with ZAVTA_SCREENSHOT=path, 500 ms after
// the last run the main window is grabbed to path (PNG), the output's text
// written to path + ".txt", and the main window closed; a modal dialog open
// when the pause ends is answered OK first. ExitCode is 1 when a write
// failed.
class SmokeHook : public QObject {
  Q_OBJECT
public:
  SmokeHook(TMainForm& main, QString typed, QString screenshot);
  void Start();
  int ExitCode = 0;

private:
  void Begin();
  void TypeIntoCommandWindow();
  void Capture();

  TMainForm& main_;
  QString typed_;
  QString screenshot_;
  QTimer settle_;
  bool started_ = false;  // the text was typed and the pause begun
};
