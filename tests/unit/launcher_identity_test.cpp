// The installation identity, the rights check and the local folder.
#include <regex>
#include <string>

#include "launcher/identity.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

using launcher::FormatIdentity;
using launcher::NextRandom;

TEST(IdentityFormatTest, FieldsAndTheLongestIdentity) {
  plat::CalendarTime utc;
  utc.hour = 3;
  utc.minute = 4;
  utc.second = 5;
  EXPECT_EQ(FormatIdentity("20261208", utc, 17, 2048, 9), "20261208-030405-17-2048-9");
  utc.hour = 23;
  std::string longest = FormatIdentity("20261208", utc, 4294967295u, 4294967295u, 32767);
  EXPECT_EQ(longest, "20261208-230405-4294967295-4294967295-32767");
  EXPECT_EQ(longest.size(), 43u);
}

TEST(IdentityFormatTest, GeneratorIsTheClassicLinearCongruence) {
  uint32_t state = 1;
  EXPECT_EQ(NextRandom(state), 41u);
  EXPECT_EQ(NextRandom(state), 18467u);
  state = 0xFFFFFFFF;  // wraps modulo 2^32
  EXPECT_LE(NextRandom(state), 32767u);
}

TEST(IdentityFormatTest, NamesHaveTheirLengthsAndUsableIdentitiesAreChecked) {
  launcher::IdentityFiles f = launcher::AssembleIdentityFiles();
  EXPECT_EQ(f.identity.size(), 9u);
  EXPECT_EQ(f.previous.size(), 13u);
  EXPECT_EQ(f.firstBackup.size(), 15u);
  EXPECT_EQ(f.secondBackup.size(), 16u);
  EXPECT_EQ(f.shiftedBackup.size(), 24u);
  EXPECT_EQ(f.rightsMarker.size(), 29u);
  EXPECT_EQ(f.rightsSource.size(), 9u);
  EXPECT_EQ(f.identity.find('\\'), std::string::npos);  // its local copy sits in the local folder
  EXPECT_TRUE(launcher::IsUsableIdentity("20261208-030405-17-2048-9"));
  for (const char* bad : {"", ".", "..", "..\\..\\Windows", "a/b", "C:x", "a*", "a\tb"}) {
    EXPECT_FALSE(launcher::IsUsableIdentity(bad)) << bad;
  }
}

class IdentityTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    MakeSharedRoot();
    plat::CalendarTime utc{.year = 2026, .month = 12, .day = 8,
                           .hour = 13, .minute = 5, .second = 9};
    test.clock.FixTime(utc, utc);
  }

  // Prepares the given local folder; gives the folder as extended.
  std::string Prepare(const std::string& given = "C:\\_$MERIXA\\") {
    folder = given;
    prepared = launcher::PrepareLocalFolder(context, folder);
    return folder;
  }

  std::string Identity() { return support::ReadBytes(files.identity); }

  void GiveMarkerTheArchiveAttribute() {
    ASSERT_TRUE(plat::Native().files.SetAttributes(files.rightsMarker, plat::kAttrArchive));
  }

  std::string folder;
  bool prepared = false;
};

TEST_F(IdentityTest, FirstStartMakesAnIdentityAndNamesTheFolderAfterIt) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::WriteBytes("CACLS.SYS", "old rights");
  std::string extended = Prepare();
  ASSERT_TRUE(prepared) << OnlyMessage();
  uint32_t seed = 1000;  // the simulated tick count
  uint32_t random = NextRandom(seed);
  std::string expected = "20261208-130509-1000-" +
                         std::to_string(plat::Native().system.AvailablePhysicalMemory()) + "-" +
                         std::to_string(random);
  EXPECT_EQ(Identity(), expected);
  EXPECT_EQ(extended, "C:\\_$MERIXA\\" + expected + "\\");
  EXPECT_EQ(support::ReadBytes(extended + files.identity), expected);
  EXPECT_FALSE(support::Exists("CACLS.SYS"));
  EXPECT_EQ(support::ReadBytes(files.rightsMarker), "rights test");
  EXPECT_EQ(Attributes(files.rightsMarker) & plat::kAttrArchive, 0u);
  EXPECT_TRUE(test.ui.shown.empty());
}

TEST_F(IdentityTest, IdentityIsKeptWhileTheMarkerHasNoArchiveAttribute) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  std::string first = Prepare();
  test.clock.SetTick(99999);
  support::WriteBytes("CACLS.SYS", "kept");
  EXPECT_EQ(Prepare(), first);
  EXPECT_TRUE(prepared);
  EXPECT_TRUE(support::Exists("CACLS.SYS"));  // no rights check ran
}

