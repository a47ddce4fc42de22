package com.pelmar.usb3k.emulator;

import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.USB3KBridge;
import com.pelmar.base.audio.codec.test.StandardError;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The kit's controls reach the emulator as what they name: each fault, seen through the lines the
 * library writes for the frame it hits and for the next one, and the D2XX calls by name.
 */
class EmulatorTest {
    private static final String TIMEOUT =
            "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";
    private static final String NO_SPEECH = "USB3K::decode - did not receive speech response";
    private static final String STALE = "USB3K::sendPacket - discarded a stale packet of 328 bytes";

    @BeforeEach
    void start() {
        freshBridge();
        assertEquals(List.of(), StandardError.capture(USB3KBridge::initialize));
    }

    /** Decodes one frame of zeros; returns the library's lines. */
    private static List<String> decodeOneFrame() {
        return StandardError.capture(() -> USB3KBridge.decode(new byte[7], 0, new byte[320], 0));
    }

    private static final String WRITE_FAILS = "USB3K::sendPacket - FT_Write failed: 4";

    private static String unexpected(int bytes) {
        return "USB3K::receivePacket - " + bytes + " unexpected bytes after the packet";
    }

    private static String drained(int bytes) {
        return "USB3K::sendPacket - discarded " + bytes + " bytes before the line went quiet";
    }

    private static Arguments hit(Fault fault, int value, List<String> first, List<String> next) {
        return Arguments.of(fault, value, first, next);
    }

    static Stream<Arguments> answerFaults() {
        String header = "USB3K::receivePacket - ";
        return Stream.of(
                hit(Fault.NO_ANSWER, 0, List.of(TIMEOUT, NO_SPEECH), List.of()),
                hit(Fault.LATE, 3, List.of(TIMEOUT, NO_SPEECH), List.of(TIMEOUT, STALE)),
                hit(Fault.WRONG_START, 0x7f,
                        List.of(header + "first byte not a packet header: wanted 0x61, got 7f",
                                NO_SPEECH),
                        List.of(drained(324))),
                hit(Fault.SHORT, 100,
                        List.of(header + "failed to read packet header: wanted 324, got 96",
                                NO_SPEECH),
                        List.of()),
                hit(Fault.OVERSIZED, 600,
                        List.of(header + "packet too long: wanted at most 508, got 600",
                                NO_SPEECH),
                        List.of(drained(324))),
                hit(Fault.MISSING_FIELD, 0,
                        List.of("USB3K::decode - no speech field in response"), List.of()),
                hit(Fault.DUPLICATED, 0, List.of(unexpected(328)), List.of(drained(328))),
                hit(Fault.WRONG_LENGTH, 100, List.of(unexpected(224), NO_SPEECH),
                        List.of(drained(224))),
                hit(Fault.TRAILING_BYTES, 3, List.of(unexpected(3)), List.of(drained(3))),
                hit(Fault.BIT_FLIP, 327 * 8,
                        List.of(header + "parity mismatch: wanted c9, got c8", NO_SPEECH),
                        List.of()),
                hit(Fault.BYTE_LOST, 10,
                        List.of(header + "failed to read packet header: wanted 324, got 323",
                                NO_SPEECH),
                        List.of()),
                hit(Fault.NOISE, 5, List.of(unexpected(5)), List.of(drained(5))),
                hit(Fault.SILENT, 1000, List.of(TIMEOUT, NO_SPEECH), List.of()),
                hit(Fault.AFTER_PURGE, 1, List.of(TIMEOUT, NO_SPEECH), List.of(STALE)),
                hit(Fault.AFTER_WRITE, 1, List.of(TIMEOUT, NO_SPEECH), List.of(STALE)));
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("answerFaults")
    void eachAnswerFaultIsTheOneItNames(
            Fault fault, int value, List<String> hitFrame, List<String> nextFrame) {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 1, fault, value);
        assertEquals(hitFrame, decodeOneFrame());
        assertEquals(nextFrame, decodeOneFrame());
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("heldAnswers")
    void aHeldAnswerWaitsForItsOwnEvent(
            Fault fault, List<String> whileWritesFail, List<String> afterTheWrite) {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 1, fault, 1);
        decodeOneFrame();
        // Each probe of the next request purges, then fails to write: events for AFTER_PURGE
        // only. Its answer arrives after the first purge and is drained before the second.
        Emulator.failCall(DEFAULT_SERIAL, D2xxFunction.FT_Write, 4, 0);
        assertEquals(whileWritesFail, decodeOneFrame());
        Emulator.clearFaults();
        assertEquals(afterTheWrite, decodeOneFrame());
    }

