# `cmake --install` lays out the application folder; CPack wraps it in a .deb.
set(DAYVAULT_PREFIX_DIR "opt/dayvault") # the application folder under the install prefix
set(DAYVAULT_DATA_DIR "/var/lib/dayvault" CACHE PATH "Where the shared database lives")
set(appdir ${DAYVAULT_PREFIX_DIR})

install(TARGETS dayvault dayvault-admin RUNTIME DESTINATION ${appdir})
install(FILES ${CMAKE_SOURCE_DIR}/docs/manual.html DESTINATION ${appdir})
# The server's setup, for the computer that keeps the diary in PostgreSQL.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/server-setup DESTINATION ${appdir})
install(FILES ${CMAKE_SOURCE_DIR}/scripts/pg/roles.sql DESTINATION ${appdir}/pg)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/pg/scram-verifier DESTINATION ${appdir}/pg)
install(DIRECTORY ${DAYVAULT_APP_DIR}/ DESTINATION ${appdir} FILES_MATCHING PATTERN "*.jss"
        PATTERN "data" EXCLUDE)
# The one shared database stays outside the program's files, so upgrades never touch it.
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${appdir}\")
  file(CREATE_LINK \"${DAYVAULT_DATA_DIR}\"
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${appdir}/data\" SYMBOLIC)
")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/dayvault.desktop DESTINATION usr/share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/dayvault.svg
        DESTINATION usr/share/icons/hicolor/scalable/apps)
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin\")
  file(CREATE_LINK \"../../${appdir}/dayvault-admin\"
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/dayvault-admin\" SYMBOLIC)
  file(CREATE_LINK \"../../${appdir}/dayvault\"
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/dayvault\" SYMBOLIC)
")

configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CMAKE_BINARY_DIR}/packaging/postinst @ONLY)
file(CHMOD ${CMAKE_BINARY_DIR}/packaging/postinst PERMISSIONS OWNER_READ OWNER_WRITE
     OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dayvault)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_CONTACT "DayVault developers <dayvault@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "多用户桌面日记本 / multi-user desktop diary")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Translations and fonts are loaded at run time, out of shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk")
# pg_dump, for the backup of a diary kept on a server.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql-client-15")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
