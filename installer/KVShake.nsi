; The setup program of KVShake: both modules, registered for the machine (the browser reads helper
; objects only from HKLM, so it asks for an administrator), an uninstaller, the "Programs and
; Features" entry and a Start-menu entry that opens the panel. package.sh builds it:
;   makensis -DKVSHAKE_I686=DLL -DKVSHAKE_X86_64=DLL -DKVSHAKE_OUT_DIR=DIR -DKVSHAKE_SIGN=SIGNER
; A test build may add -DKVSHAKE_TEST_ACCOUNT_TYPE=User (or Admin): the account type that the
; elevation check sees instead of the user's own.
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
!define ACTIVE_SETUP_KEY "Software\Microsoft\Active Setup\Installed Components\KVShake"
; The MSI packages' upgrade code (KVShake.wxs): the two never install side by side.
!define MSI_UPGRADE_CODE "{B4B3604A-E812-4D02-AF80-9064964EEFD2}"
!define ELEVATION_REQUIRED 740 ; ERROR_ELEVATION_REQUIRED

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

; Per machine, for an administrator only (RequestExecutionLevel admin); the folder of an earlier
; install is kept. MultiUser's own check shows a message box even with /S and quits without an
; exit code: RequireAdministrator checks first, and the quit hooks give the exit code.
!define MULTIUSER_EXECUTIONLEVEL Admin
!define MULTIUSER_INIT_FUNCTIONQUIT QuitElevationRequired
!define MULTIUSER_INIT_un.FUNCTIONQUIT un.QuitElevationRequired
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

; Where the manifest's request for an administrator cannot apply (Windows XP, or UAC turned off),
; a user who is none changes nothing: a message box, or with /S a line in the log, and the exit
; code 740 either way.
!macro REQUIRE_ADMINISTRATOR UN
Function ${UN}QuitElevationRequired
    StrCpy $R0 "$(^Name) must be installed and removed by an administrator."
    IfSilent +2
    MessageBox MB_OK|MB_ICONSTOP $R0
    Push $R0
    Call ${UN}LogLine
    SetErrorLevel ${ELEVATION_REQUIRED}
    Quit
FunctionEnd

Function ${UN}RequireAdministrator
    !ifdef KVSHAKE_TEST_ACCOUNT_TYPE
        StrCpy $R1 "${KVSHAKE_TEST_ACCOUNT_TYPE}"
    !else
        UserInfo::GetAccountType
        Pop $R1
    !endif
    ${If} $R1 != "Admin"
        Call ${UN}QuitElevationRequired
    ${EndIf}
FunctionEnd

; Appends a line to %TEMP%\KVShakeSetup.log, the log of silent runs.
Function ${UN}LogLine
    Exch $R0
    Push $R1
    FileOpen $R1 "$TEMP\KVShakeSetup.log" a
    FileSeek $R1 0 END
    FileWrite $R1 "$R0$\r$\n"
    FileClose $R1
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!insertmacro REQUIRE_ADMINISTRATOR ""
!insertmacro REQUIRE_ADMINISTRATOR "un."

; The shared keys that registration creates where there were none (the module's scripts keep
; them, as other add-ons may use them), removed again while nothing is in them.
!macro REMOVE_EMPTY_SHARED_KEYS
    DeleteRegKey /ifempty HKLM "${HELPERS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Microsoft\Internet Explorer\Extensions"
!macroend

; The class keys under a user's Software\Classes that the module's per-user registration
; (DllInstall "user") writes: they would override the machine's.
; FOR_USER_CLASS_KEYS inserts the macro given for each of them.
!macro FOR_USER_CLASS_KEYS MACRO
    !insertmacro ${MACRO} "CLSID\${CLSID}"
    !insertmacro ${MACRO} "KVShake.ShakeBHO"
    !insertmacro ${MACRO} "KVShake.ShakeBHO.1"
    !insertmacro ${MACRO} "AppID\{1EEED60E-0AD3-4740-989C-6CA268313F93}"
    !insertmacro ${MACRO} "AppID\KVShake.DLL"
    !insertmacro ${MACRO} "TypeLib\{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}"
    !insertmacro ${MACRO} "Interface\{F743C3A5-5319-4FD4-AB3B-0FBDA9B8BB22}"
!macroend

; In both views of a 64-bit Windows: a 32-bit regsvr32 writes under Wow6432Node.
!macro DELETE_USER_CLASS_KEY KEY
    DeleteRegKey HKCU "Software\Classes\${KEY}"
    DeleteRegKey HKCU "Software\Classes\Wow6432Node\${KEY}"
!macroend

!macro APPEND_KEY KEY
    StrCpy $1 "$1 ${KEY}"
!macroend

