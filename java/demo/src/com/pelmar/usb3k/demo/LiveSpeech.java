package com.pelmar.usb3k.demo;

import com.pelmar.usb3k.FrameNotDecodedException;
import com.pelmar.usb3k.Usb3kDecoder;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * {@code --live}: the frames of a live source (standard input, or a named pipe a receiver writes)
 * decoded as they arrive into raw speech on standard output, 8 kHz 16-bit little-endian mono,
 * flushed after each piece, so that a shell pipeline can play it while the source speaks. Its
 * lines (the device, a frame replaced by silence, the end) go to standard error, since standard
 * output is the speech.
 */
final class LiveSpeech {
    /** The most speech one read hands on: what the device decodes of a burst of frames. */
    private static final int SPEECH_PER_WRITE = DecodeVcw.FRAMES_PER_CALL * Usb3kDecoder.SPEECH_BYTES;

    private LiveSpeech() {}

    /** Decodes `frames` to its end into `speech`; returns the frames decoded. */
    static long play(Usb3kDecoder decoder, InputStream frames, OutputStream speech, PrintStream err)
            throws DemoFailure {
        err.printf("Live: USB-3000 %s, speech on standard output (8 kHz, 16-bit little-endian,"
                + " mono)%n", decoder.serialNumber());
        long bytes = 0;
        try (AudioInputStream stream = decoder.audioStream(frames, AudioSystem.NOT_SPECIFIED,
                DecodeVcw.FRAMES_PER_CALL, null, (frame, lines) -> err.printf(
                        "  frame %d is silence: %s%n", frame + 1, String.join("; ", lines)))) {
            byte[] buffer = new byte[SPEECH_PER_WRITE];
            for (int count; (count = stream.read(buffer)) >= 0; ) {
                if (!handOn(speech, buffer, count)) {
                    break;
                }
                bytes += count;
            }
        } catch (FrameNotDecodedException e) {
            throw new DemoFailure(e.getMessage() + " (the lines above say why)", e);
        } catch (IOException e) {
            throw new DemoFailure("cannot read the frames: " + DecodeVcw.reason(e));
        }
        long decoded = bytes / Usb3kDecoder.SPEECH_BYTES;
        err.printf("Live: %d frames, %.2f s of speech, %d concealed%n", decoded,
                decoded * DecodeVcw.SECONDS_PER_FRAME, decoder.framesConcealed());
        return decoded;
    }

    /** Writes and flushes one piece; false once the player went away (a closed pipe). */
    private static boolean handOn(OutputStream speech, byte[] buffer, int count) {
        try {
            speech.write(buffer, 0, count);
            speech.flush();
        } catch (IOException e) {
            return false;
        }
        // A PrintStream (standard output) keeps its failures to itself.
        return !(speech instanceof PrintStream printed && printed.checkError());
    }
}
