// The launcher's command line, mode dispatch, message services and normal start.
#include <string>

#include "launcher/start.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

using launcher::Arguments;
using launcher::ParseCommandLine;

TEST(CommandLineTest, EmptyTailGivesTheDefaults) {
  Arguments a = ParseCommandLine("QZSTART.EXE");
  EXPECT_EQ(a.localFolder, "C:\\_$MERIXA\\");
  EXPECT_EQ(a.passThrough, "");
  EXPECT_EQ(a.mode, "");
  EXPECT_EQ(a.requestFile, "");
}

TEST(CommandLineTest, QuotedProgramNameWithBlanksIsSkipped) {
  Arguments a = ParseCommandLine("\"C:\\Program Files\\QZSTART.EXE\"  D:\\Local\\ text");
  EXPECT_EQ(a.localFolder, "D:\\Local\\");
  EXPECT_EQ(a.passThrough, "text");
}

TEST(CommandLineTest, EmptyQuotesSelectTheDefaultAndQuotesAreNeverKept) {
  Arguments a = ParseCommandLine("QZSTART.EXE \"\" \"two words\" \"ERR:bad thing\"");
  EXPECT_EQ(a.localFolder, "C:\\_$MERIXA\\");
  EXPECT_EQ(a.passThrough, "two words");
  EXPECT_EQ(a.mode, "ERR:bad thing");
}

TEST(CommandLineTest, MonitorLockDownRequestIsFolderAndOnePassThroughText) {
  Arguments a = ParseCommandLine("QZSTART.EXE C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,10\"");
  EXPECT_EQ(a.localFolder, "C:\\_$MERIXA");
  EXPECT_EQ(a.passThrough, "ACME,NIGHT,LOCKDOWN,10");
  EXPECT_EQ(a.mode, "");
}

TEST(CommandLineTest, BlankInTheMonitorFolderMakesTheRequestArgumentThree) {
  Arguments a = ParseCommandLine("QZSTART.EXE C:\\My Folder \"ACME,NIGHT,LOCKDOWN,10\"");
  EXPECT_EQ(a.localFolder, "C:\\My");
  EXPECT_EQ(a.passThrough, "Folder");
  EXPECT_EQ(a.mode, "ACME,NIGHT,LOCKDOWN,10");
}

TEST(CommandLineTest, QuoteInsideAnArgumentAndClosingQuoteEndsIt) {
  Arguments a = ParseCommandLine("QZSTART.EXE ab\"c d\"e f");
  EXPECT_EQ(a.localFolder, "abc d");
  EXPECT_EQ(a.passThrough, "e");
  EXPECT_EQ(a.mode, "f");
}

TEST(CommandLineTest, TabIsAnOrdinaryCharacterAndTextAfterTheFourthIsIgnored) {
  Arguments a = ParseCommandLine("QZSTART.EXE a\tb 2 3 4 5 6");
  EXPECT_EQ(a.localFolder, "a\tb");
  EXPECT_EQ(a.requestFile, "4");
}

TEST(CommandLineTest, ArgumentsAreCutAtTheirCapacity) {
  std::string longFolder = "C:\\" + std::string(400, 'f');
  Arguments a = ParseCommandLine("QZSTART.EXE " + longFolder + " " + std::string(300, 'p') + " " +
                                 std::string(150, 'm') + " next");
  EXPECT_EQ(a.localFolder, longFolder.substr(0, 259));
  EXPECT_EQ(a.passThrough, std::string(255, 'p'));
  EXPECT_EQ(a.mode, std::string(99, 'm'));
  EXPECT_EQ(a.requestFile, "next");  // the rest starts after the whole argument
}

class MessageTest : public LauncherTest {};

TEST_F(MessageTest, MessageBoxHasTheGivenOwnerCaptionAndStyle) {
  launcher::ShowMessage(context, 77, "text", "Caption", 0x40);
  ASSERT_EQ(test.ui.shown.size(), 1u);
  EXPECT_EQ(test.ui.shown[0].owner, 77u);
  EXPECT_EQ(test.ui.shown[0].caption, "Caption");
  EXPECT_EQ(test.ui.shown[0].style, 0x40u);
}

