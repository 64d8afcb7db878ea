; The Windows installer. scripts/package.sh builds it from the files the
; Windows build installs (`cmake --install`) into STAGE:
;   makensis -DVERSION=1.0.0 -DFILE_VERSION=1.0.0.1 -DSTAGE=dir -DOUTFILE=setup.exe
; /S installs and uninstalls without a window. /BAUD=<rate> sets the rate of
; the UploadConfig.ini the setup writes beside the program (9600, 19200,
; 38400, 57600 or 115200; 115200 without it); any other value stops the setup
; before it changes anything, with exit code 2.

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
  ; The program reads the rate from its working folder, which the shortcut
  ; sets to this one. An existing file is the administrator's: an upgrade or
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
