package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.ChildJvm;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.logging.ConsoleHandler;
import java.util.logging.Logger;
import org.junit.jupiter.api.Test;

/** The library's lines in the logger com.pelmar.usb3k, with and without -Dusb3k.stderr=false. */
class LoggingTest {
    /** A frame decoded when sent again, one concealed, a decode that stops, a failed open. */
    public static final class Glitches {
        public static void main(String[] args) throws Exception {
            System.setProperty("usb3k.stderr", args[0]);
            Logger.getLogger("").addHandler(new ConsoleHandler());
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
        List<String> written = new ArrayList<>();
        List<String> logged = new ArrayList<>();
        for (String level : List.of("INFO: ", "WARNING: ", "WARNING: ", "WARNING: ")) {
            written.addAll(noAnswer);
            noAnswer.forEach(line -> logged.add(level + line));
        }
        logged.add(6, "heard 400 " + written.subList(4, 8));
        logged.addAll(List.of("decoded 2", "WARNING: " + open, "thrown [" + open + "]"));
        written.add(open);
        Map<String, String> trace = Map.of("USB3K_TRACE", "1");
        ChildJvm.Started copied = ChildJvm.start(Glitches.class, null, trace, "true");
        ChildJvm.Started left = ChildJvm.start(Glitches.class, null, trace, "false");
        for (ChildJvm.Started child : List.of(copied, left)) {
            List<String> err = new ArrayList<>(ChildJvm.finish(child).err());
            List<String> ours = err.stream()
                    .filter(line -> line.matches("(INFO:|WARNING:|heard|decoded|thrown) .*"))
                    .toList();
            assertEquals(logged, ours, "the console's log and the program's lines");
            err.removeAll(ours);
            assertTrue(err.removeIf(line -> line.endsWith(" com.pelmar.usb3k.LibraryLog log")));
            assertEquals(child == copied ? written : List.of(), LibraryLog.withoutTrace(err));
            assertEquals(child == copied, err.size() > written.size(), "trace lines: " + err);
        }
    }
}
