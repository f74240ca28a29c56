// Faults injected into a launcher start: every file operation of a first
// start and of an ordinary start is failed in turn, with each of the errors
// that a file server gives (access denied, sharing violation, path not
// found, disk full). Each run must end with a started application or one of
// the launcher's messages, must not start the application after a failure
// that has to stop it, and must delete, replace or create only what the
// launcher may.
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "launcher/localfiles.h"
#include "launcher/relay.h"
#include "launcher_fixture.h"
#include "support/faulty_files.h"

namespace launcher_test {
namespace {

using support::FileCall;
using Kind = FileCall::Kind;

constexpr uint32_t kErrors[] = {plat::kErrorAccessDenied, plat::kErrorSharingViolation,
                                plat::kErrorPathNotFound, plat::kErrorDiskFull};
constexpr char kDefaultFolder[] = "C:\\_$MERIXA\\";

// The shell's part: the start is recorded, not made (hundreds of runs would
// leave as many applications behind), and refused, as the shell refuses it,
// when the program is not there.
class RecordingShell : public plat::Processes {
 public:
  uint32_t ShellStart(uint32_t, const std::string&, const std::string& program,
                      const std::string& parameters, int) override {
    if (!support::Exists(program)) {
      plat::SetLastError(plat::kErrorFileNotFound);
      return plat::kErrorFileNotFound;
    }
    started.push_back(program + " " + parameters);
    return 42;
  }
  uint32_t CommandStart(const std::string&, int) override { return 0; }
  std::vector<std::string> started;
};

// The texts that a normal start may end with.
bool IsLauncherMessage(const std::string& text) {
  static const std::regex kMessages(
      "#[1-9][0-9]* - Error while (obtaining EXE path information|setting default path|"
      "opening id file|reading id file|opening old id file|reading old id file|creating id file|"
      "creating local folder|waiting for Varnolet to close-down|creating ADSLOCAL.CFG|"
      "copying (ACE32.DLL|ADSLOC32.DLL|AXCWS32.DLL|ADS.INI|ADSLOCAL.CPY|libxl.dll|LOCALMSG.TXT|"
      "PURCHASE.EXE))|This is not the Varnolet root folder|"
      "Varnolet is being updated - Please try again in a few minutes\\.\\.\\.|"
      "Missing create/modify/delete rights|Unable to set file attributes|"
      "Files marked as READONLY in .* \\(including sub-folders\\)|"
      "#[1-9][0-9]* - Unable to run Varnolet|Varnolet is already running");
  return std::regex_match(text, kMessages);
}

struct Scenario {
  const char* name;
  bool ordinary;        // a start after a first start that succeeded
  const char* tail;     // the command line after the launcher's name
  bool logged = false;  // the logged-on user's messages go to LASTMSG.LOG
  bool legacy = false;  // a legacy PURCHASE.INI and a CACLS.SYS lie in wait
  bool shifted = false;  // after the first start, a shifted backup names another identity
};

constexpr char kBackupIdentity[] = "20250101-000000-1-2-3";

class LauncherFaultsTest : public LauncherTest {
 protected:
  // Empties the temporary folder (keeping its drive C:) and makes it a
  // shared root whose files are small: the started program is not run.
  void FreshRoot(const Scenario& scenario) {
    for (const auto& entry : std::filesystem::directory_iterator(HostRoot())) {
      if (entry.path().filename() != "dosdevices") std::filesystem::remove_all(entry.path());
    }
    std::filesystem::create_directory(HostRoot() / "c");
    MakeSharedRootData();
    support::WriteBytes("XLS\\libxl.dll", "libxl");
    support::WriteBytes("PURCHASE.EXE", "purchase");
    if (scenario.legacy) {
      support::MakeFolders(kDefaultFolder);
      support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI", "[legacy]\r\n");
      support::WriteBytes("CACLS.SYS", "");
    }
    if (scenario.logged) LogMessagesToFile();
  }

  // One start on the given file system; gives the local folder it used.
  std::string Start(plat::FileSystem& fileSystem, const std::string& tail) {
    plat::Platform os{fileSystem, test.clock, shell, test.ui, plat::Native().system,
                      plat::Native().libraries};
    launcher::Context run{os};
    launcher::Arguments arguments = launcher::ParseCommandLine("QZSTART.EXE " + tail);
    launcher::Dispatch(run, arguments);
    return arguments.localFolder;
  }

