// Faults injected into a whole FULL backup run: every file operation of the
// run (searches and their steps, deletes, opens, reads and writes) is failed
// in turn with access denied, a sharing violation, path not found and a full
// disk. Each run must end with a message box, the error status files or the
// completion file, never claim completion after a failure that has to stop
// it, and erase or replace nothing but the monitor's own status files and
// LOCKDOWN.SYS.
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "monitor/runlog.h"
#include "monitor_fixture.h"
#include "support/faulty_files.h"

namespace monitor_test {
namespace {

using support::FileCall;
using Kind = FileCall::Kind;

#define SKIP_UNLESS_ARCHIVE_CLEARS()             \
  if (!support::ArchiveAttributeCanBeCleared()) \
  GTEST_SKIP() << "this platform never clears the archive attribute, so no backup can complete"

constexpr uint32_t kErrors[] = {plat::kErrorAccessDenied, plat::kErrorSharingViolation,
                                plat::kErrorPathNotFound, plat::kErrorDiskFull};
constexpr char kWords[] = "BACKUP.EXE FULL 120 ACME NIGHT";

// The data of the shared root, which no run may change.
const std::map<std::string, std::string> kData = {
    {"DATA\\ORDERS.DBF", "orders"},
    {"DATA\\INDEX\\ORDERS.CDX", "index"},
    {"DATA\\ARCHIVE\\2025\\OLD.DBF", "old"},
    {"README.TXT", "readme"},
};

// The failure texts that may stand in the error status files.
bool IsFailureText(const std::string& text) {
  static const std::regex kTexts(
      "COULD NOTE DELETE AUTORUN.ERR OR QZBACKUP.ERR|MISSING COMMAND LINE PARAMETERS|"
      "INVALID BACKUP MODE|THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE|"
      "#[0-9]+ - WINEXEC\\(\\) FAILED TO LAUNCH .*|"
      "ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\n[\\s\\S]*|"
      "TIMEOUT WAITING FOR SYSTEM LOCK-DOWN|FAILED TO LOAD KERNEL32.DLL|"
      "FAILED TO LOCATE SetFileAttributes|TIMEOUT WAITING FOR BACKUP TO COMPLETE|"
      "RUNTIME ERROR\r\n\r\nCalled from: .*\r\nMain system: .*\r\nSub-System: .*\r\n"
      "O/S code: [0-9]+\r\nOperation: .*");
  return std::regex_match(text, kTexts);
}

bool IsStatusFile(const std::string& path) {
  static const std::set<std::string> kStatusFiles = {
      "QZBACKUP.ERR", "UTILS\\QZBACKUP\\QZBACKUP.ERR", "UTILS\\QZBACKUP\\QZBACKUP.OK",
      "UTILS\\QZBACKUP\\QZBACKUP.TST"};
  return kStatusFiles.count(path) != 0;
}

class MonitorFaultsTest : public MonitorTest {
 protected:
  // A shared root with data and the leftovers of an earlier failed run.
  void FreshRoot() {
    for (const auto& entry : std::filesystem::directory_iterator(HostRoot())) {
      if (entry.path().filename() != "dosdevices") std::filesystem::remove_all(entry.path());
    }
    std::filesystem::create_directory(HostRoot() / "c");
    MakeSharedRoot();
    support::MakeFolders("DATA\\INDEX");
    support::MakeFolders("DATA\\ARCHIVE\\2025");
    for (const auto& [name, content] : kData) support::WriteBytes(name, content);
    for (const char* leftover : {"QZBACKUP.ERR", "UTILS\\QZBACKUP\\QZBACKUP.ERR",
                                 "UTILS\\QZBACKUP\\QZBACKUP.OK", "AUTORUN.ERR"}) {
      support::WriteBytes(leftover, "\r\nOLD\x1A");
    }
  }

