package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.calls;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static com.pelmar.usb3k.emulator.Emulator.USB3000_ID;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.D2xxFunction;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** initialize, getInitError and shutdown over the emulated D2XX and USB-3000. */
class InitializeTest {
    private static final String HEADER_TIMEOUT =
            "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";

    @BeforeEach
    void start() {
        freshBridge();
    }

    /** The result of one initialize: what it returned, the stored text, the lines it wrote. */
    private record Outcome(boolean ready, String error, List<String> lines) {}

    private static Outcome initialize() {
        boolean[] ready = new boolean[1];
        List<String> lines = StandardError.capture(() -> ready[0] = USB3KBridge.initialize());
        return new Outcome(ready[0], USB3KBridge.getInitError(), lines);
    }

    private static void assertFailure(Outcome outcome, List<String> lines, String error) {
        assertFalse(outcome.ready(), "initialize");
        assertEquals(lines, outcome.lines(), "standard error");
        assertEquals(error, outcome.error(), "getInitError");
    }

    @Nested
    class WhichDevice {
        @Test
        void noFtdiDeviceAtAll() {
            Emulator.clearDevices();
            assertFailure(
                    initialize(),
                    List.of(
                            "USB3KFactory::USB3KFactory - No USB devices detected",
                            "No USB-3000 devices detected"),
                    "No USB-3000 devices detected");
        }

        @Test
        void anotherFtdiDeviceBesideAUsb3000IsLeftAlone() {
            Emulator.clearDevices();
            Emulator.addDevice(0x04036010, "OTHER001", "Dual RS232");
            Emulator.addDevice(USB3000_ID, "U3K00001", "USB-3000");
            Outcome outcome = initialize();
            assertTrue(outcome.ready());
            assertEquals(List.of(), outcome.lines());
            assertEquals(1, calls("FT_OpenEx"));
            assertTrue(Emulator.transcript().contains("FT_OpenEx(U3K00001, 1) -> 0"));
            assertEquals(1, Emulator.requestCount("U3K00001", Request.RATE));
        }

        @Test
        void ofTwoUsb3000sBothAreOpenedAndTheFirstIsUsed() {
            Emulator.clearDevices();
            Emulator.addDevice(USB3000_ID, "U3K00001", "USB-3000");
            Emulator.addDevice(USB3000_ID, "U3K00002", "USB-3000");
            assertTrue(initialize().ready());

            String transcript = Emulator.transcript();
            int first = transcript.indexOf("FT_OpenEx(U3K00001, 1) -> 0");
            int second = transcript.indexOf("FT_OpenEx(U3K00002, 1) -> 0");
            assertTrue(first >= 0 && second > first, transcript);
            assertEquals(1, Emulator.requestCount("U3K00002", Request.VERSION), "identified");
            for (Request request : new Request[] {Request.RESET, Request.STOP_CODEC, Request.RATE}) {
                assertEquals(1, Emulator.requestCount("U3K00001", request));
                assertEquals(0, Emulator.requestCount("U3K00002", request));
            }

            StandardError.capture(() -> USB3KBridge.decode(new byte[7], 0, new byte[320], 0));
            assertEquals(1, Emulator.requestCount("U3K00001", Request.CHANNEL));
            assertEquals(0, Emulator.requestCount("U3K00002", Request.CHANNEL));
        }
    }

    private static Arguments failure(String name, Runnable fault, String error, String... lines) {
        return Arguments.of(name, fault, List.of(lines), error);
    }

    static Stream<Arguments> failures() {
        String s = DEFAULT_SERIAL;
        String notReady = "USB-3000 device EMU30001 is not ready";
        String noReset = "Cannot reset USB-3000 device EMU30001";
        String noPacketMode = "Cannot set packet mode for USB-3000 device EMU30001";
        String noRate = "Cannot set table rate 34 for USB-3000 device EMU30001";
        return Stream.of(
                failure("enumeration fails",
                        () -> Emulator.failCall(null, D2xxFunction.FT_CreateDeviceInfoList, 4, 0),
                        "No USB-3000 devices detected",
                        "USB3KFactory::USB3KFactory - FT_CreateDeviceInfoList failed: 4",
                        "No USB-3000 devices detected"),
                failure("no answer to identification",
                        () -> Emulator.faultAnswer(s, Request.PRODUCT_ID, 0, Fault.NO_ANSWER, 0),
                        notReady,
                        HEADER_TIMEOUT,
                        "USB3K::USB3K - did not receive product ID response (1st attempt)",
                        HEADER_TIMEOUT,
                        "USB3K::USB3K - did not receive product ID response (2nd attempt)",
                        notReady),
                failure("reset unanswered",
                        () -> Emulator.faultAnswer(s, Request.RESET, 0, Fault.NO_ANSWER, 0),
                        noReset,
                        HEADER_TIMEOUT, "USB3K::reset - did not receive reset response", noReset),
                failure("reset answer without ready field",
                        () -> Emulator.faultAnswer(s, Request.RESET, 0, Fault.MISSING_FIELD, 0),
                        noReset,
                        "USB3K::reset - no ready field in response", noReset),
                failure("stop codec refused with status 5",
                        () -> Emulator.faultAnswer(s, Request.STOP_CODEC, 0, Fault.STATUS, 5),
                        noPacketMode,
                        noPacketMode),
                failure("stop codec request not written", // writes: product ID, version, reset, stop
                        () -> Emulator.failCall(s, D2xxFunction.FT_Write, 4, 4),
                        noPacketMode,
                        "USB3K::sendPacket - FT_Write failed: 4",
                        "USB3K::stopCodec - cannot send stop codec request",
                        noPacketMode),
                failure("rate refused with status 1",
                        () -> Emulator.faultAnswer(s, Request.RATE, 0, Fault.STATUS, 1),
                        noRate,
                        noRate),
                failure("rate answer without its field",
                        () -> Emulator.faultAnswer(s, Request.RATE, 0, Fault.MISSING_FIELD, 0),
                        noRate,
                        "USB3K::setRate - no rate field in response", noRate));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void aFailureIsReportedAndStored(
            String name, Runnable fault, List<String> lines, String error) {
        fault.run();
        assertFailure(initialize(), lines, error);
    }

    @Test
    void aLaterSuccessKeepsTheStoredTextAndTheDeviceList() {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.RESET, 1, Fault.MISSING_FIELD, 0);
        assertFalse(initialize().ready());

        Outcome second = initialize();
        assertTrue(second.ready());
        assertEquals(List.of(), second.lines());
        assertEquals("Cannot reset USB-3000 device EMU30001", second.error());
        assertEquals(1, calls("FT_CreateDeviceInfoList"), "no second enumeration");
        assertEquals(2, Emulator.requestCount(DEFAULT_SERIAL, Request.RESET), "commands rerun");
    }

