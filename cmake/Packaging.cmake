# What `cmake --install` puts where, and the packages CPack makes from it. Included last from the
# top-level CMakeLists.txt, once every target exists.
#
# Linux, one Debian package per component, as Debian's Java policy splits a library:
#   java      libusb3k-java (all architectures): usb3k.jar, the user README and its documents.
#   jni       libusb3k-jni: libusb3k.so and the udev rule that lets a user open a USB-3000.
#   tools     usb3k-tools: usb3k-probe with its manual page, and the demo (usb3k-demo.jar with its
#             JNI library).
#   emulator  usb3k-emulator: the emulated D2XX and USB-3000, its Java control API and that API's
#             JNI library, for tests of applications built on usb3k.
#   server    usb3k-server: the program, its systemd service and socket, its configuration file
#             (a conffile, every setting commented out) and its manual page; only when the build
#             has the program (native Linux builds).
# Windows, two zips: the library's (component runtime: usb3k.dll, usb3k.jar, usb3k-probe.exe, a
# README, the license; never the emulator's ftd2xx.dll) and the emulator kit's (emulator).
#
# Debian's layout: JNI libraries in /usr/lib/<multiarch triplet>/jni, which is on the default
# java.library.path of Debian's JVMs, jars in /usr/share/java (a versioned jar and its unversioned
# link). The emulator's D2XX lives in a folder of its own, where neither the system's loader nor
# FTDI's driver looks, so that it can never stand in for a real driver by accident.
include(GNUInstallDirs)

set(USB3K_MAINTAINER "usb3k developers <usb3k@example.org>" CACHE STRING
    "The packages' Maintainer: a name and a mail address that reaches the people who answer")
set(usb3k_packaging ${PROJECT_SOURCE_DIR}/cmake/packaging)
set(usb3k_packaging_out ${PROJECT_BINARY_DIR}/packaging)