  // The undisturbed start before an ordinary one.
  void FirstStart(const Scenario& scenario) {
    Start(test.platform.files, scenario.tail);
    if (scenario.shifted) {
      std::string shifted = kBackupIdentity;
      for (char& c : shifted) c = static_cast<char>(c + 1);
      support::WriteBytes(files.shiftedBackup, shifted);
    }
  }

  // The calls of an undisturbed run of the scenario.
  uint64_t CountCalls(const Scenario& scenario) {
    FreshRoot(scenario);
    if (scenario.ordinary) FirstStart(scenario);
    Reset();
    support::FaultyFiles counting(test.platform.files);
    Start(counting, scenario.tail);
    EXPECT_EQ(shell.started.size(), 1u) << "the undisturbed " << scenario.name << " must start";
    EXPECT_TRUE(test.ui.shown.empty());
    return counting.calls();
  }

  // Each start sees a later tick count, so that a new identity always differs from the old.
  void Reset() {
    test.clock.SetTick(test.clock.TickCount() + 1000);
    shell.started.clear();
    test.ui.shown.clear();
    test.clock.sleeps.clear();
  }

  // Runs the scenario once for every call and error; gives the number of faults injected.
  int Sweep(const Scenario& scenario) {
    uint64_t calls = CountCalls(scenario);
    int injected = 0;
    for (uint64_t n = 1; n <= calls; ++n) {
      for (uint32_t error : kErrors) {
        FreshRoot(scenario);
        if (scenario.ordinary) FirstStart(scenario);
        std::string identityBefore = support::ReadBytes(files.identity);
        Reset();
        support::FaultyFiles faulty(test.platform.files);
        faulty.FailCall(n, error);
        std::string folder = Start(faulty, scenario.tail);
        if (!faulty.injected()) continue;
        ++injected;
        SCOPED_TRACE(std::string(scenario.name) + ": call " + std::to_string(n) + " (" +
                     support::Describe(*faulty.injected()) + ") failed with " +
                     std::to_string(error));
        CheckOutcome(scenario, faulty, error);
        CheckChanges(faulty, folder);
        if (scenario.ordinary) CheckIdentityKept(faulty, error, identityBefore, scenario.shifted);
        CheckNextStartRecovers(scenario);
        if (HasFailure()) return injected;  // one fault's story is enough to read
      }
    }
    return injected;
  }

  // Ended with a started application and no message, or with one message and nothing started.
  void CheckOutcome(const Scenario& scenario, const support::FaultyFiles& faulty, uint32_t error) {
    std::vector<std::string> messages;
    for (const auto& shown : test.ui.shown) messages.push_back(shown.text);
    if (scenario.logged && support::Exists("LASTMSG.LOG")) {
      messages.push_back(support::ReadBytes("LASTMSG.LOG"));
    }
    bool started = !shell.started.empty();
    if (started) {
      EXPECT_TRUE(messages.empty()) << messages.front();
      EXPECT_FALSE(MustStop(faulty, error)) << "the application was started";
      CheckLocalCopies(faulty);
      return;
    }
    bool dropped = scenario.logged && faulty.injected()->kind == Kind::kOpen &&
                   faulty.injected()->path == "LASTMSG.LOG";
    if (dropped && messages.empty()) return;  // the log could not be written: the text is lost
    ASSERT_EQ(messages.size(), 1u) << "neither started nor one message";
    EXPECT_TRUE(IsLauncherMessage(messages[0])) << messages[0];
  }

  // After a start the local folder holds what the shared root holds.
  void CheckLocalCopies(const support::FaultyFiles& faulty) {
    std::string program = shell.started[0].substr(0, shell.started[0].find(' '));
    std::string folder = program.substr(0, program.size() - std::string("PURCHASE.EXE").size());
    for (const char* name : {"ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL"}) {
      EXPECT_EQ(support::ReadBytes(folder + name), support::ReadBytes(std::string("AXS\\") + name))
          << name;
    }
    EXPECT_EQ(support::ReadBytes(folder + "libxl.dll"), "libxl");
    EXPECT_EQ(support::ReadBytes(folder + "PURCHASE.EXE"), "purchase");
    EXPECT_EQ(support::ReadBytes(folder + "README.TXT"), "Local copy of Varnolet\r\n");
    // The launcher does not check the configuration's write: only a failed write leaves it short.
    const FileCall& fault = *faulty.injected();
    if (!(fault.kind == Kind::kWrite && fault.path == folder + "ADSLOCAL.CFG")) {
      EXPECT_EQ(support::ReadBytes(folder + "ADSLOCAL.CFG"), launcher::ClientConfiguration(folder));
    }
  }

