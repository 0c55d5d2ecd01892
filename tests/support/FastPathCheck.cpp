// The differential check of the interpreter's fast paths: runs every script
// test and a number of generated programs through zavrun twice, once as it
// is and once with ZAVTA_NO_FAST_PATHS=1, and fails when the two runs of
// anything differ in stdout, stderr or exit status. A difference prints the
// program and both runs.
//
//   zavta_fastpath_check ZAVRUN LANG_DIR COUNT SEED
//   zavta_fastpath_check --print SEED    (prints one generated program)
//
// Script tests run as tests/lang/run_script.sh runs them (NAME.args,
// NAME.cmd, NAME.env; a scratch folder as the current folder, XDG_DATA_HOME
// and TMPDIR); both runs of one program use the same scratch folder, one
// after the other. Several programs run at a time.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/RandomProgram.h"

namespace fs = std::filesystem;

namespace {

// A sanitizer build runs the deep scripts several times slower, and with the
// fast paths off a look-up walks every calling frame: give it more room.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kTimeoutSeconds = 240;
#else
constexpr int kTimeoutSeconds = 60;
#endif

struct TJob {
  std::string Name;
  std::string Text;                    // the program, for the report
  std::string ProgramFile;             // generated programs: written into the scratch folder
  std::vector<std::string> Arguments;  // zavrun's arguments (ProgramFile's name relative to the scratch folder)
  std::vector<std::string> Environment;
};

struct TOutcome {
  std::string Stdout;
  std::string Stderr;
  int Status = -1;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A script test as run_script.sh runs it.
TJob ScriptJob(const fs::path& script, const fs::path& buildFolder) {
  const fs::path dir = script.parent_path();
  const std::string name = script.stem().string();
  const fs::path base = dir / name;
  TJob job;
  job.Name = script.filename().string();
  job.Text = ReadFile(script);
  if (fs::exists(base.string() + ".args")) {
    for (const std::string& line : Lines(ReadFile(base.string() + ".args"))) {
      if (line.empty() || line[0] == '-' || line[0] == '/')
        job.Arguments.push_back(line);
      else
        job.Arguments.push_back((dir / line).string());
    }
  } else if (script.extension() == ".cmd") {
    std::string text = job.Text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    job.Arguments = {"-e", text};
  } else {
    job.Arguments = {script.string()};
  }
  if (fs::exists(base.string() + ".env"))
    for (const std::string& line : Lines(ReadFile(base.string() + ".env")))
      if (!line.empty()) job.Environment.push_back(Replace(line, "{build}", buildFolder.string()));
  return job;
}

TJob GeneratedJob(uint64_t seed) {
  TJob job;
  job.Name = "generated program, seed " + std::to_string(seed);
  job.Text = RandomProgram(seed);
  job.ProgramFile = "program.zav";
  job.Arguments = {job.ProgramFile};
  return job;
}

void FreshFolder(const fs::path& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder / "data");
  fs::create_directories(folder / "tmp");
}

// Starts zavrun for the job in the folder; stdout and stderr go to files there.
pid_t Start(const std::string& zavrun, const TJob& job, const fs::path& folder, bool fastPaths) {
  FreshFolder(folder);
  if (!job.ProgramFile.empty()) std::ofstream(folder / job.ProgramFile, std::ios::binary) << job.Text;
  const std::string out = (folder / "stdout").string();
  const std::string err = (folder / "stderr").string();
  std::vector<std::string> environment{"XDG_DATA_HOME=" + (folder / "data").string(),
                                       "TMPDIR=" + (folder / "tmp").string()};
  environment.insert(environment.end(), job.Environment.begin(), job.Environment.end());
  const std::string timeout = std::to_string(kTimeoutSeconds);
  std::vector<std::string> argv{"timeout", "--kill-after=5", timeout, zavrun};
  argv.insert(argv.end(), job.Arguments.begin(), job.Arguments.end());

  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: everything it needs was built before the fork.
  if (chdir(folder.c_str()) != 0) _exit(126);
  const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int inFd = open("/dev/null", O_RDONLY);
  if (outFd < 0 || errFd < 0 || inFd < 0) _exit(126);
  dup2(inFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  for (const std::string& assignment : environment) putenv(const_cast<char*>(assignment.c_str()));
  if (fastPaths)
    unsetenv("ZAVTA_NO_FAST_PATHS");
  else
    setenv("ZAVTA_NO_FAST_PATHS", "1", 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp("timeout", args.data());
  _exit(127);
}

TOutcome Collect(const fs::path& folder, int waitStatus) {
  TOutcome outcome;
  outcome.Stdout = ReadFile(folder / "stdout");
  outcome.Stderr = ReadFile(folder / "stderr");
  outcome.Status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  return outcome;
}

void Report(const TJob& job, const TOutcome& fast, const TOutcome& slow) {
  std::cout << "MISMATCH: " << job.Name << "\n--- program:\n" << job.Text << "\n--- fast paths on: exit "
            << fast.Status << "\n--- stdout:\n" << fast.Stdout << "--- stderr:\n" << fast.Stderr
            << "\n--- fast paths off: exit " << slow.Status << "\n--- stdout:\n" << slow.Stdout << "--- stderr:\n"
            << slow.Stderr << "\n";
}

// One slot of the pool: the job it runs and which of the two runs.
struct TSlot {
  fs::path Folder;
  const TJob* Job = nullptr;
  bool SecondRun = false;
  TOutcome First;
};

int RunAll(const std::string& zavrun, const std::vector<TJob>& jobs, const fs::path& scratch, unsigned width) {
  std::vector<TSlot> slots(width);
  for (unsigned i = 0; i < width; ++i) slots[i].Folder = scratch / ("slot" + std::to_string(i));
  std::map<pid_t, size_t> running;
  size_t next = 0;
  int mismatches = 0;
  auto startNext = [&](size_t slot) {
    if (next >= jobs.size()) return;
    slots[slot].Job = &jobs[next++];
    slots[slot].SecondRun = false;
    running[Start(zavrun, *slots[slot].Job, slots[slot].Folder, true)] = slot;
  };
  for (size_t i = 0; i < slots.size(); ++i) startNext(i);
  while (!running.empty()) {
    int status = 0;
    const pid_t pid = wait(&status);
    if (pid < 0) break;
    const auto found = running.find(pid);
    if (found == running.end()) continue;
    const size_t index = found->second;
    running.erase(found);
    TSlot& slot = slots[index];
    const TOutcome outcome = Collect(slot.Folder, status);
    if (!slot.SecondRun) {
      slot.First = outcome;
      slot.SecondRun = true;
      running[Start(zavrun, *slot.Job, slot.Folder, false)] = index;
      continue;
    }
    if (outcome.Stdout != slot.First.Stdout || outcome.Stderr != slot.First.Stderr ||
        outcome.Status != slot.First.Status) {
      ++mismatches;
      if (mismatches <= 5) Report(*slot.Job, slot.First, outcome);
    }
    startNext(index);
  }
  return mismatches;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--print") {
    std::cout << RandomProgram(std::strtoull(argv[2], nullptr, 10));
    return 0;
  }
  if (argc != 5) {
    std::cerr << "usage: zavta_fastpath_check ZAVRUN LANG_DIR COUNT SEED\n";
    return 2;
  }
  const std::string zavrun = fs::absolute(argv[1]).string();
  const fs::path langFolder = fs::absolute(argv[2]);
  const uint64_t count = std::strtoull(argv[3], nullptr, 10);
  const uint64_t seed = std::strtoull(argv[4], nullptr, 10);

  std::vector<TJob> jobs;
  std::vector<fs::path> scripts;
  for (const fs::directory_entry& entry : fs::directory_iterator(langFolder))
    if (entry.path().extension() == ".zav" || entry.path().extension() == ".cmd") scripts.push_back(entry.path());
  std::sort(scripts.begin(), scripts.end());
  const fs::path buildFolder = fs::path(zavrun).parent_path().parent_path();
  for (const fs::path& script : scripts) jobs.push_back(ScriptJob(script, buildFolder));
  for (uint64_t i = 0; i < count; ++i) jobs.push_back(GeneratedJob(seed * 1000003 + i));  // --print takes these seeds

  std::string pattern = (fs::temp_directory_path() / "zavta-fastpaths-XXXXXX").string();
  const char* scratch = mkdtemp(pattern.data());
  if (scratch == nullptr) {
    std::cerr << "cannot make a scratch folder\n";
    return 2;
  }
  const unsigned width = std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u);
  const int mismatches = RunAll(zavrun, jobs, scratch, width);
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  std::cout << jobs.size() << " programs (" << scripts.size() << " scripts, " << count
            << " generated) run both ways: " << mismatches << " differ\n";
  return mismatches == 0 ? 0 : 1;
}
