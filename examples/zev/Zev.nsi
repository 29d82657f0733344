; The setup of the sample product Zev 2.4, built with the setup kit:
;     makensis -INPUTCHARSET UTF8 Zev.nsi
; Installs into $INSTDIR, writes Zev.ini with the chosen language, creates a
; desktop shortcut with /DStrue, registers an uninstaller, and reports through
; the log when Zev is already installed or a file cannot be written.
Unicode true
Target amd64-unicode
!addincludedir "..\..\setup-kit"
!define QIX_ON_INST_FAILED TakeBack
!include QixContract.nsh

!define PRODUCT "Zev"
!define VERSION "2.4"
!define COMPANY "Quenvarton AG"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "ZevSetup.exe"
InstallDir "$PROGRAMFILES64\${COMPANY}\${PRODUCT}"
RequestExecutionLevel admin

LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LangString CannotWrite ${LANG_ENGLISH} "${PRODUCT} ${VERSION}: cannot write"
LangString CannotWrite ${LANG_GERMAN} "${PRODUCT} ${VERSION}: Schreiben nicht möglich:"
LangString LanguageName ${LANG_ENGLISH} "English"
LangString LanguageName ${LANG_GERMAN} "Deutsch"
LangString ShortcutComment ${LANG_ENGLISH} "Starts ${PRODUCT}"
LangString ShortcutComment ${LANG_GERMAN} "Startet ${PRODUCT}"

; Stops the installation with a log line when the last command failed to write.
!macro CheckWritten path
  ${If} ${Errors}
    ${QixAbort} "$(CannotWrite) ${path}"
  ${EndIf}
!macroend

Function .onInit
  ${QixInit}
  ${If} $QixLanguage == g
    StrCpy $LANGUAGE ${LANG_GERMAN}
  ${Else}
    StrCpy $LANGUAGE ${LANG_ENGLISH}
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${AndIf} ${FileExists} "$INSTDIR\${PRODUCT}.exe"
    StrCpy $0 $INSTDIR
  ${EndIf}
  ; $(...) would still speak the system's language here: NSIS applies
  ; $LANGUAGE only once .onInit has returned.
  ${If} $0 != ""
  ${AndIf} $QixLanguage == g
    ${QixReport} "${PRODUCT} ${VERSION} ist bereits installiert in $0"
    ${QixAbort} "${PRODUCT} ${VERSION}: vor einer neuen Installation bitte zuerst entfernen"
  ${ElseIf} $0 != ""
    ${QixReport} "${PRODUCT} ${VERSION} is already installed in $0"
    ${QixAbort} "${PRODUCT} ${VERSION}: remove it before installing again"
  ${EndIf}
FunctionEnd

Section
  SetShellVarContext all
  SetOutPath $INSTDIR
  ; A file the silent run cannot write is skipped with the error flag set.
  ClearErrors
  File "files\${PRODUCT}.exe"
  !insertmacro CheckWritten "$INSTDIR\${PRODUCT}.exe"
  File "files\readme.txt"
  !insertmacro CheckWritten "$INSTDIR\readme.txt"
  WriteINIStr "$INSTDIR\${PRODUCT}.ini" "${PRODUCT}" "language" "$(LanguageName)"
  !insertmacro CheckWritten "$INSTDIR\${PRODUCT}.ini"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  !insertmacro CheckWritten "$INSTDIR\Uninstall.exe"
  ${If} $QixShortcut == "true"
    CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe" "" "" "" "" "" "$(ShortcutComment)"
    !insertmacro CheckWritten "$DESKTOP\${PRODUCT}.lnk"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  !insertmacro CheckWritten "HKLM\${UNINSTALL_KEY}"
SectionEnd

; Everything the installation writes but the registry entry; a folder goes
; only when empty.
!macro RemoveFiles
  SetShellVarContext all
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$INSTDIR\${PRODUCT}.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\${PRODUCT}.ini"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir $INSTDIR
!macroend

; A failed installation takes back what it had written.
Function TakeBack
  !insertmacro RemoveFiles
FunctionEnd

Section "Uninstall"
  !insertmacro RemoveFiles
  ; The company folder goes too once no product of it is left.
  ${GetParent} $INSTDIR $0
  ${GetFileName} $0 $1
  ${If} $1 == "${COMPANY}"
    RMDir $0
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
