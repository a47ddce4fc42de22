package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.util.List;
import java.util.concurrent.locks.ReentrantLock;

/**
 * What a decoder from {@link Usb3kDecoder#connect} does in place of the library: its calls go to
 * the device that its usb3k-server stream holds, and come back as a local decoder's would, with the
 * same counts, concealment, listener calls and reasons. The server sends a failed frame once more
 * and conceals it when it fails again, as a local stream does; {@link #decode} counts up to the
 * first frame the server concealed.
 */
final class RemoteDecoding {
    private static final System.Logger LOGGER = System.getLogger(LibraryLog.LOGGER_NAME);

    /** Close codes of usb3k-server's streams. */
    static final int CLOSE_DEVICE_GONE = 4001;

    static final int CLOSE_NOT_RESPONDING = 4002;

    /** The close of a draining server. */
    static final int CLOSE_GOING_AWAY = 1001;

    /** The close of a connection lost without a close message. */
    static final int CLOSE_ABNORMAL = 1006;

    private final RemoteStream stream;
    /** Calls take turns on the stream, a whole call at a time; fair, as a local decoder's are. */
    private final ReentrantLock turns = new ReentrantLock(true);

    private volatile boolean closed;

    RemoteDecoding(RemoteStream stream) {
        this.stream = stream;
    }

    String serialNumber() {
        return stream.serialNumber();
    }

    /** As {@link Usb3kDecoder#decode(byte[], int, int, byte[], int)}, over the stream. */
    int decode(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
        turns.lock();
        try {
            checkOpen();
            long first = stream.framesSent();
            long[] failed = {-1};
            List<?>[] why = {List.of()};
            RemoteStream.Events events =
                    new RemoteStream.Events() {
                        @Override
                        public void concealed(long frame, List<String> lines) {
                            if (failed[0] < 0 && frame >= first) {
                                failed[0] = frame - first;
                                why[0] = lines;
                            }
                        }

                        @Override
                        public void away(String serialNumber, long frame) {}

                        @Override
                        public void back(String serialNumber, long frame) {}
                    };
            RemoteStream.Exchange done =
                    stream.exchange(vcw, vcwOffset, frames, pcm, pcmOffset, events,
                            () -> failed[0] >= 0);
            int decoded = failed[0] >= 0 ? (int) Math.min(done.frames(), failed[0])
                    : done.frames();
            if (failed[0] >= 0) {
                @SuppressWarnings("unchecked")
                List<String> lines = (List<String>) why[0];
                LibraryLog.log(LibraryLog.FAILED, lines);
            }
            if (done.ended() != null && !closed) {
                LOGGER.log(LibraryLog.FAILED, failure(done.ended(), first + decoded).toString());
            }
            if (closed && decoded < frames && !done.interrupted()) {
                throw new IllegalStateException("the decoder is closed");
            }
            java.util.Arrays.fill(
                    pcm,
                    pcmOffset + decoded * Usb3kDecoder.SPEECH_BYTES,
                    pcmOffset + frames * Usb3kDecoder.SPEECH_BYTES,
                    (byte) 0);
            return decoded;
        } finally {
            turns.unlock();
        }
    }

    /** The chunks of one stream of {@link Usb3kDecoder#audioStream}. */
    ChunkDecoder streamDecoder(Usb3kDecoder decoder, FrameConcealedListener listener) {
        turns.lock();
        try {
            return new StreamChunks(decoder, listener, stream.framesSent());
        } finally {
            turns.unlock();
        }
    }

    private final class StreamChunks implements ChunkDecoder, RemoteStream.Events {
        private final Usb3kDecoder decoder;
        private final FrameConcealedListener listener;
        /** The stream's first frame, in the server stream's count. */
        private final long base;
        /** Frames of this stream whose speech has been delivered. */
        private long nextFrame;

        StreamChunks(Usb3kDecoder decoder, FrameConcealedListener listener, long base) {
            this.decoder = decoder;
            this.listener = listener;
            this.base = base;
        }

