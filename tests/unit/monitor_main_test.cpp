// The monitor's main sequence, as whole in-process runs on real files with
// a simulated clock.
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "monitor_fixture.h"

namespace monitor_test {
namespace {

using Pauses = std::vector<uint32_t>;

constexpr char kValid[] = "BACKUP.EXE FULL 120 ACME NIGHT";
constexpr char kTitle[] = "Varnolet - Backup monitor";

#define SKIP_UNLESS_ARCHIVE_CLEARS()             \
  if (!support::ArchiveAttributeCanBeCleared()) \
  GTEST_SKIP() << "this platform never clears the archive attribute, so no backup can complete"

class MainTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    MakeSharedRoot();
  }

  // A run whose application locks down at once and whose backup job takes
  // every file at its start.
  int CompleteRun(const std::string& words) {
    processes.onStart = [](const std::string& line) {
      if (line.rfind("QZSTART.EXE ", 0) == 0) {
        support::WriteBytes("LOCKDOWN.SYS", "");
      } else {
        ClearArchiveAttributes();
      }
    };
    return Run(words);
  }

  // The report of a status file in UTILS\QZBACKUP that MAIN itself could not
  // create: the trace has the handler, SET and MAIN, no level between.
  void ExpectCreateErrorInMain(const std::string& osCode, const std::string& namePattern) {
    std::string report = support::ReadBytes("QZBACKUP.ERR");
    EXPECT_TRUE(std::regex_match(
        report, std::regex("\r\nRUNTIME ERROR\r\n\r\nCalled from: __EVAL\\([0-9]+\\) SET\\(0\\) "
                           "MAIN\\([0-9]+\\) \r\nMain system: 20 - Create error\r\n"
                           "Sub-System: 2013 - TERM\r\nO/S code: " + osCode + "\r\n"
                           "Operation: UTILS\\\\QZBACKUP\\\\" + namePattern + "\x1A")))
        << report;
  }

  // How many lines of the run log hold `text` after their date and time.
  int LogLines(const std::string& text) {
    std::string log = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.LOG");
    int count = 0;
    for (size_t at = log.find(" " + text); at != std::string::npos; at = log.find(" " + text, at + 1)) {
      ++count;
    }
    return count;
  }

  // Runs MAIN with parameters that no command line can give (words with blanks).
  void RunWith(const std::vector<std::string>& words) {
    rt::ResetState();
    monitor::ERRORSYS();
    try {
      monitor::MAIN(rt::Parameters(words));
    } catch (const rt::QuitSignal&) {
    }
    rt::Shutdown();
  }
};

#define SKIP_IF_READ_ONLY_IS_IGNORED()                       \
  if (support::RunningUnderWine() && support::RunningAsRoot()) \
  GTEST_SKIP() << "wine run as root ignores the read-only attribute"


TEST_F(MainTest, TooFewParametersShowTheUsageAndTouchNothing) {
  support::WriteBytes("QZBACKUP.ERR", "old");
  for (const char* words : {"", "A B C D"}) {
    test.ui.shown.clear();
    EXPECT_EQ(Run(words), 0);
    ASSERT_EQ(test.ui.shown.size(), 1u);
    EXPECT_EQ(test.ui.shown[0].text,
              "Please see UTILS\\QZBACKUP\\README.TXT for details\r\n\r\n"
              "Note: This is NOT backup software");
    EXPECT_EQ(test.ui.shown[0].caption, kTitle);
    EXPECT_EQ(test.ui.shown[0].style, 0u);
    EXPECT_EQ(test.ui.shown[0].owner, 0u);
  }
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "old");
  EXPECT_TRUE(processes.started.empty());
}

TEST_F(MainTest, OutsideTheRootNothingIsErased) {
  std::filesystem::remove(support::HostPath("UTILS\\QZTSTDIR\\QZTSTDIR.CHK"));
  support::WriteBytes("QZBACKUP.ERR", "old");
  EXPECT_EQ(Run(kValid), 0);
  EXPECT_EQ(OnlyMessage(), "Run from the ROOT of the Varnolet folder on the file server");
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "old");
}

