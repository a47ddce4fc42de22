// Opening, configuring and identifying one device, and carrying packets over its serial link.
#include <string>
#include <utility>

#include "d2xx/d2xx_api.h"
#include "device/bounded_text.h"
#include "device/diagnostics.h"
#include "device/link_diagnostics.h"
#include "device/link_settings.h"
#include "device/usb3k.h"
#include "device/wire_trace.h"
#include "packet/hex_dump.h"
#include "packet/packet_constants.h"

namespace {

using link_names::CONSTRUCTOR;
using link_names::RECEIVE;
using link_names::SEND;

std::string fieldText(const PacketField& field) {
    return boundedText(reinterpret_cast<const char*>(field.data),
                       field.length > 0 ? static_cast<std::size_t>(field.length) : 0);
}

std::unique_ptr<ResponsePacket> emptyPacket() {
    return std::make_unique<ResponsePacket>(std::make_unique<uint8_t[]>(PACKET_MAX_SIZE), 0);
}

// One link setting: true when D2XX accepted it, otherwise its line.
bool applied(FT_STATUS status, const char* message) {
    if (status != FT_OK) {
        writeDiagnostic(CONSTRUCTOR, withNumber(message, status));
        return false;
    }
    return true;
}

}  // namespace

USB3K::USB3K(std::string serialNumber)
    : serialNumber(std::move(serialNumber)),
      handle(nullptr),
      openStatus(FT_OK),
      ready(false),
      rate(0),
      tracing(wireTraceWanted()),
      answer(emptyPacket()),
      channelRequest(PACKET_CHANNEL, true) {
    channelRequest.addField(
        std::make_unique<PacketField>(FIELD_CHANNEL, channelField.data(), CHANNEL_FIELD_SIZE));
    open();
}

USB3K::~USB3K() {
    // Only a handle that D2XX gave is closed; the result tells us nothing we could act on.
    if (handle != nullptr) {
        d2xx().close(handle);
    }
}

