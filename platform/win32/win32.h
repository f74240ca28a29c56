// The Win32 facets of the platform interface. Each is a thin wrapper over the
// Windows call of the same purpose; the .cpp files beside this header are the
// only ones that include <windows.h>, so this header names no Windows type.
#pragma once

#include "platform/platform.h"

namespace plat::win32 {

// Handles travel as 32-bit numbers, as on i686. Window handles are
// sign-extended 32-bit values on every Windows, so widening goes through
// int32_t. Module handles and entry points are wider on x64: libraries.cpp
// numbers them.
template <typename Handle>
Handle ToHandle(uint32_t number) {
  return reinterpret_cast<Handle>(static_cast<intptr_t>(static_cast<int32_t>(number)));
}
template <typename Handle>
uint32_t ToNumber(Handle handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

class Files : public FileSystem {
 public:
  std::unique_ptr<DirectorySearch> FindFirst(const std::string& pattern, FindEntry& first) override;
  uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool Copy(const std::string& from, const std::string& to, bool failIfExists) override;
  bool Delete(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool MakeFolder(const std::string& path) override;
  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition) override;
  bool WriteIniString(const std::string& section, const std::string& key,
                      const std::string& value, const std::string& file) override;
  bool GetCurrentFolder(std::string& folder) override;
  bool SetCurrentFolder(const std::string& folder) override;
};

class SystemClock : public Clock {
 public:
  uint32_t TickCount() override;
  void Sleep(uint32_t milliseconds) override;
  CalendarTime UtcNow() override;
  CalendarTime LocalNow() override;
  bool ToLocalTime(FileTime time, CalendarTime& local) override;
  bool ToDosDateTime(FileTime time, uint16_t& date, uint16_t& dosTime) override;
};

class Shell : public Processes {
 public:
  uint32_t ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                      const std::string& parameters, int show) override;
  uint32_t CommandStart(const std::string& commandLine, int show) override;
};

class Desktop : public UserInterface {
 public:
  int ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                     uint32_t style) override;
  bool DesktopVisible() override;
  bool WriteEventLog(const std::string& source, EventType type, uint32_t id,
                     const std::string& text) override;
  uint32_t DesktopWindow() override;
  void ShowWaitCursor() override;
  void RemoveQueuedMessage(uint32_t message) override;
};

class System : public SystemInfo {
 public:
  bool ModulePath(std::string& path) override;
  std::string CommandLine() override;
  uint32_t Version() override;
  uint32_t AvailablePhysicalMemory() override;
  bool NetworkUserName(std::string& name) override;
  RegistryRead MachineNumber(const std::string& key, const std::string& value,
                             uint32_t& number) override;
};

class Modules : public Libraries {
 public:
  uint32_t Load(const std::string& name) override;
  uint32_t Loaded(const std::string& name) override;
  uint32_t EntryPoint(uint32_t library, const std::string& name) override;
  uint32_t EntryPointByOrdinal(uint32_t library, uint16_t ordinal) override;
  bool Free(uint32_t library) override;
  bool Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed, char result,
            CallResult& returned) override;
};

}  // namespace plat::win32
