package com.pelmar.usb3k.internal;

import java.io.IOException;
import java.io.OutputStream;
import java.io.UncheckedIOException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;
import java.util.Map;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * A folder that holds the jar's native libraries once extracted: each file in a folder named by its
 * content's SHA-256, so that two versions never share a file and a file's name says what it must
 * hold. Several JVMs may extract at once: each writes a file of its own and renames it into place,
 * and every one checks the result's hash before it is loaded. On POSIX systems the folders must be
 * the user's and writable by nobody else, every folder above them writable by nobody else unless
 * sticky (as {@code /tmp} is), and the file the user's own and no symbolic link, so that no other
 * user can swap a library between the check and the load. Symbolic links above the folder are
 * resolved once, and the library is loaded by the path without them.
 *
 * <p>A class loader that finds a library held by another class loader of the same JVM loads a copy
 * of its own, made beside the hash-named file and checked the same way, then removed.
 */
final class LibraryCache {
    private static final Set<PosixFilePermission> OWNER_ONLY =
            PosixFilePermissions.fromString("rwx------");
    private static final FileAttribute<Set<PosixFilePermission>> PRIVATE =
            PosixFilePermissions.asFileAttribute(OWNER_ONLY);

    // The bits of a file's mode, as stat gives it.
    private static final int TYPE = 0170000;
    private static final int FOLDER = 0040000;
    private static final int FILE = 0100000;
    private static final int LINK = 0120000;
    private static final int GROUP_OR_OTHERS_WRITE = 0022;
    private static final int STICKY = 01000;

    private final CachePlace place;
    private final boolean unix;
    private Integer user;

    LibraryCache(CachePlace place) {
        this(place, null);
    }

    /**
     * @param user the uid the files must belong to; null for the user this JVM runs as
     */
    LibraryCache(CachePlace place, Integer user) {
        this.place = place;
        this.unix = place.folder().getFileSystem().supportedFileAttributeViews().contains("unix");
        this.user = user;
    }

    /**
     * The cached copy of a library, extracted now unless an intact copy is there.
     *
     * @return the path of a file whose content has the given content's hash
     * @throws IOException, its message in words, when the folder cannot be made, is not private
     *     to this user or the copy cannot be made
     */
    Path extract(String fileName, byte[] content) throws IOException {
        String hash = sha256(content);
        Path folder = privateRoot().resolve(hash);
        makePrivateFolder(folder);
        Path target = folder.resolve(fileName);
        if (!holds(target, hash)) {
            Path part = Files.createTempFile(folder, fileName, ".part");
            try {
                try (OutputStream out = Files.newOutputStream(part)) {
                    out.write(content);
                }
                moveIntoPlace(part, target, hash);
            } finally {
                Files.deleteIfExists(part);
            }
        }
        if (!holds(target, hash)) {
            throw new IOException(target + " does not hold the content of SHA-256 " + hash);
        }
        return target;
    }

    /**
     * A copy of a library for one class loader alone, beside the hash-named one: its name carries
     * this process's id and a number of its own ({@code libusb3k-4242-512033.so}). Copies of any
     * version left by processes that have ended are removed first.
     *
     * @throws IOException, its message in words, as {@link #extract}
     */
    Path ownCopy(String fileName, byte[] content) throws IOException {
        String hash = sha256(content);
        Path root = privateRoot();
        Path folder = root.resolve(hash);
        makePrivateFolder(folder);
        int dot = fileName.lastIndexOf('.');
        String base = dot < 0 ? fileName : fileName.substring(0, dot);
        String suffix = dot < 0 ? "" : fileName.substring(dot);
        removeLeftovers(root, base, suffix);
        String prefix = base + "-" + ProcessHandle.current().pid() + "-";
        Path copy = Files.createTempFile(folder, prefix, suffix);
        try {
            try (OutputStream out = Files.newOutputStream(copy)) {
                out.write(content);
            }
            if (!holds(copy, hash)) {
                throw new IOException(copy + " does not hold the content of SHA-256 " + hash);
            }
        } catch (IOException e) {
            remove(copy);
            throw e;
        }
        return copy;
    }

    /**
     * Removes a class loader's copy once it is loaded, or failed to load: a loaded library stays
     * mapped after its file is gone. Windows refuses while the library is loaded, and the file is
     * left to {@link #ownCopy} in a later process.
     */
    static void remove(Path copy) {
        try {
            Files.deleteIfExists(copy);
        } catch (IOException e) {
            // In use: removed once its process has ended.
        }
    }

