Unicode true
Target amd64-unicode
Name "Kelvane Probe"
OutFile "setup.exe"
SilentInstall silent
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\KelvaneProbe"
!define UKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvaneProbe"
Section
  SetRegView 64
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UKEY}" "DisplayName" "Kelvane Probe"
  WriteRegStr HKLM "${UKEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
SectionEnd
Section "Uninstall"
SectionEnd
