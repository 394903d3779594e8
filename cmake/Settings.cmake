# What every top-level project of the tree shares (the main build, the Windows build, the fuzz
# build): the language, the default build type and the warnings.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
# One include root for the project's own headers: "hid/linux/LinuxHidPlatform.h" names one file,
# wherever it is included from.
include_directories(${CMAKE_CURRENT_LIST_DIR}/..)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# Off by default: a user's build with another compiler must not stop on a new warning. The
# scripts, the presets and CI turn it on.
option(ORMELIX_WERROR "Treat compiler warnings as errors" OFF)

# The project's warning flags, for what is added after the call (not for third-party sources
# added before it).
macro(ormelix_warnings)
  add_compile_options(-Wall -Wextra)
  if(ORMELIX_WERROR)
    add_compile_options(-Werror)
  endif()
endmacro()
