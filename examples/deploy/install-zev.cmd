@echo off
rem Installs Zev silently from this folder, which holds Qix_Console_Installer.exe
rem and ZevSetup.exe. Usage: install-zev.cmd [directory]   (default C:\Apps\Zev)
rem Ends with 0 when Zev is installed, 1 when not. The program's messages and the
rem setup's log go to install.log beside this script.
setlocal
set "TARGET=%~1"
if "%TARGET%"=="" set "TARGET=C:\Apps\Zev"
set "LOG=%~dp0install.log"

rem /D= goes last: a directory given with a trailing backslash then swallows
rem no other option (README, "The cmd quoting trap").
"%~dp0Qix_Console_Installer.exe" "%~dp0ZevSetup.exe" /L=g /DS=0 "/D=%TARGET%" 2> "%LOG%"
rem "if errorlevel 1" would miss the program's -1: it means 1 or more.
if %ERRORLEVEL% NEQ 0 goto failed
echo Zev installed in %TARGET%
exit /b 0

:failed
echo Zev was not installed (exit code %ERRORLEVEL%):
type "%LOG%"
exit /b 1
