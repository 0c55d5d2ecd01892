// zavrun: runs a program without windows.
//
//   zavrun FILE.zav    resets the interpreter as the environment does (the
//                      library load commands of the factory settings), then
//                      runs FILE as the Run command runs a source window
//   zavrun -e TEXT     the same reset, then runs TEXT as one command line
//
// Output-window lines go to stdout, what the message dialog would show goes
// to stderr. Exit status: 0 success, 1 parse error, 2 run-time error, 3 the
// file (or the staged resources) cannot be read, 4 bad arguments, 5 the
// output cannot be written; a run stopped by SIGINT or SIGTERM ends with
// 128 + the signal's number.
//
// The settings are the factory defaults of the staged program folder
// (<zavrun's folder>/../System/default.ini.org), read-only; nothing is
// written to the user's folder: the help parameter files of error reports go
// to a temporary folder, made when the first one is written and removed at
// exit.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "app/ZavrunHost.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Language.h"
#include "environment/Libraries.h"
#include "environment/OutputText.h"
#include "environment/Settings.h"
#include "graphics/Graphics.h"

namespace fs = std::filesystem;

namespace {

enum ExitStatus : int {
  kOk = 0,
  kParseError = 1,
  kRunError = 2,
  kCannotRead = 3,
  kBadArguments = 4,
  kCannotWrite = 5,
};

constexpr const char* kUsage =
    "usage: zavrun FILE.zav\n"
    "       zavrun -e TEXT\n"
    "Runs a program (or one command line) without windows: printed lines go to\n"
    "stdout, error dialogs to stderr. Exit status: 0 ok, 1 parse error,\n"
    "2 run-time error, 3 file cannot be read, 4 bad arguments,\n"
    "5 output cannot be written.\n";

std::u16string FromPath(const fs::path& path) { return Utf8ToUtf16(path.string()); }

// The path as a folder name: absolute, normalised, with a final "/".
std::u16string AsFolder(const fs::path& path) {
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) full = path;
  std::string text = full.lexically_normal().string();
  if (text.empty() || text.back() != '/') text.push_back('/');
  return Utf8ToUtf16(text);
}

fs::path ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  return exe.parent_path();
}

void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "zavrun: %s\n", text.c_str());
}

