package com.pelmar.usb3k;

import java.io.BufferedOutputStream;
import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * A file written under a temporary name beside its destination and renamed into place by {@link
 * #commit()}. Closing it without a commit removes the temporary file, so a failed run leaves no
 * partial file behind and keeps whatever was at the destination.
 *
 * <p>A destination that is a symbolic link is written through: the link stays, and the file it
 * leads to (at the end of a chain of links) is replaced, the temporary file made beside that file
 * so that the rename stays within one file system. Every failure names the destination as the
 * caller named it ({@link FileFailure}), never the temporary file, which it keeps as its cause.
 */
final class PendingFile implements AutoCloseable {
    /** Links followed at most before a chain counts as a loop, as on Linux. */
    private static final int MAX_LINKS = 40;
    /** The WAV writer's writes are a few KB each: buffered, the file gets fewer, larger ones. */
    private static final int BUFFER_BYTES = 1 << 16;

    private final Path named;
    private final Path destination;
    private Path temporary;
    private boolean committed;

    /**
     * Finds the file to replace; creates nothing.
     *
     * @throws FileFailure when that file is a folder or the links to it cannot be followed
     */
    PendingFile(Path named) throws IOException {
        this.named = named;
        this.destination = throughLinks(named);
        if (Files.isDirectory(destination)) {
            throw FileFailure.cannotWrite(named, "it is a directory");
        }
    }

    /** The file a commit replaces or creates: the destination, its links followed. */
    Path destination() {
        return destination;
    }

    /**
     * The file at the end of the chain of symbolic links that starts at {@code path} ({@code path}
     * itself when it is no link); it may not exist yet. A relative link leads from its own folder.
     */
    private Path throughLinks(Path path) throws IOException {
        Path file = path.toAbsolutePath();
        for (int links = 0; Files.isSymbolicLink(file); links++) {
            if (links == MAX_LINKS) {
                throw FileFailure.cannotWrite(named, "too many levels of symbolic links");
            }
            try {
                file = file.resolveSibling(Files.readSymbolicLink(file));
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }
        return file;
    }

    /**
     * Creates the empty temporary file and returns a buffered stream that writes it; its failures
     * name the destination.
     */
    OutputStream create() throws IOException {
        try {
            temporary = createBeside(destination);
            return new Named(new BufferedOutputStream(Files.newOutputStream(temporary), BUFFER_BYTES));
        } catch (IOException e) {
            throw FileFailure.cannotWrite(named, e);
        }
    }

    /**
     * A new empty file in the destination's folder. Made with the permissions the user's umask
     * gives, unlike Files.createTempFile.
     */
    private static Path createBeside(Path destination) throws IOException {
        Path folder = destination.getParent();
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

    /** Moves the written and closed file to its destination, replacing what was there. */
    void commit() throws IOException {
        try {
            try {
                Files.move(
                        temporary,
                        destination,
                        StandardCopyOption.ATOMIC_MOVE,
                        StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(temporary, destination, StandardCopyOption.REPLACE_EXISTING);
            }
        } catch (IOException e) {
            throw FileFailure.cannotWrite(named, e);
        }
        committed = true;
    }

    @Override
    public void close() throws IOException {
        if (temporary != null && !committed) {
            try {
                Files.deleteIfExists(temporary);
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }
    }

    /** The temporary file's stream, whose failures name the destination. */
    private final class Named extends FilterOutputStream {
        Named(OutputStream out) {
            super(out);
        }

        @Override
        public void write(int b) throws IOException {
            try {
                out.write(b);
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }

        @Override
        public void write(byte[] bytes, int offset, int length) throws IOException {
            try {
                out.write(bytes, offset, length);
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }

        @Override
        public void flush() throws IOException {
            try {
                out.flush();
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }

        @Override
        public void close() throws IOException {
            try {
                out.close();
            } catch (IOException e) {
                throw FileFailure.cannotWrite(named, e);
            }
        }
    }
}
