package com.pelmar.usb3k;

import java.lang.System.Logger.Level;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.Iterator;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.ReentrantLock;

/**
 * A {@link Usb3kDeviceListener}'s registration, from {@link Usb3kDecoder#watch}: the listener hears
 * USB-3000s arrive and leave until it is closed.
 *
 * <p>D2XX tells nobody when a device arrives or leaves, so one daemon thread of the process, {@value
 * #THREAD_NAME}, reads D2XX's list every {@value #POLL_INTERVAL_MILLIS} ms while a registration is
 * open, and ends when the last one is closed. Reading the list opens no device. Only a device seen
 * to arrive is opened, once, by {@link Usb3kDecoder#devices()}, to say whether it is ready; that
 * listing identifies the other free devices again too, and a decoder's open meanwhile waits for it
 * rather than failing.
 *
 * <p>A registration's first look, made at once, reports every USB-3000 attached then with {@link
 * Usb3kDeviceListener#attached}. From then on each device that leaves the list is reported with
 * {@link Usb3kDeviceListener#detached}, and each that joins it with {@code attached}, in list order,
 * detached ones first. A device unplugged and plugged back in between two looks, within about a
 * second, goes unheard. When D2XX cannot be loaded or its list cannot be read, nothing is reported, since nobody can tell which devices are there; the
 * failure's lines are logged at {@code WARNING} to {@link System.Logger} {@code com.pelmar.usb3k}
 * once, when listing starts to fail, and not to standard error. What a listener throws is logged
 * there too, and the thread goes on.
 */
public final class Usb3kDeviceWatch implements AutoCloseable {
    /** How often the watcher thread reads D2XX's list, in milliseconds. */
    public static final long POLL_INTERVAL_MILLIS = 1000;

    /** The watcher thread's name. */
    public static final String THREAD_NAME = "usb3k-device-watch";

    private static final System.Logger LOGGER = System.getLogger(LibraryLog.LOGGER_NAME);

    /** Guards {@link #open}, {@link #watcher} and {@link #pollNow}; the watcher waits on it. */
    private static final Object LOCK = new Object();

    private static final List<Usb3kDeviceWatch> open = new ArrayList<>();
    private static Thread watcher;
    /** Set by a new registration, so that its first look comes at once. */
    private static boolean pollNow;

    /** The time between two looks; shorter only in tests. */
    static volatile long pollMillis = POLL_INTERVAL_MILLIS;

    private final Usb3kDeviceListener listener;
    /** Held while the listener is told of a change, so that close waits for it. */
    private final ReentrantLock telling = new ReentrantLock();
    private volatile boolean closed;
    /** The serial numbers reported attached and not yet detached: the watcher thread's alone. */
    private final Set<String> known = new LinkedHashSet<>();

    private Usb3kDeviceWatch(Usb3kDeviceListener listener) {
        this.listener = listener;
    }

    static Usb3kDeviceWatch start(Usb3kDeviceListener listener) {
        Objects.requireNonNull(listener, "listener");
        Usb3kNative.load();
        Usb3kDeviceWatch watch = new Usb3kDeviceWatch(listener);
        synchronized (LOCK) {
            open.add(watch);
            pollNow = true;
            if (watcher == null) {
                watcher = new Thread(Usb3kDeviceWatch::watch, THREAD_NAME);
                watcher.setDaemon(true);
                watcher.setContextClassLoader(Usb3kDeviceWatch.class.getClassLoader());
                watcher.start();
            } else {
                LOCK.notifyAll();
            }
        }
        return watch;
    }

    /** The watcher thread while one runs, or null. */
    static Thread watcherThread() {
        synchronized (LOCK) {
            return watcher;
        }
    }

    /**
     * Ends the registration: once this returns the listener hears nothing more (called from the
     * listener itself, once that call returns). The watcher thread ends with the last
     * registration. Closing it again does nothing.
     */
    @Override
    public void close() {
        synchronized (LOCK) {
            if (!open.remove(this)) {
                return;
            }
            closed = true;
            LOCK.notifyAll();
        }
        // Waits for the listener's call in progress on the watcher thread, if any.
        telling.lock();
        telling.unlock();
    }

