package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
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

    /**
     * Fail-overs a call may make, per server: a server that fails again after that ends the call.
     */
    static final int FAILOVERS_PER_SERVER = 2;

    /** The servers to fail over to, in the order given; one for a decoder of one server. */
    private final List<RemoteServer> servers;

    private volatile RemoteStream stream;
    /** Calls take turns on the stream, a whole call at a time; fair, as a local decoder's are. */
    private final ReentrantLock turns = new ReentrantLock(true);

    private volatile boolean closed;

    RemoteDecoding(List<RemoteServer> servers, RemoteStream stream) {
        this.servers = List.copyOf(servers);
        this.stream = stream;
    }

    /**
     * A stream on the least busy of these servers (the most free devices; in their order when
     * equal), on its first free usable device; when none gives one, the exception holds each
     * server's message, which names it, and its reason. {@code last} goes last.
     */
    static RemoteStream openLeastBusy(List<RemoteServer> servers, RemoteServer last)
            throws Usb3kException {
        record Candidate(RemoteServer server, String serial, long free) {}
        List<Candidate> candidates = new ArrayList<>();
        Map<RemoteServer, Usb3kException> failures = new LinkedHashMap<>();
        for (RemoteServer server : servers) {
            try {
                List<RemoteServer.RemoteDevice> devices = server.devices();
                String serial = Usb3kDecoder.chooseDevice(server, devices);
                long free = devices.stream()
                        .filter(d -> d.device().usable() && d.state().equals("free"))
                        .count();
                candidates.add(new Candidate(server, serial, server == last ? -1 : free));
            } catch (Usb3kException e) {
                failures.put(server, e);
            }
        }
        candidates.sort(Comparator.comparingLong(Candidate::free).reversed());
        for (Candidate candidate : candidates) {
            try {
                return candidate.server().openStream(candidate.serial());
            } catch (Usb3kException e) {
                failures.put(candidate.server(), e);
            }
        }
        if (failures.size() == 1) {
            throw failures.values().iterator().next();
        }
        StringBuilder message = new StringBuilder("no server gave a USB-3000:");
        Usb3kException.Reason reason = null;
        for (Map.Entry<RemoteServer, Usb3kException> failure : failures.entrySet()) {
            message.append(' ').append(failure.getValue().getMessage()).append(';');
            Usb3kException.Reason each = failure.getValue().reason();
            reason = reason == null || reason == each ? each
                    : Usb3kException.Reason.SERVER_UNREACHABLE;
        }
        message.setLength(message.length() - 1);
        return throwAll(reason, message.toString());
    }

    private static RemoteStream throwAll(Usb3kException.Reason reason, String message)
            throws Usb3kException {
        throw new Usb3kException(reason, message, List.of(), RemoteServer.likelyCause(reason),
                RemoteServer.fix(reason));
    }

    /**
     * Sends the frames and takes their speech as {@link RemoteStream#exchange} does; when the
     * stream's server goes away (the connection lost, draining, its device gone past its
     * time-out) and there are other servers, goes on on the least busy of them from the first
     * frame whose speech did not arrive, so that every frame's speech is taken once, in order.
     */
    private RemoteStream.Exchange exchange(
            byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset,
            RemoteStream.Events events, RemoteStream.StopAt stopAt) {
        int done = 0;
        int failovers = 0;
        while (true) {
            int from = done;
            RemoteStream.Exchange part =
                    stream.exchange(vcw, vcwOffset + from * Usb3kDecoder.FRAME_BYTES,
                            frames - from, pcm, pcmOffset + from * Usb3kDecoder.SPEECH_BYTES,
                            shifted(events, from), stopAt);
            done += part.frames();
            RemoteStream.Ended ended = part.ended();
            if (ended == null || part.interrupted() || closed || servers.size() < 2
                    || !failsOver(ended)) {
                return new RemoteStream.Exchange(done, ended, part.interrupted());
            }
            if (++failovers > FAILOVERS_PER_SERVER * servers.size()) {
                return new RemoteStream.Exchange(done, ended, false);
            }
            RemoteStream old = stream;
            LOGGER.log(LibraryLog.PASSED, failure(ended, done).getMessage()
                    + "; going on on another server");
            try {
                stream = openLeastBusy(servers, old.server());
            } catch (Usb3kException e) {
                return new RemoteStream.Exchange(done, new RemoteStream.Ended(-1, "", e), false);
            }
            old.close();
        }
    }

    private static boolean failsOver(RemoteStream.Ended ended) {
        return ended.failure() != null
                || ended.code() == CLOSE_ABNORMAL
                || ended.code() == CLOSE_GOING_AWAY
                || ended.code() == CLOSE_DEVICE_GONE;
    }

    /** The events of a part of a call that starts at frame {@code from} of the call. */
    private static RemoteStream.Events shifted(RemoteStream.Events events, int from) {
        return new RemoteStream.Events() {
            @Override
            public void concealed(long frame, List<String> lines) {
                events.concealed(frame + from, lines);
            }

            @Override
            public void away(String serialNumber, long frame) {
                events.away(serialNumber, frame + from);
            }

            @Override
            public void back(String serialNumber, long frame) {
                events.back(serialNumber, frame + from);
            }
        };
    }

    /** The serial number of the device the decoder holds now. */
    String serialNumber() {
        return stream.serialNumber();
    }

    /** As {@link Usb3kDecoder#decode(byte[], int, int, byte[], int)}, over the stream. */
    int decode(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
        turns.lock();
        try {
            checkOpen();
            long[] failed = {-1};
            List<?>[] why = {List.of()};
            RemoteStream.Events events =
                    new RemoteStream.Events() {
                        @Override
                        public void concealed(long frame, List<String> lines) {
                            if (failed[0] < 0) {
                                failed[0] = frame;
                                why[0] = lines;
                            }
                        }

                        @Override
                        public void away(String serialNumber, long frame) {}

                        @Override
                        public void back(String serialNumber, long frame) {}
                    };
            RemoteStream.Exchange done =
                    exchange(vcw, vcwOffset, frames, pcm, pcmOffset, events,
                            () -> failed[0] >= 0);
            int decoded = failed[0] >= 0 ? (int) Math.min(done.frames(), failed[0])
                    : done.frames();
            if (failed[0] >= 0) {
                @SuppressWarnings("unchecked")
                List<String> lines = (List<String>) why[0];
                LibraryLog.log(LibraryLog.FAILED, lines);
            }
            if (done.ended() != null && !closed) {
                LOGGER.log(LibraryLog.FAILED, failure(done.ended(), decoded).toString());
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
            return new StreamChunks(decoder, listener);
        } finally {
            turns.unlock();
        }
    }

    private final class StreamChunks implements ChunkDecoder, RemoteStream.Events {
        private final Usb3kDecoder decoder;
        private final FrameConcealedListener listener;
        /** Frames of this stream whose speech has been delivered. */
        private long nextFrame;
        /** The frames told concealed, so that one resent after a fail-over is told once. */
        private long toldUpTo = -1;

        StreamChunks(Usb3kDecoder decoder, FrameConcealedListener listener) {
            this.decoder = decoder;
            this.listener = listener;
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
                        exchange(vcw, 0, frames, pcm, 0, this, () -> false);
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
            if (nextFrame + frame <= toldUpTo) {
                return;
            }
            toldUpTo = nextFrame + frame;
            LibraryLog.log(LibraryLog.FAILED, lines);
            decoder.countConcealed();
            if (listener != null) {
                listener.frameConcealed(nextFrame + frame, LibraryLog.withoutTrace(lines));
            }
        }

        @Override
        public void away(String serialNumber, long frame) {
            if (listener != null) {
                listener.deviceAway(serialNumber, nextFrame + frame);
            }
        }

        @Override
        public void back(String serialNumber, long frame) {
            if (listener != null) {
                listener.deviceBack(serialNumber, nextFrame + frame);
            }
        }

        private InterruptedIOException interrupted(int done) {
            return ConcealingDecoder.interruptedAfter(nextFrame, done);
        }
    }

    /** The exception for a stream that ended before frame {@code frame}, as a local one's. */
    FrameNotDecodedException failure(RemoteStream.Ended ended, long frame) {
        String notDecoded = ": frame " + (frame + 1) + " of the VCW stream not decoded";
        Usb3kException.Reason reason;
        String message;
        String cause = "";
        String fix;
        if (ended.failure() instanceof Usb3kException servers) {
            reason = servers.reason();
            message = servers.getMessage();
            cause = servers.likelyCause();
            fix = servers.fix();
        } else if (ended.failure() == null && ended.code() == CLOSE_DEVICE_GONE) {
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
