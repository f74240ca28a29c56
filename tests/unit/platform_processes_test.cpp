// Starting programs: the command-line split and join, shell and command-line
// starts of a real child that records the exact text it received, kept starts
// that see a program end, and how a program reads its own command line. The
// starts go through the recording platform, which waits for every program
// at the end of the test.
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/support.h"

#ifndef _WIN32
#include "platform/posix/cmdline.h"
#include "platform/posix/system.h"
#endif

namespace {

class ProcessesTest : public support::TempFolderTest {
 protected:
  plat::Processes& Processes() { return processes; }

  // The command line the recorder tool wrote in the current folder, once it is there.
  std::string Recorded() {
    support::WaitFor([] { return support::Exists("recorded_cmdline.txt"); });
    std::string text = support::ReadBytes("recorded_cmdline.txt");
    plat::Native().files.Delete("recorded_cmdline.txt");
    return text;
  }
  std::string Recorder() { return support::ToolPath("cmdline_recorder"); }

  support::RecordingProcesses processes{plat::Native().processes};
};

TEST_F(ProcessesTest, ShellStartHandsTheChildItsExactCommandLine) {
  std::string parameters = "QZWINIT C:\\_$MERIXA\\ID\\ \"a b\"  tail\\\"";
  uint32_t result = Processes().ShellStart(0, "open", Recorder(), parameters, 0);
  EXPECT_GT(result, 32u);
  EXPECT_EQ(Recorded(), "\"" + Recorder() + "\" " + parameters);
  // "runas" starts the same way.
  EXPECT_GT(Processes().ShellStart(0, "runas", Recorder(), "x", 0), 32u);
  EXPECT_EQ(Recorded(), "\"" + Recorder() + "\" x");
}

TEST_F(ProcessesTest, StartsOfMissingProgramsFail) {
  EXPECT_EQ(Processes().ShellStart(0, "open", Root() + "none.exe", "", 0), 2u);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(Processes().CommandStart("no_such_program_here", 0), 2u);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(Processes().CommandStart("", 0), 2u);
}

TEST_F(ProcessesTest, UnknownVerbsAndMissingFoldersFail) {
  if (support::RunningUnderWine()) {
    GTEST_SKIP() << "wine runs programs for any verb and reports missing folders as 2";
  }
  EXPECT_EQ(Processes().ShellStart(0, "print", Recorder(), "", 0), 31u);
  EXPECT_EQ(plat::LastError(), plat::kErrorNoAssociation);
  EXPECT_EQ(Processes().CommandStart(Root() + "nofolder\\x.exe arg", 0), 3u);
  EXPECT_EQ(Processes().ShellStart(0, "open", Root() + "nofolder\\none.exe", "", 0), 3u);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
}

TEST_F(ProcessesTest, CommandStartSearchesTheProgramAndPassesTheLine) {
  std::string line = "\"" + Recorder() + "\" one \"two three\"";
  EXPECT_EQ(Processes().CommandStart(line, 0), 33u);
  EXPECT_EQ(Recorded(), line);
  // Without a folder part the program is found beside the running program.
  EXPECT_EQ(Processes().CommandStart("cmdline_recorder   spaced   out", 0), 33u);
  EXPECT_EQ(Recorded(), "cmdline_recorder   spaced   out");

}

#ifndef _WIN32
TEST_F(ProcessesTest, AFileThatIsNoProgramIsRefused) {
  support::WriteBytes(Root() + "notes.txt", "just text");
  EXPECT_EQ(Processes().CommandStart(Root() + "notes.txt", 0), 11u);
  EXPECT_EQ(Processes().ShellStart(0, "open", Root() + "notes.txt", "", 0), 31u);
  EXPECT_EQ(plat::LastError(), plat::kErrorNoAssociation);
}

// The children of this thread, each with whether it has ended (a zombie
// until it is reaped).
std::vector<std::pair<int, bool>> Children() {
  std::ifstream listing("/proc/thread-self/children");
  std::vector<std::pair<int, bool>> children;
  for (int pid; listing >> pid;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string facts((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t state = facts.rfind(") ");
    children.emplace_back(pid, state != std::string::npos && facts.compare(state + 2, 1, "Z") == 0);
  }
  return children;
}

bool AllChildrenEnded() {
  for (const auto& [pid, ended] : Children()) {
    if (!ended) return false;
  }
  return true;
}

TEST_F(ProcessesTest, FinishedChildrenAreReapedAtTheNextStart) {
  std::ifstream probe("/proc/thread-self/children");
  if (!probe) GTEST_SKIP() << "the kernel does not list children in /proc";
  plat::Processes& unkept = plat::Native().processes;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(unkept.CommandStart("cmdline_recorder", 0), 33u);
    Recorded();
  }
  ASSERT_TRUE(support::WaitFor(AllChildrenEnded));
  ASSERT_FALSE(Children().empty());  // the last one waits for its reaping
  ASSERT_EQ(unkept.CommandStart("cmdline_recorder", 0), 33u);
  Recorded();
  EXPECT_LE(Children().size(), 1u) << "only the newest child may be left unreaped";
  EXPECT_TRUE(support::WaitFor(AllChildrenEnded));
}

TEST_F(ProcessesTest, AKeptStartSeesTheProgramEndWithItsExitCode) {
  std::shared_ptr<plat::Process> started;
  ASSERT_EQ(Processes().CommandStartKept("exit_with 3 go.txt", 0, started), 33u);
  ASSERT_TRUE(started);
  uint32_t code = 0;
  EXPECT_FALSE(started->Ended(code));
  EXPECT_FALSE(started->Wait(50));  // it runs until told
  support::WriteBytes("go.txt", "");
  EXPECT_TRUE(started->Wait(30000));
  EXPECT_TRUE(started->Ended(code));
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(Processes().CommandStartKept("no_such_program_here", 0, started), 2u);
  EXPECT_FALSE(started);
}

TEST(CommandLineSplit, FollowsTheWindowsRules) {
  using plat::posix::SplitArguments;
  using plat::posix::SplitCommandLine;
  using Words = std::vector<std::string>;
  EXPECT_EQ(SplitArguments("\"a b c\" d e"), (Words{"a b c", "d", "e"}));
  EXPECT_EQ(SplitArguments("\"ab\\\"c\" \"\\\\\" d"), (Words{"ab\"c", "\\", "d"}));
  EXPECT_EQ(SplitArguments("a\\\\\\b d\"e f\"g h"), (Words{"a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(SplitArguments("a\\\\\\\"b c d"), (Words{"a\\\"b", "c", "d"}));
  EXPECT_EQ(SplitArguments("a\\\\\\\\\"b c\" d e"), (Words{"a\\\\b c", "d", "e"}));
  // Inside quotes "" gives a quote and ends the quoted part.
  EXPECT_EQ(SplitArguments("\"a\"\"b c"), (Words{"a\"b", "c"}));
  EXPECT_EQ(SplitArguments("\"a\"\"b\" \"\" \t x "), (Words{"a\"b \"", "x"}));
  EXPECT_EQ(SplitArguments("\"\" \t x "), (Words{"", "x"}));
  EXPECT_EQ(SplitArguments("\"\"\"\"\"\""), (Words{"\"\""}));
  EXPECT_EQ(SplitArguments("   "), Words{});
  EXPECT_EQ(SplitArguments("trailing\\"), Words{"trailing\\"});
  // The program name has rules of its own: up to the next quote, or a blank.
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\"a b"),
            (Words{"C:\\Program Files\\x.exe", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\\"x y"), (Words{"C:\\dir\\\"x", "y"}));
  EXPECT_EQ(SplitCommandLine(""), Words{""});
  EXPECT_EQ(SplitCommandLine("\"unclosed name"), Words{"unclosed name"});
}

TEST(CommandLineSplit, JoinedArgumentsSplitBackUnchanged) {
  std::vector<std::vector<std::string>> lists = {
      {"plain", "two words", ""},
      {"quote\"inside", "ends with\\", "tab\there", "\\\\server\\share\\"},
      {"\"", "\\\"", "\\\\\"\\", " ", "a\\\\b"},
  };
  for (const auto& list : lists) {
    EXPECT_EQ(plat::posix::SplitArguments(plat::posix::JoinArguments(list)), list);
  }
}

TEST(OwnCommandLine, AcceptsAHandedTextOnlyWhenItFitsTheArguments) {
  using plat::posix::CommandLineMatches;
  std::vector<std::string> argv = {"/usr/bin/prog", "QZWINIT", "C:\\x\\", "a,b"};
  EXPECT_TRUE(CommandLineMatches("\"C:\\prog.exe\" QZWINIT C:\\x\\ \"a,b\"", argv));
  EXPECT_TRUE(CommandLineMatches("anything   QZWINIT  C:\\x\\ a,b", argv));
  EXPECT_FALSE(CommandLineMatches("prog QZWINIT C:\\x\\", argv));
  EXPECT_FALSE(CommandLineMatches("prog other C:\\x\\ a,b", argv));
  EXPECT_EQ(plat::posix::JoinPlainly({"prog", "a b", "", "c"}), "prog \"a b\" \"\" c");
}
#endif

}  // namespace
