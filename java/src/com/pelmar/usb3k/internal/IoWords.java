package com.pelmar.usb3k.internal;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;

/**
 * An I/O failure in words: the message of many of Java's file exceptions is only the path, which
 * tells a user nothing about what went wrong there.
 */
final class IoWords {
    private IoWords() {}

    static String of(IOException e) {
        if (e instanceof FileSystemException failure && failure.getReason() == null) {
            String file = failure.getFile();
            if (e instanceof NoSuchFileException) {
                return "no such file or folder " + file;
            }
            if (e instanceof AccessDeniedException) {
                return "permission denied on " + file;
            }
            if (e instanceof FileAlreadyExistsException) {
                return file + " exists and is not a folder";
            }
            if (e instanceof NotDirectoryException) {
                return file + " is not a folder";
            }
            return file + ": " + e.getClass().getSimpleName();
        }
        String message = e.getMessage();
        return message == null ? e.getClass().getSimpleName() : message;
    }
}
