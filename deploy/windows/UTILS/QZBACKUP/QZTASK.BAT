@echo off
rem Runs QZBACKUP.EXE for the scheduled task and ends with an exit code that
rem tells the truth, so that the task's "Last Run Result" shows a failed night
rem (QZBACKUP.EXE itself always ends with 0):
rem
rem   0  this run completed: it left UTILS\QZBACKUP\QZBACKUP.OK
rem   1  this run failed: it left UTILS\QZBACKUP\QZBACKUP.ERR with the reason
rem   2  this run left no status file: it did not start (the reason is in the
rem      Application event log, source QZBACKUP, event 102) or it was cut off
rem
rem Keep this file beside QZBACKUP.EXE and give it the monitor's parameters
rem (see DEPLOY.TXT). The shared root is two folders above this file: the
rem monitor runs there whatever the task's start folder, which cmd.exe cannot
rem keep when it is a UNC path; pushd gives a UNC path a temporary drive.
rem
rem The mode may also be FULL-<day>, such as FULL-SUNDAY: FULL on that day of
rem the week and PARTIAL on the others. A task runs the same command whatever
rem trigger starts it, so the weekly full run and the nightly incremental
rem ones of one task are told apart here. The backup job, which QZBACKUP.EXE
rem starts without arguments, inherits through it what this file sets:
rem
rem   QZBACKUP_MODE   FULL or PARTIAL, the mode as QZBACKUP.EXE takes it
rem   QZBACKUP_STAMP  the run's start, yyyymmdd-hhmmss (the example jobs
rem                   name their generations with it)
setlocal
pushd "%~dp0..\.."
if not exist "UTILS\QZBACKUP\%~nx0" exit /b 2

call :read_clock
set "MODE=%~2"
set "FULL_DAY="
if defined WEEKDAY for %%D in (SUNDAY MONDAY TUESDAY WEDNESDAY THURSDAY FRIDAY SATURDAY) do (
  if /i "%MODE%"=="FULL-%%D" set "FULL_DAY=%%D"
)
if defined FULL_DAY set "MODE=PARTIAL"
if defined FULL_DAY if "%FULL_DAY%"=="%WEEKDAY%" set "MODE=FULL"
rem Whatever is not PARTIAL, QZBACKUP.EXE takes for FULL or refuses.
set "QZBACKUP_MODE=FULL"
if /i "%MODE%"=="PARTIAL" set "QZBACKUP_MODE=PARTIAL"

rem A status file that this run did not write must not count: the monitor's
rem first checks erase nothing. Both are erased first; one that cannot be
rem erased leaves this run's outcome unknown.
set "OUTCOME=2"
set "STALE="
del UTILS\QZBACKUP\QZBACKUP.OK 2>nul
del UTILS\QZBACKUP\QZBACKUP.ERR 2>nul
if exist UTILS\QZBACKUP\QZBACKUP.OK set "STALE=1"
if exist UTILS\QZBACKUP\QZBACKUP.ERR set "STALE=1"

rem A batch file waits for the program it starts, windowed ones included.
"%~dp0QZBACKUP.EXE" %1 %MODE% %3 %4 %5 %6 %7 %8 %9

if not defined STALE if exist UTILS\QZBACKUP\QZBACKUP.ERR set "OUTCOME=1"
if not defined STALE if exist UTILS\QZBACKUP\QZBACKUP.OK set "OUTCOME=0"
popd
exit /b %OUTCOME%

:read_clock
rem Sets QZBACKUP_STAMP and WEEKDAY from the clock through QZCLOCK.JS beside
rem this file, or neither. Without Windows Script Host (a policy may turn it
rem off) a FULL-<day> run fails with INVALID BACKUP MODE, and the example
rem jobs refuse a run without a stamp. Only the script's own line counts,
rem not a message of Windows Script Host.
set "QZBACKUP_STAMP="
set "WEEKDAY="
for /f "tokens=1-3" %%A in ('cscript //nologo "%~dp0QZCLOCK.JS" 2^>nul') do (
  if "%%A"=="QZCLOCK" set "QZBACKUP_STAMP=%%B"
  if "%%A"=="QZCLOCK" set "WEEKDAY=%%C"
)
exit /b
