@echo off
rem Runs inside Windows Sandbox, as its logon command: installs the bundle
rem as a user's run does, checks the driver store, uninstalls it as Apps
rem and features does, and writes everything into the results folder, which
rem stays on the host.  A step that fails is recorded and the next runs.
setlocal EnableExtensions DisableDelayedExpansion
title QxDspInstaller: install and uninstall in Windows Sandbox

rem The configuration maps the bundle (read-only) and the results here.
set "BUNDLE=C:\QxBundle"
set "RESULTS=C:\QxResults"
rem Users start the installer from a folder of their own, not a mapped one.
set "LOCAL=C:\QxLocal"
rem The installer is 32-bit: its entry is in the 32-bit registry view.
set "ENTRY=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QxDspDriver"
set "INF=QX_DSP_USB.inf"
set "SUMMARY=%RESULTS%\summary.txt"
set "PNPUTIL=%windir%\System32\pnputil.exe"
if exist "%windir%\Sysnative\pnputil.exe" set "PNPUTIL=%windir%\Sysnative\pnputil.exe"
if not exist "%RESULTS%\" mkdir "%RESULTS%"
type nul >"%SUMMARY%"

set "WINVER="
for /f "delims=" %%V in ('ver') do set "WINVER=%%V"
set "RELEASE="
for /f "tokens=2,*" %%A in ('reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v DisplayVersion 2^>nul') do if "%%A"=="REG_SZ" set "RELEASE=%%B"
set "ARCH=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "ARCH=%PROCESSOR_ARCHITEW6432%"
set "ELEVATED=no"
whoami /groups | findstr /c:"S-1-16-12288" >nul
if not errorlevel 1 set "ELEVATED=yes"
set "LINE=Windows:                      %WINVER% %RELEASE%"
call :record
set "LINE=Architecture:                 %ARCH%"
call :record
set "LINE=Ran as:                       %USERNAME%, elevated (high integrity level): %ELEVATED%"
call :record

echo Copying %BUNDLE% to %LOCAL% ...
robocopy "%BUNDLE%" "%LOCAL%" /E /XD "%BUNDLE%\sandbox-results" /R:1 /W:1 /NP >"%RESULTS%\copy.log" 2>&1
set "RC=%errorlevel%"
set "HOW=failed, see copy.log"
if %RC% LSS 8 set "HOW=done"
set "LINE=Copy to %LOCAL%:           robocopy exit %RC%, %HOW%"
call :record

echo Installing: QxDspInstaller.exe /quiet ...
set "INSTALL=not run, %LOCAL%\QxDspInstaller.exe is missing"
if exist "%LOCAL%\QxDspInstaller.exe" call :install
set "LINE=Install:                      %INSTALL%"
call :record
rem The entry as the install left it, before the uninstall removes it.
reg query "%ENTRY%" /s /reg:32 >"%RESULTS%\entry-after-install.txt" 2>&1
call :entry
set "LINE=Entry after install:          %ENTRY_STATE% (entry-after-install.txt)"
call :record
call :store drivers-after-install.txt
set "STORE_AFTER_INSTALL=%STORE%"
set "LINE=Driver store after install:   %INF% %STORE%"
call :record

echo Uninstalling with the entry's QuietUninstallString ...
set "QUIET="
for /f "tokens=2,*" %%A in ('reg query "%ENTRY%" /v QuietUninstallString /reg:32 2^>nul') do if "%%A"=="REG_SZ" set "QUIET=%%B"
set "UNINSTALL=not run, the entry has no QuietUninstallString"
if defined QUIET call :uninstall
set "LINE=Uninstall:                    %UNINSTALL%"
call :record
call :entry
set "LINE=Entry after uninstall:        %ENTRY_STATE%"
call :record
call :store drivers-after-uninstall.txt
set "STORE_AFTER_UNINSTALL=%STORE%"
set "LINE=Driver store after uninstall: %INF% %STORE%"
call :record

