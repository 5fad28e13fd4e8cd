; The setup program of KVShake: both modules, registered for the current user (the default, no
; elevation) or for the machine (/AllUsers), an uninstaller, the "Programs and Features" entry and
; a Start-menu entry that opens the panel. package.sh builds it:
;   makensis -DKVSHAKE_I686=DLL -DKVSHAKE_X86_64=DLL -DKVSHAKE_OUT_DIR=DIR -DKVSHAKE_SIGN=SIGNER
Unicode true
SetCompressor /SOLID lzma
ManifestSupportedOS all

; The version is the modules' own, which the project's version sets.
!getdllversion "${KVSHAKE_I686}" KVSHAKE_VERSION_
!define VERSION "${KVSHAKE_VERSION_1}.${KVSHAKE_VERSION_2}.${KVSHAKE_VERSION_3}.${KVSHAKE_VERSION_4}"
!define PRODUCT "Kovin Shake BHO"
!define PUBLISHER "Kovin"
!define PANEL_TITLE "摇一摇传图"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KVShake"
!define CLSID "{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}"
!define STORE_KEY "Software\AppDataLow"
!define HELPERS_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects"

Name "${PRODUCT}"
OutFile "${KVSHAKE_OUT_DIR}/KVShakeSetup-${VERSION}.exe"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) ${PUBLISHER}. All rights reserved."

; The uninstaller is signed before it is packed, the setup program once it is written.
!uninstfinalize '"${KVSHAKE_SIGN}" "%1"' = 0
!finalize '"${KVSHAKE_SIGN}" "%1"' = 0

; Per user unless /AllUsers; the folder of an earlier install is kept.
!define MULTIUSER_EXECUTIONLEVEL Standard
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "KVShake"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; A per-machine run needs an administrator: without one, the same program runs again elevated
; ("runas") with the same parameters, and this one ends with its exit code.
!macro ELEVATE_FOR_ALL_USERS UN
Function ${UN}ElevateForAllUsers
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/AllUsers" $R1
    ${If} ${Errors}
        Return
    ${EndIf}
    UserInfo::GetAccountType
    Pop $R1
    ${If} $R1 == "Admin"
        Return
    ${EndIf}
    !if "${UN}" == "un."
        StrCpy $R0 "$R0 _?=$INSTDIR"
    !endif
    ; SHELLEXECUTEINFOW with SEE_MASK_NOCLOSEPROCESS; hProcess is its last field.
    System::Call '*(i 60, i 0x40, p $HWNDPARENT, w "runas", w "$EXEPATH", w "$R0", p 0, i 1, \
        p 0, p 0, p 0, p 0, i 0, p 0, p 0) p.R2'
    System::Call 'shell32::ShellExecuteExW(p R2) i.R3'
    System::Call '*$R2(i, i, p, p, p, p, p, i, p, p, p, p, i, p, p.R4)'
    System::Free $R2
    ${If} $R3 == 0
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED: the elevation was refused
        Quit
    ${EndIf}
    System::Call 'kernel32::WaitForSingleObject(p R4, i -1)'
    System::Call 'kernel32::GetExitCodeProcess(p R4, *i.R5)'
    System::Call 'kernel32::CloseHandle(p R4)'
    SetErrorLevel $R5
    Quit
FunctionEnd
!macroend
!insertmacro ELEVATE_FOR_ALL_USERS ""
!insertmacro ELEVATE_FOR_ALL_USERS "un."

; The switches of regsvr32 in $R9. Both regsvr32 of a 64-bit system: the 32-bit one (the file system redirection of this 32-bit
; program picks it) and the 64-bit one, each writing its own registry view. Per user, each runs
; the module's DllInstall with "user" (/n /i:user); per machine, DllRegisterServer.
!macro REGSVR32_SWITCHES SWITCHES
    ${If} $MultiUser.InstallMode == "AllUsers"
        StrCpy $R9 "/s ${SWITCHES}"
    ${Else}
        StrCpy $R9 "/s ${SWITCHES} /n /i:user"
    ${EndIf}
