# Cross toolchain for our own build: the MinGW-w64 i686 compilers (posix thread model, which
# std::mutex and GoogleTest need), with test executables run under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-plain.cmake)
# Runs test executables: scripts/wine-exec.sh <build dir> <exe> <args...>
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec.sh;${CMAKE_BINARY_DIR})
