package com.pelmar.usb3k;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
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
    private final Path cacheFolder;
    private final UnaryOperator<String> fileName;
    private final Consumer<String> systemLoad;

    /**
     * @param explicitPath the value of {@code pathProperty}, or null
     * @param libraryPath {@code java.library.path}
     * @param platform this JVM's platform, which chooses the jar's copy or refuses every one
     * @param cacheFolder this user's cache folder for usb3k, or null when there is none
     * @param fileName the file name of a library name ({@code System.mapLibraryName})
     * @param systemLoad loads a library by absolute path ({@code System.load})
     */
    LibrarySearch(
            String explicitPath,
            String pathProperty,
            String libraryPath,
            Resources resources,
            Platform platform,
            Path cacheFolder,
            UnaryOperator<String> fileName,
            Consumer<String> systemLoad) {
        this.explicitPath = explicitPath;
        this.pathProperty = pathProperty;
        this.libraryPath = libraryPath;
        this.resources = resources;
        this.platform = platform;
        this.cacheFolder = cacheFolder;
        this.fileName = fileName;
        this.systemLoad = systemLoad;
    }

    /** Loads the companions, then the library, from the first place that has them. */
    void load(String name, String... companions) {
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
        if (cacheFolder == null) {
            return "no cache folder to extract into (neither XDG_CACHE_HOME, user.home nor"
                    + " LOCALAPPDATA is an absolute path)";
        }
        List<String> files = new ArrayList<>();
        for (String companion : companions) {
            files.add(fileName.apply(companion));
        }
        files.add(fileName.apply(name));
        LibraryCache cache = new LibraryCache(cacheFolder);
        for (String file : files) {
            String resource = NativeLibrary.RESOURCE_FOLDER + platform.folder() + "/" + file;
            Path extracted;
            try (InputStream content = resources.open(resource)) {
                if (content == null) {
                    return "no " + resource + " in it";
                }
                extracted = cache.extract(file, content);
            } catch (IOException e) {
                return resource + ": " + e.getMessage();
            }
            String reason = loadOne(extracted);
            if (reason != null) {
                return reason;
            }
        }
        return null;
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
