# Cross-compiles for 32-bit ARM Linux with hard float (arm-linux-gnueabihf): ARMv7-A with VFPv3-D16
# in Thumb-2, which is Debian armhf's baseline and runs on the Raspberry Pi 2 and later and most
# 32-bit ARM boards, but not on ARMv6 (Raspberry Pi 1 and Zero). char is unsigned there. Target
# programs run under qemu's user-mode emulation, as for 64-bit ARM; the JUnit suite does not run
# (no ARM JVM here), and the JNI headers are the host JDK's.
set(USB3K_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

# Debian's compiler defaults to exactly this; said here so that a compiler with another default
# (an ARMv6 one, say) still makes what the loader's CPU check promises.
set(CMAKE_C_FLAGS_INIT "-march=armv7-a+fp -mfloat-abi=hard -mthumb")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a+fp -mfloat-abi=hard -mthumb")

# Cached, so that a -D on the command line can replace it. -L: the ARM C library and loader.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf
    CACHE STRING "runs target programs: qemu-arm and the ARM system root")
