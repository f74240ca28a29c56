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

// An earlier run's record of `lines` events.
std::string OldRun(int number, int lines) {
  std::string run = "01/02/26 03:04:05 Backup run started in D:\\ROOT: BACKUP.EXE FULL " +
                    std::to_string(number) + " A B\r\n";
  for (int i = 0; i < lines; ++i) {
    run += "01/02/26 03:04:06 Backup running for " + std::to_string(i * 60) +
           " s, first flagged file DATA\\SOME\\FOLDER\\FILE" + std::to_string(i) + ".DBF\r\n";
  }
  return run;
}

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

}  // namespace
}  // namespace monitor_test
