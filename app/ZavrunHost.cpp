#include "app/ZavrunHost.h"

#include <cstdio>
#include <ctime>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"

volatile std::sig_atomic_t ZavrunHost::InterruptSignal = 0;

std::string OutputLines(const std::u16string& text, int maxPrint) {
  const std::u16string shown = CutLine(text, maxPrint);
  std::string out;
  out.reserve(shown.size() + 1);
  size_t start = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] != u'\r' && shown[i] != u'\n') continue;
    out += Utf16ToUtf8(shown.substr(start, i - start));
    out += '\n';
    if (shown[i] == u'\r' && i + 1 < shown.size() && shown[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  out += Utf16ToUtf8(shown.substr(start));
  out += '\n';
  return out;
}

void ZavrunHost::processMessages() {
  // An interrupt asks the run to stop, whatever state it runs in (a command
  // line runs in the idle state): the interpreter ends at its next test.
  if (InterruptSignal != 0 && interpreter_ != nullptr && interpreter_->RunState != rsStop)
    SetRunState(*interpreter_, rsStop);
}

void ZavrunHost::waitAndProcessMessages(int ms) {
  if (ms > 0) {
    const timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
  }
  processMessages();
}

void ZavrunHost::printLine(const std::u16string& text, uint32_t, bool) {
  const std::u16string shown = CutLine(text, MaxPrint);
  const std::string lines = OutputLines(shown, 0);
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  if (structure_ != nullptr) WriteLog(*structure_, lcOutput, shown);
}

int ZavrunHost::showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string&,
                                  int) {
  if (message.empty()) return drOk;
  // Whatever was printed before the dialog comes first on a shared terminal.
  std::fflush(stdout);
  const std::string shown = OutputLines(DialogText(message, extra), 0);
  std::fwrite(shown.data(), 1, shown.size(), stderr);
  std::fflush(stderr);
  return drOk;
}
