# `cmake --install` lays out the application folder; CPack wraps it in two .deb files:
# `dayvault`, one person's diary in a file of his own, and `dayvault-server`, which keeps the
# diaries of every account on the computer in a local PostgreSQL server.
set(DAYVAULT_PREFIX_DIR "opt/dayvault") # the application folder under the install prefix
set(appdir ${DAYVAULT_PREFIX_DIR})

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME dayvault)
install(TARGETS dayvault dayvault-admin RUNTIME DESTINATION ${appdir} COMPONENT dayvault)
install(FILES ${CMAKE_SOURCE_DIR}/docs/manual.html DESTINATION ${appdir} COMPONENT dayvault)
install(DIRECTORY ${DAYVAULT_APP_DIR}/ DESTINATION ${appdir} COMPONENT dayvault
        FILES_MATCHING PATTERN "*.jss" PATTERN "data" EXCLUDE)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/dayvault.desktop DESTINATION usr/share/applications
        COMPONENT dayvault)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/dayvault.svg
        DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT dayvault)
# The `dayvault` command makes one person's diary on his first start, then runs the program.
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/dayvault-launcher DESTINATION usr/bin
        RENAME dayvault COMPONENT dayvault)
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin\")
  file(CREATE_LINK \"../../${appdir}/dayvault-admin\"
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/dayvault-admin\" SYMBOLIC)
" COMPONENT dayvault)

# The server's setup, for the computer that keeps the diaries in PostgreSQL.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/server-setup DESTINATION ${appdir} COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/scripts/pg/roles.sql DESTINATION ${appdir}/pg COMPONENT server)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/pg/scram-verifier DESTINATION ${appdir}/pg
        COMPONENT server)

# Each package's control files in a folder of their own, as CPack takes them.
foreach(pkg dayvault server)
  set(out ${CMAKE_BINARY_DIR}/packaging/deb-${pkg}/postinst)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst-${pkg}.in ${out} @ONLY)
  file(CHMOD ${out} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL dayvault server)
set(CPACK_PACKAGE_NAME dayvault)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The second revision: two packages and no shared file, over the first's single package.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_CONTACT "DayVault developers <dayvault@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DAYVAULT_PACKAGE_NAME dayvault)
set(CPACK_COMPONENT_DAYVAULT_DESCRIPTION "多用户桌面日记本 / multi-user desktop diary")
set(CPACK_DEBIAN_DAYVAULT_PACKAGE_SHLIBDEPS ON)
# Translations and fonts are loaded at run time, out of shlibdeps' sight.
set(CPACK_DEBIAN_DAYVAULT_PACKAGE_DEPENDS
    "qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk")
# pg_dump, for the backup of a diary kept on a server.
# The manual button opens the manual through xdg-open; without it the program says where it is.
set(CPACK_DEBIAN_DAYVAULT_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_DAYVAULT_PACKAGE_SUGGESTS "postgresql-client-15, dayvault-server")
set(CPACK_DEBIAN_DAYVAULT_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/deb-dayvault/postinst)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME dayvault-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "DayVault 日记服务器：本机所有账户的日记都保存在本机的 PostgreSQL 中")
set(CPACK_DEBIAN_SERVER_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "dayvault (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}), postgresql-15, postgresql-client-15, openssl, perl")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/deb-server/postinst)
include(CPack)