        @Override
        public ConcealingDecoder.Outcome decode(byte[] vcw, int frames, byte[] pcm) {
            turns.lock();
            try {
                checkOpen();
                if (Thread.currentThread().isInterrupted()) {
                    return new ConcealingDecoder.Outcome(0, interrupted(0));
                }
                RemoteStream.Exchange done =
                        stream.exchange(vcw, 0, frames, pcm, 0, this, () -> false);
                nextFrame += done.frames();
                IOException failure = null;
                if (done.interrupted()) {
                    failure = interrupted(done.frames());
                } else if (done.ended() != null) {
                    checkOpen();
                    failure = failure(done.ended(), nextFrame);
                }
                return new ConcealingDecoder.Outcome(done.frames(), failure);
            } finally {
                turns.unlock();
            }
        }

        @Override
        public void concealed(long frame, List<String> lines) {
            LibraryLog.log(LibraryLog.FAILED, lines);
            decoder.countConcealed();
            if (listener != null && frame >= base) {
                listener.frameConcealed(frame - base, LibraryLog.withoutTrace(lines));
            }
        }

        @Override
        public void away(String serialNumber, long frame) {
            if (listener != null && frame >= base) {
                listener.deviceAway(serialNumber, frame - base);
            }
        }

        @Override
        public void back(String serialNumber, long frame) {
            if (listener != null && frame >= base) {
                listener.deviceBack(serialNumber, frame - base);
            }
        }

        private InterruptedIOException interrupted(int done) {
            InterruptedIOException interrupted =
                    new InterruptedIOException(
                            "interrupted after " + nextFrame + " frames of the VCW stream");
            interrupted.bytesTransferred = done * Usb3kDecoder.SPEECH_BYTES;
            return interrupted;
        }
    }

    /** The exception for a stream that ended before frame {@code frame}, as a local one's. */
    FrameNotDecodedException failure(RemoteStream.Ended ended, long frame) {
        String notDecoded = ": frame " + (frame + 1) + " of the VCW stream not decoded";
        Usb3kException.Reason reason;
        String message;
        String cause = "";
        String fix;
        if (ended.failure() == null && ended.code() == CLOSE_DEVICE_GONE) {
            reason = Usb3kException.Reason.DEVICE_GONE;
            message = "USB-3000 " + serialNumber() + " of " + stream.server() + ": "
                    + ended.reason();
            fix = "check the USB-3000's cable and its USB hub at the server";
        } else if (ended.failure() == null && ended.code() == CLOSE_NOT_RESPONDING) {
            reason = Usb3kException.Reason.NOT_RESPONDING;
            message = "USB-3000 " + serialNumber() + " of " + stream.server() + ": "
                    + ended.reason();
            fix = "unplug the USB-3000 at the server and plug it in again";
        } else if (ended.failure() == null && ended.code() == CLOSE_GOING_AWAY) {
            reason = Usb3kException.Reason.SERVER_DRAINING;
            message = stream.server() + " is draining and ended the stream";
            cause = RemoteServer.likelyCause(reason);
            fix = RemoteServer.fix(reason);
        } else if (ended.failure() != null || ended.code() == CLOSE_ABNORMAL) {
            reason = Usb3kException.Reason.SERVER_UNREACHABLE;
            message = "the connection to " + stream.server() + " was lost"
                    + (ended.failure() != null && ended.failure().getMessage() != null
                            ? " (" + ended.failure().getMessage() + ")" : "");
            cause = "usb3k-server stopped, or the network between failed";
            fix = RemoteServer.fix(reason);
        } else {
            reason = Usb3kException.Reason.OTHER;
            message = stream.server() + " ended the stream: " + ended.code() + " "
                    + ended.reason();
            fix = "";
        }
        FrameNotDecodedException failure =
                new FrameNotDecodedException(
                        frame, reason, message + notDecoded, List.of(), cause, fix);
        if (ended.failure() != null) {
            failure.initCause(ended.failure());
        }
        return failure;
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the decoder is closed");
        }
    }

    /** Ends the stream; a call waiting for speech ends at once. */
    void close() {
        closed = true;
        stream.close();
    }
}
