# Shared by the MinGW-w64 toolchain files, which set TARNU_MINGW_TRIPLE first.
# The compilers with Windows' own thread model: the posix-thread ones link winpthread, which
# imports GetTickCount64, and Windows XP, the oldest the program must start on, lacks it. The
# program runs on one thread and needs no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${TARNU_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TARNU_MINGW_TRIPLE}-g++-win32)
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