!macroend

; The shared keys that registration creates where there were none (the module's scripts keep
; them, as other add-ons may use them), removed again while nothing is in them.
!macro REMOVE_EMPTY_SHARED_KEYS
    DeleteRegKey /ifempty HKLM "${HELPERS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Microsoft\Internet Explorer\Extensions"
    DeleteRegKey /ifempty HKCU "Software\Classes\CLSID"
    DeleteRegKey /ifempty HKCU "Software\Classes\AppID"
!macroend

; Moves a file that a browser may have loaded out of the way as NAME.N.old (a loaded module
; cannot be deleted but can be renamed), then deletes that at once where it is free, else by the
; next install or uninstall or at the next start of Windows. Sets the error flag when the file is
; still in place.
!macro MOVE_ASIDE UN
Function ${UN}MoveAside
    Exch $R0
    Push $R1
    ClearErrors
    ${If} ${FileExists} $R0
        StrCpy $R1 0
        ${Do}
            IntOp $R1 $R1 + 1
        ${LoopWhile} ${FileExists} "$R0.$R1.old"
        Rename $R0 "$R0.$R1.old"
        ${If} ${Errors}
            ClearErrors
            Delete $R0
        ${Else}
            Delete /REBOOTOK "$R0.$R1.old"
            ClearErrors
        ${EndIf}
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd

; What earlier updates or uninstalls moved aside into a folder, deleted now where no process
; holds it.
Function ${UN}SweepFolder
    Exch $R0
    Push $R1
    Push $R2
    FindFirst $R2 $R1 "$R0\*.old"
    ${DoWhile} $R1 != ""
        Delete "$R0\$R1"
        FindNext $R2 $R1
    ${Loop}
    FindClose $R2
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

Function ${UN}SweepMovedAside
    Push "$INSTDIR\x64"
    Call ${UN}SweepFolder
    Push "$INSTDIR"
    Call ${UN}SweepFolder
FunctionEnd

; Unregisters both modules, deletes them and the uninstaller, the Start-menu entry and the
; uninstall entry, and what was made only for them. Used by the uninstaller and by a failed
; install.
Function ${UN}RemoveInstall
    !insertmacro REGSVR32_SWITCHES "/u"
    ${If} ${FileExists} "$INSTDIR\KVShake.dll"
        ExecWait '"$SYSDIR\regsvr32.exe" $R9 "$INSTDIR\KVShake.dll"'
        Push "$INSTDIR\KVShake.dll"
        Call ${UN}MoveAside
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\x64\KVShake.dll"
        ${DisableX64FSRedirection}
        ExecWait '"$SYSDIR\regsvr32.exe" $R9 "$INSTDIR\x64\KVShake.dll"'
        ${EnableX64FSRedirection}
        Push "$INSTDIR\x64\KVShake.dll"
        Call ${UN}MoveAside
    ${EndIf}
    Push "$INSTDIR\Uninstall.exe"
    Call ${UN}MoveAside
    Call ${UN}SweepMovedAside
    RMDir /REBOOTOK "$INSTDIR\x64"
    RMDir /REBOOTOK "$INSTDIR"
    Delete "$SMPROGRAMS\${PANEL_TITLE}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ; What a per-user install made for itself alone in the user's profile.
    ${If} $MultiUser.InstallMode == "CurrentUser"
        RMDir /REBOOTOK "$LOCALAPPDATA\Programs"
        DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
    ${EndIf}
    !insertmacro REMOVE_EMPTY_SHARED_KEYS
    ${If} ${RunningX64}
        SetRegView 64
        !insertmacro REMOVE_EMPTY_SHARED_KEYS
        SetRegView 32
    ${EndIf}
FunctionEnd
!macroend
!insertmacro MOVE_ASIDE ""
!insertmacro MOVE_ASIDE "un."

Function .onInit
    Call ElevateForAllUsers
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    Call un.ElevateForAllUsers
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Ends a failed install with nothing of it left, and a non-zero exit code.
!macro FAIL_INSTALL TEXT
    DetailPrint "${TEXT}"
    Call RemoveInstall
    SetErrorLevel 2
    IfSilent +2
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}"
    Quit
