@echo off
rem Example backup job for QZBACKUP.EXE, with robocopy: keeps generations of
rem the shared root in TARGET, a full copy after each FULL run and, after each
rem PARTIAL run, an incremental one with the files changed since. robocopy /M
rem copies only the files that carry the archive attribute and clears it for
rem each file copied: that is how QZBACKUP.EXE learns that the backup has
rem taken a file. Unlike xcopy, robocopy tries a file in use again and takes
rem hidden files too. GENCOPY.BAT beside this file does the work and says how;
rem DEPLOY.TXT says how to restore.
rem
rem Fill in TARGET, a folder outside the shared root that holds nothing but
rem the generations (for example E:\VARNOLET-BACKUP or
rem \\BACKUPSERVER\VARNOLET), and KEEP_FULL, the number of full generations
rem to keep, each with the incremental ones after it (empty: keep them all).
rem Keep this file in UTILS\QZBACKUP\ and name it, with its full path, as the
rem backup command of QZBACKUP.EXE in the task (see DEPLOY.TXT); the task's
rem QZTASK.BAT tells the job whether the run is FULL or PARTIAL.
setlocal
set "TARGET=[[TARGET_FOLDER]]"
set "KEEP_FULL=4"
"%~dp0GENCOPY.BAT" robocopy
