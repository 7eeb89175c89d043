# Cross-compiles the widget for 64-bit Windows with Debian's mingw-w64 (x86_64): the same
# sources, for Wine on a kernel that runs no 32-bit programs (see the README).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
