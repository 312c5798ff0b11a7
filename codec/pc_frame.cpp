#include "codec/pc_frame.h"

namespace codec {
namespace {

constexpr size_t kHeaderBytes = 11;
constexpr size_t kCrcBytes = 2;

std::optional<PcFrame> refuse(std::string* error, const char* why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

uint16_t crc16_modbus(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

uint16_t crc16_modbus(const std::vector<uint8_t>& bytes) {
    return crc16_modbus(bytes.data(), bytes.size());
}

std::vector<uint8_t> with_crc(std::vector<uint8_t> body) {
    const uint16_t crc = crc16_modbus(body);
    body.push_back(static_cast<uint8_t>(crc >> 8));
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    return body;
}

std::vector<uint8_t> build_pc_frame(const PcFrame& frame) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(frame.reply ? '#' : '@'), 'J', 'W', 'K'};
    body.push_back(static_cast<uint8_t>(kHeaderBytes + frame.data.size() + kCrcBytes));
    body.push_back(frame.command);
    body.push_back(frame.subcommand);
    body.push_back(static_cast<uint8_t>(frame.address >> 16));
    body.push_back(static_cast<uint8_t>(frame.address >> 8));
    body.push_back(static_cast<uint8_t>(frame.address));
    body.push_back(frame.count_or_result);
    body.insert(body.end(), frame.data.begin(), frame.data.end());
    return with_crc(std::move(body));
}

std::vector<uint8_t> pc_read_request(uint32_t address, uint8_t count, uint8_t subcommand) {
    return build_pc_frame(PcFrame{false, kPcRead, subcommand, address, count, {}});
}

std::vector<uint8_t> pc_write_request(uint32_t address, const std::vector<uint8_t>& data,
                                      uint8_t subcommand) {
    return build_pc_frame(
        PcFrame{false, kPcWrite, subcommand, address, static_cast<uint8_t>(data.size()), data});
}

std::optional<PcFrame> parse_pc_frame(const std::vector<uint8_t>& bytes, size_t* used,
                                      std::string* error) {
    if (bytes.size() < 5 || (bytes[0] != '@' && bytes[0] != '#') || bytes[1] != 'J' ||
        bytes[2] != 'W' || bytes[3] != 'K') {
        return refuse(error, "no @JWK or #JWK header");
    }
    const size_t length = bytes[4];
    if (length < kHeaderBytes + kCrcBytes) {
        return refuse(error, "length byte shorter than a frame");
    }
    if (length > bytes.size()) {
        return refuse(error, "length byte beyond the bytes held");
    }
    const uint16_t crc = crc16_modbus(bytes.data(), length - kCrcBytes);
    if (bytes[length - 2] != (crc >> 8) || bytes[length - 1] != (crc & 0xFF)) {
        return refuse(error, "CRC does not match");
    }
    PcFrame frame;
    frame.reply = bytes[0] == '#';
    frame.command = bytes[5];
    frame.subcommand = bytes[6];
    frame.address =
        static_cast<uint32_t>(bytes[7]) << 16 | static_cast<uint32_t>(bytes[8]) << 8 | bytes[9];
    frame.count_or_result = bytes[10];
    frame.data.assign(bytes.begin() + kHeaderBytes, bytes.begin() + (length - kCrcBytes));
    if (used != nullptr) {
        *used = length;
    }
    return frame;
}

}  // namespace codec
