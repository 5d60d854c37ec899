# corvane_add_library(NAME DIR INCLUDE [EXCLUDE regex] [LINK libs...])
# Builds every .cpp under DIR into one static library, so that adding a file
# to a layer needs no edit here.
function(corvane_add_library name dir include)
  cmake_parse_arguments(ARG "" "EXCLUDE" "LINK" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX ${ARG_EXCLUDE})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${include})
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
endfunction()

# corvane_add_test_binary(NAME DIR [EXCLUDE regex] LINK libs...)
# One GoogleTest binary from every *Test.cpp under DIR.
function(corvane_add_test_binary name dir)
  cmake_parse_arguments(ARG "" "EXCLUDE;LABEL" "LINK" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX ${ARG_EXCLUDE})
  endif()
  add_executable(${name} ${sources} ${PROJECT_SOURCE_DIR}/tests/TestMain.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} corvane_test_support GTest::gtest GTest::gmock)
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120)
endfunction()