  // Runs the scenario with its first call of `kind` on `path` failed with
  // `error`; `identity` gets the identity the run started from.
  bool FailFirst(const Scenario& scenario, Kind kind, const std::string& path, uint32_t error,
                 std::string* identity = nullptr) {
    for (uint64_t n = 1;; ++n) {
      FreshRoot(scenario);
      if (scenario.ordinary) FirstStart(scenario);
      if (identity) *identity = support::ReadBytes(files.identity);
      Reset();
      support::FaultyFiles faulty(test.platform.files);
      faulty.FailCall(n, error);
      Start(faulty, scenario.tail);
      if (!faulty.injected()) return false;
      if (faulty.injected()->kind == kind && faulty.injected()->path == path) return true;
    }
  }

  // A fault leaves nothing behind that stops the next start: it makes its
  // decisions afresh from what it finds.
  void CheckNextStartRecovers(const Scenario& scenario) {
    Reset();
    if (support::Exists("LASTMSG.LOG")) std::filesystem::remove(support::HostPath("LASTMSG.LOG"));
    Start(test.platform.files, scenario.tail);
    std::string logged = support::ReadBytes("LASTMSG.LOG");
    EXPECT_EQ(shell.started.size(), 1u)
        << "the next start did not start: "
        << (test.ui.shown.empty() ? logged : test.ui.shown[0].text);
  }

  // Failures after which the application must not be started.
  bool MustStop(const support::FaultyFiles& faulty, uint32_t error) {
    const FileCall& fault = *faulty.injected();
    auto endsWith = [&](const std::string& name) {
      return fault.path.size() >= name.size() &&
             fault.path.compare(fault.path.size() - name.size(), name.size(), name) == 0;
    };
    switch (fault.kind) {
      case Kind::kCopy:
        if (fault.path == files.rightsMarker) return true;
        if (fault.source == files.identity) return endsWith("\\" + files.identity);
        if (endsWith("\\ADS.INI")) {
          return error != plat::kErrorAccessDenied && error != plat::kErrorSharingViolation;
        }
        for (const char* name : {"\\ACE32.DLL", "\\ADSLOC32.DLL", "\\AXCWS32.DLL", "\\libxl.dll",
                                 "\\README.TXT", "\\PURCHASE.EXE", "\\ADSLOCAL.CPY"}) {
          if (endsWith(name)) return true;
        }
        return false;
      case Kind::kOpen:
      case Kind::kRead:
        return fault.path == files.identity && !fault.creates;
      case Kind::kFindFirst:  // the root checks, made before anything is changed
        return faulty.changesBeforeFault() == 0 &&
               (fault.path == "UTILS\\QZTSTDIR\\QZTSTDIR.CHK" || fault.path == "PURCHASE.EXE");
      default:
        return false;
    }
  }

  // Only the launcher's own files are deleted, renamed, changed or created.
  void CheckChanges(const support::FaultyFiles& faulty, const std::string& localFolder) {
    const std::set<std::string> deletable = {
        files.identity, files.firstBackup, files.secondBackup, files.shiftedBackup, "CACLS.SYS",
        "C:\\_$MERIXA\\PURCHASE.INI"};
    const std::set<std::string> attributed = {files.identity,     files.previous,
                                              files.firstBackup,  files.secondBackup,
                                              files.shiftedBackup, files.rightsMarker};
    const std::set<std::string> written = {files.identity, files.previous, files.rightsMarker,
                                           "LASTMSG.LOG"};
    auto inLocalFolder = [&](const std::string& path) {
      return path.compare(0, localFolder.size(), localFolder) == 0 &&
             path.find('\\', localFolder.size()) == std::string::npos;
    };
    for (const FileCall& change : faulty.changes()) {
      const std::string& path = change.path;
      switch (change.kind) {
        case Kind::kDelete:
          EXPECT_TRUE(deletable.count(path) || path == localFolder + "libxl.dll") << path;
          break;
        case Kind::kRename:
          EXPECT_EQ(change.source, "C:\\_$MERIXA\\PURCHASE.INI");
          EXPECT_EQ(path, "C:\\_$MERIXA\\PURCHASE.INI.OLD");
          break;
        case Kind::kSetAttributes:
          EXPECT_TRUE(attributed.count(path)) << path;
          break;
        case Kind::kMakeFolder:
          EXPECT_EQ(localFolder.compare(0, path.size(), path), 0) << path;
          break;
        default:  // copies, creating or writing opens, profile writes
          EXPECT_TRUE(written.count(path) || inLocalFolder(path)) << support::Describe(change);
      }
    }
  }

