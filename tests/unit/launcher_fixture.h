// A launcher test: a fresh folder made into a shared root, the launcher's
// context on the test platform, and helpers to read what the launcher showed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

#include "launcher/identity.h"
#include "launcher/start.h"
#include "support/support.h"

// Every successful preparation ends by clearing the rights marker's archive
// attribute, which wine never does.
#define SKIP_UNLESS_ARCHIVE_CLEARS()                                                     \
  if (!support::ArchiveAttributeCanBeCleared())                                          \
  GTEST_SKIP() << "this platform never clears the archive attribute, so no local folder " \
                  "preparation can succeed here"

namespace launcher_test {

// A shell that refuses every start with a chosen result and last error, for
// refusals that cannot be caused here.
class RefusingShell : public plat::Processes {
 public:
  RefusingShell(uint32_t result, uint32_t error) : result_(result), error_(error) {}
  uint32_t ShellStart(uint32_t, const std::string&, const std::string&, const std::string&,
                      int) override {
    plat::SetLastError(error_);
    return result_;
  }
  uint32_t CommandStart(const std::string&, int) override { return 0; }

 private:
  uint32_t result_, error_;
};

class LauncherTest : public support::TempFolderTest {
 protected:
  void SetUp() override {
    support::TempFolderTest::SetUp();
    RemoveLocalFolders();
    files = launcher::AssembleIdentityFiles();
  }
  void TearDown() override {
    RemoveLocalFolders();
    support::TempFolderTest::TearDown();
  }

  // On POSIX drive C: is inside the temporary folder; under wine it is the
  // prefix's own drive, so the folders the tests use are cleared there.
  static void RemoveLocalFolders() {
#ifdef _WIN32
    std::error_code ignored;
    for (const char* folder : {"C:\\_$MERIXA", "C:\\Local", "C:\\Local Copies", "C:\\L"}) {
      std::filesystem::remove_all(folder, ignored);
    }
#endif
  }

  // Everything a normal start reads in the shared root.
  void MakeSharedRoot() {
    MakeSharedRootData();
    CopyTool("libxl.dll", "XLS\\libxl.dll");
    CopyTool("purchase_standin", "PURCHASE.EXE");
  }

  // The shared root without the application and the spreadsheet library.
  void MakeSharedRootData() {
    support::MakeFolders("UTILS\\QZTSTDIR");
    support::MakeFolders("UTILS\\QZBACKUP");
    support::MakeFolders("AXS");
    support::MakeFolders("XLS");
    support::MakeFolders("SYSTEM");
    support::WriteBytes("UTILS\\QZTSTDIR\\QZTSTDIR.CHK", "");
    support::WriteBytes(files.rightsSource, "rights test");
    support::WriteBytes("AXS\\ACE32.DLL", "ace32");
    support::WriteBytes("AXS\\ADSLOC32.DLL", "adsloc32");
    support::WriteBytes("AXS\\AXCWS32.DLL", "axcws32");
    support::WriteBytes("AXS\\ADS.INI", "[SETTINGS]\r\nMULTITASKING_OFF=0\r\nOTHER=7\r\n");
    support::WriteBytes("LOCALMSG.TXT", "Local copy of Varnolet\r\n");
  }

  // Copies a built stand-in tool into the root under `name`.
  void CopyTool(const std::string& tool, const std::string& name) {
    std::string from = tool == "libxl.dll" ? LibraryPath() : support::ToolPath(tool);
    std::filesystem::copy_file(support::HostPath(from), support::HostPath(name),
                               std::filesystem::copy_options::overwrite_existing);
  }

  static std::string LibraryPath() {
    std::string program = support::ToolPath("purchase_standin");
    return program.substr(0, program.find_last_of('\\') + 1) + "libxl.dll";
  }

  // Routes every launcher message to LASTMSG.LOG, as for the logged account.
  void LogMessagesToFile() {
    std::string user;
    ASSERT_TRUE(plat::Native().system.NetworkUserName(user));
    support::MakeFolders("SYSTEM");
    support::WriteBytes("SYSTEM\\LSAUSER.SYS", user);
  }

  // The text of the only message shown, or "" when there was none.
  std::string OnlyMessage() {
    EXPECT_EQ(test.ui.shown.size(), 1u);
    return test.ui.shown.empty() ? "" : test.ui.shown.back().text;
  }

  // Waits (in real time) for the stand-in application to record a start.
  std::string WaitForStartRecord(size_t starts = 1) {
    support::WaitFor([&] {
      std::string log = support::ReadBytes("PURCHASE.LOG");
      return static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= starts;
    });
    return support::ReadBytes("PURCHASE.LOG");
  }

  uint32_t Attributes(const std::string& name) { return plat::Native().files.GetAttributes(name); }

  // The test platform with `shell` in place of the process starts.
  plat::Platform WithShell(plat::Processes& shell) {
    return {test.platform.files, test.clock, shell, test.ui, test.platform.system,
            test.platform.libraries};
  }

  support::TestPlatform test;
  launcher::Context context{test.platform};
  launcher::IdentityFiles files;
};

}  // namespace launcher_test
