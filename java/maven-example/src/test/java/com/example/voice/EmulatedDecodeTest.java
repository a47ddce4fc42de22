package com.example.voice;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.USB3KBridge;
import com.pelmar.usb3k.emulator.Emulator;
import org.junit.jupiter.api.Test;

/** usb3k and its emulator from Maven artifacts alone: the jars load their own native libraries. */
class EmulatedDecodeTest {
    @Test
    void twoFramesDecodeToTheEmulatorsSpeech() {
        Emulator.reset();
        byte[] vcw = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
        byte[] pcm = new byte[2 * 320];
        assertTrue(USB3KBridge.initialize(), USB3KBridge::getInitError);
        USB3KBridge.decode(vcw, 0, pcm, 0);
        USB3KBridge.shutdown();
        byte[] expected = new byte[pcm.length];
        System.arraycopy(Emulator.decodedSpeech(vcw, 0), 0, expected, 0, 320);
        System.arraycopy(Emulator.decodedSpeech(vcw, 7), 0, expected, 320, 320);
        assertArrayEquals(expected, pcm);
    }
}
