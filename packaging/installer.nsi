; The uXfer Tools installer, a 64-bit program: it starts on every 64-bit
; Windows, also one that runs no 32-bit code.  scripts/package.sh stages the
; files and calls makensis with:
;   VERSION        release version (1.1.0)
;   STAGE          the staged tree, as the programs folder will hold it
;   FILES_NSH      File lines of what every installation holds: x64\, docs, SDK
;                  (the DumpSet.ini files left out)
;   FILES32_NSH    File lines of the 32-bit programs in the folder's root
;   REMOVE_NSH     Delete and RMDir lines undoing FILES_NSH
;   REMOVE32_NSH   Delete lines undoing FILES32_NSH
;   SIZE_KB        installed size without the 32-bit programs, for Add/Remove Programs
;   SIZE32_KB      size of the 32-bit programs
;   OUTFILE        the setup program to write
; The 32-bit programs, their DumpSet.ini and their registration are installed
; only where a 32-bit program starts from SysWOW64.
; Nothing is granted beyond the programs folder's defaults: a user who may
; not write DumpSet.ini there keeps settings of their own, which Vantor puts
; in %APPDATA%\uXfer Tools\DumpSet.ini.  No installer step touches those.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "uXfer Tools"
!define PUBLISHER "uXfer Tools project"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\uXfer Tools"
!define PROGRAMS32 "Vantor.exe, uxfer.exe, Talvix.dll, uXfer.dll, uXferAuto.dll, uXferSim.dll, uXferAutoSim.dll, DumpSet.ini"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "LogicLib.nsh"
; Where settings go, said once the files are in place.
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed in $INSTDIR.$\r$\n$\r$\n\
Each Vantor reads the DumpSet.ini beside it (the 64-bit one in the x64 folder); it holds Vantor's settings \
for every user, and only administrators may change it. \
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

; "1" when the 32-bit programs are (to be) installed; else $Why32 says why not.
Var Parts32
Var Why32
; The Vantor the start menu and the uninstall entry show.
Var Vantor

; regsvr32 of a DLL's bitness on it, silent, with its exit code checked.  The
; installer is 64-bit: it can't load a 32-bit DLL, whose regsvr32 is the one
; in SysWOW64; System32 holds the 64-bit one.
; OPTIONS: "" to register, "/u" to remove; BITS: 32 or 64.
!macro Regsvr32 OPTIONS DLL BITS
    !if ${BITS} == 32
        StrCpy $1 "$WINDIR\SysWOW64\regsvr32.exe"
    !else
        StrCpy $1 "$SYSDIR\regsvr32.exe"
    !endif
    ClearErrors
    ExecWait '"$1" /s ${OPTIONS} "${DLL}"' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        DetailPrint "$1 ${OPTIONS} ${DLL} failed (exit code $0)"
        SetErrorLevel 3
    ${EndIf}
!macroend