TEST_F(IdentityTest, MarkerWithArchiveRetiresTheIdentityAndCarriesSettingsOver) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  std::string oldFolder = Prepare();
  std::string oldIdentity = Identity();
  support::WriteBytes(oldFolder + "PURCHASE.INI", "[USER]\r\nNAME=Ann\r\n");
  support::WriteBytes(files.firstBackup, oldIdentity);
  GiveMarkerTheArchiveAttribute();
  test.clock.SetTick(5000);

  std::string newFolder = Prepare();
  ASSERT_TRUE(prepared) << OnlyMessage();
  std::string newIdentity = Identity();
  EXPECT_NE(newIdentity, oldIdentity);
  EXPECT_EQ(newIdentity.substr(0, 8), oldIdentity.substr(0, 8));
  EXPECT_EQ(support::ReadBytes(files.previous), oldIdentity);
  EXPECT_FALSE(support::Exists(files.firstBackup));
  EXPECT_EQ(newFolder, "C:\\_$MERIXA\\" + newIdentity + "\\");
  EXPECT_EQ(support::ReadBytes(newFolder + "PURCHASE.INI"), "[USER]\r\nNAME=Ann\r\n");
}

TEST_F(IdentityTest, RetiredIdentityKeepsItsCreationDate) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::WriteBytes(files.previous, "19990102-000000-1-2-3");
  Prepare();
  ASSERT_TRUE(prepared) << OnlyMessage();
  EXPECT_EQ(Identity().substr(0, 9), "19990102-");
  support::WriteBytes(files.previous, "1999");  // shorter than a date part
  std::filesystem::remove(support::HostPath(files.identity));
  Prepare();
  EXPECT_EQ(Identity().substr(0, 5), "1999-");
}

TEST_F(IdentityTest, ShiftedBackupOverridesTheIdentityFile) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  std::string shifted = "20200101-111111-1-2-3";
  for (char& c : shifted) ++c;
  support::WriteBytes(files.shiftedBackup, shifted + std::string(1, '\0') + "ignored");
  EXPECT_EQ(Prepare(), "C:\\_$MERIXA\\20200101-111111-1-2-3\\");
  EXPECT_EQ(Identity(), "20200101-111111-1-2-3");
  EXPECT_TRUE(support::Exists(files.shiftedBackup));
}

TEST_F(IdentityTest, MissingIdentityIsRestoredFromTheFirstBackupThenTheSecond) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  support::WriteBytes(files.firstBackup, "20210101-000000-1-1-1");
  support::WriteBytes(files.secondBackup, "20220202-000000-2-2-2");
  std::filesystem::remove(support::HostPath(files.identity));
  EXPECT_EQ(Prepare(), "C:\\_$MERIXA\\20210101-000000-1-1-1\\");
  EXPECT_TRUE(support::Exists(files.firstBackup));
  EXPECT_TRUE(support::Exists(files.secondBackup));

  std::filesystem::remove(support::HostPath(files.firstBackup));
  std::filesystem::remove(support::HostPath(files.identity));
  EXPECT_EQ(Prepare(), "C:\\_$MERIXA\\20220202-000000-2-2-2\\");
}

TEST_F(IdentityTest, MissingIdentityWithoutBackupsIsMadeAnew) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  support::WriteBytes(files.previous, "20150505-000000-1-1-1");
  std::filesystem::remove(support::HostPath(files.identity));
  Prepare();
  ASSERT_TRUE(prepared);
  EXPECT_TRUE(std::regex_match(Identity(), std::regex("20150505-130509-[0-9]+-[0-9]+-[0-9]+")))
      << Identity();
}

TEST_F(IdentityTest, EmptyIdentityFileStopsTheStartAndIsNotRegenerated) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  test.ui.shown.clear();
  support::WriteBytes(files.identity, "");
  Prepare();
  EXPECT_FALSE(prepared);
  std::string text = OnlyMessage();
  EXPECT_EQ(text.substr(0, 1), "#");
  EXPECT_EQ(text.substr(text.find(" - ")), " - Error while reading id file");
  EXPECT_EQ(Identity(), "");
}

TEST_F(IdentityTest, EmptyPreviousIdentityStopsTheCreation) {
  support::WriteBytes(files.previous, "");
  Prepare();
  EXPECT_FALSE(prepared);
  std::string text = OnlyMessage();
  EXPECT_EQ(text.substr(text.find(" - ")), " - Error while reading old id file");
  EXPECT_FALSE(support::Exists(files.identity));
}

TEST_F(IdentityTest, OnlyDriveFoldersAreAccepted) {
  for (const char* bad : {"Local\\", "\\\\server\\share\\", "C:Local\\", "C"}) {
    test.ui.shown.clear();
    Prepare(bad);
    EXPECT_FALSE(prepared);
    EXPECT_EQ(OnlyMessage(), std::string("Invalid local folder (") + bad + ")");
    EXPECT_EQ(test.ui.shown[0].style, 0x10u);
  }
  EXPECT_FALSE(support::Exists(files.identity));
}

