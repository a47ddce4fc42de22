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
            for (Path path : extracted) {
                String reason = loadOne(path);
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
                String reason = loadOne(path);
                if (reason != null) {
                    return reason;
                }
            }
        }
        return loadOne(library);
    }

    private String loadOne(Path path) {
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
