package com.pelmar.usb3k;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Reads the JSON texts usb3k-server sends (its device list and a stream's events) into maps, lists,
 * strings, numbers ({@link Double}), booleans and null: the JDK has no JSON reader of its own.
 */
final class JsonText {
    private final String text;
    private int at;

    private JsonText(String text) {
        this.text = text;
    }

    /** The value the text holds; IllegalArgumentException when it is not JSON. */
    static Object parse(String text) {
        JsonText reader = new JsonText(text);
        Object value = reader.value();
        reader.skipSpace();
        if (reader.at != text.length()) {
            throw reader.wrong("text after the value");
        }
        return value;
    }

    private Object value() {
        skipSpace();
        if (at >= text.length()) {
            throw wrong("end of text");
        }
        char c = text.charAt(at);
        switch (c) {
            case '{' -> {
                return object();
            }
            case '[' -> {
                return array();
            }
            case '"' -> {
                return string();
            }
            default -> {
                for (String word : new String[] {"true", "false", "null"}) {
                    if (text.startsWith(word, at)) {
                        at += word.length();
                        return word.equals("null") ? null : Boolean.valueOf(word);
                    }
                }
                return number();
            }
        }
    }

    private Map<String, Object> object() {
        Map<String, Object> object = new LinkedHashMap<>();
        at++;
        skipSpace();
        if (peek() == '}') {
            at++;
            return object;
        }
        while (true) {
            skipSpace();
            String name = string();
            skipSpace();
            expect(':');
            object.put(name, value());
            skipSpace();
            if (peek() == '}') {
                at++;
                return object;
            }
            expect(',');
        }
    }

    private List<Object> array() {
        List<Object> array = new ArrayList<>();
        at++;
        skipSpace();
        if (peek() == ']') {
            at++;
            return array;
        }
        while (true) {
            array.add(value());
            skipSpace();
            if (peek() == ']') {
                at++;
                return array;
            }
            expect(',');
        }
    }

    private String string() {
        expect('"');
        StringBuilder out = new StringBuilder();
        while (true) {
            char c = next();
            if (c == '"') {
                return out.toString();
            }
            if (c != '\\') {
                out.append(c);
                continue;
            }
            char escaped = next();
            switch (escaped) {
                case 'b' -> out.append('\b');
                case 'f' -> out.append('\f');
                case 'n' -> out.append('\n');
                case 'r' -> out.append('\r');
                case 't' -> out.append('\t');
                case 'u' -> {
                    if (at + 4 > text.length()) {
                        throw wrong("end of text");
                    }
                    out.append((char) Integer.parseInt(text.substring(at, at + 4), 16));
                    at += 4;
                }
                default -> out.append(escaped);
            }
        }
    }

    private Double number() {
        int start = at;
        while (at < text.length() && "+-0123456789.eE".indexOf(text.charAt(at)) >= 0) {
            at++;
        }
        try {
            return Double.valueOf(text.substring(start, at));
        } catch (NumberFormatException e) {
            throw wrong("no value");
        }
    }

    private void skipSpace() {
        while (at < text.length() && Character.isWhitespace(text.charAt(at))) {
            at++;
        }
    }

    private char peek() {
        return at < text.length() ? text.charAt(at) : '\0';
    }

    private char next() {
        if (at >= text.length()) {
            throw wrong("end of text");
        }
        return text.charAt(at++);
    }

    private void expect(char c) {
        if (next() != c) {
            at--;
            throw wrong("'" + c + "' expected");
        }
    }

    private IllegalArgumentException wrong(String what) {
        return new IllegalArgumentException("not JSON at character " + (at + 1) + ": " + what);
    }
}
