package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.net.http.HttpClient;
import java.net.http.HttpRequest;
import java.net.http.HttpResponse;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * POST /v1/decode of a real usb3k-server on loopback over the emulator, read by the JDK's own
 * HttpClient, which asks for no trailer fields: the whole WAV with its comment chunk, and a decode
 * cut short by an unplug that the client sees as an incomplete answer.
 */
class RemoteHttpDecodeTest {
    private static final int CHANNEL = 5;
    private static final int UNPLUGGED = 17;
    private static final int FRAMES = 60;
    /** The comment chunk that ends the server's WAV: LIST, INFO, ICMT and 48 bytes of text. */
    private static final int COMMENT = 68;

    @TempDir Path dir;

    private static HttpRequest decode(ServerProcess server, String serial, byte[] vcw) {
        return HttpRequest.newBuilder(server.uri().resolve("/v1/decode?device=" + serial))
                .header("Authorization", "Bearer " + ServerProcess.TOKEN)
                .POST(HttpRequest.BodyPublishers.ofByteArray(vcw))
                .build();
    }

    @Test
    void theJdksHttpClientReadsAWholeDecodeAndFailsOneCutShort() throws Exception {
        byte[] vcw = frames(FRAMES, 9);
        // The second device is unplugged as the 30th frame reaches it, and not back in time.
        String unplug = "EMU30002:" + CHANNEL + ":30:" + UNPLUGGED + ":0";
        try (ServerProcess server = ServerProcess.start(dir, "EMU30001,EMU30002", unplug, false,
                "--reconnect-timeout", "1")) {
            HttpClient client = HttpClient.newHttpClient();
            HttpResponse<byte[]> whole = client.send(
                    decode(server, "EMU30001", vcw), HttpResponse.BodyHandlers.ofByteArray());
            assertEquals(200, whole.statusCode());
            byte[] wav = whole.body();
            int speech = FRAMES * SPEECH;
            assertEquals(44 + speech + COMMENT, wav.length);
            ByteBuffer header = ByteBuffer.wrap(wav).order(ByteOrder.LITTLE_ENDIAN);
            assertEquals(36 + speech + COMMENT, header.getInt(4), "RIFF size");
            assertEquals(speech, header.getInt(40), "data size");
            assertArrayEquals(
                    expectedSpeechOfAll(vcw, 0), Arrays.copyOfRange(wav, 44, 44 + speech));
            String comment = new String(wav, 44 + speech, COMMENT, StandardCharsets.US_ASCII);
            assertEquals("LIST<\0\0\0INFOICMT0\0\0\0Usb3k-Frames-Concealed: 0",
                    comment.substring(0, comment.indexOf('\0', 20)));

            assertThrows(IOException.class, () -> client.send(
                    decode(server, "EMU30002", vcw), HttpResponse.BodyHandlers.ofByteArray()));
        }
    }
}
