; A product with a Windows service, a prerequisite and an upgrade path, built
; with the setup kit, per machine: a copy to start from. makensis Service.nsi
; makes ExampleServiceSetup.exe beside it.
; - The files of files\ go into $INSTDIR as they lie there.
; - The prerequisite, a runtime the service needs, is installed when missing;
;   its 3010 (restart needed) ends the installation with 3010, which the
;   front-end passes on with /EXITCODES=msi (-1 without), or with 0 when
;   QIX_RESTART_SUCCEEDS is defined (see the kit's README, "A restart").
; - An installed version, older or the same, is removed first through its own
;   uninstaller, wherever it is; a newer one is left alone and the run refused.
; - The service is created to start with Windows; the uninstaller deletes it.
Unicode true
Target amd64-unicode
!addincludedir ".."
!include MUI2.nsh
!include WordFunc.nsh
!include QixContract.nsh

!define PRODUCT "Example Service"
!define VERSION "1.2"
!define SERVICE "ExampleService"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${SERVICE}"
!define RUNTIME_KEY "Software\Example\Runtime"
; The prerequisite's setup. Replace the stand-in, which only records the
; runtime, with the vendor's setup carried into $PLUGINSDIR, such as
; '"$PLUGINSDIR\vc_redist.x64.exe" /install /quiet /norestart'.
!ifndef PREREQUISITE
  !define PREREQUISITE '"$SYSDIR\cmd.exe" /c reg add "HKLM\${RUNTIME_KEY}" /v Installed /d 1 /f >nul'
!endif

Name "${PRODUCT} ${VERSION}"
OutFile "ExampleServiceSetup.exe"
InstallDir "$PROGRAMFILES64\Example\Service"
RequestExecutionLevel admin

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
LangString LanguageName ${LANG_ENGLISH} "English"
LangString LanguageName ${LANG_GERMAN} "Deutsch"
LangString ServiceName ${LANG_ENGLISH} "Service"
LangString ServiceName ${LANG_GERMAN} "Dienst"
LangString ShortcutName ${LANG_ENGLISH} "Desktop shortcut"
LangString ShortcutName ${LANG_GERMAN} "Desktopverknüpfung"

; Where an installed version is, to remove it first; empty when none is.
Var Installed

Section "!$(ServiceName)" ServiceSection
  SectionIn RO
  SetShellVarContext all
  ${QixSetRegView} 64
  ${If} $Installed != ""
    ${QixUninstallOld} "$Installed\Uninstall.exe" $Installed
  ${EndIf}
  ReadRegStr $0 HKLM "${RUNTIME_KEY}" "Installed"
  ${If} $0 == ""
    ${QixExecWait} '${PREREQUISITE}' "the runtime's setup"
  ${EndIf}
  ${QixSetOutPath} $INSTDIR
  ${QixFileTree} "files\*"
  ${QixWriteINIStr} "$INSTDIR\${SERVICE}.ini" "${SERVICE}" "language" "$(LanguageName)"
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${QixCheckWrite} "$INSTDIR\Uninstall.exe"
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  ${QixCheckWrite} "HKLM\${UNINSTALL_KEY}"
  ; Last, so that a failure before leaves no service behind. It starts with
  ; Windows; sc start would need a real service program (and Wine runs none).
  ${QixExecWait} '"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\${SERVICE}.exe\"" start= auto DisplayName= "${PRODUCT}"' \
    "sc.exe create ${SERVICE}"
SectionEnd

Section "$(ShortcutName)" ShortcutSection
  SetShellVarContext all
  ClearErrors
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\doc\readme.txt"
  ${QixCheckWrite} "$DESKTOP\${PRODUCT}.lnk"
SectionEnd

Section
  ${QixCheckInstDir}
SectionEnd

Function .onInit
  ${QixInit}
  ${If} $QixLanguage == ""
    ; Shows nothing in a silent run.
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}
  ${QixSingleSetup} "${SERVICE}Setup"
  ${QixShortcutSection} ${ShortcutSection}
  ${QixSetRegView} 64
  ReadRegStr $Installed HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $Installed != ""
    ${VersionCompare} $0 "${VERSION}" $1
    ${If} $1 = 1
      ${QixText} $1 "${PRODUCT} $0 is installed in $Installed, newer than ${VERSION}" \
        "${PRODUCT} $0 ist in $Installed installiert, neuer als ${VERSION}"
      ${QixAbort} $1
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ${QixSetRegView} 64
  ; Stopping fails when the service does not run, which is no reason to stop.
  nsExec::Exec '"$SYSDIR\sc.exe" stop ${SERVICE}'
  Pop $0
  ; 1060, no such service: an installation that failed before creating it.
  ExecWait '"$SYSDIR\sc.exe" delete ${SERVICE}' $0
  ${If} $0 <> 0
  ${AndIf} $0 <> 1060
    ${QixText} $0 "$(^Name): cannot delete the service ${SERVICE} ($0)" \
      "$(^Name): Der Dienst ${SERVICE} kann nicht gelöscht werden ($0)"
    ${QixAbort} $0
  ${EndIf}
  ; A service goes once it has stopped, which takes a while on a busy machine:
  ; wait for it (30 s at most), so that an installation right after can
  ; create it anew.
  ${For} $1 1 300
    nsExec::Exec '"$SYSDIR\sc.exe" query ${SERVICE}'
    Pop $0
    ${If} $0 <> 0
      ${Break}
    ${EndIf}
    Sleep 100
  ${Next}
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$INSTDIR\${SERVICE}.exe"
  Delete "$INSTDIR\${SERVICE}.ini"
  Delete "$INSTDIR\doc\readme.txt"
  RMDir "$INSTDIR\doc"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir $INSTDIR
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
