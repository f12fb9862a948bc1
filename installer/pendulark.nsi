; The Windows installer of Pendulark: per machine, into Program Files\Pendulark,
; with "DefSet.txt" beside the program so that each user's data goes to their
; application-data folder. makensis -DVERSION=<version of base/program.h> -DBIN=<programs> -DOUT=<setup.exe>
Unicode true
!include LogicLib.nsh
!include FileFunc.nsh
; nsDialogs brings WinMessages.nsh and its WM_COMMAND.
!include nsDialogs.nsh

; The program's names, version and maker, from where the program takes them.
!searchparse /file "..\base\program.h" `#define PROGRAM_FILE_NAME "` PROGRAM_FILE `"`
!searchparse /file "..\base\program.h" `#define PROGRAM_CLASS_NAME "` PROGRAM_CLASS `"`
!searchparse /file "..\base\program.h" `#define PROGRAM_VERSION_DOTTED "` VERSION_DOTTED `"`
!searchparse /file "..\base\program.h" `#define PROGRAM_COMPANY_NAME "` COMPANY `"`
!searchparse /file "..\base\program.h" `#define PROGRAM_COPYRIGHT "` COPYRIGHT `"`

Name "Pendulark ${VERSION}"
OutFile "${OUT}"
Icon "..\resources\pendulark.ico"
UninstallIcon "..\resources\pendulark.ico"
InstallDir "$PROGRAMFILES\Pendulark"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where Windows keeps the service, with the command that runs it.
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\Pendulark"
; An upgrade goes where the last install went; /D= still decides.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION_DOTTED}"
VIFileVersion "${VERSION_DOTTED}"
VIAddVersionKey "ProductName" "Pendulark"
VIAddVersionKey "FileDescription" "Pendulark ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION_DOTTED}"
VIAddVersionKey "ProductVersion" "${VERSION_DOTTED}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

; The tray menu's Exit: it saves the settings and ends the program even where
; closing the window only hides it to the tray.
!define EXIT_COMMAND 2
!define SYNCHRONIZE 0x00100000
!define END_WAIT_TENTHS 100
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010

; 1 when the service is to be installed; the page, or /SERVICE=1 or /SERVICE=0, decides.
Var ServiceWanted
Var ServiceBox

Page directory
Page custom ServicePage ServicePageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro PROGRAM_FUNCTIONS un
; $0 is 1 while a copy runs in this session: its window, or a quiet run's mutex.
Function ${un}ProgramRuns
    FindWindow $0 "${PROGRAM_CLASS}"
    ${If} $0 = 0
        System::Call "kernel32::OpenMutex(i ${SYNCHRONIZE}, i 0, t '${PROGRAM_FILE}') p .r0"
        ${IfThen} $0 <> 0 ${|} System::Call "kernel32::CloseHandle(p r0)" ${|}
    ${EndIf}
    ${IfThen} $0 <> 0 ${|} StrCpy $0 1 ${|}
FunctionEnd

; Asks a running copy to end through its own Exit and waits for it. One that
; stays is the user's to close; a silent run cancels rather than leave
; files in use behind a new uninstall entry.
Function ${un}EndRunningProgram
    ${Do}
        FindWindow $0 "${PROGRAM_CLASS}"
        ${IfThen} $0 <> 0 ${|} System::Call "user32::PostMessage(p r0, i ${WM_COMMAND}, p ${EXIT_COMMAND}, p 0)" ${|}
        StrCpy $1 0
        ${Do}
            Call ${un}ProgramRuns
            ${IfThen} $0 = 0 ${|} Return ${|}
            Sleep 100
            IntOp $1 $1 + 1
        ${LoopUntil} $1 >= ${END_WAIT_TENTHS}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "Pendulark is still running. Close it, then choose Retry; Cancel stops here and changes nothing." \
            /SD IDCANCEL IDRETRY +2
        Abort "Pendulark is still running: nothing was changed."
    ${Loop}
FunctionEnd

; Files that were in use are replaced or removed when Windows restarts.
Function ${un}OfferRestart
    ${If} ${RebootFlag}
        SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
        MessageBox MB_YESNO|MB_ICONQUESTION \
            "Some files were in use; Windows replaces them when it restarts. Restart now?" /SD IDNO IDNO +2
        Reboot
    ${EndIf}
FunctionEnd
!macroend
!insertmacro PROGRAM_FUNCTIONS ""
!insertmacro PROGRAM_FUNCTIONS "un."

; A file that something still holds goes in under a new name and takes the
; old one's place at the next restart.
!macro INSTALL_FILE NAME
    ClearErrors
    File "${BIN}\${NAME}"
    ${If} ${Errors}
        File "/oname=${NAME}.new" "${BIN}\${NAME}"
        Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
    ${EndIf}
!macroend

; A new install offers the service; an upgrade keeps what it had, so an
; install without the service does not gain one unasked.
Function .onInit
    StrCpy $ServiceWanted 1
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
    ${If} $0 != ""
    ${AndIf} $1 == ""
        StrCpy $ServiceWanted 0
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SERVICE=" $1
    ${IfNot} ${Errors}
        StrCpy $ServiceWanted $1
    ${EndIf}