; Registers ($R9 empty) or unregisters ($R9 "/u") one module with the regsvr32 of its width:
; the 64-bit one with the file system redirection of this 32-bit program turned off. Pushes the
; module and its width (32 or 64); sets the error flag when regsvr32 fails.
!macro REGISTRATION UN
Function ${UN}Regsvr32
    Exch $R1 ; the width
    Exch
    Exch $R0 ; the module
    Push $R2
    ClearErrors
    ${If} $R1 == 64
        ${DisableX64FSRedirection}
    ${EndIf}
    ExecWait '"$SYSDIR\regsvr32.exe" /s $R9 "$R0"' $R2
    ${If} $R1 == 64
        ${EnableX64FSRedirection}
    ${EndIf}
    ${If} $R2 != 0
        SetErrors
    ${EndIf}
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd

; Unregisters both modules, 64-bit first. Sets the error flag when one of them failed.
Function ${UN}UnregisterModules
    Push $R3
    StrCpy $R9 "/u"
    StrCpy $R3 ""
    ${If} ${FileExists} "$INSTDIR\x64\KVShake.dll"
        Push "$INSTDIR\x64\KVShake.dll"
        Push 64
        Call ${UN}Regsvr32
        IfErrors 0 +2
        StrCpy $R3 "failed"
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\KVShake.dll"
        Push "$INSTDIR\KVShake.dll"
        Push 32
        Call ${UN}Regsvr32
        IfErrors 0 +2
        StrCpy $R3 "failed"
    ${EndIf}
    ClearErrors
    StrCmp $R3 "" +2
    SetErrors
    Pop $R3
FunctionEnd

; Moves a file that a browser may have loaded out of the way as NAME.N.old (a loaded module
; cannot be deleted but can be renamed). Pushes the new name, or "" where nothing moved; sets the
; error flag when the file is still in place.
Function ${UN}MoveAside
    Exch $R0
    Push $R1
    StrCpy $R1 0
    ${If} ${FileExists} $R0
        ${Do}
            IntOp $R1 $R1 + 1
        ${LoopWhile} ${FileExists} "$R0.$R1.old"
        ClearErrors
        Rename $R0 "$R0.$R1.old"
        ${If} ${Errors}
            StrCpy $R0 ""
        ${Else}
            StrCpy $R0 "$R0.$R1.old"
        ${EndIf}
    ${Else}
        ClearErrors
        StrCpy $R0 ""
    ${EndIf}
    Pop $R1
    Exch $R0
FunctionEnd

; Deletes a file moved aside: at once where it is free, else at the next start of Windows.
Function ${UN}DiscardMoved
    Exch $R0
    ${If} $R0 != ""
        Delete /REBOOTOK $R0
    ${EndIf}
    Pop $R0
    ClearErrors
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
!macroend
!insertmacro REGISTRATION ""
!insertmacro REGISTRATION "un."

; The setup program and the MSI packages never install side by side.
Function RefuseBesideMsi
    System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
    ${If} $0 == 0
        StrCpy $R0 "$(^Name) is installed from its MSI package ($1). Remove it in Programs and \
Features, or update it with a newer MSI package."
        IfSilent +2
        MessageBox MB_OK|MB_ICONSTOP $R0
        Push $R0
        Call LogLine
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd

; An earlier version installed per user by the user who runs this: its files, Start-menu entry,
; uninstall entry and class keys go. Its own uninstaller never runs, as it would delete the
; machine's shared keys.
Function TidyPerUserInstall
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        DetailPrint "Removing the per-user install in $0"
        Push "$0\KVShake.dll"
        Push "$0\x64\KVShake.dll"
        Push "$0\Uninstall.exe"
        ${For} $1 1 3
            Call MoveAside
            Call DiscardMoved
        ${Next}
        RMDir /REBOOTOK "$0\x64"
        RMDir /REBOOTOK "$0"
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
        SetShellVarContext current
        Delete "$SMPROGRAMS\${PANEL_TITLE}.lnk"
        SetShellVarContext all
    ${EndIf}
    !insertmacro FOR_USER_CLASS_KEYS DELETE_USER_CLASS_KEY
FunctionEnd

; The other users' per-user class keys go once, at each one's next logon (Active Setup runs the
; command for every user whose own Version is lower than this one).
Function WriteActiveSetup
    StrCpy $1 ""
    !insertmacro FOR_USER_CLASS_KEYS APPEND_KEY
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "${PRODUCT}"
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "ComponentID" "KVShake"
    WriteRegDWORD HKLM "${ACTIVE_SETUP_KEY}" "IsInstalled" 1
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" \
        "${KVSHAKE_VERSION_1},${KVSHAKE_VERSION_2},${KVSHAKE_VERSION_3},${KVSHAKE_VERSION_4}"
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '"$SYSDIR\cmd.exe" /c for %k in ($1) do \
@(reg delete HKCU\Software\Classes\%k /f & reg delete HKCU\Software\Classes\Wow6432Node\%k /f) \
>nul 2>&1'
FunctionEnd

Function .onInit
    Call RequireAdministrator
    !insertmacro MULTIUSER_INIT
    Call RefuseBesideMsi
FunctionEnd

Function un.onInit
    Call un.RequireAdministrator
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

