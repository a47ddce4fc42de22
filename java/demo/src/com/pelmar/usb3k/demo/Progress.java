package com.pelmar.usb3k.demo;

import java.io.PrintStream;

/** Reports decoding progress in steps of a tenth, so a long input shows that it is moving. */
final class Progress {
    private final PrintStream out;
    private final long total;
    private int tenthsShown;

    Progress(PrintStream out, long total) {
        this.out = out;
        this.total = total;
    }

    void decoded(long frames) {
        int tenths = (int) (frames * 10 / total);
        if (tenths > tenthsShown && frames < total) {
            tenthsShown = tenths;
            out.printf("  %d of %d frames (%d%%)%n", frames, total, frames * 100 / total);
        }
    }
}
