package com.pelmar.usb3k.emulator;

/**
 * How an emulated USB-3000 answers a request instead of answering it correctly, for {@link
 * Emulator#faultAnswer}. Each kind says what the {@code value} argument of that call means; kinds
 * that say nothing about it ignore it.
 *
 * <p>However late an answer is ({@link #LATE}, {@link #AFTER_PURGE}, {@link #AFTER_WRITE}), the
 * device answers in order, as a real one does: an answer held back reaches the host before the
 * answer to any later request, which waits behind it.
 */
public enum Fault {
    /** No answer at all: the library's reads time out. */
    NO_ANSWER(0),
    /** {@code value} = N: the answer arrives after N reads have timed out. */
    LATE(1),
    /** {@code value} = the byte sent in place of the start byte 0x61. */
    WRONG_START(2),
    /** {@code value} = how many bytes of the answer are sent (its header intact). */
    SHORT(3),
    /** {@code value} = the length the header announces, above the 508 bytes a packet can hold. */
    OVERSIZED(4),
    /** The answer without the field the request asks for (no speech, no ready field, ...). */
    MISSING_FIELD(5),
    /**
     * {@code value} = the status byte of a {@link Request#STOP_CODEC} or {@link Request#RATE}
     * answer (0 means success).
     */
    STATUS(6),
    /** The answer is sent twice, back to back. */
    DUPLICATED(7),
    /**
     * {@code value} = the length the header announces in place of the true one, so that fewer or
     * more bytes follow than it says (only the two length bytes change).
     */
    WRONG_LENGTH(8),
    /** {@code value} = how many stray bytes 0xEE follow the answer. */
    TRAILING_BYTES(9),
    /**
     * {@code value} = N (below 1 counts as 1): the answer is held back until the library's N-th
     * purge of the receive queue from now has run, then arrives right after it.
     */
    AFTER_PURGE(10),
    /**
     * {@code value} = N (below 1 counts as 1): the answer is held back until the N-th write from
     * now has reached the device, then arrives ahead of the answer to that write.
     */
    AFTER_WRITE(11),
    /**
     * {@code value} = the bit flipped on the line: bit {@code value % 8} of byte {@code value / 8}
     * of the answer, counting from its start byte (past the answer's end, counted round again).
     */
    BIT_FLIP(12),
    /** {@code value} = the byte of the answer that is lost on the line (counted as for BIT_FLIP). */
    BYTE_LOST(13),
    /** {@code value} = how many bytes of noise, of any value, follow the answer. */
    NOISE(14),
    /**
     * {@code value} = milliseconds the answer leaves the device late, with the answers after it
     * waiting behind it; only with {@link Emulator#setTiming the timing model} on (without it the
     * answer is sent as usual).
     */
    DELAYED(15),
    /**
     * {@code value} = milliseconds during which the device answers no request, from this one on;
     * without {@link Emulator#setTiming the timing model}, only this request goes unanswered.
     */
    SILENT(16),
    /**
     * {@code value} = milliseconds the device stays away (0: until {@link Emulator#reattach} or
     * {@link Emulator#replugAtListCall}): it is unplugged as this request reaches it, and the
     * request goes unanswered. Time is the device's link time, as for {@link
     * Emulator#unplugAfter}.
     */
    UNPLUGGED(17),
    /**
     * {@code value} = milliseconds (0: until the device is unplugged): from this request on the
     * device answers nothing, not even a reset, while it stays in the device list.
     */
    HANGS(18),
    /**
     * From this request on the device answers nothing until it receives a reset request, which it
     * answers; then it works again.
     */
    HANGS_UNTIL_RESET(19);

    /** The emulator's number for this fault. */
    final int code;

    Fault(int code) {
        this.code = code;
    }
}
