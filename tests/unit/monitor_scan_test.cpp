// The archive-attribute scan and the marking, over real trees.
#include <filesystem>
#include <string>

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
