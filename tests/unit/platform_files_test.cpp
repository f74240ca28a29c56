// Files and folders: directory search, opens and share modes, copy, delete,
// rename, folders, profile strings, and files that a running program holds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/support.h"

#ifndef _WIN32
#include "platform/posix/inifile.h"
#include "platform/posix/wildcard.h"
#endif

namespace {

namespace fs = std::filesystem;
using plat::Disposition;

plat::FileSystem& Files() { return plat::Native().files; }

class FilesTest : public support::TempFolderTest {
 protected:

  std::set<std::string> Found(const std::string& pattern) {
    std::set<std::string> names;
    plat::FindEntry entry;
    auto search = Files().FindFirst(Path(pattern), entry);
    if (!search) return names;
    do {
      names.insert(entry.name);
    } while (search->Next(entry));
    EXPECT_EQ(plat::LastError(), plat::kErrorNoMoreFiles);
    return names;
  }

  std::unique_ptr<plat::File> Open(const std::string& name, uint32_t access, uint32_t share,
                                   Disposition disposition = Disposition::kOpenExisting) {
    return Files().Open(Path(name), access, share, disposition);
  }
};

// The stand-in library built beside the test program.
std::string StandinLibrary() {
  std::string tool = support::ToolPath("x");
  return tool.substr(0, tool.find_last_of('\\') + 1) + "libxl.dll";
}

using support::WaitFor;

#ifndef _WIN32
TEST(Wildcards, MatchAsWindowsSearchesDo) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*", "README", true},        {"*.*", "README", true},       {"*.*", "a.b.c", true},
      {"*.*", ".", true},           {"*", "..", true},             {"*.", "README", true},
      {"*.", "a.txt", false},       {"a?.txt", "a.txt", true},     {"a?.txt", "ab.txt", true},
      {"a?.txt", "abc.txt", false}, {"abc.*", "abc", true},        {"abc.*", "abc.def", true},
      {"abc.*", "abcd", false},     {"*.TXT", "note.txt", true},   {"*.txt", "a.b.txt", true},
      {"*.txt", "a.txt.bak", false}, {"??", "a", true},            {"??", "abc", false},
      {"???.dat", "ab.dat", true},  {"*a*", "bab", true},          {"x*y", "xy", true},
      {"x*y", "xay.", false},       {"*.d?", "f.d", true},         {"*.d?", "f.dx", true},
      {"Q*.L?G", "qzlast.log", true}, {"<>\"", "<>\"", true},      {"*.", "a.", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plat::posix::MatchesPattern(c.pattern, c.name), c.matches)
        << c.pattern << " against " << c.name;
  }
  // Long runs of stars stay fast.
  std::string stars(200, '*');
  EXPECT_FALSE(plat::posix::MatchesPattern(stars + "x", std::string(255, 'a')));
}
#endif

TEST_F(FilesTest, SearchFindsMatchingEntriesWithTheirFacts) {
  support::MakeFolders(Path("s"));
  support::WriteBytes(Path("s\\README"), "12345");
  support::WriteBytes(Path("s\\a.txt"), "");
  support::WriteBytes(Path("s\\ab.TXT"), "");
  support::WriteBytes(Path("s\\abc.txt"), "");
  support::MakeFolders(Path("s\\sub"));
  support::SetLastWriteTime(Path("s\\README"), 1700000000);
  std::set<std::string> all = Found("s\\*.*");
  for (const char* name : {".", "..", "README", "a.txt", "ab.TXT", "abc.txt", "sub"}) {
    EXPECT_EQ(all.count(name), 1u) << name;
  }

  plat::FindEntry entry;
  auto search = Files().FindFirst(Path("s\\READ*"), entry);
  ASSERT_TRUE(search);
  EXPECT_EQ(entry.name, "README");
  EXPECT_EQ(entry.size, 5u);
  EXPECT_EQ(entry.lastWriteTime, (1700000000ull + 11644473600ull) * 10000000ull);
  EXPECT_FALSE(search->Next(entry));
  EXPECT_EQ(plat::LastError(), plat::kErrorNoMoreFiles);

  search = Files().FindFirst(Path("s\\su?"), entry);
  ASSERT_TRUE(search);
  EXPECT_EQ(entry.attributes & plat::kAttrDirectory, plat::kAttrDirectory);
  EXPECT_EQ(entry.size, 0u);
}

