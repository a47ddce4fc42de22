package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.stream.LongStream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** A stream whose device stops answering while D2XX still lists it: reset, or given up. */
class HungDeviceTest {
    private static final String NO_HEADER =
            "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";

    /** The first request the hung device leaves unanswered. */
    private static final List<String> FIRST_UNANSWERED =
            List.of(NO_HEADER, "USB3K::decode - did not receive speech response");

    /** Each attempt after it: four probes of two silent reads each, and the frame not sent. */
    private static final List<String> NOT_SENT = lines(List.of(
            times(8, List.of(NO_HEADER)),
            List.of("USB3K::sendPacket - link not back in step; request not sent",
                    "USB3K::decode - cannot send channel request")));

    /** The lines of the frames 100 to 109, the first 10 the device does not answer. */
    private static final List<String> TEN_FRAMES =
            lines(List.of(FIRST_UNANSWERED, times(19, NOT_SENT)));

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.recordTranscript(false);
    }

    /** Reads the stream to its end; the speech read and the failure that ended it, if any. */
    private record Read(byte[] speech, IOException thrown) {}

    private static Read readAll(InputStream stream) {
        var read = new java.io.ByteArrayOutputStream();
        byte[] buffer = new byte[1000];
        try {
            for (int count; (count = stream.read(buffer)) >= 0; ) {
                read.write(buffer, 0, count);
            }
        } catch (IOException e) {
            return new Read(read.toByteArray(), e);
        }
        return new Read(read.toByteArray(), null);
    }

    private static List<String> lines(List<List<String>> parts) {
        return parts.stream().flatMap(List::stream).toList();
    }

    private static List<String> times(int count, List<String> lines) {
        return lines(Collections.nCopies(count, lines));
    }

    @Test
    void aDeviceThatHangsUntilResetIsResetAndTheStreamGoesOn() throws IOException {
        byte[] vcw = frames(300, 31);
        // Frame 100 is the 101st channel request: from it on the device answers nothing.
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 101, Fault.HANGS_UNTIL_RESET, 0);
        List<Long> concealed = new ArrayList<>();
        Read[] read = new Read[1];
        List<String> lines;
        try (Usb3kDecoder decoder = openQuietly()) {
            lines = StandardError.capture(() -> {
                try (InputStream speech = decoder.audioStream(new ByteArrayInputStream(vcw),
                        vcw.length, 100, null, (frame, why) -> concealed.add(frame))) {
                    read[0] = readAll(speech);
                } catch (IOException e) {
                    throw new AssertionError(e);
                }
            });
            assertEquals(10, decoder.framesConcealed());
        }
        assertEquals(null, read[0].thrown());
        assertEquals(LongStream.range(100, 110).boxed().toList(), concealed,
                "only the frames before the reset");
        assertEquals(lines(List.of(TEN_FRAMES, List.of(
                "Usb3kDecoder::decode - USB-3000 EMU30001 answered none of 10 frames: reset"))),
                lines);
        byte[] expected = expectedSpeechOfAll(vcw, 0);
        Arrays.fill(expected, 100 * SPEECH, 110 * SPEECH, (byte) 0);
        assertArrayEquals(expected, read[0].speech(), "every other block its own speech");
    }

    @Test
    void aDeviceThatAnswersNotEvenAResetEndsTheStreamAsNotResponding() throws IOException {
        byte[] vcw = frames(300, 32);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 101, Fault.HANGS, 0);
        Read[] read = new Read[1];
        List<String> lines;
        try (Usb3kDecoder decoder = openQuietly();
                InputStream speech = decoder.audioStream(new ByteArrayInputStream(vcw),
                        vcw.length)) {
            lines = StandardError.capture(() -> read[0] = readAll(speech));
            assertEquals(50, decoder.framesConcealed());
        }
        FrameNotDecodedException thrown = (FrameNotDecodedException) read[0].thrown();
        assertEquals(Usb3kException.Reason.NOT_RESPONDING, thrown.reason());
        assertEquals(149, thrown.frameIndex());
        assertEquals("USB-3000 EMU30001 decoded none of frames 101 to 150 of the VCW stream, not"
                + " even after a reset: it is still attached but answers nothing usable",
                thrown.getMessage());
        assertEquals("check the device's power, unplug it and plug it in again, then try again",
                thrown.fix());
        assertEquals(times(2, NOT_SENT), thrown.lines());
        assertEquals(lines(List.of(TEN_FRAMES,
                List.of(NO_HEADER, "USB3K::reset - did not receive reset response",
                        "Usb3kDecoder::decode - USB-3000 EMU30001 answered none of 10 frames:"
                                + " reset failed"),
                times(80, NOT_SENT))), lines);
        byte[] expected = Arrays.copyOf(expectedSpeechOfAll(vcw, 0), 150 * SPEECH);
        Arrays.fill(expected, 100 * SPEECH, 150 * SPEECH, (byte) 0);
        assertArrayEquals(expected, read[0].speech());
    }
}
