; QixContract.nsh: makes a Unicode NSIS installer honour the setup contract of
; Qix_Console_Installer, which starts it (no command interpreter between) as
;     <setup> /S  [/L<e|g>] /DStrue|/DSfalse /LOG"<log path>" /D=<directory>
; The installer returns 0 on success and non-zero on failure, writes the log
; (UTF-8) only when it has something to report, and creates "<log path>.ready"
; when it ends: after success, after failure and after an abort.
; Use: !include it, call ${QixInit} first in .onInit, read $QixLanguage ("e",
; "g" or "") and $QixShortcut ("true", "false" or ""), pick a text by language
; with ${QixText} $var "English" "Deutsch", report with ${QixReport} "text",
; stop with ${QixAbort} "text" (in .onInit or a section) or ${QixQuit} "text"
; (anywhere), install with ${QixFile} "source" "target", ${QixLanguageFile}
; e|g "source" "target", ${QixFileTree} "source", ${QixSetOutPath} and
; ${QixCreateDirectory} "directory", run a program with ${QixExecWait}
; "command" "what", and check other writes with ${QixCheckWrite} "what" or
; ${QixWriteINIStr}, and set the registry view with ${QixSetRegView} 32|64.
; What these install and write they declare at compile
; time in "<installer>.qix" beside the installer. ${QixSingleSetup} "name"
; refuses a second setup while one runs, ${QixShortcutSection} ${section}
; follows /DS, ${QixUninstallOld} removes an older version, and
; ${QixCheckInstDir} checks that $INSTDIR is still the directory given. The
; same macros work in the uninstaller, where they report in a message box.
; Never Abort in .onInit nor Quit anywhere yourself: no callback runs after
; them, so nothing would create the marker.
; The kit defines .onInstSuccess, .onInstFailed and .onGUIEnd; for code of your
; own there, !define QIX_ON_INST_SUCCESS, QIX_ON_INST_FAILED or QIX_ON_GUI_END
; as a function's name before the !include. A restart that the installation
; asks for (SetRebootFlag true) ends it with 3010 and a line in the log: the
; front-end passes 3010 on with /EXITCODES=msi, and ends with -1 without it.
; With QIX_RESTART_SUCCEEDS defined the installer ends with 0 and says nothing.

!ifndef QIX_CONTRACT_NSH
!define QIX_CONTRACT_NSH

!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

Var QixLog
Var QixLanguage
Var QixShortcut
Var QixOptionsRead
Var QixReported
Var QixLineLength
Var QixUnshown
Var QixScratch
Var QixLogPath
Var QixMarkerPath
Var QixDirectory
Var QixWriting

!define QixInit "!insertmacro QixInit"
!define QixText "!insertmacro QixText"
!define QixReport "!insertmacro QixReport"
!define QixAbort "!insertmacro QixAbort"
!define QixQuit "!insertmacro QixQuit"
!define QixCheckWrite "!insertmacro QixCheckWrite"
!define QixFile "!insertmacro QixFile"
!define QixLanguageFile "!insertmacro QixLanguageFile"
!define QixWriteINIStr "!insertmacro QixWriteINIStr"
!define QixFileTree "!insertmacro QixFileTree"
!define QixSetOutPath "!insertmacro QixSetOutPath"
!define QixCreateDirectory "!insertmacro QixCreateDirectory"
!define QixExecWait "!insertmacro QixExecWait"
!define QixSingleSetup "!insertmacro QixSingleSetup"
!define QixShortcutSection "!insertmacro QixShortcutSection"
!define QixUninstallOld "!insertmacro QixUninstallOld"
!define QixCheckInstDir "!insertmacro QixCheckInstDir"
!define QixSetRegView "!insertmacro QixSetRegView"

; What of the command line an NSIS string can hold; the rest is cut off.
!define /math QIX_MAX_LINE ${NSIS_MAX_STRLEN} - 1

; The declaration: what the installer installs and may write, as its script
; names it, for the checker to compare an installation with. It is gathered
; in a temporary file while makensis compiles and copied beside the installer
; only once that is written, so that it always describes the installer beside
; it. Copied rather than moved, so that it gets the access of the installer's
; folder, not the builder's private one of the temporary file. (makensis runs
; the command through cmd or sh; %1 is its output's path.)
!tempfile QIX_DECLARATION
!appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" "qix-declaration 1$\n"
!ifdef NSIS_WIN32_MAKENSIS
  !finalize `cmd /c copy /y "${QIX_DECLARATION}" "%1.qix" >nul && del "${QIX_DECLARATION}"` = 0
