// Start-up and exit: the command line split into MAIN's parameters, the
// order of start-up, quitting from any depth, shutdown, the activation stack,
// and the unrecoverable failures.
#include <cstdlib>

#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;
using Words = std::vector<std::string>;

TEST(CommandLineTest, SplitsAtBlanksOnlyAfterTheProgramName) {
  struct Case {
    std::string line;
    Words words;
  };
  const Case cases[] = {
      {"QZBACKUP.EXE", {}},
      {"", {}},
      {"QZBACKUP.EXE   ", {}},
      {"\"C:\\Program Files\\QZBACKUP.EXE\"  backup.exe FULL 120", {"backup.exe", "FULL", "120"}},
      {"QZBACKUP.EXE a   b  c   ", {"a", "b", "c"}},
      {"QZBACKUP.EXE \"two words\" x", {"\"two", "words\"", "x"}},
      {"QZBACKUP.EXE a\tb", {"a\tb"}},
      {"QZBACKUP.EXE\ta", {"a"}},             // a tab ends the program name
      {"QZBACKUP.EXE \t\x01\x1F a", {"a"}},   // control characters after it are skipped
      {"Q\xC9Z.EXE \xC9t\xE9", {"\xC9t\xE9"}},
      {"\"no closing quote a b", {}},
      {"\"\"a b", {"a", "b"}},
      {"QZBACKUP.EXE //X job FULL", {"job", "FULL"}},
      {"QZBACKUP.EXE // job", {"job"}},
      {"QZBACKUP.EXE / job //", {"/", "job"}},
      {"QZBACKUP.EXE job //NOMOUSE FULL", {"job", "FULL"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::SplitCommandLine(c.line), c.words) << c.line;
  }
}

TEST(CommandLineTest, KeepsTheFirstNineteenWords) {
  std::string line = "QZBACKUP.EXE";
  Words first;
  for (int i = 1; i <= 25; ++i) {
    line += " w" + std::to_string(i);
    if (i <= 19) first.push_back("w" + std::to_string(i));
  }
  EXPECT_EQ(rt::SplitCommandLine(line), first);
  // A switch takes one of the nineteen places.
  first.pop_back();
  EXPECT_EQ(rt::SplitCommandLine("QZBACKUP.EXE //X" + line.substr(12)), first);
}


// What the routines below saw; start-up takes plain functions.
struct Seen {
  std::vector<std::string> steps;
  std::vector<Value> parameters;
  int count = -1;
  std::vector<rt::Level> levels;
};
Seen seen;

void RecordingErrorSys() { seen.steps.push_back("ERRORSYS"); }

void RecordingMain(const rt::Parameters& parameters) {
  rt::Activation self("MAIN");
  seen.steps.push_back("MAIN");
  seen.count = rt::PCOUNT(parameters);
  for (int i = 1; i <= 7; ++i) seen.parameters.push_back(parameters[i]);
}

// What a test sees of text written to standard error with CR LF line breaks:
// on Windows the captured text is read back as a text file, in which CR LF is "\n".
std::string AsCaptured(const std::string& text) {
#ifdef _WIN32
  std::string captured;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") != 0) captured += text[i];
  }
  return captured;
#else
  return text;
#endif
}

class StartTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    seen = Seen{};
  }
  int Start(rt::ErrorSysRoutine errorsys, rt::MainRoutine main) {
    return rt::Start(platform, errorsys, main);
  }

  support::ChosenSystem system{test.platform.system};
  plat::Platform platform{test.platform.files, test.clock,    test.processes,
                          test.ui,             system,        test.platform.libraries};
};

TEST_F(StartTest, MainGetsTheWordsAfterErrorSys) {
  system.line = "QZBACKUP.EXE job FULL 120 A B //X 10 C:\\LOCAL extra1 extra2";
  EXPECT_EQ(Start(RecordingErrorSys, RecordingMain), 0);
  EXPECT_EQ(seen.steps, (Words{"ERRORSYS", "MAIN"}));
  EXPECT_EQ(seen.count, 9);
  EXPECT_EQ(seen.parameters, (std::vector<Value>{"job", "FULL", "120", "A", "B", "10",
                                                 "C:\\LOCAL"}));
}

TEST_F(StartTest, AnEmptyCommandLineGivesNoParameters) {
  EXPECT_EQ(Start(RecordingErrorSys, RecordingMain), 0);
  EXPECT_EQ(seen.count, 0);
  EXPECT_EQ(seen.parameters, std::vector<Value>(7));  // all NIL
}

void QuittingRoutine(rt::Here caller = rt::Here::current()) {
  rt::Activation self("QUITTING", caller);
  seen.steps.push_back("before quit");
  rt::QUIT();
  seen.steps.push_back("after quit");
}

void MainThatQuitsDeepDown(const rt::Parameters&) {
  rt::Activation self("MAIN");
  rt::SET(rt::ALTERNATE_FILE, "open.log");
  rt::SET(rt::ALTERNATE_OUTPUT, "ON");
  rt::SET(rt::CONSOLE_OUTPUT, "OFF");
  rt::QOUT("written");
  QuittingRoutine();
  seen.steps.push_back("main went on");
}

TEST_F(StartTest, QuitEndsEveryRoutineAndShutdownClosesTheFile) {
  EXPECT_EQ(Start(RecordingErrorSys, MainThatQuitsDeepDown), 0);
  EXPECT_EQ(seen.steps, (Words{"ERRORSYS", "before quit"}));
  EXPECT_EQ(support::ReadBytes("open.log"), "\r\nwritten\x1A");
  EXPECT_FALSE(rt::QuitRequested());
  EXPECT_TRUE(rt::ActiveLevels().empty());
}

