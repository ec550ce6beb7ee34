; The setup program: installs Camwarden for the current user, without
; administrator rights, into %LOCALAPPDATA%\Programs\Camwarden, with a
; Start-menu entry and an entry in Windows' list of installed apps; with
; /ALLUSERS, run as an administrator, for every user of the machine, into
; Program Files, with the entries for all users (settings and the log-on
; value stay each user's own). The uninstaller removes the program's own
; files (FILES, a list written at install time), its start-at-log-on value,
; and keeps other programs' files in the folder, the settings, the log and
; the clips.
;   makensis -DSTAGE=<installed layout> -DFILES=<its file list> -DOUTFILE=<setup.exe>
;            -DVERSION=<x.y.z> -DICON=<camwarden.ico> [-DWIZARD=<164x314 .bmp>] camwarden.nsi
; Silent: setup.exe /S [/ALLUSERS] [/D=<folder>]; uninstall.exe /S _?=<folder>
; returns when done (without _?= it returns at once and uninstalls from a copy).
Target amd64-unicode   ; 64-bit like the program (and wine64 runs it without wine32)
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Camwarden"
!define PUBLISHER "Quillory"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where the program keeps its settings; "Windows Startup" is the log-on box.
!define SETTINGS_KEY "Software\VB and VBA Program Settings\Quillory\Camwarden"
; The list of the program's own files, beside the uninstaller.
!define FILE_LIST "installed-files.txt"
; Held by a setup program or uninstaller at work, so that they take turns.
!define SETUP_MUTEX "CamwardenSetup"
; The hidden window a running copy hears session ends and close requests on.
!define RUNNING_WINDOW "CamwardenSessionEnd"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The per-user folder; .onInit takes Program Files' for /ALLUSERS.
InstallDir "$LOCALAPPDATA\Programs\Camwarden"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
; Not NSIS's own name and version at the foot of every page.
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 Quillory, MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!ifdef WIZARD
  !define MUI_WELCOMEFINISHPAGE_BITMAP "${WIZARD}"
  !define MUI_UNWELCOMEFINISHPAGE_BITMAP "${WIZARD}"
!endif
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Setup will install Camwarden for you alone, in a folder of your own: no administrator rights are needed. (An administrator installs it for every user with /ALLUSERS.)$\r$\n$\r$\nA Camwarden that is running is closed first; the clip it is recording is finished.$\r$\n$\r$\nYour settings and your clips are kept, now and when Camwarden is uninstalled.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\camwarden.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Camwarden"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\licenses\Camwarden.LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running copy holds its files: it is asked to close as its close box
; would, which finishes the clip it records, and its process given up to
; 20 seconds to end, so that its files can go and a copy started again
; does not find it still there.
Var ClosedRunningCopy
!macro CloseRunningCopy
  StrCpy $ClosedRunningCopy 0
  FindWindow $0 "${RUNNING_WINDOW}"
  ${If} $0 <> 0
    StrCpy $ClosedRunningCopy 1
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2) i'
    ; SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r3'
    SendMessage $0 ${WM_CLOSE} 0 0
    ${If} $3 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r3, i 20000) i'
      System::Call 'kernel32::CloseHandle(p r3) i'
    ${Else}
      StrCpy $1 0
      ${DoWhile} $1 < 80
        Sleep 250
        IntOp $1 $1 + 1
        FindWindow $0 "${RUNNING_WINDOW}"
        ${IfThen} $0 = 0 ${|} ${Break} ${|}
      ${Loop}
    ${EndIf}
  ${EndIf}
!macroend

; Waits up to MS milliseconds for another setup program or uninstaller to
; finish, then holds the turn until this one ends. Sets the error flag when
; the turn did not come.
!macro TakeTurn MS
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r0'
  ; WAIT_OBJECT_0, or WAIT_ABANDONED: the holder ended without letting go.
  System::Call 'kernel32::WaitForSingleObject(p r0, i ${MS}) i .r1'
  ClearErrors
  ${If} $1 <> 0
  ${AndIf} $1 <> 0x80
    SetErrors
  ${EndIf}
!macroend

; Removes the files the list in $INSTDIR names, then each of its folders
; that is empty then. Other programs' files in the same folders stay. Names
; that would reach outside $INSTDIR are passed over.
!macro RemoveListedFilesFunction un
Function ${un}RemoveListedFiles
  ClearErrors
  FileOpen $R0 "$INSTDIR\${FILE_LIST}" r
  IfErrors done
  ${Do}
    ClearErrors
    FileRead $R0 $R1
    ${IfThen} ${Errors} ${|} ${Break} ${|}
    ; Without the line end.
    ${Do}
      StrCpy $R2 $R1 1 -1
      ${If} $R2 == "$\r"
      ${OrIf} $R2 == "$\n"
        StrCpy $R1 $R1 -1
      ${Else}
        ${Break}
      ${EndIf}
    ${Loop}
    StrCpy $R2 $R1 1
    ${If} $R1 == ""
    ${OrIf} $R2 == "\"
    ${OrIf} $R2 == "/"
      ${Continue}
    ${EndIf}
    StrCpy $R3 0
    ${Do}
      StrCpy $R2 $R1 2 $R3
      ${IfThen} $R2 == "" ${|} ${Break} ${|}
      StrCpy $R4 $R2 1
      ${If} $R2 == ".."
      ${OrIf} $R4 == ":"
        StrCpy $R1 ""
        ${Break}
      ${EndIf}
      IntOp $R3 $R3 + 1
    ${Loop}
    ${IfThen} $R1 == "" ${|} ${Continue} ${|}
    ; A folder's line ends in "\"; folders come after the files, inner ones first.
    StrCpy $R2 $R1 1 -1
    ${If} $R2 == "\"
      RMDir "$INSTDIR\$R1"
    ${Else}
      Delete "$INSTDIR\$R1"
    ${EndIf}
  ${Loop}
  FileClose $R0
  Delete "$INSTDIR\${FILE_LIST}"
  done:
