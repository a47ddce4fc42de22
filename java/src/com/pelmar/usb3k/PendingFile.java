package com.pelmar.usb3k;

import java.io.IOException;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * A file written under a temporary name beside its destination and renamed into place by {@link
 * #commit()}. Closing it without a commit removes the temporary file, so a failed run leaves no
 * partial file behind and keeps whatever was at the destination.
 */
final class PendingFile implements AutoCloseable {
    private final Path destination;
    private final Path temporary;
    private boolean committed;

    /** Creates the empty temporary file. */
    PendingFile(Path destination) throws IOException {
        this.destination = destination;
        this.temporary = createBeside(destination);
    }

    /**
     * A new empty file in the destination's folder, so that the final rename stays within one file
     * system. Made with the permissions the user's umask gives, unlike Files.createTempFile.
     */
    private static Path createBeside(Path destination) throws IOException {
        Path folder = destination.toAbsolutePath().getParent();
        String prefix = "." + destination.getFileName() + "." + ProcessHandle.current().pid();
        for (int attempt = 0; ; attempt++) {
            try {
                return Files.createFile(folder.resolve(prefix + "-" + attempt + ".partial"));
            } catch (FileAlreadyExistsException e) {
                if (attempt == 99) {
                    throw e;
                }
            }
        }
    }

    /** The temporary file, to be written in place. */
    Path path() {
        return temporary;
    }

    /** Moves the written file to its destination, replacing what was there. */
    void commit() throws IOException {
        try {
            Files.move(
                    temporary,
                    destination,
                    StandardCopyOption.ATOMIC_MOVE,
                    StandardCopyOption.REPLACE_EXISTING);
        } catch (AtomicMoveNotSupportedException e) {
            Files.move(temporary, destination, StandardCopyOption.REPLACE_EXISTING);
        }
        committed = true;
    }

    @Override
    public void close() throws IOException {
        if (!committed) {
            Files.deleteIfExists(temporary);
        }
    }
}
