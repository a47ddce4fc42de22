// The response parser on packets as they could come off the link, with any length a caller might
// claim: every identifier is looked up, with getField and with findField, which must agree, and
// every field found must lie inside the packet where its identifier places it.
//
// Input: the length handed to the constructor (4 bytes, signed, high byte first), then the
// packet's bytes, copied into a receive buffer of exactly 512 bytes so that any read past it is
// caught (bytes beyond 512 are dropped, a shorter packet is followed by zeros). An input shorter
// than the 4 length bytes gives a response without a buffer that claims all 512 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/hex_dump_check.h"
#include "packet/packet_constants.h"
#include "packet/response_packet.h"

namespace {

constexpr std::size_t LENGTH_BYTES = 4;

int32_t claimedLength(const uint8_t* data) {
    const uint32_t raw = static_cast<uint32_t>(data[0]) << 24 |
                         static_cast<uint32_t>(data[1]) << 16 |
                         static_cast<uint32_t>(data[2]) << 8 | data[3];
    return static_cast<int32_t>(raw);
}

void checkField(const ResponsePacket& packet, uint8_t id, const PacketField& field) {
    FUZZ_CHECK(field.id == id);
    if (id == FIELD_READY) {
        FUZZ_CHECK(field.data == nullptr && field.length == 0);
        return;
    }
    const uint8_t* begin = packet.bytes.get();
    const uint8_t* end = begin + packet.length;
    // Data follows the header and its own identifier; none of it may lie past the packet's end.
    // Only a text cut off right after its identifier may point at the end itself, with nothing
    // to read there.
    FUZZ_CHECK(field.data != nullptr && field.length >= 0);
    FUZZ_CHECK(field.data >= begin + PACKET_HEADER_SIZE + 1);
    FUZZ_CHECK(field.length == 0 ? field.data <= end : field.data < end);
    FUZZ_CHECK(field.length <= end - field.data);

    switch (id) {
        case FIELD_SPEECH:
            // One byte the device puts before the samples sits between identifier and data.
            FUZZ_CHECK(field.length == SPEECH_BLOCK_SIZE);
            FUZZ_CHECK(field.data >= begin + PACKET_HEADER_SIZE + 2 && field.data[-2] == id);
            break;
        case FIELD_RATE_TABLE:
        case FIELD_STOP_CODEC:
            FUZZ_CHECK(field.length == 1 && field.data[-1] == id);
            break;
        case FIELD_PRODUCT_ID:
        case FIELD_VERSION: {
            // The text's characters, then its terminating zero, unless the packet ended first.
            FUZZ_CHECK(field.data[-1] == id);
            const auto* zero = static_cast<const uint8_t*>(
                std::memchr(field.data, 0, static_cast<std::size_t>(field.length)));
            if (zero == nullptr) {
                FUZZ_CHECK(field.data + field.length == end);
            } else {
                FUZZ_CHECK(zero == field.data + field.length - 1);
            }
            break;
        }
        default:
            // Any other identifier has no size the walk could step over: it is never returned.
            FUZZ_CHECK(!"a field of unknown size was returned");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::unique_ptr<uint8_t[]> buffer;
    int32_t claimed = static_cast<int32_t>(PACKET_MAX_SIZE);
    if (size >= LENGTH_BYTES) {
        claimed = claimedLength(data);
        buffer = std::make_unique<uint8_t[]>(PACKET_MAX_SIZE);
        const std::size_t packetSize = std::min(size - LENGTH_BYTES, PACKET_MAX_SIZE);
        std::memcpy(buffer.get(), data + LENGTH_BYTES, packetSize);
    }
    const std::vector<uint8_t> original =
        buffer ? std::vector<uint8_t>(buffer.get(), buffer.get() + PACKET_MAX_SIZE)
               : std::vector<uint8_t>();

    const ResponsePacket packet(std::move(buffer), claimed);
    // A walk bounded by the length stays inside the buffer only when the length does.
    FUZZ_CHECK(packet.length >= 0 && packet.length <= static_cast<int32_t>(PACKET_MAX_SIZE));
    if (claimed >= 0 && claimed <= static_cast<int32_t>(PACKET_MAX_SIZE)) {
        FUZZ_CHECK(packet.length == claimed);
    }

    for (int id = 0; id <= 0xFF; ++id) {
        const std::unique_ptr<PacketField> field = packet.getField(static_cast<uint8_t>(id));
        // A field the caller reuses, still holding what an earlier lookup put there.
        PacketField reused(FIELD_PARITY, packet.bytes.get(), 1);
        const bool found = packet.findField(static_cast<uint8_t>(id), reused);
        FUZZ_CHECK(found == (field != nullptr));
        if (field) {
            FUZZ_CHECK(packet.bytes != nullptr);
            checkField(packet, static_cast<uint8_t>(id), *field);
            FUZZ_CHECK(reused.id == field->id && reused.data == field->data &&
                       reused.length == field->length);
        }
    }

    const uint8_t* bytes = packet.bytes.get();
    const std::size_t dumped = bytes != nullptr ? static_cast<std::size_t>(packet.length) : 0;
    FUZZ_CHECK(isHexDumpOf(packet.toString(), "<<: ", bytes, dumped));
    // Looking fields up and dumping the packet leave it as it was.
    FUZZ_CHECK(bytes == nullptr || std::memcmp(bytes, original.data(), PACKET_MAX_SIZE) == 0);
    return 0;
}
