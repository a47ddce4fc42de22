#include <gtest/gtest.h>

#include <memory>

#include "bytes.h"
#include "packet/packet_constants.h"
#include "packet/request_packet.h"

namespace {

std::unique_ptr<PacketField> field(uint8_t id, const uint8_t* data = nullptr, int32_t length = 0) {
    return std::make_unique<PacketField>(id, data, length);
}

std::string wire(const RequestPacket& request) {
    return hexText(request.toBytes());
}

TEST(RequestPacket, ControlRequestsCarryOneFieldAndParity) {
    const struct {
        uint8_t id;
        const char* bytes;
    } requests[] = {
        {FIELD_PRODUCT_ID, "61 00 03 00 30 2f 1c"},
        {FIELD_VERSION, "61 00 03 00 31 2f 1d"},
        {FIELD_RESET, "61 00 03 00 33 2f 1f"},
        {FIELD_STOP_CODEC, "61 00 03 00 2b 2f 07"},
    };
    for (const auto& expected : requests) {
        RequestPacket request(PACKET_CONTROL, true);
        request.addField(field(expected.id));
        EXPECT_EQ(wire(request), expected.bytes);
    }
}

TEST(RequestPacket, RateRequestHasAParityByteOfZero) {
    const uint8_t table = 34;
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(field(FIELD_RATE_TABLE, &table, 1));
    EXPECT_EQ(wire(request), "61 00 04 00 09 22 2f 00");
}

TEST(RequestPacket, ChannelRequestOfAnAllZeroFrame) {
    const uint8_t packed[8] = {0x31, 0, 0, 0, 0, 0, 0, 0};
    RequestPacket request(PACKET_CHANNEL, true);
    request.addField(field(FIELD_CHANNEL, packed, 8));
    EXPECT_EQ(wire(request), "61 00 0b 01 01 31 00 00 00 00 00 00 00 2f 15");
}

TEST(RequestPacket, EmptyPacketStillCarriesParity) {
    RequestPacket request(PACKET_CONTROL, true);
    EXPECT_EQ(wire(request), "61 00 02 00 2f 2d");
}

TEST(RequestPacket, DataIsWrittenOnlyWhenPresentWithPositiveLength) {
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    RequestPacket request(PACKET_CONTROL, false);
    request.addField(field(FIELD_PRODUCT_ID, data, 0));
    request.addField(field(FIELD_VERSION, nullptr, 5));
    request.addField(field(FIELD_RESET, data, -3));
    request.addField(field(FIELD_RATE_TABLE, data, 2));
    EXPECT_EQ(wire(request), "61 00 06 00 30 31 33 09 01 02");
}

TEST(RequestPacket, WithoutParityTheLengthCountsFieldsAlone) {
    RequestPacket request(PACKET_CONTROL, false);
    request.addField(field(FIELD_PRODUCT_ID));
    EXPECT_EQ(wire(request), "61 00 01 00 30");
}

TEST(RequestPacket, FieldsGoOutInTheOrderAdded) {
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(field(FIELD_VERSION));
    request.addField(field(FIELD_PRODUCT_ID));
    EXPECT_EQ(wire(request), "61 00 04 00 31 30 2f 2a");
}

TEST(RequestPacket, LengthUsesBothBytesAndParityCoversThem) {
    std::vector<uint8_t> data(300, 0xAA);
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(field(FIELD_PRODUCT_ID, data.data(), 300));
    const std::vector<uint8_t> bytes = request.toBytes();
    ASSERT_EQ(bytes.size(), 4u + 301u + 2u);
    EXPECT_EQ(bytes[1], 0x01);  // 303 = 0x012F
    EXPECT_EQ(bytes[2], 0x2F);
    // 300 bytes of 0xAA cancel out: 01 ^ 2f ^ 00 ^ 30 ^ 2f.
    EXPECT_EQ(bytes.back(), 0x01 ^ 0x2F ^ 0x30 ^ 0x2F);
}

TEST(RequestPacket, ToBytesLeavesThePacketUnchanged) {
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(field(FIELD_RESET));
    EXPECT_EQ(request.toBytes(), request.toBytes());
}

TEST(RequestPacket, ToStringDumpsTheWireBytes) {
    RequestPacket request(PACKET_CONTROL, true);
    request.addField(field(FIELD_PRODUCT_ID));
    EXPECT_EQ(request.toString(), ">>: 61 00 03 00 30 2f 1c \n");
}

// A field that counts its own destruction, to see that the packet owns its fields.
class CountedField : public PacketField {
  public:
    CountedField(const uint8_t* data, std::vector<int>& log, int tag)
        : PacketField(FIELD_RATE_TABLE, data, 1), log(log), tag(tag) {}
    ~CountedField() override { log.push_back(tag); }

  private:
    std::vector<int>& log;
    int tag;
};

TEST(RequestPacket, DestructionDeletesFieldsInOrderButNotTheirData) {
    std::vector<int> log;
    uint8_t data = 0x22;
    {
        RequestPacket request(PACKET_CONTROL, true);
        request.addField(std::make_unique<CountedField>(&data, log, 1));
        request.addField(nullptr);
        request.addField(std::make_unique<CountedField>(&data, log, 2));
        EXPECT_EQ(wire(request), "61 00 06 00 09 22 09 22 2f 29");
    }
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_EQ(data, 0x22);
}

}  // namespace
