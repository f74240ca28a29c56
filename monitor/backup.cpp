// The main sequence of a backup run: checks, lock-down request and wait,
// marking (FULL), backup launch and wait, release and completion record.
#include <cstdint>

#include "monitor/backup.h"
#include "monitor/eventlog.h"
#include "monitor/report.h"
#include "monitor/runlog.h"

namespace monitor {

namespace {

constexpr int kHidden = 0;
constexpr int kMinute = 60 * 1000;
constexpr int kLockdownPoll = 15000;
constexpr int kBackupPoll = 60000;
constexpr int kSettleTime = 30000;
constexpr int kFirstFailure = 32;  // launch results below it are failures

// Measures the milliseconds since it was made on the counter of
// QZGETTICKCOUNT. The elapsed time grows by the unsigned 32-bit difference
// of each two readings, so a wait that spans the counter's restart at 2^32
// still ends after its stated time (the deadline as a plain sum on the
// counter's scale would lie beyond the restart and never be reached).
class Stopwatch {
 public:
  Stopwatch() : last_(Reading()) {}
  double Elapsed() {
    uint32_t now = Reading();
    elapsed_ += static_cast<uint32_t>(now - last_);
    last_ = now;
    return static_cast<double>(elapsed_);
  }
  uint64_t Seconds() { return static_cast<uint64_t>(Elapsed()) / 1000; }

