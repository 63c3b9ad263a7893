# Cross build of pellmar.exe from Linux with the MinGW-w64 "-posix" compilers: the
# "-win32" flavour has no std::thread in this GCC.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLMAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELLMAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLMAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLMAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLMAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No DLL beyond Windows' own: the C++ runtime and winpthreads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows test programs under Wine.
find_program(PELLMAR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PELLMAR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLMAR_WINE})
endif()
