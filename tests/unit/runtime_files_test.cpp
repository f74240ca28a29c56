// The file operations on real files: existence tests, deletes, whole-file
// reads and directory listings with their attribute rules.
#include <cstdio>
#include <map>

#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;

class FilesTest : public RuntimeTest {
 protected:
  void MakeFile(const std::string& name, uint32_t attributes, const std::string& content = "") {
    support::WriteBytes(name, content);
    if (attributes != 0) {
      ASSERT_TRUE(test.platform.files.SetAttributes(name, attributes)) << name;
    }
  }
};

#define SKIP_UNLESS_ARCHIVE_CLEARS()                                  \
  if (!support::ArchiveAttributeCanBeCleared())                       \
  GTEST_SKIP() << "this platform never clears the archive attribute"

TEST_F(FilesTest, FileFindsEveryKindOfEntry) {
  MakeFile("LOCKDOWN.SYS", plat::kAttrHidden);
  MakeFile("READONLY.SYS", plat::kAttrReadOnly | plat::kAttrArchive);
  MakeFile("SYSTEM.SYS", plat::kAttrSystem);
  support::MakeFolders("FOLDER.SYS");
  for (const char* name : {"LOCKDOWN.SYS", "READONLY.SYS", "SYSTEM.SYS", "FOLDER.SYS", "*.SYS",
                           "LOCK????.SYS", ".\\LOCKDOWN.SYS"}) {
    EXPECT_TRUE(rt::FILE(name)) << name;
  }
  EXPECT_FALSE(rt::FILE("AUTORUN.ERR"));
  EXPECT_FALSE(rt::FILE("*.ERR"));
  EXPECT_FALSE(rt::FILE("missing\\LOCKDOWN.SYS"));
  EXPECT_FALSE(rt::FILE(rt::NIL));
  EXPECT_FALSE(rt::FILE(1));
  test.platform.files.SetAttributes("READONLY.SYS", plat::kAttrNormal);
}

TEST_F(FilesTest, FeraseDeletesFilesOnly) {
  MakeFile("QZBACKUP.ERR", 0, "old");
  EXPECT_EQ(rt::FERASE("QZBACKUP.ERR"), Value(0));
  EXPECT_FALSE(support::Exists("QZBACKUP.ERR"));
  EXPECT_EQ(rt::FERASE("QZBACKUP.ERR"), Value(-1));
  support::MakeFolders("UTILS");
  EXPECT_EQ(rt::FERASE("UTILS"), Value(-1));
  EXPECT_TRUE(support::Exists("UTILS"));
  EXPECT_EQ(rt::FERASE(rt::NIL), Value(-1));
}

TEST_F(FilesTest, FeraseLeavesReadOnlyAndHeldFiles) {
  MakeFile("READONLY.SYS", plat::kAttrReadOnly);
  EXPECT_EQ(rt::FERASE("READONLY.SYS"), Value(-1));
  EXPECT_TRUE(support::Exists("READONLY.SYS"));
  EXPECT_EQ(test.platform.files.GetAttributes("READONLY.SYS") & plat::kAttrReadOnly,
            plat::kAttrReadOnly);
  test.platform.files.SetAttributes("READONLY.SYS", plat::kAttrNormal);

  MakeFile("HELD.SYS", 0);
  auto held = test.platform.files.Open("HELD.SYS", plat::kReadWrite, plat::kShareNone,
                                       plat::Disposition::kOpenExisting);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(rt::FERASE("HELD.SYS"), Value(-1));
  held.reset();
  EXPECT_EQ(rt::FERASE("HELD.SYS"), Value(0));
}

TEST_F(FilesTest, MemoreadDropsOneTrailingEndMark) {
  MakeFile("AUTORUN.ERR", 0, "no lock-down:\r\nusers\x1A active\r\n\x1A");
  EXPECT_EQ(rt::MEMOREAD("AUTORUN.ERR"), Value("no lock-down:\r\nusers\x1A active\r\n"));
  MakeFile("MARK.ONLY", 0, "\x1A");
  EXPECT_EQ(rt::MEMOREAD("MARK.ONLY"), Value(""));
  MakeFile("TWO.MARKS", 0, "a\x1A\x1A");
  EXPECT_EQ(rt::MEMOREAD("TWO.MARKS"), Value("a\x1A"));
  MakeFile("EMPTY", 0, "");
  EXPECT_EQ(rt::MEMOREAD("EMPTY"), Value(""));
  std::string binary("\0\xFF\r\n\0", 5);
  MakeFile("BINARY", 0, binary);
  EXPECT_EQ(rt::MEMOREAD("BINARY"), Value(binary));
  EXPECT_EQ(rt::MEMOREAD("MISSING"), Value(""));
  EXPECT_EQ(rt::MEMOREAD(rt::NIL), Value(""));
}

TEST_F(FilesTest, MemoreadReadsAFileAnotherProgramWrites) {
  auto writer = test.platform.files.Open("AUTORUN.ERR", plat::kWrite,
                                         plat::kShareRead | plat::kShareWrite,
                                         plat::Disposition::kCreateAlways);
  ASSERT_NE(writer, nullptr);
  uint32_t done;
  writer->Write("still writing", 13, done);
  EXPECT_EQ(rt::MEMOREAD("AUTORUN.ERR"), Value("still writing"));
  // A writer that denies reading keeps it out.
  writer.reset();
  writer = test.platform.files.Open("AUTORUN.ERR", plat::kWrite, plat::kShareNone,
                                    plat::Disposition::kOpenExisting);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(rt::MEMOREAD("AUTORUN.ERR"), Value(""));
}

