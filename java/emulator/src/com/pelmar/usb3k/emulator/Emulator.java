package com.pelmar.usb3k.emulator;

import com.pelmar.usb3k.internal.NativeLibrary;
import java.nio.charset.StandardCharsets;
import java.util.Objects;

/**
 * The emulated D2XX driver and USB-3000 devices that stand in for FTDI's driver and real hardware,
 * under the control of a test: one device or several ({@link #addUsb3000}), faults at chosen
 * requests, devices unplugged and plugged back in ({@link #detach}, {@link #reattach}, {@link
 * #unplugAfter}, {@link Fault#UNPLUGGED}) and devices that hang ({@link Fault#HANGS}).
 *
 * <h2>Running with the emulator</h2>
 *
 * <p>The emulator is a D2XX library of its own ({@code libftd2xx.so}, {@code ftd2xx.dll}) with
 * a JNI library that drives it, both inside this jar: the first use of this class loads them, in
 * the order in which {@code usb3k.jar} loads its own (the property {@link #LIBRARY_PATH_PROPERTY},
 * then {@code java.library.path}, then the jar's copies), and from then on the JVM's D2XX is the
 * emulator's instead of FTDI's driver. Put {@code usb3k.jar} and {@code usb3k-emulator.jar} on the
 * class path and touch this class before the first decoder opens; {@code USB3KBridge.initialize()}
 * then finds the emulated devices, and the methods of this class change what they do. Never ship
 * the emulator with an application.
 *
 * <h2>State</h2>
 *
 * <p>The emulator's state is process-wide: a list of attached FTDI devices (after {@link #reset()}
 * one USB-3000, {@link #DEFAULT_SERIAL}), the faults waiting to be used, counters of requests and
 * D2XX calls, and a transcript of every D2XX call. Call {@link #reset()} before each test. Time is
 * virtual: a read that would wait for its time-out returns at once, so tests with faults run as
 * fast as tests without.
 *
 * <p>Like FTDI's D2XX, the emulated one is one per process: when several class loaders of a JVM
 * load this class, each loads a copy of its own of this class's JNI library, but every copy, and
 * every class loader's usb3k library, uses the one emulated D2XX. They see the same devices, and
 * {@link #reset()} through any of them resets them all.
 *
 * <p>An emulated USB-3000 answers every request as a real one does, and answers each frame with
 * speech of its own making: a tone that depends on the frame's codeword bits, so that a test can
 * compare every byte an application receives with {@link #decodedSpeech}.
 *
 * <h2>Counting</h2>
 *
 * <p>Faults are aimed by occurrence: the n-th request of a kind, or the n-th call of a D2XX
 * function, counted from 1 since the last {@link #reset()} on the device named (on any device when
 * the serial number is null). Occurrence 0 means every one. Several faults may wait at once.
 *
 * <p>Every method may be called from any thread: the emulator guards its state with one lock.
 */
public final class Emulator {
    /**
     * The system property naming the emulator's JNI library, or its folder, to load instead of
     * the installed one or the jar's copy; a D2XX library beside it is loaded first.
     */
    public static final String LIBRARY_PATH_PROPERTY = "usb3k.emulator.library.path";

    static {
        try {
            NativeLibrary.load("usb3k_emulator_jni", LIBRARY_PATH_PROPERTY, null, "ftd2xx");
        } catch (UnsatisfiedLinkError e) {
            UnsatisfiedLinkError explained =
                    new UnsatisfiedLinkError(
                            "cannot load the usb3k emulator: "
                                    + e.getMessage()
                                    + " (outside its jar, libusb3k_emulator_jni.so must be in"
                                    + " java.library.path or -D"
                                    + LIBRARY_PATH_PROPERTY
                                    + ", and the emulator's libftd2xx.so beside it or first in"
                                    + " LD_LIBRARY_PATH)");
            explained.initCause(e);
            throw explained;
        }
    }

    /** The identifiers of a USB-3000's FTDI chip: vendor 0x0403, product 0x6001. */
    public static final int USB3000_ID = 0x04036001;

    /** The serial number of the one USB-3000 attached after {@link #reset()}. */
    public static final String DEFAULT_SERIAL = "EMU30001";

