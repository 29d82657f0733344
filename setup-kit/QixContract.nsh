; QixContract.nsh: makes a Unicode NSIS installer honour the setup contract of
; Qix_Console_Installer, which runs it through cmd as
;     <setup> /S  [/L<e|g>] /DStrue|/DSfalse /LOG"<log path>" /D=<directory>
; The installer returns 0 on success and non-zero on failure, writes the log
; (UTF-8) only when it has something to report, and creates "<log path>.ready"
; when it ends: after success, after failure and after an abort.
; Use: !include it, call ${QixInit} first in .onInit, read $QixLanguage ("e",
; "g" or "") and $QixShortcut ("true", "false" or ""), pick a text by language
; with ${QixText} $var "English" "Deutsch", report with ${QixReport} "text",
; stop with ${QixAbort} "text" (in .onInit or a section) or ${QixQuit} "text"
; (anywhere), install with ${QixFile} "source" "target" and check other
; writes with ${QixCheckWrite} "what" or ${QixWriteINIStr}. Never Abort in
; .onInit nor Quit anywhere yourself: no callback runs after them, so nothing
; would create the marker.
; The kit defines .onInstSuccess, .onInstFailed and .onGUIEnd; for code of your
; own there, !define QIX_ON_INST_SUCCESS, QIX_ON_INST_FAILED or QIX_ON_GUI_END
; as a function's name before the !include. A restart that the installation
; asks for (SetRebootFlag true) fails the run unless QIX_RESTART_SUCCEEDS is
; defined.

!ifndef QIX_CONTRACT_NSH
!define QIX_CONTRACT_NSH

!include FileFunc.nsh
!include LogicLib.nsh

Var QixLog
Var QixLanguage
Var QixShortcut
Var QixOptionsRead
Var QixReported
Var QixLineLength
Var QixUnshown
Var QixScratch

!define QixInit "!insertmacro QixInit"
!define QixText "!insertmacro QixText"
!define QixReport "!insertmacro QixReport"
!define QixAbort "!insertmacro QixAbort"
!define QixQuit "!insertmacro QixQuit"
!define QixCheckWrite "!insertmacro QixCheckWrite"
!define QixFile "!insertmacro QixFile"
!define QixWriteINIStr "!insertmacro QixWriteINIStr"

; What of the command line an NSIS string can hold; the rest is cut off.
!define /math QIX_MAX_LINE ${NSIS_MAX_STRLEN} - 1

; The front-end may pass a drive root such as C:\ as the directory.
AllowRootDirInstall true

; Reads the contract's options and sets $LANGUAGE by /L; /D= the engine has
; taken off the line already.
!macro QixInit
  Call QixReadOptions
  ${If} $QixLanguage == e
    StrCpy $LANGUAGE 1033
  ${ElseIf} $QixLanguage == g
    StrCpy $LANGUAGE 1031
  ${EndIf}
  Call QixCheckDirectory
!macroend

; Puts into `var` the English or the German text: by /L, or without /L by the
; installer's language. Unlike $(...), it speaks the right language in .onInit.
!macro QixText var english german
  Push `${german}`
  Push `${english}`
  Call QixPickText
  Pop ${var}
!macroend

; Appends one line to the log, creating the log at the first report. Without
; a log path (a person started the installer) the lines are shown at the end.
!macro QixReport text
  Push `${text}`
  Call QixAppendLine
!macroend

; Reports `text`, creates the marker and ends the installer with code 2. In
; .onInit no callback runs after an Abort, so the marker must come first; in a
; section the Abort leads to .onInstFailed.
!macro QixAbort text
  ${QixReport} `${text}`
  Call QixFinish
  SetErrorLevel 2
  Abort
!macroend

