package com.pelmar.usb3k.measure;

import com.pelmar.usb3k.FrameConcealedListener;
import com.pelmar.usb3k.FrameNotDecodedException;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kDevice;
import com.pelmar.usb3k.Usb3kException;
import com.pelmar.usb3k.emulator.Emulator;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.SplittableRandom;
import java.util.concurrent.ConcurrentSkipListMap;
import java.util.concurrent.atomic.LongAdder;
import java.util.logging.Handler;
import java.util.logging.LogManager;
import java.util.logging.LogRecord;
import java.util.logging.Logger;

/**
 * A soak of four emulated USB-3000s in real time (paced) and eight threads, two per device, each
 * opening its device by serial number, decoding streams and calls of random lengths and closing it
 * again, while a seeded chaos thread unplugs devices (plugged back in after a time or by hand,
 * some refusing opens for a while, some needing a reset, each at a new location ID) and makes
 * them hang while listed (until a reset, for a time, or until unplugged). Every delivered block
 * must be its own frame's speech, or silence the listener heard of; at the end every device must
 * open by serial number and decode, and no handle may stay open. Prints a table; exits 1 when a
 * check fails.
 *
 * <p>Arguments: [seconds (60)] [seed (drawn, printed)].
 */
public final class DeviceSoak {
    private static final String[] SERIALS = {"SOAK0001", "SOAK0002", "SOAK0003", "SOAK0004"};
    private static final int THREADS_PER_DEVICE = 2;
    /** How long decode(...) is called again, while the device is away, for frames it left. */
    private static final long DECODE_RETRY_NANOS = 30_000_000_000L;
    private static final long SETTLE_MILLIS = 5000;
    private static final long JOIN_MILLIS = 90_000;

    /** The library's last line on this thread: logged on the thread that made the call. */
    private static final ThreadLocal<String> LAST_LINE = ThreadLocal.withInitial(() -> "");

    /** Held here: the log manager keeps loggers only while someone else does. */
    private static final Logger LIBRARY_LOGGER = Logger.getLogger("com.pelmar.usb3k");

    /** Counts by name, printed in the order of their names. */
    private static final Map<String, LongAdder> COUNTS = new ConcurrentSkipListMap<>();

    private DeviceSoak() {}

    static void add(String name, long n) {
        COUNTS.computeIfAbsent(name, k -> new LongAdder()).add(n);
    }

    static long count(String name) {
        LongAdder adder = COUNTS.get(name);
        return adder == null ? 0 : adder.sum();
    }

