#pragma once
// The main module's start-up: folders, version text, the user's help copy,
// the choice and loading of the settings file, and the start-up log.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "environment/EnvState.h"

// What the start-up needs from the process and the desktop.
struct StartupInput {
  std::u16string ProgramFolder;               // folder of the executable
  std::vector<std::u16string> Arguments;      // command-line parameters, without the program name
  bool ShiftHeld = false;                     // start-up log (gdm.log)
  bool CtrlHeld = false;                      // factory settings, command line ignored
  std::optional<std::u16string> XdgDataHome;  // $XDG_DATA_HOME, when set
  std::optional<std::u16string> Home;         // $HOME, when set
  // The launch folder; when given, the process's current folder is set to it
  // first. Empty: the process's current folder.
  std::u16string CurrentFolder;
};

// The main module's initialisation: debug mode, version, folders (created
// user folder), help refresh, empty error-page files, the choice and loading
// of the settings file, and the start values of the syntax colours. The
// process's current folder ends as the loaded settings file's folder. Never
// throws for bad files or folders.
void MainUnitInit(EnvState& env, const StartupInput& input);

// The per-user data folder, ending in "/": $XDG_DATA_HOME when it is an
// absolute path, else $HOME + "/.local/share" when $HOME is absolute; empty
// when neither gives one.
std::u16string GetAppDataFolder(const StartupInput& input);

// Copies the folder `from` (with or without a final "/") and everything in
// it into the folder `to`, as to + its last name; existing files are
// overwritten and every copied file keeps its modification time. False when
// anything could not be copied; never throws.
bool CopyFolder(const std::u16string& from, const std::u16string& to);

// Writes the help pages' error parameter files empty into the user's help
// folder. Errors are ignored; without a user folder nothing is written.
void ClearErrorPageFiles(EnvState& env);

// Sets the version texts from a file version "major.minor.x.build":
// "5.6.0.123" gives "5.6 (build 123)"; fewer than four parts give "?.??".
void ParseVersion(EnvState& env, std::u16string_view fileVersion);
