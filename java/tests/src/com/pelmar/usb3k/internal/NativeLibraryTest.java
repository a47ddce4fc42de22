package com.pelmar.usb3k.internal;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kException;
import java.io.ByteArrayInputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Where the native library comes from, in which order, how the cache guards its copies, and what
 * a failed load says, every time.
 */
class NativeLibraryTest {
    private static final byte[] JAR_COPY = "the jar's libx.so".getBytes(StandardCharsets.UTF_8);
    private static final byte[] JAR_COMPANION =
            "the jar's liby.so".getBytes(StandardCharsets.UTF_8);

    @TempDir Path temp;

    private final List<String> loaded = new ArrayList<>();

    private LibrarySearch search(String explicitPath, String libraryPath, String failing) {
        return search(explicitPath, libraryPath, failing, List.of(place("cache", null)));
    }

    private CachePlace place(String folder, String anchor) {
        Path anchorPath = anchor == null ? null : temp.resolve(anchor);
        return new CachePlace(temp.resolve(folder), anchorPath, "the user's home");
    }

    private LibrarySearch search(
            String explicitPath, String libraryPath, String failing, List<CachePlace> places) {
        Map<String, byte[]> jar =
                Map.of(
                        "com/pelmar/usb3k/native/linux-x86-64/libx.so", JAR_COPY,
                        "com/pelmar/usb3k/native/linux-x86-64/liby.so", JAR_COMPANION);
        return new LibrarySearch(
                explicitPath,
                "x.path",
                libraryPath,
                path -> jar.containsKey(path) ? new ByteArrayInputStream(jar.get(path)) : null,
                "linux-x86-64",
                places,
                name -> "lib" + name + ".so",
                path -> {
                    if (path.equals(failing)) {
                        throw new UnsatisfiedLinkError(path + ": wrong ELF class: ELFCLASS32");
                    }
                    loaded.add(path);
                });
    }

    private Path library(String folder, String file) throws IOException {
        Path path = temp.resolve(folder).resolve(file);
        Files.createDirectories(path.getParent());
        return Files.write(path, new byte[] {1});
    }

    @Test
    void explicitPathThenLibraryPathThenJarAndEveryReasonWhenAllFail() throws Exception {
        Path explicit = library("explicit", "libx.so");
        Path explicitCompanion = library("explicit", "liby.so");
        Path installed = library("installed", "libx.so");
        String libraryPath = "::relative:" + temp.resolve("empty") + ":" + installed.getParent();

        // The property wins over everything, as a folder or as a file; companions beside it first.
        search(explicit.getParent().toString(), libraryPath, null).load("x", null, "y");
        assertEquals(List.of(explicitCompanion.toString(), explicit.toString()), loaded);
        loaded.clear();
        search(explicit.toString(), libraryPath, null).load("x", null);
        assertEquals(List.of(explicit.toString()), loaded);
        loaded.clear();

        // A property naming nothing loadable is an error, never replaced by another copy.
        UnsatisfiedLinkError wrong =
                assertThrows(
                        UnsatisfiedLinkError.class,
                        () -> search("relative/libx.so", libraryPath, null).load("x", null));
        assertEquals(
                "cannot load the native library x: -Dx.path=relative/libx.so: not an absolute path",
                wrong.getMessage());
        assertEquals(List.of(), loaded);

        // Without the property: the first absolute folder of java.library.path that has it.
        search(null, libraryPath, null).load("x", null);
        assertEquals(List.of(installed.toString()), loaded);
        loaded.clear();

        // An installed copy that does not load gives way to the jar's, companion first.
        search(null, libraryPath, installed.toString()).load("x", null, "y");
        assertEquals(2, loaded.size());
        assertArrayEquals(JAR_COMPANION, Files.readAllBytes(Path.of(loaded.get(0))));
        assertArrayEquals(JAR_COPY, Files.readAllBytes(Path.of(loaded.get(1))));
        assertEquals(
                temp.resolve("cache").resolve(sha256(JAR_COPY)).resolve("libx.so").toString(),
                loaded.get(1));
        loaded.clear();

        UnsatisfiedLinkError none =
                assertThrows(
                        UnsatisfiedLinkError.class,
                        () -> search(null, "relative", null).load("z", "do this"));
        assertEquals(
                "cannot load the native library z: -Dx.path: not set; java.library.path: no libz.so"
                        + " in relative (relative entries skipped: 'relative'); the jar: no"
                        + " com/pelmar/usb3k/native/linux-x86-64/libz.so in it; to fix: do this",
                none.getMessage());
        assertEquals(List.of(), loaded);

        // A home that does not exist is never made: the next place takes the copies.
        CachePlace home = place("no-home/.cache/usb3k", "no-home");
        search(null, "", null, List.of(home, place("tmp", null))).load("x", null);
        Path fallback = temp.resolve("tmp/" + sha256(JAR_COPY) + "/libx.so");
        assertEquals(List.of(fallback.toString()), loaded);
        assertFalse(Files.exists(temp.resolve("no-home")));
    }

