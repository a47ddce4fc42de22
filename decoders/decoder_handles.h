// The handle-based interface to the USB-3000s, with no JNI types: what com.pelmar.usb3k.Usb3kNative
// exposes to Java and what usb3k-server lends out. List the attached USB-3000s, open one for a
// decoder, decode on it, close it. Every failure writes its lines as the rest of the library does;
// the last line says what failed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decoders/frame_channel.h"
#include "device/failure_advice.h"

// Why an operation failed; the numbers are Usb3kNative's, in Java.
enum class HandleFailure : int32_t {
    None = 0,
    NoD2xxLibrary = 1,     // the D2XX library could not be loaded, or lacks a function
    DeviceListFailed = 2,  // D2XX could not list the devices
    NoUsb3000 = 3,         // D2XX lists no USB-3000
    NoSuchSerial = 4,      // no USB-3000 has the serial number asked for
    InUse = 5,             // the device is held by a decoder or the bridge in this process
    NotReady = 6,          // the device could not be opened, configured, identified or prepared
    FrameFailed = 7,       // the device did not decode a frame
    DeviceGone = 8,        // the device is no longer attached
    NotOpen = 9,           // the handle is not open, or the arguments are out of range
};

// How an operation ended: its failure and, for a failure, its cause and fix as the device layer's
// table gives them, for a user who can try again.
struct HandleOutcome {
    HandleFailure failure = HandleFailure::None;
    Advice advice;
};

// How the Java API tells a user to try once more, at the end of a fix.
constexpr const char* TRY_AGAIN = "try again";

struct AttachedUsb3000 {
    std::string serialNumber;
    std::string description;
    bool usable = false;
    // When usable: what the device answered to the identification requests.
    std::string productId;
    std::string version;
    // When not usable: why, the lines of the failed attempt in one text.
    std::string reason;
    // Whether the bridge, a decoder or another listing held it, so that it was not identified.
    bool held = false;
    // Whether the listing looked at it beyond D2XX's list: opened it to identify it, or found it
    // held. A listing that leaves a device out of that has only its serial number and description.
    bool looked = true;
};

// Which listed USB-3000s a listing opens to identify, by serial number.
using IdentifyFilter = std::function<bool(const std::string& serialNumber)>;

// Every USB-3000 in D2XX's list, in list order. A device nobody in this process holds is opened
// and identified, then closed again; one the bridge or a decoder holds is reported as in use. While
// it identifies a device, an open or initialize of it waits, and so does another listing.
HandleOutcome listUsb3000s(std::vector<AttachedUsb3000>& devices);
// The same, but only the devices `identify` picks are looked at; the others have `looked` false,
// and no device of theirs is opened.
HandleOutcome listUsb3000s(std::vector<AttachedUsb3000>& devices, const IdentifyFilter& identify);

// Opens the USB-3000 with that serial number, or (serialNumber null) the first attached one that
// is free and gets ready, and prepares it for decoding. On success `handle` names it and
// `opened` holds its serial number. For a device that did not get ready, the advice names the
// likely cause when the chip could not be opened.
HandleOutcome openDecoder(const std::string* serialNumber, int64_t& handle, std::string& opened);

// Decodes the channel's first `frames` frames on the handle's device (see decodeChunks), holding
// the device for the whole call; `decoded` is how many were decoded. NotOpen, before any exchange,
// when the handle is not open or the frames are not in range. Failure FrameFailed (the device is
// still attached) or DeviceGone when fewer than all were decoded.
// A decoder belongs to its serial number: once its device is no longer listed, the dead handle is
// closed and the serial number released; a later call fails DeviceGone at once while D2XX does
// not list it, and reopens it (claimed again, FT_OpenEx retried for a moment, prepared as an open
// prepares it) once it does: InUse when another decoder or the bridge took it meanwhile, NotReady
// when it does not get ready.
HandleOutcome decodeOnHandle(int64_t handle, int32_t frames, FrameChannel& channel,
                             int32_t& decoded);

// The same over memory: `frames` frames of vcw (7 bytes each) into pcm (320 bytes each).
HandleOutcome decodeOnHandle(int64_t handle, const uint8_t* vcw, int32_t frames, uint8_t* pcm,
                             int32_t& decoded);

// Resets the handle's device and prepares it again, as open did (reset, codec stopped, rate table
// 34), for a stream whose device answered none of `framesWithoutSpeech` frames in a row while D2XX
// still listed it. Holds the device for the whole call. Failure FrameFailed, advised as a device
// that does not respond, when a command fails.
HandleOutcome reprepareOnHandle(int64_t handle, int32_t framesWithoutSpeech);

// Closes the handle's device once any exchange in progress on it has ended; a handle that is not
// open is left alone.
void closeDecoder(int64_t handle);
