; The Windows installer: makensis -DVERSION=x.y -DBUILD=<build folder>
;   -DSOURCE=<source folder> -DOUTFILE=<setup.exe> packaging/windows/vantrel.nsi
; 64-bit (a 32-bit installer does nothing under a 64-bit-only Wine), into
; C:\Program Files\Vantrel; /S installs silently. The uninstaller removes the
; program and its files and leaves the person's settings
; (HKEY_CURRENT_USER\Software\Vantrel).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "x64.nsh"

Name "Vantrel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vantrel"
InstallDirRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"

Function .onInit
  SetRegView 64
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES64\Vantrel"
  ${EndIf}
FunctionEnd

Section "Vantrel"
  SetOutPath "$INSTDIR"
  File "${BUILD}\vantrel.exe"
  File "${BUILD}\vantrel-reg.exe"
  ; layouts, languages, pictures, help and the texts the program shows
  File "${SOURCE}\data\*.lang"
  File "${SOURCE}\data\*.kcod"
  File "${SOURCE}\data\*.bmp"
  File "${SOURCE}\data\*.htm"
  File /x testmode.txt "${SOURCE}\data\*.txt"
  File "${SOURCE}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\Vantrel.lnk" "$INSTDIR\vantrel.exe" "" "$INSTDIR\vantrel.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vantrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Vantrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  ; A running Vantrel is asked to end first, so that its files can go.
  ExecWait '"$INSTDIR\vantrel.exe" --quit'
  Delete "$INSTDIR\vantrel.exe"
  Delete "$INSTDIR\vantrel-reg.exe"
  Delete "$INSTDIR\*.lang"
  Delete "$INSTDIR\*.kcod"
  Delete "$INSTDIR\*.bmp"
  Delete "$INSTDIR\*.htm"
  Delete "$INSTDIR\*.txt"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Vantrel.lnk"
  ; The start at login belongs to the program; the settings stay.
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Vantrel"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
