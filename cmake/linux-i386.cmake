# Builds for 32-bit x86 Linux with Debian's i686 compiler (g++-i686-linux-gnu, which makes 32-bit
# code as -m32 would; the -m32 of g++-multilib cannot be installed beside the ARM compiler). The
# programs run natively, on the i386 C and C++ libraries that the 32-bit JDK brings. The Java side
# is built and tested with that 32-bit JDK, since only a JVM of the same kind loads the library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The JNI headers are the JDK's, outside the system root.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# Debian's 32-bit JDK (openjdk-17-jdk-headless:i386). Cached, so that -DJAVA_HOME=... picks
# another. USB3K_JVM_OS_ARCH is what that JVM reports as os.arch: the JUnit suite runs on it.
set(JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "the 32-bit JDK: javac, java, JNI headers")
set(USB3K_JVM_OS_ARCH i386)
