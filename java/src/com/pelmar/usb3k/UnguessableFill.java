package com.pelmar.usb3k;

import java.security.SecureRandom;
import java.util.Arrays;
import java.util.SplittableRandom;

/**
 * Random bytes, new for every decode call, written over the speech blocks a call may fill, so that
 * a block still holding them afterwards is one the library did not write. The bytes come from a
 * generator seeded from {@link SecureRandom}, so no device and no input can produce them except by
 * chance, and a block's chance is 2^-2560.
 */
final class UnguessableFill {
    private static final SecureRandom SEEDS = new SecureRandom();

    private final long seed;
    private final byte[] block = new byte[Usb3kDecoder.SPEECH_BYTES];

    UnguessableFill() {
        seed = SEEDS.nextLong();
    }

    /** Writes the fill over {@code blocks} speech blocks of {@code pcm} from {@code offset}. */
    void write(byte[] pcm, int offset, int blocks) {
        SplittableRandom random = new SplittableRandom(seed);
        for (int b = 0; b < blocks; b++) {
            next(random);
            System.arraycopy(block, 0, pcm, offset + b * block.length, block.length);
        }
    }

    /** The first of {@code blocks} blocks from {@code offset} still holding the fill, or blocks. */
    int firstUnwritten(byte[] pcm, int offset, int blocks) {
        SplittableRandom random = new SplittableRandom(seed);
        for (int b = 0; b < blocks; b++) {
            next(random);
            int from = offset + b * block.length;
            if (Arrays.equals(pcm, from, from + block.length, block, 0, block.length)) {
                return b;
            }
        }
        return blocks;
    }

    /** The generator's next 320 bytes, into block. */
    private void next(SplittableRandom random) {
        for (int i = 0; i < block.length; i += Long.BYTES) {
            long bits = random.nextLong();
            for (int j = 0; j < Long.BYTES; j++) {
                block[i + j] = (byte) (bits >>> (8 * j));
            }
        }
    }
}
