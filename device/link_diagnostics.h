// The qualified names under which the device link writes its lines, shared by the files that
// make up the link.
#pragma once

#include <string>

namespace link_names {

constexpr const char* CONSTRUCTOR = "USB3K::USB3K";
constexpr const char* SEND = "USB3K::sendPacket";
constexpr const char* RECEIVE = "USB3K::receivePacket";

}  // namespace link_names

// A message followed by an unsigned decimal number: " - FT_Read failed: " and 4.
inline std::string withNumber(const char* message, unsigned long number) {
    return message + std::to_string(number);
}
