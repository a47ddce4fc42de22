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
 *
 * <p>{@link #likelyCause()} names the likely cause when the library knows one that the message
 * does not say, and {@link #fix()} what the person running the application can do about it, in the
 * words {@code usb3k-probe} prints after "likely cause:" for the same failure. {@link #toString()},
 * and so a stack trace or a logged exception, gives all three; an application that shows only
 * {@link #getMessage()} should show the other two with it.
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
        /**
         * The USB-3000 did not decode a frame: made with {@link
         * FrameNotDecodedException#FrameNotDecodedException(long)}. The streams of {@link
         * Usb3kDecoder} give {@link #NOT_RESPONDING} for a device that decodes nothing.
         */
        FRAME_NOT_DECODED,
        /**
         * The USB-3000 is still attached but decoded none of a run of {@link
         * Usb3kDecoder#FRAMES_WITHOUT_SPEECH_WHEN_GONE} frames, a reset within them or not: it
         * answers nothing usable ({@link FrameNotDecodedException}); unplugging it and plugging it
         * in again is what is left.
         */
        NOT_RESPONDING,
        /** The USB-3000 is gone: D2XX no longer lists it ({@link FrameNotDecodedException}). */
        DEVICE_GONE,
        /** usb3k-server refused the token ({@code 401}): it is wrong, or no longer in its list. */
        UNAUTHORISED,
        /** usb3k-server could not be reached, or the connection to it was lost. */
        SERVER_UNREACHABLE,
        /** usb3k-server is draining (stopping): it takes no new work and ends what it has. */
        SERVER_DRAINING,
        /** Every USB-3000 of usb3k-server stayed busy past its queue time-out ({@code 503}). */
        NO_DEVICE_FREE,
        /** usb3k-server's TLS certificate is not one this JVM trusts for its address. */
        SERVER_NOT_TRUSTED,
        /** A failure of no kind above, such as one made with {@code new Usb3kException(message)}. */
        OTHER,
    }

    /** What kind of failure this is. */
    private final Reason reason;

    /** The library's lines of the failed operation, in the order it wrote them. */
    private final List<String> lines;

    /** The likely cause the message does not say; empty when none (null in older serial forms). */
    private final String likelyCause;

    /** What to do about the failure; empty when nothing is known (null in older serial forms). */
    private final String fix;

    /**
     * An exception of kind {@link Reason#OTHER} without lines or fix.
     *
     * @param message what went wrong
     */
    public Usb3kException(String message) {
        this(Reason.OTHER, message, List.of());
    }

    /**
     * An exception of a kind, with the library's lines of the failed operation, without a cause or
     * fix.
     *
     * @param reason the kind of failure
     * @param message what went wrong, for the person running the application
     * @param lines the library's lines, in order; copied
     */
    public Usb3kException(Reason reason, String message, List<String> lines) {
        this(reason, message, lines, "", "");
    }

    /**
     * An exception of a kind, with the library's lines of the failed operation, its likely cause
     * and what to do.
     *
     * @param reason the kind of failure
     * @param message what went wrong, for the person running the application
     * @param lines the library's lines, in order; copied
     * @param likelyCause the likely cause, when the message does not say it; empty for none
     * @param fix what the person running the application can do about it; empty for nothing
     */
    public Usb3kException(
            Reason reason, String message, List<String> lines, String likelyCause, String fix) {
        super(message);
        this.reason = Objects.requireNonNull(reason, "reason");
        this.lines = List.copyOf(lines);
        this.likelyCause = Objects.requireNonNull(likelyCause, "likelyCause");
        this.fix = Objects.requireNonNull(fix, "fix");
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

    /**
     * The likely cause of the failure, when the library knows one that the message does not say
     * ({@code "another class loader of this JVM, or another process, has the device open (D2XX
     * lists it as opened)"} for a device that is {@link Reason#NOT_READY}), in the words {@code
     * usb3k-probe} prints for it where they apply; not the {@code Throwable} of {@link
     * #getCause()}.
     *
     * @return the cause; empty when none is known or the message says it
     */
    public String likelyCause() {
        return likelyCause == null ? "" : likelyCause;
    }

    /**
     * What the person running the application can do about the failure, in the words {@code
     * usb3k-probe} prints for it ({@code "close that program, then try again"}).
     *
     * @return the fix; empty when nothing is known, as for {@link Reason#OTHER}
     */
    public String fix() {
        return fix == null ? "" : fix;
    }

    /**
     * The class, the message, and the likely cause and the fix when there are: {@code
     * "com.pelmar.usb3k.Usb3kException: MESSAGE; likely cause: CAUSE; fix: FIX"}.
     *
     * @return the text
     */
    @Override
    public String toString() {
        return super.toString()
                + (likelyCause().isEmpty() ? "" : "; likely cause: " + likelyCause())
                + (fix().isEmpty() ? "" : "; fix: " + fix());
    }
}
