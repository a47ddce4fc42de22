package com.pelmar.base.audio.codec;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Request;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The bridge as a newly started process finds it: nothing initialized yet. */
class FreshProcessTest {
    /** Runs in the child JVM: calls the bridge before any initialize and reports what it saw. */
    public static final class Child {
        public static void main(String[] args) {
            // The emulator keeps no transcript until asked; asking touches no device.
            Emulator.recordTranscript(true);
            System.out.println("getInitError=[" + USB3KBridge.getInitError() + "]");

            byte[] pcm = BridgeFixture.untouched(320);
            boolean decoded = USB3KBridge.decode(new byte[7], 0, pcm, 0);
            boolean untouched = Arrays.equals(pcm, BridgeFixture.untouched(320));
            System.out.println("decode=" + decoded + " pcm untouched=" + untouched);
            System.out.println("exchanges=" + Emulator.requestCount(null, Request.CHANNEL));

            System.out.println("shutdown=" + USB3KBridge.shutdown());
            System.out.println(
                    "opened="
                            + BridgeFixture.calls("FT_OpenEx")
                            + " closed="
                            + BridgeFixture.calls("FT_Close")
                            + " open now="
                            + Emulator.openHandles());
        }
    }

    @Test
    void beforeAnyInitialize() {
        ChildJvm.Result result = ChildJvm.run(Child.class);
        assertEquals(0, result.exit(), result.err().toString());
        assertEquals(
                String.join(
                        System.lineSeparator(),
                        "getInitError=[]",
                        "decode=false pcm untouched=true",
                        "exchanges=0",
                        "shutdown=true",
                        "opened=0 closed=0 open now=0",
                        ""),
                result.out());
        assertEquals(List.of("USB3KBridge::decode - no current device"), result.err());
    }
}
