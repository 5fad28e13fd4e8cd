# Cross-compiles with mingw-w64. KVSHAKE_ARCH selects i686 (the shipped 32-bit module) or x86_64.
# The win32 thread model keeps winpthreads out: its runtime imports functions that Windows XP and
# Server 2003, where the browser still runs, do not have.
set(KVSHAKE_ARCH "x86_64" CACHE STRING "Target architecture: i686 or x86_64")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KVSHAKE_ARCH})

set(_triple ${KVSHAKE_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${_triple}-g++-win32)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(KVSHAKE_WIDL ${_triple}-widl CACHE STRING "IDL compiler")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
