#pragma once
// The library menu's model and the load commands built from it: the text
// that every interpreter reset runs to load the checked libraries. Qt-free:
// the start-up, the menu and the headless runner share it.

#include <string>
#include <vector>

struct EnvState;
struct StartupInput;

// One item of the library menu. Caption is what the menu shows and what the
// settings store: the located file less a leading program folder or, failing
// that, root folder. Path is the located file, kept so that later changes
// never have to find it again.
struct LibraryEntry {
  std::u16string Caption;
  std::u16string Path;
  bool Checked = false;
  bool Fixed = false;  // one of the three items the menu always has
};

// The captions of the menu's fixed items, in menu order.
inline constexpr const char16_t* kFixedLibraryCaptions[] = {u"Logo.zav", u"Turtle.zav", u"Graphix.zav"};

// The library list of the start: a first parameter "!lib1,lib2" (from its
// second character, at most 255 characters; not when Ctrl was held), which
// sets env.LibrariesFromCommandLine, else the LIBRARIES setting.
std::u16string StartLibraryList(EnvState& env, const StartupInput& input);

// The libraries a comma-separated list names, in list order, checked. Each
// entry is trimmed and located with LocateFile; one whose file does not
// exist is skipped without a message. Logs the list and each found file.
std::vector<LibraryEntry> FoundLibraries(EnvState& env, const std::u16string& list);
// The menu model: the three fixed items first (checked when found names
// them), then every other found library in order. Captions compare exactly:
// file names are never case-folded.
std::vector<LibraryEntry> MenuLibraryEntries(const EnvState& env, const std::vector<LibraryEntry>& found);
// The menu model for the start's list (StartLibraryList); found, when given,
// receives the libraries in list order, the order of the first load.
std::vector<LibraryEntry> BuildLibraryList(EnvState& env, const StartupInput& input,
                                           std::vector<LibraryEntry>* found = nullptr);

// Puts a chosen file into the model: an item with the same caption (or the
// caption + ".zav") gets its check mark, else a new checked item is appended.
// False when the file does not exist.
bool AddLibrary(EnvState& env, std::vector<LibraryEntry>& entries, const std::u16string& file);

// The caption of a located library file: less a leading program folder or,
// failing that, a leading root folder (compared exactly).
std::u16string LibraryCaption(const EnvState& env, const std::u16string& path);

// The load commands of the checked entries whose file still exists, in
// order: runWord + " \"'" + caption with every "'" doubled + "',".
std::u16string LoadCommands(const std::vector<LibraryEntry>& entries, const std::u16string& runWord);

// The command that runs a source file after the libraries:
// runWord + " \"'" + file with every "'" doubled + "',".
std::u16string ForcedFileCommand(const std::u16string& runWord, const std::u16string& file);

// The load commands for a LIBRARIES value: LoadCommands over
// FoundLibraries with the current language's "run" (the headless
// runner's entry).
std::u16string BuildLibraryLoadCommands(EnvState& env, const std::u16string& librariesValue);
