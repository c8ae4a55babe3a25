# GoogleTest from the Debian source tree, built with our compiler and flags (so that the
# sanitizer build and the MinGW build each get a matching copy).
set(QUILLON_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUILLON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# quillon_test(name SOURCES ... [DEPS ...] [GUI] [TIMEOUT seconds])
# Natively every GoogleTest case is its own CTest test. Under Wine one process per executable
# keeps start-up cost (a Wine process takes a good part of a second) out of the total.
function(quillon_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "QUILLON_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    if(ARG_GUI)
      # Real windows share one display and one Wine desktop: run them one at a time.
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_display)
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "QUILLON_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endif()
endfunction()
