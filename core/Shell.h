#pragma once
// Opening a document or starting a program for a running program: what to
// start (the program itself, or the desktop's opener for anything else),
// the argument splitter, and the one real process start that the hosts
// without a GUI toolkit share. No shell is ever involved: the parameter text
// reaches the program as arguments, never as a command line.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The parameter text cut into arguments: blanks separate, double quotes
// group (and are removed), three double quotes in a row stand for one
// literal double quote. Empty arguments ("") are dropped.
std::vector<std::u16string> SplitArguments(std::u16string_view text);

// A process to start: the program (a path, or a bare name searched on PATH),
// its arguments and the working folder ("" the current folder).
struct TShellCommand {
  std::u16string Program;
  std::vector<std::u16string> Arguments;
  std::u16string Folder;
};

// The opener that takes documents, folders and addresses.
inline constexpr std::u16string_view kDocumentOpener = u"xdg-open";

// What opening fileName with the parameters in folder starts. "\" becomes
// "/" in the file name and the folder. A file name that names an executable
// regular file (relative names from the current folder), or a bare name
// found on PATH, starts that program with the split parameters; anything
// else goes to the document opener as its only argument.
TShellCommand ShellCommandFor(std::u16string_view fileName, std::u16string_view parameters,
                              std::u16string_view folder);

// Starts the program detached (its own session, nothing waits for it) with
// posix_spawnp, in folder unless that is empty. False when it could not be
// started (no such program, no such folder). Started processes are reaped
// once they end, by the next start or by ReapStartedProcesses.
bool SpawnDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                   const std::u16string& folder);

// Collects the exit status of every started process that has ended; returns
// how many are still running.
size_t ReapStartedProcesses();