    static Stream<Arguments> heldAnswers() {
        String notInStep = "USB3K::sendPacket - link not back in step; request not sent";
        String notSent = "USB3K::decode - cannot send channel request";
        return Stream.of(
                Arguments.of(Fault.AFTER_PURGE,
                        List.of(WRITE_FAILS, drained(328), WRITE_FAILS, WRITE_FAILS, WRITE_FAILS,
                                notInStep, notSent),
                        List.of()),
                Arguments.of(Fault.AFTER_WRITE,
                        List.of(WRITE_FAILS, WRITE_FAILS, WRITE_FAILS, WRITE_FAILS, notInStep,
                                notSent),
                        List.of(STALE)));
    }

    @Test
    void aShortWriteSendsOnlyWhatItAccepts() {
        int writes = Emulator.callCount(DEFAULT_SERIAL, D2xxFunction.FT_Write);
        Emulator.shortWrite(DEFAULT_SERIAL, writes + 1, 5);
        // The device waits for the rest of the request and never answers.
        assertEquals(
                List.of("USB3K::sendPacket - FT_Write wrote 5, expected 15", TIMEOUT, NO_SPEECH),
                decodeOneFrame());
        assertTrue(Emulator.transcript().contains(
                "EMU30001 FT_Write(15: 61 00 0b 01 01 31 00 00 00 00 00 00 00 2f 15) -> 0"
                        + " written=5\n"));
    }

    @Test
    void clearedFaultsAreNotUsed() {
        Emulator.faultAnswer(null, Request.CHANNEL, 0, Fault.NO_ANSWER, 0);
        Emulator.failCall(null, D2xxFunction.FT_Read, 4, 0);
        Emulator.clearFaults();
        assertEquals(List.of(), decodeOneFrame());
    }

    @Test
    void aSerialNumberAbove0x7fNamesItsDevice() {
        String serial = "SN\u00e9\u00ff";
        Emulator.addDevice(Emulator.USB3000_ID, serial, "USB-3000");
        Emulator.failCall(serial, D2xxFunction.FT_OpenEx, 3, 1);
        USB3KBridge.shutdown();
        List<String> lines = StandardError.capture(USB3KBridge::initialize);
        assertEquals(List.of("USB3K::USB3K - FT_OpenEx failed: 3"), lines);
    }

    @Test
    void aSerialNumberD2xxCouldNotOpenIsRefused() {
        assertEquals("serial number SEVENTEEN-CHARS17 is 17 bytes long; a device's holds at most 16",
                assertThrows(IllegalArgumentException.class,
                        () -> Emulator.addUsb3000("SEVENTEEN-CHARS17")).getMessage());
        assertEquals("a device with serial number EMU30001 is attached already",
                assertThrows(IllegalArgumentException.class,
                        () -> Emulator.addUsb3000(DEFAULT_SERIAL)).getMessage());
    }

    @Test
    void everyFunctionIsCountedByTheNameItHas() {
        Emulator.faultAnswer(null, Request.CHANNEL, 1, Fault.NO_ANSWER, 0);
        decodeOneFrame();
        decodeOneFrame(); // brings the link back in step: a purge
        USB3KBridge.shutdown();
        String transcript = Emulator.transcript();
        for (D2xxFunction function : D2xxFunction.values()) {
            long lines =
                    transcript.lines()
                            .filter(line -> line.matches("(\\S+ )?" + function + "\\(.*"))
                            .count();
            assertTrue(lines > 0, function + " called");
            assertEquals(lines, Emulator.callCount(null, function), function.name());
        }
    }

    @Test
    void decodedSpeechIsWhatTheLibraryDelivers() {
        byte[] vcw = frames(2, 9);
        assertArrayEquals(expectedSpeechOfAll(vcw, 7), Emulator.decodedSpeech(vcw, 7));
    }
}
