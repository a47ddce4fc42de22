// Opening, configuring and identifying one device, and carrying packets over its serial link.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "device/diagnostics.h"
#include "device/link_diagnostics.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"

namespace {

using link_names::CONSTRUCTOR;
using link_names::RECEIVE;
using link_names::SEND;

constexpr ULONG BAUD_RATE = 460800;
constexpr UCHAR LATENCY_TIMER_MS = 4;
constexpr ULONG USB_IN_TRANSFER_SIZE = 1024;
constexpr ULONG USB_OUT_TRANSFER_SIZE = 0;
constexpr ULONG READ_TIMEOUT_MS = 200;
constexpr ULONG WRITE_TIMEOUT_MS = 100;
constexpr UCHAR XON = 0x11;
constexpr UCHAR XOFF = 0x13;

// A text field's characters up to its terminating zero, never past the field's end.
std::string fieldText(const PacketField& field) {
    const char* text = reinterpret_cast<const char*>(field.data);
    if (text == nullptr || field.length <= 0) {
        return std::string();
    }
    const void* zero = std::memchr(text, 0, static_cast<std::size_t>(field.length));
    const std::size_t size = zero != nullptr
                                 ? static_cast<std::size_t>(static_cast<const char*>(zero) - text)
                                 : static_cast<std::size_t>(field.length);
    return std::string(text, size);
}

std::unique_ptr<PacketField> emptyField(uint8_t id) {
    return std::make_unique<PacketField>(id, nullptr, 0);
}

}  // namespace

USB3K::USB3K(std::string serialNumber)
    : serialNumber(std::move(serialNumber)), handle(nullptr), ready(false), rate(0) {
    open();
}

USB3K::~USB3K() {
    // The handle is closed in every state, even after a failed open; the result tells us nothing
    // we could act on.
    FT_Close(handle);
}

void USB3K::open() {
    const FT_STATUS status =
        FT_OpenEx(const_cast<char*>(serialNumber.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (status != FT_OK) {
        writeDiagnostic(CONSTRUCTOR, withNumber(" - FT_OpenEx failed: ", status));
        return;
    }
    if (configureLink()) {
        identify();
    }
}

bool USB3K::configureLink() {
    // Each setting is applied only when every earlier one succeeded.
    const auto apply = [this](auto&& call, const char* message) -> bool {
        const FT_STATUS status = call();
        if (status != FT_OK) {
            writeDiagnostic(CONSTRUCTOR, withNumber(message, status));
            return false;
        }
        return true;
    };
    return apply(
               [this] {
                   return FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1,
                                                    FT_PARITY_NONE);
               },
               " - FT_SetDataCharacteristics failed: ") &&
           apply([this] { return FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, XON, XOFF); },
                 " - FT_SetFlowControl failed: ") &&
           apply([this] { return FT_ClrRts(handle); }, " - FT_ClrRts failed: ") &&
           apply([this] { return FT_SetBaudRate(handle, BAUD_RATE); },
                 " - FT_SetBaudRate failed: ") &&
           apply([this] { return FT_SetLatencyTimer(handle, LATENCY_TIMER_MS); },
                 " - FT_SetLatencyTimer failed: ") &&
           apply(
               [this] {
                   return FT_SetUSBParameters(handle, USB_IN_TRANSFER_SIZE, USB_OUT_TRANSFER_SIZE);
               },
               " - FT_SetUSBParameters failed: ") &&
           apply([this] { return FT_SetTimeouts(handle, READ_TIMEOUT_MS, WRITE_TIMEOUT_MS); },
                 " - FT_SetTimeouts failed: ");
}

