@echo off
rem Example backup job for QZBACKUP.EXE, with xcopy: copies every file of the
rem shared root that carries the archive attribute to TARGET, keeping the
rem folders, and clears the attribute of each file it copied (/M). That is how
rem QZBACKUP.EXE learns that the backup has taken a file.
rem
rem Fill in TARGET, a folder outside the shared root (for example
rem E:\VARNOLET-BACKUP or \\BACKUPSERVER\VARNOLET), keep this file in
rem UTILS\QZBACKUP\ and name it, with its full path, as the backup command
rem of QZBACKUP.EXE (see DEPLOY.TXT).
rem
rem   /S  sub-folders too      /M  only files with the archive attribute, clearing it
rem   /I  TARGET is a folder   /C  go on after a file that cannot be copied
rem   /Y  overwrite            /Q  do not list the files
set "TARGET=[[TARGET_FOLDER]]"

rem The shared root is two folders above this file. cmd.exe cannot keep a UNC
rem path as its current folder, so the job changes there itself; pushd gives a
rem UNC path a temporary drive letter.
pushd "%~dp0..\.." || exit /b 1
xcopy . "%TARGET%\" /S /M /I /C /Y /Q
popd