TEST_F(MessageTest, LoggedAccountGetsOnlyTheLatestTextInLastMsgLog) {
  LogMessagesToFile();
  launcher::ShowMessage(context, 0, "first message", "Varnolet", 0x10);
  launcher::ShowMessage(context, 0, "second", "Varnolet", 0x10);
  EXPECT_TRUE(test.ui.shown.empty());
  EXPECT_EQ(support::ReadBytes("LASTMSG.LOG"), "second");
}

TEST_F(MessageTest, AccountFileThatDiffersFromTheUserShowsTheBox) {
  std::string user;
  ASSERT_TRUE(plat::Native().system.NetworkUserName(user));
  support::MakeFolders("SYSTEM");
  for (const std::string& content : {user + "\r\n", std::string(), std::string("\0x", 2),
                                     user + "x"}) {
    support::WriteBytes("SYSTEM\\LSAUSER.SYS", content);
    launcher::ShowMessage(context, 0, "shown", "Varnolet", 0x10);
  }
  EXPECT_EQ(test.ui.shown.size(), 4u);
  EXPECT_FALSE(support::Exists("LASTMSG.LOG"));
}

TEST_F(MessageTest, AccountNameEndsAtItsFirstNulByte) {
  std::string user;
  ASSERT_TRUE(plat::Native().system.NetworkUserName(user));
  support::MakeFolders("SYSTEM");
  support::WriteBytes("SYSTEM\\LSAUSER.SYS", user + std::string("\0junk", 5));
  launcher::ShowMessage(context, 0, "logged", "Varnolet", 0x10);
  EXPECT_TRUE(test.ui.shown.empty());
  EXPECT_EQ(support::ReadBytes("LASTMSG.LOG"), "logged");
}

