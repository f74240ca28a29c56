@echo off
rem Makes one generation of the shared root for the example backup jobs
rem XCOPYJOB.BAT and ROBOJOB.BAT, which set TARGET and KEEP_FULL and hand
rem over to this file with the name of their copier, xcopy or robocopy.
rem
rem Generations. Each run copies the files that carry the archive attribute
rem into a new folder of TARGET: a FULL run, in which QZBACKUP.EXE has
rem flagged every file, makes full-<date>-<time>; a PARTIAL run makes
rem incremental-<date>-<time>, with the files changed since the generation
rem before it. Dates and times are yyyymmdd-hhmmss, so that the names sort
rem by time. The copy is made in full.new or incremental.new, and only a
rem whole copy gets its dated name: a half copy never counts as a generation.
rem While TARGET holds no full generation, a PARTIAL run makes one.
rem
rem The archive attribute. xcopy /M and robocopy /M clear the attribute of
rem each file that they have copied, and of no other file. That tells
rem QZBACKUP.EXE that the backup has the file, and a copy that fails leaves
rem every file that it did not take flagged for the next run. The next run
rem finishes the unfinished copy rather than start another, since the files
rem already in it are no longer flagged and have no other new copy: an
rem unfinished full copy stays full, and a FULL run makes an unfinished
rem incremental copy full.
rem
rem The budget. Once a new generation has its name, the job keeps the
rem KEEP_FULL newest full generations, each with the incremental ones after
rem it (a restore needs them), and removes every older generation. TARGET
rem needs room for one full generation more than it keeps. Folders of TARGET
rem with other names are left alone.
rem
rem QZBACKUP.EXE starts the job without arguments. QZTASK.BAT tells it the
rem run's mode and start through the environment, which the job inherits:
rem QZBACKUP_MODE (FULL or PARTIAL) and QZBACKUP_STAMP (yyyymmdd-hhmmss).
rem
rem Exit codes (DEPLOY.TXT says what each means for an administrator): 0
rem when the new generation is whole; xcopy's failures (4, 5) and
rem robocopy's (8 to 16); 20 a setting, 21 TARGET, 22 the clock, 23 the new
rem generation's name, 24 the budget. QZBACKUP.EXE fails the run at once,
rem with BACKUP JOB FAILED WITH EXIT CODE <n>, when the job ends with a code
rem other than 0 while files are still flagged.
rem
rem Once the copy is whole, the job flags the test file
rem UTILS\QZBACKUP\QZBACKUP.TST again until the new generation has its name
rem and the budget is kept: QZBACKUP.EXE holds the lock-down until then, and
rem sees a failure there (23, 24) although the copy left no file flagged.
setlocal
set "COPIER=%~1"
rem The shared root is two folders above this file. cmd.exe cannot keep a UNC
rem path as its current folder, so the job changes there itself; pushd gives a
rem UNC path a temporary drive letter.
pushd "%~dp0..\.."
if not exist "UTILS\QZBACKUP\%~nx0" exit /b 21
call :settings
if not errorlevel 1 call :generation
set "CODE=%errorlevel%"
popd
exit /b %CODE%

:settings
set "KIND="
if not defined TARGET exit /b 20
if "%TARGET:~0,2%"=="[[" exit /b 20
set "KEEP="
if defined KEEP_FULL set /a "KEEP=%KEEP_FULL%" 2>nul
rem Only a plain number above 0: set /a reads 010 as 8.
if defined KEEP_FULL if not "%KEEP%"=="%KEEP_FULL%" exit /b 20
if defined KEEP_FULL if %KEEP% LSS 1 exit /b 20
if /i "%QZBACKUP_MODE%"=="FULL" set "KIND=full"
if /i "%QZBACKUP_MODE%"=="PARTIAL" set "KIND=incremental"
if not defined KIND exit /b 20
call :stamp_of "full-%QZBACKUP_STAMP%"
if not defined STAMP exit /b 20
if /i not "%COPIER%"=="xcopy" if /i not "%COPIER%"=="robocopy" exit /b 20
exit /b 0

