// Opening documents and starting programs: the program-or-document decision,
// the argument splitter and the detached process start with its reaping.

#include "core/Shell.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "core/Text.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool IsBlank(char16_t ch) { return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r' || ch == u'\v' || ch == u'\f'; }

std::u16string WithForwardSlashes(std::u16string_view text) {
  std::u16string result(text);
  std::replace(result.begin(), result.end(), u'\\', u'/');
  return result;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(path), ec);
  return ec ? path : absolute.lexically_normal().string();
}

// The folders of PATH; empty entries (the current folder) are left out, so
// a bare name never starts a program that merely lies in the current folder
// by way of the search.
std::vector<std::string> SearchFolders() {
  const char* value = std::getenv("PATH");
  const std::string path = value != nullptr ? value : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> folders;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find(':', start), path.size());
    if (end > start) folders.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

// The program a file name starts, as a path: the executable file it names,
// else, for a bare name, the first executable of that name on PATH.
bool FindProgram(const std::string& name, std::string& program) {
  if (IsExecutableFile(name)) {
    program = AbsolutePath(name);
    return true;
  }
  if (name.empty() || name.find('/') != std::string::npos) return false;
  for (const std::string& folder : SearchFolders()) {
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) {
      program = candidate;
      return true;
    }
  }
  return false;
}

// A document that exists is handed on by its full path (the opener runs in
// the working folder, which may differ from ours); anything else, such as
// an address, as written.
std::string DocumentArgument(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::exists(fs::path(name), ec) ? AbsolutePath(name) : name;
}

// The processes this program started and has not yet reaped.
std::mutex startedMutex;
std::vector<pid_t> startedProcesses;

size_t ReapLocked() {
  std::erase_if(startedProcesses, [](pid_t pid) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    // ECHILD: someone else reaped it (or SIGCHLD is ignored).
    return result == pid || (result == -1 && errno == ECHILD);
  });
  return startedProcesses.size();
}

// The spawn's attribute and file-action objects, destroyed however the
// start ends.
class SpawnSetup {
public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The child starts in its own session with no signal blocked, so that
  // neither the terminal's interrupt nor the interpreter's signal mask
  // reaches it.
  bool Detach() {
    sigset_t none;
    sigemptyset(&none);
    return posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID) == 0;
  }
  bool ChangeFolder(const std::string& folder) {
    return posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0;
  }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

}  // namespace

std::vector<std::u16string> SplitArguments(std::u16string_view text) {
  std::vector<std::u16string> arguments;
  std::u16string current;
  int quotes = 0;  // double quotes in a row just read
  bool quoted = false;
  for (const char16_t ch : text) {
    if (ch == u'"') {
      if (++quotes == 3) {
        quotes = 0;
        current.push_back(u'"');
      }
      continue;
    }
    // A single quote opens or closes a group; two in a row change nothing.
    if (quotes == 1) quoted = !quoted;
    quotes = 0;
    if (!quoted && IsBlank(ch)) {
      if (!current.empty()) arguments.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(ch);
    }
  }
  if (!current.empty()) arguments.push_back(std::move(current));
  return arguments;
}

TShellCommand ShellCommandFor(std::u16string_view fileName, std::u16string_view parameters,
                              std::u16string_view folder) {
  TShellCommand command;
  command.Folder = WithForwardSlashes(folder);
  const std::string name = Utf16ToUtf8(WithForwardSlashes(fileName));
  std::string program;
  if (FindProgram(name, program)) {
    command.Program = Utf8ToUtf16(program);
    command.Arguments = SplitArguments(parameters);
  } else {
    command.Program = std::u16string(kDocumentOpener);
    command.Arguments.push_back(Utf8ToUtf16(DocumentArgument(name)));
  }
  return command;
}

bool SpawnDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                   const std::u16string& folder) {
  const std::lock_guard<std::mutex> lock(startedMutex);
  ReapLocked();
  if (program.empty()) return false;

  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.push_back(Utf16ToUtf8(program));
  for (const std::u16string& argument : arguments) texts.push_back(Utf16ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (!setup.Detach()) return false;
  if (!folder.empty() && !setup.ChangeFolder(Utf16ToUtf8(folder))) return false;
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ) != 0) return false;
  startedProcesses.push_back(pid);
  return true;
}

size_t ReapStartedProcesses() {
  const std::lock_guard<std::mutex> lock(startedMutex);
  return ReapLocked();
}