TEST_F(MainTest, SwitchWordsAreNeitherParametersNorCounted) {
  ApplicationLocksDown();
  EXPECT_EQ(Run("//INFO BACKUP.EXE PARTIAL 1 ACME NIGHT"), 0);
  ASSERT_GE(processes.started.size(), 1u);
  EXPECT_EQ(processes.started[0], "QZSTART.EXE C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,10\"");
  test.ui.shown.clear();
  EXPECT_EQ(Run("//INFO A B C D"), 0);
  EXPECT_EQ(test.ui.shown.size(), 1u);  // four parameters: the usage
}

TEST_F(MainTest, StatusFolderThatKeepsItsFilesStopsTheRun) {
  SKIP_IF_READ_ONLY_IS_IGNORED();
  support::WriteBytes("UTILS\\QZBACKUP\\QZBACKUP.OK", "old");
  ASSERT_TRUE(plat::Native().files.SetAttributes("UTILS\\QZBACKUP\\QZBACKUP.OK", plat::kAttrReadOnly));
  support::WriteBytes("AUTORUN.ERR", "old reason");
  support::WriteBytes("LOCKDOWN.SYS", "");
  EXPECT_EQ(Run(kValid), 0);
  EXPECT_EQ(OnlyMessage(), "Could not create/delete files in UTILS\\QZBACKUP\\");
  EXPECT_FALSE(support::Exists("AUTORUN.ERR"));  // the clean start erased what it could
  EXPECT_TRUE(support::Exists("LOCKDOWN.SYS"));
  EXPECT_FALSE(support::Exists("QZBACKUP.ERR"));
}