    /** The description of the one USB-3000 attached after {@link #reset()}. */
    public static final String DEFAULT_DESCRIPTION = "USB-3000 (emulated)";

    /** The most bytes of serial number a device has: the room in D2XX's device record. */
    private static final int MAX_SERIAL_BYTES = 16;

    private static final int FRAME_BYTES = 7;
    private static final int CODEWORD_BITS = 49;

    private Emulator() {}

    /**
     * Back to a fresh start: one attached USB-3000 ({@link #DEFAULT_SERIAL}, {@link
     * #DEFAULT_DESCRIPTION}), no faults, no open handles, counters at zero, and an empty transcript
     * that records every D2XX call.
     *
     * <p>Handles that the library holds become invalid, so that its later calls on them fail:
     * close the device ({@code USB3KBridge.shutdown()}, or close every decoder) before a reset.
     */
    public static native void reset();

    /** Detaches every device; handles open on them become invalid. */
    public static native void clearDevices();

    /**
     * Attaches an FTDI device at the end of the device list.
     *
     * @param id the chip's vendor and product identifiers; {@link #USB3000_ID} makes a USB-3000,
     *     any other value a device that accepts writes and never answers
     * @param serial the serial number, up to 16 characters, each written as one byte (Latin-1)
     * @param description the description, each character written as one byte (Latin-1)
     * @return the device's index in the list
     * @throws IllegalArgumentException when the serial number is longer than 16 characters or an
     *     attached device has it: D2XX could not open such a device
     */
    public static int addDevice(int id, String serial, String description) {
        return addDevice(id, serial.getBytes(StandardCharsets.ISO_8859_1), description);
    }

    /**
     * Attaches one more USB-3000, for tests with several devices: each answers on its own, and
     * {@code Usb3kDecoder.open(serial)} opens it by this serial number.
     *
     * @param serial the serial number, up to 16 characters, each written as one byte (Latin-1)
     * @return the device's index in the list
     * @throws IllegalArgumentException as {@link #addDevice(int, String, String)} throws
     */
    public static int addUsb3000(String serial) {
        return addDevice(USB3000_ID, serial, DEFAULT_DESCRIPTION);
    }

    /**
     * Unplugs a device: it leaves the device list, every D2XX call on a handle open on it fails
     * with {@code FT_INVALID_HANDLE} (1) or the status of {@link #setRemovedHandleStatus}, and
     * what it held (bytes waiting to be read, answers on
     * their way, its request counts) is gone. A decoder on it then finds it gone.
     *
     * @param serial the device's serial number
     * @return true when the device was attached and is now unplugged
     */
    public static boolean detach(String serial) {
        return nativeDetach(latin1(Objects.requireNonNull(serial, "serial")));
    }

    /**
     * Plugs an unplugged device back in, at the end of the device list, closed and powered on
     * afresh, with a new {@link #locationId} and what {@link #refuseOpensAfterReplug} and {@link
     * #needsResetAfterReplug} ask for: a new decoder can open it; handles of before stay invalid.
     *
     * @param serial the device's serial number
     * @return true when it was unplugged and is attached again; false when it was not unplugged or
     *     a device with that serial number is attached
     */
    public static boolean reattach(String serial) {
        return nativeReattach(latin1(Objects.requireNonNull(serial, "serial")));
    }

    /**
     * Plans an unplug in time: the device leaves the list at the first D2XX call once its link has
     * run {@code afterMillis} more, and comes back {@code awayMillis} later (0: only by {@link
     * #reattach} or {@link #replugAtListCall}). Time is the device's link time: virtual, moved on
     * by the waits of the library's calls and by {@link #advance}; real time when paced. To unplug
     * at a frame instead, aim {@link Fault#UNPLUGGED} at a {@link Request#CHANNEL} request.
     *
     * @param serial the device's serial number
     * @param afterMillis how long from now it stays attached
     * @param awayMillis how long it stays unplugged, or 0
     * @return true when the device is attached and the unplug is planned
     */
    public static boolean unplugAfter(String serial, long afterMillis, long awayMillis) {
        return nativeUnplugAfter(latin1(Objects.requireNonNull(serial, "serial")),
                checkMillis(afterMillis) * 1000, checkMillis(awayMillis) * 1000);
    }

