// The device's packet layout: a 4-byte header (start byte, 16-bit length high byte first, type)
// followed by fields, each an identifier byte whose value decides how much data follows.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t PACKET_START = 0x61;
constexpr std::size_t PACKET_HEADER_SIZE = 4;
// A response never exceeds the receive buffer: the header and at most 508 bytes after it.
constexpr std::size_t PACKET_MAX_SIZE = 512;
constexpr std::size_t PACKET_MAX_BODY = PACKET_MAX_SIZE - PACKET_HEADER_SIZE;

constexpr uint8_t PACKET_CONTROL = 0x00;
constexpr uint8_t PACKET_CHANNEL = 0x01;

constexpr uint8_t FIELD_SPEECH = 0x00;
constexpr uint8_t FIELD_CHANNEL = 0x01;
constexpr uint8_t FIELD_RATE_TABLE = 0x09;
constexpr uint8_t FIELD_STOP_CODEC = 0x2B;
constexpr uint8_t FIELD_PARITY = 0x2F;
constexpr uint8_t FIELD_PRODUCT_ID = 0x30;
constexpr uint8_t FIELD_VERSION = 0x31;
constexpr uint8_t FIELD_RESET = 0x33;
constexpr uint8_t FIELD_READY = 0x39;

// One speech block: 160 samples of 16 bits.
constexpr int32_t SPEECH_BLOCK_SIZE = 320;
