# Compile settings for the project's own targets. Third-party code (GoogleTest, libjpeg) is built
# without them, so that its warnings never break our build.

set(QUILLON_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 at -O3 reports false -Wrestrict warnings inside its own string headers.
  list(APPEND QUILLON_WARNINGS -Wno-restrict)
endif()

if(QUILLON_SANITIZE)
  set(QUILLON_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  add_compile_options(${QUILLON_SANITIZER_FLAGS})
  add_link_options(${QUILLON_SANITIZER_FLAGS})
endif()

if(WIN32)
  # One self-contained executable per program or test: no MinGW DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
endif()

# quillon_library(name SOURCES ... [DEPS ...]) : a static library of our own code.
function(quillon_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QUILLON_WARNINGS})
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# quillon_executable(name SOURCES ... [DEPS ...] [GUI]) : a program of our own.
function(quillon_executable name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  if(WIN32 AND ARG_GUI)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
endfunction()
