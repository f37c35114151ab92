# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads
# compilers, whose libstdc++ has std::thread):
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DWITH_QT=OFF -DWITH_CURL=OFF
# scripts/windows-tests.sh does this and runs the tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELANTRO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELANTRO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELANTRO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELANTRO_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot only; build tools
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELANTRO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program carries the C++ runtime, winpthreads and zlib in itself, so
# it runs without DLLs copied beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# ctest of the cross build runs the test programs under Wine.
find_program(VELANTRO_WINE64 wine64 PATHS /usr/lib/wine)
if(VELANTRO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELANTRO_WINE64})
endif()
