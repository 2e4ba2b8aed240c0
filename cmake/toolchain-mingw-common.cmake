# Shared by both Windows widths. The -posix compilers are named directly: the default
# alternative uses the win32 thread model, which has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SUITE_TRIPLE})

set(CMAKE_C_COMPILER   ${SUITE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SUITE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${SUITE_TRIPLE}-windres)
set(CMAKE_AR           ${SUITE_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${SUITE_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${SUITE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No mingw runtime DLL ships: libgcc, libstdc++ and winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

