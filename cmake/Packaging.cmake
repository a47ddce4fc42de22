# What `cmake --install` puts where, and the packages CPack makes from it. Included last from the
# top-level CMakeLists.txt, once every target exists.
#
#   runtime   the library, usb3k.jar, usb3k-probe and the README: the Debian package `usb3k`, or the
#             Windows zip. Never the emulator.
#   emulator  the emulated D2XX and USB-3000, its Java control API and that API's JNI library: the
#             Debian package `usb3k-emulator`, for tests of applications built on usb3k.
#
# Debian's layout: JNI libraries in /usr/lib/<multiarch triplet>/jni, which is on the default
# java.library.path of Debian's JVMs, jars in /usr/share/java (a versioned jar and its unversioned
# link). The emulator's D2XX lives in a folder of its own, where neither the system's loader nor
# FTDI's driver looks, so that it can never stand in for a real driver by accident.
include(GNUInstallDirs)

if(WIN32)
    # The zip's top folder holds everything.
    set(usb3k_jni_dir .)
else()
    set(usb3k_lib_dir lib)
    if(CMAKE_LIBRARY_ARCHITECTURE)
        set(usb3k_lib_dir lib/${CMAKE_LIBRARY_ARCHITECTURE})
    endif()
    set(usb3k_jni_dir ${usb3k_lib_dir}/jni)
    set(usb3k_emulator_dir ${usb3k_lib_dir}/usb3k-emulator)
    set(usb3k_jar_dir share/java)
    set(usb3k_doc_dir share/doc)
endif()

install(TARGETS usb3k LIBRARY DESTINATION ${usb3k_jni_dir} COMPONENT runtime
                      RUNTIME DESTINATION ${usb3k_jni_dir} COMPONENT runtime)
if(WIN32)
    # A zip holds no links: the jar under its plain name.
    get_target_property(usb3k_jar usb3k_java JAR_FILE)
    install(FILES README.md DESTINATION . COMPONENT runtime)
    install(FILES ${usb3k_jar} DESTINATION . RENAME usb3k.jar COMPONENT runtime)
else()
    install_jar(usb3k_java DESTINATION ${usb3k_jar_dir} COMPONENT runtime)
    install(FILES README.md DESTINATION ${usb3k_doc_dir}/usb3k COMPONENT runtime)
    install(TARGETS usb3k-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

if(TARGET ftd2xx AND TARGET usb3k_emulator_jni AND NOT WIN32)
    install(TARGETS ftd2xx LIBRARY DESTINATION ${usb3k_emulator_dir} COMPONENT emulator)
    # On java.library.path like the library; it finds the emulator's D2XX in the private folder,
    # and once it is loaded, the library's own load of libftd2xx.so finds that one too.
    # Built with that run path too: a run path CMake would rewrite at install holds empty entries
    # meanwhile, which the loader reads as the current folder. In the build, LD_LIBRARY_PATH
    # finds the emulator.
    set_target_properties(usb3k_emulator_jni PROPERTIES
        INSTALL_RPATH "$ORIGIN/../usb3k-emulator" BUILD_WITH_INSTALL_RPATH ON)
    install(TARGETS usb3k_emulator_jni LIBRARY DESTINATION ${usb3k_jni_dir} COMPONENT emulator)
    install_jar(usb3k_emulator_java DESTINATION ${usb3k_jar_dir} COMPONENT emulator)
    install(FILES sim/PACKAGE-README.md DESTINATION ${usb3k_doc_dir}/usb3k-emulator
            RENAME README.md COMPONENT emulator)
endif()

set(CPACK_PACKAGE_NAME usb3k)
set(CPACK_PACKAGE_VENDOR usb3k)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "usb3k maintainers")
# The license is the owner's to choose: CPACK_RESOURCE_FILE_LICENSE and the packages' copyright
# file go here once there is one.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
    # One zip per Windows target: usb3k.dll, the jar, the README; never the emulator's ftd2xx.dll.
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "USB-3000 voice decoding for Java through FTDI's D2XX")
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
    set(CPACK_COMPONENTS_ALL runtime)
    set(CPACK_PACKAGE_FILE_NAME usb3k-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL runtime emulator)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION java)
    # Each package's description below: its first line is the package's summary.
    # The package's architecture is the target's, which for a cross build is not the machine's.
    if(CMAKE_CROSSCOMPILING)
        if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
            set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
        elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
            set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
        endif()
    endif()
    # Dependencies from what the binaries link (dpkg-shlibdeps, which knows only the machine's own
    # architecture's libraries: a cross build names the same ones by hand), plus a JVM.
    set(usb3k_jvm "default-jre-headless | java17-runtime-headless")
    if(CMAKE_CROSSCOMPILING)
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
            "${usb3k_jvm}, libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
    else()
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
            ${CMAKE_INSTALL_PREFIX}/${usb3k_emulator_dir})
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${usb3k_jvm}")
    endif()
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME usb3k)
    set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
        "USB-3000 voice decoding for Java through FTDI's D2XX
The JNI library (on the default java.library.path), usb3k.jar and the usb3k-probe
device check. Java passes 7-byte VCW frames; the USB-3000 decodes each into 320 bytes
of 16-bit speech.

FTDI's D2XX driver (libftd2xx.so) must be installed separately: the library loads it
at run time and, without it, reports that no device was found.")
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME usb3k-emulator)
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_DEPENDS "usb3k (= ${PROJECT_VERSION})")
    set(CPACK_DEBIAN_EMULATOR_DESCRIPTION
        "emulated FTDI D2XX and USB-3000 for testing usb3k applications
A software D2XX library with software USB-3000 devices behind it, with fault injection,
and its Java control API (usb3k-emulator.jar), so that applications built on usb3k can
run their integration tests without hardware. The emulated D2XX is installed in a
private folder and never stands in for FTDI's driver unless a JVM is pointed at it.")
endif()
include(CPack)