!else
  !finalize `cat -- '${QIX_DECLARATION}' > '%1.qix' && rm -f -- '${QIX_DECLARATION}'` = 0
!endif
; Where ${QixFileTree} installs, as the declaration names it: the folder of
; the script's last ${QixSetOutPath} before it, $INSTDIR before any. $OUTDIR
; itself is known only when the installer runs.
!define QIX_OUTDIR "$INSTDIR"
; The registry view keys are declared in: the engine's own (a 32-bit
; installer's is the 32-bit one) until the script's last ${QixSetRegView}.
!define /math QIX_REGVIEW ${NSIS_PTR_SIZE} * 8

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
  !ifdef __UNINSTALL__
    ; The uninstaller gets no /L: its language decides. (The installer's line
    ; length serves as scratch, so that the texts may name $QixScratch.)
    IntOp $QixLineLength $LANGUAGE & 0x3ff
    ${If} $QixLineLength = 7
      StrCpy ${var} `${german}`
    ${Else}
      StrCpy ${var} `${english}`
    ${EndIf}
  !else
    Push `${german}`
    Push `${english}`
    Call QixPickText
    Pop ${var}
  !endif
!macroend

; Appends one line to the log, creating the log at the first report. Without
; a log path (a person started the installer) the lines are shown at the end.
!macro QixReport text
  !ifdef __UNINSTALL__
    ; Nobody relays an uninstaller's log: a person sees the text, a silent run
    ; its exit code.
    MessageBox MB_OK|MB_ICONSTOP `${text}` /SD IDOK
  !else
    Push `${text}`
    Call QixAppendLine
  !endif
!macroend

; Reports `text`, creates the marker and ends the installer with code 2. In
; .onInit no callback runs after an Abort, so the marker must come first; in a
; section the Abort leads to .onInstFailed.
!macro QixAbort text
  ${QixReport} `${text}`
  !ifndef __UNINSTALL__
    Call QixFinish
  !endif
  SetErrorLevel 2
  Abort
!macroend

