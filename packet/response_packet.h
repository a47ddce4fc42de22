#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "packet/packet_field.h"

// One packet as read from the device, in its 512-byte receive buffer. Fields are found by walking
// the identifiers from the first byte after the header, since no field carries its own length.
class ResponsePacket {
  public:
    // Takes the receive buffer (512 bytes); length is the whole packet's size, header included.
    ResponsePacket(std::unique_ptr<uint8_t[]> bytes, int32_t length);
    virtual ~ResponsePacket();

    ResponsePacket(const ResponsePacket&) = delete;
    ResponsePacket& operator=(const ResponsePacket&) = delete;

    // The first field with this identifier, its data pointing into this packet, or none. A field
    // whose data would reach past the packet's end is not returned.
    std::unique_ptr<PacketField> getField(uint8_t id) const;
    // The same lookup into a field the caller owns, for callers that look up a field in every
    // packet they read: true when found, and then `field` holds its id, data and length.
    bool findField(uint8_t id, PacketField& field) const;
    // True when the packet ends its fields with a parity field; then `wanted` is the parity its
    // bytes give and `got` the parity byte it carries.
    bool parityField(uint8_t& wanted, uint8_t& got) const;
    // "<<: " and a hex dump of the packet, for debugging.
    virtual std::string toString() const;

    std::unique_ptr<uint8_t[]> bytes;
    int32_t length;
};
