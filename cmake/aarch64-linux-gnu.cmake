# Cross build of the native site for 64-bit ARM: a Raspberry Pi on a 64-bit system, and the
# other small always-on boards a remote site often runs on.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(pellmar_cross_triplet aarch64-linux-gnu)
set(pellmar_cross_emulator qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian_cross.cmake)
