package com.pelmar.usb3k.demo;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.BridgeFixture;
import com.pelmar.base.audio.codec.ChildJvm;
import com.pelmar.usb3k.emulator.Emulator;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The demo program, run as a user runs it: in its own JVM, over the emulator. */
class DecodeVcwTest {
    private static final Path SAMPLE = Path.of(System.getProperty("usb3k.sample"));
    private static final String NL = System.lineSeparator();

    @TempDir Path dir;

    private ChildJvm.Result demo(String... args) {
        return ChildJvm.run(DecodeVcw.class, args);
    }

    private ChildJvm.Result demoWithFault(String fault, String... args) {
        String[] all = new String[args.length + 1];
        all[0] = fault;
        System.arraycopy(args, 0, all, 1, args.length);
        return ChildJvm.run(DemoWithFaults.class, all);
    }

    private List<String> filesInDir() throws IOException {
        try (Stream<Path> files = Files.list(dir)) {
            return files.map(p -> p.getFileName().toString()).sorted().toList();
        }
    }

    /** The speech the emulated device gives for each frame of the file, low byte first. */
    private static byte[] expectedSpeech(byte[] vcw) {
        byte[] all = new byte[vcw.length / 7 * 320];
        for (int f = 0; f < vcw.length / 7; f++) {
            long codeword = 0;
            for (int i = 0; i < 7; i++) {
                codeword = codeword << 8 | (vcw[f * 7 + i] & 0xFF);
            }
            byte[] wire = Emulator.speechForCodeword(codeword & ((1L << 49) - 1));
            for (int i = 0; i < 320; i += 2) {
                all[f * 320 + i] = wire[i + 1];
                all[f * 320 + i + 1] = wire[i];
            }
        }
        return all;
    }

    @Test
    void decodesTheSampleIntoAWavFile() throws IOException {
        byte[] vcw = Files.readAllBytes(SAMPLE);
        int frames = vcw.length / 7;
        assertTrue(frames >= 250 && vcw.length % 7 == 0, "the sample is several seconds long");
        Path wav = dir.resolve("sample.wav");

        ChildJvm.Result result = demo(SAMPLE.toString(), wav.toString());

        assertEquals(0, result.exit(), result.err().toString());
        assertEquals(List.of(), result.err());
        String out = result.out();
        assertTrue(out.startsWith(
                "Device: USB-3000 EMU30001, \"USB-3000 (emulated)\"" + NL
                        + "        This is the emulated USB-3000, not hardware: it answers at once"
                        + " with a test tone." + NL
                        + "Decoding " + SAMPLE + ": " + frames + " frames, "
                        + String.format("%.2f", frames * 0.02) + " s of speech, 50 frames a call"
                        + NL), out);
        assertTrue(out.contains("  100 of " + frames + " frames ("), out);
        assertTrue(out.contains(NL + "Decoded " + frames + " frames, "
                + String.format("%.2f", frames * 0.02) + " s of speech, in "), out);
        assertTrue(out.contains(" times faster than real time" + NL + "Wrote " + wav + NL), out);

        byte[] samples = BridgeFixture.samplesOfWav(Files.readAllBytes(wav));
        assertEquals(frames * 320, samples.length);
        assertArrayEquals(expectedSpeech(vcw), samples);
        assertEquals(List.of("sample.wav"), filesInDir(), "no temporary file left");
    }

    /**
     * A failed run: exit status 1, the expected lines, and nothing but the test's input file left
     * in the folder: no WAV file, no temporary file.
     */
    private void assertFails(ChildJvm.Result result, String... lines) throws IOException {
        assertEquals(List.of(lines), result.err());
        assertEquals(1, result.exit());
        assertEquals(List.of("input.vcw"), filesInDir(), "only the input is left");
    }

    private Path input(int bytes) throws IOException {
        Path vcw = dir.resolve("input.vcw");
        byte[] content = new byte[bytes];
        Arrays.fill(content, (byte) 0x11);
        Files.write(vcw, content);
        return vcw;
    }