; Sets $Parts32: a SysWOW64 folder alone says little (a Windows may have one
; whose 32-bit programs can't run), so a 32-bit program there has to start
; and return the exit code it is given.
Function Find32BitSystem
    StrCpy $Parts32 0
    ${IfNot} ${FileExists} "$WINDIR\SysWOW64\*.*"
        StrCpy $Why32 "there is no $WINDIR\SysWOW64 folder: this Windows runs no 32-bit programs"
        Return
    ${EndIf}
    nsExec::Exec '"$WINDIR\SysWOW64\cmd.exe" /c exit 32'
    Pop $0
    ${If} $0 == 32
        StrCpy $Parts32 1
    ${Else}
        StrCpy $Why32 "a 32-bit program does not start in $WINDIR\SysWOW64 (its cmd.exe gave: $0)"
    ${EndIf}
FunctionEnd

Function .onInit
    SetShellVarContext all
    ; An installation by the earlier 32-bit installer: its entry lies in the
    ; 32-bit registry view.  Installing over it keeps its settings; a folder
    ; given with /D= wins.
    ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
        SetRegView 32
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        SetRegView 64
        ${If} $0 != ""
            StrCpy $INSTDIR $0
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "${PRODUCT}" SecProgram
    SectionIn RO
    Call Find32BitSystem
    SetOutPath "$INSTDIR"
    !include "${FILES_NSH}"
    StrCpy $Vantor "$INSTDIR\x64\Vantor.exe"
    ${If} $Parts32 == 1
        !include "${FILES32_NSH}"
        StrCpy $Vantor "$INSTDIR\Vantor.exe"
    ${Else}
        DetailPrint "Skipped the 32-bit programs (${PROGRAMS32}) and their registration: $Why32"
    ${EndIf}

    ; Each settings file belongs to the user once installed: an upgrade keeps it.
    SetOverwrite off
    SetOutPath "$INSTDIR\x64"
    File "${STAGE}/x64/DumpSet.ini"
    ${If} $Parts32 == 1
        SetOutPath "$INSTDIR"
        File "${STAGE}/DumpSet.ini"
    ${EndIf}
    SetOverwrite on
    SetOutPath "$INSTDIR"

    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\Vantor.lnk" "$Vantor"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\User Guide.lnk" "$INSTDIR\docs\user-guide.html"

    ; The earlier 32-bit installer's entry goes: one entry stays, this one.
    SetRegView 32
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    SetRegView 64
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$Vantor"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    IntOp $0 ${SIZE_KB} + 0
    ${If} $Parts32 == 1
        IntOp $0 $0 + ${SIZE32_KB}
    ${EndIf}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Last step: the COM servers register themselves once everything is in place,
; each through the regsvr32 of its bitness.  The two automation servers share
; the type library; the one registered last (uXferAuto.dll) is where it is found.
Section "-Register the COM servers" SecRegister
    ${If} $Parts32 == 1
        !insertmacro Regsvr32 "" "$INSTDIR\Talvix.dll" 32
        !insertmacro Regsvr32 "" "$INSTDIR\uXferAutoSim.dll" 32
        !insertmacro Regsvr32 "" "$INSTDIR\uXferAuto.dll" 32
    ${EndIf}
    !insertmacro Regsvr32 "" "$INSTDIR\x64\uXferAutoSim.dll" 64
    !insertmacro Regsvr32 "" "$INSTDIR\x64\uXferAuto.dll" 64
SectionEnd

; Removes a settings file that holds exactly what the installer put there.
!macro DeleteIfShipped INSTALLED SHIPPED
    Push "${INSTALLED}"
    Push "${SHIPPED}"
    Call un.SameBytes
    Pop $0
    ${If} $0 == 1
        Delete "${INSTALLED}"
    ${EndIf}
!macroend

Section "un.${PRODUCT}" SecUnProgram
    SectionIn RO
    ; The 32-bit programs are there when this installation got them.
    StrCpy $Parts32 0
    ${If} ${FileExists} "$INSTDIR\Talvix.dll"
        StrCpy $Parts32 1
        !insertmacro Regsvr32 "/u" "$INSTDIR\Talvix.dll" 32
        !insertmacro Regsvr32 "/u" "$INSTDIR\uXferAuto.dll" 32
        !insertmacro Regsvr32 "/u" "$INSTDIR\uXferAutoSim.dll" 32
    ${EndIf}
    !insertmacro Regsvr32 "/u" "$INSTDIR\x64\uXferAuto.dll" 64
    !insertmacro Regsvr32 "/u" "$INSTDIR\x64\uXferAutoSim.dll" 64

    Delete "$SMPROGRAMS\${PRODUCT}\Vantor.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\User Guide.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    ; A settings file as shipped goes; one the user changed stays unless the
    ; component below is chosen.  Before the folders go, which must be empty.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\DumpSet.shipped" "${STAGE}/DumpSet.ini"
    File "/oname=$PLUGINSDIR\DumpSet64.shipped" "${STAGE}/x64/DumpSet.ini"
    !insertmacro DeleteIfShipped "$INSTDIR\DumpSet.ini" "$PLUGINSDIR\DumpSet.shipped"
    !insertmacro DeleteIfShipped "$INSTDIR\x64\DumpSet.ini" "$PLUGINSDIR\DumpSet64.shipped"

    ; Only what was installed goes; dumps and other files of the user stay,
    ; and so do the folders holding them.
    ${If} $Parts32 == 1
        !include "${REMOVE32_NSH}"
    ${EndIf}
    !include "${REMOVE_NSH}"

    Delete "$INSTDIR\uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    RMDir "$INSTDIR"
SectionEnd

Section /o "un.My Vantor settings (DumpSet.ini)" SecUnSettings
    Delete "$INSTDIR\DumpSet.ini"
    Delete "$INSTDIR\x64\DumpSet.ini"
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR"
SectionEnd

; SameBytes <installed> <shipped>: pushes 1 when the installed file holds
; exactly the shipped one, compared byte by byte: any byte counts, NUL
; included, and so does any length.  0 also when either can't be read.
Function un.SameBytes
    Exch $3
    Exch
    Exch $2
    Push $1
    Push $4
    Push $5
    StrCpy $1 "0"
    ClearErrors
    FileOpen $2 $2 r
    IfErrors compare_done
    FileOpen $3 $3 r
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
    Exch $1
    Exch 2
    Pop $3
    Pop $2
FunctionEnd
