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
setlocal
pushd "%~dp0..\.."
if not exist "UTILS\QZBACKUP\%~nx0" exit /b 2

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
"%~dp0QZBACKUP.EXE" %*

if not defined STALE if exist UTILS\QZBACKUP\QZBACKUP.ERR set "OUTCOME=1"
if not defined STALE if exist UTILS\QZBACKUP\QZBACKUP.OK set "OUTCOME=0"
popd
exit /b %OUTCOME%
