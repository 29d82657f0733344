@echo off
rem Installs Zev silently from this folder, which holds Qix_Console_Installer.exe
rem and ZevSetup.exe. Usage: install-zev.cmd [directory]   (default C:\Apps\Zev)
rem Ends with the program's exit code, as Windows Installer's: 0 installed,
rem 3010 or 1641 installed and a restart needed, 1618 another installation
rem running (try again later), 1639 or 1603 not installed. The program appends
rem its record of each run, the setup's log among it, to
rem %ProgramData%\Zev-install.log, which outlasts the package folder (a
rem distribution system's cache, often read-only or cleaned up) and which an
rem administrator or SYSTEM, who installs Zev, can write; when it cannot, the
rem program installs nothing.
setlocal
set "TARGET=%~1"
if "%TARGET%"=="" set "TARGET=C:\Apps\Zev"
set "LOG=%ProgramData%\Zev-install.log"

rem /D= goes last: a directory given with a trailing backslash then swallows
rem no other option (docs/deploying.md, "The cmd quoting trap").
"%~dp0Qix_Console_Installer.exe" "%~dp0ZevSetup.exe" /L=g /DS=0 /EXITCODES=msi "/LOG=%LOG%" "/D=%TARGET%"
set "CODE=%ERRORLEVEL%"
if %CODE% EQU 0 goto installed
if %CODE% EQU 3010 goto installed
if %CODE% EQU 1641 goto installed
rem Echoed in quotes: a directory may hold & or ( ), which cmd acts on.
echo Zev was not installed in "%TARGET%" (exit code %CODE%), see "%LOG%"
exit /b %CODE%

:installed
echo Zev installed in "%TARGET%" (exit code %CODE%)
exit /b %CODE%
