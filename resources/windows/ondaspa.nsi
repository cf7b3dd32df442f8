; The Windows installer: a per-machine install into Program Files with a Start-menu entry,
; an uninstaller in "Apps and features" and firewall rules for the two programs.
; scripts/windows/package.sh passes VERSION, FILES (the folder of the staged files' install
; and uninstall lists), ICON and OUTFILE.
Unicode true
!include MUI2.nsh
!include FileFunc.nsh

!define PRODUCT "Ondaspa"
!define PUBLISHER "Ondaspa"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ondaspa"
!define USERS_SID "*S-1-5-32-545"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; Inbound rules, so that devices reach the server (TCP 81) and discovery answers come back
; (UDP 15724) without the firewall's prompt, which a normal user cannot accept.
!macro FirewallRule ACTION RULE PROGRAM
    nsExec::ExecToLog 'netsh advfirewall firewall ${ACTION} rule name="${RULE}" dir=in program="$INSTDIR\${PROGRAM}"${EXTRA}'
    Pop $0
    DetailPrint "netsh ${ACTION} ${RULE}: $0"
!macroend

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !include "${FILES}\install.nsh"
    ; Technicians build images into html\ and compress audio into sound\ as normal users.
    nsExec::ExecToLog 'icacls "$INSTDIR\html" /grant ${USERS_SID}:(OI)(CI)M'
    Pop $0
    nsExec::ExecToLog 'icacls "$INSTDIR\sound" /grant ${USERS_SID}:(OI)(CI)M'
    Pop $0
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ondaspa.exe" "" "$INSTDIR\ondaspa.exe" 0
    !define EXTRA " action=allow enable=yes"
    !insertmacro FirewallRule add "Ondaspa" ondaspa.exe
    !insertmacro FirewallRule add "Ondaspa command line" ondaspa-cli.exe
    !undef EXTRA

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ondaspa.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes exactly what the installer put there: images and audio that users made in html\
; and sound\ stay, and so do those folders while they hold them.
Section "Uninstall"
    SetShellVarContext all
    !define EXTRA ""
    !insertmacro FirewallRule delete "Ondaspa" ondaspa.exe
    !insertmacro FirewallRule delete "Ondaspa command line" ondaspa-cli.exe
    !undef EXTRA
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !include "${FILES}\uninstall.nsh"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
