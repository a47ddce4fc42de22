package com.pelmar.usb3k;

import com.pelmar.base.audio.codec.USB3KBridge;
import java.io.InputStream;
import java.util.Arrays;
import java.util.Objects;
import java.util.concurrent.locks.Lock;
import java.util.concurrent.locks.ReentrantReadWriteLock;
import java.util.function.LongConsumer;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * Decodes VCW frames with the USB-3000 through {@link USB3KBridge}, and says how many frames each
 * call decoded.
 *
 * <pre>{@code
 * try (Usb3kDecoder decoder = Usb3kDecoder.open()) {          // Usb3kException: no device
 *     byte[] pcm = new byte[vcw.length / Usb3kDecoder.FRAME_BYTES * Usb3kDecoder.SPEECH_BYTES];
 *     int decoded = decoder.decode(vcw, 0, pcm, 0);
 *     // frames 0 .. decoded-1 are in pcm; the library's lines on standard error say why
 *     // frame `decoded` failed when fewer than all were decoded
 * }
 * }</pre>
 *
 * <p>Speech is {@link #AUDIO_FORMAT}: 8 kHz, 16-bit signed samples, mono, each low byte first,
 * 320 bytes a frame. {@link #audioStream} turns a stream of VCW frames into an {@link
 * AudioInputStream} for {@code javax.sound.sampled}, for example to write a WAV file with {@link
 * AudioSystem#write(AudioInputStream, javax.sound.sampled.AudioFileFormat.Type, java.io.File)}
 * (whose WAV writer counts in Java ints: at most 2 GB of speech, 6.7 million frames, 37 hours).
 *
 * <h2>How the count is found</h2>
 *
 * <p>{@link USB3KBridge#decode} always returns false. It writes the speech of the frames it decodes
 * as whole 320-byte blocks from the start of the output, and stops at the first frame the device
 * fails, leaving that frame's block and every later one as they were. So before each call this
 * class fills every block the call may write with random bytes drawn afresh for that call (from a
 * generator seeded by {@link java.security.SecureRandom}), and afterwards counts the blocks before
 * the first one that still holds them. A block the device did write would be taken for unwritten
 * only if its 2,560 bits of speech equalled the random bits drawn for it: a chance of 2^-2560.
 * And since the bits are new for every call and unknown until then, no input and no device can
 * arrange that, as a device or an emulator that happened to answer with a fixed filler pattern
 * would. The blocks of the frames not decoded are set to zero before the call returns.
 *
 * <h2>One device per process</h2>
 *
 * <p>The library keeps one device for the whole process, and every decoder uses it. The first
 * {@link #open()} prepares it ({@link USB3KBridge#initialize()}); later ones, while a decoder is
 * open, share it as it is; {@link #close()} of the last open decoder closes it ({@link
 * USB3KBridge#shutdown()}). Do not call {@link USB3KBridge} directly while a decoder is open.
 *
 * <h2>Threads</h2>
 *
 * <p>A decoder may be used by several threads at once. Each decode call holds the library's
 * process-wide lock for all its frames, so calls run one after another: a call's frames go to the
 * device together, never mixed with another call's, and the count it returns is its own.
 * Threads must decode into different arrays or into regions that do not overlap. {@link #open()}
 * and {@link #close()} wait for decode calls in progress; a decode after {@link #close()} throws
 * {@link IllegalStateException}. The streams from {@link #audioStream} are, like most streams, for
 * one thread at a time.
 */
public final class Usb3kDecoder implements AutoCloseable {
    /** Bytes in one VCW frame. */
    public static final int FRAME_BYTES = 7;

    /** Bytes of speech for one frame: {@link #SAMPLES_PER_FRAME} samples of two bytes. */
    public static final int SPEECH_BYTES = 320;

    /** Samples of speech for one frame: 20 ms at 8 kHz. */
    public static final int SAMPLES_PER_FRAME = 160;

    /** The speech: 8,000 samples a second, 16-bit signed, mono, each sample low byte first. */
    public static final AudioFormat AUDIO_FORMAT = new AudioFormat(8000f, 16, 1, true, false);

    /** Frames that {@link #audioStream(InputStream)} decodes at a time: 5 s of speech. */
    public static final int DEFAULT_FRAMES_PER_READ = 250;

    /** Decode calls share it; opening and closing take it alone. */
    private static final ReentrantReadWriteLock DEVICE = new ReentrantReadWriteLock();

    /** Decoders open now; guarded by DEVICE's write lock. */
    private static int openDecoders;

    /** Guarded by DEVICE: written with the write lock held, read with either lock. */
    private boolean closed;

    private Usb3kDecoder() {}

    /**
     * A decoder on the first attached USB-3000. Unless a decoder is open already, this looks for
     * the attached devices and prepares the first: reset, packet mode, rate table 34. When that
     * fails, no device is left open, and the next call looks for devices again.
     *
     * @return a decoder, to be closed when done
     * @throws Usb3kException when no device could be made ready; its message is {@link
     *     USB3KBridge#getInitError()}, and standard error has the library's lines
     * @throws UnsatisfiedLinkError when the JVM cannot load the library {@code usb3k}
     */
    public static Usb3kDecoder open() throws Usb3kException {
        Lock lock = DEVICE.writeLock();
        lock.lock();
        try {
            if (openDecoders == 0 && !USB3KBridge.initialize()) {
                Usb3kException failure = new Usb3kException(USB3KBridge.getInitError());
                // The library keeps its device list until shutdown: without it, the next open
                // would retry the same devices instead of looking again.
                USB3KBridge.shutdown();
                throw failure;
            }
            openDecoders++;
            return new Usb3kDecoder();
        } finally {
            lock.unlock();
        }
    }

    /**
     * Decodes every whole frame of {@code vcw} from {@code vcwOffset} to the end of the array (a
     * part frame at the end is ignored).
     *
     * @param vcw the frames, 7 bytes each
     * @param vcwOffset where the first frame starts
     * @param pcm where the speech goes, 320 bytes a frame
     * @param pcmOffset where the first frame's speech goes
     * @return how many frames were decoded, from the first: fewer than given when the device failed
     *     a frame (standard error says why), and then the blocks from that frame's on are zero
     * @throws IndexOutOfBoundsException when {@code vcwOffset} is outside {@code vcw} or {@code
     *     pcm} has no room for the speech at {@code pcmOffset}
     * @throws IllegalArgumentException when {@code vcw} and {@code pcm} are one array and the
     *     frames and the speech overlap in it
     * @throws IllegalStateException when the decoder is closed
     */
    public int decode(byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset) {
        Objects.checkFromToIndex(vcwOffset, vcw.length, vcw.length);
        return decode(vcw, vcwOffset, (vcw.length - vcwOffset) / FRAME_BYTES, pcm, pcmOffset);
    }

    /**
     * Decodes {@code frames} frames of {@code vcw} from {@code vcwOffset}.
     *
     * @param vcw the frames, 7 bytes each
     * @param vcwOffset where the first frame starts
     * @param frames how many frames to decode; 0 decodes nothing and sends nothing
     * @param pcm where the speech goes, 320 bytes a frame
     * @param pcmOffset where the first frame's speech goes
     * @return how many frames were decoded, from the first: fewer than {@code frames} when the
     *     device failed a frame (standard error says why), and then the blocks from that frame's on
     *     are zero
     * @throws IndexOutOfBoundsException when the frames do not fit in {@code vcw} or the speech
     *     does not fit in {@code pcm}
     * @throws IllegalArgumentException when {@code frames} is negative, or when {@code vcw} and
     *     {@code pcm} are one array and the frames and the speech overlap in it
     * @throws IllegalStateException when the decoder is closed
     */
    public int decode(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
        if (frames < 0) {
            throw new IllegalArgumentException("frames must not be negative: " + frames);
        }
        long vcwBytes = (long) frames * FRAME_BYTES;
        long speechBytes = (long) frames * SPEECH_BYTES;
        Objects.checkFromIndexSize(vcwOffset, vcwBytes, vcw.length);
        Objects.checkFromIndexSize(pcmOffset, speechBytes, pcm.length);
        if (vcw == pcm
                && vcwOffset < pcmOffset + speechBytes
                && pcmOffset < vcwOffset + vcwBytes) {
            throw new IllegalArgumentException("the frames and the speech overlap in one array");
        }
        Lock lock = DEVICE.readLock();
        lock.lock();
        try {
            if (closed) {
                throw new IllegalStateException("the decoder is closed");
            }
            if (frames == 0) {
                return 0;
            }
            // The library decodes to the end of the array: more frames than asked need a copy.
            boolean exact = (vcw.length - vcwOffset) / FRAME_BYTES == frames;
            byte[] input =
                    exact ? vcw : Arrays.copyOfRange(vcw, vcwOffset, vcwOffset + (int) vcwBytes);
            int inputOffset = exact ? vcwOffset : 0;

            UnguessableFill fill = new UnguessableFill();
            fill.write(pcm, pcmOffset, frames);
            USB3KBridge.decode(input, inputOffset, pcm, pcmOffset);
            int decoded = fill.firstUnwritten(pcm, pcmOffset, frames);
            int end = pcmOffset + (int) speechBytes;
            Arrays.fill(pcm, pcmOffset + decoded * SPEECH_BYTES, end, (byte) 0);
            return decoded;
        } finally {
            lock.unlock();
        }
    }

    /**
     * The speech of a stream of VCW frames of unknown length, decoded {@link
     * #DEFAULT_FRAMES_PER_READ} frames at a time as it is read. Its frame length is {@link
     * AudioSystem#NOT_SPECIFIED}: {@link AudioSystem#write} can write it to a {@link java.io.File}
     * but not to an {@link java.io.OutputStream}; {@link #audioStream(InputStream, long)} can do
     * both.
     *
     * @param vcw the frames, 7 bytes each, to its end; closed when the stream is closed
     * @return the speech in {@link #AUDIO_FORMAT}; its reads throw {@link FrameNotDecodedException}
     *     at a frame the device failed, and {@link java.io.EOFException} at a part frame at the end
     *     of the input, once the speech of the frames before has been read
     */
    public AudioInputStream audioStream(InputStream vcw) {
        return audioStream(vcw, AudioSystem.NOT_SPECIFIED, DEFAULT_FRAMES_PER_READ, null);
    }

    /**
     * The speech of {@code vcwBytes} bytes of VCW frames, decoded {@link #DEFAULT_FRAMES_PER_READ}
     * frames at a time as it is read, with its length known (for a file, its size).
     *
     * @param vcw the frames, 7 bytes each; closed when the stream is closed
     * @param vcwBytes how many bytes of frames to read from {@code vcw}: a multiple of 7
     * @return the speech in {@link #AUDIO_FORMAT}, {@code vcwBytes / 7 * 160} sample frames long;
     *     its reads throw {@link FrameNotDecodedException} at a frame the device failed, and {@link
     *     java.io.EOFException} when {@code vcw} ends early, once the speech of the frames before
     *     has been read
     * @throws IllegalArgumentException when {@code vcwBytes} is negative or no multiple of 7
     */
    public AudioInputStream audioStream(InputStream vcw, long vcwBytes) {
        if (vcwBytes < 0) {
            throw new IllegalArgumentException("VCW bytes must not be negative: " + vcwBytes);
        }
        return audioStream(vcw, vcwBytes, DEFAULT_FRAMES_PER_READ, null);
    }

    /**
     * The speech of a stream of VCW frames, decoded {@code framesPerRead} frames at a time as it is
     * read, reporting its progress.
     *
     * @param vcw the frames, 7 bytes each; closed when the stream is closed
     * @param vcwBytes how many bytes of frames to read from {@code vcw}, a multiple of 7, or {@link
     *     AudioSystem#NOT_SPECIFIED} to read to its end
     * @param framesPerRead how many frames one decode call takes: the stream holds their input and
     *     speech, 327 bytes a frame
     * @param progress told after each decode call how many frames the stream has decoded in all;
     *     null for none
     * @return the speech in {@link #AUDIO_FORMAT}, of known length when {@code vcwBytes} is given;
     *     its reads throw as those of {@link #audioStream(InputStream, long)} do
     * @throws IllegalArgumentException when {@code vcwBytes} is neither {@link
     *     AudioSystem#NOT_SPECIFIED} nor a multiple of 7 that is not negative, or {@code
     *     framesPerRead} is not positive or too large for one array of speech
     */
    public AudioInputStream audioStream(
            InputStream vcw, long vcwBytes, int framesPerRead, LongConsumer progress) {
        Objects.requireNonNull(vcw, "vcw");
        boolean known = vcwBytes != AudioSystem.NOT_SPECIFIED;
        if (known && (vcwBytes < 0 || vcwBytes % FRAME_BYTES != 0)) {
            throw new IllegalArgumentException(
                    "VCW bytes must be a whole number of 7-byte frames: " + vcwBytes);
        }
        if (framesPerRead < 1 || framesPerRead > Integer.MAX_VALUE / SPEECH_BYTES) {
            throw new IllegalArgumentException("frames per read out of range: " + framesPerRead);
        }
        long frames = known ? vcwBytes / FRAME_BYTES : -1;
        SpeechInputStream speech =
                new SpeechInputStream(this, vcw, frames, framesPerRead, progress);
        long length = known ? frames * SAMPLES_PER_FRAME : AudioSystem.NOT_SPECIFIED;
        return new AudioInputStream(speech, AUDIO_FORMAT, length);
    }

    /**
     * Closes the decoder; when it is the last one open, this closes the device ({@link
     * USB3KBridge#shutdown()}). Closing it again does nothing.
     */
    @Override
    public void close() {
        Lock lock = DEVICE.writeLock();
        lock.lock();
        try {
            if (closed) {
                return;
            }
            closed = true;
            if (--openDecoders == 0) {
                USB3KBridge.shutdown();
            }
        } finally {
            lock.unlock();
        }
    }
}
