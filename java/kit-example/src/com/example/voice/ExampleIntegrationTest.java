package com.example.voice;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.FrameNotDecodedException;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kException;
import com.pelmar.usb3k.emulator.D2xxFunction;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * How an application tests its decoding without hardware: usb3k.jar and usb3k-emulator.jar on the
 * class path, nothing else. The jars find their native libraries themselves (installed by the
 * Debian packages, or inside the Maven artifacts), and the emulator takes FTDI's driver's place as
 * soon as a test touches {@link Emulator}. The library's diagnostic lines go to standard error as
 * usual.
 */
class ExampleIntegrationTest {
    private static final int FRAMES = 10;

    @TempDir Path dir;

    @BeforeEach
    void freshEmulator() {
        // One emulated USB-3000, no faults. Every test closes its decoders, so no handle is open.
        Emulator.reset();
    }

    /** Made-up VCW frames: the emulated device answers each with a tone of its own. */
    private static byte[] vcw(int frames) {
        byte[] vcw = new byte[frames * Usb3kDecoder.FRAME_BYTES];
        for (int i = 0; i < vcw.length; i++) {
            vcw[i] = (byte) (i * 37 + 11);
        }
        return vcw;
    }

    /** The speech the application must get for all the frames, 320 bytes each. */
    private static byte[] expectedSpeech(byte[] vcw) {
        int frames = vcw.length / Usb3kDecoder.FRAME_BYTES;
        byte[] speech = new byte[frames * Usb3kDecoder.SPEECH_BYTES];
        for (int f = 0; f < frames; f++) {
            byte[] one = Emulator.decodedSpeech(vcw, f * Usb3kDecoder.FRAME_BYTES);
            System.arraycopy(one, 0, speech, f * Usb3kDecoder.SPEECH_BYTES, one.length);
        }
        return speech;
    }

