// NMEA 0183 sentences: the checksum, building a sentence, splitting a body
// into fields and checking a received sentence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace codec {

// XOR of the characters of a body (everything between the start character
// and the '*').
uint8_t nmea_checksum(std::string_view body);

// The value of a hexadecimal digit (either case), or -1.
int hex_digit(char c);

// start + body + "*HH" + CR LF, with the body's checksum.
std::string build_sentence(char start, std::string_view body);
std::string build_sentence(char start, const std::vector<std::string>& fields);
// The same with a checksum chosen by the caller (a peer that sends bad ones).
std::string build_sentence_with_checksum(char start, std::string_view body, uint8_t checksum);

// Comma-separated fields; an empty body is one empty field.
std::vector<std::string> split_fields(std::string_view body);

struct Sentence {
    char start = '$';  // '$' or '!'
    std::string body;  // between the start character and the '*'
    std::vector<std::string> fields;
};

// A received line: '$' or '!', a body, '*' and two hexadecimal digits (either
// case) matching the body's checksum, then nothing but an optional CR LF.
// Gives the reason on failure.
std::optional<Sentence> parse_sentence(std::string_view line, std::string* error = nullptr);

}  // namespace codec