; The same from anywhere (a page's callback, a function), through Quit: no
; callback runs after it, so nothing that .onInstFailed would do happens.
!macro QixQuit text
  ${QixReport} `${text}`
  Call QixFinish
  SetErrorLevel 2
  Quit
!macroend

; Ends the installation with a report when the command before it failed to
; write `what`. A silent run goes on after a failed write otherwise.
!macro QixCheckWrite what
  ${If} ${Errors}
    ${QixText} $QixScratch "$(^Name): cannot write ${what}" "$(^Name): Schreiben nicht möglich: ${what}"
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; File, checked: installs `source` as `target` (a full path), or fails.
!macro QixFile source target
  ClearErrors
  File `/oname=${target}` `${source}`
  ${QixCheckWrite} `${target}`
!macroend

; WriteINIStr, checked: Wine writes past 250 characters of path to a file of
; another name, and when a folder is in the way it keeps the value in memory
; only, and says nothing either time.
!macro QixWriteINIStr file section key value
  ClearErrors
  WriteINIStr `${file}` `${section}` `${key}` `${value}`
  ${IfNot} ${Errors}
    ; Wine's flush sets the error flag also when it succeeds.
    FlushINI `${file}`
    ClearErrors
    ReadINIStr $QixScratch `${file}` `${section}` `${key}`
    ${If} $QixScratch S!= `${value}`
    ${OrIfNot} ${FileExists} `${file}`
    ${OrIf} ${FileExists} `${file}\*.*`
      SetErrors
    ${EndIf}
  ${Else}
    ; Testing the flag cleared it.
    SetErrors
  ${EndIf}
  ${QixCheckWrite} `${file}`
!macroend

Function QixReadOptions
  ${If} $QixOptionsRead == ""
    StrCpy $QixOptionsRead 1
    Push $0
    Push $1
    Push $2
    ${GetParameters} $0
    ClearErrors
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
    ; The engine keeps only the first characters of a long command line, so
    ; the log path comes from the whole line: a failure must still reach it.
    System::Call 'kernel32::GetCommandLineW() p .r0'
    System::Call 'kernel32::lstrlenW(p r0) i .r1'
    StrCpy $QixLineLength $1
    StrCpy $1 '/LOG"'
    System::Call 'shlwapi::StrStrW(p r0, w r1) p .r0'
    StrCpy $QixLog ""
    ${If} $0 P<> 0
      IntPtrOp $0 $0 + 10
      StrCpy $1 '"'
      System::Call 'shlwapi::StrStrW(p r0, w r1) p .r1'
      ${If} $1 P<> 0
        IntPtrOp $1 $1 - $0
        IntPtrOp $1 $1 / 2
        IntOp $1 $1 + 1
        ${If} $1 <= ${NSIS_MAX_STRLEN}
          System::Call 'kernel32::lstrcpynW(w .r2, p r0, i r1)'
          StrCpy $QixLog $2
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ClearErrors
    Pop $2
    Pop $1
    Pop $0
  ${EndIf}
FunctionEnd

Function QixPickText
  Call QixReadOptions
  Exch $0
  Exch
  Exch $1
  Push $2
  StrCpy $2 $QixLanguage
  ${If} $2 == ""
    ; German of any country.
    IntOp $2 $LANGUAGE & 0x3ff
    ${If} $2 = 7
      StrCpy $2 g
    ${EndIf}
  ${EndIf}
  ${If} $2 == g
    StrCpy $0 $1
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The engine puts its default in place of a /D= directory it takes for invalid
; (another drive's path it cannot see, for instance) and drops characters it
; cannot take, and it cuts a long command line: an installation elsewhere than
; asked must fail, not succeed.
Function QixCheckDirectory
  Push $0
  Push $1
  Push $2
  ${If} $QixLineLength > ${QIX_MAX_LINE}
    ${QixText} $QixScratch "$(^Name): the directory is too long: the setup's command line has $QixLineLength characters, and only ${QIX_MAX_LINE} reach it" \
      "$(^Name): Das Verzeichnis ist zu lang: Die Befehlszeile des Setups hat $QixLineLength Zeichen, und nur ${QIX_MAX_LINE} kommen an"
    ${QixAbort} $QixScratch
  ${EndIf}
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
      ${QixText} $QixScratch "$(^Name): cannot install into $0" "$(^Name): Installation nicht möglich in $0"
      ${QixAbort} $QixScratch
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
  StrCpy $QixReported 1
  ${If} $QixLog == ""
    ${If} $QixUnshown != ""
      StrCpy $QixUnshown "$QixUnshown$\r$\n"
    ${EndIf}
    StrCpy $QixUnshown "$QixUnshown$0"
  ${Else}
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
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Creates the marker; a run without a log path shows what was reported
; instead (a silent one shows nothing and never waits).
Function QixFinish
  Call QixReadOptions
  ${If} $QixLog != ""
    Push $0
    FileOpen $0 "$QixLog.ready" w
    FileClose $0
    Pop $0
  ${ElseIf} $QixUnshown != ""
    MessageBox MB_OK|MB_ICONSTOP $QixUnshown /SD IDOK
    StrCpy $QixUnshown ""
  ${EndIf}
FunctionEnd

; An installation that asked for a restart, or set a non-zero exit code and
; said nothing, reports it: the exit code alone reaches nobody.
Function .onInstSuccess
  !ifdef QIX_ON_INST_SUCCESS
    Call ${QIX_ON_INST_SUCCESS}
  !endif
  Push $0
  !ifndef QIX_RESTART_SUCCEEDS
    ${If} ${RebootFlag}
      ${QixText} $0 "$(^Name): the installation into $INSTDIR needs a restart to complete" \
        "$(^Name): Die Installation in $INSTDIR wird erst nach einem Neustart vollständig"
      ${QixReport} $0
      SetErrorLevel 3010
    ${EndIf}
  !endif
  GetErrorLevel $0
  ${If} $0 <> 0
  ${AndIf} $0 <> -1
  ${AndIf} $QixReported == ""
    ${QixText} $0 "$(^Name): the installation into $INSTDIR ended with exit code $0" \
      "$(^Name): Die Installation in $INSTDIR endete mit dem Exit-Code $0"
    ${QixReport} $0
  ${EndIf}
  Pop $0
  Call QixFinish
FunctionEnd

; A failure nobody reported still gets a line: the log is all the caller sees.
Function .onInstFailed
  !ifdef QIX_ON_INST_FAILED
    Call ${QIX_ON_INST_FAILED}
  !endif
  ${If} $QixReported == ""
    Push $0
    ${QixText} $0 "$(^Name): the installation into $INSTDIR failed" \
      "$(^Name): Die Installation in $INSTDIR ist fehlgeschlagen"
    ${QixReport} $0
    Pop $0
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
