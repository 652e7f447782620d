# Installation layout and the Debian package (cpack -G DEB).
#
#   /usr/lib/tallo/tallo, tallo-run                  the programs
#   /usr/lib/tallo/IBEScript.dll -> engine/IBEScript.dll   the engine
#   /usr/lib/tallo/engine/tallo-engine-worker        the engine's worker, beside it
#   /usr/lib/tallo/Tallo-3.ini -> /etc/tallo/Tallo-3.ini   the shared database list
#   /usr/bin/tallo-run -> ../lib/tallo/tallo-run     finds the engine and the list beside itself
#   /usr/bin/tallo                                   starts the window from a per-user folder
#   /usr/share/applications/tallo.desktop, /usr/share/icons/hicolor/scalable/apps/tallo.svg
#   /usr/share/man/man1/tallo.1.gz, tallo-run.1.gz   made from packaging/man/*.md
#   /usr/share/doc/tallo/copyright, changelog.gz     made from LICENSE and packaging/changelog
#
# The engine file itself lies one folder deeper than the programs: CPack adds
# ldconfig calls to the maintainer scripts for any shared object found in
# /usr/lib or a folder right under it, and the engine is a private plugin
# that no program links, so it must stay off the linker's path. The link
# beside the programs keeps "IBEScript.dll beside tallo-run" true.
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_links ${CMAKE_BINARY_DIR}/packaging-links)
set(_doc ${CMAKE_BINARY_DIR}/packaging-doc)
set(TALLO_MAINTAINER "Tallo developers <noreply@tallo-project.org>")
file(MAKE_DIRECTORY ${_links}/bin ${_links}/lib ${_doc}/man)
file(CREATE_LINK ../lib/tallo/tallo-run ${_links}/bin/tallo-run SYMBOLIC)
file(CREATE_LINK /etc/tallo/Tallo-3.ini ${_links}/lib/Tallo-3.ini SYMBOLIC)
file(CREATE_LINK engine/IBEScript.dll ${_links}/lib/IBEScript.dll SYMBOLIC)

# The changelog's newest entry is the version being packaged; its date is
# the date of the man pages.
file(STRINGS ${_pkg}/changelog _changelog)
list(GET _changelog 0 _newest)
if(NOT _newest MATCHES "^tallo \\(([^)]+)\\) ")
    message(FATAL_ERROR "packaging/changelog: the first line is no changelog entry: ${_newest}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/changelog: the newest entry is version ${CMAKE_MATCH_1}, the project is "
                        "version ${PROJECT_VERSION}; add an entry for ${PROJECT_VERSION}")
endif()
foreach(_line IN LISTS _changelog)
    if(_line MATCHES "^ -- .*>  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        set(TALLO_MAN_DATE "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}")
        break()
    endif()
endforeach()
if(NOT TALLO_MAN_DATE)
    message(FATAL_ERROR "packaging/changelog: the newest entry has no signature line with a date")
endif()
configure_file(${_pkg}/changelog ${_doc}/changelog COPYONLY)

# The copyright file names the licence of LICENSE, its text indented and its
# blank lines written as "." as the copyright format wants.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT _license MATCHES "Copyright \\(c\\) ([^\n]+)\n")
    message(FATAL_ERROR "LICENSE has no copyright line")
endif()
set(TALLO_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${_license}" "Permission is hereby granted" _start)
string(SUBSTRING "${_license}" ${_start} -1 _license)
string(STRIP "${_license}" _license)
string(REPLACE "\n\n" "\n.\n" _license "${_license}")
string(REPLACE "\n" "\n " TALLO_LICENSE_TEXT " ${_license}")
configure_file(${_pkg}/copyright.in ${_doc}/copyright @ONLY)

find_program(TALLO_GZIP gzip REQUIRED)
set(_docs ${_doc}/changelog.gz)
add_custom_command(OUTPUT ${_doc}/changelog.gz
    COMMAND ${TALLO_GZIP} -9nkf ${_doc}/changelog
    DEPENDS ${_doc}/changelog
    COMMENT "Compressing the package changelog")

# The man pages: markdown in packaging/man, roff made with go-md2man.
find_program(TALLO_GO_MD2MAN go-md2man)
if(TALLO_GO_MD2MAN)
    foreach(_page tallo.1 tallo-run.1)
        configure_file(${_pkg}/man/${_page}.md ${_doc}/man/${_page}.md @ONLY)
        add_custom_command(OUTPUT ${_doc}/man/${_page}.gz
            COMMAND ${TALLO_GO_MD2MAN} -in ${_doc}/man/${_page}.md -out ${_doc}/man/${_page}
            COMMAND ${TALLO_GZIP} -9nkf ${_doc}/man/${_page}
            DEPENDS ${_doc}/man/${_page}.md
            BYPRODUCTS ${_doc}/man/${_page}
            COMMENT "Making the man page ${_page}")
        list(APPEND _docs ${_doc}/man/${_page}.gz)
        install(FILES ${_doc}/man/${_page}.gz DESTINATION share/man/man1)
    endforeach()
else()
    # A package without its man pages is not made.
    install(CODE "message(FATAL_ERROR \"The man pages need go-md2man (scripts/bootstrap.sh installs it); \"
                 \"configure again once it is there.\")")
endif()
add_custom_target(tallo_package_docs ALL DEPENDS ${_docs})

install(TARGETS tallo tallo-run RUNTIME DESTINATION lib/tallo)
install(TARGETS IBEScript LIBRARY DESTINATION lib/tallo/engine)
install(TARGETS IBEScript_worker RUNTIME DESTINATION lib/tallo/engine)
install(FILES ${_links}/lib/IBEScript.dll ${_links}/lib/Tallo-3.ini DESTINATION lib/tallo)
install(FILES ${_links}/bin/tallo-run DESTINATION bin)
install(PROGRAMS ${_pkg}/tallo.sh DESTINATION bin RENAME tallo)
install(FILES ${_pkg}/Tallo-3.ini DESTINATION /etc/tallo)
install(FILES ${_pkg}/tallo.desktop DESTINATION share/applications)
install(FILES ${_pkg}/tallo.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${_doc}/copyright ${_doc}/changelog.gz DESTINATION share/doc/tallo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TALLO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Runs SQL scripts against Firebird databases")
# One string: the Debian generator indents each line; every line stays
# within 79 columns so that the field keeps to 80.
set(CPACK_PACKAGE_DESCRIPTION
    "Tallo runs SQL scripts (plain, or packed with zlib as .zql) against Firebird
databases through its own script engine IBEScript.dll, saves a run protocol
beside each script and reports the outcome. It comes as a window (tallo) and
as a headless runner for scripts and pipelines (tallo-run).")
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
