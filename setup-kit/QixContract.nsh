; QixContract.nsh: makes a Unicode NSIS installer honour the setup contract of
; Qix_Console_Installer, which runs it through cmd as
;     <setup> /S  [/L<e|g>] /DStrue|/DSfalse /LOG"<log path>" /D=<directory>
; The installer returns 0 on success and non-zero on failure, writes the log
; (UTF-8) only when it has something to report, and creates "<log path>.ready"
; when it ends: after success, after failure and after an abort.
; Use: !include it, call ${QixInit} first in .onInit, read $QixLanguage ("e",
; "g" or "") and $QixShortcut ("true", "false" or ""), report with
; ${QixReport} "text" and stop with ${QixAbort} "text" (exit code 2). Never
; Abort or Quit in .onInit yourself: no callback runs after them, so nothing
; would create the marker.
; The kit defines .onInstSuccess, .onInstFailed and .onGUIEnd; for code of your
; own there, !define QIX_ON_INST_SUCCESS, QIX_ON_INST_FAILED or QIX_ON_GUI_END
; as a function's name before the !include.

!ifndef QIX_CONTRACT_NSH
!define QIX_CONTRACT_NSH

!include FileFunc.nsh
!include LogicLib.nsh

Var QixLog
Var QixLanguage
Var QixShortcut
Var QixOptionsRead
Var QixReported

!define QixInit "!insertmacro QixInit"
!define QixReport "!insertmacro QixReport"
!define QixAbort "!insertmacro QixAbort"

; The front-end may pass a drive root such as C:\ as the directory.
AllowRootDirInstall true

; Reads the contract's options; /D= the engine has taken off the line already.
!macro QixInit
  Call QixReadOptions
  Call QixCheckDirectory
!macroend

; Appends one line to the log, creating the log at the first report.
!macro QixReport text
  Push `${text}`
  Call QixAppendLine
!macroend

; Reports `text`, creates the marker and ends the installer with code 2. In
; .onInit no callback runs after an Abort, so the marker must come first.
!macro QixAbort text
  ${QixReport} `${text}`
  Call QixFinish
  SetErrorLevel 2
  Abort
!macroend

Function QixReadOptions
  ${If} $QixOptionsRead == ""
    StrCpy $QixOptionsRead 1
    Push $0
    Push $1
    ${GetParameters} $0
    ClearErrors
    ${GetOptionsS} $0 "/LOG" $QixLog
    ; "/L" alone would also match "/LOG": look for each whole switch.
    StrCpy $QixLanguage ""
    ${GetOptionsS} $0 "/Le" $1
    ${IfNot} ${Errors}
    ${AndIf} $1 == ""
      StrCpy $QixLanguage e
    ${EndIf}
    ClearErrors
    ${GetOptionsS} $0 "/Lg" $1
    ${IfNot} ${Errors}
    ${AndIf} $1 == ""
      StrCpy $QixLanguage g
    ${EndIf}
    ClearErrors
    ${GetOptionsS} $0 "/DS" $QixShortcut
    ${If} $QixShortcut != "true"
    ${AndIf} $QixShortcut != "false"
      StrCpy $QixShortcut ""
    ${EndIf}
    ClearErrors
    Pop $1
    Pop $0
  ${EndIf}
FunctionEnd

; The engine puts its default in place of a /D= directory it takes for invalid
; (another drive's path it cannot see, for instance) and drops characters it
; cannot take: an installation elsewhere than asked must fail, not succeed.
Function QixCheckDirectory
  Push $0
  Push $1
  Push $2
  System::Call 'kernel32::GetCommandLineW() w .r0'
  StrLen $1 $0
  ${Do}
    IntOp $1 $1 - 1
    ${IfThen} $1 < 0 ${|} ${ExitDo} ${|}
    StrCpy $2 $0 4 $1
  ${LoopUntil} $2 S== " /D="
  ${If} $1 >= 0
    IntOp $1 $1 + 4
    StrCpy $0 $0 "" $1
    StrCpy $2 $0 1 -1
    ${If} $2 == "\"
      StrCpy $2 $0 -1
    ${Else}
      StrCpy $2 $0
    ${EndIf}
    ${If} $2 != $INSTDIR
      ${QixAbort} "$(^Name): cannot install into $0"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The log is UTF-8, as the front-end relays it byte for byte; FileWrite would
; write the system's ANSI code page instead.
Function QixAppendLine
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Call QixReadOptions
  ${If} $QixLog != ""
    ClearErrors
    FileOpen $1 $QixLog a
    ${IfNot} ${Errors}
      FileSeek $1 0 END
      StrCpy $0 "$0$\r$\n"
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p 0, i 0, p 0, p 0) i .r2'
      System::Alloc $2
      Pop $3
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p r3, i r2, p 0, p 0)'
      IntOp $2 $2 - 1
      System::Call 'kernel32::WriteFile(p r1, p r3, i r2, *i .r4, p 0)'
      System::Free $3
      FileClose $1
      StrCpy $QixReported 1
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function QixFinish
  Call QixReadOptions
  ${If} $QixLog != ""
    Push $0
    FileOpen $0 "$QixLog.ready" w
    FileClose $0
    Pop $0
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  !ifdef QIX_ON_INST_SUCCESS
    Call ${QIX_ON_INST_SUCCESS}
  !endif
  Call QixFinish
FunctionEnd

; A failure nobody reported still gets a line: the log is all the caller sees.
Function .onInstFailed
  !ifdef QIX_ON_INST_FAILED
    Call ${QIX_ON_INST_FAILED}
  !endif
  ${If} $QixReported == ""
    ${QixReport} "$(^Name): the installation into $INSTDIR failed"
  ${EndIf}
  Call QixFinish
FunctionEnd

; Only a run with a window gets here, after the user cancelled, for instance.
Function .onGUIEnd
  !ifdef QIX_ON_GUI_END
    Call ${QIX_ON_GUI_END}
  !endif
  Call QixFinish
FunctionEnd

!endif
