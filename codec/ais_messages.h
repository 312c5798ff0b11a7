// AIS messages as field tables, one per message type: each field's name (as
// gpsd's JSON output names it), start bit, width and kind, and the value it
// takes when a message leaves it out (the field's "not available" code).
// Encoding and decoding go through the tables, the length checked first.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/ais_bits.h"

namespace codec {

enum class FieldKind : uint8_t {
    kUnsigned,
    kSigned,    // two's complement
    kText,      // six-bit text of width / 6 characters
    kTextTail,  // six-bit text to the end of the message, at most width / 6 characters
    kDataTail,  // binary data to the end of the message, at most width bits
};

struct Field {
    const char* name;
    uint16_t start;
    uint16_t width;
    FieldKind kind;
    int64_t missing;
};

struct MessageLayout {
    const char* name;
    uint16_t min_bits;
    uint16_t max_bits;
    const std::vector<Field>& fields;
};

// The table of a message type (1, 2, 3, 5, 6, 8, 12, 14, 18, 21), or null.
const MessageLayout* message_layout(unsigned type);
// The table of a binary application (message 6 or 8 with a DAC and FI), or
// null. Its start bits count from the start of the whole message.
const MessageLayout* application_layout(unsigned type, unsigned dac, unsigned fi);

// A message as its field values: numbers raw (in the units the message
// carries, unscaled), texts, and the data of a binary message whose
// application has no table here.
struct Message {
    std::map<std::string, int64_t> numbers;
    std::map<std::string, std::string> texts;
    Bits data;

    int64_t number(const std::string& name) const {
        const auto found = numbers.find(name);
        return found == numbers.end() ? 0 : found->second;
    }
    std::string text(const std::string& name) const {
        const auto found = texts.find(name);
        return found == texts.end() ? std::string() : found->second;
    }
};

// numbers["type"] chooses the table. A field the message leaves out takes
// its not-available value. A name no table knows, a value out of its
// field's range or a text too long is an error naming the field.
std::optional<Bits> encode_message(const Message& message, std::string* error = nullptr);
// A payload too short or too long for its type, or of a type without a
// table, is an error.
std::optional<Message> decode_message(const Bits& payload, std::string* error = nullptr);

}  // namespace codec
