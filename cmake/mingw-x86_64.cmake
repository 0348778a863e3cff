# Cross toolchain: 64-bit Windows binaries for the test tiers (wine64).
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
