# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix, whose threads are those of std::thread):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Programs built here run on Linux through Wine, which CTest uses to run the
# tests and CMake to list them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW sysroot only, never the host's
# (a host libgmp or GoogleTest would not link); the tools CMake looks for are
# the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine keeps its Windows installation in a prefix: WINEPREFIX where it is
# set, else one in the build tree, made when the build is configured.
find_program(WINE_PROGRAM NAMES wine64 wine)
if(WINE_PROGRAM)
  if(DEFINED ENV{WINEPREFIX})
    set(WINE_PREFIX $ENV{WINEPREFIX})
  else()
    set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${WINE_PREFIX} ${WINE_PROGRAM})
endif()
