package com.pelmar.usb3k;

import java.lang.System.Logger.Level;
import java.util.List;

/**
 * Hands the library's lines to {@link System.Logger} {@value #LOGGER_NAME}, in the order the
 * library wrote them, on the thread that made the call, once its outcome is known: {@code
 * usb3k-trace} lines at {@link Level#TRACE}, the others at {@link #FAILED} or {@link #PASSED}.
 */
final class LibraryLog {
    /** The logger's name. */
    static final String LOGGER_NAME = "com.pelmar.usb3k";

    /** How the lines of the wire trace ({@code USB3K_TRACE=1}) begin. */
    static final String TRACE_PREFIX = "usb3k-trace ";

    /**
     * The lines of a failure the caller sees (an exception, fewer frames than asked for) and of a
     * frame a stream replaced by silence: speech is missing.
     */
    static final Level FAILED = Level.WARNING;

    /**
     * The lines of a call that did what was asked all the same: a device that did not get ready
     * while another did, a device listed as not usable, a glitch after which the frame was decoded.
     */
    static final Level PASSED = Level.INFO;

    private static final System.Logger LOGGER = System.getLogger(LOGGER_NAME);

    private LibraryLog() {}

    /** Logs the lines, in order, trace lines at {@link Level#TRACE} and the others at level. */
    static void log(Level level, List<String> lines) {
        for (String line : lines) {
            LOGGER.log(isTrace(line) ? Level.TRACE : level, line);
        }
    }

    static boolean isTrace(String line) {
        return line.startsWith(TRACE_PREFIX);
    }

    /** The diagnostic lines among these, in order: those an exception or a listener gets. */
    static List<String> withoutTrace(List<String> lines) {
        return lines.stream().filter(line -> !isTrace(line)).toList();
    }
}
