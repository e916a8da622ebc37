; The Windows setup program, built by tools/build-windows.sh (makensis works in
; this folder, so paths here are relative to it):
;   makensis -DVERSION=0.1.0 -DSTAGE=<folder with the programs> -DOUTFILE=<setup.exe> tools/postvue-setup.nsi
; Installs for the current user (no administrator rights needed) into the
; user's programs folder, or for all users into Program Files when it runs
; with administrator rights. /CurrentUser or /AllUsers chooses; /S is silent;
; /D=<folder> chooses the folder (last on the command line, unquoted).
; The uninstaller removes what the setup made and nothing else.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | OUTFILE
  !error "give -DVERSION=, -DSTAGE= and -DOUTFILE="
!endif

!define PRODUCT "Postvue"
!define PUBLISHER "The Postvue developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Postvue"
; Explorer's notice that file types changed (SHCNE_ASSOCCHANGED)
!define NOTIFY_ASSOCIATIONS "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include MUI2.nsh

Var AllUsers ; 1 when installed for all users of the computer
Var ModeText ; says so above the folder

!define MUI_ICON "../app/win32/postvue.ico"
!define MUI_UNICON "../app/win32/postvue.ico"
!define MUI_DIRECTORYPAGE_TEXT_TOP "$ModeText"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Postvue"
!define MUI_FINISHPAGE_RUN_FUNCTION StartViewer
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-windows.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the short guide"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The registry root (SHCTX) and the shell folders follow the mode.
!macro UseMode
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

; A file type of its own, and the default only where no program claims the
; extension: one that does keeps it, and Postvue is offered under Open with.
!macro AddFileType EXTENSION DESCRIPTION
  WriteRegStr SHCTX "Software\Classes\Postvue.${EXTENSION}" "" "${DESCRIPTION}"
  WriteRegStr SHCTX "Software\Classes\Postvue.${EXTENSION}\DefaultIcon" "" "$INSTDIR\postvue.exe,0"
  WriteRegStr SHCTX "Software\Classes\Postvue.${EXTENSION}\shell" "" "open"
  WriteRegStr SHCTX "Software\Classes\Postvue.${EXTENSION}\shell\open" "" "Open with Postvue"
  WriteRegStr SHCTX "Software\Classes\Postvue.${EXTENSION}\shell\open\command" "" '"$INSTDIR\postvue.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\.${EXTENSION}\OpenWithProgids" "Postvue.${EXTENSION}" ""
  ; The key it would write, and the one Windows reads (which merges in the
  ; other of the user's and the computer's).
  ReadRegStr $0 SHCTX "Software\Classes\.${EXTENSION}" ""
  ${If} $0 == ""
    ReadRegStr $0 HKCR ".${EXTENSION}" ""
  ${EndIf}
  ${If} $0 == ""
  ${OrIf} $0 == "Postvue.${EXTENSION}"
    WriteRegStr SHCTX "Software\Classes\.${EXTENSION}" "" "Postvue.${EXTENSION}"
  ${EndIf}
!macroend

; Takes back what AddFileType wrote, and only that: the extension's key goes
; only when nothing of another program's is left in it.
!macro RemoveFileType EXTENSION
  DeleteRegKey SHCTX "Software\Classes\Postvue.${EXTENSION}"
  DeleteRegValue SHCTX "Software\Classes\.${EXTENSION}\OpenWithProgids" "Postvue.${EXTENSION}"
  Push "Software\Classes\.${EXTENSION}\OpenWithProgids"
  Call un.DeleteKeyIfEmpty
  ReadRegStr $0 SHCTX "Software\Classes\.${EXTENSION}" ""
  ${If} $0 == "Postvue.${EXTENSION}"
    DeleteRegValue SHCTX "Software\Classes\.${EXTENSION}" ""
  ${EndIf}
  Push "Software\Classes\.${EXTENSION}"
  Call un.DeleteKeyIfEmpty
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Postvue needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  UserInfo::GetAccountType
  Pop $0
  StrCpy $AllUsers 0
  ${If} $0 == "Admin"
    StrCpy $AllUsers 1
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/CurrentUser" $2
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/AllUsers" $2
  ${IfNot} ${Errors}
    ${If} $0 != "Admin"
      MessageBox MB_ICONSTOP "Installing for all users needs administrator rights: start the setup with Run as administrator." /SD IDOK
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
  ${EndIf}
  !insertmacro UseMode
  ${If} $AllUsers == 1
    StrCpy $ModeText "Postvue will be installed for all users of this computer."
  ${Else}
    StrCpy $ModeText "Postvue will be installed for you only; no administrator rights are needed. To install it for all users, start the setup with Run as administrator."
  ${EndIf}
  ; /D= has set the folder already; else an earlier install's, else the mode's
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
  ${AndIf} $AllUsers == 1
    StrCpy $INSTDIR "$PROGRAMFILES64\Postvue"
  ${ElseIf} $INSTDIR == ""
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Postvue"
  ${EndIf}