    @Nested
    class Shutdown {
        @Test
        void beforeInitializeTouchesNoDevice() {
            boolean[] result = new boolean[1];
            List<String> lines = StandardError.capture(() -> result[0] = USB3KBridge.shutdown());
            assertTrue(result[0]);
            assertEquals(List.of(), lines);
            assertEquals(0, calls("FT_CreateDeviceInfoList"));
            assertEquals(0, calls("FT_OpenEx"));
            assertEquals(0, calls("FT_Close"));
            assertEquals(0, Emulator.openHandles());
        }

        @Test
        void closesEveryDeviceAndTheNextInitializeEnumeratesAgain() {
            Emulator.addDevice(USB3000_ID, "U3K00002", "USB-3000");
            assertTrue(initialize().ready());
            assertEquals(2, Emulator.openHandles());

            assertTrue(USB3KBridge.shutdown());
            assertEquals(0, Emulator.openHandles());

            Emulator.addDevice(USB3000_ID, "U3K00003", "USB-3000");
            assertTrue(initialize().ready());
            assertEquals(2, calls("FT_CreateDeviceInfoList"));
            assertEquals(1, Emulator.requestCount("U3K00003", Request.PRODUCT_ID), "new device");
            assertEquals(2, Emulator.requestCount(DEFAULT_SERIAL, Request.RATE));
            assertEquals(3, Emulator.openHandles());
        }

    }

    @Nested
    class SerialNumbers {
        @Test
        void bytesAbove0x7fReachJavaAsLatin1Characters() {
            byte[] serial = {'S', 'N', (byte) 0xE9, (byte) 0xFF, (byte) 0x80, '1'};
            Emulator.clearDevices();
            Emulator.addDevice(USB3000_ID, serial, "USB-3000");
            Emulator.faultAnswer(null, Request.RATE, 0, Fault.STATUS, 1);

            byte[] written = StandardError.captureBytes(USB3KBridge::initialize);
            String error = USB3KBridge.getInitError();

            String expected = "Cannot set table rate 34 for USB-3000 device SN\u00e9\u00ff\u00801";
            assertArrayEquals(expected.chars().toArray(), error.chars().toArray());
            assertArrayEquals(
                    (expected + "\n").getBytes(StandardCharsets.ISO_8859_1),
                    written,
                    "standard error keeps the device's bytes");
        }

        @Test
        void aSerialNumberFillingAllSixteenBytesOpensItsDevice() {
            // The device record has no terminating zero after such a serial number: the
            // description follows at once.
            Emulator.clearDevices();
            Emulator.addDevice(USB3000_ID, "ABCDEFGHIJKLMNOP", "USB-3000");
            Outcome outcome = initialize();
            assertTrue(outcome.ready(), outcome.lines().toString());
            assertTrue(Emulator.transcript().contains("FT_OpenEx(ABCDEFGHIJKLMNOP, 1) -> 0"));
        }
    }

    @ParameterizedTest(name = "decode while away: {0}")
    @ValueSource(booleans = {false, true})
    void aDecodeOnARemovedDeviceFailsAtOnceAndInitializeFindsItAgain(boolean decodeWhileAway) {
        Emulator.setRemovedHandleStatus(4);
        BridgeFixture.initializeQuietly();
        Emulator.detach(DEFAULT_SERIAL);
        byte[] vcw = BridgeFixture.frames(5, 51);
        byte[] pcm = BridgeFixture.untouched(5 * BridgeFixture.SPEECH);
        if (decodeWhileAway) {
            String removed = "USB3KBridge::decode - device EMU30001 is no longer attached";
            StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0));
            long writes = calls("FT_Write");
            assertEquals(List.of(removed), StandardError.capture(() -> USB3KBridge.decode(vcw, 0,
                    pcm, 0)));
            assertEquals(writes, calls("FT_Write"), "nothing sent");
        }
        Emulator.reattach(DEFAULT_SERIAL);
        StandardError.capture(() -> assertTrue(USB3KBridge.initialize()));
        assertEquals(List.of(), StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0)));
        assertArrayEquals(BridgeFixture.expectedSpeechOfAll(vcw, 0), pcm);
        assertEquals(1, Emulator.openHandles(), "the dead handle closed, the new one open");
    }
}
