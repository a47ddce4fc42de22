package com.pelmar.usb3k.demo;

import com.pelmar.base.audio.codec.USB3KBridge;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * Decodes a file of 7-byte VCW frames into an 8 kHz 16-bit mono WAV file with the first attached
 * USB-3000, through {@link USB3KBridge}.
 *
 * <p>Usage: {@code DecodeVcw INPUT.vcw OUTPUT.wav}. Exit status 0 when the WAV file was written, 1
 * when something went wrong (one line on standard error says what, and no WAV file is left), 2 for
 * wrong usage.
 */
public final class DecodeVcw {
    static final int FRAME_BYTES = 7;
    static final int SPEECH_BYTES_PER_FRAME = 320;
    static final int FRAMES_PER_CALL = 50;
    static final double SECONDS_PER_FRAME = 160.0 / WavFile.SAMPLE_RATE;

    // decode() reports nothing back; a frame whose block still holds this pattern afterwards was
    // not decoded. Speech from a device does not repeat a 320-byte ramp by chance.
    private static final byte[] UNTOUCHED = new byte[SPEECH_BYTES_PER_FRAME];

    static {
        for (int i = 0; i < UNTOUCHED.length; i++) {
            UNTOUCHED[i] = (byte) (0x5A + 37 * i);
        }
    }

    private final PrintStream out;

    private DecodeVcw(PrintStream out) {
        this.out = out;
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        if (args.length != 2) {
            err.println("usage: DecodeVcw INPUT.vcw OUTPUT.wav");
            return 2;
        }
        try {
            new DecodeVcw(out).decode(path(args[0]), path(args[1]));
            return 0;
        } catch (DemoFailure e) {
            err.println("error: " + e.getMessage());
            return 1;
        }
    }

    private void decode(Path input, Path output) throws DemoFailure {
        long frames = countFrames(input);
        refuseToReplace(input, output);
        long speechBytes = frames * SPEECH_BYTES_PER_FRAME;
        if (speechBytes > WavFile.MAX_DATA_BYTES) {
            throw new DemoFailure(
                    input + " is too long for one WAV file: " + frames + " frames");
        }
        if (Files.isDirectory(output)) {
            throw new DemoFailure("cannot write " + output + ": it is a directory");
        }
        try (InputStream vcw = open(input);
                WavFile wav = createWav(output, speechBytes)) {
            DeviceList.Device device = DeviceList.firstUsb3000();
            loadBridge();
            try {
                if (!USB3KBridge.initialize()) {
                    throw new DemoFailure(
                            "cannot initialize the USB-3000: " + USB3KBridge.getInitError());
                }
                describe(device, input, frames);
                long started = System.nanoTime();
                decodeAll(vcw, input, frames, wav, output);
                double elapsed = (System.nanoTime() - started) / 1e9;
                commit(wav, output);
                summarize(frames, elapsed, output);
            } finally {
                USB3KBridge.shutdown();
            }
        } catch (IOException e) {
            // Only closing can fail here: the input, or the removal of an unfinished WAV file.
            throw new DemoFailure("cannot clean up after " + output + ": " + reason(e));
        }
    }

    private static long countFrames(Path input) throws DemoFailure {
        if (Files.isDirectory(input)) {
            throw new DemoFailure("cannot read " + input + ": it is a directory");
        }
        long size;
        try {
            size = Files.size(input);
        } catch (IOException e) {
            throw new DemoFailure("cannot read " + input + ": " + reason(e));
        }
        if (size == 0) {
            throw new DemoFailure(input + " holds no VCW frames: the file is empty");
        }
        if (size % FRAME_BYTES != 0) {
            throw new DemoFailure(
                    input
                            + " is not a VCW file: its "
                            + size
                            + " bytes are not a whole number of 7-byte frames");
        }
        return size / FRAME_BYTES;
    }

    /**
     * An output that is the input file, by another name or through a link, means the two were
     * mistaken for each other: writing the WAV there would cost the user the frames it came from.
     */
    private static void refuseToReplace(Path input, Path output) throws DemoFailure {
        try {
            if (Files.exists(output) && Files.isSameFile(input, output)) {
                throw new DemoFailure("cannot write " + output + ": it is the input file");
            }
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
        }
    }

