package com.pelmar.usb3k.internal;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Which of the jar's native copies runs on this JVM, or why none does. Everything it reads from
 * the machine is passed to its constructor, so that a test can give any platform.
 *
 * <p>The jar's Linux copies are built for glibc: on a JVM that runs on musl (Alpine and other
 * musl-based systems) they would fail to load with an unreadable list of missing symbols. The
 * 32-bit ARM copy needs ARMv7 with VFPv3: an older CPU (ARMv6: Raspberry Pi 1 and Zero) would kill
 * the JVM with an illegal instruction at the first call. Both are refused before the copy is
 * loaded, with a word on what to do instead.
 */
final class Platform {
    /** The platforms the jar has copies for, in words. */
    static final String SUPPORTED =
            "Linux (glibc) on x86-64, x86, aarch64 and ARMv7 with hard float, Windows on x86-64 and"
                    + " x86";

    /** The instruction-set features, any of which shows an ARM CPU with at least VFPv3-D16. */
    private static final List<String> VFPV3_FEATURES = List.of("vfpv3", "vfpv3d16", "vfpv4");

    private final String osName;
    private final String osArch;
    private final String cpuInfo;
    private final String muslLoader;

    /**
     * @param osName the JVM's {@code os.name}
     * @param osArch the JVM's {@code os.arch}
     * @param cpuInfo the text of {@code /proc/cpuinfo}, or null when it could not be read
     * @param muslLoader musl's dynamic loader when it is mapped into this JVM, else null
     */
    Platform(String osName, String osArch, String cpuInfo, String muslLoader) {
        this.osName = osName;
        this.osArch = osArch;
        this.cpuInfo = cpuInfo;
        this.muslLoader = muslLoader;
    }

    /** This JVM's platform. On Linux it reads what it needs from {@code /proc}. */
    static Platform current() {
        String osName = System.getProperty("os.name", "");
        String osArch = System.getProperty("os.arch", "");
        if (!osName.toLowerCase(Locale.ROOT).startsWith("linux")) {
            return new Platform(osName, osArch, null, null);
        }
        String cpuInfo = null;
        if (osArch.equalsIgnoreCase("arm")) {
            try {
                cpuInfo = Files.readString(Path.of("/proc/cpuinfo"));
            } catch (IOException | RuntimeException e) {
                // Unreadable: nothing is known of the CPU, and nothing is refused for it.
            }
        }
        return new Platform(osName, osArch, cpuInfo, mappedMuslLoader());
    }

    /**
     * musl's loader, {@code /lib/ld-musl-<arch>.so.1}, when this JVM runs on it; else null. musl's
     * loader is also its C library, so it is mapped into every process that runs on musl. That it
     * is in /lib does not tell: a glibc system may have musl installed beside glibc (Debian's
     * package puts a link there). So the file it names must be mapped into this process, and
     * /proc/self/maps names files by their real paths.
     */
    private static String mappedMuslLoader() {
        List<Path> loaders = new ArrayList<>();
        try (DirectoryStream<Path> found =
                Files.newDirectoryStream(Path.of("/lib"), "ld-musl-*.so.1")) {
            found.forEach(loaders::add);
        } catch (IOException | RuntimeException e) {
            return null;
        }
        if (loaders.isEmpty()) {
            return null;
        }
        Set<String> mapped;
        try (Stream<String> maps = Files.lines(Path.of("/proc/self/maps"))) {
            mapped =
                    maps.map(line -> line.substring(line.lastIndexOf(' ') + 1))
                            .collect(Collectors.toSet());
        } catch (IOException | RuntimeException e) {
            return null;
        }
        for (Path loader : loaders) {
            try {
                if (mapped.contains(loader.toRealPath().toString())) {
                    return loader.toString();
                }
            } catch (IOException e) {
                // A dangling link: musl is not there, so nothing runs on it.
            }
        }
        return null;
    }

    /** The jar's folder for this platform below the native folder; null when none runs here. */
    String folder() {
        return reason() == null ? osPart() + "-" + archPart() : null;
    }

