#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "bytes.h"
#include "packet/packet_constants.h"
#include "packet/response_packet.h"

namespace {

// A response as the link hands it over: the packet at the start of a 512-byte buffer whose unused
// bytes are garbage, so a walk that strays past the packet is noticed.
std::unique_ptr<ResponsePacket> response(const std::vector<uint8_t>& packet) {
    auto buffer = std::make_unique<uint8_t[]>(PACKET_MAX_SIZE);
    std::fill(buffer.get(), buffer.get() + PACKET_MAX_SIZE, 0x39);
    std::copy(packet.begin(), packet.end(), buffer.get());
    return std::make_unique<ResponsePacket>(std::move(buffer), static_cast<int32_t>(packet.size()));
}

// A packet of the given fields with a correct header and no parity field.
std::vector<uint8_t> packetOf(const std::vector<uint8_t>& fields) {
    std::vector<uint8_t> packet(4 + fields.size());
    packet[0] = 0x61;
    packet[1] = static_cast<uint8_t>(fields.size() >> 8);
    packet[2] = static_cast<uint8_t>(fields.size() & 0xFF);
    std::copy(fields.begin(), fields.end(), packet.begin() + 4);
    return packet;
}

// Offset of the field's data within the packet.
std::ptrdiff_t offsetOf(const ResponsePacket& packet, const PacketField& field) {
    return field.data - packet.bytes.get();
}

const uint8_t ALL_IDS[] = {FIELD_SPEECH,
                           FIELD_CHANNEL,
                           FIELD_RATE_TABLE,
                           FIELD_STOP_CODEC,
                           FIELD_PARITY,
                           FIELD_PRODUCT_ID,
                           FIELD_VERSION,
                           FIELD_RESET,
                           FIELD_READY,
                           0x3A,
                           0xFF};

TEST(ResponsePacket, HeaderOnlyHasNoFields) {
    const auto packet = response(hexBytes("61 00 00 00"));
    for (uint8_t id : ALL_IDS) {
        EXPECT_EQ(packet->getField(id), nullptr) << int(id);
    }
}

TEST(ResponsePacket, ReadyFieldHasNoDataAndParityEndsTheWalk) {
    const auto packet = response(hexBytes("61 00 03 00 39 2f 15"));
    const auto ready = packet->getField(FIELD_READY);
    ASSERT_NE(ready, nullptr);
    EXPECT_EQ(ready->id, FIELD_READY);
    EXPECT_EQ(ready->data, nullptr);
    EXPECT_EQ(ready->length, 0);
    EXPECT_EQ(packet->getField(FIELD_STOP_CODEC), nullptr);
}

TEST(ResponsePacket, StatusFieldIsOneByteAndIsSteppedOver) {
    const auto packet = response(hexBytes("61 00 05 00 2b 00 39 2f 38"));
    const auto stop = packet->getField(FIELD_STOP_CODEC);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->length, 1);
    EXPECT_EQ(offsetOf(*packet, *stop), 5);
    const auto ready = packet->getField(FIELD_READY);
    ASSERT_NE(ready, nullptr);
    EXPECT_EQ(packet->getField(FIELD_RATE_TABLE), nullptr);
}

TEST(ResponsePacket, TextsCountTheirTerminatingZero) {
    const auto packet = response(packetOf(hexBytes("30 41 42 00 31 43 00")));
    const auto productId = packet->getField(FIELD_PRODUCT_ID);
    ASSERT_NE(productId, nullptr);
    EXPECT_EQ(productId->length, 3);
    EXPECT_EQ(offsetOf(*packet, *productId), 5);
    const auto version = packet->getField(FIELD_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->length, 2);
    EXPECT_EQ(offsetOf(*packet, *version), 9);
    EXPECT_EQ(version->data[0], 0x43);

    const auto empty = response(packetOf(hexBytes("30 00")))->getField(FIELD_PRODUCT_ID);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->length, 1);
}

