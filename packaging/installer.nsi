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
; Authenticated Users may change the settings file, as Vantor writes the
; chosen file names back into it.
!define SETTINGS_USERS "*S-1-5-11"

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
    ClearErrors
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\DumpSet.ini" /grant ${SETTINGS_USERS}:(M)'
    Pop $0
    StrCmp $0 "0" settings_writable
    ; Older systems have only cacls.
    nsExec::ExecToLog '"$SYSDIR\cacls.exe" "$INSTDIR\DumpSet.ini" /E /G Users:C'
    Pop $0
    StrCmp $0 "0" settings_writable
    DetailPrint "Could not give users write access to $INSTDIR\DumpSet.ini"
settings_writable:

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