void USB3K::identify() {
    RequestPacket productIdRequest(PACKET_CONTROL, true);
    productIdRequest.addField(emptyField(FIELD_PRODUCT_ID));
    if (sendPacket(productIdRequest) < 0) {
        writeDiagnostic(CONSTRUCTOR, " - cannot send product ID request");
        return;
    }

    std::unique_ptr<ResponsePacket> response = receivePacket();
    if (!response) {
        writeDiagnostic(CONSTRUCTOR, " - did not receive product ID response (1st attempt)");
        // A slow device may answer after the first read gave up: read once more without
        // resending. A damaged answer will not mend itself: bring the link back in step and ask
        // again.
        if (lastReceiveFailure == ReceiveFailure::NothingArrived ||
            sendPacket(productIdRequest) >= 0) {
            response = receivePacket();
        }
        if (!response) {
            writeDiagnostic(CONSTRUCTOR, " - did not receive product ID response (2nd attempt)");
            return;
        }
    }
    {
        const std::unique_ptr<PacketField> field = response->getField(FIELD_PRODUCT_ID);
        if (!field) {
            distrustLink();
            writeDiagnostic(CONSTRUCTOR, " - no product ID field response");
            return;
        }
        productId = fieldText(*field);
    }
    response.reset();

    RequestPacket versionRequest(PACKET_CONTROL, true);
    versionRequest.addField(emptyField(FIELD_VERSION));
    if (sendPacket(versionRequest) < 0) {
        writeDiagnostic(CONSTRUCTOR, " - cannot send version request");
        return;
    }
    response = receivePacket();
    if (!response) {
        writeDiagnostic(CONSTRUCTOR, " - did not receive version response");
        return;
    }
    const std::unique_ptr<PacketField> field = response->getField(FIELD_VERSION);
    if (!field) {
        distrustLink();
        writeDiagnostic(CONSTRUCTOR, " - no version field in response");
        return;
    }
    version = fieldText(*field);
    ready = true;
}

int32_t USB3K::sendPacket(const RequestPacket& request) {
    if (!prepareToSend()) {
        return -1;
    }
    return writeBytes(request.toBytes());
}

int32_t USB3K::writeBytes(const std::vector<uint8_t>& bytes) {
    const DWORD count = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    const FT_STATUS status = FT_Write(handle, const_cast<uint8_t*>(bytes.data()), count, &written);
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
    std::unique_ptr<ResponsePacket> response = readPacket();
    // An answer counts only when it stands alone: bytes behind it mean it was a stale answer, a
    // duplicate or a packet whose header announced too little, and the link is out of step.
    if (!response || !receiveQueueEmpty(RECEIVE, " unexpected bytes after the packet")) {
        return nullptr;
    }
    linkState = LinkState::InStep;
    return response;
}

std::unique_ptr<ResponsePacket> USB3K::readPacket() {
    auto buffer = std::make_unique<uint8_t[]>(PACKET_MAX_SIZE);
    DWORD received = 0;
    // Any failure may leave the rest of a packet in the link.
    linkState = LinkState::OutOfStep;
    lastReceiveFailure = ReceiveFailure::Damaged;

    FT_STATUS status = FT_Read(handle, buffer.get(), PACKET_HEADER_SIZE, &received);
    if (status != FT_OK) {
        writeDiagnostic(RECEIVE, withNumber(" - FT_Read failed: ", status));
        return nullptr;
    }
    if (received < PACKET_HEADER_SIZE) {
        if (received == 0) {
            lastReceiveFailure = ReceiveFailure::NothingArrived;
        }
        writeDiagnostic(RECEIVE,
                        withNumber(" - failed to read packet header: wanted 4, got ", received));
        return nullptr;
    }
    if (buffer[0] != PACKET_START) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", buffer[0]);
        writeDiagnostic(RECEIVE,
                        std::string(" - first byte not a packet header: wanted 0x61, got ") + hex);
        return nullptr;
    }

    const DWORD length = static_cast<DWORD>(buffer[1]) << 8 | buffer[2];
    if (length > PACKET_MAX_BODY) {
        writeDiagnostic(RECEIVE,
                        withNumber(" - packet too long: wanted at most 508, got ", length));
        return nullptr;
    }

    received = 0;
    status = FT_Read(handle, buffer.get() + PACKET_HEADER_SIZE, length, &received);
    if (status != FT_OK) {
        writeDiagnostic(RECEIVE, withNumber(" - FT_Read failed: ", status));
        return nullptr;
    }
    if (received < length) {
        writeDiagnostic(RECEIVE, withNumber(" - failed to read packet header: wanted ", length) +
                                     withNumber(", got ", received));
        return nullptr;
    }
    return std::make_unique<ResponsePacket>(std::move(buffer),
                                            static_cast<int32_t>(length + PACKET_HEADER_SIZE));
}
