// The control commands that bring an identified device into packet mode at rate table 34.
#include "device/diagnostics.h"
#include "device/frame_packing.h"
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

namespace {

constexpr int32_t NOT_READY = -1;
constexpr int32_t NOT_SENT = -2;
constexpr int32_t NO_RESPONSE = -3;
constexpr int32_t NO_FIELD = -4;

}  // namespace

int32_t USB3K::runCommand(const Command& command, const uint8_t* data, int32_t length) {
    if (!ready) {
        return NOT_READY;
    }
    beginOperation();
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(std::make_unique<PacketField>(command.requestField, data, length));
    if (sendPacket(request) < 0) {
        writeDiagnostic(command.name, command.cannotSend);
        return NOT_SENT;
    }
    const std::unique_ptr<ResponsePacket> response = receivePacket();
    if (!response) {
        writeDiagnostic(command.name, command.noResponse);
        return NO_RESPONSE;
    }
    const std::unique_ptr<PacketField> field = response->getField(command.responseField);
    if (!field) {
        distrustLink();
        writeDiagnostic(command.name, command.noField);
        return NO_FIELD;
    }
    // The ready field carries no data: its presence is the whole answer. The other answers carry
    // the device's status byte.
    return field->length > 0 ? field->data[0] : 0;
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
    if (result == 0) {
        rate = RATE_TABLE_34;
    }
    return result;
}
