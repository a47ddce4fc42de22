#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d2xx/d2xx.h"
#include "packet/packet_constants.h"
#include "packet/request_packet.h"
#include "packet/response_packet.h"

// One opened USB-3000. The constructor opens the device's FTDI chip by serial number, configures
// the serial link and identifies the device; only a device that answered both identification
// requests is ready. Failures show as ready == false and as diagnostic lines on standard error.
class USB3K {
  public:
    explicit USB3K(std::string serialNumber);
    virtual ~USB3K();

    USB3K(const USB3K&) = delete;
    USB3K& operator=(const USB3K&) = delete;

    // Writes the request in one FT_Write. Returns the bytes the link accepted, or a negative value
    // when the request was not sent: the write failed, or the link could not be brought back in
    // step after an earlier glitch.
    int32_t sendPacket(const RequestPacket& request);
    // Reads the next packet from the link: the 4-byte header, then the length it announces. A
    // packet whose parity byte is wrong is not returned. Bytes waiting behind a packet put the
    // link out of step; the packet is still returned when its parity field vouches for it, and
    // otherwise not trusted.
    std::unique_ptr<ResponsePacket> receivePacket();

    // For a reset of a device that stopped answering, whose link cannot be brought back in step by
    // asking it to identify itself: lets the line go quiet and discards what is queued, so that
    // the next request goes out. False when the queue could not be discarded.
    bool clearLinkForReset();

    // Control commands, each one exchange; results as CommandResult says: a negative failure of
    // the library's own, or 0 (reset) or the device's status byte.
    int32_t reset();
    int32_t stopCodec();
    // Selects rate table 34; on status 0 the device's rate becomes 34.
    int32_t setRate();

    // Decodes every whole 7-byte VCW frame of the input, one exchange per frame, and returns 320
    // speech bytes per decoded frame in the device's byte order. Stops at the first failing frame.
    std::vector<uint8_t> decode(const std::vector<uint8_t>& vcw);
    // The same for `frames` whole frames at `vcw`, writing 320 bytes per decoded frame to
    // `speech` and nothing beyond the last one; returns how many frames were decoded. Allocates
    // nothing unless a frame fails.
    std::size_t decodeFrames(const uint8_t* vcw, std::size_t frames, uint8_t* speech);

    // The FTDI latency timer the link was configured with, in milliseconds.
    uint8_t latencyTimer() const { return latencyTimerMs; }

    std::string serialNumber;
    std::string productId;
    std::string version;
    FT_HANDLE handle;
    // What FT_OpenEx answered when the device was made; FT_OK when it opened.
    FT_STATUS openStatus;
    bool ready;
    uint8_t rate;

  private:
    // Whether the next request may go out as it is. Answers carry no sequence number, so an answer
    // belongs to its request only by order: once anything but the one expected answer may sit in
    // the link, every later exchange would read the answer meant for the one before it.
    enum class LinkState {
        InStep,     // the last answer was read whole, with nothing behind it
        Unchecked,  // time has passed since: bytes may have arrived that nobody asked for
        OutOfStep,  // a receive failed or its answer was unusable: resynchronise first
    };
    // How the last failed receive ended: with nothing at all, or with bytes that were not a
    // usable packet.
    enum class ReceiveFailure { NothingArrived, Damaged };

    void open();
    bool configureLink();
    void identify();
    struct Command;
    int32_t runCommand(const Command& command, const uint8_t* data, int32_t length);

    // How one exchange ended: the answer's field found, or the step that failed.
    enum class Exchange { Answered, NotSent, NoResponse, NoField };
    // The request out, one packet back, the field `fieldId` looked up in it. On Answered, `field`
    // points into the answer, valid until the next exchange. With `send` false the request is not
    // sent again: a second read for an answer that was late.
    Exchange exchange(const RequestPacket& request, uint8_t fieldId, PacketField& field,
                      bool send = true);

    // A new operation starts: whatever arrived since the last exchange is looked for before the
    // next request goes out.
    void beginOperation();
    // Before a request: checks the receive queue when the link is unchecked, and brings it back
    // in step when it is out of step. False when the request must not go out.
    bool prepareToSend();
    // Brings the link back in step: lets the line go quiet, discards what is queued, and asks the
    // device to identify itself until an answer to that very request arrives alone. Bounded in
    // probes and reads; true when the link is back in step.
    bool resynchronize();
    // How one probe of a resynchronisation ended.
    enum class Probe { Answered, Unanswered, PurgeFailed };
    // One probe: purge, one identification request, and reads until its answer.
    Probe probeOnce();
    // Reads and drops whatever arrives until nothing has arrived for a while, bounded; the read
    // time-out is shortened for it and restored after. False when it could not be restored.
    bool drainUntilQuiet();
    bool setReadTimeout(ULONG milliseconds);
    // Serializes the request into `requestBytes` and writes it in one FT_Write; the written count,
    // or negative when the write failed.
    int32_t writeRequest(const RequestPacket& request);
    // The 4-byte header and the length it announces into `packet`, and its parity when it has a
    // parity field, without checking what follows; traced when tracing.
    bool readPacketInto(ResponsePacket& packet);
    // The reads themselves; `bytesRead` counts what arrived, usable or not.
    bool readPacketBytes(ResponsePacket& packet, std::size_t& bytesRead);
    // readPacketInto, and the answer counts only when nothing waits behind it or its parity field
    // vouches for it.
    bool receiveInto(ResponsePacket& packet);
    // True when nothing waits in the receive queue; otherwise writes a line for `where`.
    bool receiveQueueEmpty(const char* where, const char* message);

    // Whether each packet goes to standard error too (USB3K_TRACE=1 when the device was made).
    bool tracing = false;
    LinkState linkState = LinkState::Unchecked;
    ReceiveFailure lastReceiveFailure = ReceiveFailure::Damaged;
    // Whether the last packet read whole carried a parity field that matched.
    bool lastPacketVerified = false;
    // The identification request the next probe sends. Consecutive probes alternate between the
    // product ID and the version request, so that the late answer to one probe is never taken
    // for the answer to the next.
    uint8_t nextProbeField = FIELD_PRODUCT_ID;
    // Chosen when the device is opened.
    uint8_t latencyTimerMs = 0;
    // Reused by every exchange, so that decoding allocates nothing per frame.
    std::vector<uint8_t> requestBytes;
    std::unique_ptr<ResponsePacket> answer;
    // The channel request, made with the device and reused by every decode, so that decoding
    // allocates nothing per call either: its one field points at `channelField`, which each frame
    // is packed into.
    static constexpr int32_t CHANNEL_FIELD_SIZE = 8;
    std::array<uint8_t, CHANNEL_FIELD_SIZE> channelField{};
    RequestPacket channelRequest;
};
