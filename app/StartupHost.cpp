#include "app/StartupHost.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

#include "core/Text.h"

void StartupHost::processMessages() { QCoreApplication::processEvents(); }

void StartupHost::waitAndProcessMessages(int ms) {
  QThread::msleep(static_cast<unsigned long>(ms > 0 ? ms : 0));
  QCoreApplication::processEvents();
}

void StartupHost::printLine(const std::u16string& text, uint32_t, bool) {
  std::fprintf(stdout, "%s\n", Utf16ToUtf8(text).c_str());
  std::fflush(stdout);
}

int StartupHost::showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string&,
                                   int) {
  std::fprintf(stderr, "%s\n", Utf16ToUtf8(extra.empty() ? message : message + u"\n" + extra).c_str());
  return drOk;
}
