// The attribute store: the DOSATTRIB codec against values that the SMB
// server wrote, what files report, read-only and hidden enforcement, and
// file systems that keep no user attributes or no birth times.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/support.h"

#ifndef _WIN32
#include "platform/posix/attributes.h"
#include "platform/posix/dosattrib.h"
#include "platform/posix/filetime.h"
#endif

namespace {

namespace fs = std::filesystem;
using plat::Disposition;

plat::FileSystem& Files() { return plat::Native().files; }

class AttributesTest : public support::TempFolderTest {
 protected:
  bool Create(const std::string& name) {
    return Files().Open(Path(name), plat::kWrite, plat::kShareNone, Disposition::kCreateNew) != nullptr;
  }
};

TEST_F(AttributesTest, DotNamesAreHiddenAndNothingSetReportsNormal) {
  support::WriteBytes(Path("plain.txt"), "x");
  support::WriteBytes(Path(".profile"), "x");
  support::MakeFolders(Path(".cache"));
  EXPECT_EQ(Files().GetAttributes(Path("plain.txt")) & plat::kAttrHidden, 0u);
  EXPECT_EQ(Files().GetAttributes(Path(".profile")) & plat::kAttrHidden, plat::kAttrHidden);
  EXPECT_EQ(Files().GetAttributes(Path(".cache")) & (plat::kAttrHidden | plat::kAttrDirectory),
            plat::kAttrHidden | plat::kAttrDirectory);
  // "." and ".." are no dot names.
  EXPECT_EQ(Files().GetAttributes(Path(".")) & plat::kAttrHidden, 0u);
}

TEST_F(AttributesTest, SettableBitsRoundTripAndNormalClearsThem) {
  if (support::RunningUnderWine()) {
    GTEST_SKIP() << "wine keeps only R, H, S and A, and never clears the archive attribute";
  }
  ASSERT_TRUE(Create("f.dat"));
  const uint32_t settable = plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem |
                            plat::kAttrArchive | plat::kAttrTemporary | plat::kAttrOffline |
                            plat::kAttrNotContentIndexed;
  ASSERT_TRUE(Files().SetAttributes(Path("f.dat"), settable));
  EXPECT_EQ(Files().GetAttributes(Path("f.dat")), settable);
  ASSERT_TRUE(Files().SetAttributes(Path("f.dat"), plat::kAttrNormal));
  EXPECT_EQ(Files().GetAttributes(Path("f.dat")), plat::kAttrNormal);
  ASSERT_TRUE(Files().SetAttributes(Path("f.dat"), plat::kAttrArchive));
  ASSERT_TRUE(Files().SetAttributes(Path("f.dat"), 0));
  EXPECT_EQ(Files().GetAttributes(Path("f.dat")), plat::kAttrNormal);
}

TEST_F(AttributesTest, MissingFilesAndFolders) {
  EXPECT_EQ(Files().GetAttributes(Path("none.txt")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(Files().GetAttributes(Path("nofolder\\none.txt")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  EXPECT_FALSE(Files().SetAttributes(Path("none.txt"), plat::kAttrArchive));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
}

TEST_F(AttributesTest, ReadOnlyFilesCannotBeDeletedWrittenOrOverwritten) {
  if (support::RunningUnderWine() && support::RunningAsRoot()) {
    GTEST_SKIP() << "wine run as root ignores the read-only attribute";
  }
  support::WriteBytes(Path("ro.txt"), "keep");
  support::WriteBytes(Path("other.txt"), "other");
  ASSERT_TRUE(Files().SetAttributes(Path("ro.txt"), plat::kAttrReadOnly | plat::kAttrArchive));

  EXPECT_FALSE(Files().Delete(Path("ro.txt")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_EQ(Files().Open(Path("ro.txt"), plat::kWrite, plat::kShareRead, Disposition::kOpenExisting),
            nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_EQ(Files().Open(Path("ro.txt"), plat::kRead, plat::kShareRead, Disposition::kCreateAlways),
            nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_FALSE(Files().Copy(Path("other.txt"), Path("ro.txt"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_FALSE(Files().WriteIniString("s", "k", "v", Path("ro.txt")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_EQ(support::ReadBytes(Path("ro.txt")), "keep");

  // Reading is fine, and so is renaming; clearing the bit allows deleting.
  EXPECT_NE(Files().Open(Path("ro.txt"), plat::kRead, plat::kShareRead, Disposition::kOpenExisting),
            nullptr);
  ASSERT_TRUE(Files().Rename(Path("ro.txt"), Path("ro2.txt")));
  ASSERT_TRUE(Files().SetAttributes(Path("ro2.txt"), plat::kAttrNormal));
  EXPECT_TRUE(Files().Delete(Path("ro2.txt")));
}

TEST_F(AttributesTest, OverwritingResetsToArchive) {
  support::WriteBytes(Path("t.dat"), "old content");
  ASSERT_TRUE(Files().SetAttributes(Path("t.dat"), plat::kAttrTemporary | plat::kAttrOffline));
  ASSERT_NE(Files().Open(Path("t.dat"), plat::kWrite, plat::kShareNone, Disposition::kCreateAlways),
            nullptr);
  EXPECT_EQ(Files().GetAttributes(Path("t.dat")), plat::kAttrArchive);
  EXPECT_EQ(support::ReadBytes(Path("t.dat")), "");
}

TEST_F(AttributesTest, OverwritingRefusesHiddenAndSystemFiles) {
  if (support::RunningUnderWine()) GTEST_SKIP() << "wine overwrites hidden and system files";
  for (uint32_t bit : {plat::kAttrHidden, plat::kAttrSystem}) {
    support::WriteBytes(Path("h.dat"), "secret");
    ASSERT_TRUE(Files().SetAttributes(Path("h.dat"), bit));
    EXPECT_EQ(Files().Open(Path("h.dat"), plat::kWrite, plat::kShareNone, Disposition::kCreateAlways),
              nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
    EXPECT_EQ(support::ReadBytes(Path("h.dat")), "secret");
    // Opening it for writing without overwriting is allowed.
    EXPECT_NE(Files().Open(Path("h.dat"), plat::kWrite, plat::kShareNone, Disposition::kOpenAlways),
              nullptr);
  }
}

TEST_F(AttributesTest, CreatedFilesGetArchive) {
  ASSERT_TRUE(Create("new.txt"));
  EXPECT_EQ(Files().GetAttributes(Path("new.txt")), plat::kAttrArchive);
  ASSERT_TRUE(Files().WriteIniString("s", "k", "v", Path("new.ini")));
  EXPECT_EQ(Files().GetAttributes(Path("new.ini")), plat::kAttrArchive);
}

#ifndef _WIN32

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// Values that the SMB server itself wrote; all carry the same creation time.
const char* const kSambaV5Archive = "0000050005000000110000002000000000406d25eb53bf01";
const char* const kSambaV5Nothing = "0000050005000000110000000000000000406d25eb53bf01";
const char* const kSambaV5Folder = "0000050005000000110000001000000000406d25eb53bf01";
const char* const kSambaV4Archive = "00000400040000001100000020000000000000000000000000406d25eb53bf01";
const char* const kSambaV3Archive =
    "3078323000000300030000001100000020000000000000000000000000000000000000000000000000406d25eb53bf01"
    "0000000000000000";
const char* const kSambaText = "3078323000";
constexpr uint64_t kSambaCreateTime = 0x01bf53eb256d4000;

TEST(DosAttribCodec, DecodesTheServersValues) {
  struct Case {
    const char* hex;
    uint32_t attrib;
    bool hasCreateTime;
  } cases[] = {{kSambaV5Archive, 0x20, true}, {kSambaV5Nothing, 0, true}, {kSambaV5Folder, 0x10, true},
               {kSambaV4Archive, 0x20, true}, {kSambaV3Archive, 0x20, true}, {kSambaText, 0x20, false}};
  for (const Case& c : cases) {
    std::string bytes = FromHex(c.hex);
    auto value = plat::posix::DecodeDosAttrib(bytes.data(), bytes.size());
    ASSERT_TRUE(value) << c.hex;
    EXPECT_EQ(value->attrib, c.attrib) << c.hex;
    EXPECT_EQ(value->createTime.has_value(), c.hasCreateTime) << c.hex;
    if (c.hasCreateTime) {
      EXPECT_EQ(*value->createTime, kSambaCreateTime) << c.hex;
    }
  }
  auto text = plat::posix::DecodeDosAttrib("0x1A", 4);  // the text form without its NUL
  ASSERT_TRUE(text);
  EXPECT_EQ(text->attrib, 0x1Au);
}

TEST(DosAttribCodec, EncodesVersion5AsTheServerDoes) {
  EXPECT_EQ(plat::posix::EncodeDosAttrib(0x20, kSambaCreateTime), FromHex(kSambaV5Archive));
  EXPECT_EQ(plat::posix::EncodeDosAttrib(0x10, kSambaCreateTime), FromHex(kSambaV5Folder));
}

TEST(DosAttribCodec, RejectsMalformedValues) {
  std::string v5 = FromHex(kSambaV5Archive);
  std::string wrongLevel = v5, version6 = v5, noFlags = v5;
  wrongLevel[4] = 4;
  version6[2] = version6[4] = 6;
  noFlags[8] = 0;  // no valid flags: present, but with nothing set
  for (const std::string& bad : {v5.substr(0, v5.size() - 1), wrongLevel, version6, std::string("0x"),
                                 std::string("0xZZ"), std::string("0x123456789"), std::string(),
                                 std::string("20"), FromHex("3078323000aa")}) {
    EXPECT_FALSE(plat::posix::DecodeDosAttrib(bad.data(), bad.size())) << bad.size();
  }
  auto cleared = plat::posix::DecodeDosAttrib(noFlags.data(), noFlags.size());
  ASSERT_TRUE(cleared);
  EXPECT_EQ(cleared->attrib, 0u);
  EXPECT_FALSE(cleared->createTime);
  // Every shorter piece of a valid value is refused without reading past it.
  std::string v3 = FromHex(kSambaV3Archive);
  for (size_t size = 6; size < v3.size(); ++size) {
    std::string piece = v3.substr(0, size);
    EXPECT_FALSE(plat::posix::DecodeDosAttrib(piece.data(), piece.size())) << size;
  }
}

class StoredAttributesTest : public AttributesTest {
 protected:
  std::string Host(const std::string& name) { return support::HostPath(Path(name)).string(); }
};

TEST_F(StoredAttributesTest, FilesReportWhatTheServerStored) {
  for (const char* name : {"v5", "v5none", "v4", "v3", "text", "v5dir"}) support::WriteBytes(Path(name), "x");
  support::MakeFolders(Path("dir"));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v5"), FromHex(kSambaV5Archive)));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v5none"), FromHex(kSambaV5Nothing)));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v4"), FromHex(kSambaV4Archive)));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v3"), FromHex(kSambaV3Archive)));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("text"), FromHex(kSambaText)));
  // The folder bit comes from the file type alone.
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v5dir"), FromHex(kSambaV5Folder)));
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("dir"), FromHex(kSambaV5Folder)));
  EXPECT_EQ(Files().GetAttributes(Path("v5")), plat::kAttrArchive);
  EXPECT_EQ(Files().GetAttributes(Path("v5none")), plat::kAttrNormal);
  EXPECT_EQ(Files().GetAttributes(Path("v4")), plat::kAttrArchive);
  EXPECT_EQ(Files().GetAttributes(Path("v3")), plat::kAttrArchive);
  EXPECT_EQ(Files().GetAttributes(Path("text")), plat::kAttrArchive);
  EXPECT_EQ(Files().GetAttributes(Path("v5dir")), plat::kAttrNormal);
  EXPECT_EQ(Files().GetAttributes(Path("dir")), plat::kAttrDirectory);
  // A value that does not decode counts as absent.
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("v5"), "garbage"));
  EXPECT_EQ(Files().GetAttributes(Path("v5")), plat::kAttrNormal);
}

TEST_F(StoredAttributesTest, WithoutAValueFilesHaveNoArchiveAndModesAreIgnored) {
  support::WriteBytes(Path("host.txt"), "x");
  support::MakeFolders(Path("folder"));
  fs::permissions(Host("host.txt"), fs::perms::owner_read);
  EXPECT_EQ(Files().GetAttributes(Path("host.txt")), plat::kAttrNormal);
  EXPECT_EQ(Files().GetAttributes(Path("folder")), plat::kAttrDirectory);
  // Setting read-only does not touch the permission bits either.
  ASSERT_TRUE(Files().SetAttributes(Path("host.txt"), plat::kAttrReadOnly));
  EXPECT_EQ(fs::status(Host("host.txt")).permissions(), fs::perms::owner_read);
  // A new folder carries no value until an attribute is set.
  ASSERT_TRUE(Files().MakeFolder(Path("made")));
  EXPECT_FALSE(plat::posix::ReadDosAttribValue(Host("made")));
  ASSERT_TRUE(Files().SetAttributes(Path("made"), plat::kAttrHidden));
  auto value = plat::posix::ReadDosAttribValue(Host("made"));
  ASSERT_TRUE(value);
  EXPECT_EQ(plat::posix::DecodeDosAttrib(value->data(), value->size())->attrib,
            plat::kAttrHidden | plat::kAttrDirectory);
}

TEST_F(StoredAttributesTest, WrittenValuesAreVersion5AndKeepTheCreationTime) {
  ASSERT_TRUE(Create("fresh.txt"));
  auto value = plat::posix::ReadDosAttribValue(Host("fresh.txt"));
  ASSERT_TRUE(value);
  ASSERT_EQ(value->size(), 24u);
  EXPECT_EQ(value->substr(0, 16), FromHex(kSambaV5Archive).substr(0, 16));
  auto decoded = plat::posix::DecodeDosAttrib(value->data(), value->size());
  ASSERT_TRUE(decoded && decoded->createTime);
  auto now = std::chrono::system_clock::now().time_since_epoch();
  uint64_t nowFileTime = plat::posix::FileTimeFromUnix(
      std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0);
  int64_t age = static_cast<int64_t>(nowFileTime - *decoded->createTime);
  EXPECT_LT(std::abs(age), 600000000) << "birth time within a minute";

  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("fresh.txt"), FromHex(kSambaV4Archive)));
  ASSERT_TRUE(Files().SetAttributes(Path("fresh.txt"), plat::kAttrReadOnly));
  value = plat::posix::ReadDosAttribValue(Host("fresh.txt"));
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, plat::posix::EncodeDosAttrib(plat::kAttrReadOnly, kSambaCreateTime));
}

