#include "monitor/report.h"

#include "monitor/eventlog.h"
#include "monitor/runlog.h"

namespace monitor {

namespace {

// A number as text without leading blanks.
rt::Value NumberText(const rt::Value& number) { return rt::LTRIM(rt::STR(number)); }

}  // namespace

void WriteStatusFile(const rt::Value& path, const rt::Value& text, rt::Here caller) {
  rt::SET(rt::ALTERNATE_FILE, path, false, caller);
  rt::SET(rt::ALTERNATE_OUTPUT, "ON", rt::NIL, caller);
  rt::SET(rt::CONSOLE_OUTPUT, "OFF", rt::NIL, caller);
  rt::QOUT(text, caller);
  rt::SET(rt::ALTERNATE_FILE, rt::NIL, rt::NIL, caller);
}

void MYERROR(const rt::Value& text, const rt::Value& keep, rt::Here caller) {
  rt::Activation self("MYERROR", caller);
  // An error file that cannot be created must not re-enter the report: it
  // would fail the same way until the nesting limit ended the program with
  // LOCKDOWN.SYS still in place, locking the users out. While the files are
  // written, such an error gives up that one file instead.
  rt::ERRORBLOCK(rt::Block([](rt::Arguments) -> rt::Value { return false; }));
  WriteStatusFile(kRootErrorFile, text);
  WriteStatusFile(kStatusErrorFile, text);
  LogOutcome(text);
  ReportRun(RunEvent::kFailed, text.Text());
  if (rt::EMPTY(keep)) rt::FERASE(kLockdownFlag);
  rt::QUIT();
}

void ERRORSYS() {
  rt::Activation self("ERRORSYS");
  rt::ERRORBLOCK(rt::Block([](rt::Arguments error) -> rt::Value { DEFERROR(error[0]); }));
}

void DEFERROR(const rt::Value& error, rt::Here caller) {
  rt::Activation self("DEFERROR", caller);
  static const rt::Error kNoRecord;
  const rt::Error& record = error.AsError() ? *error.AsError() : kNoRecord;
  const rt::Value lineBreak = "\r\n";
  rt::Value report = rt::Value("RUNTIME ERROR") + lineBreak + lineBreak + "Called from: " +
                     GETCALLTRACE() + lineBreak;
  report = report + "Main system: " + NumberText(record.genCode) + " - " + record.description +
           lineBreak;
  report = report + "Sub-System: " + NumberText(record.subCode) + " - " + record.subSystem +
           lineBreak;
  report = report + "O/S code: " + NumberText(record.osCode) + lineBreak;
  report = report + "Operation: " + record.operation;
  MYERROR(report);
}

rt::Value GETCALLTRACE(rt::Here caller) {
  rt::Activation self("GETCALLTRACE", caller);
  // Level 0 is this routine and level 1 DEFERROR; the trace starts with the
  // handler's level.
  rt::Value trace = "";
  for (int level = 2;; ++level) {
    rt::Value name = rt::PROCNAME(level);
    if (rt::EMPTY(name)) break;
    trace = trace + name + "(" + NumberText(rt::PROCLINE(level)) + ") ";
  }
  return trace;
}

}  // namespace monitor
