#include "environment/ReopenList.h"

#include "core/Trans.h"
#include "environment/EnvState.h"
#include "environment/Libraries.h"

namespace {

// True when longer ends with shorter and the ending starts the whole name or
// follows a "/".
bool EndsAtFolder(const std::u16string& longer, const std::u16string& shorter) {
  if (shorter.empty() || !longer.ends_with(shorter)) return false;
  const size_t start = longer.size() - shorter.size();
  return start == 0 || longer[start - 1] == u'/';
}

std::u16string ReopenKey(size_t index) { return u"REOPEN" + std::u16string(1, static_cast<char16_t>(u'0' + index)); }

}  // namespace

bool NamesSameFile(const std::u16string& a, const std::u16string& b) {
  return a == b || EndsAtFolder(a, b) || EndsAtFolder(b, a);
}

void ReopenList::Add(const EnvState& env, const std::u16string& file) {
  const std::u16string& name = file;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (NamesSameFile(it->FullPath, name) || NamesSameFile(it->Caption, name)) {
      entries_.erase(it);
      break;
    }
  }
  entries_.insert(entries_.begin(), {LibraryCaption(env, name), name});
}

void ReopenList::LoadFromSettings(EnvState& env) {
  for (size_t i = kSavedEntries; i-- > 0;) {
    const std::u16string caption = env.Settings.RawValue(ReopenKey(i));
    if (caption.empty()) continue;
    const std::u16string path = LocateFile(env.S, caption);
    Add(env, path);
    entries_.front().Caption = caption;
    DebugLog(env, u"     - " + caption);
  }
}

void ReopenList::SaveToSettings(EnvState& env) const {
  for (size_t i = 0; i < kSavedEntries && i < entries_.size(); ++i) env.Settings.SetValue(ReopenKey(i), entries_[i].Caption);
}