TEST_F(MainTest, LeftoverFailureFileIsReported) {
  SKIP_IF_READ_ONLY_IS_IGNORED();
  support::WriteBytes("AUTORUN.ERR", "old reason");
  ASSERT_TRUE(plat::Native().files.SetAttributes("AUTORUN.ERR", plat::kAttrReadOnly));
  support::WriteBytes("LOCKDOWN.SYS", "");
  EXPECT_EQ(Run(kValid), 0);
  ExpectFailure("COULD NOTE DELETE AUTORUN.ERR OR QZBACKUP.ERR");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(MainTest, MissingOrTooSmallParametersAreReported) {
  for (const char* words : {"BACKUP.EXE FULL 0 ACME NIGHT", "BACKUP.EXE FULL abc ACME NIGHT",
                            "BACKUP.EXE FULL 0.5 ACME NIGHT", "BACKUP.EXE FULL .5 ACME NIGHT"}) {
    EXPECT_EQ(Run(words), 0);
    ExpectFailure("MISSING COMMAND LINE PARAMETERS");
  }
  EXPECT_TRUE(processes.started.empty());
}

TEST_F(MainTest, MissingParameterWithALockDownStillErasesIt) {
  support::WriteBytes("LOCKDOWN.SYS", "");
  EXPECT_EQ(Run("BACKUP.EXE FULL abc ACME NIGHT"), 0);
  ExpectFailure("MISSING COMMAND LINE PARAMETERS");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(MainTest, ModeIsAnyPieceOfFullOrPartial) {
  ApplicationLocksDown();
  for (const char* mode : {"X", "PARTIALS", "FULLPARTIAL"}) {
    EXPECT_EQ(Run(std::string("BACKUP.EXE ") + mode + " 1 ACME NIGHT"), 0);
    ExpectFailure("INVALID BACKUP MODE");
  }
  EXPECT_TRUE(processes.started.empty());
  for (const char* mode : {"full", "PART", "L", "FULL|PARTIAL", "Partial"}) {
    processes.started.clear();
    EXPECT_EQ(Run(std::string("BACKUP.EXE ") + mode + " 1 ACME NIGHT"), 0);
    EXPECT_FALSE(support::ReadBytes("QZBACKUP.ERR").find("INVALID") != std::string::npos) << mode;
    EXPECT_EQ(processes.started.size(), 2u) << mode;
  }
}

TEST_F(MainTest, ExistingLockDownIsKept) {
  support::WriteBytes("LOCKDOWN.SYS", "held");
  EXPECT_EQ(Run(kValid), 0);
  ExpectFailure("THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE");
  EXPECT_EQ(support::ReadBytes("LOCKDOWN.SYS"), "held");
}

TEST_F(MainTest, LockDownRequestIsTheLauncherCommandLineByteForByte) {
  ApplicationLocksDown();
  auto requestFor = [&](const std::string& minutesAndFolder) {
    processes.started.clear();
    std::filesystem::remove(support::HostPath("LOCKDOWN.SYS"));
    Run("BACKUP.EXE PARTIAL 1 ACME NIGHT" + minutesAndFolder);
    return processes.started.empty() ? "" : processes.started[0];
  };
  const std::string defaults = "QZSTART.EXE C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,10\"";
  EXPECT_EQ(requestFor(""), defaults);
  for (const char* minutes : {" 0", " -3", " abc", " .5"}) {
    EXPECT_EQ(requestFor(minutes), defaults) << minutes;
  }
  EXPECT_EQ(requestFor(" 2.5"), "QZSTART.EXE C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,2.5\"");
  EXPECT_EQ(requestFor(" 015"), "QZSTART.EXE C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,15\"");
  EXPECT_EQ(requestFor(" 15.50 D:\\Work\\Local\\"),
            "QZSTART.EXE D:\\Work\\Local\\ \"ACME,NIGHT,LOCKDOWN,15.50\"");
  EXPECT_EQ(processes.shows[0], 0);  // hidden
}

TEST_F(MainTest, LauncherThatCannotStartIsReported) {
  processes.results = {2};
  EXPECT_EQ(Run(kValid), 0);
  ExpectFailure("#2 - WINEXEC() FAILED TO LAUNCH QZSTART.EXE");
}

TEST_F(MainTest, LaunchResultOf32IsAStart) {
  ApplicationLocksDown();
  processes.results = {32, 32};
  EXPECT_EQ(Run("BACKUP.EXE PARTIAL 1 ACME NIGHT"), 0);
  EXPECT_EQ(processes.started.size(), 2u);
  ExpectFailure("TIMEOUT WAITING FOR BACKUP TO COMPLETE");  // the run went on to the backup wait
}

TEST_F(MainTest, LockDownWaitLastsTheMinutesPlusOne) {
  EXPECT_EQ(Run(kValid), 0);
  ExpectFailure("TIMEOUT WAITING FOR SYSTEM LOCK-DOWN");
  EXPECT_EQ(test.clock.sleeps, Pauses(44, 15000));  // 11 minutes in pauses of 15 seconds

  test.clock.sleeps.clear();
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT 2.5"), 0);
  EXPECT_EQ(test.clock.sleeps, Pauses(14, 15000));  // 210000 ms
}

TEST_F(MainTest, LockDownWaitAcrossTheCounterRestartEndsOnTime) {
  test.clock.SetTick(0xFFFFFFFFu - 100000);  // the counter restarts during the wait
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT 1"), 0);
  ExpectFailure("TIMEOUT WAITING FOR SYSTEM LOCK-DOWN");
  EXPECT_EQ(test.clock.sleeps, Pauses(8, 15000));  // 120000 ms
}

TEST_F(MainTest, ApplicationThatLocksDownLateIsWaitedFor) {
  test.clock.onSleep = [&](uint32_t) {
    if (test.clock.sleeps.size() == 3) support::WriteBytes("LOCKDOWN.SYS", "");
  };
  processes.results = {33, 2};
  EXPECT_EQ(Run("NOSUCH.EXE PARTIAL 1 ACME NIGHT"), 0);
  ExpectFailure("#2 - WINEXEC() FAILED TO LAUNCH NOSUCH.EXE");
  EXPECT_EQ(test.clock.sleeps, Pauses(3, 15000));
}

TEST_F(MainTest, LockDownFailureReasonGoesIntoTheErrorFiles) {
  processes.onStart = [](const std::string&) {
    support::WriteBytes("LOCKDOWN.SYS", "");
    support::WriteBytes("AUTORUN.ERR", "Users still logged in\r\n\x1A");
  };
  EXPECT_EQ(Run(kValid), 0);
  ExpectFailure("ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\nUsers still logged in\r\n");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(MainTest, FullRunMarksWaitsAndRecordsItsCompletion) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  plat::CalendarTime local{.year = 2026, .month = 12, .day = 7,
                           .hour = 23, .minute = 41, .second = 5};
  test.clock.FixTime(local, local);
  support::MakeFolders("DATA\\INDEX");
  support::WriteBytes("DATA\\ORDERS.DBF", "orders");
  support::WriteBytes("DATA\\INDEX\\ORDERS.CDX", "index");
  int backupStarts = 0;
  processes.onStart = [&](const std::string& line) {
    if (line.rfind("QZSTART.EXE ", 0) == 0) {
      support::WriteBytes("LOCKDOWN.SYS", "");
      return;
    }
    ++backupStarts;
    // Every file was marked before the job started.
    EXPECT_NE(Attributes("DATA\\INDEX\\ORDERS.CDX") & plat::kAttrArchive, 0u);
    EXPECT_NE(Attributes("UTILS\\QZBACKUP\\QZBACKUP.TST") & plat::kAttrArchive, 0u);
  };
  test.clock.onSleep = [&](uint32_t) {
    if (test.clock.sleeps.size() == 2) ClearArchiveAttributes();  // the job takes two minutes
  };
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT"), 0);
  EXPECT_EQ(backupStarts, 1);
  ASSERT_EQ(processes.started.size(), 2u);
  EXPECT_EQ(processes.started[1], "BACKUP.EXE");
  EXPECT_EQ(processes.shows[1], 0);
  EXPECT_EQ(test.clock.sleeps, (std::vector<uint32_t>{60000, 60000, 30000}));
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK"),
            "\r\nCOMPLETED ON 12/07/26 @ 23:41:05\x1A");
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.TST"), "\x1A");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
  EXPECT_FALSE(support::Exists("QZBACKUP.ERR"));
}

TEST_F(MainTest, PartialRunLeavesUnflaggedFilesAlone) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::WriteBytes("PLAIN.DBF", "x");
  processes.onStart = [&](const std::string& line) {
    if (line.rfind("QZSTART.EXE ", 0) == 0) {
      support::WriteBytes("LOCKDOWN.SYS", "");
    } else {
      EXPECT_EQ(Attributes("PLAIN.DBF") & plat::kAttrArchive, 0u);
      ClearArchiveAttributes();
    }
  };
  EXPECT_EQ(Run("BACKUP.EXE \"Partial\" 1 ACME NIGHT"), 0);  // a quote is part of its word
  ExpectFailure("INVALID BACKUP MODE");
  RunWith({"BACKUP.EXE", "Partial ", "1", "ACME", "NIGHT"});
  EXPECT_TRUE(support::Exists("UTILS\\QZBACKUP\\QZBACKUP.OK"));
  EXPECT_EQ(test.clock.sleeps, Pauses(1, 30000));  // the job had taken everything at the first scan
}