; A failed install or update puts back what was there: the new modules, once written ($4), are
; unregistered and removed; the previous version's, moved aside as $5 and $6, come back, and are
; registered again where the new ones had been written.
Function UndoInstall
    ${If} $4 == "written"
        Call UnregisterModules
        Push "$INSTDIR\x64\KVShake.dll"
        Call MoveAside
        Call DiscardMoved
        Push "$INSTDIR\KVShake.dll"
        Call MoveAside
        Call DiscardMoved
    ${EndIf}
    StrCpy $R9 ""
    ${If} $6 != ""
        Rename $6 "$INSTDIR\x64\KVShake.dll"
        ${If} $4 == "written"
            Push "$INSTDIR\x64\KVShake.dll"
            Push 64
            Call Regsvr32
        ${EndIf}
    ${EndIf}
    ${If} $5 != ""
        Rename $5 "$INSTDIR\KVShake.dll"
        ${If} $4 == "written"
            Push "$INSTDIR\KVShake.dll"
            Push 32
            Call Regsvr32
        ${EndIf}
    ${EndIf}
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR"
FunctionEnd

; Ends a failed install with the previous state back, and a non-zero exit code.
!macro FAIL_INSTALL TEXT
    DetailPrint "${TEXT}"
    Push "${TEXT}"
    Call LogLine
    Call UndoInstall
    SetErrorLevel 2
    IfSilent +2
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}"
    Quit
!macroend

Section "KVShake"
    Call TidyPerUserInstall
    Call SweepMovedAside
    SetOverwrite on
    StrCpy $4 ""
    StrCpy $5 ""
    StrCpy $6 ""
    ; A browser may hold the modules of an earlier version: they are moved aside, new browser
    ; processes load the new ones, and the old ones come back if this install fails.
    Push "$INSTDIR\KVShake.dll"
    Call MoveAside
    Pop $5
    ${If} ${Errors}
        !insertmacro FAIL_INSTALL "$INSTDIR\KVShake.dll is in use"
    ${EndIf}
    ${If} ${RunningX64}
        Push "$INSTDIR\x64\KVShake.dll"
        Call MoveAside
        Pop $6
        ${If} ${Errors}
            !insertmacro FAIL_INSTALL "$INSTDIR\x64\KVShake.dll is in use"
        ${EndIf}
    ${EndIf}
    ClearErrors
    StrCpy $4 "written"
    SetOutPath "$INSTDIR"
    File "${KVSHAKE_I686}"
    ${If} ${RunningX64}
        SetOutPath "$INSTDIR\x64"
        File "${KVSHAKE_X86_64}"
    ${EndIf}
    ${If} ${Errors}
        !insertmacro FAIL_INSTALL "The modules could not be written to $INSTDIR"
    ${EndIf}

    ; The 64-bit module first, each writing its own registry view.
    StrCpy $R9 ""
    ${If} ${RunningX64}
        Push "$INSTDIR\x64\KVShake.dll"
        Push 64
        Call Regsvr32
        ${If} ${Errors}
            !insertmacro FAIL_INSTALL "Registering the 64-bit module failed"
        ${EndIf}
    ${EndIf}
    Push "$INSTDIR\KVShake.dll"
    Push 32
    Call Regsvr32
    ${If} ${Errors}
        !insertmacro FAIL_INSTALL "Registering the 32-bit module failed"
    ${EndIf}
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    Push $5
    Call DiscardMoved
    Push $6
    Call DiscardMoved

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
    Call WriteActiveSetup

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KVShake.dll,-214"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $3 $4 $7
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $3
SectionEnd

Section "Uninstall"
    ; A failed unregistration keeps everything, the entry too, so that it can run again.
    Call un.UnregisterModules
    ${If} ${Errors}
        StrCpy $R0 "Unregistering $(^Name) failed: nothing was removed."
        Push $R0
        Call un.LogLine
        IfSilent +2
        MessageBox MB_OK|MB_ICONSTOP $R0
        SetErrorLevel 2
        Quit
    ${EndIf}
    ; Files still loaded are moved aside and deleted at the next start of Windows.
    Push "$INSTDIR\KVShake.dll"
    Call un.MoveAside
    Call un.DiscardMoved
    Push "$INSTDIR\x64\KVShake.dll"
    Call un.MoveAside
    Call un.DiscardMoved
    Push "$INSTDIR\Uninstall.exe"
    Call un.MoveAside
    Call un.DiscardMoved
    Call un.SweepMovedAside
    RMDir /REBOOTOK "$INSTDIR\x64"
    RMDir /REBOOTOK "$INSTDIR"
    Delete "$SMPROGRAMS\${PANEL_TITLE}.lnk"
    DeleteRegKey HKLM "${ACTIVE_SETUP_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    !insertmacro REMOVE_EMPTY_SHARED_KEYS
    ${If} ${RunningX64}
        SetRegView 64
        !insertmacro REMOVE_EMPTY_SHARED_KEYS
        SetRegView 32
    ${EndIf}
    ; The account and settings that the module stored for the user who runs this: removing the
    ; add-on signs that user out on this machine. Other users' values stay.
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