  // An ordinary start keeps the identity, unless the rights check retired it
  // (the rights marker could not be found or its attributes not be read) or
  // the search for the identity file said that it is missing. A shifted
  // backup may have replaced it with the backup's identity.
  void CheckIdentityKept(const support::FaultyFiles& faulty, uint32_t error,
                         const std::string& before, bool shifted) {
    const FileCall& fault = *faulty.injected();
    bool rightsCheck = fault.path == files.rightsMarker &&
                       (fault.kind == Kind::kFindFirst || fault.kind == Kind::kGetAttributes);
    bool reportedMissing = fault.kind == Kind::kFindFirst && fault.path == files.identity &&
                           (error == plat::kErrorFileNotFound || error == plat::kErrorPathNotFound);
    std::string after = support::ReadBytes(files.identity);
    if (reportedMissing) return;
    if (rightsCheck) {
      if (after != before && !(shifted && after == kBackupIdentity)) {
        EXPECT_EQ(support::ReadBytes(files.previous), before) << "the retired identity is kept";
      }
      return;
    }
    if (!after.empty() && !(shifted && after == kBackupIdentity)) {
      EXPECT_EQ(after, before) << "the installation's identity was replaced";
    }
    EXPECT_TRUE(support::Exists(files.identity)) << "the identity file was lost";
  }

  RecordingShell shell;
};

TEST_F(LauncherFaultsTest, EveryFaultOfAFirstStartEndsInAStartOrAMessage) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  int injected = Sweep({"first start", false, "", false, true});
  injected += Sweep({"first start, logged account", false, "", true, false});
  RecordProperty("injected_faults", injected);
  std::printf("[ faults   ] %d faults injected into first starts\n", injected);
  EXPECT_GT(injected, 100);
}

TEST_F(LauncherFaultsTest, EveryFaultOfAnOrdinaryStartEndsInAStartOrAMessage) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  int injected = Sweep({"ordinary start", true, ""});
  injected += Sweep({"install start waiting for close-down", true, "\"\" INSTALL WAIT4EXIT"});
  injected += Sweep({"ordinary start, shifted backup", true, "", false, false, true});
  RecordProperty("injected_faults", injected);
  std::printf("[ faults   ] %d faults injected into ordinary starts\n", injected);
  EXPECT_GT(injected, 100);
}

TEST_F(LauncherFaultsTest, RefusedSearchForTheIdentityStopsInsteadOfReplacingIt) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Scenario ordinary{"ordinary start", true, ""};
  std::string identity;
  ASSERT_TRUE(FailFirst(ordinary, Kind::kFindFirst, files.identity, plat::kErrorAccessDenied,
                        &identity));
  EXPECT_EQ(OnlyMessage(), "#5 - Error while opening id file");
  EXPECT_TRUE(shell.started.empty());
  EXPECT_EQ(support::ReadBytes(files.identity), identity);
}

TEST_F(LauncherFaultsTest, NewIdentityThatCannotBeWrittenIsNotLeftEmpty) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Scenario first{"first start", false, ""};
  ASSERT_TRUE(FailFirst(first, Kind::kWrite, files.identity, plat::kErrorDiskFull));
  EXPECT_EQ(OnlyMessage(), "#112 - Error while creating id file");
  EXPECT_FALSE(support::Exists(files.identity));
  Reset();
  Start(test.platform.files, "");
  EXPECT_EQ(shell.started.size(), 1u);
}

