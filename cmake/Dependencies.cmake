# Third-party libraries, all from Debian packages.

# TinyXML: linked statically where the archive exists, so that the gateway
# does not pay a shared-library load on every request.
find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
find_library(TINYXML_LIBRARY NAMES libtinyxml.a tinyxml REQUIRED)
add_library(corvane_tinyxml INTERFACE)
target_include_directories(corvane_tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
target_link_libraries(corvane_tinyxml INTERFACE ${TINYXML_LIBRARY})

# libfcgi: the gateway's FastCGI side, static for the same reason.
find_path(FCGI_INCLUDE_DIR fcgiapp.h REQUIRED)
find_library(FCGI_LIBRARY NAMES libfcgi.a fcgi REQUIRED)
add_library(corvane_fcgi INTERFACE)
target_include_directories(corvane_fcgi SYSTEM INTERFACE ${FCGI_INCLUDE_DIR})
target_link_libraries(corvane_fcgi INTERFACE ${FCGI_LIBRARY})

find_path(UUID_INCLUDE_DIR uuid/uuid.h REQUIRED)
find_library(UUID_LIBRARY NAMES libuuid.a uuid REQUIRED)
add_library(corvane_uuid INTERFACE)
target_include_directories(corvane_uuid SYSTEM INTERFACE ${UUID_INCLUDE_DIR})
target_link_libraries(corvane_uuid INTERFACE ${UUID_LIBRARY})

find_package(Boost 1.67 REQUIRED)
