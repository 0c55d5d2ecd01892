#pragma once
// The environment's globals, Qt-free: folders, version, the settings and
// language stores and the start-up switches. Functions take it by reference
// so that tests build fresh ones.

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "environment/Libraries.h"
#include "environment/ReopenList.h"
#include "environment/Settings.h"

class TStructure;

// Indices of SyntaxColors.
enum SyntaxColour : int {
  scPrimitive = 0,
  scText,
  scNumber,
  scVariable,
  scWord,
  scComment,
  scLibrary,
  kSyntaxColourCount,
};

struct EnvState {
  explicit EnvState(TStructure& structure) : S(structure) {}

  TStructure& S;  // the interpreter state; its folder fields are kept in step

  // --- folders, each ending in "/" ------------------------------------------------
  std::u16string ProgramFolder;     // folder of the executable
  std::u16string ImagesFolder;      // ProgramFolder + "../Images/"
  std::u16string RootFolder;        // parent of a ".../System/" program folder
  std::u16string LanguagesFolder;   // ProgramFolder + "../Languages/"
  std::u16string CharactersFolder;  // ProgramFolder + "../Characters/"
  std::u16string HelpFolder;        // ProgramFolder + "../Help/" (read-only)
  std::u16string UserFolder;        // per-user data folder + "Zavta56/"; empty when none
  std::u16string UserHelpFolder;    // UserFolder + "Help/"
  std::u16string LaunchFolder;      // the current folder at start

  // --- version --------------------------------------------------------------------
  std::u16string VersionText = u"?.??";
  std::u16string VersionMajor, VersionMinor, VersionBuild;

  // --- start-up switches ------------------------------------------------------------
  bool DebugLogMode = false;    // Shift held at start: gdm.log
  bool ResetRequested = false;  // Ctrl held at start: factory settings
  bool WindowsXPOrLater = true;
  bool RuntimeMode = false;
  bool Quitting = false;
  bool EnvironmentReady = false;
  bool LibrariesFromCommandLine = false;        // the libraries came from a "!" parameter: LIBRARIES is not saved
  std::u16string ForcedSourceFile;              // the ".zav" parameter run after the libraries; empty: none
  std::vector<std::u16string> PendingDebugLog;  // lines logged before UserFolder was known

  // --- settings ----------------------------------------------------------------------
  NameValueList Settings;
  std::u16string SettingsPath;    // save target at exit; empty: nothing is saved
  std::u16string SettingsFolder;  // folder of the settings file that was loaded
  std::array<RgbColour, kSyntaxColourCount> SyntaxColors{};

  // --- language ----------------------------------------------------------------------
  NameValueList LanguageTexts;
  std::u16string LanguageName;  // the language file's name without ".txt"
  int Charset = 1;              // character set of the environment font

  // --- output -------------------------------------------------------------------------
  int MaxPrint = 4000;  // longest output line shown whole (MAXPRINT); 0 or less: no cut

  // --- editors and the memory window ----------------------------------------------------
  bool AdvancedGui = false;           // ADVANCEDGUI: the source windows' marker margin
  bool MemoryExpandCallStack = true;  // MEMORY.EXPANDCALLSTACK: call-stack branches start open
  bool MemoryExpandRoot = true;       // MEMORY.EXPANDROOT: the global branch starts open
  bool MemorySort = true;             // MEMORY.SORT: the tree is sorted after each rebuild
  // --- start-up and the menus' models --------------------------------------------------
  std::vector<LibraryEntry> Libraries;  // the library menu, in menu order
  ReopenList Reopen;                    // the reopen list, newest first
  bool ConfigurationSaved = false;      // the settings were written back (once per run of the program)
  // Puts a file on top of the reopen list; empty until the menus fill it.
  std::function<void(const std::u16string& path)> AddToReopenList;
  // A word (upper case) with a help page of its own; empty: none is.
  std::function<bool(const std::u16string& upperWord)> IsHelpReservedWord;
};

// Appends one line to "gdm.log" in the user folder while DebugLogMode is on
// (lines before the user folder is known are buffered and written first);
// every error is ignored. Off, it does nothing.
void DebugLog(EnvState& env, std::u16string_view text);
