#pragma once

#include <string>

#include "device/usb3k.h"

// Brings an identified device into the state decoding needs: reset, codec stopped (packet mode),
// rate table 34. Each command writes its own line when it fails; any result but 0, a device
// status byte included, means the device cannot decode. Returns an empty text when the device is
// ready to decode, otherwise why not ("Cannot reset USB-3000 device S", ...).
std::string prepareForDecoding(USB3K& device);

// Why a device that did not get ready cannot decode: "USB-3000 device S is not ready".
std::string notReadyMessage(const USB3K& device);
