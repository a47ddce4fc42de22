# What the Linux cross toolchain files share: Debian's USB3K_TRIPLET-gcc and -g++ and the system
# root beside them. A toolchain file sets USB3K_TRIPLET and CMAKE_SYSTEM_PROCESSOR, then includes
# this one.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${USB3K_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${USB3K_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${USB3K_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The JNI headers are a JDK's, outside the system root.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