; The same from anywhere (a page's callback, a function), through Quit: no
; callback runs after it, so nothing that .onInstFailed would do happens.
!macro QixQuit text
  ${QixReport} `${text}`
  !ifndef __UNINSTALL__
    Call QixFinish
  !endif
  SetErrorLevel 2
  Quit
!macroend

; Ends the installation with a report when the command before it failed to
; write `what`, and declares `what`. A silent run goes on after a failed write
; otherwise.
!macro QixCheckWrite what
  !insertmacro _QixCheckWrite `${what}`
  !insertmacro _QixDeclareWritten `${what}`
!macroend

; The check alone, for the kit's macros that declare what they write otherwise.
!macro _QixCheckWrite what
  ${If} ${Errors}
    !ifdef __UNINSTALL__
      ${QixText} $QixScratch "$(^Name): cannot write ${what}" "$(^Name): Schreiben nicht möglich: ${what}"
    !else
      Push `${what}`
      Call QixCannotWrite
      Pop $QixScratch
    !endif
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; File, checked: installs `source` as `target` (a full path), or fails.
!macro QixFile source target
  !insertmacro _QixFile `${source}` `${target}`
  !insertmacro _QixDeclareFile "" `${source}` `${target}`
!macroend

!macro _QixFile source target
  ClearErrors
  ; On a full disk the engine aborts inside File; .onInstFailed then names the file.
  StrCpy $QixWriting `${target}`
  File `/oname=${target}` `${source}`
  StrCpy $QixWriting ""
  !insertmacro _QixCheckWrite `${target}`
!macroend

; QixFile for a run in `language` (e or g, as ${QixText} picks) alone.
!macro QixLanguageFile language source target
  !if `${language}` S!= e
    !if `${language}` S!= g
      !error "QixLanguageFile: the language is e or g, not ${language}"
    !endif
  !endif
  ${QixText} $QixScratch e g
  ${If} $QixScratch == ${language}
    !insertmacro _QixFile `${source}` `${target}`
  ${EndIf}
  !insertmacro _QixDeclareFile ${language} `${source}` `${target}`
!macroend

; File /r, checked: installs the tree `source` (a pattern, as File /r takes it)
; into $OUTDIR, or fails when any file of it could not be written.
!macro QixFileTree source
  ClearErrors
  StrCpy $QixWriting $OUTDIR
  File /r `${source}`
  StrCpy $QixWriting ""
  !insertmacro _QixCheckWrite $OUTDIR
  !insertmacro _QixDeclareTree
!macroend

; SetOutPath, checked: the engine goes on when it cannot create the folder.
!macro QixSetOutPath directory
  !ifndef __UNINSTALL__
    !define /redef QIX_OUTDIR `${directory}`
  !endif
  ClearErrors
  SetOutPath `${directory}`
  ${IfNot} ${FileExists} `${directory}\*.*`
    SetErrors
  ${EndIf}
  !insertmacro _QixCheckWrite `${directory}`
  !insertmacro _QixDeclareFolder `${directory}`
!macroend

; CreateDirectory, checked.
!macro QixCreateDirectory directory
  ClearErrors
  CreateDirectory `${directory}`
  ${IfNot} ${FileExists} `${directory}\*.*`
    SetErrors
  ${EndIf}
  !insertmacro _QixCheckWrite `${directory}`
  !insertmacro _QixDeclareFolder `${directory}`
!macroend

; ExecWait, checked: runs `command` (a prerequisite's setup, sc.exe) and maps
; its exit code: 0 goes on, 3010 and 1641 (a restart is due) set the restart
; flag, anything else ends the installation with a report naming `what`.
!macro QixExecWait command what
  ClearErrors
  ExecWait `${command}` $QixScratch
  ${If} ${Errors}
    ${QixText} $QixScratch "$(^Name): cannot start ${what}" "$(^Name): ${what} kann nicht gestartet werden"
    ${QixAbort} $QixScratch
  ${ElseIf} $QixScratch = 3010
  ${OrIf} $QixScratch = 1641
    SetRebootFlag true
  ${ElseIf} $QixScratch <> 0
    ${QixText} $QixScratch "$(^Name): ${what} ended with exit code $QixScratch" \
      "$(^Name): ${what} endete mit dem Exit-Code $QixScratch"
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; Refuses to run while another setup holding the same `name` runs (in .onInit,
; after ${QixInit}); the name is held until this setup ends.
!macro QixSingleSetup name
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${name}") p ?e'
  Pop $QixScratch
  ${If} $QixScratch = 183
    ${QixText} $QixScratch "$(^Name): another setup is running; try again when it has ended" \
      "$(^Name): Ein anderes Setup läuft; bitte erneut versuchen, wenn es beendet ist"
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; Selects `section` (its index, ${name} of a named section) with /DStrue and
; deselects it with /DSfalse; without /DS the section keeps its default.
!macro QixShortcutSection section
  ${If} $QixShortcut == "true"
    !insertmacro SelectSection ${section}
  ${ElseIf} $QixShortcut == "false"
    !insertmacro UnselectSection ${section}
  ${EndIf}
!macroend

; Removes an older version through its NSIS uninstaller in `directory` and
; checks that it went: run in place (_?=), the uninstaller waits for itself,
; and leaves only itself behind, which this removes.
!macro QixUninstallOld uninstaller directory
  ClearErrors
  ExecWait `"${uninstaller}" /S _?=${directory}` $QixScratch
  ${If} ${Errors}
  ${OrIf} $QixScratch <> 0
    StrCpy $QixScratch ""
  ${Else}
    Delete `${uninstaller}`
    RMDir `${directory}`
    ${If} ${FileExists} `${uninstaller}`
      StrCpy $QixScratch ""
    ${EndIf}
  ${EndIf}
  ${If} $QixScratch == ""
    ${QixText} $QixScratch "$(^Name): cannot remove the older version in ${directory}" \
      "$(^Name): Die ältere Version in ${directory} kann nicht entfernt werden"
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; In the last section: ends with a report when $INSTDIR is no longer the
; directory given (a script that changed it installed elsewhere). The kit
; checks it after a successful installation too, but can then only report.
!macro QixCheckInstDir
  ${If} $QixDirectory != ""
  ${AndIf} $QixDirectory != $INSTDIR
    ${QixText} $QixScratch "$(^Name): installed into $INSTDIR, not into the directory given, $QixDirectory" \
      "$(^Name): in $INSTDIR installiert, nicht in das angegebene Verzeichnis $QixDirectory"
    ${QixAbort} $QixScratch
  ${EndIf}
!macroend

; SetRegView, declared: the keys the kit declares after it are in `view` (32 or 64).
!macro QixSetRegView view
  !ifndef __UNINSTALL__
    !define /redef QIX_REGVIEW ${view}
  !endif
  SetRegView ${view}
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

; The records of the declaration, one a line, tab-separated (the checker's
; declaration.h). None come from the uninstaller, which the checker does not
; judge, nor from the kit's own functions.
!macro _QixDeclareFile language source target
  !ifndef __UNINSTALL__
    !insertmacro _QixDeclarationSection
    !insertmacro _QixDeclarationField `${target}`
    !insertmacro _QixSourceSums `${source}`
    !appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" `file$\t${_QIX_SECTION}$\t${language}$\t${target}$\t${_QIX_SUMS}$\n`
    !undef _QIX_SUMS
  !endif
!macroend

!macro _QixDeclareTree
  !ifndef __UNINSTALL__
    !insertmacro _QixDeclarationSection
    !insertmacro _QixDeclarationField `${QIX_OUTDIR}`
    !appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" `tree$\t${_QIX_SECTION}$\t${QIX_OUTDIR}$\n`
  !endif
!macroend

; A registry key (HK...) is declared with the view of the script's last
; ${QixSetRegView} before it, or the engine's own.
!macro _QixDeclareWritten what
  !ifndef __UNINSTALL__
    !insertmacro _QixDeclarationSection
    !insertmacro _QixDeclarationField `${what}`
    !searchparse /noerrors `${what}` "" _QIX_BEFORE "HK" _QIX_AFTER
    !define /redef _QIX_KIND written
    !ifdef _QIX_AFTER
      !if `${_QIX_BEFORE}` == ""
        !define /redef _QIX_KIND registry
      !endif
      !undef _QIX_AFTER
    !endif
    !ifdef _QIX_BEFORE
      !undef _QIX_BEFORE
    !endif
    !if ${_QIX_KIND} == registry
      !appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" `registry$\t${_QIX_SECTION}$\t${QIX_REGVIEW}$\t${what}$\n`
    !else
      !appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" `written$\t${_QIX_SECTION}$\t${what}$\n`
    !endif
  !endif
!macroend

; A folder the installer makes: the folder alone, not what comes into it.
!macro _QixDeclareFolder directory
  !ifndef __UNINSTALL__
    !insertmacro _QixDeclarationSection
    !insertmacro _QixDeclarationField `${directory}`
    !appendfile /CHARSET=UTF8 /RAWNL "${QIX_DECLARATION}" `folder$\t${_QIX_SECTION}$\t${directory}$\n`
  !endif
!macroend

; "*" outside any section.
!macro _QixDeclarationSection
  !ifdef __SECTION__
    !define /redef _QIX_SECTION `${__SECTION__}`
  !else
    !define /redef _QIX_SECTION *
  !endif
  !insertmacro _QixDeclarationField `${_QIX_SECTION}`
!macroend

; A tab or line break would split a record.
!macro _QixDeclarationField value
  !searchparse /noerrors `${value}` "$\t" _QIX_TAB
  !searchparse /noerrors `${value}` "$\n" _QIX_LF
  !searchparse /noerrors `${value}` "$\r" _QIX_CR
  !ifdef _QIX_TAB | _QIX_LF | _QIX_CR
    !error "The setup kit cannot declare a name with a tab or line break in it: ${value}"
  !endif
!macroend

; Defines _QIX_SUMS as the size and the SHA-256 of `source`, tab-separated,
; read by the build machine's own tools; both empty, with a warning, when
; they fail.
!macro _QixSourceSums source
  !tempfile _QIX_SUMS_FILE
  !ifdef NSIS_WIN32_MAKENSIS
    ; makensis runs the command through cmd; PowerShell reads '' as ' (the
    ; temporary folder holds the user's name, which may have one).
    !searchreplace _QIX_SOURCE `${source}` "'" "''"
    !searchreplace _QIX_SUMS_TARGET `${_QIX_SUMS_FILE}` "'" "''"
    !system `powershell -NoProfile -NonInteractive -Command "$f = Get-Item -LiteralPath '${_QIX_SOURCE}'; [IO.File]::WriteAllText('${_QIX_SUMS_TARGET}', [string]$f.Length + [char]9 + (Get-FileHash -LiteralPath $f.FullName -Algorithm SHA256).Hash.ToLower())"` _QIX_STATUS
    !undef _QIX_SUMS_TARGET
  !else
    ; makensis runs the command through sh, with every backslash turned into
    ; a slash, so a quote is escaped without one.
    !searchreplace _QIX_SOURCE `${source}` "'" `'"'"'`
    !system `f='${_QIX_SOURCE}' && s=$(stat -L -c %s -- "$f") && h=$(sha256sum < "$f") && printf '%s$\t%.64s' "$s" "$h" > '${_QIX_SUMS_FILE}'` _QIX_STATUS
  !endif
  !define /file _QIX_SUMS "${_QIX_SUMS_FILE}"
  !delfile "${_QIX_SUMS_FILE}"
  !if `${_QIX_SUMS}` == ""
    !define /redef _QIX_STATUS 1
  !endif
  !if ${_QIX_STATUS} <> 0
    !warning "The setup kit cannot read the size and SHA-256 of ${source}: it declares the file without them"
    !define /redef _QIX_SUMS "$\t"
  !endif
  !undef _QIX_STATUS
  !undef _QIX_SOURCE
  !undef _QIX_SUMS_FILE
!macroend

Function QixReadOptions
  ${If} $QixOptionsRead == ""
    StrCpy $QixOptionsRead 1
    StrCpy $QixWriting ""
    Push $0
    Push $1
    Push $2
    Push $3
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
    StrCpy $QixLogPath 0
    ${If} $0 P<> 0
      IntPtrOp $0 $0 + 10
      StrCpy $1 '"'
      System::Call 'shlwapi::StrStrW(p r0, w r1) p .r1'
      ${If} $1 P<> 0
        IntPtrOp $1 $1 - $0
        IntPtrOp $1 $1 / 2
        ; The log and the marker are written through the whole path, which
        ; may be longer than an NSIS string: in the long form (\\?\) when it
        ; is a drive path, held in memory, with room for ".ready".
        IntOp $2 $1 + 11
        IntOp $2 $2 * 2
        System::Alloc $2
        Pop $QixLogPath
        System::Alloc $2
        Pop $QixMarkerPath
        System::Call '*$0(&w2 .r2)'
        StrCpy $2 $2 1 1
        ${If} $2 == ":"
          StrCpy $2 "\\?\"
        ${Else}
          StrCpy $2 ""
        ${EndIf}
        System::Call 'kernel32::lstrcpyW(p $QixLogPath, w r2)'
        StrLen $2 $2
        IntOp $2 $2 * 2
        IntPtrOp $2 $QixLogPath + $2
        IntOp $3 $1 + 1
        System::Call 'kernel32::lstrcpynW(p r2, p r0, i r3)'
        System::Call 'kernel32::lstrcpyW(p $QixMarkerPath, p $QixLogPath)'
        StrCpy $2 ".ready"
        System::Call 'kernel32::lstrcatW(p $QixMarkerPath, w r2)'
        ${If} $3 <= ${NSIS_MAX_STRLEN}
          System::Call 'kernel32::lstrcpynW(w .r2, p r0, i r3)'
          StrCpy $QixLog $2
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ClearErrors
    Pop $3
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
    StrCpy $QixDirectory $2
    ${If} $2 != $INSTDIR
      ; The engine swaps only a directory it cannot take: no drive path, a
      ; drive it cannot see, a character no name holds, a trailing blank.
      ; Any other difference is the script's, before QixInit.
      StrCpy $1 $2 "" 2
      System::Call 'shlwapi::StrCSpnW(w r1, w "/*?<>|:") i .r1'
      StrLen $QixScratch $2
      IntOp $QixScratch $QixScratch - 2
      ${If} $1 < $QixScratch
      ${OrIfNot} ${FileExists} "$2\*.*"
      ${OrIf} $2 == ""
        ${QixText} $QixScratch "$(^Name): cannot install into $0" "$(^Name): Installation nicht möglich in $0"
      ${Else}
        StrCpy $1 $2 1 -1
        StrCpy $QixScratch $2 1 1
        ${If} $1 == " "
        ${OrIf} $QixScratch != ":"
          ${QixText} $QixScratch "$(^Name): cannot install into $0" "$(^Name): Installation nicht möglich in $0"
        ${Else}
          ${QixText} $QixScratch "$(^Name): the installer changed its directory from $2 to $INSTDIR before QixInit, which must come first in .onInit" \
            "$(^Name): Das Installationsprogramm hat sein Verzeichnis vor QixInit von $2 in $INSTDIR geändert; QixInit muss in .onInit zuerst kommen"
        ${EndIf}
      ${EndIf}
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
  ${If} $QixLogPath P= 0
    ${If} $QixUnshown != ""
      StrCpy $QixUnshown "$QixUnshown$\r$\n"
    ${EndIf}
    StrCpy $QixUnshown "$QixUnshown$0"
  ${Else}
    ; FILE_APPEND_DATA, shared for reading, OPEN_ALWAYS.
    System::Call 'kernel32::CreateFileW(p $QixLogPath, i 4, i 3, p 0, i 4, i 0x80, p 0) p .r1'
    ${If} $1 P<> -1
      StrCpy $0 "$0$\r$\n"
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p 0, i 0, p 0, p 0) i .r2'
      System::Alloc $2
      Pop $3
      System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r0, i -1, p r3, i r2, p 0, p 0)'
      IntOp $2 $2 - 1
      System::Call 'kernel32::WriteFile(p r1, p r3, i r2, *i .r4, p 0)'
      System::Free $3
      System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
  ${EndIf}
  ClearErrors
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The report of a failed write, with its cause when the disk is full.
Function QixCannotWrite
  Exch $0
  Push $1
  Push $2
  ; Through a register: the System plug-in passes a path written into its
  ; call (C:\...) as an empty string, and the call fails.
  StrCpy $2 $INSTDIR
  System::Call 'kernel32::GetDiskFreeSpaceExW(w r2, *l .r1, p 0, p 0) i .r2'
  ${If} $2 <> 0
    System::Int64Op $1 < 1048576
    Pop $1
  ${Else}
    ; Unknown: no cause rather than a wrong one.
    StrCpy $1 0
  ${EndIf}
  ${If} $1 = 1
    ${QixText} $0 "$(^Name): cannot write $0: the disk is full" \
      "$(^Name): Schreiben nicht möglich: $0: Der Datenträger ist voll"
  ${Else}
    ${QixText} $0 "$(^Name): cannot write $0" "$(^Name): Schreiben nicht möglich: $0"
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Creates the marker; a run without a log path shows what was reported
; instead (a silent one shows nothing and never waits).
Function QixFinish
  Call QixReadOptions
  ${If} $QixLogPath P<> 0
    Push $0
    ; GENERIC_WRITE, CREATE_ALWAYS.
    System::Call 'kernel32::CreateFileW(p $QixMarkerPath, i 0x40000000, i 3, p 0, i 2, i 0x80, p 0) p .r0'
    ${If} $0 P<> -1
      System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
    Pop $0
  ${ElseIf} $QixUnshown != ""
    MessageBox MB_OK|MB_ICONSTOP $QixUnshown /SD IDOK
    StrCpy $QixUnshown ""
  ${EndIf}
FunctionEnd

; An installation that asked for a restart, or set a non-zero exit code and
; said nothing, reports it: the front-end passes on only 3010, 1641 and 1618,
; and those only with /EXITCODES=msi; the log says why.
Function .onInstSuccess
  !ifdef QIX_ON_INST_SUCCESS
    Call ${QIX_ON_INST_SUCCESS}
  !endif
  Push $0
  ; A script that changed $INSTDIR in a section installed elsewhere.
  ${If} $QixDirectory != ""
  ${AndIf} $QixDirectory != $INSTDIR
    ${QixText} $0 "$(^Name): installed into $INSTDIR, not into the directory given, $QixDirectory" \
      "$(^Name): in $INSTDIR installiert, nicht in das angegebene Verzeichnis $QixDirectory"
    ${QixReport} $0
    SetErrorLevel 2
  ${EndIf}
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
  ${AndIf} $QixWriting != ""
    ; The engine aborted inside a File, as it does on a full disk. The part
    ; it wrote goes, or the log would find no room either.
    Delete $QixWriting
    Push $0
    Push $QixWriting
    Call QixCannotWrite
    Pop $0
    ${QixReport} $0
    Pop $0
  ${ElseIf} $QixReported == ""
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
