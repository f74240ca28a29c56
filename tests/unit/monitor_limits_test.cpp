// Long input and a changing tree for the monitor: folders nested past the
// 259 characters a path may have, a folder that vanishes while it is
// walked, status-file names past 255 characters and command lines past 19
// words, on real files.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "monitor_fixture.h"
#include "support/faulty_files.h"

namespace monitor_test {
namespace {

namespace fs = std::filesystem;

#define SKIP_UNLESS_ARCHIVE_CLEARS()             \
  if (!support::ArchiveAttributeCanBeCleared()) \
  GTEST_SKIP() << "this platform never clears the archive attribute"

class LimitsTest : public MonitorTest {
 protected:
  void Make(const std::string& name, uint32_t attributes) {
    size_t folder = name.find_last_of('\\');
    if (folder != std::string::npos) support::MakeFolders(name.substr(0, folder));
    support::WriteBytes(name, "data");
    ASSERT_TRUE(plat::Native().files.SetAttributes(name, attributes)) << name;
  }

  // A chain DEEP\level_01\...\level_30 whose innermost folder holds HOLD\FILE.DBF
  // with the given attributes: 286 characters of path, past what a path may
  // have. The file is made at a short path and then moved down, since no
  // path of that length can be named through the platform.
  void MakeDeepFile(uint32_t attributes) {
    Make("HOLD\\FILE.DBF", attributes);
    fs::path chain = "DEEP";
    for (int i = 1; i <= 30; ++i) {
      chain /= "level_" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    }
    fs::create_directories(chain);
    deepFolder_ = chain;
    fs::rename("HOLD", chain / "HOLD");
  }

  // The deep file's attributes, read after moving it back up.
  uint32_t DeepFileAttributes() {
    fs::rename(deepFolder_ / "HOLD", "HOLD");
    return Attributes("HOLD\\FILE.DBF");
  }

  fs::path deepFolder_;
};

TEST_F(LimitsTest, FoldersPastThePathLimitCountAsEmptyAndTheWalkGoesOn) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeDeepFile(plat::kAttrArchive);
  Make("DEEP\\level_01\\SHALLOW.DBF", plat::kAttrNormal);
  EXPECT_FALSE(monitor::BACKUPINPROGRESS()) << "the flagged file lies past what can be listed";
  Make("ZZZ\\LATER.DBF", plat::kAttrArchive);
  EXPECT_TRUE(monitor::BACKUPINPROGRESS());
}

TEST_F(LimitsTest, MarkingPassesOverFoldersPastThePathLimit) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeDeepFile(plat::kAttrNormal);
  Make("DEEP\\level_01\\SHALLOW.DBF", plat::kAttrNormal);
  Make("ZZZ\\LATER.DBF", plat::kAttrNormal);
  Mark();
  EXPECT_EQ(Attributes("DEEP\\level_01\\SHALLOW.DBF"), plat::kAttrArchive);
  EXPECT_EQ(Attributes("ZZZ\\LATER.DBF"), plat::kAttrArchive);
  EXPECT_EQ(DeepFileAttributes(), plat::kAttrNormal);
}

// Removes a folder just before the walk lists it, or while it lists it, as
// a backup job or a user may do on the file server.
class VanishingFolderTest : public LimitsTest {
 protected:
  void SetUp() override {
    LimitsTest::SetUp();
    Make("GONE\\SUB\\FLAGGED.DBF", plat::kAttrArchive);
    Make("GONE\\OTHER.DBF", plat::kAttrArchive);
    vanishing.beforeCall = [this](const support::FileCall& call) {
      if (call.kind == when && call.path == "GONE\\*.*") fs::remove_all("GONE");
    };
    walkOs.emplace(plat::Platform{vanishing, test.clock, processes, test.ui, system,
                                  test.platform.libraries});
    rt::UsePlatform(*walkOs);
  }

  support::FileCall::Kind when = support::FileCall::Kind::kFindFirst;
  support::FaultyFiles vanishing{test.platform.files};
  std::optional<plat::Platform> walkOs;
};

TEST_F(VanishingFolderTest, FolderGoneBeforeItsListingHoldsNothing) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  EXPECT_FALSE(monitor::BACKUPINPROGRESS());
  Make("GONE\\AGAIN.DBF", plat::kAttrArchive);
  Make("KEEP\\KEPT.DBF", plat::kAttrArchive);
  EXPECT_TRUE(monitor::BACKUPINPROGRESS());
}

TEST_F(VanishingFolderTest, FolderGoneDuringItsListingEndsItsListing) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  when = support::FileCall::Kind::kFindNext;
  Make("KEEP\\PLAIN.DBF", plat::kAttrNormal);
  Mark();  // no crash, and the rest of the tree is still marked
  EXPECT_FALSE(support::Exists("GONE"));
  EXPECT_EQ(Attributes("KEEP\\PLAIN.DBF"), plat::kAttrArchive);
}

TEST_F(LimitsTest, StatusFileNamesUpTo255CharactersAfterCompletion) {
  if (support::RunningUnderWine()) {
    GTEST_SKIP() << "Windows limits the whole path, temporary folder included, to 259 characters";
  }
  std::vector<rt::Error> raised;
  rt::ERRORBLOCK(rt::Block([&](rt::Arguments error) {
    raised.push_back(*error[0].AsError());
    return rt::Value(false);
  }));
  std::string longest(251, 's');  // 255 with ".txt"
  rt::SET(rt::ALTERNATE_FILE, longest, false);
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_TRUE(raised.empty());
  EXPECT_EQ(support::ReadBytes(longest + ".txt"), "\x1A");
  for (size_t length : {256u, 100000u}) {
    rt::SET(rt::ALTERNATE_FILE, std::string(length, 't') + ".ERR", false);
  }
  ASSERT_EQ(raised.size(), 2u);
  for (const rt::Error& error : raised) {
    EXPECT_EQ(error.osCode, plat::kErrorFilenameTooLong);
    EXPECT_EQ(error.genCode, 20);
    EXPECT_EQ(error.subCode, 2013);
  }
  EXPECT_EQ(raised[1].operation.size(), 100004u);
}

// Past 19 words the rest of the command line is dropped; the run goes on
// with the first seven, and a word of any length is passed on unchanged.
TEST_F(LimitsTest, CommandLinesPastNineteenWordsAndVeryLongWords) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeSharedRoot();
  processes.onStart = [](const std::string& line) {
    if (line.rfind("QZSTART.EXE ", 0) == 0) {
      support::WriteBytes("LOCKDOWN.SYS", "");
    } else {
      ClearArchiveAttributes();
    }
  };
  std::string folder = "C:\\" + std::string(100000, 'f');
  std::string words = "BACKUP.EXE FULL 120 ACME NIGHT 5 " + folder;
  for (int i = 0; i < 40; ++i) words += " extra" + std::to_string(i);
  EXPECT_EQ(Run(words), 0);
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.OK").substr(0, 15), "\r\nCOMPLETED ON ");
  ASSERT_EQ(processes.started.size(), 2u);
  EXPECT_EQ(processes.started[0], "QZSTART.EXE " + folder + " \"ACME,NIGHT,LOCKDOWN,5\"");
}

}  // namespace
}  // namespace monitor_test
