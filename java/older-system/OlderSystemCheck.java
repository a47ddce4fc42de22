import com.pelmar.base.audio.codec.USB3KBridge;
import com.pelmar.usb3k.Usb3kDecoder;
import com.pelmar.usb3k.emulator.Emulator;
import java.util.Arrays;

/**
 * Decodes over the emulator kit as a user's program would on an older Linux, with nothing but
 * usb3k's jar and the kit's jar on the class path: frames through {@link Usb3kDecoder}, then
 * through the bridge, every block of speech checked against what the emulated USB-3000 answers.
 * Exits with 1 at the first difference. scripts/bullseye-test runs it, as a source file, in a
 * Debian 11 root.
 */
public final class OlderSystemCheck {
    private static final int DECODER_FRAMES = 500;
    private static final int BRIDGE_FRAMES = 100;

    private OlderSystemCheck() {}

    public static void main(String[] args) throws Exception {
        System.out.println("JVM: " + System.getProperty("java.vm.name") + " " + Runtime.version()
                + " (" + System.getProperty("os.arch") + ")");
        Emulator.reset();

        byte[] vcw = frames(DECODER_FRAMES);
        byte[] pcm = new byte[DECODER_FRAMES * Usb3kDecoder.SPEECH_BYTES];
        int decoded;
        try (Usb3kDecoder decoder = Usb3kDecoder.open()) {
            decoded = decoder.decode(vcw, 0, pcm, 0);
        }
        check("Usb3kDecoder", vcw, pcm, decoded);

        if (!USB3KBridge.initialize()) {
            fail("USB3KBridge.initialize() failed: " + USB3KBridge.getInitError());
        }
        byte[] bridgeVcw = frames(BRIDGE_FRAMES);
        byte[] bridgePcm = new byte[BRIDGE_FRAMES * Usb3kDecoder.SPEECH_BYTES];
        USB3KBridge.decode(bridgeVcw, 0, bridgePcm, 0);
        USB3KBridge.shutdown();
        // The bridge decodes every frame of the array or says why on standard error: a frame it
        // left out fails the check of its block.
        check("USB3KBridge", bridgeVcw, bridgePcm, BRIDGE_FRAMES);
    }

    /** Made-up VCW frames: the emulated device answers each with a tone of its own. */
    private static byte[] frames(int count) {
        byte[] vcw = new byte[count * Usb3kDecoder.FRAME_BYTES];
        for (int i = 0; i < vcw.length; i++) {
            vcw[i] = (byte) (i * 37 + 11);
        }
        return vcw;
    }

    /** Every block of the speech against the emulated device's answer to its frame. */
    private static void check(String by, byte[] vcw, byte[] pcm, int decoded) {
        int frames = vcw.length / Usb3kDecoder.FRAME_BYTES;
        if (decoded != frames) {
            fail(by + ": " + decoded + " of " + frames + " frames decoded");
        }
        for (int f = 0; f < frames; f++) {
            byte[] expected = Emulator.decodedSpeech(vcw, f * Usb3kDecoder.FRAME_BYTES);
            int from = f * Usb3kDecoder.SPEECH_BYTES;
            if (!Arrays.equals(expected, Arrays.copyOfRange(pcm, from, from + expected.length))) {
                fail(by + ": the speech of frame " + f + " is not the device's");
            }
        }
        System.out.println(by + ": " + decoded + " frames decoded, " + frames + " blocks checked");
    }

    private static void fail(String why) {
        System.out.println("FAILED: " + why);
        System.exit(1);
    }
}
