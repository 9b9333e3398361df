# What a MinGW-w64 build for Windows needs, cross or native.

# GCC keeps the Windows x64 stack only 16-byte aligned, yet spills 32- and
# 64-byte vector registers with aligned moves, which fault on a stack slot
# that is not aligned to their size. The assembler writes every aligned vector
# move as its unaligned form (as fast on aligned data), so no spill in the
# AVX2 and AVX-512 kernels can fault. Needs binutils 2.38 or later.
add_compile_options(-Wa,-muse-unaligned-vector-move)

# pi.exe carries the C++ runtime and the threads library inside, so it runs
# without MinGW's DLLs beside it.
add_link_options(-static)

# Wine makes its prefix on first use, which takes seconds and must not happen
# in two test runs at once; it is made here, once.
if(CMAKE_CROSSCOMPILING_EMULATOR AND WINE_PREFIX AND NOT EXISTS ${WINE_PREFIX}/system.reg)
  message(STATUS "Making the Wine prefix ${WINE_PREFIX}")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init OUTPUT_QUIET ERROR_QUIET)
endif()

# GMP for a cross build: no Debian package has it for MinGW-w64, so it is
# built once into the build tree from the source package that apt offers
# (cmake/mingw_gmp.sh, a few minutes). A native MSYS2 build finds its
# mingw-w64-x86_64-gmp package instead.
if(CMAKE_CROSSCOMPILING)
  option(PI_BUILD_GMP "Build GMP for MinGW-w64 from the system's source package" ON)
  if(PI_BUILD_GMP AND NOT GMP_LIBRARY)
    set(PI_MINGW_GMP_DIR ${CMAKE_BINARY_DIR}/gmp-mingw)
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/mingw_gmp.sh ${PI_MINGW_GMP_DIR} RESULT_VARIABLE gmp_built)
    if(gmp_built EQUAL 0)
      set(GMP_INCLUDE_DIR ${PI_MINGW_GMP_DIR}/include CACHE PATH "GMP's headers" FORCE)
      set(GMP_LIBRARY ${PI_MINGW_GMP_DIR}/lib/libgmp.a CACHE FILEPATH "GMP's library" FORCE)
    endif()
  endif()
endif()