    /**
     * Plugs an unplugged device back in just before the library's {@code listCalls}-th look at
     * the device list from now ({@code FT_CreateDeviceInfoList}, which {@code
     * Usb3kDecoder.open}, {@code devices()} and {@code USB3KBridge.initialize()} make): the way
     * to let a device return after a chosen number of polls.
     *
     * @param serial the device's serial number
     * @param listCalls which list call finds it back, 1 for the next
     * @return true when the device is unplugged and its return is planned
     */
    public static boolean replugAtListCall(String serial, int listCalls) {
        if (listCalls < 1) {
            throw new IllegalArgumentException("list calls must be at least 1: " + listCalls);
        }
        return nativeReplugAtListCall(latin1(Objects.requireNonNull(serial, "serial")), listCalls);
    }

    /**
     * After every re-plug from now on, the first {@code tries} opens of the device fail with a
     * status, as while the kernel's driver binds to a device that has just come back.
     *
     * @param serial the device's serial number
     * @param tries how many {@code FT_OpenEx} calls fail after each re-plug; 0: none
     * @param status what they return, for example 2 ({@code FT_DEVICE_NOT_FOUND}) or 3 ({@code
     *     FT_DEVICE_NOT_OPENED})
     */
    public static void refuseOpensAfterReplug(String serial, int tries, int status) {
        if (tries < 0) {
            throw new IllegalArgumentException("tries must not be negative: " + tries);
        }
        nativeRefuseOpensAfterReplug(latin1(Objects.requireNonNull(serial, "serial")), tries,
                status);
    }

    /**
     * After every re-plug from now on, the device answers no frame until it has received a reset
     * request, as a freshly powered USB-3000 does. Off after {@link #reset()}.
     *
     * @param serial the device's serial number
     * @param on whether a re-plugged device waits for a reset
     */
    public static void needsResetAfterReplug(String serial, boolean on) {
        nativeNeedsResetAfterReplug(latin1(Objects.requireNonNull(serial, "serial")), on);
    }

    /**
     * What every D2XX call on a handle of an unplugged device returns until the library closes
     * it: 1 ({@code FT_INVALID_HANDLE}) after {@link #reset()}; 4 ({@code FT_IO_ERROR}) as FTDI's
     * driver reports a removed device on Linux. With a status other than 1, closing such a handle
     * releases it and succeeds. The handle stays dead after the device is plugged back in; a new
     * open gives a new one.
     *
     * @param status the D2XX status
     */
    public static native void setRemovedHandleStatus(int status);

    /**
     * The location ID the device list reports for a device: the one of its place in the list
     * (0x11 for the first) until it is plugged back in, and a new one after each re-plug, as on a
     * real bus.
     *
     * @param serial the device's serial number
     * @return the location ID, or 0 when the device is not attached
     */
    public static int locationId(String serial) {
        return nativeLocationId(latin1(Objects.requireNonNull(serial, "serial")));
    }

    /**
     * Lets time pass on a device's link between the library's calls, in virtual time, attached or
     * unplugged: what a planned unplug or re-plug in time waits for. Paced, it has no effect.
     *
     * @param serial the device's serial number
     * @param millis how long
     */
    public static void advance(String serial, long millis) {
        nativeAdvance(latin1(Objects.requireNonNull(serial, "serial")), checkMillis(millis) * 1000);
    }

    /**
     * Attaches an FTDI device whose serial number is exactly these bytes, for tests of serial
     * numbers that are not text.
     *
     * @param id the chip's vendor and product identifiers, as for {@link #addDevice(int, String,
     *     String)}
     * @param serial the serial number's bytes, up to 16, without a terminating zero
     * @param description the description, each character written as one byte (Latin-1)
     * @return the device's index in the list
     * @throws IllegalArgumentException when the serial number is longer than 16 bytes or an
     *     attached device has it: D2XX could not open such a device
     */
    public static int addDevice(int id, byte[] serial, String description) {
        Objects.requireNonNull(serial, "serial");
        String name = new String(serial, StandardCharsets.ISO_8859_1);
        if (serial.length > MAX_SERIAL_BYTES) {
            throw new IllegalArgumentException(
                    "serial number " + name + " is " + serial.length + " bytes long; a device's"
                            + " holds at most " + MAX_SERIAL_BYTES);
        }
        int index = nativeAddDevice(id, serial.clone(), latin1(description));
        if (index < 0) {
            throw new IllegalArgumentException(
                    "a device with serial number " + name + " is attached already");
        }
        return index;
    }

