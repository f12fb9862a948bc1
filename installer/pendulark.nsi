; The Windows installer of Pendulark: per machine, into Program Files\Pendulark,
; with "DefSet.txt" beside the program so that each user's data goes to their
; application-data folder. makensis -DVERSION=1.15 -DBIN=<programs> -DOUT=<setup.exe>
Unicode true
Name "Pendulark ${VERSION}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\Pendulark"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Pendulark"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${BIN}\Pendulark.exe"
    File "${BIN}\Sumwick.exe"
    File "${BIN}\ReadMe.htm"
    File "${BIN}\pendulark.png"
    File "${BIN}\tray-menu.png"
    File "${BIN}\about.png"
    File "${BIN}\options.png"
    File "${BIN}\message.png"
    File "${BIN}\time-zone.png"
    File "${BIN}\sumwick.png"
    ; Its presence sends each user's settings, list and log to their own folder.
    FileOpen $0 "$INSTDIR\DefSet.txt" w
    FileWrite $0 "Pendulark keeps each user's data in the application-data folder while this file is here.$\r$\n"
    FileClose $0
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Pendulark"
    CreateShortcut "$SMPROGRAMS\Pendulark\Pendulark.lnk" "$INSTDIR\Pendulark.exe"
    CreateShortcut "$SMPROGRAMS\Pendulark\Sumwick.lnk" "$INSTDIR\Sumwick.exe"
    CreateShortcut "$SMPROGRAMS\Pendulark\Pendulark Help.lnk" "$INSTDIR\ReadMe.htm"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Pendulark ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pendulark.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The programs, the shortcuts and the start-with-Windows entry go; each user's
; settings, server list and log stay.
Section "Uninstall"
    SetShellVarContext all
    Delete "$INSTDIR\Pendulark.exe"
    Delete "$INSTDIR\Sumwick.exe"
    Delete "$INSTDIR\ReadMe.htm"
    Delete "$INSTDIR\pendulark.png"
    Delete "$INSTDIR\tray-menu.png"
    Delete "$INSTDIR\about.png"
    Delete "$INSTDIR\options.png"
    Delete "$INSTDIR\message.png"
    Delete "$INSTDIR\time-zone.png"
    Delete "$INSTDIR\sumwick.png"
    Delete "$INSTDIR\DefSet.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Pendulark\Pendulark.lnk"
    Delete "$SMPROGRAMS\Pendulark\Sumwick.lnk"
    Delete "$SMPROGRAMS\Pendulark\Pendulark Help.lnk"
    RMDir "$SMPROGRAMS\Pendulark"
    DeleteRegValue HKCU "${RUN_KEY}" "Pendulark.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
