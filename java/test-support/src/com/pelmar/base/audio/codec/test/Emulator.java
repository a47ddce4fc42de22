package com.pelmar.base.audio.codec.test;

import java.nio.charset.StandardCharsets;

/** Drives the emulated D2XX and USB-3000 that the tests load in place of FTDI's driver. */
public final class Emulator {
    static {
        System.loadLibrary("usb3k_test_support");
    }

    /** The identifiers of a USB-3000's FTDI chip: vendor 0x0403, product 0x6001. */
    public static final int USB3000_ID = 0x04036001;
    /** The serial number of the one device attached after {@link #reset()}. */
    public static final String DEFAULT_SERIAL = "EMU30001";

    // Request kinds of the emulated USB-3000.
    public static final int PRODUCT_ID = 0;
    public static final int VERSION = 1;
    public static final int RESET = 2;
    public static final int STOP_CODEC = 3;
    public static final int RATE = 4;
    public static final int CHANNEL = 5;

    // How the device answers a request.
    public static final int NO_ANSWER = 0;
    public static final int LATE = 1;
    public static final int WRONG_START = 2;
    public static final int SHORT = 3;
    public static final int OVERSIZED = 4;
    public static final int MISSING_FIELD = 5;
    public static final int STATUS = 6;

    private Emulator() {}

    /** One attached USB-3000 ({@link #DEFAULT_SERIAL}), no faults, an empty transcript. */
    public static native void reset();

    public static native void clearDevices();

    /** Attaches a device whose serial number is these bytes (no terminating zero needed). */
    public static native int addDevice(int id, byte[] serial, String description);

    public static int addDevice(int id, String serial, String description) {
        return addDevice(id, serial.getBytes(StandardCharsets.ISO_8859_1), description);
    }

    /** Makes a D2XX function fail with {@code status}; serial null: any device; occurrence 0: all. */
    public static native void failCall(String serial, String function, int status, int occurrence);

    /** Answers the occurrence-th request of a kind (0: every one) with a fault. */
    public static native void faultAnswer(
            String serial, int request, int occurrence, int fault, int value);

    public static native int requestCount(String serial, int request);

    public static native int openHandles();

    private static native byte[] transcriptBytes();

    /** Every D2XX call since the last reset, one line each. */
    public static String transcript() {
        return new String(transcriptBytes(), StandardCharsets.ISO_8859_1);
    }

    public static native void clearTranscript();

    public static native void recordTranscript(boolean on);

    /** The 320 bytes the device answers for a codeword (w0 in bit 48), high byte first. */
    public static native byte[] speechForCodeword(long codeword);
}