// Listings remember what their entries store; a change that another program
// makes after the listing must still be seen.
TEST_F(StoredAttributesTest, ValuesChangedAfterAListingAreSeen) {
  support::MakeFolders(Path("sub"));
  ASSERT_TRUE(Create("sub\\a.dat"));
  auto list = [&](const std::string& wanted) {
    plat::FindEntry entry;
    auto search = Files().FindFirst(Path("sub\\*.*"), entry);
    uint32_t found = plat::kInvalidAttributes;
    for (bool more = search != nullptr; more; more = search->Next(entry)) {
      if (entry.name == wanted) found = entry.attributes;
    }
    return found;
  };
  EXPECT_EQ(list("a.dat"), plat::kAttrArchive);
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(Host("sub\\a.dat"), FromHex(kSambaV4Archive)));
  ASSERT_TRUE(Files().SetAttributes(Path("sub\\a.dat"), plat::kAttrReadOnly));
  EXPECT_EQ(*plat::posix::ReadDosAttribValue(Host("sub\\a.dat")),
            plat::posix::EncodeDosAttrib(plat::kAttrReadOnly, kSambaCreateTime));

  EXPECT_EQ(list("."), plat::kAttrDirectory);
  ASSERT_TRUE(plat::posix::WriteDosAttribValue(
      Host("sub"), plat::posix::EncodeDosAttrib(plat::kAttrSystem, kSambaCreateTime)));
  EXPECT_EQ(list("."), plat::kAttrSystem | plat::kAttrDirectory);
}

