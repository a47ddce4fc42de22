package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kDevice;
import com.pelmar.usb3k.Usb3kException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * Decodes several VCW files into a folder at once: one thread per ready USB-3000 (or on the one
 * named), each taking the next file that is left. FOLDER/NAME.wav is written for INPUT NAME.vcw.
 */
final class SeveralFiles {
    private final PrintStream out;
    private final PrintStream err;

    SeveralFiles(PrintStream out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    /** Returns the exit status: 0 when every file was written, 1 when any failed. */
    int decode(String serial, List<Path> inputs, Path folder) throws DemoFailure {
        if (!Files.isDirectory(folder)) {
            throw new DemoFailure("cannot write into " + folder + ": it is not a directory");
        }
        List<Usb3kDecoder> decoders = openAll(serial);
        Queue<Path> left = new ConcurrentLinkedQueue<>(inputs);
        AtomicBoolean failed = new AtomicBoolean();
        List<Thread> threads = new ArrayList<>();
        long started = System.nanoTime();
        for (Usb3kDecoder decoder : decoders) {
            Thread thread = new Thread(() -> work(decoder, left, folder, failed));
            thread.start();
            threads.add(thread);
        }
        try {
            for (Thread thread : threads) {
                thread.join();
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new DemoFailure("interrupted");
        } finally {
            decoders.forEach(Usb3kDecoder::close);
        }
        out.printf(
                "Decoded %d files on %d devices in %.3f s%n",
                inputs.size(), decoders.size(), (System.nanoTime() - started) / 1e9);
        return failed.get() ? 1 : 0;
    }

    /** The named device, or every device that is ready. */
    private List<Usb3kDecoder> openAll(String serial) throws DemoFailure {
        List<Usb3kDecoder> decoders = new ArrayList<>();
        if (serial != null) {
            decoders.add(DecodeVcw.openDecoder(serial));
            return decoders;
        }
        List<Usb3kDevice> devices;
        try {
            devices = Usb3kDecoder.devices();
        } catch (Usb3kException e) {
            throw new DemoFailure("cannot list the USB-3000s: " + e.getMessage(), e);
        } catch (LinkageError e) {
            throw DecodeVcw.unloadable(e);
        }
        for (Usb3kDevice device : devices) {
            if (device.usable()) {
                try {
                    decoders.add(Usb3kDecoder.open(device.serialNumber()));
                } catch (Usb3kException e) {
                    err.println(
                            "skipping USB-3000 " + device.serialNumber() + ": " + e.getMessage());
                }
            }
        }
        if (decoders.isEmpty()) {
            decoders.add(DecodeVcw.openDecoder(null));
        }
        return decoders;
    }

    private void work(Usb3kDecoder decoder, Queue<Path> left, Path folder, AtomicBoolean failed) {
        for (Path input; (input = left.poll()) != null; ) {
            String name = input.getFileName().toString().replaceFirst("\\.vcw$", "") + ".wav";
            Path output = folder.resolve(name);
            try {
                long frames = DecodeVcw.decodeFile(decoder, input, output, null, out);
                out.printf(
                        "%s: %s -> %s, %d frames%n", decoder.serialNumber(), input, output, frames);
            } catch (DemoFailure e) {
                e.print(err);
                failed.set(true);
            }
        }
    }
}
