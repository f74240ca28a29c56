#include "monitor/eventlog.h"

#include <string>

#include "monitor/runtime/runtime.h"

namespace monitor {

void ReportRun(RunEvent event, std::string_view text) {
  uint32_t error = plat::LastError();
  plat::UserInterface& ui = rt::Os().ui;
  std::string folder;
  bool known = rt::Os().files.GetCurrentFolder(folder);
  std::string message = "Backup run in " + (known ? folder : std::string("?"));
  switch (event) {
    case RunEvent::kCompleted:
      message += " completed";
      break;
    case RunEvent::kFailed:
      message += " failed: " + std::string(text.substr(0, text.find_first_of("\r\n")));
      break;
    case RunEvent::kNotStarted:
      message += " not started: " + std::string(text);
      break;
  }
  plat::EventType type =
      event == RunEvent::kCompleted ? plat::EventType::kInformation : plat::EventType::kError;
  ui.WriteEventLog(kEventSource, type, static_cast<uint32_t>(event), message);
  plat::SetLastError(error);
}

}  // namespace monitor
