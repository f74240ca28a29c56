// The local copies, ADS.INI, ADSLOCAL.CFG and the wait for close-down.
#include <map>
#include <sstream>
#include <string>

#include "launcher/localfiles.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

constexpr int64_t kMinuteStart = 1767000000;  // a whole minute, UTC

#define SKIP_IF_READ_ONLY_IS_IGNORED()                       \
  if (support::RunningUnderWine() && support::RunningAsRoot()) \
  GTEST_SKIP() << "wine run as root ignores the read-only attribute"

// The keys of one section of an INI text, for comparing keys rather than bytes.
std::map<std::string, std::string> SectionKeys(const std::string& text, const std::string& section) {
  std::map<std::string, std::string> keys;
  std::istringstream lines(text);
  std::string line, current;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      current = line.substr(1, line.find(']') - 1);
    } else if (current == section && line.find('=') != std::string::npos) {
      keys[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
  }
  return keys;
}

class LocalFilesTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    MakeSharedRoot();
    support::MakeFolders(kFolder);
  }

  bool RefreshClient(bool install = false, bool wait = false, bool silent = false) {
    return launcher::RefreshClientFiles(context, kFolder, install, wait, silent);
  }

  // The message shown, with the error number replaced by N.
  std::string MessageWithoutNumber() {
    std::string text = OnlyMessage();
    if (text.size() > 1 && text[0] == '#') text = "#N" + text.substr(text.find(' '));
    return text;
  }

  const std::string kFolder = "C:\\Local\\";
};

TEST_F(LocalFilesTest, StampsCompareToTheMinute) {
  support::WriteBytes("A", "");
  support::WriteBytes("B", "");
  support::SetLastWriteTime("A", kMinuteStart + 10);
  support::SetLastWriteTime("B", kMinuteStart + 50);
  EXPECT_EQ(launcher::FileStamp(context, "A"), launcher::FileStamp(context, "B"));
  support::SetLastWriteTime("B", kMinuteStart + 70);
  EXPECT_NE(launcher::FileStamp(context, "A"), launcher::FileStamp(context, "B"));
  EXPECT_GE(launcher::FileStamp(context, "A") >> 16, 1u);  // a real stamp has a FAT date
}

TEST_F(LocalFilesTest, FilesWithoutAStampNeverMatch) {
  uint32_t first = launcher::FileStamp(context, "MISSING");
  uint32_t second = launcher::FileStamp(context, "MISSING");
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
}