copy /y "%windir%\INF\setupapi.dev.log" "%RESULTS%\setupapi.dev.log" >nul 2>&1
if errorlevel 1 echo setupapi.dev.log could not be copied.
set "VERDICT=PASS"
if not "%INSTALL_RC%"=="0" if not "%INSTALL_RC%"=="3010" set "VERDICT=FAIL"
if not "%UNINSTALL_RC%"=="0" if not "%UNINSTALL_RC%"=="3010" set "VERDICT=FAIL"
if not "%STORE_AFTER_INSTALL%"=="present" set "VERDICT=FAIL"
if not "%STORE_AFTER_UNINSTALL%"=="gone" set "VERDICT=FAIL"
set "LINE=Verdict:                      %VERDICT%"
call :record

echo.
echo Done: the results are in %RESULTS%, which the host keeps in sandbox-results.
start "" explorer.exe "%RESULTS%"
exit /b 0

:install
rem From the package's own folder, as a double-click starts it; start /wait
rem gives the GUI program's exit code.
pushd "%LOCAL%"
start /wait "" "%LOCAL%\QxDspInstaller.exe" /quiet /log "%RESULTS%\install.log"
set "INSTALL_RC=%errorlevel%"
popd
call :meaning %INSTALL_RC%
set "INSTALL=exit %INSTALL_RC%, %MEANING%"
exit /b

:uninstall
rem The string runs the installer's own copy with /uninstall /quiet.
start /wait "" %QUIET% /log "%RESULTS%\uninstall.log"
set "UNINSTALL_RC=%errorlevel%"
call :meaning %UNINSTALL_RC%
set "UNINSTALL=exit %UNINSTALL_RC%, %MEANING%"
exit /b

:entry
set "ENTRY_STATE=gone"
reg query "%ENTRY%" /reg:32 >nul 2>&1
if not errorlevel 1 set "ENTRY_STATE=present"
exit /b

:store FILE
rem pnputil lists a package by its original INF name from Windows 10 1607 on.
"%PNPUTIL%" /enum-drivers >"%RESULTS%\%~1" 2>&1
set "STORE=gone"
findstr /i /c:"%INF%" "%RESULTS%\%~1" >nul
if not errorlevel 1 set "STORE=present"
exit /b

:meaning CODE
rem The installer's exit codes (README, "Deploying to many PCs"), else
rem Windows' own text for the error.
set "MEANING="
if "%~1"=="0" set "MEANING=success"
if "%~1"=="3010" set "MEANING=success, a restart is needed (ERROR_SUCCESS_REBOOT_REQUIRED)"
if "%~1"=="1618" set "MEANING=another run was busy for 5 minutes, nothing done (ERROR_INSTALL_ALREADY_RUNNING)"
if "%~1"=="1633" set "MEANING=ARM64 Windows and no ARM64 driver in the package, nothing changed (ERROR_INSTALL_PLATFORM_UNSUPPORTED)"
if "%~1"=="1639" set "MEANING=a command line it does not understand (ERROR_INVALID_COMMAND_LINE)"
if "%~1"=="1603" set "MEANING=failed (ERROR_INSTALL_FAILURE), the log names the step"
if defined MEANING exit /b
rem net helpmsg knows Win32 errors only; its first line is the text.
if %~1 GTR 0 if %~1 LSS 65536 for /f "delims=" %%M in ('net helpmsg %~1 2^>nul') do if not defined MEANING set "MEANING=failed with Windows error %~1: %%M"
if not defined MEANING set "MEANING=failed with error %~1 (negative: a Setup error such as -536870353, 0xE000022F), see the log"
exit /b

:record
rem Appends LINE (never empty) to the summary and shows it, whatever
rem characters it holds: !LINE! is expanded once, after the line is parsed.
setlocal EnableDelayedExpansion
>>"%SUMMARY%" echo !LINE!
echo !LINE!
endlocal
exit /b
