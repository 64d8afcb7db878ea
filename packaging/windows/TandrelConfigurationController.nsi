; The Windows installer. scripts/package.sh builds it from the files the
; Windows build installs (`cmake --install`) into STAGE:
;   makensis -DVERSION=1.0.0 -DFILE_VERSION=1.0.0.1 -DSTAGE=dir -DOUTFILE=setup.exe
; /S installs and uninstalls without a window.

; A 64-bit installer for the 64-bit program: it sees the 64-bit Program Files
; and registry, and 64-bit Windows (and Wine without its 32-bit part) runs it.
Target amd64-unicode
SetCompressor /SOLID lzma

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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/${APP}.exe"
  File "${STAGE}/README.txt"
!if /FileExists "${STAGE}/${APP}.chm"
  File "${STAGE}/${APP}.chm"
!endif
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
; user's.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\${APP}.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\${APP}.chm"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
