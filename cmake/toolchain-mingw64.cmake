# x64 Windows targets: mingw-w64 GCC with the posix thread model, run under Wine.
set(SUITE_TRIPLE x86_64-w64-mingw32)
set(SUITE_WIDTH 64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
