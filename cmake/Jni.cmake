# The JDK, the JNI header generated from USB3KBridge.java, and one way to make a library the JVM
# loads. Included from the top-level CMakeLists.txt before any folder that makes one.
find_package(Java 17 REQUIRED COMPONENTS Development)
# CMake's FindJNI looks only at JAVA_HOME and the distribution's default-java link: take the JDK
# that javac belongs to, so a machine with only a versioned JDK installed builds too.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
    get_filename_component(usb3k_javac "${Java_JAVAC_EXECUTABLE}" REALPATH)
    get_filename_component(usb3k_jdk_bin "${usb3k_javac}" DIRECTORY)
    get_filename_component(JAVA_HOME "${usb3k_jdk_bin}" DIRECTORY)
endif()
# Only the JNI headers are used: the JVM loads our libraries, which never link the JVM itself, so
# a JDK without the AWT libraries that FindJNI also looks for is enough. (The Windows build has
# JAVA_INCLUDE_PATH and JAVA_INCLUDE_PATH2 set by cmake/win32.cmake: jni.h and our jni_md.h.)
find_package(JNI QUIET)
if(NOT JAVA_INCLUDE_PATH OR NOT JAVA_INCLUDE_PATH2)
    message(FATAL_ERROR "JNI headers not found: install default-jdk-headless or set JAVA_HOME")
endif()
add_library(usb3k_jni_headers INTERFACE)
target_include_directories(usb3k_jni_headers INTERFACE ${JAVA_INCLUDE_PATH} ${JAVA_INCLUDE_PATH2})
include(UseJava)

# Every warning but [path]: the demo jar's Class-Path names usb3k.jar where it may be, in the build or
# installed, and javac warns of each place it is not.
set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all,-path -Werror --release 17)
# The public Java API (com.pelmar.usb3k, the emulator kit) carries its documentation: a public or
# protected member without a comment, @param or @return fails the build.
list(APPEND CMAKE_JAVA_COMPILE_FLAGS
    -Xdoclint:all/protected -Xdoclint/package:com.pelmar.usb3k,com.pelmar.usb3k.emulator)

# The class an application declares (usb3k.jar) with, in com.pelmar.usb3k, the friendlier API over
# the library's handle-based interface (Usb3kNative), and from both the headers the bridge includes
# (usb3k_jni), so that a native function that differs from the Java declaration fails to compile.
# The jar carries the project's version in its name (usb3k.jar links to it) and its manifest.
configure_file(${PROJECT_SOURCE_DIR}/java/manifests/usb3k.mf.in
    ${PROJECT_BINARY_DIR}/java/usb3k.mf @ONLY)
add_jar(usb3k_java
    SOURCES
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/base/audio/codec/USB3KBridge.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kDecoder.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kDevice.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kDeviceListener.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kDeviceWatch.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kException.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/Usb3kNative.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/NativeResult.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/LibraryLog.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/FrameNotDecodedException.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/FrameConcealedListener.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/ConcealingDecoder.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/SpeechInputStream.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/PendingFile.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/FileFailure.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/ChunkDecoder.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/JsonText.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/RemoteServer.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/RemoteStream.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/RemoteDecoding.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/TokenFile.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/NativeLibrary.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/LibrarySearch.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/LibraryCache.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/CachePlace.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/IoWords.java
        ${PROJECT_SOURCE_DIR}/java/src/com/pelmar/usb3k/internal/Platform.java
    RESOURCES NAMESPACE META-INF ${PROJECT_SOURCE_DIR}/LICENSE
    OUTPUT_NAME usb3k
    VERSION ${PROJECT_VERSION}
    OUTPUT_DIR ${PROJECT_BINARY_DIR}/java
    MANIFEST ${PROJECT_BINARY_DIR}/java/usb3k.mf
    GENERATE_NATIVE_HEADERS usb3k_jni DESTINATION ${PROJECT_BINARY_DIR}/java/jni)

# usb3k_jni_library(target source...): a shared library that a JVM loads with
# System.loadLibrary(target's name): JNI headers, the warning that turns a native function whose
# signature differs from its generated header into a compile error (it then has no prior
# declaration), and the native methods as its only exports, under the names a JVM looks for.
function(usb3k_jni_library target)
    add_library(${target} SHARED ${ARGN})
    target_compile_options(${target} PRIVATE -Wmissing-declarations)
    target_link_libraries(${target} PRIVATE usb3k_jni_headers)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    # No run path: the library must find nothing the system's loader would not.
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        SKIP_BUILD_RPATH ON)
    if(WIN32)
        # System.loadLibrary("x") looks for x.dll, and a 32-bit JVM looks a native method up by
        # its plain name (or _name@N): MinGW would name the DLL libx.dll and export name@N.
        set_target_properties(${target} PROPERTIES PREFIX "")
        target_link_options(${target} PRIVATE -Wl,--kill-at)
    else()
        target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL
            -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/jni.map)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
            ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/jni.map)
        if(COMMAND usb3k_glibc_baseline)
            usb3k_glibc_baseline(${target})
        endif()
    endif()
endfunction()
