// The JSON texts usb3k-server sends: the device list of GET /v1/devices and the events of a
// WebSocket stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/device_pool.h"

// [{"serialNumber":..,"description":..,"usable":..,"productId":..,"version":..,"reason":..,
//   "state":"free"|"busy"|"away"}, ...]
std::string devicesJson(const std::vector<PooledDevice>& devices);

// {"event":"concealed","frame":N,"lines":[...]}
std::string concealedEvent(uint64_t frame, const std::vector<std::string>& lines);
// {"event":"away"|"back"|"revoked","serial":S,"frame":N}
std::string deviceEvent(const char* event, const std::string& serialNumber, uint64_t frame);