    @ParameterizedTest
    @ValueSource(strings = {"missing", "folder", "15 bytes", "empty", "no folder", "folder out"})
    void badInputOrOutput(String kind) throws IOException {
        Path vcw = input(kind.equals("15 bytes") ? 15 : kind.equals("empty") ? 0 : 14);
        Path wav = dir.resolve("out.wav");
        String error =
                switch (kind) {
                    case "missing" -> {
                        vcw = dir.resolve("missing.vcw");
                        yield "cannot read " + vcw + ": no such file or directory";
                    }
                    case "folder" -> {
                        vcw = Files.createDirectory(dir.resolve("folder.vcw"));
                        yield "cannot read " + vcw + ": it is a directory";
                    }
                    case "15 bytes" -> vcw + " is not a VCW file: its 15 bytes are not a whole"
                            + " number of 7-byte frames";
                    case "empty" -> vcw + " holds no VCW frames: the file is empty";
                    case "no folder" -> {
                        wav = dir.resolve("nowhere").resolve("out.wav");
                        yield "cannot write " + wav + ": no such file or directory";
                    }
                    default -> {
                        wav = dir;
                        yield "cannot write " + dir + ": it is a directory";
                    }
                };
        ChildJvm.Result result = demo(vcw.toString(), wav.toString());
        if (kind.equals("folder")) {
            Files.delete(vcw);
        }
        assertFails(result, "error: " + error);
    }

    @ParameterizedTest
    @ValueSource(strings = {"same name", "symbolic link", "hard link"})
    void neverWritesOverItsInput(String kind) throws IOException {
        Path vcw = input(14);
        byte[] before = Files.readAllBytes(vcw);
        Path wav =
                switch (kind) {
                    case "same name" -> vcw;
                    case "symbolic link" ->
                            Files.createSymbolicLink(dir.resolve("out.wav"), vcw.getFileName());
                    default -> {
                        try {
                            yield Files.createLink(dir.resolve("out.wav"), vcw);
                        } catch (UnsupportedOperationException | IOException e) {
                            yield Assumptions.abort("no hard links in " + dir + ": " + e);
                        }
                    }
                };
        ChildJvm.Result result = demo(vcw.toString(), wav.toString());
        assertEquals(List.of("error: cannot write " + wav + ": it is the input file"),
                result.err());
        assertEquals(1, result.exit());
        assertArrayEquals(before, Files.readAllBytes(vcw), "the input's bytes");
        assertEquals(kind.equals("symbolic link"), Files.isSymbolicLink(wav), "the link is kept");
        List<String> files =
                kind.equals("same name") ? List.of("input.vcw") : List.of("input.vcw", "out.wav");
        assertEquals(files, filesInDir(), "no temporary file left");
    }

    @Test
    void noDeviceAttached() throws IOException {
        Path vcw = input(14);
        assertFails(demoWithFault("no-devices", vcw.toString(), dir.resolve("out.wav").toString()),
                "Usb3kDecoder::open - no USB-3000 attached",
                "error: cannot open the USB-3000: no USB-3000 attached",
                "  fix: plug the USB-3000 in, then try again"
                        + " (usb3k-probe lists the FTDI devices D2XX finds)");
    }

    /** One line with the loader's reasons, for one input and for several, never a stack trace. */
    @ParameterizedTest
    @ValueSource(strings = {"out.wav", "several into the folder"})
    void aLibraryThatCannotBeLoadedIsOneLine(String target) throws IOException {
        String vcw = input(14).toString();
        ChildJvm.Result result = target.startsWith("several")
                ? demoWithFault("no-library", vcw, vcw, dir.toString())
                : demoWithFault("no-library", vcw, dir.resolve(target).toString());
        String line = result.err().get(0);
        assertTrue(line.matches(
                "error: cannot load the usb3k library: .*/nonexistent/libusb3k\\.so.*"), line);
        assertFails(result, line);
    }

