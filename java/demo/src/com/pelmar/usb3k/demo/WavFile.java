package com.pelmar.usb3k.demo;

import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * A WAV file of 8 kHz 16-bit mono speech, written to a temporary file beside its destination and
 * renamed into place by {@link #commit()}. Closing it without a commit removes the temporary file,
 * so a failed run leaves no partial WAV behind.
 */
final class WavFile implements AutoCloseable {
    static final int SAMPLE_RATE = 8000;
    static final int HEADER_BYTES = 44;
    /** RIFF sizes are 32-bit: the data may take what is left after the rest of the header. */
    static final long MAX_DATA_BYTES = 0xFFFFFFFFL - (HEADER_BYTES - 8);

    private final Path destination;
    private final Path temporary;
    private final OutputStream out;
    private boolean committed;

    /** Creates the temporary file with the header for exactly {@code dataBytes} of samples. */
    WavFile(Path destination, long dataBytes) throws IOException {
        this.destination = destination;
        this.temporary = createBeside(destination);
        OutputStream stream = null;
        try {
            stream = new BufferedOutputStream(Files.newOutputStream(temporary));
            stream.write(header(dataBytes));
        } catch (IOException | RuntimeException e) {
            if (stream != null) {
                stream.close();
            }
            Files.deleteIfExists(temporary);
            throw e;
        }
        this.out = stream;
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

    /** Samples, each low byte first. */
    void write(byte[] samples, int count) throws IOException {
        out.write(samples, 0, count);
    }

    /** Completes the file and moves it to its destination, replacing what was there. */
    void commit() throws IOException {
        out.close();
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
            try {
                out.close();
            } finally {
                Files.deleteIfExists(temporary);
            }
        }
    }

    static byte[] header(long dataBytes) {
        byte[] h = new byte[HEADER_BYTES];
        ascii(h, 0, "RIFF");
        le32(h, 4, HEADER_BYTES - 8 + dataBytes);
        ascii(h, 8, "WAVE");
        ascii(h, 12, "fmt ");
        le32(h, 16, 16); // size of the format chunk
        le16(h, 20, 1); // PCM
        le16(h, 22, 1); // mono
        le32(h, 24, SAMPLE_RATE);
        le32(h, 28, SAMPLE_RATE * 2L); // bytes a second
        le16(h, 32, 2); // bytes a sample
        le16(h, 34, 16); // bits a sample
        ascii(h, 36, "data");
        le32(h, 40, dataBytes);
        return h;
    }

    private static void ascii(byte[] b, int at, String text) {
        for (int i = 0; i < text.length(); i++) {
            b[at + i] = (byte) text.charAt(i);
        }
    }

    private static void le16(byte[] b, int at, int value) {
        b[at] = (byte) value;
        b[at + 1] = (byte) (value >>> 8);
    }

    private static void le32(byte[] b, int at, long value) {
        le16(b, at, (int) value);
        le16(b, at + 2, (int) (value >>> 16));
    }
}
