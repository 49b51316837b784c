; The uXfer Tools installer.  scripts/package.sh stages the files and calls
; makensis with:
;   VERSION        release version (1.1.0)
;   STAGE          the staged tree, as the programs folder will hold it
;   FILES_NSH      File lines for the staged tree (DumpSet.ini left out)
;   REMOVE_NSH     Delete and RMDir lines undoing FILES_NSH
;   SIZE_KB        installed size, for Add/Remove Programs
;   OUTFILE        the setup program to write
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "uXfer Tools"
!define PUBLISHER "uXfer Tools project"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\uXfer Tools"
; Every user (Everyone, S-1-1-0) may change the settings file, as Vantor
; writes the chosen file names back into it: read, write, execute and delete
; ("modify", FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE |
; DELETE).  Only this file: the programs beside it stay read-only for users.
!define SETTINGS_USERS_SID "S-1-1-0"
!define MODIFY_ACCESS 0x1301BF

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage components
UninstPage instfiles

Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "${PRODUCT}" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    !include "${FILES_NSH}"

    ; The settings file belongs to the user once installed: an upgrade keeps it.
    SetOutPath "$INSTDIR"
    SetOverwrite off
    File "${STAGE}/DumpSet.ini"
    SetOverwrite on
    Call GrantSettingsToUsers

    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\Vantor.lnk" "$INSTDIR\Vantor.exe"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\User Guide.lnk" "$INSTDIR\docs\user-guide.html"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vantor.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Last step: the COM server registers itself once everything is in place.
Section "-Register Talvix" SecRegister
    ClearErrors
    RegDLL "$INSTDIR\Talvix.dll"
    IfErrors 0 +3
        DetailPrint "Registering $INSTDIR\Talvix.dll failed"
        SetErrorLevel 3
SectionEnd

; Adds an entry for every user to the DACL of DumpSet.ini, keeping what is
; there (the entries inherited from the programs folder).  Done with the
; security functions themselves: the same calls work on every Windows
; version and under Wine, whose icacls and cacls change nothing (and which
; keeps only the entries it can express as Unix permissions: owner, Everyone).
Function GrantSettingsToUsers
    StrCpy $4 0
    StrCpy $5 0
    System::Call 'advapi32::ConvertStringSidToSidW(w "${SETTINGS_USERS_SID}", *p .r1) i .r0'
    IntCmp $0 0 grant_failed
    ; EXPLICIT_ACCESS_W: permissions, GRANT_ACCESS (1), NO_INHERITANCE (0), and
    ; a TRUSTEE_W: no multiple trustee, NO_MULTIPLE_TRUSTEE (0), TRUSTEE_IS_SID
    ; (0), TRUSTEE_IS_WELL_KNOWN_GROUP (5), the SID.
    System::Call '*(i ${MODIFY_ACCESS}, i 1, i 0, p 0, i 0, i 0, i 5, p r1) p .r2'
    ; SE_FILE_OBJECT (1), DACL_SECURITY_INFORMATION (4).
    System::Call 'advapi32::GetNamedSecurityInfoW(w "$INSTDIR\DumpSet.ini", i 1, i 4, p 0, p 0, *p .r3, p 0, *p .r4) i .r0'
    IntCmp $0 0 0 grant_free grant_free
    System::Call 'advapi32::SetEntriesInAclW(i 1, p r2, p r3, *p .r5) i .r0'
    IntCmp $0 0 0 grant_free grant_free
    System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR\DumpSet.ini", i 1, i 4, p 0, p 0, p r5, p 0) i .r0'
grant_free:
    StrCpy $6 $0
    System::Free $2
    System::Call 'kernel32::LocalFree(p r1)'
    System::Call 'kernel32::LocalFree(p r4)'
    System::Call 'kernel32::LocalFree(p r5)'
    IntCmp $6 0 grant_done
grant_failed:
    DetailPrint "Could not give users write access to $INSTDIR\DumpSet.ini"
grant_done:
FunctionEnd

Section "un.${PRODUCT}" SecUnProgram
    SectionIn RO
    UnRegDLL "$INSTDIR\Talvix.dll"

    Delete "$SMPROGRAMS\${PRODUCT}\Vantor.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\User Guide.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    ; Only what was installed goes; dumps and other files of the user stay,
    ; and so do the folders holding them.
    !include "${REMOVE_NSH}"

    ; The settings file as shipped goes; one the user changed stays unless
    ; the component below is chosen.
    Call un.SettingsUnchanged
    Pop $0
    StrCmp $0 "1" 0 +2
        Delete "$INSTDIR\DumpSet.ini"

    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    RMDir "$INSTDIR"
SectionEnd

Section /o "un.My Vantor settings (DumpSet.ini)" SecUnSettings
    Delete "$INSTDIR\DumpSet.ini"
    RMDir "$INSTDIR"
SectionEnd

; Pushes 1 when DumpSet.ini holds exactly what the installer put there.
Function un.SettingsUnchanged
    Push $1
    Push $2
    Push $3
    StrCpy $1 ""
    ClearErrors
    FileOpen $2 "$INSTDIR\DumpSet.ini" r
    IfErrors differs
read_line:
    ClearErrors
    FileRead $2 $3
    IfErrors read_done
    StrCpy $1 "$1$3"
    StrLen $3 $1
    IntCmp $3 1024 read_line read_line too_long
too_long:
    FileClose $2
    Goto differs
read_done:
    FileClose $2
    StrCmpS $1 "${SETTINGS_AS_SHIPPED}" 0 differs
    StrCpy $1 "1"
    Goto result
differs:
    StrCpy $1 "0"
result:
    Pop $3
    Pop $2
    Exch $1
FunctionEnd