// Flushes stdout; when any of the output could not be written (a full disk,
// a closed descriptor) the run fails with a line on stderr, whatever its own
// status was.
int WithOutputWritten(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  const int error = errno;
  std::fprintf(stderr, "zavrun: cannot write the output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return kCannotWrite;
}

// A fresh folder for the help parameter files, made on first use (most runs
// write none, and making and removing a folder can cost more than a short
// run), removed with its contents when the object goes.
class ScratchHelpFolder {
public:
  ScratchHelpFolder() = default;
  ~ScratchHelpFolder() { Remove(); }
  // The folder's name with a final "/", made on the first call; "" when it
  // cannot be made (then the help files are not written).
  std::u16string Make() {
    if (path_.empty() && !failed_) {
      std::error_code ec;
      fs::path base = fs::temp_directory_path(ec);
      if (ec) base = "/tmp";
      std::string pattern = (base / "zavrun-XXXXXX").string();
      if (mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
      else
        failed_ = true;
    }
    return path_.empty() ? std::u16string() : AsFolder(path_);
  }
  void Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    path_.clear();
  }
  ScratchHelpFolder(const ScratchHelpFolder&) = delete;
  ScratchHelpFolder& operator=(const ScratchHelpFolder&) = delete;

private:
  fs::path path_;
  bool failed_ = false;
};

// The folders of the staged layout: the program folder is the System folder
// beside zavrun's own (zavrun itself may also sit in it).
void SetUpFolders(EnvState& env) {
  const fs::path exeFolder = ExecutableFolder();
  const fs::path system = exeFolder.filename() == "System" ? exeFolder : exeFolder / ".." / "System";
  env.ProgramFolder = AsFolder(system);
  env.RootFolder = AsFolder(fs::path(Utf16ToUtf8(env.ProgramFolder)) / "..");
  env.ImagesFolder = env.ProgramFolder + u"../Images/";
  env.LanguagesFolder = env.ProgramFolder + u"../Languages/";
  env.CharactersFolder = env.ProgramFolder + u"../Characters/";
  env.HelpFolder = env.ProgramFolder + u"../Help/";
  env.UserFolder.clear();
  env.UserHelpFolder.clear();  // the scratch folder, made when needed
  std::error_code ec;
  env.LaunchFolder = AsFolder(fs::current_path(ec));
  // The factory file is the settings file that was loaded.
  env.SettingsFolder = env.ProgramFolder;
  env.SettingsPath.clear();

  TStructure& s = env.S;
  s.ProgramFolder = env.ProgramFolder;
  s.RootFolder = env.RootFolder;
  s.CharactersFolder = env.CharactersFolder;
  s.UserFolder = env.UserFolder;
  s.HelpFolder.clear();
  s.SettingsFolder = env.SettingsFolder;
}

// The factory settings and what the start-up takes from them before any
// program runs: language and code page, dual-language keywords, the case
// rule of names and the output window's line cut. False when the staged
// resources cannot be read.
bool ApplyFactorySettings(EnvState& env, ZavrunHost& host) {
  const std::u16string factory = env.ProgramFolder + u"default.ini.org";
  if (!env.Settings.LoadFromFile(factory)) {
    Complain("cannot read the factory settings " + Utf16ToUtf8(factory));
    return false;
  }
  LoadStartLanguage(env);
  if (env.LanguageTexts.Lines().empty()) {
    Complain("cannot read a language file in " + Utf16ToUtf8(env.LanguagesFolder));
    return false;
  }
  ApplyRunSettings(env);
  host.MaxPrint = env.MaxPrint;
  return true;
}

// The environment's reset at start: a fresh interpreter, then the library
// load commands built from LIBRARIES. Their RunText result is returned; a
// parse error, which RunText does not report, goes to stderr.
int ResetWithLibraries(EnvState& env, TInterpreter& in) {
  in.LibraryLoadCommands.clear();
  ResetInterpreter(in);
  const std::u16string commands = BuildLibraryLoadCommands(env, env.Settings.RawValue(u"LIBRARIES"));
  in.LibraryLoadCommands = commands;
  int status = rrOk;
  if (!commands.empty()) {
    env.S.LastError.clear();
    status = RunText(in, commands, u"", 0, 0);
    if (status == rrParseError) Complain("the library load commands: " + Utf16ToUtf8(env.S.LastError));
  }
  TPosition& position = env.S.CurrentPosition;
  position.SourceName = SharedText();
  position.SourceText = SharedText();
  position.StartPos = position.EndPos = position.Line = -1;
  return status;
}

// FILE: as the Run button runs a source window holding it.
int RunFile(EnvState& env, TInterpreter& in, const fs::path& file) {
  in.StepDepth = -1;
  SetRunState(in, rsRunning);
  const int libraries = ResetWithLibraries(env, in);
  if (libraries != rrOk) {
    SetRunState(in, rsEnded);
    return libraries;
  }
  SetRunState(in, rsRunning);

  const std::u16string text = ReadTextFile(env.S, FromPath(file));
  std::error_code ec;
  fs::current_path(file.parent_path(), ec);
  const int status = RunProgramText(in, text, FromPath(file.filename()), 0);
  SetRunState(in, rsFinalRedraw);
  SetRunState(in, rsEnded);
  return status;
}

// -e TEXT: as one command line; a parse error is not reported by RunText,
// so its message goes to stderr.
int RunCommand(EnvState& env, TInterpreter& in, const std::u16string& text) {
  const int libraries = ResetWithLibraries(env, in);
  SetRunState(in, rsIdle);
  if (libraries != rrOk) return libraries;
  env.S.LastError.clear();
  const int status = RunText(in, text, u"", 0, 0);
  if (status == rrParseError && !env.S.LastError.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", Utf16ToUtf8(env.S.LastError).c_str());
  }
  return status;
}

extern "C" void OnInterrupt(int signal) { ZavrunHost::InterruptSignal = signal; }

// SIGINT and SIGTERM ask the run to stop at its next pump, as the Stop
// button would, so that the scratch folder is still removed; a second one
// ends the process at once.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

struct Arguments {
  bool Command = false;
  std::string Value;  // the file name or the command text
};

std::optional<Arguments> ParseArguments(int argc, char** argv) {
  if (argc == 2 && argv[1][0] != '\0' && argv[1][0] != '-') return Arguments{false, argv[1]};
  if (argc == 3 && std::string_view(argv[1]) == "-e") return Arguments{true, argv[2]};
  return std::nullopt;
}

// True when the file exists as a regular file and can be opened for reading.
bool Readable(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  return static_cast<bool>(in);
}

int Run(const Arguments& arguments) {
  std::optional<fs::path> file;
  if (!arguments.Command) {
    std::error_code ec;
    file = fs::absolute(fs::path(arguments.Value), ec).lexically_normal();
    if (ec || !Readable(*file)) {
      Complain("cannot read " + arguments.Value);
      return kCannotRead;
    }
  }

  ScratchHelpFolder help;
  ZavrunHost host;
  host.HelpFolderMaker = [&help] { return help.Make(); };
  TStructure structure(host);
  EnvState env(structure);
  SetUpFolders(env);
  if (!ApplyFactorySettings(env, host)) return kCannotRead;

  int status = kOk;
  {
    TInterpreter interpreter(structure);
    // Drawing happens without a plane: every GL call goes to the null table.
    Graphics graphics(interpreter);
    host.SetGraphics(&graphics);
    host.Attach(&structure, &interpreter);
    CatchInterrupts();
    if (arguments.Command)
      status = RunCommand(env, interpreter, Utf8ToUtf16(arguments.Value));
    else
      status = RunFile(env, interpreter, *file);
    host.Attach(&structure, nullptr);
    host.SetGraphics(nullptr);
  }
  host.Attach(nullptr, nullptr);
  if (ZavrunHost::InterruptSignal != 0) status = 128 + ZavrunHost::InterruptSignal;
#if !defined(__SANITIZE_ADDRESS__)
  // The run is over: the process ends here rather than taking a program's
  // millions of atoms apart one by one. Sanitizer builds tear down normally
  // so that their leak check sees everything.
  help.Remove();
  status = WithOutputWritten(status);
  std::fflush(stderr);
  std::_Exit(status);
#endif
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stdout would let the next file opened take its descriptor and
  // receive the output: it is held by a read-only descriptor instead, on
  // which every write fails (and the run ends with kCannotWrite).
  if (fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF) {
    const int held = open("/dev/null", O_RDONLY);
    if (held != -1 && held != STDOUT_FILENO) close(held);
  }
  // Output is written in large blocks; the dialog's stderr lines flush it.
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

  const std::optional<Arguments> arguments = ParseArguments(argc, argv);
  if (!arguments) {
    std::fputs(kUsage, stderr);
    return kBadArguments;
  }
  int status = kRunError;
  try {
    status = Run(*arguments);
  } catch (const std::exception& error) {
    Complain(std::string("internal error: ") + error.what());
    status = kRunError;
  }
  return WithOutputWritten(status);
}
