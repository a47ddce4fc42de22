package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Decodes a stream's frames so that a glitch costs one frame: a failed frame is sent once more, and
 * when it fails again its speech is silence. A device that is unplugged is waited for, up to the
 * decoder's reconnect time-out, and the frame that failed is sent again once it is back. A device
 * still attached that decodes none of {@link Usb3kDecoder#FRAMES_WITHOUT_SPEECH_BEFORE_RESET}
 * frames is reset and prepared again (at most once a run, and as {@link Usb3kDecoder#reprepare}
 * allows). Gives up only when the device stays gone past the reconnect time-out or decodes nothing
 * for {@link Usb3kDecoder#FRAMES_WITHOUT_SPEECH_WHEN_GONE} frames. Keeps the stream's position and
 * the current run of frames without speech across calls. Logs the lines of a failed frame with
 * those of its second attempt: as a failure when its speech is lost, as passed when the second
 * attempt decoded it.
 */
final class ConcealingDecoder implements ChunkDecoder {
    /** How often a stream whose device is gone looks for it again. */
    static final Duration RECONNECT_POLL = Duration.ofMillis(100);

    /**
     * How often a stream whose device came back held by another decoder or the bridge tries it
     * again: each try writes the line that says who holds it.
     */
    static final Duration IN_USE_POLL = Duration.ofSeconds(1);

    private final Usb3kDecoder decoder;
    private final FrameConcealedListener listener;
    /** Index in the stream of the next frame to decode. */
    private long nextFrame;
    /** Frames concealed in a row, up to nextFrame. */
    private int framesWithoutSpeech;
    /** Whether the device was reset during that run. */
    private boolean resetInRun;

    ConcealingDecoder(Usb3kDecoder decoder, FrameConcealedListener listener) {
        this.decoder = decoder;
        this.listener = listener;
    }

    /** What a call delivered: speech for {@code frames} frames, then, when not null, a failure. */
    record Outcome(int frames, IOException failure) {}

    @Override
    public Outcome decode(byte[] vcw, int frames, byte[] pcm) {
        int done = 0;
        while (done < frames) {
            if (Thread.currentThread().isInterrupted()) {
                return new Outcome(done, interrupted(done));
            }
            int count = Math.min(Usb3kDecoder.FRAMES_PER_LIBRARY_CALL, frames - done);
            Usb3kDecoder.Attempt attempt = decodeAt(vcw, done, count, pcm);
            done += attempt.decoded();
            nextFrame += attempt.decoded();
            if (attempt.decoded() > 0) {
                framesWithoutSpeech = 0;
                resetInRun = false;
            }
            if (attempt.decoded() == count) {
                attempt.result().log(LibraryLog.PASSED);
                continue;
            }
            Recovery recovery =
                    away(attempt.result()) && waits()
                            ? awaitDevice(vcw, done, pcm, attempt.result())
                            : recover(vcw, done, pcm, attempt.result());
            if (recovery.awayAgain() != null) {
                recovery = awaitDevice(vcw, done, pcm, recovery.awayAgain());
            }
            if (recovery.delivered()) {
                done++;
                nextFrame++;
            }
            if (recovery.failure() != null) {
                return new Outcome(done, recovery.failure());
            }
        }
        return new Outcome(done, null);
    }

    private Usb3kDecoder.Attempt decodeAt(byte[] vcw, int frame, int count, byte[] pcm) {
        return decoder.decodeOnce(
                vcw,
                frame * Usb3kDecoder.FRAME_BYTES,
                count,
                pcm,
                frame * Usb3kDecoder.SPEECH_BYTES);
    }

    /**
     * What became of a failed frame: whether its block (speech or silence) is delivered, and the
     * failure that ends the stream, if any; or, in awayAgain, that the device left while the frame
     * was sent once more, and the stream waits for it.
     */
    private record Recovery(boolean delivered, IOException failure, NativeResult awayAgain) {
        Recovery(boolean delivered, IOException failure) {
            this(delivered, failure, null);
        }
    }

    /**
     * Whether a failure puts the device out of this decoder's reach: unplugged, or taken by another
     * decoder or the bridge while it was away.
     */
    private static boolean away(NativeResult result) {
        return result.failure() == Usb3kNative.DEVICE_GONE
                || result.failure() == Usb3kNative.IN_USE;
    }

    private boolean waits() {
        return !decoder.reconnectTimeout().isZero();
    }

    /**
     * The frame at {@code frame} failed once: sends it again, or conceals it. A frame whose device
     * is out of reach is neither: the stream waits for the device when it may, or ends before it.
     */
    private Recovery recover(byte[] vcw, int frame, byte[] pcm, NativeResult first) {
        List<String> lines = new ArrayList<>(first.lines());
        NativeResult last = first;
        if (!away(first)) {
            Usb3kDecoder.Attempt again = decodeAt(vcw, frame, 1, pcm);
            if (again.decoded() == 1) {
                first.log(LibraryLog.PASSED);
                again.result().log(LibraryLog.PASSED);
                framesWithoutSpeech = 0;
                resetInRun = false;
                return new Recovery(true, null);
            }
            last = again.result();
            lines.addAll(last.lines());
            if (away(last) && waits()) {
                first.log(LibraryLog.FAILED);
                return new Recovery(false, null, last);
            }
        }
        first.log(LibraryLog.FAILED);
        if (last != first) {
            last.log(LibraryLog.FAILED);
        }
        if (away(last)) {
            return new Recovery(
                    false,
                    new FrameNotDecodedException(
                            nextFrame,
                            last.reason(),
                            last.message()
                                    + ": frame "
                                    + (nextFrame + 1)
                                    + " of the VCW stream not decoded",
                            lines,
                            last.fix()));
        }
        int from = frame * Usb3kDecoder.SPEECH_BYTES;
        Arrays.fill(pcm, from, from + Usb3kDecoder.SPEECH_BYTES, (byte) 0);
        decoder.countConcealed();
        framesWithoutSpeech++;
        if (listener != null) {
            listener.frameConcealed(nextFrame, List.copyOf(lines));
        }
        if (framesWithoutSpeech >= Usb3kDecoder.FRAMES_WITHOUT_SPEECH_BEFORE_RESET
                && !resetInRun) {
            NativeResult reset = decoder.reprepare(framesWithoutSpeech);
            if (reset != null) {
                resetInRun = true;
                boolean prepared = reset.failure() == Usb3kNative.NONE;
                reset.log(prepared ? LibraryLog.PASSED : LibraryLog.FAILED);
            }
        }
        if (framesWithoutSpeech >= Usb3kDecoder.FRAMES_WITHOUT_SPEECH_WHEN_GONE) {
            // Each failed frame found the device still attached: it answers nothing usable.
            return new Recovery(true, new FrameNotDecodedException(
                    nextFrame,
                    Usb3kException.Reason.NOT_RESPONDING,
                    "USB-3000 "
                            + decoder.serialNumber()
                            + " decoded none of frames "
                            + (nextFrame + 2 - framesWithoutSpeech)
                            + " to "
                            + (nextFrame + 1)
                            + " of the VCW stream"
                            + (resetInRun ? ", not even after a reset" : "")
                            + (last.cause().isEmpty() ? "" : ": " + last.cause()),
                    lines,
                    last.fix()));
        }
        return new Recovery(true, null);
    }

    /**
     * The frame at {@code frame} failed because the device is out of reach: sends it again every
     * {@link #RECONNECT_POLL} once D2XX lists the device (the library reopens it), every {@link
     * #IN_USE_POLL} while another decoder or the bridge holds it, until it is decoded, the
     * reconnect time-out has passed or the device is back but fails the frame. A device that
     * leaves again while that frame is sent once more is waited for anew.
     */
    private Recovery awaitDevice(byte[] vcw, int frame, byte[] pcm, NativeResult first) {
        first.log(LibraryLog.FAILED);
        String serial = decoder.serialNumber();
        if (listener != null) {
            listener.deviceAway(serial, nextFrame);
        }
        Duration timeout = decoder.reconnectTimeout();
        long deadline = System.nanoTime() + timeout.toNanos();
        NativeResult last = first;
        while (System.nanoTime() - deadline < 0) {
            try {
                boolean held = last.failure() == Usb3kNative.IN_USE;
                Thread.sleep((held ? IN_USE_POLL : RECONNECT_POLL).toMillis());
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return new Recovery(false, interrupted(frame));
            }
            if (!listed(serial)) {
                // A look at D2XX's list opens nothing and writes no line: the frame is sent again
                // only once the device is back, so the wait is not a line every poll.
                continue;
            }
            Usb3kDecoder.Attempt again = decodeAt(vcw, frame, 1, pcm);
            last = again.result();
            if (again.decoded() == 1) {
                last.log(LibraryLog.PASSED);
                framesWithoutSpeech = 0;
                if (listener != null) {
                    listener.deviceBack(serial, nextFrame);
                }
                return new Recovery(true, null);
            }
            if (away(last) || last.failure() == Usb3kNative.NOT_READY) {
                continue;
            }
            if (listener != null) {
                listener.deviceBack(serial, nextFrame);
            }
            Recovery recovery = recover(vcw, frame, pcm, last);
            if (recovery.awayAgain() == null) {
                return recovery;
            }
            first = recovery.awayAgain();
            first.log(LibraryLog.FAILED);
            last = first;
            if (listener != null) {
                listener.deviceAway(serial, nextFrame);
            }
            deadline = System.nanoTime() + timeout.toNanos();
        }
        last.log(LibraryLog.FAILED);
        List<String> lines = new ArrayList<>(first.lines());
        if (last != first) {
            lines.addAll(last.lines());
        }
        String frameText = ": frame " + (nextFrame + 1) + " of the VCW stream not decoded";
        if (last.failure() == Usb3kNative.IN_USE) {
            return new Recovery(false, new FrameNotDecodedException(nextFrame,
                    Usb3kException.Reason.IN_USE,
                    last.message() + " since it came back (waited "
                            + Usb3kDecoder.describe(timeout) + ")" + frameText,
                    lines, last.fix()));
        }
        return new Recovery(
                false,
                new FrameNotDecodedException(
                        nextFrame,
                        Usb3kException.Reason.DEVICE_GONE,
                        "USB-3000 "
                                + serial
                                + " was not attached again within "
                                + Usb3kDecoder.describe(timeout)
                                + " (check its cable and its USB hub)"
                                + frameText,
                        lines,
                        first.fix()));
    }

    /** Whether D2XX lists a USB-3000 with this serial number; true when the list cannot be read. */
    private static boolean listed(String serial) {
        byte[][] texts = Usb3kNative.attached();
        if (texts == null) {
            return true;
        }
        for (int i = 0; i + 1 < texts.length; i += 2) {
            if (NativeResult.text(texts[i]).equals(serial)) {
                return true;
            }
        }
        return false;
    }

    private InterruptedIOException interrupted(int done) {
        return interruptedAfter(nextFrame, done);
    }

    /** A stream interrupted after {@code frames} frames, {@code done} of them delivered now. */
    static InterruptedIOException interruptedAfter(long frames, int done) {
        InterruptedIOException interrupted =
                new InterruptedIOException(
                        "interrupted after " + frames + " frames of the VCW stream");
        interrupted.bytesTransferred = done * Usb3kDecoder.SPEECH_BYTES;
        return interrupted;
    }
}
