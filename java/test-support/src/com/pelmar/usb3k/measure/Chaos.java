package com.pelmar.usb3k.measure;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.util.SplittableRandom;

/**
 * The soak's comings and goings, one at a time, at random moments until the end: unplugs (back
 * after a time, or plugged back in by hand), and hangs while listed (until a reset, for a time,
 * or until the device is unplugged). Each waits until it has happened, so that clearing the
 * faults afterwards drops only one that never came: a device's request count starts again after a
 * re-plug, and a fault left waiting would strike at another moment.
 */
final class Chaos {
    private final String[] serials;
    private final SplittableRandom random;
    private final long end;

    Chaos(String[] serials, SplittableRandom random, long end) {
        this.serials = serials;
        this.random = random;
        this.end = end;
    }

    void run() throws InterruptedException {
        while (System.nanoTime() < end) {
            Thread.sleep(random.nextInt(200, 1500));
            String serial = serials[random.nextInt(serials.length)];
            if (Emulator.locationId(serial) == 0) {
                continue;
            }
            switch (random.nextInt(6)) {
                case 0, 1 -> unplug(serial, random.nextInt(200, 3000));
                case 2 -> {
                    unplug(serial, 0);
                    Thread.sleep(random.nextInt(200, 3000));
                    Emulator.reattach(serial);
                }
                case 3 -> hang(serial, Fault.HANGS_UNTIL_RESET, 0, "hangs until a reset");
                case 4 -> hang(serial, Fault.HANGS, random.nextInt(100, 1500), "hangs for a time");
                default -> {
                    hang(serial, Fault.HANGS, 0, "hangs until unplugged");
                    Thread.sleep(random.nextInt(200, 3000));
                    unplug(serial, random.nextInt(200, 3000));
                }
            }
            Emulator.clearFaults();
        }
    }

    /** Unplugs the device soon, back after awayMillis (0: by hand), and waits until it is gone. */
    private void unplug(String serial, int awayMillis) throws InterruptedException {
        Emulator.unplugAfter(serial, random.nextInt(0, 300), awayMillis);
        if (waitFor(() -> Emulator.locationId(serial) == 0, 2000)) {
            DeviceSoak.add("unplugs", 1);
        } else {
            DeviceSoak.add("unplugs planned that did not happen", 1);
        }
    }

    /** Makes the device hang at one of its next frames, and waits for that frame's request. */
    private void hang(String serial, Fault fault, int millis, String name)
            throws InterruptedException {
        int at = Emulator.requestCount(serial, Request.CHANNEL) + random.nextInt(1, 20);
        Emulator.faultAnswer(serial, Request.CHANNEL, at, fault, millis);
        if (waitFor(() -> Emulator.requestCount(serial, Request.CHANNEL) >= at, 3000)) {
            DeviceSoak.add(name, 1);
        }
    }

    private static boolean waitFor(java.util.function.BooleanSupplier done, long millis)
            throws InterruptedException {
        long by = System.nanoTime() + millis * 1_000_000L;
        while (!done.getAsBoolean()) {
            if (System.nanoTime() > by) {
                return false;
            }
            Thread.sleep(20);
        }
        return true;
    }
}
