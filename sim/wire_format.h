// The device's packet layout as the emulator reads requests and writes answers: a 4-byte header
// (start byte 0x61, 16-bit length high byte first, type), the fields, then the parity field 0x2F
// and the exclusive-or of every byte from offset 1 up to and including that 0x2F.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr uint8_t START_BYTE = 0x61;
constexpr uint8_t TYPE_CONTROL = 0x00;
constexpr uint8_t TYPE_CHANNEL = 0x01;
// The type byte of a speech answer; the host does not look at it.
constexpr uint8_t TYPE_SPEECH = 0x02;

constexpr uint8_t ID_SPEECH = 0x00;
constexpr uint8_t ID_CHANNEL = 0x01;
constexpr uint8_t ID_RATE_TABLE = 0x09;
constexpr uint8_t ID_STOP_CODEC = 0x2B;
constexpr uint8_t ID_PARITY = 0x2F;
constexpr uint8_t ID_PRODUCT_ID = 0x30;
constexpr uint8_t ID_VERSION = 0x31;
constexpr uint8_t ID_RESET = 0x33;
constexpr uint8_t ID_READY = 0x39;

constexpr std::size_t CHANNEL_BYTES = 8;

// One request the device recognised: its type, its one field and the field's data (as many bytes
// as the field has, at most a channel field's).
struct Request {
    uint8_t type = 0;
    uint8_t field = 0;
    std::array<uint8_t, CHANNEL_BYTES> data{};
};

enum class Parse {
    Complete,    // `request` holds a well-formed request with a correct parity field
    Incomplete,  // the bytes end before the packet the header announces
    BadStart,    // the first byte is not the start byte
    BadParity,   // well framed, but the parity byte does not match
    Malformed,   // well framed, but not a request this device knows; `malformation` says why
};

// Why a well-framed packet is not a request this device knows.
enum class Malformation {
    NoParityField,
    UnknownType,     // of request.type
    NoField,         // nothing between the header and the parity field
    FieldNotInType,  // request.field does not belong in a packet of request.type
    WrongDataSize,   // request.field came with `dataBytes` data bytes
};

struct ParseResult {
    Parse outcome = Parse::Incomplete;
    // The bytes the packet takes up; for a bad start byte or an incomplete packet, all of them.
    std::size_t consumed = 0;
    // Complete: the request. Malformed: its type and field, as far as they were read.
    Request request;
    Malformation malformation = Malformation::NoParityField;
    std::size_t dataBytes = 0;
};

// Reads the packet at the start of `bytes`. A request holds exactly one field followed by the
// parity field: product ID, version, reset, stop codec or rate table in a control packet, or the
// 8-byte channel field in a channel packet.
ParseResult parseRequest(const uint8_t* bytes, std::size_t count);

// Why a malformed packet was refused, as the transcript says it: "field 30 with 2 data bytes".
std::string describeMalformation(const ParseResult& result);

// A byte as two lowercase hexadecimal digits: "7f".
std::string hexByte(uint8_t byte);

// The exclusive-or of bytes [from, to).
uint8_t xorOf(const uint8_t* bytes, std::size_t from, std::size_t to);

// A whole packet: header, the given field bytes, parity field.
std::vector<uint8_t> buildPacket(uint8_t type, const uint8_t* fields, std::size_t count);
std::vector<uint8_t> buildPacket(uint8_t type, const std::vector<uint8_t>& fields);

}  // namespace sim
