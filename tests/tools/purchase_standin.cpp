// A stand-in for the purchasing application PURCHASE.EXE, for the tests and
// the sample shared root. It honours what the launcher and the monitor rely on:
//
// - every start appends one line to PURCHASE.LOG in its current folder (the
//   shared root): the current folder, a tab, and the command-line text after
//   the program name;
// - a pass-through text "<item1>,<item2>,LOCKDOWN,<minutes>" is a lock-down
//   request: it creates LOCKDOWN.SYS, or, when item 1 is AUTORUNERR, writes
//   AUTORUN.ERR with a reason that quotes item 2;
// - a pass-through text holding the word HOLD keeps the local libxl.dll
//   loaded, as the real application does while it runs, until PURCHASE.EXIT
//   appears in the current folder (at most two minutes); PURCHASE.HELD in
//   the current folder says that it holds the library;
// - started in the launcher's place, as `<local folder> "<request>"`, it
//   answers the lock-down request itself (for a monitor under wine, where the
//   real launcher cannot prepare a local folder).
#include <string>

#include "platform/platform.h"

namespace {

constexpr uint32_t kHoldLimit = 120000;
constexpr uint32_t kPollPause = 100;

std::string AfterProgramName(const std::string& line) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    i = close == std::string::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') ++i;
  }
  while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
  return line.substr(i);
}

// Appends to a file that other starts may be writing at the same moment.
void Append(plat::Platform& os, const std::string& name, const std::string& text) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    auto file = os.files.Open(name, plat::kWrite, plat::kShareNone, plat::Disposition::kOpenAlways);
    if (file) {
      uint32_t written = 0;
      file->Seek(0, plat::SeekOrigin::kEnd);
      file->Write(text.data(), static_cast<uint32_t>(text.size()), written);
      return;
    }
    os.clock.Sleep(kPollPause);
  }
}

void Write(plat::Platform& os, const std::string& name, const std::string& text) {
  auto file = os.files.Open(name, plat::kWrite, plat::kShareNone, plat::Disposition::kCreateAlways);
  uint32_t written = 0;
  if (file) file->Write(text.data(), static_cast<uint32_t>(text.size()), written);
}

void AnswerLockDown(plat::Platform& os, const std::string& request) {
  size_t firstComma = request.find(',');
  size_t word = request.find(",LOCKDOWN,");
  if (firstComma == std::string::npos || word == std::string::npos || word < firstComma) return;
  std::string item1 = request.substr(0, firstComma);
  std::string item2 = request.substr(firstComma + 1, word - firstComma - 1);
  if (item1 == "AUTORUNERR") {
    Write(os, "AUTORUN.ERR", "Lock-down refused: " + item2 + " still has users logged in");
  } else {
    Write(os, "LOCKDOWN.SYS", "");
  }
}

void HoldLibrary(plat::Platform& os, const std::string& localFolder) {
  uint32_t library = os.libraries.Load(localFolder + "libxl.dll");
  if (library != 0) Write(os, "PURCHASE.HELD", "");
  plat::FindEntry entry;
  for (uint32_t waited = 0; waited < kHoldLimit && !os.files.FindFirst("PURCHASE.EXIT", entry);
       waited += kPollPause) {
    os.clock.Sleep(kPollPause);
  }
  if (library == 0) return;
  os.libraries.Free(library);
  os.files.Delete("PURCHASE.HELD");
}

}  // namespace

int main() {
  plat::Platform& os = plat::Native();
  std::string tail = AfterProgramName(os.system.CommandLine());
  std::string folder;
  os.files.GetCurrentFolder(folder);
  Append(os, "PURCHASE.LOG", folder + "\t" + tail + "\r\n");

  // "QZWINIT <local folder>\ <pass-through text>"; the folder ends with a backslash.
  const std::string word = "QZWINIT ";
  if (tail.compare(0, word.size(), word) != 0) {
    size_t open = tail.find('"');
    size_t close = open == std::string::npos ? open : tail.find('"', open + 1);
    if (close != std::string::npos) AnswerLockDown(os, tail.substr(open + 1, close - open - 1));
    return 0;
  }
  size_t folderEnd = tail.find("\\ ", word.size());
  if (folderEnd == std::string::npos) return 0;
  std::string localFolder = tail.substr(word.size(), folderEnd + 1 - word.size());
  std::string passThrough = tail.substr(folderEnd + 2);
  AnswerLockDown(os, passThrough);
  if (passThrough.find("HOLD") != std::string::npos) HoldLibrary(os, localFolder);
  return 0;
}
