# Cross build for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686-posix). Entries
# are __stdcall here, so this build is the one that proves the table types. Test programs run
# under a 32-bit Wine when one is installed (Debian: wine32 from the i386 architecture).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORMELIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
ormelix_find_wine(wine /usr/lib/wine/wine)