    public static void main(String[] args) throws Exception {
        long seconds = args.length > 0 ? Long.parseLong(args[0]) : 60;
        long seed = args.length > 1 ? Long.parseLong(args[1]) : System.nanoTime() & 0xFFFFFF;
        System.out.printf("soak: %d devices, %d threads (%d per device, open(serial)), %d s,"
                        + " seed %d (repeat: scripts/soak-devices %d %d)%n", SERIALS.length,
                SERIALS.length * THREADS_PER_DEVICE, THREADS_PER_DEVICE, seconds, seed, seconds,
                seed);
        countLibraryLines();
        for (String name : List.of("crashes", "wrong blocks", "unplugs", "frames concealed")) {
            add(name, 0);
        }
        Emulator.reset();
        Emulator.clearDevices();
        Emulator.recordTranscript(false);
        Emulator.setRemovedHandleStatus(4);
        for (String serial : SERIALS) {
            Emulator.addUsb3000(serial);
        }
        // What a re-plug brings, by device: opens refused for a moment (three, or 25: longer than
        // a reopen's 2 s of tries), a reset needed before speech, or both; the last plain.
        Emulator.refuseOpensAfterReplug(SERIALS[0], 3, 3);
        Emulator.needsResetAfterReplug(SERIALS[1], true);
        Emulator.refuseOpensAfterReplug(SERIALS[2], 25, 2);
        Emulator.needsResetAfterReplug(SERIALS[2], true);
        Emulator.setPaced(true);

        long deadline = System.nanoTime() + seconds * 1_000_000_000L;
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < SERIALS.length * THREADS_PER_DEVICE; i++) {
            Worker worker = new Worker(SERIALS[i / THREADS_PER_DEVICE], seed * 31 + i, deadline);
            Thread thread = new Thread(worker, "soak-" + i);
            thread.setUncaughtExceptionHandler((t, e) -> {
                add("crashes", 1);
                e.printStackTrace();
            });
            workers.add(thread);
            thread.start();
        }
        Chaos chaos = new Chaos(SERIALS, new SplittableRandom(seed),
                deadline - SETTLE_MILLIS * 1_000_000L);
        chaos.run();
        long joinBy = System.nanoTime() + JOIN_MILLIS * 1_000_000L;
        for (Thread thread : workers) {
            thread.join(Math.max(1, (joinBy - System.nanoTime()) / 1_000_000L));
            if (thread.isAlive()) {
                add("threads still running after the end", 1);
            }
        }
        boolean good = finalCheck() & report();
        System.out.println(good ? "PASS" : "FAIL");
        System.exit(good ? 0 : 1);
    }

    /** Counts the library's lines by kind; nothing reaches the console (thousands of them). */
    private static void countLibraryLines() {
        LogManager.getLogManager().reset();
        LIBRARY_LOGGER.addHandler(new Handler() {
            @Override
            public void publish(LogRecord record) {
                String line = record.getMessage();
                LAST_LINE.set(line);
                if (line.endsWith(": reset")) {
                    add("resets of a device that answered nothing", 1);
                } else if (line.endsWith("reset failed")) {
                    add("resets that failed", 1);
                } else if (line.contains("is attached again and ready")) {
                    add("reopened after a re-plug", 1);
                }
            }

            @Override
            public void flush() {}

            @Override
            public void close() {}
        });
    }

    /** Every device opens by serial number and decodes, all are usable and no handle is open. */
    private static boolean finalCheck() throws Exception {
        boolean good = true;
        long listedBy = System.nanoTime() + 10_000_000_000L;
        for (String serial : SERIALS) {
            while (Emulator.locationId(serial) == 0 && System.nanoTime() < listedBy) {
                Thread.sleep(50);
            }
        }
        SplittableRandom random = new SplittableRandom(1);
        for (String serial : SERIALS) {
            byte[] vcw = Blocks.frames(50, random);
            byte[] pcm = new byte[50 * Blocks.SPEECH];
            String result;
            // A device plugged back in just before the end may refuse opens for a while (25
            // times, one an open, on one of them), as while the system binds its driver; one that
            // hung just before the end is unplugged and plugged in again after 5 silent opens.
            int[] silent = {0};
            Usb3kDecoder opened = null;
            for (int refused = 0; refused < 50 && opened == null; refused++) {
                opened = tryOpen(serial, silent);
                Thread.sleep(opened == null ? 100 : 0);
            }
            if (opened != null) {
                opened.close();
            }
            try (Usb3kDecoder decoder = Usb3kDecoder.open(serial)) {
                int decoded = decoder.decode(vcw, 0, pcm, 0);
                int own = 0;
                for (int f = 0; f < decoded; f++) {
                    own += Blocks.own(vcw, f, pcm, 0) ? 1 : 0;
                }
                result = own == 50 ? "ok" : own + " of 50 frames decoded";
            } catch (Usb3kException e) {
                result = e.toString();
            }
            System.out.printf("at the end, %s (location 0x%x): open(serial) and 50 frames: %s%n",
                    serial, Emulator.locationId(serial), result);
            good &= result.equals("ok");
        }
        for (Usb3kDevice device : Usb3kDecoder.devices()) {
            good &= device.usable();
            if (!device.usable()) {
                System.out.println("at the end, not usable: " + device);
            }
        }
        good &= Usb3kDecoder.devices().size() == SERIALS.length;
        int handles = Emulator.openHandles();
        System.out.println("at the end, open handles: " + handles);
        return good && handles == 0;
    }

    /**
     * Opens the device, or null. A device attached that answers nothing to the open's questions
     * (hung until a reset, which an open does not send before it identifies the device) gets,
     * after 5 such opens in a row, what the open's fix says: unplugged and plugged in again.
     */
    static Usb3kDecoder tryOpen(String serial, int[] silentOpens) {
        try {
            Usb3kDecoder decoder = Usb3kDecoder.open(serial);
            add("opens", 1);
            return decoder;
        } catch (Usb3kException e) {
            add("opens refused, " + e.reason(), 1);
            boolean silent = e.reason() == Usb3kException.Reason.NOT_READY
                    && String.join("\n", e.lines()).contains("did not receive");
            silentOpens[0] = silent ? silentOpens[0] + 1 : 0;
            if (silentOpens[0] >= 5 && Emulator.detach(serial)) {
                add("re-plugged by hand after 5 opens found it silent", 1);
                pause(500);
                Emulator.reattach(serial);
                silentOpens[0] = 0;
            }
            return null;
        }
    }

    private static boolean report() {
        System.out.println("| figure | value |");
        System.out.println("|---|---|");
        COUNTS.forEach((name, value) -> System.out.printf("| %s | %d |%n", name, value.sum()));
        long lostToUnplugs = 0;
        long lostToHangs = count("frames concealed");
        long hangs = 0;
        for (Map.Entry<String, LongAdder> entry : COUNTS.entrySet()) {
            String name = entry.getKey();
            long value = entry.getValue().sum();
            if (name.startsWith("frames not delivered, ")) {
                boolean hung = name.endsWith("NOT_RESPONDING") || name.endsWith("hung");
                lostToHangs += hung ? value : 0;
                lostToUnplugs += hung ? 0 : value;
            }
            hangs += name.startsWith("hangs ") ? value : 0;
        }
        System.out.printf("| frames lost per unplug (not delivered: away or held too long)"
                        + " | %.2f |%n",
                (double) lostToUnplugs / Math.max(1, count("unplugs")));
        System.out.printf("| frames lost per hang (concealed, or not delivered: hung) | %.2f |%n",
                (double) lostToHangs / Math.max(1, hangs));
        return count("wrong blocks") == 0 && count("crashes") == 0
                && count("threads still running after the end") == 0;
    }

    /** Two of these per device: sessions of open(serial), streams and decode calls, close. */
    private record Worker(String serial, long seed, long deadline) implements Runnable {
        @Override
        public void run() {
            SplittableRandom random = new SplittableRandom(seed);
            while (System.nanoTime() < deadline) {
                try (Usb3kDecoder decoder = open(random)) {
                    if (decoder == null) {
                        continue;
                    }
                    for (int n = random.nextInt(1, 4); n > 0; n--) {
                        byte[] vcw = Blocks.frames(random.nextInt(1, 300), random);
                        if (random.nextBoolean()) {
                            stream(decoder, vcw, random.nextInt(1, 251));
                        } else if (!decodeCalls(decoder, vcw)) {
                            break;
                        }
                    }
                } catch (IOException | InterruptedException e) {
                    add("crashes", 1);
                    e.printStackTrace();
                }
                // Longer than the second in which a stream of the other thread, waiting for the
                // device that this one held, tries it again: else this thread, reopening at
                // once, could keep the device from it past its reconnect time-out.
                pause(random.nextInt(1000, 2000));
            }
        }

        /** Opens the device, trying again while it is held, away or not ready; null at the end. */
        private Usb3kDecoder open(SplittableRandom random) {
            int[] silent = {0};
            while (System.nanoTime() < deadline) {
                Usb3kDecoder decoder = tryOpen(serial, silent);
                if (decoder != null) {
                    return decoder;
                }
                pause(random.nextInt(10, 100));
            }
            return null;
        }

        private void stream(Usb3kDecoder decoder, byte[] vcw, int framesPerRead)
                throws IOException {
            Set<Long> concealed = new HashSet<>();
            FrameConcealedListener listener = new FrameConcealedListener() {
                @Override
                public void frameConcealed(long frame, List<String> lines) {
                    concealed.add(frame);
                }

                @Override
                public void deviceAway(String serial, long frame) {
                    add("streams that waited for their device", 1);
                }
            };
            byte[] pcm = new byte[vcw.length / Blocks.FRAME * Blocks.SPEECH];
            int read = 0;
            try (InputStream speech = decoder.audioStream(new ByteArrayInputStream(vcw),
                    vcw.length, framesPerRead, null, listener)) {
                for (int count; read < pcm.length
                        && (count = speech.read(pcm, read, pcm.length - read)) > 0; ) {
                    read += count;
                }
            } catch (FrameNotDecodedException e) {
                add("streams ended, " + e.reason(), 1);
                add("frames not delivered, stream ended " + e.reason(),
                        vcw.length / Blocks.FRAME - read / Blocks.SPEECH);
                System.out.println(serial + ": " + e);
            }
            check(vcw, pcm, read / Blocks.SPEECH, concealed);
        }

        /**
         * decode(...) over the frames, called again after a short count while the device is away.
         * decode(...) resets nothing, so a device attached and free that decodes nothing in 3 calls
         * in a row (hung) is given up, as an application would: false, and the session ends (the
         * next open prepares the device afresh).
         */
        private boolean decodeCalls(Usb3kDecoder decoder, byte[] vcw) throws InterruptedException {
            int frames = vcw.length / Blocks.FRAME;
            byte[] pcm = new byte[frames * Blocks.SPEECH];
            int done = 0;
            int failedListed = 0;
            long giveUp = System.nanoTime() + DECODE_RETRY_NANOS;
            while (done < frames && System.nanoTime() < giveUp && failedListed < 3) {
                int decoded = decoder.decode(vcw, done * Blocks.FRAME, frames - done, pcm,
                        done * Blocks.SPEECH);
                for (int f = done + decoded; f < frames; f++) {
                    if (!Blocks.silent(pcm, f, 0)) {
                        add("wrong blocks", 1);
                        System.out.println(serial + ": block " + f + " past the count not zero");
                    }
                }
                done += decoded;
                if (done < frames) {
                    add("decode calls short", 1);
                    failedListed = decoded == 0 && !away() ? failedListed + 1 : 0;
                    Thread.sleep(100);
                }
            }
            add("frames not delivered, decode(...) given up, "
                    + (away() ? "device away or held" : "hung"), frames - done);
            check(vcw, pcm, done, Set.of());
            return done == frames;
        }

        /** Whether the library's last line says the device is away, held or refusing opens. */
        private static boolean away() {
            String line = LAST_LINE.get();
            return List.of(" in use by ", " is not attached", " no longer attached", " not ready")
                    .stream().anyMatch(line::contains);
        }

        private void check(byte[] vcw, byte[] pcm, int delivered, Set<Long> concealed) {
            int frames = vcw.length / Blocks.FRAME;
            add("frames delivered", delivered);
            add("frames not delivered", frames - delivered);
            for (int f = 0; f < delivered; f++) {
                if (concealed.contains((long) f) && Blocks.silent(pcm, f, 0)) {
                    add("frames concealed", 1);
                } else if (!Blocks.own(vcw, f, pcm, 0)) {
                    add("wrong blocks", 1);
                    System.out.println(serial + ": block " + f + " is not its frame's speech");
                }
            }
        }
    }

    static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