    @Test
    void aFailedInitializeKeepsAnEarlierWavFile() throws IOException {
        Path vcw = input(14);
        Path wav = dir.resolve("out.wav");
        Files.writeString(wav, "an earlier result");
        ChildJvm.Result result =
                demoWithFault("reset-unanswerable", vcw.toString(), wav.toString());
        assertEquals(List.of(
                "USB3K::reset - no ready field in response",
                "Usb3kDecoder::open - Cannot reset USB-3000 device EMU30001",
                "error: cannot open the USB-3000: Cannot reset USB-3000 device EMU30001",
                "  fix: unplug the device, plug it in again and try again"
                        + " (usb3k-probe shows which step fails)"),
                result.err());
        assertEquals(1, result.exit());
        assertEquals("an earlier result", Files.readString(wav));
        assertEquals(List.of("input.vcw", "out.wav"), filesInDir());
    }

    @Test
    void aFrameTheDeviceFailsTwiceIsSilenceAndTheWavIsWritten() throws IOException {
        Path wav = dir.resolve("out.wav");
        Files.copy(SAMPLE, dir.resolve("input.vcw"));
        ChildJvm.Result result = demoWithFault("channel-120-unanswered-twice",
                dir.resolve("input.vcw").toString(), wav.toString());
        assertEquals(0, result.exit(), result.err().toString());
        assertEquals(List.of(
                "USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                "USB3K::decode - did not receive speech response",
                "USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                "USB3K::decode - did not receive speech response"), result.err());
        assertTrue(result.out().contains("  input.vcw frame 120 is silence: USB3K::receivePacket"
                + " - failed to read packet header: wanted 4, got 0; USB3K::decode - did not"
                + " receive speech response; USB3K::receivePacket - failed to read packet header:"
                + " wanted 4, got 0; USB3K::decode - did not receive speech response" + NL),
                result.out());
        assertTrue(result.out().contains(
                "Concealed 1 frames the device failed twice (silence)" + NL), result.out());
        byte[] expected = expectedSpeech(Files.readAllBytes(SAMPLE));
        Arrays.fill(expected, 119 * 320, 120 * 320, (byte) 0);
        assertArrayEquals(expected, BridgeFixture.samplesOfWav(Files.readAllBytes(wav)));
    }

    @Test
    void aDeviceThatAnswersNothingLeavesNoWav() throws IOException {
        Path wav = dir.resolve("out.wav");
        Files.copy(SAMPLE, dir.resolve("input.vcw"));
        ChildJvm.Result result = demoWithFault(
                "channel-from-120-unanswered", dir.resolve("input.vcw").toString(), wav.toString());
        assertEquals("error: USB-3000 EMU30001 decoded none of frames 120 to 169 of the VCW stream,"
                + " not even after a reset: it is still attached but answers nothing usable (the"
                + " lines above say why); "
                + wav + " not written",
                result.err().get(result.err().size() - 2));
        assertEquals("  fix: check the device's power, unplug it and plug it in again, then try again",
                result.err().get(result.err().size() - 1));
        assertEquals(1, result.exit());
        assertEquals(List.of("input.vcw"), filesInDir(), "only the input is left");
        assertTrue(result.out().contains("  100 of "), result.out());
    }

    @Test
    void severalInputsAreDecodedOnEveryReadyDevice() throws IOException {
        Path out = Files.createDirectory(dir.resolve("out"));
        byte[] vcw = Files.readAllBytes(SAMPLE);
        String[] args = new String[5];
        for (int i = 0; i < 4; i++) {
            args[i] = Files.write(dir.resolve("in" + i + ".vcw"), vcw).toString();
        }
        args[4] = out.toString();
        ChildJvm.Result result = demoWithFault("two-devices", args);
        assertEquals(0, result.exit(), result.err().toString());
        assertEquals(List.of(), result.err());
        for (int i = 0; i < 4; i++) {
            assertArrayEquals(expectedSpeech(vcw),
                    BridgeFixture.samplesOfWav(Files.readAllBytes(out.resolve("in" + i + ".wav"))));
        }
        assertTrue(result.out().contains("EMU30001: "), result.out());
        assertTrue(result.out().contains("EMU30002: "), result.out());
        assertTrue(result.out().contains("Decoded 4 files on 2 devices in "), result.out());
    }

    @Test
    void aDeviceNamedOnTheCommandLineIsTheOneUsed() throws IOException {
        Path wav = dir.resolve("out.wav");
        ChildJvm.Result result = demoWithFault("two-devices", "--device", "EMU30002",
                SAMPLE.toString(), wav.toString());
        assertEquals(0, result.exit(), result.err().toString());
        assertTrue(result.out().startsWith("Device: USB-3000 EMU30002, \"USB-3000 (emulated)\""),
                result.out());
        assertEquals(List.of("Usb3kDecoder::open - no USB-3000 with serial number NOSUCH01",
                "error: cannot open the USB-3000: no USB-3000 with serial number NOSUCH01",
                "  fix: plug that USB-3000 in, or name one usb3k-probe lists"),
                demo("--device", "NOSUCH01", SAMPLE.toString(), wav.toString()).err());
    }

    /** Prints the device attached when it starts, and ends with standard input. */
    @Test
    void watchPrintsTheAttachedDeviceUntilInputEnds() throws Exception {
        ChildJvm.Started child = ChildJvm.start(DecodeVcw.class, null, Map.of(), "--watch");
        String expected = "Watching for USB-3000s until standard input ends (Ctrl-D)"
                + NL + "attached: EMU30001 (ready)" + NL;
        for (int i = 0; i < 200 && !Files.readString(child.out()).equals(expected); i++) {
            Thread.sleep(50);
        }
        child.process().getOutputStream().close();
        ChildJvm.Result result = ChildJvm.finish(child);
        assertEquals(0, result.exit());
        assertEquals(expected, result.out());
        assertEquals(List.of(), result.err());
    }

    /**
     * --live: the speech of each frame from standard input is on standard output before the next
     * frame is sent, and all of it is each frame's own speech.
     */
    @Test
    void liveWritesEachFramesSpeechAsItArrives() throws Exception {
        byte[] vcw = Files.readAllBytes(SAMPLE);
        ChildJvm.Started child = ChildJvm.start(DecodeVcw.class, null, Map.of(), "--live");
        OutputStream frames = child.process().getOutputStream();
        frames.write(vcw, 0, 7);
        frames.flush();
        for (int i = 0; i < 600 && Files.size(child.out()) < 320; i++) {
            Thread.sleep(50);
        }
        assertEquals(320, Files.size(child.out()), "the first frame's speech, before the others");
        frames.write(vcw, 7, vcw.length - 7);
        frames.close();
        ChildJvm.Result result = ChildJvm.finish(child);
        assertEquals(0, result.exit(), result.err().toString());
        assertArrayEquals(expectedSpeech(vcw), result.out().getBytes(StandardCharsets.ISO_8859_1));
        assertEquals(List.of("Live: USB-3000 EMU30001, speech on standard output (8 kHz, 16-bit"
                        + " little-endian, mono)",
                String.format("Live: %d frames, %.2f s of speech, 0 concealed", vcw.length / 7,
                        vcw.length / 7 * 0.02)),
                result.err());
    }

    /** The library's refusal of a token file, as the demo prints any failure. */
    @Test
    void aTokenFileOfTheServersFormIsRefusedWithoutQuotingTheToken() throws IOException {
        Path tokens = Files.writeString(dir.resolve("token"), "# the monitor's\nmonitor:s3cret\n");
        ChildJvm.Result result = demo("--server", "http://127.0.0.1:1", "--token-file",
                tokens.toString(), SAMPLE.toString(), dir.resolve("out.wav").toString());
        assertEquals(1, result.exit());
        assertEquals(List.of("error: the token file " + tokens + " holds a line name:token, as the"
                        + " server's own token file does: leave out \"name:\" and keep only the"
                        + " token"),
                result.err());
    }

    @Test
    void wrongUsage() {
        ChildJvm.Result result = demo("only-one-argument");
        assertEquals(2, result.exit());
        assertEquals(List.of("usage: java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw OUTPUT.wav",
                "       java -jar usb3k-demo.jar [--device SERIAL] INPUT.vcw... FOLDER",
                "       java -jar usb3k-demo.jar --server URI [--server URI...] --token-file FILE"
                        + " [--device SERIAL] INPUT.vcw OUTPUT.wav",
                "       java -jar usb3k-demo.jar [--server URI... --token-file FILE]"
                        + " [--device SERIAL] --live [FRAMES] >SPEECH",
                "       java -jar usb3k-demo.jar --watch"),
                result.err());
    }
}