TEST_F(MainTest, BackupThatNeverEndsTimesOutAfterItsLimit) {
  ApplicationLocksDown();
  EXPECT_EQ(Run("BACKUP.EXE FULL 1.5 ACME NIGHT"), 0);
  ExpectFailure("TIMEOUT WAITING FOR BACKUP TO COMPLETE");
  EXPECT_EQ(test.clock.sleeps, Pauses(2, 60000));  // 90000 ms: timed out at the check after 120000
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

// A job that failed has left what it did not take flagged: the run fails at
// once. One that ended well may have handed the work on, and is waited for.
TEST_F(MainTest, BackupJobThatFailsEndsTheRunAtOnce) {
  ApplicationLocksDown();
  processes.jobExitCode = 3;
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT"), 0);
  ExpectFailure("BACKUP JOB FAILED WITH EXIT CODE 3");
  EXPECT_TRUE(test.clock.sleeps.empty());
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
  EXPECT_EQ(LogLines("Backup job ended with exit code 3 after 0 s, first flagged file "), 1);

  processes.jobExitCode = 0;
  EXPECT_EQ(Run("BACKUP.EXE FULL 1.5 ACME NIGHT"), 0);
  ExpectFailure("TIMEOUT WAITING FOR BACKUP TO COMPLETE");
  EXPECT_EQ(test.clock.sleeps, Pauses(2, 60000));
  EXPECT_EQ(LogLines("Backup job ended with exit code 0 after 0 s, first flagged file "), 1);

  SKIP_UNLESS_ARCHIVE_CLEARS();
  processes.jobExitCode = 1;  // robocopy's "files copied": nothing left flagged, a success
  EXPECT_EQ(CompleteRun(kValid), 0);
  EXPECT_TRUE(support::Exists("UTILS\\QZBACKUP\\QZBACKUP.OK"));
  EXPECT_EQ(LogLines("Backup job ended with exit code 1 after 0 s, no file flagged\r\n"), 1);
}

// A stop request ends the run as a failure wherever it waits or walks, and
// lets the users back in.
TEST_F(MainTest, StopRequestEndsTheRunAndReleasesTheLockDown) {
  ApplicationLocksDown();
  test.clock.onSleep = [&](uint32_t) { processes.stop = {15, "SIGTERM"}; };
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT"), 128 + 15);
  ExpectFailure("BACKUP RUN STOPPED BY SIGTERM");
  EXPECT_EQ(test.clock.sleeps, Pauses(1, 60000));
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
  EXPECT_EQ(LogLines("Run failed: BACKUP RUN STOPPED BY SIGTERM\r\n"), 1);

  // In the marking's walk, before the job is started.
  processes.stop = {};
  test.clock.onSleep = nullptr;
  processes.started.clear();
  processes.onStart = [&](const std::string&) {
    support::WriteBytes("LOCKDOWN.SYS", "");
    processes.stop = {2, "SIGINT"};
  };
  EXPECT_EQ(Run("BACKUP.EXE FULL 120 ACME NIGHT"), 128 + 2);
  ExpectFailure("BACKUP RUN STOPPED BY SIGINT");
  EXPECT_EQ(processes.started.size(), 1u);
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

#ifndef _WIN32
// A user of the share may put a link in place of any file the monitor
// writes, before the run or during it. No write goes through it: its target
// stays as it was, and the run goes on as it does when that write fails.
TEST_F(MainTest, LinksInPlaceOfTheMonitorsFilesLeadNoWriteOutOfTheRoot) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  enum When { kBeforeTheRun, kAsTheLockDown, kAtTheBackup };
  struct Case {
    const char* link;
    When when;
    bool jobTakesAll;     // else the run times out after the link is there
    const char* outcome;  // what the status files that could be written say
  };
  const Case cases[] = {
      {"UTILS\\QZBACKUP\\QZBACKUP.LOG", kBeforeTheRun, true, "COMPLETED ON"},
      {"LOCKDOWN.SYS", kAsTheLockDown, true, "COMPLETED ON"},
      {"UTILS\\QZBACKUP\\QZBACKUP.TST", kBeforeTheRun, true, "O/S code: 5\r\nOperation: UTILS\\QZBACKUP\\QZBACKUP.TST"},
      {"UTILS\\QZBACKUP\\QZBACKUP.OK", kAtTheBackup, true, "O/S code: 5\r\nOperation: UTILS\\QZBACKUP\\QZBACKUP.OK"},
      {"QZBACKUP.ERR", kAtTheBackup, false, "TIMEOUT WAITING FOR BACKUP TO COMPLETE"},
      {"UTILS\\QZBACKUP\\QZBACKUP.ERR", kAtTheBackup, false, "TIMEOUT WAITING FOR BACKUP TO COMPLETE"},
      {"UTILS\\QZBACKUP", kBeforeTheRun, true, "O/S code: 5\r\nOperation: UTILS\\QZBACKUP\\QZBACKUP.TST"},
  };
  const std::string precious(100000, 'p');  // larger than the run log may grow
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::filesystem::path outside = ShareBesideOutside();
    MakeSharedRoot();
    bool folder = std::string(c.link) == "UTILS\\QZBACKUP";
    std::filesystem::path target = outside / (folder ? "FOLDER" : "TARGET");
    if (folder) {
      std::filesystem::create_directory(target);
    } else {
      std::ofstream(target, std::ios::binary) << precious;
    }
    auto placeLink = [&] {
      std::filesystem::remove_all(support::HostPath(c.link));
      std::filesystem::create_symlink(target, support::HostPath(c.link));
    };
    if (c.when == kBeforeTheRun) placeLink();
    processes.onStart = [&](const std::string& line) {
      if (line.rfind("QZSTART.EXE ", 0) == 0) {
        c.when == kAsTheLockDown ? placeLink() : support::WriteBytes("LOCKDOWN.SYS", "");
        return;
      }
      if (c.when == kAtTheBackup) placeLink();
      if (c.jobTakesAll) ClearArchiveAttributes();
    };
    Run("BACKUP.EXE FULL 1 ACME NIGHT");
    std::string outcome = support::ReadBytes("QZBACKUP.ERR") +
                          support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR") +
                          support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK");
    EXPECT_NE(outcome.find(c.outcome), std::string::npos) << outcome;
    EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
    if (folder) {
      EXPECT_TRUE(std::filesystem::is_empty(target));
    } else {
      EXPECT_EQ(support::ReadBytes(target.string()), precious);
      EXPECT_EQ(Attributes(target.string()), plat::kAttrNormal);
    }
  }
}
#endif

