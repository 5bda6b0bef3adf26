; The per-user Windows installer. Built by scripts/package.sh, which passes
;   VERSION     the program's version (from CMake)
;   PROGRAMS    an include file that lists the executables (ProgramFiles macro)
;   STAGE       the folder that holds them and the server library's licence
;   ICON        the application icon
;   OUTFILE     the installer to write
; A 64-bit installer for a 64-bit program.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A file that cannot be replaced fails the install, silent or not, rather
; than leaving the old one in place.
AllowSkipFiles off

!include "LogicLib.nsh"
!include "MUI2.nsh"
!include "WinMessages.nsh"
!include "${PROGRAMS}"

!define PRODUCT "Corvel VST/Remote"
!define PROGRAM "corvel-vst-remote.exe"
!define SHORTCUT "$SMPROGRAMS\Corvel VST Remote.lnk"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvelVSTRemote"
; The hidden main window; closing it ends the program as the tray's Exit does.
!define MAIN_WINDOW_CLASS "VST2HOST"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Corvel VST Remote"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Corvel"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 Corvel"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Sets $3 to "busy" when the installed file NAME is still held by a process:
; a file that opens for writing can be replaced.
!macro CheckReplaceable name
    ${If} ${FileExists} "$INSTDIR\${name}"
        ClearErrors
        FileOpen $2 "$INSTDIR\${name}" a
        ${If} ${Errors}
            StrCpy $3 busy
        ${Else}
            FileClose $2
        ${EndIf}
    ${EndIf}
!macroend

; Ends a running program by closing its main window, then waits until its
; files can be replaced; a program that does not end stops the (un)installer.
!macro CloseProgram prefix
Function ${prefix}CloseProgram
    StrCpy $1 0
    ${Do}
        FindWindow $0 "${MAIN_WINDOW_CLASS}"
        ${If} $0 <> 0
            SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
        ${Else}
            StrCpy $3 free
            !insertmacro ProgramFiles CheckReplaceable
            ${If} $3 == free
                Return
            ${EndIf}
        ${EndIf}
        ${If} $1 >= 150
            MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is still running and could not be ended. Exit it from its tray icon, then try again." /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
        IntOp $1 $1 + 1
        Sleep 100
    ${Loop}
FunctionEnd
!macroend
!insertmacro CloseProgram ""
!insertmacro CloseProgram "un."

!macro InstallProgram name
    File "${STAGE}\${name}"
!macroend

!macro RemoveProgram name
    Delete "$INSTDIR\${name}"
!macroend

Section "Install"
    SetShellVarContext current
    Call CloseProgram
    SetOutPath "$INSTDIR"
    !insertmacro ProgramFiles InstallProgram
    File "${STAGE}\civetweb-license.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}"
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${PROGRAM}",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The user's allow-list (in the roaming application data) is theirs: it stays.
Section "Uninstall"
    SetShellVarContext current
    Call un.CloseProgram
    !insertmacro ProgramFiles RemoveProgram
    Delete "$INSTDIR\civetweb-license.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The per-user programs folder goes too if nothing else is in it.
    RMDir "$LOCALAPPDATA\Programs"
    Delete "${SHORTCUT}"
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
