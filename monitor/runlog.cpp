// The run log. It works on the platform directly rather than through the
// run-time's operations: it must not take part in the call trace, touch the
// alternate output that the status files use, or change the last error that
// a failure report reads.
#include "monitor/runlog.h"

#include <cstdio>
#include <memory>

#include "monitor/backup.h"

namespace monitor {

namespace {

constexpr char kRunStart[] = "Backup run started";
constexpr size_t kStampLength = 18;  // "mm/dd/yy hh:mm:ss "
constexpr size_t kMaxText = 1024;    // a longer text is cut, so that one event stays one line
constexpr uint32_t kKeptAttributes = plat::kAttrReadOnly | plat::kAttrSystem | plat::kAttrArchive |
                                     plat::kAttrTemporary | plat::kAttrOffline |
                                     plat::kAttrNotContentIndexed;

bool running = false;

std::string Stamp() {
  plat::CalendarTime now = rt::Os().clock.LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d ", now.month % 100,
                now.day % 100, now.year % 100, now.hour % 100, now.minute % 100,
                now.second % 100);
  return stamp;
}

std::string LineOf(std::string_view text) {
  std::string line = Stamp();
  for (char c : text.substr(0, kMaxText)) {
    unsigned char byte = static_cast<unsigned char>(c);
    line += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  if (text.size() > kMaxText) line += "...";
  return line + "\r\n";
}

bool IsRunStart(const std::string& log, size_t line) {
  size_t text = line + kStampLength;
  return text <= log.size() && log.compare(text, sizeof kRunStart - 1, kRunStart) == 0;
}

size_t NextLine(const std::string& log, size_t line) {
  size_t end = log.find("\r\n", line);
  return end == std::string::npos ? log.size() : end + 2;
}

// Past the limit, moves the newest runs to the front: the oldest whole runs
// are dropped until the rest fits, but the newest run is always kept whole.
// Only the last kMostRead bytes are read: a log larger than that, which this
// code never lets grow, keeps only the runs that begin in them.
void DropOldestRuns(plat::File& file) {
  constexpr uint64_t kMostRead = 16 * kRunLogLimit;
  uint64_t size = 0;
  if (!file.Size(size)) return;
  uint64_t from = size > kMostRead ? size - kMostRead : 0;
  std::string tail(static_cast<size_t>(size - from), '\0');
  uint32_t done = 0;
  if (!file.Seek(static_cast<int64_t>(from), plat::SeekOrigin::kBegin) ||
      !file.Read(tail.data(), static_cast<uint32_t>(tail.size()), done) || done != tail.size()) {
    return;
  }
  // A tail read from inside the log may begin with a piece of a line.
  size_t keep = std::string::npos;
  size_t first = from == 0 ? 0 : NextLine(tail, 0);
  for (size_t line = first; line < tail.size(); line = NextLine(tail, line)) {
    if (!IsRunStart(tail, line)) continue;
    keep = line;
    if (tail.size() - line <= kRunLogLimit) break;
  }
  if (keep == std::string::npos || from + keep == 0) return;
  uint32_t kept = static_cast<uint32_t>(tail.size() - keep);
  if (file.Seek(0, plat::SeekOrigin::kBegin) && file.Write(tail.data() + keep, kept, done) &&
      done == kept) {
    file.Truncate(kept);
  }
}

void Append(const std::string& line) {
  plat::FileSystem& files = rt::Os().files;
  uint32_t attributes = files.GetAttributes(kRunLogFile);
  std::unique_ptr<plat::File> file =
      files.Open(kRunLogFile, plat::kReadWrite, plat::kShareRead, plat::Disposition::kOpenAlways);
  if (!file) return;
  uint64_t end = 0;
  uint32_t done = 0;
  uint32_t length = static_cast<uint32_t>(line.size());
  if (file->Seek(0, plat::SeekOrigin::kEnd, &end) && file->Write(line.data(), length, done) &&
      done == length && end + length > kRunLogLimit) {
    DropOldestRuns(*file);
  }
  file.reset();
  // Hidden when it is new, and again when someone has made it visible.
  if (attributes == plat::kInvalidAttributes) {
    files.SetAttributes(kRunLogFile, plat::kAttrHidden | plat::kAttrArchive);
  } else if (!(attributes & plat::kAttrHidden)) {
    files.SetAttributes(kRunLogFile, (attributes & kKeptAttributes) | plat::kAttrHidden);
  }
}

void Write(std::string_view text) {
  uint32_t error = plat::LastError();
  Append(LineOf(text));
  plat::SetLastError(error);
}

std::string Seconds(uint64_t seconds) { return std::to_string(seconds) + " s"; }

}  // namespace

RunLog::RunLog(const rt::Parameters& parameters) {
  running = true;
  std::string folder;
  bool known = rt::Os().files.GetCurrentFolder(folder);
  std::string text = std::string(kRunStart) + " in " + (known ? folder : "?") + ":";
  for (int position = 1; position <= parameters.Count(); ++position) {
    text += " " + parameters[position].Text();
  }
  Write(text);
}

RunLog::~RunLog() { running = false; }

void LogEvent(std::string_view text) {
  if (running) Write(text);
}

void LogSettings(const rt::Value& mode, const rt::Value& givenMode, const rt::Value& command,
                 const rt::Value& backupMinutes, const rt::Value& lockdownMinutes,
                 const rt::Value& localFolder) {
  std::string given = mode == givenMode ? "" : " (given as " + givenMode.Text() + ")";
  LogEvent("Mode " + mode.Text() + given + ", backup command " + command.Text() +
           ", backup minutes " + backupMinutes.Text() + ", lock-down minutes " +
           lockdownMinutes.Text() + ", local folder " + localFolder.Text());
}

void LogStart(std::string_view what, const rt::Value& commandLine, const rt::Value& result,
              bool started) {
  LogEvent(std::string(what) + (started ? " started: " : " could not be started: ") +
           commandLine.Text() + " (result " + std::to_string(rt::ToInt32(result)) + ")");
}

void LogLockdownInForce(uint64_t seconds) {
  LogEvent("Lock-down in force after " + Seconds(seconds));
}

void LogLockdownRefused(uint64_t seconds, const rt::Value& reason) {
  LogEvent("Lock-down refused after " + Seconds(seconds) + ": " + reason.Text());
}

void LogLockdownTimeout(uint64_t seconds) {
  LogEvent("No lock-down after " + Seconds(seconds));
}

void LogMarking(uint64_t seconds) {
  const WalkRecord& walk = LastWalks();
  std::string failures = std::to_string(walk.failed) + " failed";
  if (walk.failed) {
    failures += " (first " + walk.firstFailure + ", error " +
                std::to_string(walk.firstFailureError) + ")";
  }
  LogEvent("Marking: " + std::to_string(walk.marked) + " files marked, " +
           std::to_string(walk.alreadyFlagged) + " already flagged, " + failures + ", " +
           Seconds(seconds));
}

void LogBackupRunning(uint64_t seconds, bool timedOut) {
  LogEvent((timedOut ? "Backup timed out after " : "Backup running for ") + Seconds(seconds) +
           ", first flagged file " + LastWalks().flaggedFile);
}

void LogBackupDone(uint64_t seconds) {
  LogEvent("Backup done after " + Seconds(seconds) + ": no file carries the archive attribute");
}

void LogOutcome(const rt::Value& failureText) {
  if (failureText.IsNil()) {
    LogEvent("Run completed");
    return;
  }
  const std::string& text = failureText.Text();
  LogEvent("Run failed: " + text.substr(0, text.find_first_of("\r\n")));
}

}  // namespace monitor