TEST_F(IdentityTest, OtherFoldersAreUsedUnchangedAndGetNoSettings) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::MakeFolders("C:\\_$MERIXA");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI", "legacy");
  EXPECT_EQ(Prepare("C:\\Local\\Copies\\"), "C:\\Local\\Copies\\");
  ASSERT_TRUE(prepared) << OnlyMessage();
  EXPECT_TRUE(support::Exists("C:\\Local\\Copies\\" + files.identity));
  EXPECT_FALSE(support::Exists("C:\\Local\\Copies\\PURCHASE.INI"));
  EXPECT_TRUE(support::Exists("C:\\_$MERIXA\\PURCHASE.INI"));
}

TEST_F(IdentityTest, DefaultFolderIsRecognisedInAnyLetterCase) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  std::string extended = Prepare("c:\\_$merixa\\");
  EXPECT_EQ(extended, "c:\\_$merixa\\" + Identity() + "\\");
}

TEST_F(IdentityTest, LegacySettingsMoveIntoTheFirstDefaultFolder) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::MakeFolders("C:\\_$MERIXA");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI", "legacy");
  std::string extended = Prepare();
  EXPECT_EQ(support::ReadBytes(extended + "PURCHASE.INI"), "legacy");
  EXPECT_EQ(support::ReadBytes("C:\\_$MERIXA\\PURCHASE.INI.OLD"), "legacy");
  EXPECT_FALSE(support::Exists("C:\\_$MERIXA\\PURCHASE.INI"));
}

TEST_F(IdentityTest, LegacySettingsAreDeletedWhenTheRetiredNameIsTaken) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::MakeFolders("C:\\_$MERIXA");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI", "legacy");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI.OLD", "older");
  std::string extended = Prepare();
  EXPECT_EQ(support::ReadBytes(extended + "PURCHASE.INI"), "legacy");
  EXPECT_EQ(support::ReadBytes("C:\\_$MERIXA\\PURCHASE.INI.OLD"), "older");
  EXPECT_FALSE(support::Exists("C:\\_$MERIXA\\PURCHASE.INI"));
}

TEST_F(IdentityTest, LegacySettingsSurviveACopyThatFails) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  support::MakeFolders("C:\\_$MERIXA");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI", "legacy");
  support::WriteBytes("C:\\_$MERIXA\\PURCHASE.INI.OLD", "older");
  {
    auto held = plat::Native().files.Open("C:\\_$MERIXA\\PURCHASE.INI", plat::kRead,
                                          plat::kShareNone, plat::Disposition::kOpenExisting);
    ASSERT_TRUE(held);
    Prepare();
    ASSERT_TRUE(prepared) << OnlyMessage();
  }
  EXPECT_EQ(support::ReadBytes("C:\\_$MERIXA\\PURCHASE.INI"), "legacy");
}

TEST_F(IdentityTest, MissingRightsTestSourceMeansMissingRights) {
  std::filesystem::remove(support::HostPath(files.rightsSource));
  Prepare();
  EXPECT_FALSE(prepared);
  EXPECT_EQ(OnlyMessage(), "Missing create/modify/delete rights");
  EXPECT_FALSE(support::Exists(files.identity));
}

TEST_F(IdentityTest, IdentityThatWouldLeaveTheDefaultFolderIsRefused) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  test.ui.shown.clear();
  support::WriteBytes(files.identity, "..\\..\\Windows");
  Prepare();
  EXPECT_FALSE(prepared);
  EXPECT_EQ(OnlyMessage(), "Invalid installation identity (..\\..\\Windows)");
  EXPECT_FALSE(support::Exists("C:\\Windows"));
}

TEST_F(IdentityTest, DefaultFolderThatWouldGrowPastItsCapacityIsRefused) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare();
  test.ui.shown.clear();
  support::WriteBytes(files.identity, std::string(250, '7'));
  Prepare();
  EXPECT_FALSE(prepared);
  EXPECT_EQ(OnlyMessage().substr(0, 21), "Local folder too long");
}

TEST_F(IdentityTest, FilesOf260BytesOrMoreAreReadAsTheirFirst259) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Prepare("C:\\Local\\");
  support::WriteBytes(files.shiftedBackup, std::string(300, '8' + 1));
  Prepare("C:\\Local\\");
  ASSERT_TRUE(prepared) << OnlyMessage();
  EXPECT_EQ(Identity(), std::string(259, '8'));
}

}  // namespace
}  // namespace launcher_test