    @Test
    void cacheKeepsPrivateCheckedCopiesEvenWhenManyJvmsExtractAtOnce() throws Exception {
        Path root = temp.resolve("cache");
        Path expected = root.resolve(sha256(JAR_COPY)).resolve("libx.so");

        // Several extractions at once, as from several JVMs: one intact file, in private folders.
        ExecutorService pool = Executors.newFixedThreadPool(8);
        List<Future<Path>> results = new ArrayList<>();
        for (int i = 0; i < 16; i++) {
            Callable<Path> extract =
                    () ->
                            new LibraryCache(new CachePlace(root, null, null))
                                    .extract("libx.so", JAR_COPY);
            results.add(pool.submit(extract));
        }
        for (Future<Path> result : results) {
            assertEquals(expected, result.get());
        }
        pool.shutdown();
        assertArrayEquals(JAR_COPY, Files.readAllBytes(expected));
        assertEquals(List.of(expected), listFiles(root));
        for (Path folder : List.of(root, expected.getParent())) {
            assertEquals(
                    "rwx------",
                    PosixFilePermissions.toString(Files.getPosixFilePermissions(folder)));
        }

        // A copy changed since it was extracted, or a link to a file anyone may change, is replaced
        // before anyone loads it; the link's target is left alone.
        CachePlace place = new CachePlace(root, null, null);
        Files.write(expected, "planted".getBytes(StandardCharsets.UTF_8));
        assertEquals(expected, new LibraryCache(place).extract("libx.so", JAR_COPY));
        assertArrayEquals(JAR_COPY, Files.readAllBytes(expected));
        Path elsewhere = Files.write(temp.resolve("elsewhere.so"), JAR_COPY);
        Files.delete(expected);
        Files.createSymbolicLink(expected, elsewhere);
        new LibraryCache(place).extract("libx.so", JAR_COPY);
        assertTrue(Files.isRegularFile(expected, LinkOption.NOFOLLOW_LINKS));
        assertEquals(List.of(expected, elsewhere), listFiles(temp));

        // Folders of another user's, or that others may write, or below a folder others may write
        // that has no sticky bit, are refused, and nothing is written into them.
        int me = (Integer) Files.getAttribute(root, "unix:uid");
        assertEquals(
                root + " is owned by another user (uid " + me + ")",
                refusal(new LibraryCache(place, me + 1)));
        Files.setPosixFilePermissions(root, PosixFilePermissions.fromString("rwxrwxrwx"));
        assertEquals(
                root + " may be written by others (rwxrwxrwx)", refusal(new LibraryCache(place)));
        Path open = Files.createDirectories(temp.resolve("open/usb3k"));
        Files.setPosixFilePermissions(
                open.getParent(), PosixFilePermissions.fromString("rwxrwxrwx"));
        assertEquals(
                open + ": others may write " + open.getParent()
                        + " and it has no sticky bit (rwxrwxrwx)",
                refusal(new LibraryCache(new CachePlace(open, null, null))));
        assertEquals(List.of(expected, elsewhere), listFiles(temp));
    }

    private static String refusal(LibraryCache cache) {
        return assertThrows(IOException.class, () -> cache.extract("liby.so", JAR_COMPANION))
                .getMessage();
    }

