package com.pelmar.usb3k.demo;

/** A reason the demo cannot go on, worded for the person who ran it. */
final class DemoFailure extends Exception {
    private static final long serialVersionUID = 1L;

    DemoFailure(String message) {
        super(message);
    }
}
