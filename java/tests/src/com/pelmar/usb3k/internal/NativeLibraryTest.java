package com.pelmar.usb3k.internal;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.ChildJvm;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kException;
import com.pelmar.usb3k.emulator.Emulator;
import java.io.ByteArrayInputStream;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.lang.ProcessBuilder.Redirect;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.ForkJoinPool;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The native library's places and their order, the cache's guards, and what a failure says. */
class NativeLibraryTest {
    private static final byte[] JAR_COPY = "the jar's libx.so".getBytes(StandardCharsets.UTF_8);
    private static final byte[] JAR_COMPANION =
            "the jar's liby.so".getBytes(StandardCharsets.UTF_8);

    @TempDir Path temp;

    private final List<String> loaded = new ArrayList<>();

    private LibrarySearch search(String explicitPath, String libraryPath, String failing) {
        Map<String, byte[]> jar =
                Map.of(
                        "com/pelmar/usb3k/native/linux-x86-64/libx.so", JAR_COPY,
                        "com/pelmar/usb3k/native/linux-x86-64/liby.so", JAR_COMPANION);
        return new LibrarySearch(
                explicitPath,
                "x.path",
                libraryPath,
                path -> jar.containsKey(path) ? new ByteArrayInputStream(jar.get(path)) : null,
                new Platform("Linux", "amd64", null, null),
                List.of(new CachePlace(temp.resolve("cache"), null, null)),
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

        // Folders of another user's or that others may write are refused; nothing is written there.
        int me = (Integer) Files.getAttribute(root, "unix:uid");
        assertEquals(
                root + " is owned by another user (uid " + me + ")",
                refusal(new LibraryCache(place, me + 1)));
        Files.setPosixFilePermissions(root, PosixFilePermissions.fromString("rwxrwxrwx"));
        assertEquals(
                root + " may be written by others (rwxrwxrwx)", refusal(new LibraryCache(place)));
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
        Path resources = temp.resolve("resources");
        for (String folder : System.getProperty("java.library.path").split(File.pathSeparator)) {
            if (Files.isRegularFile(Path.of(folder, file))) {
                String platform = NativeLibrary.RESOURCE_FOLDER + Platform.current().folder();
                Path copy = Files.createDirectories(resources.resolve(platform)).resolve(file);
                Files.copy(Path.of(folder, file), copy, StandardCopyOption.REPLACE_EXISTING);
            }
        }
        Path readOnlyHome = Files.createDirectory(temp.resolve("read-only-home"));
        Files.setPosixFilePermissions(readOnlyHome, PosixFilePermissions.fromString("r-xr-xr-x"));
        Path tmp = Files.createDirectory(temp.resolve("tmp"));
        assertEquals(List.of("loaded", "loaded"), child(resources, readOnlyHome, tmp));
        String user = System.getProperty("user.name");
        Path extracted = listFiles(tmp).get(0);
        String hash = sha256(Files.readAllBytes(extracted));
        assertEquals(tmp.resolve("usb3k-" + user + "/" + hash + "/" + file), extracted);

        Path noHome = temp.resolve("no-home");
        Path open = Files.createDirectory(temp.resolve("open"));
        Files.setPosixFilePermissions(open, PosixFilePermissions.fromString("rwxrwxrwx"));
        String message =
                "java.lang.UnsatisfiedLinkError: cannot load the native library usb3k:"
                        + " -Dusb3k.library.path: not set; java.library.path: no libusb3k.so in "
                        + resources + "; the jar: cannot extract its libusb3k.so: cannot create "
                        + noHome + "/.cache/usb3k: no such folder " + noHome + " (the user's"
                        + " home), and " + open + "/usb3k-" + user + ": others may write " + open
                        + " and it has no sticky bit (rwxrwxrwx); to fix: name the library with"
                        + " -Dusb3k.library.path=/path/to/libusb3k.so (or its folder), or install"
                        + " the package libusb3k-jni";
        assertEquals(List.of(message, message), child(resources, noHome, open));
        assertFalse(Files.exists(noHome));
    }

    /** Runs {@link Child}; as root, without the power to write any folder that another may. */
    private static List<String> child(Path resources, Path home, Path tmp) throws Exception {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        String classPath = System.getProperty("java.class.path") + ":" + resources;
        List<String> command = new ArrayList<>(List.of(java, "-Duser.home=" + home,
                "-Djava.io.tmpdir=" + tmp, "-Djava.library.path=" + resources, "-cp", classPath,
                Child.class.getName()));
        if ((Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid") == 0) {
            command.addAll(0, List.of("setpriv", "--inh-caps=-all", "--bounding-set=-all"));
        }
        // The library's own lines (no D2XX library, say) go to the test's log, not into the result.
        ProcessBuilder builder = new ProcessBuilder(command).redirectError(Redirect.INHERIT);
        builder.environment().remove("XDG_CACHE_HOME");
        Process process = builder.start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS));
        return out.lines().toList();
    }

