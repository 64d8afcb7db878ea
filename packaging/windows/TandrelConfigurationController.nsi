; The Windows installer. scripts/package.sh builds it from the files the
; Windows build installs (`cmake --install`) into STAGE:
;   makensis -DVERSION=1.0.0 -DFILE_VERSION=1.0.0.0 -DSTAGE=dir -DOUTFILE=setup.exe
;            -DUPGRADE_CODE=<the MSI's> -DRUNNING_MARK=<platform/RunningMark.h's>
; /S installs and uninstalls without a window. /BAUD=<rate> sets the rate of
; the UploadConfig.ini the setup writes beside the program (9600, 19200,
; 38400, 57600 or 115200; 115200 without it). The setup stops before it
; changes anything, with an exit code of its own:
;   2  /BAUD= is not one of the rates
;   3  the Windows Installer package (MSI) is installed: the two are
;      alternatives, one Add/Remove Programs entry at a time
;   4  the program or tcc-upload runs (the uninstaller too): with a window it
;      asks to close them first
; The uninstaller's exit code reaches a script only when it runs in place,
; with _?=<the install folder> (it otherwise copies itself away, starts the
; copy and ends at once with 0).

; A 64-bit installer for the 64-bit program: it sees the 64-bit Program Files
; and registry, and 64-bit Windows (and Wine without its 32-bit part) runs it.
Target amd64-unicode
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh

; A signed release (scripts/package.sh with SIGN_PFX): the uninstaller is
; written into the setup, so it is signed before it is packed, and the setup
; once it is complete.
!ifdef SIGN_COMMAND
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

!define APP "TandrelConfigurationController"
!define TITLE "Tandrel Configuration Controller"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define SHORTCUT "$SMPROGRAMS\${TITLE}.lnk"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "${TITLE}"
VIAddVersionKey "CompanyName" "Halvorix"
VIAddVersionKey "LegalCopyright" "Copyright (C) Halvorix. All rights reserved."
VIAddVersionKey "FileDescription" "${TITLE} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${FILE_VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

; The rate for a new UploadConfig.ini, from /BAUD=.
Var Baud

; The program and tcc-upload hold a named mutex while they run (Windows would
; not let their files go, and the uninstaller would leave them behind with no
; entry left to remove them). Asks to close them, as often as the user retries;
; silent, or cancelled, it ends the run with exit code 4 before any change.
; A mutex another user's copy made may refuse to open: it runs all the same.
!macro REFUSE_WHILE_RUNNING un
Function ${un}RefuseWhileRunning
  again:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MARK}") p .r0 ?e'
    Pop $1
    ${If} $0 P<> 0
      System::Call 'kernel32::CloseHandle(p r0)'
    ${ElseIf} $1 <> 5
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Tandrel Configuration Controller (or tcc-upload) is running.$\r$\nClose it, then press Retry." /SD IDCANCEL IDRETRY again
    SetErrorLevel 4
    Quit
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING ""
!insertmacro REFUSE_WHILE_RUNNING "un."

; The MSI installs into the same folder: over it, the two would share the
; files and each remove them from under the other. Windows Installer knows
; the MSI's products by its UpgradeCode, whatever their version.
Function RefuseOverTheMsi
  System::Call 'msi::MsiEnumRelatedProductsW(w "{${UPGRADE_CODE}}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Tandrel Configuration Controller is installed from its Windows Installer package (MSI).$\r$\nThe setup and the MSI are alternatives: remove the installed one first (Settings, Apps), or upgrade it with a newer MSI." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $Baud 115200
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/BAUD=" $1
  ${IfNot} ${Errors}
    ${If} $1 S== 9600
    ${OrIf} $1 S== 19200
    ${OrIf} $1 S== 38400
    ${OrIf} $1 S== 57600
    ${OrIf} $1 S== 115200
      StrCpy $Baud $1
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "/BAUD=$1 is not a rate the program supports.$\r$\nUse 9600, 19200, 38400, 57600 or 115200." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  Call RefuseOverTheMsi
  Call RefuseWhileRunning
FunctionEnd

Function un.onInit
  Call un.RefuseWhileRunning
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/${APP}.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/tcc-upload.exe"
!if /FileExists "${STAGE}/${APP}.chm"
  File "${STAGE}/${APP}.chm"
!endif
  ; The program reads the rate from its working folder, else from its own
  ; folder, this one. An existing file is the administrator's: an upgrade or
  ; a repair keeps it, /BAUD= included. The line written is kept in the
  ; uninstall key, so that the uninstaller removes the file only unchanged.
  ${IfNot} ${FileExists} "$INSTDIR\UploadConfig.ini"
    FileOpen $0 "$INSTDIR\UploadConfig.ini" w
    FileWrite $0 "BAUDRATE=$Baud$\r$\n"
    FileClose $0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UploadConfigLine" "BAUDRATE=$Baud"
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${APP}.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Halvorix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP}.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as Add/Remove Programs shows it: the folder as installed.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes exactly what the installer wrote (the help file by name, whether or
; not this build had one). The settings in %APPDATA% and any file the user
; saved, also one saved into the program's folder (which then stays), are the
; user's; so is an UploadConfig.ini that differs from the line the setup wrote.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\${APP}.exe"
  Delete "$INSTDIR\tcc-upload.exe"
  Delete "$INSTDIR\README.txt"
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "UploadConfigLine"
  ${If} $0 != ""
    ClearErrors
    FileOpen $1 "$INSTDIR\UploadConfig.ini" r
    ${IfNot} ${Errors}
      StrCpy $4 ""
      FileRead $1 $2
      ClearErrors
      FileRead $1 $3
      ${If} ${Errors}
      ${AndIf} $2 S== "$0$\r$\n"
        StrCpy $4 unchanged
      ${EndIf}
      FileClose $1
      ${If} $4 == unchanged
        Delete "$INSTDIR\UploadConfig.ini"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\${APP}.chm"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
