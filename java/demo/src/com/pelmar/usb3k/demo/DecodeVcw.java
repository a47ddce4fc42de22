package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.FrameNotDecodedException;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kException;
import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * Decodes a file of 7-byte VCW frames into an 8 kHz 16-bit mono WAV file with the first attached
 * USB-3000, through {@link Usb3kDecoder}.
 *
 * <p>Usage: {@code java -jar usb3k-demo.jar INPUT.vcw OUTPUT.wav}. Exit status 0 when the WAV
 * file was written, 1 when something went wrong (one line on standard error says what, and no WAV
 * file is left), 2 for wrong usage.
 */
public final class DecodeVcw {
    static final int FRAMES_PER_CALL = 50;
    static final double SECONDS_PER_FRAME =
            Usb3kDecoder.SAMPLES_PER_FRAME / (double) Usb3kDecoder.AUDIO_FORMAT.getSampleRate();
    /** AudioSystem's WAV writer counts the file's bytes, 44 of header among them, in a Java int. */
    static final long MAX_SPEECH_BYTES = Integer.MAX_VALUE - 44;

    private final PrintStream out;

    private DecodeVcw(PrintStream out) {
        this.out = out;
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        if (args.length != 2) {
            err.println("usage: java -jar usb3k-demo.jar INPUT.vcw OUTPUT.wav");
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
        if (frames * Usb3kDecoder.SPEECH_BYTES > MAX_SPEECH_BYTES) {
            throw new DemoFailure(
                    input + " is too long for one WAV file: " + frames + " frames");
        }
        if (Files.isDirectory(output)) {
            throw new DemoFailure("cannot write " + output + ": it is a directory");
        }
        try (InputStream vcw = open(input);
                PendingFile wav = createBeside(output)) {
            DeviceList.Device device = DeviceList.firstUsb3000();
            try (Usb3kDecoder decoder = openDecoder()) {
                describe(device, input, frames);
                long started = System.nanoTime();
                writeWav(decoder, vcw, input, frames, wav, output);
                double elapsed = (System.nanoTime() - started) / 1e9;
                commit(wav, output);
                summarize(frames, elapsed, output);
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
        if (size % Usb3kDecoder.FRAME_BYTES != 0) {
            throw new DemoFailure(
                    input
                            + " is not a VCW file: its "
                            + size
                            + " bytes are not a whole number of 7-byte frames");
        }
        return size / Usb3kDecoder.FRAME_BYTES;
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

    private static PendingFile createBeside(Path output) throws DemoFailure {
        try {
            return new PendingFile(output);
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
        }
    }

    private static Usb3kDecoder openDecoder() throws DemoFailure {
        try {
            return Usb3kDecoder.open();
        } catch (UnsatisfiedLinkError e) {
            throw new DemoFailure("cannot load the usb3k library: " + e.getMessage());
        } catch (Usb3kException e) {
            throw new DemoFailure("cannot initialize the USB-3000: " + e.getMessage());
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

    /** Decodes the input into the pending WAV file as AudioSystem's writer reads the speech. */
    private void writeWav(
            Usb3kDecoder decoder,
            InputStream vcw,
            Path input,
            long frames,
            PendingFile wav,
            Path output)
            throws DemoFailure {
        Progress progress = new Progress(out, frames);
        try (AudioInputStream speech =
                decoder.audioStream(
                        new VcwInput(vcw),
                        frames * Usb3kDecoder.FRAME_BYTES,
                        FRAMES_PER_CALL,
                        progress::decoded)) {
            AudioSystem.write(speech, AudioFileFormat.Type.WAVE, wav.path().toFile());
        } catch (FrameNotDecodedException e) {
            throw new DemoFailure(
                    "the USB-3000 did not decode frame "
                            + (e.frameIndex() + 1)
                            + " of "
                            + frames
                            + " (the lines above say why)");
        } catch (VcwInput.ReadFailure e) {
            throw new DemoFailure("cannot read " + input + ": " + reason(e.cause()));
        } catch (EOFException e) {
            throw new DemoFailure("cannot read " + input + ": it ended early");
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
        }
    }

    private static void commit(PendingFile wav, Path output) throws DemoFailure {
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
