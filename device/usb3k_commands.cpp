// The control commands that bring an identified device into packet mode at rate table 34.
#include "device/command_result.h"
#include "device/diagnostics.h"
#include "device/usb3000_device.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"

// What one command sends, looks up in the answer, and says when a step fails.
struct USB3K::Command {
    const char* name;
    uint8_t requestField;
    uint8_t responseField;
    const char* cannotSend;
    const char* noResponse;
    const char* noField;
};

int32_t USB3K::runCommand(const Command& command, const uint8_t* data, int32_t length) {
    if (!ready) {
        return COMMAND_NOT_READY;
    }
    beginOperation();
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(std::make_unique<PacketField>(command.requestField, data, length));
    PacketField field(command.responseField, nullptr, 0);
    switch (exchange(request, command.responseField, field)) {
        case Exchange::NotSent:
            writeDiagnostic(command.name, command.cannotSend);
            return COMMAND_NOT_SENT;
        case Exchange::NoResponse:
            writeDiagnostic(command.name, command.noResponse);
            return COMMAND_NO_RESPONSE;
        case Exchange::NoField:
            writeDiagnostic(command.name, command.noField);
            return COMMAND_NO_FIELD;
        case Exchange::Answered:
            break;
    }
    // The ready field carries no data: its presence is the whole answer. The other answers carry
    // the device's status byte.
    return field.length > 0 ? int32_t{field.data[0]} : int32_t{COMMAND_ACCEPTED};
}

int32_t USB3K::reset() {
    static const Command command{"USB3K::reset",
                                 FIELD_RESET,
                                 FIELD_READY,
                                 " - cannot send reset request",
                                 " - did not receive reset response",
                                 " - no ready field in response"};
    return runCommand(command, nullptr, 0);
}

int32_t USB3K::stopCodec() {
    static const Command command{"USB3K::stopCodec",
                                 FIELD_STOP_CODEC,
                                 FIELD_STOP_CODEC,
                                 " - cannot send stop codec request",
                                 " - did not receive stop codec response",
                                 " - no codec stop field in response"};
    return runCommand(command, nullptr, 0);
}

int32_t USB3K::setRate() {
    static const Command command{"USB3K::setRate",
                                 FIELD_RATE_TABLE,
                                 FIELD_RATE_TABLE,
                                 " - cannot send rate request",
                                 " - did not receive rate response",
                                 " - no rate field in response"};
    const uint8_t table = RATE_TABLE_34;
    const int32_t result = runCommand(command, &table, 1);
    if (result == COMMAND_ACCEPTED) {
        rate = RATE_TABLE_34;
    }
    return result;
}
