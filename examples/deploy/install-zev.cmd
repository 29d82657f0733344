@echo off
rem Installs Zev silently from this folder, which holds Qix_Console_Installer.exe
rem and ZevSetup.exe. Usage: install-zev.cmd [directory]   (default C:\Apps\Zev)
rem Ends with 0 when Zev is installed, 1 when not. The program's messages and the
rem setup's log go to %ProgramData%\Zev-install.log, which outlasts the package
rem folder (a distribution system's cache, often read-only or cleaned up) and
rem which an administrator or SYSTEM, who installs Zev, can write.
setlocal
set "TARGET=%~1"
if "%TARGET%"=="" set "TARGET=C:\Apps\Zev"
set "LOG=%ProgramData%\Zev-install.log"

rem When cmd cannot open the log, it prints an error, runs nothing
rem and leaves ERRORLEVEL as it was: set to 1 first, which the program never
rem returns, it cannot pass for the program's 0.
"%SystemRoot%\System32\cmd.exe" /c exit 1
rem /D= goes last: a directory given with a trailing backslash then swallows
rem no other option (docs/deploying.md, "The cmd quoting trap").
"%~dp0Qix_Console_Installer.exe" "%~dp0ZevSetup.exe" /L=g /DS=0 "/D=%TARGET%" 2> "%LOG%"
if %ERRORLEVEL% EQU 1 goto nolog
rem "if errorlevel 1" would miss the program's -1: it means 1 or more.
if %ERRORLEVEL% NEQ 0 goto failed
echo Zev installed in %TARGET%
exit /b 0

:failed
echo Zev was not installed (exit code %ERRORLEVEL%):
type "%LOG%"
exit /b 1

:nolog
echo Zev was not installed: cannot write %LOG%
exit /b 1
