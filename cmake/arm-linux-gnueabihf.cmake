# Cross build of the native site for 32-bit ARM with hardware floating point (Debian's armhf,
# ARMv7): a Raspberry Pi 2 or later on the 32-bit system.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(pellmar_cross_triplet arm-linux-gnueabihf)
set(pellmar_cross_emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