void USB3K::open() {
    // Made by the factory, the D2XX library is loaded already; made on its own, a device whose
    // library cannot be loaded fails to open like a device that is not there.
    std::string reason;
    loadD2xx(reason);
    std::string problem;
    latencyTimerMs = latencyTimerWanted(problem);
    if (!problem.empty()) {
        writeDiagnostic(CONSTRUCTOR, problem);
    }
    openStatus =
        d2xx().openEx(const_cast<char*>(serialNumber.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (openStatus != FT_OK) {
        // Whatever a failed open left in it is no handle of D2XX's.
        handle = nullptr;
        writeDiagnostic(CONSTRUCTOR, withNumber(" - FT_OpenEx failed: ", openStatus));
        return;
    }
    if (configureLink()) {
        identify();
    }
}

bool USB3K::configureLink() {
    // Each setting is applied only when every earlier one succeeded.
    return applied(d2xx().setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE),
                   " - FT_SetDataCharacteristics failed: ") &&
           applied(d2xx().setFlowControl(handle, FT_FLOW_RTS_CTS, XON, XOFF),
                   " - FT_SetFlowControl failed: ") &&
           applied(d2xx().clrRts(handle), " - FT_ClrRts failed: ") &&
           applied(d2xx().setBaudRate(handle, BAUD_RATE), " - FT_SetBaudRate failed: ") &&
           applied(d2xx().setLatencyTimer(handle, latencyTimerMs),
                   " - FT_SetLatencyTimer failed: ") &&
           applied(d2xx().setUSBParameters(handle, USB_IN_TRANSFER_SIZE, USB_OUT_TRANSFER_SIZE),
                   " - FT_SetUSBParameters failed: ") &&
           applied(d2xx().setTimeouts(handle, READ_TIMEOUT_MS, WRITE_TIMEOUT_MS),
                   " - FT_SetTimeouts failed: ");
}

void USB3K::identify() {
    PacketField field(FIELD_PRODUCT_ID, nullptr, 0);
    {
        RequestPacket request(PACKET_CONTROL, true);
        request.addField(std::make_unique<PacketField>(FIELD_PRODUCT_ID, nullptr, 0));
        Exchange step = exchange(request, FIELD_PRODUCT_ID, field);
        if (step == Exchange::NotSent) {
            writeDiagnostic(CONSTRUCTOR, " - cannot send product ID request");
            return;
        }
        if (step == Exchange::NoResponse) {
            writeDiagnostic(CONSTRUCTOR, " - did not receive product ID response (1st attempt)");
            // A slow device may answer after the first read gave up: read once more without
            // resending. A damaged answer will not mend itself: the link is brought back in step
            // and the request sent again.
            const bool sendAgain = lastReceiveFailure != ReceiveFailure::NothingArrived;
            step = exchange(request, FIELD_PRODUCT_ID, field, sendAgain);
            if (step == Exchange::NotSent || step == Exchange::NoResponse) {
                writeDiagnostic(CONSTRUCTOR,
                                " - did not receive product ID response (2nd attempt)");
                return;
            }
        }
        if (step == Exchange::NoField) {
            writeDiagnostic(CONSTRUCTOR, " - no product ID field response");
            return;
        }
        productId = fieldText(field);
    }

    RequestPacket request(PACKET_CONTROL, true);
    request.addField(std::make_unique<PacketField>(FIELD_VERSION, nullptr, 0));
    switch (exchange(request, FIELD_VERSION, field)) {
        case Exchange::NotSent:
            writeDiagnostic(CONSTRUCTOR, " - cannot send version request");
            return;
        case Exchange::NoResponse:
            writeDiagnostic(CONSTRUCTOR, " - did not receive version response");
            return;
        case Exchange::NoField:
            writeDiagnostic(CONSTRUCTOR, " - no version field in response");
            return;
        case Exchange::Answered:
            break;
    }
    version = fieldText(field);
    ready = true;
}

USB3K::Exchange USB3K::exchange(const RequestPacket& request, uint8_t fieldId, PacketField& field,
                                bool send) {
    if (send && sendPacket(request) < 0) {
        return Exchange::NotSent;
    }
    if (!receiveInto(*answer)) {
        return Exchange::NoResponse;
    }
    if (!answer->findField(fieldId, field)) {
        // An answer without the field asked for may belong to another request, whose own answer
        // would then still be on its way.
        linkState = LinkState::OutOfStep;
        return Exchange::NoField;
    }
    return Exchange::Answered;
}

int32_t USB3K::sendPacket(const RequestPacket& request) {
    if (!prepareToSend()) {
        return -1;
    }
    return writeRequest(request);
}

int32_t USB3K::writeRequest(const RequestPacket& request) {
    request.writeTo(requestBytes);
    const DWORD count = static_cast<DWORD>(requestBytes.size());
    DWORD written = 0;
    if (tracing) {
        traceBytes(">>: ", requestBytes.data(), requestBytes.size());
    }
    const FT_STATUS status = d2xx().write(handle, requestBytes.data(), count, &written);
    if (status != FT_OK) {
        // Part of the packet may have gone out: the device cannot answer it as a whole.
        linkState = LinkState::OutOfStep;
        writeDiagnostic(SEND, withNumber(" - FT_Write failed: ", status));
        return -1;
    }
    if (written != count) {
        linkState = LinkState::OutOfStep;
        writeDiagnostic(
            SEND, withNumber(" - FT_Write wrote ", written) + withNumber(", expected ", count));
    }
    return static_cast<int32_t>(written);
}

std::unique_ptr<ResponsePacket> USB3K::receivePacket() {
    std::unique_ptr<ResponsePacket> response = emptyPacket();
    if (!receiveInto(*response)) {
        return nullptr;
    }
    return response;
}

bool USB3K::receiveInto(ResponsePacket& packet) {
    if (!readPacketInto(packet)) {
        return false;
    }
    // Bytes behind an answer mean a duplicate, noise, or a header that announced too little, and
    // the link is out of step. Without a parity field nothing shows which of them the answer was,
    // so it does not count; with a matching one it arrived whole and is kept.
    if (!receiveQueueEmpty(RECEIVE, " unexpected bytes after the packet")) {
        return lastPacketVerified;
    }
    linkState = LinkState::InStep;
    return true;
}

bool USB3K::readPacketInto(ResponsePacket& packet) {
    std::size_t bytesRead = 0;
    const bool whole = readPacketBytes(packet, bytesRead);
    if (tracing && bytesRead > 0) {
        traceBytes(whole ? "<<: " : "<<! ", packet.bytes.get(), bytesRead);
    }
    return whole;
}

bool USB3K::readPacketBytes(ResponsePacket& packet, std::size_t& bytesRead) {
    uint8_t* buffer = packet.bytes.get();
    packet.length = 0;
    DWORD received = 0;
    // Any failure may leave the rest of a packet in the link.
    linkState = LinkState::OutOfStep;
    lastReceiveFailure = ReceiveFailure::Damaged;
    lastPacketVerified = false;

    FT_STATUS status = d2xx().read(handle, buffer, PACKET_HEADER_SIZE, &received);
    bytesRead = received;
    if (status != FT_OK) {
        writeDiagnostic(RECEIVE, withNumber(" - FT_Read failed: ", status));
        return false;
    }
    if (received < PACKET_HEADER_SIZE) {
        if (received == 0) {
            lastReceiveFailure = ReceiveFailure::NothingArrived;
        }
        writeDiagnostic(RECEIVE,
                        withNumber(" - failed to read packet header: wanted 4, got ", received));
        return false;
    }
    if (buffer[0] != PACKET_START) {
        writeDiagnostic(
            RECEIVE, " - first byte not a packet header: wanted 0x61, got " + hexByte(buffer[0]));
        return false;
    }

    const DWORD length = static_cast<DWORD>(buffer[1]) << 8 | buffer[2];
    if (length > PACKET_MAX_BODY) {
        writeDiagnostic(RECEIVE,
                        withNumber(" - packet too long: wanted at most 508, got ", length));
        return false;
    }

    received = 0;
    status = d2xx().read(handle, buffer + PACKET_HEADER_SIZE, length, &received);
    bytesRead += received;
    if (status != FT_OK) {
        writeDiagnostic(RECEIVE, withNumber(" - FT_Read failed: ", status));
        return false;
    }
    if (received < length) {
        writeDiagnostic(RECEIVE, withNumber(" - failed to read packet header: wanted ", length) +
                                     withNumber(", got ", received));
        return false;
    }
    packet.length = static_cast<int32_t>(length + PACKET_HEADER_SIZE);
    uint8_t wanted = 0;
    uint8_t got = 0;
    lastPacketVerified = packet.parityField(wanted, got);
    if (lastPacketVerified && wanted != got) {
        // A byte changed on the line: the speech it carries is not the device's.
        lastPacketVerified = false;
        writeDiagnostic(RECEIVE,
                        " - parity mismatch: wanted " + hexByte(wanted) + ", got " + hexByte(got));
        return false;
    }
    return true;
}
