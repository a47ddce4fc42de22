// The frame the probe decodes, on a local device and on a server.
#pragma once

#include <cstdint>

#include "device/frame_packing.h"

// Any codeword decodes, and the speech is not judged.
constexpr uint8_t PROBE_FRAME[VCW_FRAME_SIZE] = {};
