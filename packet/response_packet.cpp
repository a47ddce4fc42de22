#include "packet/response_packet.h"

#include <utility>

#include "packet/hex_dump.h"
#include "packet/packet_constants.h"
#include "packet/parity.h"

namespace {

// A length outside the buffer would let a walk read past it.
int32_t boundedLength(int32_t length) {
    if (length < 0) {
        return 0;
    }
    return length > static_cast<int32_t>(PACKET_MAX_SIZE) ? static_cast<int32_t>(PACKET_MAX_SIZE)
                                                          : length;
}

// Offset of the zero that ends a text starting at `from`, or `end` when the packet ends first.
int32_t textEnd(const uint8_t* bytes, int32_t from, int32_t end) {
    int32_t offset = from;
    while (offset < end && bytes[offset] != 0) {
        ++offset;
    }
    return offset;
}

bool found(PacketField& field, uint8_t id, const uint8_t* data, int32_t length) {
    field.id = id;
    field.data = data;
    field.length = length;
    return true;
}

// The field at `offset`, which holds its identifier, as the caller asked for it: its data and
// length, or false when its data would reach past the packet's end.
bool fieldAt(const uint8_t* packet, int32_t offset, int32_t length, PacketField& field) {
    const uint8_t id = packet[offset];
    const int32_t data = offset + 1;
    switch (id) {
        case FIELD_SPEECH:
            // One byte the device puts before the samples is skipped.
            if (data + 1 + SPEECH_BLOCK_SIZE > length) {
                return false;
            }
            return found(field, id, packet + data + 1, SPEECH_BLOCK_SIZE);
        case FIELD_RATE_TABLE:
        case FIELD_STOP_CODEC:
            if (data + 1 > length) {
                return false;
            }
            return found(field, id, packet + data, 1);
        case FIELD_PRODUCT_ID:
        case FIELD_VERSION: {
            // A text cut off by the packet's end counts its characters only.
            const int32_t zero = textEnd(packet, data, length);
            const int32_t textLength = zero - data + (zero < length ? 1 : 0);
            return found(field, id, packet + data, textLength);
        }
        case FIELD_READY:
            return found(field, id, nullptr, 0);
        default:
            return false;
    }
}

// Where the walk goes on after the field at `offset`, or -1 when its identifier ends the walk:
// channel, reset, parity and unknown identifiers, and a text without its terminating zero.
int32_t nextFieldAt(const uint8_t* packet, int32_t offset, int32_t length) {
    const int32_t data = offset + 1;
    switch (packet[offset]) {
        case FIELD_SPEECH:
            return data + 1 + SPEECH_BLOCK_SIZE;
        case FIELD_RATE_TABLE:
        case FIELD_STOP_CODEC:
            return data + 1;
        case FIELD_PRODUCT_ID:
        case FIELD_VERSION: {
            const int32_t zero = textEnd(packet, data, length);
            return zero < length ? zero + 1 : -1;
        }
        case FIELD_READY:
            return data;
        default:
            return -1;
    }
}

}  // namespace

ResponsePacket::ResponsePacket(std::unique_ptr<uint8_t[]> bytes, int32_t length)
    : bytes(std::move(bytes)), length(boundedLength(length)) {}

ResponsePacket::~ResponsePacket() = default;

std::unique_ptr<PacketField> ResponsePacket::getField(uint8_t id) const {
    auto field = std::make_unique<PacketField>(id, nullptr, 0);
    if (!findField(id, *field)) {
        return nullptr;
    }
    return field;
}

bool ResponsePacket::findField(uint8_t id, PacketField& field) const {
    const uint8_t* packet = bytes.get();
    if (packet == nullptr || length <= static_cast<int32_t>(PACKET_HEADER_SIZE)) {
        return false;
    }
    for (int32_t offset = PACKET_HEADER_SIZE; offset >= 0 && offset < length;
         offset = nextFieldAt(packet, offset, length)) {
        if (packet[offset] == id) {
            return fieldAt(packet, offset, length, field);
        }
    }
    return false;
}

bool ResponsePacket::parityField(uint8_t& wanted, uint8_t& got) const {
    const uint8_t* packet = bytes.get();
    if (packet == nullptr) {
        return false;
    }
    // The parity field is where the walk of the known fields ends, with its byte inside the
    // packet.
    int32_t offset = PACKET_HEADER_SIZE;
    while (offset >= 0 && offset < length && packet[offset] != FIELD_PARITY) {
        offset = nextFieldAt(packet, offset, length);
    }
    if (offset < 0 || offset + 1 >= length) {
        return false;
    }
    wanted = parityOf(packet, 1, static_cast<std::size_t>(offset) + 1);
    got = packet[offset + 1];
    return true;
}

std::string ResponsePacket::toString() const {
    const std::size_t count = (bytes && length > 0) ? static_cast<std::size_t>(length) : 0;
    return hexDump("<<: ", bytes.get(), count);
}
