// Control of the emulator: a software D2XX with a list of attached FTDI devices, each USB-3000
// among them answered by a software device. Tests and the demo drive it through these plain C
// functions so that C++, a JNI test-support library and Windows programs can all use it.
//
// All state is process-wide and guarded by one lock. Call sim_reset() at the start of every test.
// Before any sim_* call the emulator is as sim_reset() leaves it but with the transcript off, so
// that a program that never calls sim_reset() (the demo, an application loading the emulator in
// place of FTDI's library) does not grow a transcript that nobody reads.
#pragma once

#include <stddef.h>

#if defined(_WIN32)
#ifdef USB3K_SIM_BUILDING
#define SIM_API __declspec(dllexport)
#else
#define SIM_API __declspec(dllimport)
#endif
#else
#define SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The identifiers of a USB-3000's FTDI chip (vendor 0x0403, product 0x6001).
#define SIM_USB3000_ID 0x04036001u
// The serial number of the device attached after sim_reset().
#define SIM_DEFAULT_SERIAL "EMU30001"
// The default device's description, and the texts every emulated USB-3000 answers to the
// product ID and version requests.
#define SIM_DEFAULT_DESCRIPTION "USB-3000 (emulated)"
#define SIM_PRODUCT_ID_TEXT "USB-3000"
#define SIM_VERSION_TEXT "2.7.1-emu"

// Back to a fresh start: one attached USB-3000 (SIM_DEFAULT_SERIAL, description
// "USB-3000 (emulated)"), no faults, no open handles, counters at zero, virtual time, and an empty
// transcript that is recording (unlike at process start, where recording is off).
SIM_API void sim_reset(void);

// Detaches every device (open handles become invalid).
SIM_API void sim_clear_devices(void);

// Attaches an FTDI device at the end of the list; returns its index, or -1 (attaching nothing) when
// the serial number is longer than the 16 bytes of the device list's record or an attached device
// has it. A device whose id is SIM_USB3000_ID is a USB-3000; any other device accepts writes and
// never answers.
SIM_API int sim_add_device(unsigned int id, const char* serial, const char* description);

// Unplugs the device with this serial number: it leaves the device list, its open handles become
// invalid (every D2XX call on them fails with FT_INVALID_HANDLE, or the status set by
// sim_set_removed_handle_status), and what it held (queued bytes, answers on their way, its
// request counts) is gone. Returns 1, or 0 when no such device is attached.
SIM_API int sim_detach_device(const char* serial);

// Plugs an unplugged device back in, at the end of the list, closed and powered on afresh, with a
// new location ID and what sim_refuse_opens_after_replug and sim_needs_reset_after_replug ask
// for. Returns 1, or 0 when no such device was unplugged or one with that serial number is
// attached.
SIM_API int sim_reattach_device(const char* serial);

// Planned unplugs and what a re-plug brings. Time is the device's link time (virtual; real time
// when paced); an unplugged device's time goes on through sim_advance_us. Unplugs at a request
// are the fault SIM_DEVICE_UNPLUGGED of sim_fault_answer.
//
// Unplugs the device once its link time has moved `after_us` on from now (at the first D2XX call
// from then on), and plugs it back in `away_us` later (0: not by itself). Returns 1, or 0 when no
// such device is attached.
SIM_API int sim_unplug_after_us(const char* serial, unsigned long long after_us,
                                unsigned long long away_us);
// Plugs an unplugged device back in just before the `list_calls`-th FT_CreateDeviceInfoList
// from now (at least 1), as a host that polls the device list sees it return. Returns 1, or 0 when
// no such device is unplugged.
SIM_API int sim_replug_at_list_call(const char* serial, int list_calls);
// After every re-plug from now on, the first `tries` FT_OpenEx of this serial number fail with
// `status` (FT_DEVICE_NOT_FOUND 2, FT_DEVICE_NOT_OPENED 3, ...), as while the kernel's driver
// binds to the device again. 0 tries: none.
SIM_API void sim_refuse_opens_after_replug(const char* serial, int tries, unsigned int status);
// After every re-plug from now on (on: 1), the device answers no channel request until it has
// received a reset request, as a freshly powered USB-3000 does.
SIM_API void sim_needs_reset_after_replug(const char* serial, int on);
// What every D2XX call on a handle of an unplugged device returns until the host closes it:
// FT_INVALID_HANDLE (1) after sim_reset(); FT_IO_ERROR (4) as FTDI's driver reports it on Linux.
// With a status other than FT_INVALID_HANDLE, FT_Close on such a handle releases it and returns
// FT_OK. The handle stays dead after the device is plugged back in.
SIM_API void sim_set_removed_handle_status(unsigned int status);
// The location ID the device list reports for an attached device, or 0. A device keeps the one
// of its place in the list (0x11 for the first) until it is plugged back in, when it gets a new
// one, as on a real bus.
SIM_API unsigned int sim_location_id(const char* serial);

// The request kinds the emulated USB-3000 recognises, for fault injection and counting.
enum SimRequest {
    SIM_REQ_PRODUCT_ID = 0,
    SIM_REQ_VERSION = 1,
    SIM_REQ_RESET = 2,
    SIM_REQ_STOP_CODEC = 3,
    SIM_REQ_RATE = 4,
    SIM_REQ_CHANNEL = 5,
};

