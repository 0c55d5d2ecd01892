#pragma once
// Writing the environment's state back into the settings file at exit.
// Qt-free: the windows report what they show as an EnvSnapshot.

#include <string>
#include <vector>

#include "environment/Libraries.h"

struct EnvState;
class NameValueList;

// One window's place on the screen; Open false for a closed tool window.
struct WindowSnapshot {
  bool Open = false;
  int State = 0;  // 0 normal, 1 minimised, 2 maximised
  int Left = 0, Top = 0, Width = 0, Height = 0;
};

struct SourceSnapshot {
  std::u16string FileName;  // full path; empty for an untitled window
  WindowSnapshot Window;
};

// What the live environment reports for the save.
struct EnvSnapshot {
  bool CaseSensitive = true;
  bool FullScreen = false;
  std::u16string MachineId;
  int PixelFormatIndex = 0;
  std::vector<std::u16string> ReopenCaptions;  // newest first
  std::u16string LanguageName;
  int CodePage = 1252;
  std::u16string FontName;
  int FontCharset = 1;
  int FontSize = 10;
  bool FontItalic = false, FontBold = false;
  WindowSnapshot Main;
  WindowSnapshot Plane, Output, Command, Memory, Web;
  std::vector<SourceSnapshot> Sources;  // in list order, the command window left out
  std::vector<LibraryEntry> Libraries;  // in menu order
};

// Without an open window the key := "No"; otherwise "Yes" and the window's
// name.STATE, .LEFT, .TOP, .WIDTH, .HEIGHT as decimal integers.
void SaveWindowSettings(NameValueList& settings, const WindowSnapshot& window, const std::u16string& name);

// When AUTOSAVE is exactly "Yes" and not in run-time mode: writes the state's
// keys into env.Settings and saves them to env.SettingsPath without ever
// damaging the old file. An untitled source window gets no USERk keys.
// LIBRARIES is left alone when the libraries came from the command line.
// True when the file was written; a failed write is logged. Otherwise the
// settings and the file are left as they were.
bool SaveConfiguration(EnvState& env, const EnvSnapshot& snapshot);