FunctionEnd

Function ServicePage
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 60u \
        "Pendulark can keep this computer's time as a Windows service, from the moment Windows starts and whether or not anyone is logged on; it serves the time to the network too when its settings say so. The Pendulark window then shows what the service does, and its Correct asks the service. The service takes this account's settings and server list when it has none of its own."
    Pop $0
    ${NSD_CreateCheckbox} 0 70u 100% 12u "&Keep the time as a service (Pendulark time keeper)"
    Pop $ServiceBox
    ${If} $ServiceWanted = 1
        ${NSD_Check} $ServiceBox
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function ServicePageLeave
    ${NSD_GetState} $ServiceBox $ServiceWanted
FunctionEnd

; A service holds the program while it runs: it goes first, by its own
; command, and the new program installs it again when it is wanted.
!macro REMOVE_SERVICE
    ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
    ${If} $0 != ""
        ExecWait '$0 remove'
    ${EndIf}
!macroend

Section "Pendulark"
    SetShellVarContext all
    Call EndRunningProgram
    !insertmacro REMOVE_SERVICE
    SetOutPath "$INSTDIR"
    SetOverwrite try
    !insertmacro INSTALL_FILE Pendulark.exe
    !insertmacro INSTALL_FILE Sumwick.exe
    !insertmacro INSTALL_FILE ReadMe.htm
    !insertmacro INSTALL_FILE pendulark.png
    !insertmacro INSTALL_FILE tray-menu.png
    !insertmacro INSTALL_FILE about.png
    !insertmacro INSTALL_FILE options.png
    !insertmacro INSTALL_FILE message.png
    !insertmacro INSTALL_FILE time-zone.png
    !insertmacro INSTALL_FILE sumwick.png
    !insertmacro INSTALL_FILE history.png
    SetOverwrite on
    ; Its presence sends each user's settings, list and log to their own folder.
    FileOpen $0 "$INSTDIR\DefSet.txt" w
    FileWrite $0 "Pendulark keeps each user's data in the application-data folder while this file is here.$\r$\n"
    FileClose $0
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    ${If} $ServiceWanted = 1
        ExecWait '"$INSTDIR\${PROGRAM_FILE}" /service install' $0
        ${If} $0 <> 0
            MessageBox MB_OK|MB_ICONEXCLAMATION \
                "The Pendulark service could not be installed: $APPDATA\Brenlo\Pendulark\dLog.txt says why. The program is installed all the same." \
                /SD IDOK
        ${EndIf}
    ${EndIf}
    CreateDirectory "$SMPROGRAMS\Pendulark"
    CreateShortcut "$SMPROGRAMS\Pendulark\Pendulark.lnk" "$INSTDIR\Pendulark.exe"
    CreateShortcut "$SMPROGRAMS\Pendulark\Sumwick.lnk" "$INSTDIR\Sumwick.exe"
    CreateShortcut "$SMPROGRAMS\Pendulark\Pendulark Help.lnk" "$INSTDIR\ReadMe.htm"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Pendulark ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pendulark.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function .onInstSuccess
    Call OfferRestart
FunctionEnd

; The service, the programs, the shortcuts and the start-with-Windows entries
; go; each user's settings, server list and log stay, and the machine's.
Section "Uninstall"
    SetShellVarContext all
    Call un.EndRunningProgram
    !insertmacro REMOVE_SERVICE
    ; After the program has ended, or its own save would write the Run value again.
    DeleteRegValue HKCU "${RUN_KEY}" "${PROGRAM_FILE}"
    ExecWait '"$INSTDIR\${PROGRAM_FILE}" /unregister'
    Delete /REBOOTOK "$INSTDIR\Pendulark.exe"
    Delete /REBOOTOK "$INSTDIR\Sumwick.exe"
    Delete /REBOOTOK "$INSTDIR\ReadMe.htm"
    Delete /REBOOTOK "$INSTDIR\pendulark.png"
    Delete /REBOOTOK "$INSTDIR\tray-menu.png"
    Delete /REBOOTOK "$INSTDIR\about.png"
    Delete /REBOOTOK "$INSTDIR\options.png"
    Delete /REBOOTOK "$INSTDIR\message.png"
    Delete /REBOOTOK "$INSTDIR\time-zone.png"
    Delete /REBOOTOK "$INSTDIR\sumwick.png"
    Delete /REBOOTOK "$INSTDIR\history.png"
    Delete /REBOOTOK "$INSTDIR\DefSet.txt"
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
    ; Replacements that still wait for a restart.
    Delete /REBOOTOK "$INSTDIR\*.new"
    RMDir /REBOOTOK "$INSTDIR"
    Delete "$SMPROGRAMS\Pendulark\Pendulark.lnk"
    Delete "$SMPROGRAMS\Pendulark\Sumwick.lnk"
    Delete "$SMPROGRAMS\Pendulark\Pendulark Help.lnk"
    RMDir "$SMPROGRAMS\Pendulark"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Function un.onUninstSuccess
    Call un.OfferRestart
FunctionEnd