TEST(ResponsePacket, SpeechFieldSkipsOneByteAndHolds320) {
    std::vector<uint8_t> fields{0x00, 0x77};
    for (int i = 0; i < 320; ++i) {
        fields.push_back(static_cast<uint8_t>(i));
    }
    fields.push_back(FIELD_READY);
    fields.push_back(FIELD_PARITY);
    fields.push_back(0x00);
    const auto packet = response(packetOf(fields));
    const auto speech = packet->getField(FIELD_SPEECH);
    ASSERT_NE(speech, nullptr);
    EXPECT_EQ(speech->length, 320);
    EXPECT_EQ(offsetOf(*packet, *speech), 6);
    EXPECT_EQ(speech->data[319], 319 & 0xFF);
    const auto ready = packet->getField(FIELD_READY);
    ASSERT_NE(ready, nullptr);
    // Ready's identifier sits at offset 326; its field has no data, so find it by stepping.
    EXPECT_EQ(packet->bytes[326], FIELD_READY);
}

TEST(ResponsePacket, IdentifiersOutsideTheTableEndTheWalk) {
    for (uint8_t first : {FIELD_CHANNEL, FIELD_RESET, uint8_t{0x3A}, uint8_t{0x80}}) {
        const auto packet = response(packetOf({first, 0x39, 0x2b, 0x00}));
        EXPECT_EQ(packet->getField(FIELD_READY), nullptr) << int(first);
        EXPECT_EQ(packet->getField(FIELD_STOP_CODEC), nullptr) << int(first);
        EXPECT_EQ(packet->getField(first), nullptr) << int(first);
    }
}

TEST(ResponsePacket, TheFirstOfTwoEqualFieldsIsReturned) {
    const auto packet = response(packetOf(hexBytes("31 41 00 31 42 00")));
    const auto version = packet->getField(FIELD_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->data[0], 0x41);
    EXPECT_EQ(offsetOf(*packet, *version), 5);
}

TEST(ResponsePacket, EachLookupReturnsANewFieldAndLeavesThePacket) {
    const auto packet = response(hexBytes("61 00 03 00 39 2f 15"));
    const auto first = packet->getField(FIELD_READY);
    const auto second = packet->getField(FIELD_READY);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(packet->length, 7);
    EXPECT_EQ(packet->toString(), "<<: 61 00 03 00 39 2f 15 \n");
}

// Fields whose data would reach past the packet's end are never handed out.
TEST(ResponsePacket, StatusByteAtThePacketsEndIsNotAField) {
    const auto packet = response(packetOf(hexBytes("39 2b")));
    EXPECT_EQ(packet->getField(FIELD_STOP_CODEC), nullptr);
    EXPECT_NE(packet->getField(FIELD_READY), nullptr);
}

TEST(ResponsePacket, ShortSpeechFieldIsNotAField) {
    std::vector<uint8_t> fields(2 + 319, 0x00);
    EXPECT_EQ(response(packetOf(fields))->getField(FIELD_SPEECH), nullptr);
    fields.push_back(0x00);
    EXPECT_NE(response(packetOf(fields))->getField(FIELD_SPEECH), nullptr);
}

TEST(ResponsePacket, UnterminatedTextIsBoundedByThePacket) {
    const auto packet = response(packetOf(hexBytes("30 41 42")));
    const auto productId = packet->getField(FIELD_PRODUCT_ID);
    ASSERT_NE(productId, nullptr);
    EXPECT_EQ(productId->length, 2);
    // Walking over the cut-off text to look for something after it ends the walk.
    EXPECT_EQ(packet->getField(FIELD_READY), nullptr);

    const auto atEnd = response(packetOf(hexBytes("30")))->getField(FIELD_PRODUCT_ID);
    ASSERT_NE(atEnd, nullptr);
    EXPECT_EQ(atEnd->length, 0);
}

TEST(ResponsePacket, LengthBeyondTheBufferIsClamped) {
    auto buffer = std::make_unique<uint8_t[]>(PACKET_MAX_SIZE);
    std::fill(buffer.get(), buffer.get() + PACKET_MAX_SIZE, FIELD_READY);
    ResponsePacket packet(std::move(buffer), 100000);
    EXPECT_EQ(packet.length, 512);
    EXPECT_EQ(packet.getField(FIELD_VERSION), nullptr);
    EXPECT_EQ(packet.toString().size(), 4u + 512u * 3u + 1u);
}

TEST(ResponsePacket, EmptyPacketDumpsThePrefixOnly) {
    ResponsePacket packet(std::make_unique<uint8_t[]>(PACKET_MAX_SIZE), 0);
    EXPECT_EQ(packet.toString(), "<<: \n");
}

}  // namespace
