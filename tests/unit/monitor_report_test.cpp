// The failure reports: the two error status files, the lock-down flag, the
// run-time error report with its call trace, and the end of the run.
#include <regex>

#include "monitor/report.h"
#include "runtime_fixture.h"

namespace monitor_test {
namespace {

using rt::Value;
using Steps = std::vector<std::string>;

// What the monitor routines below did; start-up takes plain functions.
Steps steps;
Value failureText;
Value keepFlag;

void FailingMain(const rt::Parameters&) {
  rt::Activation self("MAIN");
  steps.push_back("MAIN");
  monitor::MYERROR(failureText, keepFlag);
  steps.push_back("after MYERROR");
}

// Creates the test file as the main sequence does; the line of its SET:
const uint32_t kTestFileLine = __LINE__ + 4;
void MainCreatingTheTestFile(const rt::Parameters&) {
  rt::Activation self("MAIN");
  steps.push_back("MAIN");
  rt::SET(rt::ALTERNATE_FILE, "UTILS\\QZBACKUP\\QZBACKUP.TST", false);
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  steps.push_back("test file made");
}

const uint32_t kValLine = __LINE__ + 3;
void MainWithAnArgumentError(const rt::Parameters&) {
  rt::Activation self("MAIN");
  rt::VAL(rt::NIL);
  steps.push_back("after VAL");
}

class ReportTest : public runtime_test::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    steps.clear();
    failureText = Value();
    keepFlag = Value();
    support::MakeFolders("UTILS\\QZBACKUP");
    support::WriteBytes("LOCKDOWN.SYS", "");
  }

  // Runs the monitor's start-up with `main`; standard error must stay empty.
  int Run(rt::MainRoutine main) {
    testing::internal::CaptureStderr();
    int exitCode = rt::Start(test.platform, monitor::ERRORSYS, main);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    return exitCode;
  }

  int Fail(const Value& text, const Value& keep = rt::NIL) {
    failureText = text;
    keepFlag = keep;
    return Run(FailingMain);
  }

  // The report in both error files, which must agree, without the leading
  // CR LF and the end mark.
  std::string Report() {
    std::string root = support::ReadBytes(monitor::kRootErrorFile);
    EXPECT_EQ(root, support::ReadBytes(monitor::kStatusErrorFile));
    EXPECT_GE(root.size(), 3u);
    if (root.size() < 3) return "";
    EXPECT_EQ(root.substr(0, 2), "\r\n");
    EXPECT_EQ(root.back(), '\x1A');
    return root.substr(2, root.size() - 3);
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
  }
};

TEST_F(ReportTest, MyerrorWritesBothFilesReleasesTheLockDownAndQuits) {
  EXPECT_EQ(Fail("INVALID BACKUP MODE"), 0);
  EXPECT_EQ(steps, Steps{"MAIN"});
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "\r\nINVALID BACKUP MODE\x1A");
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR"), "\r\nINVALID BACKUP MODE\x1A");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(ReportTest, TheKeepFlagLeavesTheLockDownInPlace) {
  EXPECT_EQ(Fail("THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE", true), 0);
  EXPECT_EQ(Report(), "THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE");
  EXPECT_TRUE(support::Exists("LOCKDOWN.SYS"));
  // Empty values do not keep it.
  for (const Value& empty : {Value(false), Value(""), Value(0), Value(" ")}) {
    support::WriteBytes("LOCKDOWN.SYS", "");
    Fail("MISSING COMMAND LINE PARAMETERS", empty);
    EXPECT_FALSE(support::Exists("LOCKDOWN.SYS")) << rt::internal::TextForm(empty);
  }
}

TEST_F(ReportTest, OlderLongerReportsAreReplacedAndLineBreaksKept) {
  support::WriteBytes("QZBACKUP.ERR", std::string(300, 'o'));
  support::WriteBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR", std::string(300, 'o'));
  std::string text = "ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\nUsers are still working\r\n";
  Fail(text);
  EXPECT_EQ(Report(), text);
}

