# Cross-building the Windows program with MinGW-w64 (Debian's g++-mingw-w64-i686-win32): a
# 32-bit executable, which runs on 32-bit and 64-bit Windows alike and can load the 32-bit
# DAO 3.6 engine that Access 2003 installs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARNU_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
