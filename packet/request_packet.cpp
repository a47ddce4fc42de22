#include "packet/request_packet.h"

#include <utility>

#include "packet/hex_dump.h"
#include "packet/packet_constants.h"
#include "packet/parity.h"

RequestPacket::RequestPacket(uint8_t type, bool withParity) : type(type), withParity(withParity) {}

RequestPacket::~RequestPacket() {
    // Fields go first to last, before the sequence itself.
    for (auto& field : fields) {
        field.reset();
    }
}

void RequestPacket::addField(std::unique_ptr<PacketField> field) {
    fields.push_back(std::move(field));
}

std::vector<uint8_t> RequestPacket::toBytes() const {
    std::vector<uint8_t> bytes;
    writeTo(bytes);
    return bytes;
}

void RequestPacket::writeTo(std::vector<uint8_t>& bytes) const {
    bytes.assign({PACKET_START, 0x00, 0x00, type});
    for (const auto& field : fields) {
        if (!field) {
            continue;
        }
        bytes.push_back(field->id);
        // A field without data contributes its identifier alone, whatever its length says.
        if (field->data != nullptr && field->length > 0) {
            bytes.insert(bytes.end(), field->data, field->data + field->length);
        }
    }

    const std::size_t parityFieldSize = withParity ? 2 : 0;
    const std::size_t length = bytes.size() - PACKET_HEADER_SIZE + parityFieldSize;
    bytes[1] = static_cast<uint8_t>((length >> 8) & 0xFF);
    bytes[2] = static_cast<uint8_t>(length & 0xFF);

    if (withParity) {
        bytes.push_back(FIELD_PARITY);
        bytes.push_back(parityOf(bytes.data(), 1, bytes.size()));
    }
}

std::string RequestPacket::toString() const {
    const std::vector<uint8_t> bytes = toBytes();
    return hexDump(">>: ", bytes.data(), bytes.size());
}
