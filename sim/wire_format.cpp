#include "sim/wire_format.h"


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
    uint8_t parity = 0;
    for (std::size_t i = from; i < to; ++i) {
        parity ^= bytes[i];
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
        result.problem = "no parity field";
        return result;
    }
    if (xorOf(bytes, 1, end - 1) != bytes[end - 1]) {
        result.outcome = Parse::BadParity;
        return result;
    }

    const uint8_t type = bytes[3];
    const std::size_t fieldBytes = length - PARITY_FIELD;
    result.outcome = Parse::Malformed;
    if (type != TYPE_CONTROL && type != TYPE_CHANNEL) {
        result.problem = "unknown packet type " + hexByte(type);
        return result;
    }
    if (fieldBytes == 0) {
        result.problem = "no field";
        return result;
    }
    const uint8_t field = bytes[HEADER];
    const int dataSize = requestDataSize(type, field);
    if (dataSize < 0) {
        result.problem = "field " + hexByte(field) + " in a packet of type " + hexByte(type);
        return result;
    }
    if (fieldBytes != 1 + static_cast<std::size_t>(dataSize)) {
        result.problem =
            "field " + hexByte(field) + " with " + std::to_string(fieldBytes - 1) + " data bytes";
        return result;
    }

    result.outcome = Parse::Complete;
    result.request.type = type;
    result.request.field = field;
    result.request.data.assign(bytes + HEADER + 1, bytes + end - PARITY_FIELD);
    return result;
}

std::vector<uint8_t> buildPacket(uint8_t type, const std::vector<uint8_t>& fields) {
    const std::size_t length = fields.size() + PARITY_FIELD;
    std::vector<uint8_t> packet;
    packet.reserve(HEADER + length);
    packet.push_back(START_BYTE);
    packet.push_back(static_cast<uint8_t>(length >> 8));
    packet.push_back(static_cast<uint8_t>(length & 0xFF));
    packet.push_back(type);
    packet.insert(packet.end(), fields.begin(), fields.end());
    packet.push_back(ID_PARITY);
    packet.push_back(xorOf(packet.data(), 1, packet.size()));
    return packet;
}

}  // namespace sim
