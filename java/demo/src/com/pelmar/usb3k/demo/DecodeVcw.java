package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.FrameNotDecodedException;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.Usb3kDevice;
import com.pelmar.usb3k.Usb3kException;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.net.URI;
import java.net.URISyntaxException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.function.LongConsumer;

/**
 * Decodes a file of 7-byte VCW frames into an 8 kHz 16-bit mono WAV file with the first ready
 * USB-3000 (or the one named), through {@link Usb3kDecoder}; several files at once on every ready
 * device ({@link SeveralFiles}).
 *
 * <p>Usage: {@code java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw OUTPUT.wav}, or {@code
 * java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw... FOLDER} for several inputs, or {@code
 * java -jar usb3k-demo.jar --watch} to print the USB-3000s arriving and leaving ({@link
 * WatchDevices}). {@code --server URI --token-file FILE} decodes one file on a USB-3000 of a
 * usb3k-server instead (the token is the file's first line that is neither blank nor a {@code #}
 * comment, as {@link Usb3kDecoder#readToken} reads it; {@code --server} given several times fails
 * over from one server to another). {@code --live [FRAMES]} decodes a live source, standard input
 * or the named pipe or file named, as its frames arrive, into raw speech on standard output
 * ({@link LiveSpeech}). Exit status 0 when every WAV file was written or the watch
 * ended, 1 when something went wrong (one line on standard error says what, and no partial WAV file
 * is left), 2 for wrong usage.
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
        LibraryLines.showOnStandardError();
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        if (args.length == 1 && args[0].equals("--watch")) {
            try {
                WatchDevices.run(System.in, out);
                return 0;
            } catch (DemoFailure e) {
                e.print(err);
                return 1;
            }
        }
        List<String> names = new ArrayList<>(List.of(args));
        String serial = null;
        List<URI> servers = new ArrayList<>();
        String tokenFile = null;
        boolean live = false;
        try {
            while (!names.isEmpty() && names.get(0).startsWith("--")) {
                if (names.get(0).equals("--live")) {
                    live = true;
                    names.remove(0);
                    continue;
                }
                if (names.size() < 2) {
                    break;
                }
                switch (names.get(0)) {
                    case "--device" -> serial = names.get(1);
                    case "--server" -> servers.add(new URI(names.get(1)));
                    case "--token-file" -> tokenFile = names.get(1);
                    default -> throw new URISyntaxException(names.get(0), "unknown option");
                }
                names.subList(0, 2).clear();
            }
        } catch (URISyntaxException e) {
            names.add(0, "--");
        }
        boolean remote = !servers.isEmpty();
        if ((live ? names.size() > 1 : names.size() < 2)
                || names.stream().anyMatch(name -> name.startsWith("--"))
                || remote != (tokenFile != null)
                || (remote && names.size() > 2)) {
            err.println("usage: java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw OUTPUT.wav");
            err.println("       java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw... FOLDER");
            err.println("       java -jar usb3k-demo.jar --server URI [--server URI...]"
                    + " --token-file FILE [--device SERIAL] INPUT.vcw OUTPUT.wav");
            err.println("       java -jar usb3k-demo.jar [--server URI... --token-file FILE]"
                    + " [--device SERIAL] --live [FRAMES] >SPEECH");
            err.println("       java -jar usb3k-demo.jar --watch");
            return 2;
        }
        try {
            if (live) {
                Server server = remote ? new Server(servers, token(path(tokenFile))) : null;
                try (Usb3kDecoder decoder =
                                remote ? server.connect(serial) : openDecoder(serial);
                        InputStream frames = liveInput(names)) {
                    LiveSpeech.play(decoder, frames, out, err);
                } catch (IOException e) {
                    throw new DemoFailure("cannot read the frames: " + reason(e));
                }
                return 0;
            }
            if (remote) {
                Server server = new Server(servers, token(path(tokenFile)));
                new DecodeVcw(out).decode(server, serial, path(names.get(0)),
                        path(names.get(1)));
                return 0;
            }
            if (names.size() > 2) {
                List<Path> inputs = new ArrayList<>();
                for (String name : names.subList(0, names.size() - 1)) {
                    inputs.add(path(name));
                }
                Path folder = path(names.get(names.size() - 1));
                return new SeveralFiles(out, err).decode(serial, inputs, folder);
            }
            new DecodeVcw(out).decode(serial, path(names.get(0)), path(names.get(1)));
            return 0;
        } catch (DemoFailure e) {
            e.print(err);
            return 1;
        }
    }

    /** The usb3k-servers to decode on, and the token. */
    private record Server(List<URI> servers, String token) {
        Usb3kDecoder connect(String serial) throws DemoFailure {
            try {
                if (serial != null) {
                    return Usb3kDecoder.connect(servers.get(0), token, serial);
                }
                return servers.size() == 1
                        ? Usb3kDecoder.connect(servers.get(0), token)
                        : Usb3kDecoder.connect(servers, token);
            } catch (Usb3kException e) {
                throw new DemoFailure("cannot get a USB-3000 of the server: " + e.getMessage(), e);
            }
        }
    }

    /** The live frames: standard input, or the file or named pipe named. */
    private static InputStream liveInput(List<String> names) throws DemoFailure {
        if (names.isEmpty()) {
            return System.in;
        }
        Path input = path(names.get(0));
        try {
            return Files.newInputStream(input);
        } catch (IOException e) {
            throw new DemoFailure("cannot read " + input + ": " + reason(e));
        }
    }

    /** The token, as {@link Usb3kDecoder#readToken} reads it from its file. */
    private static String token(Path file) throws DemoFailure {
        try {
            return Usb3kDecoder.readToken(file);
        } catch (Usb3kException e) {
            throw new DemoFailure(e.getMessage(), e);
        }
    }

    private void decode(String serial, Path input, Path output) throws DemoFailure {
        decode(null, serial, input, output);
    }

    private void decode(Server server, String serial, Path input, Path output)
            throws DemoFailure {
        long frames = countFrames(input);
        if (frames * Usb3kDecoder.SPEECH_BYTES > MAX_SPEECH_BYTES) {
            throw new DemoFailure(
                    input + " is too long for one WAV file: " + frames + " frames");
        }
        Usb3kDevice device = server == null ? listed(serial) : null;
        try (Usb3kDecoder decoder =
                server == null ? openDecoder(serial) : server.connect(serial)) {
            describe(decoder, device, input, frames);
            long started = System.nanoTime();
            decodeFile(decoder, input, output, new Progress(out, frames)::decoded, out);
            double elapsed = (System.nanoTime() - started) / 1e9;
            summarize(frames, elapsed, output, decoder.framesConcealed());
        }
    }

    /**
     * The device as the device list names it: the one with this serial number, or the first usable
     * one; null when there is none (opening it then says why).
     *
     * @throws DemoFailure when the library cannot be loaded: this first failure is the one that
     *     says why, and nothing can be opened without it
     */
    private static Usb3kDevice listed(String serial) throws DemoFailure {
        try {
            for (Usb3kDevice device : Usb3kDecoder.devices()) {
                if (serial == null ? device.usable() : device.serialNumber().equals(serial)) {
                    return device;
                }
            }
        } catch (Usb3kException e) {
            // Naming the device is a courtesy: opening it reports the failure.
        } catch (LinkageError e) {
            throw unloadable(e);
        }
        return null;
    }

    /**
     * Decodes one file into its WAV file; a frame that fails twice is silence, told on out. The
     * library refuses an output that is the input file by any name, or a folder, with its reason:
     * {@code cannot write OUTPUT: it is the input file}.
     */
    static long decodeFile(
            Usb3kDecoder decoder,
            Path input,
            Path output,
            LongConsumer progress,
            PrintStream out)
            throws DemoFailure {
        try {
            return decoder.decodeFile(
                    input,
                    output,
                    FRAMES_PER_CALL,
                    progress,
                    (frame, lines) ->
                            out.printf(
                                    "  %s frame %d is silence: %s%n",
                                    input.getFileName(),
                                    frame + 1,
                                    String.join("; ", lines)));
        } catch (FrameNotDecodedException e) {
            throw new DemoFailure(
                    e.getMessage() + " (the lines above say why); " + output + " not written", e);
        } catch (IOException e) {
            throw new DemoFailure("cannot write " + output + ": " + reason(e));
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

    static Usb3kDecoder openDecoder(String serial) throws DemoFailure {
        try {
            return serial == null ? Usb3kDecoder.open() : Usb3kDecoder.open(serial);
        } catch (LinkageError e) {
            throw unloadable(e);
        } catch (Usb3kException e) {
            throw new DemoFailure("cannot open the USB-3000: " + e.getMessage(), e);
        }
    }

    /**
     * The JVM could not load libusb3k: the loader's message names each place it tried and why.
     * Caught as any LinkageError, so that a class the JVM could not link (NoClassDefFoundError)
     * is one line too.
     */
    static DemoFailure unloadable(LinkageError e) {
        return new DemoFailure("cannot load the usb3k library: " + e.getMessage());
    }

    private void describe(Usb3kDecoder decoder, Usb3kDevice device, Path input, long frames) {
        String description = device == null ? "" : device.description();
        out.printf("Device: USB-3000 %s, \"%s\"%n", decoder.serialNumber(), description);
        if (DeviceList.emulated()) {
            out.println(
                    "        This is the emulated USB-3000, not hardware: it answers at once"
                            + " with a test tone.");
        }
        out.printf(
                "Decoding %s: %d frames, %.2f s of speech, %d frames a call%n",
                input, frames, frames * SECONDS_PER_FRAME, FRAMES_PER_CALL);
    }

    private void summarize(long frames, double elapsed, Path output, long concealed) {
        double seconds = frames * SECONDS_PER_FRAME;
        if (concealed > 0) {
            out.printf("Concealed %d frames the device failed twice (silence)%n", concealed);
        }
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
