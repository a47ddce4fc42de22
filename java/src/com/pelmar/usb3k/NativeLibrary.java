package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.Set;

/**
 * Loads usb3k's native libraries into the JVM. {@code USB3KBridge} and the emulator kit call it
 * before their first native call; an application never needs to.
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
 *       on Windows the folder {@code usb3k/cache} in {@code %LOCALAPPDATA%}) and checked against
 *       that hash before it is loaded.
 * </ol>
 *
 * <p>When every place fails, the {@link UnsatisfiedLinkError} names each one and why.
 */
public final class NativeLibrary {
    /** The system property naming the library file, or its folder, to load instead of any other. */
    public static final String PATH_PROPERTY = "usb3k.library.path";

    /** Where the jar keeps its copies, one folder per OS and architecture below this one. */
    public static final String RESOURCE_FOLDER = "com/pelmar/usb3k/native/";

    private static final Set<String> loaded = new HashSet<>();

    private NativeLibrary() {}

    /**
     * Loads the library {@code usb3k} once per JVM.
     *
     * @throws UnsatisfiedLinkError when no place has a library this JVM can load, with each
     *     place's reason
     */
    public static void load() {
        load("usb3k", PATH_PROPERTY);
    }

    /**
     * Loads another of usb3k's JNI libraries once per JVM, from the same places in the same order.
     * The emulator kit loads its own this way, after the D2XX library it stands in with.
     *
     * @param name the library's name, as for {@code System.loadLibrary}
     * @param pathProperty the system property that may name its file or folder
     * @param companions libraries loaded first from the same place, when it holds them (required
     *     in the jar's copy)
     * @throws UnsatisfiedLinkError when no place has a library this JVM can load, with each
     *     place's reason
     */
    public static synchronized void load(String name, String pathProperty, String... companions) {
        if (loaded.contains(name)) {
            return;
        }
        LibrarySearch search =
                new LibrarySearch(
                        System.getProperty(pathProperty),
                        pathProperty,
                        System.getProperty("java.library.path", ""),
                        NativeLibrary::jarResource,
                        Platform.current(),
                        cacheFolder(),
                        System::mapLibraryName,
                        System::load);
        search.load(name, companions);
        loaded.add(name);
    }

    /** This user's cache folder for usb3k; null when the environment names none. */
    static Path cacheFolder() {
        if (System.getProperty("os.name", "").startsWith("Windows")) {
            String local = System.getenv("LOCALAPPDATA");
            return absolute(local) ? Path.of(local, "usb3k", "cache") : null;
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (absolute(xdg)) {
            return Path.of(xdg, "usb3k");
        }
        String home = System.getProperty("user.home");
        return absolute(home) ? Path.of(home, ".cache", "usb3k") : null;
    }

    private static boolean absolute(String path) {
        return path != null && !path.isEmpty() && Path.of(path).isAbsolute();
    }

    private static InputStream jarResource(String path) throws IOException {
        ClassLoader loader = NativeLibrary.class.getClassLoader();
        return loader == null ? null : loader.getResourceAsStream(path);
    }
}
