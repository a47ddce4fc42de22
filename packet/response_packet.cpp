#include "packet/response_packet.h"

#include <utility>

#include "packet/hex_dump.h"
#include "packet/packet_constants.h"

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

    int32_t offset = PACKET_HEADER_SIZE;
    while (offset < length) {
        const uint8_t fieldId = packet[offset];
        const bool wanted = fieldId == id;
        switch (fieldId) {
            case FIELD_SPEECH: {
                // One byte the device puts before the samples is skipped.
                const int32_t data = offset + 2;
                if (wanted) {
                    if (data + SPEECH_BLOCK_SIZE > length) {
                        return false;
                    }
                    return found(field, id, packet + data, SPEECH_BLOCK_SIZE);
                }
                offset = data + SPEECH_BLOCK_SIZE;
                break;
            }
            case FIELD_RATE_TABLE:
            case FIELD_STOP_CODEC: {
                const int32_t data = offset + 1;
                if (wanted) {
                    if (data + 1 > length) {
                        return false;
                    }
                    return found(field, id, packet + data, 1);
                }
                offset = data + 1;
                break;
            }
            case FIELD_PRODUCT_ID:
            case FIELD_VERSION: {
                const int32_t data = offset + 1;
                const int32_t zero = textEnd(packet, data, length);
                const bool terminated = zero < length;
                if (wanted) {
                    // A text cut off by the packet's end counts its characters only.
                    const int32_t textLength = zero - data + (terminated ? 1 : 0);
                    return found(field, id, packet + data, textLength);
                }
                if (!terminated) {
                    return false;
                }
                offset = zero + 1;
                break;
            }
            case FIELD_READY:
                if (wanted) {
                    return found(field, id, nullptr, 0);
                }
                offset += 1;
                break;
            default:
                // Channel, reset, parity and unknown identifiers end the walk.
                return false;
        }
    }
    return false;
}

std::string ResponsePacket::toString() const {
    const std::size_t count = (bytes && length > 0) ? static_cast<std::size_t>(length) : 0;
    return hexDump("<<: ", bytes.get(), count);
}
