# Installed layout (a Debian program):
#   /usr/lib/chengheng/chengheng, chengheng-db   the programs
#   /usr/lib/chengheng/xs.mdb -> /var/lib/chengheng/xs.mdb  made by postinst
#   /usr/bin/chengheng, chengheng-db             links to the programs
#   /var/lib/chengheng/                          made by postinst, group chengheng,
#                                                2770: the database, its WAL and -shm
#                                                files, backups/
# The programs open xs.mdb beside their real path, so the link leads them to
# the writable folder; SQLite follows the link and keeps the WAL beside the
# real file, and backups, checks and restores work on the file it leads to.
# The package does not ship that link: dpkg removes whatever stands at the
# place of a file it shipped, and a database put there must never go with the
# package. postinst makes the link, prerm removes it only while it is a link.
include(GNUInstallDirs)
set(XS_LIBDIR "lib/chengheng")

install(TARGETS chengheng chengheng-db RUNTIME DESTINATION ${XS_LIBDIR})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/links)
file(CREATE_LINK ../lib/chengheng/chengheng ${CMAKE_BINARY_DIR}/links/chengheng SYMBOLIC)
file(CREATE_LINK ../lib/chengheng/chengheng-db ${CMAKE_BINARY_DIR}/links/chengheng-db SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/links/chengheng ${CMAKE_BINARY_DIR}/links/chengheng-db DESTINATION bin)

# The menu entry and its icon, drawn by the program's own picture code.
add_executable(writeicon tools/writeicon.cpp)
target_link_libraries(writeicon PRIVATE xs_ui)
xs_refuse_engine_headers(${PROJECT_SOURCE_DIR}/tools/writeicon.cpp)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/chengheng.png
  COMMAND writeicon 64 ${CMAKE_BINARY_DIR}/chengheng.png
  DEPENDS writeicon)
add_custom_target(appicon ALL DEPENDS ${CMAKE_BINARY_DIR}/chengheng.png)
install(FILES packaging/chengheng.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/chengheng.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/chengheng-db.1.gz
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/chengheng-db.1 > ${CMAKE_BINARY_DIR}/chengheng-db.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/chengheng-db.1)
add_custom_target(manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/chengheng-db.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/chengheng-db.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chengheng)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "澄衡 maintainers <maintainers@chengheng.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "outpatient consulting room: case records, prescriptions, archive")
set(CPACK_PACKAGE_DESCRIPTION "澄衡 is the desktop program of an outpatient consulting room: sign-in,
case records, department settings, prescribing with the electronic
prescription, users and rights, on one SQLite database file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, fonts-wqy-microhei, qt6-translations-l10n, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/preinst;${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/prerm;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
