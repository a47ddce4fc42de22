package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.FRAME;
import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.pelmar.usb3k.emulator.Emulator;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PipedInputStream;
import java.io.PipedOutputStream;
import java.nio.file.Path;
import java.time.Duration;
import java.util.Random;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import javax.sound.sampled.AudioInputStream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * A live source into audioStream, locally and through usb3k-server: a frame's speech is readable
 * as soon as the frame has arrived, however its bytes arrive, and no byte is lost or split.
 */
class LiveStreamTest {
    @TempDir Path dir;

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.recordTranscript(false);
    }

    /**
     * The source sends its first frames one byte at a time with pauses and waits for each frame's
     * speech before it sends the next, as a listener would hear it (a stream that waited for more
     * frames before decoding would never answer); the rest arrive byte by byte with random pauses
     * and in random bursts. Every block must be its own frame's speech.
     */
    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"local", "remote"})
    void eachFrameIsHeardOnceItHasArrived(String road) throws Exception {
        // Where the build makes no usb3k-server (or the jars are tried alone), only the local road.
        assumeTrue(road.equals("local") || System.getProperty("usb3k.server") != null);
        byte[] vcw = frames(300, 33);
        byte[] expected = expectedSpeechOfAll(vcw, 0);
        assertTimeoutPreemptively(Duration.ofSeconds(60), () -> {
            if (road.equals("local")) {
                try (Usb3kDecoder decoder = openQuietly()) {
                    assertArrayEquals(expected, listen(decoder, vcw));
                    assertEquals(0, decoder.framesConcealed());
                }
            } else {
                try (ServerProcess server = ServerProcess.start(dir, DEFAULT_SERIAL, "", false);
                        Usb3kDecoder decoder =
                                Usb3kDecoder.connect(server.uri(), ServerProcess.TOKEN)) {
                    assertArrayEquals(expected, listen(decoder, vcw));
                    assertEquals(0, decoder.framesConcealed());
                }
            }
        });
    }

    /** The frames waited for one at a time before the source sends freely. */
    private static final int HEARD_ONE_BY_ONE = 20;

    /** Everything the decoder's stream of the live source gives, read in small pieces. */
    private static byte[] listen(Usb3kDecoder decoder, byte[] vcw) throws Exception {
        PipedOutputStream source = new PipedOutputStream();
        Semaphore heard = new Semaphore(0);
        Thread sender = new Thread(() -> send(source, vcw, heard), "live source");
        ByteArrayOutputStream speech = new ByteArrayOutputStream();
        try (InputStream input = new PipedInputStream(source, 64);
                AudioInputStream stream = decoder.audioStream(input)) {
            sender.start();
            byte[] buffer = new byte[500];
            for (int count; (count = stream.read(buffer)) >= 0; ) {
                int before = speech.size() / SPEECH;
                speech.write(buffer, 0, count);
                heard.release(speech.size() / SPEECH - before);
            }
        }
        sender.join();
        return speech.toByteArray();
    }

    private static void send(PipedOutputStream source, byte[] vcw, Semaphore heard) {
        Random random = new Random(7);
        try (source) {
            int at = 0;
            for (int frame = 0; frame < HEARD_ONE_BY_ONE; frame++) {
                for (int end = at + FRAME; at < end; at++) {
                    source.write(vcw[at]);
                    source.flush();
                    Thread.sleep(random.nextInt(2));
                }
                if (!heard.tryAcquire(10, TimeUnit.SECONDS)) {
                    throw new AssertionError("frame " + frame + " was not heard once it arrived");
                }
            }
            while (at < vcw.length) {
                int burst = Math.min(1 + random.nextInt(2 * FRAME), vcw.length - at);
                source.write(vcw, at, burst);
                source.flush();
                at += burst;
                if (random.nextInt(8) == 0) {
                    Thread.sleep(random.nextInt(3));
                }
            }
        } catch (IOException | InterruptedException e) {
            throw new AssertionError(e);
        }
    }
}
