// The run's event in the Windows Application event log, where administrators
// and their monitoring look: every run leaves one, under one source and a
// fixed event ID for each outcome. Like the run log it is best effort: an
// event that cannot be written changes nothing, not even the last error.
#pragma once

#include <cstdint>
#include <string_view>

namespace monitor {

inline constexpr char kEventSource[] = "QZBACKUP";

// The IDs lie between 1 and 1000, the messages that eventcreate's own
// message file holds, so that a source registered with eventcreate shows
// the text.
enum class RunEvent : uint32_t {
  kCompleted = 100,   // information
  kFailed = 101,      // error: the first line of the failure text
  kNotStarted = 102,  // error: the usage, root or status-folder text
};

// Writes the event of this run: "Backup run in <current folder> completed",
// "... failed: <the first line of `text`>" or "... not started: <text>".
void ReportRun(RunEvent event, std::string_view text = {});

}  // namespace monitor
