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
# The dialog writes into the folder it starts in: from the Start menu, the user's Documents.
# NSIS takes a shortcut's working folder from SetOutPath.
set(CPACK_PACKAGE_EXECUTABLES "")
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  SetOutPath "$DOCUMENTS"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Halvic.lnk" "$INSTDIR\bin\halvic-gui.exe"
  SetOutPath "$INSTDIR"
]=])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  Delete "$SMPROGRAMS\$MUI_TEMP\Halvic.lnk"
]=])
include(CPack)
