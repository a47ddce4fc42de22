package com.pelmar.base.audio.codec.test;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

/**
 * Captures what native code writes to file descriptor 2, which System.setErr does not see. One
 * capture at a time: JUnit runs the tests of this suite one after another.
 */
public final class StandardError {
    static {
        System.loadLibrary("usb3k_test_support");
    }

    private StandardError() {}

    private static native void begin();

    private static native byte[] end();

    /** Runs the action and returns the bytes written to standard error meanwhile. */
    public static byte[] captureBytes(Runnable action) {
        byte[] captured;
        begin();
        try {
            action.run();
        } finally {
            captured = end();
        }
        return captured;
    }

    /** Runs the action and returns the lines written to standard error, read as Latin-1. */
    public static List<String> capture(Runnable action) {
        return lines(captureBytes(action));
    }

    public static List<String> lines(byte[] text) {
        String all = new String(text, StandardCharsets.ISO_8859_1);
        if (all.isEmpty()) {
            return List.of();
        }
        if (!all.endsWith("\n")) {
            throw new AssertionError("standard error does not end with a line feed: " + all);
        }
        return Arrays.asList(all.substring(0, all.length() - 1).split("\n", -1));
    }
}
