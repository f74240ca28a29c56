#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/cmdline.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/paths.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

extern char** environ;

namespace plat::posix {

namespace {

constexpr uint32_t kShellStarted = 42;    // any result above 32 means started
constexpr uint32_t kCommandStarted = 33;
constexpr uint32_t kNoAssociationResult = 31;

enum class Kind { kMissing, kNative, kWindowsImage, kNotAProgram };

Kind Classify(const std::string& host) {
  struct stat facts;
  if (stat(host.c_str(), &facts) != 0) return Kind::kMissing;
  if (!S_ISREG(facts.st_mode)) return Kind::kNotAProgram;
  char magic[2] = {};
  std::ifstream in(host, std::ios::binary);
  if (in.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z') return Kind::kWindowsImage;
  return facts.st_mode & 0111 ? Kind::kNative : Kind::kNotAProgram;
}

bool IsFile(const std::string& host) {
  struct stat facts;
  return stat(host.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  std::string all = path ? path : "";
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    folders.push_back(end == start ? "." : all.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

std::string ProgramFolder() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  std::string self(buffer, static_cast<size_t>(length));
  return self.substr(0, self.find_last_of('/'));
}

// Finds a program as Windows does: a name with a folder part there, else in
// the running program's folder, the current folder and each folder of PATH;
// a name without an extension also with ".exe" and ".EXE". The error is 2,
// or 3 when a named folder is missing.
bool FindProgram(const std::string& program, std::string& host) {
  std::vector<std::string> names = {program};
  if (LastPart(program).find('.') == std::string::npos) {
    names.push_back(program + ".exe");
    names.push_back(program + ".EXE");
  }
  if (program.find_first_of("\\/:") != std::string::npos) {
    for (const std::string& name : names) {
      std::string candidate;
      if (!TranslatePath(name, candidate)) return false;
      if (IsFile(candidate)) {
        host = candidate;
        return true;
      }
    }
    return FailErrno(ENOENT, ToHostPath(program));
  }
  std::vector<std::string> folders = PathFolders();
  folders.insert(folders.begin(), {ProgramFolder(), "."});
  for (const std::string& folder : folders) {
    for (const std::string& name : names) {
      if (IsFile(folder + "/" + name)) {
        host = folder + "/" + name;
        return true;
      }
    }
  }
  return Fail(kErrorFileNotFound);
}

std::string FindOnPath(const std::string& name) {
  for (const std::string& folder : PathFolders()) {
    std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0 && IsFile(candidate)) return candidate;
  }
  return "";
}

// The children started so far that nobody keeps; finished ones are reaped
// at the next start, so that none is left a zombie and none is waited for.
std::mutex childrenLock;
std::vector<pid_t> children;

void ReapFinishedChildren() {
  std::lock_guard<std::mutex> hold(childrenLock);
  std::erase_if(children, [](pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) != 0;
  });
}

void ReapLater(pid_t pid) {
  std::lock_guard<std::mutex> hold(childrenLock);
  children.push_back(pid);
}

// The exit code of a wait status: a signal's end reads as a shell reports it.
uint32_t ExitCode(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  return 128 + static_cast<uint32_t>(WTERMSIG(status));
}

// A kept child. Its end is seen through a pidfd, which becomes readable when
// the child ends; where the kernel has none, the wait looks every 50 ms.
class PosixProcess : public Process {
 public:
  explicit PosixProcess(pid_t pid)
      : pid_(pid), pidfd_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))) {}
  ~PosixProcess() override {
    if (!ended_) ReapLater(pid_);  // it runs on; reaped at a later start
    if (pidfd_ >= 0) close(pidfd_);
  }

  bool Ended(uint32_t& exitCode) override {
    int status = 0;
    pid_t reaped = ended_ ? 0 : waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
      ended_ = true;
      code_ = ExitCode(status);
    } else if (reaped < 0 && errno != EINTR) {
      ended_ = true;  // reaped by someone else: its code is lost, and no success
      code_ = 255;
    }
    exitCode = code_;
    return ended_;
  }

  bool Wait(uint32_t milliseconds) override {
    constexpr uint32_t kLookEvery = 50;
    Deadline deadline(milliseconds);
    for (uint32_t code = 0;;) {
      if (Ended(code)) return true;
      uint32_t left = deadline.Left();
      if (left == 0 || CaughtStop().signal != 0) return false;
      Pause(pidfd_, pidfd_ >= 0 ? left : std::min(left, kLookEvery));
    }
  }

 private:
  pid_t pid_;
  int pidfd_;
  bool ended_ = false;
  uint32_t code_ = 0;
};

