# Shared by the MinGW-w64 toolchain files, which set TARNU_MINGW_TRIPLE first.
set(CMAKE_C_COMPILER ${TARNU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNU_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in statically, so that the executable needs no DLL of the compiler's
# (libstdc++, libgcc, winpthread) beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine, one throwaway prefix per test run (see wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
