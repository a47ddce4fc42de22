package com.pelmar.usb3k;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * A client's token file and the token a client sends, by the rule {@code usb3k-probe --token-file}
 * follows too, with the same words for each refusal: the token is the file's first line that is
 * neither blank nor a {@code #} comment, without the spaces, tabs and carriage return around it.
 * No refusal quotes the line or the token, which may be the secret.
 */
final class TokenFile {
    /** What surrounds a line but is not part of it, a CRLF file's carriage return among them. */
    private static final String AROUND = " \t\r";

    /** What an Authorization header cannot carry in a bearer token. */
    private static final String BAD_CHARACTER =
            "a character a token cannot have (a space, a control character or one outside ASCII)";

    private TokenFile() {}

    /** The token of this file, or the refusal that says why it has none. */
    static String read(Path file) throws Usb3kException {
        if (Files.isDirectory(file)) {
            throw refused("cannot read the token file " + file + ": it is a directory");
        }
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(file);
        } catch (IOException e) {
            throw refused("cannot read the token file " + file + ": " + FileFailure.reason(e));
        }
        // One char a byte, so that each byte outside ASCII is a character refused below.
        for (String line : new String(bytes, StandardCharsets.ISO_8859_1).split("\n", -1)) {
            String token = trimmed(line);
            if (token.isEmpty() || token.startsWith("#")) {
                continue;
            }
            if (token.indexOf(':') >= 0) {
                throw refused("the token file " + file + " holds a line name:token, as the"
                        + " server's own token file does: leave out \"name:\" and keep only the"
                        + " token");
            }
            if (!isBearerToken(token)) {
                throw refused("the token file " + file + " holds a token with " + BAD_CHARACTER);
            }
            return token;
        }
        throw refused("the token file " + file + " holds no token: its first line that is neither"
                + " blank nor a # comment is the token");
    }

    /**
     * Refuses a token that no Authorization header can carry before any request is built, since
     * the JDK's own refusal would quote it.
     */
    static void checkToken(String token) throws Usb3kException {
        if (!isBearerToken(token)) {
            throw new Usb3kException(
                    Usb3kException.Reason.OTHER,
                    "the token is not a valid bearer token: it holds " + BAD_CHARACTER,
                    List.of(),
                    "",
                    "pass the token alone, without a line break or spaces around it;"
                            + " Usb3kDecoder.readToken reads it from a token file");
        }
    }

    private static boolean isBearerToken(String token) {
        return token.chars().allMatch(c -> c >= 0x21 && c <= 0x7e);
    }

    private static String trimmed(String line) {
        int start = 0;
        int end = line.length();
        while (start < end && AROUND.indexOf(line.charAt(start)) >= 0) {
            start++;
        }
        while (end > start && AROUND.indexOf(line.charAt(end - 1)) >= 0) {
            end--;
        }
        return line.substring(start, end);
    }

    private static Usb3kException refused(String message) {
        return new Usb3kException(Usb3kException.Reason.OTHER, message, List.of());
    }
}
