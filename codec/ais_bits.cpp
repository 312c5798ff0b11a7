#include "codec/ais_bits.h"

#include <cctype>

namespace codec {

void BitWriter::put(uint64_t value, unsigned width) {
    for (unsigned b = width; b-- > 0;) {
        bits_.push_back(b < 64 && ((value >> b) & 1u) != 0);
    }
}

void BitWriter::put_signed(int64_t value, unsigned width) {
    put(static_cast<uint64_t>(value), width);
}

void BitWriter::put_text(std::string_view text, unsigned chars) {
    for (unsigned i = 0; i < chars; ++i) {
        put(i < text.size() ? sixbit_of(text[i]) : 0, 6);
    }
}

void BitWriter::put_bits(const Bits& bits) {
    bits_.insert(bits_.end(), bits.begin(), bits.end());
}

uint64_t BitReader::get(size_t start, unsigned width) const {
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        const size_t at = start + i;
        value = (value << 1) | (at < bits_.size() && bits_[at] ? 1u : 0u);
    }
    return value;
}

int64_t BitReader::get_signed(size_t start, unsigned width) const {
    const uint64_t value = get(start, width);
    if (width == 0 || width >= 64 || ((value >> (width - 1)) & 1u) == 0) {
        return static_cast<int64_t>(value);
    }
    return static_cast<int64_t>(value) - (int64_t{1} << width);
}

std::string BitReader::get_text(size_t start, unsigned chars) const {
    std::string text;
    for (unsigned i = 0; i < chars; ++i) {
        text += char_of_sixbit(static_cast<uint8_t>(get(start + 6 * i, 6)));
    }
    // '@' is the padding of a short text; gpsd and receivers drop it and the
    // trailing spaces.
    const size_t end = text.find_last_not_of("@ ");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

Bits BitReader::get_bits(size_t start, size_t count) const {
    Bits out;
    for (size_t i = start; i < start + count && i < bits_.size(); ++i) {
        out.push_back(bits_[i]);
    }
    return out;
}

char armour(uint8_t value) {
    value &= 0x3F;
    return static_cast<char>(value < 40 ? value + 48 : value + 56);
}

int dearmour(char c) {
    const int code = static_cast<unsigned char>(c);
    if (code >= '0' && code <= 'W') {
        return code - 48;
    }
    if (code >= '`' && code <= 'w') {
        return code - 56;
    }
    return -1;
}

std::string armour_payload(const Bits& bits, unsigned* fill_bits) {
    std::string payload;
    const BitReader reader(bits);
    for (size_t at = 0; at < bits.size(); at += 6) {
        payload += armour(static_cast<uint8_t>(reader.get(at, 6)));
    }
    if (fill_bits != nullptr) {
        *fill_bits = static_cast<unsigned>((6 - bits.size() % 6) % 6);
    }
    return payload;
}

std::optional<Bits> dearmour_payload(std::string_view payload, unsigned fill_bits) {
    if (fill_bits > 5 || (payload.empty() && fill_bits != 0)) {
        return std::nullopt;
    }
    BitWriter writer;
    for (char c : payload) {
        const int value = dearmour(c);
        if (value < 0) {
            return std::nullopt;
        }
        writer.put(static_cast<uint64_t>(value), 6);
    }
    // The fill bits are the last of the last character (the check above
    // leaves at least one character whenever there are any).
    const Bits& all = writer.bits();
    const size_t keep = payload.size() * 6 - fill_bits;
    return Bits(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep));
}

uint8_t sixbit_of(char c) {
    const int code = std::toupper(static_cast<unsigned char>(c));
    if (code >= 64 && code <= 95) {
        return static_cast<uint8_t>(code - 64);
    }
    if (code >= 32 && code <= 63) {
        return static_cast<uint8_t>(code);
    }
    return sixbit_of('?');
}

char char_of_sixbit(uint8_t value) {
    value &= 0x3F;
    return static_cast<char>(value < 32 ? value + 64 : value);
}

}  // namespace codec
