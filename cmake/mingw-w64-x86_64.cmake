# Cross build of the Windows program with MinGW-w64 on Linux:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     [-DTARVIC_HOST_BUILD=<a Linux build folder, for the tests that need its helpers>]
# The -posix compilers: the default win32 thread model has no std::mutex or std::thread.
# The runtime is linked statically, so tarvic.exe needs no DLL beside it. Tests run
# through Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVIC_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVIC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVIC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into the program itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Every program runs under Wine in the build folder's own prefix (see tools/wine-run.sh).
set(TARVIC_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
# COMn of that prefix is the entry comN of this folder.
set(TARVIC_WINE_PORTS ${TARVIC_WINEPREFIX}/ports)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh ${TARVIC_WINEPREFIX})