// Makes one D2XX function return `status` instead of doing its work. `function` is the D2XX name
// ("FT_CreateDeviceInfoList", "FT_GetDeviceInfoList", "FT_OpenEx", "FT_SetDataCharacteristics",
// "FT_SetFlowControl", "FT_ClrRts", "FT_SetBaudRate", "FT_SetLatencyTimer", "FT_SetUSBParameters",
// "FT_SetTimeouts", "FT_Write", "FT_Read", "FT_GetQueueStatus", "FT_Purge", "FT_Close").
// `serial` limits it to one device (NULL: any device). `occurrence` is the 1-based count of that
// function's calls on that device (on any device when serial is NULL) since sim_reset(); 0 means
// every call.
SIM_API void sim_fail_call(const char* serial, const char* function, unsigned int status,
                           int occurrence);

// Makes the occurrence-th FT_Write on a device (1-based; 0: every write) accept only `accepted`
// bytes and report FT_OK with that count. Only the accepted bytes reach the device.
SIM_API void sim_short_write(const char* serial, int occurrence, unsigned int accepted);

// How the device answers one request.
enum SimAnswerFault {
    SIM_ANSWER_NONE = 0,           // no answer at all: reads time out
    SIM_ANSWER_LATE = 1,           // value = N: the answer arrives after N reads have timed out
    SIM_ANSWER_WRONG_START = 2,    // value = the byte sent in place of the start byte 0x61
    SIM_ANSWER_SHORT = 3,          // value = how many bytes of the answer are sent (header intact)
    SIM_ANSWER_OVERSIZED = 4,      // value = the length announced by the header (> 508)
    SIM_ANSWER_MISSING_FIELD = 5,  // the answer without the field the request asks for
    SIM_ANSWER_STATUS = 6,         // value = the status byte of a stop codec or rate answer
    SIM_ANSWER_DUPLICATED = 7,     // the answer is sent twice, back to back
    SIM_ANSWER_LENGTH = 8,         // value = the length the header announces in place of the true
                                   // one: fewer or more bytes than actually follow (only the two
                                   // length bytes change; the parity field is the true answer's)
    SIM_ANSWER_TRAILING = 9,       // value = how many stray bytes 0xEE follow the answer
    SIM_ANSWER_AFTER_PURGE = 10,   // value = N (below 1: 1): the answer is held back until the
                                   // host's N-th FT_Purge with FT_PURGE_RX from now has run, then
                                   // arrives right after it (that purge does not discard it)
    SIM_ANSWER_AFTER_WRITE = 11,   // value = N (below 1: 1): the answer is held back until the
                                   // N-th FT_Write from now has brought bytes to the device, then
                                   // arrives, ahead of the answer to that write
    SIM_ANSWER_BIT_FLIP = 12,      // value = the bit flipped on the line: bit value % 8 of byte
                                   // value / 8 of the answer, counting from its start byte
                                   // (beyond the answer's end: counted round again)
    SIM_ANSWER_BYTE_LOST = 13,     // value = the byte of the answer lost on the line (as above)
    SIM_ANSWER_NOISE = 14,         // value = how many bytes of noise, drawn at random (any value,
                                   // the start byte included), follow the answer
    SIM_ANSWER_DELAYED = 15,       // value = milliseconds the answer leaves the device late; the
                                   // answers after it wait behind it. The timing model only:
                                   // without it, the answer is sent as usual
    SIM_DEVICE_SILENT = 16,        // value = milliseconds: the device answers no request that
                                   // reaches it from this one on for that long (without the
                                   // timing model, this request only)
    SIM_DEVICE_UNPLUGGED = 17,     // value = milliseconds the device stays away (0: until
                                   // sim_reattach_device or sim_replug_at_list_call): it is
                                   // unplugged as this request reaches it, which goes unanswered
    SIM_DEVICE_HANGS = 18,         // value = milliseconds (0: until it is unplugged): from this
                                   // request on the device answers nothing, a reset included,
                                   // while it stays in the device list
    SIM_DEVICE_HANGS_UNTIL_RESET = 19,  // from this request on the device answers nothing until a
                                        // reset request, which it answers; then it works again
};

// Applies a fault to the occurrence-th request of a kind on a device (1-based, counted since
// sim_reset(); 0: every such request). serial NULL: every device.
//
// However late an answer is (SIM_ANSWER_LATE, SIM_ANSWER_AFTER_PURGE, SIM_ANSWER_AFTER_WRITE), the
// device answers in order, as a real one does: an answer held back always reaches the host before
// the answer to any later request, which waits behind it. Time-outs, purges and writes that
// happen while an answer waits behind another still count toward its own wait. Only calls that
// do their work count: a failed purge or write, or a failed read, is no event.
SIM_API void sim_fault_answer(const char* serial, int request, int occurrence, int fault,
                              int value);

// Answers the occurrence-th request of a kind with exactly these bytes instead.
SIM_API void sim_answer_raw(const char* serial, int request, int occurrence,
                            const unsigned char* bytes, size_t count);

