package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.ChildJvm;
import com.pelmar.base.audio.codec.USB3KBridge;
import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.D2xxFunction;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Several devices, the registry shared with the bridge, and the reason of every failed open. */
class DevicesTest {
    private static final String SECOND = "EMU30002";

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.recordTranscript(false);
    }

    /** What open threw, with the lines standard error got meanwhile. */
    private record Failure(Usb3kException thrown, List<String> err) {}

    private static Failure failure(Executable open) {
        Usb3kException[] thrown = new Usb3kException[1];
        List<String> err = StandardError.capture(
                () -> thrown[0] = assertThrows(Usb3kException.class, open));
        assertEquals(err, thrown[0].lines(), "the exception carries the lines of its operation");
        return new Failure(thrown[0], err);
    }

    /** Checks the reason, the lines, the message and, through toString, the cause and the fix. */
    private static Usb3kException assertFailure(Failure failure, Usb3kException.Reason reason,
            String causeAndFix, String... lines) {
        Usb3kException thrown = failure.thrown();
        assertEquals(reason, thrown.reason());
        assertEquals(List.of(lines), failure.err());
        String last = lines[lines.length - 1];
        assertEquals(last.substring(last.indexOf(" - ") + 3), thrown.getMessage());
        assertEquals(Usb3kException.class.getName() + ": " + thrown.getMessage() + causeAndFix,
                thrown.toString());
        return thrown;
    }

    private static final String REPLUG = "; fix: unplug the device, plug it in again and try again";

    @Test
    void eachKindOfFailedOpenSaysWhyAndWhatToDo() {
        assertFailure(failure(() -> Usb3kDecoder.open("NOSUCH01")),
                Usb3kException.Reason.NO_SUCH_DEVICE,
                "; fix: plug that USB-3000 in, or name one usb3k-probe lists",
                "Usb3kDecoder::open - no USB-3000 with serial number NOSUCH01");

        Emulator.faultAnswer(DEFAULT_SERIAL, Request.RESET, 1, Fault.MISSING_FIELD, 0);
        assertFailure(failure(Usb3kDecoder::open), Usb3kException.Reason.NOT_READY,
                REPLUG + " (usb3k-probe shows which step fails)",
                "USB3K::reset - no ready field in response",
                "Usb3kDecoder::open - Cannot reset USB-3000 device EMU30001");
        assertEquals(0, Emulator.openHandles(), "a device that did not get ready is closed");

        // Linux's serial driver holding the chip shows as FT_OpenEx failing with status 3; no
        // interface of it is bound to an emulated device, so the fix asks for the bus path.
        Emulator.failCall(DEFAULT_SERIAL, D2xxFunction.FT_OpenEx, 3, 0);
        Usb3kException held = assertFailure(failure(Usb3kDecoder::open),
                Usb3kException.Reason.NOT_READY,
                "; likely cause: the kernel's ftdi_sio driver holds the chip while it is bound to"
                        + " it; fix: sudo rmmod ftdi_sio usbserial, or unbind only this device:"
                        + " echo <bus path> | sudo tee /sys/bus/usb/drivers/ftdi_sio/unbind",
                "USB3K::USB3K - FT_OpenEx failed: 3",
                "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready");
        assertEquals("the kernel's ftdi_sio driver holds the chip while it is bound to it",
                held.likelyCause());
        assertTrue(held.fix().startsWith("sudo rmmod ftdi_sio usbserial, "), held.fix());
        Emulator.clearFaults();
        Emulator.failCall(DEFAULT_SERIAL, D2xxFunction.FT_OpenEx, 2, 0);
        assertFailure(failure(Usb3kDecoder::open), Usb3kException.Reason.NOT_READY,
                "; likely cause: the device was gone when it was opened; fix: check its cable,"
                        + " then try again",
                "USB3K::USB3K - FT_OpenEx failed: 2",
                "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready");
        Emulator.clearFaults();
        Emulator.failCall(DEFAULT_SERIAL, D2xxFunction.FT_OpenEx, 4, 0);
        assertFailure(failure(Usb3kDecoder::open), Usb3kException.Reason.NOT_READY, REPLUG,
                "USB3K::USB3K - FT_OpenEx failed: 4",
                "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready");
        Emulator.clearFaults();

        Emulator.failCall(null, D2xxFunction.FT_GetDeviceInfoList, 4, 0);
        assertFailure(failure(Usb3kDecoder::devices), Usb3kException.Reason.DEVICE_LIST_FAILED,
                REPLUG + "; if D2XX still cannot list the devices, install its driver again",
                "Usb3kDecoder::devices - FT_GetDeviceInfoList failed: 4");
        Emulator.clearFaults();

        Emulator.clearDevices();
        assertFailure(failure(Usb3kDecoder::open), Usb3kException.Reason.NO_DEVICE,
                "; fix: plug the USB-3000 in, then try again (usb3k-probe lists the FTDI devices"
                        + " D2XX finds)",
                "Usb3kDecoder::open - no USB-3000 attached");
        assertEquals(List.of(), assertQuiet(Usb3kDecoder::devices));
    }

    private static <T> T assertQuiet(java.util.concurrent.Callable<T> call) {
        Object[] result = new Object[1];
        assertEquals(List.of(), StandardError.capture(() -> {
            try {
                result[0] = call.call();
            } catch (Exception e) {
                throw new AssertionError(e);
            }
        }));
        @SuppressWarnings("unchecked")
        T typed = (T) result[0];
        return typed;
    }

    /** Lists the devices and opens one in a JVM whose loader finds no D2XX library. */
    public static final class WithoutDriver {
        public static void main(String[] args) {
            for (Executable call : List.<Executable>of(Usb3kDecoder::devices, Usb3kDecoder::open)) {
                try {
                    call.execute();
                } catch (Usb3kException e) {
                    System.out.println(e.reason() + ": " + e.getMessage() + " " + e.lines());
                    System.out.println("fix: " + e.fix());
                } catch (Throwable e) {
                    System.out.println("unexpected: " + e);
                }
            }
        }
    }

    @Test
    void withoutAD2xxLibraryTheLoadersReasonReachesJava() {
        Map<String, String> environment = new HashMap<>();
        environment.put("LD_LIBRARY_PATH", null);
        ChildJvm.Result result =
                ChildJvm.finish(ChildJvm.start(WithoutDriver.class, null, environment));
        String reason = "cannot load the D2XX library: libftd2xx.so: cannot open shared object"
                + " file: No such file or directory";
        assertEquals(0, result.exit(), result.err().toString());
        String fix = "fix: install FTDI's D2XX driver: copy libftd2xx.so from FTDI's D2XX download"
                + " for this machine's architecture into /usr/local/lib and run ldconfig (or name"
                + " its folder in LD_LIBRARY_PATH)";
        assertEquals(String.join(System.lineSeparator(),
                "NO_D2XX_LIBRARY: " + reason + " [Usb3kDecoder::devices - " + reason + "]", fix,
                "NO_D2XX_LIBRARY: " + reason + " [Usb3kDecoder::open - " + reason + "]", fix, ""),
                result.out());
        assertEquals(List.of("Usb3kDecoder::devices - " + reason,
                "Usb3kDecoder::open - " + reason), result.err());
    }

    @Test
    void everyAttachedDeviceIsListedAndDecodersOnTwoDevicesWorkAtOnce() throws Exception {
        Emulator.addUsb3000(SECOND);
        Emulator.addDevice(0x04036010, "OTHER001", "not a USB-3000");
        assertEquals(List.of(
                new Usb3kDevice(DEFAULT_SERIAL, "USB-3000 (emulated)", true, "USB-3000",
                        "2.7.1-emu", null),
                new Usb3kDevice(SECOND, "USB-3000 (emulated)", true, "USB-3000", "2.7.1-emu",
                        null)), assertQuiet(Usb3kDecoder::devices));
        assertEquals(0, Emulator.openHandles(), "listing opens each device and closes it again");

        byte[] vcw = frames(2000, 31);
        ExecutorService threads = Executors.newFixedThreadPool(2);
        try (Usb3kDecoder first = Usb3kDecoder.open();
                Usb3kDecoder second = Usb3kDecoder.open()) {
            assertEquals(List.of(DEFAULT_SERIAL, SECOND),
                    List.of(first.serialNumber(), second.serialNumber()));
            assertEquals(new Usb3kDevice(DEFAULT_SERIAL, "USB-3000 (emulated)", false, null, null,
                    "in use by a decoder"), Usb3kDecoder.devices().get(0));
            List<Future<byte[]>> speech = threads.invokeAll(List.of(
                    () -> decodeAll(first, vcw), () -> decodeAll(second, vcw)));
            for (Future<byte[]> each : speech) {
                assertArrayEquals(expectedSpeechOfAll(vcw, 0), each.get());
            }
        } finally {
            threads.shutdown();
        }
        assertEquals(2000, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
        assertEquals(2000, Emulator.requestCount(SECOND, Request.CHANNEL));
    }

    private static byte[] decodeAll(Usb3kDecoder decoder, byte[] vcw) {
        byte[] pcm = new byte[vcw.length / 7 * SPEECH];
        assertEquals(vcw.length / 7, decoder.decode(vcw, 0, pcm, 0));
        return pcm;
    }

    @Test
    void theBridgeAndTheDecodersNeverOpenOneDeviceTwice() throws Usb3kException {
        Emulator.addUsb3000(SECOND);
        try (Usb3kDecoder decoder = Usb3kDecoder.open(DEFAULT_SERIAL)) {
            assertEquals(DEFAULT_SERIAL, decoder.serialNumber());
            List<String> lines = StandardError.capture(
                    () -> assertTrue(USB3KBridge.initialize(), USB3KBridge.getInitError()));
            assertEquals(List.of("USB3KFactory::USB3KFactory - USB-3000 EMU30001 is in use in this"
                    + " process: left out"), lines);
            byte[] vcw = frames(5, 32);
            byte[] pcm = new byte[5 * SPEECH];
            USB3KBridge.decode(vcw, 0, pcm, 0);
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
            assertEquals(5, Emulator.requestCount(SECOND, Request.CHANNEL), "the bridge's device");

            assertFailure(failure(() -> Usb3kDecoder.open(SECOND)), Usb3kException.Reason.IN_USE,
                    "; fix: call USB3KBridge.shutdown() to free it, or use another USB-3000",
                    "Usb3kDecoder::open - USB-3000 EMU30002 is in use by USB3KBridge");
            assertFailure(failure(Usb3kDecoder::open), Usb3kException.Reason.IN_USE,
                    "; fix: close the Usb3kDecoder that holds it, or use another USB-3000",
                    "Usb3kDecoder::open - none of the 2 attached USB-3000s is free and ready");
            USB3KBridge.shutdown();
            assertEquals(1, Emulator.openHandles(), "the bridge closed only its own");
        }
        try (Usb3kDecoder decoder = Usb3kDecoder.open(SECOND)) {
            assertEquals(SECOND, decoder.serialNumber());
        }
    }
}
