// Facts about the system and the running program.
#include <windows.h>
#include <winnetwk.h>

#include "platform/win32/win32.h"

namespace plat::win32 {

bool System::ModulePath(std::string& path) {
  char buffer[MAX_PATH + 1];
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0) return false;
  // A full buffer means the path was cut; a cut path names some other file.
  if (length >= sizeof buffer) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  path.assign(buffer, length);
  return true;
}

std::string System::CommandLine() { return ::GetCommandLineA(); }

uint32_t System::Version() { return ::GetVersion(); }

uint32_t System::AvailablePhysicalMemory() {
  MEMORYSTATUS status;
  status.dwLength = sizeof status;
  ::GlobalMemoryStatus(&status);
  return static_cast<uint32_t>(status.dwAvailPhys);
}

bool System::NetworkUserName(std::string& name) {
  char buffer[260];
  DWORD length = sizeof buffer;
  // The network provider reports its failure as the result, not as the last error.
  DWORD result = ::WNetGetUserA(nullptr, buffer, &length);
  if (result != NO_ERROR) {
    ::SetLastError(result);
    return false;
  }
  name = buffer;
  return true;
}

RegistryRead System::MachineNumber(const std::string& key, const std::string& value,
                                   uint32_t& number) {
  HKEY opened;
  LONG result = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &opened);
  if (result != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(result));
    return RegistryRead::kKeyMissing;
  }
  // Four bytes whatever the value's type; a shorter value fills the low bytes.
  DWORD read = 0, size = sizeof read;
  result = ::RegQueryValueExA(opened, value.c_str(), nullptr, nullptr,
                              reinterpret_cast<BYTE*>(&read), &size);
  ::RegCloseKey(opened);
  if (result != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(result));
    return RegistryRead::kValueMissing;
  }
  number = read;
  return RegistryRead::kRead;
}

}  // namespace plat::win32