    private static void watch() {
        boolean failing = false;
        try {
            while (true) {
                List<Usb3kDeviceWatch> watches;
                synchronized (LOCK) {
                    if (open.isEmpty()) {
                        return;
                    }
                    watches = List.copyOf(open);
                    pollNow = false;
                }
                failing = look(watches, failing);
                waitForNextLook();
            }
        } finally {
            synchronized (LOCK) {
                if (watcher == Thread.currentThread()) {
                    watcher = null;
                }
            }
        }
    }

    private static void waitForNextLook() {
        synchronized (LOCK) {
            long end = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(pollMillis);
            long left;
            while (!pollNow && !open.isEmpty() && (left = end - System.nanoTime()) > 0) {
                try {
                    TimeUnit.NANOSECONDS.timedWait(LOCK, left);
                } catch (InterruptedException e) {
                    // Only the registrations end this thread.
                }
            }
        }
    }

    /** One look at D2XX's list, told to every registration; returns whether listing failed. */
    private static boolean look(List<Usb3kDeviceWatch> watches, boolean failing) {
        byte[][] texts = Usb3kNative.attached();
        NativeResult result = NativeResult.last();
        if (texts == null) {
            if (!failing) {
                result.log(LibraryLog.FAILED);
            }
            return true;
        }
        Map<String, String> present = new LinkedHashMap<>();
        for (int i = 0; i + 1 < texts.length; i += 2) {
            present.put(NativeResult.text(texts[i]), NativeResult.text(texts[i + 1]));
        }
        Map<String, String> arrived = new HashMap<>();
        for (Usb3kDeviceWatch watch : watches) {
            present.forEach(
                    (serial, description) -> {
                        if (!watch.known.contains(serial)) {
                            arrived.put(serial, description);
                        }
                    });
        }
        Map<String, Usb3kDevice> identified = identify(arrived);
        for (Usb3kDeviceWatch watch : watches) {
            watch.tell(present.keySet(), identified);
        }
        return false;
    }

    /**
     * The arrived devices as a listing describes them. One the listing no longer finds is left
     * out, to be looked at again; when the listing fails, each is reported not usable, its reason
     * the failure's message.
     */
    private static Map<String, Usb3kDevice> identify(Map<String, String> arrived) {
        Map<String, Usb3kDevice> identified = new HashMap<>();
        if (arrived.isEmpty()) {
            return identified;
        }
        try {
            for (Usb3kDevice device : Usb3kDecoder.devices()) {
                if (arrived.containsKey(device.serialNumber())) {
                    identified.put(device.serialNumber(), device);
                }
            }
        } catch (Usb3kException e) {
            arrived.forEach(
                    (serial, description) ->
                            identified.put(
                                    serial,
                                    new Usb3kDevice(
                                            serial, description, false, null, null,
                                            e.getMessage())));
        }
        return identified;
    }

    private void tell(Set<String> present, Map<String, Usb3kDevice> identified) {
        for (Iterator<String> it = known.iterator(); it.hasNext(); ) {
            String serial = it.next();
            if (!present.contains(serial)) {
                it.remove();
                tell("detached", () -> listener.detached(serial));
            }
        }
        for (String serial : present) {
            Usb3kDevice device = identified.get(serial);
            if (device != null && known.add(serial)) {
                tell("attached", () -> listener.attached(device));
            }
        }
    }

    private void tell(String event, Runnable call) {
        telling.lock();
        try {
            if (!closed) {
                call.run();
            }
        } catch (RuntimeException | Error e) {
            if (e instanceof VirtualMachineError) {
                throw e;
            }
            LOGGER.log(Level.WARNING, "a USB-3000 listener threw from " + event + "()", e);
        } finally {
            telling.unlock();
        }
    }
}
