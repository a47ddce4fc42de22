package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.FRAME;
import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
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
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** Usb3kDecoder.audioStream over the emulator: WAV files, chunks, and failures mid-stream. */
class AudioStreamTest {
    @TempDir Path dir;

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.recordTranscript(false);
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"file, length unknown", "file, length known", "stream, length known"})
    void aVcwFileBecomesAWavFileOfItsSpeech(String how) throws IOException {
        byte[] vcw = frames(1234, 21);
        Path vcwFile = Files.write(dir.resolve("in.vcw"), vcw);
        Path wav = dir.resolve("out.wav");
        List<Long> progress = new ArrayList<>();
        long length = how.endsWith("unknown") ? AudioSystem.NOT_SPECIFIED : Files.size(vcwFile);
        try (Usb3kDecoder decoder = openQuietly();
                AudioInputStream speech =
                        decoder.audioStream(
                                Files.newInputStream(vcwFile), length, 500, progress::add)) {
            assertEquals(length < 0 ? AudioSystem.NOT_SPECIFIED : 1234 * 160,
                    speech.getFrameLength());
            if (how.startsWith("file")) {
                AudioSystem.write(speech, AudioFileFormat.Type.WAVE, wav.toFile());
            } else {
                ByteArrayOutputStream out = new ByteArrayOutputStream();
                AudioSystem.write(speech, AudioFileFormat.Type.WAVE, out);
                Files.write(wav, out.toByteArray());
            }
        }
        assertEquals(List.of(500L, 1000L, 1234L), progress, "decoded in chunks as it was read");
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), samplesOfWav(Files.readAllBytes(wav)));
        assertEquals(1234, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
    }

    /** Reads until a read throws; returns what was read before and what was thrown. */
    private record Read(byte[] speech, IOException thrown) {}

    private static Read readUntilFailure(InputStream stream) {
        ByteArrayOutputStream read = new ByteArrayOutputStream();
        byte[] buffer = new byte[1000];
        try {
            for (int count; (count = stream.read(buffer)) >= 0; ) {
                read.write(buffer, 0, count);
            }
        } catch (IOException e) {
            return new Read(read.toByteArray(), e);
        }
        throw new AssertionError("the stream ended after " + read.size() + " bytes");
    }

    @Test
    void aFrameTheDeviceFailsIsThrownAfterTheSpeechBeforeIt() throws IOException {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 621, Fault.MISSING_FIELD, 0);
        byte[] vcw = frames(1000, 22);
        try (Usb3kDecoder decoder = openQuietly();
                AudioInputStream speech =
                        decoder.audioStream(new ByteArrayInputStream(vcw), vcw.length)) {
            Read[] read = new Read[1];
            List<String> lines = StandardError.capture(() -> read[0] = readUntilFailure(speech));

            assertEquals(List.of("USB3K::decode - no speech field in response"), lines);
            FrameNotDecodedException thrown = (FrameNotDecodedException) read[0].thrown();
            assertEquals(620, thrown.frameIndex());
            assertEquals("the USB-3000 did not decode frame 621 of the VCW stream (the lines on"
                    + " standard error say why)", thrown.getMessage());
            assertArrayEquals(expectedSpeechOfAll(Arrays.copyOf(vcw, 620 * FRAME), 0),
                    read[0].speech());
            assertSame(thrown, assertThrows(IOException.class, () -> speech.read(new byte[2])));
        }
        assertEquals(621, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL),
                "nothing sent after the failed frame");
    }

    @Test
    void anInputShorterThanItsLengthIsThrownAfterItsSpeech() throws IOException {
        byte[] vcw = frames(30, 24);
        try (Usb3kDecoder decoder = openQuietly();
                AudioInputStream speech =
                        decoder.audioStream(new ByteArrayInputStream(vcw), 31 * FRAME)) {
            Read read = readUntilFailure(speech);
            assertEquals(EOFException.class, read.thrown().getClass());
            assertEquals("the VCW input ended after 30 of 31 frames", read.thrown().getMessage());
            assertEquals(30 * SPEECH, read.speech().length);
        }
    }
}