    /** Lists the devices, then opens one, saying whether each call found the library. */
    public static final class Child {
        public static void main(String[] args) {
            List<Callable<?>> calls = List.of(Usb3kDecoder::devices, Usb3kDecoder::open);
            for (Callable<?> call : calls) {
                try {
                    call.call();
                    System.out.println("loaded");
                } catch (Throwable e) {
                    System.out.println(e instanceof Usb3kException ? "loaded" : e);
                }
            }
        }
    }

    @Test
    void eachClassLoaderLoadsACopyOfItsOwnAndNoneOpensAnothersDevice() throws Exception {
        // A copy of another version, left by a process that has ended, is removed too.
        Path old = temp.resolve("usb3k/" + sha256(new byte[0]));
        Files.createDirectories(old, PosixFilePermissions.asFileAttribute(
                PosixFilePermissions.fromString("rwx------")));
        Process ended = new ProcessBuilder("true").start();
        Files.write(old.resolve("libusb3k-" + ended.pid() + "-7.so"), new byte[1]);
        ended.waitFor();
        ChildJvm.Result child = ChildJvm.finish(
                ChildJvm.start(Loaders.class, null, Map.of("XDG_CACHE_HOME", temp.toString())));
        System.out.print(child.out());
        String decoded = "100 frames decoded, 100 as the emulator's";
        assertEquals(List.of("first: " + decoded, "third: " + decoded, "second: " + decoded,
                "second: NOT_READY another class loader of this JVM, or another process, has the"
                        + " device open (D2XX lists it as opened)"),
                child.out().lines().toList(), String.join("\n", child.err()));
        // The class loaders' own copies were made in the cache and are gone once loaded, as is the
        // ended process's; what stays is what the jar's copies, when loaded from it, left there.
        assertEquals(List.of(), listFiles(temp).stream()
                .filter(file -> file.getFileName().toString().matches(".*-[0-9]+-[0-9]+\\.so"))
                .toList());
    }

    /** Class loaders over the jars, one D2XX for all: the first, dropped; then two at once. */
    public static final class Loaders {
        public static void main(String[] args) throws Exception {
            Emulator.addUsb3000("EMU30002");
            Method first = decodeInNewLoader();
            System.out.println("first: " + first.invoke(null, "EMU30001"));
            first = null;
            Method second = decodeInNewLoader();
            Method third = decodeInNewLoader();
            var both = ForkJoinPool.commonPool().submit(() -> second.invoke(null, "EMU30001"));
            System.out.println("third: " + third.invoke(null, "EMU30002"));
            System.out.println("second: " + both.get());
            try (Usb3kDecoder held = Usb3kDecoder.open("EMU30001")) {
                System.out.println("second: " + second.invoke(null, held.serialNumber()));
            }
        }

        private static Method decodeInNewLoader() throws Exception {
            URL[] jars = List.of(Usb3kDecoder.class, Emulator.class, Loaders.class).stream()
                    .map(type -> type.getProtectionDomain().getCodeSource().getLocation())
                    .toArray(URL[]::new);
            var loader = new URLClassLoader(jars, ClassLoader.getPlatformClassLoader());
            return loader.loadClass(Loaders.class.getName()).getMethod("decode", String.class);
        }

        /** Decodes on the device, with the classes of this class's loader. */
        public static String decode(String serial) {
            byte[] vcw = new byte[100 * 7];
            new Random(7).nextBytes(vcw);
            byte[] pcm = new byte[100 * 320];
            try (Usb3kDecoder decoder = Usb3kDecoder.open(serial)) {
                int decoded = decoder.decode(vcw, 0, 100, pcm, 0);
                long same = IntStream.range(0, 100).filter(i -> Arrays.equals(pcm, i * 320,
                        i * 320 + 320, Emulator.decodedSpeech(vcw, i * 7), 0, 320)).count();
                return decoded + " frames decoded, " + same + " as the emulator's";
            } catch (Usb3kException e) {
                return e.reason() + " " + e.likelyCause();
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
