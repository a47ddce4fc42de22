package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.initializeQuietly;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Several threads decode while another initializes and shuts down over and over. Each decode
 * either finds a device and writes exactly the right speech, or finds none and writes nothing.
 */
class ThreadSafetyTest {
    private static final int DECODERS = 4;
    private static final int DECODES_EACH = 150;
    private static final int RESTARTS = 60;
    private static final int FRAMES_PER_CALL = 4;
    private static final String NO_DEVICE = "USB3KBridge::decode - no current device";

    /** What one decoding thread saw. */
    private record Tally(int decoded, int refused, List<String> wrong) {}

    @Test
    void decodesInitializesAndShutdownsAtOnce() throws Exception {
        freshBridge();
        initializeQuietly();
        Emulator.recordTranscript(false);

        List<byte[]> inputs = new ArrayList<>();
        List<byte[]> expected = new ArrayList<>();
        for (int t = 0; t < DECODERS; t++) {
            byte[] vcw = frames(FRAMES_PER_CALL, 100 + t);
            inputs.add(vcw);
            expected.add(expectedSpeechOfAll(vcw, 0));
        }

        ExecutorService pool = Executors.newFixedThreadPool(DECODERS + 2);
        List<Future<Tally>> decoders = new ArrayList<>();
        List<Future<?>> others = new ArrayList<>();
        List<String> lines =
                StandardError.capture(
                        () -> {
                            for (int t = 0; t < DECODERS; t++) {
                                decoders.add(pool.submit(decoder(inputs.get(t), expected.get(t))));
                            }
                            others.add(pool.submit(ThreadSafetyTest::restartRepeatedly));
                            others.add(pool.submit(ThreadSafetyTest::readErrorRepeatedly));
                            pool.shutdown();
                            try {
                                assertTrue(pool.awaitTermination(120, TimeUnit.SECONDS));
                                for (Future<?> other : others) {
                                    other.get();
                                }
                            } catch (Exception e) {
                                throw new AssertionError(e);
                            }
                        });

        int decoded = 0;
        int refused = 0;
        for (Future<Tally> decoder : decoders) {
            Tally tally = decoder.get();
            assertEquals(List.of(), tally.wrong());
            decoded += tally.decoded();
            refused += tally.refused();
        }
        assertEquals(DECODERS * DECODES_EACH, decoded + refused);
        assertTrue(decoded > 0, "some decodes found the device");
        // Each refused decode wrote its one line, and nothing else was written.
        assertEquals(refused, lines.size());
        assertEquals(List.of(), lines.stream().filter(l -> !l.equals(NO_DEVICE)).toList());
    }

    private static Callable<Tally> decoder(byte[] vcw, byte[] speech) {
        return () -> {
            int decoded = 0;
            int refused = 0;
            List<String> wrong = new ArrayList<>();
            byte[] nothing = untouched(speech.length);
            for (int i = 0; i < DECODES_EACH; i++) {
                byte[] pcm = untouched(speech.length);
                USB3KBridge.decode(vcw, 0, pcm, 0);
                if (Arrays.equals(pcm, speech)) {
                    decoded++;
                } else if (Arrays.equals(pcm, nothing)) {
                    refused++;
                } else {
                    wrong.add("decode " + i + " wrote other bytes");
                }
            }
            return new Tally(decoded, refused, wrong);
        };
    }

    private static void restartRepeatedly() {
        for (int i = 0; i < RESTARTS; i++) {
            USB3KBridge.shutdown();
            Thread.yield();
            if (!USB3KBridge.initialize()) {
                throw new AssertionError("initialize failed: " + USB3KBridge.getInitError());
            }
        }
    }

    private static void readErrorRepeatedly() {
        for (int i = 0; i < RESTARTS * 10; i++) {
            assertEquals("", USB3KBridge.getInitError());
        }
    }
}
