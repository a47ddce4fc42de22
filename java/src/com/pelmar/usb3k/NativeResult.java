package com.pelmar.usb3k;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/**
 * What the calling thread's last {@link Usb3kNative} call left: how it failed, its diagnostic lines,
 * every line it wrote (trace lines among them), which {@link #log} hands to the logger, and the
 * failure's cause and fix in the library's words (each empty when not known).
 */
record NativeResult(int failure, List<String> lines, List<String> written, String cause, String fix) {
    /** Reads the calling thread's last call. */
    static NativeResult last() {
        int failure = Usb3kNative.failure();
        List<String> written = texts(Usb3kNative.lines());
        List<String> advice = texts(Usb3kNative.advice());
        return new NativeResult(
                failure,
                LibraryLog.withoutTrace(written),
                written,
                advice.size() > 0 ? advice.get(0) : "",
                advice.size() > 1 ? advice.get(1) : "");
    }

    /** Logs every line the call wrote, diagnostic lines at level ({@link LibraryLog}). */
    void log(System.Logger.Level level) {
        LibraryLog.log(level, written);
    }

    /** Bytes as text, one character a byte, as D2XX holds serial numbers and descriptions. */
    static String text(byte[] bytes) {
        return new String(bytes, StandardCharsets.ISO_8859_1);
    }

    static List<String> texts(byte[][] all) {
        List<String> texts = new ArrayList<>(all == null ? 0 : all.length);
        if (all != null) {
            for (byte[] bytes : all) {
                texts.add(text(bytes));
            }
        }
        return texts;
    }

    /** The kind of failure a code of {@link Usb3kNative} stands for. */
    Usb3kException.Reason reason() {
        return switch (failure) {
            case Usb3kNative.NO_D2XX_LIBRARY -> Usb3kException.Reason.NO_D2XX_LIBRARY;
            case Usb3kNative.DEVICE_LIST_FAILED -> Usb3kException.Reason.DEVICE_LIST_FAILED;
            case Usb3kNative.NO_USB3000 -> Usb3kException.Reason.NO_DEVICE;
            case Usb3kNative.NO_SUCH_SERIAL -> Usb3kException.Reason.NO_SUCH_DEVICE;
            case Usb3kNative.IN_USE -> Usb3kException.Reason.IN_USE;
            case Usb3kNative.NOT_READY -> Usb3kException.Reason.NOT_READY;
            case Usb3kNative.FRAME_FAILED -> Usb3kException.Reason.FRAME_NOT_DECODED;
            case Usb3kNative.DEVICE_GONE -> Usb3kException.Reason.DEVICE_GONE;
            default -> Usb3kException.Reason.OTHER;
        };
    }

    /** The last line without the operation's name in front: what failed, in the library's words. */
    String message() {
        if (lines.isEmpty()) {
            return "the usb3k library failed (" + reason() + ") and wrote no line";
        }
        String last = lines.get(lines.size() - 1);
        int separator = last.indexOf(" - ");
        return separator < 0 ? last : last.substring(separator + 3);
    }

    Usb3kException exception() {
        return new Usb3kException(reason(), message(), lines, cause, fix);
    }
}
