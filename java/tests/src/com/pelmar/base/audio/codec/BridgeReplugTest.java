package com.pelmar.base.audio.codec;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.untouched;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.pelmar.base.audio.codec.test.StandardError;
import com.pelmar.usb3k.emulator.Emulator;
import java.util.List;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** The bridge and a device that is unplugged and plugged back in. */
class BridgeReplugTest {
    @ParameterizedTest(name = "decode while away: {0}")
    @ValueSource(booleans = {false, true})
    void aDecodeOnARemovedDeviceFailsAtOnceAndInitializeFindsItAgain(boolean decodeWhileAway) {
        BridgeFixture.freshBridge();
        Emulator.setRemovedHandleStatus(4);
        BridgeFixture.initializeQuietly();
        Emulator.detach(DEFAULT_SERIAL);
        byte[] vcw = frames(5, 51), pcm = untouched(5 * SPEECH);
        if (decodeWhileAway) {
            String removed = "USB3KBridge::decode - device EMU30001 is no longer attached";
            List<String> first = StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0));
            assertEquals(removed, first.get(first.size() - 1));
            long writes = BridgeFixture.calls("FT_Write");
            assertEquals(List.of(removed), StandardError.capture(() -> USB3KBridge.decode(vcw, 0,
                    pcm, 0)));
            assertEquals(writes, BridgeFixture.calls("FT_Write"), "nothing sent");
        }
        Emulator.reattach(DEFAULT_SERIAL);
        StandardError.capture(() -> assertEquals(true, USB3KBridge.initialize()));
        assertEquals(List.of(), StandardError.capture(() -> USB3KBridge.decode(vcw, 0, pcm, 0)));
        assertArrayEquals(BridgeFixture.expectedSpeechOfAll(vcw, 0), pcm);
        assertEquals(1, Emulator.openHandles(), "the dead handle closed, the new one open");
    }
}
