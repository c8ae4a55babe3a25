# GoogleTest from the Debian source tree, built with our compiler and flags (so that the
# sanitizer build and the MinGW build each get a matching copy).
set(QUILLON_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUILLON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Portable suites whose code has no Windows-only path (no files, locks, processes, code pages or
# windows of the platform seam): the native run already checks them with sanitizers, so a Windows
# run only repeats it. Their Windows tests carry the label "native-repeat", which scripts/test.sh
# leaves out unless QUILLON_WINDOWS_TESTS=all.
set(QUILLON_NATIVE_REPEATS
    engine_blob_tests engine_index_tests engine_cursor_tests engine_record_tests engine_verify_tests
    engine_model_tests engine_fault_injection_tests
    sql_tests filter_expr_tests table_filter_tests expr_evaluator_tests
    dataset_table_tests dataset_model_tests dataset_query_tests
    lyricsearch_tests basegen_tests)

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
    # The Windows build's tests may run through qemu-user (scripts/run32.sh), where computation
    # takes up to 6.5 times as long: the limits are there to end hangs, not to time the tests.
    math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 3")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "QUILLON_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    if(name IN_LIST QUILLON_NATIVE_REPEATS)
      set_tests_properties(${name} PROPERTIES LABELS native-repeat)
    endif()
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