FunctionEnd

; A running viewer or postvue-cli keeps its program file: it could be neither
; replaced nor removed, and would stay behind, no longer listed. The user is
; asked to close it; silent, or cancelled, the setup or uninstall stops there
; with nothing changed. The folder is on the stack.
!macro DefineWaitUntilClosed UN
Function ${UN}WaitUntilClosed
  Exch $0
  Push $1
  Push $2
  ${Do}
    StrCpy $2 0
    ${If} ${FileExists} "$0\postvue.exe"
      ClearErrors
      FileOpen $1 "$0\postvue.exe" a
      ${If} ${Errors}
        StrCpy $2 1
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} ${FileExists} "$0\postvue-cli.exe"
      ClearErrors
      FileOpen $1 "$0\postvue-cli.exe" a
      ${If} ${Errors}
        StrCpy $2 1
      ${Else}
        FileClose $1
      ${EndIf}
    ${EndIf}
    ${If} $2 == 0
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Postvue is running. Close its windows (and any postvue-cli command), then press Retry." /SD IDCANCEL IDRETRY +2
    Abort
  ${Loop}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DefineWaitUntilClosed ""
!insertmacro DefineWaitUntilClosed "un."

; From a setup with administrator rights the viewer would start with them too,
; and then Explorer could not drop a store onto its window: Explorer starts it.
Function StartViewer
  ${If} $AllUsers == 1
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\postvue.exe"'
  ${Else}
    Exec '"$INSTDIR\postvue.exe"'
  ${EndIf}
FunctionEnd

Section
  ; An earlier Postvue in the same mode is removed by its own uninstaller
  ; first, so that nothing of it stays behind and it is listed once.
  Push $INSTDIR
  Call WaitUntilClosed
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    Push $0
    Call WaitUntilClosed
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${STAGE}/postvue.exe"
  File "${STAGE}/postvue-cli.exe"
  File "${STAGE}/README-windows.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Postvue.lnk" "$INSTDIR\postvue.exe" "" "$INSTDIR\postvue.exe" 0 \
    SW_SHOWNORMAL "" "Read Outlook Express mail folders"

  !insertmacro AddFileType dbx "Outlook Express mail folder"
  !insertmacro AddFileType mbx "Outlook Express 4 mail folder"
  System::Call "${NOTIFY_ASSOCIATIONS}"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\postvue.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetRegView 64
  ; Installed for all users when the computer's list names this folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $AllUsers 0
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      ; Only an administrator may remove it: ask Windows for the rights, and
      ; start the uninstaller again with them.
      StrCpy $2 ""
      ${If} ${Silent}
        StrCpy $2 "/S"
      ${EndIf}
      ExecShellWait "runas" "$INSTDIR\uninstall.exe" "$2"
      Quit
    ${EndIf}
  ${EndIf}
  !insertmacro UseMode
FunctionEnd

; Deletes the key named on the stack when it has neither subkeys nor values.
; The default value's name is empty too, so it is looked for by reading it.
Function un.DeleteKeyIfEmpty
  Exch $0
  Push $1
  Push $2
  EnumRegKey $1 SHCTX $0 0
  EnumRegValue $2 SHCTX $0 0
  ${If} $1 == ""
  ${AndIf} $2 == ""
    ClearErrors
    ReadRegStr $1 SHCTX $0 ""
    ${If} ${Errors}
      DeleteRegKey SHCTX $0
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "Uninstall"
  Push $INSTDIR
  Call un.WaitUntilClosed
  Delete "$INSTDIR\postvue.exe"
  Delete "$INSTDIR\postvue-cli.exe"
  Delete "$INSTDIR\README-windows.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Files of the user's own stay, and so does the folder then.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Postvue.lnk"
  !insertmacro RemoveFileType dbx
  !insertmacro RemoveFileType mbx
  System::Call "${NOTIFY_ASSOCIATIONS}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
