# Shared part of the MinGW-w64 toolchain files; ORMELIX_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${ORMELIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORMELIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORMELIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORMELIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs (ctest, add_test with a target) when a loader of the right
# width is found: Debian's loader of that width, else the given command on PATH. Set
# ORMELIX_WINE to choose another.
macro(ormelix_find_wine Command DebianPath)
  if(NOT ORMELIX_WINE)
    if(EXISTS ${DebianPath})
      set(ORMELIX_WINE ${DebianPath} CACHE FILEPATH "Wine loader for the test programs")
    else()
      find_program(ORMELIX_WINE NAMES ${Command} NO_CMAKE_FIND_ROOT_PATH)
    endif()
  endif()
  if(ORMELIX_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORMELIX_WINE})
  endif()
endmacro()