TEST_F(ReportTest, ATestFileThatCannotBeCreatedIsReportedWithItsTrace) {
  support::MakeFolders("UTILS\\QZBACKUP\\QZBACKUP.TST");  // a folder in the way: access denied
  EXPECT_EQ(Run(MainCreatingTheTestFile), 0);
  EXPECT_EQ(steps, Steps{"MAIN"});
  std::vector<std::string> lines = Lines(Report());
  ASSERT_EQ(lines.size(), 7u) << Report();
  EXPECT_EQ(lines[0], "RUNTIME ERROR");
  EXPECT_EQ(lines[1], "");
  std::smatch trace;
  const std::regex kTrace(R"(Called from: __EVAL\(([1-9][0-9]*)\) SET\(0\) MAIN\(([0-9]+)\) )");
  ASSERT_TRUE(std::regex_match(lines[2], trace, kTrace)) << lines[2];
  EXPECT_EQ(trace[2], std::to_string(kTestFileLine));
  EXPECT_EQ(lines[3], "Main system: 20 - Create error");
  EXPECT_EQ(lines[4], "Sub-System: 2013 - TERM");
  EXPECT_EQ(lines[5], "O/S code: 5");
  EXPECT_EQ(lines[6], "Operation: UTILS\\QZBACKUP\\QZBACKUP.TST");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(ReportTest, ATestFileHeldByAnotherProgramIsReported) {
  support::WriteBytes("UTILS\\QZBACKUP\\QZBACKUP.TST", "");
  auto held = test.platform.files.Open("UTILS\\QZBACKUP\\QZBACKUP.TST", plat::kReadWrite,
                                       plat::kShareNone, plat::Disposition::kOpenExisting);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(Run(MainCreatingTheTestFile), 0);
  std::vector<std::string> lines = Lines(Report());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "RUNTIME ERROR");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[5], "O/S code: 32");
}

TEST_F(ReportTest, AnArgumentErrorIsReportedLikeAnyOther) {
  EXPECT_EQ(Run(MainWithAnArgumentError), 0);
  EXPECT_TRUE(steps.empty());
  std::vector<std::string> lines = Lines(Report());
  ASSERT_EQ(lines.size(), 7u);
  const std::regex kTrace(R"(Called from: __EVAL\([0-9]+\) VAL\(0\) MAIN\()" +
                          std::to_string(kValLine) + R"(\) )");
  EXPECT_TRUE(std::regex_match(lines[2], kTrace)) << lines[2];
  EXPECT_EQ(lines[3], "Main system: 1 - Argument error");
  EXPECT_EQ(lines[4], "Sub-System: 1098 - BASE");
  EXPECT_EQ(lines[5], "O/S code: 0");
  EXPECT_EQ(lines[6], "Operation: VAL");
}

// When an error file cannot be created, the report goes where it can, the
// lock-down is still released and the run ends normally.
TEST_F(ReportTest, AnErrorFileInTheWayIsLeftOut) {
  support::MakeFolders("QZBACKUP.ERR");
  EXPECT_EQ(Fail("TIMEOUT WAITING FOR BACKUP TO COMPLETE"), 0);
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR"),
            "\r\nTIMEOUT WAITING FOR BACKUP TO COMPLETE\x1A");
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(ReportTest, AMissingStatusFolderStillGivesTheRootReport) {
  std::filesystem::remove_all(support::HostPath("UTILS"));
  EXPECT_EQ(Run(MainCreatingTheTestFile), 0);
  std::string root = support::ReadBytes("QZBACKUP.ERR");
  EXPECT_EQ(root.substr(0, 17), "\r\nRUNTIME ERROR\r\n");
  EXPECT_NE(root.find("\r\nO/S code: 3\r\n"), std::string::npos);
  EXPECT_FALSE(support::Exists("UTILS\\QZBACKUP\\QZBACKUP.ERR"));
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(ReportTest, NoWritableErrorFileAtAllStillEndsTheRun) {
  std::filesystem::remove_all(support::HostPath("UTILS"));
  support::MakeFolders("QZBACKUP.ERR");
  EXPECT_EQ(Run(MainCreatingTheTestFile), 0);
  EXPECT_EQ(steps, Steps{"MAIN"});
  EXPECT_FALSE(support::Exists("LOCKDOWN.SYS"));
}

TEST_F(ReportTest, TheTraceListsTheLevelsOutwardFromTheHandler) {
  rt::Activation main("MAIN");
  const uint32_t outerCall = __LINE__ + 1;
  rt::Activation outer("OUTER", rt::Here::current());
  const uint32_t reportCall = __LINE__ + 1;
  rt::Activation reporter("DEFERROR", rt::Here::current());
  EXPECT_EQ(monitor::GETCALLTRACE(), Value("OUTER(" + std::to_string(reportCall) + ") MAIN(" +
                                           std::to_string(outerCall) + ") "));
}

TEST_F(ReportTest, AnEmptyTraceIsTheEmptyText) {
  rt::Activation reporter("DEFERROR");
  EXPECT_EQ(monitor::GETCALLTRACE(), Value(""));
}

}  // namespace
}  // namespace monitor_test
