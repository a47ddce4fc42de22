package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.initializeQuietly;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.D2xxFunction;
import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Calls that decode must refuse: one line on standard error, nothing written to the output array,
 * nothing sent to the device, false, and no Java exception.
 */
class DecodeRefusalTest {
    @BeforeEach
    void start() {
        freshBridge();
    }

    private static void assertRefused(
            byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset, String line) {
        byte[] before = pcm == null ? null : pcm.clone();
        Emulator.clearTranscript();
        boolean[] result = {true};
        List<String> lines =
                StandardError.capture(
                        () -> result[0] = USB3KBridge.decode(vcw, vcwOffset, pcm, pcmOffset));
        assertFalse(result[0]);
        assertEquals(List.of(line), lines);
        if (pcm != null) {
            assertArrayEquals(before, pcm, "output array");
        }
        assertEquals(List.of(), BridgeFixture.writtenPackets(), "nothing sent");
    }

    static Stream<Arguments> badArguments() {
        byte[] twoFrames = frames(2, 1);
        return Stream.of(
                Arguments.of("null input", null, 0, untouched(640), 0, "vcw array is null"),
                Arguments.of("null output", twoFrames, 0, null, 0, "pcm array is null"),
                Arguments.of("negative input offset", twoFrames, -1, untouched(640), 0,
                        "vcwOffset out of range: -1, vcw length 14"),
                Arguments.of("input offset past the end", twoFrames, 15, untouched(640), 0,
                        "vcwOffset out of range: 15, vcw length 14"),
                Arguments.of("largest input offset", twoFrames, Integer.MAX_VALUE, untouched(640),
                        0, "vcwOffset out of range: 2147483647, vcw length 14"),
                Arguments.of("negative output offset", twoFrames, 0, untouched(640), -1,
                        "pcmOffset out of range: -1, pcm length 640"),
                Arguments.of("output offset past the end, no frame", twoFrames, 14,
                        untouched(640), 641, "pcmOffset out of range: 641, pcm length 640"),
                Arguments.of("output one byte short", twoFrames, 0, untouched(639), 0,
                        "not enough room in pcm: wanted 640, got 639"),
                Arguments.of("output offset leaves too little", twoFrames, 0, untouched(640), 1,
                        "not enough room in pcm: wanted 640, got 639"),
                Arguments.of("largest output offset", twoFrames, 0, untouched(640),
                        Integer.MAX_VALUE, "pcmOffset out of range: 2147483647, pcm length 640"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("badArguments")
    void badArgumentsAreRefusedBeforeAnyExchange(
            String name, byte[] vcw, int vcwOffset, byte[] pcm, int pcmOffset, String message) {
        initializeQuietly();
        assertRefused(vcw, vcwOffset, pcm, pcmOffset, "USB3KBridge::decode - " + message);
    }

    @Test
    void withoutInitializeThereIsNoDevice() {
        assertRefused(frames(1, 1), 0, untouched(SPEECH), 0,
                "USB3KBridge::decode - no current device");
    }

    @Test
    void whenInitializeFoundNoDevice() {
        Emulator.clearDevices();
        StandardError.capture(USB3KBridge::initialize);
        assertRefused(frames(1, 1), 0, untouched(SPEECH), 0,
                "USB3KBridge::decode - no current device");
    }

    static Stream<Arguments> identificationFaults() {
        String s = Emulator.DEFAULT_SERIAL;
        return Stream.of(
                Arguments.of("product ID request not written",
                        (Runnable) () -> Emulator.failCall(s, D2xxFunction.FT_Write, 4, 1)),
                Arguments.of("version answer without its field",
                        (Runnable) () -> Emulator.faultAnswer(
                                s, Request.VERSION, 0, Fault.MISSING_FIELD, 0)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("identificationFaults")
    void whenTheDeviceDidNotIdentifyItself(String name, Runnable fault) {
        fault.run();
        boolean[] initialized = {true};
        StandardError.capture(() -> initialized[0] = USB3KBridge.initialize());
        assertFalse(initialized[0]);
        assertEquals("USB-3000 device EMU30001 is not ready", USB3KBridge.getInitError());
        assertRefused(frames(1, 1), 0, untouched(SPEECH), 0,
                "USB3KBridge::decode - device EMU30001 is not ready");
    }

    @Test
    void afterShutdown() {
        initializeQuietly();
        USB3KBridge.shutdown();
        assertRefused(frames(1, 1), 0, untouched(SPEECH), 0,
                "USB3KBridge::decode - no current device");
    }
}