 private:
  static uint32_t Reading() { return static_cast<uint32_t>(QZGETTICKCOUNT().AsDouble()); }
  uint32_t last_;
  uint64_t elapsed_ = 0;
};

// The run cannot start: the text goes to the event log and, where someone
// can see and close it, to a message box. Without a visible desktop (a task
// that runs whether the user is logged on or not) the box would hold the run
// until the task's time limit, so the run ends at once.
[[noreturn]] void ShowAndQuit(const char* text) {
  ReportRun(RunEvent::kNotStarted, text);
  if (rt::Os().ui.DesktopVisible()) rt::MESSAGEBOX(rt::NIL, text, kTitle);
  rt::QUIT();
}

}  // namespace

void EndIfStopped() {
  plat::StopRequest stop = rt::Os().processes.StopRequested();
  if (stop.signal == 0) return;
  rt::ERRORLEVEL(128 + stop.signal);
  MYERROR(rt::Value("BACKUP RUN STOPPED BY ") + stop.name);
}

namespace {

// Logs a launch of `program` by `commandLine`, and reports its failure.
void CheckLaunch(std::string_view what, const rt::Value& commandLine, const rt::Value& program,
                 const rt::Value& result) {
  bool started = !(result < kFirstFailure);
  LogStart(what, commandLine, result, started);
  if (!started) {
    MYERROR(rt::Value("#") + rt::LTRIM(rt::STR(result)) + " - WINEXEC() FAILED TO LAUNCH " + program);
  }
}

}  // namespace

rt::Value QZGETTICKCOUNT(rt::Here caller) {
  rt::Activation self("QZGETTICKCOUNT", caller);
  rt::Value tick = rt::GETTICKCOUNT();
  if (tick < 0) tick = tick + 4294967296.0;
  return tick;
}

void MAIN(const rt::Parameters& parameters) {
  rt::Activation self("MAIN");
  const rt::Value& backupCommand = parameters[1];
  const rt::Value& backupMode = parameters[2];
  const rt::Value& backupMinutes = parameters[3];
  const rt::Value& lockdownItem1 = parameters[4];
  const rt::Value& lockdownItem2 = parameters[5];
  rt::Value lockdownMinutes = parameters[6];
  rt::Value localFolder = parameters[7];

  // Usage, root and status-folder checks: the only messages a person sees.
  if (rt::PCOUNT(parameters) < 5) {
    ShowAndQuit("Please see UTILS\\QZBACKUP\\README.TXT for details\r\n\r\n"
                "Note: This is NOT backup software");
  }
  if (!rt::FILE(kRootMarker)) ShowAndQuit("Run from the ROOT of the Varnolet folder on the file server");
  rt::FERASE(kStatusErrorFile);
  rt::FERASE(kRootErrorFile);
  rt::FERASE(kCompletedFile);
  rt::FERASE(kLockdownFailure);
  if (rt::FILE(kStatusErrorFile) || rt::FILE(kCompletedFile)) {
    ShowAndQuit("Could not create/delete files in UTILS\\QZBACKUP\\");
  }
  RunLog log(parameters);

  // Pre-checks; from here on every failure goes to the error status files.
  if (rt::FILE(kLockdownFailure) || rt::FILE(kRootErrorFile)) {
    MYERROR("COULD NOTE DELETE AUTORUN.ERR OR QZBACKUP.ERR");  // callers match this text
  }
  if (rt::EMPTY(backupCommand) || rt::EMPTY(backupMode) || rt::EMPTY(backupMinutes) ||
      rt::VAL(backupMinutes) < 1 || rt::EMPTY(lockdownItem1) || rt::EMPTY(lockdownItem2)) {
    MYERROR("MISSING COMMAND LINE PARAMETERS");
  }
  const rt::Value mode = rt::UPPER(rt::ALLTRIM(backupMode));
  if (!rt::IN(mode, "FULL|PARTIAL")) MYERROR("INVALID BACKUP MODE");
  if (rt::FILE(kLockdownFlag)) MYERROR("THE SYSTEM IS ALREADY LOCKED-DOWN - CANNOT CONTINUE", true);

  if (rt::EMPTY(localFolder)) localFolder = "C:\\_$MERIXA";
  if (rt::EMPTY(lockdownMinutes) || rt::VAL(lockdownMinutes) < 1) {
    lockdownMinutes = 10;
  } else {
    lockdownMinutes = rt::VAL(lockdownMinutes);
  }

  // The lock-down request, through the launcher, to the application.
  const rt::Value minutesText = rt::LTRIM(rt::STR(lockdownMinutes));
  LogSettings(mode == "PARTIAL" ? "PARTIAL" : "FULL", mode, backupCommand,
              rt::LTRIM(rt::STR(rt::VAL(backupMinutes))), minutesText, localFolder);

  rt::Value request = rt::Value("QZSTART.EXE ") + localFolder + " \"" + rt::TRIM(lockdownItem1) +
                      "," + rt::TRIM(lockdownItem2) + ",LOCKDOWN," + minutesText + "\"";
  rt::Value launched = rt::WINEXEC(request, kHidden);
  CheckLaunch("Lock-down request", request, "QZSTART.EXE", launched);

  // The application is given one minute more than it was told.
  Stopwatch lockdownWait;
  const rt::Value lockdownLimit = (lockdownMinutes + 1) * kMinute;
  while (!rt::FILE(kLockdownFlag) && !rt::FILE(kLockdownFailure) &&
         lockdownWait.Elapsed() < lockdownLimit.AsDouble()) {
    rt::YIELDCPU(kLockdownPoll);
    EndIfStopped();
  }
  if (rt::FILE(kLockdownFailure)) {
    rt::Value reason = rt::MEMOREAD(kLockdownFailure);
    LogLockdownRefused(lockdownWait.Seconds(), reason);
    MYERROR(rt::Value("ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\n") + reason);
  }
  if (!rt::FILE(kLockdownFlag)) {
    LogLockdownTimeout(lockdownWait.Seconds());
    MYERROR("TIMEOUT WAITING FOR SYSTEM LOCK-DOWN");
  }
  LogLockdownInForce(lockdownWait.Seconds());

  // FULL: every file gets the archive attribute, so that the backup takes it.
  if (!(mode == "PARTIAL")) {
    rt::Value kernel = rt::LOADLIBRARY("KERNEL32.DLL");
    if (rt::EMPTY(kernel)) MYERROR("FAILED TO LOAD KERNEL32.DLL");
    rt::Value setAttributes =
        rt::GETPROCADDRESS(kernel, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
    if (rt::EMPTY(setAttributes)) MYERROR("FAILED TO LOCATE SetFileAttributes");
    Stopwatch marking;
    LastWalks() = {};
    MARKFILES(setAttributes);
    LogMarking(marking.Seconds());
    rt::FREELIBRARY(kernel);
  }

  // The test file: created empty, so it holds the end mark alone and carries
  // the archive attribute until the backup has taken it.
  rt::SET(rt::ALTERNATE_FILE, kTestFile, false);
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);

  // The job is kept hold of, so that its end is seen.
  rt::StartedProgram job;
  launched = rt::WINEXEC(backupCommand, kHidden, job);
  CheckLaunch("Backup job", backupCommand, backupCommand, launched);

  // The backup is done when no file carries the archive attribute any more.
  Stopwatch backupWait;
  const rt::Value backupLimit = rt::VAL(backupMinutes) * kMinute;
  uint32_t exitCode = 0;
  bool endLogged = false;
  // The job's end is logged once, with the first file still flagged then.
  auto jobEnded = [&](bool flagged) {
    if (!job.Ended(exitCode)) return false;
    if (!endLogged) LogBackupJobEnded(exitCode, backupWait.Seconds(), flagged);
    endLogged = true;
    return true;
  };
  while (BACKUPINPROGRESS()) {
    // A job that failed has not taken what is still flagged, and never will:
    // the run fails now rather than at its time limit. One that ended well
    // may have handed the work on, and is waited for.
    if (jobEnded(true) && exitCode != 0) {
      MYERROR(rt::Value("BACKUP JOB FAILED WITH EXIT CODE ") + rt::LTRIM(rt::STR(exitCode)));
    }
    bool timedOut = backupWait.Elapsed() > backupLimit.AsDouble();
    LogBackupRunning(backupWait.Seconds(), timedOut);
    if (timedOut) MYERROR("TIMEOUT WAITING FOR BACKUP TO COMPLETE");
    rt::COLLECTGARBAGE();
    job.Wait(kBackupPoll);  // the job's end, or a stop request, ends the pause
  }
  jobEnded(false);
  LogBackupDone(backupWait.Seconds());

  rt::YIELDCPU(kSettleTime);
  EndIfStopped();
  rt::FERASE(kLockdownFlag);
  WriteStatusFile(kCompletedFile,
                  rt::Value("COMPLETED ON ") + rt::DTOC(rt::DATE()) + " @ " + rt::TIME());
  LogOutcome(rt::NIL);
  ReportRun(RunEvent::kCompleted);
}

}  // namespace monitor