TEST_F(LocalFilesTest, FirstRefreshCopiesTheClientAndWritesItsConfiguration) {
  ASSERT_TRUE(RefreshClient()) << OnlyMessage();
  for (const char* name : {"ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL"}) {
    EXPECT_EQ(support::ReadBytes(kFolder + name), support::ReadBytes(std::string("AXS\\") + name));
    EXPECT_EQ(launcher::FileStamp(context, kFolder + name),
              launcher::FileStamp(context, std::string("AXS\\") + name));
  }
  EXPECT_EQ(support::ReadBytes(kFolder + "ADSLOCAL.CFG"),
            "CONNECTIONS=100\r\nTABLES=150\r\nINDEXES=150\r\nLOCKS=500\r\nERROR_LOG_MAX=250\r\n"
            "ERROR_ASSERT_LOGS=C:\\Local\\\r\nANSI_CHAR_SET=Engl(Amer)\r\nOEM_CHAR_SET=USA\r\n"
            "FLUSH_FREQUENCY=0");
  auto keys = SectionKeys(support::ReadBytes(kFolder + "ADS.INI"), "SETTINGS");
  EXPECT_EQ(keys["MULTITASKING_OFF"], "1");
  EXPECT_EQ(keys["ENABLE_BLOCKING"], "0");
  EXPECT_EQ(keys["OTHER"], "7");
  EXPECT_FALSE(support::Exists(kFolder + "ADSLOCAL.CPY"));
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(LocalFilesTest, ConfigurationIs153CharactersPlusTheFolder) {
  EXPECT_EQ(launcher::ClientConfiguration("").size(), 153u);
}

TEST_F(LocalFilesTest, ClientIsCopiedAgainOnlyWhenItsStampChanges) {
  support::SetLastWriteTime("AXS\\ACE32.DLL", kMinuteStart + 5);
  ASSERT_TRUE(RefreshClient());
  support::WriteBytes(kFolder + "ADSLOC32.DLL", "local change");
  support::SetLastWriteTime(kFolder + "ACE32.DLL", kMinuteStart + 55);  // same minute
  ASSERT_TRUE(RefreshClient());
  EXPECT_EQ(support::ReadBytes(kFolder + "ADSLOC32.DLL"), "local change");

  support::SetLastWriteTime("AXS\\ACE32.DLL", kMinuteStart + 65);  // one minute later
  ASSERT_TRUE(RefreshClient());
  EXPECT_EQ(support::ReadBytes(kFolder + "ADSLOC32.DLL"), "adsloc32");
}

TEST_F(LocalFilesTest, MissingSharedClientFailsItsCopy) {
  std::filesystem::remove(support::HostPath("AXS\\ACE32.DLL"));
  EXPECT_FALSE(RefreshClient());
  EXPECT_EQ(MessageWithoutNumber(), "#N - Error while copying ACE32.DLL");
}

TEST_F(LocalFilesTest, OptOutKeepsTheLocalSettingsButSetsTheTwoKeys) {
  support::WriteBytes(kFolder + "NOADSINI.SYS", "");
  support::WriteBytes(kFolder + "ADS.INI", "[SETTINGS]\r\nMINE=yes\r\n");
  ASSERT_TRUE(RefreshClient());
  auto keys = SectionKeys(support::ReadBytes(kFolder + "ADS.INI"), "SETTINGS");
  EXPECT_EQ(keys["MINE"], "yes");
  EXPECT_EQ(keys.count("OTHER"), 0u);
  EXPECT_EQ(keys["MULTITASKING_OFF"], "1");
  EXPECT_EQ(keys["ENABLE_BLOCKING"], "0");
}

TEST_F(LocalFilesTest, MissingSharedSettingsStillGetTheTwoKeys) {
  std::filesystem::remove(support::HostPath("AXS\\ADS.INI"));
  ASSERT_TRUE(RefreshClient());
  auto keys = SectionKeys(support::ReadBytes(kFolder + "ADS.INI"), "SETTINGS");
  EXPECT_EQ(keys["MULTITASKING_OFF"], "1");
  EXPECT_EQ(keys["ENABLE_BLOCKING"], "0");
}

TEST_F(LocalFilesTest, SettingsInUseAreSkippedAfterAPause) {
  support::WriteBytes(kFolder + "ADS.INI", "[SETTINGS]\r\n");
  {
    auto held = plat::Native().files.Open(kFolder + "ADS.INI", plat::kRead, plat::kShareNone,
                                          plat::Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    ASSERT_TRUE(RefreshClient()) << OnlyMessage();
  }
  EXPECT_EQ(test.clock.sleeps, std::vector<uint32_t>{300});
  EXPECT_TRUE(support::Exists(kFolder + "ADSLOCAL.CFG"));
}

TEST_F(LocalFilesTest, ReadOnlyLocalSettingsStopTheStart) {
  SKIP_IF_READ_ONLY_IS_IGNORED();
  support::WriteBytes(kFolder + "ADS.INI", "[SETTINGS]\r\n");
  ASSERT_TRUE(plat::Native().files.SetAttributes(kFolder + "ADS.INI", plat::kAttrReadOnly));
  EXPECT_FALSE(RefreshClient());
  EXPECT_EQ(OnlyMessage(), "Files marked as READONLY in C:\\Local\\ (including sub-folders)");
  EXPECT_FALSE(support::Exists(kFolder + "ADSLOCAL.CFG"));
}

TEST_F(LocalFilesTest, ReadOnlySharedSettingsTravelToTheWorkstationAndStopTheNextStart) {
  SKIP_IF_READ_ONLY_IS_IGNORED();
  ASSERT_TRUE(plat::Native().files.SetAttributes("AXS\\ADS.INI", plat::kAttrReadOnly));
  ASSERT_TRUE(RefreshClient());  // the copy keeps the attribute, as on Windows
  EXPECT_FALSE(RefreshClient());
  EXPECT_EQ(OnlyMessage(), "Files marked as READONLY in C:\\Local\\ (including sub-folders)");
}

TEST_F(LocalFilesTest, ConfigurationInUseIsTriedTenTimes) {
  support::WriteBytes(kFolder + "ADSLOCAL.CFG", "old");
  {
    auto held = plat::Native().files.Open(kFolder + "ADSLOCAL.CFG", plat::kRead, plat::kShareNone,
                                          plat::Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_FALSE(RefreshClient());
  }
  EXPECT_EQ(test.clock.sleeps, std::vector<uint32_t>(9, 250));
  EXPECT_EQ(OnlyMessage(), "#32 - Error while creating ADSLOCAL.CFG");
}

TEST_F(LocalFilesTest, ConfigurationFreedDuringTheRetriesIsWritten) {
  support::WriteBytes(kFolder + "ADSLOCAL.CFG", "old");
  auto held = plat::Native().files.Open(kFolder + "ADSLOCAL.CFG", plat::kRead, plat::kShareNone,
                                        plat::Disposition::kOpenExisting);
  ASSERT_TRUE(held);
  test.clock.onSleep = [&](uint32_t) {
    if (test.clock.sleeps.size() == 3) held.reset();
  };
  EXPECT_TRUE(RefreshClient()) << OnlyMessage();
  EXPECT_EQ(test.clock.sleeps.size(), 3u);
  EXPECT_EQ(support::ReadBytes(kFolder + "ADSLOCAL.CFG").substr(0, 15), "CONNECTIONS=100");
}

TEST_F(LocalFilesTest, ReadOnlyConfigurationStopsAtTheFirstFailure) {
  SKIP_IF_READ_ONLY_IS_IGNORED();
  support::WriteBytes(kFolder + "ADSLOCAL.CFG", "old");
  ASSERT_TRUE(plat::Native().files.SetAttributes(kFolder + "ADSLOCAL.CFG", plat::kAttrReadOnly));
  EXPECT_FALSE(RefreshClient());
  EXPECT_TRUE(test.clock.sleeps.empty());
  EXPECT_EQ(OnlyMessage(), "Files marked as READONLY in C:\\Local\\ (including sub-folders)");
}

TEST_F(LocalFilesTest, InstallAndWaitStartsKeepACopyOfTheConfiguration) {
  ASSERT_TRUE(RefreshClient(true, false));
  EXPECT_EQ(support::ReadBytes(kFolder + "ADSLOCAL.CPY"), support::ReadBytes(kFolder + "ADSLOCAL.CFG"));
  std::filesystem::remove(support::HostPath(kFolder + "ADSLOCAL.CPY"));
  ASSERT_TRUE(RefreshClient(false, true));
  EXPECT_TRUE(support::Exists(kFolder + "ADSLOCAL.CPY"));
}

TEST_F(LocalFilesTest, WaitGivesUpAfterTwentyPausesUnlessSilent) {
  support::WriteBytes(kFolder + "libxl.dll", "in use");
  auto held = plat::Native().files.Open(kFolder + "libxl.dll", plat::kRead, plat::kShareRead,
                                        plat::Disposition::kOpenExisting);
  ASSERT_TRUE(held);
  EXPECT_FALSE(RefreshClient(false, true, false));
  EXPECT_EQ(test.clock.sleeps, std::vector<uint32_t>(20, 500));
  std::string text = OnlyMessage();
  EXPECT_EQ(text.substr(text.find(' ')), " - Error while waiting for Varnolet to close-down");
  EXPECT_FALSE(support::Exists(kFolder + "ACE32.DLL"));

  test.ui.shown.clear();
  test.clock.sleeps.clear();
  EXPECT_TRUE(RefreshClient(false, true, true));
  EXPECT_EQ(test.clock.sleeps.size(), 20u);
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(LocalFilesTest, WaitEndsWhenTheApplicationReleasesTheLibrary) {
  support::WriteBytes(kFolder + "libxl.dll", "in use");
  auto held = plat::Native().files.Open(kFolder + "libxl.dll", plat::kRead, plat::kShareRead,
                                        plat::Disposition::kOpenExisting);
  test.clock.onSleep = [&](uint32_t) {
    if (test.clock.sleeps.size() == 4) held.reset();
  };
  EXPECT_TRUE(RefreshClient(false, true, false)) << OnlyMessage();
  EXPECT_EQ(test.clock.sleeps.size(), 4u);
  EXPECT_FALSE(support::Exists(kFolder + "libxl.dll"));
  EXPECT_TRUE(launcher::RefreshSpreadsheetLibrary(context, kFolder));
  EXPECT_TRUE(support::Exists(kFolder + "libxl.dll"));
}

TEST_F(LocalFilesTest, LibraryIsCopiedWhenMissingOrChanged) {
  EXPECT_TRUE(launcher::RefreshSpreadsheetLibrary(context, kFolder));
  support::WriteBytes(kFolder + "libxl.dll", "kept");
  support::SetLastWriteTime(kFolder + "libxl.dll", kMinuteStart);
  support::SetLastWriteTime("XLS\\libxl.dll", kMinuteStart + 30);
  EXPECT_TRUE(launcher::RefreshSpreadsheetLibrary(context, kFolder));
  EXPECT_EQ(support::ReadBytes(kFolder + "libxl.dll"), "kept");
  std::filesystem::remove(support::HostPath("XLS\\libxl.dll"));
  std::filesystem::remove(support::HostPath(kFolder + "libxl.dll"));
  EXPECT_FALSE(launcher::RefreshSpreadsheetLibrary(context, kFolder));
  EXPECT_EQ(MessageWithoutNumber(), "#N - Error while copying libxl.dll");
}

TEST_F(LocalFilesTest, ProgramCopyNeedsTheLocalMessageFileFirst) {
  std::string program = kFolder + "PURCHASE.EXE";
  ASSERT_TRUE(launcher::RefreshLocalProgram(context, kFolder, program));
  EXPECT_EQ(support::ReadBytes(kFolder + "README.TXT"), "Local copy of Varnolet\r\n");
  EXPECT_EQ(test.ui.waitCursors, 1);

  std::filesystem::remove(support::HostPath("LOCALMSG.TXT"));
  ASSERT_TRUE(launcher::RefreshLocalProgram(context, kFolder, program));  // unchanged: no copy
  EXPECT_EQ(test.ui.waitCursors, 1);

  support::SetLastWriteTime("PURCHASE.EXE", kMinuteStart);
  EXPECT_FALSE(launcher::RefreshLocalProgram(context, kFolder, program));
  EXPECT_EQ(MessageWithoutNumber(), "#N - Error while copying LOCALMSG.TXT");
}

TEST_F(LocalFilesTest, CopiedProgramStaysRunnableAndKeepsItsStamp) {
  std::string program = kFolder + "PURCHASE.EXE";
  ASSERT_TRUE(launcher::RefreshLocalProgram(context, kFolder, program));
  EXPECT_EQ(launcher::FileStamp(context, program), launcher::FileStamp(context, "PURCHASE.EXE"));
  EXPECT_GT(test.platform.processes.ShellStart(0, "open", program, "QZWINIT C:\\Local\\ ", 1), 32u);
  EXPECT_NE(WaitForStartRecord().find("QZWINIT C:\\Local\\ "), std::string::npos);
}

}  // namespace
}  // namespace launcher_test
