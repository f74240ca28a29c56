// The archive-attribute scan and the marking, over real trees.
#include <filesystem>
#include <regex>
#include <string>

#include "monitor/runlog.h"
#include "monitor_fixture.h"

namespace monitor_test {
namespace {

#define SKIP_UNLESS_ARCHIVE_CLEARS()             \
  if (!support::ArchiveAttributeCanBeCleared()) \
  GTEST_SKIP() << "this platform never clears the archive attribute"

class ScanTest : public MonitorTest {
 protected:
  // A file with exactly the given attributes.
  void Make(const std::string& name, uint32_t attributes = plat::kAttrNormal) {
    size_t folder = name.find_last_of('\\');
    if (folder != std::string::npos) support::MakeFolders(name.substr(0, folder));
    support::WriteBytes(name, "data");
    ASSERT_TRUE(plat::Native().files.SetAttributes(name, attributes)) << name;
  }
  void MakeFolder(const std::string& name, uint32_t attributes = 0) {
    support::MakeFolders(name);
    if (attributes) {
      ASSERT_TRUE(plat::Native().files.SetAttributes(name, attributes));
    }
  }

  bool InProgress() { return monitor::BACKUPINPROGRESS(); }

  bool HasArchive(const std::string& name) {
    return (Attributes(name) & plat::kAttrArchive) != 0;
  }
};

TEST_F(ScanTest, EmptyRootOrOnlyUnflaggedFilesIsNoBackup) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  EXPECT_FALSE(InProgress());
  MakeFolder("EMPTY");
  MakeFolder("FLAGGED", plat::kAttrArchive);  // a folder's own flag does not count
  Make("FLAGGED\\PLAIN.DBF");
  Make("PLAIN.TXT", plat::kAttrReadOnly);
  EXPECT_FALSE(InProgress());
}

TEST_F(ScanTest, HiddenAndSystemEntriesAreNotListed) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Make("HIDDEN.DBF", plat::kAttrHidden | plat::kAttrArchive);
  Make("SYSTEM.DBF", plat::kAttrSystem | plat::kAttrArchive);
  MakeFolder("SECRET", plat::kAttrHidden);
  Make("SECRET\\INSIDE.DBF", plat::kAttrArchive);
  EXPECT_FALSE(InProgress());
}

TEST_F(ScanTest, FlaggedFileDeepDownAfterManyFoldersIsFound) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  for (int i = 0; i < 30; ++i) Make("F" + std::to_string(i) + "\\PLAIN.DBF");
  Make("F7\\A\\B\\C\\LAST.DBF", plat::kAttrArchive);
  EXPECT_TRUE(InProgress());
  EXPECT_EQ(monitor::LastWalks().flaggedFile, "F7\\A\\B\\C\\LAST.DBF");
  std::filesystem::remove(support::HostPath("F7\\A\\B\\C\\LAST.DBF"));
  EXPECT_FALSE(InProgress());
}

TEST_F(ScanTest, ReadOnlyFlaggedFileCounts) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Make("RO.DBF", plat::kAttrReadOnly | plat::kAttrArchive);
  EXPECT_TRUE(InProgress());
}

TEST_F(ScanTest, TrimmedNamesBuildTheFolderPrefix) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  // " SUB" is listed, but the walk continues as "SUB\", which does not exist.
  MakeFolder(" SUB");
  Make(" SUB\\FLAGGED.DBF", plat::kAttrArchive);
  EXPECT_FALSE(InProgress());
  MakeFolder("SUB");
  Make("SUB\\FLAGGED.DBF", plat::kAttrArchive);
  EXPECT_TRUE(InProgress());
}

#ifndef _WIN32
TEST_F(ScanTest, FolderLinkToItsParentIsNotEntered) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeFolder("DATA");
  std::filesystem::create_directory_symlink("..", support::HostPath("DATA\\LOOP"));
  Make("DATA\\PLAIN.DBF");
  EXPECT_FALSE(InProgress());
  Mark();  // ends, and marks the file once
  EXPECT_TRUE(HasArchive("DATA\\PLAIN.DBF"));
}

TEST_F(ScanTest, FolderLinkToAFolderOutsideIsNotEntered) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  std::filesystem::path outside = ShareBesideOutside();
  Make("..\\OUTSIDE\\FLAGGED.DBF", plat::kAttrArchive);
  Make("DATA\\PLAIN.DBF");
  std::filesystem::create_directory_symlink(outside, support::HostPath("DATA\\LINK"));
  EXPECT_FALSE(InProgress());
}

