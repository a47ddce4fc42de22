package com.pelmar.usb3k.measure;

import com.pelmar.usb3k.FrameConcealedListener;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.SplittableRandom;

/**
 * Measures what an unplug costs a decodeFile over the emulator in real time (paced): the same
 * frames decoded once without and once with the device unplugged at a frame for a while. Prints
 * each run's frames, wrong blocks, concealed frames and time, and the difference; exits 1 when a
 * block is not its own frame's speech or a frame is missing.
 *
 * <p>Arguments: [frames (3000)] [unplugged at frame (1000)] [away ms (2000)].
 */
public final class MeasureUnplug {
    private MeasureUnplug() {}

    private record Run(
            long frames, int wrong, long concealed, double seconds, List<String> heard) {}

    public static void main(String[] args) throws Exception {
        int frames = args.length > 0 ? Integer.parseInt(args[0]) : 3000;
        int at = args.length > 1 ? Integer.parseInt(args[1]) : 1000;
        int awayMillis = args.length > 2 ? Integer.parseInt(args[2]) : 2000;
        byte[] vcw = Blocks.frames(frames, new SplittableRandom(23));
        Path dir = Files.createTempDirectory("usb3k-measure");
        Path vcwFile = Files.write(dir.resolve("in.vcw"), vcw);
        try {
            Run plain = run(vcw, vcwFile, dir.resolve("plain.wav"), -1, 0);
            Run unplugged = run(vcw, vcwFile, dir.resolve("unplugged.wav"), at, awayMillis);
            System.out.printf("%d frames, device unplugged at frame %d for %d ms, paced%n",
                    frames, at, awayMillis);
            System.out.println("| run | frames | wrong blocks | concealed | seconds | heard |");
            System.out.println("|---|---|---|---|---|---|");
            print("without unplug", plain);
            print("with unplug", unplugged);
            System.out.printf("time lost: %.2f s for %.2f s unplugged%n",
                    unplugged.seconds - plain.seconds, awayMillis / 1000.0);
            boolean good = plain.frames == frames && unplugged.frames == frames
                    && plain.wrong == 0 && unplugged.wrong == 0 && unplugged.concealed == 0;
            System.out.println(good ? "PASS" : "FAIL");
            System.exit(good ? 0 : 1);
        } finally {
            for (String name : List.of("in.vcw", "plain.wav", "unplugged.wav")) {
                Files.deleteIfExists(dir.resolve(name));
            }
            Files.delete(dir);
        }
    }

    private static void print(String name, Run run) {
        System.out.printf("| %s | %d | %d | %d | %.2f | %s |%n", name, run.frames, run.wrong,
                run.concealed, run.seconds, String.join(", ", run.heard));
    }

    private static Run run(byte[] vcw, Path vcwFile, Path wav, int at, int awayMillis)
            throws Exception {
        Emulator.reset();
        Emulator.recordTranscript(false);
        Emulator.setRemovedHandleStatus(4);
        Emulator.setPaced(true);
        List<String> heard = new ArrayList<>();
        FrameConcealedListener listener = new FrameConcealedListener() {
            @Override
            public void frameConcealed(long frame, List<String> lines) {
                heard.add("concealed " + frame);
            }

            @Override
            public void deviceAway(String serial, long frame) {
                // The device's request count starts again once it is back: the fault goes now.
                Emulator.clearFaults();
                heard.add("away at " + frame);
            }

            @Override
            public void deviceBack(String serial, long frame) {
                heard.add("back at " + frame);
            }
        };
        long decoded;
        long concealed;
        long start;
        long end;
        try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
            if (at >= 0) {
                // Channel requests are counted from 1: the request of frame `at` (from 0).
                Emulator.faultAnswer(Emulator.DEFAULT_SERIAL, Request.CHANNEL, at + 1,
                        Fault.UNPLUGGED, awayMillis);
            }
            start = System.nanoTime();
            decoded = decoder.decodeFile(vcwFile, wav, Usb3kDecoder.DEFAULT_FRAMES_PER_READ, null,
                    listener);
            end = System.nanoTime();
            concealed = decoder.framesConcealed();
        }
        byte[] file = Files.readAllBytes(wav);
        int wavHeader = 44;
        int wrong = 0;
        for (int f = 0; f < decoded; f++) {
            if (!Blocks.own(vcw, f, file, wavHeader)) {
                wrong++;
            }
        }
        Emulator.reset();
        return new Run(decoded, wrong, concealed, (end - start) / 1e9, heard);
    }
}
