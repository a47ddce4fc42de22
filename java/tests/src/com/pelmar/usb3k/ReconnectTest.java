package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import javax.sound.sampled.AudioInputStream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** A decoder and its streams across an unplug and re-plug of the device, over the emulator. */
class ReconnectTest {
    @TempDir Path dir;

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.setRemovedHandleStatus(4);
    }

    /** Records what the listener hears; plugs the device back in, when asked to, once it left. */
    private static final class Events implements FrameConcealedListener {
        final List<String> heard = new ArrayList<>();
        final boolean replug;

        Events(boolean replug) {
            this.replug = replug;
        }

        @Override
        public void frameConcealed(long frameIndex, List<String> lines) {
            heard.add("concealed " + frameIndex);
        }

        @Override
        public void deviceAway(String serialNumber, long frameIndex) {
            heard.add("away " + serialNumber + " " + frameIndex);
            // The device's request counts start again after a re-plug: the unplug is not repeated.
            Emulator.clearFaults();
            if (replug) {
                assertTrue(Emulator.replugAtListCall(serialNumber, 3));
            }
        }

        @Override
        public void deviceBack(String serialNumber, long frameIndex) {
            heard.add("back " + serialNumber + " " + frameIndex);
        }
    }

    @Test
    void aFileDecodedAcrossAnUnplugAndReplugHasEveryFramesOwnSpeech() throws IOException {
        byte[] vcw = frames(600, 31);
        Path in = Files.write(dir.resolve("in.vcw"), vcw);
        Path wav = dir.resolve("out.wav");
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 301, Fault.UNPLUGGED, 0);
        Events events = new Events(true);
        try (Usb3kDecoder decoder = openQuietly()) {
            List<String> lines = StandardError.capture(() -> {
                try {
                    assertEquals(600, decoder.decodeFile(in, wav, 250, null, events));
                } catch (IOException e) {
                    throw new AssertionError(e);
                }
            });
            assertEquals(0, decoder.framesConcealed());
            assertEquals("Usb3kDecoder::decode - USB-3000 EMU30001 is no longer attached",
                    lines.get(lines.size() - 4));
            assertEquals(List.of(
                    "Usb3kDecoder::decode - USB-3000 EMU30001 is not attached",
                    "Usb3kDecoder::decode - USB-3000 EMU30001 is not attached",
                    "Usb3kDecoder::decode - USB-3000 EMU30001 is attached again and ready"),
                    lines.subList(lines.size() - 3, lines.size()));
        }
        assertEquals(List.of("away EMU30001 300", "back EMU30001 300"), events.heard);
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), samplesOfWav(Files.readAllBytes(wav)));
        assertEquals(0, Emulator.openHandles());
    }

    @Test
    void aStreamWaitsThroughOpensRefusedWhileTheDeviceRebinds() throws IOException {
        Emulator.refuseOpensAfterReplug(DEFAULT_SERIAL, 3, 2);
        Emulator.needsResetAfterReplug(DEFAULT_SERIAL, true);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 41, Fault.UNPLUGGED, 0);
        byte[] vcw = frames(100, 37);
        Events events = new Events(true);
        try (Usb3kDecoder decoder = openQuietly();
                AudioInputStream speech = decoder.audioStream(
                        new ByteArrayInputStream(vcw), vcw.length, 30, null, events)) {
            byte[][] read = new byte[1][];
            List<String> lines = StandardError.capture(() -> {
                try {
                    read[0] = speech.readAllBytes();
                } catch (IOException e) {
                    throw new AssertionError(e);
                }
            });
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), read[0]);
            assertEquals(3, lines.stream().filter(
                    "USB3K::USB3K - FT_OpenEx failed: 2"::equals).count(), String.join("\n", lines));
            assertEquals(1, Emulator.requestCount(DEFAULT_SERIAL, Request.RESET));
        }
        assertEquals(List.of("away EMU30001 40", "back EMU30001 40"), events.heard);
    }

    @Test
    void aDeviceAwayPastTheTimeOutEndsTheStreamAndKeepsTheWavThatWasThere() throws IOException {
        Path in = Files.write(dir.resolve("in.vcw"), frames(100, 41));
        Path wav = Files.writeString(dir.resolve("out.wav"), "an earlier result");
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 51, Fault.UNPLUGGED, 0);
        Events events = new Events(false);
        try (Usb3kDecoder decoder = openQuietly()) {
            decoder.setReconnectTimeout(Duration.ofMillis(300));
            FrameNotDecodedException[] thrown = new FrameNotDecodedException[1];
            StandardError.capture(() -> thrown[0] = assertThrows(FrameNotDecodedException.class,
                    () -> decoder.decodeFile(in, wav, 250, null, events)));
            assertEquals(Usb3kException.Reason.DEVICE_GONE, thrown[0].reason());
            assertEquals(50, thrown[0].frameIndex());
            assertEquals("USB-3000 EMU30001 was not attached again within 300 ms (check its cable"
                    + " and its USB hub): frame 51 of the VCW stream not decoded",
                    thrown[0].getMessage());
            assertEquals("Usb3kDecoder::decode - USB-3000 EMU30001 is not attached",
                    thrown[0].lines().get(thrown[0].lines().size() - 1));
        }
        assertEquals(List.of("away EMU30001 50"), events.heard);
        assertEquals("an earlier result", Files.readString(wav));
    }

    @Test
    void decodeReturnsTheFramesBeforeAnUnplugThenNothingAtOnceThenDecodesOnceBack()
            throws Usb3kException {
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 3, Fault.UNPLUGGED, 0);
        byte[] vcw = frames(5, 43);
        byte[] pcm = new byte[5 * SPEECH];
        int[] decoded = {-1};
        try (Usb3kDecoder decoder = openQuietly()) {
            StandardError.capture(() -> decoded[0] = decoder.decode(vcw, 0, pcm, 0));
            assertEquals(2, decoded[0], "the frames before the unplug");
            assertEquals(0, Emulator.openHandles(), "the dead handle is closed at once");
            Emulator.clearFaults();

            List<String> away = StandardError.capture(() -> decoded[0] = decoder.decode(vcw, 0,
                    pcm, 0));
            assertEquals(0, decoded[0]);
            assertEquals(List.of("Usb3kDecoder::decode - USB-3000 EMU30001 is not attached"), away);

            assertTrue(Emulator.replugAtListCall(DEFAULT_SERIAL, 1));
            try (Usb3kDecoder other = Usb3kDecoder.open(DEFAULT_SERIAL)) {
                List<String> taken = StandardError.capture(() -> decoded[0] = decoder.decode(vcw,
                        0, pcm, 0));
                assertEquals(0, decoded[0]);
                assertEquals(List.of(
                        "Usb3kDecoder::decode - USB-3000 EMU30001 is in use by a decoder"), taken);
                assertEquals(DEFAULT_SERIAL, other.serialNumber());
            }
            List<String> back = StandardError.capture(() -> decoded[0] = decoder.decode(vcw, 0,
                    pcm, 0));
            assertEquals(5, decoded[0]);
            assertEquals(List.of(
                    "Usb3kDecoder::decode - USB-3000 EMU30001 is attached again and ready"), back);
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        }
        assertEquals(0, Emulator.openHandles());
        assertFalse(Emulator.reattach(DEFAULT_SERIAL), "attached all along since the re-plug");
    }
}
