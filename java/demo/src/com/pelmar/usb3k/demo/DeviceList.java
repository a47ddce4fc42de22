package com.pelmar.usb3k.demo;

/** Whether the D2XX library in the process is the emulator, not FTDI's driver. */
final class DeviceList {
    private DeviceList() {}

    static boolean emulated() {
        try {
            System.loadLibrary("usb3k_demo_support");
        } catch (UnsatisfiedLinkError e) {
            // Saying so is a courtesy; decoding does not depend on it.
            return false;
        }
        return d2xxIsEmulator();
    }

    private static native boolean d2xxIsEmulator();
}
