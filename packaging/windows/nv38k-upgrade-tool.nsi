; Per-user installer of the NV38K upgrade tool for Windows, in Chinese like
; the tool. make-packages.sh builds it:
;   makensis -INPUTCHARSET UTF8 -DVERSION=<version> -DSUPPORT_UNTIL=<YYYY-MM-DD> -DSOURCE=<folder> -DLICENSES=<licenses.nsh> -DOUTFILE=<setup.exe> nv38k-upgrade-tool.nsi
; makensis works in this folder. SOURCE holds nv38k-upgrade-tool.exe,
; bin/x64/dfu-util-static.exe and licenses/, whose files LICENSES lists as
; SetOutPath and File lines; with SIGN, that script signs the uninstaller and
; the installer; with UNINSTALLER, the uninstaller as it ships is also copied
; there, for the SBOM. The tool runs bin\x64\dfu-util-static.exe and
; writes tmp\Data.nv relative to its working directory, so it is installed
; where its user may write, and its shortcut starts it there. /S installs
; (and, given to the uninstaller, uninstalls) silently; /NOUPDATECHECK turns
; the tool's check for its own updates off, in silent installs too.
Unicode true
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!ifndef VERSION | SUPPORT_UNTIL | SOURCE | OUTFILE | LICENSES
  !error "Define VERSION, SUPPORT_UNTIL, SOURCE, LICENSES and OUTFILE (see make-packages.sh)"
!endif

!define TITLE "NV38K升级工具"
!define PROGRAM "nv38k-upgrade-tool.exe"
!define SHORTCUT "$SMPROGRAMS\${TITLE}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\NV38KUpgradeTool"
; The tool's own settings (QSettings, per user): CheckToolUpdates 0 means
; never check for a newer tool; the tool writes the rest.
!define SETTINGS_KEY "Software\NV38K\nv38k-upgrade-tool"
!define SUPPORT_TEXT "安全更新提供至 ${SUPPORT_UNTIL}。"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\NV38K Upgrade Tool"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
; A file that cannot be written stops the install: skipping it would leave the
; old program under the new version's Uninstall entry.
AllowSkipFiles off
!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif
!ifdef UNINSTALLER
  !uninstfinalize 'cp "%1" "${UNINSTALLER}"' = 0
!endif
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "../../app/nv38k.ico"
!define MUI_UNICON "../../app/nv38k.ico"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "此程序将把 ${TITLE} ${VERSION} 安装到你自己的文件夹中，不需要管理员权限。$\r$\n$\r$\n${SUPPORT_TEXT}$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "\
在 Windows 上，键盘在 DFU 模式下（USB 0483:DF13）绑定 WinUSB 驱动后，dfu-util 才能访问它，\
否则工具会提示“无法访问设备”。每台电脑只需绑定一次：$\r$\n\
1. 保持键盘在 DFU 模式并连接电脑；$\r$\n\
2. 运行 Zadig，在 Options 菜单中勾选 List All Devices，选择 USB ID 为 0483 DF13 的设备；$\r$\n\
3. 驱动选择 WinUSB，点击 Replace Driver（或 Install Driver）。$\r$\n$\r$\n\
本工具及其所含第三方软件的许可证和声明在安装文件夹的 licenses 文件夹中。"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "启动${TITLE}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTool
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "检查工具更新"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION UpdateCheckChecked
!define MUI_PAGE_CUSTOMFUNCTION_SHOW UpdateCheckShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE UpdateCheckLeave
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

Var NoUpdateCheck

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOUPDATECHECK" $1
  ${IfNot} ${Errors}
    StrCpy $NoUpdateCheck 1
  ${EndIf}
  ; Before the first page: an owner learns of a copy still running before
  ; clicking through.
  Call WaitForTool
  Call CloseAll
FunctionEnd

; The box starts checked unless the owner has turned the check off before
; (the tool writes true or false, the installer 1 or 0) or asks to now: an
; update installed by clicking through keeps the owner's choice.
Function UpdateCheckShow
  ReadRegStr $0 HKCU "${SETTINGS_KEY}" "CheckToolUpdates"
  ${If} $NoUpdateCheck == 1
  ${OrIf} $0 == "0"
  ${OrIf} $0 == "false"
    ${NSD_Uncheck} $mui.FinishPage.ShowReadme
  ${EndIf}
