package com.pelmar.usb3k;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.net.URI;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The token of a client's token file, by the files and words of usb3k-probe's own test, and a token
 * no Authorization header can carry refused before any request, without quoting it.
 */
class TokenFileTest {
    private static final String SECRET = "s3cret-Token";
    private static final String NO_TOKEN = "the token file FILE holds no token: its first line that"
            + " is neither blank nor a # comment is the token";
    private static final String NAME_AND_TOKEN = "the token file FILE holds a line name:token, as"
            + " the server's own token file does: leave out \"name:\" and keep only the token";
    private static final String BAD_CHARACTER = "the token file FILE holds a token with a character"
            + " a token cannot have (a space, a control character or one outside ASCII)";

    @TempDir Path dir;

    /** The file's text (null: none; "/": a folder), and its token or error (FILE: its path). */
    record Case(String file, String text, String token, String error) {
        @Override
        public String toString() {
            return file;
        }
    }

    static Stream<Case> files() {
        return Stream.of(
                new Case("comments", "# for the monitor\n  # indented\n" + SECRET + "\nsecond\n",
                        SECRET, null),
                new Case("blank", "\n \t\n\t " + SECRET + " \t\n", SECRET, null),
                new Case("crlf", "# the probe's\r\n\r\n" + SECRET + "\r\n", SECRET, null),
                new Case("unended", SECRET, SECRET, null),
                new Case("named", "# copied\nmonitor:" + SECRET + "\n", null, NAME_AND_TOKEN),
                new Case("comments-only", "# one\n\n  # two\n", null, NO_TOKEN),
                new Case("empty", "", null, NO_TOKEN),
                new Case("space", "s3cret Token\n", null, BAD_CHARACTER),
                new Case("control", SECRET + "\u0001\n", null, BAD_CHARACTER),
                new Case("non-ascii", "s3cret-T\u00f6ken\n", null, BAD_CHARACTER),
                new Case("missing", null, null,
                        "cannot read the token file FILE: no such file or directory"),
                new Case("folder", "/", null,
                        "cannot read the token file FILE: it is a directory"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("files")
    void readsTheFirstLineNeitherBlankNorACommentAndRefusesWhatIsNoToken(Case c) throws Exception {
        Path file = dir.resolve(c.file());
        if ("/".equals(c.text())) {
            Files.createDirectory(file);
        } else if (c.text() != null) {
            Files.write(file, c.text().getBytes(StandardCharsets.UTF_8));
        }
        if (c.error() == null) {
            assertEquals(c.token(), Usb3kDecoder.readToken(file));
            return;
        }
        Usb3kException e = assertThrows(Usb3kException.class, () -> Usb3kDecoder.readToken(file));
        assertEquals(c.error().replace("FILE", file.toString()), e.getMessage());
        assertEquals(Usb3kException.Reason.OTHER, e.reason());
    }

    @Test
    void aTokenNoHeaderCanCarryIsRefusedBeforeAnyRequestWithoutQuotingIt() {
        // Nothing listens on port 1: a request sent would fail as SERVER_UNREACHABLE instead.
        URI server = URI.create("http://127.0.0.1:1");
        String token = SECRET + "\nX-Injected: 1";
        List<Executable> calls = List.of(
                () -> Usb3kDecoder.devices(server, token),
                () -> Usb3kDecoder.connect(server, token),
                () -> Usb3kDecoder.connect(server, token, "EMU30001"),
                () -> Usb3kDecoder.connect(List.of(server), token));
        for (Executable call : calls) {
            Usb3kException e = assertThrows(Usb3kException.class, call);
            assertEquals("the token is not a valid bearer token: it holds a character a token"
                    + " cannot have (a space, a control character or one outside ASCII)",
                    e.getMessage());
            assertFalse(e.toString().contains(SECRET), e.toString());
        }
    }
}