    @Test
    void serviceAccountsFallBackToTmpdirAndAFailedLoadFailsAlikeEveryTime() throws Exception {
        // The jar's copy, where the class path finds it: the jar itself, or a folder made here.
        String file = System.mapLibraryName("usb3k");
        Path resources = Files.createDirectories(temp.resolve("resources"));
        byte[] library;
        ClassLoader loader = NativeLibrary.class.getClassLoader();
        try (InputStream jar = loader.getResourceAsStream(resource(file))) {
            library = jar == null ? null : jar.readAllBytes();
        }
        for (String folder : System.getProperty("java.library.path").split(File.pathSeparator)) {
            if (library == null && Files.isRegularFile(Path.of(folder, file))) {
                library = Files.readAllBytes(Path.of(folder, file));
                Path copy = resources.resolve(resource(file));
                Files.createDirectories(copy.getParent());
                Files.write(copy, library);
            }
        }
        Path readOnlyHome = Files.createDirectory(temp.resolve("read-only-home"));
        Files.setPosixFilePermissions(readOnlyHome, PosixFilePermissions.fromString("r-xr-xr-x"));
        Path tmp = Files.createDirectory(temp.resolve("tmp"));
        assertEquals(List.of("loaded", "loaded", "loaded"), child(resources, readOnlyHome, tmp));
        String user = System.getProperty("user.name");
        Path extracted = tmp.resolve("usb3k-" + user + "/" + sha256(library) + "/" + file);
        assertArrayEquals(library, Files.readAllBytes(extracted));

        Path open = Files.createDirectory(temp.resolve("open"));
        Files.setPosixFilePermissions(open, PosixFilePermissions.fromString("rwxrwxrwx"));
        String message =
                "java.lang.UnsatisfiedLinkError: cannot load the native library usb3k:"
                        + " -Dusb3k.library.path: not set; java.library.path: no libusb3k.so in "
                        + resources + "; the jar: cannot extract its libusb3k.so: cannot create "
                        + temp + "/no-home/.cache/usb3k: no such folder " + temp + "/no-home (the"
                        + " user's home), and " + open + "/usb3k-" + user + ": others may write "
                        + open + " and it has no sticky bit (rwxrwxrwx); to fix: name the library"
                        + " with -Dusb3k.library.path=/path/to/libusb3k.so (or its folder), or"
                        + " install the package libusb3k-jni";
        Path noHome = temp.resolve("no-home");
        assertEquals(List.of(message, message, message), child(resources, noHome, open));
    }

    private static String resource(String file) {
        return NativeLibrary.RESOURCE_FOLDER + NativeLibrary.platform() + "/" + file;
    }

    /** Runs {@link Child} as this user, and as root without the power to write any folder. */
    private static List<String> child(Path resources, Path home, Path tmp) throws Exception {
        List<String> command = new ArrayList<>();
        if ((Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid") == 0) {
            command.addAll(List.of("setpriv", "--inh-caps=-all", "--bounding-set=-all"));
        }
        command.addAll(
                List.of(
                        Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                        "-Duser.home=" + home,
                        "-Djava.io.tmpdir=" + tmp,
                        "-Djava.library.path=" + resources,
                        "-cp",
                        System.getProperty("java.class.path") + File.pathSeparator + resources,
                        Child.class.getName()));
        // The library's own lines (no D2XX library, say) go to the test's log, not into the result.
        ProcessBuilder builder =
                new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT);
        builder.environment().remove("XDG_CACHE_HOME");
        Process process = builder.start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS));
        return out.lines().toList();
    }

    /** Asks for the devices twice and opens one, saying what each call threw. */
    public static final class Child {
        public static void main(String[] args) {
            for (int call = 0; call < 3; call++) {
                try {
                    if (call < 2) {
                        Usb3kDecoder.devices();
                    } else {
                        Usb3kDecoder.open().close();
                    }
                    System.out.println("loaded");
                } catch (Usb3kException e) {
                    System.out.println("loaded");
                } catch (Throwable e) {
                    System.out.println(e);
                }
            }
        }
    }

    private static List<Path> listFiles(Path root) throws IOException {
        try (var files = Files.walk(root)) {
            return files.filter(Files::isRegularFile).sorted().toList();
        }
    }

    private static String sha256(byte[] content) throws Exception {
        return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(content));
    }
}
