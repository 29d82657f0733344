; An installer built with the setup kit that makes, when QIX_BROKEN names it,
; one of the mistakes the kit's checker must find; with none named it is sound.
; None shows in the checker's first installation (/L=e /DS=0), which the
; other cases need. QIX_BROKEN=restart, errorlevel or quitkit make it do what
; the kit must report for it: ask for a restart, set exit code 5, end early.
Unicode true
Target amd64-unicode
!addincludedir "..\..\setup-kit"
!include QixContract.nsh

Name "Broken"
OutFile "BrokenSetup.exe"
InstallDir "$PROGRAMFILES64\Broken"
RequestExecutionLevel admin

LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LangString Installed ${LANG_ENGLISH} "Broken is already installed in"
LangString Installed ${LANG_GERMAN} "Broken ist bereits installiert in"

Var Broken

Function .onInit
  ReadEnvStr $Broken QIX_BROKEN
  ; A refusal that a person never sees.
  ${If} $Broken == nomessage
  ${AndIfNot} ${Silent}
    SetErrorLevel 2
    Quit
  ${EndIf}
  ; Without ${QixInit} the directory goes unchecked.
  ${If} $Broken != cut
    ${QixInit}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\broken.ini"
    ${If} $Broken == quit
      Quit
    ${ElseIf} $Broken == english
      ${QixAbort} "$(Installed) $INSTDIR"
    ${EndIf}
    ${QixText} $0 "Broken is already installed in $INSTDIR" \
      "Broken ist bereits installiert in $INSTDIR"
    ${QixAbort} $0
  ${EndIf}
FunctionEnd

Section
  SetOutPath $INSTDIR
  ${If} $Broken == unchecked
    File "/oname=$INSTDIR\broken.txt" "Broken.nsi"
  ${ElseIf} $Broken == abort
    ClearErrors
    File "/oname=$INSTDIR\broken.txt" "Broken.nsi"
    ${If} ${Errors}
      Abort "cannot write broken.txt"
    ${EndIf}
  ${Else}
    ${QixFile} "Broken.nsi" "$INSTDIR\broken.txt"
  ${EndIf}
  ${If} $Broken == ini
    WriteINIStr "$INSTDIR\broken.ini" "Broken" "language" "$QixLanguage"
  ${Else}
    ${QixWriteINIStr} "$INSTDIR\broken.ini" "Broken" "language" "$QixLanguage"
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
