// A monitor test: a fresh folder made into a shared root, the run-time on the
// test platform with a simulated clock, and a whole run of QZBACKUP started
// in process with a chosen command line.
//
// With the clock simulated, the launcher and the backup job cannot be real
// processes (their timing could not follow simulated minutes): the program
// starts are recorded, and the test plays the application's and the backup
// job's part through the file system at chosen moments. The end-to-end tier
// runs the real programs.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/backup.h"
#include "monitor/report.h"
#include "runtime_fixture.h"

namespace monitor_test {

// A started program that has already ended, with a chosen exit code.
class EndedProgram : public plat::Process {
 public:
  explicit EndedProgram(uint32_t exitCode) : exitCode_(exitCode) {}
  bool Ended(uint32_t& exitCode) override {
    exitCode = exitCode_;
    return true;
  }
  bool Wait(uint32_t) override { return true; }

 private:
  uint32_t exitCode_;
};

// Records every program start and answers with a chosen launch result; a
// kept start hands back a program that has ended with `jobExitCode`, when
// it is set. A stop request comes when a test sets `stop`.
class ScriptedProcesses : public plat::Processes {
 public:
  uint32_t ShellStart(uint32_t, const std::string&, const std::string&, const std::string&,
                      int) override {
    return 0;
  }
  uint32_t CommandStart(const std::string& commandLine, int show) override {
    started.push_back(commandLine);
    shows.push_back(show);
    uint32_t result = results.empty() ? 33 : results.front();
    if (!results.empty()) results.erase(results.begin());
    if (onStart) onStart(commandLine);
    return result;
  }
  uint32_t CommandStartKept(const std::string& commandLine, int show,
                            std::shared_ptr<plat::Process>& kept) override {
    uint32_t result = CommandStart(commandLine, show);
    kept.reset();
    if (jobExitCode) kept = std::make_shared<EndedProgram>(*jobExitCode);
    return result;
  }
  plat::StopRequest StopRequested() override { return stop; }

  std::vector<std::string> started;
  std::vector<int> shows;
  std::vector<uint32_t> results;                          // one per start; 33 when none is left
  std::function<void(const std::string&)> onStart;        // the started program's part
  std::optional<uint32_t> jobExitCode;
  plat::StopRequest stop;
};


class MonitorTest : public support::TempFolderTest {
 protected:
  void SetUp() override {
    support::TempFolderTest::SetUp();
    rt::UsePlatform(os);
    rt::ResetState();
  }
  void TearDown() override {
    rt::ResetState();
    rt::UsePlatform(plat::Native());
    support::TempFolderTest::TearDown();
  }

  // The root marker and the status folder.
  void MakeSharedRoot() {
    support::MakeFolders("UTILS\\QZTSTDIR");
    support::MakeFolders("UTILS\\QZBACKUP");
    support::WriteBytes("UTILS\\QZTSTDIR\\QZTSTDIR.CHK", "");
  }

  // Makes the folder SHARE (emptied) the current folder, beside the folder
  // OUTSIDE (emptied too): what a link leads to there lies outside the
  // shared root. Gives OUTSIDE's host path.
  std::filesystem::path ShareBesideOutside() {
    std::filesystem::current_path(HostRoot());
    for (const char* folder : {"SHARE", "OUTSIDE"}) {
      std::filesystem::remove_all(HostRoot() / folder);
      std::filesystem::create_directory(HostRoot() / folder);
    }
    std::filesystem::current_path(HostRoot() / "SHARE");
    return HostRoot() / "OUTSIDE";
  }

  // Runs QZBACKUP with the words after its name; gives the exit code.
  int Run(const std::string& words) {
    system.line = "QZBACKUP.EXE " + words;
    return rt::Start(os, monitor::ERRORSYS, monitor::MAIN);
  }

  // The application answers the lock-down request by creating LOCKDOWN.SYS.
  void ApplicationLocksDown() {
    processes.onStart = [](const std::string& line) {
      if (line.rfind("QZSTART.EXE ", 0) == 0) support::WriteBytes("LOCKDOWN.SYS", "");
    };
  }

  // The FULL marking of the whole root, through the library call as MAIN makes it.
  void Mark() {
    rt::Value kernel = rt::LOADLIBRARY("KERNEL32.DLL");
    rt::Value setAttributes =
        rt::GETPROCADDRESS(kernel, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
    ASSERT_TRUE(setAttributes.IsText());
    monitor::MARKFILES(setAttributes);
    rt::FREELIBRARY(kernel);
  }

  // The backup job takes every file: it clears the archive attributes.
  static void ClearArchiveAttributes(const std::string& folder = "") {
    plat::FileSystem& files = plat::Native().files;
    plat::FindEntry entry;
    auto search = files.FindFirst(folder + "*", entry);
    for (bool more = search != nullptr; more; more = search->Next(entry)) {
      if (entry.name == "." || entry.name == "..") continue;
      std::string path = folder + entry.name;
      if (entry.attributes & plat::kAttrDirectory) {
        if (!(entry.attributes & plat::kAttrReparsePoint)) ClearArchiveAttributes(path + "\\");
      } else {
        files.SetAttributes(path, entry.attributes & ~(plat::kAttrArchive | plat::kAttrNormal));
      }
    }
  }

  uint32_t Attributes(const std::string& name) { return plat::Native().files.GetAttributes(name); }

  // Both error files must hold CR LF, `text` and the end mark.
  void ExpectFailure(const std::string& text) {
    std::string expected = "\r\n" + text + "\x1A";
    EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), expected);
    EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR"), expected);
  }

  std::string OnlyMessage() {
    EXPECT_EQ(test.ui.shown.size(), 1u);
    return test.ui.shown.empty() ? "" : test.ui.shown.back().text;
  }

  support::TestPlatform test;
  ScriptedProcesses processes;
  support::ChosenSystem system{plat::Native().system};
  plat::Platform os{test.platform.files, test.clock, processes, test.ui, system,
                    test.platform.libraries};
};

}  // namespace monitor_test