TEST_F(MessageTest, MessageIsDroppedWhenTheLogCannotBeCreated) {
  LogMessagesToFile();
  support::MakeFolders("LASTMSG.LOG");  // a folder of that name cannot be created as a file
  launcher::ShowMessage(context, 0, "lost", "Varnolet", 0x10);
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(MessageTest, ReportErrorShowsTheLastErrorInTheErrorStyle) {
  plat::SetLastError(5);
  launcher::ReportError(context, "copying ACE32.DLL");
  ASSERT_EQ(test.ui.shown.size(), 1u);
  EXPECT_EQ(test.ui.shown[0].text, "#5 - Error while copying ACE32.DLL");
  EXPECT_EQ(test.ui.shown[0].caption, "Varnolet");
  EXPECT_EQ(test.ui.shown[0].style, 0x10u);
  EXPECT_EQ(test.ui.shown[0].owner, support::RecordingUi::kDesktop);
}

TEST_F(MessageTest, ReportErrorFitsA256CharacterBuffer) {
  plat::SetLastError(32);
  launcher::ReportError(context, std::string(400, 'w'));
  EXPECT_EQ(OnlyMessage().size(), 255u);
}

TEST_F(MessageTest, FileExistsCountsFoldersAndWildcardMatches) {
  support::MakeFolders("UTILS\\QZBACKUP");
  support::WriteBytes("UTILS\\A.TXT", "");
  EXPECT_TRUE(launcher::FileExists(context, "UTILS\\QZBACKUP"));
  EXPECT_TRUE(launcher::FileExists(context, "UTILS\\*.TXT"));
  EXPECT_FALSE(launcher::FileExists(context, "UTILS\\*.DOC"));
  EXPECT_FALSE(launcher::FileExists(context, "MISSING\\A.TXT"));
}

class DispatchTest : public LauncherTest {
 protected:
  void Dispatch(const std::string& tail) {
    Arguments a = ParseCommandLine("QZSTART.EXE " + tail);
    launcher::Dispatch(context, a);
  }
};

TEST_F(DispatchTest, ThirdArgumentIsAMessageUnlessItIsExactlyTheWaitWord) {
  Dispatch("\"\" \"\" wait4exit");
  EXPECT_EQ(OnlyMessage(), "wait4exit");
  EXPECT_EQ(test.ui.shown[0].style, 0x40u);
  EXPECT_TRUE(test.processes.shellStarts.empty());
}

TEST_F(DispatchTest, ErrPrefixShowsTheRestWithTheStopIcon) {
  Dispatch("x y \"ERR:Disk full\"");
  EXPECT_EQ(OnlyMessage(), "Disk full");
  EXPECT_EQ(test.ui.shown[0].style, 0x10u);
}

TEST_F(DispatchTest, WaitWordWithARequestFileIsAFileRequest) {
  support::WriteBytes("REQ.TXT", "hello");
  Dispatch("x y WAIT4EXIT REQ.TXT");
  EXPECT_EQ(OnlyMessage(), "");  // the byte count "WAIT4EXIT" reads as 0
  EXPECT_FALSE(support::Exists("REQ.TXT"));
}

TEST_F(DispatchTest, WaitWordAloneIsANormalStart) {
  Dispatch("\"\" \"\" WAIT4EXIT");
  EXPECT_EQ(OnlyMessage(), "This is not the Varnolet root folder");
}


TEST_F(LauncherTest, UacPromptsUnlessTheKeySaysNo) {
  support::ChosenSystem system(plat::Native().system);
  system.version = 0x23F00206;  // 6.2
  system.registry = plat::RegistryRead::kRead;
  plat::Platform os{test.platform.files, test.clock, test.processes, test.ui, system,
                    test.platform.libraries};
  launcher::Context chosen{os};
  EXPECT_TRUE(launcher::UacPromptsElevation(chosen));
  EXPECT_EQ(system.keyAsked,
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System|EnableLUA");
  system.registryNumber = 0;
  EXPECT_FALSE(launcher::UacPromptsElevation(chosen));
  system.registry = plat::RegistryRead::kValueMissing;
  EXPECT_FALSE(launcher::UacPromptsElevation(chosen));
  system.registry = plat::RegistryRead::kKeyMissing;
  EXPECT_TRUE(launcher::UacPromptsElevation(chosen));
}

class NormalStartTest : public LauncherTest {
 protected:
  bool Start(const std::string& tail) {
    Arguments a = ParseCommandLine("QZSTART.EXE " + tail);
    return launcher::NormalStart(context, a);
  }
  // The start of a shared root through a shell that gives `result` with
  // `error` as the last error.
  bool StartThroughRefusingShell(uint32_t result, uint32_t error) {
    MakeSharedRoot();
    RefusingShell shell{result, error};
    plat::Platform os = WithShell(shell);
    launcher::Context refusing{os};
    Arguments a = ParseCommandLine("QZSTART.EXE C:\\L\\");
    return launcher::NormalStart(refusing, a);
  }
  std::string IdentityText() { return support::ReadBytes(files.identity); }
};

TEST_F(NormalStartTest, OutsideTheRootNothingIsPrepared) {
  EXPECT_FALSE(Start(""));
  EXPECT_EQ(OnlyMessage(), "This is not the Varnolet root folder");
  EXPECT_EQ(test.ui.shown[0].style, 0x10u);
  EXPECT_FALSE(support::Exists("C:\\_$MERIXA"));
}

TEST_F(NormalStartTest, MissingSharedProgramMeansAnUpdateEvenWithALocalCopy) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  ASSERT_TRUE(Start(""));
  test.ui.shown.clear();
  std::filesystem::remove(support::HostPath("PURCHASE.EXE"));
  EXPECT_FALSE(Start(""));
  EXPECT_EQ(OnlyMessage(), "Varnolet is being updated - Please try again in a few minutes...");
  EXPECT_EQ(test.ui.shown[0].style, 0x40u);
}

TEST_F(NormalStartTest, EmptyCommandLineStartsTheLocalProgramInTheRoot) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  ASSERT_TRUE(Start(""));
  std::string folder = "C:\\_$MERIXA\\" + IdentityText() + "\\";
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  const auto& start = test.processes.shellStarts[0];
  EXPECT_EQ(start.verb, "open");
  EXPECT_EQ(start.program, folder + "PURCHASE.EXE");
  EXPECT_EQ(start.parameters, "QZWINIT " + folder + " ");
  EXPECT_EQ(start.show, 1);
  EXPECT_EQ(start.owner, support::RecordingUi::kDesktop);
  std::string root = Root().substr(0, Root().size() - 1);
  EXPECT_EQ(WaitForStartRecord(), root + "\tQZWINIT " + folder + " \r\n");
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(NormalStartTest, MonitorRequestReachesTheApplicationWithoutQuotes) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  ASSERT_TRUE(Start("C:\\_$MERIXA \"ACME,NIGHT,LOCKDOWN,10\""));
  std::string folder = "C:\\_$MERIXA\\" + IdentityText() + "\\";
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].parameters,
            "QZWINIT " + folder + " ACME,NIGHT,LOCKDOWN,10");
}

