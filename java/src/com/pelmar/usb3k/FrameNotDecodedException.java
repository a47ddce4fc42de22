package com.pelmar.usb3k;

import java.util.List;

/**
 * A frame the USB-3000 did not decode, thrown by a read of a stream that {@link
 * Usb3kDecoder#audioStream} made (and by {@link Usb3kDecoder#decodeFile(java.nio.file.Path,
 * java.nio.file.Path)}) once the speech of every
 * frame before it has been read. Such a stream conceals a frame that fails twice and throws only
 * when the device is gone ({@link Usb3kException.Reason#DEVICE_GONE}) or, still attached, decodes
 * nothing, a reset notwithstanding ({@link Usb3kException.Reason#NOT_RESPONDING}): then {@link
 * #frameIndex()} is the frame at which it gave up, {@link #lines()} the library's lines for that
 * frame and {@link #fix()} what to do; the message says the cause.
 */
public final class FrameNotDecodedException extends Usb3kException {
    private static final long serialVersionUID = 1L;

    /** The failed frame's index in the stream, from 0. */
    private final long frameIndex;

    /**
     * The exception for one frame, of kind {@link Usb3kException.Reason#FRAME_NOT_DECODED}, without
     * lines.
     *
     * @param frameIndex the frame's index in the stream, from 0
     */
    public FrameNotDecodedException(long frameIndex) {
        this(
                frameIndex,
                Reason.FRAME_NOT_DECODED,
                "the USB-3000 did not decode frame "
                        + (frameIndex + 1)
                        + " of the VCW stream (the lines on standard error say why)",
                List.of());
    }

    /**
     * The exception for one frame, with its kind and the library's lines.
     *
     * @param frameIndex the frame's index in the stream, from 0
     * @param reason the kind of failure
     * @param message what went wrong
     * @param lines the library's lines for the frame, in order; copied
     */
    public FrameNotDecodedException(
            long frameIndex, Reason reason, String message, List<String> lines) {
        this(frameIndex, reason, message, lines, "");
    }

    /**
     * The exception for one frame, with its kind, the library's lines and what to do.
     *
     * @param frameIndex the frame's index in the stream, from 0
     * @param reason the kind of failure
     * @param message what went wrong
     * @param lines the library's lines for the frame, in order; copied
     * @param fix what the person running the application can do about it; empty for nothing
     */
    public FrameNotDecodedException(
            long frameIndex, Reason reason, String message, List<String> lines, String fix) {
        this(frameIndex, reason, message, lines, "", fix);
    }

    /** The exception for one frame, with its likely cause too: a remote decoder's. */
    FrameNotDecodedException(
            long frameIndex,
            Reason reason,
            String message,
            List<String> lines,
            String likelyCause,
            String fix) {
        super(reason, message, lines, likelyCause, fix);
        this.frameIndex = frameIndex;
    }

    /**
     * The frame that failed.
     *
     * @return its index in the stream, from 0
     */
    public long frameIndex() {
        return frameIndex;
    }
}
