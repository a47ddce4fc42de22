#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "decoders/chunk_buffers.h"
#include "device/usb3k.h"
#include "device/usb3k_factory.h"

// What the four native methods share for the whole process. Every native method holds `lock` for
// its whole run, so a shutdown on one Java thread can never free the device that a decode on
// another thread is using, and two exchanges never interleave on one serial link.
struct BridgeState {
    std::mutex lock;
    // The device list; made on first use, destroyed by shutdown.
    std::unique_ptr<USB3KFactory> factory;
    // The device the last initialize selected; borrowed from `factory`'s list, or null.
    USB3K* currentDevice = nullptr;
    // Set when a decode found the current device no longer attached: later decodes are refused at
    // once, and the next initialize makes the device list anew.
    bool currentDeviceRemoved = false;
    // The message of the last failed initialize, in the 8-bit characters of the serial number.
    std::string initError;
    // What decode calls on the current device reuse; given back by shutdown.
    ChunkBuffers chunkBuffers;
};

// The one state of the process, made on first use and never destroyed: a JVM may still run a
// native call on a daemon thread while the process exits, and an exit-time destructor would
// close the device under it.
BridgeState& bridgeState();

// The factory, enumerating and opening the attached devices when there is none yet.
USB3KFactory& obtainFactory(BridgeState& state);
