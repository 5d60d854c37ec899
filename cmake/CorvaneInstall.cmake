# What "cmake --install" puts where (GNUInstallDirs), and the Debian
# packages CPack builds from it:
#   corvane-gateway  the gateway in bin/, the web page in
#                    share/corvane-gateway/web, and the drop-in
#                    configuration for lighttpd, Apache and nginx in /etc
#   corvane-sim      the stand-in media server in bin/ and its demo tree
#                    in share/corvane-sim
#   libcorvane-dev   the public headers in include/corvane, the static
#                    libraries, CorvaneConfig.cmake (Corvane::client, ...),
#                    corvane.pc, and in share/doc/libcorvane-dev the
#                    examples and the API reference (when "docs" was built)
# The programs' manual pages come with their packages. The drop-ins, and
# each package's copyright and changelog, go only into the packages (or
# "--component NAME"): a plain install into a prefix of one's own must not
# write to /etc. All of them carry the project's one version, which
# client/api/CorvaneVersion.h, CorvaneConfigVersion.cmake and corvane.pc
# tell too.

# Libraries, CorvaneConfig.cmake and corvane.pc go into Debian's multiarch
# directory, lib/<triplet>, as Debian builds its own packages: the package
# installs into /usr, while the build is configured for /usr/local, for
# which GNUInstallDirs would pick plain lib. -DCMAKE_INSTALL_LIBDIR picks
# another; a build folder configured before keeps lib only if told so.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CORVANE_MULTIARCH_LIBDIR)
  if(NOT DEFINED CMAKE_INSTALL_LIBDIR OR
     (CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND DEFINED _GNUInstallDirs_LAST_CMAKE_INSTALL_PREFIX))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries" FORCE)
  endif()
  set(CORVANE_MULTIARCH_LIBDIR ON CACHE INTERNAL "CMAKE_INSTALL_LIBDIR has had its multiarch default")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CORVANE_INSTALLED_LIBRARIES corvane_base corvane_rpc corvane_client)
set_target_properties(corvane_base PROPERTIES EXPORT_NAME base)
set_target_properties(corvane_rpc PROPERTIES EXPORT_NAME rpc)
set_target_properties(corvane_client PROPERTIES EXPORT_NAME client)
set_target_properties(corvane_uuid PROPERTIES EXPORT_NAME uuid)
# Built, the libraries include from their source folders; installed, from
# include/corvane, which holds the same base/ and client/ trees.
foreach(lib ${CORVANE_INSTALLED_LIBRARIES})
  get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(dir ${dirs})
    list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
  endforeach()
  list(APPEND wrapped "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/corvane>")
  set_target_properties(${lib} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
endforeach()

# The public headers need C++14: a program that asks for less gets it.
foreach(lib ${CORVANE_INSTALLED_LIBRARIES})
  target_compile_features(${lib} PUBLIC cxx_std_14)
endforeach()

install(TARGETS ${CORVANE_INSTALLED_LIBRARIES} corvane_uuid EXPORT CorvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/common/src/base ${PROJECT_SOURCE_DIR}/corvane/src/client
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane COMPONENT dev
  FILES_MATCHING PATTERN "*.h")
install(FILES ${CORVANE_GENERATED_INCLUDE_DIR}/client/api/CorvaneVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane/client/api COMPONENT dev)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${cmake_dir} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CorvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake ${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT dev)

# corvane.pc names the prefix it is installed under, which only the install
# knows ("--prefix", or /usr for the packages): it is written then. Read
# from an unpacked tree, PKG_CONFIG_SYSROOT_DIR puts that tree before it.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(CORVANE_PC_PREFIX "@CORVANE_PC_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/corvane.pc.in ${PROJECT_BINARY_DIR}/corvane.pc.in @ONLY)
install(CODE "set(CORVANE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/corvane.pc.in\" \"${PROJECT_BINARY_DIR}/corvane.pc\" @ONLY)"
  COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/corvane.pc DESTINATION ${pc_dir} COMPONENT dev)

install(TARGETS corvane-gateway RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gateway)
# The gateway's administrator-list module goes into a folder of its own in
# the library directory, and the gateway finds it relative to the program;
# the build tree puts it at the same place relative to bin/.
set(gateway_module_dir ${CMAKE_INSTALL_LIBDIR}/corvane-gateway)
file(RELATIVE_PATH module_from_bin /${CMAKE_INSTALL_BINDIR} /${gateway_module_dir})
target_compile_definitions(corvane_gateway PRIVATE CORVANE_MODULE_DIR="${module_from_bin}")
set_target_properties(corvane_gateway_xml PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${module_from_bin})
install(TARGETS corvane_gateway_xml LIBRARY DESTINATION ${gateway_module_dir} COMPONENT gateway)
install(TARGETS corvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
install(FILES ${PROJECT_SOURCE_DIR}/sim/demo-tree.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane-sim COMPONENT sim)
# The web page; the drop-ins serve it from here at /corvane/. Its
# package.json only tells Node, which runs the page's unit tests, that the
# .js files are ES modules.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane-gateway/web
  COMPONENT gateway PATTERN package.json EXCLUDE)
# Apache's drop-in holds both ways of running the gateway: Debian allows a
# package one configuration in conf-available, named after the package.
set(CORVANE_DROP_INS
  ${PROJECT_SOURCE_DIR}/deploy/lighttpd/05-corvane-gateway.conf /etc/lighttpd/conf-available
  ${PROJECT_SOURCE_DIR}/deploy/apache2/corvane-gateway.conf /etc/apache2/conf-available
  ${PROJECT_SOURCE_DIR}/deploy/nginx/corvane-gateway.conf /etc/nginx/snippets
  ${PROJECT_SOURCE_DIR}/deploy/lighttpd/05-corvane-gateway-fastcgi.conf /etc/lighttpd/conf-available
  ${PROJECT_SOURCE_DIR}/deploy/nginx/corvane-gateway-fastcgi.conf /etc/nginx/snippets)
set(conffiles "")
while(CORVANE_DROP_INS)
  list(POP_FRONT CORVANE_DROP_INS file dir)
  install(FILES ${file} DESTINATION ${dir} COMPONENT gateway EXCLUDE_FROM_ALL)
  get_filename_component(name ${file} NAME)
  string(APPEND conffiles "${dir}/${name}\n")
endwhile()
file(WRITE ${PROJECT_BINARY_DIR}/debian-gateway/conffiles "${conffiles}")
# The FastCGI socket and service for nginx and Apache; nothing enables them.
install(FILES ${PROJECT_SOURCE_DIR}/deploy/systemd/corvane-gateway.socket
  ${PROJECT_SOURCE_DIR}/deploy/systemd/corvane-gateway.service
  DESTINATION lib/systemd/system COMPONENT gateway EXCLUDE_FROM_ALL)
configure_file(${PROJECT_SOURCE_DIR}/deploy/debian/postinst ${PROJECT_BINARY_DIR}/debian-gateway/postinst COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/deploy/debian/postrm ${PROJECT_BINARY_DIR}/debian-gateway/postrm COPYONLY)

# Manual pages and the changelog go compressed, without a time stamp, so
# that a rebuild makes the same packages.
set(CORVANE_MAN_PAGES ${PROJECT_SOURCE_DIR}/deploy/man/corvane-gateway.1 ${PROJECT_SOURCE_DIR}/deploy/man/corvane-sim.1)
set(compressed "")
foreach(source ${CORVANE_MAN_PAGES} ${PROJECT_SOURCE_DIR}/deploy/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source})
  list(APPEND compressed ${output})
