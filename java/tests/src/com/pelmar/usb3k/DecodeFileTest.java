package com.pelmar.usb3k;

import static com.pelmar.base.audio.codec.BridgeFixture.expectedSpeechOfAll;
import static com.pelmar.base.audio.codec.BridgeFixture.frames;
import static com.pelmar.base.audio.codec.BridgeFixture.freshBridge;
import static com.pelmar.base.audio.codec.BridgeFixture.samplesOfWav;
import static com.pelmar.usb3k.Usb3kDecoderTest.openQuietly;
import static com.pelmar.usb3k.emulator.Emulator.DEFAULT_SERIAL;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelmar.usb3k.emulator.Emulator;
import com.pelmar.usb3k.emulator.Request;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * decodeFile never writes over its input, refuses folders by name, writes through a symbolic link,
 * names the target and not its temporary file, and refuses to start on a closed decoder.
 */
class DecodeFileTest {
    @TempDir Path dir;
    private final byte[] frames = frames(30, 31);
    private Path vcw;

    @BeforeEach
    void start() throws IOException {
        freshBridge();
        Emulator.recordTranscript(false);
        vcw = Files.write(dir.resolve("in.vcw"), frames);
    }

    private static List<String> listing(Path folder) throws IOException {
        try (Stream<Path> files = Files.list(folder)) {
            return files.map(f -> f.getFileName().toString()).sorted().toList();
        }
    }

    /** The failure of decodeFile, which sent no frame, wrote nothing and left the input whole. */
    private FileSystemException refused(Path in, Path wav) throws IOException {
        List<String> before = listing(dir);
        FileSystemException thrown;
        try (Usb3kDecoder decoder = openQuietly()) {
            thrown = assertThrows(FileSystemException.class, () -> decoder.decodeFile(in, wav));
        }
        assertEquals(0, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL), "frames sent");
        assertEquals(before, listing(dir), "the folder");
        assertArrayEquals(frames, Files.readAllBytes(vcw), "the input's bytes");
        return thrown;
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"same path", "./", "..", "symbolic link", "hard link"})
    void theInputByAnyNameIsRefused(String how) throws IOException {
        Path wav =
                switch (how) {
                    case "same path" -> vcw;
                    case "./" -> dir.resolve(".").resolve("in.vcw");
                    case ".." -> Files.createDirectory(dir.resolve("sub")).resolve("../in.vcw");
                    case "symbolic link" ->
                            Files.createSymbolicLink(dir.resolve("out.wav"), Path.of("in.vcw"));
                    default -> Files.createLink(dir.resolve("out.wav"), vcw);
                };
        FileSystemException thrown = refused(vcw, wav);
        assertEquals("cannot write " + wav + ": it is the input file", thrown.getMessage());
        assertEquals(wav.toString(), thrown.getFile());
    }

    @Test
    void aFolderAsInputOrTargetIsRefusedByName() throws IOException {
        Path folder = Files.createDirectory(dir.resolve("folder"));
        Path link = Files.createSymbolicLink(dir.resolve("link.wav"), folder);
        assertEquals("cannot read " + folder + ": it is a directory",
                refused(folder, dir.resolve("out.wav")).getMessage());
        assertEquals("cannot write " + folder + ": it is a directory",
                refused(vcw, folder).getMessage());
        assertEquals("cannot write " + link + ": it is a directory",
                refused(vcw, link).getMessage());
    }

    @Test
    void aSymbolicLinkAsTargetIsKeptAndTheFileItLeadsToWritten() throws IOException {
        Path elsewhere = Files.createDirectory(dir.resolve("elsewhere"));
        Path earlier = Files.writeString(elsewhere.resolve("earlier.wav"), "an earlier result");
        Path relative = dir.relativize(earlier);
        Path link = Files.createSymbolicLink(dir.resolve("out.wav"), relative);
        Path chain = Files.createSymbolicLink(dir.resolve("chain.wav"), link.getFileName());
        Path dangling = Files.createSymbolicLink(dir.resolve("new.wav"),
                relative.resolveSibling("new.wav"));
        try (Usb3kDecoder decoder = openQuietly()) {
            assertEquals(30, decoder.decodeFile(vcw, chain));
            assertEquals(30, decoder.decodeFile(vcw, dangling));
        }
        assertEquals(relative, Files.readSymbolicLink(link));
        assertEquals(Path.of("out.wav"), Files.readSymbolicLink(chain));
        for (Path written : List.of(earlier, elsewhere.resolve("new.wav"))) {
            assertArrayEquals(expectedSpeechOfAll(frames, 0),
                    samplesOfWav(Files.readAllBytes(written)), written.toString());
        }
        assertEquals(List.of("chain.wav", "elsewhere", "in.vcw", "new.wav", "out.wav"),
                listing(dir));
        assertEquals(List.of("earlier.wav", "new.wav"), listing(elsewhere), "no temporary file");
    }

    @Test
    void aTargetThatCannotBeWrittenIsNamedAndItsTemporaryFileIsTheCause() throws IOException {
        Path wav = dir.resolve("missing").resolve("out.wav");
        FileSystemException thrown = refused(vcw, wav);
        assertEquals("cannot write " + wav + ": no such file or directory", thrown.getMessage());
        NoSuchFileException cause = (NoSuchFileException) thrown.getCause();
        assertTrue(cause.getFile().startsWith(dir.resolve("missing/.out.wav.").toString()),
                cause.getFile());
    }

    @Test
    void aClosedDecoderRefusesStreamsAndFilesAndAClosedRunKeepsTheTarget() throws IOException {
        Path wav = Files.writeString(dir.resolve("out.wav"), "an earlier result");
        Usb3kDecoder decoder = openQuietly();
        assertThrows(IllegalStateException.class,
                () -> decoder.decodeFile(vcw, wav, 10, decoded -> decoder.close(), null));
        assertThrows(IllegalStateException.class,
                () -> decoder.audioStream(new ByteArrayInputStream(frames)));
        assertThrows(IllegalStateException.class, () -> decoder.decodeFile(vcw, wav));
        assertEquals(10, Emulator.requestCount(DEFAULT_SERIAL, Request.CHANNEL));
        assertEquals("an earlier result", Files.readString(wav));
        assertEquals(List.of("in.vcw", "out.wav"), listing(dir));
    }
}
