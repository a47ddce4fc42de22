package com.pelmar.usb3k;

import com.pelmar.usb3k.internal.NativeLibrary;

/**
 * The handle-based native interface of the library {@code usb3k} under {@link Usb3kDecoder}. Each
 * method leaves, for the calling thread, how it failed ({@link #failure()}), the library's lines it
 * wrote ({@link #lines()}) and the failure's cause and fix ({@link #advice()}), until the thread's
 * next call. Texts cross as bytes, one a character
 * (Latin-1), as D2XX holds them.
 */
final class Usb3kNative {
    /** The system property that, set to {@code false}, keeps these methods' lines off standard error. */
    static final String STANDARD_ERROR_PROPERTY = "usb3k.stderr";

    private static boolean standardErrorSet;

    /**
     * Loads the library before the first native call ({@link Usb3kDecoder#devices()}, {@link
     * Usb3kDecoder#open()}); a failed load throws the same {@link UnsatisfiedLinkError} each time.
     * No static initializer loads it: a class whose initializer failed gives only {@link
     * NoClassDefFoundError} from then on. Once loaded, {@link #STANDARD_ERROR_PROPERTY} is applied.
     */
    static void load() {
        NativeLibrary.load();
        applyStandardErrorProperty();
    }

    private static synchronized void applyStandardErrorProperty() {
        if (standardErrorSet) {
            return;
        }
        standardErrorSet = true;
        if ("false".equalsIgnoreCase(System.getProperty(STANDARD_ERROR_PROPERTY))) {
            setStandardError(false);
        }
    }

    /** How a call failed; the numbers are the library's. */
    static final int NONE = 0;

    static final int NO_D2XX_LIBRARY = 1;
    static final int DEVICE_LIST_FAILED = 2;
    static final int NO_USB3000 = 3;
    static final int NO_SUCH_SERIAL = 4;
    static final int IN_USE = 5;
    static final int NOT_READY = 6;
    static final int FRAME_FAILED = 7;
    static final int DEVICE_GONE = 8;
    static final int NOT_OPEN = 9;

    /** Texts per attached USB-3000 in {@link #devices()}. */
    static final int TEXTS_PER_DEVICE = 6;

    private Usb3kNative() {}

    /**
     * Every attached USB-3000: serial number, description, "1" when usable (else empty), product
     * ID, version, reason, six texts a device; null on failure.
     */
    static native byte[][] devices();

    /**
     * Every USB-3000 in D2XX's list, without opening any: serial number and description, two texts
     * a device; null on failure. Its lines stay off standard error.
     */
    static native byte[][] attached();

    /**
     * Opens the USB-3000 with that serial number, or the first free one that gets ready (null), and
     * prepares it for decoding; its serial number goes to {@code opened[0]}. Returns its handle, or
     * 0 on failure.
     */
    static native long open(byte[] serialNumber, byte[][] opened);

    /**
     * Decodes {@code frames} frames (in range, checked by the caller) on the handle's device;
     * returns how many, from the first, were decoded.
     */
    static native int decode(
            long handle, byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset);

    /**
     * Resets the handle's device and prepares it again as {@link #open} did (reset, codec stopped,
     * rate table 34), for a stream whose device answered none of {@code framesWithoutSpeech}
     * frames in a row while still attached; writes one line either way. Returns whether every
     * command was answered.
     */
    static native boolean reprepare(long handle, int framesWithoutSpeech);

    /** Closes the handle's device once the exchange in progress on it has ended. */
    static native void close(long handle);

    /**
     * Whether the lines of these methods also go to standard error, as they do until told
     * otherwise; the lines of {@code USB3KBridge} always do.
     */
    static native void setStandardError(boolean written);

    /** How the calling thread's last call failed, or {@link #NONE}. */
    static native int failure();

    /**
     * The lines the calling thread's last call wrote, in order: its diagnostic lines and, with
     * {@code USB3K_TRACE=1}, its {@code usb3k-trace} lines among them.
     */
    static native byte[][] lines();

    /**
     * The cause and the fix of the calling thread's last call's failure, two texts, each empty when
     * not known; the cause only when the failure's last line does not already name it.
     */
    static native byte[][] advice();
}
