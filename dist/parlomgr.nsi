; The Windows installer: makensis -DBIN=<i686 bin folder> -DOUTFILE=<setup.exe> dist/parlomgr.nsi
; (make dist). Installs the three files, registers and starts PARLOSVR the way
; the manager does (ParloSetup.exe, carried inside and never installed), and
; an uninstaller that removes the ports' pairs, the service and the files.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PUBLISHER "Quorvat"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ParloMgr"
; The version comes from CMakeLists.txt's project() (make dist passes both).
!ifndef VERSION
  !error "define VERSION, the release (e.g. 3.3.3)"
!endif
!ifndef FILE_VERSION
  !error "define FILE_VERSION, all four parts (e.g. 3.3.3.0)"
!endif
!ifndef BIN
  !error "define BIN, the folder with ParloMgr.exe, ParloHost.exe, VSPDCTL.DLL and ParloSetup.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "ParloMgr-${VERSION}-setup.exe"
!endif

Name "ParloMgr ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\ParloMgr"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "ParloMgr"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileVersion" "${FILE_VERSION}"
VIAddVersionKey "ProductVersion" "${FILE_VERSION}"
VIAddVersionKey "FileDescription" "ParloMgr ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "ParloMgr"
  SetShellVarContext all
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "${BIN}\ParloSetup.exe"
  ; Over an earlier installation: its host lets go of the files first.
  nsExec::ExecToLog '"$PLUGINSDIR\ParloSetup.exe" stop'
  Pop $0

  SetOutPath "$INSTDIR"
  File "${BIN}\ParloMgr.exe"
  File "${BIN}\ParloHost.exe"
  File "${BIN}\VSPDCTL.DLL"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  nsExec::ExecToLog '"$PLUGINSDIR\ParloSetup.exe" install "$INSTDIR"'
  Pop $0
  StrCmp $0 "0" registered
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "The PARLOSVR service could not be registered." /SD IDOK
  registered:

  ; Inbound UDP for the host, in every profile: a device in UDP mode may send
  ; first. Without the rule such a port looks connected and receives nothing;
  ; the installation goes on all the same, and says so.
  nsExec::ExecToLog '"$PLUGINSDIR\ParloSetup.exe" firewall-add "$INSTDIR"'
  Pop $0
  StrCmp $0 "0" firewalled
    DetailPrint "The Windows Firewall rule for ParloHost.exe was not added: UDP ports may receive nothing until inbound UDP to ParloHost.exe is allowed."
  firewalled:

  ; The manager builds the service path from its working folder: the shortcut
  ; starts it in the install folder (SetOutPath above), as administrator.
  CreateShortCut "$SMPROGRAMS\ParloMgr.lnk" "$INSTDIR\ParloMgr.exe"
  FileOpen $0 "$SMPROGRAMS\ParloMgr.lnk" a
  FileSeek $0 0x15 SET
  FileReadByte $0 $1
  IntOp $1 $1 | 0x20
  FileSeek $0 0x15 SET
  FileWriteByte $0 $1
  FileClose $0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "ParloMgr"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ParloMgr.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "${BIN}\ParloSetup.exe"
  ; Pairs of the configured ports, through VSPDCTL.DLL, then the service
  ; and its event source; then the firewall rule.
  nsExec::ExecToLog '"$PLUGINSDIR\ParloSetup.exe" uninstall "$INSTDIR"'
  Pop $0
  nsExec::ExecToLog '"$PLUGINSDIR\ParloSetup.exe" firewall-remove'
  Pop $0

  Delete "$INSTDIR\ParloMgr.exe"
  Delete "$INSTDIR\ParloHost.exe"
  Delete "$INSTDIR\VSPDCTL.DLL"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\ParloMgr.lnk"

  MessageBox MB_YESNO|MB_ICONQUESTION "Keep the port configuration (parlo.ini) and the window settings?" /SD IDYES IDYES keep
    Delete "$WINDIR\parlo.ini"
    DeleteRegKey HKCU "Software\${PUBLISHER}\ParloMgr"
  keep:

  ; Last, so an uninstall cut short can be run again from Programs and Features.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