FunctionEnd
!macroend
!insertmacro RemoveListedFilesFunction ""
!insertmacro RemoveListedFilesFunction "un."

; 1 when installed, or installing, for every user of the machine.
Var AllUsers

; For every user only with an administrator's rights: otherwise the
; program would land in Program Files half-written, or not at all.
!macro NeedAdministrator
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Camwarden is installed for every user: only an administrator can change that. Run this as an administrator." /SD IDOK
    ; ERROR_ELEVATION_REQUIRED
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    !insertmacro NeedAdministrator
    ; Unless /D= named another folder: Program Files, or where an earlier
    ; version for every user went; never the administrator's own copy's.
    ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $INSTDIR == "$LOCALAPPDATA\Programs\Camwarden"
    ${OrIf} $INSTDIR == $2
      ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $1 != ""
        StrCpy $INSTDIR $1
      ${Else}
        StrCpy $INSTDIR "$PROGRAMFILES64\Camwarden"
      ${EndIf}
    ${EndIf}
    SetShellVarContext all
  ${EndIf}
  !insertmacro TakeTurn 60000
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "Another Camwarden setup program or uninstaller is still at work." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
FunctionEnd

Section "Camwarden"
  !insertmacro CloseRunningCopy
  ; An earlier version's files go first, so that none it had and this one
  ; lacks (a GStreamer plugin) stays behind to be loaded.
  Call RemoveListedFiles
  SetOutPath "$INSTDIR"
  ; The list first: an install cut short can still be uninstalled.
  File "/oname=${FILE_LIST}" "${FILES}"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Camwarden.lnk" "$INSTDIR\bin\camwarden.exe" "" "$INSTDIR\bin\camwarden.exe" 0
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\camwarden.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; _?= keeps the uninstaller in place, so that waiting for it waits for the uninstall.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  ; Recording goes on after an upgrade: what setup closed, it starts again,
  ; as the user who ran setup.
  ${If} $ClosedRunningCopy = 1
    SetOutPath "$INSTDIR\bin"
    Exec '"$INSTDIR\bin\camwarden.exe"'
  ${EndIf}
SectionEnd

Function un.onInit
  ; Started by an uninstaller that ran in its folder (_?=), to remove it
  ; once it has ended: the turn comes when it ends.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/finish" $1
  ${IfNot} ${Errors}
    ; However long its last page stays open.
    !insertmacro TakeTurn 0xFFFFFFFF
    ; A list there means a setup program took the turn first and installed
    ; again: its uninstaller stays.
    ${IfNotThen} ${FileExists} "$INSTDIR\${FILE_LIST}" ${|} Call un.RemoveUninstaller ${|}
    SetErrorLevel 0
    Quit
  ${EndIf}
  !insertmacro TakeTurn 60000
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "Another Camwarden setup program or uninstaller is still at work." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; A folder mistyped after _?= would leave everything and still report success.
  ${IfNot} ${FileExists} "$INSTDIR\${FILE_LIST}"
    MessageBox MB_ICONSTOP "Camwarden is not installed in $INSTDIR: nothing was uninstalled." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Installed for every user: the machine's entries go with it.
  StrCpy $AllUsers 0
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
    StrCpy $AllUsers 1
    !insertmacro NeedAdministrator
    SetShellVarContext all
  ${EndIf}
FunctionEnd

; The process that ran it may hold uninstall.exe a moment longer.
Function un.RemoveUninstaller
  StrCpy $1 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\uninstall.exe"
    ${IfNotThen} ${FileExists} "$INSTDIR\uninstall.exe" ${|} ${Break} ${|}
    ${IfThen} $1 >= 300 ${|} ${Break} ${|}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
  RMDir "$INSTDIR"
FunctionEnd

Section "Uninstall"
  !insertmacro CloseRunningCopy
  ; The program's own start-at-log-on value: the program it starts is going.
  ; Its log-on box goes off with it, or a later install shows it ticked
  ; while nothing starts.
  DeleteRegValue HKCU "${RUN_KEY}" "camwarden.exe"
  ClearErrors
  ReadRegStr $0 HKCU "${SETTINGS_KEY}" "Windows Startup"
  ${IfNot} ${Errors}
    WriteRegStr HKCU "${SETTINGS_KEY}" "Windows Startup" "Off"
  ${EndIf}
  Delete "$SMPROGRAMS\Camwarden.lnk"
  Call un.RemoveListedFiles
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; Run in its folder (_?=), it cannot remove itself: a copy of it does
  ; once it has ended.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    Exec '"$INSTDIR\uninstall.exe" /S /finish'
  ${EndIf}
SectionEnd