endforeach()
add_custom_target(corvane_compressed_docs ALL DEPENDS ${compressed})
foreach(source ${CORVANE_MAN_PAGES})
  get_filename_component(name ${source} NAME_WE)
  string(REGEX REPLACE "^corvane-" "" component ${name})
  install(FILES ${PROJECT_BINARY_DIR}/compressed/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${component})
endforeach()
# Each package's copyright, and its changelog under the name a native
# package's has, in its own documentation folder.
set(package_docs ${PROJECT_SOURCE_DIR}/deploy/debian/copyright ${PROJECT_BINARY_DIR}/compressed/changelog.gz)
foreach(package corvane-gateway:gateway corvane-sim:sim libcorvane-dev:dev)
  string(REPLACE ":" ";" package ${package})
  list(GET package 0 name)
  list(GET package 1 component)
  install(FILES ${package_docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
# The examples, and the API reference when the "docs" target has made it.
set(dev_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/libcorvane-dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${dev_doc_dir}/examples COMPONENT dev)
install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/html/ DESTINATION ${dev_doc_dir}/html COMPONENT dev OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Web gateway and client library for Corvane media servers")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane developers <dev@corvane.org>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL gateway sim dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME corvane-gateway)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SECTION web)
set(CPACK_DEBIAN_GATEWAY_DESCRIPTION "The CGI gateway to Corvane media servers, for web servers.
corvane-gateway answers web requests on the node trees of Corvane media
servers and keeps a small document per web user. The package holds the
drop-in configuration for lighttpd, Apache and nginx, as CGI or as
FastCGI (a persistent gateway, for busy sites). corvane-sim, a
stand-in media server to try it with, comes in a package of its own.")
# postinst makes the service's system user with adduser. libfcgi, which
# the gateway loads with dlopen, is no library the program links, so the
# package search of SHLIBDEPS never sees it: the package that holds it here
# is named.
set(CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS "adduser")
execute_process(COMMAND dpkg-query -S ${CORVANE_FCGI_FILE} OUTPUT_VARIABLE fcgi_owner RESULT_VARIABLE fcgi_unowned
  ERROR_QUIET)
if(fcgi_unowned EQUAL 0 AND fcgi_owner MATCHES "^([^:, ]+)")
  string(APPEND CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
else()
  message(WARNING "No Debian package holds ${CORVANE_FCGI_FILE}: the gateway's package will not depend on libfcgi")
endif()
# htpasswd makes the password file every drop-in reads.
set(CPACK_DEBIAN_GATEWAY_PACKAGE_RECOMMENDS "apache2-utils")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SUGGESTS "lighttpd | apache2 | nginx, fcgiwrap | spawn-fcgi, corvane-sim")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_EXTRA
  "${PROJECT_BINARY_DIR}/debian-gateway/postinst;${PROJECT_BINARY_DIR}/debian-gateway/postrm;${PROJECT_BINARY_DIR}/debian-gateway/conffiles")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "uuid-dev, libboost-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "The client library, for programs of one's own (development files).
Static libraries and headers of the Corvane client library, with
CorvaneConfig.cmake for find_package(Corvane) and corvane.pc for
pkg-config, examples, and the API reference in HTML.")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "corvane-sim")
set(CPACK_DEBIAN_SIM_PACKAGE_NAME corvane-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SIM_DESCRIPTION "Stand-in Corvane media server, for trying and testing clients.
corvane-sim serves a node tree read from a text file, with its metadata
and frames, over the protocol of Corvane media servers, and takes part in
their discovery. It is meant for trying corvane-gateway and programs
built with the client library, and for their tests; it keeps every change
in memory only. /usr/share/corvane-sim/demo-tree.txt is a small tree to
start with.")
include(CPack)
