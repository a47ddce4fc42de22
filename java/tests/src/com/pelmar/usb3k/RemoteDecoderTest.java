package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.SPEECH;
import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Fault;
import com.pelmar.usb3k.emulator.Request;
import java.io.IOException;
import java.io.InputStream;
import java.net.ServerSocket;
import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.CertificateFactory;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import javax.net.ssl.SSLContext;
import javax.net.ssl.TrustManagerFactory;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/**
 * Remote decoders through a real usb3k-server on loopback over the emulator: the same speech,
 * concealment and listener calls as a local decoder, and each network failure a Usb3kException
 * with its reason, cause and fix.
 */
class RemoteDecoderTest {
    /** The emulator's request and answer faults, as the server's fault library takes them. */
    private static final int CHANNEL = 5;
    private static final int NO_ANSWER = 0;
    private static final int WRONG_START = 2;
    private static final int MISSING_FIELD = 5;

    @TempDir Path dir;

    private record Concealed(long frame, List<String> lines) {}

    /** What one decodeFile of the scenario gave. */
    private record Run(long decoded, long concealed, List<Long> progress, List<Concealed> heard,
            byte[] samples) {}

    private Run decodeWithFaults(Usb3kDecoder decoder, byte[] vcw) throws IOException {
        Path vcwFile = Files.write(dir.resolve("in.vcw"), vcw);
        Path wav = dir.resolve("out.wav");
        List<Concealed> heard = new ArrayList<>();
        List<Long> progress = new ArrayList<>();
        long decoded = decoder.decodeFile(vcwFile, wav, 300, progress::add,
                (frame, why) -> heard.add(new Concealed(frame, why)));
        return new Run(decoded, decoder.framesConcealed(), progress, heard,
                samplesOfWav(Files.readAllBytes(wav)));
    }