:generation
set "CODE=0"
call :each_generation refuse_if_not_older
if not %CODE%==0 exit /b %CODE%
rem Incremental generations are restored on top of a full one: while TARGET
rem has none, a PARTIAL run flags every file itself, as QZBACKUP.EXE does in
rem a FULL run, and makes the first full generation.
call :count_fulls
set "FIRST="
if %FULLS%==0 if %KIND%==incremental if not exist "%TARGET%\full.new\" set "FIRST=1"
if defined FIRST set "KIND=full"
if defined FIRST attrib +a /s * >nul 2>&1
if exist "%TARGET%\incremental.new\" if %KIND%==full ren "%TARGET%\incremental.new" full.new
if exist "%TARGET%\full.new\" set "KIND=full"
set "NEW=%TARGET%\%KIND%.new"
if not exist "%NEW%\" mkdir "%NEW%" 2>nul
if exist "%TARGET%\incremental.new\" if exist "%TARGET%\full.new\" exit /b 21
if not exist "%NEW%\" exit /b 21
call :%COPIER%
if errorlevel 1 exit /b %errorlevel%
attrib +a UTILS\QZBACKUP\QZBACKUP.TST >nul 2>&1
ren "%NEW%" "%KIND%-%QZBACKUP_STAMP%" 2>nul
if exist "%NEW%\" set "CODE=23"
if %CODE%==0 call :count_fulls
if %CODE%==0 if defined OLDEST call :each_generation remove_if_older
if %CODE%==0 attrib -a UTILS\QZBACKUP\QZBACKUP.TST >nul 2>&1
exit /b %CODE%

:xcopy
rem   /E  sub-folders, empty ones too   /M  only flagged files, clearing each
rem   /I  the target is a folder        /Y  overwrite (in an unfinished copy)
rem   /Q  no file names
rem Without /C, xcopy stops at the first file that it cannot copy and ends
rem with 4 or 5; with /C it would end with 0 as if it had taken every file.
rem Hidden and system files are left out, as QZBACKUP.EXE leaves them out.
rem Exit codes 0 (files copied) and 1 (no file to copy) are successes.
xcopy . "%NEW%\" /E /M /I /Y /Q
if errorlevel 2 exit /b %errorlevel%
exit /b 0

:robocopy
rem   /E  sub-folders, empty ones too   /M  only flagged files, clearing each
rem   /IS /IT  copy a flagged file even where an unfinished copy holds the
rem            same, so that its flag is cleared
rem   /R:2 /W:10  two more tries, ten seconds apart, for a file in use
rem   /NP /NFL /NDL  no progress, file or folder lines in the output
rem Exit codes below 8 are successes (1: files copied); 8 and above, failures.
robocopy . "%NEW%" /E /M /IS /IT /R:2 /W:10 /NP /NFL /NDL
if errorlevel 8 exit /b %errorlevel%
exit /b 0

:count_fulls
rem FULLS: the number of full generations; OLDEST: the date and time of the
rem KEEP_FULL-th newest, below which every generation goes.
set "FULLS=0"
set "OLDEST="
for /f "delims=" %%G in ('dir /b /ad /o-n "%TARGET%\full-*" 2^>nul') do call :count_full "%%G"
exit /b

:count_full
call :stamp_of "%~1"
if not defined STAMP exit /b
set /a FULLS+=1
if "%FULLS%"=="%KEEP%" set "OLDEST=%STAMP%"
exit /b

:remove_if_older
if not "%STAMP%" LSS "%OLDEST%" exit /b
rmdir /s /q "%TARGET%\%~1"
if exist "%TARGET%\%~1\" set "CODE=24"
exit /b

:refuse_if_not_older
if not "%STAMP%" LSS "%QZBACKUP_STAMP%" set "CODE=22"
exit /b

:each_generation
rem Calls the routine named first for each generation in TARGET, with its
rem name, and STAMP set to its date and time.
for /f "delims=" %%G in ('dir /b /ad "%TARGET%\full-*" "%TARGET%\incremental-*" 2^>nul') do call :each_stamped %1 "%%G"
exit /b

:each_stamped
call :stamp_of %2
if defined STAMP call :%1 %2
exit /b

:stamp_of
rem Sets STAMP to the date and time in a name of the form that this job
rem writes (full- or incremental-, then yyyymmdd-hhmmss), and to nothing for
rem any other name: every digit made a 9, the date and time must read
rem 99999999-999999.
set "STAMP="
set "SHAPE="
for /f "tokens=1-3 delims=-" %%A in ("%~1") do (
  if "%%A-%%B-%%C"=="%~1" if "%%A"=="full" set "SHAPE=%%B-%%C"
  if "%%A-%%B-%%C"=="%~1" if "%%A"=="incremental" set "SHAPE=%%B-%%C"
)
if not defined SHAPE exit /b
set "DATE_TIME=%SHAPE%"
for %%D in (0 1 2 3 4 5 6 7 8) do call set "SHAPE=%%SHAPE:%%D=9%%"
if "%SHAPE%"=="99999999-999999" set "STAMP=%DATE_TIME%"
exit /b
