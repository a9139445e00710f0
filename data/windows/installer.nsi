; The Windows installer, zandrel-setup.exe (makensis, run by scripts/build-windows):
; a per-user installation without administrator rights under
; %LOCALAPPDATA%\Programs\Zandrel, with a Start-menu shortcut, an uninstaller
; and the entry that Settings > Apps lists. Defines given by the build:
;   VERSION  the program's version (x.y.z)
;   STAGE    the folder with the stripped zandrel.exe
;   ICON     zandrel.ico
;   OUTFILE  where the installer is written

Unicode true
; zandrel.exe is a 64-bit program; a 64-bit installer also runs where no
; 32-bit layer is installed (Wine without wine32).
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=... (see the top of installer.nsi)"
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine STAGE
!insertmacro RequireDefine ICON
!insertmacro RequireDefine OUTFILE

!define PRODUCT "Zandrel【PC语音读题版】含 科目一 科目四"
!define PUBLISHER "Zandrel developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zandrel"
!define SHORTCUT "$SMPROGRAMS\Zandrel 语音读题.lnk"

Name "Zandrel【PC语音读题版】"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Zandrel"
BrandingText "Zandrel ${VERSION}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\zandrel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "启动 Zandrel 语音读题"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Zandrel 语音读题 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${PUBLISHER}"

Section "Zandrel" SecMain
  SectionIn RO
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}\zandrel.exe"
  ; The question bank is built into zandrel.exe. An earlier version's copy of
  ; it beside the program would replace the newer bank, so it goes.
  Delete "$INSTDIR\questions.tsv"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\zandrel.exe" "" "$INSTDIR\zandrel.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zandrel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\zandrel.exe"
  Delete "$INSTDIR\questions.tsv"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: the folder may have been chosen by the user and hold
  ; files of their own.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; The program's one setting of its own (the browser control's document
  ; mode), written at its first start: nothing of it stays behind.
  DeleteRegValue HKCU "Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION" "zandrel.exe"
SectionEnd
