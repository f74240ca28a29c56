// Starting programs through the shell and through WinExec.
#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/win32.h"

namespace plat::win32 {

namespace {

constexpr uint32_t kCommandStarted = 33;  // what WinExec gives for a start
constexpr uint32_t kBadFormat = 11;       // and for an error it has no number below 32 for
constexpr DWORD kInputIdleWait = 30000;   // WinExec's wait for the program to come up

// A kept program: its process handle, closed when the last holder lets go.
class KeptProcess : public Process {
 public:
  explicit KeptProcess(HANDLE process) : process_(process) {}
  ~KeptProcess() override { ::CloseHandle(process_); }

  bool Ended(uint32_t& exitCode) override {
    DWORD code = 0;
    if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_, &code)) {
      return false;
    }
    exitCode = code;
    return true;
  }

  bool Wait(uint32_t milliseconds) override {
    return ::WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
  }

 private:
  HANDLE process_;
};

}  // namespace

uint32_t Shell::ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                           const std::string& parameters, int show) {
  HINSTANCE result = ::ShellExecuteA(ToHandle<HWND>(owner), verb.c_str(), program.c_str(),
                                     parameters.c_str(), nullptr, show);
  return ToNumber(result);
}

uint32_t Shell::CommandStart(const std::string& commandLine, int show) {
  return ::WinExec(commandLine.c_str(), static_cast<UINT>(show));
}

// ShellExecuteEx with the process kept; its result is ShellExecute's.
uint32_t Shell::ShellStartKept(uint32_t owner, const std::string& verb, const std::string& program,
                               const std::string& parameters, int show,
                               std::shared_ptr<Process>& started) {
  started.reset();
  SHELLEXECUTEINFOA request = {};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS;
  request.hwnd = ToHandle<HWND>(owner);
  request.lpVerb = verb.c_str();
  request.lpFile = program.c_str();
  request.lpParameters = parameters.c_str();
  request.nShow = show;
  ::ShellExecuteExA(&request);
  if (request.hProcess) started = std::make_shared<KeptProcess>(request.hProcess);
  return ToNumber(request.hInstApp);
}

// WinExec as it starts a program, through CreateProcess with the same
// command line and show mode, so that the process can be kept; its results
// are WinExec's: 33 for a start, else the error when it is below 32, else 11.
uint32_t Shell::CommandStartKept(const std::string& commandLine, int show,
                                 std::shared_ptr<Process>& started) {
  started.reset();
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');  // CreateProcess may write into the line
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    DWORD error = ::GetLastError();
    return error < 32 ? error : kBadFormat;
  }
  ::WaitForInputIdle(process.hProcess, kInputIdleWait);
  ::CloseHandle(process.hThread);
  started = std::make_shared<KeptProcess>(process.hProcess);
  return kCommandStarted;
}

}  // namespace plat::win32