TEST_F(MainTest, MissingStatusFolderFailsAtTheTestFile) {
  std::filesystem::remove_all(support::HostPath("UTILS\\QZBACKUP"));
  ApplicationLocksDown();
  EXPECT_EQ(Run(kValid), 0);
  ExpectCreateErrorInMain("3", "QZBACKUP\\.TST");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
  EXPECT_EQ(processes.started.size(), 1u);  // the backup was never started
}

TEST_F(MainTest, CompletionFileThatCannotBeMadeIsReportedAtMainsLevel) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  test.clock.onSleep = [&](uint32_t) {
    if (test.clock.sleeps.back() == 30000) support::MakeFolders("UTILS\\QZBACKUP\\QZBACKUP.OK");
  };
  EXPECT_EQ(CompleteRun(kValid), 0);
  ExpectCreateErrorInMain("5", "QZBACKUP\\.OK");
}

TEST_F(MainTest, TestFileHeldOpenIsAReportedRuntimeError) {
  ApplicationLocksDown();
  support::WriteBytes("UTILS\\QZBACKUP\\QZBACKUP.TST", "");
  auto held = plat::Native().files.Open("UTILS\\QZBACKUP\\QZBACKUP.TST", plat::kRead,
                                        plat::kShareNone, plat::Disposition::kOpenExisting);
  ASSERT_TRUE(held);
  EXPECT_EQ(Run(kValid), 0);
  std::string report = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR");
  EXPECT_EQ(report.substr(0, 19), "\r\nRUNTIME ERROR\r\n\r\n");
  EXPECT_NE(report.find("O/S code: 32\r\n"), std::string::npos) << report;
  EXPECT_EQ(report, support::ReadBytes("QZBACKUP.ERR"));
}

