#include "environment/Libraries.h"

#include <string_view>
#include <utility>

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

// A word quoted with single quotes for a run statement: each "'" doubled, so
// that a quote in a file name neither ends the word nor starts a statement.
std::u16string RunCommand(const std::u16string& runWord, const std::u16string& file) {
  std::u16string command = runWord + u" \"'";
  for (const char16_t c : file) {
    command.push_back(c);
    if (c == u'\'') command.push_back(u'\'');
  }
  return command + u"',";
}

std::vector<LibraryEntry> FixedEntries(const EnvState& env) {
  std::vector<LibraryEntry> entries;
  for (const char16_t* caption : kFixedLibraryCaptions)
    entries.push_back({caption, env.ProgramFolder + caption, false, true});
  return entries;
}

// Checks the item with this caption, or appends a new checked one.
void CheckOrAppend(std::vector<LibraryEntry>& entries, const std::u16string& caption, const std::u16string& path) {
  for (LibraryEntry& entry : entries) {
    if (entry.Caption == caption || entry.Caption + u".zav" == caption) {
      entry.Checked = true;
      entry.Path = path;
      return;
    }
  }
  entries.push_back({caption, path, true, false});
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

std::u16string LibraryCaption(const EnvState& env, const std::u16string& path) {
  if (!env.ProgramFolder.empty() && path.starts_with(env.ProgramFolder)) return path.substr(env.ProgramFolder.size());
  if (!env.RootFolder.empty() && path.starts_with(env.RootFolder)) return path.substr(env.RootFolder.size());
  return path;
}

std::vector<LibraryEntry> FoundLibraries(EnvState& env, const std::u16string& librariesValue) {
  std::u16string list = librariesValue;
  if (list.empty() || list.back() != u',') list.push_back(u',');
  DebugLog(env, u"  List of libraries to autoload " + list);

  std::vector<LibraryEntry> found;
  for (size_t comma = list.find(u','); comma != std::u16string::npos; comma = list.find(u',')) {
    const std::u16string located = LocateFile(env.S, Trimmed(std::u16string_view(list).substr(0, comma)));
    list = Trimmed(std::u16string_view(list).substr(comma + 1));
    if (!FileExists(located)) continue;
    DebugLog(env, u"     - " + located);
    found.push_back({LibraryCaption(env, located), located, true, false});
  }
  return found;
}

std::vector<LibraryEntry> MenuLibraryEntries(const EnvState& env, const std::vector<LibraryEntry>& found) {
  std::vector<LibraryEntry> entries = FixedEntries(env);
  for (const LibraryEntry& library : found) CheckOrAppend(entries, library.Caption, library.Path);
  return entries;
}

std::vector<LibraryEntry> BuildLibraryList(EnvState& env, const StartupInput& input,
                                           std::vector<LibraryEntry>* found) {
  std::vector<LibraryEntry> libraries = FoundLibraries(env, StartLibraryList(env, input));
  std::vector<LibraryEntry> entries = MenuLibraryEntries(env, libraries);
  if (found != nullptr) *found = std::move(libraries);
  return entries;
}

bool AddLibrary(EnvState& env, std::vector<LibraryEntry>& entries, const std::u16string& file) {
  if (!FileExists(file)) return false;
  CheckOrAppend(entries, LibraryCaption(env, file), file);
  return true;
}

std::u16string LoadCommands(const std::vector<LibraryEntry>& entries, const std::u16string& runWord) {
  std::u16string commands;
  for (const LibraryEntry& entry : entries)
    if (entry.Checked && FileExists(entry.Path)) commands += RunCommand(runWord, entry.Caption);
  return commands;
}

std::u16string ForcedFileCommand(const std::u16string& runWord, const std::u16string& file) {
  return RunCommand(runWord, file);
}

std::u16string BuildLibraryLoadCommands(EnvState& env, const std::u16string& librariesValue) {
  return LoadCommands(FoundLibraries(env, librariesValue), env.S.Keyword(kwRun));
}
