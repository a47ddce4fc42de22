package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * A decoder over three usb3k-servers on loopback: the first killed and the second drained in the
 * middle of a decodeFile, which goes on on the next each time, every frame's speech once, in order.
 */
class RemoteFailoverTest {
    @TempDir Path dir;

    @Test
    void aFileDecodedAcrossAKilledAndADrainedServerHasEveryFramesSpeechOnce() throws Exception {
        byte[] vcw = frames(3000, 9);
        Path vcwFile = Files.write(dir.resolve("in.vcw"), vcw);
        Path wav = dir.resolve("out.wav");
        AtomicLong progress = new AtomicLong();
        try (ServerProcess first = ServerProcess.start(dir, "EMU30001", "", true);
                ServerProcess second = ServerProcess.start(dir, "EMU30002", "", true);
                ServerProcess third = ServerProcess.start(dir, "EMU30003", "", false);
                Usb3kDecoder decoder = Usb3kDecoder.connect(
                        List.of(first.uri(), second.uri(), third.uri()), ServerProcess.TOKEN)) {
            assertEquals("EMU30001", decoder.serialNumber(), "the first of equally busy servers");
            long[] killedAt = {-1};
            long[] drainedAt = {-1};
            Thread faults = new Thread(() -> {
                try {
                    killedAt[0] = awaitProgress(progress, 200);
                    first.kill();
                    drainedAt[0] = awaitProgress(progress, killedAt[0] + 200);
                    second.drain();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            });
            faults.start();
            long decoded = decoder.decodeFile(vcwFile, wav, 50, progress::set, null);
            faults.join(60_000);
            assertEquals(3000, decoded);
            assertTrue(killedAt[0] >= 200 && drainedAt[0] > killedAt[0]
                    && drainedAt[0] < 2000, "faults in the middle: " + killedAt[0] + ", "
                    + drainedAt[0]);
            assertEquals("EMU30003", decoder.serialNumber());
            assertEquals(0, decoder.framesConcealed());
        }
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), samplesOfWav(Files.readAllBytes(wav)),
                "every frame's speech, once, in order");
    }

    /** Waits (at most 30 s) until the decode has delivered this many frames; returns how many. */
    private static long awaitProgress(AtomicLong progress, long frames) throws InterruptedException {
        long deadline = System.nanoTime() + 30_000_000_000L;
        while (progress.get() < frames && System.nanoTime() < deadline) {
            Thread.sleep(5);
        }
        return progress.get();
    }

    @Test
    void whenEveryServerFailsTheExceptionNamesEachAndItsReason() throws Exception {
        URI nobody = URI.create("http://127.0.0.1:9");
        try (ServerProcess server = ServerProcess.start(dir, "EMU30001", "", false)) {
            Usb3kException failure = assertThrows(Usb3kException.class,
                    () -> Usb3kDecoder.connect(List.of(server.uri(), nobody), "wrong"));
            assertEquals(Usb3kException.Reason.SERVER_UNREACHABLE, failure.reason());
            assertTrue(failure.getMessage().startsWith("no server gave a USB-3000: "
                    + server.uri() + "/ refused the token (401); " + nobody + "/ could not be"
                    + " reached: "), failure.getMessage());
            assertEquals(RemoteServer.fix(Usb3kException.Reason.SERVER_UNREACHABLE), failure.fix());
        }
    }
}