// Each run's one event: the documented source, type and ID, the root and the outcome.
TEST_F(MainTest, EveryRunLeavesOneEventInTheApplicationLog) {
  const std::string root = Root().substr(0, Root().size() - 1);
  auto expectOnlyEvent = [&](plat::EventType type, uint32_t id, const std::string& text) {
    ASSERT_EQ(test.ui.events.size(), 1u);
    EXPECT_EQ(test.ui.events[0].source, "QZBACKUP");
    EXPECT_EQ(test.ui.events[0].type, type);
    EXPECT_EQ(test.ui.events[0].id, id);
    EXPECT_EQ(test.ui.events[0].text, "Backup run in " + root + text);
    test.ui.events.clear();
  };
  EXPECT_EQ(Run("BACKUP.EXE FULL abc ACME NIGHT"), 0);
  expectOnlyEvent(plat::EventType::kError, 101, " failed: MISSING COMMAND LINE PARAMETERS");
  processes.onStart = [](const std::string&) {
    support::WriteBytes("AUTORUN.ERR", "Users still logged in");
  };
  EXPECT_EQ(Run(kValid), 0);
  expectOnlyEvent(plat::EventType::kError, 101, " failed: ERROR WHILE LOCKING DOWN SYSTEM");
  EXPECT_EQ(Run("A B C D"), 0);
  expectOnlyEvent(plat::EventType::kError, 102,
                  " not started: Please see UTILS\\QZBACKUP\\README.TXT for details\r\n\r\n"
                  "Note: This is NOT backup software");
  EXPECT_EQ(test.ui.shown.size(), 1u);  // with a desktop, the box as well
  SKIP_UNLESS_ARCHIVE_CLEARS();
  EXPECT_EQ(CompleteRun(kValid), 0);
  expectOnlyEvent(plat::EventType::kInformation, 100, " completed");
}

