// Starting programs through the shell and through WinExec.
#include <windows.h>
#include <shellapi.h>

#include "platform/win32/win32.h"

namespace plat::win32 {

uint32_t Shell::ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                           const std::string& parameters, int show) {
  HINSTANCE result = ::ShellExecuteA(ToHandle<HWND>(owner), verb.c_str(), program.c_str(),
                                     parameters.c_str(), nullptr, show);
  return ToNumber(result);
}

uint32_t Shell::CommandStart(const std::string& commandLine, int show) {
  return ::WinExec(commandLine.c_str(), static_cast<UINT>(show));
}

}  // namespace plat::win32
