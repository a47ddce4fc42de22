#include "packet/packet_field.h"

PacketField::PacketField(uint8_t id, const uint8_t* data, int32_t length)
    : id(id), data(data), length(length) {}

PacketField::~PacketField() = default;
