# What the toolchain files of the site's ARM boards share: Debian's cross compiler for
# ${pellmar_cross_triplet}, and Debian's user-mode emulator ${pellmar_cross_emulator} to run
# what it builds. Such a build proves the site builds without anything x86-only, and makes the
# board's package; the board's own g++ builds the same tree natively.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${pellmar_cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${pellmar_cross_triplet}-g++)

# The cross C library's own tree, and the machine's root for Debian's packages of the board's
# architecture (the site's libsodium), which install into /usr/lib/${pellmar_cross_triplet}
# beside the machine's own; the cross compiler searches there by itself, and CMake's searches
# follow it.
set(CMAKE_FIND_ROOT_PATH /usr/${pellmar_cross_triplet} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the site's tests under the emulator, and scripts/package the packed site, with
# the cross compiler's own C library. The board's packages bring a second one into the
# machine's library folders, and a program that took its C library from there and its C++
# library from the cross tree hangs; so the cross tree's libraries come first. It is kept in
# the cache, where scripts/package reads it.
find_program(pellmar_emulator_program NAMES ${pellmar_cross_emulator} ${pellmar_cross_emulator}-static
    NO_CMAKE_FIND_ROOT_PATH)
if(pellmar_emulator_program)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${pellmar_emulator_program} -L /usr/${pellmar_cross_triplet}
        -E LD_LIBRARY_PATH=/usr/${pellmar_cross_triplet}/lib
        CACHE STRING "How this machine runs what the cross build makes")
endif()
