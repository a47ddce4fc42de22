package com.pelmar.usb3k;

/**
 * A frame of a VCW stream that the USB-3000 did not decode, thrown by a read of the stream that
 * {@link Usb3kDecoder#audioStream} made once every frame before it has been read. Why the frame
 * failed is on standard error, in the library's lines just before.
 */
public final class FrameNotDecodedException extends Usb3kException {
    private static final long serialVersionUID = 1L;

    /** The failed frame's index in the stream, from 0. */
    private final long frameIndex;

    /**
     * The exception for one frame.
     *
     * @param frameIndex the frame's index in the stream, from 0
     */
    public FrameNotDecodedException(long frameIndex) {
        super(
                "the USB-3000 did not decode frame "
                        + (frameIndex + 1)
                        + " of the VCW stream (the lines on standard error say why)");
        this.frameIndex = frameIndex;
    }

    /**
     * The frame that failed.
     *
     * @return its index in the stream, from 0: the number of frames decoded before it
     */
    public long frameIndex() {
        return frameIndex;
    }
}
