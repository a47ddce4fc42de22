package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** A decoder and its streams across an unplug at frame 51 and a re-plug, over the emulator. */
class ReconnectTest {
    private static final String AWAY = "Usb3kDecoder::decode - USB-3000 EMU30001 is not attached";
    @TempDir Path dir;
    private final List<String> heard = new ArrayList<>();

    private Usb3kDecoder unplugAtFrame51(int refusedOpens) throws Exception {
        freshBridge();
        Emulator.setRemovedHandleStatus(4);
        Emulator.refuseOpensAfterReplug(DEFAULT_SERIAL, refusedOpens, 2);
        Emulator.needsResetAfterReplug(DEFAULT_SERIAL, true);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 51, Fault.UNPLUGGED, 0);
        return Usb3kDecoderTest.openQuietly();
    }

    /** Hears away and back; plugs the device back in when it is away, unless replugAt is 0. */
    private FrameConcealedListener listener(int replugAt) {
        return new FrameConcealedListener() {
            public void frameConcealed(long frame, List<String> lines) { heard.add("concealed"); }
            public void deviceAway(String serial, long frame) {
                heard.add("away " + serial + " " + frame);
                Emulator.clearFaults(); // counts start again after a re-plug
                if (replugAt > 0) Emulator.replugAtListCall(serial, replugAt);
            }
            public void deviceBack(String serial, long frame) { heard.add("back " + frame); }
        };
    }

    @ParameterizedTest(name = "opens refused after the re-plug: {0}")
    @ValueSource(ints = {0, 3})
    void aFileDecodedAcrossAnUnplugHasEveryFramesOwnSpeech(int refused) throws Exception {
        byte[] vcw = frames(300, 31);
        Path in = Files.write(dir.resolve("in.vcw"), vcw), wav = dir.resolve("out.wav");
        try (Usb3kDecoder decoder = unplugAtFrame51(refused)) {
            List<String> lines = StandardError.capture(() -> assertEquals(300, assertDoesNotThrow(
                    () -> decoder.decodeFile(in, wav, 250, null, listener(3)))));
            assertEquals(0, decoder.framesConcealed());
            assertEquals(List.of(AWAY, AWAY), lines.stream().filter(AWAY::equals).toList());
            assertEquals(refused, lines.stream().filter(l -> l.endsWith("failed: 2")).count());
            assertEquals("Usb3kDecoder::decode - USB-3000 EMU30001 is attached again and ready",
                    lines.get(lines.size() - 1));
        }
        assertEquals(List.of("away EMU30001 50", "back 50"), heard);
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), samplesOfWav(Files.readAllBytes(wav)));
    }

    @Test
    void aDeviceAwayPastTheTimeOutEndsTheStreamAndKeepsTheWavThatWasThere() throws Exception {
        Path in = Files.write(dir.resolve("in.vcw"), frames(100, 41));
        Path wav = Files.writeString(dir.resolve("out.wav"), "an earlier result");
        try (Usb3kDecoder decoder = unplugAtFrame51(0)) {
            decoder.setReconnectTimeout(Duration.ofMillis(300));
            FrameNotDecodedException[] thrown = new FrameNotDecodedException[1];
            StandardError.capture(() -> thrown[0] = assertThrows(FrameNotDecodedException.class,
                    () -> decoder.decodeFile(in, wav, 250, null, listener(0))));
            assertEquals(Usb3kException.Reason.DEVICE_GONE, thrown[0].reason());
            assertEquals("USB-3000 EMU30001 was not attached again within 300 ms (check its cable"
                    + " and its USB hub): frame 51 of the VCW stream not decoded",
                    thrown[0].getMessage());
            assertEquals(AWAY, thrown[0].lines().get(thrown[0].lines().size() - 1));
        }
        assertEquals(List.of("away EMU30001 50"), heard);
        assertEquals("an earlier result", Files.readString(wav));
    }

    @Test
    void decodeReturnsTheFramesBeforeAnUnplugThenNothingAtOnceThenAllOnceBack() throws Exception {
        byte[] vcw = frames(60, 43), pcm = new byte[60 * SPEECH];
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
            StandardError.capture(() -> assertEquals(60, decoder.decode(vcw, 0, pcm, 0)));
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        }
    }
}
