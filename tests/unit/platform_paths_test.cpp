// Translation between Windows paths and host paths, and the current folder.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/support.h"

#ifndef _WIN32
#include "platform/posix/paths.h"
#endif

namespace {

namespace fs = std::filesystem;

plat::FileSystem& Files() { return plat::Native().files; }

class CurrentFolderTest : public support::TempFolderTest {};

TEST_F(CurrentFolderTest, FollowsTheSetFolderWithoutTrailingBackslash) {
  support::MakeFolders("C:\\work\\sub");
  std::string folder;
  ASSERT_TRUE(Files().SetCurrentFolder("C:\\work\\sub\\"));
  ASSERT_TRUE(Files().GetCurrentFolder(folder));
  EXPECT_EQ(folder, "C:\\work\\sub");
  ASSERT_TRUE(Files().SetCurrentFolder(".."));
  ASSERT_TRUE(Files().GetCurrentFolder(folder));
  EXPECT_EQ(folder, "C:\\work");
  ASSERT_TRUE(Files().SetCurrentFolder("C:\\"));
  ASSERT_TRUE(Files().GetCurrentFolder(folder));
  EXPECT_EQ(folder, "C:\\");

  EXPECT_FALSE(Files().SetCurrentFolder("C:\\none"));
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_FALSE(Files().SetCurrentFolder("C:\\none\\deeper"));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  support::WriteBytes("C:\\file.txt", "");
  EXPECT_FALSE(Files().SetCurrentFolder("C:\\file.txt"));
  EXPECT_EQ(plat::LastError(), 267u);  // ERROR_DIRECTORY
}

#ifndef _WIN32

class PathsTest : public support::TempFolderTest {
 protected:
  std::string Devices() { return (HostRoot() / "dosdevices").string(); }
  std::string Host(const std::string& relative) { return (HostRoot() / relative).string(); }
};

TEST_F(PathsTest, DrivesSharesAndRelativePathsBecomeHostPaths) {
  using plat::posix::ToHostPath;
  EXPECT_EQ(plat::posix::DosDevicesFolder(), Devices());
  EXPECT_EQ(ToHostPath("C:\\Dir\\File.TXT"), Devices() + "/c:/Dir/File.TXT");
  EXPECT_EQ(ToHostPath("c:/Dir/x"), Devices() + "/c:/Dir/x");
  EXPECT_EQ(ToHostPath("D:\\"), Devices() + "/d:/");
  EXPECT_EQ(ToHostPath("C:\\a\\.\\b\\..\\..\\..\\c"), Devices() + "/c:/c");
  EXPECT_EQ(ToHostPath("\\\\Server\\Share\\Dir\\f"), Devices() + "/unc/Server/Share/Dir/f");
  EXPECT_EQ(ToHostPath("\\\\Server\\Share"), Devices() + "/unc/Server/Share/");
  EXPECT_EQ(ToHostPath("sub\\..\\name"), "sub/../name");
  // Rooted without a drive: the host root while the current folder is on no drive.
  EXPECT_EQ(ToHostPath("\\etc\\hosts"), "/etc/hosts");
  ASSERT_TRUE(Files().MakeFolder("C:\\cwd"));
  ASSERT_TRUE(Files().SetCurrentFolder("C:\\cwd"));
  EXPECT_EQ(ToHostPath("\\x\\y"), Devices() + "/c:/x/y");
  EXPECT_EQ(ToHostPath("C:name"), Host("c/cwd") + "/name");
  EXPECT_EQ(ToHostPath("D:name"), Devices() + "/d:/name");
}

TEST_F(PathsTest, HostPathsBecomeTheirDriveOrShare) {
  using plat::posix::ToWindowsPath;
  fs::create_directories(Host("c/deep/er"));
  fs::create_directories(Host("shared/data"));
  fs::create_directories(Devices() + "/unc/srv");
  fs::create_directory_symlink(Host("shared"), Devices() + "/unc/srv/pub");
  // The longest match wins: D: lies inside C:.
  fs::create_directory_symlink(Host("c/deep"), Devices() + "/d:");
  EXPECT_EQ(ToWindowsPath(Host("c")), "C:\\");
  EXPECT_EQ(ToWindowsPath(Host("c/file.txt")), "C:\\file.txt");
  EXPECT_EQ(ToWindowsPath(Host("c/deep/er")), "D:\\er");
  EXPECT_EQ(ToWindowsPath(Host("shared/data")), "\\\\srv\\pub\\data");
  std::string elsewhere = Host("elsewhere/x");
  std::replace(elsewhere.begin(), elsewhere.end(), '/', '\\');
  EXPECT_EQ(ToWindowsPath(Host("elsewhere/x")), elsewhere);
  EXPECT_EQ(ToWindowsPath("/"), "\\");
  // A path that only starts like a drive's folder is not inside it.
  EXPECT_EQ(ToWindowsPath(Host("cx")).substr(0, 2), "\\t");
  // Both ways agree on a share.
  EXPECT_EQ(plat::posix::ToHostPath("\\\\srv\\pub\\data"), Devices() + "/unc/srv/pub/data");
  EXPECT_TRUE(support::Exists("\\\\srv\\pub\\data"));
}

TEST_F(PathsTest, TheDosDevicesFolderFallsBackToTheWinePrefixAndHome) {
  const char* prefix = std::getenv("WINEPREFIX");
  const char* home = std::getenv("HOME");
  std::string savedPrefix = prefix ? prefix : "", savedHome = home ? home : "";
  unsetenv("QZ_DOSDEVICES");
  setenv("WINEPREFIX", "/opt/prefix", 1);
  EXPECT_EQ(plat::posix::DosDevicesFolder(), "/opt/prefix/dosdevices");
  unsetenv("WINEPREFIX");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(plat::posix::DosDevicesFolder(), "/home/someone/.wine/dosdevices");
  if (prefix) setenv("WINEPREFIX", savedPrefix.c_str(), 1);
  if (home) setenv("HOME", savedHome.c_str(), 1);
}

TEST(PathParts, LastPartIgnoresTrailingSeparators) {
  EXPECT_EQ(plat::posix::LastPart("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(plat::posix::LastPart("C:\\a\\dir\\"), "dir");
  EXPECT_EQ(plat::posix::LastPart("C:name"), "name");
  EXPECT_EQ(plat::posix::LastPart("C:\\"), "");
  EXPECT_EQ(plat::posix::LastPart("plain"), "plain");
}

#endif  // _WIN32

}  // namespace
