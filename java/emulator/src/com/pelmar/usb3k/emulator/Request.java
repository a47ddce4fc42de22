package com.pelmar.usb3k.emulator;

/**
 * The requests an emulated USB-3000 tells apart, for {@link Emulator#faultAnswer} and {@link
 * Emulator#requestCount}.
 *
 * <p>{@code USB3KBridge.initialize()} sends {@link #PRODUCT_ID} and {@link #VERSION} when it first
 * opens a device, then {@link #RESET}, {@link #STOP_CODEC} and {@link #RATE}; each decoded frame is
 * one {@link #CHANNEL} request. After a glitch (a lost, late or damaged answer) the next request is
 * preceded by one more {@link #PRODUCT_ID} request that brings the link back in step.
 */
public enum Request {
    /** Asks for the product ID ("USB-3000"). */
    PRODUCT_ID(0),
    /** Asks for the version text ("2.7.1-emu" on the emulator). */
    VERSION(1),
    /** Resets the device; the answer carries a ready field. */
    RESET(2),
    /** Stops the codec, putting the device in packet mode; the answer carries a status byte. */
    STOP_CODEC(3),
    /** Selects rate table 34; the answer carries a status byte. */
    RATE(4),
    /** One VCW frame to decode; the answer carries its 320 bytes of speech. */
    CHANNEL(5);

    /** The emulator's number for this request kind. */
    final int code;

    Request(int code) {
        this.code = code;
    }
}
