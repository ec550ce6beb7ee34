; The setup program: installs Camwarden for the current user, without
; administrator rights, into %LOCALAPPDATA%\Programs\Camwarden, with a
; Start-menu entry and an entry in Windows' list of installed apps. The
; uninstaller removes the program and its start-at-log-on value and leaves
; the settings, the log and the clips.
;   makensis -DSTAGE=<installed layout> -DOUTFILE=<setup.exe> -DVERSION=<x.y.z>
;            -DICON=<camwarden.ico> camwarden.nsi
; Silent: setup.exe /S [/D=<folder>]; uninstall.exe /S
Target amd64-unicode   ; 64-bit like the program (and wine64 runs it without wine32)
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh

!define PRODUCT "Camwarden"
!define PUBLISHER "Quillory"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The hidden window a running copy hears session ends and close requests on.
!define RUNNING_WINDOW "CamwardenSessionEnd"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Camwarden"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 Quillory, MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Setup will install Camwarden for you alone, in a folder of your own: no administrator rights are needed.$\r$\n$\r$\nA Camwarden that is running is closed first; the clip it is recording is finished.$\r$\n$\r$\nYour settings and your clips are kept, now and when Camwarden is uninstalled.$\r$\n$\r$\nClick Next to continue."
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
; would, which finishes the clip it records, and given a few seconds.
!macro CloseRunningCopy
  FindWindow $0 "${RUNNING_WINDOW}"
  ${If} $0 <> 0
    SendMessage $0 ${WM_CLOSE} 0 0
    StrCpy $1 0
    ${DoWhile} $1 < 24
      Sleep 250
      IntOp $1 $1 + 1
      FindWindow $0 "${RUNNING_WINDOW}"
      ${IfThen} $0 = 0 ${|} ${Break} ${|}
    ${Loop}
  ${EndIf}
!macroend

Section "Camwarden"
  SetShellVarContext current
  !insertmacro CloseRunningCopy
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Camwarden.lnk" "$INSTDIR\bin\camwarden.exe" "" "$INSTDIR\bin\camwarden.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\camwarden.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro CloseRunningCopy
  ; The program's own start-at-log-on value: the program it starts is going.
  DeleteRegValue HKCU "${RUN_KEY}" "camwarden.exe"
  Delete "$SMPROGRAMS\Camwarden.lnk"
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\plugins"
  RMDir /r "$INSTDIR\lib"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
