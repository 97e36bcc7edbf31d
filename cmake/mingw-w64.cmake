# Cross-compiles Zemlik for 64-bit Windows with Debian's mingw-w64 (POSIX thread model,
# so std::thread and std::mutex work), runtime linked statically: the .exe files need no
# DLL beyond the system's. Programs built here run under wine (cmake/wine-run.sh), which
# is how the tests run on a Linux host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zemlik_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_zemlik_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zemlik_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_zemlik_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_zemlik_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Every test and test discovery runs through wine, with the build folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
