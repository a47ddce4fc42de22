package com.pelmar.base.audio.codec;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Request;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** What the process's environment changes: no D2XX library at all, USB3K_SERIAL, USB3K_TRACE. */
class EnvironmentTest {
    private static final String NO_LIBRARY =
            "USB3KFactory::USB3KFactory - cannot load the D2XX library: libftd2xx.so: cannot open"
                    + " shared object file: No such file or directory";

    /** Calls the four methods in a JVM whose loader finds no D2XX library. */
    public static final class WithoutDriver {
        public static void main(String[] args) {
            System.out.println("initialize=" + USB3KBridge.initialize());
            System.out.println("getInitError=" + USB3KBridge.getInitError());
            byte[] pcm = BridgeFixture.untouched(320);
            USB3KBridge.decode(new byte[7], 0, pcm, 0);
            System.out.println("pcm untouched=" + Arrays.equals(pcm, BridgeFixture.untouched(320)));
            System.out.println("shutdown=" + USB3KBridge.shutdown());
        }
    }

    @Test
    void withoutAnyD2xxLibraryTheClassLoadsAndSaysNoDevice() {
        Map<String, String> environment = new HashMap<>();
        environment.put("LD_LIBRARY_PATH", null);
        ChildJvm.Result result =
                ChildJvm.finish(ChildJvm.start(WithoutDriver.class, null, environment));
        assertEquals(0, result.exit(), result.err().toString());
        assertEquals(
                String.join(
                        System.lineSeparator(),
                        "initialize=false",
                        "getInitError=No USB-3000 devices detected",
                        "pcm untouched=true",
                        "shutdown=true",
                        ""),
                result.out());
        assertEquals(
                List.of(
                        NO_LIBRARY,
                        "No USB-3000 devices detected",
                        "USB3KBridge::decode - no current device"),
                result.err());
    }

    /** Fails to initialize, puts the D2XX library (args[1]) where the loader looks, tries again. */
    public static final class DriverInstalledMeanwhile {
        public static void main(String[] args) throws IOException {
            System.out.println("before=" + USB3KBridge.initialize());
            USB3KBridge.shutdown();
            Files.copy(Path.of(args[1]), Path.of(args[0], "libftd2xx.so"));
            System.out.println("after=" + USB3KBridge.initialize());
        }
    }

    @Test
    void aDriverInstalledAfterAFailedInitializeIsFoundByTheNext(@TempDir Path folder) {
        String emulator =
                Path.of(System.getenv("LD_LIBRARY_PATH").split(":")[0], "libftd2xx.so").toString();
        ChildJvm.Result result =
                ChildJvm.finish(
                        ChildJvm.start(
                                DriverInstalledMeanwhile.class,
                                null,
                                Map.of("LD_LIBRARY_PATH", folder.toString()),
                                folder.toString(),
                                emulator));
        assertEquals(
                "before=false" + System.lineSeparator() + "after=true" + System.lineSeparator(),
                result.out());
        assertEquals(List.of(NO_LIBRARY, "No USB-3000 devices detected"), result.err());
    }

    /** Attaches a second emulated USB-3000, then decodes on the device USB3K_SERIAL names. */
    public static final class OnOneDevice {
        public static void main(String[] args) {
            Emulator.recordTranscript(true);
            Emulator.addDevice(Emulator.USB3000_ID, "EMU30002", "USB-3000 (emulated)");
            System.out.println("initialize=" + USB3KBridge.initialize());
            byte[] vcw = BridgeFixture.frames(200, 7);
            byte[] pcm = new byte[200 * BridgeFixture.SPEECH];
            USB3KBridge.decode(vcw, 0, pcm, 0);
            System.out.println(
                    "speech right="
                            + Arrays.equals(pcm, BridgeFixture.expectedSpeechOfAll(vcw, 0)));
            System.out.println(
                    "opened="
                            + Emulator.transcript()
                                    .lines()
                                    .filter(line -> line.startsWith("FT_OpenEx("))
                                    .collect(Collectors.joining(" ")));
            System.out.println(
                    "frames on EMU30001="
                            + Emulator.requestCount("EMU30001", Request.CHANNEL)
                            + " on EMU30002="
                            + Emulator.requestCount("EMU30002", Request.CHANNEL));
        }
    }

