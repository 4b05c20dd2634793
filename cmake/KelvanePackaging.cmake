# SPDX-License-Identifier: GPL-3.0-or-later
# The installed layout (GNU directories) and the Debian package made from it
# by CPack (`cpack -G DEB` in the build folder). The program finds its data in
# ../share/kelvane from its executable when nothing is beside it.
include(GNUInstallDirs)

set(KELVANE_APP_ID org.kelvane.Kelvane)
set(KELVANE_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kelvane)

install(TARGETS kelvane kelvane-list RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(GLOB shipped_languages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/languages/*.lng)
install(FILES ${shipped_languages} DESTINATION ${KELVANE_DATA_DIR}/languages)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/sample/ DESTINATION ${KELVANE_DATA_DIR}/sample)

install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${KELVANE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The metainfo, the changelog and the manual pages take the version from
# the project.
configure_file(${CMAKE_SOURCE_DIR}/data/desktop/${KELVANE_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/${KELVANE_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${KELVANE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/hicolor/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${KELVANE_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages and the changelog go in compressed, as Debian has them.
set(compressed_docs)
foreach(page kelvane.1 kelvane-list.1)
    configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.in ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                       COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
                       DEPENDS ${CMAKE_BINARY_DIR}/man/${page} VERBATIM)
    list(APPEND compressed_docs ${CMAKE_BINARY_DIR}/man/${page}.gz)
    install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
                   COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog VERBATIM)
list(APPEND compressed_docs ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(kelvane_docs ALL DEPENDS ${compressed_docs})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Kelvane developers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/COPYING)
set(CPACK_PACKAGE_CONTACT "The Kelvane developers <developers@kelvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "uninstall manager for Windows programs in Wine prefixes")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvane lists the applications that Windows installers registered in a\n"
    "Wine prefix or an offline Windows registry, with their Windows Installer\n"
    "patches and the Windows hotfixes, and lets you uninstall, modify, rename\n"
    "or remove them, with a backup of every registry key it changes.\n"
    "kelvane-list prints the same inventory for scripts and reports.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kelvane.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS wine)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
