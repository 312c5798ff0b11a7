// PC-link frames: the CRC against its published check values, the frame's
// byte layout, and the frames a receiver must refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/pc_frame.h"

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(CodecPcFrameTest, CrcCheckValues) {
    struct Case {
        const char* description;
        std::vector<uint8_t> data;
        uint16_t crc;
    };
    const Case cases[] = {
        {"the catalogue's check value", bytes("123456789"), 0x4B37},
        {"nothing: the initial value", {}, 0xFFFF},
        // The Modbus RTU read of ten registers from slave 1, sent "C5 CD".
        {"a Modbus request", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.crc, codec::crc16_modbus(c.data)) << c.description;
    }
}

TEST(CodecPcFrameTest, FramesAsTheStationLaysThemOut) {
    const std::vector<uint8_t> read = codec::pc_read_request(0x001FF0, 16);
    const std::vector<uint8_t> head = {'@', 'J', 'W', 'K', 13, 0, 0, 0x00, 0x1F, 0xF0, 16};
    EXPECT_EQ(head, std::vector<uint8_t>(read.begin(), read.begin() + 11));
    EXPECT_EQ(13u, read.size());

    const std::vector<uint8_t> write = codec::pc_write_request(0x000058, {3, 1, 1}, 1);
    const std::vector<uint8_t> write_head = {'@', 'J', 'W', 'K', 16, 1, 1, 0, 0, 0x58, 3, 3, 1, 1};
    EXPECT_EQ(write_head, std::vector<uint8_t>(write.begin(), write.begin() + 14));

    const std::vector<uint8_t> reply =
        codec::build_pc_frame({true, codec::kPcRead, 0, 0x10, 1, {0xAB, 0xCD}});
    ASSERT_EQ(15u, reply.size());
    EXPECT_EQ('#', reply[0]);
    const auto parsed = codec::parse_pc_frame(reply);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(parsed->reply);
    EXPECT_EQ(0x10u, parsed->address);
    EXPECT_EQ(1, parsed->count_or_result);
    EXPECT_EQ((std::vector<uint8_t>{0xAB, 0xCD}), parsed->data);
}

TEST(CodecPcFrameTest, ReceivedFrames) {
    const std::vector<uint8_t> good = codec::build_pc_frame({false, 2, 0, 0x10, 0, {}});
    std::vector<uint8_t> swapped = good;
    std::swap(swapped[11], swapped[12]);
    std::vector<uint8_t> trailing = good;
    trailing.push_back('@');
    std::vector<uint8_t> long_length = good;
    long_length[4] = 14;
    std::vector<uint8_t> bad_header = good;
    bad_header[3] = 'X';
    struct Case {
        const char* description;
        std::vector<uint8_t> frame;
        bool accepted;
    };
    const Case cases[] = {
        {"acknowledgement request", good, true},
        {"bytes after the frame are not part of it", trailing, true},
        {"CRC bytes swapped", swapped, false},
        {"length byte beyond the bytes held", long_length, false},
        {"header letter wrong", bad_header, false},
        {"cut before the CRC", std::vector<uint8_t>(good.begin(), good.begin() + 11), false},
        {"length byte below a frame", codec::with_crc({'@', 'J', 'W', 'K', 4}), false},
    };
    for (const Case& c : cases) {
        size_t used = 0;
        std::string error;
        EXPECT_EQ(c.accepted, codec::parse_pc_frame(c.frame, &used, &error).has_value())
            << c.description << ": " << error;
        if (c.accepted) {
            EXPECT_EQ(13u, used) << c.description;
        }
    }
}

}  // namespace
