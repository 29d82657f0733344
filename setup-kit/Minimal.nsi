; The smallest setup that honours the contract: one file with the options it
; was given, and a refusal through the log when that file is there already.
Unicode true
Target amd64-unicode
!include QixContract.nsh

Name "Example"
OutFile "ExampleSetup.exe"
InstallDir "$PROGRAMFILES64\Example"
RequestExecutionLevel admin

Function .onInit
  ${QixInit}
  ${If} ${FileExists} "$INSTDIR\example.txt"
    ${QixText} $0 "Example is already installed in $INSTDIR" \
      "Example ist bereits installiert in $INSTDIR"
    ${QixAbort} $0
  ${EndIf}
FunctionEnd

Section
  SetOutPath $INSTDIR
  ClearErrors
  FileOpen $0 "$INSTDIR\example.txt" w
  FileWrite $0 "language=$QixLanguage shortcut=$QixShortcut"
  FileClose $0
  ${QixCheckWrite} "$INSTDIR\example.txt"
SectionEnd
