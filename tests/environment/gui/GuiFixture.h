#pragma once
// A main window over a real interpreter for widget tests (offscreen): the
// environment host, English keywords, a root frame, and prompts the test
// answers.

#include <QApplication>
#include <QPrinter>
#include <memory>
#include <optional>
#include <vector>

#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvHost.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/Prompts.h"
#include "tests/support/TestState.h"

class FakePrompts : public Prompts {
public:
  std::optional<QString> saveFileName(QWidget*, int filterEntry) override {
    FilterAsked = filterEntry;
    return SaveAnswer;
  }
  bool setUpPrinter(QWidget*, QPrinter& printer) override {
    if (PdfPath.isEmpty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(PdfPath);
    return true;
  }
  QStringList openFileNames(QWidget*, const QString&) override { return OpenAnswer; }
  std::optional<QFont> chooseFont(QWidget*, const QFont&) override { return FontAnswer; }
  std::optional<QString> SaveAnswer;
  QStringList OpenAnswer;
  std::optional<QFont> FontAnswer;
  int FilterAsked = 0;
  QString PdfPath;
};

// The environment host, recording the dialog's answers.
class RecordingEnvHost : public EnvironmentHost {
public:
  int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                        int flags) override {
    const int answer = EnvironmentHost::showMessageDialog(message, extra, topic, flags);
    Answers.push_back(answer);
    return answer;
  }
  void setRunState(uint8_t state) override {
    States.push_back(state);
    EnvironmentHost::setRunState(state);
  }
  std::vector<int> Answers;
  std::vector<uint8_t> States;
};

struct GuiFixture {
  GuiFixture() : s(std::make_unique<TStructure>(host)), env(*s) {
    UseEnglishKeywords(*s);
    s->EnterFrame(NewVariable(*s, u"[Root]", nullptr));
    in = std::make_unique<TInterpreter>(*s);
    env.LanguageTexts.SetText(
        u"CAPTION.OUTPUT=Output\nCAPTION.COMMAND=Command\n"
        u"CAPTION.COMMAND.INCOMPLETE=Command (incomplete: %s)");
    main = std::make_unique<TMainForm>(*in, env, prompts);
    host.attach(main.get());
  }
  ~GuiFixture() {
    host.attach(nullptr);
    main.reset();
  }

  RecordingEnvHost host;
  std::unique_ptr<TStructure> s;
  EnvState env;
  std::unique_ptr<TInterpreter> in;
  FakePrompts prompts;
  std::unique_ptr<TMainForm> main;
};
