package com.pelmar.usb3k.measure;

import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.emulator.Emulator;
import java.util.Arrays;
import java.util.SplittableRandom;

/** VCW frames drawn from a seed, and the check of each speech block against its own frame's. */
final class Blocks {
    static final int FRAME = Usb3kDecoder.FRAME_BYTES;
    static final int SPEECH = Usb3kDecoder.SPEECH_BYTES;

    private Blocks() {}

    static byte[] frames(int count, SplittableRandom random) {
        byte[] vcw = new byte[count * FRAME];
        random.nextBytes(vcw);
        return vcw;
    }

    /** Whether block {@code frame} of pcm (from pcmOffset) is the emulator's speech for it. */
    static boolean own(byte[] vcw, int frame, byte[] pcm, int pcmOffset) {
        byte[] expected = Emulator.decodedSpeech(vcw, frame * FRAME);
        int from = pcmOffset + frame * SPEECH;
        return Arrays.equals(expected, 0, SPEECH, pcm, from, from + SPEECH);
    }

    /** Whether block {@code frame} of pcm (from pcmOffset) is silence: all bytes zero. */
    static boolean silent(byte[] pcm, int frame, int pcmOffset) {
        int from = pcmOffset + frame * SPEECH;
        for (int i = from; i < from + SPEECH; i++) {
            if (pcm[i] != 0) {
                return false;
            }
        }
        return true;
    }
}
