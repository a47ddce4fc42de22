package com.pelmar.usb3k.measure;

import com.pelmar.usb3k.ServerProcess;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.emulator.Emulator;
import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

/**
 * Measures remote decoders against local ones over the emulator: the time one frame's decode takes
 * (median and 99th percentile, devices not paced), in process and through a usb3k-server on
 * loopback; and the frames a second of 4 decoders on 4 paced devices, in process and through 2
 * servers of 2 devices each. Every block is checked against its own frame's speech; exits 1 when
 * one is wrong or missing.
 *
 * <p>Arguments: [single frames timed (2000)] [frames per decoder for frames a second (1500)].
 * System properties {@code usb3k.server} and {@code usb3k.server.faults}, as the tests take them.
 */
public final class MeasureRemote {
    private static final int FRAME = Blocks.FRAME;
    private static final int SPEECH = Blocks.SPEECH;
    /** Frames a call of the frames-a-second runs hands to decode. */
    private static final int FRAMES_PER_CALL = 50;

    private static int wrong;

    private MeasureRemote() {}

    public static void main(String[] args) throws Exception {
        int single = args.length > 0 ? Integer.parseInt(args[0]) : 2000;
        int perDecoder = args.length > 1 ? Integer.parseInt(args[1]) : 1500;
        Path dir = Files.createTempDirectory("usb3k-measure-remote");
        try {
            Emulator.reset();
            Emulator.recordTranscript(false);
            double[] local;
            try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
                local = frameTimes(decoder, single);
            }
            double[] remote;
            try (ServerProcess server = ServerProcess.start(dir, "EMU30001", "", false);
                    Usb3kDecoder decoder =
                            Usb3kDecoder.connect(server.uri(), ServerProcess.TOKEN)) {
                remote = frameTimes(decoder, single);
            }
            Emulator.reset();
            Emulator.clearDevices();
            List<String> serials = List.of("EMU30001", "EMU30002", "EMU30003", "EMU30004");
            serials.forEach(Emulator::addUsb3000);
            Emulator.setPaced(true);
            List<Usb3kDecoder> locals = new ArrayList<>();
            for (String serial : serials) {
                locals.add(Usb3kDecoder.open(serial));
            }
            double localRate = framesPerSecond(locals, perDecoder);
            double remoteRate;
            try (ServerProcess first =
                            ServerProcess.start(dir, "EMU30001,EMU30002", "", true);
                    ServerProcess second =
                            ServerProcess.start(dir, "EMU30003,EMU30004", "", true)) {
                List<URI> servers = List.of(first.uri(), second.uri());
                List<Usb3kDecoder> remotes = new ArrayList<>();
                for (int i = 0; i < 4; i++) {
                    remotes.add(Usb3kDecoder.connect(servers, ServerProcess.TOKEN));
                }
                remoteRate = framesPerSecond(remotes, perDecoder);
            }
            System.out.printf("one frame's decode, %d frames, not paced (ms):%n", single);
            System.out.println("| decoder | median | 99th percentile |");
            System.out.println("|---|---|---|");
            System.out.printf("| local | %.3f | %.3f |%n", percentile(local, 50),
                    percentile(local, 99));
            System.out.printf("| remote (loopback) | %.3f | %.3f |%n", percentile(remote, 50),
                    percentile(remote, 99));
            System.out.printf("4 decoders, %d frames each, paced devices: local %.1f frames/s,"
                    + " remote (2 servers x 2 devices) %.1f frames/s (%.1f %%)%n", perDecoder,
                    localRate, remoteRate, 100 * remoteRate / localRate);
            System.out.println(wrong == 0 ? "PASS" : "FAIL: " + wrong + " wrong blocks");
            System.exit(wrong == 0 ? 0 : 1);
        } finally {
            try (var files = Files.list(dir)) {
                for (Path file : files.toList()) {
                    Files.delete(file);
                }
            }
            Files.delete(dir);
        }
    }

    /** Each frame's decode time in milliseconds, one frame a call, sorted. */
    private static double[] frameTimes(Usb3kDecoder decoder, int frames) {
        byte[] vcw = Blocks.frames(frames, new SplittableRandom(41));
        byte[] pcm = new byte[frames * SPEECH];
        double[] millis = new double[frames];
        for (int f = 0; f < frames; f++) {
            long start = System.nanoTime();
            int decoded = decoder.decode(vcw, f * FRAME, 1, pcm, f * SPEECH);
            millis[f] = (System.nanoTime() - start) / 1e6;
            if (decoded != 1 || !Blocks.own(vcw, f, pcm, 0)) {
                wrong++;
            }
        }
        Arrays.sort(millis);
        return millis;
    }

    /** The frames a second of these decoders, each on its own thread; closes them. */
    private static double framesPerSecond(List<Usb3kDecoder> decoders, int frames)
            throws Exception {
        ExecutorService threads = Executors.newFixedThreadPool(decoders.size());
        try {
            List<Callable<Integer>> jobs = new ArrayList<>();
            for (int d = 0; d < decoders.size(); d++) {
                Usb3kDecoder decoder = decoders.get(d);
                byte[] vcw = Blocks.frames(frames, new SplittableRandom(d));
                jobs.add(() -> {
                    byte[] pcm = new byte[frames * SPEECH];
                    int decoded = 0;
                    for (int f = 0; f < frames; f += FRAMES_PER_CALL) {
                        int n = Math.min(FRAMES_PER_CALL, frames - f);
                        decoded += decoder.decode(vcw, f * FRAME, n, pcm, f * SPEECH);
                    }
                    int bad = frames - decoded;
                    for (int f = 0; f < decoded; f++) {
                        bad += Blocks.own(vcw, f, pcm, 0) ? 0 : 1;
                    }
                    return bad;
                });
            }
            long start = System.nanoTime();
            List<Future<Integer>> results = threads.invokeAll(jobs);
            double seconds = (System.nanoTime() - start) / 1e9;
            for (Future<Integer> result : results) {
                wrong += result.get();
            }
            return decoders.size() * (double) frames / seconds;
        } finally {
            threads.shutdown();
            decoders.forEach(Usb3kDecoder::close);
        }
    }

    private static double percentile(double[] sorted, int percent) {
        int rank = (int) Math.ceil(sorted.length * percent / 100.0);
        return sorted[Math.min(sorted.length, Math.max(rank, 1)) - 1];
    }
}