TEST_F(StoredAttributesTest, LinksReportAReparsePointAndFollowTheirTarget) {
  support::WriteBytes(Path("target.txt"), "x");
  support::MakeFolders(Path("target"));
  fs::create_symlink("target.txt", Host("file.lnk"));
  fs::create_directory_symlink("target", Host("folder.lnk"));
  fs::create_symlink("missing", Host("dangling.lnk"));
  ASSERT_TRUE(Files().SetAttributes(Path("file.lnk"), plat::kAttrSystem));
  EXPECT_EQ(Files().GetAttributes(Path("target.txt")), plat::kAttrSystem);
  EXPECT_EQ(Files().GetAttributes(Path("file.lnk")), plat::kAttrSystem | plat::kAttrReparsePoint);
  EXPECT_EQ(Files().GetAttributes(Path("folder.lnk")), plat::kAttrDirectory | plat::kAttrReparsePoint);
  EXPECT_EQ(Files().GetAttributes(Path("dangling.lnk")), plat::kAttrReparsePoint);
  // Listed, a link to a file has a link's size on Windows, 0, not its target path's length.
  plat::FindEntry entry;
  ASSERT_TRUE(Files().FindFirst(Path("file.*"), entry));
  EXPECT_EQ(entry.name, "file.lnk");
  EXPECT_EQ(entry.size, 0u);
}

