// Long input for the launcher: arguments, local folders, identity files and
// request files at, one past and far past their capacities, on real files.
#include <filesystem>
#include <string>

#include "launcher/localfiles.h"
#include "launcher/relay.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

using launcher::Arguments;
using launcher::ParseCommandLine;

// Each argument keeps its capacity's worth and loses the rest; the next
// argument starts after the whole of the long one.
TEST(ArgumentLimitsTest, EachArgumentAtOnePastAndFarPastItsCapacity) {
  for (size_t extra : {0u, 1u, 5000u}) {
    SCOPED_TRACE("capacity + " + std::to_string(extra));
    std::string folder = "C:\\" + std::string(256 + extra, 'f');
    std::string pass(255 + extra, 'p'), mode(99 + extra, 'm'), request(259 + extra, 'r');
    Arguments a = ParseCommandLine("QZSTART.EXE " + folder + " \"" + pass + "\" " + mode + " " +
                                   request + " ignored");
    EXPECT_EQ(a.localFolder, folder.substr(0, 259));
    EXPECT_EQ(a.passThrough, pass.substr(0, 255));
    EXPECT_EQ(a.mode, mode.substr(0, 99));
    EXPECT_EQ(a.requestFile, request.substr(0, 259));
  }
  // An unclosed quote that runs to the end of a very long line.
  Arguments a = ParseCommandLine("QZSTART.EXE \"" + std::string(100000, ' '));
  EXPECT_EQ(a.localFolder, std::string(259, ' '));
  EXPECT_EQ(a.passThrough, "");
}

class LimitsTest : public LauncherTest {
 protected:
  bool Start(const std::string& tail) {
    Arguments a = ParseCommandLine("QZSTART.EXE " + tail);
    return launcher::NormalStart(context, a);
  }
  std::string Message() { return test.ui.shown.empty() ? "" : test.ui.shown.back().text; }
};

// The longest local file names are 12 characters (PURCHASE.EXE, ADSLOCAL.CFG),
// so a folder of 247 characters is the longest that works.
TEST_F(LimitsTest, LocalFolderOf247CharactersIsTheLongestThatStarts) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  std::string folder = "C:\\" + std::string(243, 'f') + "\\";
  ASSERT_EQ(folder.size(), 247u);
  ASSERT_TRUE(Start("\"" + folder + "\" abc")) << Message();
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "QZWINIT " + folder + " abc");  // 259
  std::string configuration = support::ReadBytes(folder + "ADSLOCAL.CFG");
  EXPECT_EQ(configuration.size(), 153u + 247u);
  EXPECT_EQ(configuration, launcher::ClientConfiguration(folder));

  test.ui.shown.clear();
  test.processes.shellStarts.clear();
  EXPECT_FALSE(Start("\"" + folder + "\" abcd"));  // a parameter string of 260
  EXPECT_EQ(Message().substr(0, 25), "Start parameters too long");
  test.ui.shown.clear();
  std::string onePast = "C:\\" + std::string(244, 'g') + "\\";
  EXPECT_FALSE(Start(onePast));
  EXPECT_EQ(Message(), "Local file name too long (" + onePast + "PURCHASE.EXE)");
  EXPECT_TRUE(test.processes.shellStarts.empty());
}

// A folder given without its backslash that cannot take one more character.
TEST_F(LimitsTest, FolderOfFullCapacityWithoutItsBackslashIsRefused) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  std::string folder = "C:\\" + std::string(256, 'f');
  EXPECT_FALSE(Start(folder + std::string(3000, 'x')));  // cut to 259 first
  EXPECT_EQ(Message(), "Local folder too long (" + folder + ")");
  EXPECT_FALSE(support::Exists("C:\\" + std::string(200, 'f')));
}

// The default folder grows by the identity and a backslash.
TEST_F(LimitsTest, IdentityThatJustFitsTheFolderAndOnesThatDoNot) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  ASSERT_TRUE(Start("")) << Message();
  struct Case {
    size_t length;
    const char* message;  // the start of the message, or "" for a start
  } cases[] = {{234, ""}, {235, "Local file name too long"}, {247, "Local folder too long"},
               {258, "Local folder too long"}, {5000, "Local folder too long"}};
  for (const Case& c : cases) {
    SCOPED_TRACE("identity of " + std::to_string(c.length));
    test.ui.shown.clear();
    test.processes.shellStarts.clear();
    support::WriteBytes(files.identity, std::string(c.length, '7'));
    bool started = Start("");
    if (*c.message == '\0') {
      EXPECT_TRUE(started) << Message();
      std::string folder = "C:\\_$MERIXA\\" + std::string(c.length, '7') + "\\";
      ASSERT_EQ(test.processes.shellStarts.size(), 1u);
      EXPECT_EQ(test.processes.shellStarts[0].program, folder + "PURCHASE.EXE");
    } else {
      EXPECT_FALSE(started);
      EXPECT_EQ(Message().substr(0, std::string(c.message).size()), c.message) << Message();
      EXPECT_TRUE(test.processes.shellStarts.empty());
    }
  }
}

