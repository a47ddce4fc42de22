package com.pelmar.usb3k.demo;

import java.io.FilterInputStream;
import java.io.IOException;
import java.io.InputStream;

/**
 * The VCW input, whose read failures reach the demo as {@link ReadFailure}: AudioSystem's writer
 * reads the input and writes the WAV file in one call, and the user must hear which of the two
 * failed.
 */
final class VcwInput extends FilterInputStream {
    /** The input could not be read; {@link #cause()} says why. */
    static final class ReadFailure extends IOException {
        private static final long serialVersionUID = 1L;

        ReadFailure(IOException cause) {
            super(cause);
        }

        IOException cause() {
            return (IOException) getCause();
        }
    }

    VcwInput(InputStream in) {
        super(in);
    }

    @Override
    public int read() throws IOException {
        try {
            return super.read();
        } catch (IOException e) {
            throw new ReadFailure(e);
        }
    }

    @Override
    public int read(byte[] buffer, int offset, int length) throws IOException {
        try {
            return super.read(buffer, offset, length);
        } catch (IOException e) {
            throw new ReadFailure(e);
        }
    }
}