    /**
     * Makes a D2XX function return a status instead of doing its work.
     *
     * @param serial the device whose calls fail, or null for calls on any device
     * @param function the function
     * @param status the D2XX status it returns, for example 4 ({@code FT_IO_ERROR}) or 3 ({@code
     *     FT_DEVICE_NOT_OPENED})
     * @param occurrence which call fails, counted from 1 since {@link #reset()}; 0: every call
     */
    public static void failCall(String serial, D2xxFunction function, int status, int occurrence) {
        nativeFailCall(latin1(serial), function.name(), status, checkOccurrence(occurrence));
    }

    /**
     * Makes a write accept only part of its bytes and report success with that count, as a write
     * that times out part way does. Only the accepted bytes reach the device.
     *
     * @param serial the device, or null for writes to any device
     * @param occurrence which write, counted from 1 since {@link #reset()}; 0: every write
     * @param accepted how many bytes the write accepts
     */
    public static void shortWrite(String serial, int occurrence, int accepted) {
        if (accepted < 0) {
            throw new IllegalArgumentException("accepted bytes must not be negative: " + accepted);
        }
        nativeShortWrite(latin1(serial), checkOccurrence(occurrence), accepted);
    }

    /**
     * Makes a USB-3000 answer a request with a fault.
     *
     * @param serial the device, or null for requests to any device
     * @param request the kind of request
     * @param occurrence which request of that kind, counted from 1 since {@link #reset()}; 0: every
     *     one
     * @param fault how the answer goes wrong
     * @param value what the fault needs, as {@link Fault} says for each kind (0 where it needs
     *     nothing)
     */
    public static void faultAnswer(
            String serial, Request request, int occurrence, Fault fault, int value) {
        nativeFaultAnswer(
                latin1(serial), request.code, checkOccurrence(occurrence), fault.code, value);
    }

    /**
     * Drops every fault that has not been used yet. Devices, handles, counters, the transcript, and
     * answers already held back on their way stay.
     */
    public static native void clearFaults();

    /**
     * How many requests of a kind USB-3000s have received since {@link #reset()}.
     *
     * @param serial the device, or null for all devices together
     * @param request the kind of request
     * @return the number of requests
     */
    public static int requestCount(String serial, Request request) {
        return nativeRequestCount(latin1(serial), request.code);
    }

    /**
     * How many times a D2XX function has been called since {@link #reset()}, failed calls included,
     * so that a test can aim a fault at the next call.
     *
     * @param serial the device, or null for calls on any device
     * @param function the function
     * @return the number of calls
     */
    public static int callCount(String serial, D2xxFunction function) {
        return nativeCallCount(latin1(serial), function.name());
    }

    /**
     * The handles open now, over all devices: 0 after the library has closed every device.
     *
     * @return the number of handles opened and not yet closed
     */
    public static native int openHandles();

    /**
     * Every D2XX call since the transcript was last cleared, one line each, in call order, each
     * ended by a line feed. Bytes are two lowercase hexadecimal digits separated by spaces; calls
     * on a device start with its serial number. For example:
     *
     * <pre>
     * FT_CreateDeviceInfoList() -&gt; 0 count=1
     * FT_OpenEx(EMU30001, 1) -&gt; 0
     * EMU30001 FT_SetBaudRate(460800) -&gt; 0
     * EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -&gt; 0 written=7
     * EMU30001 FT_Read(4) -&gt; 0 got=4: 61 00 0c 00
     * EMU30001 FT_GetQueueStatus() -&gt; 0 queued=0
     * EMU30001 FT_Close() -&gt; 0
     * </pre>
     *
     * <p>A request the device refuses adds a line after its write, such as {@code EMU30001 sim: bad
     * parity}.
     *
     * @return the transcript, each byte read as one character (Latin-1)
     */
    public static String transcript() {
        return new String(nativeTranscript(), StandardCharsets.ISO_8859_1);
    }

    /** Empties the transcript; recording goes on as before. */
    public static native void clearTranscript();