TEST_F(LauncherFaultsTest, FailedRewriteFromTheShiftedBackupKeepsTheOldIdentity) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Scenario shifted{"shifted backup", true, "", false, false, true};
  std::string identity;
  ASSERT_TRUE(FailFirst(shifted, Kind::kWrite, files.identity, plat::kErrorDiskFull, &identity));
  ASSERT_EQ(shell.started.size(), 1u) << "the rewrite's failure is silent";
  EXPECT_NE(shell.started[0].find(kBackupIdentity), std::string::npos);
  EXPECT_EQ(support::ReadBytes(files.identity), identity);
  Reset();
  Start(test.platform.files, "");
  EXPECT_EQ(support::ReadBytes(files.identity), kBackupIdentity);
}

// An ordinary start asks about each identity file that is missing once, and
// neither resets, opens nor deletes it: each question is a round trip to the
// file server.
TEST_F(LauncherFaultsTest, OrdinaryStartAsksAboutEachMissingIdentityFileOnce) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Scenario ordinary{"ordinary start", true, ""};
  FreshRoot(ordinary);
  FirstStart(ordinary);
  Reset();
  support::FaultyFiles watched(test.platform.files);
  std::map<std::string, std::vector<Kind>> calls;
  watched.beforeCall = [&](const FileCall& call) { calls[call.path].push_back(call.kind); };
  Start(watched, "");
  ASSERT_EQ(shell.started.size(), 1u);
  for (const std::string& missing :
       {files.previous, files.firstBackup, files.secondBackup, files.shiftedBackup}) {
    EXPECT_EQ(calls[missing], std::vector<Kind>{Kind::kFindFirst}) << missing;
  }
}

// What the start learnt early does not decide alone: a backup put back after
// the start asked for it, before it would restore, is still restored rather
// than replaced by a new identity.
TEST_F(LauncherFaultsTest, BackupThatAppearsDuringTheStartIsRestoredNotReplaced) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Scenario ordinary{"ordinary start", true, ""};
  FreshRoot(ordinary);
  FirstStart(ordinary);
  std::filesystem::remove(support::HostPath(files.identity));
  Reset();
  support::FaultyFiles watched(test.platform.files);
  watched.beforeCall = [&](const FileCall& call) {
    if (call.kind == Kind::kFindFirst && call.path == files.rightsMarker) {
      support::WriteBytes(files.firstBackup, kBackupIdentity);
    }
  };
  Start(watched, "");
  ASSERT_EQ(shell.started.size(), 1u);
  EXPECT_NE(shell.started[0].find(kBackupIdentity), std::string::npos) << shell.started[0];
  EXPECT_EQ(support::ReadBytes(files.identity), kBackupIdentity);
  EXPECT_TRUE(support::Exists(files.firstBackup));
}

// The relay requests delete or rewrite their own request file and nothing else.
TEST_F(LauncherFaultsTest, RelayRequestsTouchOnlyTheirRequestFile) {
  int injected = 0;
  for (const char* passThrough : {"{RUN}", "message"}) {
    for (uint64_t n = 1;; ++n) {
      bool reached = false;
      for (uint32_t error : kErrors) {
        FreshRoot({"relay", false, ""});
        support::WriteBytes("REQUEST.TXT", "BACKUP.BAT nightly");
        Reset();
        support::FaultyFiles faulty(test.platform.files);
        faulty.FailCall(n, error);
        Start(faulty, std::string("x ") + passThrough + " 18 REQUEST.TXT");
        if (!faulty.injected()) break;
        reached = true;
        ++injected;
        SCOPED_TRACE(std::string(passThrough) + ": " + support::Describe(*faulty.injected()));
        EXPECT_LE(test.ui.shown.size(), 1u);
        EXPECT_TRUE(shell.started.empty());
        for (const FileCall& change : faulty.changes()) {
          EXPECT_EQ(change.path, "REQUEST.TXT") << support::Describe(change);
          if (change.kind == Kind::kDelete) {
            EXPECT_STRNE(passThrough, "{RUN}");
          }
        }
        if (std::string(passThrough) == "{RUN}" && test.ui.shown.empty()) {
          static const std::regex kResponse(
              "Could not locate EXE in calling string|[0-9]+ \\(fopen\\)");
          std::string response = support::ReadBytes("REQUEST.TXT");
          // A failed write of the response leaves the file empty; nothing else may stand in it.
          if (!response.empty()) {
            EXPECT_TRUE(std::regex_match(response, kResponse)) << response;
          }
        }
      }
      if (!reached) break;
    }
  }
  std::printf("[ faults   ] %d faults injected into relay requests\n", injected);
  EXPECT_GT(injected, 10);
}

}  // namespace
}  // namespace launcher_test
