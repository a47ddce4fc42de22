package com.pelmar.usb3k;

/**
 * An attached USB-3000 as {@link Usb3kDecoder#devices()} found it.
 *
 * @param serialNumber the serial number of its FTDI chip, each byte read as one character
 *     (Latin-1): what {@link Usb3kDecoder#open(String)} takes
 * @param description the description of its FTDI chip, read the same way
 * @param usable whether it could be opened and identified just now; false when it is in use in
 *     this process, held by another process, or does not answer
 * @param productId when usable, the product ID the device answered; otherwise null
 * @param version when usable, the version the device answered; otherwise null
 * @param reason when not usable, why: the library's lines of the failed attempt joined by {@code
 *     "; "}, or {@code "in use by a decoder"} or {@code "in use by USB3KBridge"}; otherwise null
 */
public record Usb3kDevice(
        String serialNumber,
        String description,
        boolean usable,
        String productId,
        String version,
        String reason) {}
