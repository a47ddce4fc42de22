package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;
import java.util.Set;

/**
 * The per-user folder that holds the jar's native libraries once extracted: each file in a folder
 * named by its content's SHA-256, so that two versions never share a file and a file's name says
 * what it must hold. Several JVMs may extract at once: each writes a file of its own and renames it
 * into place, and every one checks the result's hash before it is loaded. On POSIX systems the
 * folders must belong to the user and be writable by nobody else, so that no other user can swap
 * a library between the check and the load.
 */
final class LibraryCache {
    private static final Set<PosixFilePermission> OWNER_ONLY =
            PosixFilePermissions.fromString("rwx------");

    private final Path root;

    LibraryCache(Path root) {
        this.root = root;
    }

    /**
     * The cached copy of a library, extracted now unless an intact copy is there.
     *
     * @return the path of a file whose content has the resource's hash
     * @throws IOException when the folder is not private to this user or the copy cannot be made
     */
    Path extract(String fileName, InputStream resource) throws IOException {
        byte[] content = resource.readAllBytes();
        String hash = sha256(content);
        Path folder = root.resolve(hash);
        makePrivateFolder(root);
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

    /** Another JVM may have put an intact copy there meanwhile, which Windows will not replace. */
    private static void moveIntoPlace(Path part, Path target, String hash) throws IOException {
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

    private static boolean holds(Path file, String hash) throws IOException {
        return Files.isRegularFile(file) && sha256(Files.readAllBytes(file)).equals(hash);
    }

    private static void makePrivateFolder(Path folder) throws IOException {
        if (!folder.getFileSystem().supportedFileAttributeViews().contains("posix")) {
            // Windows: the user's local application data is private to the user already.
            Files.createDirectories(folder);
            return;
        }
        if (!Files.isDirectory(folder)) {
            Files.createDirectories(
                    folder.getParent(), PosixFilePermissions.asFileAttribute(OWNER_ONLY));
            try {
                Files.createDirectory(folder, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
            } catch (FileAlreadyExistsException e) {
                // Made by another JVM at the same moment: checked below like any other.
            }
        }
        checkPrivate(folder);
    }

    private static void checkPrivate(Path folder) throws IOException {
        if (Files.isSymbolicLink(folder)) {
            throw new IOException(folder + " is a symbolic link");
        }
        Set<PosixFilePermission> permissions = Files.getPosixFilePermissions(folder);
        if (permissions.contains(PosixFilePermission.GROUP_WRITE)
                || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
            throw new IOException(
                    folder
                            + " may be written by others ("
                            + PosixFilePermissions.toString(permissions)
                            + ")");
        }
        UserPrincipal owner = Files.getOwner(folder);
        UserPrincipal me = currentUser(folder);
        if (!owner.equals(me)) {
            throw new IOException(
                    folder + " belongs to " + owner.getName() + ", not " + me.getName());
        }
    }

    /** The owner of a file this process makes: the user the JVM runs as. */
    private static UserPrincipal currentUser(Path folder) throws IOException {
        Path probe = Files.createTempFile(folder, "owner", ".probe");
        try {
            return Files.getOwner(probe);
        } finally {
            Files.delete(probe);
        }
    }

    private static String sha256(byte[] content) {
        try {
            return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(content));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JVM has SHA-256", e);
        }
    }
}
