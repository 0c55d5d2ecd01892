#pragma once
// The library load commands: the text that every interpreter reset runs to
// load the libraries named by the LIBRARIES setting (or by a "!" list on the
// command line). Qt-free: the start-up and the headless runner share it.

#include <string>

struct EnvState;
struct StartupInput;

// The library list of the start: a first parameter "!lib1,lib2" (from its
// second character, at most 255 characters; not when Ctrl was held), which
// sets env.LibrariesFromCommandLine, else the LIBRARIES setting.
std::u16string StartLibraryList(EnvState& env, const StartupInput& input);

// For each comma-separated entry of the list, in order: the entry is trimmed
// and located with LocateFile; an entry whose file does not exist is skipped
// without a message. A found file loses a leading program folder or, failing
// that, a leading root folder (compared in upper case) and gives the command
// run-keyword + " \"'" + NormalizeName(file) + "',". The result is the
// commands joined in list order; empty when no file was found.
std::u16string BuildLibraryLoadCommands(EnvState& env, const std::u16string& librariesValue);