    /**
     * Removes the copies of this library, of every version, whose process has ended; at best
     * effort, since another process may be extracting at the same time.
     */
    private static void removeLeftovers(Path root, String base, String suffix) {
        Pattern copies =
                Pattern.compile(
                        Pattern.quote(base) + "-(\\d{1,18})-\\d+" + Pattern.quote(suffix));
        try (Stream<Path> files = Files.walk(root, 2)) {
            files.filter(
                            file -> {
                                Matcher copy = copies.matcher(file.getFileName().toString());
                                return copy.matches()
                                        && !ProcessHandle.of(Long.parseLong(copy.group(1)))
                                                .map(ProcessHandle::isAlive)
                                                .orElse(false);
                            })
                    .forEach(LibraryCache::remove);
        } catch (IOException | UncheckedIOException e) {
            // Left for the next copy.
        }
    }

    /** The place's folder, made when missing, checked, by its path without symbolic links. */
    private Path privateRoot() throws IOException {
        Path root = place.folder();
        Path anchor = place.anchor();
        if (anchor != null && !Files.isDirectory(anchor)) {
            throw new IOException(
                    "cannot create " + root + ": no such folder " + anchor + " (" + place.about()
                            + ")");
        }
        try {
            if (!unix) {
                // Windows: the user's local application data is private to the user already.
                return Files.createDirectories(root);
            }
            Files.createDirectories(root, PRIVATE);
        } catch (IOException e) {
            throw new IOException("cannot create " + root + ": " + IoWords.of(e), e);
        }
        Path parent = root.getParent().toRealPath();
        for (Path above = parent; above != null; above = above.getParent()) {
            int mode = mode(above);
            if ((mode & GROUP_OR_OTHERS_WRITE) != 0 && (mode & STICKY) == 0) {
                throw new IOException(
                        root + ": others may write " + above + " and it has no sticky bit ("
                                + permissions(mode) + ")");
            }
        }
        Path real = parent.resolve(root.getFileName());
        checkPrivate(real);
        return real;
    }

    private void makePrivateFolder(Path folder) throws IOException {
        if (!unix) {
            Files.createDirectories(folder);
            return;
        }
        try {
            Files.createDirectory(folder, PRIVATE);
        } catch (FileAlreadyExistsException e) {
            // Made earlier, or by another JVM at the same moment: checked like any other.
        }
        checkPrivate(folder);
    }

    private void checkPrivate(Path folder) throws IOException {
        Map<String, Object> attributes =
                Files.readAttributes(folder, "unix:mode,uid", LinkOption.NOFOLLOW_LINKS);
        int mode = (Integer) attributes.get("mode");
        int owner = (Integer) attributes.get("uid");
        if ((mode & TYPE) == LINK) {
            throw new IOException(folder + " is a symbolic link");
        }
        if ((mode & TYPE) != FOLDER) {
            throw new IOException(folder + " is not a folder");
        }
        if ((mode & GROUP_OR_OTHERS_WRITE) != 0) {
            throw new IOException(
                    folder + " may be written by others (" + permissions(mode) + ")");
        }
        if (owner != user()) {
            throw new IOException(folder + " is owned by another user (uid " + owner + ")");
        }
    }

    /** Another JVM may have put an intact copy there meanwhile, which Windows will not replace. */
    private void moveIntoPlace(Path part, Path target, String hash) throws IOException {
        try {
            Files.move(
                    part,
                    target,
                    StandardCopyOption.ATOMIC_MOVE,
                    StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            if (!holds(target, hash)) {
                throw e;
            }
        }
    }

    /** Whether the file itself, never a link's target, is the user's and has that content. */
    private boolean holds(Path file, String hash) throws IOException {
        if (unix) {
            Map<String, Object> attributes;
            try {
                attributes = Files.readAttributes(file, "unix:mode,uid", LinkOption.NOFOLLOW_LINKS);
            } catch (NoSuchFileException e) {
                return false;
            }
            if (((Integer) attributes.get("mode") & TYPE) != FILE
                    || (Integer) attributes.get("uid") != user()) {
                return false;
            }
        } else if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
            return false;
        }
        return sha256(Files.readAllBytes(file)).equals(hash);
    }

    /** The uid this JVM runs as: the owner of its process's folder, else of a file it makes. */
    private int user() throws IOException {
        if (user == null) {
            try {
                user = (Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid");
            } catch (IOException | UnsupportedOperationException e) {
                Path probe = Files.createTempFile("usb3k-owner", ".probe");
                try {
                    user = (Integer) Files.getAttribute(probe, "unix:uid");
                } finally {
                    Files.delete(probe);
                }
            }
        }
        return user;
    }

    private static int mode(Path path) throws IOException {
        return (Integer) Files.getAttribute(path, "unix:mode", LinkOption.NOFOLLOW_LINKS);
    }

    /** The permission bits of a mode as {@code ls} shows them, for example {@code rwxrwxrwx}. */
    private static String permissions(int mode) {
        StringBuilder text = new StringBuilder();
        for (int bit = 8; bit >= 0; bit--) {
            text.append((mode & (1 << bit)) == 0 ? '-' : "xwr".charAt(bit % 3));
        }
        return text.toString();
    }

    private static String sha256(byte[] content) {
        try {
            return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(content));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JVM has SHA-256", e);
        }
    }
}
