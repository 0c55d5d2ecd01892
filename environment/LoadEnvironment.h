#pragma once
// The environment's start: the settings made into the working environment
// (language, GUI mode, font, case rule, reopen list, libraries, icons,
// colours, pixel formats, the command line and the windows open at start),
// the libraries' first load with the file named on the command line, and
// StartEnvironment, the one place that orders the whole start and end.

class TMainForm;
struct EnvServices;
struct EnvState;
struct StartupInput;

// Everything up to the main window shown. Every step writes its line to the
// start-up log.
void LoadEnvironment(TMainForm& main, const StartupInput& input, EnvServices& services);
// Shows the main window (maximised outside run-time mode), the command
// window active.
void ShowMainWindow(TMainForm& main);
// Once the window shows: the libraries' first load, the plane painted, the
// application's activation followed.
void FinishLoadEnvironment(TMainForm& main, EnvServices& services);
// Runs once: the reset that loads the libraries, then the forced source
// file (states 7, then 5) and the scene regenerated and redrawn as after
// Run.
void AutoloadLibraries(TMainForm& main);

// The memory window's switches (on unless "No") and MAXPRINT.
void ReadWindowOptions(EnvState& env);

// The whole program: state, main window, LoadEnvironment, the window shown,
// the autoload from the event loop, the event loop, the shut-down list.
// Returns the exit status.
int StartEnvironment(const StartupInput& input, EnvServices& services);
