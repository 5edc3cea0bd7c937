# The same sources built as 64-bit Windows programs. They exist for the tests only: a machine
# whose kernel runs no 32-bit code cannot start the 32-bit Wine loader, but its 64-bit Wine runs
# these. The program users get is the 32-bit one (mingw-i686.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARNU_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
