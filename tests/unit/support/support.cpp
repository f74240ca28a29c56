#include "support/support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/paths.h"
#endif

namespace support {

namespace fs = std::filesystem;

fs::path HostPath(const std::string& windowsPath) {
#ifdef _WIN32
  return fs::path(windowsPath);
#else
  return fs::path(plat::posix::ToHostPath(windowsPath));
#endif
}

void WriteBytes(const std::string& windowsPath, const std::string& bytes) {
  std::ofstream out(HostPath(windowsPath), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << windowsPath;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& windowsPath) {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& windowsPath) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(HostPath(windowsPath), ignored));
}

void MakeFolders(const std::string& windowsPath) {
  std::error_code ignored;
  fs::create_directories(HostPath(windowsPath), ignored);
}

void SetLastWriteTime(const std::string& windowsPath, int64_t unixSeconds) {
  auto system = std::chrono::sys_seconds(std::chrono::seconds(unixSeconds));
  fs::last_write_time(HostPath(windowsPath), std::chrono::file_clock::from_sys(system));
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ToolPath(const std::string& name) {
  std::string self;
  plat::Native().system.ModulePath(self);
  std::string folder = self.substr(0, self.find_last_of('\\') + 1);
#ifdef _WIN32
  return folder + name + ".exe";
#else
  return folder + name;
#endif
}

bool RunningUnderWine() {
  plat::Libraries& libraries = plat::Native().libraries;
  uint32_t ntdll = libraries.Loaded("ntdll.dll");
  return ntdll != 0 && libraries.EntryPoint(ntdll, "wine_get_version") != 0;
}

bool ArchiveAttributeCanBeCleared() {
  static const bool clearable = [] {
    const std::string probe = "qz-archive-probe.tmp";
    plat::FileSystem& files = plat::Native().files;
    { files.Open(probe, plat::kWrite, plat::kShareNone, plat::Disposition::kCreateAlways); }
    files.SetAttributes(probe, plat::kAttrNormal);
    uint32_t attributes = files.GetAttributes(probe);
    files.Delete(probe);
    return attributes != plat::kInvalidAttributes && (attributes & plat::kAttrArchive) == 0;
  }();
  return clearable;
}

bool RunningAsRoot() {
  std::string user;
  return plat::Native().system.NetworkUserName(user) && user == "root";
}

#ifndef _WIN32
void MakeFifo(const std::string& windowsPath) {
  ASSERT_EQ(mkfifo(HostPath(windowsPath).c_str(), 0666), 0) << windowsPath;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  previous_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
  previousHandler_ = signal(SIGXFSZ, SIG_IGN);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = previous_;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, previousHandler_);
}

OrdinaryRights::OrdinaryRights() {
  constexpr uid_t kNobody = 65534;
  switched_ = geteuid() == 0 && seteuid(kNobody) == 0;
}

OrdinaryRights::~OrdinaryRights() {
  if (switched_) seteuid(0);
}
#endif

void FakeClock::Sleep(uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  tick_ += milliseconds;
  if (onSleep) onSleep(tick_);
}

plat::CalendarTime FakeClock::UtcNow() { return fixed_ ? utc_ : real_.UtcNow(); }
plat::CalendarTime FakeClock::LocalNow() { return fixed_ ? local_ : real_.LocalNow(); }

namespace {

// The temporary folder of the running test, canonical; empty between tests.
fs::path testFolder;

// The programs the running test started.
std::vector<std::shared_ptr<plat::Process>> startedPrograms;

// Waits for every program the test started; one still running after a
// minute fails the test.
void WaitForStartedPrograms() {
  constexpr uint32_t kLongestWait = 60000;
  for (const std::shared_ptr<plat::Process>& program : startedPrograms) {
    EXPECT_TRUE(program->Wait(kLongestWait)) << "a program the test started still runs";
  }
  startedPrograms.clear();
}

bool InsideTestFolder(const std::string& windowsPath) {
  if (testFolder.empty()) return false;
  std::error_code ignored;
  fs::path target = fs::weakly_canonical(fs::absolute(HostPath(windowsPath), ignored), ignored);
  auto [rest, unused] = std::mismatch(testFolder.begin(), testFolder.end(), target.begin(),
                                      target.end());
  return rest == testFolder.end();
}

}  // namespace

void WaitAtTheEnd(std::shared_ptr<plat::Process> program) {
  if (program) startedPrograms.push_back(std::move(program));
}

bool ConfinedFiles::SetCurrentFolder(const std::string& folder) {
  if (InsideTestFolder(folder)) return real_.SetCurrentFolder(folder);
  ADD_FAILURE() << "the code under test tried to leave the test's folder for " << folder;
  plat::SetLastError(plat::kErrorAccessDenied);
  return false;
}

TestPlatform::TestPlatform()
    : files(plat::Native().files),
      clock(plat::Native().clock),
      processes(plat::Native().processes),
      platform{files, clock, processes, ui, plat::Native().system, plat::Native().libraries} {}

void TempFolderTest::SetUp() {
  previous_ = fs::current_path();
  std::random_device seed;
  std::mt19937_64 random(seed());
  fs::path base = fs::temp_directory_path();
  for (;;) {
    std::ostringstream name;
    name << "qz-unit-" << std::hex << random();
    hostRoot_ = base / name.str();
    if (fs::create_directory(hostRoot_)) break;
  }
  fs::current_path(hostRoot_);
  testFolder = fs::canonical(hostRoot_);
#ifndef _WIN32
  // Drive C: of the layer is <temp>/c, through the sandbox's own dosdevices.
  fs::create_directory(hostRoot_ / "c");
  fs::create_directory(hostRoot_ / "dosdevices");
  fs::create_directory_symlink("../c", hostRoot_ / "dosdevices" / "c:");
  if (const char* saved = std::getenv("QZ_DOSDEVICES")) {
    hadDosDevices_ = true;
    savedDosDevices_ = saved;
  }
  setenv("QZ_DOSDEVICES", (hostRoot_ / "dosdevices").c_str(), 1);
#endif
  ASSERT_TRUE(plat::Native().files.GetCurrentFolder(root_));
  if (root_.empty() || root_.back() != '\\') root_ += '\\';
}

void TempFolderTest::TearDown() {
  WaitForStartedPrograms();
  testFolder.clear();
  fs::current_path(previous_);
#ifndef _WIN32
  if (hadDosDevices_) {
    setenv("QZ_DOSDEVICES", savedDosDevices_.c_str(), 1);
  } else {
    unsetenv("QZ_DOSDEVICES");
  }
#endif
  std::error_code ignored;
  fs::remove_all(hostRoot_, ignored);
}

}  // namespace support
