package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.ChildJvm;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.logging.LogManager;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** The library's lines in the logger com.pelmar.usb3k, with and without -Dusb3k.stderr=false. */
class LoggingTest {
    /**
     * With the wire trace on and the JDK's own logging configuration: a stream whose frame 100 is
     * decoded when sent again and whose frame 400 is silence, a decode that stops, a failed open.
     */
    public static final class Glitches {
        public static void main(String[] args) throws IOException {
            System.setProperty("usb3k.stderr", args[0]);
            Path config = Path.of(System.getProperty("java.home"), "conf", "logging.properties");
            try (InputStream in = Files.newInputStream(config)) {
                LogManager.getLogManager().readConfiguration(in);
            }
            for (int request : new int[] {101, 402, 403, 505}) {
                Emulator.faultAnswer(null, Request.CHANNEL, request, Fault.NO_ANSWER, 0);
            }
            try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
                decoder.audioStream(new ByteArrayInputStream(frames(500, 1)), 3500, 250, null,
                        (frame, lines) -> System.err.println("heard " + frame + " " + lines))
                        .readAllBytes();
                System.err.println("decoded " + decoder.decode(frames(3, 2), 0, new byte[960], 0));
                Usb3kDecoder.open("NOSUCH01");
            } catch (Usb3kException e) {
                System.err.println("thrown " + e.lines());
            }
        }
    }

    @Test
    void eachLineIsLoggedAtTheLevelOfWhatBecameOfItsCall() {
        List<String> noAnswer = List.of(
                "USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                "USB3K::decode - did not receive speech response");
        String open = "Usb3kDecoder::open - no USB-3000 with serial number NOSUCH01";
        List<String> warning = noAnswer.stream().map(line -> "WARNING: " + line).toList();
        List<String> logged = new ArrayList<>(noAnswer.stream().map(l -> "INFO: " + l).toList());
        logged.addAll(warning);
        logged.addAll(warning);
        logged.add("heard 400 [" + String.join(", ", noAnswer) + ", " + String.join(", ", noAnswer)
                + "]");
        logged.addAll(warning);
        logged.addAll(List.of("decoded 2", "WARNING: " + open, "thrown [" + open + "]"));
        List<String> written = new ArrayList<>();
        for (int call = 0; call < 4; call++) {
            written.addAll(noAnswer);
        }
        written.add(open);
        Map<String, String> trace = Map.of("USB3K_TRACE", "1");
        ChildJvm.Started copied = ChildJvm.start(Glitches.class, null, trace, "true");
        ChildJvm.Started left = ChildJvm.start(Glitches.class, null, trace, "false");
        for (ChildJvm.Started child : List.of(copied, left)) {
            Map<Boolean, List<String>> err = ChildJvm.finish(child).err().stream()
                    .collect(Collectors.partitioningBy(
                            line -> line.matches("(INFO:|WARNING:|heard|decoded|thrown) .*")));
            assertEquals(logged, err.get(true), "the console's log and the program's lines");
            List<String> rest = new ArrayList<>(err.get(false));
            assertTrue(rest.removeIf(line -> line.endsWith(" com.pelmar.usb3k.LibraryLog log")));
            assertEquals(err.get(false).size() - written.size(), rest.size(), "a date a record");
            assertEquals(child == copied ? written : List.of(), LibraryLog.withoutTrace(rest));
            assertEquals(child == copied, rest.size() > written.size(), "trace lines: " + rest);
        }
    }
}
