#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d2xx/d2xx.h"
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
    // when the write failed and nothing was sent.
    int32_t sendPacket(const RequestPacket& request);
    // Reads the next packet from the link: the 4-byte header, then the length it announces.
    std::unique_ptr<ResponsePacket> receivePacket();

    // Control commands: -1 not ready, -2 not sent, -3 no answer, -4 answer lacks the field;
    // otherwise 0 (reset) or the device's status byte.
    int32_t reset();
    int32_t stopCodec();
    // Selects rate table 34; on status 0 the device's rate becomes 34.
    int32_t setRate();

    // Decodes every whole 7-byte VCW frame of the input, one exchange per frame, and returns 320
    // speech bytes per decoded frame in the device's byte order. Stops at the first failing frame.
    std::vector<uint8_t> decode(const std::vector<uint8_t>& vcw);

    std::string serialNumber;
    std::string productId;
    std::string version;
    FT_HANDLE handle;
    bool ready;
    uint8_t rate;

  private:
    void open();
    bool configureLink();
    void identify();
    struct Command;
    // One control exchange: a request with one field, the answer's field looked up, the result.
    int32_t runCommand(const Command& command, const uint8_t* data, int32_t length);

    // Set when a receive failed: the rest of a bad or late packet may still sit in the link, and
    // would be read as the answer to the next request unless discarded first.
    bool linkMayHoldStaleBytes = false;
};
