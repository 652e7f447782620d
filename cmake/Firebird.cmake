# The official Firebird client library (libfbclient) and its OO API headers.
find_path(FIREBIRD_INCLUDE_DIR firebird/Interface.h PATHS /usr/include)
find_library(FIREBIRD_CLIENT_LIBRARY NAMES fbclient PATHS /usr/lib/x86_64-linux-gnu)
if(FIREBIRD_INCLUDE_DIR AND FIREBIRD_CLIENT_LIBRARY)
    add_library(Firebird::Client UNKNOWN IMPORTED)
    set_target_properties(Firebird::Client PROPERTIES
        IMPORTED_LOCATION ${FIREBIRD_CLIENT_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${FIREBIRD_INCLUDE_DIR})
    set(FIREBIRD_FOUND TRUE)
else()
    message(FATAL_ERROR "Firebird client (firebird-dev) not found; run scripts/bootstrap.sh")
endif()
