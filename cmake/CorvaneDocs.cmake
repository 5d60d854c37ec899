# The client library's API reference, made with Debian's doxygen from the
# public headers into build/docs/html by the "docs" target:
#     cmake --build build --target docs
# Not part of "all": the -dev package carries the reference when it has
# been made. Its opening page, docs/first-program.md, shows
# examples/first-program.cpp, which the install tests build and run.
set(api ${PROJECT_SOURCE_DIR}/corvane/src/client/api)
set(CORVANE_DOC_HEADER_FILES
  ${api}/CorvaneInit.h ${CORVANE_GENERATED_INCLUDE_DIR}/client/api/CorvaneVersion.h
  ${api}/CorvaneServerHandle.h ${api}/CorvaneNodeHandle.h ${api}/CorvaneNodeEvent.h ${api}/CorvaneNodeType.h
  ${api}/CorvaneStr.h ${api}/CorvaneStrList.h ${api}/CorvaneNodeId.h ${api}/CorvaneFrameId.h
  ${api}/CorvaneServerId.h ${api}/CorvaneClipFormat.h ${api}/CorvaneMetaData.h ${api}/CorvaneDictionary.h
  ${api}/CorvaneDaemonInfo.h ${api}/CorvaneScanFormat.h ${api}/CorvaneOSType.h ${api}/CorvaneFormatTag.h
  ${api}/CorvaneCurrentUser.h ${api}/CorvaneHostFacts.h)
find_program(DOXYGEN_PROGRAM doxygen)
if(DOXYGEN_PROGRAM)
  list(JOIN CORVANE_DOC_HEADER_FILES " " CORVANE_DOC_HEADERS)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/docs/html/index.html
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${PROJECT_BINARY_DIR}/docs/html
    COMMAND ${DOXYGEN_PROGRAM} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    DEPENDS ${CORVANE_DOC_HEADER_FILES} ${PROJECT_BINARY_DIR}/docs/Doxyfile ${PROJECT_SOURCE_DIR}/docs/first-program.md
      ${PROJECT_SOURCE_DIR}/docs/doxygen-filter.py ${PROJECT_SOURCE_DIR}/examples/first-program.cpp
    COMMENT "Making the API reference in docs/html"
    VERBATIM)
  add_custom_target(docs DEPENDS ${PROJECT_BINARY_DIR}/docs/html/index.html)
else()
  add_custom_target(docs COMMAND ${CMAKE_COMMAND} -E echo "The API reference needs doxygen (Debian package doxygen)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