    /**
     * Why none of the jar's copies runs here, in one line that names this platform, the supported
     * ones and the way to load a library built for this one; null when a copy runs here.
     *
     * @param pathProperty the system property that names a library to load instead
     */
    String refusal(String pathProperty) {
        String reason = reason();
        if (reason == null) {
            return null;
        }
        return reason
                + "; the jar has copies for "
                + SUPPORTED
                + "; a library built for this platform loads with -D"
                + pathProperty
                + "=<its file or folder>";
    }

    private String reason() {
        String os = osPart();
        String arch = archPart();
        if (os == null || arch == null) {
            return "no copy for this OS and architecture (" + osName + ", " + osArch + ")";
        }
        if (muslLoader != null) {
            return "no copy for Linux with musl ("
                    + osArch
                    + ", "
                    + muslLoader
                    + "): the jar's Linux copies need glibc";
        }
        if (arch.equals("arm") && cpuInfo != null && !armv7WithVfpv3()) {
            return "no copy for this CPU ("
                    + armCpu()
                    + "): the jar's 32-bit ARM copy needs ARMv7 with VFPv3, a Raspberry Pi 2 or"
                    + " later";
        }
        return null;
    }

    private String osPart() {
        String os = osName.toLowerCase(Locale.ROOT);
        return os.startsWith("windows") ? "windows" : os.startsWith("linux") ? "linux" : null;
    }

    private String archPart() {
        switch (osArch.toLowerCase(Locale.ROOT)) {
            case "amd64":
            case "x86_64":
                return "x86-64";
            case "x86":
            case "i386":
            case "i486":
            case "i586":
            case "i686":
                return "x86";
            case "aarch64":
            case "arm64":
                return "aarch64";
            case "arm":
                // What a 32-bit ARM JVM reports; the jar has that copy for Linux only.
                return "linux".equals(osPart()) ? "arm" : null;
            default:
                return null;
        }
    }

    /**
     * Whether /proc/cpuinfo shows a CPU the ARMv7 hard-float copy runs on. "CPU architecture" is 7
     * for ARMv7, 8 for ARMv8 (whose 32-bit mode runs ARMv7 code with its floating point), and below
     * 7 for older CPUs, except that Linux reports the ARMv6 ARM1176 (Raspberry Pi 1 and Zero) as 7:
     * for 7, the "Features" line must also name VFPv3 (which Linux lists as "vfpv3", with
     * "vfpv3d16" or "vfpv4" beside it), which no ARMv6 CPU has. An 8 under a 64-bit kernel comes
     * with that kernel's features ("fp asimd"), so its features are not looked at. A text without
     * a "CPU architecture" that starts with a number tells nothing and refuses nothing.
     */
    private boolean armv7WithVfpv3() {
        String architecture = field("CPU architecture");
        int digits = 0;
        while (architecture != null
                && digits < Math.min(architecture.length(), 3)
                && Character.isDigit(architecture.charAt(digits))) {
            digits++;
        }
        if (digits == 0) {
            return true;
        }
        int version = Integer.parseInt(architecture.substring(0, digits));
        if (version != 7) {
            return version > 7;
        }
        String features = field("Features");
        return features != null
                && Arrays.stream(features.split("\\s+")).anyMatch(VFPV3_FEATURES::contains);
    }

    /** The CPU as /proc/cpuinfo names it, for the message. */
    private String armCpu() {
        String model = field("model name");
        if (model == null) {
            model = field("Processor");
        }
        String features = field("Features");
        return (model == null ? "unnamed ARM CPU" : model)
                + ", CPU architecture "
                + field("CPU architecture")
                + ", features "
                + (features == null ? "none listed" : features);
    }

    /** The value of the first line of /proc/cpuinfo with this name; null when there is none. */
    private String field(String name) {
        for (String line : cpuInfo.split("\n")) {
            int colon = line.indexOf(':');
            if (colon > 0 && line.substring(0, colon).trim().equals(name)) {
                return line.substring(colon + 1).trim();
            }
        }
        return null;
    }
}
