// QZBACKUP's own routines: the main sequence of a backup run, the scan for
// files that still carry the archive attribute, and the marking of the tree.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/runtime/runtime.h"

namespace monitor {

inline constexpr char kTitle[] = "Varnolet - Backup monitor";
inline constexpr char kRootMarker[] = "UTILS\\QZTSTDIR\\QZTSTDIR.CHK";
inline constexpr char kCompletedFile[] = "UTILS\\QZBACKUP\\QZBACKUP.OK";
inline constexpr char kTestFile[] = "UTILS\\QZBACKUP\\QZBACKUP.TST";
inline constexpr char kLockdownFailure[] = "AUTORUN.ERR";

// The whole run: BackupCommand, BackupMode, BackupMinutes, LockdownItem1,
// LockdownItem2, LockdownMinutes and LocalFolder are parameters 1 to 7.
void MAIN(const rt::Parameters& parameters);

// True while some listed file at or below the folder `prefix` (empty or
// ending with a backslash; NIL is the current folder) carries the archive
// attribute. Depth first in listing order; stops at the first such file.
bool BACKUPINPROGRESS(const rt::Value& prefix = rt::NIL, rt::Here caller = rt::Here::current());

// Gives every listed file at or below `prefix` that lacks the archive
// attribute the archive attribute alone, through the bound SetFileAttributesA.
void MARKFILES(const rt::Value& setAttributes, const rt::Value& prefix = rt::NIL,
               rt::Here caller = rt::Here::current());

// What the last walks met, for the run log; their results stay as they are.
struct WalkRecord {
  std::string flaggedFile;  // the flagged file that ended the last scan that found one
  uint32_t marked = 0;          // the files that the marking gave the archive attribute
  uint32_t alreadyFlagged = 0;  // the files it left alone: they carried it already
  uint32_t failed = 0;          // the attribute calls that failed
  std::string firstFailure;     // the path of the first of them
  uint32_t firstFailureError = 0;  // and its Windows error number
  std::string firstDenied;      // the first file the run's account may not change
};
WalkRecord& LastWalks();

// Ends the run through MYERROR once the platform has caught a stop request
// (SIGTERM, SIGINT or SIGHUP on POSIX): "BACKUP RUN STOPPED BY " and the
// signal's name, with exit code 128 + its number, as a shell reports a
// program that the signal ended. The waits call it after their pauses (a
// stop request ends a pause) and the walks before each entry, so that the
// backup wait notices it in its next scan. The run has asked for the
// lock-down by the time anything calls it, so the lock-down is released.
void EndIfStopped();

// The millisecond counter as an unsigned number, 0 to 4294967295.
rt::Value QZGETTICKCOUNT(rt::Here caller = rt::Here::current());

}  // namespace monitor
