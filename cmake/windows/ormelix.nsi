; Installer of the console for 64-bit Windows. Built by the "installer" target of cmake/windows:
;   makensis -DVERSION=<version> -DPROGRAM=<ormelix.exe> -DDEMO=<ormelix-demo.exe>
;            -DHIDLIST=<ormelix-hidlist.exe> -DCLI=<ormelix-cli.exe> -DREPLAY=<ormelix-replay.exe>
;            -DOUTFILE=<ormelix-setup-version.exe> ormelix.nsi
; "/S" installs and uninstalls without asking. A 64-bit installer: it needs no 32-bit support
; (WoW64) on the machine, nor in Wine.
Target amd64-unicode
SetCompressor /SOLID lzma

!include MUI2.nsh
!include x64.nsh

!define NAME "Ormelix Console"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ormelix"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ormelix"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${NAME} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Console"
  SetOutPath "$INSTDIR"
  File "/oname=ormelix.exe" "${PROGRAM}"
  File "/oname=ormelix-demo.exe" "${DEMO}"
  File "/oname=ormelix-hidlist.exe" "${HIDLIST}"
  File "/oname=ormelix-cli.exe" "${CLI}"
  File "/oname=ormelix-replay.exe" "${REPLAY}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; For every user: the console is a machine's tool, not one person's.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Ormelix"
  CreateShortcut "$SMPROGRAMS\Ormelix\Ormelix Console.lnk" "$INSTDIR\ormelix.exe"
  CreateShortcut "$SMPROGRAMS\Ormelix\Ormelix Demo.lnk" "$INSTDIR\ormelix-demo.exe"
  CreateShortcut "$SMPROGRAMS\Ormelix\Ormelix Replay.lnk" "$INSTDIR\ormelix-replay.exe"
  ; The command-line tools are run from a prompt; the shortcut's start folder is the out path.
  CreateShortcut "$SMPROGRAMS\Ormelix\Ormelix Command Prompt.lnk" "$SYSDIR\cmd.exe" \
    '/k echo Ormelix command-line tools: ormelix-cli --help, ormelix-hidlist'
  CreateShortcut "$SMPROGRAMS\Ormelix\Uninstall.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ormelix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ormelix.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Ormelix\Ormelix Console.lnk"
  Delete "$SMPROGRAMS\Ormelix\Ormelix Demo.lnk"
  Delete "$SMPROGRAMS\Ormelix\Ormelix Replay.lnk"
  Delete "$SMPROGRAMS\Ormelix\Ormelix Command Prompt.lnk"
  Delete "$SMPROGRAMS\Ormelix\Uninstall.lnk"
  RMDir "$SMPROGRAMS\Ormelix"

  Delete "$INSTDIR\ormelix.exe"
  Delete "$INSTDIR\ormelix-demo.exe"
  Delete "$INSTDIR\ormelix-hidlist.exe"
  Delete "$INSTDIR\ormelix-cli.exe"
  Delete "$INSTDIR\ormelix-replay.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: snapshot series a user kept in the folder stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
