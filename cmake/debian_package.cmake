# The Debian packages, made by `cpack -G DEB` in a configured build directory:
# - halvic_VERSION_amd64.deb: the command line, its manual page, README and bash, zsh and fish
#   completions;
# - halvic-gui_VERSION_amd64.deb: the desktop dialog, its manual page, menu entry and icons.
# The dialog brings wxWidgets and GTK with it; apart, the command line installs on a server
# without them. Dependencies are computed from the binaries (dpkg-shlibdeps).

# Debian's documentation files, in each package.
set(HALVIC_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${HALVIC_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < '${PROJECT_SOURCE_DIR}/packaging/debian/changelog' > '${HALVIC_CHANGELOG}'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
  VERBATIM)
add_custom_target(halvic_changelog ALL DEPENDS ${HALVIC_CHANGELOG})
set(HALVIC_PACKAGES cli halvic)
if(HALVIC_BUILD_GUI)
  list(APPEND HALVIC_PACKAGES gui halvic-gui)
endif()
set(HALVIC_COMPONENTS)
while(HALVIC_PACKAGES)
  list(POP_FRONT HALVIC_PACKAGES component package)
  list(APPEND HALVIC_COMPONENTS ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${HALVIC_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  if(component STREQUAL cli)
    # What is stored for what is written, and every warning, where a user of the package looks.
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
            COMPONENT cli)
  endif()
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Halvic developers <halvic@users.noreply.invalid>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${HALVIC_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION x11)
set(CPACK_STRIP_FILES ON)
# The first line is the synopsis; CPack indents the rest, and an empty line becomes " .". With no
# summary of the whole project, CPack puts none before each package's own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
string(JOIN "\n" CPACK_DEBIAN_CLI_DESCRIPTION
       "convert tagged text into compact record and table files"
       "Halvic converts one tagged text file into the record file qxase.qxd and six"
       "table files holding the distinct texts of six lettered fields. Grid references"
       "are decoded into eastings and northings, weights in hundredweights, quarters"
       "and pounds into pounds. The seven files are replaced as one set."
       ""
       "This package holds the command line, halvic.")
string(JOIN "\n" CPACK_DEBIAN_GUI_DESCRIPTION
       "convert tagged text into compact record and table files (dialog)"
       "Halvic converts one tagged text file into the record file qxase.qxd and six"
       "table files holding the distinct texts of six lettered fields."
       ""
       "This package holds halvic-gui, a small desktop dialog that asks for one file"
       "name and converts that file into the folder it was started in.")
include(CPack)

if(BUILD_TESTING AND NOT HALVIC_SANITIZE)
  add_test(NAME packaging.deb
           COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR})
  set_tests_properties(packaging.deb PROPERTIES TIMEOUT 300 LABELS packaging)
endif()
