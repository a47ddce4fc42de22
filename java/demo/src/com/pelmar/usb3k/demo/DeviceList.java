package com.pelmar.usb3k.demo;

import java.nio.charset.StandardCharsets;

/** The name of the USB-3000 the bridge will use, read from D2XX's device list. */
final class DeviceList {
    private DeviceList() {}

    /**
     * Serial number and description of the first attached USB-3000, and whether it is the
     * emulator's (the D2XX library in the process is the emulator, not FTDI's driver).
     */
    record Device(String serialNumber, String description, boolean emulated) {}

    static Device firstUsb3000() {
        try {
            System.loadLibrary("usb3k_demo_support");
        } catch (UnsatisfiedLinkError e) {
            // Naming the device is a courtesy; decoding does not depend on it.
            return null;
        }
        byte[][] texts = firstUsb3000Texts();
        if (texts == null) {
            return null;
        }
        return new Device(
                new String(texts[0], StandardCharsets.ISO_8859_1),
                new String(texts[1], StandardCharsets.ISO_8859_1),
                d2xxIsEmulator());
    }

    private static native byte[][] firstUsb3000Texts();

    private static native boolean d2xxIsEmulator();
}
