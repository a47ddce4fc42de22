package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kDevice;
import com.pelmar.usb3k.Usb3kDeviceListener;
import com.pelmar.usb3k.Usb3kDeviceWatch;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;

/**
 * {@code --watch}: prints a line for each USB-3000 attached and each one that arrives or leaves,
 * {@code attached: SERIAL (ready)}, {@code attached: SERIAL (not ready: REASON)} or {@code
 * detached: SERIAL}, until standard input ends (Ctrl-D) or the program is interrupted (Ctrl-C).
 */
final class WatchDevices implements Usb3kDeviceListener {
    private final PrintStream out;

    private WatchDevices(PrintStream out) {
        this.out = out;
    }

    /** Watches until {@code in} ends. */
    static void run(InputStream in, PrintStream out) throws DemoFailure {
        out.println("Watching for USB-3000s until standard input ends (Ctrl-D)");
        Usb3kDeviceWatch watch;
        try {
            watch = Usb3kDecoder.watch(new WatchDevices(out));
        } catch (LinkageError e) {
            throw DecodeVcw.unloadable(e);
        }
        try {
            while (in.read() != -1) {
                // Only the end of the input matters.
            }
        } catch (IOException e) {
            throw new DemoFailure("cannot read standard input: " + e.getMessage());
        } finally {
            watch.close();
        }
    }

    @Override
    public void attached(Usb3kDevice device) {
        out.println(
                "attached: "
                        + device.serialNumber()
                        + (device.usable() ? " (ready)" : " (not ready: " + device.reason() + ")"));
    }

    @Override
    public void detached(String serialNumber) {
        out.println("detached: " + serialNumber);
    }
}
