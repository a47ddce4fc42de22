# Cross-compiles for 64-bit ARM Linux (aarch64-linux-gnu), where char is unsigned. Target programs
# run under qemu's user-mode emulation, so CTest and gtest_discover_tests work as on a native
# build. There is no ARM JVM here: the JUnit suite does not run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The JNI headers are the host JDK's: Linux's jni_md.h is the same for every architecture.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# Cached, so that a -D on the command line can replace it. -L: the ARM C library and loader.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu
    CACHE STRING "runs target programs: qemu-aarch64 and the ARM system root")
