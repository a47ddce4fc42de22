package com.pelmar.usb3k;

import java.util.List;
import java.util.Objects;

/**
 * The USB-3000 or the library could not do what was asked. {@link #reason()} says which kind of
 * failure it is, and {@link #lines()} holds, in order, the library's diagnostic lines of the
 * operation that failed: the same lines the library logs (see {@link Usb3kDecoder}), so an
 * application can also show them. The message is the last of those lines without the name of the
 * operation in front ({@code "no USB-3000 with serial number X"}), or a text of this package when
 * the failure is Java's own.
 */
public class Usb3kException extends java.io.IOException {
    private static final long serialVersionUID = 1L;

    /** The kinds of failure. */
    public enum Reason {
        /** The D2XX library (FTDI's driver) could not be loaded; the message has the reason. */
        NO_D2XX_LIBRARY,
        /** D2XX could not list the attached devices. */
        DEVICE_LIST_FAILED,
        /** D2XX lists no USB-3000. */
        NO_DEVICE,
        /** No attached USB-3000 has the serial number asked for. */
        NO_SUCH_DEVICE,
        /** The USB-3000 is held by another decoder or by {@code USB3KBridge} in this process. */
        IN_USE,
        /** The USB-3000 could not be opened, configured, identified or prepared for decoding. */
        NOT_READY,
        /** The USB-3000 did not decode a frame ({@link FrameNotDecodedException}). */
        FRAME_NOT_DECODED,
        /**
         * The USB-3000 is gone: D2XX no longer lists it, or it decoded none of a run of {@link
         * Usb3kDecoder#FRAMES_WITHOUT_SPEECH_WHEN_GONE} frames ({@link FrameNotDecodedException}).
         */
        DEVICE_GONE,
        /** A failure of no kind above, such as one made with {@code new Usb3kException(message)}. */
        OTHER,
    }

    /** What kind of failure this is. */
    private final Reason reason;

    /** The library's lines of the failed operation, in the order it wrote them. */
    private final List<String> lines;

    /**
     * An exception of kind {@link Reason#OTHER} without lines.
     *
     * @param message what went wrong
     */
    public Usb3kException(String message) {
        this(Reason.OTHER, message, List.of());
    }

    /**
     * An exception of a kind, with the library's lines of the failed operation.
     *
     * @param reason the kind of failure
     * @param message what went wrong, for the person running the application
     * @param lines the library's lines, in order; copied
     */
    public Usb3kException(Reason reason, String message, List<String> lines) {
        super(message);
        this.reason = Objects.requireNonNull(reason, "reason");
        this.lines = List.copyOf(lines);
    }

    /**
     * The kind of failure.
     *
     * @return the kind
     */
    public Reason reason() {
        return reason;
    }

    /**
     * The library's diagnostic lines of the operation that failed, in order, each without its end
     * of line; empty when the library wrote none.
     *
     * @return the lines, unmodifiable
     */
    public List<String> lines() {
        return lines;
    }
}