// How many requests of a kind a device has received since sim_reset().
SIM_API int sim_request_count(const char* serial, int request);

// Handles that are open now (opened and not yet closed), over all devices.
SIM_API int sim_open_handles(void);

// How many times a D2XX function (by name, as for sim_fail_call) has been called on a device
// since sim_reset(); serial NULL: on any device. Lets a test aim a fault at the next call.
SIM_API int sim_call_count(const char* serial, const char* function);

// Drops every injected fault (sim_fail_call, sim_short_write, sim_fault_answer, sim_answer_raw)
// that has not been used up; devices, handles, queued bytes, answers already held back on their
// way, counters and the transcript stay.
SIM_API void sim_clear_faults(void);

// The transcript: one line per D2XX call, each ending in "\n", in call order. Forms, with bytes in
// lowercase two-digit hexadecimal separated by single spaces and numbers in decimal:
//   FT_CreateDeviceInfoList() -> 0 count=1
//   FT_GetDeviceInfoList(1) -> 0 count=1
//   FT_OpenEx(EMU30001, 1) -> 0
//   EMU30001 FT_SetDataCharacteristics(8, 0, 0) -> 0
//   EMU30001 FT_SetFlowControl(256, 17, 19) -> 0
//   EMU30001 FT_ClrRts() -> 0
//   EMU30001 FT_SetBaudRate(460800) -> 0
//   EMU30001 FT_SetLatencyTimer(4) -> 0
//   EMU30001 FT_SetUSBParameters(1024, 0) -> 0
//   EMU30001 FT_SetTimeouts(200, 100) -> 0
//   EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -> 0 written=7
//   EMU30001 FT_Read(4) -> 0 got=4: 61 00 0c 00
//   EMU30001 FT_Read(4) -> 0 got=0:
//   EMU30001 FT_GetQueueStatus() -> 0 queued=0
//   EMU30001 FT_Purge(1) -> 0
//   EMU30001 FT_Close() -> 0
// A call on a handle that is not open is written with "?" in place of the serial number.
// A failing FT_CreateDeviceInfoList or FT_GetDeviceInfoList line ends after the status (no count);
// FT_Write, FT_Read and FT_GetQueueStatus lines always end with the count, 0 when the call failed.
// Packets the emulated device refuses and leaves unanswered add a line after their FT_Write:
//   EMU30001 sim: bad parity
//   EMU30001 sim: bad start byte 7f, 7 bytes dropped
//   EMU30001 sim: incomplete packet, 5 bytes dropped
//   EMU30001 sim: malformed packet: <why>
// Copies the transcript (zero-terminated, cut to capacity) and returns its full length in bytes.
SIM_API size_t sim_transcript(char* buffer, size_t capacity);
SIM_API void sim_clear_transcript(void);
// Recording off keeps long decodes cheap: no line is even formatted, while counters and faults
// still work. Off at process start; sim_reset() turns it on.
SIM_API void sim_record_transcript(int on);

// The 320 speech bytes the device answers for a 49-bit codeword (w0 in bit 48, w48 in bit 0),
// each 16-bit sample high byte first, as sent on the wire.
SIM_API void sim_speech_for_codeword(unsigned long long codeword, unsigned char speech[320]);

// The timing model, in virtual time: each device works on a request for a time drawn from
// [minimum, maximum] (sim_set_device_work; 1 to 3 ms after sim_reset()) before it answers; its
// answers cross the serial line at the baud rate the host set (10 bits a byte); the FTDI chip
// hands them to the host in USB packets of 62 bytes as each fills and sends a partial one when
// its latency timer, restarted by every packet, runs out. FT_Read waits until its count has
// arrived or its time-out has passed, FT_Write for the line time of its bytes, and FT_Purge
// drops only what has reached the host. Each device keeps its own virtual time, moved on only by
// those waits, so a run repeats exactly. Off after sim_reset(): every answer is then in the read
// queue the moment its request is written, and reads never wait.
SIM_API void sim_set_timing(int on);
SIM_API void sim_set_device_work(unsigned int minimum_us, unsigned int maximum_us);

// Paced mode: the timing model in real time, every call taking as long as it would take.
// Off after sim_reset(); turning it off turns the timing model off too.
SIM_API void sim_set_paced(int on);

// How long a device's link has run in virtual time since sim_reset(), in microseconds.
SIM_API unsigned long long sim_elapsed_us(const char* serial);
// The host lets `microseconds` pass on a device's link without calling it, in virtual time (the
// time between two calls of an application), also while the device is unplugged; paced, it has no
// effect.
SIM_API void sim_advance_us(const char* serial, unsigned long long microseconds);

// The time one decoded frame takes under the timing model, with nothing else on the line: the
// 15-byte channel request, the device's mean work, the 328-byte speech answer, and the wait of
// its last partial USB packet for a latency timer of `latency_ms`, at 460800 baud. The limit a
// paced decode can reach: one frame in this many seconds.
SIM_API double sim_model_frame_seconds(unsigned int latency_ms);

#ifdef __cplusplus
}
#endif
