# Installation layout and the Debian package (cpack -G DEB).
#
#   /usr/lib/tallo/tallo, tallo-run, IBEScript.dll   the programs and the engine
#   /usr/lib/tallo/Tallo-3.ini -> /etc/tallo/Tallo-3.ini   the shared database list
#   /usr/bin/tallo-run -> ../lib/tallo/tallo-run     finds the engine and the list beside itself
#   /usr/bin/tallo                                   starts the window from a per-user folder
#   /usr/share/applications/tallo.desktop, /usr/share/icons/hicolor/scalable/apps/tallo.svg
if(NOT (TARGET tallo AND TARGET tallo-run AND TARGET IBEScript))
    return()
endif()

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_links ${CMAKE_BINARY_DIR}/packaging-links)
file(MAKE_DIRECTORY ${_links}/bin ${_links}/lib)
file(CREATE_LINK ../lib/tallo/tallo-run ${_links}/bin/tallo-run SYMBOLIC)
file(CREATE_LINK /etc/tallo/Tallo-3.ini ${_links}/lib/Tallo-3.ini SYMBOLIC)

install(TARGETS tallo tallo-run RUNTIME DESTINATION lib/tallo)
install(TARGETS IBEScript LIBRARY DESTINATION lib/tallo)
install(FILES ${_links}/lib/Tallo-3.ini DESTINATION lib/tallo)
install(FILES ${_links}/bin/tallo-run DESTINATION bin)
install(PROGRAMS ${_pkg}/tallo.sh DESTINATION bin RENAME tallo)
install(FILES ${_pkg}/Tallo-3.ini DESTINATION /etc/tallo)
install(FILES ${_pkg}/tallo.desktop DESTINATION share/applications)
install(FILES ${_pkg}/tallo.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/tallo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tallo developers <tallo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Runs SQL scripts against Firebird databases")
set(CPACK_PACKAGE_DESCRIPTION
    "Tallo runs SQL scripts (plain, or packed with zlib as .zql) against Firebird databases through\n"
    "its own script engine IBEScript.dll, saves a run protocol beside each script and reports the\n"
    "outcome. It comes as a window (tallo) and as a headless runner for scripts and pipelines\n"
    "(tallo-run).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link (libqt6widgets6, libfbclient2, zlib1g, ...) are
# found by dpkg-shlibdeps; the embedded provider (libEngine12.so of the server
# core) is loaded by libfbclient at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "firebird3.0-server-core (>= 3.0)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firebird3.0-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/conffiles)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
