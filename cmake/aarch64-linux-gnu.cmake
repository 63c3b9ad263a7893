# Cross build of the native site for 64-bit ARM (the small always-on boards a remote site
# often runs on), with Debian's cross compiler. It proves the site builds without anything
# x86-only; the board's own g++ builds the same tree natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross C library's own tree, and the machine's root for Debian's arm64 packages (the
# site's libsodium), which install into /usr/lib/aarch64-linux-gnu beside the machine's own;
# the cross compiler searches there by itself, and CMake's searches follow it.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the site's tests under Debian's user-mode emulator, with the cross compiler's own
# ARM C library. The arm64 packages bring a second one into the machine's library folders, and
# a program that took its C library from there and its C++ library from the cross tree hangs;
# so the cross tree's libraries come first.
find_program(PELLMAR_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static NO_CMAKE_FIND_ROOT_PATH)
if(PELLMAR_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLMAR_QEMU_AARCH64} -L /usr/aarch64-linux-gnu
        -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
endif()