    private static InputStream open(Path input) throws DemoFailure {
        try {
            return Files.newInputStream(input);
        } catch (IOException e) {
            throw new DemoFailure("cannot read " + input + ": " + reason(e));
        }
    }

    private static WavFile createWav(Path output, long speechBytes) throws DemoFailure {
        try {
            return new WavFile(output, speechBytes);
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
        }
    }

    private static void loadBridge() throws DemoFailure {
        try {
            USB3KBridge.getInitError();
        } catch (UnsatisfiedLinkError e) {
            throw new DemoFailure("cannot load the usb3k library: " + e.getMessage());
        }
    }

    private void describe(DeviceList.Device device, Path input, long frames) {
        if (device == null) {
            out.println("Device: the first USB-3000 (the D2XX device list did not name it)");
        } else {
            out.printf(
                    "Device: USB-3000 %s, \"%s\"%n", device.serialNumber(), device.description());
            if (device.emulated()) {
                out.println(
                        "        This is the emulated USB-3000, not hardware: it answers at once"
                                + " with a test tone.");
            }
        }
        out.printf(
                "Decoding %s: %d frames, %.2f s of speech, %d frames a call%n",
                input, frames, frames * SECONDS_PER_FRAME, FRAMES_PER_CALL);
    }

    private void decodeAll(InputStream input, Path inputName, long frames, WavFile wav, Path output)
            throws DemoFailure {
        byte[] vcw = new byte[FRAMES_PER_CALL * FRAME_BYTES];
        byte[] pcm = new byte[FRAMES_PER_CALL * SPEECH_BYTES_PER_FRAME];
        Progress progress = new Progress(out, frames);
        long done = 0;
        while (done < frames) {
            int count = (int) Math.min(FRAMES_PER_CALL, frames - done);
            byte[] chunk = count == FRAMES_PER_CALL ? vcw : new byte[count * FRAME_BYTES];
            try {
                if (input.readNBytes(chunk, 0, chunk.length) != chunk.length) {
                    throw new DemoFailure("cannot read " + inputName + ": it ended early");
                }
            } catch (IOException e) {
                throw new DemoFailure("cannot read " + inputName + ": " + reason(e));
            }
            for (int f = 0; f < count; f++) {
                System.arraycopy(UNTOUCHED, 0, pcm, f * SPEECH_BYTES_PER_FRAME, UNTOUCHED.length);
            }
            USB3KBridge.decode(chunk, 0, pcm, 0);
            int missing = firstUntouched(pcm, count);
            if (missing >= 0) {
                throw new DemoFailure(
                        "the USB-3000 did not decode frame "
                                + (done + missing + 1)
                                + " of "
                                + frames
                                + " (the lines above say why)");
            }
            try {
                wav.write(pcm, count * SPEECH_BYTES_PER_FRAME);
            } catch (IOException e) {
                throw new DemoFailure("cannot write " + output + ": " + reason(e));
            }
            done += count;
            progress.decoded(done);
        }
    }

    /** The index of the first frame whose speech block was not written, or -1. */
    static int firstUntouched(byte[] pcm, int frames) {
        for (int f = 0; f < frames; f++) {
            int from = f * SPEECH_BYTES_PER_FRAME;
            if (Arrays.equals(
                    pcm, from, from + SPEECH_BYTES_PER_FRAME, UNTOUCHED, 0, UNTOUCHED.length)) {
                return f;
            }
        }
        return -1;
    }

    private static void commit(WavFile wav, Path output) throws DemoFailure {
        try {
            wav.commit();
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
        }
    }

    private void summarize(long frames, double elapsed, Path output) {
        double seconds = frames * SECONDS_PER_FRAME;
        out.printf(
                "Decoded %d frames, %.2f s of speech, in %.3f s: %.1f times faster than real"
                        + " time%n",
                frames, seconds, elapsed, seconds / Math.max(elapsed, 1e-9));
        out.println("Wrote " + output);
    }

    private static Path path(String name) throws DemoFailure {
        try {
            return Path.of(name);
        } catch (InvalidPathException e) {
            throw new DemoFailure("not a usable file name: " + name);
        }
    }

    /** What went wrong, without the Java class names a user has no use for. */
    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file or directory";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof FileSystemException fs && fs.getReason() != null) {
            return fs.getReason().toLowerCase(java.util.Locale.ROOT);
        }
        return e.getMessage();
    }
}
