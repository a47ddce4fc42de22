package com.pelmar.usb3k;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
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
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Where the native library comes from, in which order, and how the cache guards its copies. */
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
                temp.resolve("cache"),
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
        search(explicit.getParent().toString(), libraryPath, null).load("x", "y");
        assertEquals(List.of(explicitCompanion.toString(), explicit.toString()), loaded);
        loaded.clear();
        search(explicit.toString(), libraryPath, null).load("x");
        assertEquals(List.of(explicit.toString()), loaded);
        loaded.clear();

        // A property naming nothing loadable is an error, never replaced by another copy.
        UnsatisfiedLinkError wrong =
                assertThrows(
                        UnsatisfiedLinkError.class,
                        () -> search("relative/libx.so", libraryPath, null).load("x"));
        assertEquals(
                "cannot load the native library x: -Dx.path=relative/libx.so: not an absolute path",
                wrong.getMessage());
        assertEquals(List.of(), loaded);

        // Without the property: the first absolute folder of java.library.path that has it.
        search(null, libraryPath, null).load("x");
        assertEquals(List.of(installed.toString()), loaded);
        loaded.clear();

        // An installed copy that does not load gives way to the jar's, companion first.
        search(null, libraryPath, installed.toString()).load("x", "y");
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
                        () -> search(null, "relative", null).load("z"));
        assertEquals(
                "cannot load the native library z: -Dx.path: not set; java.library.path: no libz.so"
                        + " in relative (relative entries skipped: 'relative'); the jar: no"
                        + " com/pelmar/usb3k/native/linux-x86-64/libz.so in it",
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
                            new LibraryCache(root)
                                    .extract("libx.so", new ByteArrayInputStream(JAR_COPY));
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

        // A copy changed since it was extracted is replaced before anyone loads it.
        Files.write(expected, "planted".getBytes(StandardCharsets.UTF_8));
        new LibraryCache(root).extract("libx.so", new ByteArrayInputStream(JAR_COPY));
        assertArrayEquals(JAR_COPY, Files.readAllBytes(expected));

        // A folder others may write to is refused, and nothing is written into it.
        Files.setPosixFilePermissions(root, PosixFilePermissions.fromString("rwxrwxrwx"));
        IOException refused =
                assertThrows(
                        IOException.class,
                        () ->
                                new LibraryCache(root)
                                        .extract(
                                                "liby.so",
                                                new ByteArrayInputStream(JAR_COMPANION)));
        assertEquals(root + " may be written by others (rwxrwxrwx)", refused.getMessage());
        assertEquals(List.of(expected), listFiles(root));
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
