# Cross build of the native site for 32-bit ARM with hardware floating point (Debian's armhf,
# ARMv7): a Raspberry Pi 2 or later on the 32-bit system.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(pellmar_cross_triplet arm-linux-gnueabihf)
set(pellmar_cross_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
# GCC notes that the passing of some 64-bit arguments changed in GCC 7.1; the site is built
# whole by one compiler, so the note says nothing about it.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