// Folders keep the folder bit in what they store, however often they are written.
TEST_F(StoredAttributesTest, RewrittenFoldersKeepTheFolderBitAndCreationTime) {
  support::MakeFolders(Path("dir"));
  ASSERT_TRUE(Files().SetAttributes(Path("dir"), plat::kAttrHidden));
  auto first = plat::posix::ReadDosAttribValue(Host("dir"));
  ASSERT_TRUE(first);
  ASSERT_TRUE(Files().SetAttributes(Path("dir"), plat::kAttrArchive));
  auto created = plat::posix::DecodeDosAttrib(first->data(), first->size())->createTime;
  EXPECT_EQ(plat::posix::ReadDosAttribValue(Host("dir")),
            plat::posix::EncodeDosAttrib(plat::kAttrArchive | plat::kAttrDirectory, *created));
}

// Every kind of entry a walk meets, in `folder`, and what a search of it
// lists: the name and attributes of each entry, and none twice.
class WalkListingTest : public StoredAttributesTest {
 protected:
  void MakeEveryKind(const std::string& folder) {
    support::MakeFolders(Path(folder + "\\sub"));
    for (const char* name : {"plain.dbf", "flagged.dbf", "readonly.dbf", ".hidden", "bare.txt"}) {
      support::WriteBytes(Path(folder + "\\" + name), "x");
    }
    ASSERT_TRUE(Files().SetAttributes(Path(folder + "\\flagged.dbf"), plat::kAttrArchive));
    ASSERT_TRUE(Files().SetAttributes(Path(folder + "\\readonly.dbf"), plat::kAttrReadOnly));
    ASSERT_TRUE(Files().SetAttributes(Path(folder + "\\sub"), plat::kAttrArchive));
    fs::create_directory_symlink("sub", Host(folder + "\\sub.lnk"));
    fs::create_symlink("flagged.dbf", Host(folder + "\\file.lnk"));
    fs::create_symlink("missing", Host(folder + "\\dangling.lnk"));
  }

