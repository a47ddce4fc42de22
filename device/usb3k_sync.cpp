// Keeping the link in step. Answers carry no sequence number: an answer belongs to a request only
// by order. After any glitch the link is brought back in step before the next request goes out,
// so that no request is ever answered by bytes meant for another.
#include <array>

#include "d2xx/d2xx_api.h"
#include "device/diagnostics.h"
#include "device/link_diagnostics.h"
#include "device/link_settings.h"
#include "device/usb3k.h"
#include "device/wire_trace.h"
#include "packet/packet_constants.h"

namespace {

using link_names::SEND;

// Probes a resynchronisation sends before it gives up. With PROBE_SILENT_READS read time-outs of
// silence each, they outlast a device that stops answering for about a second.
constexpr int RESYNC_PROBES = 4;
// Read time-outs in a row with nothing at all after which a probe counts as unanswered.
constexpr int PROBE_SILENT_READS = 2;
// Packets other than its answer that one probe reads and drops: answers still on their way from
// before, each of which the device sends ahead of the probe's own.
constexpr int PROBE_STALE_PACKETS = 4;
// The line counts as quiet once nothing has arrived for one latency timer and this margin: the
// chip hands bytes on at the latest when its timer runs out, so no gap inside a stream of bytes
// is longer than the timer.
constexpr ULONG QUIET_MARGIN_MS = 4;
// Reads of the drain, each taking at most a packet's worth: a line that never goes quiet still
// ends the drain.
constexpr int DRAIN_READS = 16;

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
    linkState = LinkState::OutOfStep;
    for (int probe = 0; probe < RESYNC_PROBES; ++probe) {
        // A link whose read time-out could not be restored is not used for a probe.
        if (!drainUntilQuiet()) {
            continue;
        }
        switch (probeOnce()) {
            case Probe::Answered:
                linkState = LinkState::InStep;
                return true;
            case Probe::PurgeFailed:
                // A request must never go out over stale bytes: if they cannot be discarded, it
                // waits.
                return false;
            case Probe::Unanswered:
                break;
        }
    }
    writeDiagnostic(SEND, " - link not back in step; request not sent");
    return false;
}

bool USB3K::setReadTimeout(ULONG milliseconds) {
    const FT_STATUS status = d2xx().setTimeouts(handle, milliseconds, WRITE_TIMEOUT_MS);
    if (status != FT_OK) {
        writeDiagnostic(SEND, withNumber(" - FT_SetTimeouts failed: ", status));
        return false;
    }
    return true;
}

bool USB3K::drainUntilQuiet() {
    // The rest of a damaged answer, a late one, or noise may still be on its way: the purge
    // drops only what has arrived, and what arrives after it would be read as the probe's answer.
    if (!setReadTimeout(latencyTimerMs + QUIET_MARGIN_MS)) {
        return true;  // the read time-out is unchanged: the probe can go on without the drain
    }
    std::array<uint8_t, PACKET_MAX_SIZE> sink;
    unsigned long discarded = 0;
    for (int read = 0; read < DRAIN_READS; ++read) {
        DWORD received = 0;
        const FT_STATUS status = d2xx().read(handle, sink.data(), sink.size(), &received);
        if (status != FT_OK) {
            writeDiagnostic(SEND, withNumber(" - FT_Read failed: ", status));
            break;
        }
        if (tracing && received > 0) {
            traceBytes("<<! ", sink.data(), received);
        }
        discarded += received;
        if (received == 0) {
            break;
        }
    }
    if (discarded > 0) {
        writeDiagnostic(
            SEND, withNumber(" - discarded ", discarded) + " bytes before the line went quiet");
    }
    return setReadTimeout(READ_TIMEOUT_MS);
}

bool USB3K::clearLinkForReset() {
    linkState = LinkState::OutOfStep;
    if (!drainUntilQuiet()) {
        return false;
    }
    const FT_STATUS status = d2xx().purge(handle, FT_PURGE_RX);
    if (status != FT_OK) {
        writeDiagnostic(SEND, withNumber(" - FT_Purge failed: ", status));
        return false;
    }
    // Nothing is queued: a late answer arriving now is found before the reset goes out.
    linkState = LinkState::Unchecked;
    return true;
}

USB3K::Probe USB3K::probeOnce() {
    const FT_STATUS status = d2xx().purge(handle, FT_PURGE_RX);
    if (status != FT_OK) {
        writeDiagnostic(SEND, withNumber(" - FT_Purge failed: ", status));
        return Probe::PurgeFailed;
    }
    // The device answers in order, so every answer still on its way arrives before the answer to
    // this probe, which no speech can be taken for. An earlier probe's late answer asks for the
    // other field.
    const uint8_t wanted = nextProbeField;
    nextProbeField = wanted == FIELD_PRODUCT_ID ? FIELD_VERSION : FIELD_PRODUCT_ID;
    RequestPacket probe(PACKET_CONTROL, true);
    probe.addField(std::make_unique<PacketField>(wanted, nullptr, 0));
    if (writeRequest(probe) != static_cast<int32_t>(requestBytes.size())) {
        return Probe::Unanswered;
    }
    PacketField field(wanted, nullptr, 0);
    int silentReads = 0;
    for (int stale = 0; stale <= PROBE_STALE_PACKETS;) {
        if (!readPacketInto(*answer)) {
            // An answer later than one read time-out may still come; bytes that were not a
            // whole packet leave the link where only a drain can tell where packets start.
            if (lastReceiveFailure == ReceiveFailure::NothingArrived &&
                ++silentReads < PROBE_SILENT_READS) {
                continue;
            }
            return Probe::Unanswered;
        }
        silentReads = 0;
        if (answer->findField(wanted, field)) {
            return receiveQueueEmpty(SEND, " unexpected bytes after the probe's answer")
                       ? Probe::Answered
                       : Probe::Unanswered;
        }
        writeDiagnostic(SEND, withNumber(" - discarded a stale packet of ",
                                         static_cast<unsigned long>(answer->length)) +
                                  " bytes");
        ++stale;
    }
    return Probe::Unanswered;
}