TEST_F(NormalStartTest, QuotedFolderWithBlanksIsUsedAsGiven) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  ASSERT_TRUE(Start("\"C:\\Local Copies\" \"a b\""));
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].program, "C:\\Local Copies\\PURCHASE.EXE");
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "QZWINIT C:\\Local Copies\\ a b");
}

TEST_F(NormalStartTest, OnlyInstallAndUpgradeStartsAskForElevation) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  support::ChosenSystem system(plat::Native().system);
  system.version = 0x23F00206;  // 6.2
  system.registry = plat::RegistryRead::kRead;
  plat::Platform os{test.platform.files, test.clock, test.processes, test.ui, system,
                    test.platform.libraries};
  launcher::Context chosen{os};
  auto verbFor = [&](const std::string& passThrough) {
    Arguments a = ParseCommandLine("QZSTART.EXE C:\\L\\ \"" + passThrough + "\"");
    test.processes.shellStarts.clear();
    EXPECT_TRUE(launcher::NormalStart(chosen, a));
    return test.processes.shellStarts.empty() ? "" : test.processes.shellStarts[0].verb;
  };
  EXPECT_EQ(verbFor("install now"), "runas");
  EXPECT_EQ(verbFor("go QZ-COMPLETE-UPGRADE"), "runas");
  EXPECT_EQ(verbFor("everyday"), "open");
  EXPECT_EQ(verbFor("go qz-complete-upgrade"), "open");
  system.registryNumber = 0;
  EXPECT_EQ(verbFor("INSTALL"), "open");
  system.registryNumber = 1;
  system.version = 0x0A280105;  // 5.1: no user account control
  EXPECT_EQ(verbFor("INSTALL"), "open");
}

TEST_F(NormalStartTest, RefusedStartShowsTheSystemError) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  support::WriteBytes("PURCHASE.EXE", "not a program");
  EXPECT_FALSE(Start("C:\\L\\"));
  std::string text = OnlyMessage();
  EXPECT_EQ(text.substr(0, 1), "#");
  EXPECT_NE(text, "#1152 - Unable to run Varnolet");
  EXPECT_EQ(text.substr(text.find(' ')), " - Unable to run Varnolet");
}

TEST_F(NormalStartTest, SingleInstanceRefusalSaysTheApplicationRuns) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  EXPECT_FALSE(StartThroughRefusingShell(0, plat::kErrorSingleInstanceApp));
  EXPECT_EQ(OnlyMessage(), "Varnolet is already running");
  EXPECT_EQ(test.ui.shown[0].style, 0x40u);
}

// The shell accepts a start with a result above 32: 32 itself is a refusal.
TEST_F(NormalStartTest, ShellResultOf32IsARefusal) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  EXPECT_FALSE(StartThroughRefusingShell(32, plat::kErrorAccessDenied));
  EXPECT_EQ(OnlyMessage(), "#5 - Unable to run Varnolet");
}

TEST_F(NormalStartTest, OverlongFolderOrParametersAreRefusedNotCut) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  EXPECT_FALSE(Start("C:\\" + std::string(256, 'f')));
  EXPECT_EQ(OnlyMessage(), "Local folder too long (C:\\" + std::string(256, 'f') + ")");
  test.ui.shown.clear();
  EXPECT_FALSE(Start("C:\\" + std::string(246, 'g') + "\\"));
  EXPECT_EQ(OnlyMessage().substr(0, 24), "Local file name too long");
  test.ui.shown.clear();
  EXPECT_FALSE(Start("C:\\" + std::string(100, 'h') + "\\ " + std::string(200, 'p')));
  EXPECT_EQ(OnlyMessage().substr(0, 25), "Start parameters too long");
  EXPECT_TRUE(test.processes.shellStarts.empty());
}

}  // namespace
}  // namespace launcher_test
