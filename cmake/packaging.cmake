# The Windows packages: `cpack -G ZIP` (the two programs, the README and the terms) and `cpack -G NSIS` (an
# installer into Program Files with a Start-menu shortcut to the dialog, and an uninstaller).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
# The terms under which Halvic is given out.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION . RENAME COPYRIGHT.txt)

set(CPACK_PACKAGE_NAME Halvic)
set(CPACK_PACKAGE_VENDOR Halvic)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME halvic-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Halvic)
set(CPACK_GENERATOR ZIP NSIS)
# One package with both programs, whatever components the installation is made of.
set(CPACK_MONOLITHIC_INSTALL ON)
# The NSIS commands below are passed on as written.
set(CPACK_VERBATIM_VARIABLES ON)

# A 64-bit installer for 64-bit programs (NSIS's default is a 32-bit one).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Halvic)
set(CPACK_NSIS_DISPLAY_NAME Halvic)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/halvic.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/icons/halvic.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\halvic-gui.exe)
# The installer's page of options (cmake's template for it, with one option): adding the folder of
# halvic.exe to the PATH, on by default.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_NSIS_MODIFY_PATH ON)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Halvic ${PROJECT_VERSION}")
set(halvic_uninstall_key
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")
set(halvic_gui_command [=[$\"$INSTDIR\bin\halvic-gui.exe$\" $\"%1$\"]=])

# The dialog writes into the folder it starts in: from the Start menu, the Documents of the user
# who starts it (the installer's $DOCUMENTS is the Public one when it installs for all users).
# The shortcut's working folder is $OUTDIR; Windows expands the variable as the shortcut starts.
set(CPACK_PACKAGE_EXECUTABLES "")
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  StrCpy $OUTDIR "%USERPROFILE%\Documents"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Halvic.lnk" "$INSTDIR\bin\halvic-gui.exe"
  SetOutPath "$INSTDIR"
]=])

# Runs after the template has read its page, before it adds to the PATH. The page's one option
# adds to the machine's PATH for an installation for all users, to the user's otherwise; the
# uninstaller reads the choice back from the registry.
# Explorer: "Convert with Halvic" on the context menu of every .txt file, whichever program opens
# them, and Halvic under "Open with" for them.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  !insertmacro MUI_INSTALLOPTIONS_READ $0 \"NSIS.InstallOptions.ini\" \"Field 2\" \"State\"
  StrCpy $DO_NOT_ADD_TO_PATH 1
  StrCpy $ADD_TO_PATH_ALL_USERS 0
  StrCpy $ADD_TO_PATH_CURRENT_USER 0
  StrCmp $0 1 0 halvic_path_chosen
    StrCpy $DO_NOT_ADD_TO_PATH 0
    StrCmp $SV_ALLUSERS AllUsers 0 +3
      StrCpy $ADD_TO_PATH_ALL_USERS 1
      Goto halvic_path_chosen
    StrCpy $ADD_TO_PATH_CURRENT_USER 1
  halvic_path_chosen:
  WriteRegStr SHCTX \"${halvic_uninstall_key}\" DoNotAddToPath $DO_NOT_ADD_TO_PATH
  WriteRegStr SHCTX \"${halvic_uninstall_key}\" AddToPathAllUsers $ADD_TO_PATH_ALL_USERS
  WriteRegStr SHCTX \"${halvic_uninstall_key}\" AddToPathCurrentUser $ADD_TO_PATH_CURRENT_USER

  WriteRegStr SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\\shell\\Halvic.Convert\" \"\" \"Convert with Halvic\"
  WriteRegStr SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\\shell\\Halvic.Convert\" Icon \"$INSTDIR\\bin\\halvic-gui.exe\"
  WriteRegStr SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\\shell\\Halvic.Convert\\command\" \"\" \"${halvic_gui_command}\"
  WriteRegStr SHCTX \"Software\\Classes\\Halvic.TextFile\" \"\" \"Tagged text\"
  WriteRegStr SHCTX \"Software\\Classes\\Halvic.TextFile\\DefaultIcon\" \"\" \"$INSTDIR\\bin\\halvic-gui.exe,0\"
  WriteRegStr SHCTX \"Software\\Classes\\Halvic.TextFile\\shell\\open\" FriendlyAppName Halvic
  WriteRegStr SHCTX \"Software\\Classes\\Halvic.TextFile\\shell\\open\\command\" \"\" \"${halvic_gui_command}\"
  WriteRegStr SHCTX \"Software\\Classes\\.txt\\OpenWithProgids\" Halvic.TextFile \"\"
  WriteRegStr SHCTX \"Software\\Classes\\Applications\\halvic-gui.exe\" FriendlyAppName Halvic
  WriteRegStr SHCTX \"Software\\Classes\\Applications\\halvic-gui.exe\\SupportedTypes\" .txt \"\"
  WriteRegStr SHCTX \"Software\\Classes\\Applications\\halvic-gui.exe\\shell\\open\\command\" \"\" \"${halvic_gui_command}\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
")

# A running halvic-gui.exe or halvic.exe cannot be removed: the uninstaller asks for it to be
# closed, or, uninstalling silently, removes it when Windows restarts and says so in
# %TEMP%\Halvic-uninstall.log.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  StrCpy $1 halvic-gui.exe
  halvic_remove_program:
    ClearErrors
    Delete \"$INSTDIR\\bin\\$1\"
    IfErrors 0 halvic_program_removed
    IfSilent halvic_remove_at_restart
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \"Halvic is still open ($1). Close it, then press Retry; Cancel leaves Halvic installed.\" IDRETRY halvic_remove_program
    Abort \"Halvic is still open ($1): nothing was removed.\"
  halvic_remove_at_restart:
    Delete /REBOOTOK \"$INSTDIR\\bin\\$1\"
    DetailPrint \"$INSTDIR\\bin\\$1 is in use: it will be removed when Windows restarts.\"
    FileOpen $2 \"$TEMP\\Halvic-uninstall.log\" a
    FileSeek $2 0 END
    FileWrite $2 \"$INSTDIR\\bin\\$1 was running: it will be removed when Windows restarts.$\\r$\\n\"
    FileClose $2
  halvic_program_removed:
  StrCmp $1 halvic.exe +3
    StrCpy $1 halvic.exe
    Goto halvic_remove_program

  DeleteRegKey SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\\shell\\Halvic.Convert\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\\shell\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\SystemFileAssociations\\.txt\"
  DeleteRegKey SHCTX \"Software\\Classes\\Halvic.TextFile\"
  DeleteRegValue SHCTX \"Software\\Classes\\.txt\\OpenWithProgids\" Halvic.TextFile
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\.txt\\OpenWithProgids\"
  DeleteRegKey SHCTX \"Software\\Classes\\Applications\\halvic-gui.exe\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
")
# After the files are gone: folders that still hold a program in use go at the restart.
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  Delete "$SMPROGRAMS\$MUI_TEMP\Halvic.lnk"
  IfRebootFlag 0 +3
    RMDir /REBOOTOK "$INSTDIR\bin"
    RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey /ifempty SHCTX "Software\Halvic"
]=])
include(CPack)
