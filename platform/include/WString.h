// Fixed-capacity text, in the spelling of the Arduino String class. It never
// allocates: text beyond the capacity is cut, and the result always ends in a
// NUL.
#pragma once

#include <stddef.h>
#include <stdint.h>

class String {
  public:
    static constexpr size_t kCapacity = 63;

    constexpr String() : length_(0), text_{} {}
    String(const char* text) : length_(0), text_{} {
        concat(text);
    }  // NOLINT: implicit as in Arduino

    String& operator=(const char* text) {
        length_ = 0;
        text_[0] = 0;
        return concat(text);
    }
    String& operator+=(const char* text) { return concat(text); }
    String& operator+=(const String& other) { return concat(other.c_str()); }
    String& operator+=(char c) {
        const char pair[2] = {c, 0};
        return concat(pair);
    }

    String& concat(const char* text) {
        if (text == nullptr) {
            return *this;
        }
        while (*text != 0 && length_ < kCapacity) {
            text_[length_++] = *text++;
        }
        text_[length_] = 0;
        return *this;
    }

    const char* c_str() const { return text_; }
    size_t length() const { return length_; }
    char operator[](size_t index) const { return index < length_ ? text_[index] : 0; }

    bool operator==(const char* text) const {
        size_t i = 0;
        for (; text[i] != 0; ++i) {
            if (i >= length_ || text_[i] != text[i]) {
                return false;
            }
        }
        return i == length_;
    }
    bool operator!=(const char* text) const { return !(*this == text); }

  private:
    uint8_t length_;
    char text_[kCapacity + 1];
};

inline String operator+(const String& left, const char* right) {
    String result(left);
    result += right;
    return result;
}

inline String operator+(const String& left, const String& right) {
    String result(left);
    result += right;
    return result;
}