// The environment of a child: ours, with the exact command-line text.
std::vector<std::string> ChildEnvironment(const std::string& commandLine) {
  std::string prefix = std::string(kCommandLineVariable) + "=";
  std::vector<std::string> variables;
  for (char** variable = environ; *variable; ++variable) {
    if (std::strncmp(*variable, prefix.c_str(), prefix.size()) != 0) variables.push_back(*variable);
  }
  variables.push_back(prefix + commandLine);
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `host` with `arguments` (a Windows image through wine), kept in
// `started`. The result is 0, or the Windows error of the failure.
uint32_t Spawn(const std::string& host, Kind kind, const std::vector<std::string>& arguments,
               const std::string& commandLine, std::shared_ptr<Process>& started) {
  std::vector<std::string> argv;
  if (kind == Kind::kWindowsImage) {
    std::string wine = FindOnPath("wine");
    if (wine.empty()) return kErrorBadExeFormat;
    argv.push_back(wine);
  }
  argv.push_back(host);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = ChildEnvironment(commandLine);
  std::vector<char*> argvPointers = Pointers(argv), environmentPointers = Pointers(environment);
  ReapFinishedChildren();
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, argvPointers.data(),
                          environmentPointers.data());
  if (error != 0) return error == ENOEXEC ? kErrorBadExeFormat : WindowsError(error, argv[0]);
  started = std::make_shared<PosixProcess>(pid);
  return kErrorSuccess;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

// Posix_spawn runs programs directly; nothing here goes through a shell.
class PosixProcesses : public Processes {
 public:
  // A start that nobody keeps hands its child to the reaping at later starts.
  uint32_t ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                      const std::string& parameters, int show) override {
    std::shared_ptr<Process> started;
    return ShellStartKept(owner, verb, program, parameters, show, started);
  }

  uint32_t CommandStart(const std::string& commandLine, int show) override {
    std::shared_ptr<Process> started;
    return CommandStartKept(commandLine, show, started);
  }

  uint32_t ShellStartKept(uint32_t owner, const std::string& verb, const std::string& program,
                          const std::string& parameters, int show,
                          std::shared_ptr<Process>& started) override {
    started.reset();
    // "runas" starts like "open": there is no elevation to ask for.
    if (!verb.empty() && !EqualsIgnoringCase(verb, "open") && !EqualsIgnoringCase(verb, "runas")) {
      return ShellFailure(kErrorNoAssociation);
    }
    std::string host;
    if (!FindProgram(program, host)) return ShellFailure(LastError());
    Kind kind = Classify(host);
    if (kind == Kind::kNotAProgram) return ShellFailure(kErrorNoAssociation);
    std::string commandLine = "\"" + program + "\"" + (parameters.empty() ? "" : " " + parameters);
    uint32_t error = Spawn(host, kind, SplitArguments(parameters), commandLine, started);
    if (error != kErrorSuccess) return ShellFailure(error);
    SetLastError(kErrorSuccess);
    return kShellStarted;
  }

  uint32_t CommandStartKept(const std::string& commandLine, int show,
                            std::shared_ptr<Process>& started) override {
    started.reset();
    std::vector<std::string> words = SplitCommandLine(commandLine);
    std::string host;
    if (words[0].empty()) return CommandFailure(kErrorFileNotFound);
    if (!FindProgram(words[0], host)) return CommandFailure(LastError());
    Kind kind = Classify(host);
    if (kind == Kind::kNotAProgram) return CommandFailure(kErrorBadFormat);
    uint32_t error = Spawn(host, kind, {words.begin() + 1, words.end()}, commandLine, started);
    if (error != kErrorSuccess) return CommandFailure(error);
    SetLastError(kErrorSuccess);
    return kCommandStarted;
  }

  void CatchStopRequests() override { CatchStopSignals(); }
  StopRequest StopRequested() override { return CaughtStop(); }

 private:
  // ShellExecute's results below 32 are error numbers; other failures read "no association".
  static uint32_t ShellFailure(uint32_t error) {
    SetLastError(error);
    if (error == kErrorNoAssociation) return kNoAssociationResult;
    if (error == kErrorBadExeFormat) return kErrorBadFormat;
    return error < 32 ? error : kNoAssociationResult;
  }

  // WinExec gives 2, 3 or 11; an image it cannot run is 11 as well.
  static uint32_t CommandFailure(uint32_t error) {
    SetLastError(error);
    if (error == kErrorFileNotFound || error == kErrorPathNotFound) return error;
    return error < 32 && error != kErrorSuccess ? error : kErrorBadFormat;
  }
};

}  // namespace

Processes& NativeProcesses() {
  static PosixProcesses processes;
  return processes;
}

}  // namespace plat::posix
