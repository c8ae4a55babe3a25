# Cross toolchain of the 64-bit Windows build: the program is a 32-bit one, but a machine that runs
# only 64-bit code can run its Windows tests only as a 64-bit build, under 64-bit Wine.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64-plain.cmake)
# Runs test executables: scripts/wine-exec.sh <build dir> <exe> <args...>
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec.sh;${CMAKE_BINARY_DIR})
