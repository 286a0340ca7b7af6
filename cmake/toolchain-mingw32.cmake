# Cross build for 32-bit Windows with Debian's MinGW-w64 (posix thread model), linked
# statically so that the programs run under Wine or on Windows without MinGW's DLLs.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
#         -DCMAKE_BUILD_TYPE=Release -DPAVO_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(PAVO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PAVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PAVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PAVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PAVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs without their symbol tables: pavo.exe is handed out as it is.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
