package com.pelmar.usb3k.internal;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * Not API: the loader that {@code usb3k.jar}'s classes and the emulator kit share, public only so
 * that both jars reach it. Applications never call it, and it may change in any release.
 *
 * <p>The library {@code usb3k} is taken from the first of these places that has it:
 *
 * <ol>
 *   <li>the file, or the folder holding it, named by the system property {@value #PATH_PROPERTY}
 *       (an absolute path). When the property is set, this is the only place tried: a library
 *       that was asked for by name and fails to load is an error, never replaced by another;
 *   <li>the folders of {@code java.library.path} that are absolute paths, in order, as {@code
 *       System.loadLibrary} would search them but never the current folder: where an installed
 *       package puts it;
 *   <li>the copy inside the jar, under {@value #RESOURCE_FOLDER}{@code <os>-<arch>/} (for example
 *       {@code linux-x86-64}, {@code linux-x86}, {@code linux-aarch64}, {@code linux-arm},
 *       {@code windows-x86-64}, {@code windows-x86}), extracted into a folder named by its SHA-256
 *       in this user's cache folder ({@code $XDG_CACHE_HOME/usb3k}, else {@code ~/.cache/usb3k};
 *       on Windows the folder {@code usb3k/cache} in {@code %LOCALAPPDATA%}), or when that cannot
 *       be used in {@code usb3k-<user>} in {@code java.io.tmpdir}, and checked against that hash
 *       before it is loaded.
 * </ol>
 *
 * <p>When every place fails, the {@link UnsatisfiedLinkError} names each one and why, and every
 * later load of the same library throws an error with the same message.
 *
 * <p>Each class loader that loads these classes loads the library once. The JVM lets only one class
 * loader hold a file, so a second one (an application deployed again in its server, a plugin
 * reloaded) loads a copy of its own, made in the cache folder beside the hash-named copy, checked
 * the same way and removed once loaded (on Windows, where a loaded library cannot be removed, by
 * the next process that makes one). Each copy has static state of its own; the D2XX library stays
 * one per process.
 */
public final class NativeLibrary {
    /** The system property naming the library file, or its folder, to load instead of any other. */
    public static final String PATH_PROPERTY = "usb3k.library.path";

    /** Where the jar keeps its copies, one folder per OS and architecture below this one. */
    static final String RESOURCE_FOLDER = "com/pelmar/usb3k/native/";

    private static final Set<String> loaded = new HashSet<>();
    private static final Map<String, UnsatisfiedLinkError> failed = new HashMap<>();

    private NativeLibrary() {}

    /**
     * Loads the library {@code usb3k} once per class loader.
     *
     * @throws UnsatisfiedLinkError when no place has a library this JVM can load, with each
     *     place's reason and what to do
     */
    public static void load() {
        load(
                "usb3k",
                PATH_PROPERTY,
                "name the library with -D"
                        + PATH_PROPERTY
                        + "=/path/to/"
                        + System.mapLibraryName("usb3k")
                        + " (or its folder), or install the package libusb3k-jni");
    }

    /**
     * Loads one of usb3k's JNI libraries once per class loader, from the places and in the order
     * above. A load that failed is not tried again: each later call throws a new error with the
     * first one's message and the first one as its cause.
     *
     * @param name the library's name, as for {@code System.loadLibrary}
     * @param pathProperty the system property that may name its file or folder
     * @param fix what the user can do when no place has it, or null
     * @param companions libraries loaded first from the same place, when it holds them (required
     *     in the jar's copy)
     * @throws UnsatisfiedLinkError when no place has a library this JVM can load, with each
     *     place's reason
     */
    public static synchronized void load(
            String name, String pathProperty, String fix, String... companions) {
        if (loaded.contains(name)) {
            return;
        }
        UnsatisfiedLinkError first = failed.get(name);
        if (first != null) {
            UnsatisfiedLinkError again = new UnsatisfiedLinkError(first.getMessage());
            again.initCause(first);
            throw again;
        }
        LibrarySearch search =
                new LibrarySearch(
                        System.getProperty(pathProperty),
                        pathProperty,
                        System.getProperty("java.library.path", ""),
                        NativeLibrary::jarResource,
                        Platform.current(),
                        cachePlaces(),
                        System::mapLibraryName,
                        System::load);
        try {
            search.load(name, fix, companions);
        } catch (UnsatisfiedLinkError e) {
            failed.put(name, e);
            throw e;
        }
        loaded.add(name);
    }

    /**
     * The folders the jar's copies may be extracted into, in order: this user's cache folder for
     * usb3k, then a folder of this user's in {@code java.io.tmpdir}, for accounts whose home is
     * missing or read-only. A home is never made: only the folders below it.
     */
    static List<CachePlace> cachePlaces() {
        List<CachePlace> places = new ArrayList<>();
        String xdg = System.getenv("XDG_CACHE_HOME");
        String home = System.getProperty("user.home");
        if (System.getProperty("os.name", "").startsWith("Windows")) {
            String local = System.getenv("LOCALAPPDATA");
            if (absolute(local)) {
                places.add(new CachePlace(Path.of(local, "usb3k", "cache"), null, null));
            }
        } else if (absolute(xdg)) {
            places.add(new CachePlace(Path.of(xdg, "usb3k"), null, null));
        } else if (absolute(home)) {
            places.add(
                    new CachePlace(
                            Path.of(home, ".cache", "usb3k"), Path.of(home), "the user's home"));
        }
        if (places.isEmpty()) {
            places.add(
                    CachePlace.none(
                            "no cache folder to extract into (neither XDG_CACHE_HOME, user.home"
                                    + " nor LOCALAPPDATA is an absolute path)"));
        }
        String tmp = System.getProperty("java.io.tmpdir");
        if (absolute(tmp)) {
            String user = System.getProperty("user.name", "").replaceAll("[^A-Za-z0-9._-]", "_");
            places.add(
                    new CachePlace(Path.of(tmp, "usb3k-" + user), Path.of(tmp), "java.io.tmpdir"));
        }
        return places;
    }

    private static boolean absolute(String path) {
        return path != null && !path.isEmpty() && Path.of(path).isAbsolute();
    }

    private static InputStream jarResource(String path) throws IOException {
        ClassLoader loader = NativeLibrary.class.getClassLoader();
        return loader == null ? null : loader.getResourceAsStream(path);
    }
}
