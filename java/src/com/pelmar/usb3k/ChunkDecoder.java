package com.pelmar.usb3k;

/**
 * Decodes a stream's frames a chunk at a time, so that a glitch costs one frame: on the decoder's
 * own device ({@link ConcealingDecoder}) or through usb3k-server ({@link RemoteDecoding}).
 */
interface ChunkDecoder {
    /**
     * Decodes {@code frames} frames of vcw[0..] into pcm[0..], stopping early only when the thread
     * is interrupted or the device or the server is gone.
     */
    ConcealingDecoder.Outcome decode(byte[] vcw, int frames, byte[] pcm);
}
