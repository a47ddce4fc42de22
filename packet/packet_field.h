#pragma once

#include <cstdint>

// One field of a packet. A field never owns its data: the bytes belong to whoever built the
// request, or to the response the field was found in, and must outlive the field's use.
class PacketField {
  public:
    PacketField(uint8_t id, const uint8_t* data, int32_t length);
    virtual ~PacketField();

    PacketField(const PacketField&) = delete;
    PacketField& operator=(const PacketField&) = delete;

    uint8_t id;
    const uint8_t* data;
    int32_t length;
};
