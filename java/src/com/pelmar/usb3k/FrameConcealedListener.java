package com.pelmar.usb3k;

import java.util.List;

/**
 * Hears each frame that a stream of {@link Usb3kDecoder} replaced by silence: the device failed it,
 * and failed it again when it was sent once more. Hears too, when it overrides {@link #deviceAway}
 * and {@link #deviceBack}, that the stream's device was unplugged and that it came back: a stream
 * waits for its device up to {@link Usb3kDecoder#setReconnectTimeout the reconnect time-out}.
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

    /**
     * Called on the thread reading the stream when the device is no longer attached (or came back
     * held by another decoder or the bridge), before the stream starts waiting for it. Does
     * nothing unless overridden.
     *
     * @param serialNumber the device's serial number
     * @param frameIndex the index of the frame that failed, which is decoded again once the
     *     device is back
     */
    default void deviceAway(String serialNumber, long frameIndex) {}

    /**
     * Called on the thread reading the stream when the device is attached again and the decoder
     * has reopened it, once the frame that failed has been sent again. Does nothing unless
     * overridden.
     *
     * @param serialNumber the device's serial number
     * @param frameIndex the index of the frame that failed when the device left
     */
    default void deviceBack(String serialNumber, long frameIndex) {}
}