  std::map<std::string, uint32_t> List(const std::string& folder, bool forWalk) {
    std::map<std::string, uint32_t> listed;
    plat::FindEntry entry;
    std::string pattern = Path(folder + "\\*.*");
    auto search = forWalk ? Files().FindFirstForWalk(pattern, entry) : Files().FindFirst(pattern, entry);
    for (bool more = search != nullptr; more; more = search->Next(entry)) {
      EXPECT_TRUE(listed.emplace(entry.name, entry.attributes).second) << entry.name;
    }
    EXPECT_EQ(plat::LastError(), plat::kErrorNoMoreFiles);
    return listed;
  }

  // A walk's listing reports what the full listing reports, without "." and
  // "..", and passes over entries removed while it runs, as the full one does.
  void ExpectWalksListAsFullListingsDo(const std::string& folder) {
    MakeEveryKind(folder);
    std::map<std::string, uint32_t> full = List(folder, false);
    EXPECT_EQ(full.at("flagged.dbf"), plat::kAttrArchive);
    EXPECT_EQ(full.at("sub.lnk"), plat::kAttrArchive | plat::kAttrDirectory | plat::kAttrReparsePoint);
    full.erase(".");
    full.erase("..");
    EXPECT_EQ(List(folder, true), full);

    for (bool forWalk : {false, true}) {
      const char* const dbfs[] = {"plain.dbf", "flagged.dbf", "readonly.dbf"};
      for (const char* name : dbfs) support::WriteBytes(Path(folder + "\\" + name), "x");
      plat::FindEntry first, next;
      std::string pattern = Path(folder + "\\*.dbf");
      auto search = forWalk ? Files().FindFirstForWalk(pattern, first) : Files().FindFirst(pattern, first);
      ASSERT_TRUE(search);
      for (const char* name : dbfs) {
        if (first.name != name) fs::remove(Host(folder + "\\" + name));
      }
      EXPECT_FALSE(search->Next(next)) << next.name;
    }
  }
};

