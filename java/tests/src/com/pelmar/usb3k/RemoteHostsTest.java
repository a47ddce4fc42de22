package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.net.ServerSocket;
import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * One host name that resolves to two loopback addresses, a usb3k-server on each (the JVM runs with
 * {@code jdk.net.hosts.file} naming the hosts file this test writes): a decoder of the name is one
 * of two servers, and fails over to the other.
 */
class RemoteHostsTest {
    private static final int SPEECH = Usb3kDecoder.SPEECH_BYTES;

    @TempDir Path dir;

    @Test
    void aNameOfTwoAddressesIsTwoServersThatADecoderFailsOverBetween() throws Exception {
        Files.writeString(Path.of(System.getProperty("jdk.net.hosts.file")),
                "127.0.0.1 usb3k-pool\n127.0.0.2 usb3k-pool\n");
        int port;
        try (ServerSocket socket = new ServerSocket(0)) {
            port = socket.getLocalPort();
        }
        URI pool = URI.create("http://usb3k-pool:" + port);
        byte[] vcw = frames(100, 4);
        byte[] pcm = new byte[100 * SPEECH];
        try (ServerProcess one =
                        ServerProcess.startAt("127.0.0.1", port, dir, "EMU30001", "", false);
                ServerProcess two =
                        ServerProcess.startAt("127.0.0.2", port, dir, "EMU30002", "", false);
                Usb3kDecoder first = Usb3kDecoder.connect(pool, ServerProcess.TOKEN)) {
            try (Usb3kDecoder second = Usb3kDecoder.connect(List.of(pool), ServerProcess.TOKEN)) {
                assertEquals(Set.of("EMU30001", "EMU30002"),
                        Set.of(first.serialNumber(), second.serialNumber()),
                        "the second on the address whose device is free");
            }
            assertEquals(50, first.decode(vcw, 0, 50, pcm, 0));
            boolean onOne = first.serialNumber().equals("EMU30001");
            (onOne ? one : two).kill();
            assertEquals(50,
                    first.decode(vcw, 50 * Usb3kDecoder.FRAME_BYTES, 50, pcm, 50 * SPEECH));
            assertEquals(onOne ? "EMU30002" : "EMU30001", first.serialNumber(),
                    "on the other address");
        }
        assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm, "every frame's speech, in order");
    }
}
