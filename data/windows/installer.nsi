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
!include "LogicLib.nsh"
!include "WinMessages.nsh"
!include "x64.nsh"

; What the program itself registers (src/runtime/window_layer_win32.cpp,
; src/app/single_instance_win32.cpp): its main window's class, and the mutex
; it holds from its start to its end.
!define MAIN_WINDOW_CLASS "ZandrelMainWindow"
!define INSTANCE_MUTEX "Local\Zandrel.SingleInstance"
!define SYNCHRONIZE 0x00100000
!define WAIT_TIMEOUT 258
!define ERROR_ACCESS_DENIED 5
; Tenths of a second a running Zandrel gets to close.
!define CLOSE_WAIT 50

; A half-replaced program is worse than none: a file that cannot be written
; stops the installation instead of being skipped.
AllowSkipFiles off

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

; The installer and the uninstaller replace or remove zandrel.exe, which
; cannot be done while it runs: a running Zandrel of this session is asked to
; close, as by its close box, and the work goes on only once it is gone.
!macro RunningProgramFunctions UN
; $0 = 1 while a Zandrel of this session runs: its window, its mutex (held
; from its start to its end, also by a copy started as administrator, whose
; mutex this process may not even open), or the process that was asked to
; close ($R2) still there.
Function ${UN}ZandrelRuns
  StrCpy $0 0
  FindWindow $R0 "${MAIN_WINDOW_CLASS}"
  ${If} $R0 != 0
    StrCpy $0 1
  ${EndIf}
  System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${INSTANCE_MUTEX}") p.R4 ?e'
  Pop $R5
  ${If} $R4 != 0
    System::Call 'kernel32::CloseHandle(p R4)'
    StrCpy $0 1
  ${ElseIf} $R5 = ${ERROR_ACCESS_DENIED}
    StrCpy $0 1
  ${EndIf}
  ${If} $R2 != 0
    System::Call 'kernel32::WaitForSingleObject(p R2, i 0) i.R3'
    ${If} $R3 = ${WAIT_TIMEOUT}
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Asks a running Zandrel to close (WM_CLOSE to its window) and waits until it
; is gone, at most CLOSE_WAIT. $0 = 1 when one still runs.
Function ${UN}CloseZandrel
  StrCpy $R2 0 ; the process asked to close
  StrCpy $R6 0 ; the window asked
  StrCpy $R7 0 ; tenths of a second waited
  ${Do}
    FindWindow $R0 "${MAIN_WINDOW_CLASS}"
    ${If} $R0 != 0
    ${AndIf} $R0 != $R6
      StrCpy $R6 $R0
      ${If} $R2 != 0
        System::Call 'kernel32::CloseHandle(p R2)'
      ${EndIf}
      System::Call 'user32::GetWindowThreadProcessId(p R0, *i .R1)'
      System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p.R2'
      System::Call 'user32::PostMessageW(p R0, i ${WM_CLOSE}, p 0, p 0)'
    ${EndIf}
    Call ${UN}ZandrelRuns
    ${If} $0 = 0
    ${OrIf} $R7 >= ${CLOSE_WAIT}
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $R7 $R7 + 1
  ${Loop}
  ${If} $R2 != 0
    System::Call 'kernel32::CloseHandle(p R2)'
  ${EndIf}
FunctionEnd
!macroend

; Goes on when no Zandrel runs (any more). Otherwise it says so and stops:
; the silent modes then end with exit code 2. WHAT names the work to be done.
!macro StopRunningProgram UN WHAT
  StrCpy $R2 0
  Call ${UN}ZandrelRuns
  ${If} $0 = 1
    MessageBox MB_OKCANCEL|MB_ICONINFORMATION "Zandrel 正在运行。${WHAT}前要先关闭它（正在进行的模拟考试不会保存）。$\n$\n点“确定”关闭 Zandrel 并继续，点“取消”退出。" /SD IDOK IDOK +2
    Abort "Zandrel 正在运行，未做任何更改。"
    Call ${UN}CloseZandrel
    ${DoWhile} $0 = 1
      MessageBox MB_RETRYCANCEL|MB_ICONSTOP "无法关闭正在运行的 Zandrel。$\n$\n请在它的窗口中选择 菜单 → 退出软件（以管理员身份运行的 Zandrel 要由你自己关闭），然后点“重试”。" /SD IDCANCEL IDRETRY +2
      Abort "无法关闭正在运行的 Zandrel，未做任何更改。"
      Call ${UN}CloseZandrel
    ${Loop}
  ${EndIf}
!macroend
!insertmacro RunningProgramFunctions ""
!insertmacro RunningProgramFunctions "un."

Function .onInit
  ; zandrel.exe is an x64 program. Windows on ARM would run it emulated,
  ; without the system parts it is tested with.
  ${If} ${IsNativeARM64}
    MessageBox MB_OK|MB_ICONSTOP "Zandrel 需要 64 位 x64 版本的 Windows（Intel 或 AMD 处理器）。$\n$\n这台电脑运行的是 ARM 版本的 Windows，无法安装。" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section "Zandrel" SecMain
  SectionIn RO
  SetShellVarContext current
  !insertmacro StopRunningProgram "" "安装"
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
  !insertmacro StopRunningProgram "un." "卸载"
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
