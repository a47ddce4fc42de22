package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.emulator.Emulator;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** Devices heard arriving and leaving, and the watcher thread ending with its registrations. */
class DeviceWatchTest {
    private static final long POLL_MILLIS = 20;

    /**
     * The events in the order heard; a device a decoder holds is reported as such to a new
     * registration; a listener that throws changes nothing for the others.
     */
    @Test
    void hearsAnUnplugAndReplugThenStopsWhenClosed() throws Exception {
        freshBridge();
        BlockingQueue<String> events = new LinkedBlockingQueue<>();
        Usb3kDeviceListener heard =
                new Usb3kDeviceListener() {
                    @Override
                    public void attached(Usb3kDevice device) {
                        events.add("attached " + device.serialNumber()
                                + (device.usable() ? " ready" : " " + device.reason()));
                    }

                    @Override
                    public void detached(String serialNumber) {
                        events.add("detached " + serialNumber);
                    }
                };
        Usb3kDeviceListener throwing =
                new Usb3kDeviceListener() {
                    @Override
                    public void attached(Usb3kDevice device) {
                        throw new IllegalStateException("listener fault");
                    }

                    @Override
                    public void detached(String serialNumber) {
                        throw new IllegalStateException("listener fault");
                    }
                };
        Usb3kDeviceWatch.pollMillis = POLL_MILLIS;
        try {
            Usb3kDeviceWatch first = Usb3kDecoder.watch(throwing);
            Usb3kDeviceWatch second = Usb3kDecoder.watch(heard);
            assertEquals("attached " + DEFAULT_SERIAL + " ready", next(events));
            assertTrue(Emulator.detach(DEFAULT_SERIAL));
            assertEquals("detached " + DEFAULT_SERIAL, next(events));
            assertTrue(Emulator.reattach(DEFAULT_SERIAL));
            assertEquals("attached " + DEFAULT_SERIAL + " ready", next(events));
            try (Usb3kDecoder held = Usb3kDecoder.open()) {
                Usb3kDeviceWatch third = Usb3kDecoder.watch(heard);
                assertEquals("attached " + held.serialNumber() + " in use by a decoder",
                        next(events));
                third.close();
            }

            Thread watcher = Usb3kDeviceWatch.watcherThread();
            first.close();
            second.close();
            watcher.join(TimeUnit.SECONDS.toMillis(5));
            assertFalse(watcher.isAlive(), "the watcher thread ends with the last registration");
            assertNull(Usb3kDeviceWatch.watcherThread());
            assertTrue(Emulator.detach(DEFAULT_SERIAL));
            assertNull(events.poll(10 * POLL_MILLIS, TimeUnit.MILLISECONDS));
        } finally {
            Usb3kDeviceWatch.pollMillis = Usb3kDeviceWatch.POLL_INTERVAL_MILLIS;
        }
    }

    private static String next(BlockingQueue<String> events) throws InterruptedException {
        String event = events.poll(5, TimeUnit.SECONDS);
        assertTrue(event != null, "no event within 5 s");
        return event;
    }
}
