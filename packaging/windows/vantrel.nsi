; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer. make-package.sh passes VERSION, PRODUCT (the
; version as four numbers, the publisher, the copyright and the icon, as the
; programs have them), SIZE_KIB (what the installed files take), STAGE (the files to install), INSTALL_LIST and
; UNINSTALL_LIST (made from STAGE, so that the uninstaller removes exactly
; what was installed), OUTFILE and, when the panel is built, PANEL.
;
; One install is registered (the uninstall key): the installer proposes its
; folder and upgrades it in place, or moves it to another folder chosen; an
; uninstaller removes the key and the Start-menu entries only while they are
; its own folder's.
; 64-bit, like the programs: it runs where they run (Wine without its 32-bit half too)
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "${PRODUCT}"

Name "Vantrel ${VERSION}"
OutFile "${OUTFILE}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"
InstallDir "$PROGRAMFILES64\Vantrel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin  ; Program Files and the machine's uninstall list
BrandingText "Vantrel ${VERSION}"
ManifestSupportedOS Win10
ManifestDPIAware true

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "Vantrel"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Installs and removes Vantrel ${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!ifdef PANEL
  !define MAIN_PROGRAM "vantrel-panel.exe"
!else
  !define MAIN_PROGRAM "vantrel.exe"
!endif

Function .onInit
  SetRegView 64
FunctionEnd

Section "Vantrel"
  SetShellVarContext all
  ; The registered copy's own uninstaller first removes the files of its
  ; version, which may differ from this one's: an upgrade in place, or, when
  ; this install goes to another folder (/D=, or the folder page), a move, so
  ; that one copy stays registered and none is left without an entry.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    ${If} $0 != $INSTDIR
      Delete "$0\uninstall.exe"  ; run in place (_?=), it cannot remove itself
      RMDir "$0"
    ${EndIf}
  ${EndIf}
  !include "${INSTALL_LIST}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Vantrel"
!ifdef PANEL
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel.lnk" "$INSTDIR\vantrel-panel.exe"
  ; The virtual display on COM1; another port is its --port on a command line.
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel display on COM1.lnk" "$INSTDIR\vantrel-display.exe" "--port COM1"
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel display manual.lnk" "$INSTDIR\vantrel-display.txt"
!endif
  CreateShortcut "$SMPROGRAMS\Vantrel\Vantrel manual.lnk" "$INSTDIR\vantrel.txt"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vantrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${MAIN_PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KIB}  ; KiB, as the list of programs counts
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  ; The key and the shortcuts belong to the copy the key names: another
  ; copy installed later keeps them.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Delete "$SMPROGRAMS\Vantrel\Vantrel.lnk"
    Delete "$SMPROGRAMS\Vantrel\Vantrel display on COM1.lnk"
    Delete "$SMPROGRAMS\Vantrel\Vantrel manual.lnk"
    Delete "$SMPROGRAMS\Vantrel\Vantrel display manual.lnk"
    RMDir "$SMPROGRAMS\Vantrel"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  RMDir "$INSTDIR"  ; only when empty: files a user put there stay
SectionEnd
