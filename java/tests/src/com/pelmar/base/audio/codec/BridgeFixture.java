package com.pelmar.base.audio.codec;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** What the bridge tests share: a clean start, expected speech, and reading the transcript. */
public final class BridgeFixture {
    private BridgeFixture() {}

    public static final int FRAME = 7;
    public static final int SPEECH = 320;
    /** What a test fills an output array with, to see which bytes the bridge wrote. */
    public static final byte UNTOUCHED = (byte) 0xA5;

    /**
     * The emulator at power-on and the bridge without a device list, as after loading (the stored
     * error text aside, which only a new process clears).
     */
    public static void freshBridge() {
        Emulator.reset();
        StandardError.capture(USB3KBridge::shutdown);
        Emulator.reset();
    }

    /** Runs initialize with standard error captured; fails the test if initialize fails. */
    static void initializeQuietly() {
        List<String> lines =
                StandardError.capture(
                        () -> {
                            if (!USB3KBridge.initialize()) {
                                throw new AssertionError(
                                        "initialize failed: " + USB3KBridge.getInitError());
                            }
                        });
        if (!lines.isEmpty()) {
            throw new AssertionError("initialize wrote " + lines);
        }
    }

    /** The codeword of the frame at {@code at}: frame bits 7 to 55, w0 in bit 48. */
    static long codeword(byte[] vcw, int at) {
        long value = 0;
        for (int i = 0; i < FRAME; i++) {
            value = value << 8 | (vcw[at + i] & 0xFF);
        }
        return value & ((1L << 49) - 1);
    }

    /** What Java must receive for a frame: the device's speech with each sample's bytes swapped. */
    static byte[] expectedSpeech(byte[] vcw, int at) {
        return swapPairs(Emulator.speechForCodeword(codeword(vcw, at)));
    }

    /** The speech expected for every whole frame of vcw[at..], one block after the other. */
    public static byte[] expectedSpeechOfAll(byte[] vcw, int at) {
        int frames = (vcw.length - at) / FRAME;
        byte[] all = new byte[frames * SPEECH];
        for (int f = 0; f < frames; f++) {
            System.arraycopy(expectedSpeech(vcw, at + f * FRAME), 0, all, f * SPEECH, SPEECH);
        }
        return all;
    }

    static byte[] swapPairs(byte[] wire) {
        byte[] swapped = new byte[wire.length];
        for (int i = 0; i + 1 < wire.length; i += 2) {
            swapped[i] = wire[i + 1];
            swapped[i + 1] = wire[i];
        }
        return swapped;
    }

    /** Frames with varied codewords, deterministic. */
    public static byte[] frames(int count, int seed) {
        byte[] vcw = new byte[count * FRAME];
        int x = seed * 0x9E3779B1 + 1;
        for (int i = 0; i < vcw.length; i++) {
            x ^= x << 13;
            x ^= x >>> 17;
            x ^= x << 5;
            vcw[i] = (byte) x;
        }
        return vcw;
    }

    public static byte[] untouched(int length) {
        byte[] pcm = new byte[length];
        Arrays.fill(pcm, UNTOUCHED);
        return pcm;
    }

    private static final Pattern WRITE = Pattern.compile("FT_Write\\(\\d+: ([0-9a-f ]+)\\)");

    /** The bytes of every FT_Write in the transcript, as lowercase hexadecimal, in order. */
    static List<String> writtenPackets() {
        Matcher m = WRITE.matcher(Emulator.transcript());
        List<String> packets = new java.util.ArrayList<>();
        while (m.find()) {
            packets.add(m.group(1));
        }
        return packets;
    }

    /** How many D2XX calls of this function the transcript holds, on any device. */
    static long calls(String function) {
        return Emulator.transcript()
                .lines()
                .filter(line -> line.matches("(\\S+ )?" + function + "\\(.*"))
                .count();
    }

    /** Checks a WAV file's 44-byte header for 8 kHz 16-bit mono PCM and returns its samples. */
    public static byte[] samplesOfWav(byte[] file) {
        ByteBuffer header = ByteBuffer.wrap(file, 0, 44).order(ByteOrder.LITTLE_ENDIAN);
        int dataBytes = file.length - 44;
        assertEquals("RIFF", new String(file, 0, 4, StandardCharsets.US_ASCII));
        assertEquals(36 + dataBytes, header.getInt(4), "RIFF size");
        assertEquals("WAVEfmt ", new String(file, 8, 8, StandardCharsets.US_ASCII));
        assertEquals(16, header.getInt(16), "format chunk size");
        assertEquals(1, header.getShort(20), "PCM");
        assertEquals(1, header.getShort(22), "mono");
        assertEquals(8000, header.getInt(24), "samples a second");
        assertEquals(16000, header.getInt(28), "bytes a second");
        assertEquals(2, header.getShort(32), "bytes a sample");
        assertEquals(16, header.getShort(34), "bits a sample");
        assertEquals("data", new String(file, 36, 4, StandardCharsets.US_ASCII));
        assertEquals(dataBytes, header.getInt(40), "data size");
        return Arrays.copyOfRange(file, 44, file.length);
    }
}
