# usb3k-server cross-compiled for another Linux architecture (USB3K_TRIPLET, from the toolchain
# file): Boost, OpenSSL and libsystemd are Debian's packages of the target architecture (multiarch:
# libssl-dev:arm64 beside libssl-dev, say), in /usr/lib/TRIPLET and /usr/include/TRIPLET rather than
# in the cross compiler's system root. Included by server/CMakeLists.txt.

# Debian's multiarch name of the target: i386-linux-gnu for the i686-linux-gnu compiler.
string(REPLACE "i686-" "i386-" usb3k_multiarch ${USB3K_TRIPLET})

list(APPEND CMAKE_FIND_ROOT_PATH /)
list(APPEND CMAKE_LIBRARY_PATH /usr/lib/${usb3k_multiarch})
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${usb3k_multiarch}/pkgconfig:/usr/share/pkgconfig")

# The target's headers that differ by architecture (OpenSSL's configuration, say), searched after
# the cross compiler's own.
add_library(usb3k_multiarch_headers INTERFACE)
target_compile_options(usb3k_multiarch_headers INTERFACE -idirafter /usr/include/${usb3k_multiarch})

# prometheus-cpp-dev cannot be installed for a second architecture (it needs civetweb, which is
# not multiarch): the target's core library, with the headers of the machine's own
# prometheus-cpp-dev, which are the same for every architecture.
find_library(USB3K_PROMETHEUS_CORE NAMES prometheus-cpp-core libprometheus-cpp-core.so.1.0
    PATHS /usr/lib/${usb3k_multiarch} NO_DEFAULT_PATH REQUIRED)
add_library(prometheus-cpp::core UNKNOWN IMPORTED)
set_target_properties(prometheus-cpp::core PROPERTIES IMPORTED_LOCATION ${USB3K_PROMETHEUS_CORE})
