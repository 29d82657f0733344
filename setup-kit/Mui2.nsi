; Modern UI 2 pages for a person who starts the setup, the contract for the
; program, for the current user only: English and German, a language dialog
; when /L is missing, a desktop shortcut only with /DStrue.
Unicode true
Target amd64-unicode
!include MUI2.nsh
!include QixContract.nsh

Name "Example"
OutFile "ExampleMui2Setup.exe"
InstallDir "$LOCALAPPDATA\Programs\Example"
RequestExecutionLevel user

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
LangString LanguageName ${LANG_ENGLISH} "English"
LangString LanguageName ${LANG_GERMAN} "Deutsch"

Function .onInit
  ${QixInit}
  ${If} $QixLanguage == ""
    ; Shows nothing in a silent run.
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\example.ini"
    ${QixText} $0 "Example is already installed in $INSTDIR" \
      "Example ist bereits installiert in $INSTDIR"
    ${QixAbort} $0
  ${EndIf}
FunctionEnd

Section
  SetShellVarContext current
  SetOutPath $INSTDIR
  ${QixWriteINIStr} "$INSTDIR\example.ini" "Example" "language" "$(LanguageName)"
  ${If} $QixShortcut == "true"
    CreateShortCut "$DESKTOP\Example.lnk" "$INSTDIR\example.ini"
    ${QixCheckWrite} "$DESKTOP\Example.lnk"
  ${EndIf}
SectionEnd
