; An installer whose uninstaller removes its files and its Uninstall key.
; makensis -DKEY=<folder and key name> -DTITLE=<display name>, and
; -DSILENT_UNINSTALL for an uninstaller that is silent even without /S.
Unicode true
Target amd64-unicode
Name "${TITLE}"
OutFile "${KEY}.exe"
SilentInstall silent
!ifdef SILENT_UNINSTALL
SilentUnInstall silent
!endif
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\${KEY}"
!define UKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}"
Section
  SetRegView 64
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\payload.txt" w
  FileWrite $0 "payload"
  FileClose $0
  WriteUninstaller "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UKEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKLM "${UKEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKLM "${UKEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
SectionEnd
Section "Uninstall"
  SetRegView 64
  ; The copy that NSIS starts from the temp folder does the work; the pause
  ; keeps it running well after the first process has ended.
  Sleep 2000
  Delete "$INSTDIR\payload.txt"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UKEY}"
SectionEnd
