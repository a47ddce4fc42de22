package com.pelmar.usb3k;

import java.util.List;

/**
 * Hears each frame that a stream of {@link Usb3kDecoder} replaced by silence: the device failed it,
 * and failed it again when it was sent once more.
 */
@FunctionalInterface
public interface FrameConcealedListener {
    /**
     * Called on the thread reading the stream, before the silence is read.
     *
     * @param frameIndex the frame's index in the stream, from 0
     * @param lines why: the library's lines of both attempts, in order
     */
    void frameConcealed(long frameIndex, List<String> lines);
}
