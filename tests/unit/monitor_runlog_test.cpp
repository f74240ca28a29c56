// The run log: past its size limit the oldest whole runs go, and writing it
// changes nothing a failure report reads.
#include <filesystem>
#include <string>
#include <vector>

#include "monitor/runlog.h"
#include "monitor_fixture.h"

namespace monitor_test {
namespace {

constexpr char kLog[] = "UTILS\\QZBACKUP\\QZBACKUP.LOG";

// An earlier run's record of `lines` events and its last line.
std::string OldRun(int number, int lines) {
  std::string run = "01/02/26 03:04:05 Backup run started in D:\\ROOT: BACKUP.EXE FULL " +
                    std::to_string(number) + " A B\r\n";
  for (int i = 0; i < lines; ++i) {
    run += "01/02/26 03:04:06 Backup running for " + std::to_string(i * 60) +
           " s, first flagged file DATA\\SOME\\FOLDER\\FILE" + std::to_string(i) + ".DBF\r\n";
  }
  return run + "01/02/26 03:04:07 Run failed: TIMEOUT WAITING FOR BACKUP TO COMPLETE\r\n";
}

// The record of a run that a restart cut off in its lock-down wait.
constexpr char kCutRun[] =
    "01/02/26 03:04:05 Backup run started in D:\\ROOT: BACKUP.EXE FULL 120 A B\r\n"
    "01/02/26 03:04:05 Lock-down request started: QZSTART.EXE C:\\_$MERIXA \"A,B,LOCKDOWN,10\" "
    "(result 33)\r\n";

TEST_F(MonitorTest, LogPastItsLimitKeepsTheNewestWholeRuns) {
  MakeSharedRoot();
  // One run larger than the limit by itself, then smaller ones: 160 KiB in all.
  std::vector<std::string> runs = {OldRun(0, 800)};
  for (int number = 1; number <= 30; ++number) runs.push_back(OldRun(number, 25 + number % 7));
  std::string old;
  for (const std::string& run : runs) old += run;
  support::WriteBytes(kLog, old);

  Run("BACKUP.EXE FULL abc ACME NIGHT");  // a run of two lines
  ExpectFailure("MISSING COMMAND LINE PARAMETERS");

  std::string log = support::ReadBytes(kLog);
  size_t newRun = log.find("BACKUP.EXE FULL abc ACME NIGHT");
  ASSERT_NE(newRun, std::string::npos) << log.substr(0, 400);
  newRun = log.rfind("\r\n", newRun) + 2;
  std::string current = log.substr(newRun);
  EXPECT_NE(current.find(" Run failed: MISSING COMMAND LINE PARAMETERS\r\n"), std::string::npos)
      << current;
  // What is left of the old log is its newest whole runs, as many as fit.
  std::string kept = log.substr(0, newRun);
  size_t fitting = 0, size = current.size();
  for (size_t i = runs.size(); i-- > 0 && size + runs[i].size() <= monitor::kRunLogLimit;) {
    size += runs[i].size();
    ++fitting;
  }
  std::string expected;
  for (size_t i = runs.size() - fitting; i < runs.size(); ++i) expected += runs[i];
  EXPECT_GT(fitting, 5u);
  EXPECT_LT(fitting, runs.size() - 1);
  EXPECT_EQ(kept, expected);
  EXPECT_LE(log.size(), monitor::kRunLogLimit);
  EXPECT_NE(Attributes(kLog) & plat::kAttrHidden, 0u);  // made hidden again
}

// An earlier, finished run of exactly `size` bytes.
std::string FinishedRun(size_t size) {
  const std::string event = "01/02/26 03:04:06 Backup running for 60 s, first flagged file ";
  const std::string end = "01/02/26 03:14:06 Run completed\r\n";
  std::string run = OldRun(1, 0);
  while (run.size() + end.size() + 300 < size) run += event + std::string(36, 'F') + "\r\n";
  run += event + std::string(size - run.size() - end.size() - event.size() - 2, 'G') + "\r\n";
  return run + end;
}

TEST_F(MonitorTest, LogThatLandsExactlyOnItsLimitKeepsItsNewestRuns) {
  MakeSharedRoot();
  const std::string words = "BACKUP.EXE FULL abc ACME NIGHT";  // a run of two lines
  Run(words);
  const std::string run = support::ReadBytes(kLog);
  const size_t lastLine = run.size() - (run.rfind("\r\n", run.size() - 3) + 2);
  // Only the run's last line takes the log past the limit: without the oldest
  // run, the newer one and this run fill it exactly.
  const std::string oldest = "01/02/26 03:04:05 Backup run started in D:\\ROOT:\r\n";
  ASSERT_LE(oldest.size(), lastLine);
  const std::string newer = FinishedRun(monitor::kRunLogLimit - run.size());
  std::filesystem::remove(support::HostPath(kLog));
  support::WriteBytes(kLog, oldest + newer);

  Run(words);
  std::string log = support::ReadBytes(kLog);
  EXPECT_EQ(log.size(), monitor::kRunLogLimit);
  EXPECT_TRUE(log.starts_with(newer));
}

TEST_F(MonitorTest, WritingTheLogLeavesTheLastErrorAsItWas) {
  MakeSharedRoot();
  plat::SetLastError(plat::kErrorSharingViolation);
  monitor::RunLog log(rt::Parameters({"BACKUP.EXE", "FULL"}));  // creates the log
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  monitor::LogEvent("Backup running");  // appends to it
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
}

// A run cut off by a restart has no last line: the next run says so first,
// with the cut run's start, and only once.
TEST_F(MonitorTest, NextRunNamesTheRunThatDidNotFinish) {
  MakeSharedRoot();
  plat::CalendarTime now{.year = 2026, .month = 12, .day = 9, .hour = 2};
  test.clock.FixTime(now, now);
  std::string old = OldRun(1, 2) + kCutRun;
  support::WriteBytes(kLog, old);
  Run("BACKUP.EXE FULL abc ACME NIGHT");
  Run("BACKUP.EXE FULL abc ACME NIGHT");
  std::string run = "12/09/26 02:00:00 Backup run started in " + Root().substr(0, Root().size() - 1) +
                    ": BACKUP.EXE FULL abc ACME NIGHT\r\n"
                    "12/09/26 02:00:00 Run failed: MISSING COMMAND LINE PARAMETERS\r\n";
  EXPECT_EQ(support::ReadBytes(kLog),
            old + "12/09/26 02:00:00 Run did not finish: started 01/02/26 03:04:05\r\n" + run + run);
}

// A last line cut off by a power loss is ended before the next run's first line.
TEST_F(MonitorTest, LineCutOffByAPowerLossIsEndedFirst) {
  MakeSharedRoot();
  for (std::string cut : {"01/02/26 03:04:20 No lock-d", "01/02/26 03:04:20 No lock-down\r"}) {
    support::WriteBytes(kLog, kCutRun + cut);
    Run("BACKUP.EXE FULL abc ACME NIGHT");
    std::string log = support::ReadBytes(kLog);
    if (cut.back() == '\r') cut.pop_back();
    size_t next = log.find(cut + "\r\n");
    ASSERT_NE(next, std::string::npos) << log;
    EXPECT_EQ(log.compare(next + cut.size() + 2 + 18, 19, "Run did not finish:"), 0) << log;
  }
}

// Content that is not made of runs (another program's file, a damaged one)
// is dropped as a whole once the log passes its limit.
TEST_F(MonitorTest, LogWithoutRunsIsCappedAtTheNewRun) {
  MakeSharedRoot();
  std::string foreign;
  while (foreign.size() < 100 * 1000) foreign += "another program's line, ended the POSIX way\n";
  support::WriteBytes(kLog, foreign);
  Run("BACKUP.EXE FULL abc ACME NIGHT");
  std::string log = support::ReadBytes(kLog);
  EXPECT_LE(log.size(), monitor::kRunLogLimit);
  EXPECT_EQ(log.find("another program"), std::string::npos);
  EXPECT_EQ(log.compare(18, 18, "Backup run started"), 0) << log.substr(0, 200);
}

}  // namespace
}  // namespace monitor_test