// A task that runs whether the user is logged on or not has no desktop: a box
// there would wait for nobody until the task's time limit.
TEST_F(MainTest, WithoutADesktopTheEarlyTextsGoToTheEventLogAlone) {
  test.ui.desktopVisible = false;
  support::WriteBytes("QZBACKUP.ERR", "old");
  EXPECT_EQ(Run("A B C D"), 0);
  std::filesystem::remove(support::HostPath("UTILS\\QZTSTDIR\\QZTSTDIR.CHK"));
  EXPECT_EQ(Run(kValid), 0);
  EXPECT_TRUE(test.ui.shown.empty());
  ASSERT_EQ(test.ui.events.size(), 2u);
  EXPECT_EQ(test.ui.events[0].id, 102u);
  EXPECT_TRUE(test.ui.events[0].text.ends_with(": Please see UTILS\\QZBACKUP\\README.TXT for "
                                               "details\r\n\r\nNote: This is NOT backup software"));
  EXPECT_EQ(test.ui.events[1].id, 102u);
  EXPECT_TRUE(test.ui.events[1].text.ends_with(
      ": Run from the ROOT of the Varnolet folder on the file server"));
  EXPECT_TRUE(test.clock.sleeps.empty());
  EXPECT_TRUE(processes.started.empty());
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "old");
}

TEST_F(MainTest, CounterReadingsAreUnsigned) {
  test.clock.SetTick(0xFFFFFFFFu);
  EXPECT_EQ(monitor::QZGETTICKCOUNT().AsDouble(), 4294967295.0);
  test.clock.SetTick(0x80000000u);
  EXPECT_EQ(monitor::QZGETTICKCOUNT().AsDouble(), 2147483648.0);
  test.clock.SetTick(5);
  EXPECT_EQ(monitor::QZGETTICKCOUNT().AsDouble(), 5.0);
}

}  // namespace
}  // namespace monitor_test