    /**
     * Turns recording of the transcript on or off. {@link #reset()} turns it on; long decodes run
     * faster with it off, and counters and faults work either way.
     *
     * @param on whether D2XX calls are recorded
     */
    public static native void recordTranscript(boolean on);

    /**
     * The speech an emulated USB-3000 sends for a codeword, as it travels on the wire.
     *
     * @param codeword the frame's 49 codeword bits, the first in bit 48
     * @return 320 bytes: 160 samples of 16 bits, each high byte first
     */
    public static native byte[] speechForCodeword(long codeword);

    /**
     * The speech an application receives for one VCW frame decoded on an emulated USB-3000: what
     * {@code USB3KBridge.decode} writes for it.
     *
     * @param vcw the frames
     * @param vcwOffset where the frame's 7 bytes start
     * @return 320 bytes: 160 samples of 16 bits, each low byte first
     */
    public static byte[] decodedSpeech(byte[] vcw, int vcwOffset) {
        Objects.checkFromIndexSize(vcwOffset, FRAME_BYTES, vcw.length);
        long codeword = 0;
        for (int i = 0; i < FRAME_BYTES; i++) {
            codeword = codeword << 8 | (vcw[vcwOffset + i] & 0xFF);
        }
        byte[] speech = speechForCodeword(codeword & ((1L << CODEWORD_BITS) - 1));
        for (int i = 0; i + 1 < speech.length; i += 2) {
            byte high = speech[i];
            speech[i] = speech[i + 1];
            speech[i + 1] = high;
        }
        return speech;
    }

    /**
     * Turns the timing model on or off. On, each device works 1 to 3 ms on a request before it
     * answers, its answers cross the serial line at the baud rate the library set, and the FTDI
     * chip hands them on in 62-byte USB packets, the last partial one when its latency timer runs
     * out; reads wait until their bytes have arrived or their time-out has passed. Time is
     * virtual and kept per device, so a run takes no real time and repeats exactly. Off after
     * {@link #reset()}: every answer is there the moment its request is written.
     *
     * @param on whether the timing model is on
     */
    public static native void setTiming(boolean on);

    /**
     * Turns the timing model on in real time, or off: every D2XX call takes as long as it would
     * take on a real device and line (about 76 frames a second), and planned unplugs and re-plugs
     * happen after real time, for measurements and soaks of an application's own timing. Off
     * after {@link #reset()}; turning it off turns the timing model off too.
     *
     * @param on whether the emulator runs in real time
     */
    public static native void setPaced(boolean on);

    private static long checkMillis(long millis) {
        if (millis < 0 || millis > Long.MAX_VALUE / 1000) {
            throw new IllegalArgumentException("milliseconds out of range: " + millis);
        }
        return millis;
    }

    private static int checkOccurrence(int occurrence) {
        if (occurrence < 0) {
            throw new IllegalArgumentException("occurrence must not be negative: " + occurrence);
        }
        return occurrence;
    }

    /** A text as the emulator holds it, one byte a character; null stays null (any device). */
    private static byte[] latin1(String text) {
        return text == null ? null : text.getBytes(StandardCharsets.ISO_8859_1);
    }

    private static native int nativeAddDevice(int id, byte[] serial, byte[] description);

    private static native void nativeFailCall(
            byte[] serial, String function, int status, int occurrence);

    private static native void nativeShortWrite(byte[] serial, int occurrence, int accepted);

    private static native void nativeFaultAnswer(
            byte[] serial, int request, int occurrence, int fault, int value);

    private static native int nativeRequestCount(byte[] serial, int request);

    private static native int nativeCallCount(byte[] serial, String function);

    private static native byte[] nativeTranscript();

    private static native boolean nativeDetach(byte[] serial);

    private static native boolean nativeReattach(byte[] serial);

    private static native boolean nativeUnplugAfter(byte[] serial, long afterUs, long awayUs);

    private static native boolean nativeReplugAtListCall(byte[] serial, int listCalls);

    private static native void nativeRefuseOpensAfterReplug(byte[] serial, int tries, int status);

    private static native void nativeNeedsResetAfterReplug(byte[] serial, boolean on);

    private static native int nativeLocationId(byte[] serial);

    private static native void nativeAdvance(byte[] serial, long microseconds);
}
