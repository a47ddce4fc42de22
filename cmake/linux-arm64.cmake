# Cross-compiles for 64-bit ARM Linux (aarch64-linux-gnu), where char is unsigned. Target programs
# run under qemu's user-mode emulation, so CTest and gtest_discover_tests work as on a native
# build. There is no ARM JVM here: the JUnit suite does not run. The JNI headers are the host
# JDK's: Linux's jni_md.h is the same for every architecture.
set(USB3K_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

# Cached, so that a -D on the command line can replace it. -L: the ARM C library and loader.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu
    CACHE STRING "runs target programs: qemu-aarch64 and the ARM system root")
