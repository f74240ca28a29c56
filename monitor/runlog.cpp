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
// A run's last line is one of these three; the third is written by the next
// run, before its own first line, for a run that never wrote either of the others.
constexpr char kCompleted[] = "Run completed";
constexpr char kFailed[] = "Run failed: ";
constexpr char kUnfinished[] = "Run did not finish: started ";
constexpr size_t kStampLength = 18;  // "mm/dd/yy hh:mm:ss "
constexpr size_t kMaxText = 1024;    // a longer text is cut, so that one event stays one line
constexpr uint32_t kKeptAttributes = plat::kAttrReadOnly | plat::kAttrSystem | plat::kAttrArchive |
                                     plat::kAttrTemporary | plat::kAttrOffline |
                                     plat::kAttrNotContentIndexed;

bool running = false;
bool linkLogged = false;  // a link out of the root has been named in this run

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

bool TextIs(const std::string& log, size_t line, std::string_view prefix) {
  size_t text = line + kStampLength;
  return text <= log.size() && log.compare(text, prefix.size(), prefix) == 0;
}

bool IsRunStart(const std::string& log, size_t line) { return TextIs(log, line, kRunStart); }

size_t NextLine(const std::string& log, size_t line) {
  size_t end = log.find("\r\n", line);
  return end == std::string::npos ? log.size() : end + 2;
}

// The log's last bytes, at most kMostRead of them, and where they begin in
// the log: a log larger than that, which this code never lets grow, is read
// only from there on. The first whole line of `tail` is at FirstLine.
struct Tail {
  std::string bytes;
  uint64_t from = 0;
};

bool ReadTail(plat::File& file, Tail& tail) {
  constexpr uint64_t kMostRead = 16 * kRunLogLimit;
  uint64_t size = 0;
  if (!file.Size(size)) return false;
  tail.from = size > kMostRead ? size - kMostRead : 0;
  tail.bytes.assign(static_cast<size_t>(size - tail.from), '\0');
  uint32_t done = 0;
  uint32_t count = static_cast<uint32_t>(tail.bytes.size());
  return file.Seek(static_cast<int64_t>(tail.from), plat::SeekOrigin::kBegin) &&
         file.Read(tail.bytes.data(), count, done) && done == count;
}

// A tail read from inside the log may begin with a piece of a line.
size_t FirstLine(const Tail& tail) { return tail.from == 0 ? 0 : NextLine(tail.bytes, 0); }

// Past the limit, moves the newest runs to the front: the oldest whole runs
// are dropped until the rest fits, but the newest run is always kept whole.
// Whatever stands before the first run (a foreign or damaged file) goes first.
void DropOldestRuns(plat::File& file) {
  Tail read;
  if (!ReadTail(file, read)) return;
  const std::string& tail = read.bytes;
  const uint64_t from = read.from;
  uint32_t done = 0;
  size_t keep = std::string::npos;
  for (size_t line = FirstLine(read); line < tail.size(); line = NextLine(tail, line)) {
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

void Append(const std::string& lines) {
  plat::FileSystem& files = rt::Os().files;
  uint32_t attributes = files.GetAttributes(kRunLogFile);
  std::unique_ptr<plat::File> file =
      files.Open(kRunLogFile, plat::kReadWrite, plat::kShareRead, plat::Disposition::kOpenAlways);
  if (!file) return;
  uint64_t end = 0;
  uint32_t done = 0;
  uint32_t length = static_cast<uint32_t>(lines.size());
  if (file->Seek(0, plat::SeekOrigin::kEnd, &end) && file->Write(lines.data(), length, done) &&
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

// Appends whole lines; the last error stays what it was.
void Write(const std::string& lines) {
  uint32_t error = plat::LastError();
  Append(lines);
  plat::SetLastError(error);
}

std::string Seconds(uint64_t seconds) { return std::to_string(seconds) + " s"; }

// What a new run must write before its first line, read from the log's
// end: the end of a last line that a power loss cut off, so that the run's
// lines begin lines of their own, and, when the log's last run has no last
// line (a restart, a power loss or a kill cut it off), a line that says so.
std::string WhatTheLastRunLeftOpen() {
  std::unique_ptr<plat::File> file = rt::Os().files.Open(
      kRunLogFile, plat::kRead, plat::kShareRead | plat::kShareWrite,
      plat::Disposition::kOpenExisting);
  Tail read;
  if (!file || !ReadTail(*file, read) || read.bytes.empty()) return "";
  const std::string& log = read.bytes;
  std::string lines = log.ends_with("\r\n") ? "" : log.back() == '\r' ? "\n" : "\r\n";
  size_t lastRun = std::string::npos;
  bool finished = false;
  for (size_t line = FirstLine(read); line < log.size(); line = NextLine(log, line)) {
    if (IsRunStart(log, line)) {
      lastRun = line;
      finished = false;
    } else if (TextIs(log, line, kCompleted) || TextIs(log, line, kFailed)) {
      finished = true;
    }
  }
  if (lastRun != std::string::npos && !finished) {
    lines += LineOf(kUnfinished + log.substr(lastRun, kStampLength - 1));
  }
  return lines;
}

}  // namespace

RunLog::RunLog(const rt::Parameters& parameters) {
  running = true;
  linkLogged = false;
  uint32_t error = plat::LastError();
  std::string lines = WhatTheLastRunLeftOpen();
  std::string folder;
  bool known = rt::Os().files.GetCurrentFolder(folder);
  plat::SetLastError(error);
  std::string text = std::string(kRunStart) + " in " + (known ? folder : "?") + ":";
  for (int position = 1; position <= parameters.Count(); ++position) {
    text += " " + parameters[position].Text();
  }
  Write(lines + LineOf(text));
}

RunLog::~RunLog() { running = false; }

void LogEvent(std::string_view text) {
  if (running) Write(LineOf(text));
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
  if (!walk.firstDenied.empty()) {
    LogEvent("Marking could not change " + walk.firstDenied +
             ": the run's account needs write access to every file of the shared root");
  }
}

void LogLinkOutOfTheRoot(std::string_view path) {
  if (!running || linkLogged) return;
  linkLogged = true;
  LogEvent("Link " + std::string(path) + " leads out of the shared root: not followed");
}

void LogBackupRunning(uint64_t seconds, bool timedOut) {
  LogEvent((timedOut ? "Backup timed out after " : "Backup running for ") + Seconds(seconds) +
           ", first flagged file " + LastWalks().flaggedFile);
}

void LogBackupJobEnded(uint32_t exitCode, uint64_t seconds, bool flagged) {
  LogEvent("Backup job ended with exit code " + std::to_string(exitCode) + " after " +
           Seconds(seconds) +
           (flagged ? ", first flagged file " + LastWalks().flaggedFile : ", no file flagged"));
}

void LogBackupDone(uint64_t seconds) {
  LogEvent("Backup done after " + Seconds(seconds) + ": no file carries the archive attribute");
}

void LogOutcome(const rt::Value& failureText) {
  if (failureText.IsNil()) {
    LogEvent(kCompleted);
    return;
  }
  const std::string& text = failureText.Text();
  LogEvent(kFailed + text.substr(0, text.find_first_of("\r\n")));
}

}  // namespace monitor
