package com.pelmar.usb3k;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.ReentrantLock;
import java.util.function.LongConsumer;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.net.ssl.SSLContext;

/**
 * Decodes VCW frames on one USB-3000, which it holds until it is closed, and says exactly how many
 * frames each call decoded.
 *
 * <pre>{@code
 * for (Usb3kDevice device : Usb3kDecoder.devices()) { ... }   // every attached USB-3000
 * try (Usb3kDecoder decoder = Usb3kDecoder.open()) {          // or open("SERIAL")
 *     byte[] pcm = new byte[vcw.length / Usb3kDecoder.FRAME_BYTES * Usb3kDecoder.SPEECH_BYTES];
 *     int decoded = decoder.decode(vcw, 0, pcm, 0);            // stops at the first failed frame
 *     decoder.decodeFile(in, out);                             // a glitch costs one frame
 * }
 * }</pre>
 *
 * <p>{@link #connect(URI, String)} makes the same decoder on a USB-3000 of a usb3k-server, and
 * {@link #connect(List, String)} one that fails over between several servers: every method then
 * behaves as a local decoder's, with the network's reasons added ({@link
 * Usb3kException.Reason#UNAUTHORISED} and those after it).
 *
 * <p>Speech is {@link #AUDIO_FORMAT}: 8 kHz, 16-bit signed samples, mono, each low byte first, 320
 * bytes a frame.
 *
 * <h2>Devices</h2>
 *
 * <p>Each decoder holds its own device: decoders on different devices decode in parallel, and a
 * device serves one decoder at a time. The library keeps one registry of the devices open in the
 * process, which {@code USB3KBridge} shares: opening a device that a decoder or the bridge holds
 * fails with {@link Usb3kException.Reason#IN_USE}, and the bridge's {@code initialize()} leaves out
 * the devices that decoders hold. A decoder that is never closed holds its device until the process
 * ends.
 *
 * <h2>Unplugged devices</h2>
 *
 * <p>A decoder belongs to its device's serial number, not to one open of it: a decoder from {@link
 * #open()} stays with the device it opened first. When the device is unplugged, the decoder closes
 * what it had open and no longer holds the device, so another decoder may open it. While it is
 * away, {@link #decode} returns 0 at once, its lines saying {@code Usb3kDecoder::decode - USB-3000
 * SERIAL is not attached}. Once D2XX lists it again, the decoder's next call reopens it (trying
 * for up to 2 s while the system binds its driver) and prepares it as an open does, with nothing
 * to do for the caller; it finds the device {@link Usb3kException.Reason#IN_USE} when another
 * decoder took it meanwhile. Streams wait for the device up to {@link #setReconnectTimeout the
 * reconnect time-out} and tell the {@link FrameConcealedListener} that it left and came back.
 *
 * <h2>Failures</h2>
 *
 * <p>Every {@link Usb3kException} carries its {@link Usb3kException#reason() reason}, the
 * library's {@link Usb3kException#lines() lines} of the operation that failed, and what to do about
 * it ({@link Usb3kException#fix()}, in the words {@code usb3k-probe} uses).
 *
 * <h2>Logging</h2>
 *
 * <p>Each line the library writes during a call of this package goes to {@link System.Logger}
 * {@code com.pelmar.usb3k} (with no other configuration, {@code java.util.logging}'s console), on
 * the calling thread once the call into the library has returned: at {@code WARNING} the lines of
 * a failure the caller sees (an exception, fewer frames decoded than asked for) and of a frame a
 * stream replaced by silence; at {@code INFO} those of a call that did what was asked all the
 * same (a device that did not get ready while another did, a frame decoded when sent once more);
 * at {@code TRACE} the {@code usb3k-trace} lines of {@code USB3K_TRACE=1}. The lines also go to
 * standard error, as they always have, unless the JVM runs with {@code -Dusb3k.stderr=false}
 * (read once, when the library is loaded); those of {@code USB3KBridge} always do.
 *
 * <p>{@link #decode} stops at the first frame the device fails and returns the count before it.
 * The streams of {@link #audioStream} and {@link #decodeFile} instead send a failed frame once more
 * (the library brings the link back in step first); a frame that fails again is replaced by 320
 * bytes of silence, counted by {@link #framesConcealed()} and told to the {@link
 * FrameConcealedListener}, and decoding goes on. A device still attached that decodes none of
 * {@link #FRAMES_WITHOUT_SPEECH_BEFORE_RESET} frames in a row is reset and prepared again, as
 * {@link #open()} did (at most once every {@link #SECONDS_BETWEEN_RESETS} seconds), and decoding
 * goes on. They throw {@link FrameNotDecodedException} only when the device is gone (D2XX no
 * longer lists it) and does not come back within the reconnect time-out ({@link
 * Usb3kException.Reason#DEVICE_GONE}) or, still attached, decoded none of {@link
 * #FRAMES_WITHOUT_SPEECH_WHEN_GONE} frames in a row, a reset within them or not ({@link
 * Usb3kException.Reason#NOT_RESPONDING}).
 *
 * <h2>Threads</h2>
 *
 * <p>The library gets at most {@link #FRAMES_PER_LIBRARY_CALL} frames a call, so {@link #close()}
 * waits for at most one such call, and an interrupt of the decoding thread stops {@link #decode}
 * and the streams between two calls. A decoder may be used by several threads: their calls take
 * turns on the device, {@link #FRAMES_PER_LIBRARY_CALL} frames at a time, each with its own count.
 * Threads must decode into different arrays or regions that do not overlap. A stream is for one
 * thread at a time. Once the decoder is closed, {@code decode}, {@code audioStream}, {@code
 * decodeFile} and the reads of its streams throw {@link IllegalStateException}; {@link
 * #decode(byte[], int, int, byte[], int)} says what a decode that another thread's close ends has
 * written.
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

    /**
     * The most frames one call into the library decodes: about 2.9 s on a real device, the longest
     * that {@link #close()} or an interrupt waits.
     */
    public static final int FRAMES_PER_LIBRARY_CALL = 250;

    /**
     * A stream whose device, still attached, decodes none of this many frames in a row (1 s of
     * speech) gives up: {@link Usb3kException.Reason#NOT_RESPONDING}.
     */
    public static final int FRAMES_WITHOUT_SPEECH_WHEN_GONE = 50;

    /** How long a stream waits for its unplugged device to come back, unless set otherwise. */
    public static final Duration DEFAULT_RECONNECT_TIMEOUT = Duration.ofSeconds(30);

    /**
     * A stream whose device, still attached, decodes none of this many frames in a row (0.2 s of
     * speech) resets it and prepares it again as {@link #open()} did, unless it was reset less
     * than {@link #SECONDS_BETWEEN_RESETS} before; then decoding goes on.
     */
    public static final int FRAMES_WITHOUT_SPEECH_BEFORE_RESET = 10;

    /** The least time between two resets of a decoder's device by its streams. */
    public static final int SECONDS_BETWEEN_RESETS = 5;

    private final long handle;
    private final String serialNumber;
    /** For a decoder of {@link #connect}: its stream on usb3k-server; null for a local one. */
    private final RemoteDecoding remote;
    /**
     * Held for each call into the library and by close. Fair, so that a close or another thread's
     * call waiting for it comes next, not after every call the holding thread makes.
     */
    private final ReentrantLock device = new ReentrantLock(true);
    /** Set while holding device; read without it only to refuse a new stream. */
    private volatile boolean closed;
    private final AtomicLong framesConcealed = new AtomicLong();
    private volatile Duration reconnectTimeout = DEFAULT_RECONNECT_TIMEOUT;
    /** Whether the streams have reset the device, and when last ({@link System#nanoTime()}). */
    private boolean everReset;

    private long lastReset;

    private Usb3kDecoder(long handle, String serialNumber) {
        this(handle, serialNumber, null);
    }

    private Usb3kDecoder(long handle, String serialNumber, RemoteDecoding remote) {
        this.handle = handle;
        this.serialNumber = serialNumber;
        this.remote = remote;
    }

    /**
     * The token of a client's token file, for {@link #connect(URI, String)} and {@link
     * #devices(URI, String)}: the file's first line that is neither blank nor a {@code #} comment,
     * without the spaces, tabs and carriage return around it, as {@code usb3k-probe --token-file}
     * reads it. That line is the token alone: a line {@code name:token} copied from the server's
     * own token file is refused, and so is a token with a space, a control character or a
     * character outside ASCII. No message quotes the line.
     *
     * @param tokenFile the file, its lines ending in LF or CRLF
     * @return the token
     * @throws Usb3kException of reason {@link Usb3kException.Reason#OTHER} when the file cannot be
     *     read, holds no such line, or its line is no token; the message names the file and says
     *     which, as {@code usb3k-probe} does
     */
    public static String readToken(Path tokenFile) throws Usb3kException {
        return TokenFile.read(Objects.requireNonNull(tokenFile, "tokenFile"));
    }

    /**
     * The USB-3000s of a usb3k-server ({@code GET /v1/devices}), as {@link #devices()} lists a
     * host's own.
     *
     * @param server the server, {@code https://host:8443} or {@code http://127.0.0.1:8443}
     * @param token a token of the server's token file
     * @return the devices; empty when none is attached there
     * @throws Usb3kException {@link Usb3kException.Reason#UNAUTHORISED}, {@link
     *     Usb3kException.Reason#SERVER_UNREACHABLE}, {@link Usb3kException.Reason#SERVER_DRAINING}
     *     or {@link Usb3kException.Reason#SERVER_NOT_TRUSTED}, each with its likely cause and fix;
     *     {@link Usb3kException.Reason#OTHER}, before any request, for a token with a character
     *     outside visible ASCII (a line break, a space), which no message quotes
     */
    public static List<Usb3kDevice> devices(URI server, String token) throws Usb3kException {
        return devices(server, token, null);
    }

    /**
     * The USB-3000s of a usb3k-server, over TLS with this context's trust.
     *
     * @param server the server
     * @param token a token of the server's token file
     * @param tls the TLS context whose trust managers decide which certificates are trusted; null
     *     for the JVM's default (the system's trust store)
     * @return the devices
     * @throws Usb3kException as {@link #devices(URI, String)} does
     */
    public static List<Usb3kDevice> devices(URI server, String token, SSLContext tls)
            throws Usb3kException {
        return new RemoteServer(server, token, tls).devices().stream()
                .map(RemoteServer.RemoteDevice::device)
                .toList();
    }

    /**
     * A decoder on a free USB-3000 of a usb3k-server: it behaves as a local one in every method,
     * over a WebSocket stream that holds the device until the decoder is closed. The server sends
     * a failed frame once more and conceals it when it fails again, as a local stream does, so
     * {@link #decode} stops at the first frame the server concealed; {@link #setReconnectTimeout}
     * is the server's to set ({@code reconnect-timeout}).
     *
     * <p>The decoder takes the first usable device the server lists as free, or, when none is, the
     * first usable one, waiting for it up to the server's queue time-out. An {@code http://} host
     * name that resolves to several addresses (a Kubernetes headless Service's) is several
     * servers, one at each address, as {@link #connect(List, String)} takes them; an {@code
     * https://} one is one server, since the JDK verifies the certificate against the host it
     * connects to.
     *
     * @param server the server, {@code https://host:8443} or {@code http://127.0.0.1:8443}
     * @param token a token of the server's token file
     * @return a decoder, to be closed when done
     * @throws Usb3kException {@link Usb3kException.Reason#UNAUTHORISED}, {@link
     *     Usb3kException.Reason#SERVER_UNREACHABLE}, {@link Usb3kException.Reason#SERVER_DRAINING},
     *     {@link Usb3kException.Reason#NO_DEVICE_FREE}, {@link
     *     Usb3kException.Reason#SERVER_NOT_TRUSTED} or {@link Usb3kException.Reason#NO_DEVICE},
     *     each with its likely cause and fix; {@link Usb3kException.Reason#OTHER} for a token
     *     {@link #devices(URI, String)} refuses
     */
    public static Usb3kDecoder connect(URI server, String token) throws Usb3kException {
        return connect(server, token, null, null);
    }

    /**
     * A decoder on the USB-3000 of a usb3k-server with this serial number, waiting for it up to
     * the server's queue time-out while another holds it.
     *
     * @param server the server
     * @param token a token of the server's token file
     * @param serialNumber the device's serial number, as the server lists it
     * @return a decoder, to be closed when done
     * @throws Usb3kException as {@link #connect(URI, String)} does, and {@link
     *     Usb3kException.Reason#NO_SUCH_DEVICE} when the server has no such device
     */
    public static Usb3kDecoder connect(URI server, String token, String serialNumber)
            throws Usb3kException {
        Objects.requireNonNull(serialNumber, "serialNumber");
        return connect(server, token, serialNumber, null);
    }

    /**
     * A decoder on a USB-3000 of a usb3k-server, over TLS with this context's trust.
     *
     * @param server the server
     * @param token a token of the server's token file
     * @param serialNumber the device's serial number; null for the first free one
     * @param tls the TLS context; null for the JVM's default (the system's trust store)
     * @return a decoder, to be closed when done
     * @throws Usb3kException as {@link #connect(URI, String, String)} does
     */
    public static Usb3kDecoder connect(
            URI server, String token, String serialNumber, SSLContext tls) throws Usb3kException {
        if (serialNumber == null) {
            List<RemoteServer> remotes = RemoteServer.ofEachAddress(server, token, tls);
            if (remotes.size() > 1) {
                return connectAny(remotes);
            }
        }
        RemoteServer remote = new RemoteServer(server, token, tls);
        String serial =
                serialNumber != null ? serialNumber : chooseDevice(remote, remote.devices());
        RemoteStream stream = remote.openStream(serial);
        return new Usb3kDecoder(0, serial, new RemoteDecoding(List.of(remote), stream));
    }

    /**
     * A decoder on a free USB-3000 of the least busy of several usb3k-servers (the one that lists
     * the most free devices; in the order given when equal), that fails over: when its server
     * goes away (the connection lost, the server draining, its device gone past the server's
     * reconnect time-out), a call goes on on the least busy of the others, from the first frame
     * whose speech it has not received, so that every frame's speech is delivered once, in order.
     * A call fails over at most {@value RemoteDecoding#FAILOVERS_PER_SERVER} times per server;
     * each attempt takes at most 10 s to connect and the
     * server's queue time-out to get a device. {@link #serialNumber()} names the device it holds
     * now.
     *
     * @param servers the servers, each as for {@link #connect(URI, String)}; an {@code http://}
     *     host name that resolves to several addresses (a Kubernetes headless Service's) is a
     *     server at each address; an {@code https://} one is one server
     * @param token a token that every server's token file holds
     * @return a decoder, to be closed when done
     * @throws Usb3kException when no server gives a device: the message names each server and
     *     its reason; the reason is theirs when all failed alike, else {@link
     *     Usb3kException.Reason#SERVER_UNREACHABLE}; {@link Usb3kException.Reason#OTHER} for a
     *     token {@link #devices(URI, String)} refuses
     */
    public static Usb3kDecoder connect(List<URI> servers, String token) throws Usb3kException {
        return connect(servers, token, null);
    }

    /**
     * A decoder over several usb3k-servers, as {@link #connect(List, String)} makes one, over TLS
     * with this context's trust.
     *
     * @param servers the servers
     * @param token a token that every server's token file holds
     * @param tls the TLS context; null for the JVM's default (the system's trust store)
     * @return a decoder, to be closed when done
     * @throws Usb3kException as {@link #connect(List, String)} does
     */
    public static Usb3kDecoder connect(List<URI> servers, String token, SSLContext tls)
            throws Usb3kException {
        if (servers.isEmpty()) {
            throw new IllegalArgumentException("no server given");
        }
        List<RemoteServer> remotes = new ArrayList<>();
        for (URI server : servers) {
            remotes.addAll(RemoteServer.ofEachAddress(server, token, tls));
        }
        return connectAny(remotes);
    }

    /** A decoder on the least busy of these servers that fails over to the others. */
    private static Usb3kDecoder connectAny(List<RemoteServer> remotes) throws Usb3kException {
        RemoteStream stream = RemoteDecoding.openLeastBusy(remotes, null);
        return new Usb3kDecoder(0, stream.serialNumber(), new RemoteDecoding(remotes, stream));
    }

    /** The first usable device the server lists as free, else its first usable one. */
    static String chooseDevice(RemoteServer server, List<RemoteServer.RemoteDevice> devices)
            throws Usb3kException {
        String busy = null;
        for (RemoteServer.RemoteDevice listed : devices) {
            if (listed.device().usable() && listed.state().equals("free")) {
                return listed.device().serialNumber();
            }
            if (listed.device().usable() && busy == null) {
                busy = listed.device().serialNumber();
            }
        }
        if (busy == null) {
            throw new Usb3kException(
                    Usb3kException.Reason.NO_DEVICE,
                    "no usable USB-3000 is attached to " + server,
                    List.of(),
                    "",
                    "plug a USB-3000 in at the server, or use another server");
        }
        return busy;
    }

    /**
     * Every attached USB-3000, in D2XX's order. Each one that nobody in this process holds is
     * opened, identified and closed again to say whether it is usable. Meanwhile an {@link
     * #open()}, a {@code USB3KBridge.initialize()} or another listing of that device waits for it
     * rather than finding it in use.
     *
     * @return the devices; empty when none is attached
     * @throws Usb3kException {@link Usb3kException.Reason#NO_D2XX_LIBRARY} or {@link
     *     Usb3kException.Reason#DEVICE_LIST_FAILED}
     * @throws UnsatisfiedLinkError when the JVM cannot load the library {@code usb3k}, on this
     *     call and every later one, with the same message
     */
    public static List<Usb3kDevice> devices() throws Usb3kException {
        Usb3kNative.load();
        byte[][] texts = Usb3kNative.devices();
        NativeResult result = NativeResult.last();
        result.log(texts == null ? LibraryLog.FAILED : LibraryLog.PASSED);
        if (texts == null) {
            throw result.exception();
        }
        List<Usb3kDevice> devices = new ArrayList<>();
        for (int i = 0; i + Usb3kNative.TEXTS_PER_DEVICE <= texts.length; ) {
            String serial = NativeResult.text(texts[i++]);
            String description = NativeResult.text(texts[i++]);
            boolean usable = texts[i++].length > 0;
            String productId = NativeResult.text(texts[i++]);
            String version = NativeResult.text(texts[i++]);
            String reason = NativeResult.text(texts[i++]);
            devices.add(
                    new Usb3kDevice(
                            serial,
                            description,
                            usable,
                            usable ? productId : null,
                            usable ? version : null,
                            usable ? null : reason));
        }
        return devices;
    }

    /**
     * Tells the listener of every USB-3000 attached now and of each that arrives or leaves from
     * now on, on a daemon thread that reads D2XX's list about once a second ({@link
     * Usb3kDeviceWatch}), until the registration is closed.
     *
     * @param listener told of each device attached and detached
     * @return the registration, to be closed when done
     * @throws UnsatisfiedLinkError when the JVM cannot load the library {@code usb3k}, on this
     *     call and every later one, with the same message
     */
    public static Usb3kDeviceWatch watch(Usb3kDeviceListener listener) {
        return Usb3kDeviceWatch.start(listener);
    }

    /**
     * A decoder on the first attached USB-3000 that is free and gets ready: opened, identified,
     * reset, in packet mode at rate table 34.
     *
     * @return a decoder, to be closed when done
     * @throws Usb3kException {@link Usb3kException.Reason#NO_D2XX_LIBRARY}, {@link
     *     Usb3kException.Reason#DEVICE_LIST_FAILED}, {@link Usb3kException.Reason#NO_DEVICE},
     *     {@link Usb3kException.Reason#IN_USE} (every device is held) or {@link
     *     Usb3kException.Reason#NOT_READY}
     * @throws UnsatisfiedLinkError when the JVM cannot load the library {@code usb3k}, on this
     *     call and every later one, with the same message
     */
    public static Usb3kDecoder open() throws Usb3kException {
        return openNative(null);
    }

    /**
     * A decoder on the USB-3000 with this serial number, prepared as {@link #open()} prepares one.
     *
     * @param serialNumber the serial number, as {@link Usb3kDevice#serialNumber()} gives it
     * @return a decoder, to be closed when done
     * @throws Usb3kException as {@link #open()} does, and {@link
     *     Usb3kException.Reason#NO_SUCH_DEVICE} when no attached USB-3000 has that serial number
     * @throws UnsatisfiedLinkError when the JVM cannot load the library {@code usb3k}, on this
     *     call and every later one, with the same message
     */
    public static Usb3kDecoder open(String serialNumber) throws Usb3kException {
        Objects.requireNonNull(serialNumber, "serialNumber");
        return openNative(serialNumber.getBytes(java.nio.charset.StandardCharsets.ISO_8859_1));
    }

    private static Usb3kDecoder openNative(byte[] serialNumber) throws Usb3kException {
        Usb3kNative.load();
        byte[][] opened = new byte[1][];
        long handle = Usb3kNative.open(serialNumber, opened);
        NativeResult result = NativeResult.last();
        result.log(handle == 0 ? LibraryLog.FAILED : LibraryLog.PASSED);
        if (handle == 0) {
            throw result.exception();
        }
        return new Usb3kDecoder(handle, NativeResult.text(opened[0]));
    }

    /**
     * The device's serial number.
     *
     * @return the serial number of the USB-3000 this decoder holds
     */
    public String serialNumber() {
        return remote != null ? remote.serialNumber() : serialNumber;
    }

    /**
     * Sets how long the streams of this decoder ({@link #audioStream}, {@link #decodeFile}) wait for
     * the device to come back once it is unplugged: they look for it every 100 ms and go on with
     * the frame that failed once it is back, so that no frame is lost to the unplug. Past the
     * time-out a stream throws {@link FrameNotDecodedException} with {@link
     * Usb3kException.Reason#DEVICE_GONE}. Takes effect at the next unplug a stream meets.
     *
     * @param timeout how long to wait; {@link Duration#ZERO} ends a stream at once when its device
     *     is gone. {@link #DEFAULT_RECONNECT_TIMEOUT} until set.
     * @throws IllegalArgumentException when {@code timeout} is negative
     */
    public void setReconnectTimeout(Duration timeout) {
        Objects.requireNonNull(timeout, "timeout");
        if (timeout.isNegative()) {
            throw new IllegalArgumentException("reconnect time-out must not be negative: " + timeout);
        }
        reconnectTimeout = timeout;
    }

    /**
     * How long the streams of this decoder wait for an unplugged device.
     *
     * @return the reconnect time-out, {@link #DEFAULT_RECONNECT_TIMEOUT} unless set
     */
    public Duration reconnectTimeout() {
        return reconnectTimeout;
    }

    /** A duration in words: {@code 30 s}, {@code 250 ms}. */
    static String describe(Duration duration) {
        long millis = duration.toMillis();
        return millis % 1000 == 0 ? millis / 1000 + " s" : millis + " ms";
    }

    /**
     * Frames that streams of this decoder replaced by silence, over its life.
     *
     * @return the number of frames concealed
     */
    public long framesConcealed() {
        return framesConcealed.get();
    }

    /**
     * Decodes every whole frame of {@code vcw} from {@code vcwOffset} to the end of the array (a
     * part frame at the end is ignored), as {@link #decode(byte[], int, int, byte[], int)} does.
     *
     * @param vcw the frames, 7 bytes each
     * @param vcwOffset where the first frame starts
     * @param pcm where the speech goes, 320 bytes a frame
     * @param pcmOffset where the first frame's speech goes
     * @return how many frames were decoded, from the first
     * @throws IndexOutOfBoundsException when {@code vcwOffset} is outside {@code vcw} or {@code
     *     pcm} has no room for the speech at {@code pcmOffset}
     * @throws IllegalArgumentException when {@code vcw} and {@code pcm} are one array and the
     *     frames and the speech overlap in it
     * @throws IllegalStateException when the decoder is closed, before the call or during it, as
     *     for {@link #decode(byte[], int, int, byte[], int)}
     */
    public int decode(byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset) {
        Objects.checkFromToIndex(vcwOffset, vcw.length, vcw.length);
        return decode(vcw, vcwOffset, (vcw.length - vcwOffset) / FRAME_BYTES, pcm, pcmOffset);
    }

    /**
     * Decodes {@code frames} frames of {@code vcw} from {@code vcwOffset}, stopping at the first
     * frame the device fails, or at an interrupt of the calling thread between two calls into the
     * library (its interrupt status stays set).
     *
     * @param vcw the frames, 7 bytes each
     * @param vcwOffset where the first frame starts
     * @param frames how many frames to decode; 0 decodes nothing and sends nothing
     * @param pcm where the speech goes, 320 bytes a frame
     * @param pcmOffset where the first frame's speech goes
     * @return how many frames were decoded, from the first: fewer than {@code frames} when the
     *     device failed a frame or was unplugged (the library's logged lines say why) or the
     *     thread was interrupted; then the blocks from that frame's on are zero. While the device
     *     is unplugged, 0 at once; once it is back, the call reopens it and decodes
     * @throws IndexOutOfBoundsException when the frames do not fit in {@code vcw} or the speech
     *     does not fit in {@code pcm}
     * @throws IllegalArgumentException when {@code frames} is negative, or when {@code vcw} and
     *     {@code pcm} are one array and the frames and the speech overlap in it
     * @throws IllegalStateException when the decoder is closed: before the call, then nothing is
     *     sent or written; or by another thread during it, whose close waits for the call into
     *     the library in progress to end: then {@code pcm} holds the speech of the frames decoded
     *     until then, from the first, a multiple of {@link #FRAMES_PER_LIBRARY_CALL} frames, and
     *     the rest of the region is as it was before the call
     */
    public int decode(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
        checkRegions(vcw, vcwOffset, frames, pcm, pcmOffset);
        if (remote != null) {
            checkOpen();
            return frames == 0 ? 0 : remote.decode(vcw, vcwOffset, frames, pcm, pcmOffset);
        }
        int decoded = 0;
        while (decoded < frames && !Thread.currentThread().isInterrupted()) {
            int count = Math.min(FRAMES_PER_LIBRARY_CALL, frames - decoded);
            Attempt attempt =
                    decodeOnce(
                            vcw,
                            vcwOffset + decoded * FRAME_BYTES,
                            count,
                            pcm,
                            pcmOffset + decoded * SPEECH_BYTES);
            int done = attempt.decoded();
            attempt.result().log(done < count ? LibraryLog.FAILED : LibraryLog.PASSED);
            decoded += done;
            if (done < count) {
                break;
            }
        }
        int end = pcmOffset + frames * SPEECH_BYTES;
        Arrays.fill(pcm, pcmOffset + decoded * SPEECH_BYTES, end, (byte) 0);
        return decoded;
    }

    static void checkRegions(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
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
    }

    /**
     * What one call into the library did: frames decoded, and its result (how it failed when fewer,
     * and its lines, which the caller logs); null for no frames.
     */
    record Attempt(int decoded, NativeResult result) {}

    /**
     * One call into the library for at most {@link #FRAMES_PER_LIBRARY_CALL} frames, in range; the
     * blocks of frames not decoded are left as they were. Its lines are not yet logged.
     */
    Attempt decodeOnce(byte[] vcw, int vcwOffset, int frames, byte[] pcm, int pcmOffset) {
        device.lock();
        try {
            checkOpen();
            if (frames == 0) {
                return new Attempt(0, null);
            }
            int decoded = Usb3kNative.decode(handle, vcw, vcwOffset, frames, pcm, pcmOffset);
            return new Attempt(decoded, NativeResult.last());
        } finally {
            device.unlock();
        }
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the decoder is closed");
        }
    }

    void countConcealed() {
        framesConcealed.incrementAndGet();
    }

    /**
     * Resets the device and prepares it again, for a stream whose device answered none of {@code
     * framesWithoutSpeech} frames in a row; null, with nothing sent, when it was reset less than
     * {@link #SECONDS_BETWEEN_RESETS} before. The result's lines are not yet logged.
     */
    NativeResult reprepare(int framesWithoutSpeech) {
        device.lock();
        try {
            checkOpen();
            long now = System.nanoTime();
            if (everReset && now - lastReset < TimeUnit.SECONDS.toNanos(SECONDS_BETWEEN_RESETS)) {
                return null;
            }
            everReset = true;
            lastReset = now;
            Usb3kNative.reprepare(handle, framesWithoutSpeech);
            return NativeResult.last();
        } finally {
            device.unlock();
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
     * @return the speech in {@link #AUDIO_FORMAT}; a frame the device fails twice is silence; its
     *     reads throw {@link FrameNotDecodedException} when the device is gone or decodes nothing,
     *     {@link java.io.InterruptedIOException} when the reading thread is interrupted, and {@link
     *     java.io.EOFException} at a part frame at the end of the input, once the speech of the
     *     frames before has been read; and {@link IllegalStateException} once the decoder is closed
     * @throws IllegalStateException when the decoder is closed
     */
    public AudioInputStream audioStream(InputStream vcw) {
        return audioStream(vcw, AudioSystem.NOT_SPECIFIED, DEFAULT_FRAMES_PER_READ, null, null);
    }

    /**
     * The speech of {@code vcwBytes} bytes of VCW frames, decoded {@link #DEFAULT_FRAMES_PER_READ}
     * frames at a time as it is read, with its length known (for a file, its size).
     *
     * @param vcw the frames, 7 bytes each; closed when the stream is closed
     * @param vcwBytes how many bytes of frames to read from {@code vcw}: a multiple of 7
     * @return the speech in {@link #AUDIO_FORMAT}, {@code vcwBytes / 7 * 160} sample frames long;
     *     its reads throw as those of {@link #audioStream(InputStream)} do, and {@link
     *     java.io.EOFException} when {@code vcw} ends early
     * @throws IllegalArgumentException when {@code vcwBytes} is negative or no multiple of 7
     * @throws IllegalStateException when the decoder is closed
     */
    public AudioInputStream audioStream(InputStream vcw, long vcwBytes) {
        if (vcwBytes < 0) {
            throw new IllegalArgumentException("VCW bytes must not be negative: " + vcwBytes);
        }
        return audioStream(vcw, vcwBytes, DEFAULT_FRAMES_PER_READ, null, null);
    }

    /**
     * The speech of a stream of VCW frames, decoded {@code framesPerRead} frames at a time as it is
     * read, reporting its progress.
     *
     * @param vcw the frames, 7 bytes each; closed when the stream is closed
     * @param vcwBytes how many bytes of frames to read from {@code vcw}, a multiple of 7, or {@link
     *     AudioSystem#NOT_SPECIFIED} to read to its end
     * @param framesPerRead how many frames the stream decodes at a time: it holds their input and
     *     speech, 327 bytes a frame
     * @param progress told after each read of frames how many frames the stream has decoded in
     *     all, concealed ones included; null for none
     * @return the speech in {@link #AUDIO_FORMAT}, of known length when {@code vcwBytes} is given;
     *     its reads throw as those of {@link #audioStream(InputStream, long)} do
     * @throws IllegalArgumentException when {@code vcwBytes} is neither {@link
     *     AudioSystem#NOT_SPECIFIED} nor a multiple of 7 that is not negative, or {@code
     *     framesPerRead} is not positive or too large for one array of speech
     * @throws IllegalStateException when the decoder is closed
     */
    public AudioInputStream audioStream(
            InputStream vcw, long vcwBytes, int framesPerRead, LongConsumer progress) {
        return audioStream(vcw, vcwBytes, framesPerRead, progress, null);
    }

    /**
     * The speech of a stream of VCW frames, as {@link #audioStream(InputStream, long, int,
     * LongConsumer)} gives it, telling a listener of each frame replaced by silence.
     *
     * @param vcw the frames, 7 bytes each; closed when the stream is closed
     * @param vcwBytes how many bytes of frames to read, or {@link AudioSystem#NOT_SPECIFIED}
     * @param framesPerRead how many frames the stream decodes at a time
     * @param progress told how many frames the stream has decoded in all; null for none
     * @param concealed told of each frame replaced by silence; null for none
     * @return the speech in {@link #AUDIO_FORMAT}
     * @throws IllegalArgumentException as {@link #audioStream(InputStream, long, int,
     *     LongConsumer)} does
     * @throws IllegalStateException when the decoder is closed
     */
    public AudioInputStream audioStream(
            InputStream vcw,
            long vcwBytes,
            int framesPerRead,
            LongConsumer progress,
            FrameConcealedListener concealed) {
        Objects.requireNonNull(vcw, "vcw");
        checkOpen();
        boolean known = vcwBytes != AudioSystem.NOT_SPECIFIED;
        if (known && (vcwBytes < 0 || vcwBytes % FRAME_BYTES != 0)) {
            throw new IllegalArgumentException(
                    "VCW bytes must be a whole number of 7-byte frames: " + vcwBytes);
        }
        if (framesPerRead < 1 || framesPerRead > Integer.MAX_VALUE / SPEECH_BYTES) {
            throw new IllegalArgumentException("frames per read out of range: " + framesPerRead);
        }
        long frames = known ? vcwBytes / FRAME_BYTES : -1;
        ChunkDecoder chunks =
                remote != null
                        ? remote.streamDecoder(this, concealed)
                        : new ConcealingDecoder(this, concealed);
        SpeechInputStream speech =
                new SpeechInputStream(chunks, vcw, frames, framesPerRead, progress);
        long length = known ? frames * SAMPLES_PER_FRAME : AudioSystem.NOT_SPECIFIED;
        return new AudioInputStream(speech, AUDIO_FORMAT, length);
    }

    /**
     * Decodes a file of VCW frames into a WAV file, as {@link #decodeFile(Path, Path, int,
     * LongConsumer, FrameConcealedListener)} does, {@link #DEFAULT_FRAMES_PER_READ} frames at a
     * time, without progress or listener.
     *
     * @param vcw the file of frames
     * @param wav the WAV file to write
     * @return the frames decoded, concealed ones included
     * @throws IOException as {@link #decodeFile(Path, Path, int, LongConsumer,
     *     FrameConcealedListener)} throws
     * @throws IllegalStateException when the decoder is closed, before the call or during it
     */
    public long decodeFile(Path vcw, Path wav) throws IOException {
        return decodeFile(vcw, wav, DEFAULT_FRAMES_PER_READ, null, null);
    }

    /**
     * Decodes a file of VCW frames into an 8 kHz 16-bit mono WAV file through {@link
     * #audioStream}: frames the device fails twice are silence. The WAV is written to a temporary
     * file beside the file it replaces and renamed into place only when complete, so a failure
     * leaves no partial file and keeps what was there before.
     *
     * <p>It never writes over its input: a {@code wav} that is the file {@code vcw} by any name
     * (the same path, one with {@code ./} or {@code ..} in it, a symbolic link, a hard link: {@link
     * Files#isSameFile} says) is refused, as is a folder as either, before anything is written or
     * sent to the device. A {@code wav} that is a symbolic link is written through: the link stays,
     * and the file it leads to is replaced (or made), its temporary file beside it. The failures of
     * {@code wav} are {@link java.nio.file.FileSystemException}s that name it as given ({@link
     * java.nio.file.FileSystemException#getFile()}), with the reason in words ({@link
     * java.nio.file.FileSystemException#getReason()}), never the temporary file, which is kept as
     * the cause: {@code cannot write out.wav: it is the input file}.
     *
     * @param vcw the file of frames, a whole number of 7-byte frames
     * @param wav the WAV file to write, or a symbolic link to it; replaced when it exists
     * @param framesPerRead how many frames are decoded at a time, as for {@link #audioStream}
     * @param progress told after each read of frames how many have been decoded in all; null for
     *     none
     * @param concealed told of each frame replaced by silence; null for none
     * @return the frames decoded, concealed ones included
     * @throws FrameNotDecodedException when the device is gone or decodes nothing
     * @throws java.io.InterruptedIOException when the thread is interrupted
     * @throws java.nio.file.FileSystemException {@code cannot read VCW: it is a directory}; {@code
     *     cannot write WAV: it is the input file}, {@code ...: it is a directory}, or {@code ...:
     *     REASON} when it cannot be written
     * @throws IOException when {@code vcw} cannot be read, or is not a whole number of frames or
     *     too long for one WAV file (2 GB of speech, 37 hours)
     * @throws IllegalArgumentException when {@code framesPerRead} is out of range
     * @throws IllegalStateException when the decoder is closed: before the call, then nothing is
     *     written; or by another thread during it, then the temporary file is removed
     */
    public long decodeFile(
            Path vcw,
            Path wav,
            int framesPerRead,
            LongConsumer progress,
            FrameConcealedListener concealed)
            throws IOException {
        checkOpen();
        if (Files.isDirectory(vcw)) {
            throw FileFailure.cannotRead(vcw, "it is a directory");
        }
        try (PendingFile pending = new PendingFile(wav)) {
            Path target = pending.destination();
            if (Files.exists(target) && Files.isSameFile(vcw, target)) {
                throw FileFailure.cannotWrite(wav, "it is the input file");
            }
            long bytes = Files.size(vcw);
            if (bytes % FRAME_BYTES != 0) {
                throw new IOException(
                        vcw + " is not a whole number of 7-byte frames: " + bytes + " bytes");
            }
            long frames = bytes / FRAME_BYTES;
            if (frames * SPEECH_BYTES > Integer.MAX_VALUE - 44L) {
                throw new IOException(
                        vcw + " is too long for one WAV file: " + frames + " frames");
            }
            try (InputStream in = Files.newInputStream(vcw);
                    AudioInputStream speech =
                            audioStream(in, bytes, framesPerRead, progress, concealed);
                    OutputStream out = pending.create()) {
                AudioSystem.write(speech, AudioFileFormat.Type.WAVE, out);
            }
            pending.commit();
            return frames;
        }
    }

    /**
     * Closes the decoder and its device, once a call into the library in progress has ended.
     * Closing it again does nothing.
     */
    @Override
    public void close() {
        if (remote != null) {
            closed = true;
            remote.close();
            return;
        }
        device.lock();
        try {
            if (!closed) {
                closed = true;
                Usb3kNative.close(handle);
                NativeResult.last().log(LibraryLog.PASSED);
            }
        } finally {
            device.unlock();
        }
    }
}