!macroend

Section "KVShake"
    Call SweepMovedAside
    SetOverwrite on
    ; A browser may hold the modules of an earlier version: they are moved aside, new browser
    ; processes load the new ones.
    Push "$INSTDIR\KVShake.dll"
    Call MoveAside
    ${If} ${Errors}
        !insertmacro FAIL_INSTALL "$INSTDIR\KVShake.dll is in use"
    ${EndIf}
    SetOutPath "$INSTDIR"
    File "${KVSHAKE_I686}"
    ${If} ${RunningX64}
        Push "$INSTDIR\x64\KVShake.dll"
        Call MoveAside
        ${If} ${Errors}
            !insertmacro FAIL_INSTALL "$INSTDIR\x64\KVShake.dll is in use"
        ${EndIf}
        SetOutPath "$INSTDIR\x64"
        File "${KVSHAKE_X86_64}"
    ${EndIf}
    ${If} ${Errors}
        !insertmacro FAIL_INSTALL "The modules could not be written to $INSTDIR"
    ${EndIf}
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; The 64-bit module first: where the user's classes are one key for both widths (Windows
    ; before 7, Wine), the 32-bit module's registration, the browser's own width, is the one kept.
    !insertmacro REGSVR32_SWITCHES ""
    ClearErrors
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        ExecWait '"$SYSDIR\regsvr32.exe" $R9 "$INSTDIR\x64\KVShake.dll"' $0
        ${EnableX64FSRedirection}
        ${If} ${Errors}
        ${OrIf} $0 != 0
            !insertmacro FAIL_INSTALL "Registering the 64-bit module failed ($0)"
        ${EndIf}
    ${EndIf}
    ExecWait '"$SYSDIR\regsvr32.exe" $R9 "$INSTDIR\KVShake.dll"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        !insertmacro FAIL_INSTALL "Registering the 32-bit module failed ($0)"
    ${EndIf}

    ; The panel, for browsers without toolbar buttons (Edge's Internet Explorer mode): the
    ; 32-bit rundll32, in the 32-bit module whose machine-wide state the browser's tabs share.
    ${If} ${RunningX64}
        StrCpy $1 "$WINDIR\SysWOW64\rundll32.exe"
    ${Else}
        StrCpy $1 "$SYSDIR\rundll32.exe"
    ${EndIf}
    SetOutPath "$INSTDIR"
    CreateShortCut "$SMPROGRAMS\${PANEL_TITLE}.lnk" "$1" '"$INSTDIR\KVShake.dll",ShowPanel' \
        "$INSTDIR\KVShake.dll" 0

    ${If} $MultiUser.InstallMode == "AllUsers"
        StrCpy $2 "/AllUsers"
    ${Else}
        StrCpy $2 "/CurrentUser"
    ${EndIf}
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KVShake.dll,-214"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" $2'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" $2 /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $3 $4 $5
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $3
SectionEnd

Section "Uninstall"
    Call un.RemoveInstall
    ; The account and settings that the module stored for this user: removing the add-on signs
    ; the user out on this machine.
    DeleteRegValue HKCU "${STORE_KEY}" "kvshocktoken"
    DeleteRegValue HKCU "${STORE_KEY}" "kvshockuin"
    DeleteRegValue HKCU "${STORE_KEY}" "kvshocksid"
    DeleteRegValue HKCU "${STORE_KEY}" "kvshockuser"
    DeleteRegValue HKCU "${STORE_KEY}" "kvshocknickname"
    DeleteRegValue HKCU "${STORE_KEY}" "kvshockdebug"
    ; The diagnostic log that the module writes while kvshockdebug is "1".
    Delete "D:\shakelog.txt"
    ; What the browser keeps about the add-on.
    DeleteRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Ext\Settings\${CLSID}"
    DeleteRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Ext\Stats\${CLSID}"
SectionEnd
