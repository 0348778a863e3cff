# Cross toolchain: 32-bit Windows binaries, the ones that ship.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
