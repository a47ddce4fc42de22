package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeech;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.initializeQuietly;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static com.pelmar.base.audio.codec.BridgeFixture.writtenPackets;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** decode: which bytes reach the device, and which bytes reach the Java array. */
class DecodeTest {
    private static final byte[] FRAME_0123 = {0x01, 0x23, 0x45, 0x67, (byte) 0x89, (byte) 0xAB,
        (byte) 0xCD};

    @BeforeEach
    void start() {
        freshBridge();
    }

    /** decode with standard error captured; its result must be false whatever happened. */
    private static List<String> decode(byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset) {
        boolean[] result = {true};
        List<String> lines =
                StandardError.capture(
                        () -> result[0] = USB3KBridge.decode(vcw, vcwOffset, pcm, pcmOffset));
        assertFalse(result[0], "decode's result");
        return lines;
    }

    private static byte[] slice(byte[] bytes, int from, int to) {
        return Arrays.copyOfRange(bytes, from, to);
    }

    @Nested
    class OnAReadyDevice {
        @BeforeEach
        void ready() {
            initializeQuietly();
            Emulator.clearTranscript();
        }

        @ParameterizedTest(name = "{0} bytes from offset {1}")
        @CsvSource({"0, 0", "6, 0", "14, 14", "20, 14"})
        void withoutAWholeFrameNothingIsSentOrWritten(int length, int offset) {
            byte[] pcm = untouched(SPEECH);
            assertEquals(
                    List.of("USB3K::decode - no VCW frames to decode"),
                    decode(new byte[length], offset, pcm, 0));
            assertArrayEquals(untouched(SPEECH), pcm);
            assertEquals(0, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
        }

        @Test
        void oneFrameGivesItsSpeechWithEachSamplesBytesSwapped() {
            byte[] pcm = untouched(SPEECH + 4);
            assertEquals(List.of(), decode(FRAME_0123, 0, pcm, 0));

            byte[] wire = Emulator.speechForCodeword(BridgeFixture.codeword(FRAME_0123, 0));
            assertNotEquals(wire[0], wire[1], "a sample whose two bytes differ shows the order");
            assertEquals(wire[1], pcm[0]);
            assertEquals(wire[0], pcm[1]);
            assertArrayEquals(expectedSpeech(FRAME_0123, 0), slice(pcm, 0, SPEECH));
            assertArrayEquals(untouched(4), slice(pcm, SPEECH, SPEECH + 4), "nothing beyond");
        }

        @Test
        void theChannelRequestCarriesTheRate34Interleave() {
            decode(FRAME_0123, 0, new byte[SPEECH], 0);
            assertEquals(
                    List.of("61 00 0b 01 01 31 cc 56 de 86 a2 6c 80 2f 99"), writtenPackets());
        }

        @Test
        void fifteenBytesAreTwoFramesAndTheLastByteIsIgnored() {
            byte[] vcw = frames(3, 7);
            byte[] fifteen = slice(vcw, 0, 15);
            byte[] pcm = untouched(3 * SPEECH);
            assertEquals(List.of(), decode(fifteen, 0, pcm, 0));
            assertEquals(2, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
            assertArrayEquals(expectedSpeechOfAll(slice(vcw, 0, 14), 0), slice(pcm, 0, 2 * SPEECH));
            assertArrayEquals(untouched(SPEECH), slice(pcm, 2 * SPEECH, 3 * SPEECH));
        }

        @Test
        void offsetsSelectWhereInputStartsAndWhereSpeechGoes() {
            byte[] vcw = frames(3, 11); // 21 bytes: from offset 3, two whole frames and 4 left over
            byte[] pcm = untouched(5 + 2 * SPEECH + 5);
            assertEquals(List.of(), decode(vcw, 3, pcm, 5));
            assertArrayEquals(untouched(5), slice(pcm, 0, 5));
            assertArrayEquals(expectedSpeechOfAll(slice(vcw, 3, 17), 0), slice(pcm, 5, 5 + 640));
            assertArrayEquals(untouched(5), slice(pcm, 645, 650));
        }

        @Test
        void oneArrayMayHoldBothTheInputAndTheSpeech() {
            byte[] vcw = frames(2, 13);
            byte[] shared = untouched(2 * SPEECH + vcw.length);
            System.arraycopy(vcw, 0, shared, 2 * SPEECH, vcw.length);
            assertEquals(List.of(), decode(shared, 2 * SPEECH, shared, 0));
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), slice(shared, 0, 2 * SPEECH));
            assertArrayEquals(vcw, slice(shared, 2 * SPEECH, shared.length));
        }

        @Test
        void moreThan32767FramesInOneCallAreAllDecoded() {
            Emulator.recordTranscript(false);
            byte[] vcw = frames(32769, 3);
            byte[] pcm = new byte[32769 * SPEECH];
            assertEquals(List.of(), decode(vcw, 0, pcm, 0));
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        }

        @Test
        void aFrameTheDeviceFailsEndsTheCallWithTheSpeechBeforeIt() {
            Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 2, Fault.MISSING_FIELD, 0);
            byte[] vcw = frames(3, 5);
            byte[] pcm = untouched(3 * SPEECH);
            assertEquals(List.of("USB3K::decode - no speech field in response"),
                    decode(vcw, 0, pcm, 0));
            assertArrayEquals(expectedSpeech(vcw, 0), slice(pcm, 0, SPEECH));
            assertArrayEquals(untouched(2 * SPEECH), slice(pcm, SPEECH, 3 * SPEECH));
        }
    }

    @Test
    void afterInitializeFailedAtTheRateStepTheFrameGoesInThePlainLayout() {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.RATE, 0, Fault.STATUS, 1);
        StandardError.capture(USB3KBridge::initialize);
        Emulator.clearTranscript();

        byte[] pcm = untouched(SPEECH);
        assertEquals(List.of(), decode(FRAME_0123, 0, pcm, 0));
        assertEquals(List.of("61 00 0b 01 01 91 a2 b3 c4 d5 e6 80 00 2f d3"), writtenPackets());
        assertArrayEquals(expectedSpeech(FRAME_0123, 0), pcm);
    }
}
