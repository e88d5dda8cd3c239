@echo off
rem Double-clicked on Windows 10 or 11: tries the bundle beside this script
rem in a fresh Windows Sandbox, where sandbox-run.cmd installs, checks and
rem uninstalls it, and keeps what it finds in
rem sandbox-results\yyyymmdd-hhmmss\ beside this script.
setlocal EnableExtensions DisableDelayedExpansion
title QxDspInstaller in Windows Sandbox

rem A 32-bit parent (a 32-bit file manager) sees SysWOW64 as System32,
rem which never holds the sandbox.
set "QX_SANDBOX=%windir%\System32\WindowsSandbox.exe"
if exist "%windir%\Sysnative\WindowsSandbox.exe" set "QX_SANDBOX=%windir%\Sysnative\WindowsSandbox.exe"
if not exist "%QX_SANDBOX%" goto no_sandbox
set "QX_PS=%windir%\System32\WindowsPowerShell\v1.0\powershell.exe"
if not exist "%QX_PS%" goto no_powershell

rem The sandbox maps this script's folder, the whole bundle.  A path with a
rem percent sign or an exclamation mark is refused before cmd uses it
rem anywhere: cmd expands those again wherever it reads a line a second
rem time (for, call, delayed expansion).  A network path is refused too:
rem the sandbox maps folders of this PC.  The time is PowerShell's, in the
rem invariant culture: the locale shapes the date variables of cmd, and its
rem calendar Get-Date's year.
set "QX_BUNDLE=%~dp0"
set "QX_STAMP="
for /f "usebackq delims=" %%S in (`%QX_PS% -NoProfile -NonInteractive -Command "if ($env:QX_BUNDLE -match '[\x25\x21]' -or $env:QX_BUNDLE.StartsWith('\\')) { 'unsafe' } else { [DateTime]::Now.ToString('yyyyMMdd-HHmmss', [Globalization.CultureInfo]::InvariantCulture) }"`) do set "QX_STAMP=%%S"
if "%QX_STAMP%"=="unsafe" goto unsafe_path
if "%QX_STAMP%"=="" goto no_powershell
if not exist "%QX_BUNDLE%QxDspInstaller.exe" goto incomplete
if not exist "%QX_BUNDLE%sandbox-run.cmd" goto incomplete
set "QX_TEMPLATE=%QX_BUNDLE%windows-sandbox.wsb.template"
if not exist "%QX_TEMPLATE%" goto incomplete

set "QX_RESULTS=%QX_BUNDLE%sandbox-results\%QX_STAMP%"
mkdir "%QX_RESULTS%"
if errorlevel 1 goto no_results
set "QX_WSB=%TEMP%\QxDspSandbox-%QX_STAMP%.wsb"

rem Each @NAME@ of the template becomes the XML-escaped value of the
rem environment variable NAME, so that whatever a folder's name holds (an
rem ampersand, quotes, Chinese) stays text in the XML; the paths reach
rem PowerShell through the environment, never through its command line.
"%QX_PS%" -NoProfile -NonInteractive -Command "$ErrorActionPreference = 'Stop';"^
 "$t = [IO.File]::ReadAllText($env:QX_TEMPLATE, [Text.Encoding]::UTF8);"^
 "$x = [regex]::Replace($t, '@(QX_\w+)@', { param($m) [Security.SecurityElement]::Escape([Environment]::GetEnvironmentVariable($m.Groups[1].Value)) });"^
 "[IO.File]::WriteAllText($env:QX_WSB, $x, (New-Object Text.UTF8Encoding $false))"
if errorlevel 1 goto no_config

start "" "%QX_WSB%"
if errorlevel 1 goto no_start
echo Windows Sandbox is starting with this bundle.  Inside it, sandbox-run.cmd
echo installs and uninstalls the driver; when its window shows the summary,
echo read it here (the sandbox can be closed then):
echo   "%QX_RESULTS%\summary.txt"
pause
exit /b 0

:no_sandbox
echo Windows Sandbox is not turned on on this PC (%windir%\System32\WindowsSandbox.exe is missing).
echo Turn it on in "Turn Windows features on or off": tick "Windows Sandbox", OK, restart.
echo Or, in PowerShell run as administrator, then restart:
echo   Enable-WindowsOptionalFeature -Online -FeatureName Containers-DisposableClientVM -All
echo It needs 64-bit Windows 10 or 11 Pro, Enterprise or Education, virtualization on in the firmware.
goto fail
:no_powershell
echo Windows PowerShell did not answer (%QX_PS%); it writes the sandbox's configuration.
goto fail
:unsafe_path
echo This folder's path holds %% or ! or is a network path, which this script cannot pass on safely.
echo Copy the bundle folder to a local folder whose path has neither, e.g. C:\QxDsp\, and start it there.
goto fail
:incomplete
echo QxDspInstaller.exe, sandbox-run.cmd or windows-sandbox.wsb.template is missing beside this script.
echo Unzip the whole bundle, not only this script, and start it from the unzipped folder.
goto fail
:no_results
echo Could not create the results folder "%QX_RESULTS%".
echo Copy the bundle to a folder you can write to, and start it there.
goto fail
:no_config
echo Could not write the sandbox's configuration "%QX_WSB%" (PowerShell's error above).
goto fail
:no_start
echo Could not start Windows Sandbox with "%QX_WSB%".
goto fail

:fail
echo Nothing was started.
pause
exit /b 1
