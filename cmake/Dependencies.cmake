# Third-party libraries, all from Debian packages.

# TinyXML and libfcgi: the gateway uses Debian's shared libraries, so
# that security updates of either reach it without a rebuild and the
# package depends on them rather than carrying copies.
find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
find_library(TINYXML_SHARED_LIBRARY NAMES libtinyxml.so REQUIRED)
add_library(corvane_tinyxml INTERFACE)
target_include_directories(corvane_tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
target_link_libraries(corvane_tinyxml INTERFACE ${TINYXML_SHARED_LIBRARY})

# The gateway loads libfcgi by its soname when it serves FastCGI (a CGI
# run never maps it), so it compiles against the header alone:
# corvane_fcgi_headers. corvane_fcgi links the library too, for programs
# that call it directly.
find_path(FCGI_INCLUDE_DIR fcgiapp.h REQUIRED)
find_library(FCGI_SHARED_LIBRARY NAMES libfcgi.so REQUIRED)
set(CORVANE_FCGI_SONAME libfcgi.so.0)
get_filename_component(fcgi_dir ${FCGI_SHARED_LIBRARY} DIRECTORY)
if(NOT EXISTS ${fcgi_dir}/${CORVANE_FCGI_SONAME})
  message(FATAL_ERROR "No ${CORVANE_FCGI_SONAME} beside ${FCGI_SHARED_LIBRARY}: the gateway loads libfcgi by that name")
endif()
get_filename_component(CORVANE_FCGI_FILE ${fcgi_dir}/${CORVANE_FCGI_SONAME} REALPATH)
add_library(corvane_fcgi_headers INTERFACE)
target_include_directories(corvane_fcgi_headers SYSTEM INTERFACE ${FCGI_INCLUDE_DIR})
add_library(corvane_fcgi INTERFACE)
target_link_libraries(corvane_fcgi INTERFACE corvane_fcgi_headers ${FCGI_SHARED_LIBRARY})

find_path(UUID_INCLUDE_DIR uuid/uuid.h REQUIRED)
find_library(UUID_LIBRARY NAMES libuuid.a uuid REQUIRED)
# Built, the programs link the static libuuid found here; installed, the
# CMake package names it only ("uuid"), so that a program links the libuuid
# of the machine it is built on, wherever that keeps it.
add_library(corvane_uuid INTERFACE)
target_include_directories(corvane_uuid SYSTEM INTERFACE $<BUILD_INTERFACE:${UUID_INCLUDE_DIR}>)
target_link_libraries(corvane_uuid INTERFACE $<BUILD_INTERFACE:${UUID_LIBRARY}> $<INSTALL_INTERFACE:uuid>)

find_package(Boost 1.67 REQUIRED)
