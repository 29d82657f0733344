; An installer built with the setup kit that makes, when QIX_BROKEN names it,
; one of the mistakes the kit's checker must find; with none named it is sound.
; Most mistakes do not show in the checker's first installation (/L=e /DS=0),
; which the other cases need; those that do show there are about where and
; what it installs. QIX_BROKEN=restart, errorlevel or quitkit make it do what
; the kit must report for it: ask for a restart, set exit code 5, end early.
; QIX_BROKEN=speaks is sound too: a child program it runs prints a line; so
; is QIX_BROKEN=reboot, whose prerequisite asks for a restart.
; QIX_BROKEN=truncated, messagebox, entryfirst, keeppayload, parent, unquoted
; and uninstallfolder make the mistakes the declaration and the uninstaller's
; judgement find: a payload file cut short, a helper's failure shown only in
; a message box, an uninstall entry written first and kept after a failure,
; an uninstaller that leaves the payload or takes its parent folder with it,
; and uninstall commands unquoted or naming a folder; QIX_BROKEN=hang never
; ends. The mistakes' own files come from sections of their own, so that a
; sound run installs none of them.
; QIX_BROKEN=multiuser, single, prerequisite, reboot, folder and tree use the
; kit where a real installer goes wrong: a directory changed before QixInit,
; a second setup, a prerequisite's failure and its restart, a folder and a
; tree that cannot be written, an output folder that cannot be made, an older
; version whose uninstaller is gone, a file too big for the disk, and a
; section that follows /DS.
Unicode true
Target amd64-unicode
!addincludedir "..\..\setup-kit"
!include QixContract.nsh

Name "Broken"
OutFile "BrokenSetup.exe"
InstallDir "$PROGRAMFILES64\Broken"
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Broken"

LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LangString Installed ${LANG_ENGLISH} "Broken is already installed in"
LangString Installed ${LANG_GERMAN} "Broken ist bereits installiert in"
LangString LanguageName ${LANG_ENGLISH} "English"
LangString LanguageName ${LANG_GERMAN} "Deutsch"

Var Broken

; Before .onInit, which names it. On unless /DS says otherwise.
Section "Shortcut" ShortcutSection
  ${If} $Broken == shortcutsection
    ${QixAbort} "Broken: the shortcut section ran"
  ${EndIf}
SectionEnd

; What only the mistakes install, each in a section of its own: a section's
; files come all or none.
Section "Outside"
  ${If} $Broken == outside
    ; The product under Program Files, only its settings in the directory.
    SetOutPath "$PROGRAMFILES64\Broken"
    ${QixFile} "Broken.nsi" "$PROGRAMFILES64\Broken\broken.txt"
    SetOutPath $INSTDIR
  ${EndIf}
SectionEnd

Section "Thirteenth"
  ${If} $Broken == thirteenth
    ; Twelve checked files, and an unchecked thirteenth.
    ${For} $0 1 12
      ${QixFile} "Broken.nsi" "$INSTDIR\more$0.txt"
    ${Next}
    File "/oname=$INSTDIR\more13.txt" "Broken.nsi"
  ${EndIf}
SectionEnd

Section "DiskFull"
  ${If} $Broken == diskfull
    ; Larger than the small disk the test gives it.
    ${QixFile} "${NSISDIR}\Stubs\lzma-amd64-unicode" "$INSTDIR\big.bin"
  ${EndIf}
SectionEnd

Section "Tree"
  ${If} $Broken == tree
    ${QixSetOutPath} "$INSTDIR\headers"
    CreateDirectory "$INSTDIR\headers\setup_host.h"
    ${QixFileTree} "*.h"
  ${EndIf}
SectionEnd

Function .onInit
  ; The helper of QIX_BROKEN=messagebox: its failure in a message box alone.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/box" $1
  ${IfNot} ${Errors}
    MessageBox MB_OK "Broken: the helper failed"
    Quit
  ${EndIf}
  ; The helper of QIX_BROKEN=late: a failure written long after the marker.
  ClearErrors
  ${GetOptions} $0 "/late=" $1
  ${IfNot} ${Errors}
    Sleep 12000
    FileOpen $2 $1 w
    FileWrite $2 "Broken: the helper failed$\r$\n"
    FileClose $2
    Quit
  ${EndIf}
  ReadEnvStr $Broken QIX_BROKEN
  ; A refusal that a person never sees.
  ${If} $Broken == nomessage
  ${AndIfNot} ${Silent}
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${If} $Broken == multiuser
    ; As MultiUser.nsh does before the kit can look.
    StrCpy $INSTDIR "$PROGRAMFILES64\Broken"
  ${EndIf}
  ; Without ${QixInit} the directory goes unchecked.
  ${If} $Broken != cut
    ${QixInit}
  ${EndIf}
  ${If} $Broken == language
    ; Whatever /L says.
    StrCpy $QixLanguage e
  ${EndIf}
  ${If} $Broken == single
    ; Another setup of the same name, as if it ran already.
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "QixBrokenSetup") p .r0'
  ${EndIf}
  ${QixSingleSetup} "QixBrokenSetup"
  ${If} $Broken == shortcutsection
    ${QixShortcutSection} ${ShortcutSection}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\broken.ini"
    ${If} $Broken == quit
      Quit
    ${ElseIf} $Broken == english
      ${QixAbort} "$(Installed) $INSTDIR"
    ${ElseIf} $Broken == utf16
      FileOpen $0 $QixLog w
      FileWriteUTF16LE $0 "Broken is already installed$\r$\n"
      FileClose $0
      FileOpen $0 "$QixLog.ready" w
      FileClose $0
      SetErrorLevel 2
      Quit
    ${EndIf}
    ${QixText} $0 "Broken is already installed in $INSTDIR" \
      "Broken ist bereits installiert in $INSTDIR"
    ${QixAbort} $0
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    ; Success without installing, and its own marker.
    ${If} $Broken == elsewhere
      FileOpen $0 "$QixLog.ready" w
      FileClose $0
      SetErrorLevel 0
      Quit
    ${EndIf}
    ${QixText} $1 "Broken is already installed in $0" "Broken ist bereits installiert in $0"
    ${QixAbort} $1
  ${EndIf}
