; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer. make-package.sh passes VERSION, STAGE (the files to
; install), INSTALL_LIST and UNINSTALL_LIST (made from STAGE, so that the
; uninstaller removes exactly what was installed), OUTFILE and, when the
; panel is built, PANEL.
; 64-bit, like the programs: it runs where they run (Wine without its 32-bit half too)
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"

Name "Vantrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vantrel"
RequestExecutionLevel admin
BrandingText "Vantrel ${VERSION}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
FunctionEnd

Section "Vantrel"
  SetShellVarContext all
  !include "${INSTALL_LIST}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Vantrel"
!ifdef PANEL
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel.lnk" "$INSTDIR\vantrel-panel.exe"
!endif
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel manual.lnk" "$INSTDIR\vantrel.txt"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vantrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vantrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Vantrel\Vantrel.lnk"
  Delete "$SMPROGRAMS\Vantrel\Vantrel manual.lnk"
  RMDir "$SMPROGRAMS\Vantrel"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"  ; only when empty: files a user put there stay
SectionEnd
