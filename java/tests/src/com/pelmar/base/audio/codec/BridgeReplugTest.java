package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The bridge and a device that is unplugged and plugged back in. */
class BridgeReplugTest {
    private static final String REMOVED =
            "USB3KBridge::decode - device EMU30001 is no longer attached";

    @BeforeEach
    void start() {
        freshBridge();
        Emulator.setRemovedHandleStatus(4);
    }

    /** Decodes the frames and checks every block is its own speech. */
    private static void decodesAll() {
        byte[] vcw = frames(5, 53);
        byte[] pcm = untouched(5 * SPEECH);
        List<String> lines = StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0));
        assertEquals(List.of(), lines);
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
    }

    @Test
    void aDecodeOnARemovedDeviceFailsAtOnceWithOneLine() {
        BridgeFixture.initializeQuietly();
        assertTrue(Emulator.detach(DEFAULT_SERIAL));
        byte[] vcw = frames(5, 51);
        byte[] pcm = untouched(5 * SPEECH);
        List<String> first = StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0));
        assertEquals(REMOVED, first.get(first.size() - 1), String.join("\n", first));
        long writes = BridgeFixture.calls("FT_Write");
        assertEquals(List.of(REMOVED),
                StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0)));
        assertEquals(writes, BridgeFixture.calls("FT_Write"), "nothing sent");
        assertArrayEquals(untouched(5 * SPEECH), pcm);

        assertTrue(Emulator.reattach(DEFAULT_SERIAL));
        BridgeFixture.initializeQuietly();
        decodesAll();
    }

    @ParameterizedTest(name = "shut down first: {0}")
    @ValueSource(booleans = {false, true})
    void initializeAfterAReplugFindsTheDeviceAgain(boolean shutDownFirst) {
        BridgeFixture.initializeQuietly();
        assertTrue(Emulator.detach(DEFAULT_SERIAL));
        assertTrue(Emulator.reattach(DEFAULT_SERIAL));
        if (shutDownFirst) {
            assertTrue(USB3KBridge.shutdown());
        }
        boolean[] initialized = {false};
        StandardError.capture(() -> initialized[0] = USB3KBridge.initialize());
        assertTrue(initialized[0], USB3KBridge.getInitError());
        decodesAll();
        assertEquals(1, Emulator.openHandles(), "the dead handle closed, the new one open");
    }
}