FunctionEnd

; Written on leaving the page, before the tool may start, so it starts with
; the owner's choice.
Function UpdateCheckLeave
  ${NSD_GetState} $mui.FinishPage.ShowReadme $0
  ${If} $0 == ${BST_CHECKED}
    WriteRegDWORD HKCU "${SETTINGS_KEY}" "CheckToolUpdates" 1
  ${Else}
    WriteRegDWORD HKCU "${SETTINGS_KEY}" "CheckToolUpdates" 0
  ${EndIf}
FunctionEnd

; The page calls this when the box is checked, after the tool started: by then
; UpdateCheckLeave has written the choice.
Function UpdateCheckChecked
FunctionEnd

; Sets the error flag when program $R0 exists and cannot be overwritten:
; Windows lets no one replace a program while it runs.
Function Busy
  ClearErrors
  IfFileExists "$R0" 0 done
  FileOpen $0 "$R0" a
  ; IfErrors clears the flag it reads.
  IfErrors busy
  FileClose $0
  Goto done
  busy:
    SetErrors
  done:
FunctionEnd

; The tool that started this installer to update itself may still be quitting.
; Waits up to 10 s.
Function WaitForTool
  StrCpy $R0 "$INSTDIR\${PROGRAM}"
  StrCpy $1 0
  retry:
    Call Busy
    IfErrors 0 done
    IntOp $1 $1 + 1
    IntCmp $1 50 done
    Sleep 200
    Goto retry
  done:
FunctionEnd

; Another copy of the tool, or the dfu-util it runs, may still run program
; $R0, named $R1: the owner closes it and retries, or the install ends with
; nothing changed. A silent install ends at once, with exit code 2.
Function CloseOrEnd
  retry:
    Call Busy
    IfErrors 0 done
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$R1仍在运行：$R0。请关闭它，然后点击“重试”。" \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  done:
FunctionEnd

Function CloseAll
  StrCpy $R0 "$INSTDIR\${PROGRAM}"
  StrCpy $R1 "${TITLE}"
  Call CloseOrEnd
  StrCpy $R0 "$INSTDIR\bin\x64\dfu-util-static.exe"
  StrCpy $R1 "dfu-util "
  Call CloseOrEnd
FunctionEnd

; In the install folder, as the shortcut starts it.
Function StartTool
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${PROGRAM}"'
FunctionEnd

Section "Install"
  SetShellVarContext current
  ; Again: the owner may have chosen another folder, or started a copy since.
  Call CloseAll
  SetOutPath "$INSTDIR\bin\x64"
  File "${SOURCE}/bin/x64/dfu-util-static.exe"
  SetOutPath "$INSTDIR"
  File "${SOURCE}/${PROGRAM}"
  !include "${LICENSES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut's working directory is the output path: the install folder.
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  ; Only now is every file in place: the entry, and the version that
  ; reporters quote from it, tells of what is installed.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "NV38K"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Comments" "${SUPPORT_TEXT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  ; A silent install leaves the owner's choice as it is, or unmade.
  ${If} $NoUpdateCheck == 1
    WriteRegDWORD HKCU "${SETTINGS_KEY}" "CheckToolUpdates" 0
  ${EndIf}
SectionEnd

; Removes what the installer put there and the tool's tmp folder, which holds
; only the firmware it downloaded (a cache: it downloads it again when asked).
; The install folder itself goes only when nothing else is left in it. The
; tool's settings go too, and NV38K's key when nothing else is left in it.
Section "Uninstall"
  SetShellVarContext current
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\bin\x64\dfu-util-static.exe"
  RMDir "$INSTDIR\bin\x64"
  RMDir "$INSTDIR\bin"
  RMDir /r "$INSTDIR\licenses"
  RMDir /r "$INSTDIR\tmp"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\NV38K"
SectionEnd