void QuittingHandler() {
  rt::ERRORBLOCK(rt::Block([](rt::Arguments error) -> rt::Value {
    seen.levels = rt::ActiveLevels();
    seen.steps.push_back(error[0].AsError()->operation);
    rt::QUIT();
  }));
}

const uint32_t kSetLine = __LINE__ + 4;  // the line of the SET below
void MainWithACreateError(const rt::Parameters&) {
  rt::Activation self("MAIN");
  seen.steps.push_back("MAIN");
  rt::SET(rt::ALTERNATE_FILE, "missing\\QZBACKUP.TST", false);
  seen.steps.push_back("main went on");
}

TEST_F(StartTest, AHandlerThatQuitsEndsTheRunFromInsideTheFailingOperation) {
  EXPECT_EQ(Start(QuittingHandler, MainWithACreateError), 0);
  EXPECT_EQ(seen.steps, (Words{"MAIN", "missing\\QZBACKUP.TST"}));
  // The handler runs in a level of its own, above the failing operation.
  ASSERT_EQ(seen.levels.size(), 3u);
  EXPECT_STREQ(seen.levels[0].name, "__EVAL");
  EXPECT_STREQ(seen.levels[1].name, "SET");
  EXPECT_EQ(seen.levels[1].line, 0u);
  EXPECT_STREQ(seen.levels[2].name, "MAIN");
  EXPECT_EQ(seen.levels[2].line, kSetLine);
}

void NoHandler() {}

void HandlerAnsweringNil() {
  rt::ERRORBLOCK(rt::Block([](rt::Arguments) { return Value(); }));
}

const uint32_t kInnerLine = __LINE__ + 4;  // the line of the INNER activation below
void MainWithAnOpenFileAndAnArgumentError(const rt::Parameters&) {
  rt::Activation self("MAIN");
  rt::SET(rt::ALTERNATE_FILE, "open.log");
  rt::Activation inner("INNER", rt::Here::current());
  rt::VAL(1);
}

TEST_F(StartTest, AnErrorWithoutHandlerIsUnrecoverableAndSkipsShutdown) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Start(NoHandler, MainWithAnOpenFileAndAnArgumentError), 1);
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text, AsCaptured("\r\nUnrecoverable error 9002: No ERRORBLOCK() for error\r\n"
                             "Called from VAL(0)\r\n"
                             "Called from INNER(" + std::to_string(kInnerLine + 1) + ")\r\n"
                             "Called from MAIN(" + std::to_string(kInnerLine) + ")\r\n"));
  rt::ResetState();  // lets go of the file, which shutdown would have closed with its end mark
  EXPECT_EQ(support::ReadBytes("open.log"), "");
}

TEST_F(StartTest, AnUnusableHandlerResultIsUnrecoverable) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Start(HandlerAnsweringNil, MainWithACreateError), 1);
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text, AsCaptured("\r\nUnrecoverable error 9001: Error recovery failure\r\n"
                             "Called from SET(0)\r\n"
                             "Called from MAIN(" + std::to_string(kSetLine) + ")\r\n"));
}

TEST_F(RuntimeTest, ErrorblockOfAnythingButABlockKeepsTheInstalledHandler) {
  RecordErrors(Value(0));
  for (const Value& notABlock : {Value(), Value("DEFERROR"), Value(false)}) {
    EXPECT_TRUE(rt::ERRORBLOCK(notABlock).IsBlock());
  }
  rt::VAL(1);  // the next error still reaches it
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].operation, "VAL");
}

// Runs a tool and gives its exit code; its standard error goes to `errors`.
int RunTool(const std::string& tool, const std::string& errors) {
  std::string command = support::HostPath(support::ToolPath(tool)).string() + " 2> " + errors;
  int status = std::system(command.c_str());
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST_F(StartTest, TheNinthNestedErrorEndsTheProgramWithExitCode1) {
  EXPECT_EQ(RunTool("rt_error_loop", "errors.txt"), 1);
  std::string text = support::ReadBytes("errors.txt");
  const std::string head =
      "\r\nUnrecoverable error 9003: Too many recursive error handler calls\r\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  // Eight handlers were running: each shows as __EVAL above the SET it failed in.
  size_t handlers = 0;
  for (size_t at = text.find("Called from __EVAL("); at != std::string::npos;
       at = text.find("Called from __EVAL(", at + 1)) {
    ++handlers;
  }
  EXPECT_EQ(handlers, 8u);
  EXPECT_EQ(text.substr(head.size(), 20), "Called from SET(0)\r\n");
  EXPECT_NE(text.find("Called from MAIN("), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(RuntimeTest, ProcnameAndProclineReadTheActivations) {
  rt::Activation outer("OUTER");
  const uint32_t callLine = __LINE__ + 1;
  rt::Activation inner("INNER", rt::Here::current());
  EXPECT_EQ(rt::PROCNAME(0), Value("INNER"));
  EXPECT_EQ(rt::PROCNAME(1), Value("OUTER"));
  EXPECT_EQ(rt::PROCLINE(1), Value(callLine));
  EXPECT_EQ(rt::PROCLINE(0), Value(__LINE__));
  EXPECT_EQ(rt::PROCNAME(2), Value(""));
  EXPECT_EQ(rt::PROCLINE(2), Value(0));
  EXPECT_EQ(rt::PROCNAME(-1), Value(""));
}

}  // namespace
}  // namespace runtime_test
