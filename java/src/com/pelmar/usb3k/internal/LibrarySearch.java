package com.pelmar.usb3k.internal;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;
import java.util.function.UnaryOperator;

/**
 * The places {@link NativeLibrary} tries, in its order, with everything it reads from the JVM
 * passed in, so that a test can give each place or take it away.
 */
final class LibrarySearch {
    /**
     * The JVM's words when a class loader loads a file that another class loader holds: the only
     * sign it gives, and the same in every JVM since Java 1.2.
     */
    static final String HELD_BY_ANOTHER_LOADER = "already loaded in another classloader";

    /** Opens a resource of the jar; null when the jar has none by that name. */
    interface Resources {
        InputStream open(String path) throws IOException;
    }

    private final String explicitPath;
    private final String pathProperty;
    private final String libraryPath;
    private final Resources resources;
    private final Platform platform;
    private final List<CachePlace> cachePlaces;
    private final UnaryOperator<String> fileName;
    private final Consumer<String> systemLoad;

    /**
     * @param explicitPath the value of {@code pathProperty}, or null
     * @param libraryPath {@code java.library.path}
     * @param platform this JVM's platform, which chooses the jar's copy or refuses every one
     * @param cachePlaces the folders to extract the jar's copies into, the first that works
     * @param fileName the file name of a library name ({@code System.mapLibraryName})
     * @param systemLoad loads a library by absolute path ({@code System.load})
     */
    LibrarySearch(
            String explicitPath,
            String pathProperty,
            String libraryPath,
            Resources resources,
            Platform platform,
            List<CachePlace> cachePlaces,
            UnaryOperator<String> fileName,
            Consumer<String> systemLoad) {
        this.explicitPath = explicitPath;
        this.pathProperty = pathProperty;
        this.libraryPath = libraryPath;
        this.resources = resources;
        this.platform = platform;
        this.cachePlaces = cachePlaces;
        this.fileName = fileName;
        this.systemLoad = systemLoad;
    }

    /**
     * Loads the companions, then the library, from the first place that has them.
     *
     * @param fix what the user can do when no place has it, added to the error; or null
     */
    void load(String name, String fix, String... companions) {
        List<String> reasons = new ArrayList<>();
        if (explicitPath != null) {
            String reason = fromExplicitPath(name, companions);
            if (reason != null) {
                String place = "-D" + pathProperty + "=" + explicitPath;
                throw failure(name, List.of(place + ": " + reason));
            }
            return;
        }
        reasons.add("-D" + pathProperty + ": not set");
        String reason = fromLibraryPath(name, companions);
        if (reason == null) {
            return;
        }
        reasons.add("java.library.path: " + reason);
        reason = fromJar(name, companions);
        if (reason == null) {
            return;
        }
        reasons.add("the jar: " + reason);
        if (fix != null) {
            reasons.add("to fix: " + fix);
        }
        throw failure(name, reasons);
    }

    private String fromExplicitPath(String name, String[] companions) {
        Path path = Path.of(explicitPath);
        if (!path.isAbsolute()) {
            return "not an absolute path";
        }
        Path folder = Files.isDirectory(path) ? path : path.getParent();
        Path library = Files.isDirectory(path) ? path.resolve(fileName.apply(name)) : path;
        if (!Files.isRegularFile(library)) {
            return "no file " + library;
        }
        return loadFrom(folder, library, companions);
    }

    private String fromLibraryPath(String name, String[] companions) {
        String file = fileName.apply(name);
        List<String> skipped = new ArrayList<>();
        for (String entry : libraryPath.split(File.pathSeparator, -1)) {
            Path folder = absoluteOrNull(entry);
            if (folder == null) {
                skipped.add("'" + entry + "'");
                continue;
            }
            Path library = folder.resolve(file);
            if (Files.isRegularFile(library)) {
                return loadFrom(library.getParent(), library, companions);
            }
        }
        String reason =
                "no " + file + " in " + (libraryPath.isEmpty() ? "it (empty)" : libraryPath);
        return skipped.isEmpty()
                ? reason
                : reason + " (relative entries skipped: " + String.join(", ", skipped) + ")";
    }

