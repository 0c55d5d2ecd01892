#include "environment/Libraries.h"

#include <string_view>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/MainInit.h"

namespace {

// Blanks and control characters off both ends.
std::u16string Trimmed(std::u16string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && text[first] <= u' ') ++first;
  while (last > first && text[last - 1] <= u' ') --last;
  return std::u16string(text.substr(first, last - first));
}

// True when text begins with prefix, letter case ignored.
bool StartsWithUpper(const std::u16string& text, const std::u16string& prefix) {
  if (prefix.empty() || text.size() < prefix.size()) return false;
  return UpperCase(std::u16string_view(text).substr(0, prefix.size())) == UpperCase(prefix);
}

}  // namespace

std::u16string StartLibraryList(EnvState& env, const StartupInput& input) {
  constexpr size_t kMaxListLength = 255;
  if (!input.CtrlHeld && !input.Arguments.empty() && input.Arguments.front().starts_with(u'!')) {
    env.LibrariesFromCommandLine = true;
    return input.Arguments.front().substr(1, kMaxListLength);
  }
  return env.Settings.RawValue(u"LIBRARIES");
}

std::u16string BuildLibraryLoadCommands(EnvState& env, const std::u16string& librariesValue) {
  std::u16string list = librariesValue;
  if (list.empty() || list.back() != u',') list.push_back(u',');
  DebugLog(env, u"  List of libraries to autoload " + list);

  std::u16string commands;
  for (size_t comma = list.find(u','); comma != std::u16string::npos; comma = list.find(u',')) {
    std::u16string entry = LocateFile(env.S, Trimmed(std::u16string_view(list).substr(0, comma)));
    list = Trimmed(std::u16string_view(list).substr(comma + 1));
    if (!FileExists(entry)) continue;

    DebugLog(env, u"     - " + entry);
    if (StartsWithUpper(entry, env.ProgramFolder))
      entry.erase(0, env.ProgramFolder.size());
    else if (StartsWithUpper(entry, env.RootFolder))
      entry.erase(0, env.RootFolder.size());
    commands += env.S.Keyword(kwRun) + u" \"'" + env.S.NormalizeName(entry) + u"',";
  }
  return commands;
}