    @Test
    void twoProcessesEachDecodeOnTheDeviceTheyName() {
        ChildJvm.Started first =
                ChildJvm.start(OnOneDevice.class, null, Map.of("USB3K_SERIAL", "EMU30001"));
        ChildJvm.Started second =
                ChildJvm.start(OnOneDevice.class, null, Map.of("USB3K_SERIAL", "EMU30002"));
        ChildJvm.Result one = ChildJvm.finish(first);
        ChildJvm.Result two = ChildJvm.finish(second);

        assertEquals(List.of(), one.err());
        assertEquals(
                String.join(
                        System.lineSeparator(),
                        "initialize=true",
                        "speech right=true",
                        "opened=FT_OpenEx(EMU30001, 1) -> 0",
                        "frames on EMU30001=200 on EMU30002=0",
                        ""),
                one.out());
        assertEquals(List.of(), two.err());
        assertEquals(
                String.join(
                        System.lineSeparator(),
                        "initialize=true",
                        "speech right=true",
                        "opened=FT_OpenEx(EMU30002, 1) -> 0",
                        "frames on EMU30001=0 on EMU30002=200",
                        ""),
                two.out());
    }

    @Test
    void anUnknownSerialNumberIsNamedAndNoDeviceIsOpened() {
        ChildJvm.Result result =
                ChildJvm.finish(
                        ChildJvm.start(
                                OnOneDevice.class, null, Map.of("USB3K_SERIAL", "NOSUCH01")));
        assertTrue(result.out().startsWith("initialize=false"), result.out());
        assertTrue(result.out().contains("opened=" + System.lineSeparator()), result.out());
        assertEquals(
                List.of(
                        "USB3KFactory::USB3KFactory - no USB-3000 with serial number NOSUCH01"
                                + " (USB3K_SERIAL)",
                        "No USB-3000 devices detected",
                        "USB3KBridge::decode - no current device"),
                result.err());
    }

    /** Initializes and decodes one frame of zeros. */
    public static final class OneFrame {
        public static void main(String[] args) {
            USB3KBridge.initialize();
            USB3KBridge.decode(new byte[7], 0, new byte[320], 0);
        }
    }

    @Test
    void theTraceShowsEveryPacketOnlyWhenAskedFor() {
        ChildJvm.Result traced =
                ChildJvm.finish(ChildJvm.start(OneFrame.class, null, Map.of("USB3K_TRACE", "1")));
        List<String> lines = traced.err();
        // Six exchanges: product ID, version, reset, stop codec, rate table, the frame.
        assertEquals(12, lines.size(), lines.toString());
        assertEquals("usb3k-trace >>: 61 00 03 00 30 2f 1c ", lines.get(0));
        assertEquals(
                "usb3k-trace <<: 61 00 0c 00 30 55 53 42 2d 33 30 30 30 00 2f 79 ", lines.get(1));
        assertEquals(
                "usb3k-trace >>: 61 00 0b 01 01 31 00 00 00 00 00 00 00 2f 15 ", lines.get(10));
        String speech = lines.get(11);
        assertTrue(speech.startsWith("usb3k-trace <<: 61 01 44 02 00 a0 "), speech);
        assertEquals("usb3k-trace <<: ".length() + 328 * 3, speech.length());

        ChildJvm.Result quiet =
                ChildJvm.finish(ChildJvm.start(OneFrame.class, null, Map.of("USB3K_TRACE", "0")));
        assertEquals(List.of(), quiet.err());
    }
}
