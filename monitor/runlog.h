// The run log, UTILS\QZBACKUP\QZBACKUP.LOG: what each backup run did, one
// line per event, so that the morning after a failed night tells why. Each
// line is the local date and time ("mm/dd/yy hh:mm:ss"), a blank and the
// text, CR LF ended; a run's lines begin with the one its RunLog writes and
// end with "Run completed" or "Run failed: <text>". A run that a restart or
// a power loss cut off has neither: the next run first adds "Run did not
// finish: started <its first line's date and time>" to it, and ends a last
// line that was cut off, so that every line begins a line of its own.
//
// The log is best effort: a log that cannot be opened or written is left
// out, silently, and nothing the run does or leaves behind depends on it. It
// carries the hidden attribute, so that the scan and the marking never list
// it: on Windows every write gives a file the archive attribute, and a
// visible log written during the backup wait would keep the wait going.
// Past 64 KiB the oldest whole runs are dropped, and anything before the
// first run (a foreign or damaged file); the newest run stays whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/runtime/runtime.h"

namespace monitor {

inline constexpr char kRunLogFile[] = "UTILS\\QZBACKUP\\QZBACKUP.LOG";
inline constexpr uint64_t kRunLogLimit = 64 * 1024;

// The record of one run: made when the run's checks have shown that it runs
// in the shared root, it writes the run's first line (the current folder and
// the parameters as given); while it lives, the events below are logged.
class RunLog {
 public:
  explicit RunLog(const rt::Parameters& parameters);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
};

// Appends one event of the run in progress; outside a run nothing happens.
// Control characters in `text` become blanks, so that an event is one line.
void LogEvent(std::string_view text);

// The events of a run, in the order they happen. Seconds are whole seconds
// on the tick counter.
void LogSettings(const rt::Value& mode, const rt::Value& givenMode, const rt::Value& command,
                 const rt::Value& backupMinutes, const rt::Value& lockdownMinutes,
                 const rt::Value& localFolder);
void LogStart(std::string_view what, const rt::Value& commandLine, const rt::Value& result,
              bool started);
void LogLockdownInForce(uint64_t seconds);
void LogLockdownRefused(uint64_t seconds, const rt::Value& reason);
void LogLockdownTimeout(uint64_t seconds);
void LogMarking(uint64_t seconds);
void LogLinkOutOfTheRoot(std::string_view path);  // the first of a run only
void LogBackupRunning(uint64_t seconds, bool timedOut);
void LogBackupJobEnded(uint32_t exitCode, uint64_t seconds, bool flagged);
void LogBackupDone(uint64_t seconds);
void LogOutcome(const rt::Value& failureText);  // NIL: completed

}  // namespace monitor
