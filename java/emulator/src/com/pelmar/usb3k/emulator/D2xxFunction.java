package com.pelmar.usb3k.emulator;

/**
 * The D2XX functions the emulator provides, named as in FTDI's D2XX API and as they appear in the
 * {@link Emulator#transcript() transcript} and in the library's diagnostic lines, for {@link
 * Emulator#failCall} and {@link Emulator#callCount}.
 */
public enum D2xxFunction {
    /** Counts the attached FTDI devices. */
    FT_CreateDeviceInfoList,
    /** Describes the attached FTDI devices. */
    FT_GetDeviceInfoList,
    /** Opens a device by its serial number. */
    FT_OpenEx,
    /** Sets the serial line's data bits, stop bits and parity. */
    FT_SetDataCharacteristics,
    /** Sets the serial line's flow control. */
    FT_SetFlowControl,
    /** Clears the request-to-send line. */
    FT_ClrRts,
    /** Sets the serial line's speed. */
    FT_SetBaudRate,
    /** Sets the chip's latency timer. */
    FT_SetLatencyTimer,
    /** Sets the USB transfer sizes. */
    FT_SetUSBParameters,
    /** Sets the read and write time-outs. */
    FT_SetTimeouts,
    /** Sends bytes to the device. */
    FT_Write,
    /** Reads bytes the device sent. */
    FT_Read,
    /** Tells how many received bytes wait to be read. */
    FT_GetQueueStatus,
    /** Discards received bytes that wait to be read. */
    FT_Purge,
    /** Closes a device. */
    FT_Close
}
