package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.FRAME;
import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.D2xxFunction;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** Usb3kDecoder over the emulator: exact frame counts, one decoder per device at a time. */
class Usb3kDecoderTest {
    /** More than eight of the decoder's calls of 250 frames, and two of the library's chunks. */
    private static final int CALL_FRAMES = 2100;

    static final String AWAY = "Usb3kDecoder::decode - USB-3000 EMU30001 is not attached";

    @BeforeEach
    void start() {
        freshBridge();
    }

    /** Opens a decoder; the library must write nothing while it does. */
    static Usb3kDecoder openQuietly() {
        Usb3kDecoder[] decoder = new Usb3kDecoder[1];
        List<String> lines =
                StandardError.capture(
                        () -> {
                            try {
                                decoder[0] = Usb3kDecoder.open();
                            } catch (Usb3kException e) {
                                throw new AssertionError(e);
                            }
                        });
        assertEquals(List.of(), lines, "open");
        return decoder[0];
    }

    private static byte[] slice(byte[] bytes, int from, int to) {
        return Arrays.copyOfRange(bytes, from, to);
    }

    @ParameterizedTest(name = "frame {0} fails")
    @ValueSource(ints = {0, 1, 249, 250, 251, 1024, CALL_FRAMES - 1})
    void theCountIsTheFramesBeforeTheOneTheDeviceFailed(int failed) {
        Emulator.recordTranscript(false);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, failed + 1, Fault.NO_ANSWER, 0);
        byte[] vcw = frames(CALL_FRAMES, failed);
        int end = 3 + CALL_FRAMES * SPEECH;
        byte[] pcm = untouched(end + 3);
        int[] decoded = {-1};
        List<String> lines;
        try (Usb3kDecoder decoder = openQuietly()) {
            lines = StandardError.capture(() -> decoded[0] = decoder.decode(vcw, 0, pcm, 3));
        }
        assertEquals(failed, decoded[0]);
        assertEquals(
                List.of(
                        "USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                        "USB3K::decode - did not receive speech response"),
                lines);
        assertEquals(failed + 1, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
        int written = 3 + failed * SPEECH;
        assertArrayEquals(expectedSpeechOfAll(slice(vcw, 0, failed * FRAME), 0),
                slice(pcm, 3, written));
        assertArrayEquals(new byte[end - written], slice(pcm, written, end), "the rest is zero");
        assertArrayEquals(untouched(3), slice(pcm, 0, 3));
        assertArrayEquals(untouched(3), slice(pcm, end, end + 3));
    }

    @Test
    void onlyTheFramesAskedForAreSentAndWritten() {
        byte[] vcw = frames(10, 4);
        byte[] pcm = untouched(5 * SPEECH);
        try (Usb3kDecoder decoder = openQuietly()) {
            assertEquals(4, decoder.decode(vcw, 2 * FRAME, 4, pcm, SPEECH));
            assertEquals(0, decoder.decode(vcw, 0, 0, pcm, 0));
        }
        assertEquals(4, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
        assertArrayEquals(expectedSpeechOfAll(slice(vcw, 2 * FRAME, 6 * FRAME), 0),
                slice(pcm, SPEECH, 5 * SPEECH));
        assertArrayEquals(untouched(SPEECH), slice(pcm, 0, SPEECH));
    }

    @Test
    void framesAndSpeechThatOverlapInOneArrayAreRefusedBeforeAnyExchange() {
        byte[] shared = new byte[2 * SPEECH];
        try (Usb3kDecoder decoder = openQuietly()) {
            assertThrows(IllegalArgumentException.class,
                    () -> decoder.decode(shared, SPEECH - FRAME, 1, shared, 0));
            assertThrows(IndexOutOfBoundsException.class,
                    () -> decoder.decode(new byte[FRAME], 0, new byte[SPEECH - 1], 0));
        }
        assertEquals(0, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
    }

    @Test
    void aDeviceServesOneDecoderAtATimeAndClosingReleasesIt() throws Usb3kException {
        byte[] vcw = frames(3, 8);
        Usb3kDecoder first = openQuietly();
        assertEquals(DEFAULT_SERIAL, first.serialNumber());
        Usb3kException[] inUse = new Usb3kException[1];
        List<String> lines =
                StandardError.capture(
                        () -> inUse[0] = assertThrows(Usb3kException.class, Usb3kDecoder::open));
        assertEquals(Usb3kException.Reason.IN_USE, inUse[0].reason());
        assertEquals("USB-3000 EMU30001 is in use by a decoder", inUse[0].getMessage());
        assertEquals(List.of("Usb3kDecoder::open - USB-3000 EMU30001 is in use by a decoder"),
                lines);
        assertEquals(lines, inUse[0].lines());
        assertEquals(1, Emulator.requestCount(DEFAULT_SERIAL, Request.RESET), "prepared once");

        byte[] pcm = new byte[3 * SPEECH];
        assertEquals(3, first.decode(vcw, 0, pcm, 0));
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        first.close();
        first.close();
        assertThrows(IllegalStateException.class, () -> first.decode(vcw, 0, pcm, 0));
        assertThrows(IllegalStateException.class,
                () -> first.audioStream(new ByteArrayInputStream(vcw)));
        assertThrows(IllegalStateException.class,
                () -> first.decodeFile(Path.of("in.vcw"), Path.of("out.wav")));
        assertEquals(0, Emulator.openHandles());

        try (Usb3kDecoder second = Usb3kDecoder.open(DEFAULT_SERIAL)) {
            assertEquals(3, second.decode(vcw, 0, pcm, 0));
        }
        assertEquals(2, Emulator.requestCount(DEFAULT_SERIAL, Request.RESET), "prepared again");
    }

    @Test
    void anInterruptedThreadDecodesNothingMoreAndKeepsItsStatus() {
        byte[] vcw = frames(600, 9);
        byte[] pcm = untouched(600 * SPEECH);
        try (Usb3kDecoder decoder = openQuietly()) {
            Thread.currentThread().interrupt();
            assertEquals(0, decoder.decode(vcw, 0, pcm, 0));
            assertTrue(Thread.interrupted(), "the interrupt status stays set");
        }
        assertArrayEquals(new byte[600 * SPEECH], pcm, "the blocks not decoded are zero");
        assertEquals(0, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
    }

    @Test
    void aFailedOpenGivesTheLibrarysReasonAndTheNextLooksForDevicesAgain() {
        Emulator.failCall(DEFAULT_SERIAL, D2xxFunction.FT_OpenEx, 3, 1);
        Usb3kException[] thrown = new Usb3kException[1];
        List<String> lines =
                StandardError.capture(
                        () -> thrown[0] = assertThrows(Usb3kException.class, Usb3kDecoder::open));
        assertEquals("USB-3000 device EMU30001 is not ready", thrown[0].getMessage());
        assertEquals(Usb3kException.Reason.NOT_READY, thrown[0].reason());
        assertEquals(
                List.of("USB3K::USB3K - FT_OpenEx failed: 3",
                        "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready"),
                lines);
        assertEquals(lines, thrown[0].lines());
        assertEquals(0, Emulator.openHandles());

        openQuietly().close();
        assertEquals(2, Emulator.callCount(null, D2xxFunction.FT_CreateDeviceInfoList));
    }

    @Test
    void aDeviceUnpluggedAtAFrameComesBackElsewhereAndDecodesForADecoderOpenedAgain()
            throws Usb3kException {
        Emulator.setRemovedHandleStatus(4);
        Emulator.refuseOpensAfterReplug(DEFAULT_SERIAL, 2, 2);
        Emulator.needsResetAfterReplug(DEFAULT_SERIAL, true);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 3, Fault.UNPLUGGED, 0);
        int location = Emulator.locationId(DEFAULT_SERIAL);
        byte[] vcw = frames(5, 11);
        byte[] pcm = new byte[5 * SPEECH];
        int[] decoded = {-1};
        try (Usb3kDecoder decoder = openQuietly()) {
            StandardError.capture(() -> decoded[0] = decoder.decode(vcw, 0, pcm, 0));
        }
        assertEquals(2, decoded[0], "the frames before the unplug");
        assertEquals(0, Emulator.locationId(DEFAULT_SERIAL), "no longer listed");
        assertEquals(0, Emulator.openHandles());

        Emulator.clearFaults();
        assertTrue(Emulator.replugAtListCall(DEFAULT_SERIAL, 1));
        for (int refused = 0; refused < 2; refused++) {
            StandardError.capture(() -> assertThrows(Usb3kException.class,
                    () -> Usb3kDecoder.open(DEFAULT_SERIAL)));
        }
        try (Usb3kDecoder again = openQuietly()) {
            assertEquals(5, again.decode(vcw, 0, pcm, 0));
        }
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        assertTrue(Emulator.locationId(DEFAULT_SERIAL) != location, "a new location ID");
        assertEquals(1, Emulator.requestCount(DEFAULT_SERIAL, Request.RESET),
                "the open that succeeded reset the device before its first frame");
    }

    /** A decoder whose device is unplugged at its 51st frame. */
    static Usb3kDecoder unplugAtFrame51(int refusedOpens) {
        Emulator.setRemovedHandleStatus(4);
        Emulator.refuseOpensAfterReplug(DEFAULT_SERIAL, refusedOpens, 2);
        Emulator.needsResetAfterReplug(DEFAULT_SERIAL, true);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 51, Fault.UNPLUGGED, 0);
        return openQuietly();
    }

    @Test
    void decodeReturnsTheFramesBeforeAnUnplugThenNothingAtOnceThenAllOnceBack() throws Exception {
        byte[] vcw = frames(60, 43);
        byte[] pcm = new byte[60 * SPEECH];
        try (Usb3kDecoder decoder = unplugAtFrame51(0)) {
            StandardError.capture(() -> assertEquals(50, decoder.decode(vcw, 0, pcm, 0)));
            assertEquals(0, Emulator.openHandles(), "the dead handle is closed at once");
            Emulator.clearFaults();
            assertEquals(List.of(AWAY),
                    StandardError.capture(() -> assertEquals(0, decoder.decode(vcw, 0, pcm, 0))));
            Emulator.replugAtListCall(DEFAULT_SERIAL, 1);
            Usb3kDecoder other = Usb3kDecoder.open(DEFAULT_SERIAL);
            assertEquals(List.of("Usb3kDecoder::decode - USB-3000 EMU30001 is in use by a decoder"),
                    StandardError.capture(() -> decoder.decode(vcw, 0, pcm, 0)));
            other.close();
            assertEquals(List.of("Usb3kDecoder::decode - USB-3000 EMU30001 is attached again and"
                    + " ready"), StandardError.capture(() -> decoder.decode(vcw, 0, pcm, 0)));
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        }
    }
}
