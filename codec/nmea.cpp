#include "codec/nmea.h"

#include <cstdio>

namespace codec {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

namespace {

std::optional<Sentence> refuse(std::string* error, const char* why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

uint8_t nmea_checksum(std::string_view body) {
    uint8_t sum = 0;
    for (char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    return sum;
}

std::string build_sentence_with_checksum(char start, std::string_view body, uint8_t checksum) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    std::string sentence(1, start);
    sentence.append(body);
    return sentence + tail;
}

std::string build_sentence(char start, std::string_view body) {
    return build_sentence_with_checksum(start, body, nmea_checksum(body));
}

std::string build_sentence(char start, const std::vector<std::string>& fields) {
    std::string body;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            body += ',';
        }
        body += fields[i];
    }
    return build_sentence(start, body);
}

std::vector<std::string> split_fields(std::string_view body) {
    std::vector<std::string> fields(1);
    for (char c : body) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::optional<Sentence> parse_sentence(std::string_view line, std::string* error) {
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") {
        line.remove_suffix(2);
    }
    if (line.empty() || (line[0] != '$' && line[0] != '!')) {
        return refuse(error, "does not start with '$' or '!'");
    }
    const size_t star = line.find('*');
    if (star == std::string_view::npos) {
        return refuse(error, "has no checksum");
    }
    if (line.size() != star + 3) {
        return refuse(error, "needs exactly two checksum digits after '*'");
    }
    const int high = hex_digit(line[star + 1]);
    const int low = hex_digit(line[star + 2]);
    if (high < 0 || low < 0) {
        return refuse(error, "checksum is not hexadecimal");
    }
    const std::string_view body = line.substr(1, star - 1);
    if (nmea_checksum(body) != high * 16 + low) {
        return refuse(error, "checksum does not match");
    }
    Sentence sentence;
    sentence.start = line[0];
    sentence.body = std::string(body);
    sentence.fields = split_fields(body);
    return sentence;
}

}  // namespace codec
