// The relay requests: message, message file and run request with its response.
#include <string>

#include "launcher/relay.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

using launcher::ParseByteCount;

TEST(ByteCountTest, ReadsLikeAtolAndStaysInsideTheBuffer) {
  EXPECT_EQ(ParseByteCount("12", 100), 12u);
  EXPECT_EQ(ParseByteCount("  \t+7x", 100), 7u);
  EXPECT_EQ(ParseByteCount("abc", 100), 0u);
  EXPECT_EQ(ParseByteCount("", 100), 0u);
  EXPECT_EQ(ParseByteCount("- 5", 100), 0u);
  EXPECT_EQ(ParseByteCount("-5", 100), 0u);  // never a huge unsigned count
  EXPECT_EQ(ParseByteCount("5120", 5119), 5119u);
  EXPECT_EQ(ParseByteCount("99999999999999999999999999", 259), 259u);
}

class RelayTest : public LauncherTest {
 protected:
  std::string TextModeRead(const std::string& bytes, size_t count) {
    support::WriteBytes("T.TXT", bytes);
    auto file = plat::Native().files.Open("T.TXT", plat::kRead, plat::kShareRead,
                                          plat::Disposition::kOpenExisting);
    return file ? launcher::ReadTextMode(*file, count) : "<cannot open>";
  }

  void RunRequest(const std::string& command, const std::string& count = "") {
    if (!command.empty()) support::WriteBytes("RUN.REQ", command);
    launcher::HandleRequestFile(context, "{RUN}",
                                count.empty() ? std::to_string(command.size()) : count, "RUN.REQ");
  }
};

TEST_F(RelayTest, TextModeTurnsCrLfIntoLfAndStopsAtCtrlZ) {
  EXPECT_EQ(TextModeRead("a\r\nb\rc\n", 100), "a\nb\rc\n");
  EXPECT_EQ(TextModeRead("ab\x1A" "cd", 100), "ab");
  EXPECT_EQ(TextModeRead("a\r\nb\r\nc", 3), "a\nb");
  EXPECT_EQ(TextModeRead("abc\r", 100), "abc\r");
  EXPECT_EQ(TextModeRead("abc", 0), "");
}

TEST_F(RelayTest, MessageRequestsChooseTheirIcon) {
  launcher::HandleMessageRequest(context, "ERR:");
  launcher::HandleMessageRequest(context, "Backup at 22:00");
  launcher::HandleMessageRequest(context, "err:lower");
  ASSERT_EQ(test.ui.shown.size(), 3u);
  EXPECT_EQ(test.ui.shown[0].text, "");
  EXPECT_EQ(test.ui.shown[0].style, 0x10u);
  EXPECT_EQ(test.ui.shown[1].text, "Backup at 22:00");
  EXPECT_EQ(test.ui.shown[1].style, 0x40u);
  EXPECT_EQ(test.ui.shown[2].text, "err:lower");
  EXPECT_EQ(test.ui.shown[2].caption, "Varnolet");
}

TEST_F(RelayTest, MessageFileIsShownUpToTheCountAndDeleted) {
  support::WriteBytes("MSG.TXT", "Line one\r\nLine two\r\nrest");
  launcher::HandleRequestFile(context, "anything", "17", "MSG.TXT");
  EXPECT_EQ(OnlyMessage(), "Line one\nLine two");
  EXPECT_EQ(test.ui.shown[0].style, 0x40u);
  EXPECT_FALSE(support::Exists("MSG.TXT"));
}

TEST_F(RelayTest, MessageFileWithoutCountShowsAnEmptyMessage) {
  support::WriteBytes("MSG.TXT", "never read");
  launcher::HandleRequestFile(context, "", "", "MSG.TXT");
  EXPECT_EQ(OnlyMessage(), "");
  EXPECT_FALSE(support::Exists("MSG.TXT"));
}

TEST_F(RelayTest, MessageFileLargerThanItsBufferIsCut) {
  support::WriteBytes("MSG.TXT", std::string(6000, 'm'));
  launcher::HandleRequestFile(context, "", "6000", "MSG.TXT");
  EXPECT_EQ(OnlyMessage(), std::string(5119, 'm'));
}

TEST_F(RelayTest, MissingMessageFileShowsNothing) {
  launcher::HandleRequestFile(context, "", "10", "MISSING.TXT");
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(RelayTest, RunRequestStartsTheProgramAndAnswersOk) {
  CopyTool("purchase_standin", "TOOL.EXE");
  RunRequest("TOOL.EXE QZWINIT C:\\X\\ relayed");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "OK");
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].verb, "open");
  EXPECT_EQ(test.processes.shellStarts[0].program, "TOOL.EXE");
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "QZWINIT C:\\X\\ relayed");
  EXPECT_EQ(test.clock.sleeps, std::vector<uint32_t>{1000});
  EXPECT_EQ(test.ui.removedMessages, std::vector<uint32_t>{1084});
  EXPECT_NE(WaitForStartRecord().find("QZWINIT C:\\X\\ relayed"), std::string::npos);
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(RelayTest, ProgramEndingWithItsExtensionHasNoParameters) {
  CopyTool("purchase_standin", "TOOL.EXE");
  RunRequest("TOOL.EXE");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "OK");
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "");
}

TEST_F(RelayTest, UpperCaseExtensionWinsOverAnEarlierLowerCaseOne) {
  support::MakeFolders("a.exe.dir");
  RunRequest("a.exe.dir\\B.EXE -x");
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].program, "a.exe.dir\\B.EXE");
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "-x");
  std::string response = support::ReadBytes("RUN.REQ");
  EXPECT_EQ(response.substr(response.find(' ')), " (ShellExecute)");
  EXPECT_EQ(response.substr(0, response.find(' ')), "2");
}

TEST_F(RelayTest, ShellResultOf32IsAnsweredAsARefusal) {
  RefusingShell shell{32, plat::kErrorAccessDenied};
  plat::Platform os = WithShell(shell);
  launcher::Context refusing{os};
  support::WriteBytes("RUN.REQ", "TOOL.EXE -x");
  launcher::HandleRequestFile(refusing, "{RUN}", "11", "RUN.REQ");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "5 (ShellExecute)");
}

TEST_F(RelayTest, CommandWithoutAProgramIsAnsweredAndStartsNothing) {
  RunRequest("backup.bat nightly");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "Could not locate EXE in calling string");
  EXPECT_TRUE(test.processes.shellStarts.empty());
}

TEST_F(RelayTest, MissingRequestFileIsAnsweredInANewFile) {
  RunRequest("", "10");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "2 (fopen)");
}

TEST_F(RelayTest, CommandIsReadUpToItsCountAndItsBuffer) {
  RunRequest("TOOL.EXE trailing", "8");
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "");
  test.processes.shellStarts.clear();
  RunRequest(std::string(300, 'x') + ".EXE", "300");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "Could not locate EXE in calling string");
}

TEST_F(RelayTest, UnwritableResponseIsShownAsAnError) {
  support::MakeFolders("RUN.REQ");  // a folder cannot be opened as a request or rewritten
  launcher::HandleRequestFile(context, "{RUN}", "5", "RUN.REQ");
  std::string text = OnlyMessage();
  EXPECT_EQ(text.substr(0, 1), "#");
  EXPECT_EQ(text.substr(text.find(' ')),
            " - QZSTART.EXE failed to create response file (RUN.REQ)");
  EXPECT_EQ(test.ui.shown[0].style, 0x10u);
}

}  // namespace
}  // namespace launcher_test
