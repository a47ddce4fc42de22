#include "sim/wire_format.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr std::size_t HEADER = 4;
constexpr std::size_t PARITY_FIELD = 2;

// How many data bytes follow a request field identifier in a packet of this type, or -1 when the
// identifier does not belong in such a packet.
int requestDataSize(uint8_t type, uint8_t field) {
    if (type == TYPE_CHANNEL) {
        return field == ID_CHANNEL ? static_cast<int>(CHANNEL_BYTES) : -1;
    }
    switch (field) {
        case ID_PRODUCT_ID:
        case ID_VERSION:
        case ID_RESET:
        case ID_STOP_CODEC:
            return 0;
        case ID_RATE_TABLE:
            return 1;
        default:
            return -1;
    }
}

}  // namespace

std::string hexByte(uint8_t byte) {
    static const char digits[] = "0123456789abcdef";
    return std::string{digits[byte >> 4], digits[byte & 0x0F]};
}

uint8_t xorOf(const uint8_t* bytes, std::size_t from, std::size_t to) {
    // Eight bytes at a time, a speech answer being 328 bytes: the exclusive-or of all the bytes
    // is that of the eight byte lanes of the words.
    uint64_t lanes = 0;
    std::size_t i = from;
    for (; i + sizeof lanes <= to; i += sizeof lanes) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        lanes ^= word;
    }
    uint8_t parity = 0;
    for (; i < to; ++i) {
        parity ^= bytes[i];
    }
    for (std::size_t lane = 0; lane < sizeof lanes; ++lane) {
        parity ^= static_cast<uint8_t>(lanes >> (8 * lane));
    }
    return parity;
}

ParseResult parseRequest(const uint8_t* bytes, std::size_t count) {
    ParseResult result;
    result.consumed = count;
    if (count == 0) {
        return result;
    }
    if (bytes[0] != START_BYTE) {
        result.outcome = Parse::BadStart;
        return result;
    }
    if (count < HEADER) {
        return result;
    }
    const std::size_t length = (std::size_t{bytes[1]} << 8) | bytes[2];
    if (count < HEADER + length) {
        return result;
    }
    result.consumed = HEADER + length;
    const std::size_t end = HEADER + length;

    if (length < PARITY_FIELD || bytes[end - PARITY_FIELD] != ID_PARITY) {
        result.outcome = Parse::Malformed;
        result.malformation = Malformation::NoParityField;
        return result;
    }
    if (xorOf(bytes, 1, end - 1) != bytes[end - 1]) {
        result.outcome = Parse::BadParity;
        return result;
    }

    const uint8_t type = bytes[3];
    const std::size_t fieldBytes = length - PARITY_FIELD;
    result.outcome = Parse::Malformed;
    result.request.type = type;
    if (type != TYPE_CONTROL && type != TYPE_CHANNEL) {
        result.malformation = Malformation::UnknownType;
        return result;
    }
    if (fieldBytes == 0) {
        result.malformation = Malformation::NoField;
        return result;
    }
    const uint8_t field = bytes[HEADER];
    result.request.field = field;
    const int dataSize = requestDataSize(type, field);
    if (dataSize < 0) {
        result.malformation = Malformation::FieldNotInType;
        return result;
    }
    if (fieldBytes != 1 + static_cast<std::size_t>(dataSize)) {
        result.malformation = Malformation::WrongDataSize;
        result.dataBytes = fieldBytes - 1;
        return result;
    }

    result.outcome = Parse::Complete;
    std::copy(bytes + HEADER + 1, bytes + end - PARITY_FIELD, result.request.data.begin());
    return result;
}

std::string describeMalformation(const ParseResult& result) {
    const Request& request = result.request;
    switch (result.malformation) {
        case Malformation::NoParityField:
            return "no parity field";
        case Malformation::UnknownType:
            return "unknown packet type " + hexByte(request.type);
        case Malformation::NoField:
            return "no field";
        case Malformation::FieldNotInType:
            return "field " + hexByte(request.field) + " in a packet of type " +
                   hexByte(request.type);
        case Malformation::WrongDataSize:
            return "field " + hexByte(request.field) + " with " + std::to_string(result.dataBytes) +
                   " data bytes";
    }
    return {};
}

std::vector<uint8_t> buildPacket(uint8_t type, const uint8_t* fields, std::size_t count) {
    const std::size_t length = count + PARITY_FIELD;
    std::vector<uint8_t> packet;
    packet.reserve(HEADER + length);
    packet.push_back(START_BYTE);
    packet.push_back(static_cast<uint8_t>(length >> 8));
    packet.push_back(static_cast<uint8_t>(length & 0xFF));
    packet.push_back(type);
    packet.insert(packet.end(), fields, fields + count);
    packet.push_back(ID_PARITY);
    packet.push_back(xorOf(packet.data(), 1, packet.size()));
    return packet;
}

std::vector<uint8_t> buildPacket(uint8_t type, const std::vector<uint8_t>& fields) {
    return buildPacket(type, fields.data(), fields.size());
}

}  // namespace sim
