package com.pelmar.usb3k.internal;

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
    private static final String PI_ZERO =
            "processor\t: 0\nmodel name\t: ARMv6-compatible processor rev 7 (v6l)\n"
                    + "Features\t: half thumb fastmult vfp edsp java tls \nCPU architecture: 7\n";

    @TempDir Path temp;

    @Test
    void eachSupportedPlatformGetsItsFolderAndEveryOtherOneLine() {
        String[][] supported = {
            {"Linux", "amd64", null, "linux-x86-64"}, {"Linux", "i386", null, "linux-x86"},
            {"Linux", "aarch64", null, "linux-aarch64"}, {"Linux", "arm", null, "linux-arm"},
            {"Windows 11", "amd64", null, "windows-x86-64"},
            {"Windows 10", "x86", null, "windows-x86"},
            // ARMv7 with VFPv3, and ARMv8 as a 64-bit kernel shows it to a 32-bit JVM.
            {"Linux", "arm", "Features\t: vfp neon vfpv3\nCPU architecture: 7\n", "linux-arm"},
            {"Linux", "arm", "Features\t: fp asimd crc32\nCPU architecture: 8\n", "linux-arm"}
        };
        for (String[] p : supported) {
            Platform platform = new Platform(p[0], p[1], p[2], null);
            assertEquals(p[3], platform.folder());
            assertNull(platform.refusal("x.path"));
        }
        String musl = "/lib/ld-musl-x86_64.so.1";
        String[][] refused = {
            {"Windows 11", "arm", null, null, "no copy for this OS and architecture (Windows 11,"
                    + " arm)"},
            {"Linux", "amd64", null, musl, "no copy for Linux with musl (amd64, " + musl + "): the"
                    + " jar's Linux copies need glibc"},
            // Linux reports the ARMv6 of the Raspberry Pi 1 and Zero as architecture 7.
            {"Linux", "arm", PI_ZERO, null, "no copy for this CPU (ARMv6-compatible processor rev"
                    + " 7 (v6l), CPU architecture 7, features half thumb fastmult vfp edsp java"
                    + " tls): the jar's 32-bit ARM copy needs ARMv7 with VFPv3, a Raspberry Pi 2 or"
                    + " later"}
        };
        for (String[] p : refused) {
            Platform platform = new Platform(p[0], p[1], p[2], p[3]);
            assertNull(platform.folder());
            assertEquals(
                    p[4] + "; the jar has copies for Linux (glibc) on x86-64, x86, aarch64 and"
                            + " ARMv7 with hard float, Windows on x86-64 and x86; a library built"
                            + " for this platform loads with -Dx.path=<its file or folder>",
                    platform.refusal("x.path"));
        }
    }

    @Test
    void aRefusedPlatformStillLoadsTheLibraryTheUserNames() throws Exception {
        Path own = Files.write(temp.resolve("libx.so"), new byte[] {1});
        Platform piZero = new Platform("Linux", "arm", PI_ZERO, null);
        List<String> loaded = new ArrayList<>();
        search(own.toString(), "", piZero, loaded).load("x", null);
        search(null, own.getParent().toString(), piZero, loaded).load("x", null);
        assertEquals(List.of(own.toString(), own.toString()), loaded);

        LibrarySearch jarOnly = search(null, "", piZero, loaded);
        String message =
                assertThrows(UnsatisfiedLinkError.class, () -> jarOnly.load("x", null)).getMessage();
        assertEquals(
                "; the jar: " + piZero.refusal("x.path"),
                message.substring(message.indexOf("; the jar: ")));
    }

    private LibrarySearch search(String explicit, String path, Platform platform, List<String> to) {
        return new LibrarySearch(explicit, "x.path", path, resource -> null, platform,
                List.of(new CachePlace(temp.resolve("cache"), null, null)), name -> "lib" + name + ".so", to::add);
    }
}
