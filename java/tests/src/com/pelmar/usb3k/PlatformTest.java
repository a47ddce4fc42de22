package com.pelmar.usb3k;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Which of the jar's copies a platform gets, and the one line that says why none runs there. */
class PlatformTest {
    private static final String TAIL =
            "; the jar has copies for Linux (glibc) on x86-64, x86, aarch64 and ARMv7 with hard"
                    + " float, Windows on x86-64 and x86; a library built for this platform loads"
                    + " with -Dusb3k.library.path=<its file or folder>";
    private static final String PI_ZERO =
            "processor\t: 0\nmodel name\t: ARMv6-compatible processor rev 7 (v6l)\n"
                    + "Features\t: half thumb fastmult vfp edsp java tls \nCPU architecture: 7\n";
    private static final String PI_2 =
            "processor\t: 0\nmodel name\t: ARMv7 Processor rev 5 (v7l)\nFeatures\t: half thumb"
                    + " fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt\nCPU architecture: 7\n";
    private static final String ARM64_KERNEL =
            "processor\t: 0\nFeatures\t: fp asimd evtstrm crc32 cpuid\nCPU architecture: 8\n";
    private static final String OLD_KERNEL_ARMV5 =
            "Processor\t: Feroceon 88FR131 rev 1 (v5l)\nFeatures\t: swp half thumb fastmult edsp\n"
                    + "CPU architecture: 5TE\n";

    @TempDir Path temp;

    private static String refusal(String os, String arch, String cpuInfo, String musl) {
        return new Platform(os, arch, cpuInfo, musl).refusal("usb3k.library.path");
    }

    @Test
    void eachSupportedPlatformGetsItsFolderAndEveryOtherOneLine() {
        String[][] folders = {
            {"Linux", "amd64", "linux-x86-64"}, {"Linux", "i386", "linux-x86"},
            {"Linux", "aarch64", "linux-aarch64"}, {"Linux", "arm", "linux-arm"},
            {"Windows 11", "amd64", "windows-x86-64"}, {"Windows 10", "x86", "windows-x86"}
        };
        for (String[] f : folders) {
            assertEquals(f[2], new Platform(f[0], f[1], null, null).folder());
            assertNull(refusal(f[0], f[1], null, null));
        }
        // An ARM CPU that /proc/cpuinfo shows as ARMv7 with VFPv3, or as ARMv8, runs the copy.
        assertEquals("linux-arm", new Platform("Linux", "arm", PI_2, null).folder());
        assertEquals("linux-arm", new Platform("Linux", "arm", ARM64_KERNEL, null).folder());

        assertNull(new Platform("Mac OS X", "aarch64", null, null).folder());
        assertEquals(
                "no copy for this OS and architecture (Mac OS X, aarch64)" + TAIL,
                refusal("Mac OS X", "aarch64", null, null));
        assertEquals(
                "no copy for this OS and architecture (Windows 11, arm)" + TAIL,
                refusal("Windows 11", "arm", null, null));
        assertEquals(
                "no copy for Linux with musl (amd64, /lib/ld-musl-x86_64.so.1): the jar's Linux"
                        + " copies need glibc"
                        + TAIL,
                refusal("Linux", "amd64", null, "/lib/ld-musl-x86_64.so.1"));
        // Linux reports the ARMv6 of the Raspberry Pi 1 and Zero as architecture 7, without VFPv3.
        assertEquals(
                "no copy for this CPU (ARMv6-compatible processor rev 7 (v6l), CPU architecture 7,"
                        + " features half thumb fastmult vfp edsp java tls): the jar's 32-bit ARM"
                        + " copy needs ARMv7 with VFPv3, a Raspberry Pi 2 or later"
                        + TAIL,
                refusal("Linux", "arm", PI_ZERO, null));
        assertEquals(
                "no copy for this CPU (Feroceon 88FR131 rev 1 (v5l), CPU architecture 5TE, features"
                        + " swp half thumb fastmult edsp): the jar's 32-bit ARM copy needs ARMv7"
                        + " with VFPv3, a Raspberry Pi 2 or later"
                        + TAIL,
                refusal("Linux", "arm", OLD_KERNEL_ARMV5, null));
    }

    @Test
    void aRefusedPlatformStillLoadsTheLibraryTheUserNames() throws Exception {
        Path own = Files.createDirectories(temp.resolve("own")).resolve("libusb3k.so");
        Files.write(own, new byte[] {1});
        List<String> loaded = new ArrayList<>();
        Platform piZero = new Platform("Linux", "arm", PI_ZERO, null);
        for (String explicit : new String[] {own.toString(), null}) {
            new LibrarySearch(
                            explicit, "usb3k.library.path", own.getParent().toString(),
                            path -> null, piZero, temp.resolve("cache"),
                            name -> "lib" + name + ".so", loaded::add)
                    .load("usb3k");
        }
        assertEquals(List.of(own.toString(), own.toString()), loaded);

        LibrarySearch jarOnly =
                new LibrarySearch(
                        null, "usb3k.library.path", "", path -> null, piZero, temp.resolve("cache"),
                        name -> "lib" + name + ".so", loaded::add);
        UnsatisfiedLinkError error =
                assertThrows(UnsatisfiedLinkError.class, () -> jarOnly.load("usb3k"));
        String message = error.getMessage();
        assertEquals(
                "; the jar: " + refusal("Linux", "arm", PI_ZERO, null),
                message.substring(message.indexOf("; the jar: ")));
    }
}
