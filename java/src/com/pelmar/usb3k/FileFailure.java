package com.pelmar.usb3k;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.Locale;

/**
 * A file that {@link Usb3kDecoder#decodeFile} refuses or cannot write, named as the caller named
 * it, with the reason in words: {@code cannot write out.wav: it is the input file}. {@link
 * #getFile()} is that name and {@link #getReason()} the words after it.
 */
final class FileFailure extends FileSystemException {
    private static final long serialVersionUID = 1L;

    private final String action;

    private FileFailure(String action, Path file, String reason, IOException cause) {
        super(file.toString(), null, reason);
        this.action = action;
        initCause(cause);
    }

    static FileFailure cannotRead(Path file, String reason) {
        return new FileFailure("cannot read", file, reason, null);
    }

    static FileFailure cannotWrite(Path file, String reason) {
        return new FileFailure("cannot write", file, reason, null);
    }

    /** A failure of the file written for {@code file} (its temporary file), told as file's. */
    static FileFailure cannotWrite(Path file, IOException cause) {
        return new FileFailure("cannot write", file, reason(cause), cause);
    }

    @Override
    public String getMessage() {
        return action + " " + getFile() + ": " + getReason();
    }

    /** The system's reason without the name of the file it was about. */
    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file or directory";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof FileSystemException fs && fs.getReason() != null) {
            return fs.getReason().toLowerCase(Locale.ROOT);
        }
        return e.getMessage();
    }
}
