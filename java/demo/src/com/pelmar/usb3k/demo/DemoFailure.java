package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.Usb3kException;
import java.io.PrintStream;

/**
 * A reason the demo cannot go on, worded for the person who ran it, with what to do about it when
 * the library knows (a {@link Usb3kException}'s likely cause and fix).
 */
final class DemoFailure extends Exception {
    private static final long serialVersionUID = 1L;

    private final String likelyCause;
    private final String fix;

    DemoFailure(String message) {
        this(message, "", "");
    }

    /** A failure worded as {@code message}, with the likely cause and the fix of {@code e}. */
    DemoFailure(String message, Usb3kException e) {
        this(message, e.likelyCause(), e.fix());
    }

    private DemoFailure(String message, String likelyCause, String fix) {
        super(message);
        this.likelyCause = likelyCause;
        this.fix = fix;
    }

    /** Prints {@code error: MESSAGE}, then the likely cause and the fix, each on its own line. */
    void print(PrintStream err) {
        err.println("error: " + getMessage());
        if (!likelyCause.isEmpty()) {
            err.println("  likely cause: " + likelyCause);
        }
        if (!fix.isEmpty()) {
            err.println("  fix: " + fix);
        }
    }
}