  // One run on the given file system: the application locks down when asked,
  // and the backup job takes every file during the first minute's pause.
  int RunOn(plat::FileSystem& files) {
    rt::ResetState();
    processes.started.clear();
    test.ui.shown.clear();
    test.clock.sleeps.clear();
    if (lockDownFails) {
      processes.onStart = [](const std::string&) {
        support::WriteBytes("AUTORUN.ERR", "USERS STILL LOGGED IN\r\n\x1A");
      };
    } else {
      ApplicationLocksDown();
    }
    test.clock.onSleep = [this](uint32_t) {
      if (test.clock.sleeps.back() == 60000) ClearArchiveAttributes();
    };
    plat::Platform faultyOs{files, test.clock, processes, test.ui, system, test.platform.libraries};
    system.line = std::string("QZBACKUP.EXE ") + kWords;
    int code = rt::Start(faultyOs, monitor::ERRORSYS, monitor::MAIN);
    rt::UsePlatform(os);
    return code;
  }

  // Failures after which the run must not claim completion.
  bool MustStop(const support::FaultyFiles& faulty) {
    if (lockDownFails) return true;
    const FileCall& fault = *faulty.injected();
    switch (fault.kind) {
      case Kind::kDelete:  // the leftovers of the earlier run stay
        return fault.path != "LOCKDOWN.SYS";
      case Kind::kOpen:  // the test file or the completion file cannot be created
        return fault.creates && IsStatusFile(fault.path);
      case Kind::kFindFirst:  // the root check, made before anything is changed
        return faulty.changesBeforeFault() == 0;
      default:
        return false;
    }
  }

  void CheckRun(const support::FaultyFiles& faulty, int code) {
    const FileCall& fault = *faulty.injected();
    EXPECT_EQ(code, 0);
    bool completed = support::Exists("UTILS\\QZBACKUP\\QZBACKUP.OK") &&
                     support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK") != "\r\nOLD\x1A";
    std::string rootError = support::ReadBytes("QZBACKUP.ERR");
    std::string statusError = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR");
    bool failed = (!rootError.empty() && rootError != "\r\nOLD\x1A") ||
                  (!statusError.empty() && statusError != "\r\nOLD\x1A");
    bool writeFailed = fault.kind == Kind::kWrite;  // a failed write leaves the line out

    if (!test.ui.shown.empty()) {
      ASSERT_EQ(test.ui.shown.size(), 1u);
      const std::string& text = test.ui.shown[0].text;
      EXPECT_TRUE(text == "Run from the ROOT of the Varnolet folder on the file server" ||
                  text == "Could not create/delete files in UTILS\\QZBACKUP\\")
          << text;
      EXPECT_FALSE(completed || failed) << "a status file after a message box";
      EXPECT_TRUE(processes.started.empty());
      return;
    }
    ASSERT_NE(completed, failed) << "the run must leave exactly one outcome";
    if (fault.path == monitor::kRunLogFile) {
      EXPECT_EQ(completed, !lockDownFails) << "the run log changed the outcome";
    }
    if (completed) {
      EXPECT_FALSE(MustStop(faulty)) << "completion claimed after a failure that stops the run";
      std::string ok = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK");
      if (!writeFailed) {
        EXPECT_EQ(ok.substr(0, 15), "\r\nCOMPLETED ON ") << ok;
      }
      EXPECT_EQ(processes.started.size(), 2u);
    } else {
      for (const std::string* file : {&rootError, &statusError}) {
        if (file->empty() || *file == "\r\nOLD\x1A" || writeFailed) continue;
        ASSERT_GE(file->size(), 3u);
        EXPECT_EQ(file->substr(0, 2), "\r\n");
        EXPECT_EQ(file->back(), '\x1A');
        EXPECT_TRUE(IsFailureText(file->substr(2, file->size() - 3))) << *file;
      }
    }
    // A run that asked for the lock-down releases it, unless that erase was the fault.
    bool erasedByFault = fault.kind == Kind::kDelete && fault.path == "LOCKDOWN.SYS";
    if (!processes.started.empty() && !erasedByFault) {
      EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
    }
  }

