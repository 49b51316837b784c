; The uXfer Tools installer.  scripts/package.sh stages the files and calls
; makensis with:
;   VERSION        release version (1.1.0)
;   STAGE          the staged tree, as the programs folder will hold it
;   FILES_NSH      File lines for the staged tree (DumpSet.ini left out)
;   REMOVE_NSH     Delete and RMDir lines undoing FILES_NSH
;   SIZE_KB        installed size, for Add/Remove Programs
;   OUTFILE        the setup program to write
; Nothing is granted beyond the programs folder's defaults: a user who may
; not write DumpSet.ini there keeps settings of their own, which Vantor puts
; in %APPDATA%\uXfer Tools\DumpSet.ini.  No installer step touches those.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "uXfer Tools"
!define PUBLISHER "uXfer Tools project"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\uXfer Tools"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "x64.nsh"
; Where settings go, said once the files are in place.
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed in $INSTDIR.$\r$\n$\r$\n\
DumpSet.ini in that folder holds Vantor's settings for every user; only administrators may change it. \
When a file you pick in Vantor can't be saved there, Vantor saves your settings in a file of your own, \
%APPDATA%\${PRODUCT}\DumpSet.ini (made from a copy of the shared one), and reads that file from then on. \
Upgrading or removing ${PRODUCT} keeps your own settings file."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

; regsvr32 of one bitness on a DLL, silent, with its exit code checked.
; RegDLL loads the DLL into the installer, which is 32-bit: a 64-bit DLL needs
; the 64-bit regsvr32, which System32 is while file-system redirection is off.
; OPTIONS: "" to register, "/u" to remove; BITS: 32 or 64.
!macro Regsvr32 OPTIONS DLL BITS
    !if ${BITS} == 64
        ${DisableX64FSRedirection}
    !endif
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" /s ${OPTIONS} "${DLL}"' $0
    !if ${BITS} == 64
        ${EnableX64FSRedirection}
    !endif
    ${If} ${Errors}
    ${OrIf} $0 != 0
        DetailPrint "regsvr32 ${OPTIONS} ${DLL} failed (exit code $0)"
        SetErrorLevel 3
    ${EndIf}
!macroend

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

; Last step: the COM servers register themselves once everything is in place,
; the automation object for each bitness the system runs.
Section "-Register the COM servers" SecRegister
    ClearErrors
    RegDLL "$INSTDIR\Talvix.dll"
    IfErrors 0 +3
        DetailPrint "Registering $INSTDIR\Talvix.dll failed"
        SetErrorLevel 3
    !insertmacro Regsvr32 "" "$INSTDIR\uXferAuto.dll" 32
    ${If} ${RunningX64}
        !insertmacro Regsvr32 "" "$INSTDIR\x64\uXferAuto.dll" 64
    ${EndIf}
SectionEnd

Section "un.${PRODUCT}" SecUnProgram
    SectionIn RO
    UnRegDLL "$INSTDIR\Talvix.dll"
    !insertmacro Regsvr32 "/u" "$INSTDIR\uXferAuto.dll" 32
    ${If} ${RunningX64}
        !insertmacro Regsvr32 "/u" "$INSTDIR\x64\uXferAuto.dll" 64
    ${EndIf}

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

; Pushes 1 when DumpSet.ini holds exactly what the installer put there,
; compared byte by byte with the shipped file the uninstaller carries: any
; byte counts, NUL included, and so does any length.
Function un.SettingsUnchanged
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    StrCpy $1 "0"
    InitPluginsDir
    File "/oname=$PLUGINSDIR\DumpSet.shipped" "${STAGE}/DumpSet.ini"
    ClearErrors
    FileOpen $2 "$INSTDIR\DumpSet.ini" r
    IfErrors compare_done
    FileOpen $3 "$PLUGINSDIR\DumpSet.shipped" r
    IfErrors compare_close
compare_next:
    ; At the end of a file the byte read is empty and the error flag set: the
    ; files are the same when both end together.
    ClearErrors
    FileReadByte $2 $4
    FileReadByte $3 $5
    StrCmp $4 $5 0 compare_close_both
    IfErrors 0 compare_next
    StrCpy $1 "1"
compare_close_both:
    FileClose $3
compare_close:
    FileClose $2
compare_done:
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Exch $1
FunctionEnd
