#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "packet/packet_field.h"

// A packet to be sent to the device. It owns its fields, not the bytes they point to.
class RequestPacket {
  public:
    RequestPacket(uint8_t type, bool withParity);
    virtual ~RequestPacket();

    RequestPacket(const RequestPacket&) = delete;
    RequestPacket& operator=(const RequestPacket&) = delete;

    // Fields go on the wire in the order they were added; nothing is validated.
    void addField(std::unique_ptr<PacketField> field);

    // The packet as it goes on the wire: header, fields, and the parity field when wanted.
    virtual std::vector<uint8_t> toBytes() const;
    // The same bytes written over `bytes`, whose storage is reused: a link that sends many
    // requests serializes them without allocating each time.
    void writeTo(std::vector<uint8_t>& bytes) const;
    // ">>: " and a hex dump of toBytes(), for debugging.
    virtual std::string toString() const;

    const uint8_t type;
    const bool withParity;

  private:
    std::vector<std::unique_ptr<PacketField>> fields;
};