TEST_F(FilesTest, SearchAppliesTheDosWildcardRules) {
  if (support::RunningUnderWine()) GTEST_SKIP() << "wine's search does not apply the DOS wildcard rules";
  support::MakeFolders(Path("s\\sub"));
  for (const char* name : {"README", "a.txt", "ab.TXT", "abc.txt", "abc"}) {
    support::WriteBytes(Path("s\\") + name, "");
  }
  EXPECT_EQ(Found("s\\*."), (std::set<std::string>{".", "..", "README", "abc", "sub"}));
  EXPECT_EQ(Found("s\\a?.txt"), (std::set<std::string>{"a.txt", "ab.TXT"}));
  EXPECT_EQ(Found("s\\abc.*"), (std::set<std::string>{"abc", "abc.txt"}));
}

TEST_F(FilesTest, SearchWithoutWildcardsLooksUpOneName) {
  support::WriteBytes(Path("exact.txt"), "abc");
  plat::FindEntry entry;
  auto search = Files().FindFirst(Path("exact.txt"), entry);
  ASSERT_TRUE(search);
  EXPECT_EQ(entry.name, "exact.txt");
  EXPECT_EQ(entry.size, 3u);
  EXPECT_FALSE(search->Next(entry));
}

TEST_F(FilesTest, SearchFailuresTellMissingNamesFromMissingFolders) {
  plat::FindEntry entry;
  EXPECT_EQ(Files().FindFirst(Path("*.none"), entry), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(Files().FindFirst(Path("nofolder\\*.*"), entry), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  EXPECT_EQ(Files().FindFirst(Path("missing.txt"), entry), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
}

TEST_F(FilesTest, SearchAtADriveRootGivesNoDotEntries) {
  support::WriteBytes("C:\\top.txt", "");
  plat::FindEntry entry;
  std::set<std::string> names;
  auto search = Files().FindFirst("C:\\*.*", entry);
  ASSERT_TRUE(search);
  do {
    names.insert(entry.name);
  } while (search->Next(entry));
  EXPECT_EQ(names.count("top.txt"), 1u);
  EXPECT_EQ(names.count("."), 0u);
  EXPECT_EQ(names.count(".."), 0u);
}

TEST_F(FilesTest, OpenDispositionsAndFileAccess) {
  EXPECT_EQ(Open("none.txt", plat::kRead, plat::kShareRead), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(Open("nofolder\\x.txt", plat::kWrite, plat::kShareRead, Disposition::kCreateAlways), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  support::MakeFolders(Path("folder"));
  EXPECT_EQ(Open("folder", plat::kRead, plat::kShareRead), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);

  {
    auto file = Open("data.bin", plat::kReadWrite, plat::kShareNone, Disposition::kCreateNew);
    ASSERT_TRUE(file);
    uint32_t done = 0;
    ASSERT_TRUE(file->Write("hello world", 11, done));
    EXPECT_EQ(done, 11u);
    uint64_t position = 0, size = 0;
    ASSERT_TRUE(file->Seek(-5, plat::SeekOrigin::kEnd, &position));
    EXPECT_EQ(position, 6u);
    char buffer[16] = {};
    ASSERT_TRUE(file->Read(buffer, sizeof buffer, done));
    EXPECT_EQ(std::string(buffer, done), "world");
    ASSERT_TRUE(file->Size(size));
    EXPECT_EQ(size, 11u);
    EXPECT_FALSE(file->Seek(-20, plat::SeekOrigin::kCurrent));
  }
  EXPECT_EQ(Open("data.bin", plat::kWrite, plat::kShareNone, Disposition::kCreateNew), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileExists);
  {
    auto kept = Open("data.bin", plat::kWrite, plat::kShareNone, Disposition::kOpenAlways);
    ASSERT_TRUE(kept);
    EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);  // as Windows reports it
    char byte;
    uint32_t done = 0;
    EXPECT_FALSE(kept->Read(&byte, 1, done));  // opened without read access
    EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  }
  EXPECT_EQ(support::ReadBytes(Path("data.bin")), "hello world");
  ASSERT_TRUE(Open("data.bin", plat::kWrite, plat::kShareNone, Disposition::kCreateAlways));
  EXPECT_EQ(support::ReadBytes(Path("data.bin")), "");
}

TEST_F(FilesTest, ShareModesExcludeConflictingOpens) {
  support::WriteBytes(Path("shared.txt"), "x");
  {
    auto first = Open("shared.txt", plat::kRead, plat::kShareRead);
    ASSERT_TRUE(first);
    EXPECT_TRUE(Open("shared.txt", plat::kRead, plat::kShareRead));
    EXPECT_EQ(Open("shared.txt", plat::kWrite, plat::kShareRead | plat::kShareWrite), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
    // The second opener must share what the first one has: read.
    EXPECT_EQ(Open("shared.txt", plat::kRead, plat::kShareNone), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  }
  {
    auto alone = Open("shared.txt", plat::kRead, plat::kShareNone);
    ASSERT_TRUE(alone);
    EXPECT_EQ(Open("shared.txt", plat::kRead, plat::kShareRead | plat::kShareWrite), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
    EXPECT_FALSE(Files().Delete(Path("shared.txt")));
    EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
    EXPECT_FALSE(Files().Rename(Path("shared.txt"), Path("moved.txt")));
    EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  }
  {
    auto writer = Open("shared.txt", plat::kWrite, plat::kShareRead | plat::kShareWrite);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(Open("shared.txt", plat::kRead, plat::kShareRead | plat::kShareWrite));
    EXPECT_EQ(Open("shared.txt", plat::kRead, plat::kShareRead), nullptr);  // would deny the writer
  }
  {
    auto lenient = Open("shared.txt", plat::kRead, plat::kShareRead | plat::kShareDelete);
    ASSERT_TRUE(lenient);
    EXPECT_TRUE(Files().Delete(Path("shared.txt")));
  }
  EXPECT_FALSE(support::Exists(Path("shared.txt")));
}

// A file appears with its share mode already in force: a reader racing the
// creator either misses the file or finds it complete, never empty.
TEST_F(FilesTest, ANewFileIsNeverSeenBeforeItsCreatorHoldsIt) {
  const std::string text = "20261208-101500-1-2-3";
  std::atomic<bool> done{false};
  int emptySeen = 0, completeSeen = 0;
  std::thread reader([&] {
    while (!done) {
      auto file = Open("race.id", plat::kRead, plat::kShareRead);
      if (!file) continue;
      char buffer[64];
      uint32_t got = 0;
      if (file->Read(buffer, sizeof buffer, got)) {
        if (std::string(buffer, got) == text) ++completeSeen; else ++emptySeen;
      }
    }
  });
  for (int round = 0; round < 3000; ++round) {
    {
      auto file = Open("race.id", plat::kWrite, plat::kShareNone, Disposition::kCreateAlways);
      if (!file) continue;  // the reader held it
      uint32_t written = 0;
      ASSERT_TRUE(file->Write(text.data(), static_cast<uint32_t>(text.size()), written));
    }
    Files().Delete(Path("race.id"));
  }
  done = true;
  reader.join();
  EXPECT_EQ(emptySeen, 0) << completeSeen << " complete reads";
}

TEST_F(FilesTest, CopyKeepsTimeModeAndAttributesAndAddsArchive) {
  support::WriteBytes(Path("tool"), "#!/bin/sh\n");
  fs::permissions(support::HostPath(Path("tool")), fs::perms(0755));
  support::SetLastWriteTime(Path("tool"), 1600000000);
  ASSERT_TRUE(Files().SetAttributes(Path("tool"), plat::kAttrHidden));
  ASSERT_TRUE(Files().Copy(Path("tool"), Path("copy"), true));
  EXPECT_EQ(support::ReadBytes(Path("copy")), "#!/bin/sh\n");
  EXPECT_EQ(Files().GetAttributes(Path("copy")), plat::kAttrHidden | plat::kAttrArchive);
#ifndef _WIN32
  EXPECT_EQ(fs::status(support::HostPath(Path("copy"))).permissions(), fs::perms(0755));
#endif
  plat::FindEntry source, copy;
  ASSERT_TRUE(Files().FindFirst(Path("tool"), source));
  ASSERT_TRUE(Files().FindFirst(Path("copy"), copy));
  EXPECT_EQ(copy.lastWriteTime, source.lastWriteTime);

  EXPECT_FALSE(Files().Copy(Path("tool"), Path("copy"), true));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileExists);
  EXPECT_FALSE(Files().Copy(Path("none"), Path("copy2"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_FALSE(support::Exists(Path("copy2")));
  EXPECT_FALSE(Files().Copy(Path("tool"), Path("nofolder\\copy"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
}

#ifndef _WIN32
// A copy that fails part-way (a full disk, a quota) leaves no half-written
// file, which a reader would take for the whole.
TEST_F(FilesTest, CopyThatFailsPartWayLeavesNoTarget) {
  support::WriteBytes(Path("BIG.DAT"), std::string(1 << 20, 'b'));
  {
    support::FileSizeLimit limit(4096);
    EXPECT_FALSE(Files().Copy(Path("BIG.DAT"), Path("COPY.DAT"), false));
  }
  EXPECT_FALSE(support::Exists(Path("COPY.DAT")));
}
#endif

TEST_F(FilesTest, CopyOverwritesInPlaceAndNeverOntoItself) {
  support::WriteBytes(Path("new"), "new content");
  support::WriteBytes(Path("old"), "old content that is longer");
#ifndef _WIN32
  // A second name of the old file shows that the copy writes the same file.
  fs::create_hard_link(support::HostPath(Path("old")), support::HostPath(Path("alias")));
#endif
  ASSERT_TRUE(Files().Copy(Path("new"), Path("old"), false));
  EXPECT_EQ(support::ReadBytes(Path("old")), "new content");
#ifndef _WIN32
  EXPECT_EQ(support::ReadBytes(Path("alias")), "new content");
#endif
  EXPECT_FALSE(Files().Copy(Path("new"), Path("new"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(support::ReadBytes(Path("new")), "new content");
}

TEST_F(FilesTest, DeleteRenameAndMakeFolderReportWindowsErrors) {
  EXPECT_FALSE(Files().Delete(Path("none")));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_FALSE(Files().Delete(Path("nofolder\\none")));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  ASSERT_TRUE(Files().MakeFolder(Path("dir")));
  EXPECT_EQ(Files().GetAttributes(Path("dir")), plat::kAttrDirectory);
  EXPECT_FALSE(Files().MakeFolder(Path("dir")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(Files().MakeFolder(Path("none\\dir")));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  EXPECT_FALSE(Files().Delete(Path("dir")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);

  support::WriteBytes(Path("a"), "a");
  support::WriteBytes(Path("b"), "b");
  EXPECT_FALSE(Files().Rename(Path("a"), Path("b")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(Files().Rename(Path("none"), Path("c2")));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_TRUE(Files().Rename(Path("a"), Path("dir\\a2")));
  EXPECT_EQ(support::ReadBytes(Path("dir\\a2")), "a");
  EXPECT_TRUE(Files().Rename(Path("dir"), Path("dir2")));
  EXPECT_TRUE(support::Exists(Path("dir2\\a2")));
  EXPECT_TRUE(Files().Delete(Path("b")));
  EXPECT_FALSE(support::Exists(Path("b")));
}

#ifndef _WIN32
// The current folder is the shared root, where users may put links. Nothing
// is written through a link (the last part of a name, or a folder on the way
// of a relative one), links out of the folder are not followed for reads or
// attributes, and only regular files are opened.
TEST_F(FilesTest, NoWriteGoesThroughALinkAndOnlyRegularFilesOpen) {
  fs::create_directories(HostRoot() / "OUTSIDE");
  fs::create_directories(HostRoot() / "SHARE");
  fs::current_path(HostRoot() / "SHARE");
  const std::string target = "..\\OUTSIDE\\TARGET.TXT";
  support::WriteBytes(target, "outside");
  support::WriteBytes("FILE.TXT", "inside");
  fs::create_symlink(HostRoot() / "OUTSIDE" / "TARGET.TXT", "LINK.TXT");
  fs::create_directory_symlink(HostRoot() / "OUTSIDE", "FOLDER");
  fs::create_symlink("FILE.TXT", "INSIDE.TXT");
  auto refused = [](bool succeeded) { return !succeeded && plat::LastError() == plat::kErrorAccessDenied; };

  for (Disposition disposition : {Disposition::kCreateAlways, Disposition::kOpenAlways,
                                  Disposition::kOpenExisting}) {
    EXPECT_TRUE(refused(Files().Open("LINK.TXT", plat::kWrite, plat::kShareNone, disposition) != nullptr));
    EXPECT_TRUE(refused(Files().Open(Root() + "SHARE\\LINK.TXT", plat::kWrite, plat::kShareNone,
                                     disposition) != nullptr));
  }
  EXPECT_TRUE(refused(Files().Open("FOLDER\\NEW.TXT", plat::kWrite, plat::kShareNone,
                                   Disposition::kCreateNew) != nullptr));
  EXPECT_TRUE(refused(Files().Copy("FILE.TXT", "LINK.TXT", false)));
  EXPECT_TRUE(refused(Files().Rename("FOLDER\\TARGET.TXT", "MOVED.TXT")));
  EXPECT_FALSE(Files().Rename("FILE.TXT", "LINK.TXT"));
  EXPECT_TRUE(refused(Files().MakeFolder("FOLDER\\NEW")));
  EXPECT_TRUE(refused(Files().Delete("FOLDER\\TARGET.TXT")));
  EXPECT_TRUE(refused(Files().SetAttributes("LINK.TXT", plat::kAttrHidden)));
  EXPECT_TRUE(refused(Files().Open("LINK.TXT", plat::kRead, plat::kShareRead,
                                   Disposition::kOpenExisting) != nullptr));
  EXPECT_EQ(support::ReadBytes(target), "outside");
  EXPECT_EQ(Files().GetAttributes(target), plat::kAttrNormal);
  EXPECT_EQ(fs::directory_iterator(HostRoot() / "OUTSIDE")->path().filename(), "TARGET.TXT");
  EXPECT_TRUE(Files().LeadsOutside("LINK.TXT"));
  EXPECT_FALSE(Files().LeadsOutside("INSIDE.TXT"));

  // A link inside the folder is followed for reads and attributes; deleting
  // a link deletes the link.
  EXPECT_TRUE(Files().Open("INSIDE.TXT", plat::kRead, plat::kShareRead, Disposition::kOpenExisting));
  EXPECT_TRUE(Files().SetAttributes("INSIDE.TXT", plat::kAttrHidden));
  EXPECT_EQ(Files().GetAttributes("FILE.TXT"), plat::kAttrHidden);
  EXPECT_TRUE(Files().Delete("LINK.TXT"));
  EXPECT_EQ(support::ReadBytes(target), "outside");

  // A FIFO is no file: refused at once, never waited on.
  support::MakeFifo("PIPE");
  EXPECT_TRUE(refused(Files().Open("PIPE", plat::kRead, plat::kShareRead, Disposition::kOpenExisting) != nullptr));
  EXPECT_TRUE(refused(Files().Open("PIPE", plat::kWrite, plat::kShareNone, Disposition::kCreateAlways) != nullptr));
}
#endif

TEST_F(FilesTest, ProfileStringsAreWrittenInPlace) {
  if (support::RunningUnderWine()) GTEST_SKIP() << "wine rewrites the whole file";
  ASSERT_TRUE(Files().WriteIniString("Settings", "Path", "C:\\X", Path("app.ini")));
  EXPECT_EQ(support::ReadBytes(Path("app.ini")), "[Settings]\r\nPath=C:\\X\r\n");
  support::WriteBytes(Path("app.ini"), "; note\r\n[One]\r\na=1\r\n\r\n[settings]\r\nPATH = old\r\nb=2\r\n");
  ASSERT_TRUE(Files().WriteIniString("SETTINGS", "path", "new", Path("app.ini")));
  ASSERT_TRUE(Files().WriteIniString("One", "c", "3", Path("app.ini")));
  EXPECT_EQ(support::ReadBytes(Path("app.ini")),
            "; note\r\n[One]\r\na=1\r\nc=3\r\n\r\n[settings]\r\npath=new\r\nb=2\r\n");
  EXPECT_FALSE(Files().WriteIniString("s", "k", "v", Path("nofolder\\x.ini")));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
}

#ifndef _WIN32
TEST(IniText, KeepsEverythingElseAndSurvivesOddBytes) {
  using plat::posix::WriteIniValue;
  EXPECT_EQ(WriteIniValue("", "S", "k", "v"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(WriteIniValue("[A]\nx=1", "B", "k", "v"), "[A]\r\nx=1\r\n[B]\r\nk=v\r\n");
  // A key of another section with the same name stays.
  EXPECT_EQ(WriteIniValue("[A]\r\nk=1\r\n[B]\r\nk=2\r\n", "B", "K", "3"),
            "[A]\r\nk=1\r\n[B]\r\nK=3\r\n");
  // Only the first matching key changes; lines without "=" are kept.
  EXPECT_EQ(WriteIniValue("[S]\r\njunk\r\nk=1\r\nk=2\r\n", "s", "k", "x"),
            "[S]\r\njunk\r\nk=x\r\nk=2\r\n");
  // A missing key goes after the section's last line, before blank lines.
  EXPECT_EQ(WriteIniValue("[S]\r\na=1\r\n\r\n\r\n[T]\r\n", "S", "b", "2"),
            "[S]\r\na=1\r\nb=2\r\n\r\n\r\n[T]\r\n");
  EXPECT_EQ(WriteIniValue("[S]", "S", "b", "2"), "[S]\r\nb=2\r\n");
  EXPECT_EQ(WriteIniValue("  [ S ]  \r\n", "S", "b", "2"), "  [ S ]  \r\nb=2\r\n");
  // Bytes of any kind pass through.
  std::string odd("[\0]\r\r\n=\x1A\xFF[", 11);
  std::string out = WriteIniValue(odd, "", "k", "v");
  EXPECT_NE(out.find("k=v\r\n"), std::string::npos);
  EXPECT_NE(out.find(std::string("\x1A\xFF", 2)), std::string::npos);
}
#endif

TEST_F(FilesTest, AFileThatARunningProgramHoldsCannotBeDeletedOrWritten) {
  ASSERT_TRUE(Files().Copy(StandinLibrary(), Path("held.dll"), false));
  std::string command = "\"" + support::ToolPath("map_and_wait") + "\" \"" + Path("held.dll") +
                        "\" ready.txt stop.txt";
  std::shared_ptr<plat::Process> holder;
  ASSERT_GE(plat::Native().processes.CommandStartKept(command, 0, holder), 32u);
  support::WaitAtTheEnd(holder);
  ASSERT_TRUE(WaitFor([&] { return support::Exists(Path("ready.txt")); }));
  ASSERT_EQ(support::ReadBytes(Path("ready.txt")), "loaded");

  EXPECT_FALSE(Files().Delete(Path("held.dll")));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_EQ(Open("held.dll", plat::kWrite, plat::kShareRead | plat::kShareWrite), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_FALSE(Files().Copy(StandinLibrary(), Path("held.dll"), false));
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_TRUE(Open("held.dll", plat::kRead, plat::kShareRead | plat::kShareWrite));
  EXPECT_TRUE(support::Exists(Path("held.dll")));

  support::WriteBytes(Path("stop.txt"), "");
  EXPECT_TRUE(WaitFor([&] { return Files().Delete(Path("held.dll")); }));
}

TEST_F(FilesTest, PathsOf260CharactersOrMoreAreRefused) {
  if (support::RunningUnderWine()) GTEST_SKIP() << "wine takes paths beyond 259 characters";
  std::string longName = Path(std::string(260 - Root().size(), 'n'));
  ASSERT_EQ(longName.size(), 260u);
  EXPECT_EQ(Files().GetAttributes(longName), plat::kInvalidAttributes);
  EXPECT_EQ(plat::LastError(), plat::kErrorFilenameTooLong);
  EXPECT_EQ(Files().Open(longName, plat::kWrite, plat::kShareNone, Disposition::kCreateAlways), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFilenameTooLong);
  EXPECT_FALSE(Files().MakeFolder(longName));
  EXPECT_EQ(plat::LastError(), plat::kErrorFilenameTooLong);
  std::string shorter = longName.substr(0, 259);
  EXPECT_EQ(Files().GetAttributes(shorter), plat::kInvalidAttributes);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
}

}  // namespace
