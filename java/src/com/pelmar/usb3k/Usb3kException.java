package com.pelmar.usb3k;

/**
 * The USB-3000 could not do what was asked: no device could be made ready ({@link
 * Usb3kDecoder#open()}), or a frame was not decoded ({@link FrameNotDecodedException}). The
 * library's own lines on standard error say more.
 */
public class Usb3kException extends java.io.IOException {
    private static final long serialVersionUID = 1L;

    /**
     * An exception with a message for the person running the application.
     *
     * @param message what went wrong
     */
    public Usb3kException(String message) {
        super(message);
    }
}