// Small files are read with one read of 259 bytes.
TEST_F(LimitsTest, IdentityFilesAtAndPastTheReadBuffer) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  std::string folder = "C:\\L0\\";
  ASSERT_TRUE(launcher::PrepareLocalFolder(context, folder)) << Message();
  for (size_t length : {259u, 260u, 100000u}) {
    SCOPED_TRACE(length);
    test.ui.shown.clear();
    support::WriteBytes(files.identity, std::string(length, 'i'));
    folder = "C:\\L" + std::to_string(length) + "\\";
    EXPECT_TRUE(launcher::PrepareLocalFolder(context, folder)) << Message();
    folder = launcher::kDefaultLocalFolder;
    EXPECT_FALSE(launcher::PrepareLocalFolder(context, folder));
    EXPECT_EQ(Message(), "Local folder too long (C:\\_$MERIXA\\" + std::string(259, 'i') + "\\)");
    EXPECT_EQ(support::ReadBytes(files.identity).size(), length) << "the file is left as it is";
  }
  // A new identity takes the previous one's first eight characters, however long it is.
  std::filesystem::remove(support::HostPath(files.identity));
  support::WriteBytes(files.previous, "12345678" + std::string(50000, 'p'));
  folder = "C:\\L1\\";
  ASSERT_TRUE(launcher::PrepareLocalFolder(context, folder)) << Message();
  EXPECT_EQ(support::ReadBytes(files.identity).substr(0, 9), "12345678-");
}

// The account file holds one name; a longer file never matches and never overruns.
TEST_F(LimitsTest, AccountFileAtAndPastTheReadBuffer) {
  std::string user;
  ASSERT_TRUE(plat::Native().system.NetworkUserName(user));
  support::MakeFolders("SYSTEM");
  support::WriteBytes("SYSTEM\\LSAUSER.SYS", user + std::string(259 - user.size(), '\0'));
  launcher::ShowMessage(context, 0, "logged", "Varnolet", 0x40);
  EXPECT_EQ(support::ReadBytes("LASTMSG.LOG"), "logged");
  support::WriteBytes("SYSTEM\\LSAUSER.SYS", user + std::string(100000, 'x'));
  launcher::ShowMessage(context, 0, "shown", "Varnolet", 0x40);
  ASSERT_EQ(test.ui.shown.size(), 1u);
  EXPECT_EQ(test.ui.shown[0].text, "shown");
}

class RequestLimitsTest : public LauncherTest {
 protected:
  std::string ShownMessage(const std::string& bytes, const std::string& count) {
    support::WriteBytes("MSG.TXT", bytes);
    test.ui.shown.clear();
    launcher::HandleRequestFile(context, "", count, "MSG.TXT");
    EXPECT_FALSE(support::Exists("MSG.TXT"));
    return OnlyMessage();
  }
};

TEST_F(RequestLimitsTest, MessageFilesAtOnePastAndFarPastTheBuffer) {
  EXPECT_EQ(ShownMessage(std::string(5119, 'm'), "5119"), std::string(5119, 'm'));
  EXPECT_EQ(ShownMessage(std::string(5120, 'm'), "5120"), std::string(5119, 'm'));
  EXPECT_EQ(ShownMessage(std::string(200000, 'm'), "99999999999"), std::string(5119, 'm'));
  // Line ends take two bytes in the file and one in the text.
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "a\r\n";
  std::string expected;
  for (int i = 0; expected.size() < 5119; ++i) expected += i % 2 ? '\n' : 'a';
  EXPECT_EQ(ShownMessage(lines, "6000"), expected);
  EXPECT_EQ(ShownMessage("short\x1A" + std::string(9000, 'z'), "9000"), "short");
}

TEST_F(RequestLimitsTest, RunCommandsAtAndPastTheBuffer) {
  // 259 characters: the whole command is read and its extension found.
  std::string program = std::string(251, 'p') + ".EXE";
  support::WriteBytes("RUN.REQ", program + " abc");
  launcher::HandleRequestFile(context, "{RUN}", "259", "RUN.REQ");
  ASSERT_EQ(test.processes.shellStarts.size(), 1u);
  EXPECT_EQ(test.processes.shellStarts[0].program, program);
  EXPECT_EQ(test.processes.shellStarts[0].parameters, "abc");
  EXPECT_EQ(support::ReadBytes("RUN.REQ").substr(support::ReadBytes("RUN.REQ").find(' ')),
            " (ShellExecute)");
  // One past: the extension's last letter is cut off, so there is no program.
  test.processes.shellStarts.clear();
  support::WriteBytes("RUN.REQ", std::string(256, 'p') + ".EXE");
  launcher::HandleRequestFile(context, "{RUN}", "260", "RUN.REQ");
  EXPECT_EQ(support::ReadBytes("RUN.REQ"), "Could not locate EXE in calling string");
  EXPECT_TRUE(test.processes.shellStarts.empty());
}

// A request file name is cut at 259 characters like any fourth argument: a
// longer name selects another file, which is not there.
TEST_F(RequestLimitsTest, RequestFileNamesAtAndPastTheirCapacity) {
  if (support::RunningUnderWine()) {
    GTEST_SKIP() << "Windows limits the whole path, temporary folder included, to 259 characters";
  }
  std::string folder = std::string(150, 'd');
  support::MakeFolders(folder);
  std::string name = folder + "\\" + std::string(108, 'n');
  ASSERT_EQ(name.size(), 259u);
  support::WriteBytes(name, "fits");
  Arguments a = ParseCommandLine("QZSTART.EXE x y 4 " + name);
  launcher::Dispatch(context, a);
  EXPECT_EQ(OnlyMessage(), "fits");
  EXPECT_FALSE(support::Exists(name));

  test.ui.shown.clear();
  std::string longer = name + "N";
  support::WriteBytes(longer, "too long");
  a = ParseCommandLine("QZSTART.EXE x y 8 " + longer);
  launcher::Dispatch(context, a);
  EXPECT_TRUE(test.ui.shown.empty());
  EXPECT_TRUE(support::Exists(longer));
}

}  // namespace
}  // namespace launcher_test
