// What the unit tests share: a fresh temporary folder as the current folder,
// which the code under test cannot leave, host-side file helpers, and the two
// test doubles the tiers allow (a simulated clock for waits that would take
// minutes, a recording message box for a dialog that waits for a person).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace support {

// The host path of a Windows path: relative paths stay relative; drive and
// UNC paths go through the platform's translation on POSIX.
std::filesystem::path HostPath(const std::string& windowsPath);

// Host-side file access that bypasses the layer under test.
void WriteBytes(const std::string& windowsPath, const std::string& bytes);
std::string ReadBytes(const std::string& windowsPath);
bool Exists(const std::string& windowsPath);
void MakeFolders(const std::string& windowsPath);

// Sets a file's last-write time, in seconds since 1970 (UTC).
void SetLastWriteTime(const std::string& windowsPath, int64_t unixSeconds);

// Waits, in real time, until `done` holds, looking every 10 ms; false when it
// still does not after `seconds`. A test waits for a state this way, never
// with a pause of a guessed length.
bool WaitFor(const std::function<bool()>& done, int seconds = 30);

// The path of a stand-in tool built beside the test program (tests/tools),
// as a Windows path, for example ToolPath("purchase_standin").
std::string ToolPath(const std::string& name);

// True on the wine run of the unit tier.
bool RunningUnderWine();
// False where the platform never clears a file's archive attribute (wine):
// cases that need it cleared are skipped there, with that reason.
bool ArchiveAttributeCanBeCleared();

// True when running as the superuser (some read-only cases cannot be shown then under wine).
bool RunningAsRoot();

#ifndef _WIN32
// What POSIX lets a test arrange that no file operation can: a FIFO, a
// limit on the size of the files this process writes, an account with less
// rights than the superuser.
void MakeFifo(const std::string& windowsPath);

// While it lives, a file that this process writes may grow to `bytes` at
// most; a write past that fails (SIGXFSZ is ignored, so that it fails rather
// than ending the process).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t previous_;
  void (*previousHandler_)(int);
};

// While it lives, the process acts with the rights of an ordinary account:
// as the superuser, which may change any file, it takes the effective user
// id of "nobody"; otherwise nothing changes.
class OrdinaryRights {
 public:
  OrdinaryRights();
  ~OrdinaryRights();
  OrdinaryRights(const OrdinaryRights&) = delete;
  OrdinaryRights& operator=(const OrdinaryRights&) = delete;

 private:
  bool switched_ = false;
};
#endif

// A simulated clock: the tick count only moves when the code under test
// sleeps, so waits of minutes take no time. Calendar time and conversions are
// the real clock's, unless a fixed time is set.
class FakeClock : public plat::Clock {
 public:
  explicit FakeClock(plat::Clock& real, uint32_t startTick = 1000) : real_(real), tick_(startTick) {}
  uint32_t TickCount() override { return tick_; }
  void Sleep(uint32_t milliseconds) override;
  plat::CalendarTime UtcNow() override;
  plat::CalendarTime LocalNow() override;
  bool ToLocalTime(plat::FileTime time, plat::CalendarTime& local) override {
    return real_.ToLocalTime(time, local);
  }
  bool ToDosDateTime(plat::FileTime time, uint16_t& date, uint16_t& dosTime) override {
    return real_.ToDosDateTime(time, date, dosTime);
  }

  void SetTick(uint32_t tick) { tick_ = tick; }
  void FixTime(const plat::CalendarTime& utc, const plat::CalendarTime& local) {
    fixed_ = true;
    utc_ = utc;
    local_ = local;
  }

  std::vector<uint32_t> sleeps;                  // every pause, in order
  std::function<void(uint32_t tick)> onSleep;    // runs after each pause, with the new tick

 private:
  plat::Clock& real_;
  uint32_t tick_;
  bool fixed_ = false;
  plat::CalendarTime utc_, local_;
};

struct ShownMessage {
  uint32_t owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

struct LoggedEvent {
  std::string source;
  plat::EventType type;
  uint32_t id;
  std::string text;
};

// A message box that records what it was asked to show and answers at once,
// on a desktop that is visible unless a test says otherwise, and an event log
// that records each event.
class RecordingUi : public plat::UserInterface {
 public:
  int ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                     uint32_t style) override {
    shown.push_back({owner, text, caption, style});
    return answer;
  }
  bool DesktopVisible() override { return desktopVisible; }
  bool WriteEventLog(const std::string& source, plat::EventType type, uint32_t id,
                     const std::string& text) override {
    events.push_back({source, type, id, text});
    return true;
  }
  uint32_t DesktopWindow() override { return kDesktop; }
  void ShowWaitCursor() override { ++waitCursors; }
  void RemoveQueuedMessage(uint32_t message) override { removedMessages.push_back(message); }

  static constexpr uint32_t kDesktop = 0x10010;
  std::vector<ShownMessage> shown;
  std::vector<LoggedEvent> events;
  bool desktopVisible = true;
  std::vector<uint32_t> removedMessages;
  int waitCursors = 0;
  int answer = 1;  // IDOK
};

// Keeps a program that the running test started, so that the test's end
// waits for it: a program that outlives its test writes into a folder that
// is being removed, or into the next test's. A null program is passed over.
void WaitAtTheEnd(std::shared_ptr<plat::Process> program);

