package com.pelmar.usb3k;

import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.util.Objects;
import java.util.function.LongConsumer;

/**
 * The speech of a stream of VCW frames, decoded a chunk of frames at a time as it is read: it holds
 * one chunk's frames and speech, never the whole input. A chunk is what has arrived: a read waits
 * for one whole frame, then takes every byte the input has ready without blocking, up to the
 * chunk's size, and decodes its whole frames, keeping a part frame for the next read. So a live
 * source's speech is readable one device exchange after its frame arrives, and a file, which has
 * everything ready, is decoded in whole chunks. A frame the device fails twice is silence ({@link
 * ConcealingDecoder}). A failure (the device gone, an interrupt, an input that ends early or in a
 * part frame) is thrown once the speech before it has been read, and again by every later read: the
 * speech never just ends short.
 */
final class SpeechInputStream extends InputStream {
    private final ChunkDecoder decoder;
    private final InputStream vcw;
    /** Frames the input holds, or -1 when it is read to its end. */
    private final long totalFrames;
    private final LongConsumer progress;
    private final byte[] frames;
    private final byte[] speech;

    /** speech[position..limit) is decoded and not yet read. */
    private int position;
    private int limit;
    /** frames[0..carried) is the start of a frame read with the chunk before. */
    private int carried;
    /** Whether the last read of the input met its end. */
    private boolean inputEnded;
    private long framesDecoded;
    /** Thrown once the speech before it has been read. */
    private IOException failure;

    SpeechInputStream(
            ChunkDecoder decoder,
            InputStream vcw,
            long totalFrames,
            int framesPerRead,
            LongConsumer progress) {
        this.decoder = decoder;
        this.vcw = vcw;
        this.totalFrames = totalFrames;
        this.progress = progress;
        this.frames = new byte[framesPerRead * Usb3kDecoder.FRAME_BYTES];
        this.speech = new byte[framesPerRead * Usb3kDecoder.SPEECH_BYTES];
    }

    @Override
    public int read() throws IOException {
        byte[] one = new byte[1];
        return read(one, 0, 1) < 0 ? -1 : one[0] & 0xFF;
    }

    @Override
    public int read(byte[] buffer, int offset, int length) throws IOException {
        Objects.checkFromIndexSize(offset, length, buffer.length);
        if (length == 0) {
            return 0;
        }
        if (position == limit && !decodeNextChunk()) {
            return -1;
        }
        int count = Math.min(length, limit - position);
        System.arraycopy(speech, position, buffer, offset, count);
        position += count;
        return count;
    }

    @Override
    public int available() {
        return limit - position;
    }

    @Override
    public void close() throws IOException {
        vcw.close();
    }

    /** Reads and decodes the next chunk of frames; false at the end of the input. */
    private boolean decodeNextChunk() throws IOException {
        if (failure != null) {
            throw failure;
        }
        int wanted = frames.length / Usb3kDecoder.FRAME_BYTES;
        if (totalFrames >= 0) {
            wanted = (int) Math.min(wanted, totalFrames - framesDecoded);
        }
        int bytes = readArrived(wanted * Usb3kDecoder.FRAME_BYTES);
        int count = bytes / Usb3kDecoder.FRAME_BYTES;
        IOException end = inputEnded ? endFailure(bytes, count, wanted) : null;

        ConcealingDecoder.Outcome outcome = decoder.decode(frames, count, speech);
        int decoded = outcome.frames();
        framesDecoded += decoded;
        if (decoded > 0 && progress != null) {
            progress.accept(framesDecoded);
        }
        carried = bytes - count * Usb3kDecoder.FRAME_BYTES;
        System.arraycopy(frames, count * Usb3kDecoder.FRAME_BYTES, frames, 0, carried);
        failure = outcome.failure() != null ? outcome.failure() : end;
        position = 0;
        limit = decoded * Usb3kDecoder.SPEECH_BYTES;
        if (limit == 0 && failure != null) {
            throw failure;
        }
        return limit > 0;
    }

    /**
     * Fills frames[0..wantedBytes) as far as the input allows without waiting once it holds a whole
     * frame, and tells whether the input ended meanwhile: the bytes it holds then, the part frame
     * carried over included.
     */
    private int readArrived(int wantedBytes) throws IOException {
        int bytes = carried;
        inputEnded = false;
        while (bytes < wantedBytes) {
            // Until a whole frame is here the read may wait; after it, only what is ready.
            int ready = bytes < Usb3kDecoder.FRAME_BYTES ? wantedBytes - bytes : vcw.available();
            if (ready <= 0) {
                break;
            }
            int got = vcw.read(frames, bytes, Math.min(ready, wantedBytes - bytes));
            if (got < 0) {
                inputEnded = true;
                break;
            }
            bytes += got;
        }
        return bytes;
    }

    /** What an input that ended with these bytes of the wanted frames means. */
    private IOException endFailure(int bytes, int count, int wanted) {
        int partBytes = bytes - count * Usb3kDecoder.FRAME_BYTES;
        if (totalFrames >= 0 && count < wanted) {
            return new EOFException(
                    "the VCW input ended after "
                            + (framesDecoded + count)
                            + " of "
                            + totalFrames
                            + " frames");
        }
        if (partBytes > 0) {
            return new EOFException(
                    "the VCW input ends in a part frame of " + partBytes + " bytes");
        }
        return null;
    }
}
