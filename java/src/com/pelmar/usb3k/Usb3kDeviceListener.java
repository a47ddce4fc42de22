package com.pelmar.usb3k;

/**
 * Hears USB-3000s arrive and leave, while registered with {@link Usb3kDecoder#watch}. Its methods
 * are called on the watcher thread, one at a time and in the order the changes were seen; they
 * should return soon, since every registration's events wait for them. What they throw is logged
 * and changes nothing.
 */
public interface Usb3kDeviceListener {
    /**
     * A USB-3000 is attached: one that was already attached when the registration began, or one
     * that has arrived since.
     *
     * @param device the device as {@link Usb3kDecoder#devices()} described it when it was seen to
     *     arrive: {@link Usb3kDevice#usable()} says whether it is ready; one held in this process
     *     is reported with its reason, {@code "in use by a decoder"} or {@code "in use by
     *     USB3KBridge"}
     */
    void attached(Usb3kDevice device);

    /**
     * A USB-3000 that {@link #attached} reported is no longer in D2XX's list.
     *
     * @param serialNumber its serial number
     */
    void detached(String serialNumber);
}
