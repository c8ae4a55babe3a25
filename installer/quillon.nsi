; The Quillon installer and uninstaller. scripts/package.sh builds it with makensis from the laid-out
; program folder, handing it:
;   VERSION   the program version (the file VERSION)
;   STAGE     the laid-out program folder
;   PROGRAM_FILES, USER_FILES, REMOVE_PROGRAM_FILES, REMOVE_USER_FILES, REMOVE_FOLDERS
;             lists written by package.sh: File and Delete lines for the files of STAGE
;   OUTFILE   the installer to write
; Silent with /S (installer and uninstaller); /CurrentUser or /AllUsers choose the kind of install
; without the page that asks; /D=<folder> the program folder.

Unicode true
SetCompressor /SOLID lzma

!define PRODUCT "Quillon"
!define PUBLISHER "Pelmora Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon"
!define WEB_SITE "http://www.pelmora.example/"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PUBLISHER}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) ${PUBLISHER}"

; Per-user by default: the program writes its settings and stored lyrics into its own folder, which
; a user can always write below the profile. An administrator may choose all users instead.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_FUNCTION PreviousFolder
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Quillon.exe"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; An update goes where the program is already installed (for the kind of install chosen).
Function PreviousFolder
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Section "Quillon" SecProgram
  SectionIn RO
  !include "${PROGRAM_FILES}"
  ; The user's own lyrics base, the stored lyrics and the settings are the user's once installed:
  ; an update never overwrites them.
  SetOverwrite off
  !include "${USER_FILES}"
  SetOverwrite on

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} $MultiUser.InstallMode == "AllUsers"
    ; The program writes its settings and the lyrics it stores into its own folder: below Program
    ; Files its users (the group "Users") must be allowed to change it.
    nsExec::Exec 'icacls "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M /Q'
    Pop $0
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Quillon.exe" "" "$INSTDIR\Quillon.exe" 0

  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $1 "/AllUsers"
  ${Else}
    StrCpy $1 "/CurrentUser"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillon.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "${WEB_SITE}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $1'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" $1 /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $2 $3
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Uninstall"
  !include "${REMOVE_PROGRAM_FILES}"
  ; The program's scratch file for the text editor.
  Delete "$INSTDIR\temp.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
    "Also remove your own lyrics, the lyrics Quillon has stored and its settings?" \
    /SD IDNO IDYES remove_user_files IDNO keep_user_files
  remove_user_files:
    !include "${REMOVE_USER_FILES}"
    Delete "$INSTDIR\lyrics.ini"
    DeleteRegKey HKCU "Software\Pelmora\Quillon"
    DeleteRegKey /ifempty HKCU "Software\Pelmora"
  keep_user_files:

  ; Only emptied folders go: whatever else the user put there stays.
  !include "${REMOVE_FOLDERS}"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
