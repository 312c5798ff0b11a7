// AIS payload bits: a writer and a reader of big-endian bit fields, six-bit
// text, and the six-bit armouring that carries a payload in a sentence
// (ITU-R M.1371, IEC 61162-1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace codec {

// One element per bit, most significant bit of the first field first.
using Bits = std::vector<bool>;

class BitWriter {
  public:
    // The low `width` bits of `value` (width 0..64).
    void put(uint64_t value, unsigned width);
    // Two's complement in `width` bits.
    void put_signed(int64_t value, unsigned width);
    // Six-bit text of `chars` characters, padded with '@'; letters are taken
    // in upper case, characters outside the six-bit set become '?'.
    void put_text(std::string_view text, unsigned chars);
    void put_bits(const Bits& bits);
    const Bits& bits() const { return bits_; }

  private:
    Bits bits_;
};

class BitReader {
  public:
    explicit BitReader(const Bits& bits) : bits_(bits) {}
    // Fields are addressed by their start bit; a field reaching past the end
    // reads as zeros there (callers check the length first).
    uint64_t get(size_t start, unsigned width) const;
    int64_t get_signed(size_t start, unsigned width) const;
    // `chars` six-bit characters, with the trailing '@' and spaces removed.
    std::string get_text(size_t start, unsigned chars) const;
    Bits get_bits(size_t start, size_t count) const;
    size_t size() const { return bits_.size(); }

  private:
    const Bits& bits_;
};

// The character that carries a six-bit value, and back (-1 for a character
// that is not one of the 64).
char armour(uint8_t value);
int dearmour(char c);

// Whole payloads: the characters, and the count of zero bits added to fill
// the last one (0..5).
std::string armour_payload(const Bits& bits, unsigned* fill_bits);
// Nullopt when a character is not an armouring character or the fill
// count is above 5.
std::optional<Bits> dearmour_payload(std::string_view payload, unsigned fill_bits);

// Six-bit text code of a character, and back.
uint8_t sixbit_of(char c);
char char_of_sixbit(uint8_t value);

}  // namespace codec