    /** The folder an entry of java.library.path names; null for the current folder or garbage. */
    private static Path absoluteOrNull(String entry) {
        try {
            Path folder = Path.of(entry);
            return entry.isEmpty() || !folder.isAbsolute() ? null : folder;
        } catch (InvalidPathException e) {
            return null;
        }
    }

    private String fromJar(String name, String[] companions) {
        String refusal = platform.refusal(pathProperty);
        if (refusal != null) {
            return refusal;
        }
        Map<String, byte[]> copies = new LinkedHashMap<>();
        for (String companion : companions) {
            copies.put(fileName.apply(companion), null);
        }
        copies.put(fileName.apply(name), null);
        for (String file : copies.keySet()) {
            String resource = NativeLibrary.RESOURCE_FOLDER + platform.folder() + "/" + file;
            try (InputStream content = resources.open(resource)) {
                if (content == null) {
                    return "no " + resource + " in it";
                }
                copies.put(file, content.readAllBytes());
            } catch (IOException e) {
                return resource + ": " + IoWords.of(e);
            }
        }
        List<String> refused = new ArrayList<>();
        for (CachePlace place : cachePlaces) {
            if (place.folder() == null) {
                refused.add(place.about());
                continue;
            }
            List<Path> extracted = new ArrayList<>();
            try {
                LibraryCache cache = new LibraryCache(place);
                for (Map.Entry<String, byte[]> copy : copies.entrySet()) {
                    extracted.add(cache.extract(copy.getKey(), copy.getValue()));
                }
            } catch (IOException e) {
                refused.add(IoWords.of(e));
                continue;
            }
            for (int i = 0; i < extracted.size(); i++) {
                String reason = loadOne(extracted.get(i), i < extracted.size() - 1);
                if (reason != null) {
                    return reason;
                }
            }
            return null;
        }
        return "cannot extract its " + fileName.apply(name) + ": " + String.join(", and ", refused);
    }

    /** Loads the companions found beside {@code library}, then the library itself. */
    private String loadFrom(Path folder, Path library, String[] companions) {
        for (String companion : companions) {
            Path path = folder.resolve(fileName.apply(companion));
            if (Files.isRegularFile(path)) {
                String reason = loadOne(path, true);
                if (reason != null) {
                    return reason;
                }
            }
        }
        return loadOne(library, false);
    }

    /**
     * Loads one file; null when loaded, else why not. The JVM lets only one class loader hold a
     * file, so when another holds it (the same application deployed again in a server, a plugin
     * reloaded) this class loader loads a copy of its own, with static state of its own. A
     * companion held by another class loader is in the process already, and the library links to
     * that one: D2XX is one library per process, so that it can refuse a device that is open.
     */
    private String loadOne(Path path, boolean companion) {
        String reason = tryLoad(path);
        if (reason == null || !reason.contains(HELD_BY_ANOTHER_LOADER)) {
            return reason;
        }
        if (companion) {
            return null;
        }
        byte[] content;
        try {
            content = Files.readAllBytes(path);
        } catch (IOException e) {
            return path + " is held by another class loader, and cannot be read for a copy: "
                    + IoWords.of(e);
        }
        List<String> refused = new ArrayList<>();
        for (CachePlace place : cachePlaces) {
            if (place.folder() == null) {
                refused.add(place.about());
                continue;
            }
            Path copy;
            try {
                copy = new LibraryCache(place).ownCopy(path.getFileName().toString(), content);
            } catch (IOException e) {
                refused.add(IoWords.of(e));
                continue;
            }
            try {
                return tryLoad(copy);
            } finally {
                LibraryCache.remove(copy);
            }
        }
        return path + " is held by another class loader, and a copy for this one cannot be made: "
                + String.join(", and ", refused);
    }

    private String tryLoad(Path path) {
        try {
            systemLoad.accept(path.toAbsolutePath().toString());
            return null;
        } catch (UnsatisfiedLinkError e) {
            String message = e.getMessage();
            return message != null && message.contains(path.toString())
                    ? message
                    : path + ": " + message;
        }
    }

    private static UnsatisfiedLinkError failure(String name, List<String> reasons) {
        return new UnsatisfiedLinkError(
                "cannot load the native library " + name + ": " + String.join("; ", reasons));
    }
}
