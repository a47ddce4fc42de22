# Builds for 32-bit x86 Linux with Debian's i686 compiler (g++-i686-linux-gnu, which makes 32-bit
# code as -m32 would; the -m32 of g++-multilib cannot be installed beside the ARM compiler). The
# programs run natively, on the i386 C and C++ libraries that the 32-bit JDK brings. The Java side
# is built and tested with that 32-bit JDK, since only a JVM of the same kind loads the library.
set(USB3K_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

# Debian's 32-bit JDK (openjdk-17-jdk-headless:i386). Cached, so that -DJAVA_HOME=... picks
# another. USB3K_JVM_OS_ARCH is what that JVM reports as os.arch: the JUnit suite runs on it.
set(JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "the 32-bit JDK: javac, java, JNI headers")
set(USB3K_JVM_OS_ARCH i386)
