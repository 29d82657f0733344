; The setup of the sample product Zev 2.4, built with the setup kit:
;     makensis -INPUTCHARSET UTF8 Zev.nsi                       (64-bit)
;     makensis -INPUTCHARSET UTF8 -DTARGET=x86-unicode Zev.nsi  (32-bit)
; Installs into $INSTDIR, writes Zev.ini with the chosen language, creates a
; desktop shortcut with /DStrue, registers an uninstaller in the 64-bit
; registry view whichever it is built as, and reports through the log when Zev
; is already installed or a file cannot be written.
Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
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
LangString LanguageName ${LANG_ENGLISH} "English"
LangString LanguageName ${LANG_GERMAN} "Deutsch"
LangString ShortcutComment ${LANG_ENGLISH} "Starts ${PRODUCT}"
LangString ShortcutComment ${LANG_GERMAN} "Startet ${PRODUCT}"

Function .onInit
  ${QixInit}
  ; A 32-bit build registers where a 64-bit one does, so that one key finds Zev.
  ${QixSetRegView} 64
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${AndIf} ${FileExists} "$INSTDIR\${PRODUCT}.exe"
    StrCpy $0 $INSTDIR
  ${EndIf}
  ${If} $0 != ""
    ${QixText} $1 "${PRODUCT} ${VERSION} is already installed in $0" \
      "${PRODUCT} ${VERSION} ist bereits installiert in $0"
    ${QixReport} $1
    ${QixText} $1 "${PRODUCT} ${VERSION}: remove it before installing again" \
      "${PRODUCT} ${VERSION}: vor einer neuen Installation bitte zuerst entfernen"
    ${QixAbort} $1
  ${EndIf}
FunctionEnd

Section
  SetShellVarContext all
  ${QixSetRegView} 64
  SetOutPath $INSTDIR
  ${QixFile} "files\${PRODUCT}.exe" "$INSTDIR\${PRODUCT}.exe"
  ${QixFile} "files\readme.txt" "$INSTDIR\readme.txt"
  ${QixWriteINIStr} "$INSTDIR\${PRODUCT}.ini" "${PRODUCT}" "language" "$(LanguageName)"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${QixCheckWrite} "$INSTDIR\Uninstall.exe"
  ${If} $QixShortcut == "true"
    CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe" "" "" "" "" "" "$(ShortcutComment)"
    ${QixCheckWrite} "$DESKTOP\${PRODUCT}.lnk"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  ${QixCheckWrite} "HKLM\${UNINSTALL_KEY}"
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
  ${QixSetRegView} 64
  !insertmacro RemoveFiles
  ; The company folder goes too once no product of it is left.
  ${GetParent} $INSTDIR $0
  ${GetFileName} $0 $1
  ${If} $1 == "${COMPANY}"
    RMDir $0
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