// A file link out of the root is neither waited for nor marked, and the run
// log names the first one met, once; a link within the root is followed.
TEST_F(ScanTest, FileLinkOutOfTheRootIsNeitherWaitedForNorMarked) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  std::filesystem::path outside = ShareBesideOutside();
  MakeSharedRoot();
  Make("..\\OUTSIDE\\SECRET.DBF", plat::kAttrReadOnly);
  Make("DATA\\ORDERS.DBF");
  std::filesystem::create_symlink(outside / "SECRET.DBF", support::HostPath("DATA\\LINKED.DBF"));
  std::filesystem::create_symlink("ORDERS.DBF", support::HostPath("DATA\\INSIDE.DBF"));
  monitor::RunLog log(rt::Parameters({"BACKUP.EXE", "FULL"}));
  monitor::LastWalks() = {};
  Mark();
  EXPECT_EQ(Attributes("..\\OUTSIDE\\SECRET.DBF"), plat::kAttrReadOnly);
  EXPECT_TRUE(HasArchive("DATA\\ORDERS.DBF"));
  EXPECT_EQ(monitor::LastWalks().failed, 0u);
  ClearArchiveAttributes();
  Make("..\\OUTSIDE\\SECRET.DBF", plat::kAttrArchive);
  EXPECT_FALSE(InProgress());
  std::string lines = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.LOG");
  size_t named = lines.find(" Link DATA\\LINKED.DBF leads out of the shared root: not followed\r\n");
  EXPECT_NE(named, std::string::npos) << lines;
  EXPECT_EQ(named, lines.rfind(" Link ")) << "named more than once: " << lines;
}

// A file the run's account may not change is named in the run log after the
// marking's line, with what to do about it.
TEST_F(ScanTest, FileTheRunMayNotChangeIsNamedWithTheFix) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeFolder("UTILS\\QZBACKUP");
  Make("DATA\\ORDERS.DBF");
  std::filesystem::permissions(support::HostPath("DATA\\ORDERS.DBF"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                   std::filesystem::perms::others_read);
  monitor::RunLog log(rt::Parameters({"BACKUP.EXE", "FULL"}));
  monitor::LastWalks() = {};
  {
    support::OrdinaryRights ordinary;
    Mark();
  }
  monitor::LogMarking(0);
  std::string lines = support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.LOG");
  EXPECT_TRUE(std::regex_search(
      lines, std::regex(" Marking: 0 files marked, 0 already flagged, 1 failed \\(first "
                        "DATA\\\\ORDERS\\.DBF, error 5\\), 0 s\r\n[0-9/: ]{18}Marking could not "
                        "change DATA\\\\ORDERS\\.DBF: the run's account needs write access to "
                        "every file of the shared root\r\n")))
      << lines;
}
#endif

TEST_F(ScanTest, MarkingGivesEveryListedFileTheArchiveAttributeAlone) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Make("PLAIN.DBF");
  Make("RO.DBF", plat::kAttrReadOnly);
  Make("RO_FLAGGED.DBF", plat::kAttrReadOnly | plat::kAttrArchive);
  Make("HIDDEN.DBF", plat::kAttrHidden);
  MakeFolder("SECRET", plat::kAttrHidden);
  Make("SECRET\\INSIDE.DBF");
  Make("A\\B\\DEEP.DBF", plat::kAttrTemporary);
  MakeFolder("EMPTY");
  Mark();
  EXPECT_EQ(Attributes("PLAIN.DBF"), plat::kAttrArchive);
  EXPECT_EQ(Attributes("RO.DBF"), plat::kAttrArchive);
  EXPECT_EQ(Attributes("A\\B\\DEEP.DBF"), plat::kAttrArchive);
  EXPECT_EQ(Attributes("RO_FLAGGED.DBF"), plat::kAttrReadOnly | plat::kAttrArchive);
  EXPECT_EQ(Attributes("HIDDEN.DBF"), plat::kAttrHidden);
  EXPECT_EQ(Attributes("SECRET\\INSIDE.DBF"), plat::kAttrNormal);
  EXPECT_EQ(Attributes("EMPTY"), plat::kAttrDirectory);
  EXPECT_EQ(Attributes("A"), plat::kAttrDirectory);
  EXPECT_TRUE(InProgress());
}

TEST_F(ScanTest, MarkingPassesOverNamesItCannotReach) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  Make(" LEADING.DBF");  // the call is made for "LEADING.DBF", which does not exist
  Make("AFTER.DBF");
  Make("SUB\\ ALSO.DBF");
  Make("SUB\\FLAGGED.DBF", plat::kAttrArchive);
  monitor::LastWalks() = {};
  Mark();
  EXPECT_FALSE(HasArchive(" LEADING.DBF"));
  EXPECT_TRUE(HasArchive("AFTER.DBF"));
  // The record counts what the marking did, and names the first call that failed.
  const monitor::WalkRecord& record = monitor::LastWalks();
  EXPECT_EQ(record.marked, 1u);
  EXPECT_EQ(record.alreadyFlagged, 1u);
  EXPECT_EQ(record.failed, 2u);
  EXPECT_TRUE(record.firstFailure == "LEADING.DBF" || record.firstFailure == "SUB\\ALSO.DBF")
      << record.firstFailure;  // in listing order
  EXPECT_EQ(record.firstFailureError, plat::kErrorFileNotFound);
}

}  // namespace
}  // namespace monitor_test