TEST_F(FilesTest, AttributeLettersKeepTheirOrder) {
  EXPECT_EQ(rt::AttributeLetters(plat::kAttrArchive), "A");
  EXPECT_EQ(rt::AttributeLetters(plat::kAttrArchive | plat::kAttrReadOnly), "RA");
  EXPECT_EQ(rt::AttributeLetters(plat::kAttrCompressed | plat::kAttrArchive | plat::kAttrReadOnly),
            "RAC");
  EXPECT_EQ(rt::AttributeLetters(plat::kAttrDirectory), "D");
  EXPECT_EQ(rt::AttributeLetters(0xFFFF), "RHSVDAETPLCOXIM");
  EXPECT_EQ(rt::AttributeLetters(plat::kAttrNormal | 0x10000), "");
}

// The entries of a listing by name, "." and ".." left out.
std::map<std::string, rt::Array> ByName(const Value& listing) {
  std::map<std::string, rt::Array> entries;
  for (const Value& entry : listing.Elements()) {
    EXPECT_EQ(entry.Elements().size(), 5u);
    const std::string& name = entry.Elements()[rt::kEntryName].Text();
    if (name == "." || name == "..") {
      EXPECT_EQ(entry.Elements()[rt::kEntryAttributes], Value("D"));
      continue;
    }
    entries[name] = entry.Elements();
  }
  return entries;
}

TEST_F(FilesTest, DirectoryWithDListsVisibleFilesAndFolders) {
  support::MakeFolders("list");
  MakeFile("list\\a-hidden.txt", plat::kAttrHidden | plat::kAttrArchive);
  MakeFile("list\\b-system.txt", plat::kAttrSystem | plat::kAttrArchive);
  MakeFile("list\\c-plain.txt", plat::kAttrArchive, "12345");
  MakeFile("list\\d-readonly.txt", plat::kAttrReadOnly | plat::kAttrArchive, "1");
  support::MakeFolders("list\\e-folder");
  support::MakeFolders("list\\f-hidden-folder");
  test.platform.files.SetAttributes("list\\f-hidden-folder",
                                    plat::kAttrHidden | plat::kAttrDirectory);
  MakeFile("list\\g-after.txt", plat::kAttrArchive);

  std::map<std::string, rt::Array> entries = ByName(rt::DIRECTORY("list\\*.*", "D"));
  std::vector<std::string> names;
  for (const auto& [name, entry] : entries) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"c-plain.txt", "d-readonly.txt", "e-folder",
                                             "g-after.txt"}));
  EXPECT_EQ(entries["c-plain.txt"][rt::kEntryAttributes], Value("A"));
  EXPECT_EQ(entries["c-plain.txt"][rt::kEntrySize], Value(5));
  EXPECT_EQ(entries["d-readonly.txt"][rt::kEntryAttributes], Value("RA"));
  EXPECT_EQ(entries["e-folder"][rt::kEntryAttributes], Value("D"));
  EXPECT_EQ(entries["e-folder"][rt::kEntrySize], Value(0));

  // Without D folders are left out; H and S bring in the hidden and system files.
  EXPECT_EQ(ByName(rt::DIRECTORY("list\\*.*")).count("e-folder"), 0u);
  EXPECT_EQ(ByName(rt::DIRECTORY("list\\*.*", "hs")).size(), 5u);
  test.platform.files.SetAttributes("list\\d-readonly.txt", plat::kAttrNormal);
}

TEST_F(FilesTest, DirectoryListsFilesWithoutAttributes) {
  SKIP_UNLESS_ARCHIVE_CLEARS();
  MakeFile("bare.txt", plat::kAttrNormal);
  MakeFile("hidden-only.txt", plat::kAttrHidden);
  std::map<std::string, rt::Array> entries = ByName(rt::DIRECTORY("*.txt", "D"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries["bare.txt"][rt::kEntryAttributes], Value(""));
}

TEST_F(FilesTest, DirectoryEntriesCarryLocalDateAndTime) {
  constexpr int64_t kWritten = 1796686865;  // 7 December 2026, 23:41:05 UTC
  MakeFile("dated.txt", 0, "x");
  support::SetLastWriteTime("dated.txt", kWritten);
  plat::CalendarTime local;
  ASSERT_TRUE(test.platform.clock.ToLocalTime((kWritten + 11644473600) * 10000000, local));
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.hour, local.minute, local.second);

  std::map<std::string, rt::Array> entries = ByName(rt::DIRECTORY("dated.txt"));
  ASSERT_EQ(entries.size(), 1u);
  const rt::Array& entry = entries["dated.txt"];
  EXPECT_EQ(entry[rt::kEntryDate],
            Value(rt::Date::FromCalendar(local.year, local.month, local.day)));
  EXPECT_EQ(entry[rt::kEntryTime], Value(time));
}

TEST_F(FilesTest, DirectoryOfNothingIsAnEmptyArray) {
  EXPECT_EQ(rt::DIRECTORY("missing\\*.*", "D").Elements().size(), 0u);
  EXPECT_EQ(rt::DIRECTORY("*.none", "D").Elements().size(), 0u);
  EXPECT_TRUE(rt::DIRECTORY("*.none").IsArray());
  MakeFile("only.txt", plat::kAttrArchive);
  EXPECT_EQ(ByName(rt::DIRECTORY(rt::NIL, 7)).size(), 1u);  // no pattern: "*.*"
}

}  // namespace
}  // namespace runtime_test
