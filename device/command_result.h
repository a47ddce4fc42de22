// What a device command (reset, stopCodec, setRate) returns. A negative value is a failure of the
// library's own, with its diagnostic line; 0 to 255 is the device's answer, 0 meaning accepted and
// any other value the device's status byte, which its caller treats as a refusal.
#pragma once

#include <cstdint>

enum CommandResult : int32_t {
    COMMAND_NOT_READY = -1,    // the device is not ready; nothing was sent and no line written
    COMMAND_NOT_SENT = -2,     // the request could not be sent
    COMMAND_NO_RESPONSE = -3,  // no usable answer was received
    COMMAND_NO_FIELD = -4,     // the answer lacks the field the command looks up
    COMMAND_ACCEPTED = 0,      // the device accepted the command
};