  // Fails every call of an undisturbed run in turn with each error; gives
  // the number of faults injected.
  int Sweep() {
    FreshRoot();
    support::FaultyFiles counting(test.platform.files);
    EXPECT_EQ(RunOn(counting), 0);
    uint64_t calls = counting.calls();
    int injected = 0;
    for (uint64_t n = 1; n <= calls; ++n) {
      for (uint32_t error : kErrors) {
        FreshRoot();
        support::FaultyFiles faulty(test.platform.files);
        faulty.FailCall(n, error);
        int code = RunOn(faulty);
        if (!faulty.injected()) continue;
        ++injected;
        SCOPED_TRACE("call " + std::to_string(n) + " (" + support::Describe(*faulty.injected()) +
                     ") failed with " + std::to_string(error));
        CheckRun(faulty, code);
        CheckChanges(faulty);
        if (!lockDownFails) CheckNextRunCompletes(faulty);
        if (HasFailure()) return injected;
      }
    }
    return injected;
  }

  // A fault leaves nothing behind that stops the next run, except a
  // LOCKDOWN.SYS whose erase failed: the next run takes it for a lock-down
  // that is still in force.
  void CheckNextRunCompletes(const support::FaultyFiles& faulty) {
    const FileCall& fault = *faulty.injected();
    if (fault.kind == Kind::kDelete && fault.path == "LOCKDOWN.SYS") return;
    support::FaultyFiles undisturbed(test.platform.files);
    RunOn(undisturbed);
    EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK").substr(0, 15),
              "\r\nCOMPLETED ON ")
        << "the next run did not complete: " << support::ReadBytes("QZBACKUP.ERR");
  }

  // Only the monitor's own status files and run log, AUTORUN.ERR and
  // LOCKDOWN.SYS are erased or written, and the data is as it was.
  void CheckChanges(const support::FaultyFiles& faulty) {
    for (const FileCall& change : faulty.changes()) {
      if (change.path == monitor::kRunLogFile) {
        EXPECT_TRUE(change.kind == Kind::kOpen || change.kind == Kind::kSetAttributes)
            << support::Describe(change);
      } else if (change.kind == Kind::kDelete) {
        EXPECT_TRUE(IsStatusFile(change.path) || change.path == "LOCKDOWN.SYS" ||
                    change.path == "AUTORUN.ERR")
            << support::Describe(change);
      } else {
        EXPECT_TRUE(change.kind == Kind::kOpen && IsStatusFile(change.path))
            << support::Describe(change);
      }
    }
    for (const auto& [name, content] : kData) EXPECT_EQ(support::ReadBytes(name), content) << name;
  }

  bool lockDownFails = false;  // the application answers with AUTORUN.ERR
};

TEST_F(MonitorFaultsTest, EveryFaultOfAFullRunEndsInAStatusFileOrAMessage) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  FreshRoot();
  support::FaultyFiles counting(test.platform.files);
  ASSERT_EQ(RunOn(counting), 0);
  ASSERT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK").substr(0, 15), "\r\nCOMPLETED ON ");
  int injected = Sweep();
  std::printf("[ faults   ] %d faults injected into FULL runs (%llu calls each)\n", injected,
              static_cast<unsigned long long>(counting.calls()));
  EXPECT_GT(injected, 100);
}

TEST_F(MonitorFaultsTest, EveryFaultOfAFailedLockDownEndsInTheErrorFiles) {
  lockDownFails = true;
  FreshRoot();
  support::FaultyFiles counting(test.platform.files);
  ASSERT_EQ(RunOn(counting), 0);
  ASSERT_EQ(support::ReadBytes("QZBACKUP.ERR"),
            "\r\nERROR WHILE LOCKING DOWN SYSTEM\r\n\r\nUSERS STILL LOGGED IN\r\n\x1A");
  int injected = Sweep();
  std::printf("[ faults   ] %d faults injected into runs whose lock-down fails\n", injected);
  EXPECT_GT(injected, 50);
}

}  // namespace
}  // namespace monitor_test
