# Cross-builds Halvic for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64.cmake
# ctest then runs the Windows programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVIC_MINGW_PREFIX x86_64-w64-mingw32)
# The posix flavour: std::thread and friends need its threading model.
set(CMAKE_C_COMPILER ${HALVIC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVIC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVIC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HALVIC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beyond those Windows has: the runtime libraries go into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(HALVIC_WINE NAMES wine64 wine)
if(HALVIC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HALVIC_WINE})
endif()