# The README a user gets with a package or zip, and the documents it links: each without its
# repository-only parts, between <!-- repository --> and <!-- /repository --> lines.
function(usb3k_user_copy source destination)
    file(READ ${source} text)
    while(TRUE)
        string(FIND "${text}" "<!-- repository -->\n" cut_from)
        string(FIND "${text}" "<!-- /repository -->\n" cut_to)
        if(cut_from LESS 0 OR cut_to LESS cut_from)
            break()
        endif()
        string(SUBSTRING "${text}" 0 ${cut_from} kept)
        math(EXPR cut_to "${cut_to} + 21")
        string(SUBSTRING "${text}" ${cut_to} -1 rest)
        set(text "${kept}${rest}")
    endwhile()
    file(WRITE ${destination} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
usb3k_user_copy(${PROJECT_SOURCE_DIR}/README.md ${usb3k_packaging_out}/README.md)
set(usb3k_user_docs)
foreach(document diagnostics.md java.md)
    usb3k_user_copy(${PROJECT_SOURCE_DIR}/docs/${document} ${usb3k_packaging_out}/docs/${document})
    list(APPEND usb3k_user_docs ${usb3k_packaging_out}/docs/${document})
endforeach()

get_target_property(usb3k_jar usb3k_java JAR_FILE)
get_target_property(usb3k_demo_jar usb3k_demo JAR_FILE)

if(WIN32)
    # Each zip unpacks into one folder named as the zip, so that the emulator's never mixes with
    # the library's; a zip holds no links, so jars go by their plain names.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(USB3K_WINDOWS_ARCH x64)
        set(USB3K_WINDOWS_BITS 64)
    else()
        set(USB3K_WINDOWS_ARCH x86)
        set(USB3K_WINDOWS_BITS 32)
    endif()
    set(usb3k_zip usb3k-${PROJECT_VERSION}-windows-${USB3K_WINDOWS_ARCH})
    set(usb3k_emulator_zip usb3k-emulator-${PROJECT_VERSION}-windows-${USB3K_WINDOWS_ARCH})
    configure_file(${usb3k_packaging}/README-windows.txt ${usb3k_packaging_out}/README.txt @ONLY
                   NEWLINE_STYLE CRLF)
    configure_file(${usb3k_packaging}/README-emulator-windows.txt
                   ${usb3k_packaging_out}/emulator/README.txt @ONLY NEWLINE_STYLE CRLF)
    install(TARGETS usb3k RUNTIME DESTINATION ${usb3k_zip} COMPONENT runtime)
    install(TARGETS usb3k-probe RUNTIME DESTINATION ${usb3k_zip} COMPONENT runtime)
    install(FILES ${usb3k_jar} DESTINATION ${usb3k_zip} RENAME usb3k.jar COMPONENT runtime)
    install(FILES ${usb3k_packaging_out}/README.txt ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION ${usb3k_zip} COMPONENT runtime)
    if(TARGET usb3k_emulator_jni)
        get_target_property(usb3k_emulator_jar usb3k_emulator_java JAR_FILE)
        install(TARGETS ftd2xx usb3k_emulator_jni RUNTIME DESTINATION ${usb3k_emulator_zip}
                COMPONENT emulator)
        install(FILES ${usb3k_emulator_jar} DESTINATION ${usb3k_emulator_zip}
                RENAME usb3k-emulator.jar COMPONENT emulator)
        install(FILES ${usb3k_packaging_out}/emulator/README.txt ${PROJECT_SOURCE_DIR}/LICENSE
                DESTINATION ${usb3k_emulator_zip} COMPONENT emulator)
    endif()
else()
    set(usb3k_lib_dir lib)
    if(CMAKE_LIBRARY_ARCHITECTURE)
        set(usb3k_lib_dir lib/${CMAKE_LIBRARY_ARCHITECTURE})
    endif()
    set(usb3k_jni_dir ${usb3k_lib_dir}/jni)
    set(usb3k_emulator_dir ${usb3k_lib_dir}/usb3k-emulator)
    set(usb3k_jar_dir share/java)
    set(usb3k_doc_dir share/doc)

    # Every package's copyright and changelog, as Debian wants them.
    configure_file(${usb3k_packaging}/changelog.in ${usb3k_packaging_out}/changelog @ONLY)
    execute_process(COMMAND gzip -9 -n -f -k ${usb3k_packaging_out}/changelog)
    configure_file(${usb3k_packaging}/usb3k-probe.1 ${usb3k_packaging_out}/usb3k-probe.1 @ONLY)
    execute_process(COMMAND gzip -9 -n -f -k ${usb3k_packaging_out}/usb3k-probe.1)
    set(package_of_java libusb3k-java)
    set(package_of_jni libusb3k-jni)
    set(package_of_tools usb3k-tools)
    set(package_of_emulator usb3k-emulator)
    foreach(component java jni tools emulator)
        install(FILES ${usb3k_packaging}/copyright ${usb3k_packaging_out}/changelog.gz
                DESTINATION ${usb3k_doc_dir}/${package_of_${component}} COMPONENT ${component})
    endforeach()

    install_jar(usb3k_java DESTINATION ${usb3k_jar_dir} COMPONENT java)
    install(FILES ${usb3k_packaging_out}/README.md DESTINATION ${usb3k_doc_dir}/libusb3k-java
            COMPONENT java)
    install(FILES ${usb3k_user_docs} DESTINATION ${usb3k_doc_dir}/libusb3k-java/docs
            COMPONENT java)

    install(TARGETS usb3k LIBRARY DESTINATION ${usb3k_jni_dir} COMPONENT jni)
    # Debian's udev reads packages' rules from /lib/udev/rules.d.
    install(FILES ${usb3k_packaging}/60-usb3k.rules DESTINATION /lib/udev/rules.d COMPONENT jni)

    install(TARGETS usb3k-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    install(FILES ${usb3k_packaging_out}/usb3k-probe.1.gz DESTINATION share/man/man1
            COMPONENT tools)
    # The demo's manifest finds usb3k.jar in /usr/share/java; its JNI library sits beside
    # libusb3k.so on the default java.library.path.
    install(FILES ${usb3k_demo_jar} DESTINATION share/usb3k-tools COMPONENT tools)
    install(TARGETS usb3k_demo_support LIBRARY DESTINATION ${usb3k_jni_dir} COMPONENT tools)

    if(TARGET usb3k-server)
        configure_file(${usb3k_packaging}/usb3k-server.8 ${usb3k_packaging_out}/usb3k-server.8
                       @ONLY)
        execute_process(COMMAND gzip -9 -n -f -k ${usb3k_packaging_out}/usb3k-server.8)
        set(usb3k_server_files ${usb3k_packaging}/usb3k-server)
        install(FILES ${usb3k_packaging}/copyright ${usb3k_packaging_out}/changelog.gz
                DESTINATION ${usb3k_doc_dir}/usb3k-server COMPONENT server)
        install(TARGETS usb3k-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
        install(FILES ${usb3k_packaging_out}/usb3k-server.8.gz DESTINATION share/man/man8
                COMPONENT server)
        # Debian's systemd reads packages' units from /lib/systemd/system.
        install(FILES ${usb3k_server_files}/usb3k-server.service
                ${usb3k_server_files}/usb3k-server.socket DESTINATION /lib/systemd/system
                COMPONENT server)
        install(FILES ${usb3k_server_files}/server.conf DESTINATION /etc/usb3k COMPONENT server)
    endif()

    if(TARGET usb3k_emulator_jni)
        install(TARGETS ftd2xx LIBRARY DESTINATION ${usb3k_emulator_dir} COMPONENT emulator)
        # On java.library.path like the library; it finds the emulator's D2XX in the private
        # folder, and once it is loaded, the library's own load of libftd2xx.so finds that one too.
        # Built with that run path too: a run path CMake would rewrite at install holds empty
        # entries meanwhile, which the loader reads as the current folder. In the build,
        # LD_LIBRARY_PATH finds the emulator.
        set_target_properties(usb3k_emulator_jni PROPERTIES
            INSTALL_RPATH "$ORIGIN/../usb3k-emulator" BUILD_WITH_INSTALL_RPATH ON)
        install(TARGETS usb3k_emulator_jni LIBRARY DESTINATION ${usb3k_jni_dir}
                COMPONENT emulator)
        install_jar(usb3k_emulator_java DESTINATION ${usb3k_jar_dir} COMPONENT emulator)
        install(FILES sim/PACKAGE-README.md DESTINATION ${usb3k_doc_dir}/usb3k-emulator
                RENAME README.md COMPONENT emulator)
    endif()
endif()

set(CPACK_PACKAGE_NAME usb3k)
set(CPACK_PACKAGE_VENDOR "the usb3k developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${USB3K_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "USB-3000 voice decoding for Java through FTDI's D2XX")
    set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL runtime)
    if(TARGET usb3k_emulator_jni)
        list(APPEND CPACK_COMPONENTS_ALL emulator)
    endif()
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    set(CPACK_ARCHIVE_RUNTIME_FILE_NAME ${usb3k_zip})
    set(CPACK_ARCHIVE_EMULATOR_FILE_NAME ${usb3k_emulator_zip})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL java jni tools)
    if(TARGET usb3k_emulator_jni)
        list(APPEND CPACK_COMPONENTS_ALL emulator)
    endif()
    if(TARGET usb3k-server)
        list(APPEND CPACK_COMPONENTS_ALL server)
    endif()
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${USB3K_MAINTAINER}")
    set(CPACK_DEBIAN_PACKAGE_SOURCE usb3k)
    set(CPACK_DEBIAN_PACKAGE_SECTION java)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # The package's architecture is the target's, which for a cross build is not the machine's.
    if(CMAKE_CROSSCOMPILING)
        if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
            set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
        elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
            set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
        elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
            set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
        endif()
    endif()
    # Dependencies from what the binaries link (dpkg-shlibdeps, which knows only the machine's own
    # architecture's libraries: a cross build names the same ones by hand), plus a JVM.
    set(usb3k_jvm "default-jre-headless | java17-runtime-headless")
    set(usb3k_same "(= ${PROJECT_VERSION})")
    if(CMAKE_CROSSCOMPILING)
        set(usb3k_shlibs "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
    else()
        set(usb3k_shlibs "")
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
            ${CMAKE_INSTALL_PREFIX}/${usb3k_emulator_dir})
    endif()

    set(CPACK_DEBIAN_JAVA_PACKAGE_NAME libusb3k-java)
    set(CPACK_DEBIAN_JAVA_PACKAGE_ARCHITECTURE all)
    set(CPACK_DEBIAN_JAVA_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_JAVA_PACKAGE_DEPENDS "libusb3k-jni ${usb3k_same}")
    set(CPACK_DEBIAN_JAVA_DESCRIPTION
        "USB-3000 voice decoding for Java: the jar
usb3k.jar (com.pelmar.usb3k) decodes VCW voice frames with a USB-3000
vocoder reached through FTDI's D2XX driver: 7-byte frames in, 320 bytes
of 16-bit speech per frame out. Java 17 or later.
.
FTDI's D2XX driver (libftd2xx.so) must be installed separately.")

    set(CPACK_DEBIAN_JNI_PACKAGE_NAME libusb3k-jni)
    set(CPACK_DEBIAN_JNI_PACKAGE_SECTION libs)
    set(CPACK_DEBIAN_JNI_PACKAGE_DEPENDS "${usb3k_shlibs}")
    # 0.1.0 shipped all of libusb3k-java, libusb3k-jni and usb3k-tools as one package, usb3k.
    foreach(component JAVA JNI TOOLS)
        set(CPACK_DEBIAN_${component}_PACKAGE_BREAKS "usb3k (<< 0.2.0)")
        set(CPACK_DEBIAN_${component}_PACKAGE_REPLACES "usb3k (<< 0.2.0)")
    endforeach()
    set(CPACK_DEBIAN_JNI_PACKAGE_RECOMMENDS "libusb3k-java ${usb3k_same}")
    # Its postinst (CPack takes the name from the file's) applies the udev rule to the devices
    # already attached.
    set(CPACK_DEBIAN_JNI_PACKAGE_CONTROL_EXTRA ${usb3k_packaging}/libusb3k-jni/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_JNI_DESCRIPTION
        "USB-3000 voice decoding for Java: the native library
libusb3k.so, which usb3k.jar loads from the default java.library.path,
and a udev rule that gives the user at the seat and the members of
plugdev access to an attached USB-3000.
.
The library loads FTDI's D2XX driver (libftd2xx.so) at run time; it
must be installed separately.")

    set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME usb3k-tools)
    set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
        "libusb3k-java ${usb3k_same}, libusb3k-jni ${usb3k_same}, ${usb3k_jvm}")
    set(CPACK_DEBIAN_TOOLS_DESCRIPTION
        "USB-3000 voice decoding for Java: probe and demo
usb3k-probe lists the FTDI devices and checks each USB-3000 the way the
library uses it, or checks a usb3k-server's (--server); its report is
meant for bug reports. The demo program
/usr/share/usb3k-tools/usb3k-demo.jar decodes a VCW file into a WAV file.")

    set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME usb3k-emulator)
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
    # The emulated D2XX alone serves a trial of usb3k-server or usb3k-probe, so the package
    # installs alone from its .deb; its Java kit needs the Java API of the same release.
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_DEPENDS "${usb3k_shlibs}")
    set(CPACK_DEBIAN_EMULATOR_PACKAGE_RECOMMENDS
        "libusb3k-java ${usb3k_same}, libusb3k-jni ${usb3k_same}")
    set(CPACK_DEBIAN_SERVER_PACKAGE_NAME usb3k-server)
    set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
    # libusb3k-jni brings the udev rule that gives the group plugdev, which the service runs in,
    # the USB-3000s; adduser makes the user usb3k.
    set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libusb3k-jni ${usb3k_same}, adduser")
    # postinst makes the user, postrm has systemd forget the units; conffiles names the
    # configuration file, which an upgrade then never overwrites unasked.
    set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${usb3k_packaging}/usb3k-server/postinst
        ${usb3k_packaging}/usb3k-server/postrm ${usb3k_packaging}/usb3k-server/conffiles)
    set(CPACK_DEBIAN_SERVER_DESCRIPTION
        "USB-3000 voice decoding over the network
usb3k-server lends this machine's USB-3000 vocoders to applications on
other machines: POST /v1/decode turns VCW frames into WAV or PCM speech,
GET /v1/stream decodes live over a WebSocket, with bearer tokens, TLS,
a fair queue across tokens, /healthz, /readyz and Prometheus /metrics.
It runs as a systemd service, with socket activation on port 8443.
.
FTDI's D2XX driver (libftd2xx.so) must be installed separately.")

    if(usb3k_shlibs)
        foreach(component TOOLS SERVER)
            string(PREPEND CPACK_DEBIAN_${component}_PACKAGE_DEPENDS "${usb3k_shlibs}, ")
        endforeach()
    endif()
    set(CPACK_DEBIAN_EMULATOR_DESCRIPTION
        "emulated FTDI D2XX and USB-3000 for testing usb3k applications
A software D2XX library with software USB-3000 devices behind it, with
fault injection, and its Java control API (usb3k-emulator.jar), so that
applications built on usb3k can run their integration tests without
hardware. The emulated D2XX is installed in a private folder and never
stands in for FTDI's driver unless a JVM loads the emulator's classes.")
endif()
include(CPack)
