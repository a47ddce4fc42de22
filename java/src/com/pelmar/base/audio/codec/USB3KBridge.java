package com.pelmar.base.audio.codec;

/**
 * Decodes VCW voice frames with a USB-3000 vocoder through the native library {@code usb3k}.
 *
 * <p>Call {@link #initialize()} once, then {@link #decode} as often as needed, then {@link
 * #shutdown()}. The library keeps one device list and one current device for the whole process;
 * every native method holds one process-wide lock while it runs, so calls from several threads are
 * served one at a time.
 */
public final class USB3KBridge {
    static {
        com.pelmar.usb3k.internal.NativeLibrary.load();
    }

    private USB3KBridge() {}

    /**
     * Selects the first attached USB-3000 and prepares it for decoding: reset, packet mode, rate
     * table 34. The device list is made on the first call and kept until {@link #shutdown()}, or
     * until its device is found unplugged: then this call makes it anew, and finds the device again
     * once it is plugged back in.
     *
     * @return true when the device is ready to decode; otherwise {@link #getInitError()} says why
     */
    public static native boolean initialize();

    /**
     * Why the last {@link #initialize()} failed.
     *
     * @return the message of the last failed {@link #initialize()}, or an empty string
     */
    public static native String getInitError();

    /**
     * Decodes the 7-byte VCW frames in {@code vcw} from {@code vcwOffset} to the end of the array
     * (a trailing part frame is ignored) and writes 320 bytes of speech per frame into {@code pcm}
     * from {@code pcmOffset}: 160 samples of 16 bits, each low byte first. Failures are written to
     * standard error; a refused call writes nothing into {@code pcm}.
     *
     * @param vcw the frames, 7 bytes each
     * @param vcwOffset where the first frame starts in {@code vcw}
     * @param pcm where the speech goes
     * @param pcmOffset where the first frame's speech starts in {@code pcm}
     * @return always false: the number of bytes written is 320 per frame decoded
     */
    public static native boolean decode(byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset);

    /**
     * Closes every device that was opened; the next {@link #initialize()} enumerates anew. With
     * nothing opened since the last shutdown, it touches no device.
     *
     * @return always true
     */
    public static native boolean shutdown();
}