// Records every program start and passes it on to the real platform, so that
// tests can see what cannot be seen from outside (the shell verb, the show
// mode). Every program it starts is waited for at the end of the test.
class RecordingProcesses : public plat::Processes {
 public:
  explicit RecordingProcesses(plat::Processes& real) : real_(real) {}
  uint32_t ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                      const std::string& parameters, int show) override {
    std::shared_ptr<plat::Process> started;
    return ShellStartKept(owner, verb, program, parameters, show, started);
  }
  uint32_t CommandStart(const std::string& commandLine, int show) override {
    std::shared_ptr<plat::Process> started;
    return CommandStartKept(commandLine, show, started);
  }
  uint32_t ShellStartKept(uint32_t owner, const std::string& verb, const std::string& program,
                          const std::string& parameters, int show,
                          std::shared_ptr<plat::Process>& started) override {
    shellStarts.push_back({owner, verb, program, parameters, show});
    uint32_t result = real_.ShellStartKept(owner, verb, program, parameters, show, started);
    WaitAtTheEnd(started);
    return result;
  }
  uint32_t CommandStartKept(const std::string& commandLine, int show,
                            std::shared_ptr<plat::Process>& started) override {
    commandStarts.push_back({0, "", commandLine, "", show});
    uint32_t result = real_.CommandStartKept(commandLine, show, started);
    WaitAtTheEnd(started);
    return result;
  }

  struct Start {
    uint32_t owner;
    std::string verb, program, parameters;
    int show;
  };
  std::vector<Start> shellStarts;
  std::vector<Start> commandStarts;  // the command line is in `program`

 private:
  plat::Processes& real_;
};

// The native system facts, with those a test chooses: the command line (the
// real one is the test program's own), and the version and the registry
// number (there is no registry on POSIX) when they are set.
class ChosenSystem : public plat::SystemInfo {
 public:
  explicit ChosenSystem(plat::SystemInfo& real) : real_(real) {}
  bool ModulePath(std::string& path) override { return real_.ModulePath(path); }
  std::string CommandLine() override { return line; }
  uint32_t Version() override { return version ? *version : real_.Version(); }
  uint32_t AvailablePhysicalMemory() override { return real_.AvailablePhysicalMemory(); }
  bool NetworkUserName(std::string& name) override { return real_.NetworkUserName(name); }
  plat::RegistryRead MachineNumber(const std::string& key, const std::string& value,
                                   uint32_t& number) override {
    if (!registry) return real_.MachineNumber(key, value, number);
    keyAsked = key + "|" + value;
    number = registryNumber;
    return *registry;
  }

  std::string line = "QZBACKUP.EXE";
  std::optional<uint32_t> version;
  std::optional<plat::RegistryRead> registry;
  uint32_t registryNumber = 1;
  std::string keyAsked;  // the last key and value read, as "key|value"

 private:
  plat::SystemInfo& real_;
};

// The native file system, kept to the test's temporary folder: making a
// folder outside it current fails the test and is refused (access denied),
// so that code under test that changes the current folder by mistake writes
// nothing beside the test programs.
class ConfinedFiles : public plat::FileSystem {
 public:
  explicit ConfinedFiles(plat::FileSystem& real) : real_(real) {}
  std::unique_ptr<plat::DirectorySearch> FindFirst(const std::string& pattern,
                                                   plat::FindEntry& first) override {
    return real_.FindFirst(pattern, first);
  }
  uint32_t GetAttributes(const std::string& path) override { return real_.GetAttributes(path); }
  bool LeadsOutside(const std::string& path) override { return real_.LeadsOutside(path); }
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return real_.SetAttributes(path, attributes);
  }
  bool Copy(const std::string& from, const std::string& to, bool failIfExists) override {
    return real_.Copy(from, to, failIfExists);
  }
  bool Delete(const std::string& path) override { return real_.Delete(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return real_.Rename(from, to);
  }
  bool MakeFolder(const std::string& path) override { return real_.MakeFolder(path); }
  std::unique_ptr<plat::File> Open(const std::string& path, uint32_t access, uint32_t share,
                                   plat::Disposition disposition) override {
    return real_.Open(path, access, share, disposition);
  }
  bool WriteIniString(const std::string& section, const std::string& key,
                      const std::string& value, const std::string& file) override {
    return real_.WriteIniString(section, key, value, file);
  }
  bool GetCurrentFolder(std::string& folder) override { return real_.GetCurrentFolder(folder); }
  bool SetCurrentFolder(const std::string& folder) override;

 private:
  plat::FileSystem& real_;
};

// The native platform with the file system kept to the test's folder, the
// simulated clock, the recording message box and the recording process starts.
struct TestPlatform {
  TestPlatform();
  ConfinedFiles files;
  FakeClock clock;
  RecordingUi ui;
  RecordingProcesses processes;
  plat::Platform platform;
};

// A test whose current folder is a fresh, empty temporary folder. On POSIX
// the drive C: of the platform layer is a folder inside it as well, so that
// C:\_$MERIXA\ never touches the real machine.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The temporary folder as an absolute Windows path, with a trailing backslash.
  std::string Root() const { return root_; }
  // A name inside the temporary folder, as a Windows path.
  std::string Path(const std::string& name) const { return root_ + name; }
  std::filesystem::path HostRoot() const { return hostRoot_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path hostRoot_;
  std::string root_;
  std::string savedDosDevices_;
  bool hadDosDevices_ = false;
};

}  // namespace support
