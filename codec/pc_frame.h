// Frames of the station's PC link: requests "@JWK" and replies "#JWK", each
// with a length byte, command, sub-command, a three-byte address and a
// CRC-16/MODBUS over everything before it, high byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace codec {

// CRC-16/MODBUS: reflected polynomial 0x8005, initial 0xFFFF, no final XOR.
uint16_t crc16_modbus(const uint8_t* bytes, size_t count);
uint16_t crc16_modbus(const std::vector<uint8_t>& bytes);

// `body` with its CRC appended, high byte first.
std::vector<uint8_t> with_crc(std::vector<uint8_t> body);

struct PcFrame {
    bool reply = false;
    uint8_t command = 0;
    uint8_t subcommand = 0;
    uint32_t address = 0;  // 24 bits
    // A request's byte count (the data it carries, or what a read asks for);
    // a reply's result.
    uint8_t count_or_result = 0;
    std::vector<uint8_t> data;
};

constexpr uint8_t kPcRead = 0;
constexpr uint8_t kPcWrite = 1;
constexpr uint8_t kPcAcknowledge = 2;

std::vector<uint8_t> build_pc_frame(const PcFrame& frame);
// A read request for `count` bytes; a write request of `data`.
std::vector<uint8_t> pc_read_request(uint32_t address, uint8_t count, uint8_t subcommand = 0);
std::vector<uint8_t> pc_write_request(uint32_t address, const std::vector<uint8_t>& data,
                                      uint8_t subcommand = 0);

// A frame at the start of `bytes`: its header, a length byte no larger than
// the bytes held and at least a header's and CRC's worth, and its CRC.
// `used` receives the frame's length (bytes beyond it are not part of it).
std::optional<PcFrame> parse_pc_frame(const std::vector<uint8_t>& bytes, size_t* used = nullptr,
                                      std::string* error = nullptr);

}  // namespace codec
