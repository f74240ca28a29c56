// The monitor's failure reports. Every failure of a run ends in MYERROR,
// which leaves the text in the two error status files, releases the
// lock-down and ends the program. Run-time errors reach it through the
// handler that ERRORSYS installs: DEFERROR turns the error record into a
// "RUNTIME ERROR" report with a call trace.
#pragma once

#include "monitor/runtime/runtime.h"

namespace monitor {

inline constexpr char kRootErrorFile[] = "QZBACKUP.ERR";
inline constexpr char kStatusErrorFile[] = "UTILS\\QZBACKUP\\QZBACKUP.ERR";
inline constexpr char kLockdownFlag[] = "LOCKDOWN.SYS";

// Writes a status file afresh: CR LF, the text and the end mark 0x1A. A file
// that cannot be created raises the run-time create error. The writing is
// the caller's own step: it opens no level of the call trace.
void WriteStatusFile(const rt::Value& path, const rt::Value& text,
                 rt::Here caller = rt::Here::current());

// Writes `text` to QZBACKUP.ERR in the root and in UTILS\QZBACKUP, erases
// LOCKDOWN.SYS unless `keep` is a non-empty value, and quits. An error file
// that cannot be created is left out; the rest is still done.
[[noreturn]] void MYERROR(const rt::Value& text, const rt::Value& keep = rt::NIL,
                          rt::Here caller = rt::Here::current());

// Installs the run-time error handler, which passes the error record to DEFERROR.
void ERRORSYS();

// Reports a run-time error through MYERROR: "RUNTIME ERROR", an empty line,
// the call trace, then the general code, the subsystem, the system error and
// the operation of the record.
[[noreturn]] void DEFERROR(const rt::Value& error, rt::Here caller = rt::Here::current());

// The active levels outward from the caller of DEFERROR, each as its name,
// "(", its line and ") ".
rt::Value GETCALLTRACE(rt::Here caller = rt::Here::current());

}  // namespace monitor