TEST_F(WalkListingTest, WalksListAsFullListingsDo) { ExpectWalksListAsFullListingsDo("typed"); }

// A file system mounted by a shell command on a folder, while this lives.
class Mount {
 public:
  Mount(const std::string& command, const std::string& folder)
      : folder_(folder), mounted_(std::system(command.c_str()) == 0) {}
  ~Mount() {
    if (mounted_) std::system(("umount '" + folder_ + "'").c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_;
};

// A real file system whose listings give no entry types (DT_UNKNOWN): ext2
// without its filetype feature, on a loop device.
TEST_F(WalkListingTest, WalksListAsFullListingsDoWithoutEntryTypes) {
  support::MakeFolders(Path("untyped"));
  support::WriteBytes(Path("ext2.img"), "");
  fs::resize_file(Host("ext2.img"), 8 << 20);
  Mount ext2("PATH=\"$PATH:/sbin:/usr/sbin\" mkfs.ext2 -q -F -O ^filetype '" + Host("ext2.img") +
                 "' >/dev/null 2>&1 && mount -o loop '" + Host("ext2.img") + "' '" + Host("untyped") +
                 "' 2>/dev/null",
             Host("untyped"));
  if (!ext2.mounted()) GTEST_SKIP() << "cannot mount an ext2 image here (needs root, a loop device and mkfs.ext2)";
  ExpectWalksListAsFullListingsDo("untyped");
}

// A real file system without user extended attributes: ramfs.
class NoXattrTest : public StoredAttributesTest {
 protected:
  void SetUp() override {
    StoredAttributesTest::SetUp();
    support::MakeFolders(Path("ram"));
    std::string command = "mount -t ramfs ramfs '" + Host("ram") + "' 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
    if (!mounted_) GTEST_SKIP() << "cannot mount a ramfs here (needs root and mount)";
  }
  void TearDown() override {
    if (mounted_) std::system(("umount '" + Host("ram") + "'").c_str());
    StoredAttributesTest::TearDown();
  }
  bool mounted_ = false;
};

TEST_F(NoXattrTest, ReadsAsAbsentAndRecordingFailsWithNothingHalfDone) {
  support::WriteBytes(Path("ram\\old.txt"), "old content");
  support::WriteBytes(Path("source.txt"), "source");
  EXPECT_EQ(Files().GetAttributes(Path("ram\\old.txt")), plat::kAttrNormal);
  EXPECT_EQ(Files().GetAttributes(Path("ram")), plat::kAttrDirectory);

  EXPECT_FALSE(Files().SetAttributes(Path("ram\\old.txt"), plat::kAttrArchive));
  EXPECT_EQ(plat::LastError(), plat::kErrorNotSupported);
  for (Disposition disposition : {Disposition::kCreateNew, Disposition::kCreateAlways,
                                  Disposition::kOpenAlways}) {
    EXPECT_EQ(Files().Open(Path("ram\\new.txt"), plat::kWrite, plat::kShareNone, disposition), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrorNotSupported);
    EXPECT_FALSE(support::Exists(Path("ram\\new.txt")));
  }
  EXPECT_EQ(Files().Open(Path("ram\\old.txt"), plat::kWrite, plat::kShareNone, Disposition::kCreateAlways),
            nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorNotSupported);
  EXPECT_EQ(support::ReadBytes(Path("ram\\old.txt")), "old content");

  EXPECT_FALSE(Files().Copy(Path("source.txt"), Path("ram\\copy.txt"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorNotSupported);
  EXPECT_FALSE(support::Exists(Path("ram\\copy.txt")));
  EXPECT_FALSE(Files().Copy(Path("source.txt"), Path("ram\\old.txt"), false));
  EXPECT_EQ(support::ReadBytes(Path("ram\\old.txt")), "old content");
  EXPECT_FALSE(Files().WriteIniString("s", "k", "v", Path("ram\\new.ini")));
  EXPECT_EQ(plat::LastError(), plat::kErrorNotSupported);
  EXPECT_FALSE(support::Exists(Path("ram\\new.ini")));

  // What records no attribute still works.
  EXPECT_TRUE(Files().MakeFolder(Path("ram\\sub")));
  EXPECT_NE(Files().Open(Path("ram\\old.txt"), plat::kReadWrite, plat::kShareNone, Disposition::kOpenExisting),
            nullptr);
  EXPECT_TRUE(Files().Delete(Path("ram\\old.txt")));
}

// A real file system without birth times: ext4 with 128-byte inodes, in an image.
class NoBirthTimeTest : public StoredAttributesTest {
 protected:
  void SetUp() override {
    StoredAttributesTest::SetUp();
    support::MakeFolders(Path("ext4"));
    support::WriteBytes(Path("ext4.img"), "");
    fs::resize_file(Host("ext4.img"), 4 << 20);
    std::string image = "'" + Host("ext4.img") + "'";
    std::string command = "mkfs.ext4 -q -F -I 128 " + image + " >/dev/null 2>&1 && mount -o loop " +
                          image + " '" + Host("ext4") + "' 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
    if (!mounted_) {
      GTEST_SKIP() << "cannot make and mount an ext4 image here (needs root and loop devices)";
    }
  }
  void TearDown() override {
    if (mounted_) std::system(("umount '" + Host("ext4") + "'").c_str());
    StoredAttributesTest::TearDown();
  }
  bool mounted_ = false;
};

// A file is not created after it was written or changed: without a stored
// creation time, the older of the two is recorded.
TEST_F(NoBirthTimeTest, CreationTimeIsTheOlderOfChangeAndWriteTime) {
  auto recordedCreation = [&](const std::string& name, int64_t lastWrite) -> int64_t {
    support::WriteBytes(Path(name), "x");
    support::SetLastWriteTime(Path(name), lastWrite);  // the change time is now
    EXPECT_TRUE(Files().SetAttributes(Path(name), plat::kAttrArchive));
    auto value = plat::posix::ReadDosAttribValue(Host(name));
    auto decoded = value ? plat::posix::DecodeDosAttrib(value->data(), value->size()) : std::nullopt;
    return decoded && decoded->createTime ? static_cast<int64_t>(*decoded->createTime) : 0;
  };
  constexpr int64_t k2001 = 1000000000, k2033 = 2000000000;
  EXPECT_EQ(recordedCreation("ext4\\written.txt", k2001),
            static_cast<int64_t>(plat::posix::FileTimeFromUnix(k2001, 0)));
  auto now = std::chrono::system_clock::now().time_since_epoch();
  int64_t nowFileTime = static_cast<int64_t>(plat::posix::FileTimeFromUnix(
      std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0));
  EXPECT_LT(std::abs(nowFileTime - recordedCreation("ext4\\future.txt", k2033)), 600000000)
      << "the change time, within a minute";
}

#endif  // _WIN32

}  // namespace
