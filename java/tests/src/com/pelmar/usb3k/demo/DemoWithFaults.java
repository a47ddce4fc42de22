package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.util.Arrays;

/**
 * Runs the demo in a child JVM after setting up the emulator to fail: args[0] names the fault,
 * the rest are the demo's own arguments.
 */
public final class DemoWithFaults {
    private DemoWithFaults() {}

    public static void main(String[] args) {
        switch (args[0]) {
            case "no-devices" -> Emulator.clearDevices();
            case "reset-unanswerable" ->
                    Emulator.faultAnswer(null, Request.RESET, 0, Fault.MISSING_FIELD, 0);
            case "channel-120-unanswered-twice" -> {
                Emulator.faultAnswer(null, Request.CHANNEL, 120, Fault.NO_ANSWER, 0);
                Emulator.faultAnswer(null, Request.CHANNEL, 121, Fault.NO_ANSWER, 0);
            }
            case "channel-from-120-unanswered" -> {
                for (int request = 120; request < 220; request++) {
                    Emulator.faultAnswer(null, Request.CHANNEL, request, Fault.NO_ANSWER, 0);
                }
            }
            case "two-devices" -> Emulator.addUsb3000("EMU30002");
            case "no-library" -> System.setProperty("usb3k.library.path", "/nonexistent/libusb3k.so");
            default -> throw new IllegalArgumentException(args[0]);
        }
        DecodeVcw.main(Arrays.copyOfRange(args, 1, args.length));
    }
}
