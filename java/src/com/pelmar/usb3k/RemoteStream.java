package com.pelmar.usb3k;

import java.net.http.WebSocket;
import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CompletionException;
import java.util.concurrent.CompletionStage;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * A WebSocket stream of usb3k-server holding one of its devices: sends frames in messages, up to
 * {@link #MESSAGES_IN_FLIGHT} ahead of their speech so that the device never waits for the network,
 * and takes the speech and events back in order. Its frames are counted over the stream's life, as
 * the server counts them in its events. One call at a time ({@link Usb3kDecoder} takes turns).
 */
final class RemoteStream implements WebSocket.Listener {
    /** Messages sent ahead of their speech: usb3k-server's default {@code max-in-flight}. */
    static final int MESSAGES_IN_FLIGHT = 4;

    /** Frames a message holds at most: 1 s of speech, so that several are in flight at once. */
    static final int FRAMES_PER_MESSAGE = 50;

    /** How long close waits for the server's answer to its close before cutting the connection. */
    static final long CLOSE_WAIT_MILLIS = 1000;

    /** What arrived: speech, an event, or the end of the stream. */
    sealed interface Received permits Speech, Event, Ended {}

    record Speech(byte[] pcm) implements Received {}

    record Event(String json) implements Received {}

    /** The stream ended: the server's close code and reason, or a failure of the connection. */
    record Ended(int code, String reason, Throwable failure) implements Received {}

    /** What the events of a call tell, by frame index from the call's first frame. */
    interface Events {
        void concealed(long frame, List<String> lines);

        void away(String serialNumber, long frame);

        void back(String serialNumber, long frame);
    }

    /** What a call did: speech for {@code frames} frames from its first, then how it ended early. */
    record Exchange(int frames, Ended ended, boolean interrupted) {}

    private final RemoteServer server;
    private final String serialNumber;
    private final BlockingQueue<Received> received = new LinkedBlockingQueue<>();
    private WebSocket socket;
    private final ByteArrayBuilder binary = new ByteArrayBuilder();
    private final StringBuilder text = new StringBuilder();

    /** Frames sent over the stream's life. */
    private long framesSent;

    /** Answers of an interrupted call still to come: skipped by the next call. */
    private int staleAnswers;

    /** Once the stream has ended, how. */
    private Ended ended;

    RemoteStream(RemoteServer server, String serialNumber) {
        this.server = server;
        this.serialNumber = serialNumber;
    }

    void attach(WebSocket socket) {
        this.socket = socket;
    }

    RemoteServer server() {
        return server;
    }

    String serialNumber() {
        return serialNumber;
    }

    /** Frames sent over the stream's life: the index the server gives the next one. */
    long framesSent() {
        return framesSent;
    }

    /**
     * Sends {@code frames} frames of vcw from vcwOffset and takes their speech into pcm from
     * pcmOffset, in order; stops sending when {@code stopAt} says a frame failed (then the speech
     * of what was sent still is taken). Ends early at the stream's end
     * or an interrupt (its status stays set).
     */
    Exchange exchange(
            byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset, Events events,
            StopAt stopAt) {
        if (ended != null) {
            return new Exchange(0, ended, false);
        }
        long first = framesSent;
        int sent = 0;
        int answered = 0;
        List<Integer> messages = new ArrayList<>();
        try {
            while (staleAnswers > 0) {
                Received next = received.take();
                if (next instanceof Speech) {
                    staleAnswers--;
                } else if (next instanceof Ended end) {
                    return new Exchange(0, end(end), false);
                }
            }
            boolean stopSending = false;
            while (answered < frames) {
                while (sent < frames && messages.size() < MESSAGES_IN_FLIGHT && !stopAt.stop()
                        && !stopSending) {
                    int count = Math.min(FRAMES_PER_MESSAGE, frames - sent);
                    int from = vcwOffset + sent * Usb3kDecoder.FRAME_BYTES;
                    try {
                        socket.sendBinary(
                                        ByteBuffer.wrap(
                                                vcw, from, count * Usb3kDecoder.FRAME_BYTES),
                                        true)
                                .join();
                    } catch (CompletionException | IllegalStateException e) {
                        // The connection is gone: what arrived before is still taken, in order.
                        received.add(new Ended(-1, "", e.getCause() != null ? e.getCause() : e));
                        stopSending = true;
                        break;
                    }
                    messages.add(count);
                    sent += count;
                    framesSent += count;
                }
                if (messages.isEmpty() && !stopSending) {
                    break;
                }
                Received next = received.take();
                if (next instanceof Event event) {
                    dispatch(event.json(), first, events);
                } else if (next instanceof Speech speech && !messages.isEmpty()) {
                    int expected = messages.remove(0);
                    int count = Math.min(expected, speech.pcm().length / Usb3kDecoder.SPEECH_BYTES);
                    System.arraycopy(
                            speech.pcm(),
                            0,
                            pcm,
                            pcmOffset + answered * Usb3kDecoder.SPEECH_BYTES,
                            count * Usb3kDecoder.SPEECH_BYTES);
                    answered += count;
                    if (count < expected) {
                        // The last speech before the stream ends: its close follows.
                        messages.clear();
                        Received last = received.take();
                        while (last instanceof Event event) {
                            dispatch(event.json(), first, events);
                            last = received.take();
                        }
                        return new Exchange(answered, end((Ended) last), false);
                    }
                } else if (next instanceof Ended end) {
                    return new Exchange(answered, end(end), false);
                }
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            staleAnswers += messages.size();
            return new Exchange(answered, null, true);
        }
        return new Exchange(answered, null, false);
    }

    /** Says, between messages, whether a call should send no more. */
    @FunctionalInterface
    interface StopAt {
        boolean stop();
    }

    private Ended end(Ended end) {
        ended = end;
        received.add(end);
        return end;
    }

    private void dispatch(String json, long first, Events events) {
        Map<?, ?> event;
        try {
            event = (Map<?, ?>) JsonText.parse(json);
        } catch (ClassCastException | IllegalArgumentException e) {
            return;
        }
        Object frame = event.get("frame");
        long index = frame instanceof Double number ? number.longValue() - first : -1;
        if (index < 0) {
            return; // an event of an interrupted call's frames
        }
        switch (String.valueOf(event.get("event"))) {
            case "concealed" -> {
                List<String> lines = new ArrayList<>();
                if (event.get("lines") instanceof List<?> list) {
                    list.forEach(line -> lines.add(String.valueOf(line)));
                }
                events.concealed(index, List.copyOf(lines));
            }
            case "away" -> events.away(serialNumber, index);
            case "back" -> events.back(serialNumber, index);
            default -> {}
        }
    }

    /**
     * Ends the stream: a close the server answers, or, past {@link #CLOSE_WAIT_MILLIS}, the
     * connection cut; a call waiting for speech ends at once.
     */
    void close() {
        received.add(new Ended(WebSocket.NORMAL_CLOSURE, "closed by the client", null));
        if (socket == null) {
            return;
        }
        try {
            socket.sendClose(WebSocket.NORMAL_CLOSURE, "")
                    .toCompletableFuture()
                    .get(CLOSE_WAIT_MILLIS, TimeUnit.MILLISECONDS);
        } catch (Exception e) {
            // The connection is cut below all the same.
        }
        socket.abort();
    }

    @Override
    public void onOpen(WebSocket webSocket) {
        webSocket.request(1);
    }

    @Override
    public CompletionStage<?> onBinary(WebSocket webSocket, ByteBuffer data, boolean last) {
        binary.append(data);
        if (last) {
            received.add(new Speech(binary.take()));
        }
        webSocket.request(1);
        return null;
    }

    @Override
    public CompletionStage<?> onText(WebSocket webSocket, CharSequence data, boolean last) {
        text.append(data);
        if (last) {
            received.add(new Event(text.toString()));
            text.setLength(0);
        }
        webSocket.request(1);
        return null;
    }

    @Override
    public CompletionStage<?> onClose(WebSocket webSocket, int statusCode, String reason) {
        received.add(new Ended(statusCode, reason, null));
        return null;
    }

    @Override
    public void onError(WebSocket webSocket, Throwable error) {
        received.add(new Ended(-1, "", error));
    }

    /** The parts of a binary message, joined once its last part arrives. */
    private static final class ByteArrayBuilder {
        private byte[] bytes = new byte[0];
        private int size;

        void append(ByteBuffer data) {
            int count = data.remaining();
            if (size + count > bytes.length) {
                bytes = java.util.Arrays.copyOf(bytes, Math.max(size + count, bytes.length * 2));
            }
            data.get(bytes, size, count);
            size += count;
        }

        byte[] take() {
            byte[] whole = java.util.Arrays.copyOf(bytes, size);
            size = 0;
            return whole;
        }
    }
}