    @Test
    void everyFrameIsDecodedAndClosingReleasesTheDevice() throws Usb3kException {
        byte[] vcw = vcw(FRAMES);
        byte[] pcm = new byte[FRAMES * Usb3kDecoder.SPEECH_BYTES];
        try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
            assertEquals(FRAMES, decoder.decode(vcw, 0, pcm, 0));
        }
        assertArrayEquals(expectedSpeech(vcw), pcm);
        assertEquals(FRAMES, Emulator.requestCount(Emulator.DEFAULT_SERIAL, Request.CHANNEL));
        assertEquals(0, Emulator.openHandles());
        assertTrue(Emulator.transcript().contains("EMU30001 FT_SetBaudRate(460800) -> 0\n"));
    }

    @Test
    void aFrameTheDeviceLeavesUnansweredEndsOnlyItsCall() throws Usb3kException {
        Emulator.faultAnswer(Emulator.DEFAULT_SERIAL, Request.CHANNEL, 4, Fault.NO_ANSWER, 0);
        byte[] vcw = vcw(FRAMES);
        byte[] pcm = new byte[FRAMES * Usb3kDecoder.SPEECH_BYTES];
        try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
            assertEquals(3, decoder.decode(vcw, 0, pcm, 0), "the frames before the 4th");
            assertArrayEquals(
                    Arrays.copyOf(expectedSpeech(vcw), 3 * Usb3kDecoder.SPEECH_BYTES),
                    Arrays.copyOf(pcm, 3 * Usb3kDecoder.SPEECH_BYTES));
            assertEquals(FRAMES, decoder.decode(vcw, 0, pcm, 0), "the next call is whole");
        }
    }

    @Test
    void withoutADeviceOpenSaysWhy() {
        Emulator.clearDevices();
        Usb3kException e = assertThrows(Usb3kException.class, Usb3kDecoder::open);
        assertEquals(Usb3kException.Reason.NO_DEVICE, e.reason());
        assertEquals("no USB-3000 attached", e.getMessage());
    }

    @Test
    void aDeviceAnotherProcessHoldsCannotBeOpened() {
        Emulator.failCall(Emulator.DEFAULT_SERIAL, D2xxFunction.FT_OpenEx, 3, 0);
        Usb3kException e = assertThrows(Usb3kException.class, Usb3kDecoder::open);
        assertEquals(Usb3kException.Reason.NOT_READY, e.reason());
        assertEquals("USB-3000 device EMU30001 is not ready", e.getMessage());
        assertEquals(
                List.of(
                        "USB3K::USB3K - FT_OpenEx failed: 3",
                        "Usb3kDecoder::open - USB-3000 device EMU30001 is not ready"),
                e.lines());
    }

    @Test
    void eachDecoderHasADeviceOfItsOwn() throws Usb3kException {
        Emulator.addUsb3000("EMU30002");
        try (Usb3kDecoder first = Usb3kDecoder.open("EMU30002");
                Usb3kDecoder second = Usb3kDecoder.open()) {
            assertEquals("EMU30002", first.serialNumber());
            assertEquals(Emulator.DEFAULT_SERIAL, second.serialNumber());
        }
    }

    @Test
    void aVcwStreamBecomesAWavFile() throws Exception {
        byte[] vcw = vcw(FRAMES);
        File wav = dir.resolve("speech.wav").toFile();
        try (Usb3kDecoder decoder = Usb3kDecoder.open();
                AudioInputStream speech =
                        decoder.audioStream(new ByteArrayInputStream(vcw), vcw.length)) {
            AudioSystem.write(speech, AudioFileFormat.Type.WAVE, wav);
        }
        try (AudioInputStream read = AudioSystem.getAudioInputStream(wav)) {
            assertTrue(read.getFormat().matches(Usb3kDecoder.AUDIO_FORMAT), "8 kHz 16-bit mono");
            assertEquals(FRAMES * Usb3kDecoder.SAMPLES_PER_FRAME, read.getFrameLength());
            assertArrayEquals(expectedSpeech(vcw), read.readAllBytes());
        }
    }

    @Test
    void aFrameTheDeviceFailsTwiceIsSilenceAndTheFileIsWritten() throws Exception {
        // The 7th frame's request and the one that sends it again both go unanswered.
        Emulator.faultAnswer(null, Request.CHANNEL, 7, Fault.WRONG_START, 0x7f);
        Emulator.faultAnswer(null, Request.CHANNEL, 8, Fault.NO_ANSWER, 0);
        byte[] vcw = vcw(FRAMES);
        Path in = Files.write(dir.resolve("speech.vcw"), vcw);
        Path wav = dir.resolve("speech.wav");
        List<Long> silent = new ArrayList<>();
        try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
            decoder.decodeFile(in, wav, 250, null, (frame, lines) -> silent.add(frame));
            assertEquals(1, decoder.framesConcealed());
        }
        assertEquals(List.of(6L), silent, "the 7th frame");
        byte[] expected = expectedSpeech(vcw);
        int silence = 6 * Usb3kDecoder.SPEECH_BYTES;
        Arrays.fill(expected, silence, silence + Usb3kDecoder.SPEECH_BYTES, (byte) 0);
        try (AudioInputStream read = AudioSystem.getAudioInputStream(wav.toFile())) {
            assertArrayEquals(expected, read.readAllBytes());
        }
    }

    @Test
    void anUnpluggedDeviceThatStaysAwayEndsTheStream() throws Exception {
        byte[] vcw = vcw(FRAMES);
        try (Usb3kDecoder decoder = Usb3kDecoder.open();
                AudioInputStream speech =
                        decoder.audioStream(new ByteArrayInputStream(vcw), vcw.length)) {
            decoder.setReconnectTimeout(java.time.Duration.ofMillis(200));
            Emulator.detach(Emulator.DEFAULT_SERIAL);
            FrameNotDecodedException e =
                    assertThrows(FrameNotDecodedException.class, () -> speech.read(new byte[320]));
            assertEquals(Usb3kException.Reason.DEVICE_GONE, e.reason());
            assertEquals(0, e.frameIndex(), "the first frame");
        }
    }
}
