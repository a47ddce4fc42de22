// Keeping the link in step. Answers carry no sequence number: an answer belongs to a request only
// by order. After any glitch the link is brought back in step before the next request goes out,
// so that no request is ever answered by bytes meant for another.
#include "d2xx/d2xx_api.h"
#include "device/diagnostics.h"
#include "device/link_diagnostics.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"

namespace {

using link_names::SEND;

// A resynchronisation makes at most this many packet reads looking for its product ID answer:
// room for the answers still on their way from before (a late one, a duplicate), a read time-out
// or two while they come, and then its own answer.
constexpr int RESYNC_READ_LIMIT = 5;

}  // namespace

void USB3K::beginOperation() {
    if (linkState == LinkState::InStep) {
        linkState = LinkState::Unchecked;
    }
}

bool USB3K::receiveQueueEmpty(const char* where, const char* message) {
    DWORD queued = 0;
    const FT_STATUS status = d2xx().getQueueStatus(handle, &queued);
    if (status != FT_OK) {
        linkState = LinkState::OutOfStep;
        writeDiagnostic(where, withNumber(" - FT_GetQueueStatus failed: ", status));
        return false;
    }
    if (queued != 0) {
        linkState = LinkState::OutOfStep;
        writeDiagnostic(where, withNumber(" - ", queued) + message);
        return false;
    }
    return true;
}

bool USB3K::prepareToSend() {
    if (linkState == LinkState::Unchecked &&
        receiveQueueEmpty(SEND, " stale bytes waiting before the request")) {
        linkState = LinkState::InStep;
    }
    return linkState == LinkState::InStep || resynchronize();
}

bool USB3K::resynchronize() {
    // A request must never go out over stale bytes: if they cannot be discarded, it waits.
    const FT_STATUS status = d2xx().purge(handle, FT_PURGE_RX);
    if (status != FT_OK) {
        writeDiagnostic(SEND, withNumber(" - FT_Purge failed: ", status));
        return false;
    }
    // The purge cannot catch an answer still on its way. The device answers in order, so every
    // such answer arrives before the answer to this request, which no speech can be taken for.
    RequestPacket probe(PACKET_CONTROL, true);
    probe.addField(std::make_unique<PacketField>(FIELD_PRODUCT_ID, nullptr, 0));
    const int32_t written = writeRequest(probe);
    if (written == static_cast<int32_t>(requestBytes.size())) {
        PacketField field(FIELD_PRODUCT_ID, nullptr, 0);
        for (int reads = 0; reads < RESYNC_READ_LIMIT; ++reads) {
            if (!readPacketInto(*answer)) {
                // An answer later than one read time-out may still come; anything else that
                // went wrong leaves bytes this loop cannot tell apart.
                if (lastReceiveFailure == ReceiveFailure::NothingArrived) {
                    continue;
                }
                break;
            }
            if (answer->findField(FIELD_PRODUCT_ID, field)) {
                if (!receiveQueueEmpty(SEND, " unexpected bytes after the product ID answer")) {
                    break;
                }
                linkState = LinkState::InStep;
                return true;
            }
            writeDiagnostic(SEND, withNumber(" - discarded a stale packet of ",
                                             static_cast<unsigned long>(answer->length)) +
                                      " bytes");
        }
    }
    linkState = LinkState::OutOfStep;
    writeDiagnostic(SEND, " - link not back in step; request not sent");
    return false;
}
