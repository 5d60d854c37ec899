# Third-party libraries, all from Debian packages.

# TinyXML and libfcgi: the gateway links Debian's shared libraries, so
# that security updates of either reach it without a rebuild and the
# package depends on them rather than carrying copies.
find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
find_library(TINYXML_SHARED_LIBRARY NAMES libtinyxml.so REQUIRED)
add_library(corvane_tinyxml INTERFACE)
target_include_directories(corvane_tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
target_link_libraries(corvane_tinyxml INTERFACE ${TINYXML_SHARED_LIBRARY})

find_path(FCGI_INCLUDE_DIR fcgiapp.h REQUIRED)
find_library(FCGI_SHARED_LIBRARY NAMES libfcgi.so REQUIRED)
add_library(corvane_fcgi INTERFACE)
target_include_directories(corvane_fcgi SYSTEM INTERFACE ${FCGI_INCLUDE_DIR})
target_link_libraries(corvane_fcgi INTERFACE ${FCGI_SHARED_LIBRARY})

find_path(UUID_INCLUDE_DIR uuid/uuid.h REQUIRED)
find_library(UUID_LIBRARY NAMES libuuid.a uuid REQUIRED)
add_library(corvane_uuid INTERFACE)
target_include_directories(corvane_uuid SYSTEM INTERFACE ${UUID_INCLUDE_DIR})
target_link_libraries(corvane_uuid INTERFACE ${UUID_LIBRARY})

find_package(Boost 1.67 REQUIRED)
