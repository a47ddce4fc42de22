// The 44-byte header of a WAV file of 8 kHz mono 16-bit speech, whose size is known before the
// speech is: a streamed POST /v1/decode knows it from the body's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t WAV_HEADER_SIZE = 44;

std::vector<uint8_t> wavHeader(std::size_t speechBytes);
