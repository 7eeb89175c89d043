; The Stormtally installer: per user, no administrator rights, into
; %LOCALAPPDATA%\Programs\Stormtally, with a Start-menu shortcut, an optional start at sign-in
; and an uninstaller that Windows' "Installed apps" lists.
;
; makensis -DVERSION=1.2.3 -DSTAGE=folder -DOUTFILE=setup.exe [-DSIGN=command]
;   stormtally.nsi
;   STAGE holds stormtally.exe, radars.gis, README.txt and licenses/ (see build.sh); SIGN, when
;   given, is run on the finished installer and uninstaller with the file's path appended.
; Command line of the installer: /S silent; /AUTOSTART ticks "Start Stormtally when I sign in"
; (silent or not); /D=folder another install folder (last, unquoted, as always with NSIS).

Unicode true
SetCompressor /SOLID lzma
; No file times in the installer, so the same inputs give the same bytes at any time.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include WinMessages.nsh

!define APP Stormtally
!define EXE stormtally.exe
!define WINDOW_CLASS StormtallyWidget
!define UNINSTALL_KEY Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}
!define RUN_KEY Software\Microsoft\Windows\CurrentVersion\Run

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" InstallLocation
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${APP}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${APP} ${VERSION} setup"
VIAddVersionKey CompanyName "${APP}"
VIAddVersionKey LegalCopyright "${APP} developers"

!ifdef SIGN
  !finalize '${SIGN} "%1"'
  !uninstfinalize '${SIGN} "%1"'
!endif

!define MUI_ICON "${__FILEDIR__}/../res/stormtally.ico"
!define MUI_UNICON "${__FILEDIR__}/../res/stormtally.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; Asks a running widget to close, as its own close mark does (WM_CLOSE to its window), and
; waits up to ten seconds for it to go. A widget that stays is left alone: the user is told,
; and a silent run ends with an error rather than half-replaced files.
; The licence texts of what the exe links in; named one by one, so that their order in the
; installer does not follow the order of a folder listing.
!macro LICENSES command folder
  ${command} "${folder}mingw-w64-runtime.txt"
  ${command} "${folder}gcc-runtime.txt"
  ${command} "${folder}GPL-3.txt"
!macroend

!macro CLOSE_RUNNING_WIDGET
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    ${If} $1 == 0
      DetailPrint "Asking the running ${APP} to close"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${EndIf}
    ${If} $1 >= 100
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${APP} is still running. Close it, then choose Retry." /SD IDCANCEL IDRETRY +2
      Abort "${APP} is still running."
      StrCpy $1 -1
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
!macroend

Section "${APP}" SecApp
  SectionIn RO
  !insertmacro CLOSE_RUNNING_WIDGET
  SetOutPath "$INSTDIR"
  File "${STAGE}/${EXE}"
  ; The site table may hold sites the user added: keep the one an upgrade replaces.
  ${If} ${FileExists} "$INSTDIR\radars.gis"
    Delete "$INSTDIR\radars.gis.old"
    Rename "$INSTDIR\radars.gis" "$INSTDIR\radars.gis.old"
  ${EndIf}
  File "${STAGE}/radars.gis"
  File "${STAGE}/README.txt"
  SetOutPath "$INSTDIR\licenses"
  !insertmacro LICENSES File "${STAGE}/licenses/"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayName "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" Publisher "${APP} developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

; Off on a first install; an upgrade keeps what the user chose before (see .onInit).
Section /o "Start ${APP} when I sign in" SecAutostart
SectionEnd

Section "-sign-in value"
  ${If} ${SectionIsSelected} ${SecAutostart}
    WriteRegStr HKCU "${RUN_KEY}" "${APP}" '"$INSTDIR\${EXE}"'
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "${APP}"
  ${EndIf}
SectionEnd

Function .onInit
  ReadRegStr $0 HKCU "${RUN_KEY}" "${APP}"
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/AUTOSTART" $2
  ${IfNot} ${Errors}
  ${OrIf} $0 != ""
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Section Uninstall
  !insertmacro CLOSE_RUNNING_WIDGET
  DeleteRegValue HKCU "${RUN_KEY}" "${APP}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\radars.gis"
  Delete "$INSTDIR\radars.gis.old"
  Delete "$INSTDIR\README.txt"
  !insertmacro LICENSES Delete "$INSTDIR\licenses\"
  RMDir "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