    @Test
    void aStreamWithFaultsAtKnownFramesIsTheSameLocallyAndRemotely() throws Exception {
        // Frame 100 fails once and is decoded when sent again; frames 400 and 401 fail twice each,
        // in different ways, and are concealed.
        byte[] vcw = frames(1000, 22);
        freshBridge();
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 101, Fault.NO_ANSWER, 0);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 402, Fault.NO_ANSWER, 0);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 403, Fault.WRONG_START, 0x7f);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 404, Fault.MISSING_FIELD, 0);
        Emulator.faultAnswer(DEFAULT_SERIAL, Request.CHANNEL, 405, Fault.MISSING_FIELD, 0);
        Run local;
        try (Usb3kDecoder decoder = openQuietly()) {
            local = decodeWithFaults(decoder, vcw);
        }
        String faults = String.join(";",
                fault(101, NO_ANSWER, 0), fault(402, NO_ANSWER, 0), fault(403, WRONG_START, 0x7f),
                fault(404, MISSING_FIELD, 0), fault(405, MISSING_FIELD, 0));
        Run remote;
        try (ServerProcess server = ServerProcess.start(dir, DEFAULT_SERIAL, faults, false);
                Usb3kDecoder decoder = Usb3kDecoder.connect(server.uri(), ServerProcess.TOKEN)) {
            assertEquals(DEFAULT_SERIAL, decoder.serialNumber());
            remote = decodeWithFaults(decoder, vcw);
        }
        byte[] expected = expectedSpeechOfAll(vcw, 0);
        Arrays.fill(expected, 400 * SPEECH, 402 * SPEECH, (byte) 0);
        assertEquals(List.of(400L, 401L), local.heard().stream().map(Concealed::frame).toList());
        assertEquals(local.decoded(), remote.decoded());
        assertEquals(local.concealed(), remote.concealed());
        assertEquals(local.progress(), remote.progress());
        assertEquals(local.heard(), remote.heard(), "the same frames, with the same lines");
        assertArrayEquals(expected, remote.samples(), "every frame's speech, or silence");
    }

    private static String fault(int occurrence, int fault, int value) {
        return DEFAULT_SERIAL + ":" + CHANNEL + ":" + occurrence + ":" + fault + ":" + value;
    }

    @Test
    void decodeCountsUpToTheFirstFrameTheServerConcealed() throws Exception {
        byte[] vcw = frames(400, 5);
        try (ServerProcess server = ServerProcess.start(dir, DEFAULT_SERIAL,
                fault(251, NO_ANSWER, 0) + ";" + fault(252, NO_ANSWER, 0), false)) {
            Usb3kDecoder decoder = Usb3kDecoder.connect(server.uri(), ServerProcess.TOKEN);
            byte[] pcm = new byte[400 * SPEECH];
            Arrays.fill(pcm, (byte) 1);
            assertEquals(250, decoder.decode(vcw, 0, 400, pcm, 0));
            byte[] expected = expectedSpeechOfAll(vcw, 0);
            Arrays.fill(expected, 250 * SPEECH, 400 * SPEECH, (byte) 0);
            assertArrayEquals(expected, pcm);
            assertEquals(0, decoder.framesConcealed(), "decode conceals nothing");
            // The stream stays in step: the next call decodes every frame.
            assertEquals(400, decoder.decode(vcw, 0, 400, pcm, 0));
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
            decoder.close();
            assertThrows(IllegalStateException.class, () -> decoder.decode(vcw, 0, 1, pcm, 0));
        }
    }

    @Test
    void eachNetworkFailureIsAnExceptionWithItsReasonCauseAndFix() throws Exception {
        try (ServerProcess server =
                ServerProcess.start(dir, DEFAULT_SERIAL, "", false, "--queue-timeout", "1")) {
            URI uri = server.uri();
            expectFailure(Usb3kException.Reason.UNAUTHORISED, uri,
                    () -> Usb3kDecoder.devices(uri, "wrong"));
            expectFailure(Usb3kException.Reason.UNAUTHORISED, uri,
                    () -> Usb3kDecoder.connect(uri, "wrong", DEFAULT_SERIAL));
            try (Usb3kDecoder holder = Usb3kDecoder.connect(uri, ServerProcess.TOKEN)) {
                assertEquals(DEFAULT_SERIAL, holder.serialNumber());
                expectFailure(Usb3kException.Reason.NO_DEVICE_FREE, uri,
                        () -> Usb3kDecoder.connect(uri, ServerProcess.TOKEN));
            }
            Usb3kDecoder.connect(uri, ServerProcess.TOKEN).close();
        }
        int port;
        try (ServerSocket socket = new ServerSocket(0)) {
            port = socket.getLocalPort();
        }
        URI nobody = URI.create("http://127.0.0.1:" + port);
        expectFailure(Usb3kException.Reason.SERVER_UNREACHABLE, nobody,
                () -> Usb3kDecoder.connect(nobody, ServerProcess.TOKEN));

        Path cert = dir.resolve("server.crt");
        Path key = dir.resolve("server.key");
        Process openssl = new ProcessBuilder("openssl", "req", "-x509", "-newkey", "rsa:2048",
                "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1",
                "-keyout", key.toString(), "-out", cert.toString())
                .redirectErrorStream(true).start();
        openssl.getInputStream().readAllBytes();
        assertEquals(0, openssl.waitFor());
        try (ServerProcess server = ServerProcess.start(dir, DEFAULT_SERIAL, "", false,
                "--tls-cert", cert.toString(), "--tls-key", key.toString())) {
            URI uri = server.uri();
            expectFailure(Usb3kException.Reason.SERVER_NOT_TRUSTED, uri,
                    () -> Usb3kDecoder.connect(uri, ServerProcess.TOKEN));
            SSLContext trusting = trusting(cert);
            assertEquals(List.of(DEFAULT_SERIAL),
                    Usb3kDecoder.devices(uri, ServerProcess.TOKEN, trusting).stream()
                            .map(Usb3kDevice::serialNumber).toList());
            byte[] vcw = frames(60, 3);
            byte[] pcm = new byte[60 * SPEECH];
            try (Usb3kDecoder decoder =
                    Usb3kDecoder.connect(uri, ServerProcess.TOKEN, null, trusting)) {
                assertEquals(60, decoder.decode(vcw, 0, 60, pcm, 0));
            }
            assertArrayEquals(expectedSpeechOfAll(vcw, 0), pcm);
        }
    }

    private static void expectFailure(Usb3kException.Reason reason, URI server, Executable call) {
        Usb3kException failure = assertThrows(Usb3kException.class, call);
        assertEquals(reason, failure.reason(), failure.toString());
        assertTrue(failure.getMessage().contains(server.toString()), failure.getMessage());
        assertFalse(failure.likelyCause().isEmpty(), failure.toString());
        assertFalse(failure.fix().isEmpty(), failure.toString());
    }

    private static SSLContext trusting(Path certificate) throws Exception {
        KeyStore store = KeyStore.getInstance(KeyStore.getDefaultType());
        store.load(null, null);
        try (InputStream in = Files.newInputStream(certificate)) {
            store.setCertificateEntry("server",
                    CertificateFactory.getInstance("X.509").generateCertificate(in));
        }
        TrustManagerFactory trust =
                TrustManagerFactory.getInstance(TrustManagerFactory.getDefaultAlgorithm());
        trust.init(store);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(null, trust.getTrustManagers(), null);
        return context;
    }
}