FunctionEnd

Section
  ${If} $Broken == entryfirst
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Broken"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ${EndIf}
  ${If} $Broken == subfolder
    StrCpy $INSTDIR "$INSTDIR\Broken"
  ${EndIf}
  SetOutPath $INSTDIR
  ${If} $Broken == unchecked
    File "/oname=$INSTDIR\broken.txt" "Broken.nsi"
  ${ElseIf} $Broken == abort
    ClearErrors
    File "/oname=$INSTDIR\broken.txt" "Broken.nsi"
    ${If} ${Errors}
      Abort "cannot write broken.txt"
    ${EndIf}
  ${ElseIf} $Broken != sectionoff
  ${AndIf} $Broken != outside
    ${QixFile} "Broken.nsi" "$INSTDIR\broken.txt"
  ${EndIf}
  ${If} $Broken != sectionoff
    ; A readme of each language's own name.
    ${QixLanguageFile} e "Ansi.nsi" "$INSTDIR\readme.txt"
    ${QixLanguageFile} g "Ansi.nsi" "$INSTDIR\liesmich.txt"
  ${EndIf}
  ${If} $Broken == truncated
    ; What a killed run left, kept.
    FileOpen $0 "$INSTDIR\broken.txt" w
    FileWrite $0 "B"
    FileClose $0
  ${ElseIf} $Broken == nested
    CreateDirectory "$INSTDIR\doc"
    File "/oname=$INSTDIR\doc\nested.txt" "Broken.nsi"
  ${ElseIf} $Broken == messagebox
    ExecWait '"$EXEPATH" /box'
  ${ElseIf} $Broken == hang
    ; A helper that never returns, and no time limit of its own.
    Sleep 600000
  ${EndIf}
  ${If} $Broken == ini
    WriteINIStr "$INSTDIR\broken.ini" "Broken" "language" "$QixLanguage"
  ${ElseIf} $Broken == sectionoff
    ; The product's section was off: only the uninstaller lands.
  ${ElseIf} $Broken == language
    ${QixWriteINIStr} "$INSTDIR\broken.ini" "Broken" "language" "English"
  ${Else}
    ${QixWriteINIStr} "$INSTDIR\broken.ini" "Broken" "language" "$(LanguageName)"
  ${EndIf}
  ${If} $QixShortcut == true
  ${OrIf} $Broken == shortcut
    SetShellVarContext all
    CreateShortCut "$DESKTOP\Broken.lnk" "$INSTDIR\Uninstall.exe"
    ${QixCheckWrite} "$DESKTOP\Broken.lnk"
  ${EndIf}
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${QixCheckWrite} "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Broken"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${If} $Broken == unquoted
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$INSTDIR\Uninstall.exe"
  ${ElseIf} $Broken == uninstallfolder
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR"'
  ${Else}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ${EndIf}
  ${QixCheckWrite} "HKLM\${UNINSTALL_KEY}"
  ${If} $Broken == prerequisite
    ${QixExecWait} '"$SYSDIR\cmd.exe" /c exit 1603' "the prerequisite"
  ${ElseIf} $Broken == reboot
    ${QixExecWait} '"$SYSDIR\cmd.exe" /c exit 3010' "the prerequisite"
  ${ElseIf} $Broken == folder
    FileOpen $0 "$INSTDIR\data" w
    FileClose $0
    ${QixCreateDirectory} "$INSTDIR\data"
  ${ElseIf} $Broken == outpath
    FileOpen $0 "$INSTDIR\bin" w
    FileClose $0
    ${QixSetOutPath} "$INSTDIR\bin"
  ${ElseIf} $Broken == uninstallold
    ; Registered, but its folder was removed by hand.
    ${QixUninstallOld} "$INSTDIR\old\Uninstall.exe" "$INSTDIR\old"
  ${EndIf}
  ${If} $Broken == speaks
    ExecWait '"$SYSDIR\cmd.exe" /c echo Broken: a child program speaks'
  ${ElseIf} $Broken == late
    Exec '"$EXEPATH" /S /late=$QixLog'
  ${EndIf}
  ${If} $Broken == restart
    SetRebootFlag true
  ${ElseIf} $Broken == errorlevel
    SetErrorLevel 5
  ${ElseIf} $Broken == quitkit
    ${QixText} $0 "Broken: stopped early" "Broken: vorzeitig beendet"
    ${QixQuit} $0
  ${EndIf}
  ${If} $Broken == exitcode
  ${AndIf} $QixShortcut != false
    ; Its own marker, and an exit code nobody reports.
    FileOpen $0 "$QixLog.ready" w
    FileClose $0
    SetErrorLevel 5
    Quit
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; The kit's macros in the uninstaller.
  ${QixText} $0 "Removing Broken" "Broken wird entfernt"
  DetailPrint $0
  SetShellVarContext all
  Delete "$DESKTOP\Broken.lnk"
  RMDir /r "$PROGRAMFILES64\Broken"
  ReadEnvStr $1 QIX_BROKEN
  ${If} $1 == keeppayload
    Delete "$INSTDIR\*.ini"
    Delete "$INSTDIR\*.exe"
  ${ElseIf} $1 == parent
    RMDir /r "$INSTDIR\.."
  ${Else}
    RMDir /r $INSTDIR
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
