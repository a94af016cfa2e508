; The Windows installer of Kelvra Time-lapse, built by makensis (`make windows`).
; makensis -DPROGRAM=<kelvra.exe> -DOUTFILE=<setup.exe> -DTOP=<source folder> [-DWIN64] kelvra.nsi
;
; The program opens its help at the fixed path \progra~1\Kelvra\kel.hlp, so it goes into Kelvra
; under the first "Program Files" folder: the 64-bit one on 64-bit Windows, the only one on
; 32-bit Windows. The help pages are installed as HTML with a Start-menu entry of their own.
; /S installs (and the uninstaller uninstalls) without a window.
Unicode true
!ifdef WIN64
  Target amd64-unicode
!endif
!include "MUI2.nsh"
!include "x64.nsh"

!define NAME "Kelvra Time-lapse"
!define VERSION "1.2"
!define PUBLISHER "Kelvra team"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvra"
!define MENU_FOLDER "$SMPROGRAMS\Kelvra Time-lapse"

Name "${NAME} ${VERSION}"
BrandingText "${NAME} ${VERSION}"  ; the installer's pages name this program, not the tool that made them
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Kelvra"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "(C) ${PUBLISHER}, GNU GPL v3 or later"
VIAddVersionKey "FileDescription" "${NAME} installer"
VIAddVersionKey "FileVersion" "${VERSION}"

!define MUI_ICON "${TOP}/resources/kelvra.ico"
!define MUI_UNICON "${TOP}/resources/kelvra.ico"
!define MUI_ABORTWARNING
!define MUI_LICENSEPAGE_TEXT_TOP "Kelvra Time-lapse is free software under the GNU General Public License, version 3 or later."
!define MUI_LICENSEPAGE_BUTTON "&Next >"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "You may use the program whether or not you accept the licence; it sets the terms for copying and changing it."
!define MUI_FINISHPAGE_RUN "$INSTDIR\kelvra.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\help\kel.html"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the help pages"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${TOP}/LICENSE"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The folder is fixed by the program's help path: the directory page is left out on purpose, and
; the 64-bit "Program Files" is chosen at run time on 64-bit Windows.
Function .onInit
  SetShellVarContext all
  !ifdef WIN64
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\Kelvra"
  !else
    ${If} ${RunningX64}
      SetRegView 64
      StrCpy $INSTDIR "$PROGRAMFILES64\Kelvra"
    ${EndIf}
  !endif
FunctionEnd

Function un.onInit
  SetShellVarContext all
  !ifdef WIN64
    SetRegView 64
  !else
    ${If} ${RunningX64}
      SetRegView 64
    ${EndIf}
  !endif
FunctionEnd

Section "Kelvra Time-lapse" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=kelvra.exe" "${PROGRAM}"
  File "/oname=LICENSE.txt" "${TOP}/LICENSE"
  SetOutPath "$INSTDIR\help"
  File "${TOP}/resources/help/*.html"
  File "${TOP}/resources/help/help.css"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\Kelvra Time-lapse.lnk" "$INSTDIR\kelvra.exe"
  CreateShortcut "${MENU_FOLDER}\Kelvra Help.lnk" "$INSTDIR\help\kel.html"
  CreateShortcut "${MENU_FOLDER}\Uninstall Kelvra Time-lapse.lnk" "$INSTDIR\uninstall.exe"

  ; Apps & features: name, version, publisher, icon, and the silent uninstall command.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvra.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there is removed: a folder the user added files to stays, with them.
Section "Uninstall"
  Delete "$INSTDIR\kelvra.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\help\*.html"
  Delete "$INSTDIR\help\help.css"
  RMDir "$INSTDIR\help"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${MENU_FOLDER}\Kelvra Time-lapse.lnk"
  Delete "${MENU_FOLDER}\Kelvra Help.lnk"
  Delete "${MENU_FOLDER}\Uninstall Kelvra Time-lapse.lnk"
  RMDir "${MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
