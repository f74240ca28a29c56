// Writes events through the Windows platform's event log call, built for
// 64-bit wine from platform/win32/ui.cpp: the 32-bit monitor cannot run on a
// 64-bit-only host, and wine prints what reaches its event log on its
// "eventlog" debug channel. Each argument is an event, written as
// "<I or E> <id> <text>" (information or error); the last line printed says
// whether the desktop is visible and what each write answered.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/win32.h"

int main(int argc, char** argv) {
  plat::win32::Desktop ui;
  std::string answers;
  for (int i = 1; i < argc; ++i) {
    std::string event = argv[i];
    size_t blank = event.find(' ', 2);
    plat::EventType type = event[0] == 'E' ? plat::EventType::kError : plat::EventType::kInformation;
    uint32_t id = static_cast<uint32_t>(std::strtoul(event.substr(2, blank - 2).c_str(), nullptr, 10));
    answers += ui.WriteEventLog("QZBACKUP", type, id, event.substr(blank + 1)) ? " 1" : " 0";
  }
  std::printf("desktop visible %d, written%s\n", ui.DesktopVisible() ? 1 : 0, answers.c_str());
  return 0;
}
