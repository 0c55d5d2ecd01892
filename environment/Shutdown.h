#pragma once
// The end of the environment: the close of the main window with a save
// prompt for each modified source window, and the settings written back
// from the live windows.

#include "environment/SaveConfig.h"

class TMainForm;

// The main window's close with no run on the stack: asks about each modified
// source window (the command window never), Yes saving it (an untitled one
// through Save As while no earlier answer stopped the close), Cancel or a
// failed save keeping the window open; the later windows are still asked.
// When the close goes on the environment stops being ready and the settings
// are written back; otherwise the run state, Quitting and ExitPending are as
// they were before. True when the main window may close.
bool CloseRequested(TMainForm& main);

// What the live windows report for the save.
EnvSnapshot SnapshotOf(TMainForm& main);

// Writes the settings back once (SaveConfiguration); later calls do nothing.
void SaveConfigurationOnce(TMainForm& main);
