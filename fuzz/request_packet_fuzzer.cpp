// The request writer with any type, parity flag and fields, null data and zero or negative
// lengths included: the header, the fields in their order and the parity field must come out as
// the device reads them, writeTo must write the same bytes over a used vector, and the dump must
// show exactly those bytes.
//
// Input: the type byte, a flags byte (bit 0: with parity), then fields until the input ends,
// each [identifier][control][length: 2 bytes, signed, high byte first][data]. Control bit 0: the
// field has no data (a null pointer); bit 1: a null field is added instead. A field with data and
// a positive length takes its data from the next input bytes (zeros once the input ends), in a
// buffer of exactly that size; with a length of 0 or less its data points at a buffer of none.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/hex_dump_check.h"
#include "packet/packet_constants.h"
#include "packet/request_packet.h"

namespace {

constexpr std::size_t FIELD_HEADER_SIZE = 4;
constexpr uint8_t NO_DATA = 0x01;
constexpr uint8_t NULL_FIELD = 0x02;
constexpr std::size_t PARITY_FIELD_SIZE = 2;
// The length field has 16 bits; callers never build a request longer than it can count, so the
// fuzzer stops adding fields before that.
constexpr std::size_t MAX_LENGTH = 0xFFFF;

class InputReader {
  public:
    InputReader(const uint8_t* data, std::size_t size) : data(data), size(size) {}

    std::size_t left() const { return size - offset; }
    uint8_t byte() { return offset < size ? data[offset++] : 0; }

    void copyTo(uint8_t* destination, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            destination[i] = byte();
        }
    }

  private:
    const uint8_t* data;
    std::size_t size;
    std::size_t offset = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const uint8_t type = input.byte();
    const bool withParity = (input.byte() & 0x01) != 0;
    const std::size_t parityFieldSize = withParity ? PARITY_FIELD_SIZE : 0;

    // Declared before the request, so the data it points to outlives it: a request owns its
    // fields, not their data.
    std::vector<std::unique_ptr<uint8_t[]>> fieldData;
    RequestPacket request(type, withParity);
    // What each field should put on the wire, in order.
    std::vector<uint8_t> expectedFields;

    while (input.left() >= FIELD_HEADER_SIZE) {
        const uint8_t id = input.byte();
        const uint8_t control = input.byte();
        const uint8_t high = input.byte();
        const int16_t length = static_cast<int16_t>(high << 8 | input.byte());
        if ((control & NULL_FIELD) != 0) {
            request.addField(nullptr);
            continue;
        }
        const bool hasData = (control & NO_DATA) == 0;
        const std::size_t dataSize = hasData && length > 0 ? static_cast<std::size_t>(length) : 0;
        if (expectedFields.size() + 1 + dataSize + parityFieldSize > MAX_LENGTH) {
            break;
        }
        const uint8_t* fieldBytes = nullptr;
        if (hasData) {
            fieldData.push_back(std::make_unique<uint8_t[]>(dataSize));
            input.copyTo(fieldData.back().get(), dataSize);
            fieldBytes = fieldData.back().get();
        }
        request.addField(std::make_unique<PacketField>(id, fieldBytes, length));
        expectedFields.push_back(id);
        expectedFields.insert(expectedFields.end(), fieldBytes, fieldBytes + dataSize);
    }

    const std::vector<uint8_t> bytes = request.toBytes();
    FUZZ_CHECK(bytes.size() == PACKET_HEADER_SIZE + expectedFields.size() + parityFieldSize);
    FUZZ_CHECK(bytes[0] == PACKET_START);
    FUZZ_CHECK((static_cast<std::size_t>(bytes[1]) << 8 | bytes[2]) ==
               bytes.size() - PACKET_HEADER_SIZE);
    FUZZ_CHECK(bytes[3] == type);
    FUZZ_CHECK(std::equal(expectedFields.begin(), expectedFields.end(),
                          bytes.begin() + PACKET_HEADER_SIZE));
    if (withParity) {
        // The parity byte is the exclusive-or of every byte from the high length byte through
        // the parity identifier.
        FUZZ_CHECK(bytes[bytes.size() - 2] == FIELD_PARITY);
        uint8_t parity = 0;
        for (std::size_t i = 1; i < bytes.size() - 1; ++i) {
            parity ^= bytes[i];
        }
        FUZZ_CHECK(bytes.back() == parity);
    }
    FUZZ_CHECK(isHexDumpOf(request.toString(), ">>: ", bytes.data(), bytes.size()));

    // Storage that held a longer packet before.
    std::vector<uint8_t> reused(bytes.size() + 7, 0xEE);
    request.writeTo(reused);
    FUZZ_CHECK(reused == bytes);
    return 0;
}
