; A setup without Unicode, as older installers are: it reads its command line,
; /D= included, through the system's ANSI code page.
Unicode false
Name "Ansi"
OutFile "AnsiSetup.exe"
InstallDir "$TEMP\Ansi"
RequestExecutionLevel user
SilentInstall silent

Section
  SetOutPath $INSTDIR
  FileOpen $0 "$INSTDIR\ansi.txt" w
  FileClose $0
SectionEnd
