#include "tests/support/HeadlessHost.h"

#include "core/Shell.h"
#include "core/Text.h"

int HeadlessHost::showMessageDialog(const std::u16string& message, const std::u16string& extra,
                                    const std::u16string& topic, int flags) {
  Dialogs.push_back({message, extra, topic, flags});
  if (OnDialog) {
    // A copy: the hook may open further dialogs.
    const ShownDialog shown = Dialogs.back();
    OnDialog(shown);
  }
  if (DialogAnswers.empty()) return drOk;
  const int answer = DialogAnswers.front();
  DialogAnswers.pop_front();
  return answer;
}

std::string HeadlessHost::Output() const {
  std::string out;
  for (const PrintedLine& line : Lines) {
    if (!out.empty()) out += '\n';
    out += Utf16ToUtf8(line.Text);
  }
  return out;
}

bool HeadlessHost::startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                                 const std::u16string& folder) {
  Started.push_back({program, arguments, folder});
  return !SpawnForReal || SpawnDetached(program, arguments, folder);
}
